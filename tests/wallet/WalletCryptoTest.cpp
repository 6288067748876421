// Response protection against ciphertexts made here with OpenSSL's own encryption.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include "tests/support/PlatformTest.h"
#include "wallet/TWACrypto.h"

namespace {

class WalletCryptoTest : public PlatformTest {
  protected:
    // AES-CBC with a zero IV; PKCS7 padding unless `pad` is false.
    static TWAData encrypt(const TWAData& key, const std::string& plain, bool pad = true) {
        const EVP_CIPHER* cipher = key.size() == 16   ? EVP_aes_128_cbc()
                                   : key.size() == 24 ? EVP_aes_192_cbc()
                                                      : EVP_aes_256_cbc();
        const unsigned char iv[16] = {};
        EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
        TWAData out(plain.size() + 32);
        int n = 0, m = 0;
        EVP_EncryptInit_ex(context, cipher, nullptr, key.data(), iv);
        EVP_CIPHER_CTX_set_padding(context, pad ? 1 : 0);
        EVP_EncryptUpdate(context, out.data(), &n,
                          reinterpret_cast<const unsigned char*>(plain.data()),
                          static_cast<int>(plain.size()));
        EXPECT_EQ(EVP_EncryptFinal_ex(context, out.data() + n, &m), 1);
        EVP_CIPHER_CTX_free(context);
        out.resize(static_cast<size_t>(n + m));
        return out;
    }
    static TWAData mac(const TWAData& key, const TWAData& data) {
        TWAData out(32);
        unsigned int length = 0;
        HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()), data.data(), data.size(),
             out.data(), &length);
        return out;
    }
    static TWAData text(const std::string& s) { return TWAData(s.begin(), s.end()); }
};

}  // namespace

TEST_F(WalletCryptoTest, VerifyAndDecryptGivesThePlaintextAndDropsTheKey) {
    auto crypto = TWACrypto::instance();
    TWAData key = *crypto->encryptionKey();
    TWAData hmacKey = *crypto->hmacKey();
    EXPECT_EQ(key.size(), 32u);
    auto ciphertext = encrypt(key, "masked wallet answer");
    EXPECT_EQ(crypto->verify(mac(hmacKey, ciphertext), ciphertext), text("masked wallet answer"));
    EXPECT_FALSE(crypto->currentEncryptionKey());
    EXPECT_EQ(crypto->currentHmacKey(), hmacKey);

    // A second attempt runs with a new key: never the plaintext again.
    auto again = crypto->decrypt(ciphertext);
    EXPECT_NE(again, text("masked wallet answer"));
    EXPECT_FALSE(crypto->currentEncryptionKey());
}

TEST_F(WalletCryptoTest, KeyLengthChoosesTheCipher) {
    for (size_t length : {16, 24, 32}) {
        TWAData key(length, 7);
        auto crypto = TWACrypto::instance(key, std::nullopt);
        EXPECT_EQ(crypto->decrypt(encrypt(key, "abc")), text("abc")) << length;
    }
    auto crypto = TWACrypto::instance(TWAData(20, 7), std::nullopt);
    EXPECT_FALSE(crypto->decrypt(TWAData(16, 1)));
    EXPECT_FALSE(crypto->currentEncryptionKey());
}

TEST_F(WalletCryptoTest, MacsOfAnotherLengthAreRefusedBeforeAnyHmac) {
    auto crypto = TWACrypto::instance();
    for (size_t length : {0, 31, 33}) {
        EXPECT_FALSE(crypto->verify(TWAData(length, 0), TWAData(16, 1))) << length;
        EXPECT_FALSE(crypto->currentHmacKey()) << "no HMAC was computed";
        EXPECT_FALSE(crypto->currentEncryptionKey());
    }
}

TEST_F(WalletCryptoTest, WrongMacKeepsTheKeyAndBadPaddingDropsIt) {
    auto crypto = TWACrypto::instance();
    TWAData key = *crypto->encryptionKey();
    TWAData hmacKey = *crypto->hmacKey();
    auto ciphertext = encrypt(key, "answer");
    TWAData wrong = mac(hmacKey, ciphertext);
    wrong[31] ^= 1;
    EXPECT_FALSE(crypto->verify(wrong, ciphertext));
    EXPECT_EQ(crypto->currentEncryptionKey(), key);
    EXPECT_FALSE(crypto->verify(mac(hmacKey, {}), {}));  // empty ciphertext has no HMAC

    // Sixteen bytes of 0x20 decrypt to a last block whose padding byte is invalid.
    auto unpadded = encrypt(key, std::string(16, ' '), false);
    EXPECT_FALSE(crypto->verify(mac(hmacKey, unpadded), unpadded));
    EXPECT_FALSE(crypto->currentEncryptionKey());

    auto other = TWACrypto::instance(key, hmacKey);
    TWAData odd(17, 3);  // not a multiple of the block size
    EXPECT_FALSE(other->verify(mac(hmacKey, odd), odd));
}

TEST_F(WalletCryptoTest, FailingRandomSourceGivesNoKey) {
    TWACrypto::setRandomSourceForTesting([](uint8_t*, size_t) { return false; });
    auto crypto = TWACrypto::instance();
    EXPECT_FALSE(crypto->encryptionKey());
    EXPECT_FALSE(crypto->hmacKey());
    EXPECT_FALSE(crypto->hmac(text("x")));
    EXPECT_FALSE(crypto->decrypt(TWAData(16, 1)));
    EXPECT_FALSE(TWACrypto::generateKeyOfSize(8));
    TWACrypto::setRandomSourceForTesting(nullptr);
    EXPECT_EQ(TWACrypto::generateKeyOfSize(8)->size(), 8u);
}

TEST_F(WalletCryptoTest, ConstantTimeCompare) {
    const uint8_t a[] = {1, 2, 3, 4};
    const uint8_t b[] = {1, 2, 3, 5};
    EXPECT_TRUE(TWACrypto::constantTimeIsArray(a, b, 0));
    EXPECT_TRUE(TWACrypto::constantTimeIsArray(a, b, 3));
    EXPECT_FALSE(TWACrypto::constantTimeIsArray(a, b, 4));
}

TEST_F(WalletCryptoTest, EqualityHashAndCoding) {
    auto a = TWACrypto::instance();
    auto b = TWACrypto::instance();
    EXPECT_TRUE(a->isEqual(b.get()));
    uint64_t hash = a->hash();  // makes a's keys
    EXPECT_EQ(hash,
              961 + 31 * TWAHashOf(a->currentEncryptionKey()) + TWAHashOf(a->currentHmacKey()));
    EXPECT_FALSE(a->isEqual(b.get()));

    auto archive = b->archived();  // makes b's keys
    EXPECT_EQ(archive->keys(),
              (std::vector<std::string>{"EncryptionKey", "HMACKey", "CodingVersion"}));
    auto restored = TWACrypto::createWithCoder(*archive);
    EXPECT_TRUE(restored->isEqual(b.get()));
    EXPECT_EQ(restored->hash(), b->hash());
}
