#include "platform/foundation/TrustEvaluation.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <mutex>

#include "platform/foundation/Clock.h"
#include "platform/foundation/OpenSSLSupport.h"
#include "platform/foundation/SharedInstances.h"

namespace platform {
namespace openssl {

X509Ptr certificateFromDER(std::string_view der) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(der.data());
    X509Ptr certificate(d2i_X509(nullptr, &bytes, static_cast<long>(der.size())));
    // Trailing bytes mean the caller handed us something else.
    if (certificate && bytes != reinterpret_cast<const unsigned char*>(der.data()) + der.size())
        return nullptr;
    if (!certificate) ERR_clear_error();
    return certificate;
}

std::string derOf(X509* certificate) {
    unsigned char* bytes = nullptr;
    int length = i2d_X509(certificate, &bytes);
    if (length <= 0) return {};
    std::string out(reinterpret_cast<char*>(bytes), static_cast<size_t>(length));
    OPENSSL_free(bytes);
    return out;
}

void applyServerPolicy(X509_VERIFY_PARAM* param, const std::string& host) {
    X509_VERIFY_PARAM_set_time(param, static_cast<time_t>(Clock::wallSeconds()));
    X509_VERIFY_PARAM_set_purpose(param, X509_PURPOSE_SSL_SERVER);
    if (host.empty()) return;
    unsigned char address[16];
    if (inet_pton(AF_INET, host.c_str(), address) == 1 ||
        inet_pton(AF_INET6, host.c_str(), address) == 1) {
        X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
    } else {
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size());
    }
}

std::string takeErrorText() {
    std::string text;
    while (unsigned long code = ERR_get_error()) {
        char buffer[256];
        ERR_error_string_n(code, buffer, sizeof buffer);
        if (!text.empty()) text += "; ";
        text += buffer;
    }
    return text;
}

}  // namespace openssl

namespace {

constexpr const char* kSystemAnchors = "/etc/ssl/certs";

struct DefaultStore {
    std::mutex mutex;
    std::shared_ptr<const TrustStore> store;  // null: the system's
};
DefaultStore& defaultStoreState() {
    static auto* state = new DefaultStore;
    return *state;
}

std::shared_ptr<const TrustStore> makeStore(X509_STORE* store) {
    auto impl = std::make_unique<TrustStore::Impl>();
    impl->store = store;
    return std::make_shared<const TrustStore>(std::move(impl));
}

}  // namespace

TrustStore::TrustStore(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
TrustStore::~TrustStore() = default;

std::shared_ptr<const TrustStore> TrustStore::system() {
    static const auto store = [] {
        X509_STORE* s = X509_STORE_new();
        // The hashed directory is read lazily, one anchor at a time, as chains need them.
        if (X509_STORE_load_path(s, kSystemAnchors) != 1) X509_STORE_set_default_paths(s);
        ERR_clear_error();
        return new std::shared_ptr<const TrustStore>(makeStore(s));
    }();
    return *store;
}

std::shared_ptr<const TrustStore> TrustStore::withCertificates(
    const std::vector<std::string>& anchorsDER) {
    X509_STORE* s = X509_STORE_new();
    for (const auto& der : anchorsDER) {
        if (auto certificate = openssl::certificateFromDER(der))
            X509_STORE_add_cert(s, certificate.get());
    }
    ERR_clear_error();
    return makeStore(s);
}

std::shared_ptr<const TrustStore> TrustStore::defaultStore() {
    {
        auto& state = defaultStoreState();
        std::lock_guard lock(state.mutex);
        if (state.store) return state.store;
    }
    return system();
}

void TrustStore::setDefault(std::shared_ptr<const TrustStore> store) {
    auto& state = defaultStoreState();
    {
        std::lock_guard lock(state.mutex);
        state.store = std::move(store);
    }
    registerSharedInstanceReset("platform::TrustStore::defaultStore", [] { setDefault(nullptr); });
}

TrustResult evaluateTrust(const std::vector<std::string>& chainDER, const std::string& host,
                          std::shared_ptr<const TrustStore> store) {
    if (chainDER.empty()) return {false, "no certificate presented", {}};
    if (!store) store = TrustStore::defaultStore();
    auto leaf = openssl::certificateFromDER(chainDER.front());
    if (!leaf) return {false, "certificate could not be read", {}};
    std::vector<openssl::X509Ptr> rest;
    STACK_OF(X509)* untrusted = sk_X509_new_null();
    for (size_t i = 1; i < chainDER.size(); ++i) {
        auto certificate = openssl::certificateFromDER(chainDER[i]);
        if (!certificate) {
            sk_X509_free(untrusted);
            return {false, "certificate could not be read", {}};
        }
        sk_X509_push(untrusted, certificate.get());
        rest.push_back(std::move(certificate));
    }
    X509_STORE_CTX* context = X509_STORE_CTX_new();
    TrustResult result;
    if (X509_STORE_CTX_init(context, store->impl().store, leaf.get(), untrusted) == 1) {
        openssl::applyServerPolicy(X509_STORE_CTX_get0_param(context), host);
        result.trusted = X509_verify_cert(context) == 1;
        if (result.trusted) {
            STACK_OF(X509)* built = X509_STORE_CTX_get0_chain(context);
            for (int i = 0; i < sk_X509_num(built); ++i)
                result.verifiedChain.push_back(openssl::derOf(sk_X509_value(built, i)));
        } else {
            result.reason = X509_verify_cert_error_string(X509_STORE_CTX_get_error(context));
        }
    } else {
        result.reason = "verification could not start";
    }
    X509_STORE_CTX_free(context);
    sk_X509_free(untrusted);
    ERR_clear_error();
    return result;
}

std::optional<std::string> certificateSubjectCommonName(const std::string& der) {
    auto certificate = openssl::certificateFromDER(der);
    if (!certificate) return std::nullopt;
    X509_NAME* subject = X509_get_subject_name(certificate.get());
    int index = X509_NAME_get_index_by_NID(subject, NID_commonName, -1);
    if (index < 0) return std::nullopt;
    ASN1_STRING* data = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, index));
    unsigned char* utf8 = nullptr;
    int length = ASN1_STRING_to_UTF8(&utf8, data);
    if (length < 0) {
        ERR_clear_error();
        return std::nullopt;
    }
    std::string name(reinterpret_cast<char*>(utf8), static_cast<size_t>(length));
    OPENSSL_free(utf8);
    return name;
}

std::string certificateToPEM(const std::string& der) {
    auto certificate = openssl::certificateFromDER(der);
    if (!certificate) return {};
    BIO* bio = BIO_new(BIO_s_mem());
    std::string out;
    if (PEM_write_bio_X509(bio, certificate.get()) == 1) {
        char* data = nullptr;
        long length = BIO_get_mem_data(bio, &data);
        out.assign(data, static_cast<size_t>(length));
    }
    BIO_free(bio);
    return out;
}

}  // namespace platform
