// A beating page taken off its tab in the real engine: once the tab's movement has ended
// its beats stop, and a command it had timed for later never comes.
#include <gtest/gtest.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/bridge/MVWebViewController.h"
#include "libmerovane/containers/MVNavigationController.h"
#include "libmerovane/containers/MVTabController.h"
#include "platform/ui/Window.h"
#include "tests/bridge/webkit/MVWebViewWebKitFixture.h"
#include "tests/support/FakeWebCache.h"
#include "tests/support/PollingWait.h"
#include "tests/support/ServingURLProtocol.h"
#include "tests/support/TestPageLibrary.h"

namespace {

using nlohmann::json;

constexpr const char* kPlain = "mvtest://shop/plain";
constexpr const char* kBeating = "mvtest://shop/beating";

// A beat every 100 ms, from the page's load on.
constexpr const char* kBeats =
    "<script>var beats = 0; setInterval(function () {"
    " mvSendCommands({ver: '2.0', cmds: [{c: 'testAnswer', p: {event: 'beat'}}]}); }, 100);"
    "</script>";
constexpr const char* kSendsOnload =
    "<script>addEventListener('load', function () {"
    " mvSendCommands({ver: '2.0', cmds: [{c: 'testOnload'}]}); });</script>";

struct Row {
    const char* command;
    std::vector<const char*> pages;  // opened in this order; the beating one is taken off
};

void PrintTo(const Row& row, std::ostream* os) {
    *os << row.command;
}

// The engine and the test commands as the web view's own real-engine tests set them up.
class PageOffItsTabWebKit : public MVWebViewWebKitFixture,
                            public ::testing::WithParamInterface<Row> {
  protected:
    void SetUp() override {
        MVWebViewWebKitFixture::SetUp();
        cache = FakeWebCache::install();
        site = std::make_unique<ServingURLProtocol>("mvtest");
        site->serve(kPlain, "text/html", testpage::pageWithLibrary("<p>plain</p>", kSendsOnload));
        site->serve(
            kBeating, "text/html",
            testpage::pageWithLibrary("<p>beating</p>", std::string(kSendsOnload) + kBeats));
        tabs = MVTabController::create();
        window = platform::Window::create(platform::Rect(0, 0, 320, 480));
        window->setRootViewController(tabs);
        window->makeKeyAndVisible();
        main = tabs->navigationController(std::string("main"));
    }
    void TearDown() override {
        window.reset();
        tabs.reset();
        main.reset();
        MVWebViewWebKitFixture::TearDown();
        site.reset();
    }

    static void perform(const char* version, const json& command) {
        MVCommandHandler::performCommandsFromCommandCollection(
            {{"ver", version}, {"cmds", json::array({command})}}, nullptr);
    }
    size_t beatsFrom(const MVWebView* webView) const {
        size_t count = 0;
        for (const auto& trip : pageRoundTrips())
            if (trip.webView == webView && trip.event == "beat") ++count;
        return count;
    }

    std::shared_ptr<FakeWebCache> cache;
    std::unique_ptr<ServingURLProtocol> site;
    std::shared_ptr<MVTabController> tabs;
    std::shared_ptr<platform::Window> window;
    std::shared_ptr<MVNavigationController> main;
};

TEST_P(PageOffItsTabWebKit, StopsBeatingOnceTheMovementHasEnded) {
    std::weak_ptr<MVWebView> beating;
    MVWebView* address = nullptr;
    for (const char* src : GetParam().pages) {
        perform("2.0", {{"c", "openPage"}, {"p", {{"src", src}, {"targetTab", "main"}}}});
        auto page = std::dynamic_pointer_cast<MVWebViewController>(main->pageStack().back());
        ASSERT_TRUE(page);
        auto webView = page->webViewFinal();
        ASSERT_TRUE(settle([&] { return webView->isUsingLibrary() && !webView->isLoading(); }));
        if (std::string(src) == kBeating) {
            beating = webView;
            address = webView.get();
        }
    }
    ASSERT_TRUE(settle([&] { return beatsFrom(address) >= 3; }));
    // Its own command for later: the shop would switch to an empty tab.
    beating.lock()->webView()->stringByEvaluatingJavaScriptFromString(
        "setTimeout(function () { mvSendCommands({ver: '1.0', cmds: "
        "[{c: 'showTab', p: {targetTab: 'zz'}}]}); }, 1000)");

    perform("1.0", {{"c", GetParam().command}, {"p", {{"targetTab", "main"}}}});
    // The movement ends well before the page's timer, which runs on real time.
    platform::advanceBy(1);
    EXPECT_FALSE(main->isTransitioning());
    EXPECT_FALSE(main->isPreservingViewControllers());
    EXPECT_TRUE(beating.expired());
    const size_t beats = beatsFrom(address);

    // 3 s later: not one more beat, and the timed command never came.
    runUntilPolled([] { return false; }, 3.0);
    EXPECT_EQ(beatsFrom(address), beats);
    EXPECT_EQ(tabs->currentPresentedTab(), main);
    EXPECT_FALSE(MVNavigationController::sharedInstanceForIdentifier("zz"));
    EXPECT_TRUE(MVErrorLogger::reports().empty());
}

INSTANTIATE_TEST_SUITE_P(Table, PageOffItsTabWebKit,
                         ::testing::Values(Row{"popTab", {kPlain, kBeating}},
                                           Row{"popTabToRoot", {kPlain, kBeating, kPlain}},
                                           Row{"flushTab", {kBeating, kPlain}}),
                         [](const auto& info) { return std::string(info.param.command); });

}  // namespace
