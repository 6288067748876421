#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>

#include "libmerovane/application/MVPaymentServices.h"
#include "libmerovane/application/UIApplicationDelegateDetour.h"
#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/bridge/MVEventDispatcher.h"
#include "libmerovane/connection/MVApiConnectionVariable.h"
#include "libmerovane/core/MVUserDefaultsKeys.h"
#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "libmerovane/handlers/MVCommandHandler_2_0.h"
#include "libmerovane/storage/MVPersistentStorage.h"
#include "libmerovane/webcache/MVWebCache.h"
#include "libmerovane/webcache/MVWebCacheDataSource.h"
#include "libmerovane/webcache/MVWebCacheHTTPDataSource.h"
#include "platform/device/LocationManager.h"
#include "platform/device/Reachability.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/URLCache.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/Application.h"
#include "platform/ui/ApplicationDelegate.h"
#include "tests/application/LibraryApplicationFixture.h"
#include "tests/support/Deadline.h"
#include "tests/support/FakeWebView.h"
#include "tests/support/RecordingOverlay.h"

using nlohmann::json;

namespace {

// The resource the "holdLoad" command starts loading; the test ends it.
const int kLaunchHeldResource = 0;

void postLaunchLoad(const char* name) {
    platform::NotificationCenter::defaultCenter().post(name, &kLaunchHeldResource);
}

// A host delegate that records what reaches it and may keep notification actions.
class LaunchHostDelegate : public platform::ApplicationDelegate {
  public:
    bool didFinishLaunchingWithOptions(platform::Application&, const json*) override {
        calls.push_back(MVLibraryApplication::sharedLibrary().didFinishLaunching()
                            ? "launch after the library"
                            : "launch first");
        return true;
    }
    std::optional<bool> openURL(platform::Application&, const platform::URL& url,
                                const std::optional<std::string>&, const json*) override {
        calls.push_back("url " + url.absoluteString());
        return false;
    }
    bool handleActionWithIdentifier(platform::Application&, const std::string& identifier,
                                    const json&, std::function<void()> completion) override {
        calls.push_back("action " + identifier);
        kept = std::move(completion);
        return true;
    }
    std::vector<std::string> calls;
    std::function<void()> kept;
};

class OtherLaunchHostDelegate : public platform::ApplicationDelegate {};

class LaunchSequenceTest : public LibraryApplicationTest {
  protected:
    void SetUp() override {
        LibraryApplicationTest::SetUp();
        beforeLibrary();
        // The bundle version of the last run: no update, so a cached script counts.
        platform::UserDefaults::standard().setObject(MVLibraryApplicationLastLaunchedVersion, "42");
        answerRequestHeads(peer_);
        library().setDefaultApiPath(peerUrl(peer_));
        // The stream stands before the launch: the clock then moves for the launch alone.
        auto& connection = MVApiConnection::sharedConnection();
        platform::advanceBy(MVApiConnection::kStartDelay);
        ASSERT_TRUE(waitFor([&] { return connection.state() == MVApiConnectionStateStreaming; }));
        registerCommandHandlerClasses();
        MVCommandHandler_2_0::commandTable().add(
            "holdLoad", {MVSpec{},
                         [](MVCommandHandler&, json*, const std::shared_ptr<MVWebView>&) {
                             postLaunchLoad("MVWebViewDidStartLoadingNotification");
                         },
                         false});
        overlays_ = RecordingOverlay::install();
    }
    // What the home folder holds before the library first starts.
    virtual void beforeLibrary() {}
    void launch(const json* options = nullptr) {
        auto& app = platform::Application::shared();
        tasksBefore_ = app.backgroundTasksForTesting().size();
        app.setDelegate(host_);
        app.finishLaunching(options);
    }
    static void cacheScript(const json& cmds) {
        platform::UserDefaults::standard().setObject(
            MVStandardUserDefaultsCachedBootScript,
            {{"cmds", cmds}, {"identifier", "B"}, {"commandHandlerVersion", "2.0"}});
    }
    std::vector<json> sentNamed(const std::string& name) {
        std::vector<json> found;
        for (auto& command : commandsSentSoFar(peer_))
            if (command.value("c", "") == name) found.push_back(command);
        return found;
    }
    // The launch began one background task; the connection keeps its own.
    bool launchTaskRuns() const {
        return platform::Application::shared().backgroundTasksForTesting().size() > tasksBefore_;
    }
    size_t appStartsAtPeer() const {
        size_t count = 0;
        for (const auto& packet : peer_.packets())
            for (const auto& command : packet.decoded.value.value("cmds", json::array()))
                count += command.value("c", "") == "appStart";
        return count;
    }
    static bool flag(const char* key) { return platform::UserDefaults::standard().boolForKey(key); }
    static bool has(const char* key) {
        return platform::UserDefaults::standard().objectForKey(key).has_value();
    }

    // A start that finds the script unusable sends the app start, replays nothing and
    // completes at once.
    void expectScriptDiscarded(bool failsafe, bool caching) {
        cacheScript(json::array({{{"c", "holdLoad"}}}));
        platform::UserDefaults::standard().setObject(MVLibraryApplicationFailsafeToken, failsafe);
        launch();
        // The host's launch handler switches caching.
        MVWebCache::sharedCache().setIsCachingEnabled(caching);
        platform::advanceBy(MVLibraryApplication::kStartDelay);
        EXPECT_FALSE(has(MVStandardUserDefaultsCachedBootScript));
        EXPECT_FALSE(has(MVLibraryApplicationFailsafeToken));
        EXPECT_FALSE(MVWebCache::sharedCache().isShadowModeEnabled());
        EXPECT_FALSE(logged("boots app using script"));
        EXPECT_FALSE(launchTaskRuns());
        EXPECT_EQ(sentNamed("appStart").size(), 1u);
    }

    peer::ApiPeer peer_;
    size_t tasksBefore_ = 0;
    std::shared_ptr<LaunchHostDelegate> host_ = std::make_shared<LaunchHostDelegate>();
    std::shared_ptr<RecordingOverlay::List> overlays_;
};

TEST_F(LaunchSequenceTest, AReachabilityReportStartsOnceAndTheTimedCallDoesNothing) {
    launch();
    EXPECT_EQ(host_->calls, std::vector<std::string>{"launch after the library"});
    EXPECT_TRUE(launchTaskRuns());
    platform::advanceBy(0.05);
    EXPECT_FALSE(library().didSendAppStart());
    platform::Reachability::setStatusForTesting(platform::Reachability::Status::ReachableViaWiFi);
    platform::runUntilIdle();
    EXPECT_TRUE(library().didSendAppStart());
    EXPECT_TRUE(logged("MVLibraryApplication is now connected to network via WIFI"));
    platform::advanceBy(MVApiConnection::kCommandBatchDelay);
    EXPECT_TRUE(waitFor([&] { return appStartsAtPeer() == 1; }));
    // Without a cached script the start completed: the launch task has ended.
    EXPECT_FALSE(launchTaskRuns());
    // Neither the timed call nor a second launch call starts again.
    EXPECT_TRUE(library().didFinishLaunchingWithOptions(platform::Application::shared(), nullptr));
    platform::advanceBy(0.2);
    EXPECT_FALSE(launchTaskRuns());
    EXPECT_EQ(loggedCount("MVApiConnection sending MVCommand.appStart("), 1u);
}

TEST_F(LaunchSequenceTest, WithoutReportsTheStartWaitsForTheDelayThenOpensTheLaunchLinks) {
    platform::LocationManager::setAuthorizationStatus(
        platform::LocationManager::AuthorizationStatus::Denied);
    const json options{{"url", "merovane-shop://product/7"},
                       {"remoteNotification", {{"merovane", 12}}}};
    launch(&options);
    platform::advanceBy(0.14);
    EXPECT_FALSE(library().didSendAppStart());
    platform::advanceBy(0.01);
    EXPECT_TRUE(library().didSendAppStart());
    EXPECT_EQ(sentNamed("appStart").size(), 1u);
    // The web cache's data sources stand: HTTP and the API server's pages.
    EXPECT_EQ(MVWebCacheDataSource::sourceForKey("https://shop.example/a.css")->className(),
              "MVWebCacheHTTPDataSource");
    EXPECT_EQ(MVWebCacheDataSource::sourceForKey("mv-api-page:home")->className(),
              "MVWebCacheApiDataSource");
    EXPECT_EQ(sentNamed("locationServiceStatusDidChange"),
              (std::vector<json>{
                  {{"c", "locationServiceStatusDidChange"}, {"p", {{"allowed", false}}}}}));
    EXPECT_EQ(interjections->calls,
              (std::vector<json>{{"open", "12"}, {"link", "product/7", "", false}}));
}

TEST_F(LaunchSequenceTest, AScheduledShadowModeReplaysRefreshingWithoutTimeOut) {
    cacheScript(json::array({{{"c", "holdLoad"}}}));
    platform::UserDefaults::standard().setObject(MVWebCacheShadowModeScheduledAtAppStart, true);
    launch();
    platform::advanceBy(MVLibraryApplication::kStartDelay);
    auto& cache = MVWebCache::sharedCache();
    EXPECT_TRUE(cache.isShadowModeEnabled());
    EXPECT_TRUE(cache.isShadowModeRefreshingEnabled());
    EXPECT_FALSE(has(MVWebCacheShadowModeScheduledAtAppStart));
    EXPECT_TRUE(flag(MVLibraryApplicationFailsafeToken));
    EXPECT_TRUE(
        logged("MVLibraryApplication boots app using script with Identifier: \"B\" refreshing "
               "resources."));
    const auto starts = sentNamed("appStart");
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0]["p"]["bootAppIdentifier"], "B");

    platform::advanceBy(MVLibraryApplication::kCachedBootAppTimeout);
    EXPECT_TRUE(overlays_->empty());
    EXPECT_TRUE(has(MVStandardUserDefaultsCachedBootScript));

    postLaunchLoad("MVWebViewDidFinishLoadingNotification");
    platform::runUntilIdle();
    EXPECT_FALSE(cache.isShadowModeEnabled());
    EXPECT_FALSE(has(MVLibraryApplicationFailsafeToken));
    EXPECT_TRUE(logged("Time until endShadowMode(): "));
    EXPECT_FALSE(launchTaskRuns());
}

TEST_F(LaunchSequenceTest, AHangingReplayShowsTheTimeOutOverlayWhoseButtonEndsTheApp) {
    cacheScript(json::array({{{"c", "holdLoad"}}}));
    launch();
    platform::advanceBy(MVLibraryApplication::kStartDelay);
    EXPECT_TRUE(logged("MVLibraryApplication boots app using script with Identifier: \"B\"."));
    EXPECT_FALSE(MVWebCache::sharedCache().isShadowModeRefreshingEnabled());
    platform::advanceBy(MVLibraryApplication::kCachedBootAppTimeout - 0.01);
    EXPECT_TRUE(overlays_->empty());
    platform::advanceBy(0.01);
    ASSERT_EQ(overlays_->size(), 1u);
    auto overlay = overlays_->front();
    EXPECT_TRUE(overlay->asScreenShot);
    EXPECT_EQ(overlay->title, MVLocalizedString("#cachedbootapp.timeout.reached"));
    EXPECT_EQ(overlay->buttonTitle, MVLocalizedString("#cachedbootapp.timeout.reached.confirm"));
    EXPECT_FALSE(overlay->buttonHidden);
    EXPECT_EQ(overlay->fades, std::vector<std::string>{"in 0.3"});
    // The script is gone; the failsafe stays while shadow mode is on.
    EXPECT_FALSE(has(MVStandardUserDefaultsCachedBootScript));
    EXPECT_TRUE(flag(MVLibraryApplicationFailsafeToken));
    try {
        overlay->tapButton();
        ADD_FAILURE() << "the button returned";
    } catch (const platform::Exception& e) {
        EXPECT_EQ(e.name(), MVLibraryApplicationHasBeenTerminatedException);
    }
    // Resources that finish late still complete the start.
    postLaunchLoad("MVWebViewDidFinishLoadingNotification");
    platform::runUntilIdle();
    EXPECT_FALSE(has(MVLibraryApplicationFailsafeToken));
    EXPECT_FALSE(MVWebCache::sharedCache().isShadowModeEnabled());
}

TEST_F(LaunchSequenceTest, AFailsafeLeftSetDiscardsTheScript) {
    expectScriptDiscarded(/*failsafe=*/true, /*caching=*/true);
}

TEST_F(LaunchSequenceTest, CachingSwitchedOffDiscardsTheScript) {
    expectScriptDiscarded(/*failsafe=*/false, /*caching=*/false);
}

TEST_F(LaunchSequenceTest, MalformedCachedScriptsAreLoggedRemovedAndAbsent) {
    const json rows[] = {
        "text",
        json::array(),
        {{"cmds", 5}, {"commandHandlerVersion", "2.0"}},
        {{"cmds", json::array()}},
        {{"cmds", json::array()}, {"commandHandlerVersion", 2}},
        {{"cmds", json::array()}, {"commandHandlerVersion", "two"}},
        {{"cmds", json::array()}, {"commandHandlerVersion", "2.0 "}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.dump());
        platform::UserDefaults::standard().setObject(MVStandardUserDefaultsCachedBootScript, row);
        EXPECT_FALSE(MVLibraryApplication::cachedBootScript());
        EXPECT_FALSE(has(MVStandardUserDefaultsCachedBootScript));
    }
    EXPECT_EQ(loggedCount("MVLibraryApplication removes a malformed cached boot script"),
              std::size(rows));
    const json good{{"cmds", json::array()}, {"commandHandlerVersion", "2.1"}};
    platform::UserDefaults::standard().setObject(MVStandardUserDefaultsCachedBootScript, good);
    EXPECT_EQ(MVLibraryApplication::cachedBootScript(), good);
}

TEST_F(LaunchSequenceTest, AMemoryWarningEmptiesTheZeroSizedUrlCache) {
    launch();
    auto urlCache = platform::URLCache::shared();
    EXPECT_EQ(urlCache->memoryCapacity(), 0u);
    EXPECT_EQ(urlCache->diskCapacity(), 0u);
    EXPECT_EQ(urlCache->diskPath(), library().pathForCaches() + "/nsurlcache");
    const std::string stale = urlCache->diskPath() + "/stale";
    std::filesystem::create_directories(urlCache->diskPath());
    home_->write(stale.substr(home_->path().size() + 1), "x");
    platform::Application::shared().receiveMemoryWarning();
    EXPECT_FALSE(std::filesystem::exists(stale));
}

TEST_F(LaunchSequenceTest, PagesHearOfTheBackgroundAndOfTheSecondsSpentThere) {
    launch();
    auto page = FakeWebView::create(1000);
    MVEventDispatcher::sharedDispatcher().registerWebView(
        page, {"applicationWillEnterBackground", "applicationWillEnterForeground"});
    auto& app = platform::Application::shared();
    app.enterBackground();
    platform::advanceBy(42.5);
    app.enterForeground();
    ASSERT_EQ(page->events.size(), 2u);
    EXPECT_EQ(page->events[0].eventName(), "applicationWillEnterBackground");
    EXPECT_EQ(page->events[1].eventName(), "applicationWillEnterForeground");
    EXPECT_EQ(page->events[1].parameters(), json::array({42}));
}

TEST_F(LaunchSequenceTest, ReachabilityLinesByStatus) {
    library();
    const std::pair<json, const char*> rows[] = {
        {-1, "MVLibraryApplication now using network with unknown connectivity"},
        {0, "MVLibraryApplication is no more connected to any network"},
        {1, "MVLibraryApplication is now connected to network via WWAN with provider: <unkown>"},
        {2, "MVLibraryApplication is now connected to network via WIFI"},
    };
    for (const auto& [status, line] : rows) {
        platform::NotificationCenter::defaultCenter().post(platform::Notification{
            platform::kReachabilityDidChangeNotification,
            nullptr,
            {},
            std::make_shared<json>(json{{platform::kReachabilityNotificationStatusItem, status}})});
        EXPECT_EQ(loggedCount(line), 1u) << line;
    }
    // Other values and a missing status say nothing.
    const size_t before = loggedCount("MVLibraryApplication");
    for (const json& info :
         {json{{platform::kReachabilityNotificationStatusItem, 3}},
          json{{platform::kReachabilityNotificationStatusItem, "x"}}, json::object()})
        platform::NotificationCenter::defaultCenter().post(
            platform::Notification{platform::kReachabilityDidChangeNotification,
                                   nullptr,
                                   {},
                                   std::make_shared<json>(info)});
    EXPECT_EQ(loggedCount("MVLibraryApplication"), before);
}

TEST_F(LaunchSequenceTest, TheDetourRunsTheLibraryFirstAndKeepsTakenUrlsFromTheHost) {
    launch();
    auto& app = platform::Application::shared();
    EXPECT_EQ(app.deliverURL(platform::URL::parse("merovane-shop://a").value(), "x", nullptr),
              true);
    EXPECT_EQ(app.deliverURL(platform::URL::parse("https://shop.example").value(), "x", nullptr),
              false);
    EXPECT_EQ(host_->calls,
              (std::vector<std::string>{"launch after the library", "url https://shop.example"}));
    // A payment under way hears the source application as the system named it, or none.
    struct PaymentUnderWay : MVPaymentServices {
        bool isLibSidedPaymentProcessAtPresent() override { return true; }
        bool handleOpenURL(const std::string&,
                           const std::optional<std::string>& sourceApplication) override {
            sources.push_back(sourceApplication);
            return true;
        }
        std::vector<std::optional<std::string>> sources;
    };
    auto payment = std::make_shared<PaymentUnderWay>();
    MVPaymentServices::setShared(payment);
    const auto reply = platform::URL::parse("tesserawallet-reply://r").value();
    EXPECT_EQ(app.deliverURL(reply, std::nullopt, nullptr), true);
    EXPECT_EQ(app.deliverURL(reply, "wallet", nullptr), true);
    EXPECT_EQ(payment->sources, (std::vector<std::optional<std::string>>{std::nullopt, "wallet"}));
    MVPaymentServices::setShared(nullptr);
    // The host has no handler of its own for remote notifications: the library gets them.
    app.enterBackground();
    app.deliverRemoteNotification({{"merovane", "n1"}});
    EXPECT_EQ(interjections->calls, std::vector<json>{json({"open", "n1"})});
}

TEST_F(LaunchSequenceTest, NotificationActionsCompleteOnceWhenBothSidesHave) {
    launch();
    auto& app = platform::Application::shared();
    int completed = 0;
    // With a library payload: the host keeps its completion; it counts as done 10 s later.
    app.deliverNotificationAction("reply", {{"merovane", "n1"}}, [&] { ++completed; });
    EXPECT_EQ(interjections->calls, (std::vector<json>{{"action", "n1", "reply", "n1"}}));
    EXPECT_EQ(completed, 0);
    platform::advanceBy(UIApplicationDelegateDetour::kHostCompletionTimeout - 0.01);
    EXPECT_EQ(completed, 0);
    platform::advanceBy(0.01);
    EXPECT_EQ(completed, 1);
    host_->kept();  // a late host completion calls nothing again
    EXPECT_EQ(completed, 1);
    // Without one: the host receives the system's completion itself.
    app.deliverNotificationAction("other", {{"aps", 1}}, [&] { completed += 10; });
    EXPECT_EQ(completed, 1);
    host_->kept();
    EXPECT_EQ(completed, 11);
}

TEST_F(LaunchSequenceTest, MultipleOrNoDelegatesAreLogged) {
    library();
    auto& app = platform::Application::shared();
    app.finishLaunching();
    EXPECT_EQ(loggedCount(UIApplicationDelegateDetour::kNoDelegateLine), 1u);
    app.setDelegate(host_);
    app.setDelegate(std::make_shared<LaunchHostDelegate>());
    EXPECT_FALSE(logged("found multiple UIApplicationDelegates"));
    app.setDelegate(std::make_shared<OtherLaunchHostDelegate>());
    EXPECT_TRUE(logged("MVLibraryApplication found multiple UIApplicationDelegates [ "));
}

// The start as the shell makes it over a store of random bytes: the error-log upload
// installed and sending to a loopback log server, the whole start bounded.
class DamagedStoreLaunchTest : public LaunchSequenceTest {
  protected:
    static constexpr double kBound = 60;
    void beforeLibrary() override {
        deadline_.emplace(kBound, "the start over a damaged store");
        std::string bytes(8192, '\0');
        std::mt19937 random(7);
        for (auto& b : bytes) b = static_cast<char>(random());
        home_->write("Library/Caches/libmerovane/general.sqlite", bytes);
        logServer_.respond("/applog/error", HttpTestServer::Response::text(200, ""));
        MVLogServer::setEndpointBase(logServer_.baseURL());
    }
    void TearDown() override {
        deadline_.reset();
        LaunchSequenceTest::TearDown();
    }
    HttpTestServer logServer_;
    std::optional<Deadline> deadline_;
};

TEST_F(DamagedStoreLaunchTest, TheStoreIsMadeAnewTheStartGoesOnAndTheReportReachesTheServer) {
    launch();
    platform::advanceBy(MVLibraryApplication::kStartDelay);
    EXPECT_TRUE(library().didSendAppStart());
    platform::advanceBy(MVApiConnection::kCommandBatchDelay);
    EXPECT_TRUE(waitFor([&] { return appStartsAtPeer() == 1; }));
    EXPECT_FALSE(launchTaskRuns());
    EXPECT_TRUE(logged("MVPersistentStorage kept the damaged store as "));
    const std::string report =
        "errorDescription=" +
        urlEncodedString("MVPersistentStoreCoordinator couldn't load metaData of source database") +
        "&";
    EXPECT_TRUE(waitFor([&] {
        for (auto& request : logServer_.requests())
            if (request.query.find(report) != std::string::npos) return true;
        return false;
    }));
    // The new store works.
    MVPersistentStorage::sharedStorage().lockedAccess(
        [] { EXPECT_TRUE(MVApiConnectionVariable::dbObjectsWithoutFetchingProperties().empty()); });
}

// The names of this process's threads.
std::vector<std::string> threadNames() {
    std::vector<std::string> names;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        std::getline(comm, name);
        names.push_back(name);
    }
    return names;
}

bool hasThread(const std::string& name) {
    const auto names = threadNames();
    // The system keeps 15 characters of a thread's name.
    return std::find(names.begin(), names.end(), name.substr(0, 15)) != names.end();
}

// Where the launch is when the process stops in order, or ends without a stop (a crash).
enum class StopMoment { BeforeTheBootBlock, DuringTheReplay, AfterTheTimeOut, AfterTheReplay };

struct LaunchStop {
    const char* name;
    StopMoment moment;
    bool inOrder;     // the orderly stop, else the process just ends
    bool flagLeft;    // the failsafe flag after it: the next start discards the script
    bool scriptLeft;  // the boot script after it
};

void PrintTo(const LaunchStop& stop, std::ostream* out) {
    *out << stop.name;
}

class LaunchStopTest : public LaunchSequenceTest,
                       public ::testing::WithParamInterface<LaunchStop> {};

// An orderly stop is no failed replay; it closes the API stream and cancels the web
// cache's loads, and their threads end.
TEST_P(LaunchStopTest, AnOrderlyStopKeepsTheReplayAndEndsTheStreamAndTheLoads) {
    const LaunchStop c = GetParam();
    auto& defaults = platform::UserDefaults::standard();
    cacheScript(json::array({{{"c", "holdLoad"}}}));
    // The last start crashed in its replay.
    if (c.moment == StopMoment::BeforeTheBootBlock) {
        defaults.setObject(MVLibraryApplicationFailsafeToken, true);
        defaults.synchronize();
    }
    launch();
    if (c.moment != StopMoment::BeforeTheBootBlock) {
        platform::advanceBy(MVLibraryApplication::kStartDelay);
        ASSERT_TRUE(logged("boots app using script"));
    }
    if (c.moment == StopMoment::AfterTheTimeOut)
        platform::advanceBy(MVLibraryApplication::kCachedBootAppTimeout);
    if (c.moment == StopMoment::AfterTheReplay) {
        postLaunchLoad("MVWebViewDidFinishLoadingNotification");
        platform::runUntilIdle();
    }
    // A load in flight that its server holds.
    HttpTestServer server;
    auto held = HttpTestServer::Response::text(200, "late");
    held.holdUntilReleased = "held";
    server.respond("/held", held);
    MVWebCacheHTTPDataSource::sharedDataSource()->loadDataForKey(
        server.url("/held"), 0, [](const auto&, const auto&) {}, [](const auto&) {});
    ASSERT_TRUE(waitFor([&] { return server.requestCount("/held") == 1; }));
    auto& connection = MVApiConnection::sharedConnection();
    ASSERT_TRUE(waitFor([&] { return connection.state() == MVApiConnectionStateStreaming; }));
    const size_t streams = peer_.connectionCount();

    if (c.inOrder) library().applicationWillTerminate(platform::Application::shared());
    EXPECT_EQ(flag(MVLibraryApplicationFailsafeToken), c.flagLeft);
    EXPECT_EQ(has(MVStandardUserDefaultsCachedBootScript), c.scriptLeft);
    // Written as it is.
    defaults.resetForTesting();
    EXPECT_EQ(flag(MVLibraryApplicationFailsafeToken), c.flagLeft);
    if (!c.inOrder) return;
    for (const char* thread :
         {MVApiConnection::kUpstreamThreadName, MVApiConnection::kDownstreamThreadName,
          MVWebCacheHTTPDataSource::kThreadName})
        EXPECT_FALSE(hasThread(thread)) << thread;
    EXPECT_TRUE(waitFor([&] { return peer_.connection(streams - 1).clientEnded; }));
    EXPECT_TRUE(waitFor([&] { return server.closedConnectionCount() == 1; }));
    // Nothing opens the stream again, whatever is sent.
    connection.sendCommands({MVCommandApiGeneral::appStart()});
    platform::advanceBy(MVApiConnection::kErrorReconnectDelay * 2);
    EXPECT_EQ(peer_.connectionCount(), streams);
    server.release("held");
}

INSTANTIATE_TEST_SUITE_P(
    MomentsOfTheStop, LaunchStopTest,
    ::testing::Values(
        LaunchStop{"BeforeTheBootBlockAfterACrash", StopMoment::BeforeTheBootBlock, true, true,
                   true},
        LaunchStop{"DuringTheReplay", StopMoment::DuringTheReplay, true, false, true},
        LaunchStop{"CrashDuringTheReplay", StopMoment::DuringTheReplay, false, true, true},
        LaunchStop{"AfterTheReplaysTimeOut", StopMoment::AfterTheTimeOut, true, false, false},
        LaunchStop{"AfterTheReplay", StopMoment::AfterTheReplay, true, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
