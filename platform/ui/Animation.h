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

// An animation on a layer, from one model value to another (components of the key path).
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

    // 0 before the begin, 1 at and after the end, the curve's value in between.
    double progressAt(int64_t nowNanos) const;
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
