#pragma once
// Type and details of the instrument behind a full wallet.

#include "wallet/TWAObject.h"

class TWAInstrumentInfo : public TWAObject {
  public:
    static int32_t codingVersion() { return 1; }

    static std::shared_ptr<TWAInstrumentInfo> create();
    static std::shared_ptr<TWAInstrumentInfo> createWithCoder(const TWAKeyedArchive& coder);

    const TWAText& instrumentType() const { return instrumentType_; }
    void setInstrumentType(const TWAText& v) { instrumentType_ = v; }
    const TWAText& instrumentDetails() const { return instrumentDetails_; }
    void setInstrumentDetails(const TWAText& v) { instrumentDetails_ = v; }

    void encodeWithCoder(TWAKeyedArchive& coder) const;
    TWAKeyedArchive::ArchivePtr archived() const { return TWAArchived(*this); }

    bool isEqual(const TWAObject* other) const override;
    uint64_t hash() const override;
    std::string descriptionWithLocale(const std::optional<std::string>& locale,
                                      unsigned indent) const override;

  protected:
    TWAInstrumentInfo() = default;

  private:
    TWAText instrumentType_;
    TWAText instrumentDetails_;
};
