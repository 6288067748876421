// Arbitrary bytes, parsed as JSON, handed to the command dispatcher as a collection
// from a page, as a native command list and as the parameters of a page event; the
// navigation, splash-screen, menu, messaging, location, share and scanner commands
// reach recording neighbours. Each of those commands but showAlert (whose buttons warn
// one by one), run alone, makes at most one warning and one report. The command "later"
// carries its "delay" into the run loop, as page-given times do. The page commands run
// once more from a real web view on the headless engine, fresh for each input; no load
// they start reaches the network.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "libmerovane/bridge/MVBackgroundMenuControllerInterface.h"
#include "libmerovane/bridge/MVCommand.h"
#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/bridge/MVEvent.h"
#include "libmerovane/bridge/MVMenuBarControllerInterface.h"
#include "libmerovane/bridge/MVNavigationControllerInterface.h"
#include "libmerovane/bridge/MVTabControllerInterface.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/bridge/MVWebViewCache.h"
#include "libmerovane/bridge/MVWebViewInterface.h"
#include "libmerovane/core/MVActionSheetInterface.h"
#include "libmerovane/core/MVAlertViewInterface.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/core/MVLocationManagerInterface.h"
#include "libmerovane/core/MVNotificationControllerInterface.h"
#include "libmerovane/core/MVScannerViewControllerInterface.h"
#include "libmerovane/core/MVSharingControllerInterface.h"
#include "libmerovane/core/MVSplashScreenInterface.h"
#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "libmerovane/handlers/MVCommandHandler_1_0.h"
#include "libmerovane/handlers/MVCommandHandler_2_0.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/TestDriver.h"
#include "platform/foundation/URLProtocol.h"

namespace {

// Counts warnings, and drops every line. The dispatcher's note on a command that passed
// validation with faults in its elements (tags that are no strings) is not the command's.
class CountingLogger : public platform::log::Logger {
  public:
    void logMessage(const platform::log::Message& message) override {
        if (message.flag == platform::log::kWarning &&
            !message.text.starts_with("MVCommand validation <"))
            ++warnings;
    }
    std::atomic<int> warnings{0};
};

// Neighbours that take every call and keep only what the fuzzer needs.
class Stack : public MVNavigationControllerInterface {
  public:
    std::optional<std::string> identifier() const override { return std::nullopt; }
    void pushViewController(const std::shared_ptr<platform::ViewController>&, bool) override {}
    void popViewControllerAnimated(bool) override { ++calls; }
    void popToRootViewControllerAnimated(bool) override { ++calls; }
    void flush() override { ++calls; }
    void clean() override { ++calls; }
    void popToTag(const std::string&, bool) override { ++calls; }
    void popPagesWithTags(const std::vector<std::string>&, bool) override { ++calls; }
    void showNavigationBarWithAnimation(MVBarAnimation, std::optional<double>) override { ++calls; }
    void hideNavigationBarWithAnimation(MVBarAnimation, std::optional<double>) override { ++calls; }
    void setNavigationBarWithURL(const std::string&) override { ++calls; }
    void setPopGestureEnabled(bool) override { ++calls; }
    void performEvent(const MVEvent&) override { ++calls; }
    size_t calls = 0;
};

class Tabs : public MVTabControllerInterface {
  public:
    std::shared_ptr<MVNavigationControllerInterface> navigationControllerWithIdentifier(
        const std::optional<std::string>& identifier) override {
        // a bounded number of stacks, whatever names arrive
        if (stacks.size() < 16) stacks.emplace(identifier.value_or(""), std::make_shared<Stack>());
        auto found = stacks.find(identifier.value_or(""));
        return found != stacks.end() ? found->second : stacks.begin()->second;
    }
    std::shared_ptr<MVNavigationControllerInterface> navigationControllerForWebView(
        MVWebView&) override {
        return nullptr;
    }
    void presentNavigationControllerWithIdentifier(const std::string&,
                                                   const std::optional<std::string>&,
                                                   std::optional<double>) override {}
    std::map<std::string, std::shared_ptr<Stack>> stacks;
};

class Splash : public MVSplashScreenInterface {
  public:
    bool isVisible() const override { return visible; }
    void showSplashScreen() override { visible = true; }
    void hideSplashScreen() override { visible = false; }
    void setSplashScreenWithUrlString(const std::string&) override {}
    bool visible = true;
};

class MenuBar : public MVMenuBarControllerInterface {
  public:
    static std::shared_ptr<MenuBar> create() {
        return std::static_pointer_cast<MenuBar>(track(std::make_shared<MenuBar>()));
    }
    void setMenuBarWithUrl(const std::string&, const nlohmann::json* menuParams) override {
        touch(menuParams);
    }
    void setMenuBarWithContent(const std::string&, const std::optional<std::string>&,
                               const nlohmann::json* menuParams) override {
        touch(menuParams);
    }
    void showMenuBarWithAnimation(MVBarAnimation, std::optional<double>) override {}
    void hideMenuBarWithAnimation(MVBarAnimation, std::optional<double>) override {}
    void viewShouldAdjustInsets(const platform::EdgeInsets&, bool) override {}
    static void touch(const nlohmann::json* value) {
        if (value) (void)platform::json::print(*value);
    }
};

class BackgroundMenu : public MVBackgroundMenuControllerInterface {
  public:
    static std::shared_ptr<BackgroundMenu> create(const std::string& identifier) {
        auto menu =
            std::static_pointer_cast<BackgroundMenu>(track(std::make_shared<BackgroundMenu>()));
        menu->setIdentifier(identifier);
        return menu;
    }
    void setContentWithUrl(const std::string&, const std::string&,
                           const std::optional<std::string>&, std::optional<double>,
                           const nlohmann::json* menuParams) override {
        MenuBar::touch(menuParams);
    }
    void setContentWithString(const std::string&, const std::optional<std::string>&,
                              const std::string&, const std::optional<std::string>&,
                              std::optional<double>, const nlohmann::json* menuParams) override {
        MenuBar::touch(menuParams);
    }
    void showWithPresentationType(const std::optional<std::string>&,
                                  std::optional<double>) override {}
    void hideWithSpeedFactor(std::optional<double>) override {}
};

class Notification : public MVNotificationInterface {};

class NotificationClass : public MVNotificationClassInterface {
  public:
    bool isWebViewNotification() const override { return true; }
    std::shared_ptr<MVNotificationInterface> notificationWithContent(
        const std::string&, const std::optional<std::string>&, const nlohmann::json* params,
        std::optional<double>, std::optional<double>,
        const std::shared_ptr<MVWebView>&) const override {
        MenuBar::touch(params);
        return std::make_shared<Notification>();
    }
    std::shared_ptr<MVNotificationInterface> notificationWithURL(
        const std::string&, const nlohmann::json* params, std::optional<double>,
        std::optional<double>, const std::shared_ptr<MVWebView>&) const override {
        MenuBar::touch(params);
        return std::make_shared<Notification>();
    }
};

class Notifications : public MVNotificationControllerInterface {
  public:
    static std::shared_ptr<Notifications> create() {
        auto controller =
            std::static_pointer_cast<Notifications>(track(std::make_shared<Notifications>()));
        controller->setIdentifier("notifications");
        return controller;
    }
    // Presented notifications go at once: nothing grows from input to input.
    void presentNotification(std::shared_ptr<MVNotificationInterface>) override {}
};

class Alerts : public MVAlertViewInterface {
  public:
    void showAlertWithTitle(const std::optional<std::string>&, const std::optional<std::string>&,
                            const std::optional<MVAlertButton>& cancelButton,
                            const std::vector<MVAlertButton>& alertButtons, std::optional<double>,
                            const nlohmann::json* onTimeout,
                            const std::shared_ptr<MVWebView>&) override {
        MenuBar::touch(onTimeout);
        if (cancelButton) MenuBar::touch(cancelButton->commandCollection.get());
        for (const auto& button : alertButtons) MenuBar::touch(button.commandCollection.get());
    }
};

class ActionSheets : public MVActionSheetInterface {
  public:
    void showActionSheet(const nlohmann::json& parameters,
                         const std::shared_ptr<MVWebView>&) override {
        MenuBar::touch(&parameters);
    }
};

// Takes each request and drops it: an answer from the server's side would need the API
// connection.
class Location : public MVLocationManagerInterface {
  public:
    void getLocationWithMinimumAccuracy(double, double timeout, CompletionHandler) override {
        (void)timeoutWithinBounds(timeout);
    }
};

class Sharing : public MVSharingControllerInterface {
  public:
    void shareItemWithTitle(const std::string&, const std::string&, const std::string&,
                            const platform::Rect& rect,
                            const std::shared_ptr<platform::View>&) override {
        (void)rect.standardized();
    }
};

class Scanner : public MVScannerViewControllerInterface {
  public:
    static std::shared_ptr<Scanner> create() {
        return std::static_pointer_cast<Scanner>(track(std::make_shared<Scanner>()));
    }
    void openScannerWithSrc(const std::string&, const std::optional<std::string>&,
                            const nlohmann::json* eventParams, bool barcode, bool image) override {
        MenuBar::touch(eventParams);
        barcode_ = barcode;
        image_ = image;
    }
    void closeScannerWithAnimation(const std::optional<std::string>&) override {}
    void startScanner() override {}
    void stopScanner() override {}
    void setFlashlightEnabled(bool) override {}
    void setScannerModesWithBarcodeRecognitionEnabled(bool barcode, bool image) override {
        barcode_ = barcode;
        image_ = image;
    }
    bool isBarcodeRecognitionEnabled() const override { return barcode_; }
    bool isImageCapturingEnabled() const override { return image_; }
    void captureScannerImageWithMaxWidth(float, float, const std::string&, const std::string&,
                                         const std::shared_ptr<MVWebView>&) override {}

  private:
    bool barcode_ = false;
    bool image_ = false;
};

const std::set<std::string, std::less<>> kNeighbourCommands = {"showTab",
                                                               "flushTab",
                                                               "popTabToRoot",
                                                               "popTab",
                                                               "showNavigationBar",
                                                               "hideNavigationBar",
                                                               "setNavigationBar",
                                                               "cleanTab",
                                                               "enablePopGesture",
                                                               "showSplashScreen",
                                                               "hideSplashScreen",
                                                               "setSplashScreen",
                                                               "setMenuBar",
                                                               "showMenuBar",
                                                               "hideMenuBar",
                                                               "setBackgroundMenu",
                                                               "showBackgroundMenu",
                                                               "hideBackgroundMenu",
                                                               "presentNotification",
                                                               "showActionSheet",
                                                               "getLocation",
                                                               "shareItem",
                                                               "openScanner",
                                                               "closeScanner",
                                                               "startScanner",
                                                               "stopScanner",
                                                               "setFlashlightMode",
                                                               "setScannerMode",
                                                               "scannerCaptureImage"};

// The page commands: run alone from the server like the neighbour commands, and from a
// real web view as well.
const std::set<std::string, std::less<>> kPageCommands = {"openPage",
                                                          "openPageExtern",
                                                          "replacePage",
                                                          "refreshPage",
                                                          "closeView",
                                                          "onload",
                                                          "setViewProperties",
                                                          "setTouchInputEnabled",
                                                          "setScrollingEnabled",
                                                          "pageSizeDidChange",
                                                          "preloadView",
                                                          "setNavigationBarParams",
                                                          "toggleKeyboard",
                                                          "setPreferredStatusBarStyle",
                                                          "setViewTags",
                                                          "addViewTags",
                                                          "removeViewTags",
                                                          "popToTag",
                                                          "popPagesWithTags",
                                                          "enablePullToRefresh"};

// Fails every load at once, so that no page-given address reaches the network.
class RefusingProtocol : public platform::URLProtocol {
  public:
    using URLProtocol::URLProtocol;
    static bool canInitWithRequest(const platform::URLRequest&) { return true; }
    void startLoading() override {
        client()->didFailWithError(platform::Error(platform::kURLErrorDomain, -1004));
    }
    void stopLoading() override {}
};

// The neighbours live as long as the process; their trackers hold them weakly.
struct Neighbours {
    std::shared_ptr<MenuBar> menuBar = MenuBar::create();
    std::shared_ptr<BackgroundMenu> primary = BackgroundMenu::create("primary");
    std::shared_ptr<BackgroundMenu> secondary = BackgroundMenu::create("secondary");
    std::shared_ptr<Notifications> notifications = Notifications::create();
    std::shared_ptr<Scanner> scanner = Scanner::create();
};

CountingLogger* logger = nullptr;

class FuzzWebView : public MVWebViewInterface {
  public:
    int serial() const override { return 1000; }
    std::string debugName() const override { return "<1000:Fuzz>"; }
    std::optional<std::string> currentUrl() const override { return "https://x/"; }
    std::optional<bool> delegateShouldPerformCommand(const MVCommand& command) override {
        return command.name() != "veto";
    }
    void performMVEvent(const MVEvent& event) override { (void)event.stringForJavaFunctionCall(); }
    std::shared_ptr<MVWebView> asMVWebView() override { return nullptr; }
};

// Reads what it was given the way commands do, through the value helpers.
void touchParameters(MVCommandHandler&, nlohmann::json* parameters,
                     const std::shared_ptr<MVWebView>&) {
    if (!parameters) return;
    (void)platform::json::stringValue(*parameters, "src");
    (void)platform::json::doubleValue(*parameters, "speedFactor");
    MVEvent event("fuzz", nlohmann::json::array({*parameters}));
    (void)event.stringForJavaFunctionCall();
    (void)event.stringForJavaDescription();
}

// Whatever number the page gives reaches the run loop and the queues, once and
// repeating; each input's timers run for a while and are withdrawn after it.
std::vector<platform::TimerHandle>& laterTimers() {
    static std::vector<platform::TimerHandle> timers;
    return timers;
}

void scheduleLater(MVCommandHandler&, nlohmann::json* parameters,
                   const std::shared_ptr<MVWebView>&) {
    const double delay = parameters ? platform::json::doubleValue(*parameters, "delay") : 0;
    auto& loop = platform::RunLoop::main();
    laterTimers().push_back(loop.postAfter(delay, [] {}));
    laterTimers().push_back(platform::DispatchQueue::main().after(delay, [] {}));
    laterTimers().push_back(loop.postRepeating(delay, [] {}));
}

void setUp() {
    platform::Clock::installManual();
    // The boot command writes the user defaults: into a folder of the run's own (the
    // path outlives every static).
    static const std::string* root = [] {
        char folder[] = "/tmp/fuzz-dispatch-XXXXXX";
        auto* made = new std::string(::mkdtemp(folder) ? folder : "/tmp/fuzz-dispatch");
        platform::FileManager::defaultManager().setRootDirectoryForTesting(*made);
        std::atexit([] { std::filesystem::remove_all(*root); });
        return made;
    }();
    auto counting = std::make_shared<CountingLogger>();
    logger = counting.get();
    platform::log::addLogger(
        counting, platform::log::kWarning | platform::log::kInfo | platform::log::kVerbose);
    // The main bundle warns once, on its first read, that it has no information: read it
    // before warnings are counted.
    (void)platform::Bundle::main().bundleIdentifier();
    registerCommandHandlerClasses();
    platform::URLProtocol::registerClass(
        std::make_shared<platform::URLProtocolClass<RefusingProtocol>>());
    MVTabControllerInterface::install(std::make_shared<Tabs>());
    MVSplashScreenInterface::install(std::make_shared<Splash>());
    static auto* neighbours = new Neighbours;
    (void)neighbours;
    for (const auto& type : MVNotificationControllerInterface::builtInNotificationTypes())
        MVNotificationControllerInterface::registerNotificationType(
            type, std::make_shared<NotificationClass>());
    MVAlertViewInterface::install(std::make_shared<Alerts>());
    MVActionSheetInterface::install(std::make_shared<ActionSheets>());
    MVLocationManagerInterface::install(std::make_shared<Location>());
    MVSharingControllerInterface::setFactory([] { return std::make_shared<Sharing>(); });
    auto& v10 = MVCommandHandler_1_0::commandTable();
    v10.add("any", {MVSpec{}, &touchParameters});
    v10.add("validateNested", {MVSpec{{"+title", MVSpec::NSString},
                                      {"+buttons", MVSpec::arrayOf({{"title", MVSpec::NSString},
                                                                    {"+cmds", MVSpec::NSArray}})},
                                      {"+bar", {{"color", MVSpec::NSString}}}},
                               &touchParameters});
    v10.add("veto", {MVSpec{}, &touchParameters});
    v10.add("never", {std::nullopt, &touchParameters});
    v10.add("later", {MVSpec{{"delay", MVSpec::NSNumber}}, &scheduleLater});
    MVCommandHandler_2_0::commandTable().add(
        "nested",
        {MVSpec{{"cmds", MVSpec::NSArray}},
         [](MVCommandHandler& handler, nlohmann::json* p, const std::shared_ptr<MVWebView>&) {
             handler.performCommands(std::move(p->at("cmds")), nullptr);
         }});
}

}  // namespace

// The collection's page commands from a web view made for this input; it goes, with
// the loads it has scheduled, before the run loop turns.
static void performPageCommands(const nlohmann::json& collection) {
    const nlohmann::json* commands = platform::json::find(collection, "cmds");
    if (!commands || !commands->is_array()) return;
    nlohmann::json pageCommands = nlohmann::json::array();
    for (const auto& element : *commands) {
        auto name = platform::json::stringValue(element, "c");
        if (name && kPageCommands.count(*name)) pageCommands.push_back(element);
    }
    if (pageCommands.empty()) return;
    nlohmann::json pageCollection = nlohmann::json::object();
    if (const nlohmann::json* version = platform::json::find(collection, "ver"))
        pageCollection.emplace("ver", *version);
    pageCollection.emplace("cmds", std::move(pageCommands));
    auto page = MVWebView::create(platform::Rect(0, 0, 320, 480));
    MVCommandHandler::performCommandsFromCommandCollection(std::move(pageCollection), page);
}

static int dispatchOne(const uint8_t* data, size_t size) {
    static bool ready = (setUp(), true);
    (void)ready;
    auto parsed =
        platform::json::parse(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!parsed.ok()) return 0;
    static auto webView = std::make_shared<FuzzWebView>();
    MVCommandHandler::performCommandsFromCommandCollection(nlohmann::json(parsed.value), webView);
    MVCommandHandler::performCommandsFromCommandCollection(nlohmann::json(parsed.value), nullptr);
    if (auto handler = MVCommandHandler::sharedHandler())
        handler->performCommands(nlohmann::json(parsed.value), webView);
    if (parsed.value.is_array()) (void)MVEvent("fuzz", parsed.value).stringForJavaFunctionCall();
    performPageCommands(parsed.value);
    // Preloaded pages stay pooled: drop them, so that nothing grows from input to input.
    MVWebViewCache::sharedCache().appDidReceiveBootAppCommand();
    platform::runUntilIdle();
    if (!laterTimers().empty()) {
        platform::advanceBy(0.01);
        for (auto& timer : laterTimers()) timer.cancel();
        laterTimers().clear();
    }
    MVErrorLogger::clearReports();

    // One neighbour command at a time, from the server, in the collection's version.
    const nlohmann::json* commands = platform::json::find(parsed.value, "cmds");
    auto version = MVCommandHandler::versionNumberForString(
        platform::json::stringValue(parsed.value, "ver").value_or("2.1"));
    auto handler = MVCommandHandler::sharedHandlerForVersion(version);
    if (commands && commands->is_array() && handler) {
        for (const auto& element : *commands) {
            auto name = platform::json::stringValue(element, "c");
            if (!name || !(kNeighbourCommands.count(*name) || kPageCommands.count(*name))) continue;
            platform::log::flush();
            const int warningsBefore = logger->warnings;
            handler->performCommands(nlohmann::json::array({element}), nullptr);
            platform::log::flush();
            if (MVErrorLogger::reports().size() > 1 || logger->warnings - warningsBefore > 1)
                std::abort();
            MVErrorLogger::clearReports();
        }
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        return dispatchOne(data, size);
    } catch (const platform::Exception& e) {
        // terminateApp ends the application by this one exception.
        if (e.name() != MVLibraryApplicationHasBeenTerminatedException) throw;
        platform::runUntilIdle();
        return 0;
    }
}
