// The tab controller in a window: making and presenting tabs, transitions on the manual
// clock, tabDidChange reaching a listening page, insets, unknown transitions and the boot
// reset.
#include <gtest/gtest.h>

#include "libmerovane/bridge/MVEventDispatcher.h"
#include "libmerovane/bridge/MVStatusBarStyle.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/containers/MVNavigationController.h"
#include "libmerovane/containers/MVTabController.h"
#include "libmerovane/containers/MVViewControllerHierarchy.h"
#include "libmerovane/core/MVSplashScreenInterface.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/Animation.h"
#include "platform/ui/View.h"
#include "platform/ui/Window.h"
#include "tests/support/ContainerPageDriver.h"
#include "tests/support/PlatformTest.h"

namespace {

using platform::EdgeInsets;
using platform::Rect;

// A tab that notes when a transition tells it of its start and end.
class RecordingTab : public MVNavigationController {
  public:
    static std::shared_ptr<RecordingTab> make(const std::string& identifier,
                                              std::vector<std::string>& told) {
        auto tab = setUp(std::shared_ptr<RecordingTab>(new RecordingTab(told)));
        tab->setIdentifier(identifier);
        return tab;
    }
    void tabControllerWillStartsTransitionWith(platform::ViewController& tabs,
                                               MVTabTransition& transition) override {
        told_.push_back("willStart " + identifier().value_or(""));
        MVNavigationController::tabControllerWillStartsTransitionWith(tabs, transition);
    }
    void tabControllerDidEndTransitionWith(platform::ViewController& tabs,
                                           MVTabTransition& transition) override {
        told_.push_back("didEnd " + identifier().value_or(""));
        MVNavigationController::tabControllerDidEndTransitionWith(tabs, transition);
    }

  private:
    explicit RecordingTab(std::vector<std::string>& told) : told_(told) {}
    std::vector<std::string>& told_;
};

class MVTabControllerTest : public PlatformTest {
  protected:
    void SetUp() override {
        PlatformTest::SetUp();
        tabs = MVTabController::create();
        window = platform::Window::create(Rect(0, 0, 320, 480));
        window->setRootViewController(tabs);
        window->makeKeyAndVisible();
        listener = ContainerPage::create();
        ASSERT_TRUE(listener->render({320, 480}));
        MVEventDispatcher::sharedDispatcher().registerWebView(listener->webView, {"tabDidChange"});
    }
    void TearDown() override {
        window.reset();
        tabs.reset();
        listener.reset();
        platform::runUntilIdle();
        PlatformTest::TearDown();
    }

    std::vector<nlohmann::json> tabChanges() { return listener->parametersOf("tabDidChange"); }
    // Tab "" shown, tab "b" made; both record what transitions tell them.
    void makeTwoTabs() {
        home = RecordingTab::make("", told);
        b = RecordingTab::make("b", told);
        ASSERT_EQ(tabs->defaultNavigationController(), home);
        platform::runUntilIdle();
    }
    std::vector<std::shared_ptr<platform::View>> tabViews() {
        std::vector<std::shared_ptr<platform::View>> views;
        for (const auto& view : tabs->view()->subviews())
            if (view != tabs->contentContainerView()) views.push_back(view);
        return views;
    }

    std::shared_ptr<MVTabController> tabs;
    std::shared_ptr<platform::Window> window;
    std::shared_ptr<ContainerPage> listener;
    std::shared_ptr<RecordingTab> home;
    std::shared_ptr<RecordingTab> b;
    std::vector<std::string> told;
};

TEST_F(MVTabControllerTest, ASecondInstanceRaisesAndTheFirstIsInstalled) {
    EXPECT_EQ(MVTabController::sharedDefaultInstance(), tabs);
    EXPECT_EQ(MVTabControllerInterface::sharedDefaultInstance(),
              std::static_pointer_cast<MVTabControllerInterface>(tabs));
    try {
        MVTabController::create();
        ADD_FAILURE() << "no exception";
    } catch (const MVTabControllerDoubleInitializationException& e) {
        EXPECT_EQ(e.name(), "MVTabController can not initialized twice");
        EXPECT_EQ(e.reason(),
                  "MVTabController is meant to be a singleton. Only one instance can be "
                  "initialized. Call the sharedDefaultInstance method to get it.");
    }
}

TEST_F(MVTabControllerTest, TheFirstTabIsShownDirectlyAndAnnounced) {
    EXPECT_FALSE(tabs->currentPresentedTab());
    auto tab = tabs->navigationController(std::nullopt);
    EXPECT_EQ(tab->identifier(), "");
    EXPECT_EQ(tabs->currentPresentedTab(), tab);
    EXPECT_EQ(tab->view()->frame(), Rect(0, 0, 320, 480));
    EXPECT_EQ(tab->view()->superview(), tabs->view());
    EXPECT_EQ(tabs->navigationController(std::string("other"))->view()->superview(), nullptr);
    platform::runUntilIdle();
    EXPECT_EQ(tabChanges(), std::vector<nlohmann::json>{nlohmann::json::array({""})});
}

TEST_F(MVTabControllerTest, ASlideRunsItsStepsOnTheClockAndEndsWithTheOldTabRemoved) {
    makeTwoTabs();
    platform::clearAnimationLog();
    const int64_t started = platform::Clock::monotonicNanos();

    tabs->presentNavigationControllerWithIdentifier("b", "slideInFromBottom", -2.0);
    EXPECT_EQ(tabChanges().back(), nlohmann::json::array({"b"}));
    EXPECT_EQ(b->view()->frame(), Rect(0, 480, 320, 480));
    EXPECT_EQ(tabViews(), (std::vector{home->view(), b->view()}));
    EXPECT_EQ(told, (std::vector<std::string>{"willStart b", "willStart "}));
    EXPECT_TRUE(platform::animationLog().empty());
    EXPECT_TRUE(b->isBeingAnimated());

    platform::runUntilIdle();  // the next turn
    ASSERT_EQ(platform::animationLog().size(), 1u);
    EXPECT_DOUBLE_EQ(platform::animationLog()[0].duration, 0.6);
    EXPECT_EQ(b->view()->frame(), Rect(0, 0, 320, 480));

    platform::advanceBy(0.599);
    EXPECT_EQ(told.size(), 2u);
    EXPECT_TRUE(tabs->currentTransition());
    platform::advanceBy(0.001);
    EXPECT_EQ(platform::Clock::monotonicNanos() - started, 600'000'000);
    EXPECT_EQ(told, (std::vector<std::string>{"willStart b", "willStart ", "didEnd b", "didEnd "}));
    EXPECT_EQ(tabViews(), std::vector{b->view()});
    EXPECT_FALSE(tabs->currentTransition());
    EXPECT_FALSE(b->isBeingAnimated());
    EXPECT_EQ(tabs->currentPresentedTab(), b);
}

TEST_F(MVTabControllerTest, AFactorOfZeroRunsTheSlideAtItsBaseDuration) {
    makeTwoTabs();
    platform::clearAnimationLog();
    tabs->presentNavigationControllerWithIdentifier("b", "slideOutToBottom", 0.0);
    EXPECT_EQ(tabViews(), (std::vector{b->view(), home->view()}));
    platform::runUntilIdle();
    ASSERT_EQ(platform::animationLog().size(), 1u);
    EXPECT_DOUBLE_EQ(platform::animationLog()[0].duration, 0.3);
    platform::advanceBy(0.3);
    EXPECT_FALSE(tabs->currentTransition());
    EXPECT_EQ(tabViews(), std::vector{b->view()});

    // So does a factor that is 0 in single precision.
    tabs->presentNavigationControllerWithIdentifier("", "slideOutToBottom", 1e-50);
    ASSERT_TRUE(tabs->currentTransition());
    EXPECT_EQ(tabs->currentTransition()->speedFactor(), 1.0);
}

TEST_F(MVTabControllerTest, ALateStepOfASupersededTransitionLeavesTheRunningOneAlone) {
    makeTwoTabs();
    tabs->presentNavigationControllerWithIdentifier("b", "slideInFromBottom", std::nullopt);
    auto first = tabs->currentTransition();
    platform::runUntilIdle();
    platform::advanceBy(0.1);

    tabs->presentNavigationControllerWithIdentifier("", "slideInFromBottom", std::nullopt);
    auto second = tabs->currentTransition();
    ASSERT_TRUE(second);
    ASSERT_NE(second, first);
    EXPECT_FALSE(first->disappearingViewController());
    told.clear();
    platform::runUntilIdle();

    // The first one's Finished step falls due at 0.3 s.
    platform::advanceBy(0.2);
    EXPECT_EQ(tabs->currentTransition(), second);
    EXPECT_TRUE(told.empty());
    EXPECT_TRUE(home->isBeingAnimated());
    EXPECT_FALSE(logged("is not is supposed to be"));

    platform::advanceBy(0.1);
    EXPECT_FALSE(tabs->currentTransition());
    EXPECT_EQ(told, (std::vector<std::string>{"didEnd ", "didEnd b"}));
    EXPECT_EQ(tabViews(), std::vector{home->view()});
    EXPECT_EQ(home->view()->frame(), Rect(0, 0, 320, 480));
}

TEST_F(MVTabControllerTest, ALateStepWithNoTransitionRunningSnapsTheShownTabAndSaysSo) {
    makeTwoTabs();
    tabs->presentNavigationControllerWithIdentifier("b", "slideInFromBottom", std::nullopt);
    auto first = tabs->currentTransition();
    platform::runUntilIdle();
    tabs->presentNavigationControllerWithIdentifier("", std::nullopt, std::nullopt);
    home->view()->setFrame(Rect(0, 100, 320, 480));
    told.clear();
    platform::advanceBy(0.3);
    EXPECT_TRUE(logged("The end frame  <"));
    EXPECT_TRUE(
        logged("> of MVTabTransition<MVTabTransitionSlideInFromBottom> is not is supposed "
               "to be: <"));
    EXPECT_EQ(home->view()->frame(), Rect(0, 0, 320, 480));
    EXPECT_TRUE(told.empty());
}

TEST_F(MVTabControllerTest, PresentingTheShownTabEndsARunningTransitionAndDoesNothingMore) {
    makeTwoTabs();
    tabs->presentNavigationControllerWithIdentifier("b", "slideInFromBottom", std::nullopt);
    const auto changes = tabChanges().size();
    tabs->presentNavigationControllerWithIdentifier("b", std::nullopt, std::nullopt);
    EXPECT_FALSE(tabs->currentTransition());
    EXPECT_EQ(told.back(), "didEnd ");
    EXPECT_EQ(tabViews(), std::vector{b->view()});
    EXPECT_EQ(b->view()->frame(), Rect(0, 0, 320, 480));
    platform::runUntilIdle();
    EXPECT_EQ(tabChanges().size(), changes);
    platform::advanceBy(1);  // the steps it had scheduled find it ended
    EXPECT_EQ(b->view()->frame(), Rect(0, 0, 320, 480));
    EXPECT_EQ(tabViews(), std::vector{b->view()});
    EXPECT_FALSE(logged("is not is supposed to be"));
}

TEST_F(MVTabControllerTest, ACleanDuringATransitionIsCarriedOutWhenItEnds) {
    makeTwoTabs();
    b->pushViewController(platform::ViewController::create(), false);
    tabs->presentNavigationControllerWithIdentifier("b", "slideInFromBottom", std::nullopt);
    b->clean();
    EXPECT_TRUE(b->isRequestedCleanTab());
    EXPECT_FALSE(b->hasEmptyStack());
    platform::advanceBy(1);
    EXPECT_FALSE(b->isRequestedCleanTab());
    EXPECT_TRUE(b->hasEmptyStack());
    EXPECT_EQ(b->viewControllers().size(), 1u);  // the placeholder
    EXPECT_EQ(b->transitionViolationsForTesting(), 0);
}

TEST_F(MVTabControllerTest, AnUnknownTransitionIsLoggedAndReportedTwiceAndSwitchesAtOnce) {
    makeTwoTabs();
    b->view()->setFrame(Rect(0, 40, 320, 480));
    tabs->presentNavigationControllerWithIdentifier("b", "spin", 1.0);
    EXPECT_TRUE(logged("Transition class with identifier <spin> not found."));
    EXPECT_TRUE(
        logged("Transition class with identifier <spin> is not subclass of transition base class "
               "MVTabTransition."));
    EXPECT_TRUE(logged("Transition class not found."));
    EXPECT_TRUE(logged("Transition class is not subclass of trabnsition base class"));
    EXPECT_FALSE(tabs->currentTransition());
    EXPECT_EQ(tabViews(), std::vector{b->view()});
    EXPECT_EQ(b->view()->frame(), Rect(0, 0, 320, 480));
    EXPECT_EQ(tabChanges().back(), nlohmann::json::array({"b"}));
}

TEST_F(MVTabControllerTest, InsetsReachEveryTabAndLaterTabs) {
    makeTwoTabs();
    const EdgeInsets insets{20, 0, 49, 0};
    tabs->viewShouldAdjustInsets(insets, true);
    EXPECT_EQ(home->inheritedInsets(), insets);
    EXPECT_EQ(b->inheritedInsets(), insets);
    EXPECT_EQ(tabs->navigationController(std::string("late"))->inheritedInsets(), insets);
}

TEST_F(MVTabControllerTest, StatusBarAnswersComeFromTheShownTabElseTheDefault) {
    MVStatusBarStyle::setStatusBarStyleAsAppDefault(*MVStatusBarStyle::statusBarStyleNone());
    EXPECT_TRUE(tabs->prefersStatusBarHidden());
    tabs->defaultNavigationController()->pushViewController(platform::ViewController::create(),
                                                            false);
    EXPECT_FALSE(tabs->prefersStatusBarHidden());
}

TEST_F(MVTabControllerTest, TheBootCommandDropsEveryTabAndTheNextIsShownDirectly) {
    makeTwoTabs();
    tabs->presentNavigationControllerWithIdentifier("b", "slideInFromBottom", std::nullopt);
    told.clear();
    platform::NotificationCenter::defaultCenter().post(MVLibraryApplicationReceivedBootAppCommand);
    EXPECT_FALSE(tabs->currentPresentedTab());
    EXPECT_FALSE(tabs->currentTransition());
    EXPECT_TRUE(tabViews().empty());
    EXPECT_TRUE(MVNavigationController::allSharedIdentifiedInstances().empty());
    platform::advanceBy(1);
    EXPECT_TRUE(told.empty());

    const auto changes = tabChanges().size();
    auto fresh = tabs->navigationController(std::string("b"));
    EXPECT_NE(fresh, b);
    EXPECT_EQ(tabs->currentPresentedTab(), fresh);
    platform::runUntilIdle();
    EXPECT_EQ(tabChanges().size(), changes + 1);
    EXPECT_EQ(tabChanges().back(), nlohmann::json::array({"b"}));
}

using MVTabControllerChainTest = PlatformTest;

TEST_F(MVTabControllerChainTest, TheChainMakesTheTabControllerAsItsInnermostContainer) {
    MVViewControllerHierarchy::install();
    auto chain = MVViewControllerHierarchyInterface::hierarchyWithControllers(
        {{"MVMenuBarController", nullptr}, {"MVTabController", nullptr}});
    ASSERT_TRUE(chain);
    EXPECT_EQ(chain->viewControllers().back(), MVTabController::sharedDefaultInstance());
    EXPECT_EQ(MVTabControllerInterface::sharedDefaultInstance(),
              std::static_pointer_cast<MVTabControllerInterface>(
                  MVTabController::sharedDefaultInstance()));
    MVViewControllerHierarchyInterface::setBuilder(nullptr);
}

}  // namespace
