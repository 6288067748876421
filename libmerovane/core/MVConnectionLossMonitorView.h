#pragma once
// The full-screen cover the connection-loss monitor shows while connections are
// blocked: a dark blurred layer (a translucent black one on systems before 8.0) with a
// notice and a "Retry" button. While loading, the button shrinks to a circle around a
// spinning activity indicator and takes no touches.
//
//   auto view = MVConnectionLossMonitorView::create(screenBounds);   // in the loading look
//   view->setIsLoading(false, true);   // the retry button, animated over 0.3 s
//
// Tapping the button asks the shared monitor to retry. Main thread only.

#include <memory>

#include "platform/ui/Button.h"
#include "platform/ui/View.h"

namespace platform {
class ActivityIndicator;
class Label;
}  // namespace platform

// A button whose background is white at alpha 0.3 while highlighted, clear otherwise.
class UIButtonTouchHighlight : public platform::Button {
  public:
    static std::shared_ptr<UIButtonTouchHighlight> create(const platform::Rect& frame);
    void setHighlighted(bool highlighted) override;

  protected:
    explicit UIButtonTouchHighlight(const platform::Rect& frame);
};

class MVConnectionLossMonitorView : public platform::View {
  public:
    static constexpr const char* kNoticeText =
        "There seems to be a problem with your internet connection";
    static constexpr const char* kRetryText = "Retry";
    static constexpr const char* kFontName = "HelveticaNeue-Thin";
    static constexpr double kFontSize = 28;
    static constexpr double kButtonHeight = 50;
    static constexpr double kAnimationDuration = 0.3;
    static constexpr double kInnerAnimationDelay = 0.1;

    static std::shared_ptr<MVConnectionLossMonitorView> create(const platform::Rect& frame);

    const std::shared_ptr<platform::Label>& lblNotice() const { return lblNotice_; }
    const std::shared_ptr<UIButtonTouchHighlight>& btnRetry() const { return btnRetry_; }
    const std::shared_ptr<platform::Label>& lblRetry() const { return lblRetry_; }
    const std::shared_ptr<platform::ActivityIndicator>& activity() const { return activity_; }
    // The view holding the parts: the vibrancy view's content view, or the plain
    // translucent view on older systems.
    const std::shared_ptr<platform::View>& container() const { return container_; }

    bool isLoading() const { return isLoading_; }
    void setIsLoading(bool loading) { setIsLoading(loading, false); }
    void setIsLoading(bool loading, bool animated);

  protected:
    explicit MVConnectionLossMonitorView(const platform::Rect& frame);

  private:
    void build();

    bool isLoading_ = true;
    std::shared_ptr<platform::View> container_;
    std::shared_ptr<platform::Label> lblNotice_;
    std::shared_ptr<UIButtonTouchHighlight> btnRetry_;
    std::shared_ptr<platform::Label> lblRetry_;
    std::shared_ptr<platform::ActivityIndicator> activity_;
};
