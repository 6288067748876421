// https to loopback servers with the test certificates: trusted only through an anchor
// a test added, and only for chains that anchor signed.
#include <gtest/gtest.h>

#include "platform/foundation/URLLoadingTestTrust.h"
#include "tests/support/URLLoadingTest.h"

using peer::PeerChain;
using peer::TestCertificates;
using platform::URLLoadingTestTrust;

namespace {

class URLLoadingTestTrustTest : public URLLoadingTest {
  protected:
    static std::unique_ptr<HttpTestServer> tlsServer(PeerChain chain = PeerChain::WithoutRoot) {
        auto server = std::make_unique<HttpTestServer>(HttpTestServer::Options{true, chain});
        server->respond("/secret", HttpTestServer::Response::text(200, "body"));
        return server;
    }
    std::shared_ptr<RecordingConnectionDelegate> get(const HttpTestServer& server) {
        return loadToEnd(platform::URLRequest(*platform::URL::parse(server.url("/secret"))));
    }
    void expectRefused(const HttpTestServer& server) {
        auto recorder = get(server);
        EXPECT_EQ(recorder->events, (std::vector<std::string>{"fail -1202"}));
        EXPECT_TRUE(recorder->data.empty());
        EXPECT_EQ(server.requestCount(), 0u);
    }
    void expectTrusted(const HttpTestServer& server) {
        auto recorder = get(server);
        EXPECT_EQ(recorder->events, (std::vector<std::string>{"response 200", "data 4", "finish"}));
        EXPECT_EQ(recorder->body(), "body");
        EXPECT_EQ(server.requestCount("/secret"), 1u);
    }
    static bool addTestRoot() {
        return URLLoadingTestTrust::addAnchorForTesting(TestCertificates::shared().rootDER());
    }
};

TEST_F(URLLoadingTestTrustTest, TheTestRootIsTrustedOnlyOnceAdded) {
    auto server = tlsServer();
    expectRefused(*server);
    ASSERT_TRUE(addTestRoot());
    expectTrusted(*server);
    EXPECT_EQ(server->url(""), "https://127.0.0.1:" + std::to_string(server->port()));
}

TEST_F(URLLoadingTestTrustTest, ChainsTheAnchorDoesNotReachAreRefused) {
    ASSERT_TRUE(addTestRoot());
    for (auto chain : {PeerChain::IntermediateOnly, PeerChain::LeafOnly}) {
        SCOPED_TRACE(static_cast<int>(chain));
        expectRefused(*tlsServer(chain));
    }
}

// Removed anchors are gone for new connections: none was left in a store kept for later.
TEST_F(URLLoadingTestTrustTest, RemovedAnchorsTrustNothingMore) {
    ASSERT_TRUE(addTestRoot());
    expectTrusted(*tlsServer());
    URLLoadingTestTrust::removeAnchorsForTesting();
    expectRefused(*tlsServer());
}

TEST_F(URLLoadingTestTrustTest, BytesThatAreNotOneCertificateAddNothing) {
    const std::string& root = TestCertificates::shared().rootDER();
    for (const std::string& bytes : {std::string(), std::string("not a certificate"), root + "x",
                                     root.substr(0, root.size() / 2)}) {
        EXPECT_FALSE(URLLoadingTestTrust::addAnchorForTesting(bytes));
    }
    EXPECT_EQ(loggedCount("Test trust anchor is not a DER certificate"), 4u);
    expectRefused(*tlsServer());
}

}  // namespace
