#include "platform/ui/Layer.h"

#include <algorithm>
#include <limits>

#include "platform/foundation/Clock.h"

namespace platform {

std::shared_ptr<Layer> Layer::create() {
    return std::shared_ptr<Layer>(new Layer());
}

Layer::~Layer() {
    for (auto& sub : sublayers_) sub->superlayer_.reset();
}

void Layer::addSublayer(const std::shared_ptr<Layer>& layer) {
    insertSublayer(layer, sublayers_.size());
}

void Layer::insertSublayer(const std::shared_ptr<Layer>& layer, size_t index) {
    if (!layer || layer.get() == this) return;
    auto keep = layer;  // removal below may drop the last other reference
    if (auto old = layer->superlayer_.lock()) {
        auto& subs = old->sublayers_;
        auto it = std::find(subs.begin(), subs.end(), layer);
        if (it != subs.end()) {
            if (old.get() == this && static_cast<size_t>(it - subs.begin()) < index) --index;
            subs.erase(it);
        }
    }
    index = std::min(index, sublayers_.size());
    sublayers_.insert(sublayers_.begin() + static_cast<std::ptrdiff_t>(index), keep);
    keep->superlayer_ = weak_from_this();
}

void Layer::removeFromSuperlayer() {
    auto old = superlayer_.lock();
    superlayer_.reset();
    if (!old) return;
    auto& subs = old->sublayers_;
    auto it = std::find_if(subs.begin(), subs.end(), [&](auto& l) { return l.get() == this; });
    if (it != subs.end()) subs.erase(it);
}

std::vector<std::string> Layer::animationKeys() const {
    std::vector<std::string> keys;
    keys.reserve(animations_.size());
    for (auto& a : animations_) keys.push_back(a.key);
    return keys;
}

const LayerAnimation* Layer::animationForKey(const std::string& key) const {
    for (auto& a : animations_)
        if (a.key == key) return &a;
    return nullptr;
}

void Layer::addAnimation(LayerAnimation animation) {
    // Additive animations of one key path each get their own key, as the platform's do.
    animation.key = animation.keyPath;
    if (animationForKey(animation.key)) animation.key += "-" + std::to_string(nextKeySuffix_++);
    animations_.push_back(std::move(animation));
}

void Layer::addAnimation(LayerAnimation animation, const std::string& key) {
    completionTimers_.erase(key);
    removeAnimation(key);
    const int64_t now = Clock::monotonicNanos();
    if (animation.beginNanos == 0) animation.beginNanos = now;
    animation.key = key;
    animation.runId = 0;
    if (animation.removedOnCompletion) {
        const int64_t end =
            addNanosSaturating(animation.beginNanos, animation.activeDurationNanos());
        if (end < std::numeric_limits<int64_t>::max()) {
            std::weak_ptr<Layer> weak = weak_from_this();
            completionTimers_[key] =
                RunLoop::main().postAfter(static_cast<double>(end - now) / 1e9, [weak, key] {
                    if (auto layer = weak.lock()) layer->completeKeyedAnimation(key);
                });
        }
    }
    animations_.push_back(std::move(animation));
}

void Layer::completeKeyedAnimation(const std::string& key) {
    completionTimers_.erase(key);
    std::erase_if(animations_,
                  [&](const LayerAnimation& a) { return a.key == key && a.runId == 0; });
}

void Layer::removeAnimationAt(size_t index) {
    const uint64_t runId = animations_[index].runId;
    animations_.erase(animations_.begin() + static_cast<std::ptrdiff_t>(index));
    detail::animationRemoved(runId);
}

void Layer::removeAnimation(const std::string& key) {
    completionTimers_.erase(key);
    for (size_t i = 0; i < animations_.size(); ++i) {
        if (animations_[i].key == key) {
            removeAnimationAt(i);
            return;
        }
    }
}

void Layer::removeAllAnimations() {
    completionTimers_.clear();
    auto removed = std::move(animations_);
    animations_.clear();
    for (auto& a : removed) detail::animationRemoved(a.runId);
}

void Layer::removeAnimationsForKeyPath(const std::string& keyPath) {
    for (size_t i = animations_.size(); i-- > 0;)
        if (animations_[i].keyPath == keyPath) removeAnimationAt(i);
}

void Layer::dropAnimationsOfRun(uint64_t runId) {
    std::erase_if(animations_, [&](const LayerAnimation& a) { return a.runId == runId; });
}

std::vector<double> Layer::presentationValue(const std::string& keyPath, std::vector<double> model,
                                             int64_t nowNanos) const {
    for (auto& a : animations_) {
        if (a.keyPath != keyPath) continue;
        if (!a.additive) {
            if (auto value = a.valueAt(nowNanos, model)) model = std::move(*value);
            continue;
        }
        if (a.from.size() != model.size()) continue;
        const double remaining = 1.0 - a.progressAt(nowNanos);
        for (size_t i = 0; i < model.size(); ++i) model[i] += (a.from[i] - a.to[i]) * remaining;
    }
    return model;
}

}  // namespace platform
