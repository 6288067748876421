#pragma once
// Certificate-chain evaluation against a trust store, the platform's default policy for
// a TLS server: the chain must lead to an anchor of the store, every certificate must be
// valid at the platform clock's time, and, when a host is given, the leaf must name it.
//
//   auto result = platform::evaluateTrust(stream->peerCertificateChain(), "api.example");
//   if (!result.trusted) log(result.reason);
//   auto rootName = platform::certificateSubjectCommonName(result.verifiedChain.back());
//
// Certificates travel as DER bytes in std::string, leaf first. The default store is the
// system's (/etc/ssl/certs); tests install their own with TrustStore::setDefault.
// Thread-safe.

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

class TrustStore {
  public:
    // The system's anchors.
    static std::shared_ptr<const TrustStore> system();
    // A store holding exactly these anchors (DER).
    static std::shared_ptr<const TrustStore> withCertificates(
        const std::vector<std::string>& anchorsDER);

    // The store that evaluations and validating TLS connections use when given none.
    static std::shared_ptr<const TrustStore> defaultStore();
    // Null puts the system store back.
    static void setDefault(std::shared_ptr<const TrustStore> store);

    struct Impl;
    explicit TrustStore(std::unique_ptr<Impl> impl);
    ~TrustStore();
    const Impl& impl() const { return *impl_; }

  private:
    std::unique_ptr<Impl> impl_;
};

struct TrustResult {
    bool trusted = false;
    // Why the chain is not trusted ("unable to get local issuer certificate", ...).
    std::string reason;
    // The chain the evaluation built when trusted, leaf first, ending at the store's
    // anchor; presented certificates it did not need are not in it.
    std::vector<std::string> verifiedChain;
};

// `host` empty: the leaf's names are not checked. `store` null: the default store.
TrustResult evaluateTrust(const std::vector<std::string>& chainDER, const std::string& host = {},
                          std::shared_ptr<const TrustStore> store = nullptr);

// The common name of the certificate's subject; none when it has none or the bytes are
// not a certificate.
std::optional<std::string> certificateSubjectCommonName(const std::string& der);
// The PEM text of a DER certificate ("-----BEGIN CERTIFICATE-----" ...); empty for bad bytes.
std::string certificateToPEM(const std::string& der);

}  // namespace platform
