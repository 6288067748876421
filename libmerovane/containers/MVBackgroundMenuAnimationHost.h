#pragma once
// What a background menu's animations and their fragments need of the controller that
// holds the menu: the views they move and what the menu page has said about itself. The
// background menu controller implements it; animations and fragments hold it weakly, so
// once it has gone they leave every view alone.
//
//   auto animation = MVBackgroundMenuAnimation::animationWithType("foregroundLeft", host);
//   animation->fractionState(1, true);  // host->menuView() now shows the open menu
//
// Main thread only.

#include <memory>
#include <nlohmann/json_fwd.hpp>

namespace platform {
class View;
}

class MVBackgroundMenuAnimationHost {
  public:
    virtual ~MVBackgroundMenuAnimationHost() = default;

    // The controller's own view, which holds the two below.
    virtual std::shared_ptr<platform::View> view() const = 0;
    // Holds the menu page's web view; its frame is the menu's frame.
    virtual std::shared_ptr<platform::View> menuView() const = 0;
    // Holds the content's view, as large as the controller's view.
    virtual std::shared_ptr<platform::View> contentContainerView() const = 0;
    // Whether the menu is anything but closed.
    virtual bool isVisible() const = 0;
    // The view properties the current menu page set (a dictionary), or null.
    virtual std::shared_ptr<const nlohmann::json> currentViewProperties() const = 0;
};
