#include "libmerovane/containers/MVSpeedFactor.h"

#include <algorithm>
#include <cmath>

namespace {

// The factor's single-precision value, which every rule checks: a double too small for a
// float becomes 0 here, not a duration of 0 later.
std::optional<double> finite(std::optional<double> factor) {
    if (!factor || !std::isfinite(*factor)) return std::nullopt;
    return static_cast<float>(std::clamp(*factor, -kMVSpeedFactorLimit, kMVSpeedFactorLimit));
}

}  // namespace

double MVSpeedFactorAbsolute(std::optional<double> factor) {
    const auto f = finite(factor);
    return f && *f != 0 ? std::fabs(*f) : 1.0;
}

double MVSpeedFactorAsGiven(std::optional<double> factor) {
    return finite(factor).value_or(1.0);
}

double MVSpeedFactorPositive(std::optional<double> factor) {
    const auto f = finite(factor);
    return f && *f > 0 ? *f : 1.0;
}

double MVBackgroundMenuDuration(double animationTypeDuration) {
    return animationTypeDuration > 0.01 ? animationTypeDuration : 0.3;
}
