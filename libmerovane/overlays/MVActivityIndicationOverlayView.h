#pragma once
// The blocking full-screen notice: the screen blurred (or dimmed) behind it, a title in
// the middle and below it a spinner in a thin white ring or a single pill-shaped button;
// the two exclude each other. It is no part of the container chain: a fade-in puts it
// into the key window, directly above the view to blur, and a finished fade-out takes it
// out again.
//
//   auto overlay = MVActivityIndicationOverlayView::initWithFullScreenAndViewToBlur(
//       window->subviews().back(), true, "Refreshing");
//   overlay->fadeInWithDuration(0.3, [](bool finished) { ... });
//   overlay->fadeOutWithDuration(0.3, [](bool finished, const auto& viewToBlur) { ... });
//
// From system 8.0 on, with a view to blur that is a direct subview of the key window,
// the view lies under a live dark blur (moved into the overlay while it shows, or a
// still picture of it when asked); otherwise a grey layer dims the screen and the
// whole overlay fades. Whoever makes an overlay keeps it for as long as it wants to fade
// it out. Main thread only.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/View.h"

namespace platform {
class ActivityIndicator;
class Button;
class ImageView;
class Label;
class Window;
}  // namespace platform

class MVActivityIndicationOverlayView : public platform::View {
  public:
    using OnButtonTapped =
        std::function<void(MVActivityIndicationOverlayView& overlay, platform::Button& button)>;
    using FadeInCompletion = std::function<void(bool finished)>;
    using FadeOutCompletion =
        std::function<void(bool finished, const std::shared_ptr<platform::View>& viewToBlur)>;

    static constexpr double kSpinnerFadeDuration = 0.3;
    static constexpr double kRelayoutDelay = 0.25;

    // Makes the overlays behind the seam that start-up and the interjections use.
    static void install();

    // As large as the screen for the current interface orientation.
    static std::shared_ptr<MVActivityIndicationOverlayView> initWithFullScreenAndViewToBlur(
        const std::shared_ptr<platform::View>& viewToBlur, bool asScreenShot,
        const std::optional<std::string>& title);
    // The view to blur is taken only when it is a direct subview of the key window.
    static std::shared_ptr<MVActivityIndicationOverlayView> create(
        const platform::Rect& frame, const std::shared_ptr<platform::View>& viewToBlur,
        bool asScreenShot, const std::optional<std::string>& title);
    // Without title and view to blur.
    static std::shared_ptr<MVActivityIndicationOverlayView> create(
        const platform::Rect& frame = platform::Rect());

    // An empty or absent title hides the label.
    void setTitle(const std::optional<std::string>& title);
    // Nothing for an absent title; otherwise the button (made once) with this text and
    // tap block, shown or hidden, and the spinner running exactly while it is hidden.
    void setButtonWithTitle(const std::optional<std::string>& title, OnButtonTapped onButtonTapped,
                            bool buttonHidden);
    // The completion may be empty.
    void fadeInWithDuration(double duration, FadeInCompletion completion);
    // Only a finished fade takes the overlay out of its window (and gives a live view to
    // blur back to it, below where the overlay was); an interrupted one leaves it. The
    // completion, when given, then runs with true and the view to blur.
    void fadeOutWithDuration(double duration, FadeOutCompletion completion);
    // Ring and spinner: 0.3 s while the overlay is hidden, at once while it shows.
    void setIndicatorAnimationActive(bool active);
    // Button and its label: at once while the overlay is hidden, 0.3 s while it shows.
    void setButtonHidden(bool hidden);
    // Below system 8.0: turns the overlay for the orientation and centres it in the key
    // window. The flag has no effect.
    void adaptFrameToOrientation(platform::InterfaceOrientation orientation, bool animated);
    void buttonTapped();
    // Below system 8.0: lays out again 0.25 s later.
    void interfaceOrientationHasChanged();

    const std::shared_ptr<platform::View>& viewToBlur() const { return viewToBlur_; }
    std::shared_ptr<platform::View> viewToFade() const { return viewToFade_.lock(); }
    std::shared_ptr<platform::ActivityIndicator> activityIndicator() const {
        return activityIndicator_.lock();
    }
    std::shared_ptr<platform::View> activityIndicatorBorder() const {
        return activityIndicatorBorder_.lock();
    }
    std::shared_ptr<platform::Label> lblNotice() const { return lblNotice_.lock(); }
    std::shared_ptr<platform::Window> windowThatHoldedContent() const {
        return windowThatHoldedContent_.lock();
    }
    bool onlyUsingScreenShot() const { return onlyUsingScreenShot_; }
    const std::shared_ptr<platform::ImageView>& snapshot() const { return snapshot_; }
    std::shared_ptr<platform::View> contentView() const { return contentView_.lock(); }
    std::shared_ptr<platform::Button> button() const { return button_.lock(); }
    std::shared_ptr<platform::Label> lblButton() const { return lblButton_.lock(); }

  protected:
    explicit MVActivityIndicationOverlayView(const platform::Rect& frame) : View(frame) {}

  private:
    std::shared_ptr<MVActivityIndicationOverlayView> self() {
        return std::static_pointer_cast<MVActivityIndicationOverlayView>(shared_from_this());
    }
    void basicSetupWithTitle(const std::optional<std::string>& title);
    void buttonSetupWithOnButtonTappedBlock(OnButtonTapped onButtonTapped);
    // Whether the view to blur lies live under the blur while the overlay shows.
    bool usesLiveBlur() const;
    bool isFullyTransparent() const;
    void takeStillPicture();
    void setButtonComponentsAlphas(double alpha);
    void setButtonComponentsFrame(const platform::Rect& frame);

    std::shared_ptr<platform::View> viewToBlur_;
    std::weak_ptr<platform::View> viewToFade_;
    std::weak_ptr<platform::ActivityIndicator> activityIndicator_;
    std::weak_ptr<platform::View> activityIndicatorBorder_;
    std::weak_ptr<platform::Label> lblNotice_;
    std::weak_ptr<platform::Window> windowThatHoldedContent_;
    bool onlyUsingScreenShot_ = false;
    std::shared_ptr<platform::ImageView> snapshot_;
    std::weak_ptr<platform::View> contentView_;
    OnButtonTapped onButtonTapped_;
    std::weak_ptr<platform::Button> button_;
    std::weak_ptr<platform::Label> lblButton_;
    platform::ObserverRegistration orientationObserver_;
};
