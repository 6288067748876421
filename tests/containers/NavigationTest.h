#pragma once
// A tab's navigation stack in a 320 x 480 window under the tab controller, with a rendered
// header page; pages are served from "mvtest" documents and the fake web cache.
//
//   settleWith({page("A"), page("B")});
//   barEvents().back() == bar("B", "none", true)

#include <algorithm>

#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/bridge/MVWebViewController.h"
#include "libmerovane/containers/MVNavigationController.h"
#include "libmerovane/containers/MVTabController.h"
#include "libmerovane/core/MVSplashScreenInterface.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/View.h"
#include "platform/ui/Window.h"
#include "tests/support/ContainerPageDriver.h"
#include "tests/support/FakeLocalization.h"
#include "tests/support/FakeWebCache.h"
#include "tests/support/MVWebViewTestSupport.h"
#include "tests/support/PageModelsForAllWebViews.h"
#include "tests/support/PlatformTest.h"
#include "tests/support/PollingWait.h"
#include "tests/support/ServingURLProtocol.h"

class MVNavigationControllerTest : public PlatformTest {
  protected:
    using Controllers = MVNavigationController::Controllers;
    using Rect = platform::Rect;
    static constexpr const char* kFirstDocument = "mvtest://shop/one";
    static constexpr const char* kSecondDocument = "mvtest://shop/two";

    void SetUp() override {
        PlatformTest::SetUp();
        cache = FakeWebCache::install();
        localization = FakeLocalization::install();
        site = std::make_unique<ServingURLProtocol>("mvtest");
        site->serve(kFirstDocument, "text/html", "<p>one</p>");
        site->serve(kSecondDocument, "text/html", "<p>two</p>");
        models = std::make_unique<PageModelsForAllWebViews>([this](HeadlessPageModel::Settings& s) {
            if (discardable) s.discardedFromHistory = "1";
        });
        tabs = MVTabController::create();
        window = platform::Window::create(Rect(0, 0, 320, 480));
        window->setRootViewController(tabs);
        window->makeKeyAndVisible();
        tab = tabs->defaultNavigationController();
        header = renderedHeader(*tab);
    }
    void TearDown() override {
        window.reset();
        tabs.reset();
        tab.reset();
        header.reset();
        models.reset();
        platform::runUntilIdle();
        PlatformTest::TearDown();
        site.reset();
    }

    std::shared_ptr<ContainerPage> renderedHeader(MVNavigationController& stack) {
        // The load gives the header its model first.
        stack.webViewHeader()->loadHTMLString("<p>header</p>",
                                              platform::URL::parse("https://shop.example/bar"));
        auto page = ContainerPage::of(stack.webViewHeader(), *models);
        EXPECT_TRUE(page->finishLoading({320, 64}));
        return page;
    }
    static std::shared_ptr<MVWebViewController> page(const std::string& title) {
        auto controller = MVWebViewController::create();
        controller->setTitle(title);
        return controller;
    }
    // The page's web view shows two documents, the first carrying `tag`.
    void giveHistory(MVWebViewController& controller, const std::string& tag) {
        auto presented = [&] { return !controller.isLoading() && models->allLoaded(); };
        controller.openUrl(kFirstDocument);
        ASSERT_TRUE(runUntilPolled(presented, 10.0));
        controller.webViewFinal()->setViewTags({tag});
        headlessEngineOf(*controller.webViewFinal()).navigate(kSecondDocument);
        ASSERT_TRUE(runUntilPolled([&] { return controller.historySize() == 2; }, 10.0));
        ASSERT_TRUE(runUntilPolled(presented, 10.0));
    }
    // Pushes without animation and lets every transition and deferred step end.
    void settleWith(const Controllers& pages) {
        for (const auto& controller : pages) tab->pushViewController(controller, false);
        platform::advanceBy(1);
        ASSERT_FALSE(tab->isPreservingViewControllers());
    }
    // Settles [A], then pushes B and C animated in one turn: the platform animates to B
    // while the tab preserves [A, B, C]. Answers the three pages.
    std::vector<std::shared_ptr<MVWebViewController>> pushTwoInOneTurn() {
        std::vector pages{page("A"), page("B"), page("C")};
        settleWith({pages[0]});
        tab->pushViewController(pages[1], true);
        tab->pushViewController(pages[2], true);
        return pages;
    }
    // Settles [A], A's history tagged "t", then pops the pages with that tag: the visible
    // stack is empty and preserving.
    void emptyByTags() {
        auto a = page("A");
        giveHistory(*a, "t");
        a->webViewFinal()->setViewTags({"t"});
        settleWith({a});
        tab->popPagesWithTags({"t"}, true);
    }
    std::vector<nlohmann::json> barEvents() const {
        return header->parametersOf("updateNavigationBar");
    }
    static nlohmann::json bar(const std::string& title, const std::string& animation, bool back) {
        return nlohmann::json::array(
            {title,
             animation,
             {{"leftButtonArrow", back}, {"leftButtonAction", back ? "MVAction.popTab()" : ""}}});
    }

    std::shared_ptr<FakeWebCache> cache;
    std::shared_ptr<FakeLocalization> localization;
    std::unique_ptr<ServingURLProtocol> site;
    std::unique_ptr<PageModelsForAllWebViews> models;
    std::shared_ptr<MVTabController> tabs;
    std::shared_ptr<platform::Window> window;
    std::shared_ptr<MVNavigationController> tab;
    std::shared_ptr<ContainerPage> header;
    // Pages loaded from now on ask to be left out of the history.
    bool discardable = false;
};
