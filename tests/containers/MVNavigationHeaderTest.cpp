// A tab's header: showing and hiding with the events its page hears once each, the
// refresh through a copy, reloads on web cache updates, page title changes and the
// status-bar answers.
#include <gtest/gtest.h>

#include "libmerovane/bridge/MVWebCacheKeys.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Application.h"
#include "tests/containers/BarTestSupport.h"
#include "tests/containers/NavigationTest.h"

namespace {

using Strings = std::vector<std::string>;

// The default tab's header shows "mvapi:h1" from the web cache.
class MVNavigationHeaderTest : public MVNavigationControllerTest, protected AppearanceRecord {
  protected:
    void SetUp() override {
        MVNavigationControllerTest::SetUp();
        for (const char* page : {"h1", "h2"})
            cache->setPage(std::string("mv-api-page:") + page, "<p>header</p>",
                           std::string("https://shop.example/") + page);
        header = headerOf(*tab);
    }

    // The tab's header shows "mvapi:h1", rendered 44 high.
    std::shared_ptr<ContainerPage> headerOf(MVNavigationController& stack) {
        stack.setNavigationBarWithURL("mvapi:h1");
        platform::runUntilIdle();  // the load starts at the next turn
        auto page = ContainerPage::of(stack.webViewHeader(), *models);
        EXPECT_TRUE(page->finishLoading({320, 44}));
        return page;
    }
    // Runs the refresh web view until it has rendered and was swapped in.
    std::shared_ptr<ContainerPage> renderRefresh() {
        auto refresh = tab->webViewHeaderRefresh();
        if (!refresh) {
            ADD_FAILURE() << "no refresh";
            return nullptr;
        }
        platform::runUntilIdle();
        auto page = ContainerPage::of(refresh, *models);
        EXPECT_TRUE(page->finishLoading({320, 44}));
        return page;
    }
    void showAtOnce() {
        tab->showNavigationBarWithAnimation(MVBarAnimation::None, std::nullopt);
        skipAppearances(*header);
        platform::clearAnimationLog();
    }
    void updateCache(const std::string& key) {
        platform::NotificationCenter::defaultCenter().post(MVWebCacheDidUpdateKeyNotification,
                                                           nullptr, key);
        platform::runUntilIdle();
    }
};

TEST_F(MVNavigationHeaderTest, HideThenShowOnAVisibleTabSendsEachEventOnce) {
    EXPECT_EQ(tab->webViewHeader()->frame(), Rect(0, 0, 320, 44));
    showAtOnce();
    tab->hideNavigationBarWithAnimation(MVBarAnimation::Slide, std::nullopt);
    platform::advanceBy(0.21);
    platform::clearAnimationLog();
    tab->showNavigationBarWithAnimation(MVBarAnimation::Slide, 2.0);
    EXPECT_TRUE(oneRunOrNone(std::nullopt));  // the slide starts at the next turn
    platform::runUntilIdle();
    EXPECT_TRUE(oneRunOrNone(0.4, "position"));
    EXPECT_EQ(platform::animationLog()[0].options, platform::kAnimationOptionBeginFromCurrentState);
    platform::advanceBy(0.41);
    EXPECT_EQ(appearances(*header), (Strings{"viewWillDisappear [true]", "viewDidDisappear [true]",
                                             "viewWillAppear [true]", "viewDidAppear [true]"}));
    EXPECT_EQ(tab->webViewHeader()->frame(), Rect(0, 0, 320, 44));
    EXPECT_EQ(tab->webViewHeader()->alpha(), 1);
}

TEST_F(MVNavigationHeaderTest, HidingByKindAndFactor) {
    struct Row {
        MVBarAnimation animation;
        std::optional<double> speedFactor;
        std::optional<double> duration;  // of the run, if any
        const char* animates;
        Strings events;
    } rows[] = {
        {MVBarAnimation::None,
         std::nullopt,
         std::nullopt,
         "",
         {"viewWillDisappear [false]", "viewDidDisappear [false]"}},
        {MVBarAnimation::Slide,
         2.0,
         0.4,
         "position",
         {"viewWillDisappear [true]", "viewDidDisappear [true]"}},
        {MVBarAnimation::Fade,
         std::nullopt,
         0.2,
         "opacity",
         {"viewWillDisappear [true]", "viewDidDisappear [true]"}},
    };
    const auto& bar = tab->webViewHeader();
    for (const auto& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.animation));
        showAtOnce();
        tab->hideNavigationBarWithAnimation(row.animation, row.speedFactor);
        EXPECT_TRUE(tab->isNavigationBarHidden());
        EXPECT_TRUE(oneRunOrNone(row.duration, row.animates));
        if (!row.duration) {  // at once
            EXPECT_EQ(bar->frame(), Rect(0, -44, 320, 44));
            EXPECT_EQ(bar->alpha(), 0);
        }
        platform::advanceBy(0.41);
        EXPECT_EQ(appearances(*header), row.events);
        EXPECT_EQ(bar->frame(), Rect(0, -44, 320, 44));
        EXPECT_EQ(bar->alpha(), 0);
    }
}

// A hide in the same turn as a show wins over the show's movement at the next turn.
TEST_F(MVNavigationHeaderTest, AHideInTheTurnOfAShowKeepsTheBarClosed) {
    tab->showNavigationBarWithAnimation(MVBarAnimation::Fade, std::nullopt);
    tab->hideNavigationBarWithAnimation(MVBarAnimation::Slide, std::nullopt);
    platform::advanceBy(0.21);
    EXPECT_EQ(tab->webViewHeader()->alpha(), 0);
    EXPECT_EQ(tab->webViewHeader()->frame(), Rect(0, -44, 320, 44));
    EXPECT_EQ(appearances(*header), (Strings{"viewWillAppear [true]", "viewWillDisappear [true]",
                                             "viewDidDisappear [true]"}));
}

TEST_F(MVNavigationHeaderTest, AShowOnATabOffScreenWaitsForTheTabWithItsEvents) {
    auto other = std::dynamic_pointer_cast<MVNavigationController>(
        tabs->navigationControllerWithIdentifier("other"));
    ASSERT_TRUE(other);
    auto otherHeader = headerOf(*other);
    ASSERT_FALSE(other->isVisible());
    other->showNavigationBarWithAnimation(MVBarAnimation::Slide, std::nullopt);
    EXPECT_EQ(other->webViewHeader()->frame(), Rect(0, 0, 320, 44));
    EXPECT_EQ(other->webViewHeader()->alpha(), 1);
    platform::advanceBy(1);
    EXPECT_TRUE(appearances(*otherHeader).empty());

    tabs->presentNavigationControllerWithIdentifier("other", std::nullopt, std::nullopt);
    platform::advanceBy(1);
    EXPECT_EQ(appearances(*otherHeader),
              (Strings{"viewWillAppear [false]", "viewDidAppear [false]"}));
}

TEST_F(MVNavigationHeaderTest, AWebCacheUpdateOfTheHeadersPageStartsOneRefresh) {
    updateCache("mv-api-page:h2");
    updateCache("mv-api-data:h1");
    EXPECT_FALSE(tab->webViewHeaderRefresh());

    updateCache("mv-api-page:h1");
    auto refresh = tab->webViewHeaderRefresh();
    ASSERT_TRUE(refresh);
    EXPECT_NE(refresh->debugName().find("NavigationBar(refreshing):"), std::string::npos);
    EXPECT_EQ(tab->navigationControllerForWebView(*refresh), tab);
    updateCache("mv-api-page:h1");  // while the refresh runs
    EXPECT_EQ(tab->webViewHeaderRefresh(), refresh);
}

TEST_F(MVNavigationHeaderTest, TwoReloadsSwapInOnlyTheSecondCopy) {
    showAtOnce();
    const auto old = tab->webViewHeader();
    tab->reload();
    auto first = tab->webViewHeaderRefresh();
    tab->reload();
    auto second = tab->webViewHeaderRefresh();
    ASSERT_TRUE(first && second);
    EXPECT_NE(first, second);
    EXPECT_TRUE(first->isGarbage());
    EXPECT_FALSE(first->delegate());
    EXPECT_FALSE(first->isLoading());  // cleared

    auto swapped = renderRefresh();
    EXPECT_EQ(tab->webViewHeader(), second);
    EXPECT_FALSE(tab->webViewHeaderRefresh());
    EXPECT_EQ(second->frame(), Rect(0, 0, 320, 44));
    const auto bars = swapped->parametersOf("updateNavigationBar");
    ASSERT_EQ(bars.size(), 2u);                            // from the reload, then from the swap
    for (const auto& told : bars) EXPECT_EQ(told[0], "");  // the placeholder has no title
    EXPECT_EQ(appearances(*swapped), Strings{"viewWillAppear [true]"});
    EXPECT_EQ(appearances(*header), Strings{"viewWillDisappear [true]"});

    platform::advanceBy(0.31);
    EXPECT_EQ(appearances(*header),
              (Strings{"viewWillDisappear [true]", "viewDidDisappear [true]"}));
    EXPECT_EQ(second->alpha(), 1);
    platform::advanceBy(0.31);
    EXPECT_FALSE(old->superview());
    EXPECT_EQ(second->superview(), tab->view());
}

// A page below the top only takes its insets; the top page's change reaches the header
// with a fade on the presented tab.
TEST_F(MVNavigationHeaderTest, TitleChangesOfPagesBelowTheTopLeaveTheHeader) {
    auto a = page("A"), b = page("B"), c = page("C");
    for (const auto& controller : {a, b, c}) tab->pushViewController(controller, false);
    platform::advanceBy(1);
    header->changePageSize({320, 60});
    const auto told = header->parametersOf("updateNavigationBar");
    const nlohmann::json params = {{"color", "red"}};

    tab->webViewControllerDidChangeNavigationBarParams(*b, nullptr, &params, "B", "B2");
    EXPECT_EQ(header->parametersOf("updateNavigationBar"), told);
    EXPECT_EQ(b->inheritedInsets().top, 60);

    tab->webViewControllerDidChangeNavigationBarParams(*c, nullptr, &params, "C", "C2");
    EXPECT_EQ(header->parametersOf("updateNavigationBar").back()[1], "fade");

    auto other = std::dynamic_pointer_cast<MVNavigationController>(
        tabs->navigationControllerWithIdentifier("other"));
    auto otherHeader = headerOf(*other);
    auto d = page("D");
    other->pushViewController(d, false);
    platform::advanceBy(1);
    other->webViewControllerDidChangeNavigationBarParams(*d, nullptr, &params, "D", "D2");
    const auto otherBar = otherHeader->parametersOf("updateNavigationBar").back();
    EXPECT_EQ(otherBar[0], "D2");
    EXPECT_EQ(otherBar[1], "none");
}

TEST_F(MVNavigationHeaderTest, TheHeadersStyleAnswersWhileTheBarCanBeSeen) {
    tab->pushViewController(page("A"), false);
    platform::advanceBy(1);
    auto& application = platform::Application::shared();
    header->chooseStatusBarStyle("light");
    EXPECT_EQ(tab->preferredStatusBarStyle(), platform::StatusBarStyle::Default);  // hidden

    showAtOnce();
    EXPECT_EQ(tab->preferredStatusBarStyle(), platform::StatusBarStyle::LightContent);
    header->chooseStatusBarStyle("none");
    EXPECT_TRUE(application.isStatusBarHidden());
    tab->hideNavigationBarWithAnimation(MVBarAnimation::None, std::nullopt);
    EXPECT_FALSE(tab->prefersStatusBarHidden());
}

TEST_F(MVNavigationHeaderTest, DelegateAnswersForTheHeader) {
    tab->setIdentifier("home");
    header->askToClose();
    EXPECT_TRUE(logged("MVWebView demands close but will do nothing."));
    const auto context =
        tab->pageContextForSource("mvapi:h1", "https://shop.example/h1", true, {"t"});
    ASSERT_TRUE(context);
    EXPECT_EQ(context->parameters(), nlohmann::json::array({{{"type", "navigationBar"},
                                                             {"src", "mvapi:h1"},
                                                             {"cached", true},
                                                             {"identifier", "home"}}}));
    EXPECT_EQ(tab->navigationControllerForWebView(*tab->webViewHeader()), tab);
}

}  // namespace
