#include "libmerovane/handlers/MVCommandHandlerClasses.h"

#include <memory>

#include "libmerovane/handlers/MVCommandGroups.h"
#include "libmerovane/handlers/MVCommandHandler_1_0.h"
#include "libmerovane/handlers/MVCommandHandler_1_1.h"
#include "libmerovane/handlers/MVCommandHandler_2_0.h"
#include "libmerovane/handlers/MVCommandHandler_2_1.h"
#include "libmerovane/handlers/MVCommandHandler_3_0.h"

namespace {

template <class Handler>
void registerClass() {
    MVCommandHandler::registerHandlerClass(Handler::kClassName,
                                           [] { return std::make_shared<Handler>(); });
}

}  // namespace

void registerCommandHandlerClasses() {
    registerClass<MVCommandHandler_1_0>();
    registerClass<MVCommandHandler_1_1>();
    registerClass<MVCommandHandler_2_0>();
    registerClass<MVCommandHandler_2_1>();
    registerClass<MVCommandHandler_3_0>();
    registerNavigationControllerCommands();
    registerSplashScreenCommands();
    registerLocalizationCommands();
    registerPushNotificationCommands();
    registerGeneralCommands();
    registerMenuCommands();
    registerMessagingCommands();
    registerLocationCommands();
    registerSharingCommands();
    registerScannerCommands();
    registerPageCommands();
    registerWebViewCommands();
    registerDataRequestCommands();
    registerApiContentCommands();
    registerScreenshotCommands();
}
