#pragma once
// Blur and vibrancy: a visual-effect view with its effect and the content view that holds
// what it shows (subviews go there, not into the effect view itself). The content view
// fills the effect view and resizes with it. Headless: no blur is computed; drawing
// shows the content view's tree only.
//
//   auto blur = platform::VisualEffect::blur(platform::BlurEffectStyle::Dark);
//   auto blurView = platform::VisualEffectView::create(blur, bounds);
//   auto vibrancy = platform::VisualEffectView::create(platform::VisualEffect::vibrancy(blur),
//   bounds); blurView->contentView()->addSubview(vibrancy);
//
// Main thread only.

#include <memory>
#include <optional>

#include "platform/ui/View.h"

namespace platform {

enum class BlurEffectStyle : int { ExtraLight = 0, Light = 1, Dark = 2 };

// A blur of a style, or the vibrancy that goes with a blur of that style.
struct VisualEffect {
    enum class Kind { Blur, Vibrancy };
    Kind kind = Kind::Blur;
    BlurEffectStyle style = BlurEffectStyle::Light;

    static VisualEffect blur(BlurEffectStyle style) { return {Kind::Blur, style}; }
    static VisualEffect vibrancy(const VisualEffect& blurEffect) {
        return {Kind::Vibrancy, blurEffect.style};
    }
    bool operator==(const VisualEffect&) const = default;
};

class VisualEffectView : public View {
  public:
    static std::shared_ptr<VisualEffectView> create(std::optional<VisualEffect> effect,
                                                    const Rect& frame = Rect());

    const std::optional<VisualEffect>& effect() const { return effect_; }
    void setEffect(std::optional<VisualEffect> effect) { effect_ = effect; }
    const std::shared_ptr<View>& contentView() const { return contentView_; }

  protected:
    VisualEffectView(std::optional<VisualEffect> effect, const Rect& frame);

  private:
    std::optional<VisualEffect> effect_;
    std::shared_ptr<View> contentView_;
};

}  // namespace platform
