#include "wallet/TWAFullWalletRequest.h"

std::shared_ptr<TWAFullWalletRequest> TWAFullWalletRequest::create() {
    return create(std::nullopt, nullptr, std::nullopt);
}

std::shared_ptr<TWAFullWalletRequest> TWAFullWalletRequest::create(
    const TWAText& tesseraTransactionId, std::shared_ptr<TWACart> cart,
    const TWAText& merchantTransactionId) {
    std::shared_ptr<TWAFullWalletRequest> request(new TWAFullWalletRequest);
    request->tesseraTransactionId_ = tesseraTransactionId;
    request->cart_ = std::move(cart);
    request->merchantTransactionId_ = merchantTransactionId;
    return request;
}

std::shared_ptr<TWAFullWalletRequest> TWAFullWalletRequest::createWithCoder(
    const TWAKeyedArchive& coder) {
    return create(coder.decodeText("TesseraTransactionId"), TWADecodeObject<TWACart>(coder, "Cart"),
                  coder.decodeText("MerchantTransactionId"));
}

std::shared_ptr<TWAFullWalletRequest> TWAFullWalletRequest::copy() const {
    auto request = create();
    request->setCart(cart_ ? cart_->copy() : nullptr);
    request->setTesseraTransactionId(tesseraTransactionId_);
    request->setMerchantTransactionId(merchantTransactionId_);
    return request;
}

void TWAFullWalletRequest::encodeWithCoder(TWAKeyedArchive& coder) const {
    coder.encodeText("TesseraTransactionId", tesseraTransactionId_);
    coder.encodeArchive("Cart", TWAArchiveOf(cart_));
    coder.encodeText("MerchantTransactionId", merchantTransactionId_);
    coder.encodeInt32("CodingVersion", codingVersion());
}

bool TWAFullWalletRequest::isEqual(const TWAObject* other) const {
    if (other == this) return true;
    if (!isSameClass(other)) return false;
    auto* o = static_cast<const TWAFullWalletRequest*>(other);
    return TWAEqual(tesseraTransactionId_, o->tesseraTransactionId_) && TWAEqual(cart_, o->cart_) &&
           TWAEqual(merchantTransactionId_, o->merchantTransactionId_);
}

uint64_t TWAFullWalletRequest::hash() const {
    return TWAHasher().add(tesseraTransactionId_).add(cart_).add(merchantTransactionId_).value();
}

std::string TWAFullWalletRequest::descriptionWithLocale(const std::optional<std::string>&,
                                                        unsigned indent) const {
    TWADescription d;
    d.set("Tessera Transaction ID", tesseraTransactionId_);
    d.set("Cart", cart_);
    d.set("Merchant Transaction ID", merchantTransactionId_);
    return d.text(indent);
}
