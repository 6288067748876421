#pragma once
// What a checkout asks the wallet for.

#include "wallet/TWACart.h"
#include "wallet/TWACountrySpecification.h"

class TWAMaskedWalletRequest : public TWAObject {
  public:
    using CountrySpecifications =
        std::optional<std::vector<std::shared_ptr<TWACountrySpecification>>>;

    static int32_t codingVersion() { return 1; }

    static std::shared_ptr<TWAMaskedWalletRequest> create();
    // Debit and prepaid cards allowed; neither phone number nor shipping address required.
    static std::shared_ptr<TWAMaskedWalletRequest> create(const TWAText& currencyCode,
                                                          const TWAText& estimatedTotalPrice);
    static std::shared_ptr<TWAMaskedWalletRequest> createWithCoder(const TWAKeyedArchive& coder);

    const TWAText& currencyCode() const { return currencyCode_; }
    void setCurrencyCode(const TWAText& v) { currencyCode_ = v; }
    const TWAText& estimatedTotalPrice() const { return estimatedTotalPrice_; }
    void setEstimatedTotalPrice(const TWAText& v) { estimatedTotalPrice_ = v; }
    const std::shared_ptr<TWACart>& cart() const { return cart_; }
    void setCart(std::shared_ptr<TWACart> v) { cart_ = std::move(v); }
    const TWAText& merchantTransactionId() const { return merchantTransactionId_; }
    void setMerchantTransactionId(const TWAText& v) { merchantTransactionId_ = v; }
    bool isPhoneNumberRequired() const { return phoneNumberRequired_; }
    void setPhoneNumberRequired(bool v) { phoneNumberRequired_ = v; }
    bool isShippingAddressRequired() const { return shippingAddressRequired_; }
    void setShippingAddressRequired(bool v) { shippingAddressRequired_ = v; }
    bool useMinimalBillingAddress() const { return useMinimalBillingAddress_; }
    void setUseMinimalBillingAddress(bool v) { useMinimalBillingAddress_ = v; }
    bool allowDebitCard() const { return allowDebitCard_; }
    void setAllowDebitCard(bool v) { allowDebitCard_ = v; }
    bool allowPrepaidCard() const { return allowPrepaidCard_; }
    void setAllowPrepaidCard(bool v) { allowPrepaidCard_ = v; }
    const CountrySpecifications& allowedShippingCountrySpecifications() const {
        return allowedShippingCountrySpecifications_;
    }
    void setAllowedShippingCountrySpecifications(const CountrySpecifications& v) {
        allowedShippingCountrySpecifications_ = v;
    }

    std::shared_ptr<TWAMaskedWalletRequest> copy() const;
    void encodeWithCoder(TWAKeyedArchive& coder) const;
    TWAKeyedArchive::ArchivePtr archived() const { return TWAArchived(*this); }

    bool isEqual(const TWAObject* other) const override;
    uint64_t hash() const override;
    std::string descriptionWithLocale(const std::optional<std::string>& locale,
                                      unsigned indent) const override;

  protected:
    TWAMaskedWalletRequest() = default;

  private:
    TWAText currencyCode_;
    TWAText estimatedTotalPrice_;
    std::shared_ptr<TWACart> cart_;
    TWAText merchantTransactionId_;
    bool phoneNumberRequired_ = false;
    bool shippingAddressRequired_ = false;
    bool useMinimalBillingAddress_ = false;
    bool allowDebitCard_ = true;
    bool allowPrepaidCard_ = true;
    CountrySpecifications allowedShippingCountrySpecifications_;
};
