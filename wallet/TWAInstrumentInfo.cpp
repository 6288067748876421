#include "wallet/TWAInstrumentInfo.h"

std::shared_ptr<TWAInstrumentInfo> TWAInstrumentInfo::create() {
    return std::shared_ptr<TWAInstrumentInfo>(new TWAInstrumentInfo);
}

std::shared_ptr<TWAInstrumentInfo> TWAInstrumentInfo::createWithCoder(
    const TWAKeyedArchive& coder) {
    TWAText type = coder.decodeText("InstrumentType");
    TWAText details = coder.decodeText("InstrumentDetails");
    auto info = create();
    info->instrumentType_ = type;
    info->instrumentDetails_ = details;
    return info;
}

void TWAInstrumentInfo::encodeWithCoder(TWAKeyedArchive& coder) const {
    coder.encodeText("InstrumentType", instrumentType_);
    coder.encodeText("InstrumentDetails", instrumentDetails_);
    coder.encodeInt32("CodingVersion", codingVersion());
}

bool TWAInstrumentInfo::isEqual(const TWAObject* other) const {
    if (other == this) return true;
    if (!isSameClass(other)) return false;
    auto* o = static_cast<const TWAInstrumentInfo*>(other);
    return TWAEqual(instrumentType_, o->instrumentType_) &&
           TWAEqual(instrumentDetails_, o->instrumentDetails_);
}

uint64_t TWAInstrumentInfo::hash() const {
    return TWAHasher().add(instrumentType_).add(instrumentDetails_).value();
}

std::string TWAInstrumentInfo::descriptionWithLocale(const std::optional<std::string>&,
                                                     unsigned indent) const {
    TWADescription d;
    d.set("Instrument Type", instrumentType_);
    d.set("Instrument Details", instrumentDetails_);
    return d.text(indent);
}
