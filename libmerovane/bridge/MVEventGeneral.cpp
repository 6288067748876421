#include "libmerovane/bridge/MVEventGeneral.h"

#include <cmath>
#include <cstdint>
#include <nlohmann/json.hpp>

namespace MVEventGeneral {

MVEvent applicationWillEnterForegroundWithSecondsinBackground(double seconds) {
    // A clock that jumped could hand us anything; only a finite, representable value
    // may be converted.
    int64_t whole = 0;
    if (std::isfinite(seconds) && std::fabs(seconds) < 9.0e18)
        whole = static_cast<int64_t>(std::trunc(seconds));
    return MVEvent("applicationWillEnterForeground", nlohmann::json::array({whole}));
}

MVEvent applicationDidEnterBackground() {
    return MVEvent("applicationWillEnterBackground");
}

}  // namespace MVEventGeneral
