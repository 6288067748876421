#pragma once
// The view controller that owns a view, found through the responder chain.

#include <memory>

namespace platform {
class View;
class ViewController;
}  // namespace platform

// The first next responder of the view that is a view controller; null when a responder
// on the way is neither a view controller nor a view, or the chain ends.
std::shared_ptr<platform::ViewController> firstAvailableUIViewController(
    const platform::View& view);
// The same; when it finds nothing, the answer for the view's superview (null without one).
std::shared_ptr<platform::ViewController> firstAvailableUIViewControllerRecursive(
    const platform::View& view);
