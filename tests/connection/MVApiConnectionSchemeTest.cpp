// Which connections are encrypted: the address's scheme decides, on any port, directly
// or through a proxy's tunnel, against TLS and plain loopback peers.
#include <gtest/gtest.h>

#include <string>

#include "libmerovane/connection/MVApiConnection.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "platform/foundation/TestDriver.h"
#include "tests/support/ApiConnectionTest.h"

using namespace peer;

namespace {

enum class SchemeServer {
    TrustedTLS,      // the test chain up to its root, which the connection trusts
    UntrustedTLS,    // a chain whose highest certificate is no trusted root
    PlainSilent,     // plain HTTP; waits for a head that never comes
    PlainAnswering,  // plain HTTP; answers the first bytes with 400, in clear, and closes
};

enum class SchemeOutcome {
    Encrypted,       // TLS, the chain checked, the request and its packet inside
    Refused,         // TLS up, the chain refused before a byte of the request
    NoReadableByte,  // the handshake never ends; the server reads nothing of the request
    Plain,           // an http address: plain text, no check
};

struct SchemeRow {
    const char* name;
    const char* url;
    int port;  // the port the address names (or implies), routed to the peer's
    bool proxy;
    SchemeServer server;
    SchemeOutcome outcome;
    // For NoReadableByte: what ends the attempt, and after how long on the clock.
    const char* endLine = nullptr;
    double bound = 0;
};

constexpr const char* kSchemeSecret = "autologin-7f3a9c";
constexpr const char* kSchemeTimedOut = "MVApiConnection timed out. Will retry in 5 seconds...";
constexpr const char* kSchemeNoResponse =
    "MVApiConnection received no response within 30 seconds. Will retry in 5 seconds...";
constexpr const char* kSchemeStreamError = "MVApiConnection encountered an error";

// Port 443 is not bound here (tests run side by side); the routes give the connection
// an address on 443 and take it to the peer's port.
const SchemeRow kSchemeRows[] = {
    {"HttpsOn443", "https://api.example", 443, false, SchemeServer::TrustedTLS,
     SchemeOutcome::Encrypted},
    {"HttpsOn8443", "https://api.example:8443/", 8443, false, SchemeServer::TrustedTLS,
     SchemeOutcome::Encrypted},
    {"HttpsInCapitalsOn8443", "HTTPS://api.example:8443/", 8443, false, SchemeServer::TrustedTLS,
     SchemeOutcome::Encrypted},
    {"HttpsOn80", "https://api.example:80/", 80, false, SchemeServer::TrustedTLS,
     SchemeOutcome::Encrypted},
    {"HttpsOn8443UntrustedChain", "https://api.example:8443/", 8443, false,
     SchemeServer::UntrustedTLS, SchemeOutcome::Refused},
    {"HttpsOn443SilentPlainServer", "https://api.example", 443, false, SchemeServer::PlainSilent,
     SchemeOutcome::NoReadableByte, kSchemeTimedOut, MVApiConnection::kOpenWatchdogDelay},
    {"HttpsOn8443SilentPlainServer", "https://api.example:8443/", 8443, false,
     SchemeServer::PlainSilent, SchemeOutcome::NoReadableByte, kSchemeTimedOut,
     MVApiConnection::kOpenWatchdogDelay},
    {"HttpsOn8443AnsweringPlainServer", "https://api.example:8443/", 8443, false,
     SchemeServer::PlainAnswering, SchemeOutcome::NoReadableByte, kSchemeStreamError, 0},
    {"HttpsOn8443ThroughAProxy", "https://api.example:8443/", 8443, true, SchemeServer::TrustedTLS,
     SchemeOutcome::Encrypted},
    {"HttpsOn443ThroughAProxy", "https://api.example", 443, true, SchemeServer::TrustedTLS,
     SchemeOutcome::Encrypted},
    {"HttpsOn8443ThroughAProxyUntrustedChain", "https://api.example:8443/", 8443, true,
     SchemeServer::UntrustedTLS, SchemeOutcome::Refused},
    {"HttpsOn8443ThroughAProxySilentPlainServer", "https://api.example:8443/", 8443, true,
     SchemeServer::PlainSilent, SchemeOutcome::NoReadableByte, kSchemeNoResponse,
     MVApiConnection::kResponseHeadTimeout},
    {"HttpOn8080", "http://api.example:8080/", 8080, false, SchemeServer::PlainSilent,
     SchemeOutcome::Plain},
    {"HttpOn443", "http://api.example:443/", 443, false, SchemeServer::PlainSilent,
     SchemeOutcome::Plain},
    {"HttpOn8080ThroughAProxy", "http://api.example:8080/", 8080, true, SchemeServer::PlainSilent,
     SchemeOutcome::Plain},
};

class MVApiConnectionSchemeTest : public ApiConnectionTest,
                                  public testing::WithParamInterface<SchemeRow> {
  protected:
    static ApiPeerOptions optionsFor(const SchemeRow& row) {
        ApiPeerOptions options;
        options.proxy = row.proxy;
        options.tls =
            row.server == SchemeServer::TrustedTLS || row.server == SchemeServer::UntrustedTLS;
        options.chain =
            row.server == SchemeServer::TrustedTLS ? PeerChain::WithRoot : PeerChain::WithoutRoot;
        return options;
    }
    static size_t reportCount(const std::string& description) {
        size_t count = 0;
        for (const auto& report : MVErrorLogger::reports())
            count += report.description == description;
        return count;
    }
    // What the peer's connection `index` received after the proxy's CONNECT head: the
    // bytes of the API server's side.
    static std::string serverBytes(const ApiPeer& peer, size_t index) {
        const auto record = peer.connection(index);
        const size_t proxyHead = record.proxyHead ? record.proxyHead->raw.size() : 0;
        return record.received.size() > proxyHead ? record.received.substr(proxyHead) : "";
    }
    // The connection to `url`, opened with an appStart packet pending (as at a launch),
    // so that what the first request would carry is known before the first byte.
    MVApiConnection& startWithAppStart(const std::string& url) {
        host_->setDefaultApiPath(url);
        auto& connection = MVApiConnection::sharedConnection();
        const std::string payload =
            nlohmann::json{{"ver", "2.0"},
                           {"ser", 1},
                           {"cmds", {{{"c", "appStart"}, {"p", {{"autologin", kSchemeSecret}}}}}}}
                .dump();
        connection.appendPendingPacketForTesting(
            {.data = fmt::format("{:x}\r\n{}\r\n", payload.size(), payload), .serial = 1});
        platform::advanceBy(MVApiConnection::kStartDelay);
        return connection;
    }
};

TEST_P(MVApiConnectionSchemeTest, TheSchemeAloneDecidesOnTLSAndTheCertificateCheck) {
    const SchemeRow& row = GetParam();
    trustTestRoot();
    ApiPeer peer(optionsFor(row));
    peer.setDefaultScript({.head = ResponseHead::ok(), .afterHead = {}});
    if (row.proxy) {
        const std::string proxy = "http://127.0.0.1:" + std::to_string(peer.port());
        proxies_->set("https_proxy", proxy);
        proxies_->set("http_proxy", proxy);
    } else {
        route("api.example", row.port, peer.port());
    }
    const bool https =
        std::string(row.url).starts_with("https") || std::string(row.url).starts_with("HTTPS");

    auto& connection = startWithAppStart(row.url);
    const std::string via =
        row.proxy ? " through the proxy 127.0.0.1:" + std::to_string(peer.port()) : "";
    const std::string target =
        "MVApiConnection connects to api.example:" + std::to_string(row.port) + via;
    EXPECT_TRUE(logged(target + (https ? " with TLS and checks the server's certificate "
                                         "(https address)"
                                       : " in plain text, without TLS (not an https "
                                         "address)")));

    switch (row.outcome) {
        case SchemeOutcome::Encrypted: {
            ASSERT_TRUE(waitFor([&] { return peer.packetCount() >= 1; }));
            const auto record = peer.connection(0);
            EXPECT_TRUE(record.tlsEstablished);
            EXPECT_EQ(record.serverName, "api.example");
            ASSERT_TRUE(record.requestHead);
            EXPECT_EQ(record.requestHead->startLine, "POST / HTTP/1.1");
            ASSERT_FALSE(record.packets.empty());
            EXPECT_NE(record.packets[0].decoded.value.dump().find(kSchemeSecret),
                      std::string::npos);
            EXPECT_TRUE(waitFor([&] { return connection.hasVerifiedTrust(); }));
            EXPECT_TRUE(connection.needsVerifiedTrust());
            EXPECT_TRUE(logged("SSL challenge trusted for 'api.example'"));
            break;
        }
        case SchemeOutcome::Refused: {
            ASSERT_TRUE(waitFor([&] {
                return reportCount("MVApiConnection aborted due to invalid certificate.") == 1;
            }));
            ASSERT_TRUE(waitForClosed(connection));
            ASSERT_TRUE(waitFor([&] {
                const auto record = peer.connection(0);
                return record.clientEnded || !record.error.empty();
            }));
            const auto record = peer.connection(0);
            EXPECT_TRUE(record.tlsEstablished);
            EXPECT_FALSE(record.requestHead);
            EXPECT_TRUE(record.packets.empty());
            EXPECT_EQ(serverBytes(peer, 0), "");
            break;
        }
        case SchemeOutcome::NoReadableByte: {
            // The client's hello has arrived; then the attempt ends within its bound.
            ASSERT_TRUE(waitFor(
                [&] { return peer.connectionCount() == 1 && !serverBytes(peer, 0).empty(); }));
            // What arrived first is a TLS handshake record, not a request line.
            EXPECT_EQ(static_cast<uint8_t>(serverBytes(peer, 0).at(0)), 0x16)
                << serverBytes(peer, 0).substr(0, 16);
            // A plain server answers what it cannot read, in clear, and closes.
            if (row.server == SchemeServer::PlainAnswering)
                peer.perform(0, {PeerAction::raw("HTTP/1.1 400 Bad Request\r\n"
                                                 "Content-Length: 0\r\n\r\n"),
                                 PeerAction::close()});
            if (row.bound > 0) {
                platform::advanceBy(row.bound - 0.5);
                EXPECT_FALSE(logged(row.endLine));
                platform::advanceBy(0.5);
            }
            ASSERT_TRUE(waitFor([&] { return logged(row.endLine); }));
            ASSERT_TRUE(waitForClosed(connection));
            // The client has gone (the answering server closed first): what it sent
            // has been read.
            ASSERT_TRUE(waitFor([&] {
                const auto record = peer.connection(0);
                return record.clientEnded || !record.error.empty() ||
                       row.server == SchemeServer::PlainAnswering;
            }));
            const auto record = peer.connection(0);
            const std::string bytes = serverBytes(peer, 0);
            EXPECT_FALSE(record.requestHead);
            EXPECT_TRUE(record.packets.empty());
            for (const char* clear :
                 {"POST", "HTTP/1.1", "Host:", "X-Merovane", "appStart", kSchemeSecret, "chunked"})
                EXPECT_EQ(bytes.find(clear), std::string::npos) << clear;
            EXPECT_NE(connection.state(), MVApiConnectionStateStreaming);
            EXPECT_FALSE(logged("SSL challenge trusted"));
            break;
        }
        case SchemeOutcome::Plain: {
            ASSERT_TRUE(waitFor([&] { return peer.packetCount() >= 1; }));
            const auto record = peer.connection(0);
            EXPECT_FALSE(record.tlsEstablished);
            EXPECT_TRUE(serverBytes(peer, 0).starts_with("POST / HTTP/1.1\r\n"));
            EXPECT_NE(serverBytes(peer, 0).find(kSchemeSecret), std::string::npos);
            EXPECT_FALSE(connection.needsVerifiedTrust());
            EXPECT_FALSE(connection.hasVerifiedTrust());
            EXPECT_FALSE(logged("SSL challenge"));
            EXPECT_FALSE(logged("invalid certificate"));
            break;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Table, MVApiConnectionSchemeTest, testing::ValuesIn(kSchemeRows),
                         [](const testing::TestParamInfo<SchemeRow>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
