#include "wallet/TWAMaskedWalletRequest.h"

std::shared_ptr<TWAMaskedWalletRequest> TWAMaskedWalletRequest::create() {
    return create(std::nullopt, std::nullopt);
}

std::shared_ptr<TWAMaskedWalletRequest> TWAMaskedWalletRequest::create(
    const TWAText& currencyCode, const TWAText& estimatedTotalPrice) {
    std::shared_ptr<TWAMaskedWalletRequest> request(new TWAMaskedWalletRequest);
    request->currencyCode_ = currencyCode;
    request->estimatedTotalPrice_ = estimatedTotalPrice;
    return request;
}

std::shared_ptr<TWAMaskedWalletRequest> TWAMaskedWalletRequest::createWithCoder(
    const TWAKeyedArchive& coder) {
    auto request =
        create(coder.decodeText("CurrencyCode"), coder.decodeText("EstimatedTotalPrice"));
    request->merchantTransactionId_ = coder.decodeText("MerchantTransactionId");
    request->cart_ = TWADecodeObject<TWACart>(coder, "Cart");
    request->phoneNumberRequired_ = coder.decodeBool("IsPhoneNumberRequired");
    request->shippingAddressRequired_ = coder.decodeBool("IsShippingAddressRequired");
    request->useMinimalBillingAddress_ = coder.decodeBool("UseMinimalBillingAddress");
    request->allowDebitCard_ = coder.decodeBool("AllowDebitCard");
    request->allowPrepaidCard_ = coder.decodeBool("AllowPrepaidCard");
    if (auto list = coder.decodeList("AllowedShippingCountrySpecifications"))
        request->allowedShippingCountrySpecifications_ =
            TWAObjectsOfList<TWACountrySpecification>(*list);
    return request;
}

std::shared_ptr<TWAMaskedWalletRequest> TWAMaskedWalletRequest::copy() const {
    auto request = create(currencyCode_, estimatedTotalPrice_);
    request->cart_ = cart_ ? cart_->copy() : nullptr;
    request->merchantTransactionId_ = merchantTransactionId_;
    request->phoneNumberRequired_ = phoneNumberRequired_;
    request->shippingAddressRequired_ = shippingAddressRequired_;
    request->useMinimalBillingAddress_ = useMinimalBillingAddress_;
    request->allowDebitCard_ = allowDebitCard_;
    request->allowPrepaidCard_ = allowPrepaidCard_;
    if (allowedShippingCountrySpecifications_) {
        auto& specs = request->allowedShippingCountrySpecifications_.emplace();
        for (const auto& spec : *allowedShippingCountrySpecifications_)
            specs.push_back(spec ? spec->copy() : nullptr);
    }
    return request;
}

void TWAMaskedWalletRequest::encodeWithCoder(TWAKeyedArchive& coder) const {
    coder.encodeText("CurrencyCode", currencyCode_);
    coder.encodeText("EstimatedTotalPrice", estimatedTotalPrice_);
    coder.encodeArchive("Cart", TWAArchiveOf(cart_));
    coder.encodeText("MerchantTransactionId", merchantTransactionId_);
    coder.encodeBool("IsPhoneNumberRequired", phoneNumberRequired_);
    coder.encodeBool("IsShippingAddressRequired", shippingAddressRequired_);
    coder.encodeBool("UseMinimalBillingAddress", useMinimalBillingAddress_);
    coder.encodeBool("AllowDebitCard", allowDebitCard_);
    coder.encodeBool("AllowPrepaidCard", allowPrepaidCard_);
    coder.encodeList("AllowedShippingCountrySpecifications",
                     TWAListOfObjects(allowedShippingCountrySpecifications_));
    coder.encodeInt32("CodingVersion", codingVersion());
}

bool TWAMaskedWalletRequest::isEqual(const TWAObject* other) const {
    if (other == this) return true;
    if (!isSameClass(other)) return false;
    auto* o = static_cast<const TWAMaskedWalletRequest*>(other);
    return TWAEqual(currencyCode_, o->currencyCode_) &&
           TWAEqual(estimatedTotalPrice_, o->estimatedTotalPrice_) && TWAEqual(cart_, o->cart_) &&
           TWAEqual(merchantTransactionId_, o->merchantTransactionId_) &&
           phoneNumberRequired_ == o->phoneNumberRequired_ &&
           shippingAddressRequired_ == o->shippingAddressRequired_ &&
           useMinimalBillingAddress_ == o->useMinimalBillingAddress_ &&
           allowDebitCard_ == o->allowDebitCard_ && allowPrepaidCard_ == o->allowPrepaidCard_ &&
           TWAEqual(allowedShippingCountrySpecifications_,
                    o->allowedShippingCountrySpecifications_);
}

uint64_t TWAMaskedWalletRequest::hash() const {
    return TWAHasher()
        .add(currencyCode_)
        .add(estimatedTotalPrice_)
        .add(merchantTransactionId_)
        .add(cart_)
        .add(allowedShippingCountrySpecifications_)
        .add(phoneNumberRequired_)
        .add(shippingAddressRequired_)
        .add(useMinimalBillingAddress_)
        .add(allowDebitCard_)
        .add(allowPrepaidCard_)
        .value();
}

std::string TWAMaskedWalletRequest::descriptionWithLocale(const std::optional<std::string>&,
                                                          unsigned indent) const {
    TWADescription d;
    d.set("Currency Code", currencyCode_);
    d.set("Estimated Total Price", estimatedTotalPrice_);
    d.set("Cart", cart_);
    d.set("Merchant Transaction ID", merchantTransactionId_);
    d.set("Phone Number Required", phoneNumberRequired_);
    d.set("Shipping Address Required", shippingAddressRequired_);
    d.set("Use Minimal Billing Address", useMinimalBillingAddress_);
    d.set("Allow Debit Card", allowDebitCard_);
    d.set("Allow Prepaid Card", allowPrepaidCard_);
    d.set("Allowed Shipping Country Specifications", allowedShippingCountrySpecifications_);
    return d.text(indent);
}
