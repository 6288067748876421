#pragma once
// What the bridge needs of a navigation stack: pushing a page. The containers'
// navigation controller implements it; tests use recording stand-ins.
//
//   if (auto stack = MVNavigationControllerInterface::navigationControllerOf(controller))
//       stack->pushViewController(page, true);
//
// Main thread only.

#include <memory>

namespace platform {
class ViewController;
}

class MVNavigationControllerInterface {
  public:
    virtual ~MVNavigationControllerInterface() = default;

    // Pushes a web page view controller onto the stack.
    virtual void pushViewController(const std::shared_ptr<platform::ViewController>& viewController,
                                    bool animated) = 0;

    // The stack a view controller belongs to, as the platform answers a controller's
    // navigation controller: the nearest controller above it (its parent, the parent's
    // parent ...) that is a stack. Null when there is none.
    static std::shared_ptr<MVNavigationControllerInterface> navigationControllerOf(
        const platform::ViewController& viewController);
};
