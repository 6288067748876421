#pragma once
// The responder chain: views, view controllers, windows and the application each name
// their next responder; touches a responder does not handle travel up the chain.
// Main thread only.

#include <memory>

#include "platform/foundation/Geometry.h"

namespace platform {

class View;
class Window;

// One finger on the screen. Headless touches are single taps at a window point.
struct Touch {
    std::weak_ptr<Window> window;
    std::weak_ptr<View> view;  // the view the touch was delivered to (hit-test result)
    Point locationInWindow;
    int tapCount = 1;

    // The touch's location in `view`'s coordinates (window coordinates for null).
    Point locationInView(const View* view) const;
};

class Responder {
  public:
    virtual ~Responder() = default;

    virtual Responder* nextResponder() const { return nullptr; }

    // By default a responder passes a touch on to its next responder.
    virtual void touchesBegan(const Touch& touch);
    virtual void touchesEnded(const Touch& touch);
    virtual void touchesCancelled(const Touch& touch);
};

}  // namespace platform
