#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"
#include "platform/foundation/URLConnection.h"
#include "platform/foundation/URLErrors.h"
#include "platform/foundation/URLProtocol.h"
#include "tests/support/URLLoadingTest.h"

using platform::HTTPHeaderFields;
using platform::HTTPURLResponse;
using platform::RunLoop;
using platform::URL;
using platform::URLConnection;
using platform::URLProtocol;
using platform::URLProtocolClient;
using platform::URLRequest;
using Response = HttpTestServer::Response;

namespace {

constexpr const char* kPassFlag = "PassToNetwork";

// What the protocols of these tests saw, shared with the test body.
struct Journal {
    std::mutex mutex;
    std::vector<std::string> entries;
    std::vector<std::shared_ptr<URLProtocolClient>> clients;

    void note(std::string entry) {
        std::lock_guard lock(mutex);
        entries.push_back(std::move(entry));
    }
    std::vector<std::string> read() {
        std::lock_guard lock(mutex);
        return entries;
    }
    size_t count(const std::string& entry) {
        auto all = read();
        return std::count(all.begin(), all.end(), entry);
    }
};
Journal* gJournal = nullptr;

std::vector<uint8_t> bytes(std::string_view s) {
    return {s.begin(), s.end()};
}

// Answers every request whose path starts with "/p/" itself.
class AnsweringProtocol : public URLProtocol {
  public:
    using URLProtocol::URLProtocol;
    static bool canInitWithRequest(const URLRequest& r) {
        return r.url().path().rfind("/p/", 0) == 0 && !r.boolProperty(kPassFlag);
    }
    void startLoading() override {
        gJournal->note("start " + request().url().path() + " on " +
                       platform::Thread::currentName());
        HTTPURLResponse response(request().url(), 200, "HTTP/1.1", {{"Content-Type", "text/html"}});
        client()->didReceiveResponse(response);
        client()->didLoadData(bytes("from "));
        client()->didLoadData(bytes("protocol"));
        client()->didFinishLoading();
    }
    void stopLoading() override { gJournal->note("stop on " + platform::Thread::currentName()); }
};

// Takes the same requests; registered later, it must win.
class LaterProtocol : public AnsweringProtocol {
  public:
    using AnsweringProtocol::AnsweringProtocol;
    void startLoading() override {
        gJournal->note("later");
        client()->didReceiveResponse(HTTPURLResponse(request().url(), 203, "HTTP/1.1", {}));
        client()->didFinishLoading();
    }
};

// Never answers; keeps its client so the test can call it late.
class SilentProtocol : public URLProtocol {
  public:
    using URLProtocol::URLProtocol;
    static bool canInitWithRequest(const URLRequest& r) { return r.url().path() == "/silent"; }
    void startLoading() override {
        gJournal->note("start silent");
        std::lock_guard lock(gJournal->mutex);
        gJournal->clients.push_back(client());
    }
    void stopLoading() override { gJournal->note("stop silent"); }
};

// Redirects "/r/<x>" to the network path "/landing", then, unless stopped, delivers the
// redirect response itself.
class RedirectingProtocol : public URLProtocol {
  public:
    using URLProtocol::URLProtocol;
    static bool canInitWithRequest(const URLRequest& r) {
        return r.url().path().rfind("/r/", 0) == 0;
    }
    void startLoading() override {
        auto target = URL::resolve("/landing", request().url());
        HTTPURLResponse redirect(request().url(), 302, "HTTP/1.1", {{"Location", "/landing"}});
        URLRequest next = request();
        next.setURL(*target);
        client()->wasRedirectedToRequest(next, redirect);
        client()->didReceiveResponse(redirect);
        client()->didLoadData(bytes("redirect body"));
        client()->didFinishLoading();
    }
    void stopLoading() override { gJournal->note("stop redirecting"); }
};

// Passes requests to the network through a connection of its own, on the loading
// thread's run loop, marking them so it does not take them again.
class PassingProtocol : public URLProtocol, public platform::URLConnectionDelegate {
  public:
    using URLProtocol::URLProtocol;
    static bool canInitWithRequest(const URLRequest& r) {
        return r.url().path().rfind("/pass/", 0) == 0 && !r.boolProperty(kPassFlag);
    }
    void startLoading() override {
        URLRequest own = request();
        own.setProperty(kPassFlag, true);
        own.setValue("yes", "X-Passed");
        auto self = std::dynamic_pointer_cast<PassingProtocol>(keepAlive.lock());
        connection_ = URLConnection::start(own, std::shared_ptr<URLConnectionDelegate>(self, this),
                                           *RunLoop::current());
    }
    void stopLoading() override { gJournal->note("stop passing"); }
    void didReceiveResponse(const HTTPURLResponse& r) override {
        gJournal->note("inner response on " + platform::Thread::currentName());
        client()->didReceiveResponse(r);
    }
    void didReceiveData(const std::vector<uint8_t>& d) override { client()->didLoadData(d); }
    void didFinishLoading() override { client()->didFinishLoading(); }
    void didFailWithError(const platform::Error& e) override { client()->didFailWithError(e); }

    std::weak_ptr<URLProtocol> keepAlive;

  private:
    std::shared_ptr<URLConnection> connection_;
};

class PassingFactory : public platform::URLProtocolFactory {
  public:
    bool canInitWithRequest(const URLRequest& r) const override {
        return PassingProtocol::canInitWithRequest(r);
    }
    std::shared_ptr<URLProtocol> create(const URLRequest& r,
                                        std::shared_ptr<URLProtocolClient> c) const override {
        auto p = std::make_shared<PassingProtocol>(r, std::move(c));
        p->keepAlive = p;
        return p;
    }
};

class URLProtocolTest : public URLLoadingTest {
  protected:
    void SetUp() override {
        URLLoadingTest::SetUp();
        gJournal = &journal_;
    }
    void TearDown() override {
        platform::runUntilIdle();
        URLLoadingTest::TearDown();
    }

    Journal journal_;
};

TEST_F(URLProtocolTest, RegisteredProtocolAnswersInsteadOfTheNetwork) {
    server_.respond("/p/page", Response::text(200, "from network"));
    URLProtocol::registerClass(std::make_shared<platform::URLProtocolClass<AnsweringProtocol>>());

    auto recorder = loadToEnd(request("/p/page"));
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"response 200", "data 13", "finish"}));
    EXPECT_EQ(recorder->body(), "from protocol");
    for (const auto& name : recorder->threadNames) EXPECT_EQ(name, "main");
    EXPECT_EQ(server_.requestCount(), 0u);
    // The protocol ran on the loading thread and was stopped there once the load ended.
    ASSERT_TRUE(platform::runUntil([&] { return journal_.read().size() == 2; }, kIO));
    EXPECT_EQ(journal_.read(),
              (std::vector<std::string>{"start /p/page on URL loading", "stop on URL loading"}));

    // Requests it does not take still reach the network.
    server_.respond("/other", Response::text(200, "net"));
    EXPECT_EQ(loadToEnd(request("/other"))->body(), "net");
}

TEST_F(URLProtocolTest, LatestRegistrationIsAskedFirstAndUnregisteringRestoresTheNetwork) {
    server_.respond("/p/x", Response::text(200, "network"));
    auto first = std::make_shared<platform::URLProtocolClass<AnsweringProtocol>>();
    auto later = std::make_shared<platform::URLProtocolClass<LaterProtocol>>();
    URLProtocol::registerClass(first);
    URLProtocol::registerClass(later);
    EXPECT_EQ(loadToEnd(request("/p/x"))->responses[0].statusCode(), 203);

    URLProtocol::registerClass(first);  // again: now in front
    EXPECT_EQ(loadToEnd(request("/p/x"))->responses[0].statusCode(), 200);
    EXPECT_EQ(URLProtocol::factoryForRequest(request("/p/x")), first);

    URLProtocol::unregisterClass(first);
    URLProtocol::unregisterClass(later);
    EXPECT_EQ(loadToEnd(request("/p/x"))->body(), "network");
    EXPECT_EQ(server_.requestCount("/p/x"), 1u);
}

TEST_F(URLProtocolTest, CancelStopsTheProtocolAndLateReportsAreDropped) {
    URLProtocol::registerClass(std::make_shared<platform::URLProtocolClass<SilentProtocol>>());
    auto recorder = load(request("/silent"));
    ASSERT_TRUE(platform::runUntil([&] { return journal_.count("start silent") == 1; }, kIO));
    connection_->cancel();
    ASSERT_TRUE(platform::runUntil([&] { return journal_.count("stop silent") == 1; }, kIO));

    std::shared_ptr<URLProtocolClient> client;
    {
        std::lock_guard lock(journal_.mutex);
        client = journal_.clients.at(0);
    }
    client->didReceiveResponse(HTTPURLResponse(request("/silent").url(), 200, "HTTP/1.1", {}));
    client->didFinishLoading();
    platform::runUntilIdle();
    EXPECT_TRUE(recorder->events.empty());
    EXPECT_EQ(journal_.count("stop silent"), 1u);
}

TEST_F(URLProtocolTest, TimeOutAppliesToProtocolLoads) {
    URLProtocol::registerClass(std::make_shared<platform::URLProtocolClass<SilentProtocol>>());
    URLRequest r = request("/silent");
    r.setTimeoutInterval(120);
    auto recorder = load(r);
    ASSERT_TRUE(platform::runUntil([&] { return journal_.count("start silent") == 1; }, kIO));
    platform::advanceBy(119);
    EXPECT_TRUE(recorder->events.empty());
    platform::advanceBy(1);
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"fail -1001"}));
    ASSERT_TRUE(platform::runUntil([&] { return journal_.count("stop silent") == 1; }, kIO));
}

TEST_F(URLProtocolTest, FollowedProtocolRedirectEndsItAndLoadsTheNewRequest) {
    server_.respond("/landing", Response::text(200, "landed"));
    URLProtocol::registerClass(std::make_shared<platform::URLProtocolClass<RedirectingProtocol>>());
    auto recorder = loadToEnd(request("/r/x"));
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"redirect 302 " + server_.url("/landing"),
                                                          "response 200", "data 6", "finish"}));
    EXPECT_EQ(server_.requestCount("/landing"), 1u);
    ASSERT_TRUE(platform::runUntil([&] { return journal_.count("stop redirecting") == 1; }, kIO));
}

TEST_F(URLProtocolTest, RefusedProtocolRedirectLetsTheProtocolDeliverIt) {
    URLProtocol::registerClass(std::make_shared<platform::URLProtocolClass<RedirectingProtocol>>());
    auto recorder = std::make_shared<RecordingConnectionDelegate>();
    recorder->onRedirect = [](URLRequest, const HTTPURLResponse&) { return std::nullopt; };
    loadToEnd(request("/r/x"), recorder);
    ASSERT_TRUE(recorder->isDone());
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"redirect 302 " + server_.url("/landing"),
                                                          "response 302", "data 13", "finish"}));
    EXPECT_EQ(server_.requestCount("/landing"), 0u);
}

TEST_F(URLProtocolTest, ProtocolCanPassRequestsToTheNetworkFromTheLoadingThread) {
    server_.respond("/pass/me", Response::text(200, "passed through"));
    URLProtocol::registerClass(std::make_shared<PassingFactory>());
    auto recorder = loadToEnd(request("/pass/me"));
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"response 200", "data 14", "finish"}));
    EXPECT_EQ(server_.lastRequest("/pass/me")->header("X-Passed"), "yes");
    EXPECT_EQ(journal_.count("inner response on URL loading"), 1u);
    ASSERT_TRUE(platform::runUntil([&] { return journal_.count("stop passing") == 1; }, kIO));
}

class ThrowingFactory : public platform::URLProtocolFactory {
  public:
    bool canInitWithRequest(const URLRequest& r) const override {
        return r.url().path() == "/throw";
    }
    std::shared_ptr<URLProtocol> create(const URLRequest&,
                                        std::shared_ptr<URLProtocolClient>) const override {
        throw std::runtime_error("broken protocol");
    }
};

TEST_F(URLProtocolTest, ProtocolThatThrowsFailsTheLoadInsteadOfTheThread) {
    URLProtocol::registerClass(std::make_shared<ThrowingFactory>());
    auto recorder = loadToEnd(request("/throw"));
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"fail -1"}));
    EXPECT_TRUE(logged("broken protocol"));
    // The loading thread lives on.
    server_.respond("/after", Response::text(200, "fine"));
    EXPECT_EQ(loadToEnd(request("/after"))->body(), "fine");
}

}  // namespace
