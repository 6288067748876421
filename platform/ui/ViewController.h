#pragma once
// A view controller: owns a view (made on first use), contains child controllers,
// presents other controllers, and hears of its view's appearance.
//
// Appearance: viewWillAppear/viewDidAppear and viewWillDisappear/viewDidDisappear arrive
// exactly once per transition, with the animated flag, in this order: every "will" of a
// transition, the change, every "did", parents before children. A controller's view
// entering or leaving a visible window runs the transition of that controller and of the
// controllers whose views come along (a window's root when the window shows or hides, a
// child added to a visible parent's view, a parentless controller's view added anywhere
// in a visible window); a parent that does not forward appearance automatically runs its
// children's transitions itself with beginAppearanceTransition/endAppearanceTransition.
//
// Controllers are made by create() (or a subclass's factory) and held by shared_ptr:
// parents hold children, presenters hold what they present; the links back are weak.
// Main thread only.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/InterfaceTypes.h"
#include "platform/ui/NavigationItem.h"
#include "platform/ui/Responder.h"

namespace platform {

class TransitionCoordinator;
class View;
class Window;

class ViewController : public Responder, public std::enable_shared_from_this<ViewController> {
  public:
    enum class AppearanceState { Disappeared, Appearing, Appeared, Disappearing };

    static std::shared_ptr<ViewController> create();
    ~ViewController() override;
    ViewController(const ViewController&) = delete;
    ViewController& operator=(const ViewController&) = delete;

    // The view, loaded on first use (loadView, then viewDidLoad).
    const std::shared_ptr<View>& view();
    bool isViewLoaded() const { return view_ != nullptr; }
    const std::shared_ptr<View>& viewIfLoaded() const { return view_; }
    // A view belongs to one controller at a time; another's view throws
    // NSInternalInconsistencyException. Null unloads.
    void setView(std::shared_ptr<View> view);

    const std::string& title() const { return navigationItem_.title(); }
    // Also the navigation item's title.
    void setTitle(std::string title) { navigationItem_.setTitle(std::move(title)); }
    NavigationItem& navigationItem() { return navigationItem_; }

    // Containment. addChildViewController calls willMoveToParentViewController(this);
    // removeFromParentViewController calls didMoveToParentViewController(nullptr).
    std::shared_ptr<ViewController> parentViewController() const { return parent_.lock(); }
    const std::vector<std::shared_ptr<ViewController>>& childViewControllers() const {
        return children_;
    }
    void addChildViewController(const std::shared_ptr<ViewController>& child);
    void removeFromParentViewController();
    virtual void willMoveToParentViewController(ViewController* parent) {}
    virtual void didMoveToParentViewController(ViewController* parent) {}

    // Appearance.
    virtual void viewWillAppear(bool animated) {}
    virtual void viewDidAppear(bool animated) {}
    virtual void viewWillDisappear(bool animated) {}
    virtual void viewDidDisappear(bool animated) {}
    virtual bool shouldAutomaticallyForwardAppearanceMethods() const { return true; }
    // Whether this controller's appearing or disappearing reaches `child`, whose view lies
    // in its own; the default follows shouldAutomaticallyForwardAppearanceMethods for its
    // children and answers yes for others.
    virtual bool forwardsAppearanceTo(const ViewController& child, bool appearing) const;
    void beginAppearanceTransition(bool appearing, bool animated);
    void endAppearanceTransition();
    AppearanceState appearanceState() const { return appearanceState_; }

    // Status bar: the platform asks the key window's root (or what it presents) again
    // after setNeedsStatusBarAppearanceUpdate.
    virtual StatusBarStyle preferredStatusBarStyle() const { return StatusBarStyle::Default; }
    virtual bool prefersStatusBarHidden() const { return false; }
    void setNeedsStatusBarAppearanceUpdate();

    virtual void didReceiveMemoryWarning() {}

    // The coordinator of a container's transition that moves this controller: the
    // parent's, for a controller that runs none itself; null outside transitions.
    virtual std::shared_ptr<TransitionCoordinator> transitionCoordinator() const;

    // Presentation over the whole window, from the outermost parent of this controller.
    // The presented view covers the window (sliding up over 0.3 s when animated); the
    // presenter's view leaves the window when the transition ends, and the completion runs
    // then (at the next turn when not animated). A second presentation while one stands or
    // runs, or from a controller whose view is in no window, is logged and ignored.
    void presentViewController(const std::shared_ptr<ViewController>& controller, bool animated,
                               std::function<void()> completion = {});
    // Dismisses what this controller (or the controller that presented it) presents.
    void dismissViewController(bool animated, std::function<void()> completion = {});
    std::shared_ptr<ViewController> presentedViewController() const { return presented_; }
    std::shared_ptr<ViewController> presentingViewController() const { return presenting_.lock(); }

    Responder* nextResponder() const override;

    // Every live controller, oldest first (memory warnings reach them all).
    static std::vector<std::shared_ptr<ViewController>> allControllers();

    // For views and windows: whether a window shows its views, and the controllers whose
    // appearance follows `root` into or out of a window, parents first.
    static bool isVisibleWindow(const Window* window);
    static void collectForAppearance(const View& root, bool appearing,
                                     std::vector<std::shared_ptr<ViewController>>& out);

  protected:
    ViewController();
    // Makes the view; the default is a plain view the size of the screen that resizes
    // with its superview.
    virtual void loadView();
    virtual void viewDidLoad() {}

  private:
    void forwardAppearance(bool appearing, const std::function<void(ViewController&)>& step);

    std::shared_ptr<View> view_;
    NavigationItem navigationItem_;
    std::weak_ptr<ViewController> parent_;
    std::vector<std::shared_ptr<ViewController>> children_;
    std::shared_ptr<ViewController> presented_;
    std::weak_ptr<ViewController> presenting_;
    bool transitioning_ = false;
    AppearanceState appearanceState_ = AppearanceState::Disappeared;
    bool transitionAnimated_ = false;
};

}  // namespace platform
