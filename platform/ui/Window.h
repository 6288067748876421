#pragma once
// A window: the top of a view hierarchy, with its root view controller. Windows start
// hidden; showing or hiding one runs the appearance transitions of the controllers whose
// views it holds. The application lists every live window (weakly: whoever makes a window
// keeps it). Main thread only.

#include <memory>

#include "platform/ui/View.h"

namespace platform {

class ViewController;

class Window : public View {
  public:
    static std::shared_ptr<Window> create(const Rect& frame);

    std::shared_ptr<ViewController> rootViewController() const { return rootViewController_; }
    // The root's view fills the window and resizes with it, below any other subviews.
    void setRootViewController(std::shared_ptr<ViewController> controller);

    void makeKeyAndVisible();
    void makeKeyWindow();
    bool isKeyWindow() const;
    void setHidden(bool hidden) override;

    // Delivers a tap at a point in window coordinates to the deepest view that takes
    // touches there; answers that view, or null. The enabled tap recognizers of that view
    // and its superviews, nearest first, are offered the tap before the touches: after one
    // recognizes, the others only when a delegate lets both recognize. The view then gets
    // touches began and ended, or began and cancelled when a recognizer that recognized
    // cancels touches in its view.
    std::shared_ptr<View> sendTap(Point point);

    Responder* nextResponder() const override;

  protected:
    explicit Window(const Rect& frame);

  private:
    std::shared_ptr<ViewController> rootViewController_;
};

}  // namespace platform
