#include "libmerovane/bridge/MVEventLocation.h"

#include <algorithm>
#include <nlohmann/json.hpp>

namespace MVEventLocation {

MVEvent setLocation(double latitude, double longitude, double horizontalAccuracy,
                    double verticalAccuracy) {
    nlohmann::json fix = {{"latitude", latitude},
                          {"longitude", longitude},
                          {"accuracy", std::max(verticalAccuracy, horizontalAccuracy)}};
    return MVEvent("setLocation", nlohmann::json::array({std::move(fix)}));
}

MVEvent setLocation() {
    return MVEvent("setLocation");
}

MVEvent locationServiceStatusDidChange(bool allowed) {
    MVEvent event("locationServiceStatusDidChange", nlohmann::json::array({allowed}));
    event.setAmendPreviousEvent(true);
    return event;
}

}  // namespace MVEventLocation
