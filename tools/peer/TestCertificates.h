#pragma once
// Certificates made at test time with OpenSSL (EC P-256), once per process:
//   "Merovane Test Root CA" -> "Merovane Test Intermediate CA" -> leaf for
//   "localhost", "api.example" and 127.0.0.1;
// and, for chains that lead nowhere trusted, "Merovane Stray Intermediate CA" (issued
// by "Merovane Stray Root CA", which only strayTrustStore() holds) with its own leaf
// for the same names.
// Validity runs from before the manual clock's start to twenty years after now.
//
//   const auto& certs = TestCertificates::shared();
//   platform::TrustStore::setDefault(certs.trustStore());
//   ApiPeer peer({.tls = true, .chain = PeerChain::WithRoot});

#include <memory>
#include <string>
#include <vector>

namespace platform {
class TrustStore;
}

namespace peer {

enum class PeerChain {
    WithRoot,          // leaf, intermediate, root
    WithoutRoot,       // leaf, intermediate
    LeafOnly,          // leaf: the intermediate is missing
    IntermediateOnly,  // stray leaf, stray intermediate: no trusted root above it
    // stray leaf, stray intermediate, and the test root appended though it signed neither
    StrayWithTestRootAppended,
};

struct TlsIdentity {
    std::vector<std::string> chainDER;  // leaf first
    std::string privateKeyPEM;
};

class TestCertificates {
  public:
    static const TestCertificates& shared();

    static constexpr const char* kRootName = "Merovane Test Root CA";
    static constexpr const char* kIntermediateName = "Merovane Test Intermediate CA";
    static constexpr const char* kStrayIntermediateName = "Merovane Stray Intermediate CA";
    static constexpr const char* kStrayRootName = "Merovane Stray Root CA";
    static constexpr const char* kLeafName = "localhost";

    const std::string& rootDER() const { return root_; }
    const std::string& intermediateDER() const { return intermediate_; }
    const std::string& leafDER() const { return leaf_; }

    std::vector<std::string> chain(PeerChain kind) const;
    TlsIdentity identity(PeerChain kind) const;
    // A store whose one anchor is the test root.
    std::shared_ptr<const platform::TrustStore> trustStore() const;
    // A store with two anchors: the test root and the stray root.
    std::shared_ptr<const platform::TrustStore> strayTrustStore() const;

    TestCertificates();

  private:
    std::string root_, intermediate_, leaf_, strayRoot_, strayIntermediate_, strayLeaf_;
    std::string leafKeyPEM_;
};

}  // namespace peer
