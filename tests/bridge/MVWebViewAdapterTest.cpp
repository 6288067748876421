// The adapters over the platform web view, and the factory's choice.
#include <gtest/gtest.h>

#include "libmerovane/bridge/MVWebViewAdapter.h"
#include "libmerovane/bridge/MVWebViewAdapterDelegate.h"
#include "libmerovane/bridge/MVWebViewAdapter_UIWebView.h"
#include "libmerovane/bridge/MVWebViewAdapter_WKWebView.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/TestDriver.h"
#include "platform/ui/ScrollView.h"
#include "platform/web/HeadlessWebEngine.h"
#include "platform/web/WebView.h"
#include "tests/support/PlatformTest.h"

namespace {

using platform::HeadlessWebEngine;

class RecordingAdapterDelegate : public MVWebViewAdapterDelegate {
  public:
    std::optional<bool> webViewShouldStartLoadWithRequest(MVWebViewAdapter& adapter,
                                                          const platform::URLRequest& request,
                                                          platform::NavigationType) override {
        adapters.push_back(&adapter);
        events.push_back("ask " + request.url().absoluteString());
        return answer;
    }
    void webViewDidStartLoad(MVWebViewAdapter& adapter) override {
        adapters.push_back(&adapter);
        events.push_back("start");
    }
    void webViewDidFinishLoad(MVWebViewAdapter& adapter) override {
        adapters.push_back(&adapter);
        events.push_back("finish");
    }
    void webViewDidFailLoadWithError(MVWebViewAdapter& adapter, const platform::Error& e) override {
        adapters.push_back(&adapter);
        events.push_back("fail " + std::to_string(e.code()));
    }

    std::optional<bool> answer;
    std::vector<std::string> events;
    std::vector<MVWebViewAdapter*> adapters;
};

class MVWebViewAdapterTest : public PlatformTest {
  protected:
    static HeadlessWebEngine& engineOf(platform::WebView& webView) {
        return dynamic_cast<HeadlessWebEngine&>(webView.engine());
    }
    std::shared_ptr<RecordingAdapterDelegate> delegate =
        std::make_shared<RecordingAdapterDelegate>();
};

TEST_F(MVWebViewAdapterTest, TheFactoryChoosesTheUIWebViewAdapter) {
    auto adapter = MVWebViewAdapter::webViewForCurrentOS();
    EXPECT_NE(std::dynamic_pointer_cast<MVWebViewAdapter_UIWebView>(adapter), nullptr);
    EXPECT_NE(adapter, MVWebViewAdapter::webViewForCurrentOS());
}

TEST_F(MVWebViewAdapterTest, SynchronousScriptsHaveAnsweredWhenTheCallReturns) {
    auto adapter = MVWebViewAdapter_UIWebView::create();
    auto& page = engineOf(adapter->platformWebView());
    page.setScriptResponder([](const std::string& s) -> HeadlessWebEngine::ScriptAnswer {
        if (s == "document.title") return "Shop";
        if (s == "6*7") return "42";
        return "";
    });
    struct Row {
        const char* script;
        const char* result;
    } rows[] = {{"6*7", "42"}, {"void 0", ""}, {"document.title", "Shop"}};
    for (const auto& row : rows) {
        std::optional<std::string> result;
        bool hadError = true;
        adapter->evaluateJavaScript(row.script, [&](const std::string& r, const auto& error) {
            result = r;
            hadError = error.has_value();
        });
        EXPECT_EQ(result, row.result) << row.script;
        EXPECT_FALSE(hadError);
        EXPECT_EQ(adapter->stringByEvaluatingJavaScriptFromString(row.script), row.result);
    }
    adapter->evaluateJavaScript("6*7");  // no completion wanted
    EXPECT_EQ(adapter->documentTitle(), "Shop");
    EXPECT_EQ(page.scripts().back(), "document.title");
}

TEST_F(MVWebViewAdapterTest, TheUIWebViewAdapterForwardsToThePlatformView) {
    auto adapter = MVWebViewAdapter_UIWebView::create(platform::Rect(0, 0, 320, 480));
    auto& webView = adapter->platformWebView();
    auto& page = engineOf(webView);
    EXPECT_FALSE(webView.isOpaque());
    EXPECT_EQ(webView.backgroundColor(), platform::Color::clear());
    EXPECT_EQ(page.width(), 320);

    auto scrollView = adapter->scrollView();
    ASSERT_NE(scrollView, nullptr);
    EXPECT_EQ(scrollView, webView.scrollView());
    EXPECT_EQ(webView.superview(), adapter);
    adapter->setFrame(platform::Rect(0, 0, 100, 50));
    EXPECT_EQ(scrollView->frame(), platform::Rect(0, 0, 100, 50));
    EXPECT_EQ(page.width(), 100);
    EXPECT_EQ(page.height(), 50);

    EXPECT_EQ(adapter->request(), std::nullopt);
    adapter->loadHTMLString("<p/>", platform::URL::parse("https://shop.example/"));
    adapter->loadData("<b/>", "text/html", "utf-8", platform::URL::parse("https://shop.example/d"));
    adapter->loadRequest(platform::URLRequest(*platform::URL::parse("about:blank")));
    platform::runUntilIdle();
    EXPECT_EQ(page.transcript()[0], "loadHTMLString https://shop.example/");
    EXPECT_EQ(page.transcript()[1], "loadData text/html utf-8 https://shop.example/d");
    EXPECT_EQ(page.transcript()[2], "loadRequest GET about:blank");
    ASSERT_NE(adapter->request(), std::nullopt);
    EXPECT_EQ(adapter->request()->url().absoluteString(), "about:blank");
}

TEST_F(MVWebViewAdapterTest, NavigationsFollowTheDelegatesAnswer) {
    auto adapter = MVWebViewAdapter_UIWebView::create();
    auto& page = engineOf(adapter->platformWebView());

    // No delegate: every request loads.
    adapter->loadHTMLString("<p>0</p>", std::nullopt);
    platform::runUntilIdle();
    EXPECT_EQ(page.currentPage()->content, "<p>0</p>");

    adapter->setDelegate(delegate);
    // A delegate that does not answer lets it load, and hears of start and finish.
    adapter->loadHTMLString("<p>1</p>", std::nullopt);
    platform::runUntilIdle();
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"ask about:blank", "start", "finish"}));
    EXPECT_EQ(page.currentPage()->content, "<p>1</p>");

    // A refused navigation is never loaded.
    delegate->answer = false;
    delegate->events.clear();
    page.navigate("https://elsewhere.example/");
    platform::runUntilIdle();
    adapter->loadHTMLString("<p>2</p>", std::nullopt);
    platform::runUntilIdle();
    EXPECT_EQ(delegate->events,
              (std::vector<std::string>{"ask https://elsewhere.example/", "ask about:blank"}));
    EXPECT_EQ(page.currentPage()->content, "<p>1</p>");
    for (const auto& load : page.loads()) {
        if (load.content == "<p>2</p>")
            EXPECT_EQ(load.state, HeadlessWebEngine::LoadState::Refused);
    }

    delegate->answer = true;
    delegate->events.clear();
    adapter->loadHTMLString("<p>3</p>", std::nullopt);
    platform::runUntilIdle();
    page.setFinishesLoadsAutomatically(false);
    adapter->loadHTMLString("<p>4</p>", std::nullopt);
    platform::runUntilIdle();
    page.failLoad(platform::Error(platform::kURLErrorDomain, platform::kURLErrorTimedOut));
    platform::runUntilIdle();
    EXPECT_EQ(delegate->events,
              (std::vector<std::string>{"ask about:blank", "start", "finish", "ask about:blank",
                                        "start", "fail -1001"}));
    for (auto* reported : delegate->adapters) EXPECT_EQ(reported, adapter.get());
}

TEST_F(MVWebViewAdapterTest, AnAdapterDroppedByItsDelegateStaysAliveDuringTheReport) {
    auto adapter = MVWebViewAdapter_UIWebView::create();
    struct Dropping : MVWebViewAdapterDelegate {
        std::shared_ptr<MVWebViewAdapter> held;
        void webViewDidStartLoad(MVWebViewAdapter& a) override {
            held.reset();
            a.setAlpha(0.5);  // still usable
        }
    };
    auto dropping = std::make_shared<Dropping>();
    dropping->held = adapter;
    adapter->setDelegate(dropping);
    adapter->loadHTMLString("<p/>", std::nullopt);
    adapter.reset();
    platform::runUntilIdle();
    EXPECT_EQ(dropping->held, nullptr);
}

TEST_F(MVWebViewAdapterTest, TheWKWebViewAdapterAnswersLater) {
    auto adapter = MVWebViewAdapter_WKWebView::create();
    auto& page = engineOf(adapter->platformWebView());
    page.setScriptResponder([](const std::string& s) { return s == "6*7" ? "42" : ""; });
    std::optional<std::string> result;
    adapter->evaluateJavaScript("6*7", [&](const std::string& r, const auto&) { result = r; });
    EXPECT_EQ(result, std::nullopt);
    platform::runUntilIdle();
    EXPECT_EQ(result, "42");
    // The synchronous form waits for the answer, turning the main loop meanwhile.
    EXPECT_EQ(adapter->stringByEvaluatingJavaScriptFromString("6*7"), "42");

    EXPECT_TRUE(adapter->platformWebView().suppressesIncrementalRendering());

    adapter->setDelegate(delegate);
    adapter->loadHTMLString("<p>wk</p>", platform::URL::parse("https://shop.example/"));
    platform::runUntilIdle();
    EXPECT_EQ(delegate->events,
              (std::vector<std::string>{"ask https://shop.example/", "start", "finish"}));
    EXPECT_EQ(adapter->request(), std::nullopt);
    adapter->setKeyboardDisplayRequiresUserAction(true);
    EXPECT_FALSE(adapter->keyboardDisplayRequiresUserAction());
}

TEST_F(MVWebViewAdapterTest, ASynchronousScriptThatNeverAnswersIsGivenUp) {
    struct Silent : MVWebViewAdapter {
        Silent() : MVWebViewAdapter(platform::Rect()) {}
        void evaluateJavaScript(const std::string&, ScriptCompletion) override {}
    };
    Silent adapter;
    EXPECT_EQ(adapter.stringByEvaluatingJavaScriptFromString("6*7", 0.05), "");
    EXPECT_TRUE(logged("MVWebViewAdapter gave up waiting 0.05 s for a script"));
}

TEST_F(MVWebViewAdapterTest, TheWKWebViewAdapterCannotServeNativeLoading) {
    auto adapter = MVWebViewAdapter_WKWebView::create();
    const std::function<void()> calls[] = {
        [&] { adapter->setScalesPageToFit(true); },
        [&] { (void)adapter->scalesPageToFit(); },
        [&] { adapter->loadData("<p/>", "text/html", "utf-8", std::nullopt); },
        [&] { adapter->loadRequest(platform::URLRequest(*platform::URL::parse("about:blank"))); },
    };
    for (const auto& call : calls) {
        try {
            call();
            ADD_FAILURE() << "no assertion";
        } catch (const platform::Exception& e) {
            EXPECT_EQ(e.name(), platform::kInternalInconsistencyException);
            EXPECT_EQ(e.reason(), "NO");
        }
    }
}

}  // namespace
