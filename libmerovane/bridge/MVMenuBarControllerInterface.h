#pragma once
// What the commands and the host's start-up need of a menu bar, the web-view bar at
// the bottom of the interface. The containers' menu bar controller implements it and
// registers its instances by name; until one exists the accessors answer null.
//
//   if (auto menuBar = MVMenuBarControllerInterface::sharedDefaultInstance())
//       menuBar->showMenuBarWithAnimation(MVBarAnimation::Slide, std::nullopt);
//
// Speed factors are handed on as given: implementations accept any finite number and
// none (the base duration).
//
// Main thread only.

#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>

#include "libmerovane/bridge/MVBarAnimation.h"
#include "libmerovane/core/MVInstanceTracking.h"
#include "platform/foundation/Geometry.h"

class MVMenuBarControllerInterface : public MVInstanceTracking<MVMenuBarControllerInterface> {
  public:
    virtual ~MVMenuBarControllerInterface() = default;

    // Opens the URL in a fresh menu web view, the next menu bar; the menu parameters
    // (a dictionary, or null) reach its page once it has rendered.
    virtual void setMenuBarWithUrl(const std::string& url, const nlohmann::json* menuParams) = 0;
    // The same with HTML loaded against the base URL.
    virtual void setMenuBarWithContent(const std::string& content,
                                       const std::optional<std::string>& baseURL,
                                       const nlohmann::json* menuParams) = 0;
    virtual void showMenuBarWithAnimation(MVBarAnimation animation,
                                          std::optional<double> speedFactor) = 0;
    virtual void hideMenuBarWithAnimation(MVBarAnimation animation,
                                          std::optional<double> speedFactor) = 0;
    // Edge insets handed on to its content.
    virtual void viewShouldAdjustInsets(const platform::EdgeInsets& insets, bool animated) = 0;
};
