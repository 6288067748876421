#include "libmerovane/core/MVConnectionLossMonitor.h"
#include "libmerovane/storage/MVWebCacheResourceObject.h"
#include "libmerovane/webcache/MVWebCacheHTTPDataSource.h"
#include "platform/foundation/HTTPCookie.h"
#include "platform/foundation/HTTPCookieStorage.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "tests/support/HttpTestServer.h"
#include "tests/webcache/WebCacheSourceFixture.h"

namespace {

using nlohmann::json;
using Monitor = MVConnectionLossMonitor;

// What one load of the source answered.
struct HttpSourceOutcome {
    int answers = 0;
    std::string data;
    json info;
    std::optional<platform::Error> error;
};

class MVWebCacheHTTPDataSourceTest : public WebCacheSourceTest {
  protected:
    void SetUp() override {
        WebCacheSourceTest::SetUp();
        MVWebCacheDataSource::registerBuiltInDataSources();
    }
    static std::shared_ptr<MVWebCacheHTTPDataSource> source() {
        return MVWebCacheHTTPDataSource::sharedDataSource();
    }
    // Loads through the source itself, as the web cache does.
    std::shared_ptr<HttpSourceOutcome> load(const std::string& key) {
        auto out = std::make_shared<HttpSourceOutcome>();
        source()->loadDataForKey(
            key, 0,
            [out](const Data& data, const json& info) {
                ++out->answers;
                out->data = textOf(data);
                out->info = info;
            },
            [out](const platform::Error& error) {
                ++out->answers;
                out->error = error;
            });
        return out;
    }
    bool waitForRequests(const std::string& path, size_t count) {
        return waitFor([&] { return server_.requestCount(path) >= count; });
    }
    static size_t backgroundTasks() {
        return platform::Application::shared().backgroundTasksForTesting().size();
    }
    std::optional<double> storedLifetime(const std::string& key) {
        MVWebCache::waitForFileOperations();
        std::optional<double> lifetime;
        storage().lockedAccess([&] {
            if (auto row = MVWebCacheResourceObject::dbObjectWithID(key)) {
                lifetime = row->maximumLifetime().value_or(-1);
            }
        });
        return lifetime;
    }
    static HttpTestServer::Response slowAnswer(double delay, std::string body, std::string type) {
        auto response = HttpTestServer::Response::text(200, std::move(body), std::move(type));
        response.delay = delay;
        return response;
    }

    HttpTestServer server_;
};

TEST_F(MVWebCacheHTTPDataSourceTest, ClaimsHttpAndHttpsUrlsOnly) {
    const struct {
        const char* key;
        int priority;
    } rows[] = {
        {"http://shop.example/", 1}, {"https://shop.example/a.css", 1},
        {"HTTP://shop.example/", 0},  // schemes compare exactly
        {"ftp://shop.example/", 0},  {"mv-api-page:home", 0},
        {"shop.example/a", 0},       {"", 0},
        {"https ://x", 0},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(source()->priorityForKey(row.key), row.priority) << row.key;
    }
    EXPECT_EQ(MVWebCacheDataSource::sourceForKey("https://shop.example/"), source());
}

TEST_F(MVWebCacheHTTPDataSourceTest, AHangingStyleSheetGetsConnectionsAtZeroFiveAndTenSeconds) {
    std::atomic<int> served{0};
    server_.handle("/a.css", [&](const HttpTestServer::Request&) {
        static const char* bodies[] = {"first", "second", "third", "fourth"};
        return slowAnswer(12, bodies[std::min(served++, 3)], "text/css");
    });
    const std::string key = server_.url("/a.css");
    auto answers = lookup(key);
    ASSERT_TRUE(waitForRequests("/a.css", 1));
    platform::advanceBy(4.9);
    EXPECT_EQ(server_.requestCount("/a.css"), 1u);
    platform::advanceBy(0.1);
    ASSERT_TRUE(waitForRequests("/a.css", 2));
    platform::advanceBy(5);
    ASSERT_TRUE(waitForRequests("/a.css", 3));
    EXPECT_TRUE(logged("HTTP Request Failsafe [" + key +
                       "] reached timeout and will open another connection (1 waiting "
                       "connection)"));
    EXPECT_TRUE(logged("(2 waiting connections)"));
    platform::advanceBy(2);  // 12 s: the first answers
    ASSERT_TRUE(waitFor([&] { return answers->finished(); }));
    EXPECT_EQ(textOf(answers->data), "first");
    EXPECT_EQ(source()->runningConnectionCount(), 0u);  // the other two were cancelled
    platform::advanceBy(10);                            // their answers find nobody
    EXPECT_EQ(server_.requestCount("/a.css"), 3u);
    EXPECT_EQ(loggedCount("reached timeout"), 2u);
    EXPECT_EQ(answers->finals, 1);
}

TEST_F(MVWebCacheHTTPDataSourceTest, AFailingFailsafeConnectionIsSilentWhileAnotherWorks) {
    std::atomic<int> served{0};
    server_.handle("/b.png", [&](const HttpTestServer::Request&) {
        HttpTestServer::Response dropped;
        dropped.closeWithoutResponse = true;
        return ++served == 2 ? dropped : slowAnswer(12, "png", "image/png");
    });
    auto outcome = load(server_.url("/b.png"));
    ASSERT_TRUE(waitForRequests("/b.png", 1));
    platform::advanceBy(5);
    ASSERT_TRUE(waitForRequests("/b.png", 2));  // dropped at once
    platform::advanceBy(5);
    ASSERT_TRUE(waitForRequests("/b.png", 3));
    platform::advanceBy(2);
    ASSERT_TRUE(waitFor([&] { return outcome->answers == 1; }));
    EXPECT_EQ(outcome->data, "png");
    EXPECT_FALSE(outcome->error);
    EXPECT_FALSE(logged("will be repeated"));
}

TEST_F(MVWebCacheHTTPDataSourceTest, AHangingPageGetsOneConnection) {
    server_.respond("/page.html", slowAnswer(12, "<html/>", "text/html"));
    auto answers = lookup(server_.url("/page.html"));
    ASSERT_TRUE(waitForRequests("/page.html", 1));
    for (int step = 0; step < 12; ++step) platform::advanceBy(1);
    ASSERT_TRUE(waitFor([&] { return answers->finished(); }));
    EXPECT_EQ(textOf(answers->data), "<html/>");
    EXPECT_EQ(server_.requestCount("/page.html"), 1u);
    EXPECT_FALSE(logged("Failsafe"));
}

TEST_F(MVWebCacheHTTPDataSourceTest, A404IsStoredAndDeliveredWithItsStatus) {
    const std::string key = server_.url("/missing");  // the server answers 404
    auto answers = lookup(key);
    ASSERT_TRUE(waitFor([&] { return answers->finished(); }));
    EXPECT_FALSE(answers->error);
    EXPECT_EQ(answers->info["http-status-code"], 404);
    EXPECT_EQ(answers->info["http-version"], "HTTP/1.1");
    EXPECT_EQ(storedLifetime(key), 0.0);
}

TEST_F(MVWebCacheHTTPDataSourceTest, ATimedOutLoadIsRepeatedAndOnlyTheRepeatAnswers) {
    HttpTestServer::Response silent;
    silent.noResponse = true;
    server_.respondOnce("/slow.json", silent);
    server_.respond("/slow.json", HttpTestServer::Response::text(200, "{}", "application/json"));
    const std::string key = server_.url("/slow.json");
    auto answers = lookup(key);
    ASSERT_TRUE(waitForRequests("/slow.json", 1));
    ASSERT_TRUE(waitFor([] { return backgroundTasks() == 1; }));
    platform::advanceBy(MVWebCacheHTTPDataSource::kRequestTimeout);
    EXPECT_TRUE(
        logged("MVWebCacheHTTPDataSource<10000> will be repeated in 5 seconds. [" + key + "]"));
    // The first attempt's task ended with it; nobody was answered.
    EXPECT_EQ(backgroundTasks(), 0u);
    EXPECT_EQ(answers->events, std::vector<std::string>{"starts"});
    platform::advanceBy(4.9);
    EXPECT_EQ(server_.requestCount("/slow.json"), 1u);
    platform::advanceBy(0.1);
    ASSERT_TRUE(waitFor([&] { return answers->finished(); }));
    EXPECT_EQ(answers->events, (std::vector<std::string>{"starts", "available(false,false)"}));
    EXPECT_EQ(textOf(answers->data), "{}");
    EXPECT_EQ(server_.requestCount("/slow.json"), 2u);
    EXPECT_TRUE(logged("MVWebCacheHTTPDataSource<10001> HTTP Request [" + key + "]"));
    EXPECT_EQ(backgroundTasks(), 0u);
}

TEST_F(MVWebCacheHTTPDataSourceTest, WhileTheMonitorRefusesALoadWaitsInQuarterSecondSteps) {
    server_.respond("/gate", HttpTestServer::Response::text(200, "open"));
    Monitor::sharedMonitor().setState(Monitor::kStateLostBlocking);
    const auto before = Monitor::sharedMonitor().lastReportedAttemt();
    auto outcome = load(server_.url("/gate"));
    platform::runUntilIdle();  // refused on the request thread
    for (int step = 0; step < 3; ++step) platform::advanceBy(0.25);
    EXPECT_EQ(Monitor::sharedMonitor().lastReportedAttemt(), before);
    Monitor::sharedMonitor().setState(Monitor::kStateOpened);
    const auto allowedAt = platform::Date::now();
    platform::advanceBy(0.2);
    EXPECT_EQ(Monitor::sharedMonitor().lastReportedAttemt(), before);
    platform::advanceBy(0.05);
    EXPECT_EQ(Monitor::sharedMonitor().lastReportedAttemt(), allowedAt.addingTimeInterval(0.25));
    ASSERT_TRUE(waitFor([&] { return outcome->answers == 1; }));
    EXPECT_EQ(outcome->data, "open");
    EXPECT_EQ(server_.requestCount("/gate"), 1u);
}

TEST_F(MVWebCacheHTTPDataSourceTest, AClaimedHugeLengthReservesNoMoreThanTheBodyNeeds) {
    HttpTestServer::Response response;
    response.chunked = true;
    response.chunks = {"0123456789"};
    response.headers.set("Content-Length", "1000000000000");
    server_.respond("/huge", response);
    const std::string key = server_.url("/huge");
    auto answers = lookup(key);
    ASSERT_TRUE(waitFor([&] { return answers->finished(); }));
    ASSERT_FALSE(answers->error);
    EXPECT_EQ(textOf(answers->data), "0123456789");
    EXPECT_TRUE(storedLifetime(key).has_value());
}

TEST_F(MVWebCacheHTTPDataSourceTest, ABodyPastTheLimitFailsTheLoadWithALoggedError) {
    source()->setMaximumBodyLengthForTesting(1000);
    server_.respond("/big", HttpTestServer::Response::text(200, std::string(5000, 'x')));
    const std::string key = server_.url("/big");
    auto answers = lookup(key);
    ASSERT_TRUE(waitFor([&] { return answers->finished(); }));
    ASSERT_TRUE(answers->error);
    EXPECT_EQ(answers->error->code(), MVWebCacheHTTPDataSource::kDataLengthExceedsMaximum);
    EXPECT_TRUE(logged("HTTP Response of [" + key + "] is longer than 1000 bytes"));
    EXPECT_FALSE(storedLifetime(key));
    EXPECT_EQ(source()->runningConnectionCount(), 0u);
    EXPECT_EQ(backgroundTasks(), 0u);
}

TEST_F(MVWebCacheHTTPDataSourceTest, RedirectsIntoTheAppsSchemesEndTheLoad) {
    server_.respond("/moved", HttpTestServer::Response::redirect(302, "/target"));
    server_.respond("/target", HttpTestServer::Response::text(200, "here"));
    server_.respond("/api", HttpTestServer::Response::redirect(302, "mvapi:home", "to api"));
    server_.respond("/cmd", HttpTestServer::Response::redirect(301, "mvcmd:%7B%7D", "to cmd"));
    const struct {
        const char* path;
        std::string lastRedirect;
        int status;
        const char* body;
        std::string line;
    } rows[] = {
        {"/moved", server_.url("/target"), 200, "here",
         "> HTTP Redirect 302 [" + server_.url("/target") + "]"},
        {"/api", "mvapi:home", 302, "to api", "> API Redirect 302 [mvapi:home] switching protocol"},
        {"/cmd", "mvcmd:%7B%7D", 301, "to cmd", "> was redirected to command scheme[mvcmd:%7B%7D]"},
    };
    for (const auto& row : rows) {
        auto outcome = load(server_.url(row.path));
        ASSERT_TRUE(waitFor([&] { return outcome->answers == 1; })) << row.path;
        EXPECT_EQ(outcome->info["last-redirect-url"], row.lastRedirect) << row.path;
        EXPECT_EQ(outcome->info["http-status-code"], row.status) << row.path;
        EXPECT_EQ(outcome->data, row.body) << row.path;
        EXPECT_TRUE(logged(row.line)) << row.path;
    }
    EXPECT_EQ(server_.requestCount("/target"), 1u);
}

TEST_F(MVWebCacheHTTPDataSourceTest, TheInfoDictionaryReadsTheResponse) {
    auto response = HttpTestServer::Response::text(200, "body{}", "text/css; charset=UTF-8");
    response.headers.set("Cache-Control", "public, max-age=300");
    response.headers.add("X-Twice", "a");
    response.headers.add("X-Twice", "b");
    server_.respond("/s.css", response);
    const std::string key = server_.url("/s.css");
    auto outcome = load(key);
    ASSERT_TRUE(waitFor([&] { return outcome->answers == 1; }));
    EXPECT_EQ(outcome->info["maximum-lifetime"], 300);
    EXPECT_EQ(outcome->info["mime-type"], "text/css");
    EXPECT_EQ(outcome->info["charset"], "UTF-8");
    EXPECT_EQ(outcome->info["http-status-code"], 200);
    EXPECT_EQ(outcome->info["http-version"], "HTTP/1.1");
    EXPECT_EQ(outcome->info["http-header-fields"]["X-Twice"], "a, b");
    EXPECT_EQ(outcome->info["http-header-fields"]["Content-Length"], "6");
    EXPECT_FALSE(outcome->info.contains("last-redirect-url"));
    EXPECT_FALSE(outcome->info.contains("stored-length"));
    EXPECT_EQ(storedLifetime(key), 300.0);
    // Duration 0 on the manual clock: the speed is -1 B/s.
    EXPECT_TRUE(logged("MVWebCacheHTTPDataSource<10000> HTTP Response [" + key +
                       "] ( text/css; charset=UTF-8 | public, max-age=300 | 0 kB | 0.00s | -0.00 "
                       "kB/s )"));
}

TEST_F(MVWebCacheHTTPDataSourceTest, RequestsCarryTheUserAgentAndTheSharedCookies) {
    platform::HTTPCookie::Properties properties;
    properties.name = "session";
    properties.value = "s1";
    properties.domain = "127.0.0.1";
    auto cookie = platform::HTTPCookie::make(properties);
    ASSERT_TRUE(cookie);
    platform::HTTPCookieStorage::shared().setCookie(*cookie);
    auto response = HttpTestServer::Response::text(200, "ok");
    response.headers.add("Set-Cookie", "fresh=f1; Path=/");
    server_.respond("/who", response);
    auto outcome = load(server_.url("/who"));
    ASSERT_TRUE(waitFor([&] { return outcome->answers == 1; }));
    auto request = server_.lastRequest("/who");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->header("User-Agent"), TestApiConnectionHost::kUserAgent);
    EXPECT_EQ(request->header("Cookie"), "session=s1");
    bool fresh = false;
    for (const auto& c : platform::HTTPCookieStorage::shared().cookies()) {
        if (c.name() == "fresh") fresh = true;
    }
    EXPECT_TRUE(fresh);
}

TEST_F(MVWebCacheHTTPDataSourceTest, EqualRequestsJoinOneLoadAndAreAnsweredEach) {
    auto held = HttpTestServer::Response::text(200, "shared");
    held.holdUntilReleased = "gate";
    server_.respond("/one", held);
    auto first = load(server_.url("/one"));
    ASSERT_TRUE(waitForRequests("/one", 1));
    auto second = load(server_.url("/one"));
    platform::runUntilIdle();
    EXPECT_EQ(source()->runningLoadCount(), 1u);
    server_.release("gate");
    ASSERT_TRUE(waitFor([&] { return first->answers == 1 && second->answers == 1; }));
    EXPECT_EQ(first->data, "shared");
    EXPECT_EQ(second->data, "shared");
    EXPECT_EQ(server_.requestCount("/one"), 1u);
}

TEST_F(MVWebCacheHTTPDataSourceTest, NearEmptyScriptsOfTheMakersServersAreLoadedAgain) {
    MVWebCacheHTTPDataSource::setShortScriptDomains({"127.0.0.1"});
    server_.respondOnce("/app.js", HttpTestServer::Response::text(200, "", "text/javascript"));
    server_.respond(
        "/app.js", HttpTestServer::Response::text(200, "var ready = 1;", "application/javascript"));
    server_.respond("/tiny.txt", HttpTestServer::Response::text(200, "", "text/plain"));
    const std::string key = server_.url("/app.js");
    auto outcome = load(key);
    auto plain = load(server_.url("/tiny.txt"));
    ASSERT_TRUE(waitFor([&] { return logged("SASS Fix"); }));
    ASSERT_TRUE(waitFor([&] { return plain->answers == 1; }));
    EXPECT_EQ(plain->data, "");  // not a script: stored as it came
    EXPECT_TRUE(logged("MVWebCacheHTTPDataSource<10000> SASS Fix applied for [" + key +
                       "] WILL RETRY LOADING"));
    EXPECT_EQ(outcome->answers, 0);
    platform::advanceBy(MVWebCacheHTTPDataSource::kRepeatDelay);
    ASSERT_TRUE(waitFor([&] { return outcome->answers == 1; }));
    EXPECT_EQ(outcome->data, "var ready = 1;");
}

TEST_F(MVWebCacheHTTPDataSourceTest, ALostConnectionOnASystemBefore7_1IsNotRepeated) {
    HttpTestServer::Response dropped;
    dropped.closeWithoutResponse = true;
    server_.respond("/lost", dropped);
    platform::Device::current().setSystemVersion("7.0.6");
    auto old = load(server_.url("/lost"));
    ASSERT_TRUE(waitFor([&] { return old->answers == 1; }));
    ASSERT_TRUE(old->error);
    EXPECT_EQ(old->error->code(), platform::kURLErrorNetworkConnectionLost);
    EXPECT_TRUE(
        logged("MVWebCacheHTTPDataSource<10000> NSURLErrorNetworkConnectionLost sub "
               "iOS7.1 bugfix. Aborting connection. [" +
               server_.url("/lost") + "]"));
    EXPECT_FALSE(logged("will be repeated"));
}

TEST_F(MVWebCacheHTTPDataSourceTest, ErrorsOutsideTheRetryTableAreDelivered) {
    HttpTestServer::RefusingPort refusing;
    const std::string key = refusing.url("/x.css");
    auto answers = lookup(key);
    ASSERT_TRUE(waitFor([&] { return answers->finished(); }));
    ASSERT_TRUE(answers->error);
    EXPECT_EQ(answers->error->code(), -1004);
    EXPECT_FALSE(logged("will be repeated"));
    EXPECT_FALSE(storedLifetime(key));
    EXPECT_EQ(backgroundTasks(), 0u);
}

}  // namespace
