#include "wallet/TWACrypto.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <array>
#include <climits>
#include <mutex>

#include "platform/foundation/SharedInstances.h"

namespace {

constexpr size_t kKeySize = 32;
constexpr size_t kMacSize = 32;

std::mutex& randomSourceMutex() {
    static auto* mutex = new std::mutex;
    return *mutex;
}

TWACrypto::RandomSource& randomSource() {
    static auto* source = [] {
        platform::registerSharedInstanceReset(
            "TWACrypto random source", [] { TWACrypto::setRandomSourceForTesting(nullptr); });
        return new TWACrypto::RandomSource;
    }();
    return *source;
}

struct CipherContextFree {
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};

const EVP_CIPHER* cipherForKeyLength(size_t length) {
    switch (length) {
        case 16:
            return EVP_aes_128_cbc();
        case 24:
            return EVP_aes_192_cbc();
        case 32:
            return EVP_aes_256_cbc();
        default:
            return nullptr;
    }
}

}  // namespace

std::shared_ptr<TWACrypto> TWACrypto::instance() {
    return std::shared_ptr<TWACrypto>(new TWACrypto);
}

std::shared_ptr<TWACrypto> TWACrypto::instance(const std::optional<TWAData>& encryptionKey,
                                               const std::optional<TWAData>& hmacKey) {
    auto crypto = instance();
    crypto->encryptionKey_ = encryptionKey;
    crypto->hmacKey_ = hmacKey;
    return crypto;
}

std::shared_ptr<TWACrypto> TWACrypto::createWithCoder(const TWAKeyedArchive& coder) {
    return instance(coder.decodeData("EncryptionKey"), coder.decodeData("HMACKey"));
}

void TWACrypto::setRandomSourceForTesting(RandomSource source) {
    std::lock_guard lock(randomSourceMutex());
    randomSource() = std::move(source);
}

std::optional<TWAData> TWACrypto::generateKeyOfSize(size_t size) {
    TWAData bytes(size);
    bool ok;
    {
        std::lock_guard lock(randomSourceMutex());
        auto& source = randomSource();
        if (source)
            ok = source(bytes.data(), size);
        else
            ok = size <= INT_MAX && RAND_bytes(bytes.data(), static_cast<int>(size)) == 1;
    }
    if (!ok) {
        TWA_LOG("TWACrypto: no random bytes for a key of {} bytes", size);
        return std::nullopt;
    }
    return bytes;
}

const std::optional<TWAData>& TWACrypto::encryptionKey() const {
    if (!encryptionKey_) encryptionKey_ = generateKeyOfSize(kKeySize);
    return encryptionKey_;
}

const std::optional<TWAData>& TWACrypto::hmacKey() const {
    if (!hmacKey_) hmacKey_ = generateKeyOfSize(kKeySize);
    return hmacKey_;
}

std::optional<TWAData> TWACrypto::hmac(const TWAData& data) const {
    if (data.empty()) return std::nullopt;
    const auto& key = hmacKey();
    if (!key || key->size() > INT_MAX) return std::nullopt;
    TWAData out(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    if (!HMAC(EVP_sha256(), key->data(), static_cast<int>(key->size()), data.data(), data.size(),
              out.data(), &length))
        return std::nullopt;
    out.resize(length);
    return out;
}

std::optional<TWAData> TWACrypto::decrypt(const TWAData& data) {
    if (data.empty()) return std::nullopt;
    std::optional<TWAData> key = encryptionKey();
    // One attempt per key, whatever its outcome.
    encryptionKey_.reset();
    if (!key) return std::nullopt;
    const EVP_CIPHER* cipher = cipherForKeyLength(key->size());
    if (!cipher || data.size() > INT_MAX - 16) return std::nullopt;
    std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree> context(EVP_CIPHER_CTX_new());
    if (!context) return std::nullopt;
    const std::array<uint8_t, 16> iv{};
    TWAData out(data.size() + 16);
    int written = 0;
    int finalWritten = 0;
    if (EVP_DecryptInit_ex(context.get(), cipher, nullptr, key->data(), iv.data()) != 1 ||
        EVP_DecryptUpdate(context.get(), out.data(), &written, data.data(),
                          static_cast<int>(data.size())) != 1 ||
        EVP_DecryptFinal_ex(context.get(), out.data() + written, &finalWritten) != 1)
        return std::nullopt;
    out.resize(static_cast<size_t>(written + finalWritten));
    return out;
}

bool TWACrypto::constantTimeIsArray(const uint8_t* first, const uint8_t* second, size_t length) {
    if (length == 0) return true;
    TWA_ASSERT(first && second);
    if (!first || !second) return false;
    volatile uint8_t difference = 0;
    for (size_t i = 0; i < length; ++i) difference = difference | (first[i] ^ second[i]);
    return difference == 0;
}

std::optional<TWAData> TWACrypto::verify(const TWAData& mac, const TWAData& ciphertext) {
    if (mac.size() != kMacSize) return std::nullopt;
    auto computed = hmac(ciphertext);
    if (!computed || computed->size() != kMacSize) return std::nullopt;
    std::array<uint8_t, kMacSize> given{};
    std::array<uint8_t, kMacSize> expected{};
    std::copy(mac.begin(), mac.end(), given.begin());
    std::copy(computed->begin(), computed->end(), expected.begin());
    if (!constantTimeIsArray(given.data(), expected.data(), kMacSize)) return std::nullopt;
    return decrypt(ciphertext);
}

void TWACrypto::encodeWithCoder(TWAKeyedArchive& coder) const {
    coder.encodeData("EncryptionKey", encryptionKey());
    coder.encodeData("HMACKey", hmacKey());
    coder.encodeInt32("CodingVersion", codingVersion());
}

bool TWACrypto::isEqual(const TWAObject* other) const {
    if (other == this) return true;
    if (!isSameClass(other)) return false;
    auto* o = static_cast<const TWACrypto*>(other);
    return encryptionKey_ == o->encryptionKey_ && hmacKey_ == o->hmacKey_;
}

uint64_t TWACrypto::hash() const {
    return 961 + 31 * TWAHashOf(encryptionKey()) + TWAHashOf(hmacKey());
}

std::string TWACrypto::descriptionWithLocale(const std::optional<std::string>&, unsigned) const {
    // The platform's plain form; never the keys.
    return "<TWACrypto>";
}
