#include "wallet/TWAProxyCard.h"

#include <fmt/core.h>

std::shared_ptr<TWAProxyCard> TWAProxyCard::create() {
    return std::shared_ptr<TWAProxyCard>(new TWAProxyCard);
}

bool TWAProxyCard::isEqual(const TWAObject* other) const {
    if (other == this) return true;
    if (!isSameClass(other)) return false;
    auto* o = static_cast<const TWAProxyCard*>(other);
    return TWAEqual(pan_, o->pan_) && TWAEqual(cvn_, o->cvn_) &&
           expirationDate_ == o->expirationDate_;
}

uint64_t TWAProxyCard::hash() const {
    uint64_t date = expirationDate_ ? expirationDate_->hash() : 0;
    return (TWAHasher().add(pan_).add(cvn_).value()) * 31 + date;
}

std::string TWAProxyCard::descriptionWithLocale(const std::optional<std::string>&, unsigned) const {
    std::string lastFour = "(null)";
    if (pan_) {
        // Four characters back, a UTF-8 continuation byte belonging to its character.
        size_t start = pan_->size();
        for (int characters = 0; characters < 4 && start > 0; ++characters) {
            --start;
            while (start > 0 && (static_cast<unsigned char>((*pan_)[start]) & 0xc0) == 0x80)
                --start;
        }
        lastFour = pan_->substr(start);
    }
    int64_t month = expirationDate_ ? expirationDate_->month : 0;
    int64_t year = expirationDate_ ? expirationDate_->year : 0;
    return fmt::format("Proxy card XXXX-{}, Expires {:02d}/{:04d}", lastFour, month, year);
}
