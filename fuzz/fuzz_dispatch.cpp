// Arbitrary bytes, parsed as JSON (or, when they are no JSON text, decoded as a
// MessagePack server packet by the API connection's packet decoder, so that NaN and the
// infinities reach the handlers), handed to the command dispatcher as a collection
// from a page, as a native command list and as the parameters of a page event; the
// navigation, splash-screen, menu, messaging, location, share and scanner commands
// reach recording neighbours. Each of those commands but showAlert (whose buttons warn
// one by one), run alone, makes at most one warning and one report. The command "later"
// carries its "delay" into the run loop, as page-given times do. The page commands run
// once more from a real web view on the headless engine, fresh for each input; no load
// they start reaches the network. The server-road commands run against the real store,
// keychain file and web cache, a real web view on the headless engine that their
// answers find by serial, and the shared connection streaming to a loopback peer that
// reads what it is sent.
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "fuzz/FuzzRunFolder.h"
#include "libmerovane/application/MVPersistentEntities.h"
#include "libmerovane/bridge/MVBackgroundMenuControllerInterface.h"
#include "libmerovane/bridge/MVCommand.h"
#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/bridge/MVEvent.h"
#include "libmerovane/bridge/MVEventDispatcher.h"
#include "libmerovane/bridge/MVMenuBarControllerInterface.h"
#include "libmerovane/bridge/MVNavigationControllerInterface.h"
#include "libmerovane/bridge/MVTabControllerInterface.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/bridge/MVWebViewCache.h"
#include "libmerovane/bridge/MVWebViewInterface.h"
#include "libmerovane/connection/MVApiConnection.h"
#include "libmerovane/connection/MVApiConnectionHost.h"
#include "libmerovane/connection/MVApiConnectionVariable.h"
#include "libmerovane/connection/MVApiPacketDecoder.h"
#include "libmerovane/core/MVActionSheetInterface.h"
#include "libmerovane/core/MVAlertViewInterface.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/core/MVLocationManagerInterface.h"
#include "libmerovane/core/MVNotificationControllerInterface.h"
#include "libmerovane/core/MVResourceMonitor.h"
#include "libmerovane/core/MVScannerViewControllerInterface.h"
#include "libmerovane/core/MVSharingControllerInterface.h"
#include "libmerovane/core/MVSplashScreenInterface.h"
#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "libmerovane/handlers/MVCommandHandler_1_0.h"
#include "libmerovane/handlers/MVCommandHandler_2_0.h"
#include "libmerovane/storage/MVPersistentStorage.h"
#include "libmerovane/storage/MVPersistentStorageHost.h"
#include "libmerovane/webcache/MVWebCache.h"
#include "libmerovane/webcache/MVWebCacheApiDataSource.h"
#include "libmerovane/webcache/MVWebCacheDataSource.h"
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
#include "platform/ui/Application.h"
#include "platform/ui/ApplicationDelegate.h"
#include "platform/ui/Window.h"
#include "platform/web/HeadlessWebEngine.h"
#include "platform/web/WebView.h"
#include "tests/support/LoopbackListener.h"

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
                                                               "scannerCaptureImage",
                                                               "sendDataRequest",
                                                               "registerEvents",
                                                               "broadcastEvent",
                                                               "setWebStorageEntry",
                                                               "getWebStorageEntry",
                                                               "clearCache",
                                                               "setPage",
                                                               "dataResponse",
                                                               "setVariable",
                                                               "setAutologinKey",
                                                               "startMonitoringResources",
                                                               "takeScreenshot"};

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

// The API server's side: answers each request head as a persistent server, ends a legacy
// response once its body has ended, and reads everything else away.
class Peer {
  public:
    Peer() {
        listen_ = testsupport::listenOnLoopback(port_);
        std::thread([this] {
            for (;;) {
                const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd < 0) return;
                std::thread([fd] { serve(fd); }).detach();
            }
        }).detach();
    }
    int port() const { return port_; }

  private:
    static void serve(int fd) {
        static constexpr std::string_view kHead =
            "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nX-Merovane-Api: Velkram\r\n\r\n";
        static constexpr std::string_view kLastChunk = "\r\n0\r\n\r\n";
        std::string tail;
        bool answered = false;
        char buffer[1 << 14];
        for (;;) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            // Only the last bytes matter: the head's end, then the body's last chunk
            // (packets are uncompressed JSON, so CR LF comes from the framing alone).
            tail.append(buffer, static_cast<size_t>(n));
            if (tail.size() > 64) tail.erase(0, tail.size() - 64);
            if (!answered && tail.find("\r\n\r\n") != std::string::npos) {
                answered = true;
                ::send(fd, kHead.data(), kHead.size(), MSG_NOSIGNAL);
            }
            if (answered && tail.ends_with(kLastChunk)) {
                ::send(fd, kLastChunk.data() + 2, kLastChunk.size() - 2, MSG_NOSIGNAL);
                break;
            }
        }
        ::shutdown(fd, SHUT_WR);
        while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
        }
        ::close(fd);
    }

    int listen_ = -1;
    int port_ = 0;
};

class Host : public MVApiConnectionHost, public MVPersistentStorageHost {
  public:
    explicit Host(std::string root, int port)
        : root_(std::move(root)), apiPath_("http://127.0.0.1:" + std::to_string(port)) {}
    std::string userAgentString() override { return "Mozilla/5.0 (Fuzz) libmerovane/2.0"; }
    std::string appIdentifier() override { return "fuzz"; }
    void resetApplication() override {}
    std::string defaultApiPath() override { return apiPath_; }
    std::string pathForCaches() override {
        return platform::FileManager::defaultManager().cachesDirectory() + "/libmerovane";
    }
    void removeCachedBootApp() override {}
    std::string libmerovaneBundlePath() override { return root_ + "/libmerovane.bundle"; }

  private:
    std::string root_;
    std::string apiPath_;
};

class WindowDelegate : public platform::ApplicationDelegate {
  public:
    std::shared_ptr<platform::Window> window() const override { return window_; }
    std::shared_ptr<platform::Window> window_ =
        platform::Window::create(platform::Rect(0, 0, 8, 8));
};

// A page whose library is ready at once and takes every event.
std::shared_ptr<MVWebView> makePage() {
    platform::WebView::setEngineFactory([] {
        auto engine = std::make_unique<platform::HeadlessWebEngine>();
        engine->setScriptResponder([](const std::string& script) -> std::string {
            return script.find("isDocumentReady") != std::string::npos
                       ? "lib<-*-*->complete<-*-*->true<-*-*->null<-*-*->null"
                       : "";
        });
        return engine;
    });
    auto page = MVWebView::create(platform::Rect(0, 0, 320, 480));
    // The page commands' pages get plain engines.
    platform::WebView::setEngineFactory(nullptr);
    page->loadHTMLString("<p>shop</p>", platform::URL::parse("https://shop.example/"));
    platform::advanceBy(0.1);
    page->onload();
    return page;
}

// What the server-road commands leave behind is dropped now and then, so that nothing
// grows from input to input: stored entries, cache entries, variables, open captures
// and the page's registrations.
void dropServerRoadState(const std::shared_ptr<MVWebView>& page, bool all) {
    MVEventDispatcher::sharedDispatcher().unregisterWebView(page.get());
    auto& monitor = MVResourceMonitor::sharedResourceMonitor();
    while (!monitor.captureHierarchyGroups().empty()) monitor.stopCapturingThenDo(nullptr, 0);
    if (!all) return;
    MVWebCache::sharedCache().clearCache();
    MVPersistentStorage::sharedStorage().lockedAccess([] {
        for (auto& variable : MVApiConnectionVariable::dbObjectsWithPredicate(MVPredicate())) {
            variable->setValue(std::nullopt);
            variable->deleteFromStorage();
        }
    });
}

void setUp() {
    platform::Clock::installManual();
    // The boot command writes the user defaults: into a folder of the run's own.
    const std::string& root = fuzzing::runFolder("/tmp/fuzz-dispatch-XXXXXX");
    auto counting = std::make_shared<CountingLogger>();
    logger = counting.get();
    platform::log::addLogger(
        counting, platform::log::kWarning | platform::log::kInfo | platform::log::kVerbose);
    // The keychain learns its groups from the main bundle's identifier.
    const std::string app = root + "/App";
    std::filesystem::create_directories(app);
    {
        std::FILE* info = std::fopen((app + "/Info.json").c_str(), "w");
        if (info) {
            std::fputs(R"({"CFBundleIdentifier":"com.example.fuzz"})", info);
            std::fclose(info);
        }
    }
    platform::Bundle::setMainBundlePathForTesting(app);
    (void)platform::Bundle::main().bundleIdentifier();
    static auto* peer = new Peer;
    auto host = std::make_shared<Host>(root, peer->port());
    MVRegisterPersistentEntities();
    MVPersistentStorage::setHost(host);
    MVApiConnection::setHost(host);
    MVWebCacheDataSource::registerDataSource(MVWebCacheApiDataSource::sharedDataSource());
    platform::Application::shared().setDelegate(std::make_shared<WindowDelegate>());
    auto& connection = MVApiConnection::sharedConnection();
    platform::advanceBy(MVApiConnection::kStartDelay);
    if (!platform::runUntil([&] { return connection.state() == MVApiConnectionStateStreaming; },
                            20.0))
        std::abort();
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

// The collection without its page commands, which run from pages of their own.
static nlohmann::json withoutPageCommands(const nlohmann::json& collection) {
    const nlohmann::json* commands = platform::json::find(collection, "cmds");
    if (!commands || !commands->is_array()) return collection;
    nlohmann::json rest = collection;
    auto& list = rest["cmds"];
    list = nlohmann::json::array();
    for (const auto& element : *commands) {
        auto name = platform::json::stringValue(element, "c");
        if (!name || !kPageCommands.count(*name)) list.push_back(element);
    }
    return rest;
}

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

// The input as a value: JSON text as a page or a JSON server sends it, else a MessagePack
// packet as a server sends it, through the decoder the connection reads packets with.
static std::optional<nlohmann::json> valueOf(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto parsed = platform::json::parse(bytes);
    if (parsed.ok()) return std::move(parsed.value);
    MVApiPacketDecoder decoder;
    nlohmann::json packet;
    std::string problem;
    if (decoder.decode(bytes, MVApiContentTypeMessagePack, false, packet, problem) !=
        MVApiPacketDecoder::Result::Packet)
        return std::nullopt;
    // The connection takes a packet's serial before it hands the packet on.
    (void)platform::json::integerValue(packet, "serial");
    return packet;
}

static int dispatchOne(const uint8_t* data, size_t size) {
    static bool ready = (setUp(), true);
    (void)ready;
    const auto input = valueOf(data, size);
    if (!input) return 0;
    const nlohmann::json& value = *input;
    static auto webView = std::make_shared<FuzzWebView>();
    static auto page = makePage();
    static size_t inputs = 0;
    MVCommandHandler::performCommandsFromCommandCollection(nlohmann::json(value), webView);
    MVCommandHandler::performCommandsFromCommandCollection(withoutPageCommands(value), page);
    MVCommandHandler::performCommandsFromCommandCollection(nlohmann::json(value), nullptr);
    if (auto handler = MVCommandHandler::sharedHandler())
        handler->performCommands(nlohmann::json(value), webView);
    if (value.is_array()) (void)MVEvent("fuzz", value).stringForJavaFunctionCall();
    performPageCommands(value);
    // Preloaded pages stay pooled: drop them, so that nothing grows from input to input.
    MVWebViewCache::sharedCache().appDidReceiveBootAppCommand();
    platform::runUntilIdle();
    // Commands for the server go out in their batch.
    platform::advanceBy(MVApiConnection::kCommandBatchDelay);
    if (!laterTimers().empty()) {
        platform::advanceBy(0.01);
        for (auto& timer : laterTimers()) timer.cancel();
        laterTimers().clear();
    }
    MVErrorLogger::clearReports();

    // One neighbour command at a time, from the server, in the collection's version.
    const nlohmann::json* commands = platform::json::find(value, "cmds");
    auto version = MVCommandHandler::versionNumberForString(
        platform::json::stringValue(value, "ver").value_or("2.1"));
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
    dropServerRoadState(page, ++inputs % 256 == 0);
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
