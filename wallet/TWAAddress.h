#pragma once
// An address of the buyer, as the wallet returns it.

#include "wallet/TWAObject.h"

namespace walletproto {
class IAPCCdpPostalAddress;
}

class TWAAddress : public TWAObject {
  public:
    static int32_t codingVersion() { return 1; }

    static std::shared_ptr<TWAAddress> create();
    static std::shared_ptr<TWAAddress> createWithCoder(const TWAKeyedArchive& coder);
    // None for none. Otherwise the postal address inside gives name (recipient),
    // company name (firm), address lines, locality, dependent locality, administrative
    // area, sorting code, postal code (its number without the extension) and country
    // code (the country's name code); the message itself gives the phone number and the
    // post-box flag. A field the message lacks stays none; address lines are none only
    // when there is no postal address.
    static std::shared_ptr<TWAAddress> addressWithCdpPostalAddress(
        const walletproto::IAPCCdpPostalAddress* address);

    const TWAText& name() const { return name_; }
    void setName(const TWAText& v) { name_ = v; }
    const TWAText& companyName() const { return companyName_; }
    void setCompanyName(const TWAText& v) { companyName_ = v; }
    const std::optional<std::vector<std::string>>& addressLines() const { return addressLines_; }
    void setAddressLines(const std::optional<std::vector<std::string>>& v) { addressLines_ = v; }
    bool isPostBox() const { return isPostBox_; }
    void setPostBox(bool v) { isPostBox_ = v; }
    const TWAText& locality() const { return locality_; }
    void setLocality(const TWAText& v) { locality_ = v; }
    const TWAText& dependentLocality() const { return dependentLocality_; }
    void setDependentLocality(const TWAText& v) { dependentLocality_ = v; }
    const TWAText& administrativeArea() const { return administrativeArea_; }
    void setAdministrativeArea(const TWAText& v) { administrativeArea_ = v; }
    const TWAText& sortingCode() const { return sortingCode_; }
    void setSortingCode(const TWAText& v) { sortingCode_ = v; }
    const TWAText& postalCode() const { return postalCode_; }
    void setPostalCode(const TWAText& v) { postalCode_ = v; }
    const TWAText& countryCode() const { return countryCode_; }
    void setCountryCode(const TWAText& v) { countryCode_ = v; }
    const TWAText& phoneNumber() const { return phoneNumber_; }
    void setPhoneNumber(const TWAText& v) { phoneNumber_ = v; }

    void encodeWithCoder(TWAKeyedArchive& coder) const;
    TWAKeyedArchive::ArchivePtr archived() const { return TWAArchived(*this); }

    bool isEqual(const TWAObject* other) const override;
    uint64_t hash() const override;
    std::string descriptionWithLocale(const std::optional<std::string>& locale,
                                      unsigned indent) const override;

  protected:
    TWAAddress() = default;

  private:
    TWAText name_;
    TWAText companyName_;
    std::optional<std::vector<std::string>> addressLines_;
    bool isPostBox_ = false;
    TWAText locality_;
    TWAText dependentLocality_;
    TWAText administrativeArea_;
    TWAText sortingCode_;
    TWAText postalCode_;
    TWAText countryCode_;
    TWAText phoneNumber_;
};
