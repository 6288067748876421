#pragma once
// The final cart of a full-wallet request.

#include "wallet/TWALineItem.h"

class TWACart : public TWAObject {
  public:
    using LineItems = std::optional<std::vector<std::shared_ptr<TWALineItem>>>;

    static int32_t codingVersion() { return 1; }

    static std::shared_ptr<TWACart> create();
    // Keeps a new list of the given items; the items themselves are shared.
    static std::shared_ptr<TWACart> create(const TWAText& currencyCode, const TWAText& totalPrice,
                                           const LineItems& lineItems);
    static std::shared_ptr<TWACart> createWithCoder(const TWAKeyedArchive& coder);

    const TWAText& currencyCode() const { return currencyCode_; }
    void setCurrencyCode(const TWAText& currencyCode) { currencyCode_ = currencyCode; }
    const TWAText& totalPrice() const { return totalPrice_; }
    void setTotalPrice(const TWAText& totalPrice) { totalPrice_ = totalPrice; }
    const LineItems& lineItems() const { return lineItems_; }
    void setLineItems(const LineItems& lineItems) { lineItems_ = lineItems; }

    // A new cart with copies of the line items.
    std::shared_ptr<TWACart> copy() const;
    void encodeWithCoder(TWAKeyedArchive& coder) const;
    TWAKeyedArchive::ArchivePtr archived() const;

    bool isEqual(const TWAObject* other) const override;
    uint64_t hash() const override;
    std::string descriptionWithLocale(const std::optional<std::string>& locale,
                                      unsigned indent) const override;

  protected:
    TWACart() = default;

  private:
    TWAText currencyCode_;
    TWAText totalPrice_;
    LineItems lineItems_;
};
