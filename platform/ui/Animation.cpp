#include "platform/ui/Animation.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <memory>

#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/ui/Layer.h"

namespace platform {
namespace {

// Cubic Bézier timing curve through (0,0), (x1,y1), (x2,y2), (1,1), solved for x.
double bezier(double x1, double y1, double x2, double y2, double x) {
    auto coord = [](double p1, double p2, double t) {
        const double u = 1 - t;
        return 3 * u * u * t * p1 + 3 * u * t * t * p2 + t * t * t;
    };
    double lo = 0, hi = 1, t = x;
    for (int i = 0; i < 60; ++i) {
        const double v = coord(x1, x2, t);
        if (std::fabs(v - x) < 1e-12) break;
        if (v < x)
            lo = t;
        else
            hi = t;
        t = (lo + hi) / 2;
    }
    return coord(y1, y2, t);
}

// A damped spring over the run's duration, settled (and snapped) at its end.
double springCurve(double damping, double velocity, double p) {
    constexpr double omega = 10.0;
    if (damping >= 1) return 1 - std::exp(-omega * p) * (1 + (omega - velocity) * p);
    const double wd = omega * std::sqrt(1 - damping * damping);
    const double decay = std::exp(-damping * omega * p);
    return 1 - decay * (std::cos(wd * p) + (damping * omega - velocity) / wd * std::sin(wd * p));
}

struct Run {
    uint64_t id = 0;
    int64_t startNanos = 0;
    double duration = 0;
    double delay = 0;
    AnimationOptions options = 0;
    bool spring = false;
    double damping = 1;
    double velocity = 0;
    std::function<void(bool)> completion;
    std::vector<std::weak_ptr<Layer>> layers;
    int live = 0;
    bool building = true;
    bool removedAny = false;
    bool done = false;
    TimerHandle timer;
};

struct Engine {
    uint64_t generation = 0;
    uint64_t nextId = 1;
    bool enabled = true;
    std::vector<Run*> stack;  // null entries: changes that must not animate
    std::map<uint64_t, std::shared_ptr<Run>> runs;
    std::vector<AnimationRunRecord> log;

    AnimationRunRecord* record(uint64_t id) {
        for (auto it = log.rbegin(); it != log.rend(); ++it)
            if (it->id == id) return &*it;
        return nullptr;
    }

    void reset() {
        ++generation;
        for (auto& [id, run] : runs) run->timer.cancel();
        runs.clear();
        stack.clear();
        log.clear();
        enabled = true;
        nextId = 1;
    }
};

Engine& engine() {
    static Engine* e = [] {
        auto* created = new Engine;
        registerSharedInstanceReset("platform.Animation", [created] { created->reset(); });
        return created;
    }();
    return *e;
}

// Pushes a stack entry for the duration of a changes block, exceptions included.
struct StackEntry {
    explicit StackEntry(Run* run) { engine().stack.push_back(run); }
    ~StackEntry() { engine().stack.pop_back(); }
    StackEntry(const StackEntry&) = delete;
    StackEntry& operator=(const StackEntry&) = delete;
};

double nowSeconds() {
    return static_cast<double>(Clock::monotonicNanos()) / 1e9;
}

void complete(uint64_t id, std::function<void(bool)> completion, bool finished) {
    if (auto* rec = engine().record(id)) {
        rec->finished = finished;
        rec->endSeconds = nowSeconds();
    }
    if (completion) completion(finished);
}

// Posts a completion to the next turn of the main loop, unless a reset intervenes.
void completeLater(uint64_t id, std::function<void(bool)> completion, bool finished) {
    const uint64_t gen = engine().generation;
    RunLoop::main().post([id, gen, completion = std::move(completion), finished]() mutable {
        if (engine().generation != gen) return;
        complete(id, std::move(completion), finished);
    });
}

void finishRun(uint64_t id) {
    auto& e = engine();
    auto it = e.runs.find(id);
    if (it == e.runs.end()) return;
    auto run = it->second;
    e.runs.erase(it);
    if (run->done) return;
    run->done = true;
    for (auto& weak : run->layers)
        if (auto layer = weak.lock()) layer->dropAnimationsOfRun(id);
    complete(id, std::move(run->completion), !run->removedAny);
}

}  // namespace

namespace {

double curveValue(const LayerAnimation& a, double p) {
    if (p <= 0) return 0;
    if (p >= 1) return 1;
    if (a.spring) return springCurve(a.springDamping, a.springVelocity, p);
    if (a.timingFunction) {
        switch (*a.timingFunction) {
            case TimingFunction::Linear:
                return p;
            case TimingFunction::EaseIn:
                return bezier(0.42, 0, 1, 1, p);
            case TimingFunction::EaseOut:
                return bezier(0, 0, 0.58, 1, p);
            case TimingFunction::EaseInEaseOut:
                return bezier(0.42, 0, 0.58, 1, p);
        }
    }
    switch (a.options & kAnimationOptionCurveMask) {
        case kAnimationOptionCurveLinear:
            return p;
        case kAnimationOptionCurveEaseIn:
            return bezier(0.42, 0, 1, 1, p);
        case kAnimationOptionCurveEaseOut:
            return bezier(0, 0, 0.58, 1, p);
        default:
            return bezier(0.42, 0, 0.58, 1, p);
    }
}

bool fillsForwards(FillMode mode) {
    return mode == FillMode::Forwards || mode == FillMode::Both;
}

bool fillsBackwards(FillMode mode) {
    return mode == FillMode::Backwards || mode == FillMode::Both;
}

}  // namespace

int64_t LayerAnimation::activeDurationNanos() const {
    if (durationNanos <= 0) return 0;
    const double cycles = repeatCount > 0 ? repeatCount : 1;  // NaN runs once
    const double active = static_cast<double>(durationNanos) * (autoreverses ? 2 : 1) * cycles;
    constexpr double kLimit = 9223372036854775808.0;  // 2^63, exact
    return active >= kLimit ? std::numeric_limits<int64_t>::max() : static_cast<int64_t>(active);
}

double LayerAnimation::progressAt(int64_t nowNanos) const {
    if (nowNanos <= beginNanos) return 0;
    if (durationNanos <= 0) return autoreverses ? 0 : 1;
    const double elapsed = static_cast<double>(nowNanos) - static_cast<double>(beginNanos);
    const double active = static_cast<double>(activeDurationNanos());
    const double duration = static_cast<double>(durationNanos);
    const double period = autoreverses ? 2 * duration : duration;
    double position = std::fmod(std::min(elapsed, active), period);
    // The end of the last whole cycle, not the start of another.
    if (elapsed >= active && position == 0) position = period;
    const double local = position > duration ? period - position : position;
    return curveValue(*this, local / duration);
}

std::optional<std::vector<double>> LayerAnimation::valueAt(int64_t nowNanos,
                                                           const std::vector<double>& model) const {
    const std::vector<double>& first = from.empty() ? model : from;
    const std::vector<double>& last = to.empty() ? model : to;
    if (first.size() != model.size() || last.size() != model.size()) return std::nullopt;
    if (nowNanos < beginNanos && !fillsBackwards(fillMode)) return std::nullopt;
    if (nowNanos >= addNanosSaturating(beginNanos, activeDurationNanos()) &&
        !fillsForwards(fillMode))
        return std::nullopt;
    const double p = progressAt(nowNanos);
    std::vector<double> value(model.size());
    for (size_t i = 0; i < value.size(); ++i) value[i] = first[i] + (last[i] - first[i]) * p;
    return value;
}

std::vector<AnimationRunRecord> animationLog() {
    return engine().log;
}
void clearAnimationLog() {
    engine().log.clear();
}

namespace detail {

void recordAnimatedChange(Layer& layer, const View* view, const char* keyPath,
                          const std::vector<double>& oldModel,
                          const std::vector<double>& newModel) {
    auto& e = engine();
    if (e.stack.empty() || !e.stack.back() || !e.enabled) return;
    Run& run = *e.stack.back();
    const int64_t now = Clock::monotonicNanos();
    std::vector<double> from = oldModel;
    if (run.options & kAnimationOptionBeginFromCurrentState) {
        from = layer.presentationValue(keyPath, oldModel, now);
        layer.removeAnimationsForKeyPath(keyPath);
    }
    if (from == newModel) return;
    LayerAnimation a;
    a.keyPath = keyPath;
    a.from = std::move(from);
    a.to = newModel;
    a.beginNanos = run.startNanos + secondsToNanos(run.delay);
    a.durationNanos = secondsToNanos(run.duration);
    a.options = run.options;
    a.spring = run.spring;
    a.springDamping = run.damping;
    a.springVelocity = run.velocity;
    a.runId = run.id;
    a.additive = true;
    layer.addAnimation(std::move(a));
    ++run.live;
    run.layers.push_back(layer.weak_from_this());
    if (auto* rec = e.record(run.id)) rec->changes.emplace_back(view, keyPath);
}

void animationRemoved(uint64_t runId) {
    auto& e = engine();
    auto it = e.runs.find(runId);
    if (it == e.runs.end()) return;
    auto run = it->second;
    if (run->done) return;
    --run->live;
    // A block that changes a property twice replaces its own animation: not an interruption.
    if (run->building) return;
    run->removedAny = true;
    if (run->live > 0) return;
    run->done = true;
    run->timer.cancel();
    e.runs.erase(it);
    completeLater(runId, std::move(run->completion), false);
}

void beginAnimationRun(double duration, double delay, AnimationOptions options, bool spring,
                       double damping, double velocity, const std::function<void()>& changes,
                       std::function<void(bool)> completion) {
    auto& e = engine();
    AnimationRunRecord rec;
    rec.id = e.nextId++;
    rec.startSeconds = nowSeconds();
    rec.duration = duration;
    rec.delay = delay;
    rec.options = options;
    rec.spring = spring;
    rec.springDamping = damping;
    rec.springVelocity = velocity;
    rec.animated = e.enabled && duration > 0;
    const uint64_t id = rec.id;
    e.log.push_back(std::move(rec));

    if (!e.enabled || duration <= 0) {
        {
            StackEntry entry(nullptr);
            if (changes) changes();
        }
        completeLater(id, std::move(completion), true);
        return;
    }

    auto run = std::make_shared<Run>();
    run->id = id;
    run->startNanos = Clock::monotonicNanos();
    run->duration = duration;
    run->delay = delay < 0 ? 0 : delay;
    run->options = options;
    run->spring = spring;
    run->damping = damping;
    run->velocity = velocity;
    run->completion = std::move(completion);
    e.runs[id] = run;
    try {
        StackEntry entry(run.get());
        if (changes) changes();
    } catch (...) {
        // A throwing block leaves no run behind.
        run->done = true;
        e.runs.erase(id);
        for (auto& weak : run->layers)
            if (auto layer = weak.lock()) layer->dropAnimationsOfRun(id);
        throw;
    }
    run->building = false;
    if (run->done) return;
    // Ends with its run: a reset drops the run and so the timer.
    run->timer = RunLoop::main().postAfter(run->delay + duration, [id] { finishRun(id); });
}

void setAnimationsEnabled(bool enabled) {
    engine().enabled = enabled;
}
bool areAnimationsEnabled() {
    return engine().enabled;
}

void performWithoutAnimation(const std::function<void()>& changes) {
    StackEntry entry(nullptr);
    if (changes) changes();
}

}  // namespace detail
}  // namespace platform
