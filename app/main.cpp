// The host's entry point: crash capture, the optional network logger, the web engine,
// the library's application object (which puts its handlers in front of the delegate),
// then the application's main loop with AppDelegate.
//
// Developer settings of a run (scripts/run): "web_engine" ("webkit", the default where
// a display is there, or "headless"), "run_output" (a folder for the run's record, see
// RunRecorder), "run_keep" (show the window on the display until it is closed; minimised
// it is in the background), "baseline_file" (only measure the engine showing that file,
// see EngineBaseline) and "log_server" (the base address of the error and crash log
// endpoints, over the Info value "logServerUrl").
//
//   app [-setting value ...] [--remote-notification FILE] [URL]
//
// A URL or a notification payload goes into the launch options (see HostArguments); a
// start over the home folder of a running shell hands its URL over and ends, with status
// 1 when that shell dropped it or cannot be reached, or runs the shell itself once that
// shell, quitting, has ended (see HomeFolderLock and DesktopSession). See HostSignals for
// the process signals. A run ends with status 0 only when its stop wrote all it keeps
// (see KeptAtTheStop), else with 1 after the line that says what was not written.
#include <fmt/format.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>

#include "app/AppDelegate.h"
#include "app/DesktopSession.h"
#include "app/EngineBaseline.h"
#include "app/HeadlessShopPage.h"
#include "app/HomeFolderLock.h"
#include "app/HostArguments.h"
#include "app/HostSignals.h"
#include "app/KeptAtTheStop.h"
#include "app/NetworkLogger.h"
#include "app/RunRecorder.h"
#include "libmerovane/application/MVLibraryApplication.h"
#include "libmerovane/application/MVLogServer.h"
#include "libmerovane/application/MVPersistentEntities.h"
#include "libmerovane/bridge/MVCommandHandler.h"
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
#include "libmerovane/storage/MVPersistentStorage.h"
#include "platform/crash/CrashReporter.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/HTTPCookieStorage.h"
#include "platform/foundation/OpenSSLSetup.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/Application.h"
#include "platform/web/HeadlessWebEngine.h"
#include "platform/web/WebView.h"
#ifdef MV_APP_HAS_WEBKIT
#include <X11/Xlib.h>

#include "app/EngineExtension.h"
#include "platform/foundation/FileManager.h"
#include "platform/ui/ViewDrawing.h"
#include "platform/ui/Window.h"
#include "platform/web/webkit/PictureWindow.h"
#include "platform/web/webkit/WebKitGtkWebEngine.h"
#include "platform/web/webkit/WebKitWebsiteData.h"
#endif

namespace {

// How long a later start waits for a quitting shell to end.
constexpr std::chrono::seconds kQuittingShellTime{10};
// How long the stop waits for the web cache's file operations that land, and how long
// once it has outlasted its time. After a termination signal the wait ends in time for the
// store's write (kStoreWriteTime) before the stop's overrun.
constexpr double kFileOperationsTime = 7;
constexpr double kOverrunFileOperationsTime = 0.5;
constexpr double kStoreWriteTime = 2;

double fileOperationsTime() {
    const auto bound = HostSignals::stopBound();
    if (!bound) return kFileOperationsTime;
    const double left =
        std::chrono::duration<double>(*bound - std::chrono::steady_clock::now()).count() -
        std::chrono::duration<double>(HostSignals::kOverrunWriteTime).count() - kStoreWriteTime;
    return std::clamp(left, kOverrunFileOperationsTime, kFileOperationsTime);
}

// Writes what the stop keeps; false, with the line that says what was lost, when not all.
bool keepAtTheStop(double fileBound, bool storeOpened) {
    const auto kept = KeptAtTheStop::write(fileBound, storeOpened);
    if (kept.everything()) return true;
    MVLogError(
        "The stop could not write all it keeps: {} not on disc; the shell ends with status 1",
        kept.lost());
    return false;
}

#ifdef MV_APP_HAS_WEBKIT
// How long a shell that lost its display waits for the termination signal that may come
// with that loss (the display and the shell ended together).
constexpr std::chrono::milliseconds kSignalWithTheDisplayTime{1000};
// The end of a run whose display is lost; never returns.
std::function<void()> gEndWithTheDisplay;

// Xlib ends the process once this returns, before anything is written.
int displayLost(Display*) {
    if (gEndWithTheDisplay) gEndWithTheDisplay();
    std::_Exit(1);
}
#endif

std::string stringSetting(const char* key) {
    return platform::UserDefaults::standard().stringForKey(key).value_or("");
}

std::string infoString(const char* key) {
    auto value = platform::Bundle::main().objectForInfoDictionaryKey(key);
    return value && value->is_string() ? value->get<std::string>() : std::string();
}

// The log server: the developer setting "log_server", else the Info value "logServerUrl",
// each only when it names an http(s) server; else the build's.
void chooseLogServer() {
    for (const std::string& address : {stringSetting("log_server"), infoString("logServerUrl")}) {
        if (address.find("http") == std::string::npos) continue;
        std::string base = address;
        while (!base.empty() && base.back() == '/') base.pop_back();
        MVLogServer::setEndpointBase(base);
        break;
    }
}

// The engine the setting "web_engine" names; without it the real one where it can start.
platform::WebView::EngineFactory engineFactory() {
    const std::string wanted = stringSetting("web_engine");
#ifdef MV_APP_HAS_WEBKIT
    if (wanted != "headless") {
        if (platform::WebKitGtkWebEngine::isAvailable()) {
            EngineExtension::useFolderBeside(platform::FileManager::executablePath());
            auto& files = platform::FileManager::defaultManager();
            platform::WebKitWebsiteData::setDirectories(files.libraryDirectory() + "/WebKit",
                                                        files.cachesDirectory() + "/WebKit");
            return [] { return std::make_unique<platform::WebKitGtkWebEngine>(); };
        }
        if (wanted == "webkit") MVLogError("The web engine cannot start: no display");
    }
#else
    if (wanted == "webkit") MVLogError("This build has no web engine but the headless one");
#endif
    MVLogInfo("Pages run on the headless engine");
    return [] {
        auto engine = std::make_unique<platform::HeadlessWebEngine>();
        HeadlessShopPage::attach(*engine);
        return engine;
    };
}

// Opens persistent storage ahead of the launch that would: a store that cannot be added (a
// full disc) or a caches folder that cannot be made ends this start with the cause.
bool openStorage() {
    try {
        MVPersistentStorage::sharedStorage();
        return true;
    } catch (const platform::Exception& e) {
        if (e.name() != MVLibraryPersistentStoreNotAddedException &&
            e.name() != MVLibraryPathForCacheNotAvailableException)
            throw;
        MVLogError("The shell cannot start: {}", e.reason());
        return false;
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int64_t startNanos = platform::Clock::monotonicNanos();
    // Workers (the API connection, uploads) may still use OpenSSL while the process exits.
    platform::keepOpenSSLUntilExit();
    platform::log::addLogger(platform::log::makeConsoleLogger());
    platform::UserDefaults::setArguments(argc, argv);
    const auto arguments = HostArguments::parse(argc, argv);

    // One shell per home folder, bus or no bus: the home folder is held before anything in
    // it is opened (the user defaults too). A later start hands its URL to the running
    // shell and ends, with a failure when that shell dropped it or cannot be reached; when
    // that shell quits, this start waits for it to end and runs the shell itself.
    DesktopSession desktop;
    const char* home = std::getenv("MEROVANE_HOME");
    const std::string busName =
        DesktopSession::applicationId(infoString("CFBundleIdentifier"), home ? home : "");
    const std::string root = platform::FileManager::defaultManager().rootDirectory();
    HomeFolderLock homeLock(root);
    const auto handedOver = [&] {
        if (arguments.remoteNotificationFile)
            MVLogWarn("The running shell takes no notification payload from another start");
        return 0;
    };
    if (homeLock.state() == HomeFolderLock::State::HeldElsewhere) {
        const auto handed = desktop.handOver(busName, arguments.url, DesktopSession::kHandOverTime,
                                             [&homeLock] { return homeLock.heldElsewhere(); });
        if (handed == DesktopSession::Claim::HandedOver) return handedOver();
        if (handed == DesktopSession::Claim::Dropped || handed == DesktopSession::Claim::Unanswered)
            return 1;
        const bool quitting = handed == DesktopSession::Claim::Quitting;
        if (homeLock.waitForHolder(quitting ? kQuittingShellTime : std::chrono::seconds(0))) {
            MVLogInfo("The shell that held the home folder {} has ended: this start runs the shell",
                      root);
        } else if (homeLock.state() == HomeFolderLock::State::HeldElsewhere) {
            const std::string holder = homeLock.holder()
                                           ? fmt::format("process {}", homeLock.holder())
                                           : std::string("another process");
            if (quitting)
                MVLogError("The home folder {} is still held by {} after {} s: this start ends",
                           root, holder, kQuittingShellTime.count());
            else
                MVLogError(
                    "The home folder {} is held by {}, which this start cannot reach: this "
                    "start ends",
                    root, holder);
            return 1;
        }
    }
    if (homeLock.state() == HomeFolderLock::State::Failed) {
        MVLogError("The home folder's lock {} cannot be taken ({}): this start ends",
                   homeLock.path(), homeLock.problem());
        return 1;
    }

    const std::string output = stringSetting("run_output");
    if (const std::string file = stringSetting("baseline_file"); !file.empty()) {
        return EngineBaseline::measure(engineFactory()(), file,
                                       (output.empty() ? "." : output) + "/baseline.json",
                                       startNanos, 30)
                   ? 0
                   : 1;
    }

    switch (desktop.claimHome(busName, arguments.url)) {
        case DesktopSession::Claim::HandedOver:
            return handedOver();
        case DesktopSession::Claim::Dropped:
        case DesktopSession::Claim::Unanswered:
            return 1;
        default:
            break;
    }

    // The end of the run, whether the main loop ends or the display goes. The library's
    // threads end before the process does: the API stream closes and the web cache's loads
    // are cancelled, the web cache's files that their rows name now land, then the store
    // writes what was saved; nothing else starts. False when not all of it was written.
    MVLibraryApplication* library = nullptr;
    auto storeOpened = std::make_shared<std::atomic<bool>>(false);
    const auto finish = [&desktop, &library, storeOpened] {
        // The main loop has ended: no page command is dropped after this.
        if (HostSignals::terminationCame(std::chrono::milliseconds(0)))
            MVLogInfo("Dropped {} page commands that came during the stop",
                      MVCommandHandler::droppedPageCommandCount());
        if (library) library->applicationWillTerminate(platform::Application::shared());
        desktop.quit();
        return keepAtTheStop(fileOperationsTime(), storeOpened->load());
    };
    // Before the engine's first process starts: a terminal's Ctrl-Z stops it with the shell.
    std::optional<HostSignals> signals;
    HostSignals::Hooks hooks;
    hooks.stop = [&desktop] {
        desktop.quit();
        platform::RunLoop::main().stop();
    };
#ifdef MV_APP_HAS_WEBKIT
    hooks.processesStopped = [](bool stopped) {
        platform::WebKitGtkWebEngine::setProcessesStopped(stopped);
    };
#endif
    // No page holds the stop, nor the main thread on its way to it: what the pages send is
    // dropped from now on, and the main loop ends after its turn, not behind what waits.
    hooks.stopping = [] {
        MVCommandHandler::setDroppingPageCommands(true);
#ifdef MV_APP_HAS_WEBKIT
        platform::WebKitGtkWebEngine::setApplicationStopping();
#endif
        platform::RunLoop::main().stop();
    };
    // A stop that cannot end in time (its main thread held) keeps what it can.
    hooks.overrun = [storeOpened] {
        keepAtTheStop(kOverrunFileOperationsTime, storeOpened->load());
    };
    signals.emplace(std::move(hooks));
    platform::HTTPCookieStorage::shared().setPersistentStoragePath(
        platform::FileManager::defaultManager().libraryDirectory() + "/Cookies/Cookies.json");
    platform::WebView::setEngineFactory(engineFactory());
#ifdef MV_APP_HAS_WEBKIT
    // A display ended with the shell (a session's end, a virtual display's group) takes the
    // termination signal's orderly stop.
    if (platform::WebKitGtkWebEngine::isAvailable()) {
        gEndWithTheDisplay = [&desktop, &finish] {
            const bool signalled = HostSignals::terminationCame(kSignalWithTheDisplayTime);
            if (signalled)
                MVLogInfo("The display has gone with a termination signal: the shell stops");
            else
                MVLogError("The display has gone: the shell stops");
            const bool kept = finish();
            desktop.end();
            // _Exit runs no atexit handler: the queued lines go out first.
            platform::log::flush();
            std::fflush(nullptr);
            std::_Exit(signalled && kept ? 0 : 1);
        };
        XSetIOErrorHandler(displayLost);
    }
#endif
    std::shared_ptr<RunRecorder> recorder;
    if (!output.empty() && !(recorder = RunRecorder::start(output, startNanos))) return 1;

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

    chooseLogServer();
    // Before the library notes anything of this start: a host without its identifier ends
    // with the cause, its stored data as it was.
    if (auto missing = MVLibraryApplication::missingHostInfo()) {
        MVLogError("The shell cannot start: {}", *missing);
        finish();
        return 1;
    }
    library = &MVLibraryApplication::sharedLibrary();
    if (!openStorage()) {
        finish();
        return 1;
    }
    storeOpened->store(true);
    if (auto key = platform::Bundle::main().objectForInfoDictionaryKey("MVApiKey");
        key && key->is_string())
        library->setApiKey(key->get<std::string>());

    auto& application = platform::Application::shared();
    application.setDelegate(std::make_shared<AppDelegate>());
    const auto launchOptions = arguments.launchOptions();
    application.finishLaunching(launchOptions ? &*launchOptions : nullptr);
    desktop.watchMemoryWarnings();
#ifdef MV_APP_HAS_WEBKIT
    // The window drawn on the display, until the user closes it.
    auto displayName = [] {
        const std::string name = infoString("CFBundleDisplayName");
        return name.empty() ? std::string("Shop") : name;
    };
    std::unique_ptr<platform::PictureWindow> shown;
    if (platform::UserDefaults::standard().boolForKey("run_keep") &&
        platform::WebKitGtkWebEngine::isAvailable())
        shown = std::make_unique<platform::PictureWindow>(
            displayName(),
            [] {
                auto window = platform::Application::shared().keyWindow();
                return window ? platform::imageOfViewHierarchy(*window, 1) : platform::Image();
            },
            [] { platform::RunLoop::main().stop(); });
    if (shown) {
        // Minimised is the background, restored the foreground.
        shown->setMinimisedHandler([](bool minimised) {
            auto& app = platform::Application::shared();
            minimised ? app.enterBackground() : app.enterForeground();
        });
    }
#endif
    platform::RunLoop::main().run();
    const int status = finish() ? 0 : 1;
    // Stopped in order: a termination signal while the process ends has nothing to stop.
    signals->endStop(status);
    signals.reset();
#ifdef MV_APP_HAS_WEBKIT
    // Stopped in order already.
    gEndWithTheDisplay = [status] {
        platform::log::flush();
        std::fflush(nullptr);
        std::_Exit(status);
    };
#endif
    return status;
}
