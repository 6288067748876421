#pragma once
// A country to which the buyer may have goods shipped.

#include "wallet/TWAObject.h"

class TWACountrySpecification : public TWAObject {
  public:
    static int32_t codingVersion() { return 1; }

    // Plain creation gives no object: a specification needs its country.
    static std::shared_ptr<TWACountrySpecification> create();
    static std::shared_ptr<TWACountrySpecification> create(const TWAText& countryCode);
    static std::shared_ptr<TWACountrySpecification> createWithCoder(const TWAKeyedArchive& coder);

    const TWAText& countryCode() const { return countryCode_; }
    void setCountryCode(const TWAText& countryCode) { countryCode_ = countryCode; }

    std::shared_ptr<TWACountrySpecification> copy() const;
    void encodeWithCoder(TWAKeyedArchive& coder) const;
    TWAKeyedArchive::ArchivePtr archived() const;

    bool isEqual(const TWAObject* other) const override;
    // The country code's own hash, not the 31-based rule.
    uint64_t hash() const override;
    std::string descriptionWithLocale(const std::optional<std::string>& locale,
                                      unsigned indent) const override;

  protected:
    TWACountrySpecification() = default;

  private:
    TWAText countryCode_;
};
