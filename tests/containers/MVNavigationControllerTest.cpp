// A tab's navigation stack in a window: pushes and pops through the preserving mechanism
// while the platform animates, the pop question, tags, the memory-warning trim, the
// interactive pop and what the header page hears of it all.
#include <gtest/gtest.h>

#include "tests/containers/NavigationTest.h"

namespace {

using platform::Rect;
using Controllers = MVNavigationController::Controllers;

TEST_F(MVNavigationControllerTest, ANewTabIsTrackedWithAHiddenBarAndAHeaderAboveItsPages) {
    EXPECT_EQ(MVNavigationController::sharedInstanceForIdentifier(std::string()), tab);
    EXPECT_EQ(MVNavigationController::sharedDefaultInstance(), tab);
    EXPECT_TRUE(tab->platform::NavigationController::isNavigationBarHidden());
    EXPECT_TRUE(tab->isNavigationBarHidden());
    EXPECT_TRUE(tab->isVisible());
    EXPECT_FALSE(tab->isPopGestureEnabled());
    EXPECT_FALSE(tab->hasEmptyStack());
    EXPECT_EQ(tab->webViewHeader()->superview(), tab->view());
    EXPECT_NE(tab->webViewHeader()->debugName().find("NavigationBar:"), std::string::npos);
    settleWith({page("A")});
    EXPECT_EQ(tab->view()->subviews().back(), tab->webViewHeader());
    EXPECT_EQ(barEvents(), std::vector{bar("A", "none", false)});
}

TEST_F(MVNavigationControllerTest, TwoPushesInOneTurnReachThePlatformOneAnimationAfterTheOther) {
    const auto pages = pushTwoInOneTurn();
    const auto &a = pages[0], &b = pages[1], &c = pages[2];
    EXPECT_EQ(barEvents().back(), bar("B", "push", true));
    EXPECT_EQ(barEvents().size(), 2u);
    EXPECT_EQ(tab->viewControllers(), (Controllers{a, b}));
    EXPECT_EQ(tab->preservedViewControllers(), (Controllers{a, b, c}));
    EXPECT_EQ(tabs->navigationControllerForWebView(*c->webViewFinal()),
              std::static_pointer_cast<MVNavigationControllerInterface>(tab));

    platform::advanceBy(platform::kNavigationTransitionDuration);  // didShow(B), the next turn
    EXPECT_EQ(barEvents().back(), bar("C", "push", true));
    EXPECT_EQ(tab->viewControllers(), (Controllers{a, b, c}));
    EXPECT_TRUE(tab->isPreservingViewControllers());

    platform::advanceBy(platform::kNavigationTransitionDuration);  // didShow(C)
    EXPECT_FALSE(tab->isPreservingViewControllers());
    EXPECT_FALSE(MVNavigationController::preservingNavigationControllerForViewController(*c));
    EXPECT_EQ(tabs->navigationControllerForWebView(*c->webViewFinal()),
              std::static_pointer_cast<MVNavigationControllerInterface>(tab));
    EXPECT_EQ(barEvents().size(), 3u);
    EXPECT_EQ(tab->transitionViolationsForTesting(), 0);
}

// The tab is switched away while its first push animates: preserving still ends with that
// animation, the second push reaches the platform, and a later push goes straight on.
class SwitchedAway : public MVNavigationControllerTest {
  protected:
    void pushTwiceThenSwitchAway(const std::optional<std::string>& transition) {
        const auto pages = pushTwoInOneTurn();
        const auto &a = pages[0], &b = pages[1], &c = pages[2];
        tabs->presentNavigationControllerWithIdentifier("other", transition, std::nullopt);

        platform::advanceBy(2);
        EXPECT_FALSE(tab->isPreservingViewControllers());
        EXPECT_EQ(tab->viewControllers(), (Controllers{a, b, c}));
        EXPECT_FALSE(MVNavigationController::preservingNavigationControllerForViewController(*c));
        EXPECT_EQ(c->view()->superview(), tab->view());

        tabs->presentNavigationControllerWithIdentifier("", std::nullopt, std::nullopt);
        auto d = page("D");
        tab->pushViewController(d, true);
        platform::advanceBy(1);
        EXPECT_EQ(tab->viewControllers(), (Controllers{a, b, c, d}));
        EXPECT_FALSE(tab->isPreservingViewControllers());
        EXPECT_EQ(barEvents().back(), bar("D", "push", true));
        EXPECT_EQ(tab->transitionViolationsForTesting(), 0);
    }
};

TEST_F(SwitchedAway, AtOnce) {
    pushTwiceThenSwitchAway(std::nullopt);
}

TEST_F(SwitchedAway, ByATransition) {
    pushTwiceThenSwitchAway("slideInFromBottom");
}

// The placeholder comes off-window: preserving ends all the same.
TEST_F(SwitchedAway, RightAfterItsStackWasEmptied) {
    emptyByTags();
    tabs->presentNavigationControllerWithIdentifier("other", std::nullopt, std::nullopt);
    platform::advanceBy(1);
    EXPECT_FALSE(tab->isPreservingViewControllers());
    EXPECT_TRUE(tab->hasEmptyStack());
    EXPECT_EQ(tab->viewControllers().size(), 1u);

    tabs->presentNavigationControllerWithIdentifier("", std::nullopt, std::nullopt);
    auto d = page("D");
    tab->pushViewController(d, true);
    platform::advanceBy(1);
    EXPECT_EQ(tab->viewControllers(), Controllers{d});
    EXPECT_FALSE(tab->isPreservingViewControllers());
    EXPECT_EQ(barEvents().back(), bar("D", "push", false));
}

// The boot command drops a tab in mid-animation: the preserving registry lets it go.
TEST_F(MVNavigationControllerTest, TheBootCommandFreesATabThatPreserves) {
    const auto pages = pushTwoInOneTurn();
    const auto &b = pages[1], &c = pages[2];
    ASSERT_EQ(MVNavigationController::preservingNavigationControllerForViewController(*c), tab);
    std::weak_ptr<MVNavigationController> dropped = tab;
    tab.reset();

    platform::NotificationCenter::defaultCenter().post(MVLibraryApplicationReceivedBootAppCommand);
    platform::runUntilIdle();
    EXPECT_FALSE(dropped.lock());
    EXPECT_FALSE(MVNavigationController::preservingNavigationControllerForViewController(*b));
    EXPECT_FALSE(MVNavigationController::preservingNavigationControllerForViewController(*c));
    EXPECT_NO_THROW(platform::advanceBy(1));
    EXPECT_TRUE(MVNavigationController::allSharedIdentifiedInstances().empty());
}

TEST_F(MVNavigationControllerTest, APagePushedTwiceWhilePreservingIsPushedOnce) {
    const auto pages = pushTwoInOneTurn();
    const auto &a = pages[0], &b = pages[1], &c = pages[2];
    tab->pushViewController(c, true);
    EXPECT_TRUE(logged("pushing a view controller it holds ignored"));
    EXPECT_NO_THROW(platform::advanceBy(1));
    EXPECT_EQ(tab->viewControllers(), (Controllers{a, b, c}));
}

TEST_F(MVNavigationControllerTest, APageThatGoesBackInItsHistoryIsNotPopped) {
    auto a = page("A");
    auto b = page("B");
    giveHistory(*b, "t");
    settleWith({a, b});
    const auto told = barEvents().size();

    EXPECT_FALSE(tab->pop(true));
    EXPECT_EQ(tab->viewControllers(), (Controllers{a, b}));
    EXPECT_EQ(b->historySize(), 1);
    EXPECT_EQ(barEvents().size(), told);

    EXPECT_EQ(tab->pop(true), b);
    EXPECT_EQ(barEvents().back(), bar("A", "pop", false));
    platform::advanceBy(1);
    EXPECT_EQ(tab->viewControllers(), Controllers{a});
    EXPECT_FALSE(tab->pop(true));
    EXPECT_EQ(tab->transitionViolationsForTesting(), 0);
}

TEST_F(MVNavigationControllerTest, AMemoryWarningCutsALongInvisibleTabToItsRootAndTopTwo) {
    auto other = tabs->navigationController(std::string("other"));
    auto otherHeader = renderedHeader(*other);
    Controllers pages;
    for (int i = 1; i <= 12; ++i) pages.push_back(page("p" + std::to_string(i)));
    for (const auto& controller : pages) other->pushViewController(controller, false);
    EXPECT_FALSE(other->isVisible());
    EXPECT_FALSE(other->isPreservingViewControllers());
    const auto told = otherHeader->parametersOf("updateNavigationBar").size();

    other->didReceiveMemoryWarning();
    EXPECT_EQ(other->viewControllers(), (Controllers{pages[0], pages[10], pages[11]}));
    EXPECT_EQ(otherHeader->parametersOf("updateNavigationBar").size(), told);

    other->didReceiveMemoryWarning();  // three pages stay
    EXPECT_EQ(other->viewControllers().size(), 3u);
}

// Ten pages stay; from eleven on, the root and the top two, also while preserving.
TEST_F(MVNavigationControllerTest, AMemoryWarningTrimsFromElevenPagesOn) {
    Controllers pages;
    for (int i = 1; i <= 11; ++i) pages.push_back(page("p" + std::to_string(i)));
    settleWith(Controllers(pages.begin(), pages.begin() + 10));
    tab->didReceiveMemoryWarning();
    platform::advanceBy(1);
    EXPECT_EQ(tab->viewControllers().size(), 10u);

    tab->pushViewController(pages[10], true);
    ASSERT_TRUE(tab->isPreservingViewControllers());
    tab->didReceiveMemoryWarning();
    EXPECT_EQ(tab->preservedViewControllers(), (Controllers{pages[0], pages[9], pages[10]}));
    platform::advanceBy(1);
    EXPECT_EQ(tab->viewControllers(), (Controllers{pages[0], pages[9], pages[10]}));
    EXPECT_FALSE(tab->isPreservingViewControllers());
    EXPECT_EQ(tab->transitionViolationsForTesting(), 0);
}

// When preserving ends with edits, the header hears the new top as a pop when the
// platform holds it already, and without animation when it is the top just shown.
TEST_F(MVNavigationControllerTest, TheEndOfPreservingTellsTheHeaderPopOrNone) {
    auto a = page("A");
    settleWith({a, page("B")});
    tab->pushViewController(page("C"), true);
    tab->popToRootViewControllerAnimated(true);
    platform::advanceBy(platform::kNavigationTransitionDuration);
    EXPECT_EQ(barEvents().back(), bar("A", "pop", false));
    platform::advanceBy(1);
    EXPECT_EQ(tab->viewControllers(), Controllers{a});

    auto d = page("D");
    tab->pushViewController(d, true);
    tab->pushViewController(page("E"), true);
    tab->popViewControllerAnimated(true);
    platform::advanceBy(platform::kNavigationTransitionDuration);
    EXPECT_EQ(barEvents().back(), bar("D", "none", true));
    platform::advanceBy(1);
    EXPECT_EQ(tab->viewControllers(), (Controllers{a, d}));
    EXPECT_FALSE(tab->isPreservingViewControllers());
    EXPECT_EQ(tab->transitionViolationsForTesting(), 0);
}

TEST_F(MVNavigationControllerTest, PopToTagOfAPreservedTopGoingBackChangesNeitherStack) {
    auto a = page("A");
    settleWith({a});
    auto b = page("B");
    auto c = page("C");
    giveHistory(*c, "t");
    tab->pushViewController(b, true);
    tab->pushViewController(c, true);

    EXPECT_NO_THROW(tab->popToTag("t", true));
    EXPECT_EQ(tab->viewControllers(), (Controllers{a, b}));
    EXPECT_EQ(tab->preservedViewControllers(), (Controllers{a, b, c}));
    EXPECT_EQ(c->historySize(), 1);
    platform::advanceBy(1);
    EXPECT_EQ(tab->viewControllers(), (Controllers{a, b, c}));
    EXPECT_EQ(tab->transitionViolationsForTesting(), 0);
}

TEST_F(MVNavigationControllerTest, PopToTagPopsToALowerPageCarryingTheTag) {
    auto a = page("A");
    giveHistory(*a, "t");
    auto b = page("B");
    auto c = page("C");
    settleWith({a, b, c});
    tab->popToTag("t", false);
    platform::advanceBy(1);
    EXPECT_EQ(tab->viewControllers(), Controllers{a});
    const auto events = barEvents();
    EXPECT_NE(std::find(events.begin(), events.end(), bar("A", "pop", false)), events.end());
}

TEST_F(MVNavigationControllerTest, AnEmptiedVisibleStackEndsPreservingWithThePlaceholder) {
    emptyByTags();
    EXPECT_TRUE(tab->viewControllers().empty());
    EXPECT_EQ(barEvents().back(), bar("", "push", false));
    platform::advanceBy(1);
    EXPECT_FALSE(tab->isPreservingViewControllers());
    EXPECT_TRUE(tab->hasEmptyStack());
    ASSERT_EQ(tab->viewControllers().size(), 1u);

    auto d = page("D");
    tab->pushViewController(d, false);
    EXPECT_EQ(tab->viewControllers(), Controllers{d});
    EXPECT_EQ(barEvents().back(), bar("D", "none", false));
}

TEST_F(MVNavigationControllerTest, APushReplacesATopPageWhoseWholeHistoryIsDiscardable) {
    auto a = page("A");
    settleWith({a});
    auto b = page("B");
    discardable = true;
    b->openUrl(kFirstDocument);
    ASSERT_TRUE(runUntilPolled([&] { return !b->isLoading() && models->allLoaded(); }, 10.0));
    discardable = false;
    settleWith({b});
    ASSERT_EQ(tab->viewControllers(), (Controllers{a, b}));

    auto c = page("C");
    tab->pushViewController(c, false);
    EXPECT_EQ(tab->viewControllers(), (Controllers{a, c}));
    EXPECT_EQ(barEvents().back(), bar("C", "none", true));
    platform::advanceBy(1);
    EXPECT_FALSE(tab->isPreservingViewControllers());
    EXPECT_EQ(tab->transitionViolationsForTesting(), 0);
}

TEST_F(MVNavigationControllerTest, FlushKeepsTheTopPageWithoutTellingTheHeader) {
    auto c = page("C");
    settleWith({page("A"), page("B"), c});
    const auto told = barEvents().size();
    tab->flush();
    EXPECT_EQ(tab->viewControllers(), Controllers{c});
    EXPECT_EQ(barEvents().size(), told);
    auto fresh = tabs->navigationController(std::string("fresh"));
    fresh->flush();
    EXPECT_TRUE(fresh->viewControllers().empty());
}

TEST_F(MVNavigationControllerTest, APageOpenedRightAfterACleanBecomesTheOnlyPage) {
    settleWith({page("A"), page("B")});
    auto c = page("C");
    tab->clean();
    tab->pushViewController(c, true);
    platform::advanceBy(1);
    EXPECT_EQ(tab->viewControllers(), Controllers{c});
    EXPECT_EQ(barEvents().back(), bar("C", "push", false));
    EXPECT_FALSE(tab->isPreservingViewControllers());
    EXPECT_EQ(tab->transitionViolationsForTesting(), 0);
}

class InteractivePop : public MVNavigationControllerTest {
  protected:
    void SetUp() override {
        MVNavigationControllerTest::SetUp();
        a = page("A");
        b = page("B");
        settleWith({a, b});
        tab->setPopGestureEnabled(true);
        told = barEvents().size();
    }
    platform::GestureRecognizer& recognizer() { return *tab->interactivePopGestureRecognizer(); }

    std::shared_ptr<MVWebViewController> a;
    std::shared_ptr<MVWebViewController> b;
    size_t told = 0;
};

TEST_F(InteractivePop, CancelledLeavesStackAndHeaderAsTheyWere) {
    recognizer().begin({2, 200});
    ASSERT_EQ(recognizer().state(), platform::GestureRecognizerState::Began);
    EXPECT_TRUE(tab->isPreservingViewControllers());
    EXPECT_EQ(MVNavigationController::preservingNavigationControllerForViewController(*b), tab);
    recognizer().move({40, 0});
    recognizer().cancel();
    EXPECT_FALSE(tab->isPreservingViewControllers());
    platform::advanceBy(1);
    EXPECT_EQ(tab->viewControllers(), (Controllers{a, b}));
    EXPECT_EQ(barEvents().size(), told);
    EXPECT_EQ(b->delegate().lock(), std::static_pointer_cast<MVWebViewControllerDelegate>(tab));
}

TEST_F(InteractivePop, CompletedTellsTheHeaderOfTheRevealedPageOnceShown) {
    recognizer().begin({2, 200});
    recognizer().move({200, 0});
    recognizer().end(platform::Point{300, 0});
    EXPECT_EQ(barEvents().size(), told);
    EXPECT_FALSE(b->delegate().lock());
    platform::advanceBy(1);
    EXPECT_EQ(tab->viewControllers(), Controllers{a});
    ASSERT_EQ(barEvents().size(), told + 1);
    EXPECT_EQ(barEvents().back(), bar("A", "none", false));
    EXPECT_FALSE(tab->isPreservingViewControllers());
    EXPECT_EQ(tab->transitionViolationsForTesting(), 0);
}

TEST_F(InteractivePop, APushDuringACancelledPopReachesThePlatformAfterItsAnimation) {
    recognizer().begin({2, 200});
    recognizer().move({100, 0});
    auto c = page("C");
    tab->pushViewController(c, true);
    recognizer().cancel();
    platform::advanceBy(2);
    EXPECT_EQ(tab->viewControllers(), (Controllers{a, b, c}));
    EXPECT_EQ(barEvents().back(), bar("C", "push", true));
    EXPECT_FALSE(tab->isPreservingViewControllers());
    EXPECT_EQ(tab->transitionViolationsForTesting(), 0);
}

TEST_F(InteractivePop, TheGestureWaitsForItsFlagAndForPreservingToEnd) {
    tab->setPopGestureEnabled(false);
    recognizer().begin({2, 200});
    EXPECT_NE(recognizer().state(), platform::GestureRecognizerState::Began);
    platform::runUntilIdle();
    tab->setPopGestureEnabled(true);
    tab->pushViewController(page("C"), true);
    recognizer().begin({2, 200});
    EXPECT_NE(recognizer().state(), platform::GestureRecognizerState::Began);
}

TEST_F(MVNavigationControllerTest, CommandsFindTabsByNameOrByTheirPagesWebViews) {
    auto named =
        MVNavigationControllerInterface::sharedInstanceForIdentifier(std::string("new"), nullptr);
    ASSERT_TRUE(named);
    EXPECT_EQ(named->identifier(), "new");
    auto a = page("A");
    settleWith({a});
    EXPECT_EQ(MVNavigationControllerInterface::sharedInstanceForIdentifier(std::nullopt,
                                                                           a->webViewFinal()),
              std::static_pointer_cast<MVNavigationControllerInterface>(tab));
    auto stray = page("stray");
    EXPECT_FALSE(MVNavigationControllerInterface::sharedInstanceForIdentifier(
        std::nullopt, stray->webViewFinal()));
    EXPECT_TRUE(logged("No navigation controller found for [MVWebView"));
}

}  // namespace
