#include "wallet/TWACountrySpecification.h"

std::shared_ptr<TWACountrySpecification> TWACountrySpecification::create() {
    return nullptr;
}

std::shared_ptr<TWACountrySpecification> TWACountrySpecification::create(
    const TWAText& countryCode) {
    std::shared_ptr<TWACountrySpecification> spec(new TWACountrySpecification);
    spec->countryCode_ = countryCode;
    return spec;
}

std::shared_ptr<TWACountrySpecification> TWACountrySpecification::createWithCoder(
    const TWAKeyedArchive& coder) {
    return create(coder.decodeText("CountryCode"));
}

std::shared_ptr<TWACountrySpecification> TWACountrySpecification::copy() const {
    return create(countryCode_);
}

void TWACountrySpecification::encodeWithCoder(TWAKeyedArchive& coder) const {
    coder.encodeText("CountryCode", countryCode_);
    coder.encodeInt32("CodingVersion", codingVersion());
}

TWAKeyedArchive::ArchivePtr TWACountrySpecification::archived() const {
    return TWAArchived(*this);
}

bool TWACountrySpecification::isEqual(const TWAObject* other) const {
    if (other == this) return true;
    if (!isSameClass(other)) return false;
    return TWAEqual(countryCode_, static_cast<const TWACountrySpecification*>(other)->countryCode_);
}

uint64_t TWACountrySpecification::hash() const {
    return TWAHashOf(countryCode_);
}

std::string TWACountrySpecification::descriptionWithLocale(const std::optional<std::string>&,
                                                           unsigned indent) const {
    TWADescription d;
    d.set("Country Code", countryCode_);
    return d.text(indent);
}
