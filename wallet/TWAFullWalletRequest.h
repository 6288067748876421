#pragma once
// The request for the full wallet of a transaction's final cart.

#include "wallet/TWACart.h"

class TWAFullWalletRequest : public TWAObject {
  public:
    static int32_t codingVersion() { return 1; }

    static std::shared_ptr<TWAFullWalletRequest> create();
    // Keeps the cart itself.
    static std::shared_ptr<TWAFullWalletRequest> create(const TWAText& tesseraTransactionId,
                                                        std::shared_ptr<TWACart> cart,
                                                        const TWAText& merchantTransactionId);
    static std::shared_ptr<TWAFullWalletRequest> createWithCoder(const TWAKeyedArchive& coder);

    const TWAText& tesseraTransactionId() const { return tesseraTransactionId_; }
    void setTesseraTransactionId(const TWAText& v) { tesseraTransactionId_ = v; }
    const std::shared_ptr<TWACart>& cart() const { return cart_; }
    void setCart(std::shared_ptr<TWACart> v) { cart_ = std::move(v); }
    const TWAText& merchantTransactionId() const { return merchantTransactionId_; }
    void setMerchantTransactionId(const TWAText& v) { merchantTransactionId_ = v; }

    std::shared_ptr<TWAFullWalletRequest> copy() const;
    void encodeWithCoder(TWAKeyedArchive& coder) const;
    TWAKeyedArchive::ArchivePtr archived() const { return TWAArchived(*this); }

    bool isEqual(const TWAObject* other) const override;
    uint64_t hash() const override;
    std::string descriptionWithLocale(const std::optional<std::string>& locale,
                                      unsigned indent) const override;

  protected:
    TWAFullWalletRequest() = default;

  private:
    TWAText tesseraTransactionId_;
    std::shared_ptr<TWACart> cart_;
    TWAText merchantTransactionId_;
};
