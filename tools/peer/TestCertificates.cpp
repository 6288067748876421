#include "tools/peer/TestCertificates.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <ctime>
#include <stdexcept>

#include "platform/foundation/Clock.h"
#include "platform/foundation/TrustEvaluation.h"

namespace peer {
namespace {

struct KeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct CertFree {
    void operator()(X509* x) const { X509_free(x); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Cert = std::unique_ptr<X509, CertFree>;

Key makeKey() {
    Key key(EVP_EC_gen("P-256"));
    if (!key) throw std::runtime_error("test key could not be made");
    return key;
}

void addExtension(X509* certificate, X509* issuer, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    if (!extension) throw std::runtime_error("test certificate extension could not be made");
    X509_add_ext(certificate, extension, -1);
    X509_EXTENSION_free(extension);
}

// `issuer` null: self-signed with `key`.
Cert makeCertificate(const char* commonName, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey,
                     bool authority) {
    static long serial = 1000;
    Cert certificate(X509_new());
    X509* x = certificate.get();
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), ++serial);
    const time_t now = std::time(nullptr);
    const auto manualStart = static_cast<time_t>(platform::Clock::kManualWallEpoch);
    ASN1_TIME_set(X509_getm_notBefore(x), std::min(now, manualStart) - 30 * 86400);
    ASN1_TIME_set(X509_getm_notAfter(x), std::max(now, manualStart) + 20L * 365 * 86400);
    X509_set_pubkey(x, key);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(x), "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
    X509_set_issuer_name(x, issuer ? X509_get_subject_name(issuer) : X509_get_subject_name(x));
    X509* signer = issuer ? issuer : x;
    addExtension(x, signer, NID_subject_key_identifier, "hash");
    addExtension(x, signer, NID_authority_key_identifier, "keyid:always");
    if (authority) {
        addExtension(x, signer, NID_basic_constraints, "critical,CA:TRUE");
        addExtension(x, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        addExtension(x, signer, NID_basic_constraints, "critical,CA:FALSE");
        addExtension(x, signer, NID_key_usage, "critical,digitalSignature");
        addExtension(x, signer, NID_ext_key_usage, "serverAuth");
        addExtension(x, signer, NID_subject_alt_name, "DNS:localhost,DNS:api.example,IP:127.0.0.1");
    }
    if (X509_sign(x, issuer ? issuerKey : key, EVP_sha256()) <= 0)
        throw std::runtime_error("test certificate could not be signed");
    return certificate;
}

std::string der(X509* certificate) {
    unsigned char* bytes = nullptr;
    int length = i2d_X509(certificate, &bytes);
    std::string out(reinterpret_cast<char*>(bytes), static_cast<size_t>(length));
    OPENSSL_free(bytes);
    return out;
}

std::string keyPEM(EVP_PKEY* key) {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
    char* data = nullptr;
    long length = BIO_get_mem_data(bio, &data);
    std::string out(data, static_cast<size_t>(length));
    BIO_free(bio);
    return out;
}

}  // namespace

TestCertificates::TestCertificates() {
    Key rootKey = makeKey(), intermediateKey = makeKey(), leafKey = makeKey();
    Cert root = makeCertificate(kRootName, rootKey.get(), nullptr, nullptr, true);
    Cert intermediate =
        makeCertificate(kIntermediateName, intermediateKey.get(), root.get(), rootKey.get(), true);
    Cert leaf =
        makeCertificate(kLeafName, leafKey.get(), intermediate.get(), intermediateKey.get(), false);

    Key strayRootKey = makeKey(), strayIntermediateKey = makeKey();
    Cert strayRoot = makeCertificate(kStrayRootName, strayRootKey.get(), nullptr, nullptr, true);
    Cert strayIntermediate = makeCertificate(kStrayIntermediateName, strayIntermediateKey.get(),
                                             strayRoot.get(), strayRootKey.get(), true);
    Cert strayLeaf = makeCertificate(kLeafName, leafKey.get(), strayIntermediate.get(),
                                     strayIntermediateKey.get(), false);

    root_ = der(root.get());
    intermediate_ = der(intermediate.get());
    leaf_ = der(leaf.get());
    strayRoot_ = der(strayRoot.get());
    strayIntermediate_ = der(strayIntermediate.get());
    strayLeaf_ = der(strayLeaf.get());
    leafKeyPEM_ = keyPEM(leafKey.get());
}

const TestCertificates& TestCertificates::shared() {
    static const auto* certificates = new TestCertificates;
    return *certificates;
}

std::vector<std::string> TestCertificates::chain(PeerChain kind) const {
    switch (kind) {
        case PeerChain::WithRoot:
            return {leaf_, intermediate_, root_};
        case PeerChain::WithoutRoot:
            return {leaf_, intermediate_};
        case PeerChain::LeafOnly:
            return {leaf_};
        case PeerChain::IntermediateOnly:
            return {strayLeaf_, strayIntermediate_};
        case PeerChain::StrayWithTestRootAppended:
            return {strayLeaf_, strayIntermediate_, root_};
    }
    return {};
}

TlsIdentity TestCertificates::identity(PeerChain kind) const {
    return {chain(kind), leafKeyPEM_};
}

std::shared_ptr<const platform::TrustStore> TestCertificates::trustStore() const {
    return platform::TrustStore::withCertificates({root_});
}

std::shared_ptr<const platform::TrustStore> TestCertificates::strayTrustStore() const {
    return platform::TrustStore::withCertificates({root_, strayRoot_});
}

}  // namespace peer
