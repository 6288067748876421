// Arbitrary reply URLs through the wallet client's open-URL entry while a masked-wallet
// request waits for the wallet application: as they come, as the query of a reply of
// the right scheme, or as a plaintext sealed with the transaction's own keys (so that it
// passes the MAC and reaches the message parser). Every request gets exactly one answer:
// from the reply, or the cancellation when the application becomes active again.
#include <google/protobuf/stubs/logging.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz/WalletFuzzing.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/TestDriver.h"
#include "platform/ui/Application.h"
#include "wallet/TBXHTTPFetcher.h"
#include "wallet/TWABackgroundTask.h"
#include "wallet/TWAClientConfig.h"
#include "wallet/TWAClientSDKTransactionContext.h"
#include "wallet/TWAEncoding.h"
#include "wallet/TWAWalletClient.h"

namespace {

using namespace walletfuzzing;

class CountingDelegate : public TWAWalletClientDelegate {
  public:
    void walletClientDidLoadMaskedWallet(TWAWalletClient&,
                                         std::shared_ptr<TWAMaskedWallet>) override {
        ++answers;
    }
    void walletClientDidFailToLoadMaskedWallet(TWAWalletClient&, const platform::Error&) override {
        ++answers;
    }
    void walletClientDidLoadFullWallet(TWAWalletClient&, std::shared_ptr<TWAFullWallet>) override {}
    void walletClientDidFailToLoadFullWallet(TWAWalletClient&, const platform::Error&) override {}
    void walletClientUserIsPreauthorized(TWAWalletClient&, bool) override {}
    int answers = 0;
};

std::string sealed(const TWACrypto& crypto, const std::string& plain) {
    const auto& key = crypto.currentEncryptionKey();
    const auto& hmacKey = crypto.currentHmacKey();
    if (!key || key->size() != 32 || !hmacKey) return {};
    const unsigned char iv[16] = {};
    std::string ciphertext(plain.size() + 16, '\0');
    int n = 0, m = 0;
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(context, EVP_aes_256_cbc(), nullptr, key->data(), iv);
    EVP_EncryptUpdate(context, reinterpret_cast<unsigned char*>(ciphertext.data()), &n,
                      reinterpret_cast<const unsigned char*>(plain.data()),
                      static_cast<int>(plain.size()));
    EVP_EncryptFinal_ex(context, reinterpret_cast<unsigned char*>(ciphertext.data()) + n, &m);
    EVP_CIPHER_CTX_free(context);
    ciphertext.resize(static_cast<size_t>(n + m));
    unsigned char mac[32];
    unsigned int length = 0;
    HMAC(EVP_sha256(), hmacKey->data(), static_cast<int>(hmacKey->size()),
         reinterpret_cast<const unsigned char*>(ciphertext.data()), ciphertext.size(), mac,
         &length);
    return "r=" + TWABase64URLEncode(ciphertext, false) +
           "&s=" + TWABase64URLEncode(std::string(reinterpret_cast<char*>(mac), length), false);
}

std::shared_ptr<CountingDelegate> setUp() {
    setUpWalletFuzzing("/tmp/fuzz-wallet-reply-XXXXXX");

    auto delegate = std::make_shared<CountingDelegate>();
    auto client = TWAWalletClient::sharedInstance();
    client->setDelegate(delegate);
    TWAWalletClient::handleOpenURL(*platform::URL::parse(TWAWalletClient::urlForTest()),
                                   std::nullopt, nullptr);
    return delegate;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static auto delegate = setUp();
    if (size < 1) return 0;
    const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    auto client = TWAWalletClient::sharedInstance();
    auto request = TWAMaskedWalletRequest::create("USD", "1.00");
    delegate->answers = 0;
    client->loadMaskedWallet(request);
    if (delegate->answers != 0 || !client->transactionContext()->openURLInProgress())
        __builtin_trap();  // the request must wait for the wallet application

    std::string text;
    switch (data[0] % 3) {
        case 0:
            text = rest;
            break;
        case 1:
            text = TWAWalletClient::maskedWalletCallbackURL() + "?" + rest;
            break;
        default:
            text = TWAWalletClient::maskedWalletCallbackURL() + "?" +
                   sealed(*client->transactionContext()->cryptor(), rest);
            break;
    }
    const std::optional<std::string> source =
        data[0] & 4 ? std::optional<std::string>("com.tessera.wallet") : std::nullopt;
    if (auto url = platform::URL::parse(text))
        TWAWalletClient::handleOpenURL(*url, source, nullptr);
    auto& app = platform::Application::shared();
    app.resignActive();
    app.becomeActive();
    platform::runUntilIdle();
    if (delegate->answers != 1 || client->transactionContext()->openURLInProgress())
        __builtin_trap();
    resetApplicationForWalletFuzzing();
    return 0;
}
