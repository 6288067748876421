// Server trust and proxies of the API connection, against the loopback peer.
#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "libmerovane/connection/MVApiConnection.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "platform/foundation/TestDriver.h"
#include "platform/foundation/TrustEvaluation.h"
#include "platform/foundation/URL.h"
#include "platform/ui/AlertView.h"
#include "tests/support/ApiConnectionTest.h"

using namespace testsupport;
using namespace peer;

namespace {

class MVApiConnectionTrustTest : public ApiConnectionTest {
  protected:
    static bool streaming(MVApiConnection& connection) {
        return waitFor([&] { return connection.state() == MVApiConnectionStateStreaming; });
    }
    // Waits until the client has gone from the peer's first connection, so that every
    // byte it sent has been read.
    static bool waitForPeerToSeeTheEnd(const ApiPeer& peer) {
        return waitFor([&] {
            const auto record = peer.connection(0);
            return record.clientEnded || !record.error.empty();
        });
    }
    static size_t reportCount(const std::string& description) {
        size_t count = 0;
        for (const auto& report : MVErrorLogger::reports())
            count += report.description == description;
        return count;
    }
};

constexpr const char* kInvalidCertificate = "MVApiConnection aborted due to invalid certificate.";

// The public roots the distribution's ca-certificates package installs. (The merged
// bundle under /etc/ssl/certs also holds whatever the machine added locally.)
constexpr const char* kPublicRoots = "/usr/share/ca-certificates/mozilla";

// The subject common names of the certificates in `directory`, read with OpenSSL.
std::set<std::string> subjectCommonNames(const std::filesystem::path& directory) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        FILE* file = std::fopen(entry.path().c_str(), "r");
        if (!file) continue;
        X509* certificate = PEM_read_X509(file, nullptr, nullptr, nullptr);
        std::fclose(file);
        if (!certificate) continue;
        const X509_NAME* subject = X509_get_subject_name(certificate);
        const int at = X509_NAME_get_index_by_NID(subject, NID_commonName, -1);
        unsigned char* text = nullptr;
        if (at >= 0 && ASN1_STRING_to_UTF8(&text, X509_NAME_ENTRY_get_data(
                                                      X509_NAME_get_entry(subject, at))) >= 0) {
            names.insert(reinterpret_cast<const char*>(text));
            OPENSSL_free(text);
        }
        X509_free(certificate);
    }
    return names;
}

}  // namespace

TEST_F(MVApiConnectionTrustTest, AChainEndingAtANamedRootIsTrustedOnce) {
    trustTestRoot();
    ApiPeer peer({.tls = true, .chain = PeerChain::WithRoot});
    peer.queueScript({.head = ResponseHead::ok(), .afterHead = {}});
    route("api.example", 443, peer.port());

    auto& connection = startConnection("https://api.example");
    EXPECT_TRUE(connection.needsVerifiedTrust());
    ASSERT_TRUE(streaming(connection));
    EXPECT_TRUE(connection.hasVerifiedTrust());
    EXPECT_TRUE(
        logged("MVApiConnection SSL challenge trusted for 'api.example' by root CA: Merovane Test "
               "Root CA"));

    // Later bytes of the same connection are not judged again.
    peer.perform(0, PeerAction::raw("5\r\nhello\r\n"));
    ASSERT_TRUE(waitForActions(peer, 0, 2));
    platform::runUntilIdle();
    EXPECT_EQ(loggedCount("SSL challenge trusted"), 1u);
}

TEST_F(MVApiConnectionTrustTest, AChainEndingAtAnIntermediateIsRefusedAndRetriedEveryFiveSeconds) {
    trustTestRoot();
    ApiPeer peer({.tls = true, .chain = PeerChain::WithoutRoot});
    peer.setDefaultScript({.head = ResponseHead::ok(), .afterHead = {}});
    route("api.example", 443, peer.port());
    const std::string line =
        std::string(kInvalidCertificate) + " Untrusted root CA: Merovane Test Intermediate CA";

    auto& connection = startConnection("https://api.example");
    for (size_t attempt = 1; attempt <= 3; ++attempt) {
        SCOPED_TRACE(attempt);
        ASSERT_TRUE(waitFor([&] { return loggedCount(line) == attempt; }));
        ASSERT_TRUE(waitForClosed(connection));
        EXPECT_NE(connection.state(), MVApiConnectionStateStreaming);
        platform::advanceBy(4.5);
        EXPECT_EQ(loggedCount("MVApiConnection establishing connection..."), attempt);
        platform::advanceBy(0.5);
        EXPECT_EQ(loggedCount("MVApiConnection establishing connection..."), attempt + 1);
    }
    ASSERT_GE(reportCount(kInvalidCertificate), 3u);
    const auto report = MVErrorLogger::reports().front();
    ASSERT_TRUE(report.data);
    EXPECT_EQ(*report.data, " Untrusted root CA: Merovane Test Intermediate CA");
    // The chain was judged when the handshake ended: the server got no byte.
    ASSERT_TRUE(waitForPeerToSeeTheEnd(peer));
    EXPECT_FALSE(peer.connection(0).requestHead);
    EXPECT_EQ(peer.connection(0).received, "");
    EXPECT_FALSE(connection.lastConnectionResponse());
}

TEST_F(MVApiConnectionTrustTest, ARootAppendedToAnotherRootsChainDoesNotStandForItsAnchor) {
    trustTestRoot();
    // The platform accepts the chain, to a root outside the set; the server appends the
    // listed root, which signed nothing of it.
    platform::TrustStore::setDefault(TestCertificates::shared().strayTrustStore());
    ApiPeer peer({.tls = true, .chain = PeerChain::StrayWithTestRootAppended});
    peer.setDefaultScript({.head = ResponseHead::ok(), .afterHead = {}});
    route("api.example", 443, peer.port());

    auto& connection = startConnection("https://api.example");
    ASSERT_TRUE(waitFor([&] { return reportCount(kInvalidCertificate) == 1; }));
    ASSERT_TRUE(waitForClosed(connection));
    EXPECT_TRUE(
        logged(std::string(kInvalidCertificate) + " Untrusted root CA: Merovane Stray Root CA"));
    const auto report = MVErrorLogger::reports().front();
    ASSERT_TRUE(report.data);
    EXPECT_EQ(*report.data, " Untrusted root CA: Merovane Stray Root CA");
    EXPECT_FALSE(logged("SSL challenge trusted"));
    EXPECT_FALSE(connection.hasVerifiedTrust());
    ASSERT_TRUE(waitForPeerToSeeTheEnd(peer));
    EXPECT_FALSE(peer.connection(0).requestHead);
}

TEST_F(MVApiConnectionTrustTest, AChainThePlatformRefusesIsRefusedWithoutDetail) {
    trustTestRoot();
    ApiPeer peer({.tls = true, .chain = PeerChain::IntermediateOnly});
    peer.setDefaultScript({.head = ResponseHead::ok(), .afterHead = {}});
    route("api.example", 443, peer.port());

    auto& connection = startConnection("https://api.example");
    ASSERT_TRUE(waitFor([&] { return reportCount(kInvalidCertificate) == 1; }));
    EXPECT_FALSE(logged("Untrusted root CA"));
    EXPECT_FALSE(MVErrorLogger::reports().front().data);
    ASSERT_TRUE(waitForClosed(connection));
    EXPECT_TRUE(logged(kInvalidCertificate));
}

TEST_F(MVApiConnectionTrustTest, AChainForAnotherHostIsRefusedAndSaysSo) {
    trustTestRoot();
    ApiPeer peer({.tls = true, .chain = PeerChain::WithRoot});
    peer.setDefaultScript({.head = ResponseHead::ok(), .afterHead = {}});
    route("wrong.example", 443, peer.port());
    auto& connection = startConnection("https://wrong.example");
    ASSERT_TRUE(waitFor([&] { return reportCount(kInvalidCertificate) == 1; }));
    ASSERT_TRUE(waitForClosed(connection));
    EXPECT_FALSE(connection.hasVerifiedTrust());
}

TEST_F(MVApiConnectionTrustTest, TheBuiltInRootSetNamesPublicRootsOnly) {
    const auto& roots = MVApiConnection::trustedCertificateAuthorities();
    EXPECT_EQ(roots.size(), 139u);
    EXPECT_FALSE(roots.contains(TestCertificates::kRootName));
    EXPECT_FALSE(roots.contains(""));

    // Each name is a root of the public bundle, or kept here for the reason given.
    const std::map<std::string, std::string> kept = {
        {"SecureSign RootCA11",
         "left the public bundle in 2025 as its operator moved to its newer roots (named here "
         "too); still in other platforms' root programs until it expires in 2029"},
    };
    ASSERT_TRUE(std::filesystem::is_directory(kPublicRoots)) << "ca-certificates is missing";
    const auto bundle = subjectCommonNames(kPublicRoots);
    ASSERT_GT(bundle.size(), 100u);
    for (const auto& name : roots) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(bundle.contains(name) || kept.contains(name));
    }
    for (const auto& [name, reason] : kept) {
        EXPECT_TRUE(roots.contains(name)) << name;
        EXPECT_FALSE(reason.empty());
    }
}

// Proxies --------------------------------------------------------------------------------

TEST_F(MVApiConnectionTrustTest, AnHttpProxyTunnelsToPort443AndTLSStartsInsideIt) {
    trustTestRoot();
    ApiPeer proxy({.tls = true, .proxy = true, .chain = PeerChain::WithRoot});
    proxy.queueScript({.head = ResponseHead::ok(), .afterHead = {}});
    proxies_->set("https_proxy", "http://127.0.0.1:" + std::to_string(proxy.port()));

    auto& connection = startConnection("https://api.example");
    EXPECT_EQ(connection.proxyHost(), "127.0.0.1");
    EXPECT_EQ(connection.proxyPort(), proxy.port());
    ASSERT_TRUE(streaming(connection));

    const auto record = proxy.connection(0);
    ASSERT_TRUE(record.proxyHead);
    EXPECT_EQ(record.proxyHead->raw,
              "CONNECT api.example:443 HTTP/1.1\r\n"
              "Host: api.example\r\n"
              "User-Agent: Mozilla/5.0 (Headless) libmerovane/2.0 (Merovane Test 1 NOAPPLEPAY)\r\n"
              "Connection: Keep-Alive\r\n"
              "Proxy-Connection: Keep-Alive\r\n"
              "\r\n");
    EXPECT_TRUE(record.tlsEstablished);
    EXPECT_EQ(record.serverName, "api.example");
    ASSERT_TRUE(record.requestHead);
    EXPECT_EQ(record.requestHead->startLine, "POST / HTTP/1.1");
    EXPECT_TRUE(connection.hasVerifiedTrust());
    EXPECT_TRUE(
        logged("SSL challenge trusted for 'api.example' by root CA: Merovane Test Root CA"));
}

TEST_F(MVApiConnectionTrustTest, AnUntrustedServerInsideAProxyTunnelGetsNoRequest) {
    trustTestRoot();
    ApiPeer proxy({.tls = true, .proxy = true, .chain = PeerChain::WithoutRoot});
    proxy.setDefaultScript({.head = ResponseHead::ok(), .afterHead = {}});
    proxies_->set("https_proxy", "http://127.0.0.1:" + std::to_string(proxy.port()));

    auto& connection = startConnection("https://api.example", 1);
    ASSERT_TRUE(waitFor([&] { return reportCount(kInvalidCertificate) == 1; }));
    ASSERT_TRUE(waitForClosed(connection));
    ASSERT_TRUE(waitForPeerToSeeTheEnd(proxy));
    const auto record = proxy.connection(0);
    EXPECT_TRUE(record.proxyHead);
    EXPECT_TRUE(record.tlsEstablished);
    EXPECT_FALSE(record.requestHead);
    EXPECT_TRUE(record.packets.empty());
    platform::advanceBy(MVApiConnection::kErrorReconnectDelay);
    ASSERT_TRUE(waitFor([&] { return proxy.connectionCount() == 2; }));
}

TEST_F(MVApiConnectionTrustTest, AProxyOfAnotherTypeIsAnnouncedAndBypassed) {
    ApiPeer peer;
    peer.queueScript({.head = ResponseHead::ok(), .afterHead = {}});
    proxies_->set("http_proxy", "https://127.0.0.1:9");

    auto& connection = startConnection(peerUrl(peer));
    EXPECT_TRUE(
        logged("MVApiConnection does not support this type of proxy. Trying direct connection..."));
    const auto alerts = platform::AlertView::shownAlerts();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0]->title(), "This proxy type is not supported");
    EXPECT_FALSE(alerts[0]->message());
    ASSERT_EQ(alerts[0]->numberOfButtons(), 1);
    EXPECT_EQ(alerts[0]->buttonTitleAtIndex(0), "Ok");
    EXPECT_FALSE(connection.proxyHost());
    ASSERT_TRUE(streaming(connection));
    EXPECT_FALSE(peer.connection(0).proxyHead);
}

TEST_F(MVApiConnectionTrustTest, ARedirectBehindAProxyTunnelsToTheRedirectsHostOnce) {
    ApiPeer proxy({.proxy = true});
    proxy.queueScript(
        {.head =
             ResponseHead{302, "Found", {{"Location", "http://moved.example:8080/"}}, std::nullopt},
         .afterHead = {}});
    proxy.queueScript(
        {.head = ResponseHead{503, "Unavailable", {}, std::nullopt}, .afterHead = {}});
    proxy.setDefaultScript({.head = std::nullopt, .afterHead = {}});
    proxies_->set("http_proxy", "http://127.0.0.1:" + std::to_string(proxy.port()));

    auto& connection = startConnection("http://api.example", 1);
    ASSERT_TRUE(
        waitFor([&] { return proxy.connectionCount() == 2 && proxy.connection(1).requestHead; }));
    EXPECT_EQ(proxy.connection(0).proxyHead->startLine, "CONNECT api.example:80 HTTP/1.1");
    EXPECT_EQ(proxy.connection(1).proxyHead->startLine, "CONNECT moved.example:8080 HTTP/1.1");
    EXPECT_EQ(proxy.connection(1).proxyHead->field("Host"), "moved.example");

    ASSERT_TRUE(waitFor([&] { return logged("MVApiConnection HTTP Error: 503"); }));
    ASSERT_TRUE(waitForClosed(connection));
    platform::advanceBy(MVApiConnection::kErrorReconnectDelay);
    ASSERT_TRUE(
        waitFor([&] { return proxy.connectionCount() == 3 && proxy.connection(2).proxyHead; }));
    EXPECT_EQ(proxy.connection(2).proxyHead->startLine, "CONNECT api.example:80 HTTP/1.1");
}

// The error line of a refusal --------------------------------------------------------------

namespace {

struct RefusalRow {
    const char* name;
    PeerChain chain;
    const char* url;
    int port;  // routed to the peer's, when not through a proxy
    bool proxy;
    bool strayAnchor;        // the platform also anchors the stray root
    bool testRootInTheSet;   // the trusted root set names the test root
    const char* line;        // the error line, exactly
    const char* reportData;  // the report's data; none when null
};

const RefusalRow kRefusals[] = {
    {"RootNotSentOn443", PeerChain::WithoutRoot, "https://api.example", 443, false, false, true,
     "MVApiConnection aborted due to invalid certificate. Untrusted root CA: Merovane Test "
     "Intermediate CA. Reason: the highest certificate the server sent is not a trusted root.",
     " Untrusted root CA: Merovane Test Intermediate CA"},
    {"RootNotSentOn8443ThroughAProxy", PeerChain::WithoutRoot, "https://api.example:8443", 8443,
     true, false, true,
     "MVApiConnection aborted due to invalid certificate. Untrusted root CA: Merovane Test "
     "Intermediate CA. Reason: the highest certificate the server sent is not a trusted root.",
     " Untrusted root CA: Merovane Test Intermediate CA"},
    {"AnchorOutsideTheSet", PeerChain::WithRoot, "https://api.example:8443", 8443, false, false,
     false,
     "MVApiConnection aborted due to invalid certificate. Untrusted root CA: Merovane Test Root "
     "CA. Reason: the chain ends at an anchor that is not a trusted root.",
     " Untrusted root CA: Merovane Test Root CA"},
    {"ASetRootAppendedToAStrayChain", PeerChain::StrayWithTestRootAppended, "https://api.example",
     443, false, true, true,
     "MVApiConnection aborted due to invalid certificate. Untrusted root CA: Merovane Stray Root "
     "CA. Reason: the chain ends at an anchor that is not a trusted root.",
     " Untrusted root CA: Merovane Stray Root CA"},
    {"NoTrustedAnchor", PeerChain::IntermediateOnly, "https://api.example", 443, false, false, true,
     "MVApiConnection aborted due to invalid certificate. Reason: unable to get local issuer "
     "certificate.",
     nullptr},
    {"IntermediateMissingThroughAProxy", PeerChain::LeafOnly, "https://api.example:8443", 8443,
     true, false, true,
     "MVApiConnection aborted due to invalid certificate. Reason: unable to get local issuer "
     "certificate.",
     nullptr},
    {"AnotherHost", PeerChain::WithRoot, "https://wrong.example:8443", 8443, false, false, true,
     "MVApiConnection aborted due to invalid certificate. Reason: hostname mismatch.", nullptr},
};

class CertificateRefusalTest : public MVApiConnectionTrustTest,
                               public testing::WithParamInterface<RefusalRow> {};

TEST_P(CertificateRefusalTest, TheErrorLineGivesTheReason) {
    const RefusalRow& row = GetParam();
    trustTestRoot();
    if (row.strayAnchor)
        platform::TrustStore::setDefault(TestCertificates::shared().strayTrustStore());
    if (!row.testRootInTheSet)
        MVApiConnection::setTrustedCertificateAuthoritiesForTesting(
            std::set<std::string>{"Some Other Root CA"});
    ApiPeer peer({.tls = true, .proxy = row.proxy, .chain = row.chain});
    peer.setDefaultScript({.head = ResponseHead::ok(), .afterHead = {}});
    const std::string host = platform::URL::parse(row.url)->host();
    if (row.proxy) {
        proxies_->set("https_proxy", "http://127.0.0.1:" + std::to_string(peer.port()));
    } else {
        route(host, row.port, peer.port());
    }

    auto& connection = startConnection(row.url);
    ASSERT_TRUE(waitFor([&] { return reportCount(kInvalidCertificate) == 1; }));
    ASSERT_TRUE(waitForClosed(connection));
    EXPECT_EQ(loggedLevel(row.line), platform::log::kError);
    // The report keeps the refusal's text and names the root, as before.
    const auto report = MVErrorLogger::reports().front();
    if (row.reportData) {
        ASSERT_TRUE(report.data);
        EXPECT_EQ(*report.data, row.reportData);
    } else {
        EXPECT_FALSE(report.data);
    }
    EXPECT_FALSE(peer.connection(0).requestHead);
}

INSTANTIATE_TEST_SUITE_P(Table, CertificateRefusalTest, testing::ValuesIn(kRefusals),
                         [](const testing::TestParamInfo<RefusalRow>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
