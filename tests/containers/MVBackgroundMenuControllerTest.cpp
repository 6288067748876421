// The background menu controller: set-up, the duration rule, opening and closing with
// their events, parked requests, the tap that closes, the status bar, pending types and
// the boot reset.
#include "libmerovane/bridge/MVStatusBarStyle.h"
#include "libmerovane/containers/MVBackgroundMenuAnimation.h"
#include "libmerovane/containers/MVViewControllerHierarchy.h"
#include "libmerovane/core/MVSplashScreenInterface.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/Application.h"
#include "tests/containers/MVBackgroundMenuTestFixture.h"
#include "tests/support/AppearanceSequence.h"

namespace {

using Names = std::vector<std::string>;
using Parameters = std::vector<nlohmann::json>;

TEST_F(MVBackgroundMenuTest, SetUpPutsTheMenuViewInFrontOfTheContentAndIsTheDefault) {
    const auto& own = controller->view();
    ASSERT_EQ(own->subviews().size(), 2u);
    EXPECT_EQ(own->subviews()[0], controller->contentContainerView());
    EXPECT_EQ(own->subviews()[1], controller->menuView());
    EXPECT_EQ(content->view()->superview(), controller->contentContainerView());
    EXPECT_EQ(controller->menuView()->autoresizingMask(), 18u);
    EXPECT_EQ(controller->contentContainerView()->frame(), own->bounds());
    EXPECT_EQ(controller->viewState(), 1);
    EXPECT_FALSE(controller->isVisible());
    EXPECT_EQ(MVBackgroundMenuControllerInterface::sharedDefaultInstance(), controller);
    EXPECT_EQ(MVBackgroundMenuControllerInterface::sharedInstanceForIdentifier("primary"),
              controller);
    // The chain makes this class in both of its places.
    auto made = MVViewControllerHierarchy::containerClass("MVBackgroundMenuController")();
    EXPECT_TRUE(std::dynamic_pointer_cast<MVBackgroundMenuController>(made));
    EXPECT_EQ(MVBackgroundMenuControllerInterface::sharedDefaultInstance(), controller);
}

TEST_F(MVBackgroundMenuTest, TheChainMakesBothMenusAndNamesThem) {
    controller->setIdentifier(std::nullopt);  // the chain's menus take the names
    MVViewControllerHierarchy::install();
    auto named = [](const char* identifier) {
        return [identifier](const std::shared_ptr<platform::ViewController>& made) {
            std::dynamic_pointer_cast<MVBackgroundMenuControllerInterface>(made)->setIdentifier(
                identifier);
        };
    };
    auto chain = MVViewControllerHierarchyInterface::hierarchyWithControllers(
                     {{"MVBackgroundMenuController", named("primary")},
                      {"MVBackgroundMenuController", named("secondary")},
                      {"MVTabController", nullptr}})
                     ->viewControllers();
    MVViewControllerHierarchyInterface::setBuilder(nullptr);
    auto primary = std::dynamic_pointer_cast<MVBackgroundMenuController>(chain[0]);
    auto secondary = std::dynamic_pointer_cast<MVBackgroundMenuController>(chain[1]);
    ASSERT_TRUE(primary && secondary);
    EXPECT_EQ(MVBackgroundMenuControllerInterface::sharedInstanceForIdentifier("primary"), primary);
    EXPECT_EQ(MVBackgroundMenuControllerInterface::sharedInstanceForIdentifier("secondary"),
              secondary);
    EXPECT_EQ(primary->contentViewController(), secondary);
    EXPECT_EQ(secondary->view()->superview(), primary->contentContainerView());
    EXPECT_EQ(secondary->contentViewController(), chain[2]);
}

TEST_F(MVBackgroundMenuTest, DurationIsTheTypesTimesAPositiveFactor) {
    auto animation = MVBackgroundMenuAnimation::animationWithType("foregroundLeft", controller);
    const struct {
        std::optional<double> factor;
        double duration;
    } rows[] = {
        {std::nullopt, kDuration},  // the type's duration
        {0, kDuration},             // 0 and negative factors count as none
        {-2, kDuration},
        {2, kDuration * 2.0f},  // the factor in single precision
        {0.1, kDuration * 0.1f},
        {1e-50, kDuration},  // 0 in single precision
    };
    for (const auto& row : rows)
        EXPECT_EQ(MVBackgroundMenuController::durationForSpeedFactor(row.factor, *animation),
                  row.duration)
            << row.factor.value_or(-99);
}

TEST_F(MVBackgroundMenuTest, OpeningAndClosingWithOrWithoutRecognizer) {
    struct Row {
        const char* type;
        std::optional<std::string> recognizer;  // "pinch" is no recognizer type
        std::optional<std::string> shownAs;
    };
    const Row rows[] = {
        {"foregroundLeft", std::nullopt, std::nullopt},
        {"backgroundRight", std::nullopt, std::nullopt},
        {"foregroundLeft", std::nullopt, "backgroundLeft"},
        {"foregroundLeft", "pinch", std::nullopt},
        {"foregroundRight", "screenEdge", std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.type) + " " + row.recognizer.value_or("none") + " " +
                     row.shownAs.value_or(""));
        auto page = setMenu(row.type, row.recognizer);
        EXPECT_EQ(bool(controller->menuGestureRecognizer()), row.recognizer == "screenEdge");
        controller->showWithPresentationType(row.shownAs, 2.0);
        EXPECT_EQ(controller->viewState(), 2);
        EXPECT_EQ(lastRun().duration, kDuration * 2.0f);
        EXPECT_EQ(currentWebView()->superview(), controller->menuView());
        platform::advanceBy(1);
        EXPECT_EQ(controller->viewState(), 3);
        EXPECT_EQ(controller->menuView()->frame().size, (platform::Size{300, kHeight}));
        // The opening has ended: the recognizer is about dragging only.
        EXPECT_EQ(page->eventNames(), (Names{"viewWillAppear", "viewDidAppear"}));
        controller->showWithPresentationType(std::nullopt, std::nullopt);  // open: nothing
        EXPECT_EQ(controller->viewState(), 3);

        controller->hideWithSpeedFactor(std::nullopt);
        EXPECT_EQ(controller->viewState(), 4);
        controller->hideWithSpeedFactor(std::nullopt);  // closing: nothing
        platform::advanceBy(1);
        EXPECT_EQ(controller->viewState(), 1);
        EXPECT_FALSE(controller->currentAnimation());
        EXPECT_TRUE(controller->menuView()->subviews().empty());
        EXPECT_EQ(page->eventNames(), (Names{"viewWillAppear", "viewDidAppear", "viewWillDisappear",
                                             "viewDidDisappear"}));
        // Opened again, it hears the same once more.
        open();
        controller->hideWithSpeedFactor(std::nullopt);
        platform::advanceBy(1);
        EXPECT_EQ(appearanceAfter(page->eventNames()), "disappeared");
        EXPECT_EQ(page->eventNames().size(), 8u);
    }
}

TEST_F(MVBackgroundMenuTest, ClosingDuringTheOpeningNeverReportsItAppeared) {
    auto page = setMenu("foregroundLeft", "screenEdge");
    ASSERT_TRUE(controller->menuGestureRecognizer());
    controller->showWithPresentationType(std::nullopt, std::nullopt);
    platform::advanceBy(0.2);
    controller->hideWithSpeedFactor(std::nullopt);
    platform::advanceBy(2);
    EXPECT_EQ(controller->viewState(), 1);
    EXPECT_EQ(page->eventNames(),
              (Names{"viewWillAppear", "viewWillDisappear", "viewDidDisappear"}));
    EXPECT_EQ(page->parametersOf("viewDidDisappear"), Parameters{nlohmann::json::array({true})});

    // With a recognizer a full opening ends with viewDidAppear.
    open();
    EXPECT_EQ(page->eventNames().back(), "viewDidAppear");
}

TEST_F(MVBackgroundMenuTest, UnregisteredTypeOpensNothing) {
    auto page = setMenu("foregroundLeft");
    controller->showWithPresentationType("sideways", std::nullopt);
    platform::advanceBy(1);
    EXPECT_EQ(controller->viewState(), 1);
    EXPECT_TRUE(page->events().empty());
    EXPECT_TRUE(logged("no presentation type \"sideways\""));
}

TEST_F(MVBackgroundMenuTest, AnotherTypeOpensOnceThenTheDefaultAgain) {
    setMenu("foregroundLeft");
    open("backgroundRight");
    EXPECT_EQ(*controller->currentAnimation()->animationClass().animationType(), "backgroundRight");
    controller->hideWithSpeedFactor(std::nullopt);
    platform::advanceBy(1);
    open();
    EXPECT_EQ(controller->currentAnimation(), controller->defaultAnimation());
}

TEST_F(MVBackgroundMenuTest, ShowWhileTheFirstPageLoadsIsParkedAndReplaced) {
    controller->showWithPresentationType(std::nullopt, std::nullopt);  // no menu: ignored
    EXPECT_FALSE(controller->showRequest());
    auto page = loadMenu("foregroundLeft");
    controller->showWithPresentationType("pushInFromLeft", std::nullopt);
    controller->showWithPresentationType(std::nullopt, 2.0);
    ASSERT_TRUE(controller->showRequest());
    EXPECT_FALSE(controller->showRequest()->presentationType);
    ASSERT_TRUE(page->finishLoading({300, kHeight}));
    EXPECT_FALSE(controller->showRequest());
    EXPECT_EQ(controller->viewState(), 2);
    EXPECT_EQ(lastRun().duration, kDuration * 2.0f);
}

TEST_F(MVBackgroundMenuTest, HideBeforeTheFirstPageRendersCancelsTheParkedShow) {
    auto page = loadMenu("foregroundLeft");
    controller->showWithPresentationType(std::nullopt, std::nullopt);
    controller->hideWithSpeedFactor(std::nullopt);
    ASSERT_TRUE(page->finishLoading({300, kHeight}));
    platform::advanceBy(1);
    EXPECT_EQ(controller->viewState(), 1);
    EXPECT_EQ(currentWebView(), page->webView);
}

TEST_F(MVBackgroundMenuTest, TapOnThePageReachesItTapOnTheContentCloses) {
    setMenu("foregroundLeft", std::nullopt, 2.0);
    open();
    auto hit = window->sendTap({100, 300});
    ASSERT_TRUE(hit);
    EXPECT_TRUE(hit->isDescendantOfView(currentWebView().get()));
    EXPECT_EQ(controller->viewState(), 3);

    platform::clearAnimationLog();
    EXPECT_EQ(window->sendTap({340, 300}), controller->view());
    EXPECT_EQ(controller->viewState(), 4);
    EXPECT_EQ(lastRun().duration, kDuration * 2.0f);  // the menu's speed factor
}

TEST_F(MVBackgroundMenuTest, OpenMenuPageAnswersForTheStatusBar) {
    auto& application = platform::Application::shared();
    auto page = setMenu("foregroundLeft");
    page->chooseStatusBarStyle("light");
    EXPECT_EQ(application.statusBarStyle(), platform::StatusBarStyle::Default);  // closed
    controller->showWithPresentationType(std::nullopt, std::nullopt);
    EXPECT_EQ(application.statusBarStyle(), platform::StatusBarStyle::LightContent);
    controller->hideWithSpeedFactor(std::nullopt);  // closing: the content again
    EXPECT_EQ(application.statusBarStyle(), platform::StatusBarStyle::Default);
}

TEST_F(MVBackgroundMenuTest, PageAsksToCloseAndGetsItsContext) {
    auto page = setMenu("foregroundLeft");
    open();
    page->askToClose();
    EXPECT_EQ(controller->viewState(), 4);
    auto context = controller->pageContextForSource("mvapi:menu", "", true, {});
    ASSERT_TRUE(context);
    EXPECT_NE(context->parameters().dump().find("\"backgroundMenu\""), std::string::npos);
    EXPECT_NE(context->parameters().dump().find("\"primary\""), std::string::npos);
}

TEST_F(MVBackgroundMenuTest, RecognizerWithoutDefaultAnimationWaitsForOne) {
    setMenu("sideways", "screenEdge");
    EXPECT_FALSE(controller->defaultAnimation());
    EXPECT_FALSE(controller->menuGestureRecognizer());
    EXPECT_EQ(controller->nextDefaultGestureRecognizer(), "screenEdge");
    EXPECT_TRUE(logged("no default animation, gesture recognizer \"screenEdge\" waits for one"));

    controller->showWithPresentationType("foregroundLeft", std::nullopt);  // opens all the same
    platform::advanceBy(1);
    controller->hideWithSpeedFactor(std::nullopt);
    platform::advanceBy(1);
    EXPECT_EQ(controller->viewState(), 1);
    EXPECT_FALSE(controller->menuGestureRecognizer());  // still no default animation

    setMenu("foregroundRight", "screenEdge");
    ASSERT_TRUE(controller->menuGestureRecognizer());
    EXPECT_EQ(std::string(controller->menuGestureRecognizer()->recognizerType()), "screenEdge");
}

TEST_F(MVBackgroundMenuTest, UnregisteredRecognizerDetaches) {
    setMenu("foregroundLeft", "screenEdge");
    ASSERT_TRUE(controller->menuGestureRecognizer());
    setMenu("foregroundLeft", "pinch");
    EXPECT_FALSE(controller->menuGestureRecognizer());
    EXPECT_TRUE(controller->view()->gestureRecognizers().empty());
}

TEST_F(MVBackgroundMenuTest, BootLeavesNoMenuNoAnimationNoRecognizer) {
    auto page = setMenu("foregroundLeft", "screenEdge");
    open();
    loadMenu("foregroundRight");
    platform::NotificationCenter::defaultCenter().post(MVLibraryApplicationReceivedBootAppCommand);
    platform::advanceBy(1);
    EXPECT_EQ(controller->viewState(), 1);
    EXPECT_EQ(controller->currentFraction(), 0);
    EXPECT_EQ(controller->updatingState(), 0);
    EXPECT_FALSE(controller->currentMenu());
    EXPECT_FALSE(controller->nextMenu());
    EXPECT_FALSE(controller->currentAnimation());
    EXPECT_FALSE(controller->defaultAnimation());
    EXPECT_FALSE(controller->menuGestureRecognizer());
    EXPECT_FALSE(page->webView->superview());
    controller->showWithPresentationType(std::nullopt, std::nullopt);
    EXPECT_EQ(controller->viewState(), 1);
}

}  // namespace
