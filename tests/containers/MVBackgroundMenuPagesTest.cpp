// Background menu pages: the next menu's loading, parameters and measuring, its exchange
// (at once while closed, a cross-fade while open, a close in the middle of one), page-size
// changes and the reload of an API menu page from the web cache.
#include <any>

#include "libmerovane/bridge/MVWebCacheKeys.h"
#include "libmerovane/containers/MVBackgroundMenuAnimation.h"
#include "platform/foundation/NotificationCenter.h"
#include "tests/containers/MVBackgroundMenuTestFixture.h"
#include "tests/support/FakeWebCache.h"

namespace {

using Names = std::vector<std::string>;

// The runs that animated the view's opacity.
std::vector<platform::AnimationRunRecord> fadesOf(const platform::View& view) {
    std::vector<platform::AnimationRunRecord> fades;
    for (const auto& run : platform::animationLog())
        for (const auto& [changed, keyPath] : run.changes)
            if (changed == &view && keyPath == "opacity") fades.push_back(run);
    return fades;
}

class MVBackgroundMenuPagesTest : public MVBackgroundMenuTest {
  protected:
    // An open menu showing `first`, and a second page rendered while it is open.
    void openThenRenderSecond(std::optional<double> speedFactor = std::nullopt) {
        first = setMenu("foregroundLeft", "screenEdge");
        open();
        platform::clearAnimationLog();
        second = setMenu("foregroundLeft", "screenEdge", speedFactor);
    }
    std::shared_ptr<ContainerPage> first, second;
};

TEST_F(MVBackgroundMenuPagesTest, OpenMenuCrossFadesToTheNewPage) {
    openThenRenderSecond();
    EXPECT_EQ(controller->menuView()->subviews().back(), second->webView);
    EXPECT_EQ(controller->updatingState(), 3);
    EXPECT_EQ(second->webView->alpha(), 1);
    auto fadesIn = fadesOf(*second->webView);
    ASSERT_EQ(fadesIn.size(), 1u);
    EXPECT_EQ(fadesIn[0].duration, 0.44999998807907104);

    platform::advanceBy(kDuration);
    auto fadesOut = fadesOf(*first->webView);
    ASSERT_EQ(fadesOut.size(), 1u);
    EXPECT_EQ(fadesOut[0].duration, 0.30000001192092896);
    EXPECT_EQ(first->webView->superview(), controller->menuView());
    platform::advanceBy(0.3f);
    EXPECT_FALSE(first->webView->superview());
    EXPECT_EQ(currentWebView(), second->webView);
    EXPECT_FALSE(controller->nextMenu());
    EXPECT_EQ(controller->updatingState(), 0);
    EXPECT_EQ(controller->viewState(), 3);
}

TEST_F(MVBackgroundMenuPagesTest, HideDuringTheCrossFadeEndsClosedOnTheNewPage) {
    openThenRenderSecond();
    platform::advanceBy(0.1);
    controller->hideWithSpeedFactor(std::nullopt);
    platform::advanceBy(2);
    EXPECT_EQ(controller->viewState(), 1);
    EXPECT_EQ(currentWebView(), second->webView);
    EXPECT_FALSE(first->webView->superview());
    open();
    EXPECT_EQ(second->eventNames().back(), "viewDidAppear");
}

TEST_F(MVBackgroundMenuPagesTest, CloseEndingBeforeTheCrossFadeKeepsTheNewPage) {
    openThenRenderSecond();
    controller->hideWithSpeedFactor(0.1);  // closed long before the cross-fade ends
    platform::advanceBy(2);
    EXPECT_EQ(controller->viewState(), 1);
    EXPECT_EQ(currentWebView(), second->webView);
    open();
    EXPECT_EQ(currentWebView()->superview(), controller->menuView());
}

TEST_F(MVBackgroundMenuPagesTest, ClosedMenuTakesTheNewPageTypeAndRecognizerAtOnce) {
    first = setMenu("foregroundLeft");
    second = setMenu("backgroundRight", "screenEdge");
    EXPECT_EQ(currentWebView(), second->webView);
    EXPECT_EQ(second->webView->alpha(), 1);
    EXPECT_EQ(*controller->defaultAnimation()->animationClass().animationType(), "backgroundRight");
    ASSERT_TRUE(controller->menuGestureRecognizer());
    // The menu lies behind the content for this type.
    EXPECT_EQ(controller->view()->subviews().back(), controller->contentContainerView());
    EXPECT_TRUE(first->events().empty());
}

TEST_F(MVBackgroundMenuPagesTest, OpenMenuKeepsTheNewTypesUntilItHasClosed) {
    first = setMenu("foregroundLeft");
    open();
    second = setMenu("backgroundRight", "screenEdge");
    EXPECT_EQ(controller->nextDefaultPresentationType(), "backgroundRight");
    EXPECT_EQ(*controller->defaultAnimation()->animationClass().animationType(), "foregroundLeft");
    EXPECT_FALSE(controller->menuGestureRecognizer());
    controller->hideWithSpeedFactor(std::nullopt);
    platform::advanceBy(2);
    EXPECT_EQ(*controller->defaultAnimation()->animationClass().animationType(), "backgroundRight");
    EXPECT_TRUE(controller->menuGestureRecognizer());
    EXPECT_EQ(currentWebView(), second->webView);
}

TEST_F(MVBackgroundMenuPagesTest, ParametersReachThePageBeforeItIsShown) {
    const nlohmann::json params = {{"count", 2}};
    auto page = setMenu("foregroundLeft", std::nullopt, std::nullopt, &params);
    EXPECT_EQ(currentWebView(), page->webView);
    EXPECT_EQ(controller->updatingState(), 0);
    controller->showWithPresentationType(std::nullopt, std::nullopt);
    EXPECT_EQ(page->eventNames(), (Names{"updateTemplateContent", "viewWillAppear"}));
    EXPECT_EQ(page->parametersOf("updateTemplateContent")[0], nlohmann::json::array({params}));
}

TEST_F(MVBackgroundMenuPagesTest, MenuTakesThePageWidthByTheControllerHeight) {
    auto page = setMenu("foregroundLeft", std::nullopt, std::nullopt, nullptr, 280);
    EXPECT_EQ(controller->menuViewSize(), (platform::Size{280, kHeight}));
    EXPECT_EQ(controller->menuView()->frame().size, (platform::Size{280, kHeight}));
    EXPECT_EQ(page->webView->frame().size, (platform::Size{280, kHeight}));

    open();
    page->changePageSize({320, 900});
    EXPECT_EQ(controller->menuView()->frame().size, (platform::Size{320, kHeight}));
    EXPECT_EQ(page->webView->frame(), platform::Rect(0, 0, 320, kHeight));
}

TEST_F(MVBackgroundMenuPagesTest, OnlyTheLastOfTwoPagesSetBeforeRenderingIsKept) {
    auto dropped = loadMenu("foregroundLeft");
    // A menu's web view: the controller's bounds, resizing, transparent until exchanged.
    EXPECT_EQ(dropped->webView->frame(), controller->view()->bounds());
    EXPECT_EQ(dropped->webView->autoresizingMask(), 18u);
    EXPECT_EQ(dropped->webView->alpha(), 0);
    EXPECT_NE(dropped->webView->debugName().find("BackgroundMenu"), std::string::npos);
    EXPECT_EQ(dropped->webView->delegate(), controller);
    EXPECT_EQ(controller->updatingState(), 1);
    auto kept = loadMenu("foregroundRight");
    ASSERT_TRUE(kept->finishLoading({300, kHeight}));
    dropped->finishLoading({300, kHeight});
    EXPECT_EQ(currentWebView(), kept->webView);
    EXPECT_FALSE(dropped->webView->delegate());
    EXPECT_EQ(*controller->defaultAnimation()->animationClass().animationType(), "foregroundRight");
}

TEST_F(MVBackgroundMenuPagesTest, WebCacheUpdateReloadsTheApiMenuPage) {
    auto cache = FakeWebCache::install();
    cache->setPage("mv-api-page:menu", "<p>menu</p>", "https://shop.example/menu");
    const nlohmann::json params = {{"a", 1}};
    controller->setContentWithUrl("mvapi:menu", "foregroundLeft", "screenEdge", 2.0, &params);
    auto page = std::make_shared<ContainerPage>(
        controller->nextMenu()->menuWebView,
        HeadlessPageModel::attach(headlessEngineOf(*controller->nextMenu()->menuWebView)));
    page->model->settings.library = true;
    ASSERT_TRUE(page->finishLoading({300, kHeight}));
    ASSERT_EQ(currentWebView(), page->webView);
    open();

    auto post = [](std::string key) {
        platform::NotificationCenter::defaultCenter().post(MVWebCacheDidUpdateKeyNotification,
                                                           nullptr, std::any(std::move(key)));
        platform::runUntilIdle();
    };
    for (const char* other : {"mv-api-pagemenu", "mv-api-data:menu", "mv-api-page:other"}) {
        post(other);
        EXPECT_FALSE(controller->nextMenu()) << other;
    }
    post("mv-api-page:menu");
    ASSERT_TRUE(controller->nextMenu());
    EXPECT_EQ(controller->nextMenu()->speedFactor, 2.0);
    EXPECT_EQ(*controller->nextMenu()->menuParams, params);
    EXPECT_EQ(controller->nextDefaultPresentationType(), "foregroundLeft");
    EXPECT_EQ(controller->nextDefaultGestureRecognizer(), "screenEdge");
    EXPECT_EQ(controller->viewState(), 3);
}

}  // namespace
