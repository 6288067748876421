// Moving notifications on a 375 by 667 overlay: their timelines, frames and alphas, the
// re-aim after a page changes its size, and what stale checks may no longer do.
#include <gtest/gtest.h>

#include "platform/ui/Animation.h"
#include "tests/overlays/NotificationPageTest.h"

namespace {

using NotificationMovingTest = NotificationPageTest;
using platform::Rect;

TEST_F(NotificationMovingTest, PushTopFromContentSlidesInRestsForItsTimeoutAndSlidesOut) {
    auto note = content("pushTop", 3.0);
    controller->presentNotification(note);
    EXPECT_FALSE(controller->contentContainerView()->isUserInteractionEnabled());
    const double r = renderTimeOf(*note);
    ASSERT_GE(r, 0);
    const auto& webView = note->notificationWebView();

    advanceTo(r + 1 + kInit - kTick);
    EXPECT_FALSE(onOverlay(*note));
    advanceTo(r + 1 + kInit);
    EXPECT_TRUE(onOverlay(*note));
    EXPECT_EQ(webView->presentationFrame(), Rect(27.5, -80, 320, 80));
    EXPECT_EQ(eventNames(*note), std::vector<std::string>{"viewWillAppear"});
    EXPECT_EQ(modelOf(*note)->events().back().parameters, nlohmann::json::array({true}));

    advanceTo(r + 1 + kInit + kMove - kTick);
    EXPECT_EQ(eventNames(*note).size(), 1u);
    advanceTo(r + 1 + kInit + kMove);
    EXPECT_EQ(webView->presentationFrame(), Rect(27.5, 0, 320, 80));
    EXPECT_EQ(eventNames(*note), (std::vector<std::string>{"viewWillAppear", "viewDidAppear"}));

    advanceTo(r + 4.35 - kTick);
    EXPECT_EQ(eventNames(*note).size(), 2u);
    advanceTo(r + 4.35 + kTick);
    EXPECT_EQ(eventNames(*note).back(), "viewWillDisappear");
    EXPECT_TRUE(logged("timed out and will be dismissed!"));
    advanceTo(r + 4.65 - kTick);
    EXPECT_TRUE(onOverlay(*note));
    EXPECT_FALSE(controller->contentContainerView()->isUserInteractionEnabled());
    advanceTo(r + 4.65 + kTick);
    EXPECT_EQ(eventNames(*note),
              (std::vector<std::string>{"viewWillAppear", "viewDidAppear", "viewWillDisappear",
                                        "viewDidDisappear"}));
    EXPECT_EQ(webView->superview(), nullptr);
    EXPECT_EQ(webView->frame(), Rect(27.5, -80, 320, 80));
    EXPECT_TRUE(controller->contentContainerView()->isUserInteractionEnabled());
    EXPECT_TRUE(controller->notificationQueue().empty());
}

// The page of a waiting notification renders while the first rests; its re-check one second
// later must not run a step of its own move once the controller has started it (it used to
// run ViewDidAppear early, and the move's own check then dismissed it as timed out).
TEST_F(NotificationMovingTest, AStaleRenderCheckLeavesANotificationStartedMeanwhileAlone) {
    auto a = content("pushTop");
    controller->presentNotification(a);
    const double rA = renderTimeOf(*a);
    advanceTo(rA + 2);
    ASSERT_EQ(a->currentNotificationStep(), MVNotificationStepViewDidAppear);

    auto b = content("pushBottom");
    controller->presentNotification(b);
    const double rB = renderTimeOf(*b);
    advanceTo(rB + 0.5);
    pageOf(*a)->askToClose();
    platform::runUntilIdle();
    EXPECT_EQ(eventNames(*a).back(), "viewWillDisappear");
    advanceTo(rB + 0.5 + kMove);
    EXPECT_FALSE(onOverlay(*a));
    EXPECT_FALSE(onOverlay(*b));
    advanceTo(rB + 0.5 + kMove + kInit);  // the 0 s pass, Init, then Start
    EXPECT_TRUE(onOverlay(*b));
    EXPECT_EQ(eventNames(*b), std::vector<std::string>{"viewWillAppear"});
    advanceTo(rB + 0.5 + kMove + kInit + kMove);
    EXPECT_EQ(eventNames(*b), (std::vector<std::string>{"viewWillAppear", "viewDidAppear"}));
    EXPECT_EQ(b->notificationWebView()->frame(), Rect(27.5, 667 - 80, 320, 80));
    advanceTo(rB + 12);
    EXPECT_TRUE(onOverlay(*b));
    EXPECT_EQ(b->currentNotificationStep(), MVNotificationStepViewDidAppear);
    EXPECT_EQ(eventNames(*b).size(), 2u);
}

TEST_F(NotificationMovingTest, CenteredFadeWithSpeedFactorTwoFadesOverTwiceTheTime) {
    auto note = content("centeredFade", 1.0, 2.0);
    controller->presentNotification(note);
    const double r = renderTimeOf(*note);
    platform::clearAnimationLog();
    advanceTo(r + 1 + kInit);
    const auto& webView = note->notificationWebView();
    EXPECT_EQ(webView->frame(), Rect(27.5, 293.5, 320, 80));
    EXPECT_EQ(webView->presentationAlpha(), 0);
    advanceTo(r + 1 + kInit + 0.3);
    EXPECT_NEAR(webView->presentationAlpha(), 0.5, 0.1);
    advanceTo(r + 4);
    EXPECT_EQ(webView->alpha(), 0);
    std::vector<double> durations;
    for (const auto& run : platform::animationLog())
        if (run.animated) durations.push_back(run.duration);
    EXPECT_EQ(durations, (std::vector<double>{0.6000000238418579, 0.6000000238418579}));
}

TEST_F(NotificationMovingTest, APageThatGrowsDuringTheMoveInIsReaimedFromWhereItIsShown) {
    auto note = content("pushTop");
    controller->presentNotification(note);
    const double r = renderTimeOf(*note);
    advanceTo(r + 1 + kInit + 0.15);
    const auto& webView = note->notificationWebView();
    const platform::Point shown = webView->presentationCenter();
    EXPECT_NEAR(shown.y, 0, 1e-3);  // half-way between -40 and 40
    platform::clearAnimationLog();
    pageOf(*note)->changePageSize({320, 160});
    platform::runUntilIdle();
    const auto log = platform::animationLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].options, platform::kAnimationOptionBeginFromCurrentState);
    EXPECT_NEAR(log[0].duration, kMove - 0.15, 1e-6);
    EXPECT_NEAR(webView->presentationCenter().y, shown.y, 1e-3) << webView->presentationCenter().y;
    EXPECT_EQ(webView->frame(), Rect(27.5, 0, 320, 160));
    // The move ends when the first would have (to the resolution of the wall clock).
    advanceTo(r + 1 + kInit + kMove - kTick);
    EXPECT_TRUE(note->animationBeginningDate());
    advanceTo(r + 1 + kInit + kMove + kTick);
    EXPECT_NEAR(webView->presentationFrame().origin.y, 0, 1e-6);
    EXPECT_EQ(webView->presentationFrame().size.height, 160);
    EXPECT_EQ(note->animationBeginningDate(), std::nullopt);
    EXPECT_EQ(eventNames(*note).back(), "viewDidAppear");

    // Resting: re-sized and snapped to the resting frame at once.
    pageOf(*note)->changePageSize({320, 40});
    platform::runUntilIdle();
    EXPECT_EQ(webView->frame(), Rect(27.5, 0, 320, 40));
}

TEST_F(NotificationMovingTest, EachTypeMovesBetweenItsFramesAndAlphas) {
    struct Case {
        const char* type;
        Rect start, rest, end;
        double alphaStart, alphaEnd;
    };
    const Case cases[] = {
        {"rightToLeft",
         {375, 293.5, 320, 80},
         {27.5, 293.5, 320, 80},
         {-320, 293.5, 320, 80},
         1,
         1},
        {"leftToRight",
         {-320, 293.5, 320, 80},
         {27.5, 293.5, 320, 80},
         {375, 293.5, 320, 80},
         1,
         1},
        {"topToBottom", {27.5, -80, 320, 80}, {27.5, 293.5, 320, 80}, {27.5, 667, 320, 80}, 1, 1},
        {"pushTop", {27.5, -80, 320, 80}, {27.5, 0, 320, 80}, {27.5, -80, 320, 80}, 1, 1},
        {"pushBottom", {27.5, 667, 320, 80}, {27.5, 587, 320, 80}, {27.5, 667, 320, 80}, 1, 1},
        {"centeredFade",
         {27.5, 293.5, 320, 80},
         {27.5, 293.5, 320, 80},
         {27.5, 293.5, 320, 80},
         0,
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        auto note = content(c.type, 1.0);
        controller->presentNotification(note);
        const double r = renderTimeOf(*note);
        advanceTo(r + 1 + kInit);
        const auto& webView = note->notificationWebView();
        EXPECT_EQ(webView->presentationFrame(), c.start);
        EXPECT_EQ(webView->presentationAlpha(), c.alphaStart);
        advanceTo(r + 1 + kInit + kMove);
        EXPECT_EQ(webView->frame(), c.rest);
        EXPECT_EQ(webView->alpha(), 1);
        advanceTo(r + 1 + kInit + kMove + 1 + kTick);
        EXPECT_EQ(webView->frame(), c.end);
        EXPECT_EQ(webView->alpha(), c.alphaEnd);
        advanceTo(r + 3);
        EXPECT_TRUE(controller->notificationQueue().empty());
    }
}

TEST_F(NotificationMovingTest, WithoutTimeoutItStaysUntilItsPageAsksToClose) {
    for (std::optional<double> timeout :
         {std::optional<double>(), std::optional<double>(0.0), std::optional<double>(-2.0),
          std::optional<double>(1e-50)}) {
        auto note = content("pushTop", timeout);
        EXPECT_EQ(note->timeout(), std::nullopt);
        controller->presentNotification(note);
        const double r = renderTimeOf(*note);
        advanceTo(r + 1000);
        EXPECT_TRUE(onOverlay(*note));
        EXPECT_EQ(note->nextNotificationStep(), MVNotificationStepTimeoutReached);
        pageOf(*note)->askToClose();
        advanceTo(r + 1001);
        EXPECT_FALSE(onOverlay(*note));
    }
}

// Numbers from a page reach timers and animations as they are; huge ones wait forever.
TEST_F(NotificationMovingTest, HugeTimeoutsAndSpeedFactorsAreHeldAtTheEndOfTime) {
    auto note = content("pushTop", 1e308, 1e308);
    EXPECT_EQ(note->timeout(), 1e308);
    EXPECT_EQ(note->speedFactor(), 1e308);
    controller->presentNotification(note);
    const double r = renderTimeOf(*note);
    advanceTo(r + 100);
    EXPECT_TRUE(onOverlay(*note));
    EXPECT_EQ(note->currentNotificationStep(), MVNotificationStepViewIsAppearing);
}

}  // namespace
