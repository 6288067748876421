#pragma once
// One line of a cart. Prices and quantity are decimal texts, stored as given: a value
// of the wrong format is only reported on the console ("WARNING: …" from the
// initialisers, "ERROR: …" from the setters).

#include "wallet/TWAObject.h"

class TWALineItem : public TWAObject {
  public:
    enum Role : int64_t { kRoleRegular = 0, kRoleShipping = 1, kRoleTax = 2 };
    // Digits, optionally a point and exactly two digits.
    static constexpr const char* kPricePattern = "^[0-9]+(?:\\.[0-9]{2})?$";
    // Digits, optionally a point and exactly one digit.
    static constexpr const char* kQuantityPattern = "^[0-9]+(?:\\.[0-9])?$";

    static int32_t codingVersion() { return 1; }
    // True when the whole of `string` matches `pattern`; none for either is invalid.
    static bool isValidNumberString(const TWAText& string, const TWAText& pattern);

    // Plain creation: no description and no total price, so it warns of the total price.
    static std::shared_ptr<TWALineItem> create();
    // Stores everything as given, without validation.
    static std::shared_ptr<TWALineItem> create(const TWAText& itemDescription,
                                               const TWAText& totalPrice, const TWAText& unitPrice,
                                               const TWAText& quantity, int64_t role);
    // Validates the total price; unit price and quantity stay none.
    static std::shared_ptr<TWALineItem> createWithTotalPrice(const TWAText& itemDescription,
                                                             const TWAText& totalPrice,
                                                             int64_t role = kRoleRegular);
    // Validates unit price and quantity; the total price stays none, the role regular.
    static std::shared_ptr<TWALineItem> createWithUnitPrice(const TWAText& itemDescription,
                                                            const TWAText& unitPrice,
                                                            const TWAText& quantity);
    static std::shared_ptr<TWALineItem> createWithCoder(const TWAKeyedArchive& coder);

    const TWAText& itemDescription() const { return itemDescription_; }
    void setItemDescription(const TWAText& itemDescription) { itemDescription_ = itemDescription; }
    const TWAText& quantity() const { return quantity_; }
    void setQuantity(const TWAText& quantity);
    int64_t role() const { return role_; }
    void setRole(int64_t role) { role_ = role; }
    const TWAText& totalPrice() const { return totalPrice_; }
    void setTotalPrice(const TWAText& totalPrice);
    const TWAText& unitPrice() const { return unitPrice_; }
    void setUnitPrice(const TWAText& unitPrice);

    std::shared_ptr<TWALineItem> copy() const;
    void encodeWithCoder(TWAKeyedArchive& coder) const;
    TWAKeyedArchive::ArchivePtr archived() const;

    bool isEqual(const TWAObject* other) const override;
    uint64_t hash() const override;
    std::string descriptionWithLocale(const std::optional<std::string>& locale,
                                      unsigned indent) const override;

  protected:
    TWALineItem() = default;

  private:
    TWAText itemDescription_;
    TWAText quantity_;
    int64_t role_ = kRoleRegular;
    TWAText totalPrice_;
    TWAText unitPrice_;
};
