// The host's entry point: crash capture, the optional network logger, the library's
// application object (which puts its handlers in front of the delegate), then the
// application's main loop with AppDelegate.
#include <nlohmann/json.hpp>

#include "app/AppDelegate.h"
#include "app/NetworkLogger.h"
#include "libmerovane/application/MVLibraryApplication.h"
#include "libmerovane/application/MVPersistentEntities.h"
#include "libmerovane/bridge/MVWebViewController.h"
#include "libmerovane/containers/MVViewControllerHierarchy.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "libmerovane/overlays/MVActionSheet.h"
#include "libmerovane/overlays/MVActivityIndicationOverlayView.h"
#include "libmerovane/overlays/MVAlertView.h"
#include "libmerovane/overlays/MVLocationManager.h"
#include "libmerovane/overlays/MVNotificationController.h"
#include "libmerovane/overlays/MVScannerViewController.h"
#include "libmerovane/overlays/MVSharingController.h"
#include "libmerovane/overlays/MVSplashScreenController.h"
#include "libmerovane/payments/MVPayments.h"
#include "platform/crash/CrashReporter.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/Application.h"

int main(int argc, char** argv) {
    platform::log::addLogger(platform::log::makeConsoleLogger());
    platform::UserDefaults::setArguments(argc, argv);

    // Logs its own warning when it cannot be enabled; the app starts anyway.
    platform::Error error;
    platform::CrashReporter::shared().enable(&error);

    // "host:port" of a log viewer; no service discovery here.
    if (auto target = platform::UserDefaults::standard().stringForKey("logger_target");
        target && !target->empty()) {
        if (auto logger = NetworkLogger::connect(*target))
            platform::log::addLogger(logger);
        else
            MVLogWarn("Could not reach the log viewer at {}", *target);
    }

    // The library's parts that are found by name at run time, and the overlays behind
    // their seams.
    MVRegisterPersistentEntities();
    registerCommandHandlerClasses();
    MVAlertView::install();
    MVActionSheet::install();
    MVActivityIndicationOverlayView::install();
    MVSharingController::install();
    MVLocationManager::install();
    MVScannerViewController::install();
    MVWebViewController::installFactory();
    MVViewControllerHierarchy::install();
    MVSplashScreenController::install();
    MVNotificationController::install();
    MVPayments::install();

    auto& library = MVLibraryApplication::sharedLibrary();
    if (auto key = platform::Bundle::main().objectForInfoDictionaryKey("MVApiKey");
        key && key->is_string())
        library.setApiKey(key->get<std::string>());

    auto& application = platform::Application::shared();
    application.setDelegate(std::make_shared<AppDelegate>());
    application.finishLaunching();
    platform::RunLoop::main().run();
    return 0;
}
