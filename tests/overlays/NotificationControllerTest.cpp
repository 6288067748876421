// The notification controller: its place in the chain, the type registry, the queue,
// touches, the boot reset and the status-bar answers.
#include <gtest/gtest.h>

#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/bridge/MVStatusBarStyle.h"
#include "libmerovane/containers/MVViewControllerHierarchy.h"
#include "libmerovane/core/MVSplashScreenInterface.h"
#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "platform/foundation/NotificationCenter.h"
#include "tests/overlays/NotificationPageTest.h"

using nlohmann::json;

namespace {

using NotificationControllerTest = NotificationPageTest;

// A class that answers its superclass's presentation type.
class UntypedNote : public MVNotificationPushTop {};
// A class that names a type already taken.
class SecondPushTop : public MVNotificationPushTop {
  public:
    static std::optional<std::string> notificationType() { return "pushTop"; }
};

TEST_F(NotificationControllerTest, InstalledItIsTheChainsNotificationContainerAndTheCommandsOne) {
    MVNotificationController::install();
    MVViewControllerHierarchy::install();
    auto hierarchy = MVViewControllerHierarchyInterface::hierarchyWithControllers({
        {"MVNotificationController",
         [](const std::shared_ptr<platform::ViewController>& made) {
             std::dynamic_pointer_cast<MVNotificationControllerInterface>(made)->setIdentifier(
                 "notifications");
         }},
        {"MVTabController", nullptr},
    });
    ASSERT_TRUE(hierarchy);
    auto chained =
        std::dynamic_pointer_cast<MVNotificationController>(hierarchy->viewControllers()[0]);
    ASSERT_TRUE(chained);
    EXPECT_EQ(chained->contentViewController(), hierarchy->viewControllers()[1]);
    EXPECT_EQ(hierarchy->viewControllers()[1]->view()->superview(),
              chained->contentContainerView());
    const auto& subviews = chained->view()->subviews();
    ASSERT_EQ(subviews.size(), 2u);
    EXPECT_EQ(subviews[0], chained->contentContainerView());
    EXPECT_EQ(subviews[1], chained->overlayView());
    EXPECT_TRUE(std::dynamic_pointer_cast<MVNotificationControllerView>(chained->view()));
    EXPECT_EQ(MVNotificationControllerInterface::sharedInstanceForIdentifier("notifications"),
              chained);

    // The fixture's controller came first and is the default one.
    EXPECT_EQ(MVNotificationControllerInterface::sharedDefaultInstance(), controller);
    registerCommandHandlerClasses();
    MVCommandHandler::performCommandsFromCommandCollection(
        json{{"ver", "1.0"},
             {"cmds",
              {{{"c", "presentNotification"},
                {"p",
                 {{"targetNotificationController", "notifications"},
                  {"presentationType", "pushBottom"},
                  {"content", "<p>sale</p>"},
                  {"timeout", 2}}}}}}},
        nullptr);
    ASSERT_EQ(chained->notificationQueue().size(), 1u);
    auto note =
        std::dynamic_pointer_cast<MVNotificationPushBottom>(chained->notificationQueue()[0]);
    ASSERT_TRUE(note);
    EXPECT_EQ(note->timeout(), 2);
    EXPECT_TRUE(controller->notificationQueue().empty());
}

TEST_F(NotificationControllerTest, TheRegistryHoldsTheSixTypesBuiltOnce) {
    const auto types = MVNotificationController::registeredNotificationTypes();
    std::vector<std::string> names;
    for (const auto& [name, cls] : types) names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"centeredFade", "leftToRight", "pushBottom",
                                               "pushTop", "rightToLeft", "topToBottom"}));
    EXPECT_EQ(types.at("pushTop"), MVNotificationPushTop::classObject());
    EXPECT_EQ(MVNotificationController::registeredNotificationTypes(), types);
}

TEST_F(NotificationControllerTest, ATypeGivenTwiceRaisesAndTheFailedBuildIsNotKept) {
    MVNotificationController::addNotificationClass(
        MVNotificationClass::of<SecondPushTop, MVNotificationPushTop>("SecondPushTop"));
    for (int call = 0; call < 2; ++call)
        expectRaise([] { MVNotificationController::registeredNotificationTypes(); },
                    "MVNotification type given twice",
                    "MVNotification type has given twice: \"pushTop\".\n");
}

TEST_F(NotificationControllerTest, AClassThatDoesNotNameItsOwnTypeRaises) {
    MVNotificationController::addNotificationClass(
        MVNotificationClass::of<UntypedNote, MVNotificationPushTop>("UntypedNote"));
    expectRaise([] { MVNotificationController::registeredNotificationTypes(); },
                "MVNotificaton type not given",
                "MVNotification type not given in subclass: \"UntypedNote\".");
}

TEST_F(NotificationControllerTest, QueuedNotificationsStartOneAfterTheOther) {
    StepNote::steps()[MVNotificationStepStart] =
        StepNote::leadingTo("Start", MVNotificationStepFinished, 1);
    StepNote::steps()[MVNotificationStepFinished] = StepNote::recording("Finished");
    auto first = StepNote::make();
    auto second = StepNote::make();
    auto third = StepNote::make();
    for (const auto& note : {first, second, third}) controller->presentNotification(note);
    EXPECT_TRUE(controller->isFirstInQueue(*first));
    EXPECT_FALSE(controller->isFirstInQueue(*second));
    EXPECT_EQ(first->currentNotificationStep(), MVNotificationStepInit);
    EXPECT_EQ(second->nextNotificationStep(), std::nullopt);
    advanceTo(kInit + 1 - kTick);
    EXPECT_EQ(second->currentNotificationStep(), std::nullopt);
    // The first ends; the second starts on the zero-delay pass after it.
    advanceTo(kInit + 1);
    EXPECT_EQ(controller->notificationQueue().size(), 2u);
    EXPECT_EQ(second->currentNotificationStep(), MVNotificationStepInit);
    advanceTo(2 * (kInit + 1));
    EXPECT_EQ(third->currentNotificationStep(), MVNotificationStepInit);
    advanceTo(3 * (kInit + 1));
    EXPECT_EQ(stepNames(), (std::vector<std::string>{"Start", "Finished", "Start", "Finished",
                                                     "Start", "Finished"}));
    EXPECT_TRUE(controller->notificationQueue().empty());
}

// One presented between the end of the one before and the zero-delay pass is started by
// presenting; the pass used to start it again and send it back to Init.
TEST_F(NotificationControllerTest, ANotificationStartedBeforeThePassIsNotStartedAgain) {
    StepNote::steps()[MVNotificationStepStart] = StepNote::recording("Start");
    StepNote::steps()[MVNotificationStepFinished] = StepNote::recording("Finished");
    auto first = StepNote::make();
    controller->presentNotification(first);
    advanceTo(kInit);
    first->checkForSucceedingStep();  // Finished: the pass is pending
    auto next = StepNote::make();
    controller->presentNotification(next);
    EXPECT_EQ(next->stepsRun(), 1u);
    EXPECT_EQ(next->nextNotificationStep(), MVNotificationStepStart);
    platform::runUntilIdle();
    EXPECT_EQ(next->stepsRun(), 1u);
    EXPECT_EQ(next->nextNotificationStep(), MVNotificationStepStart);
}

TEST_F(NotificationControllerTest, TouchesReachOnlyTheNotificationsWhileOneIsOnScreen) {
    const auto& overlay = controller->overlayView();
    EXPECT_FALSE(overlay->pointInside({10, 10}));
    auto a = platform::View::create({0, 0, 100, 50});
    auto b = platform::View::create({200, 600, 100, 50});
    controller->addNotificationView(a);
    controller->addNotificationView(b);
    EXPECT_EQ(overlay->subviews().back(), b);
    EXPECT_TRUE(overlay->pointInside({10, 10}));
    EXPECT_TRUE(overlay->pointInside({250, 620}));
    EXPECT_FALSE(overlay->pointInside({150, 300}));
    a->removeFromSuperview();
    b->removeFromSuperview();

    auto note = content("pushTop");
    controller->presentNotification(note);
    EXPECT_EQ(controller->amountUserInteractionDisabled(), 1);
    EXPECT_FALSE(controller->contentContainerView()->isUserInteractionEnabled());
    const double r = renderTimeOf(*note);
    advanceTo(r + 2);
    EXPECT_TRUE(overlay->pointInside({187.5, 40}));
    EXPECT_FALSE(overlay->pointInside({187.5, 300}));
    // A tap inside reaches the page; one elsewhere neither the page nor the content.
    auto below = platform::ViewController::create();
    controller->setContentViewController(below);
    auto inside = controller->view()->hitTest({187.5, 40});
    EXPECT_TRUE(inside && (inside == note->notificationWebView() ||
                           inside->isDescendantOfView(note->notificationWebView().get())));
    EXPECT_EQ(controller->view()->hitTest({187.5, 300}), controller->view());
    pageOf(*note)->askToClose();
    advanceTo(r + 3);
    EXPECT_EQ(controller->amountUserInteractionDisabled(), 0);
    EXPECT_TRUE(controller->contentContainerView()->isUserInteractionEnabled());
    // A late end of a dropped notification cannot take the counter below 0.
    controller->notificationDidFinishPresenting(*note);
    EXPECT_EQ(controller->amountUserInteractionDisabled(), 0);
}

TEST_F(NotificationControllerTest, TheBootCommandDropsEveryNotification) {
    auto shown = content("pushTop");
    auto waiting1 = content("pushBottom");
    auto waiting2 = content("centeredFade");
    auto unqueued = StepNote::make();
    unqueued->queued = false;
    StepNote::steps()[MVNotificationStepStart] = StepNote::recording("Start");
    for (const auto& note : {shown, waiting1, waiting2}) controller->presentNotification(note);
    controller->presentNotification(unqueued);
    const double r = renderTimeOf(*shown);
    advanceTo(r + 2);
    ASSERT_TRUE(onOverlay(*shown));

    platform::NotificationCenter::defaultCenter().post(MVLibraryApplicationReceivedBootAppCommand);
    EXPECT_TRUE(shown->isAborted());
    EXPECT_FALSE(waiting1->isAborted());
    EXPECT_EQ(unqueued->aborts, 1);
    EXPECT_FALSE(onOverlay(*shown));
    EXPECT_TRUE(controller->overlayView()->subviews().empty());
    EXPECT_TRUE(controller->notificationQueue().empty());
    EXPECT_TRUE(controller->unqueuedPresentedNotification().empty());
    EXPECT_TRUE(controller->contentContainerView()->isUserInteractionEnabled());
    EXPECT_EQ(controller->amountUserInteractionDisabled(), 0);
    advanceTo(r + 10);
    EXPECT_EQ(eventNames(*shown), (std::vector<std::string>{"viewWillAppear", "viewDidAppear"}));

    auto later = content("pushTop");
    controller->presentNotification(later);
    EXPECT_EQ(later->nextNotificationStep(), MVNotificationStepInit);
    const double rLater = renderTimeOf(*later);
    advanceTo(rLater + 1 + kInit);
    EXPECT_TRUE(onOverlay(*later));
}

TEST_F(NotificationControllerTest, WithoutNotificationsTheStatusBarAnswersComeFromBelow) {
    MVStatusBarStyle::setStatusBarStyleAsAppDefault(*MVStatusBarStyle::statusBarStyleNone());
    EXPECT_TRUE(controller->prefersStatusBarHidden());
    EXPECT_EQ(controller->preferredStatusBarStyle(), platform::StatusBarStyle::Default);
    class Content : public platform::ViewController {
      public:
        platform::StatusBarStyle preferredStatusBarStyle() const override {
            return platform::StatusBarStyle::LightContent;
        }
    };
    controller->setContentViewController(std::make_shared<Content>());
    EXPECT_FALSE(controller->prefersStatusBarHidden());
    EXPECT_EQ(controller->preferredStatusBarStyle(), platform::StatusBarStyle::LightContent);
}

}  // namespace
