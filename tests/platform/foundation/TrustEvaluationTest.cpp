#include <gtest/gtest.h>

#include "platform/foundation/TestDriver.h"
#include "platform/foundation/TrustEvaluation.h"
#include "tests/support/PlatformTest.h"
#include "tools/peer/TestCertificates.h"

using peer::PeerChain;
using peer::TestCertificates;
using platform::TrustStore;

namespace {
class TrustEvaluationTest : public PlatformTest {
  protected:
    const TestCertificates& certs_ = TestCertificates::shared();
};
}  // namespace

TEST_F(TrustEvaluationTest, ChainsAreJudgedAgainstTheInjectedStore) {
    struct Case {
        const char* name;
        PeerChain chain;
        bool trusted;
        const char* reason;
    };
    const Case cases[] = {
        {"leaf, intermediate and root", PeerChain::WithRoot, true, ""},
        // The store supplies the root the server left out.
        {"leaf and intermediate", PeerChain::WithoutRoot, true, ""},
        {"leaf without its intermediate", PeerChain::LeafOnly, false,
         "unable to get local issuer certificate"},
        {"intermediate of an unknown root", PeerChain::IntermediateOnly, false,
         "unable to get local issuer certificate"},
        // An appended root that signed nothing of the chain does not make it trusted.
        {"unknown root's chain with the test root appended", PeerChain::StrayWithTestRootAppended,
         false, "unable to get local issuer certificate"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto result = platform::evaluateTrust(certs_.chain(c.chain), "", certs_.trustStore());
        EXPECT_EQ(result.trusted, c.trusted);
        EXPECT_EQ(result.reason, c.reason);
    }
}

TEST_F(TrustEvaluationTest, TheVerifiedChainEndsAtTheStoresAnchorNotAtWhatWasAppended) {
    auto result =
        platform::evaluateTrust(certs_.chain(PeerChain::WithoutRoot), "", certs_.trustStore());
    EXPECT_EQ(result.verifiedChain, certs_.chain(PeerChain::WithRoot));

    const auto stray = certs_.chain(PeerChain::StrayWithTestRootAppended);
    result = platform::evaluateTrust(stray, "", certs_.strayTrustStore());
    ASSERT_TRUE(result.trusted);
    ASSERT_EQ(result.verifiedChain.size(), 3u);
    EXPECT_EQ(result.verifiedChain[0], stray[0]);
    EXPECT_EQ(result.verifiedChain[1], stray[1]);
    EXPECT_EQ(platform::certificateSubjectCommonName(result.verifiedChain[2]),
              TestCertificates::kStrayRootName);

    EXPECT_TRUE(platform::evaluateTrust(stray, "", certs_.trustStore()).verifiedChain.empty());
}

TEST_F(TrustEvaluationTest, TheDefaultStoreIsTheSystemsUntilATestInstallsItsOwn) {
    const auto chain = certs_.chain(PeerChain::WithRoot);
    EXPECT_FALSE(platform::evaluateTrust(chain).trusted);
    TrustStore::setDefault(certs_.trustStore());
    EXPECT_TRUE(platform::evaluateTrust(chain).trusted);
    TrustStore::setDefault(nullptr);
    EXPECT_FALSE(platform::evaluateTrust(chain).trusted);
    EXPECT_EQ(TrustStore::defaultStore(), TrustStore::system());
}

TEST_F(TrustEvaluationTest, TheHostMustBeNamedByTheLeaf) {
    const auto chain = certs_.chain(PeerChain::WithoutRoot);
    for (const char* host : {"api.example", "localhost", "127.0.0.1"}) {
        SCOPED_TRACE(host);
        EXPECT_TRUE(platform::evaluateTrust(chain, host, certs_.trustStore()).trusted);
    }
    for (const char* host : {"other.example", "sub.api.example", "127.0.0.2", "::1"}) {
        SCOPED_TRACE(host);
        auto result = platform::evaluateTrust(chain, host, certs_.trustStore());
        EXPECT_FALSE(result.trusted);
        EXPECT_NE(result.reason.find("mismatch"), std::string::npos) << result.reason;
    }
}

TEST_F(TrustEvaluationTest, ValidityIsCheckedAtThePlatformClocksTime) {
    const auto chain = certs_.chain(PeerChain::WithRoot);
    EXPECT_TRUE(platform::evaluateTrust(chain, "", certs_.trustStore()).trusted);
    platform::advanceBy(40.0 * 365 * 86400);
    auto result = platform::evaluateTrust(chain, "", certs_.trustStore());
    EXPECT_FALSE(result.trusted);
    EXPECT_EQ(result.reason, "certificate has expired");
}

TEST_F(TrustEvaluationTest, UnreadableInputIsUntrustedNotACrash) {
    EXPECT_EQ(platform::evaluateTrust({}, "", certs_.trustStore()).reason,
              "no certificate presented");
    EXPECT_EQ(platform::evaluateTrust({"not a certificate"}, "", certs_.trustStore()).reason,
              "certificate could not be read");
    EXPECT_FALSE(
        platform::evaluateTrust({certs_.leafDER(), "junk"}, "", certs_.trustStore()).trusted);
    // Bytes after a certificate are not a certificate either.
    EXPECT_FALSE(platform::evaluateTrust({certs_.leafDER() + "x", certs_.intermediateDER()}, "",
                                         certs_.trustStore())
                     .trusted);
    EXPECT_FALSE(platform::certificateSubjectCommonName("junk"));
    EXPECT_EQ(platform::certificateToPEM("junk"), "");
}

TEST_F(TrustEvaluationTest, CommonNamesAndPEMOfTheChain) {
    const auto chain = certs_.chain(PeerChain::WithRoot);
    EXPECT_EQ(platform::certificateSubjectCommonName(chain.back()), TestCertificates::kRootName);
    EXPECT_EQ(platform::certificateSubjectCommonName(chain[1]),
              TestCertificates::kIntermediateName);
    EXPECT_EQ(platform::certificateSubjectCommonName(chain[0]), TestCertificates::kLeafName);
    EXPECT_EQ(
        platform::certificateSubjectCommonName(certs_.chain(PeerChain::IntermediateOnly).back()),
        TestCertificates::kStrayIntermediateName);
    const std::string pem = platform::certificateToPEM(chain[0]);
    EXPECT_TRUE(pem.starts_with("-----BEGIN CERTIFICATE-----\n"));
    EXPECT_TRUE(pem.ends_with("-----END CERTIFICATE-----\n"));
}
