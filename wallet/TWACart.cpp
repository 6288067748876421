#include "wallet/TWACart.h"

std::shared_ptr<TWACart> TWACart::create() {
    return create(std::nullopt, std::nullopt, std::nullopt);
}

std::shared_ptr<TWACart> TWACart::create(const TWAText& currencyCode, const TWAText& totalPrice,
                                         const LineItems& lineItems) {
    std::shared_ptr<TWACart> cart(new TWACart);
    cart->currencyCode_ = currencyCode;
    cart->totalPrice_ = totalPrice;
    cart->lineItems_ = lineItems;
    return cart;
}

std::shared_ptr<TWACart> TWACart::createWithCoder(const TWAKeyedArchive& coder) {
    LineItems items;
    if (auto list = coder.decodeList("LineItems")) items = TWAObjectsOfList<TWALineItem>(*list);
    return create(coder.decodeText("CurrencyCode"), coder.decodeText("TotalPrice"), items);
}

std::shared_ptr<TWACart> TWACart::copy() const {
    auto cart = create();
    cart->currencyCode_ = currencyCode_;
    if (lineItems_) {
        cart->lineItems_.emplace();
        for (const auto& item : *lineItems_)
            cart->lineItems_->push_back(item ? item->copy() : nullptr);
    }
    cart->totalPrice_ = totalPrice_;
    return cart;
}

void TWACart::encodeWithCoder(TWAKeyedArchive& coder) const {
    coder.encodeText("CurrencyCode", currencyCode_);
    coder.encodeText("TotalPrice", totalPrice_);
    coder.encodeList("LineItems", TWAListOfObjects(lineItems_));
    coder.encodeInt32("CodingVersion", codingVersion());
}

TWAKeyedArchive::ArchivePtr TWACart::archived() const {
    return TWAArchived(*this);
}

bool TWACart::isEqual(const TWAObject* other) const {
    if (other == this) return true;
    if (!isSameClass(other)) return false;
    auto* o = static_cast<const TWACart*>(other);
    return TWAEqual(currencyCode_, o->currencyCode_) && TWAEqual(totalPrice_, o->totalPrice_) &&
           TWAEqual(lineItems_, o->lineItems_);
}

uint64_t TWACart::hash() const {
    return TWAHasher().add(currencyCode_).add(totalPrice_).add(lineItems_).value();
}

std::string TWACart::descriptionWithLocale(const std::optional<std::string>&,
                                           unsigned indent) const {
    TWADescription d;
    d.set("Currency Code", currencyCode_);
    d.set("Total Price", totalPrice_);
    d.set("Line Items", lineItems_);
    return d.text(indent);
}
