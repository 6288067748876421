#pragma once
// The full wallet of a transaction: the one-time card with the addresses.

#include "wallet/TWAAddress.h"
#include "wallet/TWAInstrumentInfo.h"
#include "wallet/TWAProxyCard.h"

class TWAFullWallet : public TWAObject {
  public:
    using InstrumentInfos = std::optional<std::vector<std::shared_ptr<TWAInstrumentInfo>>>;

    static std::shared_ptr<TWAFullWallet> create();

    const std::shared_ptr<TWAProxyCard>& proxyCard() const { return proxyCard_; }
    void setProxyCard(std::shared_ptr<TWAProxyCard> v) { proxyCard_ = std::move(v); }
    const std::shared_ptr<TWAAddress>& billingAddress() const { return billingAddress_; }
    void setBillingAddress(std::shared_ptr<TWAAddress> v) { billingAddress_ = std::move(v); }
    const std::shared_ptr<TWAAddress>& shippingAddress() const { return shippingAddress_; }
    void setShippingAddress(std::shared_ptr<TWAAddress> v) { shippingAddress_ = std::move(v); }
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
    const InstrumentInfos& instrumentInfo() const { return instrumentInfo_; }
    void setInstrumentInfo(const InstrumentInfos& v) { instrumentInfo_ = v; }

    bool isEqual(const TWAObject* other) const override;
    uint64_t hash() const override;
    // Leaves the e-mail address out.
    std::string descriptionWithLocale(const std::optional<std::string>& locale,
                                      unsigned indent) const override;

  protected:
    TWAFullWallet() = default;

  private:
    std::shared_ptr<TWAProxyCard> proxyCard_;
    std::shared_ptr<TWAAddress> billingAddress_;
    std::shared_ptr<TWAAddress> shippingAddress_;
    TWAText email_;
    TWAText tesseraTransactionId_;
    TWAText merchantTransactionId_;
    std::optional<std::vector<std::string>> paymentDescriptions_;
    InstrumentInfos instrumentInfo_;
};
