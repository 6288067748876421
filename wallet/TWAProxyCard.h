#pragma once
// The one-time card that pays a full wallet. Its description shows the last four
// characters of the number and the expiry, never more of the number nor the
// verification number.

#include "wallet/TWAObject.h"

// A month and a year.
struct TWADateComponents {
    int64_t month = 0;
    int64_t year = 0;
    bool operator==(const TWADateComponents&) const = default;
    // 31 × month + year, wrapping.
    uint64_t hash() const {
        return static_cast<uint64_t>(month) * 31 + static_cast<uint64_t>(year);
    }
};

class TWAProxyCard : public TWAObject {
  public:
    static std::shared_ptr<TWAProxyCard> create();

    const TWAText& pan() const { return pan_; }
    void setPan(const TWAText& v) { pan_ = v; }
    const TWAText& cvn() const { return cvn_; }
    void setCvn(const TWAText& v) { cvn_ = v; }
    const std::optional<TWADateComponents>& expirationDate() const { return expirationDate_; }
    void setExpirationDate(const std::optional<TWADateComponents>& v) { expirationDate_ = v; }

    bool isEqual(const TWAObject* other) const override;
    uint64_t hash() const override;
    // "Proxy card XXXX-1111, Expires 03/2016"
    std::string descriptionWithLocale(const std::optional<std::string>& locale,
                                      unsigned indent) const override;

  protected:
    TWAProxyCard() = default;

  private:
    TWAText pan_;
    TWAText cvn_;
    std::optional<TWADateComponents> expirationDate_;
};
