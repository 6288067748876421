#include "libmerovane/overlays/MVNotificationBaseLinearMovement.h"

#include <fmt/format.h>

#include "libmerovane/bridge/MVEventViews.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/overlays/MVNotificationController.h"
#include "platform/ui/Layer.h"
#include "platform/ui/View.h"

namespace {

constexpr const char* kTimedOut =
    "Notification: <{}> with MVWebView{} timed out and will be dismissed!";
// One move, before the speed factor (single precision).
constexpr float kBaseDuration = 0.3f;
// The rest of a notification without a timeout: never, in practice.
constexpr double kNoTimeout = 6.408e8;

MVNotificationBaseLinearMovement& moving(MVNotification& notification) {
    auto* moving = dynamic_cast<MVNotificationBaseLinearMovement*>(&notification);
    platform::assertThat(moving != nullptr, "a moving notification's step ran on another kind");
    return *moving;
}

// A step block that runs `action` and schedules `next` after what `after` answers.
MVNotificationStepBlock step(std::function<void(MVNotificationBaseLinearMovement&, double)> action,
                             const char* next,
                             std::function<double(MVNotificationBaseLinearMovement&)> after) {
    return [action = std::move(action), next, after = std::move(after)](MVNotification& n) {
        auto& notification = moving(n);
        MVNotification::perform(
            [action](MVNotification& n, double duration) {
                if (action) action(moving(n), duration);
            },
            notification, next, after(notification));
    };
}

double immediately(MVNotificationBaseLinearMovement&) {
    return 0;
}
double oneMove(MVNotificationBaseLinearMovement& n) {
    return n.baseDuration();
}
double untilTimeout(MVNotificationBaseLinearMovement& n) {
    return n.timeout() && *n.timeout() > 0 ? *n.timeout() : kNoTimeout;
}

void sendEvent(MVNotificationBaseLinearMovement& n, const MVEvent& event) {
    if (n.notificationWebView()) n.notificationWebView()->performMVEvent(event);
}

std::string describe(const MVNotification& n) {
    return fmt::format("{}: {}", n.className(), static_cast<const void*>(&n));
}

}  // namespace

std::shared_ptr<const MVNotificationClass> MVNotificationBaseLinearMovement::classObject() {
    return MVNotificationClass::shared<MVNotificationBaseLinearMovement, MVNotificationWithWebview>(
        "MVNotificationBaseLinearMovement");
}

std::shared_ptr<const MVNotificationSequence>
MVNotificationBaseLinearMovement::notificationSequence() {
    auto sequence = std::make_shared<MVNotificationSequence>();
    auto& steps = *sequence;
    steps[MVNotificationStepStart] = step(
        [](MVNotificationBaseLinearMovement& n, double) {
            const auto& webView = n.notificationWebView();
            if (auto controller = n.presentingController())
                controller->addNotificationView(webView);
            n.adaptSizeToWebviewContentSize();
            if (!webView) return;
            webView->setFrame(n.notificationFrameStart());
            webView->setAlpha(n.notificationAlphaStart());
        },
        MVNotificationStepViewIsAppearing, immediately);
    steps[MVNotificationStepViewIsAppearing] = step(
        [](MVNotificationBaseLinearMovement& n, double duration) {
            sendEvent(n, MVEventViews::viewWillAppearAnimated(true));
            n.animateToFrame(n.notificationFrameInteractive(), n.notificationAlphaInteractive(),
                             duration);
        },
        MVNotificationStepViewDidAppear, oneMove);
    steps[MVNotificationStepViewDidAppear] =
        step([](MVNotificationBaseLinearMovement& n,
                double) { sendEvent(n, MVEventViews::viewDidAppearAnimated(true)); },
             MVNotificationStepTimeoutReached, untilTimeout);
    steps[MVNotificationStepTimeoutReached] = step(
        [](MVNotificationBaseLinearMovement& n, double) {
            const auto& webView = n.notificationWebView();
            MVLogInfo(kTimedOut, describe(n), webView ? webView->debugName() : std::string());
        },
        MVNotificationStepCancel, immediately);
    steps[MVNotificationStepCancel] =
        step(nullptr, MVNotificationStepViewIsDisappearing, immediately);
    steps[MVNotificationStepViewIsDisappearing] = step(
        [](MVNotificationBaseLinearMovement& n, double duration) {
            sendEvent(n, MVEventViews::viewWillDisappearAnimated(true));
            n.animateToFrame(n.notificationFrameEnd(), n.notificationAlphaEnd(), duration);
        },
        MVNotificationStepFinished, oneMove);
    steps[MVNotificationStepFinished] = [](MVNotification& notification) {
        auto& n = moving(notification);
        sendEvent(n, MVEventViews::viewDidDisappearAnimated(true));
        if (n.notificationWebView()) n.notificationWebView()->removeFromSuperview();
    };
    return sequence;
}

double MVNotificationBaseLinearMovement::baseDuration() const {
    return static_cast<double>(kBaseDuration) * speedFactor().value_or(1.0);
}

void MVNotificationBaseLinearMovement::animateToFrame(const platform::Rect& frame, double alpha,
                                                      double duration) {
    auto webView = notificationWebView();
    if (!webView) return;
    const platform::AnimationOptions options =
        animationBeginningDate_ ? platform::kAnimationOptionBeginFromCurrentState : 0;
    std::weak_ptr<MVNotification> weak = shared_from_this();
    platform::View::animate(
        duration, 0, options,
        [&] {
            animationBeginningDate_ = platform::Date::now();
            webView->setFrame(frame);
            webView->setAlpha(alpha);
        },
        [weak](bool finished) {
            auto notification = weak.lock();
            if (finished && notification)
                static_cast<MVNotificationBaseLinearMovement&>(*notification)
                    .animationBeginningDate_.reset();
        });
}

void MVNotificationBaseLinearMovement::webViewDidChangePageSize(MVWebView& reporting) {
    auto keep = shared_from_this();
    auto webView = notificationWebView();
    if (webView) {
        const platform::Point shownCenter = webView->presentationCenter();
        const double shownAlpha = webView->presentationAlpha();
        const platform::Rect before = webView->frame();
        adaptSizeToWebviewContentSize();
        if (webView->frame() != before) {
            // Holds the view where it is shown; a move re-aimed below starts there.
            webView->layer()->removeAllAnimations();
            webView->setAlpha(shownAlpha);
            webView->setCenter(shownCenter);
        }
    }
    if (!webView || &reporting != webView.get()) return;
    const auto& step = currentNotificationStep();
    if (!step) return;
    // The rest of the running move, or a whole one.
    auto remaining = [&] {
        if (!animationBeginningDate_) return baseDuration();
        return baseDuration() - platform::Date::now().timeIntervalSince(*animationBeginningDate_);
    };
    if (*step == MVNotificationStepStart) {
        webView->setFrame(notificationFrameStart());
        webView->setAlpha(notificationAlphaStart());
    } else if (*step == MVNotificationStepViewIsAppearing) {
        animateToFrame(notificationFrameInteractive(), notificationAlphaInteractive(), remaining());
    } else if (*step == MVNotificationStepViewDidAppear ||
               *step == MVNotificationStepTimeoutReached || *step == MVNotificationStepCancel) {
        webView->setFrame(notificationFrameInteractive());
    } else if (*step == MVNotificationStepViewIsDisappearing) {
        animateToFrame(notificationFrameEnd(), notificationAlphaEnd(), remaining());
    }
}
