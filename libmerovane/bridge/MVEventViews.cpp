#include "libmerovane/bridge/MVEventViews.h"

#include <nlohmann/json.hpp>

namespace MVEventViews {

MVEvent viewWillAppearAnimated(bool animated) {
    return MVEvent("viewWillAppear", nlohmann::json::array({animated}));
}

MVEvent viewDidAppearAnimated(bool animated) {
    return MVEvent("viewDidAppear", nlohmann::json::array({animated}));
}

MVEvent viewWillDisappearAnimated(bool animated) {
    return MVEvent("viewWillDisappear", nlohmann::json::array({animated}));
}

MVEvent viewDidDisappearAnimated(bool animated) {
    return MVEvent("viewDidDisappear", nlohmann::json::array({animated}));
}

MVEvent tabDidChange(const std::string& identifier) {
    return MVEvent("tabDidChange", nlohmann::json::array({identifier}));
}

MVEvent splashScreenDidFinish() {
    return MVEvent("splashScreenDidFinish");
}

MVEvent setSplashScreenProgressOffset(double offset) {
    return MVEvent("setSplashScreenProgressOffset", nlohmann::json::array({offset}));
}

}  // namespace MVEventViews
