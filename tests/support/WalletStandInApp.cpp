#include "tests/support/WalletStandInApp.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include "platform/foundation/Bundle.h"
#include "platform/ui/Application.h"
#include "wallet/TBXOAuth2Authentication.h"
#include "wallet/TWAEncoding.h"
#include "wallet/TWAWalletClient.h"

namespace {

std::optional<std::string> standInEncrypt(const std::string& key, const std::string& plain) {
    if (key.size() != 32) return std::nullopt;
    const unsigned char iv[16] = {};
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    std::string out(plain.size() + 16, '\0');
    int n = 0, m = 0;
    bool ok =
        EVP_EncryptInit_ex(context, EVP_aes_256_cbc(), nullptr,
                           reinterpret_cast<const unsigned char*>(key.data()), iv) == 1 &&
        EVP_EncryptUpdate(context, reinterpret_cast<unsigned char*>(out.data()), &n,
                          reinterpret_cast<const unsigned char*>(plain.data()),
                          static_cast<int>(plain.size())) == 1 &&
        EVP_EncryptFinal_ex(context, reinterpret_cast<unsigned char*>(out.data()) + n, &m) == 1;
    EVP_CIPHER_CTX_free(context);
    if (!ok) return std::nullopt;
    out.resize(static_cast<size_t>(n + m));
    return out;
}

std::string standInHmac(const std::string& key, const std::string& data) {
    unsigned char mac[32];
    unsigned int length = 0;
    HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
         reinterpret_cast<const unsigned char*>(data.data()), data.size(), mac, &length);
    return std::string(reinterpret_cast<const char*>(mac), length);
}

}  // namespace

WalletStandInApp::WalletStandInApp() : hostScheme_(TWAWalletClient::schemeForApp()) {
    auto& app = platform::Application::shared();
    app.registerURLSchemeForTesting(
        kScheme, [this](const platform::URL& url) { receive(url.absoluteString()); });
    app.registerURLSchemeForTesting(hostScheme_, [this](const platform::URL& url) {
        callbackCheckAnswers_.push_back(TWAWalletClient::handleOpenURL(
            url, platform::Bundle::main().bundleIdentifier(), nullptr));
    });
}

WalletStandInApp::~WalletStandInApp() {
    auto& app = platform::Application::shared();
    app.registerURLSchemeForTesting(kScheme, nullptr);
    app.registerURLSchemeForTesting(hostScheme_, nullptr);
}

walletproto::OWIOnlineWalletIosConfig WalletStandInApp::configuration() {
    walletproto::OWIOnlineWalletIosConfig config;
    config.set_wallet_availability(walletproto::OWIOnlineWalletIosConfig::AVAILABLE);
    auto* scheme = config.add_url_schemes();
    scheme->set_url_scheme(kScheme);
    scheme->set_base_url(kBaseUrl);
    scheme->set_bundle_id(kBundleId);
    return config;
}

std::string WalletStandInApp::encryptionKeyOf(const Request& request) {
    return TWABase64URLDecodeUnpadded(request.encryption_parameters().encryption_key())
        .value_or(std::string());
}

std::string WalletStandInApp::hmacKeyOf(const Request& request) {
    return TWABase64URLDecodeUnpadded(request.encryption_parameters().hmac_key())
        .value_or(std::string());
}

std::string WalletStandInApp::encrypt(const std::string& key, const std::string& plain) {
    return standInEncrypt(key, plain).value_or(std::string());
}

std::string WalletStandInApp::hmac(const std::string& key, const std::string& data) {
    return standInHmac(key, data);
}

std::optional<std::string> WalletStandInApp::normalReply(const Request& request,
                                                         bool tamper) const {
    auto ciphertext = standInEncrypt(encryptionKeyOf(request), response_.SerializeAsString());
    const std::string hmacKey = hmacKeyOf(request);
    if (!ciphertext || hmacKey.empty()) return std::nullopt;
    const std::string mac = standInHmac(hmacKey, *ciphertext);
    if (tamper) (*ciphertext)[0] = static_cast<char>((*ciphertext)[0] ^ 0x01);
    return "r=" + TWABase64URLEncode(*ciphertext, false) + "&s=" + TWABase64URLEncode(mac, false);
}

std::optional<std::string> WalletStandInApp::replyQuery(const Request& request) const {
    switch (mode_) {
        case Mode::Normal:
        case Mode::Tamper:
            return normalReply(request, mode_ == Mode::Tamper);
        case Mode::Error:
            return TBXOAuth2Authentication::encodedQueryParametersForDictionary(
                {{"e", std::to_string(errorType_)}, {"ed", errorText_}});
        case Mode::Custom:
            return replyMaker_ ? std::optional<std::string>(replyMaker_(request)) : std::nullopt;
        case Mode::Silent:
            return std::nullopt;
    }
    return std::nullopt;
}

void WalletStandInApp::receive(const std::string& url) {
    auto& app = platform::Application::shared();
    app.resignActive();  // the wallet application is in front
    const auto parsed = platform::URL::parse(url);
    const auto form = TBXOAuth2Authentication::dictionaryWithResponseString(
        parsed && parsed->query() ? *parsed->query() : std::string());
    auto r = form.find("r");
    auto bytes = r != form.end() ? TWABase64URLDecodeUnpadded(r->second) : std::nullopt;
    Request request;
    if (!bytes || !request.ParseFromString(*bytes)) {
        faults_.push_back("request does not decode: " + url);
    } else if (request.encryption_parameters().scheme() != 1 ||
               request.encryption_parameters().encryption_key().size() != 43 ||
               request.encryption_parameters().hmac_key().size() != 43) {
        faults_.push_back("encryption parameters: " +
                          request.encryption_parameters().DebugString());
    } else {
        requests_.push_back(request);
        if (mode_ == Mode::Silent) return;  // the buyer stays in the wallet application
        if (auto query = replyQuery(request)) {
            auto reply = platform::URL::parse(request.callback_url() + "?" + *query);
            if (reply)
                replyAnswers_.push_back(TWAWalletClient::handleOpenURL(*reply, kBundleId, nullptr));
            else
                faults_.push_back("callback URL: " + request.callback_url());
        }
    }
    app.becomeActive();
}
