#include "platform/ui/GestureRecognizer.h"

#include <algorithm>

#include "platform/foundation/Log.h"
#include "platform/ui/View.h"
#include "platform/ui/Window.h"

namespace platform {
namespace {

void collectRecognizers(const View& v, std::vector<std::shared_ptr<GestureRecognizer>>& out) {
    for (auto& g : v.gestureRecognizers()) out.push_back(g);
    for (auto& sub : v.subviews()) collectRecognizers(*sub, out);
}

// The view's window, or its topmost superview when it is in none.
const View* rootOf(const View& v) {
    if (auto w = v.window()) return w.get();
    const View* top = &v;
    while (auto s = top->superview()) top = s.get();
    return top;
}

Point minus(Point a, Point b) {
    return {a.x - b.x, a.y - b.y};
}

}  // namespace

const char* toString(GestureRecognizerState state) {
    switch (state) {
        case GestureRecognizerState::Possible:
            return "Possible";
        case GestureRecognizerState::Began:
            return "Began";
        case GestureRecognizerState::Changed:
            return "Changed";
        case GestureRecognizerState::Ended:
            return "Ended";
        case GestureRecognizerState::Cancelled:
            return "Cancelled";
        case GestureRecognizerState::Failed:
            return "Failed";
    }
    return "Unknown";
}

GestureRecognizer::~GestureRecognizer() {
    resetTimer_.cancel();
    // Recognizers waiting for this one decide at the next turn, as if it had failed.
    for (auto& weak : waiting_) {
        RunLoop::main().post([weak] {
            auto g = weak.lock();
            if (g && g->pending_) g->tryToBegin();
        });
    }
}

// Targets

void GestureRecognizer::addTarget(std::weak_ptr<const void> target, std::string action,
                                  Action handler) {
    const void* identity = target.lock().get();
    if (!identity || !handler) return;
    for (auto& entry : actions_)
        if (entry.identity == identity && entry.action == action && !entry.target.expired()) return;
    actions_.push_back({std::move(target), identity, std::move(action),
                        std::make_shared<Action>(std::move(handler))});
}

void GestureRecognizer::addAction(Action handler) {
    if (handler)
        actions_.push_back({{}, nullptr, {}, std::make_shared<Action>(std::move(handler))});
}

void GestureRecognizer::removeTarget(const void* target, const std::string& action) {
    std::erase_if(actions_, [&](const TargetAction& e) {
        if (e.identity && e.target.expired()) return true;
        return (!target || e.identity == target) && (action.empty() || e.action == action);
    });
}

void GestureRecognizer::sendActions() {
    std::erase_if(actions_, [](const TargetAction& e) { return e.identity && e.target.expired(); });
    // An action may change the list, or drop the last reference to this recognizer.
    auto self = shared_from_this();
    std::vector<std::pair<std::shared_ptr<const void>, std::shared_ptr<Action>>> due;
    for (const auto& entry : actions_) {
        auto target = entry.target.lock();
        if (entry.identity && !target) continue;
        due.emplace_back(std::move(target), entry.handler);
    }
    // A state sent from an action (a cancel, a disable) replaces this one for the rest.
    const uint64_t send = sends_;
    for (auto& [target, handler] : due) {
        if (sends_ != send) break;
        (*handler)(*this);
    }
}

void GestureRecognizer::setStateAndSend(GestureRecognizerState state) {
    state_ = state;
    ++sends_;
    sendActions();
}

// Configuration

void GestureRecognizer::setEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    if (!enabled) abandonGesture();
}

void GestureRecognizer::detach() {
    abandonGesture();
    view_.reset();
}

void GestureRecognizer::abandonGesture() {
    auto self = shared_from_this();
    stopWaiting();
    if (tracking()) {
        setStateAndSend(GestureRecognizerState::Cancelled);
        releaseWaiting(false);
    }
    resetTimer_.cancel();
    state_ = GestureRecognizerState::Possible;
}

void GestureRecognizer::requireToFail(const std::shared_ptr<GestureRecognizer>& other) {
    if (!other || other.get() == this) {
        PLATFORM_LOG_WARN("A gesture recognizer cannot wait for {}",
                          other ? "itself" : "a missing recognizer");
        return;
    }
    std::erase_if(requiredToFail_, [](const auto& w) { return w.expired(); });
    for (auto& w : requiredToFail_)
        if (w.lock() == other) return;
    requiredToFail_.push_back(other);
}

Point GestureRecognizer::locationInView(const View* view) const {
    if (!view) return location_;
    return view->convertPointFromView(location_, nullptr);
}

// Deciding

void GestureRecognizer::stopWaiting() {
    if (!pending_) return;
    pending_ = false;
    for (auto& w : requiredToFail_)
        if (auto other = w.lock())
            std::erase_if(other->waiting_, [this](const auto& x) {
                auto g = x.lock();
                return !g || g.get() == this;
            });
}

void GestureRecognizer::releaseWaiting(bool recognized) {
    auto waiting = std::move(waiting_);
    waiting_.clear();
    for (auto& weak : waiting) {
        auto g = weak.lock();
        if (!g || !g->pending_) continue;
        if (recognized) {
            g->stopWaiting();
            g->fail();
        } else {
            g->tryToBegin();
        }
    }
}

void GestureRecognizer::fail() {
    stopWaiting();
    state_ = GestureRecognizerState::Failed;
    releaseWaiting(false);
    scheduleReset();
}

void GestureRecognizer::scheduleReset() {
    resetTimer_ = RunLoop::main().postAfter(0, [this] {
        if (state_ == GestureRecognizerState::Ended ||
            state_ == GestureRecognizerState::Cancelled || state_ == GestureRecognizerState::Failed)
            state_ = GestureRecognizerState::Possible;
    });
}

bool GestureRecognizer::mayRecognizeWith(GestureRecognizer& other) {
    if (auto d = delegate()) {
        if (d->shouldRecognizeSimultaneously(*this, other).value_or(false)) return true;
    }
    if (auto d = other.delegate()) {
        if (d->shouldRecognizeSimultaneously(other, *this).value_or(false)) return true;
    }
    return false;
}

void GestureRecognizer::tryToBegin() {
    auto self = shared_from_this();
    stopWaiting();
    for (auto& weak : requiredToFail_) {
        auto other = weak.lock();
        if (!other) continue;
        if (other->tracking()) {
            pending_ = true;
            other->waiting_.push_back(weak_from_this());
        } else if (other->state_ == GestureRecognizerState::Ended) {
            return fail();
        }
    }
    if (pending_) return;
    if (!usable()) return fail();
    bool begins = canBegin();
    if (begins) {
        std::optional<bool> answer;
        if (auto d = delegate()) answer = d->shouldBegin(*this);
        begins = answer ? *answer : shouldBeginByDefault();
    }
    // Each delegate call may disable this recognizer, take it from its view or start a
    // gesture of its own with a nested begin.
    if (decidedMeanwhile()) return;
    if (!begins || !usable()) return fail();
    std::vector<std::shared_ptr<GestureRecognizer>> all;
    collectRecognizers(*rootOf(*view()), all);
    for (auto& other : all) {
        if (other.get() == this || !other->tracking()) continue;
        const bool together = mayRecognizeWith(*other);
        if (decidedMeanwhile()) return;
        if (!together || !usable()) return fail();
    }
    startLocation_ = location_;
    if (isDiscrete()) {
        setStateAndSend(GestureRecognizerState::Ended);
        releaseWaiting(true);
        scheduleReset();
    } else {
        setStateAndSend(GestureRecognizerState::Began);
    }
}

// The driver

void GestureRecognizer::begin(Point locationInWindow, Point velocity) {
    if (!enabled_ || !view()) {
        PLATFORM_LOG_INFO("A {} gesture recognizer gets no touches",
                          enabled_ ? "detached" : "disabled");
        return;
    }
    if (tracking() || pending_) {
        PLATFORM_LOG_WARN("A gesture recognizer already tracking a gesture ignores a new one");
        return;
    }
    resetTimer_.cancel();
    state_ = GestureRecognizerState::Possible;
    startLocation_ = location_ = locationInWindow;
    velocity_ = velocity;
    tryToBegin();
}

void GestureRecognizer::move(Point byInWindow, std::optional<Point> velocity) {
    if (!pending_ && !tracking()) return;
    if (tracking() && !usable()) return abandonGesture();
    location_ = {location_.x + byInWindow.x, location_.y + byInWindow.y};
    if (velocity) velocity_ = *velocity;
    if (pending_) return;
    setStateAndSend(GestureRecognizerState::Changed);
}

void GestureRecognizer::end(std::optional<Point> velocity) {
    if (pending_) return fail();
    if (!tracking()) return;
    if (!usable()) return abandonGesture();
    auto self = shared_from_this();
    if (velocity) velocity_ = *velocity;
    setStateAndSend(GestureRecognizerState::Ended);
    // An action may have disabled it, which already settled the gesture.
    if (state_ != GestureRecognizerState::Ended) return;
    releaseWaiting(true);
    scheduleReset();
}

void GestureRecognizer::cancel() {
    if (pending_) return fail();
    if (!tracking()) return;
    auto self = shared_from_this();
    setStateAndSend(GestureRecognizerState::Cancelled);
    if (state_ != GestureRecognizerState::Cancelled) return;
    releaseWaiting(false);
    scheduleReset();
}

bool GestureRecognizer::offerTap(Point locationInWindow) {
    if (!enabled_ || !isDiscrete() || tracking() || pending_) return false;
    resetTimer_.cancel();
    state_ = GestureRecognizerState::Possible;
    startLocation_ = location_ = locationInWindow;
    velocity_ = {};
    tryToBegin();
    return state_ == GestureRecognizerState::Ended;
}

// Pans

std::shared_ptr<PanGestureRecognizer> PanGestureRecognizer::create() {
    return std::shared_ptr<PanGestureRecognizer>(new PanGestureRecognizer());
}

Point PanGestureRecognizer::translationInView(const View* view) const {
    if (!view) return minus(location_, startLocation_);
    return minus(view->convertPointFromView(location_, nullptr),
                 view->convertPointFromView(startLocation_, nullptr));
}

Point PanGestureRecognizer::velocityInView(const View* view) const {
    if (!view) return velocity_;
    return minus(view->convertPointFromView(velocity_, nullptr),
                 view->convertPointFromView({0, 0}, nullptr));
}

std::shared_ptr<ScreenEdgePanGestureRecognizer> ScreenEdgePanGestureRecognizer::create(
    RectEdge edges) {
    return std::shared_ptr<ScreenEdgePanGestureRecognizer>(
        new ScreenEdgePanGestureRecognizer(edges));
}

bool ScreenEdgePanGestureRecognizer::canBegin() const {
    auto v = view();
    if (!v) return false;
    const Rect screen = rootOf(*v)->bounds();
    const Point p = location_;
    return ((edges_ & kRectEdgeLeft) && p.x - screen.minX() <= kScreenEdgePanMargin) ||
           ((edges_ & kRectEdgeRight) && screen.maxX() - p.x <= kScreenEdgePanMargin) ||
           ((edges_ & kRectEdgeTop) && p.y - screen.minY() <= kScreenEdgePanMargin) ||
           ((edges_ & kRectEdgeBottom) && screen.maxY() - p.y <= kScreenEdgePanMargin);
}

std::shared_ptr<TapGestureRecognizer> TapGestureRecognizer::create() {
    return std::shared_ptr<TapGestureRecognizer>(new TapGestureRecognizer());
}

}  // namespace platform
