#pragma once
// The wallet's answer to a masked-wallet request: addresses and payment descriptions,
// without card data.

#include "wallet/TWAAddress.h"

class TWAMaskedWallet : public TWAObject {
  public:
    static int32_t codingVersion() { return 1; }

    static std::shared_ptr<TWAMaskedWallet> create();
    static std::shared_ptr<TWAMaskedWallet> createWithCoder(const TWAKeyedArchive& coder);

    const std::shared_ptr<TWAAddress>& billingAddress() const { return billingAddress_; }
    void setBillingAddress(std::shared_ptr<TWAAddress> v) { billingAddress_ = std::move(v); }
    // The buyer's e-mail address.
    const TWAText& email() const { return email_; }
    void setEmail(const TWAText& v) { email_ = v; }
    const TWAText& tesseraTransactionId() const { return tesseraTransactionId_; }
    void setTesseraTransactionId(const TWAText& v) { tesseraTransactionId_ = v; }
    const TWAText& merchantTransactionId() const { return merchantTransactionId_; }
    void setMerchantTransactionId(const TWAText& v) { merchantTransactionId_ = v; }
    const std::optional<std::vector<std::string>>& paymentDescriptions() const {
        return paymentDescriptions_;
    }
    void setPaymentDescriptions(const std::optional<std::vector<std::string>>& v) {
        paymentDescriptions_ = v;
    }
    const std::shared_ptr<TWAAddress>& shippingAddress() const { return shippingAddress_; }
    void setShippingAddress(std::shared_ptr<TWAAddress> v) { shippingAddress_ = std::move(v); }

    void encodeWithCoder(TWAKeyedArchive& coder) const;
    TWAKeyedArchive::ArchivePtr archived() const { return TWAArchived(*this); }

    bool isEqual(const TWAObject* other) const override;
    uint64_t hash() const override;
    // Leaves the e-mail address out.
    std::string descriptionWithLocale(const std::optional<std::string>& locale,
                                      unsigned indent) const override;

  protected:
    TWAMaskedWallet() = default;

  private:
    std::shared_ptr<TWAAddress> billingAddress_;
    TWAText email_;
    TWAText tesseraTransactionId_;
    TWAText merchantTransactionId_;
    std::optional<std::vector<std::string>> paymentDescriptions_;
    std::shared_ptr<TWAAddress> shippingAddress_;
};
