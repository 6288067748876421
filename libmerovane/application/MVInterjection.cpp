#include "libmerovane/application/MVInterjection.h"

#include <typeinfo>

#include "libmerovane/core/MVLocalizationInterface.h"
#include "libmerovane/core/MVSerialCounter.h"

namespace {

MVSerialCounter& interjectionSerials() {
    static auto* serials = new MVSerialCounter("MVInterjection serials", 1000);
    return *serials;
}

}  // namespace

int64_t MVInterjection::nextSerial() {
    return interjectionSerials().next();
}

void MVInterjection::resetSerialsForTesting() {
    interjectionSerials().reset();
}

bool MVInterjection::isEqualToInterjection(const MVInterjection* other) const {
    return other == this;
}

bool MVInterjection::hasEqualClassAsInterjection(const MVInterjection* other) const {
    return other && typeid(*other) == typeid(*this);
}

nlohmann::json MVInterjection::errorData() const {
    return {{"interjectionId", id_},
            {"interjectionClass", className()},
            {"interjectionSerial", serialId_}};
}

std::string MVPushNotificationInterjection::overlayMessage() const {
    return MVLocalizedString("#push.openingnotification");
}

bool MVPushNotificationInterjection::isEqualToInterjection(const MVInterjection* other) const {
    return other && other->id() == id();
}

std::string MVDeepLinkInterjection::overlayMessage() const {
    return MVLocalizedString("#deeplink.openlink");
}

bool MVDeepLinkInterjection::isEqualToInterjection(const MVInterjection* other) const {
    return other && other->serialId() == serialId();
}
