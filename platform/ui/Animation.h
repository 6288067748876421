#pragma once
// View animation on the platform clock.
//
//   View::animate(0.3, 0, kAnimationOptionBeginFromCurrentState,
//                 [&] { view->setAlpha(0); },
//                 [](bool finished) { ... });
//
// Model values change at once; each change of an animatable property inside the block
// puts an animation on the view's layer from the old to the new value. The completion
// runs on the main run loop at start + delay + duration with true; with a duration of
// zero or less, or with animations disabled, the changes apply unanimated and the
// completion runs at the next turn (never inside the call). A run whose animations are
// removed (`Layer::removeAnimation…`, or a begin-from-current-state animation of the same
// property) ends with false: at the next turn when none of its animations is left, else
// at its end. Without begin-from-current-state a new animation of a property adds to a
// running one, as the platform's additive animations do.
//
// Presentation values (`View::presentation…`) follow the curve between old and new model
// values, for code that reads where things are on screen. Every animate call is kept in
// a log for tests. Main thread only.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform {

class View;
class Layer;

using AnimationOptions = uint32_t;
// Accepted for the platform's sake; touches are not blocked during animations here.
inline constexpr AnimationOptions kAnimationOptionAllowUserInteraction = 1u << 1;
inline constexpr AnimationOptions kAnimationOptionBeginFromCurrentState = 1u << 2;
inline constexpr AnimationOptions kAnimationOptionCurveEaseInOut = 0u << 16;
inline constexpr AnimationOptions kAnimationOptionCurveEaseIn = 1u << 16;
inline constexpr AnimationOptions kAnimationOptionCurveEaseOut = 2u << 16;
inline constexpr AnimationOptions kAnimationOptionCurveLinear = 3u << 16;
inline constexpr AnimationOptions kAnimationOptionCurveMask = 3u << 16;

// One animate call, as tests see it.
struct AnimationRunRecord {
    uint64_t id = 0;
    double startSeconds = 0;  // monotonic platform time of the call
    double duration = 0;
    double delay = 0;
    AnimationOptions options = 0;
    bool spring = false;
    double springDamping = 0;
    double springVelocity = 0;
    // False when the changes applied at once (duration <= 0 or animations disabled).
    bool animated = false;
    // The view and key path ("position", "bounds", "opacity", "transform",
    // "backgroundColor") of every animation the run added.
    std::vector<std::pair<const View*, std::string>> changes;
    // Set when the completion ran (with its finished flag).
    std::optional<bool> finished;
    double endSeconds = 0;  // monotonic platform time the completion ran
};

// Runs since the last clear, oldest first.
std::vector<AnimationRunRecord> animationLog();
void clearAnimationLog();

// What an explicit animation shows outside its active time: nothing (the model value),
// its last value after the end, its first value before the begin, or both.
enum class FillMode { Removed, Forwards, Backwards, Both };
// Pacing of an explicit animation; none on the animation uses the curve of its options.
enum class TimingFunction { Linear, EaseIn, EaseOut, EaseInEaseOut };

// An animation on a layer, from one model value to another (components of the key path).
// The view animations add theirs (additive, one cycle, removed at the run's end); code
// may add its own under a key with Layer::addAnimation(animation, key):
//
//   LayerAnimation blink;
//   blink.keyPath = "opacity";
//   blink.to = {0.25};
//   blink.durationNanos = secondsToNanos(0.25);
//   blink.autoreverses = true;
//   blink.repeatCount = 4;
//   layer->addAnimation(blink, "blinking");  // ends, and is removed, after 2 s
struct LayerAnimation {
    std::string key;      // unique on its layer
    std::string keyPath;  // what it animates
    std::vector<double> from;
    std::vector<double> to;
    int64_t beginNanos = 0;  // start + delay
    int64_t durationNanos = 0;
    AnimationOptions options = 0;
    bool spring = false;
    double springDamping = 1;
    double springVelocity = 0;
    uint64_t runId = 0;
    // Additive: the presentation value is the model plus what remains of from - to.
    // Otherwise the animation sets the value while it runs (and while it fills); an empty
    // `from` or `to` stands for the model value.
    bool additive = false;
    // Cycles; 0 (or less, or NaN) runs one, fractions end part way, an infinity repeats
    // for ever. With autoreverses each cycle runs forwards and then back.
    double repeatCount = 0;
    bool autoreverses = false;
    FillMode fillMode = FillMode::Removed;
    std::optional<TimingFunction> timingFunction;
    // Keyed animations leave their layer once their active time has passed.
    bool removedOnCompletion = true;

    // The active time: every cycle, the reversals included. Saturates at the clock's end.
    int64_t activeDurationNanos() const;
    // 0 before the begin, the curve's value in between, and after the end where the last
    // cycle stopped (1, or 0 when it ran back).
    double progressAt(int64_t nowNanos) const;
    // The value it shows at `nowNanos` over the model value, or none when it shows
    // nothing then (outside its active time without a fill, or of another size).
    std::optional<std::vector<double>> valueAt(int64_t nowNanos,
                                               const std::vector<double>& model) const;
};

namespace detail {
// Called by views when an animatable property changes; animates it inside a block.
void recordAnimatedChange(Layer& layer, const View* view, const char* keyPath,
                          const std::vector<double>& oldModel, const std::vector<double>& newModel);
// Called by layers when one of a run's animations is removed before its end.
void animationRemoved(uint64_t runId);

void beginAnimationRun(double duration, double delay, AnimationOptions options, bool spring,
                       double damping, double velocity, const std::function<void()>& changes,
                       std::function<void(bool)> completion);
void setAnimationsEnabled(bool enabled);
bool areAnimationsEnabled();
void performWithoutAnimation(const std::function<void()>& changes);
}  // namespace detail

}  // namespace platform
