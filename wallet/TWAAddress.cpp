#include "wallet/TWAAddress.h"

#include "wallet/proto/cdp_postal_address.pb.h"

std::shared_ptr<TWAAddress> TWAAddress::create() {
    return std::shared_ptr<TWAAddress>(new TWAAddress);
}

std::shared_ptr<TWAAddress> TWAAddress::addressWithCdpPostalAddress(
    const walletproto::IAPCCdpPostalAddress* message) {
    if (!message) return nullptr;
    auto address = create();
    if (message->has_phone_number()) address->phoneNumber_ = message->phone_number();
    address->isPostBox_ = message->is_post_box();
    if (!message->has_postal_address()) return address;
    const auto& postal = message->postal_address();
    auto text = [](bool has, const std::string& value) { return has ? TWAText(value) : TWAText(); };
    address->name_ = text(postal.has_recipient_name(), postal.recipient_name());
    address->companyName_ = text(postal.has_firm_name(), postal.firm_name());
    address->addressLines_.emplace(postal.address_line().begin(), postal.address_line().end());
    address->locality_ = text(postal.has_locality_name(), postal.locality_name());
    address->dependentLocality_ =
        text(postal.has_dependent_locality_name(), postal.dependent_locality_name());
    address->administrativeArea_ =
        text(postal.has_administrative_area_name(), postal.administrative_area_name());
    address->sortingCode_ = text(postal.has_sorting_code(), postal.sorting_code());
    address->postalCode_ = text(postal.has_postal_code_number(), postal.postal_code_number());
    address->countryCode_ = text(postal.has_country_name_code(), postal.country_name_code());
    return address;
}

std::shared_ptr<TWAAddress> TWAAddress::createWithCoder(const TWAKeyedArchive& coder) {
    auto address = create();
    address->name_ = coder.decodeText("Name");
    address->companyName_ = coder.decodeText("CompanyName");
    if (auto list = coder.decodeList("AddressLines"))
        address->addressLines_ = TWATextsOfList(*list);
    address->isPostBox_ = coder.decodeBool("IsPostBox");
    address->locality_ = coder.decodeText("Locality");
    address->dependentLocality_ = coder.decodeText("DependentLocality");
    address->administrativeArea_ = coder.decodeText("AdministrativeArea");
    address->postalCode_ = coder.decodeText("PostalCode");
    address->sortingCode_ = coder.decodeText("SortingCode");
    address->countryCode_ = coder.decodeText("CountryCode");
    address->phoneNumber_ = coder.decodeText("PhoneNumber");
    return address;
}

void TWAAddress::encodeWithCoder(TWAKeyedArchive& coder) const {
    coder.encodeText("Name", name_);
    coder.encodeText("CompanyName", companyName_);
    if (addressLines_) coder.encodeList("AddressLines", TWAListOfTexts(*addressLines_));
    coder.encodeBool("IsPostBox", isPostBox_);
    coder.encodeText("Locality", locality_);
    coder.encodeText("DependentLocality", dependentLocality_);
    coder.encodeText("AdministrativeArea", administrativeArea_);
    coder.encodeText("PostalCode", postalCode_);
    coder.encodeText("SortingCode", sortingCode_);
    coder.encodeText("CountryCode", countryCode_);
    coder.encodeText("PhoneNumber", phoneNumber_);
    coder.encodeInt32("CodingVersion", codingVersion());
}

bool TWAAddress::isEqual(const TWAObject* other) const {
    if (other == this) return true;
    if (!isSameClass(other)) return false;
    auto* o = static_cast<const TWAAddress*>(other);
    return TWAEqual(name_, o->name_) && TWAEqual(companyName_, o->companyName_) &&
           TWAEqual(addressLines_, o->addressLines_) && isPostBox_ == o->isPostBox_ &&
           TWAEqual(locality_, o->locality_) &&
           TWAEqual(dependentLocality_, o->dependentLocality_) &&
           TWAEqual(administrativeArea_, o->administrativeArea_) &&
           TWAEqual(postalCode_, o->postalCode_) && TWAEqual(sortingCode_, o->sortingCode_) &&
           TWAEqual(countryCode_, o->countryCode_) && TWAEqual(phoneNumber_, o->phoneNumber_);
}

uint64_t TWAAddress::hash() const {
    return TWAHasher()
        .add(name_)
        .add(companyName_)
        .add(addressLines_)
        .add(isPostBox_)
        .add(locality_)
        .add(dependentLocality_)
        .add(administrativeArea_)
        .add(postalCode_)
        .add(sortingCode_)
        .add(countryCode_)
        .add(phoneNumber_)
        .value();
}

std::string TWAAddress::descriptionWithLocale(const std::optional<std::string>&,
                                              unsigned indent) const {
    TWADescription d;
    d.set("Name", name_);
    d.set("Company Name", companyName_);
    d.set("Address Lines", addressLines_);
    d.set("isPostBox", isPostBox_);
    d.set("Locality", locality_);
    d.set("Dependent Locality", dependentLocality_);
    d.set("Administrative Area", administrativeArea_);
    d.set("Sorting Code", sortingCode_);
    d.set("Postal Code", postalCode_);
    d.set("Country Code", countryCode_);
    d.set("Phone Number", phoneNumber_);
    return d.text(indent);
}
