// Page opening, replacing, refreshing and closing commands and the page state commands,
// on the headless engine with a recording tab controller and the manual clock.
#include <gtest/gtest.h>

#include "libmerovane/bridge/MVWebViewCache.h"
#include "libmerovane/core/MVResourceMonitor.h"
#include "platform/foundation/Clock.h"
#include "platform/ui/Application.h"
#include "platform/ui/Layer.h"
#include "platform/ui/ScrollView.h"
#include "tests/handlers/PageCommandTest.h"
#include "tests/support/RecordingMVWebViewDelegate.h"

using nlohmann::json;
using Calls = std::vector<std::string>;

namespace {

using PageCommandsTest = PageCommandTest;

TEST_F(PageCommandsTest, OpenPage1_0PushesAnimatedOnThePagesTabAtTheTopPagesSize) {
    auto page = pageInTab("home");
    const json bar = {{"backgroundColor", "#fff"}};
    // 1.0 knows neither browser emulation nor an unanimated push
    perform("1.0",
            {{"c", "openPage"},
             {"p",
              {{"src", kOtherPage},
               {"title", "Details"},
               {"navigationBarParams", bar},
               {"emulateBrowser", 1},
               {"animated", 0}}}},
            page);
    auto stack = tabs->stack("home");
    ASSERT_EQ(stack->calls, Calls{"pushViewController(1)"});
    auto pushed = std::dynamic_pointer_cast<MVWebViewController>(stack->pushed[0]);
    ASSERT_TRUE(pushed);
    EXPECT_TRUE(pushed->nativeMode());
    EXPECT_EQ(pushed->title(), "Details");
    ASSERT_TRUE(pushed->navigationBarParameters());
    EXPECT_EQ(*pushed->navigationBarParameters(), bar);
    EXPECT_EQ(pushed->view()->bounds(), controller->view()->bounds());
    EXPECT_EQ(pushed->webViewFinal()->currentUrl(), kOtherPage);
    EXPECT_EQ(controllerNotes, Calls{MVWebViewControllerDidStartLoadingNotification});
    EXPECT_TRUE(MVErrorLogger::reports().empty());
}

TEST_F(PageCommandsTest, InvalidSourcesAreReportedAtErrorLevelAndOpenNothing) {
    auto page = pageInTab("home");
    const std::string url = page->currentUrl().value_or("");
    const std::string blank = "http://x/a b";
    struct Case {
        const char* version;
        json parameters;
        const char* line;
        const char* report;
        bool fiveKeys;  // the report's data: the five-key dictionary, else the parameters
    } cases[] = {
        {"1.0", {{"src", blank}}, "src is invalid! \"http://x/a b\"", "src is invalid!.", false},
        {"1.0",
         {{"src", kOtherPage}, {"previewSrc", blank}},
         "previewSrc is invalid! \"http://x/a b\"",
         "previewSrc is invalid!.",
         false},
        {"1.1",
         {{"src", blank}, {"emulateBrowser", 1}},
         "src is invalid! \"http://x/a b\"",
         "src is invalid!.",
         true},
        {"2.0",
         {{"src", kOtherPage}, {"previewSrc", blank}, {"title", "T"}},
         "previewSrc is invalid! \"http://x/a b\"",
         "previewSrc is invalid! .",
         true},
        {"3.0", {{"src", ""}}, "src is invalid! \"\"", "src is invalid!.", true},
    };
    for (const auto& c : cases) {
        MVErrorLogger::clearReports();
        perform(c.version, {{"c", "openPage"}, {"p", c.parameters}}, page);
        const std::string prefix = std::string("MVCommandHandler(v") + c.version + ").openPage() ";
        EXPECT_EQ(loggedLevel(prefix + c.line), platform::log::kError) << c.parameters;
        auto reports = MVErrorLogger::reports();
        ASSERT_EQ(reports.size(), 1u) << c.parameters;
        EXPECT_EQ(reports[0].description, prefix + c.report);
        ASSERT_TRUE(reports[0].data);
        const json fiveKeys = {{"webview.currentUrl", url},
                               {"previewSrc", c.parameters.value("previewSrc", "")},
                               {"title", c.parameters.value("title", "")},
                               {"emulateBrowser", c.parameters.value("emulateBrowser", json(""))},
                               {"src", c.parameters["src"]}};
        EXPECT_EQ(*reports[0].data, c.fiveKeys ? fiveKeys : c.parameters);
    }
    EXPECT_TRUE(tabs->stack("home")->calls.empty());
    EXPECT_TRUE(controllerNotes.empty());
}

TEST_F(PageCommandsTest, OpenPage1_0WithoutAStackReportsItsTwoVariants) {
    auto plain = page();  // a page outside every tab
    const std::string url = plain->currentUrl().value_or("");
    const json parameters = {{"src", kOtherPage}};
    const json targeted = {{"src", kOtherPage}, {"targetTab", "t"}};
    perform("1.0", {{"c", "openPage"}, {"p", parameters}});
    perform("1.0", {{"c", "openPage"}, {"p", parameters}}, plain);
    perform("1.0", {{"c", "openPage"}, {"p", targeted}}, plain);
    perform("1.0", {{"c", "openPage"}, {"p", targeted}});

    const std::string prefix = "MVCommandHandler(v1.0).openPage()";
    EXPECT_TRUE(logged(prefix + " could not find a tab for MVWebView(null)"));
    EXPECT_TRUE(logged(prefix + " could not find a tab for MVWebView" + plain->debugName()));
    EXPECT_TRUE(logged(prefix + "could not find a tab for MVWebView" + plain->debugName()));
    EXPECT_TRUE(logged(prefix + "could not find a tab for MVWebView(null)"));
    auto reports = MVErrorLogger::reports();
    ASSERT_EQ(reports.size(), 4u);
    for (const auto& report : reports)
        EXPECT_EQ(report.description, prefix + " could not find a tab for MVWebView.");
    EXPECT_FALSE(reports[0].data);  // from the server: no data
    for (size_t i : {1, 2, 3}) ASSERT_TRUE(reports[i].data) << i;
    EXPECT_EQ(*reports[1].data, json(url));
    EXPECT_EQ(*reports[2].data, json::array({targeted, url}));
    EXPECT_EQ(*reports[3].data, json::array({targeted}));
    EXPECT_TRUE(controllerNotes.empty());
}

TEST_F(PageCommandsTest, ACaptureAroundAnOpenPageThatFindsNoStackEnds) {
    auto& monitor = MVResourceMonitor::sharedResourceMonitor();
    for (const char* version : {"1.0", "1.1", "2.0"}) {
        bool ended = false;
        monitor.captureResources(
            [&] {
                perform(version, {{"c", "openPage"}, {"p", {{"src", kOtherPage}}}});
            },
            5, [&] { ended = true; });
        platform::runUntilIdle();
        EXPECT_TRUE(ended) << version;
    }
    EXPECT_TRUE(controllerNotes.empty());
    EXPECT_EQ(MVErrorLogger::reports().size(), 3u);
}

TEST_F(PageCommandsTest, AnySourceWithoutAStackIsReportedOnceAndOpensNothing) {
    const std::string sources[] = {
        "",
        " ",
        "http://x/a b",
        "\"quoted\"",
        "mvtest://shop/" + std::string(1 << 20, 'a'),  // 1 MB
        "javascript:alert(1)",
        "data:text/html,<p>",
        "::",
        "http://[::1",
    };
    for (const char* version : {"1.0", "1.1", "2.0"}) {
        for (const auto& src : sources) {
            MVErrorLogger::clearReports();
            perform(version,
                    {{"c", "openPage"}, {"p", {{"src", src}, {"previewSrc", src}, {"tags", {1}}}}});
            EXPECT_EQ(MVErrorLogger::reports().size(), 1u) << version << " " << src.substr(0, 40);
        }
    }
    platform::runUntilIdle();
    EXPECT_TRUE(controllerNotes.empty());
}

TEST_F(PageCommandsTest, OpenPageExternHandsTheURLToTheApplicationThatTakesIt) {
    auto& application = platform::Application::shared();
    application.registerURLSchemeForTesting("maps", [](const platform::URL&) {});
    perform("1.0", {{"c", "openPageExtern"}, {"p", {{"src", "maps://q=shop"}}}});
    perform("2.0", {{"c", "openPageExtern"}, {"p", {{"src", "nothing://x"}}}});
    perform("1.0", {{"c", "openPageExtern"}, {"p", {{"src", "a b"}}}});
    ASSERT_EQ(application.openedURLsForTesting().size(), 1u);
    EXPECT_EQ(application.openedURLsForTesting()[0].absoluteString(), "maps://q=shop");

    EXPECT_TRUE(logged("MVCommandHandler(v2.0).openPageExtern() cannot open URL: nothing://x"));
    EXPECT_TRUE(logged("MVCommandHandler(v1.0).openPageExtern() cannot open URL: (null)"));
    auto reports = MVErrorLogger::reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].description, "MVCommandHandler(v2.0).openPageExtern() Cannot open URL.");
    ASSERT_TRUE(reports[0].data);
    EXPECT_EQ(*reports[0].data, json("nothing://x"));
    EXPECT_EQ(reports[1].description, "MVCommandHandler(v1.0).openPageExtern() Cannot open URL.");
    EXPECT_FALSE(reports[1].data);
}

TEST_F(PageCommandsTest, ReplacePageOfAMenuBlinksARedMarkerForOneSecond) {
    auto menu = page();
    auto owner = std::make_shared<RecordingMVWebViewDelegate>();
    menu->setDelegate(owner);
    menu->setFrame(platform::Rect(0, 20, 320, 44));
    auto container = platform::View::create(platform::Rect(0, 0, 320, 480));
    container->addSubview(menu);

    perform("1.0", {{"c", "replacePage"}, {"p", {{"src", kOtherPage}, {"title", "T"}}}}, menu);

    EXPECT_EQ(menu->currentUrl(), kOtherPage);
    EXPECT_EQ(menu->historySize(), 1u);
    ASSERT_EQ(container->subviews().size(), 2u);
    auto marker = container->subviews()[1];
    EXPECT_EQ(marker->frame(), menu->frame());
    EXPECT_EQ(marker->alpha(), 0);
    EXPECT_FALSE(marker->isUserInteractionEnabled());
    EXPECT_EQ(marker->backgroundColor(), platform::Color::rgba(1, 0, 0, 1));
    const platform::LayerAnimation* blink = marker->layer()->animationForKey("replacePageBlinking");
    ASSERT_TRUE(blink);
    EXPECT_EQ(blink->keyPath, "opacity");
    EXPECT_TRUE(blink->from.empty());  // from the model value
    EXPECT_EQ(blink->to, std::vector<double>{0.25});
    EXPECT_EQ(blink->durationNanos, platform::secondsToNanos(0.25));
    EXPECT_TRUE(blink->autoreverses);
    EXPECT_EQ(blink->repeatCount, 4);
    EXPECT_EQ(blink->timingFunction, platform::TimingFunction::EaseInEaseOut);
    EXPECT_EQ(blink->fillMode, platform::FillMode::Forwards);
    EXPECT_TRUE(blink->removedOnCompletion);

    platform::advanceBy(0.25);
    EXPECT_NEAR(marker->presentationAlpha(), 0.25, 1e-9);
    platform::advanceBy(0.749);
    EXPECT_EQ(marker->superview(), container);
    platform::advanceBy(0.001);
    EXPECT_EQ(marker->superview(), nullptr);
    EXPECT_EQ(container->subviews().size(), 1u);
    EXPECT_TRUE(MVErrorLogger::reports().empty());
}

TEST_F(PageCommandsTest, ReplacePageOfATabPageGoesThroughItsControllerWithoutMarker) {
    auto page = pageInTab("home");
    const json bar = {{"title", "bar"}};
    perform("1.0",
            {{"c", "replacePage"}, {"p", {{"src", kOtherPage}, {"navigationBarParams", bar}}}},
            page);
    EXPECT_NE(controller->webViewFinal(), page);
    EXPECT_EQ(controller->webViewFinal()->currentUrl(), kOtherPage);
    ASSERT_TRUE(controller->navigationBarParameters());
    EXPECT_EQ(*controller->navigationBarParameters(), bar);
    for (const auto& view : controller->view()->subviews())
        EXPECT_NE(view->backgroundColor(), platform::Color::rgba(1, 0, 0, 1));

    // an unlisted key of another type counts as absent: the parameters stay
    perform("3.0", {{"c", "replacePage"}, {"p", {{"src", kTabPage}, {"navigationBarParams", 7}}}},
            controller->webViewFinal());
    EXPECT_EQ(controller->webViewFinal()->currentUrl(), kTabPage);
    ASSERT_TRUE(controller->navigationBarParameters());
    EXPECT_EQ(*controller->navigationBarParameters(), bar);

    perform("1.0", {{"c", "replacePage"}, {"p", {{"src", kTabPage}}}});
    EXPECT_EQ(loggedLevel("<MVCommand:replacePage can only be called from a webview.>"),
              platform::log::kWarning);
    EXPECT_TRUE(MVErrorLogger::reports().empty());
}

TEST_F(PageCommandsTest, RefreshPageReloadsThroughTheControllerOrTheWebView) {
    auto page = pageInTab("home");
    perform("3.0", {{"c", "refreshPage"}}, page);
    // the controller loads a hidden copy that takes the page's place once rendered
    ASSERT_TRUE(controller->webViewRefresh());
    EXPECT_NE(controller->webViewRefresh(), page);
    EXPECT_EQ(controller->webViewRefresh()->currentUrl(), kTabPage);

    auto plain = this->page();
    perform("1.0", {{"c", "refreshPage"}}, plain);
    EXPECT_TRUE(plain->isLoading());
    EXPECT_EQ(plain->historySize(), 1u);

    perform("1.1", {{"c", "refreshPage"}});
    EXPECT_EQ(loggedLevel("MVCommandHandler(v1.1).refreshPage() can only be called from a webview"),
              platform::log::kWarning);
    auto reports = MVErrorLogger::reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].description,
              "MVCommandHandler(v1.1).refreshPage() can only be called from a webview.");
}

TEST_F(PageCommandsTest, CloseViewAsksTheWebViewsDelegate) {
    auto page = this->page();
    auto owner = std::make_shared<RecordingMVWebViewDelegate>();
    page->setDelegate(owner);
    perform("2.1", {{"c", "closeView"}}, page);
    EXPECT_EQ(owner->count("demandsClose"), 1u);
    owner.reset();
    perform("2.1", {{"c", "closeView"}}, page);  // no delegate: nothing
    EXPECT_TRUE(MVErrorLogger::reports().empty());
}

// The page-only state commands from the server: their two texts each.
TEST_F(PageCommandsTest, PageStateCommandsFromTheServerReportTheirTexts) {
    struct Case {
        const char* command;
        json parameters;
        const char* warning;
        const char* report;
    } cases[] = {
        {"onload", nullptr, "can only be called from MVWebviews",
         "can only be called from MVWebviews."},
        {"setViewProperties",
         {{"a", 1}},
         "can only be called from MVWebViews.",
         "can only be called from MVWebviews."},
        {"setTouchInputEnabled",
         {{"enabled", 1}},
         "not called from webview",
         "can only be called from a webview."},
        {"setScrollingEnabled",
         {{"enabled", 0}},
         "not called from webview",
         "can only be called from a webview."},
        {"pageSizeDidChange", nullptr, "can only be called from MVWebviews",
         "can only be called from MVWebviews."},
        {"setNavigationBarParams",
         {{"title", "T"}},
         "can only be called from a webview",
         "can only be called from a webview."},
        {"closeView", nullptr, "can only be called from MVWebviews",
         "can only be called from MVWebviews."},
    };
    for (const auto& c : cases) {
        MVErrorLogger::clearReports();
        json command = {{"c", c.command}};
        if (!c.parameters.is_null()) command["p"] = c.parameters;
        perform("1.0", command);
        const std::string prefix = std::string("MVCommandHandler(v1.0).") + c.command + "() ";
        EXPECT_EQ(loggedLevel(prefix + c.warning), platform::log::kWarning) << c.command;
        auto reports = MVErrorLogger::reports();
        ASSERT_EQ(reports.size(), 1u) << c.command;
        EXPECT_EQ(reports[0].description, prefix + c.report);
    }
}

TEST_F(PageCommandsTest, PageStateCommandsReachTheCallingWebView) {
    auto page = this->page();
    auto owner = std::make_shared<RecordingMVWebViewDelegate>();
    page->setDelegate(owner);

    perform("1.0", {{"c", "setTouchInputEnabled"}, {"p", {{"enabled", false}}}}, page);
    EXPECT_FALSE(page->isUserInteractionEnabled());
    perform("1.0", {{"c", "setTouchInputEnabled"}, {"p", {{"enabled", 0.5}}}}, page);
    EXPECT_TRUE(page->isUserInteractionEnabled());
    perform("1.0", {{"c", "setScrollingEnabled"}, {"p", {{"enabled", 0}}}}, page);
    EXPECT_FALSE(page->scrollView()->isScrollEnabled());
    perform("1.0", {{"c", "setScrollingEnabled"}}, page);  // refused by validation
    EXPECT_FALSE(page->scrollView()->isScrollEnabled());
    EXPECT_EQ(MVErrorLogger::reports().size(), 1u);  // the validation's own
    MVErrorLogger::clearReports();

    const json properties = {{"backgroundMenuWidth", 260}, {"other", "x"}};
    perform("2.0", {{"c", "setViewProperties"}, {"p", properties}}, page);
    ASSERT_TRUE(page->viewProperties());
    EXPECT_EQ(*page->viewProperties(), properties);

    const json bar = {{"color", "#000"}};
    perform(
        "1.0",
        {{"c", "setNavigationBarParams"}, {"p", {{"navigationBarParams", bar}, {"title", "T"}}}},
        page);
    ASSERT_TRUE(page->navigationBarParameters());
    EXPECT_EQ(*page->navigationBarParameters(), bar);
    EXPECT_EQ(page->navigationBarTitle(), "T");

    perform("1.0", {{"c", "pageSizeDidChange"}}, page);
    perform("1.0", {{"c", "onload"}}, page);
    perform("1.0", {{"c", "toggleKeyboard"}}, page);
    perform("1.0", {{"c", "toggleKeyboard"}});
    platform::runUntilIdle();
    EXPECT_TRUE(MVErrorLogger::reports().empty());
}

TEST_F(PageCommandsTest, PreloadViewAsksThePoolForAnyCaller) {
    perform("1.0", {{"c", "preloadView"}, {"p", {{"src", kTabPage}}}});
    perform("1.0", {{"c", "preloadView"}, {"p", {{"src", kOtherPage}}}}, page());
    auto pooled = MVWebViewCache::sharedCache().pooledUrls();
    EXPECT_EQ(std::count(pooled.begin(), pooled.end(), kTabPage), 1);
    EXPECT_EQ(std::count(pooled.begin(), pooled.end(), kOtherPage), 1);
    EXPECT_TRUE(MVErrorLogger::reports().empty());
}

}  // namespace
