// The menu bar: showing and hiding by kind and speed factor, parked and ignored requests,
// and the content's bottom inset.
#include <gtest/gtest.h>

#include "libmerovane/core/MVSplashScreenInterface.h"
#include "platform/foundation/NotificationCenter.h"
#include "tests/containers/MenuBarTest.h"

namespace {

using platform::Rect;
using Strings = std::vector<std::string>;

class MVMenuBarControllerTest : public MenuBarTest {
  protected:
    // Puts the bar open or closed at once; its appearances and the animation log start empty.
    void startFrom(const ContainerPage& page, bool shown) {
        if (shown)
            menuBar->showMenuBarWithAnimation(MVBarAnimation::None, std::nullopt);
        else
            menuBar->hideMenuBarWithAnimation(MVBarAnimation::None, std::nullopt);
        skipAppearances(page);
        platform::clearAnimationLog();
    }
};

TEST_F(MVMenuBarControllerTest, AParkedFadeRunsWhenTheFirstPageHasRendered) {
    const nlohmann::json params = {{"a", 1}};
    menuBar->setMenuBarWithUrl("mvapi:m", &params);
    menuBar->showMenuBarWithAnimation(MVBarAnimation::Fade, 2.0);
    EXPECT_TRUE(menuBar->retardedShow());
    EXPECT_EQ(menuBar->viewState(), MVMenuBarController::kHidden);
    EXPECT_TRUE(platform::animationLog().empty());

    auto page = renderNext({320, 49});
    ASSERT_TRUE(page);
    EXPECT_EQ(page->eventNames(),
              (Strings{"pageContext", "updateTemplateContent", "viewWillAppear"}));
    EXPECT_EQ(page->parametersOf("updateTemplateContent"),
              std::vector<nlohmann::json>{nlohmann::json::array({params})});
    EXPECT_EQ(page->parametersOf("viewWillAppear"),
              std::vector<nlohmann::json>{nlohmann::json::array({true})});
    const auto& bar = page->webView;
    EXPECT_EQ(bar, menuBar->currentMenuBar());
    EXPECT_FALSE(menuBar->retardedShow());
    EXPECT_EQ(bar->presentationFrame(), Rect(0, 519, 320, 49));
    EXPECT_EQ(bar->presentationAlpha(), 0);
    const auto runs = platform::animationLog();
    ASSERT_EQ(runs.size(), 1u);  // started at the next turn
    EXPECT_EQ(runs[0].duration, 0.6000000238418579);

    platform::advanceBy(0.59);
    EXPECT_EQ(menuBar->viewState(), MVMenuBarController::kShowing);
    platform::advanceBy(0.02);
    EXPECT_EQ(page->eventNames().back(), "viewDidAppear");
    EXPECT_EQ(page->parametersOf("viewDidAppear"),
              std::vector<nlohmann::json>{nlohmann::json::array({true})});
    EXPECT_EQ(menuBar->viewState(), MVMenuBarController::kShown);
    EXPECT_EQ(bar->alpha(), 1);
    EXPECT_EQ(lastInsets(), inherited(49));

    menuBar->hideMenuBarWithAnimation(MVBarAnimation::Slide, std::nullopt);
    platform::advanceBy(0.31);
    EXPECT_EQ(menuBar->viewState(), MVMenuBarController::kHidden);
    EXPECT_EQ(lastInsets(), inherited());
}

// Opening and closing the bar reach the content's insets with the step's animated flag.
TEST_F(MVMenuBarControllerTest, InsetsFollowTheBarWhenItIsCompletelyPresentedOrHidden) {
    auto page = setPage("mvapi:m", {320, 49});
    using Calls = std::vector<std::pair<platform::EdgeInsets, bool>>;
    content->calls.clear();

    menuBar->showMenuBarWithAnimation(MVBarAnimation::None, std::nullopt);
    menuBar->hideMenuBarWithAnimation(MVBarAnimation::None, std::nullopt);
    EXPECT_EQ(content->calls, (Calls{{inherited(49), false}, {inherited(), false}}));

    content->calls.clear();
    menuBar->showMenuBarWithAnimation(MVBarAnimation::Slide, std::nullopt);
    platform::advanceBy(0.31);
    menuBar->hideMenuBarWithAnimation(MVBarAnimation::Fade, std::nullopt);
    platform::advanceBy(0.31);
    EXPECT_EQ(content->calls, (Calls{{inherited(49), true}, {inherited(), true}}));
}

// From hidden: where the bar stands before the movement, the run, and the events.
TEST_F(MVMenuBarControllerTest, ShowingByKind) {
    struct Row {
        MVBarAnimation animation;
        std::optional<double> speedFactor;
        double yBefore, alphaBefore;     // when the show returns
        std::optional<double> duration;  // the run at the next turn, if any
        Strings events;                  // when done
        int state;
    } rows[] = {
        {MVBarAnimation::None,
         2.0,
         519,
         1,
         std::nullopt,
         {"viewWillAppear [false]", "viewDidAppear [false]"},
         MVMenuBarController::kShown},
        {MVBarAnimation::Fade,
         std::nullopt,
         519,
         0,
         0.30000001192092896,
         {"viewWillAppear [true]", "viewDidAppear [true]"},
         MVMenuBarController::kShown},
        {MVBarAnimation::Slide,
         0.5,
         568,
         1,
         0.15000000596046448,
         {"viewWillAppear [true]", "viewDidAppear [true]"},
         MVMenuBarController::kShown},
        // another kind only announces itself
        {static_cast<MVBarAnimation>(3),
         std::nullopt,
         568,
         1,
         std::nullopt,
         {"viewWillAppear [true]"},
         MVMenuBarController::kShowing},
    };
    auto page = setPage("mvapi:m", {320, 49});
    const auto& bar = page->webView;
    for (const auto& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.animation));
        startFrom(*page, false);

        menuBar->showMenuBarWithAnimation(row.animation, row.speedFactor);
        EXPECT_EQ(bar->frame().origin.y, row.yBefore);
        EXPECT_EQ(bar->alpha(), row.alphaBefore);
        platform::runUntilIdle();
        EXPECT_TRUE(oneRunOrNone(row.duration));
        platform::advanceBy(0.31);
        EXPECT_EQ(appearances(*page), row.events);
        EXPECT_EQ(menuBar->viewState(), row.state);
        if (row.state == MVMenuBarController::kShown) {
            EXPECT_EQ(bar->frame(), Rect(0, 519, 320, 49));
            EXPECT_EQ(bar->alpha(), 1);
        }
    }
}

// From shown: the run, where the bar ends and the events.
TEST_F(MVMenuBarControllerTest, HidingByKind) {
    struct Row {
        MVBarAnimation animation;
        std::optional<double> speedFactor;
        std::optional<double> duration;
        const char* animates;  // what the run changes
        Strings events;
        int state;
        double yAfter;
    } rows[] = {
        {MVBarAnimation::None,
         std::nullopt,
         std::nullopt,
         "",
         {"viewWillDisappear [false]", "viewDidDisappear [false]"},
         MVMenuBarController::kHidden,
         kHeight},
        {MVBarAnimation::Slide,
         2.0,
         0.6000000238418579,
         "position",
         {"viewWillDisappear [true]", "viewDidDisappear [true]"},
         MVMenuBarController::kHidden,
         kHeight},
        {MVBarAnimation::Fade,
         std::nullopt,
         0.30000001192092896,
         "opacity",
         {"viewWillDisappear [true]", "viewDidDisappear [true]"},
         MVMenuBarController::kHidden,
         kHeight},
        // another kind only announces itself; the bar stays open
        {static_cast<MVBarAnimation>(7),
         std::nullopt,
         std::nullopt,
         "",
         {"viewWillDisappear [true]"},
         MVMenuBarController::kHiding,
         519},
    };
    auto page = setPage("mvapi:m", {320, 49});
    const auto& bar = page->webView;
    for (const auto& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.animation));
        startFrom(*page, true);

        menuBar->hideMenuBarWithAnimation(row.animation, row.speedFactor);
        EXPECT_TRUE(oneRunOrNone(row.duration, row.animates));
        platform::advanceBy(0.61);
        EXPECT_EQ(appearances(*page), row.events);
        EXPECT_EQ(menuBar->viewState(), row.state);
        EXPECT_EQ(bar->frame(), Rect(0, row.yAfter, 320, 49));
        EXPECT_EQ(bar->alpha(), 1);
    }
}

// A hide in the same turn as a show wins over the show's movement at the next turn.
TEST_F(MVMenuBarControllerTest, AHideInTheTurnOfAShowKeepsTheBarClosed) {
    auto page = setPage("mvapi:m", {320, 49});
    menuBar->showMenuBarWithAnimation(MVBarAnimation::Slide, std::nullopt);
    menuBar->hideMenuBarWithAnimation(MVBarAnimation::Slide, std::nullopt);
    platform::advanceBy(0.31);
    EXPECT_EQ(page->webView->frame(), Rect(0, kHeight, 320, 49));
    EXPECT_EQ(menuBar->viewState(), MVMenuBarController::kHidden);
    EXPECT_EQ(appearances(*page), (Strings{"viewWillAppear [true]", "viewWillDisappear [true]",
                                           "viewDidDisappear [true]"}));
    EXPECT_EQ(lastInsets(), inherited());
}

TEST_F(MVMenuBarControllerTest, DurationsFollowTheFactorInSinglePrecision) {
    const std::pair<std::optional<double>, double> rows[] = {
        {std::nullopt, 0.30000001192092896},
        {2.0, 0.6000000238418579},
        {0.1, 0.30000001192092896 * static_cast<double>(0.1f)},
        {0.0, 0},
        {1e-300, 0},
        {-1.0, -0.30000001192092896},  // handed to the platform, which applies it at once
    };
    for (const auto& [factor, seconds] : rows)
        EXPECT_EQ(MVMenuBarController::durationForSpeedFactor(factor), seconds);
    EXPECT_EQ(MVMenuBarController::duration(), 0.30000001192092896);
}

TEST_F(MVMenuBarControllerTest, RequestsThatDoNotFitTheStateAreIgnored) {
    // Without any page a show is ignored.
    menuBar->showMenuBarWithAnimation(MVBarAnimation::Slide, std::nullopt);
    EXPECT_FALSE(menuBar->retardedShow());
    EXPECT_EQ(menuBar->viewState(), MVMenuBarController::kHidden);

    auto page = setPage("mvapi:m", {320, 49});
    menuBar->hideMenuBarWithAnimation(MVBarAnimation::Slide, std::nullopt);  // hidden
    menuBar->showMenuBarWithAnimation(MVBarAnimation::Slide, std::nullopt);
    menuBar->showMenuBarWithAnimation(MVBarAnimation::None, std::nullopt);  // showing
    platform::advanceBy(0.31);
    menuBar->showMenuBarWithAnimation(MVBarAnimation::Fade, std::nullopt);  // shown
    menuBar->hideMenuBarWithAnimation(MVBarAnimation::Slide, std::nullopt);
    menuBar->hideMenuBarWithAnimation(MVBarAnimation::None, std::nullopt);  // hiding
    platform::advanceBy(0.31);
    EXPECT_EQ(appearances(*page), (Strings{"viewWillAppear [true]", "viewDidAppear [true]",
                                           "viewWillDisappear [true]", "viewDidDisappear [true]"}));
    EXPECT_EQ(platform::animationLog().size(), 2u);
}

TEST_F(MVMenuBarControllerTest, TheLastParkedShowWinsAndAHideDropsIt) {
    menuBar->setMenuBarWithUrl("mvapi:m", nullptr);
    menuBar->showMenuBarWithAnimation(MVBarAnimation::Fade, std::nullopt);
    menuBar->showMenuBarWithAnimation(MVBarAnimation::None, 3.0);
    ASSERT_TRUE(menuBar->retardedShow());
    EXPECT_EQ(menuBar->retardedShow()->animation, MVBarAnimation::None);
    EXPECT_EQ(menuBar->retardedShow()->speedFactor, 3.0);
    auto page = renderNext({320, 49});
    EXPECT_EQ(appearances(*page), (Strings{"viewWillAppear [false]", "viewDidAppear [false]"}));

    // After the boot command there is no bar again: a hide drops the parked show.
    platform::NotificationCenter::defaultCenter().post(MVLibraryApplicationReceivedBootAppCommand);
    menuBar->setMenuBarWithUrl("mvapi:n", nullptr);
    menuBar->showMenuBarWithAnimation(MVBarAnimation::Slide, std::nullopt);
    menuBar->hideMenuBarWithAnimation(MVBarAnimation::Slide, std::nullopt);
    EXPECT_FALSE(menuBar->retardedShow());
    auto next = renderNext({320, 49});
    EXPECT_TRUE(appearances(*next).empty());
    EXPECT_EQ(menuBar->viewState(), MVMenuBarController::kHidden);
    EXPECT_EQ(next->webView->frame(), Rect(0, kHeight, 320, 49));
}

}  // namespace
