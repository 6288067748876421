#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "libmerovane/bridge/URLRequestExtensions.h"
#include "libmerovane/connection/MVApiConnection.h"
#include "libmerovane/core/MVConnectionLossMonitor.h"
#include "platform/foundation/HTTPCookie.h"
#include "platform/foundation/HTTPCookieStorage.h"
#include "platform/foundation/TestDriver.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/Application.h"
#include "tests/connection/TestCommand.h"
#include "tests/support/ApiConnectionTest.h"

using namespace testsupport;
using namespace peer;

namespace {

class MVApiConnectionTest : public ApiConnectionTest {
  protected:
    static bool hasHead(const ApiPeer& peer, size_t connection) {
        return peer.connectionCount() > connection && peer.connection(connection).requestHead;
    }
    // Waits for the log line and the close after it, then moves the clock by `delay`.
    bool closesWith(MVApiConnection& connection, const std::string& line, double delay) {
        if (!waitFor([&] { return logged(line); }) || !waitForClosed(connection)) return false;
        platform::advanceBy(delay);
        return true;
    }
};

// The fields a server that speaks the persistent protocol answers with.
HeadFields persistentFields(HeadFields more = {}) {
    HeadFields fields{{"X-Merovane-Api", "VELKRAM"}};
    for (auto& field : more) fields.push_back(std::move(field));
    return fields;
}

const ConnectionScript kSilent{.head = std::nullopt, .afterHead = {}};

}  // namespace

TEST_F(MVApiConnectionTest, TheFirstHeadIsTheTableInOrder) {
    trustTestRoot();
    ApiPeer peer({.tls = true, .chain = PeerChain::WithRoot});
    peer.setDefaultScript(kSilent);
    route("api.example", 443, peer.port());

    auto& connection = startConnection("https://api.example");
    ASSERT_TRUE(waitFor([&] { return hasHead(peer, 0); }));
    EXPECT_EQ(peer.connection(0).requestHead->raw,
              "POST / HTTP/1.1\r\n"
              "Host: api.example\r\n"
              "User-Agent: Mozilla/5.0 (Headless) libmerovane/2.0 (Merovane Test 1 NOAPPLEPAY)\r\n"
              "X-Merovane-Api: Velkram\r\n"
              "Content-Type: application/json; charset=utf-8\r\n"
              "Transfer-Encoding: chunked\r\n"
              "Connection: Close\r\n"
              "X-Merovane-Api-App-Identifier: test-app-identifier\r\n"
              "Accept-Encoding: gzip\r\n"
              "Accept: application/msgpack, application/json\r\n"
              "\r\n");
    EXPECT_EQ(peer.connection(0).serverName, "api.example");
    EXPECT_TRUE(waitFor([&] { return connection.state() == MVApiConnectionStateResponse; }));
    EXPECT_TRUE(logged("MVApiConnection path is https://api.example"));
    EXPECT_TRUE(
        logged("MVApiConnection establishing connection... (application/json, uncompressed)"));
}

TEST_F(MVApiConnectionTest, AnAcceptedHeadSettlesIdentifierAndEncodingsForTheNextHead) {
    ApiPeer peer;
    peer.queueScript({.head = ResponseHead::ok(persistentFields({
                          {"X-Merovane-Api-CID", "c1"},
                          {"Accept", "application/msgpack, application/json"},
                          {"Accept-Encoding", "gzip"},
                          {"Content-Type", "application/msgpack"},
                          {"Content-Encoding", "gzip"},
                      })),
                      .afterHead = {PeerAction::endOfStream()}});
    peer.setDefaultScript(kSilent);

    auto& connection = startConnection(peerUrl(peer));
    ASSERT_TRUE(
        waitFor([&] { return logged("MVApiConnection did assign connection identifier 'c1'"); }));
    // What the server accepts and the CID show in the next head below.
    EXPECT_EQ(connection.contentType(), MVApiContentTypeMessagePack);
    EXPECT_TRUE(connection.isCompressed());
    EXPECT_EQ(connection.currentChunkState(), MVApiChunkStateHeader);
    EXPECT_TRUE(connection.supportsPersistentConnection());

    // The legacy answer ends; the next connection is persistent and follows 0.01 s later.
    ASSERT_TRUE(waitFor([&] {
        return logged(
            "MVApiConnection switching to persistent api connection. Reconnecting now...");
    }));
    ASSERT_TRUE(waitForClosed(connection));
    EXPECT_TRUE(connection.hasPersistentConnection());
    platform::advanceBy(MVApiConnection::kGracefulReconnectDelay);
    ASSERT_TRUE(waitFor([&] { return hasHead(peer, 1); }));
    const auto head = *peer.connection(1).requestHead;
    EXPECT_EQ(head.field("Content-Type"), "application/msgpack");
    EXPECT_EQ(head.field("Content-Encoding"), "gzip");
    EXPECT_EQ(head.field("X-Merovane-Api-CID"), "c1");
    EXPECT_EQ(head.field("Accept"), "application/msgpack, application/json");
    EXPECT_TRUE(logged("MVApiConnection establishing connection... (application/msgpack, gzip)"));

    // The head was read on the downstream thread.
    platform::log::flush();
    for (const auto& message : log_->messages()) {
        if (message.text.find("did assign connection identifier") != std::string::npos) {
            EXPECT_EQ(message.threadName, "Merovane Api Downstream");
        }
    }
}

TEST_F(MVApiConnectionTest, AnotherIdentifierReplacesTheKnownOneWithAWarning) {
    ApiPeer peer;
    peer.queueScript({.head = ResponseHead::ok({{"X-Merovane-Api-CID", "c1"}}),
                      .afterHead = {PeerAction::endOfStream()}});
    peer.queueScript({.head = ResponseHead::ok({{"X-Merovane-Api-CID", "c2"}}), .afterHead = {}});
    // A legacy request carries one packet: the second one asks for the second connection.
    auto& connection = startConnection(peerUrl(peer), 2);
    ASSERT_TRUE(waitFor([&] { return connection.connectionIdentifier() == "c1"; }));
    ASSERT_TRUE(waitForClosed(connection));
    platform::advanceBy(MVApiConnection::kGracefulReconnectDelay);
    ASSERT_TRUE(waitFor([&] { return connection.connectionIdentifier() == "c2"; }));
    EXPECT_EQ(peer.connection(1).requestHead->field("X-Merovane-Api-CID"), "c1");
    EXPECT_TRUE(logged("MVApiConnection did switch connection identifier 'c1' => 'c2'"));
}

TEST_F(MVApiConnectionTest, AStatusLineWithoutReasonIsRefusedAndRetriedAfterFiveSeconds) {
    ApiPeer peer;
    peer.queueScript(
        {.head = ResponseHead{.status = 200,
                              .reason = "",
                              .fields = {},
                              .raw = "HTTP/1.1 200\r\nTransfer-Encoding: chunked\r\n\r\n"},
         .afterHead = {}});
    peer.setDefaultScript(kSilent);
    auto& connection = startConnection(peerUrl(peer), 1);

    ASSERT_TRUE(waitFor([&] {
        return logged(
            "MVApiConnection could not parse HTTP connection header, will retry in 5 "
            "seconds:\nHTTP/1.1 200\\r\\nTransfer-Encoding: chunked\\r\\n\\r\\n");
    }));
    ASSERT_TRUE(waitForClosed(connection));
    EXPECT_EQ(MVConnectionLossMonitor::sharedMonitor().state(),
              MVConnectionLossMonitor::kStateErroneous);
    platform::advanceBy(4.5);
    EXPECT_FALSE(connection.isConnectionOpened());
    platform::advanceBy(0.5);
    EXPECT_TRUE(connection.isConnectionOpened());
    ASSERT_TRUE(waitFor([&] { return hasHead(peer, 1); }));
}

TEST_F(MVApiConnectionTest, ARedirectChoosesTheNextConnectionOnlyAndAnErrorStatusWaitsFiveSeconds) {
    ApiPeer configured;
    ApiPeer redirected;
    const std::string target = peerUrl(redirected) + "/";
    configured.queueScript(
        {.head = ResponseHead{302, "Found", {{"Location", target}}, std::nullopt},
         .afterHead = {}});
    configured.setDefaultScript(kSilent);
    redirected.setDefaultScript(
        {.head = ResponseHead{500, "Internal Server Error", {}, std::nullopt}, .afterHead = {}});

    auto& connection = startConnection(peerUrl(configured), 1);
    // At once, without the clock moving.
    ASSERT_TRUE(waitFor([&] { return hasHead(redirected, 0); }));
    EXPECT_TRUE(logged("MVApiConnection HTTP Redirect to " + target + " | Will retry now..."));
    // The head of the redirected connection is the redirect URL's, its port included.
    EXPECT_EQ(redirected.connection(0).requestHead->field("Host"),
              "127.0.0.1:" + std::to_string(redirected.port()));

    ASSERT_TRUE(waitFor(
        [&] { return logged("MVApiConnection HTTP Error: 500 | Will retry in 5 seconds..."); }));
    ASSERT_TRUE(waitForClosed(connection));
    EXPECT_EQ(connection.apiPath(), peerUrl(configured));
    platform::advanceBy(4.5);
    EXPECT_EQ(configured.connectionCount(), 1u);
    platform::advanceBy(0.5);
    ASSERT_TRUE(waitFor([&] { return hasHead(configured, 1); }));
    EXPECT_EQ(redirected.connectionCount(), 1u);
}

TEST_F(MVApiConnectionTest, AnIdleLegacyConnectionIsNotReopenedAfterAnErrorOrAnEnd) {
    ApiPeer peer;
    peer.queueScript({.head = ResponseHead::ok(), .afterHead = {PeerAction::reset()}});
    peer.queueScript({.head = ResponseHead::ok(), .afterHead = {PeerAction::endOfStream()}});
    auto& connection = startConnection(peerUrl(peer));
    for (size_t index : {0u, 1u}) {
        SCOPED_TRACE(index);
        ASSERT_TRUE(waitForActions(peer, index, 2));
        ASSERT_TRUE(waitForClosed(connection));
        platform::advanceBy(30);
        EXPECT_FALSE(connection.isConnectionOpened());
        EXPECT_EQ(peer.connectionCount(), index + 1);
        connection.establishStreamConnection();
    }
}

TEST_F(MVApiConnectionTest, TheEndOfTheStreamReopensPersistentConnectionsAtOnce) {
    ApiPeer peer;
    // 0 is legacy and learns of persistence, 1 is persistent and shut gracefully, 2 is silent.
    peer.queueScript(
        {.head = ResponseHead::ok(persistentFields()), .afterHead = {PeerAction::endOfStream()}});
    peer.queueScript(
        {.head = ResponseHead::ok(persistentFields()), .afterHead = {PeerAction::endOfStream()}});
    peer.queueScript({.head = std::nullopt, .afterHead = {}});
    auto& connection = startConnection(peerUrl(peer), 1);
    ASSERT_TRUE(closesWith(connection, "switching to persistent api connection",
                           MVApiConnection::kGracefulReconnectDelay));
    ASSERT_TRUE(closesWith(
        connection, "MVApiConnection was gracefully shut down after 0.00m and will reconnect now.",
        MVApiConnection::kGracefulReconnectDelay));
    ASSERT_TRUE(waitFor([&] { return hasHead(peer, 2); }));
}

TEST_F(MVApiConnectionTest, APersistentConnectionToAServerThatStopsSpeakingItSwitchesToLegacy) {
    ApiPeer peer;
    peer.queueScript(
        {.head = ResponseHead::ok(persistentFields()), .afterHead = {PeerAction::endOfStream()}});
    peer.queueScript({.head = ResponseHead::ok(), .afterHead = {PeerAction::endOfStream()}});
    peer.setDefaultScript(kSilent);
    // One packet for each of the three connections.
    auto& connection = startConnection(peerUrl(peer), 3);
    ASSERT_TRUE(closesWith(connection, "switching to persistent api connection",
                           MVApiConnection::kGracefulReconnectDelay));
    ASSERT_TRUE(closesWith(
        connection,
        "MVApiConnection switching to legacy api connection. Persistence is not supported...",
        MVApiConnection::kGracefulReconnectDelay));
    EXPECT_FALSE(connection.hasPersistentConnection());
    // Whether the legacy reply confirmed the last packet too depends on how far the writer
    // got; a new command opens the next (legacy) connection either way.
    connection.sendCommands({testCommand("next")});
    platform::advanceBy(0.02);
    EXPECT_TRUE(waitFor([&] { return hasHead(peer, 2); }));
}

TEST_F(MVApiConnectionTest, TheMonitorsRefusalDelaysOpeningByAQuarterSecond) {
    MVConnectionLossMonitor::sharedMonitor().setState(MVConnectionLossMonitor::kStateLostBlocking);
    ApiPeer peer;
    peer.setDefaultScript(kSilent);
    auto& connection = startConnection(peerUrl(peer));
    EXPECT_FALSE(connection.isConnectionOpened());
    platform::advanceBy(MVApiConnection::kRefusedRetryDelay);
    EXPECT_FALSE(connection.isConnectionOpened());
    const auto attempts = MVConnectionLossMonitor::sharedMonitor().lastReportedAttemt();

    MVConnectionLossMonitor::sharedMonitor().setState(MVConnectionLossMonitor::kStateRetrying);
    platform::advanceBy(0.2);
    EXPECT_FALSE(connection.isConnectionOpened());
    platform::advanceBy(0.05);
    EXPECT_TRUE(connection.isConnectionOpened());
    EXPECT_GT(MVConnectionLossMonitor::sharedMonitor().lastReportedAttemt(), attempts);
    EXPECT_TRUE(waitFor([&] { return hasHead(peer, 0); }));
}

TEST_F(MVApiConnectionTest, AnOpeningThatHangsTimesOutAfterFiveSeconds) {
    // A port that takes the connection into its backlog and never speaks TLS.
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    route("api.example", 443, ntohs(address.sin_port));

    auto& connection = startConnection("https://api.example", 1);
    platform::advanceBy(4.5);
    EXPECT_FALSE(logged("MVApiConnection timed out. Will retry in 5 seconds..."));
    platform::advanceBy(0.5);
    ASSERT_TRUE(
        waitFor([&] { return logged("MVApiConnection timed out. Will retry in 5 seconds..."); }));
    ASSERT_TRUE(waitForClosed(connection));
    platform::advanceBy(MVApiConnection::kErrorReconnectDelay);
    EXPECT_TRUE(connection.isConnectionOpened());
    EXPECT_EQ(loggedCount("MVApiConnection establishing connection..."), 2u);
    ::close(listener);
}

TEST_F(MVApiConnectionTest, OpeningHoldsABackgroundTaskUntilClosedAndClosingTwiceIsHarmless) {
    ApiPeer peer;
    peer.setDefaultScript(kSilent);
    auto& connection = startConnection(peerUrl(peer));
    EXPECT_EQ(platform::Application::shared().backgroundTasksForTesting().size(), 1u);
    connection.closeStreamConnection();
    EXPECT_FALSE(connection.isConnectionOpened());
    EXPECT_TRUE(platform::Application::shared().backgroundTasksForTesting().empty());
    connection.closeStreamConnection();
    EXPECT_FALSE(connection.isConnectionOpened());

    // An expiring task is ended by its handler and not again by the close.
    connection.establishStreamConnection();
    ASSERT_TRUE(connection.isConnectionOpened());
    platform::Application::shared().expireBackgroundTasksForTesting();
    EXPECT_TRUE(platform::Application::shared().backgroundTasksForTesting().empty());
    connection.closeStreamConnection();
    EXPECT_FALSE(logged("cannot end"));
    EXPECT_FALSE(logged("did not end when it expired"));
}

TEST_F(MVApiConnectionTest, OverridingTheApiPathWipesStoredStateOnlyForAnotherServer) {
    auto& connection = MVApiConnection::sharedConnection();
    connection.overrideApiPath("https://one.example");  // the first run: nothing to wipe
    EXPECT_EQ(host_->resetCount(), 0);
    connection.overrideApiPath("https://one.example");
    EXPECT_EQ(host_->resetCount(), 0);
    connection.overrideApiPath("https://two.example");
    EXPECT_EQ(host_->resetCount(), 1);
    EXPECT_EQ(platform::UserDefaults::standard().stringForKey("lastRunningApiPath"),
              "https://two.example");
    connection.overrideApiPath(std::nullopt);  // the default
    EXPECT_EQ(connection.apiPath(), TestApiConnectionHost::kDefaultApiPath);
    EXPECT_EQ(host_->resetCount(), 2);
    connection.overrideApiPath("");
    EXPECT_EQ(host_->resetCount(), 2);
}

TEST_F(MVApiConnectionTest, HostAndPortComeFromTheApiUrl) {
    struct Case {
        const char* url;
        const char* host;
        int64_t port;
    };
    const Case cases[] = {
        {"https://api.example", "api.example", 443},         // https without a port
        {"http://api.example/v2", "api.example", 80},        // http without a port
        {"https://api.example:8443/", "api.example", 8443},  // a port of its own
        {"HTTPS://api.example", "api.example", 443},         // the scheme in any case
        {"xhttps://api.example", "api.example", 443},        // a scheme containing "https"
        {"http://[::1]:8080/", "::1", 8080},                 // an IPv6 literal
        {"not a url", "", 80},                               // nothing to connect to
    };
    auto& connection = MVApiConnection::sharedConnection();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        connection.overrideApiPath(c.url);
        EXPECT_EQ(connection.apiHost(), c.host);
        EXPECT_EQ(connection.apiPort(), c.port);
    }
}

TEST_F(MVApiConnectionTest, TheRequestHeadReportsSerialsCookiesAndTheSwitchesOfTheDefaults) {
    auto& connection = MVApiConnection::sharedConnection();
    connection.overrideApiPath("https://api.example/v2/stream%20a?x=1");
    connection.setSerialsForTesting(7, 42);
    auto& defaults = platform::UserDefaults::standard();
    defaults.setObject("gzip_disabled", true);
    defaults.setObject("msgpack_disabled", "YES");
    platform::HTTPCookieStorage::shared().setCookies(
        platform::HTTPCookie::cookiesWithResponseHeaderFields(
            {{"Set-Cookie", "sid=abc; Path=/"}}, *platform::URL::parse("https://api.example/")),
        *platform::URL::parse("https://api.example/"), std::nullopt);

    EXPECT_EQ(dataForStreamConnection(connection.requestForApiConnection()),
              "POST /v2/stream%20a HTTP/1.1\r\n"
              "Host: api.example\r\n"
              "Cookie: sid=abc\r\n"
              "User-Agent: Mozilla/5.0 (Headless) libmerovane/2.0 (Merovane Test 1 NOAPPLEPAY)\r\n"
              "X-Merovane-Api: Velkram\r\n"
              "Content-Type: application/json; charset=utf-8\r\n"
              "Transfer-Encoding: chunked\r\n"
              "Connection: Close\r\n"
              "X-Merovane-Api-App-Identifier: test-app-identifier\r\n"
              "Accept: application/json\r\n"
              "X-Merovane-Api-SSerial: 42\r\n"
              "X-Merovane-Api-CSerial: 7\r\n"
              "\r\n");
}

TEST_F(MVApiConnectionTest, WithGzipDisabledAnAnswerOfferingItNeverTurnsOnContentEncoding) {
    platform::UserDefaults::standard().setObject("gzip_disabled", true);
    ApiPeer peer;
    peer.queueScript({.head = ResponseHead::ok({{"Accept-Encoding", "gzip"}}), .afterHead = {}});
    auto& connection = startConnection(peerUrl(peer));
    ASSERT_TRUE(waitFor([&] { return connection.state() == MVApiConnectionStateStreaming; }));
    EXPECT_FALSE(connection.serverWillAcceptGZip());
    EXPECT_FALSE(peer.connection(0).requestHead->field("Accept-Encoding"));
    const std::string head = dataForStreamConnection(connection.requestForApiConnection());
    EXPECT_EQ(head.find("Content-Encoding"), std::string::npos);
    EXPECT_EQ(head.find("Accept-Encoding"), std::string::npos);
}

TEST_F(MVApiConnectionTest, AnApiUrlThatIsNoUrlFailsLikeAnUnreachableServer) {
    auto& connection = startConnection("not a url", 1);
    ASSERT_TRUE(waitFor([&] { return logged("MVApiConnection encountered an error"); }));
    ASSERT_TRUE(waitForClosed(connection));
    platform::advanceBy(MVApiConnection::kErrorReconnectDelay);
    EXPECT_EQ(loggedCount("MVApiConnection establishing connection..."), 2u);
}
