#pragma once
// The web-view notifications that move or fade their web view from a start frame and
// alpha to a resting ("interactive") one, rest until the timeout or the page's close
// request, and move on to an end frame and alpha. Subclasses name their presentation
// type and pick the three frames and alphas; this class supplies the steps:
//
//   Start (on the overlay at the start frame) -> ViewIsAppearing (move in over d)
//   -> ViewDidAppear after d -> TimeoutReached after the timeout -> Cancel
//   -> ViewIsDisappearing (move out over d) -> Finished after d (off the overlay)
//
// with d = 0.3 s (single precision) times the speed factor. A page that changes its size
// during a move is re-aimed from where it is shown. Main thread only.

#include <memory>
#include <optional>
#include <string>

#include "libmerovane/overlays/MVNotificationWithWebview.h"
#include "platform/foundation/Date.h"

class MVNotificationBaseLinearMovement : public MVNotificationWithWebview {
  public:
    static std::shared_ptr<const MVNotificationClass> classObject();

    static std::optional<std::string> notificationType() { return std::nullopt; }
    static std::shared_ptr<const MVNotificationSequence> notificationSequence();

    // Frames and alphas of the three positions; centred and opaque here.
    virtual platform::Rect notificationFrameStart() const { return framePositionCenter(); }
    virtual platform::Rect notificationFrameInteractive() const { return framePositionCenter(); }
    virtual platform::Rect notificationFrameEnd() const { return framePositionCenter(); }
    virtual double notificationAlphaStart() const { return 1; }
    virtual double notificationAlphaInteractive() const { return 1; }
    virtual double notificationAlphaEnd() const { return 1; }

    // The duration of one move: 0.3 s (single precision) times the speed factor.
    double baseDuration() const;
    // Animates the web view; begins from what is shown while an earlier move runs.
    void animateToFrame(const platform::Rect& frame, double alpha, double duration);
    // Re-sizes the web view about its on-screen centre and re-aims the running move.
    void webViewDidChangePageSize(MVWebView& webView) override;

    const std::optional<platform::Date>& animationBeginningDate() const {
        return animationBeginningDate_;
    }
    void setAnimationBeginningDate(std::optional<platform::Date> date) {
        animationBeginningDate_ = date;
    }

  private:
    std::optional<platform::Date> animationBeginningDate_;
};
