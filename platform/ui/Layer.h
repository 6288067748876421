#pragma once
// The layer behind a view: the view's place among its superview's sublayers, the
// border and corner look, clipping, and the running animations. Geometry lives in the
// view; a layer computes presentation values from the view's model values and its
// animations. Standalone layers can be added as sublayers of a view's layer.
// Main thread only.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/RunLoop.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Color.h"

namespace platform {

class View;

class Layer : public std::enable_shared_from_this<Layer> {
  public:
    static std::shared_ptr<Layer> create();
    virtual ~Layer();

    // The view this layer backs, or null for a standalone layer (or once the view died).
    View* delegateView() const { return view_; }

    std::shared_ptr<Layer> superlayer() const { return superlayer_.lock(); }
    const std::vector<std::shared_ptr<Layer>>& sublayers() const { return sublayers_; }
    void addSublayer(const std::shared_ptr<Layer>& layer);
    // Index past the end appends.
    void insertSublayer(const std::shared_ptr<Layer>& layer, size_t index);
    void removeFromSuperlayer();

    double cornerRadius() const { return cornerRadius_; }
    void setCornerRadius(double r) { cornerRadius_ = r; }
    double borderWidth() const { return borderWidth_; }
    void setBorderWidth(double w) { borderWidth_ = w; }
    const std::optional<Color>& borderColor() const { return borderColor_; }
    void setBorderColor(std::optional<Color> c) { borderColor_ = c; }
    bool masksToBounds() const { return masksToBounds_; }
    void setMasksToBounds(bool m) { masksToBounds_ = m; }

    // Adds an explicit animation under the key, replacing the one of that key. A begin
    // of 0 means now. Removed once its active time has passed when removedOnCompletion
    // is set; otherwise it stays (and fills) until removed.
    void addAnimation(LayerAnimation animation, const std::string& key);

    // Keys of the running animations, oldest first.
    std::vector<std::string> animationKeys() const;
    const LayerAnimation* animationForKey(const std::string& key) const;
    bool hasAnimations() const { return !animations_.empty(); }
    void removeAnimation(const std::string& key);
    void removeAllAnimations();

    // `model` plus what the running animations of `keyPath` still add at `nowNanos`.
    std::vector<double> presentationValue(const std::string& keyPath, std::vector<double> model,
                                          int64_t nowNanos) const;

    // For the animation engine.
    void addAnimation(LayerAnimation animation);
    // Removes the animations of `keyPath`, telling their runs.
    void removeAnimationsForKeyPath(const std::string& keyPath);
    // Drops a finished run's animations without telling it.
    void dropAnimationsOfRun(uint64_t runId);

  protected:
    Layer() = default;

  private:
    friend class View;
    void removeAnimationAt(size_t index);
    void completeKeyedAnimation(const std::string& key);

    View* view_ = nullptr;
    std::weak_ptr<Layer> superlayer_;
    std::vector<std::shared_ptr<Layer>> sublayers_;
    std::vector<LayerAnimation> animations_;
    // The removals of keyed animations, by key.
    std::map<std::string, TimerHandle> completionTimers_;
    uint64_t nextKeySuffix_ = 1;
    double cornerRadius_ = 0;
    double borderWidth_ = 0;
    std::optional<Color> borderColor_;
    bool masksToBounds_ = false;
};

}  // namespace platform
