#pragma once
// Protects the wallet application's answer to a masked-wallet request. Each
// transaction makes two random keys, an encryption key and an HMAC key, and sends them
// with its request; the answer is accepted only when its HMAC-SHA256 matches, and is
// then decrypted with AES in CBC mode (the key's length choosing 128, 192 or 256 bits,
// sixteen zero bytes as IV, PKCS7 padding). The encryption key serves one decryption
// attempt and is then forgotten; the HMAC key stays.
//
//   auto crypto = TWACrypto::instance();
//   auto key = crypto->encryptionKey();            // made on first ask, 32 bytes
//   auto plain = crypto->verify(mac, ciphertext);  // none on any failure
//
// Failures are none, never an error object. Main thread only.

#include <functional>

#include "wallet/TWAObject.h"

class TWACrypto : public TWAObject {
  public:
    // Fills the buffer with random bytes; false on failure.
    using RandomSource = std::function<bool(uint8_t* bytes, size_t count)>;

    static int32_t codingVersion() { return 1; }

    static std::shared_ptr<TWACrypto> instance();
    static std::shared_ptr<TWACrypto> instance(const std::optional<TWAData>& encryptionKey,
                                               const std::optional<TWAData>& hmacKey);
    static std::shared_ptr<TWACrypto> createWithCoder(const TWAKeyedArchive& coder);

    // `size` random bytes, or none when the random source fails.
    static std::optional<TWAData> generateKeyOfSize(size_t size);
    // Replaces OpenSSL's random source; none puts it back. For tests.
    static void setRandomSourceForTesting(RandomSource source);

    // The key, made first (32 bytes) when there is none; none if that fails.
    const std::optional<TWAData>& encryptionKey() const;
    const std::optional<TWAData>& hmacKey() const;
    // The key as it is, without making one.
    const std::optional<TWAData>& currentEncryptionKey() const { return encryptionKey_; }
    const std::optional<TWAData>& currentHmacKey() const { return hmacKey_; }

    // HMAC-SHA256 of `data` under the HMAC key; none for empty data.
    std::optional<TWAData> hmac(const TWAData& data) const;
    // The plaintext, or none. Every attempt on non-empty data drops the encryption key.
    std::optional<TWAData> decrypt(const TWAData& data);
    // True when the first `length` bytes are equal; takes the same time whatever they hold.
    static bool constantTimeIsArray(const uint8_t* first, const uint8_t* second, size_t length);
    // The plaintext when the 32-byte MAC matches and decryption succeeds. A MAC of
    // another length is refused before anything is computed; a wrong MAC keeps the
    // encryption key.
    std::optional<TWAData> verify(const TWAData& mac, const TWAData& ciphertext);

    // Archives the keys, making them first when there are none.
    void encodeWithCoder(TWAKeyedArchive& coder) const;
    TWAKeyedArchive::ArchivePtr archived() const { return TWAArchived(*this); }

    // Compares the keys as they are.
    bool isEqual(const TWAObject* other) const override;
    // 961 + 31 × h(encryption key) + h(HMAC key), making the keys first.
    uint64_t hash() const override;
    std::string descriptionWithLocale(const std::optional<std::string>& locale,
                                      unsigned indent) const override;

  protected:
    TWACrypto() = default;

  private:
    // Keys are made lazily, also by const readers such as hash().
    mutable std::optional<TWAData> encryptionKey_;
    mutable std::optional<TWAData> hmacKey_;
};
