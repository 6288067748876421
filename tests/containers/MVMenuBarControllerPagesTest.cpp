// The menu bar's pages: the exchange of bars, menu params, reloads on web cache updates,
// the boot command, the web-view delegate answers, and the controller in the chain.
#include <gtest/gtest.h>

#include <any>

#include "libmerovane/bridge/MVWebCacheKeys.h"
#include "libmerovane/containers/MVViewControllerHierarchy.h"
#include "libmerovane/core/MVSplashScreenInterface.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/Layer.h"
#include "tests/containers/MenuBarTest.h"

namespace {

using platform::Rect;
using Strings = std::vector<std::string>;

class MVMenuBarControllerPagesTest : public MenuBarTest {
  protected:
    void updateCache(const std::string& key) {
        platform::NotificationCenter::defaultCenter().post(MVWebCacheDidUpdateKeyNotification,
                                                           nullptr, key);
        platform::runUntilIdle();
    }
};

TEST_F(MVMenuBarControllerPagesTest, ANewPageWhileHiddenReplacesTheBarAtOnce) {
    auto first = setPage("mvapi:m", {320, 49});
    auto second = setPage("mvapi:n", {300, 60});
    EXPECT_EQ(menuBar->currentMenuBar(), second->webView);
    EXPECT_FALSE(menuBar->nextMenuBar());
    EXPECT_EQ(menuBar->updatingState(), MVMenuBarController::kIdle);
    EXPECT_FALSE(first->webView->superview());
    EXPECT_EQ(second->webView->frame(), Rect(10, kHeight, 300, 60));
    EXPECT_EQ(second->webView->alpha(), 1);
    EXPECT_TRUE(appearances(*first).empty());
    EXPECT_TRUE(appearances(*second).empty());
    EXPECT_TRUE(platform::animationLog().empty());
    EXPECT_EQ(lastInsets(), inherited());
}

TEST_F(MVMenuBarControllerPagesTest, ANewPageWhileShownFadesInOverTheBaseDuration) {
    auto first = setPage("mvapi:m", {320, 49});
    menuBar->showMenuBarWithAnimation(MVBarAnimation::Slide, 2.0);
    platform::advanceBy(0.61);
    skipAppearances(*first);
    platform::clearAnimationLog();

    const nlohmann::json params = {{"items", 3}};
    menuBar->setMenuBarWithUrl("mvapi:n", &params);
    auto second = renderNext({320, 60});
    EXPECT_EQ(second->eventNames(),
              (Strings{"pageContext", "updateTemplateContent", "viewWillAppear"}));
    EXPECT_EQ(appearances(*first), Strings{"viewWillDisappear [true]"});
    EXPECT_EQ(second->webView->frame(), Rect(0, 508, 320, 60));
    EXPECT_EQ(menuBar->updatingState(), MVMenuBarController::kExchanging);
    const auto runs = platform::animationLog();
    ASSERT_EQ(runs.size(), 1u);  // whatever factor the bar was shown with
    EXPECT_EQ(runs[0].duration, 0.30000001192092896);
    const auto& subviews = menuBar->view()->subviews();
    EXPECT_EQ(subviews.back(), second->webView);

    platform::advanceBy(0.31);
    EXPECT_EQ(appearances(*first),
              (Strings{"viewWillDisappear [true]", "viewDidDisappear [true]"}));
    EXPECT_EQ(second->eventNames(),
              (Strings{"pageContext", "updateTemplateContent", "viewWillAppear", "viewDidAppear"}));
    EXPECT_EQ(menuBar->currentMenuBar(), second->webView);
    EXPECT_FALSE(first->webView->superview());
    EXPECT_EQ(menuBar->updatingState(), MVMenuBarController::kIdle);
    EXPECT_EQ(menuBar->getMenuBarSize(), (platform::Size{320, 60}));
}

// A newer page during the cross-fade takes the fading bar out; the fade's end changes
// nothing.
TEST_F(MVMenuBarControllerPagesTest, ANewerPageDuringTheFadeDropsTheFadingBar) {
    auto first = shownBar();
    menuBar->setMenuBarWithUrl("mvapi:n", nullptr);
    auto fading = renderNext({320, 60});
    menuBar->setMenuBarWithUrl("mvapi:m", nullptr);
    EXPECT_FALSE(fading->webView->superview());
    platform::advanceBy(0.31);
    EXPECT_EQ(menuBar->currentMenuBar(), first->webView);
    EXPECT_EQ(menuBar->updatingState(), MVMenuBarController::kLoading);
    // The dropped bar hears no end of its fade, the shown one no end of its own.
    EXPECT_EQ(appearances(*fading), Strings{"viewWillAppear [true]"});
    EXPECT_EQ(appearances(*first), Strings{"viewWillDisappear [true]"});

    auto newest = renderNext({320, 44});
    platform::advanceBy(0.31);
    EXPECT_EQ(menuBar->currentMenuBar(), newest->webView);
    EXPECT_EQ(menuBar->view()->subviews().size(), 2u);  // the content container and the bar
}

// The hide of the old bar still ends the hiding when a new page came in meanwhile.
TEST_F(MVMenuBarControllerPagesTest, ANewPageWhileHidingEndsHidden) {
    auto first = shownBar();
    menuBar->hideMenuBarWithAnimation(MVBarAnimation::Slide, 10.0);
    auto second = setPage("mvapi:n", {320, 60});
    EXPECT_EQ(menuBar->currentMenuBar(), second->webView);
    EXPECT_EQ(menuBar->viewState(), MVMenuBarController::kHiding);
    platform::advanceBy(3.01);
    EXPECT_EQ(menuBar->viewState(), MVMenuBarController::kHidden);
    EXPECT_EQ(second->webView->frame(), Rect(0, kHeight, 320, 60));
    EXPECT_TRUE(appearances(*second).empty());
    EXPECT_EQ(appearances(*first), Strings{"viewWillDisappear [true]"});
    EXPECT_EQ(lastInsets(), inherited());

    menuBar->showMenuBarWithAnimation(MVBarAnimation::Fade, std::nullopt);
    platform::advanceBy(0.31);
    EXPECT_EQ(second->webView->frame(), Rect(0, 508, 320, 60));
    EXPECT_EQ(appearances(*second), (Strings{"viewWillAppear [true]", "viewDidAppear [true]"}));
}

TEST_F(MVMenuBarControllerPagesTest, AWebCacheUpdateOfTheBarsPageReloadsItWithoutMenuParams) {
    const nlohmann::json params = {{"a", 1}};
    auto page = setPage("mvapi:m", {320, 49}, &params);
    updateCache("mv-api-page:m");
    auto reloaded = menuBar->nextMenuBar();
    ASSERT_TRUE(reloaded);
    EXPECT_EQ(menuBar->updatingState(), MVMenuBarController::kLoading);
    // Ignored while the reload runs.
    updateCache("mv-api-page:m");
    EXPECT_EQ(menuBar->nextMenuBar(), reloaded);

    auto next = renderNext({320, 49});
    EXPECT_EQ(next->webView->currentUrl(), "mvapi:m");
    EXPECT_TRUE(next->parametersOf("updateTemplateContent").empty());
    EXPECT_EQ(menuBar->currentMenuBar(), reloaded);
}

TEST_F(MVMenuBarControllerPagesTest, OtherWebCacheUpdatesChangeNothing) {
    auto page = setPage("mvapi:m", {320, 49});
    for (const char* key : {"mv-api-page:n", "mv-api-data:m", "mv-api-page-m", "m", ""}) {
        SCOPED_TRACE(key);
        updateCache(key);
        EXPECT_FALSE(menuBar->nextMenuBar());
    }
    // A bar loaded from text has no "mvapi" URL to reload.
    menuBar->setMenuBarWithContent("<p>text</p>", "https://shop.example/text", nullptr);
    renderNext({320, 49});
    updateCache("mv-api-page:m");
    EXPECT_FALSE(menuBar->nextMenuBar());
}

TEST_F(MVMenuBarControllerPagesTest, TheBootCommandDropsBothBars) {
    auto shown = shownBar();
    menuBar->setMenuBarWithUrl("mvapi:n", nullptr);
    auto loading = menuBar->nextMenuBar();
    menuBar->hideMenuBarWithAnimation(MVBarAnimation::Slide, std::nullopt);
    content->calls.clear();

    platform::NotificationCenter::defaultCenter().post(MVLibraryApplicationReceivedBootAppCommand);
    EXPECT_FALSE(menuBar->currentMenuBar());
    EXPECT_FALSE(menuBar->nextMenuBar());
    EXPECT_FALSE(shown->webView->superview());
    EXPECT_FALSE(shown->webView->layer()->hasAnimations());
    EXPECT_FALSE(loading->superview());
    EXPECT_EQ(menuBar->viewState(), MVMenuBarController::kHidden);
    EXPECT_EQ(menuBar->updatingState(), MVMenuBarController::kIdle);

    menuBar->showMenuBarWithAnimation(MVBarAnimation::Slide, std::nullopt);
    EXPECT_FALSE(menuBar->retardedShow());
    platform::advanceBy(1);
    EXPECT_EQ(menuBar->viewState(), MVMenuBarController::kHidden);
    EXPECT_EQ(appearances(*shown), Strings{"viewWillDisappear [true]"});
    EXPECT_TRUE(content->calls.empty());  // until a new bar renders
}

TEST_F(MVMenuBarControllerPagesTest, DelegateAnswersForTheBarsPages) {
    menuBar->setIdentifier("bottom");
    auto page = shownBar();
    EXPECT_EQ(page->parametersOf("pageContext"),
              std::vector<nlohmann::json>{nlohmann::json::array({{{"type", "menuBar"},
                                                                  {"src", "mvapi:m"},
                                                                  {"cached", true},
                                                                  {"identifier", "bottom"}}})});
    EXPECT_NE(page->webView->debugName().find("MenuBar"), std::string::npos);
    EXPECT_EQ(page->webView->autoresizingMask(), 18u);
    EXPECT_FALSE(menuBar->navigationControllerForWebView(*page->webView));

    // A new page size refits the bar and passes insets at once.
    page->changePageSize({300, 60});
    EXPECT_EQ(page->webView->frame(), Rect(10, 508, 300, 60));
    EXPECT_EQ(content->calls.back(), std::make_pair(inherited(60), false));

    // A close request hides with a slide.
    page->askToClose();
    const auto runs = platform::animationLog();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].duration, 0.30000001192092896);
    EXPECT_EQ(runs[0].changes[0].second, "position");
    EXPECT_EQ(menuBar->viewState(), MVMenuBarController::kHiding);
}

TEST_F(MVMenuBarControllerPagesTest, ViewsAndTheContentsInsets) {
    const auto& own = menuBar->view();
    EXPECT_TRUE(std::dynamic_pointer_cast<MVMenuBarControllerView>(own));
    EXPECT_TRUE(own->clipsToBounds());
    EXPECT_EQ(own->autoresizingMask(), 18u);
    auto page = setPage("mvapi:m", {320, 49});
    ASSERT_EQ(own->subviews().size(), 2u);
    EXPECT_EQ(own->subviews()[0], menuBar->contentContainerView());
    EXPECT_EQ(own->subviews()[1], page->webView);
    EXPECT_EQ(menuBar->contentContainerView()->frame(), Rect(0, 0, 320, kHeight));

    // A new content gets the inherited insets with the bar's share, not animated.
    menuBar->showMenuBarWithAnimation(MVBarAnimation::None, std::nullopt);
    auto other = MenuBarContent::create();
    menuBar->setContentViewController(other);
    EXPECT_EQ(other->calls,
              (std::vector<std::pair<platform::EdgeInsets, bool>>{{inherited(49), false}}));
    menuBar->viewShouldAdjustInsets(inherited(10), true);
    EXPECT_EQ(menuBar->inheritedInsets(), inherited(10));
    EXPECT_EQ(other->calls.back(), std::make_pair(inherited(59), true));
}

TEST_F(MVMenuBarControllerPagesTest, TheChainMakesTrackedMenuBars) {
    EXPECT_EQ(MVMenuBarControllerInterface::sharedDefaultInstance(), menuBar);
    auto made = MVViewControllerHierarchy::containerClass("MVMenuBarController")();
    auto second = std::dynamic_pointer_cast<MVMenuBarController>(made);
    ASSERT_TRUE(second);
    EXPECT_EQ(MVMenuBarControllerInterface::sharedDefaultInstance(), menuBar);
    second->setIdentifier("second");
    EXPECT_EQ(MVMenuBarControllerInterface::sharedInstanceForIdentifier("second"), second);
    made.reset();
    second.reset();
    EXPECT_FALSE(MVMenuBarControllerInterface::sharedInstanceForIdentifier("second"));
}

}  // namespace
