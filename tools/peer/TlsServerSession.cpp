#include "tools/peer/TlsServerSession.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

#include <stdexcept>

#include "platform/foundation/OpenSSLSupport.h"

namespace peer {

TlsServerContext::TlsServerContext(const TlsIdentity& identity) {
    context_ = SSL_CTX_new(TLS_server_method());
    SSL_CTX_set_options(context_, SSL_OP_IGNORE_UNEXPECTED_EOF);
    // Present exactly the chain the test chose.
    SSL_CTX_set_mode(context_, SSL_MODE_NO_AUTO_CHAIN);
    for (size_t i = 0; i < identity.chainDER.size(); ++i) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(identity.chainDER[i].data());
        X509* certificate =
            d2i_X509(nullptr, &bytes, static_cast<long>(identity.chainDER[i].size()));
        if (i == 0) {
            SSL_CTX_use_certificate(context_, certificate);
            X509_free(certificate);
        } else {
            SSL_CTX_add0_chain_cert(context_, certificate);
        }
    }
    BIO* bio = BIO_new_mem_buf(identity.privateKeyPEM.data(),
                               static_cast<int>(identity.privateKeyPEM.size()));
    EVP_PKEY* key = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    if (!key || SSL_CTX_use_PrivateKey(context_, key) != 1) {
        EVP_PKEY_free(key);
        SSL_CTX_free(context_);
        throw std::runtime_error("server key could not be used: " +
                                 platform::openssl::takeErrorText());
    }
    EVP_PKEY_free(key);
}

TlsServerContext::~TlsServerContext() {
    SSL_CTX_free(context_);
}

TlsServerSession::TlsServerSession(const TlsServerContext& context)
    : ssl_(SSL_new(context.get())), rbio_(BIO_new(BIO_s_mem())), wbio_(BIO_new(BIO_s_mem())) {
    SSL_set_bio(ssl_, rbio_, wbio_);
    SSL_set_accept_state(ssl_);
}

TlsServerSession::~TlsServerSession() {
    SSL_free(ssl_);
}

TlsServerSession::State TlsServerSession::receive(std::string_view wire, std::string& plain) {
    if (!error_.empty()) return State::Failed;
    if (ended_) return State::Ended;
    ERR_clear_error();
    if (!wire.empty()) BIO_write(rbio_, wire.data(), static_cast<int>(wire.size()));
    if (!handshakeDone_) {
        int result = SSL_do_handshake(ssl_);
        if (result != 1) {
            int code = SSL_get_error(ssl_, result);
            if (code == SSL_ERROR_WANT_READ || code == SSL_ERROR_WANT_WRITE) return State::Open;
            error_ = "TLS handshake failed: " + platform::openssl::takeErrorText();
            return State::Failed;
        }
        handshakeDone_ = true;
    }
    for (;;) {
        char buffer[16384];
        int n = SSL_read(ssl_, buffer, sizeof buffer);
        if (n > 0) {
            plain.append(buffer, static_cast<size_t>(n));
            continue;
        }
        int code = SSL_get_error(ssl_, n);
        if (code == SSL_ERROR_WANT_READ) return State::Open;
        if (code == SSL_ERROR_ZERO_RETURN) {
            ended_ = true;
            return State::Ended;
        }
        error_ = "TLS read failed: " + platform::openssl::takeErrorText();
        return State::Failed;
    }
}

void TlsServerSession::send(std::string_view plain) {
    ERR_clear_error();
    if (!plain.empty()) SSL_write(ssl_, plain.data(), static_cast<int>(plain.size()));
}

void TlsServerSession::end() {
    ERR_clear_error();
    if (handshakeDone_) SSL_shutdown(ssl_);
}

std::string TlsServerSession::takeWire() {
    std::string out;
    char buffer[16384];
    while (BIO_ctrl_pending(wbio_) > 0) {
        int n = BIO_read(wbio_, buffer, sizeof buffer);
        if (n <= 0) break;
        out.append(buffer, static_cast<size_t>(n));
    }
    return out;
}

std::string TlsServerSession::serverName() const {
    const char* name = SSL_get_servername(ssl_, TLSEXT_NAMETYPE_host_name);
    return name ? name : "";
}

}  // namespace peer
