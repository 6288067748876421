// The container page driver: real web views on the headless engine, driven as pages, and
// the events they receive; here owned by a container that shows one page as its overlay.
#include <gtest/gtest.h>

#include "libmerovane/bridge/MVEventViews.h"
#include "libmerovane/bridge/MVEventWebViews.h"
#include "libmerovane/bridge/MVStatusBarStyle.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/bridge/MVWebViewCache.h"
#include "libmerovane/bridge/MVWebViewDelegate.h"
#include "libmerovane/containers/MVContainerViewController.h"
#include "libmerovane/core/UIApplicationExtensions.h"
#include "platform/ui/Application.h"
#include "platform/ui/Window.h"
#include "tests/support/ContainerPageDriver.h"
#include "tests/support/PageModelsForAllWebViews.h"
#include "tests/support/PlatformTest.h"
#include "tests/support/ServingURLProtocol.h"

namespace {

using platform::StatusBarStyle;

// A container whose overlay page answers for the status bar once it chose a style.
class PageContainer : public MVContainerViewController, public MVWebViewDelegate {
  public:
    static std::shared_ptr<PageContainer> create() {
        return std::shared_ptr<PageContainer>(new PageContainer);
    }
    void webViewDemandsCloseByCombat(MVWebView&) override { calls.push_back("close"); }
    std::shared_ptr<MVNavigationControllerInterface> navigationControllerForWebView(
        MVWebView&) override {
        return nullptr;
    }
    std::optional<MVEvent> pageContextForSource(const std::string&, const std::string&, bool,
                                                const std::vector<std::string>&) override {
        return std::nullopt;
    }
    void webViewDidChangePageSize(MVWebView& webView) override {
        const auto size = webView.sizeOfHtmlContent();
        calls.push_back("pageSize " + std::to_string(int(size.width)) + "x" +
                        std::to_string(int(size.height)));
    }
    void webViewDidChangeViewProperties(MVWebView&, const nlohmann::json& properties) override {
        calls.push_back("viewProperties " + properties.dump());
    }
    void webViewDidChangePreferredStatusBarStyle(
        MVWebView&, const std::shared_ptr<MVStatusBarStyle>& style) override {
        pageStyle = style;
        ::setNeedsStatusBarAppearanceUpdate(platform::Application::shared());
    }

    std::vector<std::string> calls;
    std::shared_ptr<MVStatusBarStyle> pageStyle;

  protected:
    std::shared_ptr<MVStatusBarStyle> overlayStatusBarStyle() const override { return pageStyle; }
};

class ContainerPageDriverTest : public PlatformTest {
  protected:
    void SetUp() override {
        PlatformTest::SetUp();
        page = ContainerPage::create(platform::Rect(0, 0, 320, 49));
        container = PageContainer::create();
        page->webView->setDelegate(container);
    }
    void TearDown() override {
        page.reset();
        platform::runUntilIdle();
        PlatformTest::TearDown();
    }

    std::shared_ptr<ContainerPage> page;
    std::shared_ptr<PageContainer> container;
};

TEST_F(ContainerPageDriverTest, ARenderedPageReportsItsSizeAndRecordsEvents) {
    ASSERT_TRUE(page->render({320, 49}));
    EXPECT_EQ(page->webView->sizeOfHtmlContent(), (platform::Size{320, 49}));

    const nlohmann::json content = {{"count", 3}, {"label", "cart"}};
    page->webView->performMVEvent(MVEventWebViews::updateTemplateContent(&content));
    page->webView->performMVEvent(MVEventViews::viewWillAppearAnimated(true));
    EXPECT_EQ(page->eventNames(),
              (std::vector<std::string>{"updateTemplateContent", "viewWillAppear"}));
    EXPECT_EQ(page->parametersOf("updateTemplateContent"),
              std::vector<nlohmann::json>{nlohmann::json::array({content})});
    EXPECT_EQ(page->parametersOf("viewWillAppear"),
              std::vector<nlohmann::json>{nlohmann::json::array({true})});
}

TEST_F(ContainerPageDriverTest, EventsSentWhileThePageLoadsArriveOnceItHasRendered) {
    page->webView->loadHTMLString("<p>bar</p>", platform::URL::parse("https://shop.example/b"));
    const nlohmann::json content = {{"a", 1}};
    page->webView->performMVEvent(MVEventWebViews::updateTemplateContent(&content));
    EXPECT_TRUE(page->events().empty());
    ASSERT_TRUE(page->finishLoading({300, 60}));
    EXPECT_EQ(page->eventNames(), std::vector<std::string>{"updateTemplateContent"});
}

TEST_F(ContainerPageDriverTest, ThePageChangesSizeAndPropertiesAndAsksToClose) {
    ASSERT_TRUE(page->render({320, 49}));
    page->changePageSize({320, 80});
    EXPECT_EQ(page->webView->sizeOfHtmlContent(), (platform::Size{320, 80}));
    page->setViewProperties({{"backgroundMenuWidth", 260}});
    page->askToClose();
    EXPECT_EQ(container->calls,
              (std::vector<std::string>{"pageSize 320x80",
                                        "viewProperties {\"backgroundMenuWidth\":260}", "close"}));
}

TEST_F(ContainerPageDriverTest, TheChosenStyleAnswersThroughTheContainerAtOnce) {
    auto window = platform::Window::create(platform::Rect(0, 0, 320, 480));
    window->setRootViewController(container);
    window->makeKeyAndVisible();
    auto& application = platform::Application::shared();
    ASSERT_TRUE(page->render({320, 49}));

    page->chooseStatusBarStyle("light");
    EXPECT_EQ(application.statusBarStyle(), StatusBarStyle::LightContent);
    page->chooseStatusBarStyle("none");
    EXPECT_TRUE(application.isStatusBarHidden());
    page->chooseStatusBarStyle("blue");  // any text: kept, answers dark
    EXPECT_EQ(container->pageStyle->string(), "blue");
    EXPECT_FALSE(application.isStatusBarHidden());
    EXPECT_EQ(application.statusBarStyle(), StatusBarStyle::Default);
}

TEST_F(ContainerPageDriverTest, PagesOfPooledWebViewsAreDrivenToo) {
    ServingURLProtocol site("mvtest");
    site.serve("mvtest://shop/menu", "text/html", "<p>menu</p>");
    PageModelsForAllWebViews models(
        [](HeadlessPageModel::Settings& settings) { settings.library = true; });
    auto pooled = MVWebViewCache::sharedCache().cachedWebViewForUrl("mvtest://shop/menu");
    auto menu = ContainerPage::of(pooled, models);
    EXPECT_EQ(menu->model, models.modelOf(*pooled));
    ASSERT_TRUE(menu->finishLoading({260, 480}));
    menu->webView->performMVEvent(MVEventViews::viewWillAppearAnimated(false));
    EXPECT_EQ(menu->eventNames(), std::vector<std::string>{"viewWillAppear"});
}

}  // namespace
