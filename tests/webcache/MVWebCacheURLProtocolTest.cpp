#include <deque>
#include <mutex>

#include "libmerovane/bridge/URLRequestWebCache.h"
#include "libmerovane/connection/MVApiConnection.h"
#include "libmerovane/webcache/MVWebCache.h"
#include "libmerovane/webcache/MVWebCacheDataSource.h"
#include "libmerovane/webcache/MVWebCacheURLProtocol.h"
#include "platform/foundation/HTTPCookie.h"
#include "platform/foundation/HTTPCookieStorage.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/URLConnection.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/RecordingConnectionDelegate.h"
#include "tests/support/StorageFixture.h"
#include "tests/support/TestApiConnectionHost.h"

using platform::URLRequest;
using ServerResponse = HttpTestServer::Response;

namespace {

constexpr double kProtocolIO = 20.0;  // generous real-time bound for loopback I/O

MVWebCacheInterface::Data protocolBytes(const std::string& s) {
    return std::make_shared<const std::vector<uint8_t>>(s.begin(), s.end());
}

URLRequest protocolRequest(const std::string& url, const std::string& method = "GET") {
    URLRequest request(*platform::URL::parse(url));
    request.setHTTPMethod(method);
    return request;
}

// What a protocol tells its client, as lines like "response 200", "data 4096",
// "redirect mvcmd:…", "finish", "fail domain 404". Any thread.
class ProtocolRecordingClient : public platform::URLProtocolClient {
  public:
    void didReceiveResponse(const platform::HTTPURLResponse& response) override {
        std::lock_guard lock(mutex_);
        responses_.push_back(response);
        events_.push_back("response " + std::to_string(response.statusCode()));
    }
    void didLoadData(std::vector<uint8_t> data) override {
        std::lock_guard lock(mutex_);
        body_.append(data.begin(), data.end());
        events_.push_back("data " + std::to_string(data.size()));
    }
    void didFinishLoading() override { note("finish"); }
    void didFailWithError(const platform::Error& error) override {
        note("fail " + error.domain() + " " + std::to_string(error.code()));
    }
    void wasRedirectedToRequest(const URLRequest& request,
                                const platform::HTTPURLResponse&) override {
        note("redirect " + request.url().absoluteString());
    }

    std::vector<std::string> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    size_t count(const std::string& prefix) const {
        size_t n = 0;
        for (const auto& e : events()) n += e.rfind(prefix, 0) == 0;
        return n;
    }
    bool ended() const { return count("finish") + count("fail") > 0; }
    std::string body() const {
        std::lock_guard lock(mutex_);
        return body_;
    }
    platform::HTTPURLResponse response() const {
        std::lock_guard lock(mutex_);
        return responses_.empty() ? platform::HTTPURLResponse() : responses_.front();
    }

  private:
    void note(std::string event) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
    }
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
    std::vector<platform::HTTPURLResponse> responses_;
    std::string body_;
};

// Claims every key and answers only when the test says so.
class ProtocolHeldSource : public MVWebCacheDataSource {
  public:
    int priorityForKey(const std::string&) const override { return 1; }
    void loadDataForKey(const std::string& key, int64_t, WhenAvailable ok, WhenFailed) override {
        std::lock_guard lock(mutex);
        pending.push_back({key, std::move(ok)});
    }
    size_t pendingCount() {
        std::lock_guard lock(mutex);
        return pending.size();
    }
    void answer(const std::string& body) {
        std::pair<std::string, WhenAvailable> p;
        {
            std::lock_guard lock(mutex);
            p = std::move(pending.front());
            pending.pop_front();
        }
        p.second(protocolBytes(body), {{"maximum-lifetime", 60}});
    }
    std::mutex mutex;
    std::deque<std::pair<std::string, WhenAvailable>> pending;
};

class MVWebCacheURLProtocolTest : public StorageTest {
  protected:
    void SetUp() override {
        StorageTest::SetUp();
        MVWebCache::sharedCache();
    }

    void cache(const std::string& url, const std::string& body, nlohmann::json info = {}) {
        info["maximum-lifetime"] = 600;
        MVWebCache::sharedCache().setData(protocolBytes(body), url, info);
    }

    // A protocol instance driven by the test on the main loop.
    std::shared_ptr<MVWebCacheURLProtocol> start(const URLRequest& request) {
        client_ = std::make_shared<ProtocolRecordingClient>();
        protocol_ = std::make_shared<MVWebCacheURLProtocol>(request, client_);
        protocol_->startLoading();
        return protocol_;
    }

    // A load through URL loading, as a web view's fetch makes it.
    std::shared_ptr<RecordingConnectionDelegate> loadThroughURLLoading(const URLRequest& request) {
        auto recorder = std::make_shared<RecordingConnectionDelegate>();
        connection_ = platform::URLConnection::start(request, recorder, platform::RunLoop::main());
        return recorder;
    }

    // Slices are paced on the platform clock: step it until the load has ended.
    template <class Done>
    bool stepUntil(Done done) {
        for (int i = 0; i < 2000 && !done(); ++i) {
            platform::advanceBy(0.001);
            platform::runUntil(done, 0.001);
        }
        return done();
    }

    HttpTestServer server_;
    std::shared_ptr<ProtocolRecordingClient> client_;
    // Held as URL loading holds its protocols while they run.
    std::shared_ptr<MVWebCacheURLProtocol> protocol_;
    std::shared_ptr<platform::URLConnection> connection_;
};

TEST_F(MVWebCacheURLProtocolTest, AcceptanceFollowsFlagsSchemesAndPlaybackAddresses) {
    struct Row {
        const char* url;
        bool ignore;
        bool taken;
    } const rows[] = {
        {"http://shop.example/a.css", false, true},
        {"https://shop.example/a.css", false, true},
        {"mv-api-page:home", false, true},
        {"http://shop.example/a.css", true, false},  // the library's own load
        {"data:text/plain,hi", false, false},
        {"file:///tmp/a.css", false, false},
        {"mvapi:home", false, false},
        {"mvcmd:%7B%22ver%22:%222.0%22%7D", false, false},
        {"MVCMD:%7B%7D", false, false},  // the web view's rule: schemes in any case
        {"MvApi:home", false, false},
        {"https://video.example.com/videoplayback?id=1", false, false},
        {"https://VIDEO.example.com/videoplayback", false, false},
        {"https://video.example.com/watch", false, true},
    };
    for (const auto& row : rows) {
        auto request = protocolRequest(row.url);
        if (row.ignore) setWillIgnoreWebcache(request, true);
        EXPECT_EQ(MVWebCacheURLProtocol::canInitWithRequest(request), row.taken) << row.url;
    }
    MVWebCacheURLProtocol::setVideoPlaybackHost("clips.example");
    EXPECT_FALSE(MVWebCacheURLProtocol::canInitWithRequest(
        protocolRequest("https://clips.example/videoplayback/x")));
    EXPECT_TRUE(MVWebCacheURLProtocol::canInitWithRequest(
        protocolRequest("https://video.example.com/videoplayback")));
}

TEST_F(MVWebCacheURLProtocolTest, PostsAndCredentialedRequestsTakeTheNetworkPath) {
    struct Row {
        const char* method;
        const char* header;
        bool network;
    } const rows[] = {
        {"GET", nullptr, false},
        {"POST", nullptr, true},
        {"PUT", nullptr, false},
        {"GET", "X-Requested-With", true},
        {"GET", "Authorization", true},
        // Header names are case-insensitive: credentials never come from the cache.
        {"GET", "authorization", true},
        {"GET", "x-requested-with", true},
        {"GET", "Authorization-Hint", false},
    };
    for (const auto& row : rows) {
        auto request = protocolRequest("http://shop.example/a", row.method);
        if (row.header) request.setValue("1", row.header);
        EXPECT_EQ(MVWebCacheURLProtocol::takesNetworkPath(request), row.network)
            << row.method << " " << (row.header ? row.header : "");
    }
}

TEST_F(MVWebCacheURLProtocolTest, PreparedRequestCarriesCookiesUserAgentAndIgnoreFlag) {
    MVApiConnection::setHost(std::make_shared<TestApiConnectionHost>());
    const auto url = *platform::URL::parse("http://shop.example/a");
    platform::HTTPCookieStorage::shared().setCookies(
        {*platform::HTTPCookie::parseSetCookie("sid=7; Path=/", url)}, url, std::nullopt);
    MVWebCacheURLProtocol protocol(protocolRequest(url.absoluteString()),
                                   std::make_shared<ProtocolRecordingClient>());
    const auto& prepared = protocol.preparedRequest();
    EXPECT_EQ(prepared.valueForHTTPHeaderField("Cookie"), "sid=7");
    EXPECT_EQ(prepared.valueForHTTPHeaderField("User-Agent"), TestApiConnectionHost::kUserAgent);
    EXPECT_TRUE(willIgnoreWebcache(prepared));
    EXPECT_FALSE(MVWebCacheURLProtocol::canInitWithRequest(prepared));
}

TEST_F(MVWebCacheURLProtocolTest, CachedGetNeverReachesTheServerAndPostDoes) {
    server_.respond("/page", ServerResponse::text(200, "from server", "text/html"));
    const std::string url = server_.url("/page");
    cache(url, "from cache", {{"http-status-code", 200}});

    auto get = loadThroughURLLoading(protocolRequest(url));
    ASSERT_TRUE(stepUntil([&] { return get->isDone(); }));
    EXPECT_EQ(get->body(), "from cache");
    EXPECT_EQ(server_.requestCount("/page"), 0u);

    auto post = loadThroughURLLoading(protocolRequest(url, "POST"));
    ASSERT_TRUE(platform::runUntil([&] { return post->isDone(); }, kProtocolIO));
    EXPECT_EQ(post->body(), "from server");
    EXPECT_EQ(server_.requestCount("/page"), 1u);
}

TEST_F(MVWebCacheURLProtocolTest, EmptyBodyAnswersAtOnce) {
    cache("http://shop.example/empty", "");
    start(protocolRequest("http://shop.example/empty"));
    EXPECT_EQ(client_->events(), (std::vector<std::string>{"response 200", "finish"}));
}

TEST_F(MVWebCacheURLProtocolTest, BodiesArriveInSlicesWithTheNoCacheHeaders) {
    const std::string big(1048576, 'x');
    cache("http://shop.example/big.js", big,
          {{"http-status-code", 203},
           {"http-version", "HTTP/1.0"},
           {"local-file-url", "file:///cache/17"},
           {"last-redirect-url", "http://shop.example/moved/big.js"},
           {"http-header-fields",
            {{"Content-Type", "application/javascript"},
             {"Cache-Control", "max-age=600"},
             {"expires", "Wed, 1 Jan 2031 00:00:00 GMT"}}}});
    start(protocolRequest("http://shop.example/big.js"));
    ASSERT_TRUE(stepUntil([&] { return client_->ended(); }));
    EXPECT_EQ(client_->count("data 4096"), 256u);
    EXPECT_EQ(client_->count("data"), 256u);
    EXPECT_EQ(client_->events().back(), "finish");
    EXPECT_EQ(client_->body(), big);
    const auto response = client_->response();
    EXPECT_EQ(response.statusCode(), 203);
    EXPECT_EQ(response.httpVersion(), "HTTP/1.0");
    EXPECT_EQ(response.url().absoluteString(), "http://shop.example/moved/big.js");
    EXPECT_EQ(response.valueForHTTPHeaderField("Cache-Control"),
              "no-cache, must-revalidate, no-store");
    EXPECT_EQ(response.valueForHTTPHeaderField("Pragma"), "no-cache");
    EXPECT_EQ(response.valueForHTTPHeaderField("Expires"), "0");
    EXPECT_EQ(response.valueForHTTPHeaderField("X-Cache-Local-URL"), "file:///cache/17");
    EXPECT_EQ(response.mimeType(), "application/javascript");

    cache("http://shop.example/ten", std::string(10000, 'y'));
    start(protocolRequest("http://shop.example/ten"));
    ASSERT_TRUE(stepUntil([&] { return client_->ended(); }));
    EXPECT_EQ(client_->events(), (std::vector<std::string>{"response 200", "data 4096", "data 4096",
                                                           "data 1808", "finish"}));
}

TEST_F(MVWebCacheURLProtocolTest, RedirectToCommandSchemeIsReportedOnceAndNotFollowed) {
    server_.respond("/jump", ServerResponse::redirect(302, "mvcmd:%7B%22ver%22%7D", "moved"));
    start(protocolRequest(server_.url("/jump"), "POST"));
    ASSERT_TRUE(platform::runUntil([&] { return client_->ended(); }, kProtocolIO));
    EXPECT_EQ(client_->count("redirect mvcmd:"), 1u);
    EXPECT_EQ(client_->count("finish") + client_->count("fail"), 1u);
    EXPECT_EQ(client_->count("response 302"), 1u);
    EXPECT_EQ(server_.requestCount(), 1u);
}

TEST_F(MVWebCacheURLProtocolTest, OtherRedirectsAreFollowedPastTheCache) {
    server_.respond("/old", ServerResponse::redirect(302, "/new"));
    server_.respond("/new", ServerResponse::text(200, "network"));
    cache(server_.url("/new"), "cached");
    start(protocolRequest(server_.url("/old"), "POST"));
    ASSERT_TRUE(platform::runUntil([&] { return client_->ended(); }, kProtocolIO));
    EXPECT_EQ(client_->body(), "network");
    EXPECT_EQ(server_.requestCount("/new"), 1u);
}

TEST_F(MVWebCacheURLProtocolTest, StrictShadowModeMissFailsWithTheCacheError) {
    MVWebCache::sharedCache().beginShadowModeWithRefreshingEnabled(false);
    start(protocolRequest("http://shop.example/missing.png"));
    ASSERT_TRUE(platform::runUntil([&] { return client_->ended(); }, kProtocolIO));
    EXPECT_EQ(client_->events(),
              (std::vector<std::string>{"fail MVWebCacheErrorResourceNotFound 404"}));
}

TEST_F(MVWebCacheURLProtocolTest, LongLoadsAreReportedAfterFifteenSeconds) {
    ServerResponse held = ServerResponse::text(200, "late");
    held.holdUntilReleased = "gate";
    server_.respond("/held", held);
    const std::string url = server_.url("/held");
    start(protocolRequest(url, "POST"));
    ASSERT_TRUE(
        platform::runUntil([&] { return server_.requestCount("/held") == 1; }, kProtocolIO));
    platform::advanceBy(15.0);
    EXPECT_FALSE(logged("takes pretty long"));
    platform::advanceBy(5.0);
    EXPECT_EQ(loggedCount("MVWebCacheURLProtocol loading some files takes pretty long:\n" + url +
                          " [ 0.3m ]"),
              1u);
    server_.release("gate");
    ASSERT_TRUE(platform::runUntil([&] { return client_->ended(); }, kProtocolIO));
    EXPECT_EQ(client_->body(), "late");
    platform::advanceBy(5.0);
    EXPECT_EQ(loggedCount("takes pretty long"), 1u);
}

TEST_F(MVWebCacheURLProtocolTest, AStaleEntryIsAnsweredOnceWhenItsReloadEnds) {
    auto source = std::make_shared<ProtocolHeldSource>();
    MVWebCacheDataSource::registerDataSource(source);
    const std::string url = "http://shop.example/stale.css";
    MVWebCache::sharedCache().setData(protocolBytes("old"), url, {{"maximum-lifetime", 1}});
    platform::advanceBy(2);
    // The cache answers from RAM and from disk with a reload pending, then the reload.
    start(protocolRequest(url));
    ASSERT_TRUE(platform::runUntil([&] { return source->pendingCount() == 1; }, kProtocolIO));
    EXPECT_TRUE(client_->events().empty());
    source->answer("new");
    ASSERT_TRUE(stepUntil([&] { return client_->ended(); }));
    EXPECT_EQ(client_->events(), (std::vector<std::string>{"response 200", "data 3", "finish"}));
    EXPECT_EQ(client_->body(), "new");
}

TEST_F(MVWebCacheURLProtocolTest, NoAnswerAfterStopFromTheCache) {
    auto source = std::make_shared<ProtocolHeldSource>();
    MVWebCacheDataSource::registerDataSource(source);
    auto protocol = start(protocolRequest("http://shop.example/late.css"));
    ASSERT_TRUE(platform::runUntil([&] { return source->pendingCount() == 1; }, kProtocolIO));
    protocol->stopLoading();
    source->answer("body");
    platform::advanceBy(0.01);
    EXPECT_TRUE(client_->events().empty());

    // A stream stopped after its first slice sends no more.
    cache("http://shop.example/long.js", std::string(20000, 'z'));
    auto streaming = start(protocolRequest("http://shop.example/long.js"));
    EXPECT_EQ(client_->events(), (std::vector<std::string>{"response 200", "data 4096"}));
    streaming->stopLoading();
    platform::advanceBy(0.01);
    EXPECT_EQ(client_->events().size(), 2u);
}

TEST_F(MVWebCacheURLProtocolTest, StopCancelsTheNetworkLoad) {
    ServerResponse held = ServerResponse::text(200, "late");
    held.holdUntilReleased = "gate";
    server_.respond("/held", held);
    auto protocol = start(protocolRequest(server_.url("/held"), "POST"));
    ASSERT_TRUE(
        platform::runUntil([&] { return server_.requestCount("/held") == 1; }, kProtocolIO));
    protocol->stopLoading();
    ASSERT_TRUE(
        platform::runUntil([&] { return server_.closedConnectionCount() == 1; }, kProtocolIO));
    server_.release("gate");
    platform::runUntilIdle();
    EXPECT_TRUE(client_->events().empty());
}

TEST_F(MVWebCacheURLProtocolTest, MalformedInfosGiveCleanResponses) {
    struct Row {
        nlohmann::json info;
        int status;
        size_t headerCount;  // besides the three no-cache fields
        bool warns;
    } const rows[] = {
        {{{"http-status-code", 404}}, 404, 0, false},
        {{{"http-status-code", "301"}}, 301, 0, false},
        {{{"http-status-code", "abc"}}, 200, 0, true},
        {{{"http-status-code", 99}}, 200, 0, true},
        {{{"http-status-code", 1000}}, 200, 0, true},
        {{{"http-status-code", 1e300}}, 200, 0, true},
        {{{"http-status-code", {1}}}, 200, 0, true},
        {{{"http-header-fields", "Content-Type: text/html"}}, 200, 0, true},
        {{{"http-header-fields", {{"A", "1"}, {"B", 2}, {"C", {1}}}}}, 200, 1, false},
        {{{"last-redirect-url", "not a url"}, {"http-version", 7}}, 200, 0, false},
        {nlohmann::json::array(), 200, 0, false},
    };
    const auto request = protocolRequest("http://shop.example/a");
    for (const auto& row : rows) {
        const size_t before = loggedCount("MVWebCacheURLProtocol");
        const auto response = MVWebCacheURLProtocol::responseForCachedInfo(request, row.info);
        EXPECT_EQ(response.statusCode(), row.status) << row.info.dump();
        EXPECT_EQ(response.allHeaderFields().size(), row.headerCount + 3) << row.info.dump();
        EXPECT_EQ(response.url().absoluteString(), "http://shop.example/a");
        EXPECT_EQ(response.httpVersion(), "HTTP/1.1");
        EXPECT_EQ(loggedCount("MVWebCacheURLProtocol") > before, row.warns) << row.info.dump();
    }
}

}  // namespace
