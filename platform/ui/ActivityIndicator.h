#pragma once
// A spinner. Made at its style's size (37 points square for the large style, 20 for the
// others); while stopped it is hidden unless hidesWhenStopped is off, as on the platform.
// Headless: nothing turns; isAnimating tells whether it would. Main thread only.

#include <memory>
#include <optional>

#include "platform/ui/View.h"

namespace platform {

enum class ActivityIndicatorStyle : int { WhiteLarge = 0, White = 1, Gray = 2 };

class ActivityIndicator : public View {
  public:
    // At (0, 0), stopped and therefore hidden.
    static std::shared_ptr<ActivityIndicator> create(
        ActivityIndicatorStyle style = ActivityIndicatorStyle::White);

    ActivityIndicatorStyle style() const { return style_; }
    // Also takes the style's size and colour.
    void setStyle(ActivityIndicatorStyle style);
    const Color& color() const { return color_; }
    void setColor(Color color) { color_ = color; }

    void startAnimating();
    void stopAnimating();
    bool isAnimating() const { return animating_; }
    bool hidesWhenStopped() const { return hidesWhenStopped_; }
    void setHidesWhenStopped(bool hides);

  protected:
    explicit ActivityIndicator(ActivityIndicatorStyle style);

  private:
    ActivityIndicatorStyle style_;
    Color color_ = Color::white();
    bool animating_ = false;
    bool hidesWhenStopped_ = true;
};

}  // namespace platform
