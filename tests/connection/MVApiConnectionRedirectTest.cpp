// Who may move the API stream elsewhere: a proxy's answer to CONNECT never does, the API
// server does once per answer, never from https to plain text and not without end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "libmerovane/connection/MVApiConnection.h"
#include "libmerovane/core/MVConnectionLossMonitor.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "platform/foundation/HTTPCookieStorage.h"
#include "platform/foundation/TestDriver.h"
#include "platform/foundation/URL.h"
#include "tests/support/ApiConnectionTest.h"

using namespace peer;

namespace {

class MVApiConnectionRedirectTest : public ApiConnectionTest {
  protected:
    void SetUp() override {
        ApiConnectionTest::SetUp();
        MVErrorLogger::clearReports();
    }
    // The connection failed and its next opening waits for the clock: none within 4.5 s,
    // one at 5 s, to `peer` again.
    bool retriesAtTheErrorPace(MVApiConnection& connection, const ApiPeer& peer) {
        if (!waitForClosed(connection)) return false;
        const size_t before = peer.connectionCount();
        platform::advanceBy(4.5);
        platform::runUntilIdle();
        if (peer.connectionCount() != before || connection.isConnectionOpened()) return false;
        platform::advanceBy(0.5);
        return waitFor([&] { return peer.connectionCount() > before; });
    }
    static size_t reportCount(const std::string& description) {
        size_t count = 0;
        for (const auto& report : MVErrorLogger::reports())
            count += report.description == description;
        return count;
    }
};

// A proxy answers CONNECT ------------------------------------------------------------

struct ProxyAnswerRow {
    const char* name;
    int status;  // 0: the proxy closes without answering
    const char* reason;
    const char* line;  // the error line, or a part of it
};

const ProxyAnswerRow kProxyAnswers[] = {
    {"MovedPermanently", 301, "Moved Permanently",
     "MVApiConnection proxy refused the tunnel with HTTP 301 | Will retry in 5 seconds..."},
    {"Found", 302, "Found",
     "MVApiConnection proxy refused the tunnel with HTTP 302 | Will retry in 5 seconds..."},
    {"SeeOther", 303, "See Other",
     "MVApiConnection proxy refused the tunnel with HTTP 303 | Will retry in 5 seconds..."},
    {"TemporaryRedirect", 307, "Temporary Redirect",
     "MVApiConnection proxy refused the tunnel with HTTP 307 | Will retry in 5 seconds..."},
    {"PermanentRedirect", 308, "Permanent Redirect",
     "MVApiConnection proxy refused the tunnel with HTTP 308 | Will retry in 5 seconds..."},
    {"ProxyAuthentication", 407, "Proxy Authentication Required",
     "MVApiConnection proxy refused the tunnel with HTTP 407 | Will retry in 5 seconds..."},
    {"Forbidden", 403, "Forbidden",
     "MVApiConnection proxy refused the tunnel with HTTP 403 | Will retry in 5 seconds..."},
    {"BadGateway", 502, "Bad Gateway",
     "MVApiConnection proxy refused the tunnel with HTTP 502 | Will retry in 5 seconds..."},
    // Closed at once: an end or a broken pipe, whichever the client meets first.
    {"Close", 0, "", "in 5 seconds"},
};

class ProxyAnswerTest : public MVApiConnectionRedirectTest,
                        public testing::WithParamInterface<ProxyAnswerRow> {};

TEST_P(ProxyAnswerTest, NoByteLeavesButThroughATunnel) {
    const ProxyAnswerRow& row = GetParam();
    ApiPeer listener;  // where the proxy points: records whatever reaches it
    listener.setDefaultScript({.head = ResponseHead::ok(), .afterHead = {}});
    const std::string elsewhere = peerUrl(listener) + "/";
    ApiPeer proxy({.proxy = true,
                   .proxyAnswer = ResponseHead{row.status,
                                               row.reason,
                                               {{"Location", elsewhere},
                                                {"Set-Cookie", "proxy=1; Path=/"},
                                                {"X-Merovane-Api-CID", "from-the-proxy"},
                                                {"Content-Length", "0"}},
                                               std::nullopt}});
    if (row.status == 0) proxy.setAcceptActions({PeerAction::close()});
    proxies_->set("https_proxy", "http://127.0.0.1:" + std::to_string(proxy.port()));

    auto& connection = startConnection("https://api.example", 1);
    ASSERT_TRUE(waitFor([&] { return logged(row.line); }));
    if (row.status != 0) {
        EXPECT_EQ(loggedLevel(row.line), platform::log::kError);
    }
    EXPECT_FALSE(logged("MVApiConnection HTTP Redirect"));
    EXPECT_FALSE(connection.connectionIdentifier());
    EXPECT_TRUE(platform::HTTPCookieStorage::shared()
                    .cookiesForURL(*platform::URL::parse("https://api.example/"))
                    .empty());
    ASSERT_TRUE(retriesAtTheErrorPace(connection, proxy));
    // Again a tunnel to the API host, and never a byte of a request.
    ASSERT_TRUE(waitFor([&] { return proxy.connection(1).proxyHead || row.status == 0; }));
    if (row.status != 0) {
        EXPECT_EQ(proxy.connection(1).proxyHead->startLine, "CONNECT api.example:443 HTTP/1.1");
        ASSERT_TRUE(waitFor([&] { return loggedCount(row.line) >= 2; }));
    }
    for (size_t index : {0u, 1u}) {
        const auto record = proxy.connection(index);
        EXPECT_FALSE(record.requestHead);
        EXPECT_EQ(record.received.find("POST"), std::string::npos);
        EXPECT_EQ(record.received.find("X-Merovane-Api"), std::string::npos);
    }
    EXPECT_EQ(listener.connectionCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Table, ProxyAnswerTest, testing::ValuesIn(kProxyAnswers),
                         [](const testing::TestParamInfo<ProxyAnswerRow>& info) {
                             return std::string(info.param.name);
                         });

// A 2xx other than 200 is a tunnel all the same.
TEST_F(MVApiConnectionRedirectTest, AnyTwoHundredOfTheProxyOpensTheTunnel) {
    ApiPeer proxy(
        {.proxy = true, .proxyAnswer = ResponseHead{204, "No Content", {}, std::nullopt}});
    proxy.setDefaultScript({.head = ResponseHead::ok(), .afterHead = {}});
    proxies_->set("http_proxy", "http://127.0.0.1:" + std::to_string(proxy.port()));
    auto& connection = startConnection("http://api.example");
    ASSERT_TRUE(waitFor([&] { return connection.state() == MVApiConnectionStateStreaming; }));
    EXPECT_TRUE(proxy.connection(0).requestHead);
}

// The API server redirects from https ----------------------------------------------------

struct LoweringRow {
    const char* name;
    const char* prefix;  // the location is prefix + the listener's "127.0.0.1:port/"
    bool proxy;
};

const LoweringRow kLowerings[] = {
    {"ToHttp", "http://", false},
    {"ToHttpInCapitals", "HTTP://", false},
    {"ToAnotherScheme", "ws://", false},
    {"ToHttpThroughAProxy", "http://", true},
};

class LoweringRedirectTest : public MVApiConnectionRedirectTest,
                             public testing::WithParamInterface<LoweringRow> {};

TEST_P(LoweringRedirectTest, IsRefusedAndReported) {
    const LoweringRow& row = GetParam();
    trustTestRoot();
    ApiPeer listener;
    listener.setDefaultScript({.head = ResponseHead::ok(), .afterHead = {}});
    const std::string location =
        std::string(row.prefix) + "127.0.0.1:" + std::to_string(listener.port()) + "/";
    ApiPeer server({.tls = true, .proxy = row.proxy, .chain = PeerChain::WithRoot});
    server.setDefaultScript(
        {.head = ResponseHead{302, "Found", {{"Location", location}}, std::nullopt},
         .afterHead = {}});
    if (row.proxy) {
        proxies_->set("https_proxy", "http://127.0.0.1:" + std::to_string(server.port()));
    } else {
        route("api.example", 443, server.port());
    }

    auto& connection = startConnection("https://api.example", 1);
    const std::string line = "MVApiConnection refused HTTP Redirect from https to " + location +
                             " | Will retry in 5 seconds...";
    ASSERT_TRUE(waitFor([&] { return logged(line); }));
    EXPECT_EQ(loggedLevel(line), platform::log::kError);
    ASSERT_TRUE(waitFor(
        [] { return reportCount("MVApiConnection refused HTTP Redirect from https") == 1; }));
    ASSERT_TRUE(MVErrorLogger::reports()[0].data);
    EXPECT_EQ(*MVErrorLogger::reports()[0].data, location);
    EXPECT_FALSE(logged("MVApiConnection HTTP Redirect to"));
    ASSERT_TRUE(retriesAtTheErrorPace(connection, server));
    ASSERT_TRUE(waitFor([&] { return server.connection(1).requestHead.has_value(); }));
    EXPECT_EQ(connection.apiPath(), "https://api.example");
    EXPECT_EQ(listener.connectionCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Table, LoweringRedirectTest, testing::ValuesIn(kLowerings),
                         [](const testing::TestParamInfo<LoweringRow>& info) {
                             return std::string(info.param.name);
                         });

// Redirects in a row -----------------------------------------------------------------------

struct RunRow {
    const char* name;
    int redirects;  // before the server answers 200; -1: without end
    bool twoServers;
};

const RunRow kRuns[] = {
    {"TwentyThenAnswer", 20, false},
    {"TwentyOneThenAnswer", 21, false},
    {"ToItselfWithoutEnd", -1, false},
    {"BetweenTwoServersWithoutEnd", -1, true},
};

class RedirectRunTest : public MVApiConnectionRedirectTest,
                        public testing::WithParamInterface<RunRow> {};

TEST_P(RedirectRunTest, IsBoundedAndCountsAsAnError) {
    const RunRow& row = GetParam();
    ApiPeer first;
    ApiPeer second;
    const std::string firstUrl = peerUrl(first) + "/";
    const std::string secondUrl = peerUrl(second) + "/";
    const auto redirectTo = [](const std::string& url) {
        return ConnectionScript{
            .head = ResponseHead{307, "Temporary Redirect", {{"Location", url}}, std::nullopt},
            .afterHead = {}};
    };
    if (row.redirects >= 0) {
        for (int i = 0; i < row.redirects; ++i) first.queueScript(redirectTo(firstUrl));
        first.setDefaultScript({.head = ResponseHead::ok(), .afterHead = {}});
    } else {
        first.setDefaultScript(redirectTo(row.twoServers ? secondUrl : firstUrl));
        second.setDefaultScript(redirectTo(firstUrl));
    }
    auto& monitor = MVConnectionLossMonitor::sharedMonitor();  // made now, not at a report
    platform::advanceBy(1);
    const platform::Date began = platform::Date::now();
    auto& connection = startConnection(peerUrl(first), 1);
    const std::string stopped =
        "MVApiConnection stopped after 20 HTTP Redirects in a row | Will retry in 5 seconds...";

    if (row.redirects == 20) {
        // The twentieth is still followed, at once.
        ASSERT_TRUE(waitFor([&] { return connection.state() == MVApiConnectionStateStreaming; }));
        EXPECT_EQ(first.connectionCount(), 21u);
        EXPECT_FALSE(logged(stopped));
        return;
    }
    ASSERT_TRUE(waitFor([&] { return logged(stopped); }));
    EXPECT_EQ(loggedLevel(stopped), platform::log::kError);
    EXPECT_EQ(first.connectionCount() + second.connectionCount(), 21u);
    ASSERT_TRUE(waitForClosed(connection));
    // The monitor heard of an error and of no success.
    EXPECT_GE(monitor.lastReportedError().timeIntervalSince(began), 0);
    EXPECT_LT(monitor.lastReportedSuccess().timeIntervalSince(began), 0);
    ASSERT_TRUE(retriesAtTheErrorPace(connection, first));
    if (row.redirects == 21) {
        // A new run: the server now answers.
        ASSERT_TRUE(waitFor([&] { return connection.state() == MVApiConnectionStateStreaming; }));
        EXPECT_EQ(first.connectionCount(), 22u);
        return;
    }
    // Another run of twenty, and the error again.
    ASSERT_TRUE(waitFor([&] { return loggedCount(stopped) >= 2; }));
    EXPECT_EQ(first.connectionCount() + second.connectionCount(), 42u);
}

INSTANTIATE_TEST_SUITE_P(Table, RedirectRunTest, testing::ValuesIn(kRuns),
                         [](const testing::TestParamInfo<RunRow>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
