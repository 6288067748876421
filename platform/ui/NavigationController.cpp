#include "platform/ui/NavigationController.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <string>

#include "platform/foundation/Exception.h"
#include "platform/foundation/Log.h"
#include "platform/ui/Application.h"
#include "platform/ui/View.h"
#include "platform/ui/Window.h"

namespace platform {
namespace {

using Controllers = std::vector<std::shared_ptr<ViewController>>;

bool contains(const Controllers& list, const std::shared_ptr<ViewController>& c) {
    return std::find(list.begin(), list.end(), c) != list.end();
}

// The interactive pop: without a delegate's answer, the controller's own rule decides.
class PopGestureRecognizer : public ScreenEdgePanGestureRecognizer {
  public:
    static std::shared_ptr<PopGestureRecognizer> create(std::function<bool()> rule) {
        return std::shared_ptr<PopGestureRecognizer>(new PopGestureRecognizer(std::move(rule)));
    }

  protected:
    bool shouldBeginByDefault() override { return rule_(); }

  private:
    explicit PopGestureRecognizer(std::function<bool()> rule)
        : ScreenEdgePanGestureRecognizer(kRectEdgeLeft), rule_(std::move(rule)) {}
    std::function<bool()> rule_;
};

void setFrameAtOnce(const std::shared_ptr<View>& v, const Rect& frame) {
    View::performWithoutAnimation([&] { v->setFrame(frame); });
}

}  // namespace

std::shared_ptr<NavigationController> NavigationController::create(
    std::shared_ptr<ViewController> root) {
    auto nav = std::shared_ptr<NavigationController>(new NavigationController());
    if (root) nav->NavigationController::setViewControllers({std::move(root)}, false);
    return nav;
}

NavigationController::NavigationController() = default;

std::shared_ptr<NavigationController> NavigationController::self() {
    return std::static_pointer_cast<NavigationController>(shared_from_this());
}

std::shared_ptr<ViewController> NavigationController::topViewController() const {
    return stack_.empty() ? nullptr : stack_.back();
}

bool NavigationController::shownInVisibleWindow() const {
    return isViewLoaded() && isVisibleWindow(viewIfLoaded()->window().get());
}

std::shared_ptr<TransitionCoordinator> NavigationController::transitionCoordinator() const {
    if (transition_) return transition_->coordinator;
    return ViewController::transitionCoordinator();
}

// Call-outs and deferred edits

void NavigationController::callOut(const std::function<void()>& calls) {
    ++calloutDepth_;
    try {
        calls();
    } catch (...) {
        if (--calloutDepth_ == 0 && !deferred_.empty()) {
            PLATFORM_LOG_ERROR("{} navigation stack edits dropped after a failed call-out",
                               deferred_.size());
            deferred_.clear();
        }
        throw;
    }
    if (--calloutDepth_ == 0) runDeferredEdits();
}

bool NavigationController::deferIfCallingOut(std::function<void()> edit) {
    if (calloutDepth_ == 0) return false;
    PLATFORM_LOG_INFO(
        "Navigation stack edit made inside a call-out runs when the call-out returns");
    std::weak_ptr<ViewController> weak = weak_from_this();
    deferred_.push_back([weak, edit = std::move(edit)] {
        if (weak.lock()) edit();
    });
    return true;
}

void NavigationController::runDeferredEdits() {
    auto keep = self();
    while (!deferred_.empty() && calloutDepth_ == 0) {
        auto edit = std::move(deferred_.front());
        deferred_.erase(deferred_.begin());
        // Its caller has returned already: a failure can only be logged.
        try {
            edit();
        } catch (const std::exception& e) {
            PLATFORM_LOG_ERROR("A deferred navigation stack edit failed: {}", e.what());
        } catch (...) {
            PLATFORM_LOG_ERROR("A deferred navigation stack edit failed");
        }
    }
}

// The stack operations

void NavigationController::push(const std::shared_ptr<ViewController>& controller, bool animated) {
    if (!controller) {
        PLATFORM_LOG_WARN("Pushing a missing view controller ignored");
        return;
    }
    if (controller.get() == this || contains(stack_, controller))
        throw Exception(kInvalidArgumentException,
                        "Pushing the same view controller instance more than once is not "
                        "supported");
    if (deferIfCallingOut(
            [this, controller, animated] { NavigationController::push(controller, animated); }))
        return;
    auto list = stack_;
    list.push_back(controller);
    changeStack(std::move(list), animated, false);
}

std::shared_ptr<ViewController> NavigationController::pop(bool animated) {
    if (stack_.size() < 2) return nullptr;
    if (deferIfCallingOut([this, animated] { NavigationController::pop(animated); }))
        return nullptr;
    const bool interactive = popRecognizer_ &&
                             popRecognizer_->state() == GestureRecognizerState::Began &&
                             !transition_ && shownInVisibleWindow();
    auto popped = stack_.back();
    changeStack(Controllers(stack_.begin(), stack_.end() - 1), animated, interactive);
    return popped;
}

std::vector<std::shared_ptr<ViewController>> NavigationController::popTo(
    const std::shared_ptr<ViewController>& controller, bool animated) {
    auto it = std::find(stack_.begin(), stack_.end(), controller);
    if (!controller || it == stack_.end())
        throw Exception(kInvalidArgumentException,
                        "Tried to pop to a view controller that doesn't exist.");
    if (deferIfCallingOut(
            [this, controller, animated] { NavigationController::popTo(controller, animated); }))
        return {};
    Controllers popped(it + 1, stack_.end());
    if (popped.empty()) return {};
    changeStack(Controllers(stack_.begin(), it + 1), animated, false);
    return popped;
}

std::vector<std::shared_ptr<ViewController>> NavigationController::popToRoot(bool animated) {
    if (stack_.size() < 2) return {};
    if (deferIfCallingOut([this, animated] { NavigationController::popToRoot(animated); }))
        return {};
    Controllers popped(stack_.begin() + 1, stack_.end());
    changeStack({stack_.front()}, animated, false);
    return popped;
}

void NavigationController::setViewControllers(
    std::vector<std::shared_ptr<ViewController>> controllers, bool animated) {
    const auto nulls = std::erase(controllers, nullptr);
    if (nulls > 0) PLATFORM_LOG_WARN("{} missing view controllers left out of the stack", nulls);
    for (size_t i = 0; i < controllers.size(); ++i) {
        const bool twice = std::find(controllers.begin() + std::ptrdiff_t(i) + 1, controllers.end(),
                                     controllers[i]) != controllers.end();
        if (twice || controllers[i].get() == this)
            throw Exception(kInvalidArgumentException,
                            "A navigation stack holds each view controller once");
    }
    if (deferIfCallingOut([this, controllers, animated] {
            NavigationController::setViewControllers(controllers, animated);
        }))
        return;
    changeStack(std::move(controllers), animated, false);
}

void NavigationController::changeStack(Controllers controllers, bool animated, bool interactive) {
    auto keep = self();
    callOut([&] {
        const bool running = transition_.has_value();
        if (running) {
            ++violations_;
            PLATFORM_LOG_WARN(
                "Navigation stack changed during a transition ({} to {} view controllers); "
                "the new top is shown when the running transition ends",
                stack_.size(), controllers.size());
            transition_->edited = true;
            followUpAnimated_ = animated;
        }
        auto old = std::move(stack_);
        stack_ = std::move(controllers);
        adoptChildren(old);
        if (!running) showTopFrom(old, animated, interactive);
    });
}

void NavigationController::adoptChildren(const Controllers& old) {
    for (auto& c : old) {
        if (contains(stack_, c) || c->parentViewController().get() != this) continue;
        c->willMoveToParentViewController(nullptr);
        c->removeFromParentViewController();
    }
    for (auto& c : stack_) {
        if (contains(old, c) && c->parentViewController().get() == this) continue;
        addChildViewController(c);
        c->didMoveToParentViewController(this);
    }
}

// Transitions

void NavigationController::installView(const std::shared_ptr<ViewController>& controller,
                                       bool above) {
    const auto container = viewIfLoaded();
    const auto v = controller->view();
    v->setAutoresizingMask(kAutoresizingFlexibleWidth | kAutoresizingFlexibleHeight);
    setFrameAtOnce(v, container->bounds());
    size_t index = 0;
    if (above) {
        const auto& subs = container->subviews();
        index = size_t(std::find(subs.begin(), subs.end(), bar_) - subs.begin());
    }
    container->insertSubviewInternal(v, index, false, false);
}

void NavigationController::showTopFrom(const Controllers& before, bool animated, bool interactive) {
    auto top = topViewController();
    if (!isViewLoaded() || top == shown_) return;
    const auto container = viewIfLoaded();
    auto old = shown_;
    if (!shownInVisibleWindow()) {
        // Off-window: the views change places, nobody is told.
        if (old && old->isViewLoaded() && old->viewIfLoaded()->superview() == container)
            old->viewIfLoaded()->removeFromSuperviewInternal(false, false);
        shown_ = top;
        if (top) installView(top, true);
        return;
    }
    if (!top) {
        // Nothing to show: the last controller leaves at once.
        shown_ = nullptr;
        if (old && old->isViewLoaded() && old->viewIfLoaded()->superview() == container)
            old->viewIfLoaded()->removeFromSuperviewInternal(true, false);
        return;
    }
    Transition t;
    t.from = old;
    t.to = top;
    t.animated = animated;
    t.interactive = interactive;
    t.stackBefore = before;
    t.coordinator = std::make_shared<TransitionCoordinator>(animated, interactive,
                                                            kNavigationTransitionDuration);
    transition_ = std::move(t);

    // Coming back to a controller that was in the stack reads as a pop.
    const bool popping = contains(before, top);
    installView(top, !popping);
    const Rect bounds = container->bounds();
    const double w = bounds.width();
    if (animated) {
        setFrameAtOnce(top->view(), bounds.offsetBy(popping ? -w * 0.3 : w, 0));
        if (!interactive) {
            auto in = top->view();
            auto out = old && old->isViewLoaded() ? old->viewIfLoaded() : nullptr;
            View::animate(kNavigationTransitionDuration, 0, kAnimationOptionCurveEaseInOut, [&] {
                in->setFrame(bounds);
                if (out) out->setFrame(bounds.offsetBy(popping ? w : -w * 0.3, 0));
            });
        }
    }
    if (!interactive) scheduleTransitionEnd(animated ? kNavigationTransitionDuration : 0);
    // The gesture's pop tells everyone once the (possibly overridden) pop has returned.
    if (!(interactive && inPopGestureBegin_)) startTransitionCallouts();
}

void NavigationController::startTransitionCallouts() {
    if (!transition_ || transition_->calloutsDone) return;
    transition_->calloutsDone = true;
    const auto to = transition_->to;
    const auto from = transition_->from;
    const bool animated = transition_->animated;
    if (auto d = delegate()) d->willShow(*this, *to, animated);
    to->beginAppearanceTransition(true, animated);
    if (from) from->beginAppearanceTransition(false, animated);
}

void NavigationController::scheduleTransitionEnd(double delay) {
    // Goes with its transition.
    transition_->timer = RunLoop::main().postAfter(delay, [this] {
        if (transition_) endTransition();
    });
}

void NavigationController::endTransition() {
    auto keep = self();
    // The list the finished transition started from, for the follow-up only: what left the
    // stack is released once this returns.
    Controllers before;
    callOut([&] {
        Transition t = std::move(*transition_);
        transition_.reset();
        t.timer.cancel();
        const bool completed = !(t.interactive && t.cancelled);
        const auto shownNow = completed ? t.to : t.from;
        const auto hidden = completed ? t.from : t.to;
        const auto container = viewIfLoaded();
        if (hidden && hidden->isViewLoaded() && hidden->viewIfLoaded()->superview() == container) {
            hidden->viewIfLoaded()->removeFromSuperviewInternal(false, false);
            setFrameAtOnce(hidden->viewIfLoaded(), container->bounds());
        }
        if (shownNow && shownNow->isViewLoaded())
            setFrameAtOnce(shownNow->viewIfLoaded(), container->bounds());
        shown_ = shownNow;
        if (shownNow) shownNow->endAppearanceTransition();
        if (hidden) hidden->endAppearanceTransition();
        if (completed)
            if (auto d = delegate()) d->didShow(*this, *t.to, t.animated);
        before = std::move(t.stackBefore);
    });
    // What the list became meanwhile (or in didShow) gets its own transition.
    if (!transition_ && topViewController() != shown_)
        callOut([&] { showTopFrom(before, followUpAnimated_, false); });
}

bool NavigationController::forwardsAppearanceTo(const ViewController& child, bool appearing) const {
    if (appearing && transition_) {
        const auto& t = *transition_;
        const bool backOut = t.interactive && t.interactionEnded && t.cancelled;
        if (&child == (backOut ? t.to : t.from).get()) return false;
    }
    return ViewController::forwardsAppearanceTo(child, appearing);
}

// The interactive pop

const std::shared_ptr<ScreenEdgePanGestureRecognizer>&
NavigationController::interactivePopGestureRecognizer() {
    if (!popRecognizer_) {
        std::weak_ptr<ViewController> weak = weak_from_this();
        popRecognizer_ = PopGestureRecognizer::create([weak] {
            auto strong = weak.lock();
            if (!strong) return false;
            auto& nav = static_cast<NavigationController&>(*strong);
            return nav.stack_.size() > 1 && !nav.transition_;
        });
        popRecognizer_->addAction([weak](GestureRecognizer& g) {
            if (auto strong = weak.lock())
                static_cast<NavigationController&>(*strong).handlePopGesture(g);
        });
    }
    return popRecognizer_;
}

double NavigationController::popFraction() const {
    if (!popRecognizer_ || !isViewLoaded()) return 0;
    const auto& v = viewIfLoaded();
    const double w = v->bounds().width();
    if (w <= 0) return 0;
    return std::clamp(popRecognizer_->translationInView(v.get()).x / w, 0.0, 1.0);
}

void NavigationController::handlePopGesture(GestureRecognizer& recognizer) {
    auto keep = self();
    const bool driving = transition_ && transition_->interactive;
    switch (recognizer.state()) {
        case GestureRecognizerState::Began: {
            inPopGestureBegin_ = true;
            std::optional<std::string> failure;
            try {
                pop(true);
            } catch (const std::exception& e) {
                failure = e.what();
            } catch (...) {
                failure = "an unknown exception";
            }
            inPopGestureBegin_ = false;
            if (failure) {
                // The touch driver is no place for it: the gesture ends, the next one starts.
                PLATFORM_LOG_ERROR("The interactive pop failed: {}", log::escaped(*failure));
                recognizer.cancel();
                break;
            }
            if (transition_ && transition_->interactive)
                callOut([&] { startTransitionCallouts(); });
            break;
        }
        case GestureRecognizerState::Changed:
            if (driving && !transition_->interactionEnded) moveInteractively(popFraction());
            break;
        case GestureRecognizerState::Ended: {
            const auto& v = viewIfLoaded();
            const bool completes =
                popFraction() > 0.5 || popRecognizer_->velocityInView(v.get()).x > 0;
            if (driving) endInteraction(!completes);
            break;
        }
        case GestureRecognizerState::Cancelled:
        case GestureRecognizerState::Failed:
            if (driving) endInteraction(true);
            break;
        case GestureRecognizerState::Possible:
            break;
    }
}

void NavigationController::moveInteractively(double fraction) {
    const Rect bounds = viewIfLoaded()->bounds();
    const double w = bounds.width();
    if (auto& from = transition_->from; from && from->isViewLoaded())
        setFrameAtOnce(from->viewIfLoaded(), bounds.offsetBy(w * fraction, 0));
    setFrameAtOnce(transition_->to->view(), bounds.offsetBy(-w * 0.3 * (1 - fraction), 0));
}

void NavigationController::endInteraction(bool cancelled) {
    if (!transition_ || !transition_->interactive || transition_->interactionEnded) return;
    auto keep = self();
    callOut([&] {
        startTransitionCallouts();
        auto& t = *transition_;
        t.interactionEnded = true;
        t.cancelled = cancelled;
        if (cancelled) {
            if (!t.edited) {
                auto old = std::move(stack_);
                stack_ = t.stackBefore;
                adoptChildren(old);
            } else {
                PLATFORM_LOG_WARN(
                    "Interactive pop cancelled after the stack changed; the changed stack stays");
            }
        }
        const double fraction = popFraction();
        const double remaining =
            (cancelled ? fraction : 1 - fraction) * kNavigationTransitionDuration;
        const auto to = t.to;
        const auto from = t.from;
        const auto coordinator = t.coordinator;
        const Rect bounds = viewIfLoaded()->bounds();
        const double w = bounds.width();
        auto in = to->view();
        auto out = from && from->isViewLoaded() ? from->viewIfLoaded() : nullptr;
        View::animate(remaining, 0, kAnimationOptionCurveEaseOut, [&] {
            in->setFrame(cancelled ? bounds.offsetBy(-w * 0.3, 0) : bounds);
            if (out) out->setFrame(cancelled ? bounds : bounds.offsetBy(w, 0));
        });
        scheduleTransitionEnd(remaining);
        coordinator->interactionEnded(cancelled);
        if (cancelled) {
            to->beginAppearanceTransition(false, true);
            if (from) from->beginAppearanceTransition(true, true);
        }
    });
}

// The view and the bar

void NavigationController::loadView() {
    ViewController::loadView();
    const auto& v = viewIfLoaded();
    const Rect shownFrame(0, kStatusBarHeight, v->bounds().width(), kNavigationBarHeight);
    bar_ = View::create(barHidden_ ? shownFrame.offsetBy(0, -shownFrame.maxY()) : shownFrame);
    bar_->setAutoresizingMask(kAutoresizingFlexibleWidth);
    bar_->setHidden(barHidden_);
    v->addSubview(bar_);
    if (auto top = topViewController()) {
        shown_ = top;
        installView(top, true);
    }
    v->addGestureRecognizer(interactivePopGestureRecognizer());
}

const std::shared_ptr<View>& NavigationController::navigationBar() {
    view();
    return bar_;
}

void NavigationController::setNavigationBarHidden(bool hidden, bool animated) {
    if (hidden == barHidden_) return;
    barHidden_ = hidden;
    if (!isViewLoaded()) return;
    const auto bar = bar_;
    const Rect shownFrame(0, kStatusBarHeight, viewIfLoaded()->bounds().width(),
                          kNavigationBarHeight);
    const Rect hiddenFrame = shownFrame.offsetBy(0, -shownFrame.maxY());
    if (!animated) {
        setFrameAtOnce(bar, hidden ? hiddenFrame : shownFrame);
        bar->setHidden(hidden);
        return;
    }
    if (!hidden) bar->setHidden(false);
    std::weak_ptr<ViewController> weak = weak_from_this();
    View::animate(
        kNavigationControllerHideShowBarDuration, 0, kAnimationOptionBeginFromCurrentState,
        [&] { bar->setFrame(hidden ? hiddenFrame : shownFrame); },
        [weak, bar](bool) {
            auto strong = weak.lock();
            // Shown again meanwhile: the later call decides.
            if (strong && static_cast<NavigationController&>(*strong).barHidden_)
                bar->setHidden(true);
        });
}

}  // namespace platform
