#include "libmerovane/overlays/MVNotificationMovingTypes.h"

std::shared_ptr<const MVNotificationClass> MVNotificationRightToLeft::classObject() {
    return MVNotificationClass::shared<MVNotificationRightToLeft, MVNotificationBaseLinearMovement>(
        "MVNotificationRightToLeft");
}

std::shared_ptr<const MVNotificationClass> MVNotificationLeftToRight::classObject() {
    return MVNotificationClass::shared<MVNotificationLeftToRight, MVNotificationBaseLinearMovement>(
        "MVNotificationLeftToRight");
}

std::shared_ptr<const MVNotificationClass> MVNotificationTopToBottom::classObject() {
    return MVNotificationClass::shared<MVNotificationTopToBottom, MVNotificationBaseLinearMovement>(
        "MVNotificationTopToBottom");
}

std::shared_ptr<const MVNotificationClass> MVNotificationPushTop::classObject() {
    return MVNotificationClass::shared<MVNotificationPushTop, MVNotificationBaseLinearMovement>(
        "MVNotificationPushTop");
}

std::shared_ptr<const MVNotificationClass> MVNotificationPushBottom::classObject() {
    return MVNotificationClass::shared<MVNotificationPushBottom, MVNotificationBaseLinearMovement>(
        "MVNotificationPushBottom");
}

std::shared_ptr<const MVNotificationClass> MVNotificationCenteredFade::classObject() {
    return MVNotificationClass::shared<MVNotificationCenteredFade,
                                       MVNotificationBaseLinearMovement>(
        "MVNotificationCenteredFade");
}
