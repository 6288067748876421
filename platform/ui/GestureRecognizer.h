#pragma once
// Gesture recognizers: objects attached to a view that turn touches into gesture states
// and send target-actions on every change of state.
//
//   auto pan = platform::PanGestureRecognizer::create();
//   pan->addTarget(controller, "handlePan", [](platform::GestureRecognizer& g) { ... });
//   view->addGestureRecognizer(pan);
//   pan->begin({10, 100}, {400, 20});   // headless: the finger comes down and moves
//   pan->move({30, 0});
//   pan->end();
//
// Continuous recognizers (pans) go Possible -> Began -> Changed ... -> Ended (or
// Cancelled); discrete ones (taps) go from Possible straight to Ended; a gesture that is
// refused goes to Failed and sends nothing. Ended, Cancelled and Failed return to Possible
// at the next turn. Headless touches come from the driver (begin, move, end, cancel), or,
// for taps, from Window::sendTap.
//
// Whether a gesture begins: the recognizer's own rule (a screen-edge pan's edge), then
// its delegate (unanswered: yes), then the recognizers of the same window that are
// recognizing already: unless one of the two delegates lets both recognize at once, the
// newcomer fails. A recognizer that requires another to fail waits while the other is
// recognizing, begins when the other fails or is cancelled and fails when the other ends;
// one that is not recognizing (Possible) did not get these touches and does not hold it
// back.
//
// Disabling a recognizer in the middle of a gesture sends Cancelled once, then the
// state is Possible; so does the next touch of a gesture whose view is gone. One that a
// delegate disables, or takes from its view, while the gesture is being decided fails.
// A state sent from an action (cancelling, disabling) stops the delivery of the one
// before: later targets get only the new one.
//
// Targets, like Control's, are watched, not owned; the view holds its recognizers, a
// recognizer its view weakly. Main thread only.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Geometry.h"
#include "platform/foundation/RunLoop.h"

namespace platform {

class GestureRecognizer;
class View;
class Window;

enum class GestureRecognizerState : int {
    Possible = 0,
    Began = 1,
    Changed = 2,
    Ended = 3,
    Cancelled = 4,
    Failed = 5,
};

const char* toString(GestureRecognizerState state);

// Every answer is optional: none means the recognizer's default.
class GestureRecognizerDelegate {
  public:
    virtual ~GestureRecognizerDelegate() = default;
    virtual std::optional<bool> shouldBegin(GestureRecognizer& recognizer) { return std::nullopt; }
    virtual std::optional<bool> shouldRecognizeSimultaneously(GestureRecognizer& recognizer,
                                                              GestureRecognizer& other) {
        return std::nullopt;
    }
};

class GestureRecognizer : public std::enable_shared_from_this<GestureRecognizer> {
  public:
    using Action = std::function<void(GestureRecognizer& sender)>;

    virtual ~GestureRecognizer();
    GestureRecognizer(const GestureRecognizer&) = delete;
    GestureRecognizer& operator=(const GestureRecognizer&) = delete;

    GestureRecognizerState state() const { return state_; }
    std::shared_ptr<View> view() const { return view_.lock(); }

    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled);
    std::shared_ptr<GestureRecognizerDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<GestureRecognizerDelegate> delegate) {
        delegate_ = std::move(delegate);
    }
    // Kept for the platform's sake; sendTap honours cancelsTouchesInView (default true).
    bool cancelsTouchesInView() const { return cancelsTouchesInView_; }
    void setCancelsTouchesInView(bool cancels) { cancelsTouchesInView_ = cancels; }
    bool delaysTouchesBegan() const { return delaysTouchesBegan_; }
    void setDelaysTouchesBegan(bool delays) { delaysTouchesBegan_ = delays; }

    // As Control's: the same target and action twice is added once; dead targets are dropped.
    void addTarget(std::weak_ptr<const void> target, std::string action, Action handler);
    void addAction(Action handler);
    // A null target matches every target, an empty action every action of the target.
    void removeTarget(const void* target, const std::string& action);

    // This recognizer begins only after `other` failed or was cancelled (see above). Null
    // or itself is logged and ignored.
    void requireToFail(const std::shared_ptr<GestureRecognizer>& other);

    // Where the finger is, in `view`'s coordinates (window coordinates for null).
    Point locationInView(const View* view) const;

    // The driver: the finger comes down at a window point with a velocity (points per
    // second), moves by a window offset, lifts, or the system cancels the touches.
    // begin asks the rule and the delegate: Began (Ended for discrete recognizers) or
    // Failed. A disabled recognizer, or one without a view, gets no touches (logged); a
    // second begin while tracking is logged and ignored; move, end and cancel outside a
    // gesture do nothing.
    void begin(Point locationInWindow, Point velocity = {});
    void move(Point byInWindow, std::optional<Point> velocity = std::nullopt);
    void end(std::optional<Point> velocity = std::nullopt);
    void cancel();

  protected:
    GestureRecognizer() = default;

    // Discrete recognizers recognize once, at begin.
    virtual bool isDiscrete() const { return false; }
    // The recognizer's own rule, asked before the delegate.
    virtual bool canBegin() const { return true; }
    // The answer when the delegate gives none.
    virtual bool shouldBeginByDefault() { return true; }

    Point startLocation_;  // window point where the gesture began
    Point location_;       // window point of the finger
    Point velocity_;       // window points per second

  private:
    friend class View;
    friend class Window;

    struct TargetAction {
        std::weak_ptr<const void> target;
        const void* identity = nullptr;
        std::string action;
        std::shared_ptr<Action> handler;
    };

    void attach(const std::shared_ptr<View>& view) { view_ = view; }
    // The view lets go of it: a running gesture is cancelled.
    void detach();
    // Cancels a running gesture (Cancelled is sent once) or stops waiting; then Possible.
    void abandonGesture();
    bool usable() const { return enabled_ && !view_.expired(); }
    // Whether a nested begin from a call-out settled the gesture being decided.
    bool decidedMeanwhile() const { return pending_ || state_ != GestureRecognizerState::Possible; }
    // Decides a gesture that is waiting or new.
    void tryToBegin();
    bool mayRecognizeWith(GestureRecognizer& other);
    void setStateAndSend(GestureRecognizerState state);
    void sendActions();
    void fail();
    // Tells the recognizers waiting for this one how its gesture went.
    void releaseWaiting(bool recognized);
    void stopWaiting();
    void scheduleReset();
    bool tracking() const {
        return state_ == GestureRecognizerState::Began || state_ == GestureRecognizerState::Changed;
    }
    // For sendTap: answers whether it recognized a tap at the point.
    bool offerTap(Point locationInWindow);

    GestureRecognizerState state_ = GestureRecognizerState::Possible;
    std::weak_ptr<View> view_;
    bool enabled_ = true;
    bool cancelsTouchesInView_ = true;
    bool delaysTouchesBegan_ = false;
    std::weak_ptr<GestureRecognizerDelegate> delegate_;
    std::vector<TargetAction> actions_;
    std::vector<std::weak_ptr<GestureRecognizer>> requiredToFail_;
    std::vector<std::weak_ptr<GestureRecognizer>> waiting_;  // recognizers waiting for this
    bool pending_ = false;  // holding a gesture back until a required recognizer decides
    uint64_t sends_ = 0;    // states sent so far
    TimerHandle resetTimer_;
};

// A finger dragging: translation and velocity.
class PanGestureRecognizer : public GestureRecognizer {
  public:
    static std::shared_ptr<PanGestureRecognizer> create();

    // Movement since the gesture began, in `view`'s coordinates (window for null).
    Point translationInView(const View* view) const;
    Point velocityInView(const View* view) const;

  protected:
    PanGestureRecognizer() = default;
};

// Which edges of the screen a screen-edge pan starts from.
using RectEdge = unsigned;
inline constexpr RectEdge kRectEdgeNone = 0;
inline constexpr RectEdge kRectEdgeTop = 1u << 0;
inline constexpr RectEdge kRectEdgeLeft = 1u << 1;
inline constexpr RectEdge kRectEdgeBottom = 1u << 2;
inline constexpr RectEdge kRectEdgeRight = 1u << 3;
inline constexpr RectEdge kRectEdgeAll = 15;

// A pan that begins only within kScreenEdgePanMargin points of one of its edges of the
// window.
inline constexpr double kScreenEdgePanMargin = 20;

class ScreenEdgePanGestureRecognizer : public PanGestureRecognizer {
  public:
    static std::shared_ptr<ScreenEdgePanGestureRecognizer> create(RectEdge edges = kRectEdgeNone);

    RectEdge edges() const { return edges_; }
    void setEdges(RectEdge edges) { edges_ = edges; }

  protected:
    explicit ScreenEdgePanGestureRecognizer(RectEdge edges) : edges_(edges) {}
    bool canBegin() const override;

  private:
    RectEdge edges_;
};

// A single tap; discrete.
class TapGestureRecognizer : public GestureRecognizer {
  public:
    static std::shared_ptr<TapGestureRecognizer> create();

  protected:
    TapGestureRecognizer() = default;
    bool isDiscrete() const override { return true; }
};

}  // namespace platform
