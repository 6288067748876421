#pragma once
// The six presentation types of in-app notifications: each names its type and picks the
// start, resting and end frames and alphas of its move.
//
//   type            start                 resting              end                alphas
//   "rightToLeft"   right, off screen     centre               left, off screen   1 1 1
//   "leftToRight"   left, off screen      centre               right, off screen  1 1 1
//   "topToBottom"   above the top edge    centre               below the bottom   1 1 1
//   "pushTop"       above the top edge    at the top edge      above the top edge 1 1 1
//   "pushBottom"    below the bottom      at the bottom edge   below the bottom   1 1 1
//   "centeredFade"  centre                centre               centre             0 1 0

#include <memory>
#include <optional>
#include <string>

#include "libmerovane/overlays/MVNotificationBaseLinearMovement.h"

class MVNotificationRightToLeft : public MVNotificationBaseLinearMovement {
  public:
    static std::shared_ptr<const MVNotificationClass> classObject();
    static std::optional<std::string> notificationType() { return "rightToLeft"; }
    platform::Rect notificationFrameStart() const override { return framePositionRightOffscreen(); }
    platform::Rect notificationFrameEnd() const override { return framePositionLeftOffscreen(); }
};

class MVNotificationLeftToRight : public MVNotificationBaseLinearMovement {
  public:
    static std::shared_ptr<const MVNotificationClass> classObject();
    static std::optional<std::string> notificationType() { return "leftToRight"; }
    platform::Rect notificationFrameStart() const override { return framePositionLeftOffscreen(); }
    platform::Rect notificationFrameEnd() const override { return framePositionRightOffscreen(); }
};

class MVNotificationTopToBottom : public MVNotificationBaseLinearMovement {
  public:
    static std::shared_ptr<const MVNotificationClass> classObject();
    static std::optional<std::string> notificationType() { return "topToBottom"; }
    platform::Rect notificationFrameStart() const override {
        return framePositionCenteredTopOffscreen();
    }
    platform::Rect notificationFrameEnd() const override {
        return framePositionCenterBottomOffscreen();
    }
};

class MVNotificationPushTop : public MVNotificationBaseLinearMovement {
  public:
    static std::shared_ptr<const MVNotificationClass> classObject();
    static std::optional<std::string> notificationType() { return "pushTop"; }
    platform::Rect notificationFrameStart() const override {
        return framePositionCenteredTopOffscreen();
    }
    platform::Rect notificationFrameInteractive() const override {
        return framePositionCenteredTop();
    }
    platform::Rect notificationFrameEnd() const override {
        return framePositionCenteredTopOffscreen();
    }
};

class MVNotificationPushBottom : public MVNotificationBaseLinearMovement {
  public:
    static std::shared_ptr<const MVNotificationClass> classObject();
    static std::optional<std::string> notificationType() { return "pushBottom"; }
    platform::Rect notificationFrameStart() const override {
        return framePositionCenterBottomOffscreen();
    }
    platform::Rect notificationFrameInteractive() const override {
        return framePositionCenteredBottom();
    }
    platform::Rect notificationFrameEnd() const override {
        return framePositionCenterBottomOffscreen();
    }
};

class MVNotificationCenteredFade : public MVNotificationBaseLinearMovement {
  public:
    static std::shared_ptr<const MVNotificationClass> classObject();
    static std::optional<std::string> notificationType() { return "centeredFade"; }
    double notificationAlphaStart() const override { return 0; }
    double notificationAlphaEnd() const override { return 0; }
};
