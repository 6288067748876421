// What the page's reports of location.replace, history.replaceState and
// history.pushState do to the web view's history, through the navigation decision.
#include <gtest/gtest.h>

#include "libmerovane/bridge/MVJavascriptOverrides.h"
#include "libmerovane/bridge/MVWebViewAdapter.h"
#include "tests/bridge/MVWebViewFixture.h"

namespace {

constexpr const char* kPageOne = "mvtest://shop/one";
constexpr const char* kPageTwo = "mvtest://shop/two";

class MVWebViewOverridesTest : public MVWebViewFixture {
  protected:
    void SetUp() override {
        MVWebViewFixture::SetUp();
        serveSite({kPageOne, kPageTwo});
    }
    void openOne() {
        webView->openUrl(kPageOne);
        ASSERT_TRUE(waitUntilLoaded());
        ASSERT_EQ(pageModel->overrideInjections(), 1);
    }
};

TEST_F(MVWebViewOverridesTest, LocationReplaceSwapsTheNewestEntryForANativeLoad) {
    openOne();
    pageModel->locationReplace(kPageTwo);
    platform::runUntilIdle();
    EXPECT_FALSE(page().decisions().at(page().decisions().size() - 2).allowed);
    ASSERT_TRUE(settle([&] { return site->requestCount(kPageTwo) == 1 && !webView->isLoading(); }));
    EXPECT_EQ(historyUrls(), (std::vector<std::string>{kPageTwo}));
    EXPECT_EQ(webView->currentUrl(), kPageTwo);
    EXPECT_TRUE(logged("MVWebView<1000> will handle JS override 'window.location.replace'"));
    EXPECT_EQ(notes->names, (std::vector<std::string>{"start", "finish", "start", "finish"}));
    // A relative address stays on the site.
    pageModel->locationReplace("one");
    ASSERT_TRUE(settle([&] { return site->requestCount(kPageOne) == 2 && !webView->isLoading(); }));
    EXPECT_EQ(historyUrls(), (std::vector<std::string>{kPageOne}));
}

TEST_F(MVWebViewOverridesTest, UnreadableReportsChangeNothing) {
    openOne();
    const char* reports[] = {
        "mvwebview-override-location.replace://%FF",        // no text
        "mvwebview-override-history.pushState://%C3",       // cut-off character
        "mvwebview-override-location.replace://a%20b%22c",  // no address
        "mvwebview-override-location.replace:",             // nothing after the scheme
    };
    for (const char* report : reports) {
        page().navigate(report);
        platform::runUntilIdle();
        EXPECT_FALSE(lastDecision()) << report;
    }
    EXPECT_EQ(loggedCount("could not read the address of JS override"), 4u);
    platform::advanceBy(1.0);
    EXPECT_EQ(historyUrls(), (std::vector<std::string>{kPageOne}));
    EXPECT_EQ(site->requests().size(), 1u);
    EXPECT_EQ(owner->count("didModifyHistory"), 0u);
}

TEST_F(MVWebViewOverridesTest, ReplaceStateRewritesTheNewestAddressWithoutLoading) {
    openOne();
    pageModel->replaceState("mvtest://shop/one?sort=price");
    platform::runUntilIdle();
    EXPECT_FALSE(lastDecision());
    EXPECT_EQ(historyUrls(), (std::vector<std::string>{"mvtest://shop/one?sort=price"}));
    platform::advanceBy(1.0);
    EXPECT_EQ(site->requests().size(), 1u);
    EXPECT_FALSE(webView->isLoading());
    EXPECT_TRUE(logged("MVWebView<1000> will handle JS override 'history.replaceState'"));
    // However the engine writes the scheme.
    page().navigate("mvwebview-override-history.replacestate://mvtest%3A%2F%2Fshop%2Fone%3Fp%3D2");
    platform::runUntilIdle();
    EXPECT_EQ(historyUrls(), (std::vector<std::string>{"mvtest://shop/one?p=2"}));
}

TEST_F(MVWebViewOverridesTest, ReplaceStateOnAnHtmlPageSetsItsBaseUrl) {
    webView->loadHTMLString("<p/>", platform::URL::parse("https://shop.example/a"));
    platform::advanceBy(0.1);
    pageModel->replaceState("https://shop.example/b");
    platform::runUntilIdle();
    EXPECT_EQ(webView->pageHistory().back()->baseUrl(), "https://shop.example/b");
    EXPECT_FALSE(webView->pageHistory().back()->isUrlEntry());
    EXPECT_EQ(webView->currentUrl(), "https://shop.example/b");
}

TEST_F(MVWebViewOverridesTest, PushStateAddsAnEntryThatGoingBackLeavesInsideThePage) {
    openOne();
    pageModel->pushState("mvtest://shop/one/details");
    platform::runUntilIdle();
    EXPECT_FALSE(lastDecision());
    EXPECT_EQ(historyUrls(), (std::vector<std::string>{kPageOne, "mvtest://shop/one/details"}));
    EXPECT_TRUE(webView->pageHistory().back()->isPushState());
    EXPECT_EQ(owner->count("didModifyHistory"), 1u);
    EXPECT_TRUE(logged("MVWebView<1000> will handle JS override 'history.pushState'"));

    EXPECT_TRUE(webView->goBack());
    EXPECT_EQ(page().scripts().back(), "history.go(-1)");
    platform::advanceBy(1.0);
    EXPECT_EQ(historyUrls(), (std::vector<std::string>{kPageOne}));
    EXPECT_EQ(site->requests().size(), 1u);
}

TEST_F(MVWebViewOverridesTest, ReportedAddressesAreNeverPastedIntoScripts) {
    openOne();
    // A page chooses its addresses; quotes in them must not reach a script.
    const std::string odd = "mvtest://shop/one?q=a\"b'c";
    pageModel->pushState(odd);
    platform::runUntilIdle();
    ASSERT_EQ(webView->pageHistory().back()->documentUrl(), odd);
    page().navigate(kPageTwo);
    ASSERT_TRUE(settle([&] { return site->requestCount(kPageTwo) == 1 && !webView->isLoading(); }));
    EXPECT_TRUE(webView->goBack());
    EXPECT_TRUE(webView->goBack());
    platform::advanceBy(1.0);
    for (const auto& script : page().scripts()) EXPECT_EQ(script.find("a\"b'c"), std::string::npos);
}

TEST_F(MVWebViewOverridesTest, ReportsAreHandledBeforeTheFrameRule) {
    openOne();
    platform::URLRequest report(*platform::URL::parse(
        std::string(MVJavascriptOverrides::kHistoryPushStateScheme) + "://mvtest%3A%2F%2Fx"));
    report.setMainDocumentURL(platform::URL::parse(kPageOne));
    EXPECT_EQ(webView->webViewShouldStartLoadWithRequest(*webView->webView(), report,
                                                         platform::NavigationType::Other),
              false);
    EXPECT_EQ(historyUrls(), (std::vector<std::string>{kPageOne, "mvtest://x"}));
}

}  // namespace
