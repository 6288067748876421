#include "platform/ui/ViewController.h"

#include <algorithm>

#include "platform/foundation/Exception.h"
#include "platform/foundation/Log.h"
#include "platform/ui/Application.h"
#include "platform/ui/Screen.h"
#include "platform/ui/View.h"
#include "platform/ui/Window.h"

namespace platform {
namespace {

constexpr double kPresentationDuration = 0.3;

// Every live controller, for memory warnings. Main thread only, never destroyed.
std::vector<ViewController*>& registry() {
    static auto* r = new std::vector<ViewController*>;
    return *r;
}

// `enclosing`: the controller of the nearest view above `v` that has one. It answers for a
// controller without a parent whose view it holds (one a container is letting go of).
void visitForAppearance(const View& v, bool appearing, const ViewController* enclosing,
                        std::vector<std::shared_ptr<ViewController>>& out) {
    if (auto vc = v.viewController()) {
        auto parent = vc->parentViewController();
        const ViewController* asked = parent ? parent.get() : enclosing;
        // Such a controller runs the transitions of this one and its subtree itself.
        if (asked && !asked->forwardsAppearanceTo(*vc, appearing)) return;
        enclosing = vc.get();
        out.push_back(std::move(vc));
    }
    for (auto& sub : v.subviews()) visitForAppearance(*sub, appearing, enclosing, out);
}

}  // namespace

std::shared_ptr<ViewController> ViewController::create() {
    return std::shared_ptr<ViewController>(new ViewController());
}

ViewController::ViewController() {
    registry().push_back(this);
}

ViewController::~ViewController() {
    auto& r = registry();
    r.erase(std::remove(r.begin(), r.end(), this), r.end());
    if (view_) view_->viewController_.reset();
    for (auto& child : children_) child->parent_.reset();
}

std::vector<std::shared_ptr<ViewController>> ViewController::allControllers() {
    std::vector<std::shared_ptr<ViewController>> out;
    for (auto* vc : registry())
        if (auto strong = vc->weak_from_this().lock()) out.push_back(std::move(strong));
    return out;
}

const std::shared_ptr<View>& ViewController::view() {
    if (!view_) {
        loadView();
        assertThat(view_ != nullptr, "loadView did not make a view");
        viewDidLoad();
    }
    return view_;
}

void ViewController::loadView() {
    auto v = View::create(Screen::main().bounds());
    v->setAutoresizingMask(kAutoresizingFlexibleWidth | kAutoresizingFlexibleHeight);
    setView(std::move(v));
}

void ViewController::setView(std::shared_ptr<View> view) {
    if (view == view_) return;
    if (view) {
        auto owner = view->viewController();
        if (owner && owner.get() != this)
            throw Exception(kInternalInconsistencyException,
                            "a view belongs to one view controller at a time");
    }
    if (view_) view_->viewController_.reset();
    view_ = std::move(view);
    if (view_) view_->viewController_ = weak_from_this();
}

// Containment

void ViewController::addChildViewController(const std::shared_ptr<ViewController>& child) {
    if (!child || child.get() == this) return;
    if (child->parent_.lock().get() == this) return;
    const auto keep = child;
    keep->removeFromParentViewController();
    keep->willMoveToParentViewController(this);
    children_.push_back(keep);
    keep->parent_ = weak_from_this();
}

void ViewController::removeFromParentViewController() {
    auto parent = parent_.lock();
    if (!parent) return;
    const auto keep = shared_from_this();
    auto& siblings = parent->children_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), keep), siblings.end());
    parent_.reset();
    didMoveToParentViewController(nullptr);
}

// Appearance

bool ViewController::isVisibleWindow(const Window* window) {
    return window && !window->isHidden();
}

void ViewController::collectForAppearance(const View& root, bool appearing,
                                          std::vector<std::shared_ptr<ViewController>>& out) {
    visitForAppearance(root, appearing, nullptr, out);
}

bool ViewController::forwardsAppearanceTo(const ViewController& child, bool) const {
    return child.parentViewController().get() != this ||
           shouldAutomaticallyForwardAppearanceMethods();
}

void ViewController::forwardAppearance(bool appearing,
                                       const std::function<void(ViewController&)>& step) {
    if (!view_) return;
    auto children = children_;
    for (auto& child : children)
        if (child->view_ && child->view_->isDescendantOfView(view_.get()) &&
            forwardsAppearanceTo(*child, appearing))
            step(*child);
}

void ViewController::beginAppearanceTransition(bool appearing, bool animated) {
    const auto keep = weak_from_this().lock();
    if (appearing) {
        if (appearanceState_ == AppearanceState::Appearing ||
            appearanceState_ == AppearanceState::Appeared)
            return;
        appearanceState_ = AppearanceState::Appearing;
        transitionAnimated_ = animated;
        viewWillAppear(animated);
    } else {
        if (appearanceState_ == AppearanceState::Disappearing ||
            appearanceState_ == AppearanceState::Disappeared)
            return;
        appearanceState_ = AppearanceState::Disappearing;
        transitionAnimated_ = animated;
        viewWillDisappear(animated);
    }
    forwardAppearance(appearing,
                      [&](ViewController& c) { c.beginAppearanceTransition(appearing, animated); });
}

void ViewController::endAppearanceTransition() {
    const auto keep = weak_from_this().lock();
    if (appearanceState_ == AppearanceState::Appearing) {
        appearanceState_ = AppearanceState::Appeared;
        viewDidAppear(transitionAnimated_);
    } else if (appearanceState_ == AppearanceState::Disappearing) {
        appearanceState_ = AppearanceState::Disappeared;
        viewDidDisappear(transitionAnimated_);
    } else {
        return;
    }
    forwardAppearance(appearanceState_ == AppearanceState::Appeared,
                      [](ViewController& c) { c.endAppearanceTransition(); });
}

std::shared_ptr<TransitionCoordinator> ViewController::transitionCoordinator() const {
    auto parent = parent_.lock();
    return parent ? parent->transitionCoordinator() : nullptr;
}

void ViewController::setNeedsStatusBarAppearanceUpdate() {
    Application::shared().updateStatusBarAppearance();
}

// Presentation

void ViewController::presentViewController(const std::shared_ptr<ViewController>& controller,
                                           bool animated, std::function<void()> completion) {
    auto presenter = shared_from_this();
    while (auto p = presenter->parentViewController()) presenter = p;
    if (!controller || controller == presenter) return;
    if (presenter->presented_ || presenter->transitioning_) {
        PLATFORM_LOG_WARN("Presentation ignored: the presenter already presents a controller");
        return;
    }
    if (controller->presenting_.lock() || controller->parentViewController()) {
        PLATFORM_LOG_WARN("Presentation ignored: the controller is presented or a child already");
        return;
    }
    auto window = presenter->view_ ? presenter->view_->window() : nullptr;
    if (!window) {
        PLATFORM_LOG_WARN("Presentation ignored: the presenter's view is in no window");
        return;
    }
    presenter->presented_ = controller;
    controller->presenting_ = presenter;
    presenter->transitioning_ = true;

    auto presenterView = presenter->view_;
    auto presentedView = controller->view();
    const Rect bounds = window->bounds();
    std::vector<std::shared_ptr<ViewController>> leaving, arriving;
    if (isVisibleWindow(window.get())) {
        collectForAppearance(*presenterView, false, leaving);
        collectForAppearance(*presentedView, true, arriving);
    }
    for (auto& c : leaving) c->beginAppearanceTransition(false, animated);
    for (auto& c : arriving) c->beginAppearanceTransition(true, animated);

    presentedView->setAutoresizingMask(kAutoresizingFlexibleWidth | kAutoresizingFlexibleHeight);
    View::performWithoutAnimation(
        [&] { presentedView->setFrame(animated ? bounds.offsetBy(0, bounds.height()) : bounds); });
    window->insertSubviewInternal(presentedView, window->subviews().size(), false, animated);
    View::animate(
        animated ? kPresentationDuration : 0, 0, kAnimationOptionCurveEaseInOut,
        [&] { presentedView->setFrame(bounds); },
        [presenter, presenterView, window, leaving, arriving,
         completion = std::move(completion)](bool) {
            if (presenterView->superview() == window)
                presenterView->removeFromSuperviewInternal(false, false);
            for (auto& c : arriving) c->endAppearanceTransition();
            for (auto& c : leaving) c->endAppearanceTransition();
            presenter->transitioning_ = false;
            if (completion) completion();
        });
}

void ViewController::dismissViewController(bool animated, std::function<void()> completion) {
    auto presenter = presented_ ? shared_from_this() : presenting_.lock();
    if (!presenter || !presenter->presented_) return;
    if (presenter->transitioning_) {
        PLATFORM_LOG_WARN("Dismissal ignored: a presentation transition is running");
        return;
    }
    auto top = presenter->presented_;
    while (top->presented_) top = top->presented_;
    auto topView = top->view_;
    auto window = topView ? topView->window() : nullptr;
    presenter->transitioning_ = true;

    auto presenterView = presenter->view();
    std::vector<std::shared_ptr<ViewController>> leaving, arriving;
    if (isVisibleWindow(window.get())) {
        collectForAppearance(*topView, false, leaving);
        collectForAppearance(*presenterView, true, arriving);
    }
    for (auto& c : leaving) c->beginAppearanceTransition(false, animated);
    for (auto& c : arriving) c->beginAppearanceTransition(true, animated);
    Rect bounds;
    if (window) {
        bounds = window->bounds();
        presenterView->setFrame(bounds);
        window->insertSubviewInternal(presenterView, 0, false, animated);
    }
    View::animate(
        animated ? kPresentationDuration : 0, 0, kAnimationOptionCurveEaseInOut,
        [&] {
            if (window) topView->setFrame(bounds.offsetBy(0, bounds.height()));
        },
        [presenter, topView, leaving, arriving, completion = std::move(completion)](bool) {
            if (topView) topView->removeFromSuperviewInternal(false, false);
            for (auto& c : leaving) c->endAppearanceTransition();
            for (auto& c : arriving) c->endAppearanceTransition();
            for (auto vc = presenter; vc->presented_;) {
                auto next = std::move(vc->presented_);
                next->presenting_.reset();
                vc = next;
            }
            presenter->transitioning_ = false;
            if (completion) completion();
        });
}

Responder* ViewController::nextResponder() const {
    if (view_) {
        if (auto s = view_->superview()) return s.get();
    }
    if (auto p = presenting_.lock()) return p.get();
    if (auto p = parent_.lock()) return p.get();
    return nullptr;
}

}  // namespace platform
