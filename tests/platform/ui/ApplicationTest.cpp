#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/Application.h"
#include "platform/ui/ApplicationDelegate.h"
#include "platform/ui/Device.h"
#include "platform/ui/Screen.h"
#include "platform/ui/View.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "tests/support/PlatformTest.h"

using namespace platform;
using nlohmann::json;

namespace {

using Log = std::vector<std::string>;

// The URL of a text; the empty URL when the text is no URL.
URL url(const char* text) {
    auto parsed = URL::parse(text);
    return parsed ? *parsed : URL();
}

const char* stateName(ApplicationState s) {
    switch (s) {
        case ApplicationState::Active:
            return "active";
        case ApplicationState::Inactive:
            return "inactive";
        case ApplicationState::Background:
            return "background";
    }
    return "?";
}

// The host's delegate: notes each callback with the state it saw.
class HostDelegate : public ApplicationDelegate {
  public:
    explicit HostDelegate(Log* log) : log_(log) {}
    bool didFinishLaunchingWithOptions(Application& app, const json* options) override {
        note(app, "didFinishLaunching " + (options ? options->dump() : std::string("none")));
        return launchAnswer;
    }
    void applicationWillResignActive(Application& app) override { note(app, "willResignActive"); }
    void applicationDidEnterBackground(Application& app) override {
        note(app, "didEnterBackground");
    }
    void applicationWillEnterForeground(Application& app) override {
        note(app, "willEnterForeground");
    }
    void applicationDidBecomeActive(Application& app) override { note(app, "didBecomeActive"); }
    void applicationWillTerminate(Application& app) override { note(app, "willTerminate"); }
    void applicationDidReceiveMemoryWarning(Application& app) override {
        note(app, "memoryWarning");
    }
    std::optional<bool> openURL(Application& app, const URL& url,
                                const std::optional<std::string>& source, const json*) override {
        note(app, "openURL " + url.absoluteString() + " from " + source.value_or("none"));
        return false;
    }
    void didRegisterUserNotificationSettings(Application&, const json& settings) override {
        log_->push_back("settings " + settings.dump());
    }
    void didRegisterForRemoteNotificationsWithDeviceToken(
        Application&, const std::vector<uint8_t>& token) override {
        log_->push_back("token " + std::to_string(token.size()));
    }
    void didFailToRegisterForRemoteNotificationsWithError(Application&,
                                                          const Error& error) override {
        log_->push_back("registration failed " + error.domain());
    }
    void didReceiveRemoteNotification(Application&, const json& userInfo) override {
        log_->push_back("remote " + userInfo.dump());
    }
    bool handleActionWithIdentifier(Application&, const std::string& identifier, const json&,
                                    std::function<void()> completion) override {
        if (!handlesActions) return false;
        log_->push_back("action " + identifier);
        keptCompletion = std::move(completion);
        return true;
    }

    bool launchAnswer = true;
    bool handlesActions = false;
    std::function<void()> keptCompletion;

  private:
    void note(Application& app, const std::string& what) {
        log_->push_back(what + " (" + stateName(app.applicationState()) + ")");
    }
    Log* log_;
};

// A library that sees the callbacks before the host.
class Detour : public ForwardingApplicationDelegate {
  public:
    Detour(std::shared_ptr<ApplicationDelegate> host, Log* log)
        : ForwardingApplicationDelegate(std::move(host)), log_(log) {}
    bool didFinishLaunchingWithOptions(Application& app, const json* options) override {
        log_->push_back("library launch");
        return ForwardingApplicationDelegate::didFinishLaunchingWithOptions(app, options);
    }
    std::optional<bool> openURL(Application& app, const URL& url,
                                const std::optional<std::string>& source,
                                const json* annotation) override {
        if (url.scheme().rfind("merovane-", 0) == 0) return true;
        return ForwardingApplicationDelegate::openURL(app, url, source, annotation);
    }

  private:
    Log* log_;
};

class ApplicationTest : public PlatformTest {
  protected:
    void observe(const char* name) {
        registrations.emplace_back(NotificationCenter::defaultCenter(),
                                   NotificationCenter::defaultCenter().addObserver(
                                       name, &app, [this](const Notification& n) {
                                           std::string text = "note " + n.name;
                                           if (n.userInfo) text += " " + n.userInfo->dump();
                                           log.push_back(text);
                                       }));
    }

    Application& app = Application::shared();
    Log log;
    std::vector<ObserverRegistration> registrations;
};

}  // namespace

TEST_F(ApplicationTest, TheLifeCycleAndMemoryWarningsCallTheDelegateThenPost) {
    for (auto* name :
         {kApplicationDidBecomeActiveNotification, kApplicationWillResignActiveNotification,
          kApplicationDidEnterBackgroundNotification, kApplicationWillEnterForegroundNotification,
          kApplicationWillTerminateNotification, kApplicationDidReceiveMemoryWarningNotification})
        observe(name);
    auto host = std::make_shared<HostDelegate>(&log);
    host->launchAnswer = false;
    app.setDelegate(host);
    EXPECT_EQ(app.applicationState(), ApplicationState::Inactive);
    app.receiveMemoryWarning();
    EXPECT_EQ(log, (Log{"memoryWarning (inactive)",
                        "note UIApplicationDidReceiveMemoryWarningNotification"}));
    log.clear();

    const json options = {{"url", "merovane-shop://home"}};
    EXPECT_FALSE(app.finishLaunching(&options));
    EXPECT_EQ(log,
              (Log{"didFinishLaunching {\"url\":\"merovane-shop://home\"} (inactive)",
                   "didBecomeActive (active)", "note UIApplicationDidBecomeActiveNotification"}));
    log.clear();

    app.enterBackground();
    EXPECT_EQ(log,
              (Log{"willResignActive (active)", "note UIApplicationWillResignActiveNotification",
                   "didEnterBackground (background)",
                   "note UIApplicationDidEnterBackgroundNotification"}));
    log.clear();
    app.enterBackground();  // already there
    EXPECT_TRUE(log.empty());

    app.enterForeground();
    EXPECT_EQ(log,
              (Log{"willEnterForeground (background)",
                   "note UIApplicationWillEnterForegroundNotification", "didBecomeActive (active)",
                   "note UIApplicationDidBecomeActiveNotification"}));
    log.clear();

    // Tests run on the manual clock: terminating records and returns.
    app.terminate();
    EXPECT_EQ(log, (Log{"willTerminate (active)", "note UIApplicationWillTerminateNotification"}));
    EXPECT_TRUE(app.wasTerminated());
    int hooked = 0;
    app.setTerminateHookForTesting([&] { ++hooked; });
    app.terminate();
    EXPECT_EQ(hooked, 1);

    app.setDelegate(nullptr);
    EXPECT_TRUE(app.finishLaunching()) << "without a delegate";
}

TEST_F(ApplicationTest, AWrappingDelegateRunsBeforeTheHosts) {
    auto host = std::make_shared<HostDelegate>(&log);
    // Installed before the host's delegate, as the library does at start.
    app.setDelegateWrapper([this](std::shared_ptr<ApplicationDelegate> h) {
        return std::make_shared<Detour>(std::move(h), &log);
    });
    EXPECT_EQ(app.delegate(), nullptr);
    app.setDelegate(host);
    ASSERT_NE(app.delegate(), host);

    app.finishLaunching();
    EXPECT_EQ(log, (Log{"library launch", "didFinishLaunching none (inactive)",
                        "didBecomeActive (active)"}));
    log.clear();

    // The library takes its own URLs; the host never sees them.
    EXPECT_EQ(app.deliverURL(url("merovane-shop://offer/1"), "com.example.mail", nullptr),
              std::optional<bool>(true));
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(app.deliverURL(url("https://example.com/"), std::nullopt, nullptr),
              std::optional<bool>(false));
    EXPECT_EQ(log, (Log{"openURL https://example.com/ from none (active)"}));

    // Installed after the host's delegate, the wrapper wraps it at once.
    app.setDelegateWrapper(nullptr);
    EXPECT_EQ(app.delegate(), host);
    app.setDelegateWrapper([this](std::shared_ptr<ApplicationDelegate> h) {
        return std::make_shared<Detour>(std::move(h), &log);
    });
    auto detour = std::dynamic_pointer_cast<ForwardingApplicationDelegate>(app.delegate());
    ASSERT_TRUE(detour);
    EXPECT_EQ(detour->inner(), host);

    app.setDelegate(nullptr);
    EXPECT_EQ(app.deliverURL(url("https://example.com/"), std::nullopt, nullptr), std::nullopt);
}

TEST_F(ApplicationTest, OtherApplicationsAnswerTheirSchemes) {
    std::vector<std::string> received;
    app.registerURLSchemeForTesting(
        "TesseraWallet", [&](const URL& opened) { received.push_back(opened.absoluteString()); });
    struct Row {
        const char* url;
        bool opens;
    } rows[] = {
        {"tesserawallet://pay?x=1", true},
        {"TESSERAWALLET:pay", true},  // schemes compare without case
        {"mailto:someone@example.com", false},
        {"tesserawallet", false},  // no scheme at all
        {"", false},
    };
    for (auto& r : rows) EXPECT_EQ(app.canOpenURL(url(r.url)), r.opens) << r.url;

    EXPECT_TRUE(app.openURL(url("tesserawallet://pay?x=1")));
    EXPECT_TRUE(received.empty()) << "the other application answers at the next turn";
    runUntilIdle();
    EXPECT_EQ(received, (std::vector<std::string>{"tesserawallet://pay?x=1"}));
    EXPECT_FALSE(app.openURL(url("mailto:someone@example.com")));
    EXPECT_EQ(app.openedURLsForTesting(), (std::vector<URL>{url("tesserawallet://pay?x=1")}));

    app.registerURLSchemeForTesting("tesserawallet", nullptr);
    EXPECT_FALSE(app.canOpenURL(url("tesserawallet://pay")));
}

TEST_F(ApplicationTest, BackgroundTasksHaveIdentifiersAndExpire) {
    int expired = 0;
    BackgroundTaskIdentifier second = kInvalidBackgroundTask;
    const auto first = app.beginBackgroundTask("launch", [&] { ++expired; });
    second = app.beginBackgroundTask([&] {
        ++expired;
        app.endBackgroundTask(second);
    });
    EXPECT_EQ(second, 2u);

    app.expireBackgroundTasksForTesting();
    EXPECT_EQ(expired, 2);
    // The first handler did not end its task.
    EXPECT_TRUE(logged("Background task 1 \"launch\" did not end when it expired"));
    ASSERT_EQ(app.backgroundTasksForTesting().size(), 1u);

    app.endBackgroundTask(first);
    EXPECT_TRUE(app.backgroundTasksForTesting().empty());
    app.endBackgroundTask(first);
    app.endBackgroundTask(kInvalidBackgroundTask);
    EXPECT_EQ(loggedCount("cannot end: it is unknown or ended already"), 2u);
    EXPECT_EQ(app.beginBackgroundTask(nullptr), 3u);
}

TEST_F(ApplicationTest, RemoteNotificationRegistrationAnswersAtTheNextTurn) {
    auto host = std::make_shared<HostDelegate>(&log);
    app.setDelegate(host);

    app.registerForRemoteNotifications();
    EXPECT_TRUE(log.empty());
    runUntilIdle();
    EXPECT_EQ(log, (Log{"registration failed NSCocoaErrorDomain"}));
    EXPECT_FALSE(app.isRegisteredForRemoteNotifications());
    log.clear();

    app.setRemoteNotificationDeviceTokenForTesting(std::vector<uint8_t>(32, 0xab));
    app.registerUserNotificationSettings(json{{"types", 7}});
    app.registerForRemoteNotifications();
    runUntilIdle();
    EXPECT_EQ(log, (Log{"settings {\"types\":7}", "token 32"}));
    EXPECT_TRUE(app.isRegisteredForRemoteNotifications());
    log.clear();

    app.deliverRemoteNotification(json{{"merovane", 42}});
    EXPECT_EQ(log, (Log{"remote {\"merovane\":42}"}));
}

TEST_F(ApplicationTest, NotificationActionsCompleteOnceSomebodyCompletes) {
    auto host = std::make_shared<HostDelegate>(&log);
    app.setDelegate(host);
    int completions = 0;
    app.deliverNotificationAction("open", json::object(), [&] { ++completions; });
    EXPECT_EQ(completions, 1) << "an unhandled action completes at once";

    host->handlesActions = true;
    app.deliverNotificationAction("open", json::object(), [&] { ++completions; });
    EXPECT_EQ(completions, 1);
    ASSERT_TRUE(host->keptCompletion);
    host->keptCompletion();
    EXPECT_EQ(completions, 2);
}

TEST_F(ApplicationTest, TurningTheInterfaceResizesWindowsAndTheStatusBar) {
    auto window = Window::create(Screen::main().bounds());
    auto root = ViewController::create();
    window->setRootViewController(root);
    window->makeKeyAndVisible();
    EXPECT_EQ(app.statusBarFrame(), Rect(0, 0, 375, 20));

    for (auto* name : {kApplicationWillChangeStatusBarOrientationNotification,
                       kApplicationWillChangeStatusBarFrameNotification,
                       kApplicationDidChangeStatusBarOrientationNotification,
                       kApplicationDidChangeStatusBarFrameNotification})
        observe(name);
    app.setStatusBarOrientation(InterfaceOrientation::LandscapeLeft);
    EXPECT_EQ(log, (Log{"note UIApplicationWillChangeStatusBarOrientationNotification "
                        "{\"UIApplicationStatusBarOrientationUserInfoKey\":4}",
                        "note UIApplicationWillChangeStatusBarFrameNotification",
                        "note UIApplicationDidChangeStatusBarOrientationNotification "
                        "{\"UIApplicationStatusBarOrientationUserInfoKey\":1}",
                        "note UIApplicationDidChangeStatusBarFrameNotification"}));
    EXPECT_EQ(Screen::main().bounds(), Rect(0, 0, 667, 375));
    EXPECT_EQ(root->view()->frame(), Rect(0, 0, 667, 375));
    EXPECT_EQ(app.statusBarFrame(), Rect(0, 0, 667, 20));

    app.setStatusBarOrientation(InterfaceOrientation::Portrait);
    EXPECT_EQ(root->view()->frame(), Rect(0, 0, 375, 667));
    log.clear();
    app.setStatusBarOrientation(InterfaceOrientation::Portrait);
    app.setStatusBarHidden(false);
    EXPECT_TRUE(log.empty()) << "no change, no notification";
    app.setStatusBarHidden(true);
    EXPECT_EQ(log.size(), 2u);
}

TEST_F(ApplicationTest, WindowsAreListedWhileTheyLive) {
    auto first = Window::create(Rect(0, 0, 10, 10));
    {
        auto temporary = Window::create(Rect(0, 0, 10, 10));
        EXPECT_EQ(app.windows().size(), 2u);
    }
    auto last = Window::create(Rect(0, 0, 10, 10));
    EXPECT_EQ(app.windows(), (std::vector<std::shared_ptr<Window>>{first, last}));
    first->makeKeyWindow();
    last->makeKeyWindow();
    EXPECT_EQ(app.keyWindow(), last);
    EXPECT_FALSE(first->isKeyWindow());
}

TEST_F(ApplicationTest, ScreenAndDeviceStartAsAPhoneOnThisMachine) {
    EXPECT_EQ(Screen::main().bounds(), Rect(0, 0, 375, 667));
    EXPECT_EQ(Screen::main().scale(), 2.0);
    auto& device = Device::current();
    EXPECT_EQ(device.model(), "Phone");
    device.setUserInterfaceIdiom(UserInterfaceIdiom::Pad);
    EXPECT_EQ(device.model(), "Tablet");
    utsname u{};
    ASSERT_EQ(uname(&u), 0);
    EXPECT_EQ(device.machine(), u.machine);
    EXPECT_EQ(device.name(), u.nodename);

    // Without monitoring the battery is unknown.
    device.setBatteryLevel(0.5f);
    device.setBatteryState(BatteryState::Charging);
    EXPECT_EQ(device.batteryLevel(), -1.0f);
    EXPECT_EQ(device.batteryState(), BatteryState::Unknown);
    device.setBatteryMonitoringEnabled(true);
    EXPECT_EQ(device.batteryLevel(), 0.5f);
    EXPECT_EQ(device.batteryState(), BatteryState::Charging);

    int changes = 0;
    ObserverRegistration reg(NotificationCenter::defaultCenter(),
                             NotificationCenter::defaultCenter().addObserver(
                                 kDeviceOrientationDidChangeNotification, nullptr,
                                 [&](const Notification&) { ++changes; }));
    device.setOrientation(DeviceOrientation::LandscapeLeft);
    device.setOrientation(DeviceOrientation::LandscapeLeft);
    EXPECT_EQ(changes, 1);
}
