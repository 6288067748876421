#pragma once
// A view whose bounds origin is the content offset: content size and insets, the
// scroll-indicator insets, and the flags of scrolling, bouncing and touch handling.
// Headless: nobody drags, so nothing scrolls unless code sets the offset; the flags are
// kept for the code that reads them. Refresh controls among the subviews are laid out
// above the content whenever the offset or frame changes. Main thread only.

#include <memory>

#include "platform/ui/View.h"

namespace platform {

inline constexpr double kScrollViewDecelerationRateNormal = 0.998;
inline constexpr double kScrollViewDecelerationRateFast = 0.99;

class ScrollView : public View {
  public:
    static std::shared_ptr<ScrollView> create(const Rect& frame = Rect());

    Point contentOffset() const { return bounds().origin; }
    void setContentOffset(Point offset);
    Size contentSize() const { return contentSize_; }
    void setContentSize(Size size) { contentSize_ = size; }
    const EdgeInsets& contentInset() const { return contentInset_; }
    void setContentInset(const EdgeInsets& insets) { contentInset_ = insets; }
    const EdgeInsets& scrollIndicatorInsets() const { return scrollIndicatorInsets_; }
    void setScrollIndicatorInsets(const EdgeInsets& insets) { scrollIndicatorInsets_ = insets; }

    bool isScrollEnabled() const { return scrollEnabled_; }
    void setScrollEnabled(bool enabled) { scrollEnabled_ = enabled; }
    bool bounces() const { return bounces_; }
    void setBounces(bool bounces) { bounces_ = bounces; }
    bool alwaysBounceVertical() const { return alwaysBounceVertical_; }
    void setAlwaysBounceVertical(bool b) { alwaysBounceVertical_ = b; }
    bool alwaysBounceHorizontal() const { return alwaysBounceHorizontal_; }
    void setAlwaysBounceHorizontal(bool b) { alwaysBounceHorizontal_ = b; }
    bool showsVerticalScrollIndicator() const { return showsVertical_; }
    void setShowsVerticalScrollIndicator(bool s) { showsVertical_ = s; }
    bool showsHorizontalScrollIndicator() const { return showsHorizontal_; }
    void setShowsHorizontalScrollIndicator(bool s) { showsHorizontal_ = s; }
    bool scrollsToTop() const { return scrollsToTop_; }
    void setScrollsToTop(bool s) { scrollsToTop_ = s; }
    double decelerationRate() const { return decelerationRate_; }
    void setDecelerationRate(double rate) { decelerationRate_ = rate; }
    bool delaysContentTouches() const { return delaysContentTouches_; }
    void setDelaysContentTouches(bool d) { delaysContentTouches_ = d; }
    bool canCancelContentTouches() const { return canCancelContentTouches_; }
    void setCanCancelContentTouches(bool c) { canCancelContentTouches_ = c; }

    void setFrame(const Rect& frame) override;

  protected:
    explicit ScrollView(const Rect& frame) : View(frame) {}

  private:
    void layoutRefreshControls();

    Size contentSize_;
    EdgeInsets contentInset_;
    EdgeInsets scrollIndicatorInsets_;
    bool scrollEnabled_ = true;
    bool bounces_ = true;
    bool alwaysBounceVertical_ = false;
    bool alwaysBounceHorizontal_ = false;
    bool showsVertical_ = true;
    bool showsHorizontal_ = true;
    bool scrollsToTop_ = true;
    double decelerationRate_ = kScrollViewDecelerationRateNormal;
    bool delaysContentTouches_ = true;
    bool canCancelContentTouches_ = true;
};

}  // namespace platform
