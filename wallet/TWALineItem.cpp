#include "wallet/TWALineItem.h"

#include <regex>

namespace {

// The two fixed formats, matched by hand: a regular expression engine that recurses
// per character could exhaust the stack on a page-given text of some megabytes.
bool matchesDecimal(std::string_view s, size_t decimals) {
    size_t i = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    if (i == 0) return false;
    if (i == s.size()) return true;
    if (s[i] != '.' || s.size() - i - 1 != decimals) return false;
    for (size_t k = i + 1; k < s.size(); ++k)
        if (s[k] < '0' || s[k] > '9') return false;
    return true;
}

// Other patterns go to the library's engine only for texts this short.
constexpr size_t kMaxRegexInput = 1024;

void validate(const TWAText& value, const char* pattern, const char* line) {
    if (!TWALineItem::isValidNumberString(value, pattern)) TWA_LOG("{}", line);
}

}  // namespace

bool TWALineItem::isValidNumberString(const TWAText& string, const TWAText& pattern) {
    if (!string || !pattern) return false;
    if (*pattern == kPricePattern) return matchesDecimal(*string, 2);
    if (*pattern == kQuantityPattern) return matchesDecimal(*string, 1);
    if (string->size() > kMaxRegexInput) {
        TWA_LOG("TWALineItem: text of {} bytes not matched", string->size());
        return false;
    }
    try {
        return std::regex_match(*string, std::regex(*pattern));
    } catch (const std::exception& e) {
        TWA_LOG("TWALineItem: pattern {} not usable: {}", *pattern, e.what());
        return false;
    }
}

std::shared_ptr<TWALineItem> TWALineItem::create() {
    return createWithTotalPrice(std::nullopt, std::nullopt);
}

std::shared_ptr<TWALineItem> TWALineItem::create(const TWAText& itemDescription,
                                                 const TWAText& totalPrice,
                                                 const TWAText& unitPrice, const TWAText& quantity,
                                                 int64_t role) {
    std::shared_ptr<TWALineItem> item(new TWALineItem);
    item->itemDescription_ = itemDescription;
    item->totalPrice_ = totalPrice;
    item->unitPrice_ = unitPrice;
    item->quantity_ = quantity;
    item->role_ = role;
    return item;
}

std::shared_ptr<TWALineItem> TWALineItem::createWithTotalPrice(const TWAText& itemDescription,
                                                               const TWAText& totalPrice,
                                                               int64_t role) {
    validate(totalPrice, kPricePattern, "WARNING: totalPrice format is invalid");
    return create(itemDescription, totalPrice, std::nullopt, std::nullopt, role);
}

std::shared_ptr<TWALineItem> TWALineItem::createWithUnitPrice(const TWAText& itemDescription,
                                                              const TWAText& unitPrice,
                                                              const TWAText& quantity) {
    validate(unitPrice, kPricePattern, "WARNING: unitPrice format is invalid");
    validate(quantity, kQuantityPattern, "WARNING: quantity format is invalid");
    return create(itemDescription, std::nullopt, unitPrice, quantity, kRoleRegular);
}

std::shared_ptr<TWALineItem> TWALineItem::createWithCoder(const TWAKeyedArchive& coder) {
    TWAText itemDescription = coder.decodeText("ItemDescription");
    TWAText totalPrice = coder.decodeText("TotalPrice");
    int32_t version = coder.decodeInt32("CodingVersion");
    int64_t role = coder.decodeInt64("Role");
    // A newer archive may hold roles this version does not know: they become regular.
    if (version > codingVersion() && static_cast<uint64_t>(role) > kRoleTax) role = kRoleRegular;
    auto item = createWithTotalPrice(itemDescription, totalPrice, role);
    item->setQuantity(coder.decodeText("Quantity"));
    item->setUnitPrice(coder.decodeText("UnitPrice"));
    return item;
}

void TWALineItem::setQuantity(const TWAText& quantity) {
    validate(quantity, kQuantityPattern, "ERROR: quantity format is invalid");
    quantity_ = quantity;
}

void TWALineItem::setTotalPrice(const TWAText& totalPrice) {
    validate(totalPrice, kPricePattern, "ERROR: totalPrice format is invalid");
    totalPrice_ = totalPrice;
}

void TWALineItem::setUnitPrice(const TWAText& unitPrice) {
    validate(unitPrice, kPricePattern, "ERROR: unitPrice format is invalid");
    unitPrice_ = unitPrice;
}

std::shared_ptr<TWALineItem> TWALineItem::copy() const {
    return create(itemDescription_, totalPrice_, unitPrice_, quantity_, role_);
}

void TWALineItem::encodeWithCoder(TWAKeyedArchive& coder) const {
    coder.encodeText("ItemDescription", itemDescription_);
    coder.encodeText("TotalPrice", totalPrice_);
    coder.encodeText("Quantity", quantity_);
    coder.encodeText("UnitPrice", unitPrice_);
    coder.encodeInt64("Role", role_);
    coder.encodeInt32("CodingVersion", codingVersion());
}

TWAKeyedArchive::ArchivePtr TWALineItem::archived() const {
    return TWAArchived(*this);
}

bool TWALineItem::isEqual(const TWAObject* other) const {
    if (other == this) return true;
    if (!isSameClass(other)) return false;
    auto* o = static_cast<const TWALineItem*>(other);
    return TWAEqual(itemDescription_, o->itemDescription_) &&
           TWAEqual(totalPrice_, o->totalPrice_) && TWAEqual(quantity_, o->quantity_) &&
           TWAEqual(unitPrice_, o->unitPrice_) && role_ == o->role_;
}

uint64_t TWALineItem::hash() const {
    return TWAHasher()
        .add(itemDescription_)
        .add(totalPrice_)
        .add(quantity_)
        .add(unitPrice_)
        .add(role_)
        .value();
}

std::string TWALineItem::descriptionWithLocale(const std::optional<std::string>&,
                                               unsigned indent) const {
    static const char* const roles[] = {"REGULAR", "SHIPPING", "TAX"};
    TWADescription d;
    d.set("Item Description", itemDescription_);
    d.set("Quantity", quantity_);
    d.set("Role", role_ >= 0 && role_ <= kRoleTax ? roles[role_] : "UNKNOWN_ROLE");
    d.set("Total Price", totalPrice_);
    d.set("Unit Price", unitPrice_);
    return d.text(indent);
}
