#include "platform/ui/View.h"

#include <algorithm>
#include <cmath>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Log.h"
#include "platform/ui/GestureRecognizer.h"
#include "platform/ui/Layer.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"

namespace platform {
namespace {

std::vector<double> components(Point p) {
    return {p.x, p.y};
}
std::vector<double> components(const Rect& r) {
    return {r.origin.x, r.origin.y, r.size.width, r.size.height};
}
std::vector<double> components(const AffineTransform& t) {
    return {t.a, t.b, t.c, t.d, t.tx, t.ty};
}
std::vector<double> components(const Color& c) {
    return {c.red, c.green, c.blue, c.alpha};
}

Rect frameFrom(Point center, const Rect& bounds, const AffineTransform& t) {
    const double w = bounds.size.width, h = bounds.size.height;
    if (t.isIdentity()) return Rect(center.x - w / 2, center.y - h / 2, w, h);
    const Point corners[4] = {{-w / 2, -h / 2}, {w / 2, -h / 2}, {-w / 2, h / 2}, {w / 2, h / 2}};
    double minX = INFINITY, minY = INFINITY, maxX = -INFINITY, maxY = -INFINITY;
    for (auto c : corners) {
        Point p = t.apply(c);
        minX = std::min(minX, p.x);
        maxX = std::max(maxX, p.x);
        minY = std::min(minY, p.y);
        maxY = std::max(maxY, p.y);
    }
    return Rect(center.x + minX, center.y + minY, maxX - minX, maxY - minY);
}

// Shares `delta` among the flexible parts of one axis (margin before, length, margin
// after) in proportion to their sizes, equally when the sizes add up to zero.
void resizeAxis(double& pos, double& len, double oldTotal, double delta, bool flexBefore,
                bool flexLen, bool flexAfter) {
    const double parts[3] = {pos, len, oldTotal - pos - len};
    const bool flex[3] = {flexBefore, flexLen, flexAfter};
    double sum = 0;
    int count = 0;
    for (int i = 0; i < 3; ++i) {
        if (!flex[i]) continue;
        sum += parts[i];
        ++count;
    }
    if (count == 0 || delta == 0) return;
    // A part that is the whole flexible sum takes the delta exactly.
    auto share = [&](int i) {
        if (sum == 0) return delta / count;
        return parts[i] == sum ? delta : delta * parts[i] / sum;
    };
    if (flexBefore) pos += share(0);
    if (flexLen) len += share(1);
}

bool pathIsTranslationOnly(const View* from, const View* ancestor) {
    for (const View* v = from; v && v != ancestor; v = v->superview().get())
        if (!v->transform().isIdentity()) return false;
    return true;
}

const View* commonAncestor(const View* a, const View* b) {
    for (const View* x = a; x; x = x->superview().get())
        if (b->isDescendantOfView(x)) return x;
    return nullptr;
}

}  // namespace

std::shared_ptr<View> View::create(const Rect& frame) {
    return std::shared_ptr<View>(new View(frame));
}

View::View(const Rect& frame) : layer_(Layer::create()) {
    layer_->view_ = this;
    center_ = {frame.origin.x + frame.size.width / 2, frame.origin.y + frame.size.height / 2};
    bounds_ = Rect(0, 0, frame.size.width, frame.size.height);
}

View::~View() {
    layer_->view_ = nullptr;
}

Rect View::frame() const {
    return frameFrom(center_, bounds_, transform_);
}

void View::setFrame(const Rect& frame) {
    setCenter({frame.origin.x + frame.size.width / 2, frame.origin.y + frame.size.height / 2});
    setBoundsInternal(Rect(bounds_.origin, frame.size));
}

void View::setBounds(const Rect& bounds) {
    setBoundsInternal(bounds);
}

void View::setBoundsInternal(const Rect& bounds) {
    const Rect old = bounds_;
    bounds_ = bounds;
    detail::recordAnimatedChange(*layer_, this, "bounds", components(old), components(bounds));
    if (old.size != bounds.size) resizeSubviews(old.size);
}

void View::setCenter(Point center) {
    const Point old = center_;
    center_ = center;
    detail::recordAnimatedChange(*layer_, this, "position", components(old), components(center));
}

void View::setTransform(const AffineTransform& transform) {
    const AffineTransform old = transform_;
    transform_ = transform;
    detail::recordAnimatedChange(*layer_, this, "transform", components(old),
                                 components(transform));
}

void View::setAlpha(double alpha) {
    const double old = alpha_;
    alpha_ = alpha;
    detail::recordAnimatedChange(*layer_, this, "opacity", {old}, {alpha});
}

void View::setHidden(bool hidden) {
    hidden_ = hidden;
}

void View::setBackgroundColor(std::optional<Color> color) {
    const Color old = backgroundColor_.value_or(Color::clear());
    backgroundColor_ = color;
    detail::recordAnimatedChange(*layer_, this, "backgroundColor", components(old),
                                 components(color.value_or(Color::clear())));
}

bool View::clipsToBounds() const {
    return layer_->masksToBounds();
}
void View::setClipsToBounds(bool clips) {
    layer_->setMasksToBounds(clips);
}

void View::resizeSubviews(Size oldSize) {
    if (!autoresizesSubviews_) return;
    auto subs = subviews_;
    for (auto& sub : subs) sub->resizeWithOldSuperviewSize(oldSize, bounds_.size);
}

void View::resizeWithOldSuperviewSize(Size oldSize, Size newSize) {
    const unsigned m = autoresizingMask_;
    if (m == kAutoresizingNone) return;
    Rect f = frame();
    resizeAxis(f.origin.x, f.size.width, oldSize.width, newSize.width - oldSize.width,
               m & kAutoresizingFlexibleLeftMargin, m & kAutoresizingFlexibleWidth,
               m & kAutoresizingFlexibleRightMargin);
    resizeAxis(f.origin.y, f.size.height, oldSize.height, newSize.height - oldSize.height,
               m & kAutoresizingFlexibleTopMargin, m & kAutoresizingFlexibleHeight,
               m & kAutoresizingFlexibleBottomMargin);
    if (f != frame()) setFrame(f);
}

// Hierarchy

std::shared_ptr<Window> View::window() const {
    for (const View* v = this; v; v = v->superview_.lock().get()) {
        if (v->isWindow_)
            return std::static_pointer_cast<Window>(const_cast<View*>(v)->shared_from_this());
    }
    return nullptr;
}

const View* View::topmost() const {
    const View* v = this;
    while (auto s = v->superview_.lock()) v = s.get();
    return v;
}

const View* View::windowOrTopmost() const {
    auto w = window();
    return w ? w.get() : topmost();
}

bool View::isDescendantOfView(const View* view) const {
    if (!view) return false;
    for (const View* v = this; v; v = v->superview_.lock().get())
        if (v == view) return true;
    return false;
}

void View::addSubview(const std::shared_ptr<View>& view) {
    insertSubviewInternal(view, subviews_.size(), true, false);
}

void View::insertSubview(const std::shared_ptr<View>& view, size_t index) {
    insertSubviewInternal(view, index, true, false);
}

void View::insertSubviewAbove(const std::shared_ptr<View>& view,
                              const std::shared_ptr<View>& sibling) {
    auto it = std::find(subviews_.begin(), subviews_.end(), sibling);
    if (!sibling || it == subviews_.end() || sibling == view) return addSubview(view);
    insertSubviewInternal(view, static_cast<size_t>(it - subviews_.begin()) + 1, true, false);
}

void View::insertSubviewBelow(const std::shared_ptr<View>& view,
                              const std::shared_ptr<View>& sibling) {
    auto it = std::find(subviews_.begin(), subviews_.end(), sibling);
    if (!sibling || it == subviews_.end() || sibling == view) return addSubview(view);
    insertSubviewInternal(view, static_cast<size_t>(it - subviews_.begin()), true, false);
}

void View::bringSubviewToFront(const std::shared_ptr<View>& view) {
    if (view && view->superview_.lock().get() == this) addSubview(view);
}

void View::sendSubviewToBack(const std::shared_ptr<View>& view) {
    if (view && view->superview_.lock().get() == this) insertSubview(view, 0);
}

void View::addGestureRecognizer(const std::shared_ptr<GestureRecognizer>& recognizer) {
    if (!recognizer) {
        PLATFORM_LOG_WARN("Adding a missing gesture recognizer ignored");
        return;
    }
    auto owner = recognizer->view();
    if (owner.get() == this) {
        PLATFORM_LOG_WARN("A gesture recognizer added twice to one view ignored");
        return;
    }
    const auto keep = recognizer;
    if (owner) owner->removeGestureRecognizer(keep);
    gestureRecognizers_.push_back(keep);
    keep->attach(shared_from_this());
}

void View::removeGestureRecognizer(const std::shared_ptr<GestureRecognizer>& recognizer) {
    auto it = std::find(gestureRecognizers_.begin(), gestureRecognizers_.end(), recognizer);
    if (it == gestureRecognizers_.end()) return;
    const auto keep = *it;
    gestureRecognizers_.erase(it);
    keep->detach();
}

void View::removeFromSuperview() {
    removeFromSuperviewInternal(true, false);
}

void View::detachSubview(View* view) {
    auto it =
        std::find_if(subviews_.begin(), subviews_.end(), [&](auto& s) { return s.get() == view; });
    if (it == subviews_.end()) return;
    auto keep = *it;
    subviews_.erase(it);
    keep->superview_.reset();
    keep->layer_->removeFromSuperlayer();
}

void View::insertSubviewInternal(const std::shared_ptr<View>& viewArg, size_t index,
                                 bool appearance, bool animated) {
    // A copy: the argument may be an element of the old superview's list.
    const std::shared_ptr<View> view = viewArg;
    if (!view) return;
    if (isDescendantOfView(view.get()))
        throw Exception(kInvalidArgumentException, "Can't add self as subview");
    const auto oldSuper = view->superview();
    const bool moving = oldSuper.get() != this;
    const auto oldWindow = view->window();
    const auto newWindow = window();
    if (!moving) {
        auto it = std::find(subviews_.begin(), subviews_.end(), view);
        const auto current = static_cast<size_t>(it - subviews_.begin());
        subviews_.erase(it);
        if (current < index) --index;
    }
    std::vector<std::shared_ptr<ViewController>> controllers;
    const bool wasVisible = ViewController::isVisibleWindow(oldWindow.get());
    const bool willBeVisible = ViewController::isVisibleWindow(newWindow.get());
    if (moving && appearance && wasVisible != willBeVisible) {
        ViewController::collectForAppearance(*view, willBeVisible, controllers);
        for (auto& c : controllers) c->beginAppearanceTransition(willBeVisible, animated);
    }
    if (moving) {
        view->willMoveToSuperview(this);
        if (oldWindow != newWindow) view->notifyWillMoveToWindow(newWindow.get());
        if (oldSuper) oldSuper->detachSubview(view.get());
    }
    index = std::min(index, subviews_.size());
    subviews_.insert(subviews_.begin() + static_cast<std::ptrdiff_t>(index), view);
    view->superview_ = weak_from_this();
    // The layer goes just below the layer of the next subview, so standalone sublayers
    // keep their places.
    view->layer_->removeFromSuperlayer();
    size_t layerIndex = layer_->sublayers().size();
    if (index + 1 < subviews_.size()) {
        const auto& subs = layer_->sublayers();
        auto next = std::find(subs.begin(), subs.end(), subviews_[index + 1]->layer_);
        if (next != subs.end()) layerIndex = static_cast<size_t>(next - subs.begin());
    }
    layer_->insertSublayer(view->layer_, layerIndex);
    if (moving) {
        if (oldWindow != newWindow) view->notifyDidMoveToWindow();
        view->didMoveToSuperview();
    }
    for (auto& c : controllers) c->endAppearanceTransition();
}

void View::removeFromSuperviewInternal(bool appearance, bool animated) {
    const auto super = superview();
    if (!super) return;
    const auto keep = shared_from_this();
    const auto oldWindow = window();
    std::vector<std::shared_ptr<ViewController>> controllers;
    if (appearance && ViewController::isVisibleWindow(oldWindow.get())) {
        ViewController::collectForAppearance(*this, false, controllers);
        for (auto& c : controllers) c->beginAppearanceTransition(false, animated);
    }
    willMoveToSuperview(nullptr);
    if (oldWindow) notifyWillMoveToWindow(nullptr);
    super->detachSubview(this);
    if (oldWindow) notifyDidMoveToWindow();
    didMoveToSuperview();
    for (auto& c : controllers) c->endAppearanceTransition();
}

void View::notifyWillMoveToWindow(Window* newWindow) {
    willMoveToWindow(newWindow);
    auto subs = subviews_;
    for (auto& s : subs) s->notifyWillMoveToWindow(newWindow);
}

void View::notifyDidMoveToWindow() {
    didMoveToWindow();
    auto subs = subviews_;
    for (auto& s : subs) s->notifyDidMoveToWindow();
}

// Conversion

Point View::toSuperview(Point p) const {
    const Point anchor{bounds_.origin.x + bounds_.size.width / 2,
                       bounds_.origin.y + bounds_.size.height / 2};
    const Point d{p.x - anchor.x, p.y - anchor.y};
    const Point t = transform_.isIdentity() ? d : transform_.apply(d);
    return {center_.x + t.x, center_.y + t.y};
}

Point View::fromSuperview(Point q) const {
    const Point anchor{bounds_.origin.x + bounds_.size.width / 2,
                       bounds_.origin.y + bounds_.size.height / 2};
    const Point d{q.x - center_.x, q.y - center_.y};
    const Point t = transform_.isIdentity() ? d : transform_.inverted().apply(d);
    return {anchor.x + t.x, anchor.y + t.y};
}

Point View::convertPointToView(Point point, const View* view) const {
    const View* target = view ? view : windowOrTopmost();
    if (target == this) return point;
    // Up to the common ancestor (through the topmost view into screen space when there is
    // none), then down to the target.
    const View* common = commonAncestor(this, target);
    for (const View* v = this; v != common; v = v->superview().get()) point = v->toSuperview(point);
    std::vector<const View*> down;
    for (const View* v = target; v != common; v = v->superview().get()) down.push_back(v);
    for (auto it = down.rbegin(); it != down.rend(); ++it) point = (*it)->fromSuperview(point);
    return point;
}

Point View::convertPointFromView(Point point, const View* view) const {
    const View* source = view ? view : windowOrTopmost();
    return source->convertPointToView(point, this);
}

Rect View::convertRectToView(const Rect& rect, const View* view) const {
    const View* target = view ? view : windowOrTopmost();
    const View* common = commonAncestor(this, target);
    if (pathIsTranslationOnly(this, common) && pathIsTranslationOnly(target, common))
        return Rect(convertPointToView(rect.origin, target), rect.size);
    const Point corners[4] = {{rect.minX(), rect.minY()},
                              {rect.maxX(), rect.minY()},
                              {rect.minX(), rect.maxY()},
                              {rect.maxX(), rect.maxY()}};
    double minX = INFINITY, minY = INFINITY, maxX = -INFINITY, maxY = -INFINITY;
    for (auto c : corners) {
        Point p = convertPointToView(c, target);
        minX = std::min(minX, p.x);
        maxX = std::max(maxX, p.x);
        minY = std::min(minY, p.y);
        maxY = std::max(maxY, p.y);
    }
    return Rect(minX, minY, maxX - minX, maxY - minY);
}

Rect View::convertRectFromView(const Rect& rect, const View* view) const {
    const View* source = view ? view : windowOrTopmost();
    return source->convertRectToView(rect, this);
}

// Hit testing

bool View::pointInside(Point point) const {
    return bounds_.contains(point);
}

std::shared_ptr<View> View::hitTest(Point point) {
    if (hidden_ || !userInteractionEnabled_ || alpha_ < 0.01) return nullptr;
    if (!pointInside(point)) return nullptr;
    auto subs = subviews_;
    for (auto it = subs.rbegin(); it != subs.rend(); ++it) {
        if (auto hit = (*it)->hitTest((*it)->fromSuperview(point))) return hit;
    }
    return shared_from_this();
}

// Presentation

Point View::presentationCenter() const {
    auto v = layer_->presentationValue("position", components(center_), Clock::monotonicNanos());
    return {v[0], v[1]};
}

Rect View::presentationBounds() const {
    auto v = layer_->presentationValue("bounds", components(bounds_), Clock::monotonicNanos());
    return Rect(v[0], v[1], v[2], v[3]);
}

AffineTransform View::presentationTransform() const {
    auto v =
        layer_->presentationValue("transform", components(transform_), Clock::monotonicNanos());
    return {v[0], v[1], v[2], v[3], v[4], v[5]};
}

Rect View::presentationFrame() const {
    return frameFrom(presentationCenter(), presentationBounds(), presentationTransform());
}

double View::presentationAlpha() const {
    return layer_->presentationValue("opacity", {alpha_}, Clock::monotonicNanos())[0];
}

std::optional<Color> View::presentationBackgroundColor() const {
    bool animating = false;
    for (auto& key : layer_->animationKeys())
        if (auto* a = layer_->animationForKey(key); a && a->keyPath == "backgroundColor")
            animating = true;
    if (!animating) return backgroundColor_;
    auto v = layer_->presentationValue("backgroundColor",
                                       components(backgroundColor_.value_or(Color::clear())),
                                       Clock::monotonicNanos());
    return Color{v[0], v[1], v[2], v[3]};
}

// Animation

void View::animate(double duration, double delay, AnimationOptions options,
                   const std::function<void()>& changes, std::function<void(bool)> completion) {
    detail::beginAnimationRun(duration, delay, options, false, 1, 0, changes,
                              std::move(completion));
}

void View::animate(double duration, const std::function<void()>& changes,
                   std::function<void(bool)> completion) {
    animate(duration, 0, kAnimationOptionCurveEaseInOut, changes, std::move(completion));
}

void View::animateWithSpring(double duration, double delay, double dampingRatio,
                             double initialVelocity, AnimationOptions options,
                             const std::function<void()>& changes,
                             std::function<void(bool)> completion) {
    detail::beginAnimationRun(duration, delay, options, true, dampingRatio, initialVelocity,
                              changes, std::move(completion));
}

void View::setAnimationsEnabled(bool enabled) {
    detail::setAnimationsEnabled(enabled);
}
bool View::areAnimationsEnabled() {
    return detail::areAnimationsEnabled();
}
void View::performWithoutAnimation(const std::function<void()>& changes) {
    detail::performWithoutAnimation(changes);
}

Responder* View::nextResponder() const {
    if (auto vc = viewController_.lock()) return vc.get();
    if (auto s = superview_.lock()) return s.get();
    return nullptr;
}

}  // namespace platform
