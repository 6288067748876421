#pragma once
// OpenSSL helpers shared by the trust evaluation and the socket streams. Included by
// .cpp files only, so that OpenSSL stays out of the platform's public headers.

#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/TrustEvaluation.h"

namespace platform {

struct TrustStore::Impl {
    X509_STORE* store = nullptr;  // owned
    ~Impl() { X509_STORE_free(store); }
};

namespace openssl {

struct X509Free {
    void operator()(X509* x) const { X509_free(x); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;

X509Ptr certificateFromDER(std::string_view der);
std::string derOf(X509* certificate);
// Applies the platform's server policy to a verification: the platform clock's time,
// the TLS server purpose and, when not empty, the host (a name or an IP address).
void applyServerPolicy(X509_VERIFY_PARAM* param, const std::string& host);
// Drains OpenSSL's error queue of this thread into one line.
std::string takeErrorText();

}  // namespace openssl
}  // namespace platform
