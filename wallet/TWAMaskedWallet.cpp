#include "wallet/TWAMaskedWallet.h"

std::shared_ptr<TWAMaskedWallet> TWAMaskedWallet::create() {
    return std::shared_ptr<TWAMaskedWallet>(new TWAMaskedWallet);
}

std::shared_ptr<TWAMaskedWallet> TWAMaskedWallet::createWithCoder(const TWAKeyedArchive& coder) {
    auto billing = TWADecodeObject<TWAAddress>(coder, "BillingAddress");
    TWAText email = coder.decodeText("BuyerEmail");
    auto shipping = TWADecodeObject<TWAAddress>(coder, "ShippingAddress");
    TWAText tesseraTransactionId = coder.decodeText("TesseraTransactionId");
    TWAText merchantTransactionId = coder.decodeText("MerchantTransactionId");
    std::optional<std::vector<std::string>> descriptions;
    if (auto list = coder.decodeList("PaymentDescriptions")) descriptions = TWATextsOfList(*list);
    auto wallet = create();
    wallet->billingAddress_ = billing;
    wallet->email_ = email;
    wallet->shippingAddress_ = shipping;
    wallet->tesseraTransactionId_ = tesseraTransactionId;
    wallet->merchantTransactionId_ = merchantTransactionId;
    wallet->paymentDescriptions_ = descriptions;
    return wallet;
}

void TWAMaskedWallet::encodeWithCoder(TWAKeyedArchive& coder) const {
    coder.encodeArchive("BillingAddress", TWAArchiveOf(billingAddress_));
    coder.encodeText("BuyerEmail", email_);
    coder.encodeArchive("ShippingAddress", TWAArchiveOf(shippingAddress_));
    coder.encodeText("TesseraTransactionId", tesseraTransactionId_);
    coder.encodeText("MerchantTransactionId", merchantTransactionId_);
    if (paymentDescriptions_)
        coder.encodeList("PaymentDescriptions", TWAListOfTexts(*paymentDescriptions_));
    coder.encodeInt32("CodingVersion", codingVersion());
}

bool TWAMaskedWallet::isEqual(const TWAObject* other) const {
    if (other == this) return true;
    if (!isSameClass(other)) return false;
    auto* o = static_cast<const TWAMaskedWallet*>(other);
    return TWAEqual(billingAddress_, o->billingAddress_) && TWAEqual(email_, o->email_) &&
           TWAEqual(tesseraTransactionId_, o->tesseraTransactionId_) &&
           TWAEqual(merchantTransactionId_, o->merchantTransactionId_) &&
           TWAEqual(paymentDescriptions_, o->paymentDescriptions_) &&
           TWAEqual(shippingAddress_, o->shippingAddress_);
}

uint64_t TWAMaskedWallet::hash() const {
    return TWAHasher()
        .add(billingAddress_)
        .add(email_)
        .add(tesseraTransactionId_)
        .add(merchantTransactionId_)
        .add(paymentDescriptions_)
        .add(shippingAddress_)
        .value();
}

std::string TWAMaskedWallet::descriptionWithLocale(const std::optional<std::string>&,
                                                   unsigned indent) const {
    TWADescription d;
    d.set("Billing Address", billingAddress_);
    d.set("Tessera Transaction ID", tesseraTransactionId_);
    d.set("Merchant Transaction ID", merchantTransactionId_);
    d.set("Payment Descriptions", paymentDescriptions_);
    d.set("Shipping Address", shippingAddress_);
    return d.text(indent);
}
