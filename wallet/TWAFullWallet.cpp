#include "wallet/TWAFullWallet.h"

std::shared_ptr<TWAFullWallet> TWAFullWallet::create() {
    return std::shared_ptr<TWAFullWallet>(new TWAFullWallet);
}

bool TWAFullWallet::isEqual(const TWAObject* other) const {
    if (other == this) return true;
    if (!isSameClass(other)) return false;
    auto* o = static_cast<const TWAFullWallet*>(other);
    return TWAEqual(proxyCard_, o->proxyCard_) && TWAEqual(billingAddress_, o->billingAddress_) &&
           TWAEqual(shippingAddress_, o->shippingAddress_) && TWAEqual(email_, o->email_) &&
           TWAEqual(tesseraTransactionId_, o->tesseraTransactionId_) &&
           TWAEqual(merchantTransactionId_, o->merchantTransactionId_) &&
           TWAEqual(paymentDescriptions_, o->paymentDescriptions_) &&
           TWAEqual(instrumentInfo_, o->instrumentInfo_);
}

uint64_t TWAFullWallet::hash() const {
    return TWAHasher()
        .add(proxyCard_)
        .add(billingAddress_)
        .add(shippingAddress_)
        .add(email_)
        .add(tesseraTransactionId_)
        .add(merchantTransactionId_)
        .add(paymentDescriptions_)
        .add(instrumentInfo_)
        .value();
}

std::string TWAFullWallet::descriptionWithLocale(const std::optional<std::string>&,
                                                 unsigned indent) const {
    TWADescription d;
    d.set("Proxy Card", proxyCard_);
    d.set("Billing Addresss", billingAddress_);
    d.set("Shipping Address", shippingAddress_);
    d.set("Tessera Transaction ID", tesseraTransactionId_);
    d.set("Merchant Transaction ID", merchantTransactionId_);
    d.set("Payment Descriptions", paymentDescriptions_);
    d.set("Instrument Info", instrumentInfo_);
    return d.text(indent);
}
