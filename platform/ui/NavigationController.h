#pragma once
// The platform's navigation controller: a stack of view controllers of which the top one
// is shown, a navigation bar, and a left-edge pan that pops interactively.
//
//   auto nav = platform::NavigationController::create(home);
//   window->setRootViewController(nav);
//   nav->push(details, true);       // viewControllers() is {home, details} at once
//
// The list changes inside every call. When the top changes while the controller's view
// is in a visible window, a transition runs: inside the call the delegate's willShow, the
// incoming controller's viewWillAppear and the outgoing one's viewWillDisappear (with the
// animated flag given); kNavigationTransitionDuration later when animated, at the next
// turn when not, viewDidAppear, viewDidDisappear and the delegate's didShow. Off-window
// the views are swapped without callbacks; an empty stack shows nothing and tells the
// delegate nothing (a controller leaving the window that way disappears at once). What
// leaves the list is let go when the transition that takes it away has ended (at once
// when none runs); if the stack leaves its window and comes back meanwhile, only the
// incoming controller appears again.
//
// Edits while a transition runs are misuse: each is carried out on the list, logged and
// counted (transitionViolationsForTesting); when the transition ends, a new one runs
// towards the top of the list as it stands. An edit made inside one of the controller's
// call-outs (delegate, appearance and containment callbacks, interaction handlers) runs
// when the call-out returns and answers nothing (null, empty).
//
// The stack operations are virtual so that subclasses can route them; the base
// implementations are callable. Pushing a controller already in the stack, a list with a
// controller twice, and popping to a controller not in the stack raise
// NSInvalidArgumentException; a null controller is logged and ignored. Main thread only.

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "platform/foundation/RunLoop.h"
#include "platform/ui/GestureRecognizer.h"
#include "platform/ui/TransitionCoordinator.h"
#include "platform/ui/ViewController.h"

namespace platform {

class NavigationController;

inline constexpr double kNavigationTransitionDuration = 0.35;
inline constexpr double kNavigationControllerHideShowBarDuration = 0.2;
inline constexpr double kNavigationBarHeight = 44;

class NavigationControllerDelegate {
  public:
    virtual ~NavigationControllerDelegate() = default;
    virtual void willShow(NavigationController& navigationController, ViewController& controller,
                          bool animated) {}
    virtual void didShow(NavigationController& navigationController, ViewController& controller,
                         bool animated) {}
};

class NavigationController : public ViewController {
  public:
    static std::shared_ptr<NavigationController> create(
        std::shared_ptr<ViewController> root = nullptr);

    const std::vector<std::shared_ptr<ViewController>>& viewControllers() const { return stack_; }
    std::shared_ptr<ViewController> topViewController() const;

    virtual void push(const std::shared_ptr<ViewController>& controller, bool animated);
    // The popped controller; null with fewer than two controllers.
    virtual std::shared_ptr<ViewController> pop(bool animated);
    // The popped controllers, bottom to top.
    virtual std::vector<std::shared_ptr<ViewController>> popTo(
        const std::shared_ptr<ViewController>& controller, bool animated);
    virtual std::vector<std::shared_ptr<ViewController>> popToRoot(bool animated);
    virtual void setViewControllers(std::vector<std::shared_ptr<ViewController>> controllers,
                                    bool animated);

    std::shared_ptr<NavigationControllerDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<NavigationControllerDelegate> delegate) {
        delegate_ = std::move(delegate);
    }

    // The bar along the top (below the status bar), shown at first. Hiding slides it up and
    // out over kNavigationControllerHideShowBarDuration when animated.
    const std::shared_ptr<View>& navigationBar();
    bool isNavigationBarHidden() const { return barHidden_; }
    void setNavigationBarHidden(bool hidden, bool animated);

    // A left-edge pan on the controller's view. Unless its delegate answers, it begins only
    // while two controllers or more are stacked and no transition runs. When it begins, the
    // (virtual) pop(true) is called while it is still in Began; a pop that reaches the base
    // then runs an interactive transition: willShow and the will-callbacks after pop
    // returns; the transition coordinator of the controllers reports the end of the
    // interaction. Lifting the finger past half the view's width, or with a velocity to the
    // right, completes it (did-callbacks and didShow when the rest has played out);
    // otherwise, or when the gesture is cancelled, the old stack comes back and the
    // controllers return to where they were, without didShow. A pop that throws is logged
    // and cancels the gesture.
    const std::shared_ptr<ScreenEdgePanGestureRecognizer>& interactivePopGestureRecognizer();

    // The running transition's coordinator, or null.
    std::shared_ptr<TransitionCoordinator> transitionCoordinator() const override;
    // Whether a transition of this controller runs: its end calls didShow when it completes.
    // Off-window changes and an unchanged top run none.
    bool isTransitioning() const { return transition_.has_value(); }

    // Coming back into a window while a transition runs, the controller it takes away
    // stays gone: only the incoming one appears again.
    bool forwardsAppearanceTo(const ViewController& child, bool appearing) const override;

    int transitionViolationsForTesting() const { return violations_; }

  protected:
    NavigationController();
    void loadView() override;

  private:
    struct Transition {
        std::shared_ptr<ViewController> from;  // null for the first controller shown
        std::shared_ptr<ViewController> to;
        bool animated = false;
        bool interactive = false;
        bool calloutsDone = false;
        bool interactionEnded = false;
        bool cancelled = false;
        bool edited = false;  // the list changed while it ran
        std::vector<std::shared_ptr<ViewController>> stackBefore;
        std::shared_ptr<TransitionCoordinator> coordinator;
        TimerHandle timer;
    };

    std::shared_ptr<NavigationController> self();
    bool shownInVisibleWindow() const;
    // Runs bookkeeping and the call-outs it makes; stack edits made meanwhile wait until
    // the outermost such scope has returned.
    void callOut(const std::function<void()>& calls);
    bool deferIfCallingOut(std::function<void()> edit);
    void runDeferredEdits();

    void changeStack(std::vector<std::shared_ptr<ViewController>> controllers, bool animated,
                     bool interactive);
    void adoptChildren(const std::vector<std::shared_ptr<ViewController>>& old);
    // Brings the shown controller in line with the top of the list; `before` is the list
    // the change started from.
    void showTopFrom(const std::vector<std::shared_ptr<ViewController>>& before, bool animated,
                     bool interactive);
    void installView(const std::shared_ptr<ViewController>& controller, bool above);
    void startTransitionCallouts();
    void scheduleTransitionEnd(double delay);
    void endTransition();
    void handlePopGesture(GestureRecognizer& recognizer);
    void moveInteractively(double fraction);
    void endInteraction(bool cancelled);
    double popFraction() const;

    std::vector<std::shared_ptr<ViewController>> stack_;
    std::shared_ptr<ViewController> shown_;  // whose view the container holds
    std::optional<Transition> transition_;
    bool followUpAnimated_ = false;
    std::weak_ptr<NavigationControllerDelegate> delegate_;
    std::shared_ptr<View> bar_;
    bool barHidden_ = false;
    std::shared_ptr<ScreenEdgePanGestureRecognizer> popRecognizer_;
    bool inPopGestureBegin_ = false;
    int calloutDepth_ = 0;
    std::vector<std::function<void()>> deferred_;
    int violations_ = 0;
};

}  // namespace platform
