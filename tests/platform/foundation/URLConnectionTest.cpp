#include <gtest/gtest.h>

#include "platform/foundation/HTTPCookieStorage.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"
#include "platform/foundation/URLConnection.h"
#include "platform/foundation/URLErrors.h"
#include "tests/support/URLLoadingTest.h"
#include "tools/peer/Gzip.h"

using platform::HTTPURLResponse;
using platform::RunLoop;
using platform::URL;
using platform::URLConnection;
using platform::URLRequest;
using Response = HttpTestServer::Response;

namespace {

class URLConnectionTest : public URLLoadingTest {
  protected:
    // Pumps the main loop until a later load on the same loop has ended, so that
    // anything still due from earlier loads would have arrived.
    void settle() {
        server_.respond("/settle", Response::text(200, "ok"));
        auto recorder = load(request("/settle"));
        ASSERT_TRUE(platform::runUntil([&] { return recorder->isDone(); }, kIO));
        platform::runUntilIdle();
    }
};

TEST_F(URLConnectionTest, GetSendsHeadersAndDeliversResponseOnCallerLoop) {
    Response answer = Response::text(200, "hello there", "text/plain; charset=utf-8");
    answer.headers.set("X-Answer", "42");
    answer.headers.set("X-Folded", "first\r\n second");  // an old-style continuation line
    server_.respond("/hello", answer);

    URLRequest r = request("/hello?x=1");
    r.setValue("abc", "X-Token");
    r.setValue("Merovane Test", "User-Agent");
    auto recorder = loadToEnd(r);

    EXPECT_EQ(recorder->events, (std::vector<std::string>{"response 200", "data 11", "finish"}));
    ASSERT_EQ(recorder->responses.size(), 1u);
    const HTTPURLResponse& response = recorder->responses[0];
    EXPECT_EQ(response.url().absoluteString(), server_.url("/hello?x=1"));
    EXPECT_EQ(response.httpVersion(), "HTTP/1.1");
    EXPECT_EQ(response.valueForHTTPHeaderField("x-answer"), "42");
    EXPECT_EQ(response.valueForHTTPHeaderField("X-Folded"), "first second");
    EXPECT_EQ(recorder->body(), "hello there");
    for (const auto& name : recorder->threadNames) EXPECT_EQ(name, "main");

    auto seen = server_.lastRequest("/hello");
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->method, "GET");
    EXPECT_EQ(seen->query, "x=1");
    EXPECT_EQ(seen->header("X-Token"), "abc");
    EXPECT_EQ(seen->header("User-Agent"), "Merovane Test");
    EXPECT_FALSE(seen->header("Expect"));
}

TEST_F(URLConnectionTest, PostSendsTheBody) {
    server_.respond("/submit", Response::text(201, "made"));
    const std::string body("{\"a\":1}\0binary\xff", 15);
    URLRequest r = request("/submit");
    r.setHTTPMethod("POST");
    r.setValue("application/octet-stream", "Content-Type");
    r.setHTTPBody(body);
    auto recorder = loadToEnd(r);

    EXPECT_EQ(recorder->events, (std::vector<std::string>{"response 201", "data 4", "finish"}));
    auto seen = server_.lastRequest("/submit");
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->method, "POST");
    EXPECT_EQ(seen->body, body);
    EXPECT_EQ(seen->header("Content-Type"), "application/octet-stream");
    EXPECT_EQ(seen->header("Content-Length"), "15");
}

TEST_F(URLConnectionTest, OtherMethodsAndEmptyPost) {
    server_.respond("/thing", Response::text(200, "x"));
    URLRequest put = request("/thing");
    put.setHTTPMethod("PUT");
    put.setHTTPBody("data");
    EXPECT_TRUE(loadToEnd(put)->finished);
    EXPECT_EQ(server_.lastRequest("/thing")->method, "PUT");
    EXPECT_EQ(server_.lastRequest("/thing")->body, "data");

    URLRequest post = request("/thing");
    post.setHTTPMethod("POST");
    EXPECT_TRUE(loadToEnd(post)->finished);
    EXPECT_EQ(server_.lastRequest("/thing")->method, "POST");
    EXPECT_EQ(server_.lastRequest("/thing")->header("Content-Length"), "0");

    URLRequest head = request("/thing");
    head.setHTTPMethod("HEAD");
    auto recorder = loadToEnd(head);
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"response 200", "finish"}));
}

TEST_F(URLConnectionTest, RefusedRedirectDeliversTheRedirectResponseAndBody) {
    server_.respond("/old", Response::redirect(302, "/new", "moved along"));
    server_.respond("/new", Response::text(200, "new"));
    auto recorder = std::make_shared<RecordingConnectionDelegate>();
    recorder->onRedirect = [](URLRequest, const HTTPURLResponse&) { return std::nullopt; };
    loadToEnd(request("/old"), recorder);
    ASSERT_TRUE(recorder->isDone());

    EXPECT_EQ(recorder->events, (std::vector<std::string>{"redirect 302 " + server_.url("/new"),
                                                          "response 302", "data 11", "finish"}));
    EXPECT_EQ(recorder->responses[0].valueForHTTPHeaderField("Location"), "/new");
    EXPECT_EQ(recorder->body(), "moved along");
    EXPECT_EQ(server_.requestCount("/new"), 0u);
}

TEST_F(URLConnectionTest, FollowedRedirectLoadsTheNewRequestAsChanged) {
    server_.respond("/a", Response::redirect(302, "/b?step=2", "ignored"));
    server_.respond("/b", Response::text(200, "final"));
    auto recorder = std::make_shared<RecordingConnectionDelegate>();
    recorder->onRedirect = [](URLRequest next, const HTTPURLResponse&) {
        next.setValue("2", "X-Hop");
        return std::optional<URLRequest>(next);
    };
    loadToEnd(request("/a"), recorder);
    ASSERT_TRUE(recorder->isDone());

    EXPECT_EQ(recorder->events,
              (std::vector<std::string>{"redirect 302 " + server_.url("/b?step=2"), "response 200",
                                        "data 5", "finish"}));
    EXPECT_EQ(recorder->redirectResponses[0].statusCode(), 302);
    EXPECT_EQ(recorder->redirectResponses[0].url().absoluteString(), server_.url("/a"));
    EXPECT_EQ(recorder->responses[0].url().absoluteString(), server_.url("/b?step=2"));
    EXPECT_EQ(recorder->body(), "final");
    EXPECT_EQ(server_.lastRequest("/b")->header("X-Hop"), "2");
    EXPECT_EQ(connection_->currentRequest().url().absoluteString(), server_.url("/b?step=2"));
    EXPECT_EQ(connection_->originalRequest().url().absoluteString(), server_.url("/a"));
}

// 303 turns a POST into a bodiless GET; 307 repeats it as it was.
TEST_F(URLConnectionTest, RedirectedPostMethodAndBodyFollowTheStatus) {
    struct Row {
        int status;
        const char* method;
        const char* body;
    } rows[] = {{303, "GET", ""}, {307, "POST", "payload"}};
    for (const auto& row : rows) {
        server_.respond("/form", Response::redirect(row.status, "/done"));
        server_.respond("/done", Response::text(200, "thanks"));
        URLRequest r = request("/form");
        r.setHTTPMethod("POST");
        r.setValue("text/plain", "Content-Type");
        r.setHTTPBody("payload");
        auto recorder = loadToEnd(r);
        ASSERT_TRUE(recorder->finished) << row.status;
        EXPECT_EQ(recorder->redirectRequests[0].httpMethod(), row.method);
        auto seen = server_.lastRequest("/done");
        ASSERT_TRUE(seen);
        EXPECT_EQ(seen->method, row.method);
        EXPECT_EQ(seen->body, row.body);
        if (row.status == 303) {
            EXPECT_FALSE(seen->header("Content-Type"));
        }
    }
}

TEST_F(URLConnectionTest, CredentialsStayWithTheirOriginOnRedirect) {
    HttpTestServer other;
    other.respond("/land", Response::text(200, "elsewhere"));
    server_.respond("/here", Response::text(200, "here"));
    server_.respond("/away", Response::redirect(302, other.url("/land")));
    server_.respond("/stay", Response::redirect(302, "/here"));
    for (const char* path : {"/away", "/stay"}) {
        URLRequest r = request(path);
        r.setValue("Bearer secret", "Authorization");
        r.setValue("own=1", "Cookie");
        ASSERT_TRUE(loadToEnd(r)->finished) << path;
    }
    EXPECT_FALSE(other.lastRequest("/land")->header("Authorization"));
    EXPECT_FALSE(other.lastRequest("/land")->header("Cookie"));
    EXPECT_EQ(server_.lastRequest("/here")->header("Authorization"), "Bearer secret");
    EXPECT_EQ(server_.lastRequest("/here")->header("Cookie"), "own=1");
}

TEST_F(URLConnectionTest, RedirectWithoutUsableLocationIsTheFinalResponse) {
    server_.respond("/nowhere", Response::redirect(302, "http://bad host/", "body"));
    auto recorder = loadToEnd(request("/nowhere"));
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"response 302", "data 4", "finish"}));
}

TEST_F(URLConnectionTest, EndlessRedirectsFail) {
    server_.respond("/loop", Response::redirect(302, "/loop"));
    auto recorder = loadToEnd(request("/loop"));
    ASSERT_TRUE(recorder->error);
    EXPECT_EQ(recorder->error->code(), platform::kURLErrorHTTPTooManyRedirects);
    EXPECT_EQ(recorder->redirectRequests.size(), size_t(URLConnection::kMaximumRedirects + 1));
}

TEST_F(URLConnectionTest, CancelledLoadCallsNothingMore) {
    Response held = Response::text(200, "late");
    held.holdUntilReleased = "gate";
    server_.respond("/slow", held);
    auto recorder = load(request("/slow"));
    ASSERT_TRUE(platform::runUntil([&] { return server_.requestCount("/slow") == 1; }, kIO));
    connection_->cancel();
    // The transfer is torn down: its connection closes.
    ASSERT_TRUE(platform::runUntil([&] { return server_.closedConnectionCount() == 1; }, kIO));
    server_.release("gate");
    settle();
    EXPECT_TRUE(recorder->events.empty());
}

TEST_F(URLConnectionTest, CancelInsideACallbackStopsTheRest) {
    Response chunked;
    chunked.chunked = true;
    chunked.chunks = {"first", "second", "third"};
    chunked.chunkInterval = 1.0;
    server_.respond("/stream", chunked);
    auto recorder = std::make_shared<RecordingConnectionDelegate>();
    recorder->onResponse = [&](const HTTPURLResponse&) { connection_->cancel(); };
    load(request("/stream"), recorder);
    ASSERT_TRUE(platform::runUntil([&] { return !recorder->events.empty(); }, kIO));
    platform::advanceBy(5);
    settle();
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"response 200"}));
}

TEST_F(URLConnectionTest, TimeOutOnThePlatformClockMapsToTimedOut) {
    Response silent;
    silent.noResponse = true;
    server_.respond("/hang", silent);
    auto recorder = load(request("/hang"));
    ASSERT_TRUE(platform::runUntil([&] { return server_.requestCount("/hang") == 1; }, kIO));

    platform::advanceBy(59.9);
    EXPECT_TRUE(recorder->events.empty());
    platform::advanceBy(0.2);
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"fail -1001"}));
    ASSERT_TRUE(recorder->error);
    EXPECT_EQ(recorder->error->domain(), platform::kURLErrorDomain);
    EXPECT_EQ(platform::json::stringValue(recorder->error->userInfo(),
                                          platform::kURLErrorFailingURLStringKey),
              server_.url("/hang"));
    EXPECT_EQ(recorder->error->localizedDescription(), "The request timed out.");
    // The transfer is aborted too.
    ASSERT_TRUE(platform::runUntil([&] { return server_.closedConnectionCount() == 1; }, kIO));
}

TEST_F(URLConnectionTest, TimeOutCountsFromTheLastProgress) {
    Response slow;
    slow.chunked = true;
    slow.chunks = {"a", "b", "c"};
    slow.chunkInterval = 40;
    server_.respond("/drip", slow);
    URLRequest r = request("/drip");
    r.setTimeoutInterval(60);
    auto recorder = load(r);
    ASSERT_TRUE(platform::runUntil([&] { return recorder->data.size() == 1; }, kIO));
    platform::advanceBy(40);
    ASSERT_TRUE(platform::runUntil([&] { return recorder->data.size() == 2; }, kIO));
    platform::advanceBy(40);
    ASSERT_TRUE(platform::runUntil([&] { return recorder->isDone(); }, kIO));
    EXPECT_TRUE(recorder->finished);
    EXPECT_EQ(recorder->body(), "abc");
}

TEST_F(URLConnectionTest, RefusedPortUnsupportedSchemeAndSilentCloseFailWithTheirCodes) {
    HttpTestServer::RefusingPort refusing;
    EXPECT_EQ(loadToEnd(URLRequest(*URL::parse(refusing.url("/x"))))->events,
              (std::vector<std::string>{"fail -1004"}));
    EXPECT_EQ(loadToEnd(URLRequest(*URL::parse("mvapi:home")))->events,
              (std::vector<std::string>{"fail -1002"}));
    Response nothing;
    nothing.closeWithoutResponse = true;
    server_.respond("/nothing", nothing);
    EXPECT_EQ(loadToEnd(request("/nothing"))->events, (std::vector<std::string>{"fail -1005"}));
}

TEST_F(URLConnectionTest, DroppedConnectionMidBodyMapsToConnectionLost) {
    Response cut = Response::text(200, std::string(1000, 'x'));
    cut.dropAfterBodyBytes = 10;
    server_.respond("/cut", cut);
    auto recorder = loadToEnd(request("/cut"));
    ASSERT_TRUE(recorder->error);
    EXPECT_EQ(recorder->error->code(), platform::kURLErrorNetworkConnectionLost);
    EXPECT_EQ(recorder->events.front(), "response 200");

    Response cutChunks;
    cutChunks.chunked = true;
    cutChunks.chunks = {"one", "two", "three"};
    cutChunks.dropAfterChunks = 1;
    server_.respond("/cut-chunks", cutChunks);
    recorder = loadToEnd(request("/cut-chunks"));
    ASSERT_TRUE(recorder->error);
    EXPECT_EQ(recorder->error->code(), platform::kURLErrorNetworkConnectionLost);
}

TEST_F(URLConnectionTest, ChunkedBodyArrivesWhole) {
    Response chunked;
    chunked.chunked = true;
    chunked.chunks = {"<html>", "", "<body>", std::string(5000, 'z'), "</html>"};
    server_.respond("/chunked", chunked);
    auto recorder = loadToEnd(request("/chunked"));
    EXPECT_TRUE(recorder->finished);
    EXPECT_EQ(recorder->body(), "<html><body>" + std::string(5000, 'z') + "</html>");
    EXPECT_EQ(recorder->responses[0].expectedContentLength(), -1);
}

TEST_F(URLConnectionTest, GzipBodyIsDecoded) {
    const std::string plain = "compressed page " + std::string(2000, 'q');
    Response gz = Response::text(200, peer::gzipCompress(plain), "text/html");
    gz.headers.set("Content-Encoding", "gzip");
    server_.respond("/gz", gz);
    auto recorder = loadToEnd(request("/gz"));
    EXPECT_TRUE(recorder->finished);
    EXPECT_EQ(recorder->body(), plain);
    auto accept = server_.lastRequest("/gz")->header("Accept-Encoding");
    ASSERT_TRUE(accept);
    EXPECT_NE(accept->find("gzip"), std::string::npos);
}

TEST_F(URLConnectionTest, CookiesSetByOneResponseGoWithTheNextRequest) {
    Response login = Response::text(200, "welcome");
    login.headers.add("Set-Cookie", "sid=abc123; Path=/; HttpOnly");
    login.headers.add("Set-Cookie", "lang=de; Max-Age=3600");
    server_.respond("/login", login);
    server_.respond("/account", Response::text(200, "you"));

    ASSERT_TRUE(loadToEnd(request("/login"))->finished);
    ASSERT_TRUE(loadToEnd(request("/account"))->finished);
    EXPECT_EQ(server_.lastRequest("/account")->header("Cookie"), "sid=abc123; lang=de");
    EXPECT_FALSE(server_.lastRequest("/login")->header("Cookie"));

    // A request that handles no cookies neither sends nor stores them.
    Response more = Response::text(200, "more");
    more.headers.add("Set-Cookie", "extra=1");
    server_.respond("/more", more);
    URLRequest quiet = request("/more");
    quiet.setHTTPShouldHandleCookies(false);
    ASSERT_TRUE(loadToEnd(quiet)->finished);
    EXPECT_FALSE(server_.lastRequest("/more")->header("Cookie"));
    ASSERT_TRUE(loadToEnd(request("/account"))->finished);
    EXPECT_EQ(server_.lastRequest("/account")->header("Cookie"), "sid=abc123; lang=de");

    // A request's own Cookie field wins.
    URLRequest own = request("/account");
    own.setValue("mine=1", "Cookie");
    ASSERT_TRUE(loadToEnd(own)->finished);
    EXPECT_EQ(server_.lastRequest("/account")->header("Cookie"), "mine=1");
}

TEST_F(URLConnectionTest, CookiesOfARedirectResponseAreStoredAndSentOnTheNextHop) {
    Response hop = Response::redirect(302, "/landing");
    hop.headers.add("Set-Cookie", "visited=yes");
    server_.respond("/start", hop);
    server_.respond("/landing", Response::text(200, "here"));
    ASSERT_TRUE(loadToEnd(request("/start"))->finished);
    EXPECT_EQ(server_.lastRequest("/landing")->header("Cookie"), "visited=yes");
}

TEST_F(URLConnectionTest, CallbacksRunOnTheGivenLoop) {
    server_.respond("/w", Response::text(200, "worker"));
    platform::Thread worker("Worker");
    std::mutex mutex;
    std::vector<std::string> names;
    std::atomic<bool> done{false};
    platform::URLConnectionCallbacks callbacks;
    callbacks.didReceiveResponse = [&](const HTTPURLResponse&) {
        std::lock_guard lock(mutex);
        names.push_back(platform::Thread::currentName());
    };
    callbacks.didFinishLoading = [&] {
        {
            std::lock_guard lock(mutex);
            names.push_back(platform::Thread::currentName());
        }
        done = true;
    };
    URLConnection::start(request("/w"), callbacks, worker.runLoop());
    ASSERT_TRUE(platform::runUntil([&] { return done.load(); }, kIO));
    std::lock_guard lock(mutex);
    EXPECT_EQ(names, (std::vector<std::string>{"Worker", "Worker"}));
}

TEST_F(URLConnectionTest, ConnectionsShareKeptAliveSockets) {
    server_.respond("/k", Response::text(200, "k"));
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(loadToEnd(request("/k"))->finished);
    EXPECT_EQ(server_.connectionCount(), 1u);
}

TEST_F(URLConnectionTest, ManyConcurrentLoads) {
    server_.handle("/n",
                   [](const HttpTestServer::Request& r) { return Response::text(200, r.query); });
    std::vector<std::shared_ptr<RecordingConnectionDelegate>> recorders;
    std::vector<std::shared_ptr<URLConnection>> connections;
    for (int i = 0; i < 20; ++i) {
        auto recorder = std::make_shared<RecordingConnectionDelegate>();
        connections.push_back(
            URLConnection::start(request("/n?" + std::to_string(i)), recorder, RunLoop::main()));
        recorders.push_back(recorder);
    }
    ASSERT_TRUE(platform::runUntil(
        [&] {
            return std::all_of(recorders.begin(), recorders.end(),
                               [](auto& r) { return r->isDone(); });
        },
        kIO));
    for (int i = 0; i < 20; ++i) EXPECT_EQ(recorders[i]->body(), std::to_string(i));
}

struct CurlRow {
    int curlCode;
    long urlError;
};

TEST(URLErrorsTest, TransferResultsMapToPlatformCodes) {
    const CurlRow rows[] = {
        {6, platform::kURLErrorCannotFindHost},               // could not resolve host
        {7, platform::kURLErrorCannotConnectToHost},          // could not connect
        {28, platform::kURLErrorTimedOut},                    // operation timed out
        {52, platform::kURLErrorNetworkConnectionLost},       // got nothing
        {56, platform::kURLErrorNetworkConnectionLost},       // receive error
        {18, platform::kURLErrorNetworkConnectionLost},       // partial file
        {1, platform::kURLErrorUnsupportedURL},               // unsupported protocol
        {3, platform::kURLErrorBadURL},                       // malformed URL
        {60, platform::kURLErrorServerCertificateUntrusted},  // peer failed verification
        {35, platform::kURLErrorSecureConnectionFailed},      // TLS connect error
        {61, platform::kURLErrorCannotDecodeContentData},     // bad content encoding
        {9999, platform::kURLErrorUnknown},                   // anything else
    };
    for (const auto& row : rows)
        EXPECT_EQ(platform::urlErrorCodeForCurlCode(row.curlCode), row.urlError) << row.curlCode;
    auto e = platform::makeURLError(platform::kURLErrorCannotFindHost, "http://nowhere.invalid/");
    EXPECT_EQ(e.localizedDescription(), "A server with the specified hostname could not be found.");
}

}  // namespace
