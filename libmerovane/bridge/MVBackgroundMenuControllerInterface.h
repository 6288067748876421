#pragma once
// What the commands and the host's start-up need of a background menu, a web-view menu
// that slides in from a screen edge. The containers' background menu controller
// implements it and registers its instances by name ("primary", "secondary"); until
// one exists the accessors answer null.
//
//   if (auto menu = MVBackgroundMenuControllerInterface::sharedInstanceForIdentifier("primary"))
//       menu->hideWithSpeedFactor(std::nullopt);
//
// Speed factors are handed on as given: implementations accept any finite number and
// none (the base duration).
//
// Main thread only.

#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>

#include "libmerovane/core/MVInstanceTracking.h"

class MVBackgroundMenuControllerInterface
    : public MVInstanceTracking<MVBackgroundMenuControllerInterface> {
  public:
    virtual ~MVBackgroundMenuControllerInterface() = default;

    // Builds the next menu with the speed factor and the menu parameters (a dictionary,
    // or null), applies the presentation type and gesture recognizer type (none: no
    // gesture) by name and opens the URL in its web view.
    virtual void setContentWithUrl(
        const std::string& url, const std::string& presentationType,
        const std::optional<std::string>& backgroundMenuGestureRecognizer,
        std::optional<double> speedFactor, const nlohmann::json* menuParams) = 0;
    // The same with HTML loaded against the base URL.
    virtual void setContentWithString(
        const std::string& content, const std::optional<std::string>& baseURL,
        const std::string& presentationType,
        const std::optional<std::string>& backgroundMenuGestureRecognizer,
        std::optional<double> speedFactor, const nlohmann::json* menuParams) = 0;
    virtual void showWithPresentationType(const std::optional<std::string>& presentationType,
                                          std::optional<double> speedFactor) = 0;
    virtual void hideWithSpeedFactor(std::optional<double> speedFactor) = 0;
};
