#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Exception.h"
#include "platform/foundation/TestDriver.h"
#include "platform/ui/ViewDrawing.h"
#include "platform/web/HeadlessWebEngine.h"
#include "platform/web/WebURLSchemes.h"
#include "platform/web/WebView.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/PlatformTest.h"
#include "tests/support/RecordingWebViewDelegate.h"
#include "tests/support/ServingURLProtocol.h"

using platform::Color;
using platform::Error;
using platform::HeadlessWebEngine;
using platform::Image;
using platform::NavigationType;
using platform::URL;
using platform::WebView;
using Strings = std::vector<std::string>;

namespace {

class HeadlessWebEngineTest : public PlatformTest {
  protected:
    void SetUp() override {
        PlatformTest::SetUp();
        auto engine = std::make_unique<HeadlessWebEngine>();
        page_ = engine.get();
        view_ = WebView::create(std::move(engine));
        delegate_ = std::make_shared<RecordingWebViewDelegate>();
        view_->setDelegate(delegate_);
    }

    void loadShop(const std::string& html = "<p>shop</p>") {
        view_->loadHTMLString(html, URL::parse("http://shop.invalid/a"));
        platform::runUntilIdle();
    }

    HeadlessWebEngine* page_ = nullptr;
    std::shared_ptr<WebView> view_;
    std::shared_ptr<RecordingWebViewDelegate> delegate_;
};

TEST_F(HeadlessWebEngineTest, EachLoadIsDecidedOnceFirstThenStartsAndFinishesOnLaterTurns) {
    view_->loadHTMLString("<p>a</p>", URL::parse("http://shop.invalid/a"));
    view_->loadData("raw", "text/plain", "ascii", std::nullopt);
    EXPECT_TRUE(delegate_->events.empty());
    EXPECT_FALSE(view_->isLoading());
    platform::runUntilIdle();
    // The second load replaces the first while it loads, as real engines do.
    EXPECT_EQ(delegate_->events, (Strings{"allow http://shop.invalid/a", "start",
                                          "allow about:blank", "fail -999", "start", "finish"}));
    EXPECT_EQ(delegate_->decisions[0].type, NavigationType::Other);
    EXPECT_EQ(
        page_->transcript(),
        (Strings{"loadHTMLString http://shop.invalid/a", "loadData text/plain ascii about:blank",
                 "decide http://shop.invalid/a other allowed", "start http://shop.invalid/a",
                 "decide about:blank other allowed", "fail http://shop.invalid/a -999",
                 "start about:blank", "finish about:blank"}));
    ASSERT_NE(page_->currentPage(), nullptr);
    EXPECT_EQ(page_->currentPage()->content, "raw");
    EXPECT_EQ(page_->currentPage()->mimeType, "text/plain");
    EXPECT_EQ(page_->currentPage()->textEncodingName, "ascii");
    EXPECT_EQ(page_->loads()[0].state, HeadlessWebEngine::LoadState::Cancelled);
    EXPECT_EQ(view_->request()->url().absoluteString(), "about:blank");
}

TEST_F(HeadlessWebEngineTest, RefusedLoadIsNeverLoaded) {
    loadShop();
    delegate_->rule = [](const platform::URLRequest&, NavigationType) { return false; };
    view_->loadHTMLString("<p>other</p>", URL::parse("http://other.invalid/"));
    platform::runUntilIdle();
    EXPECT_EQ(delegate_->events, (Strings{"allow http://shop.invalid/a", "start", "finish",
                                          "refuse http://other.invalid/"}));
    EXPECT_EQ(page_->currentPage()->content, "<p>shop</p>");
    EXPECT_EQ(page_->loads().back().state, HeadlessWebEngine::LoadState::Refused);
    EXPECT_EQ(view_->request()->url().absoluteString(), "http://shop.invalid/a");
}

TEST_F(HeadlessWebEngineTest, WithoutDelegateEveryRequestLoads) {
    view_->setDelegate({});
    loadShop();
    page_->navigate("mvcmd:%7B%7D");
    platform::runUntilIdle();
    EXPECT_EQ(page_->decisions().size(), 2u);
    EXPECT_TRUE(page_->decisions()[1].allowed);
    // Allowed, so the engine tries to load it; nothing serves that scheme.
    EXPECT_EQ(page_->transcript().back(), "fail mvcmd:%7B%7D -1002");
}

TEST_F(HeadlessWebEngineTest, ExpiredDelegateCountsAsNone) {
    delegate_->rule = [](const platform::URLRequest&, NavigationType) { return false; };
    delegate_.reset();
    loadShop();
    EXPECT_EQ(page_->transcript().back(), "finish http://shop.invalid/a");
}

TEST_F(HeadlessWebEngineTest, PageNavigationsAskTheDelegateWithTheirType) {
    delegate_->refuseSchemes({"mvcmd", "mvapi"});
    loadShop();
    page_->navigate("mvcmd:%7B%22ver%22%3A%222.0%22%7D");
    page_->setLocationHref("mvapi:home");
    page_->navigate("mvcmd:x", NavigationType::FormSubmitted);
    EXPECT_EQ(delegate_->decisions.size(), 1u);  // decided on later turns
    platform::runUntilIdle();
    ASSERT_EQ(delegate_->decisions.size(), 4u);
    const struct {
        const char* url;
        NavigationType type;
    } expected[] = {{"mvcmd:%7B%22ver%22%3A%222.0%22%7D", NavigationType::LinkClicked},
                    {"mvapi:home", NavigationType::Other},
                    {"mvcmd:x", NavigationType::FormSubmitted}};
    for (size_t i = 0; i < 3; ++i) {
        const auto& d = delegate_->decisions[i + 1];
        EXPECT_EQ(d.url(), expected[i].url);
        EXPECT_EQ(d.type, expected[i].type);
        EXPECT_FALSE(d.allowed);
        // The page navigates its top frame: the request is its own main document.
        EXPECT_EQ(d.request.mainDocumentURL()->absoluteString(), expected[i].url);
    }
    EXPECT_EQ(delegate_->starts, 1);
    EXPECT_EQ(page_->currentPage()->content, "<p>shop</p>");
    EXPECT_THROW(page_->navigate("mvcmd:{not a url}"), platform::Exception);
}

TEST_F(HeadlessWebEngineTest, ANavigationStartedBeforeANewerLoadIsRefusedWithoutAsking) {
    loadShop();
    page_->navigate("http://shop.invalid/old-target");
    view_->loadHTMLString("<p>new</p>", URL::parse("http://shop.invalid/new"));
    page_->navigate("http://shop.invalid/new#later");  // the newer page's own navigation
    platform::runUntilIdle();
    EXPECT_EQ(delegate_->events, (Strings{"allow http://shop.invalid/a", "start", "finish",
                                          "allow http://shop.invalid/new", "start",
                                          "allow http://shop.invalid/new#later", "finish"}));
    EXPECT_EQ(page_->currentPage()->content, "<p>new</p>");
    EXPECT_TRUE(logged("refused a navigation to http://shop.invalid/old-target"));
}

TEST_F(HeadlessWebEngineTest, FragmentMoveWithinTheDocumentLoadsNothing) {
    loadShop();
    page_->navigate("http://shop.invalid/a#top");
    platform::runUntilIdle();
    EXPECT_EQ(delegate_->events.back(), "allow http://shop.invalid/a#top");
    EXPECT_EQ(delegate_->starts, 1);
    EXPECT_EQ(page_->transcript().back(), "fragment http://shop.invalid/a#top");
    EXPECT_EQ(view_->request()->url().absoluteString(), "http://shop.invalid/a#top");
    EXPECT_EQ(page_->currentPage()->content, "<p>shop</p>");
}

TEST_F(HeadlessWebEngineTest, TestFinishesOrFailsLoadsItselfWhenItTakesOver) {
    page_->setFinishesLoadsAutomatically(false);
    loadShop();
    EXPECT_TRUE(view_->isLoading());
    EXPECT_EQ(delegate_->events, (Strings{"allow http://shop.invalid/a", "start"}));
    page_->finishLoad();
    EXPECT_TRUE(view_->isLoading());  // on a later turn
    platform::runUntilIdle();
    EXPECT_FALSE(view_->isLoading());
    EXPECT_EQ(delegate_->events.back(), "finish");

    loadShop();
    page_->failLoad(Error(platform::kURLErrorDomain, platform::kURLErrorTimedOut, "slow"));
    platform::runUntilIdle();
    EXPECT_EQ(delegate_->events.back(), "fail -1001");
    EXPECT_EQ(delegate_->lastError->localizedDescription(), "slow");
    page_->finishLoad();  // nothing is loading: nothing happens
    platform::runUntilIdle();
    EXPECT_EQ(delegate_->events.back(), "fail -1001");
}

TEST_F(HeadlessWebEngineTest, StopEndsTheLoadAsCancelledAndDropsUndecidedLoads) {
    page_->setFinishesLoadsAutomatically(false);
    loadShop();
    view_->loadHTMLString("<p>next</p>", URL::parse("http://shop.invalid/b"));
    view_->stopLoading();
    EXPECT_FALSE(view_->isLoading());
    platform::runUntilIdle();
    EXPECT_EQ(delegate_->events, (Strings{"allow http://shop.invalid/a", "start", "fail -999"}));
    EXPECT_EQ(page_->loads()[1].state, HeadlessWebEngine::LoadState::Cancelled);
    view_->stopLoading();  // idle: nothing to report
    platform::runUntilIdle();
    EXPECT_EQ(delegate_->failures, 1);
}

TEST_F(HeadlessWebEngineTest, ScriptsAreAnsweredByTheResponderInTheOrderSent) {
    loadShop();
    EXPECT_EQ(view_->stringByEvaluatingJavaScriptFromString("document.title"), "");  // no responder
    page_->setScriptResponder([](const std::string& script) -> HeadlessWebEngine::ScriptAnswer {
        if (script == "1+1") return "2";
        if (script == "boom()") return Error("WebKitJavascriptError", 699, "boom");
        return "";
    });
    std::vector<std::string> async;
    std::optional<Error> error;
    view_->evaluateJavaScript(
        "1+1", [&](const std::string& r, const std::optional<Error>& e) { async.push_back(r); });
    view_->evaluateJavaScript("boom()", [&](const std::string& r, const std::optional<Error>& e) {
        async.push_back(r);
        error = e;
    });
    EXPECT_EQ(view_->stringByEvaluatingJavaScriptFromString("boom()"), "");
    EXPECT_EQ(view_->stringByEvaluatingJavaScriptFromString("1+1"), "2");
    EXPECT_TRUE(async.empty());
    platform::runUntilIdle();
    EXPECT_EQ(async, (Strings{"2", ""}));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), 699);
    EXPECT_EQ(page_->scripts(), (Strings{"document.title", "1+1", "boom()", "boom()", "1+1"}));
    EXPECT_EQ(page_->transcript().back(), "evaluate 1+1");
}

TEST_F(HeadlessWebEngineTest, TitleIsThePagesAndANewDocumentClearsIt) {
    loadShop();
    page_->setTitle("Shop");
    EXPECT_EQ(view_->title(), "Shop");
    loadShop();
    EXPECT_EQ(view_->title(), "");
}

TEST_F(HeadlessWebEngineTest, SnapshotIsTheFrameFilledWithWhatShowsBehindThePage) {
    EXPECT_TRUE(view_->snapshot().isEmpty());  // no frame yet
    view_->setFrame({10, 20, 4, 3});
    EXPECT_EQ(page_->width(), 4);
    // No colour of its own: an opaque view shows white.
    EXPECT_EQ(view_->snapshot().pixel(0, 0), (Image::Pixel{255, 255, 255, 255}));
    view_->setBackgroundColor(Color::rgba(1, 0.5, 0, 0.25));
    const Image opaque = view_->snapshot();
    ASSERT_EQ(opaque.width(), 4);
    ASSERT_EQ(opaque.height(), 3);
    EXPECT_EQ(opaque.pixel(3, 2), (Image::Pixel{255, 128, 0, 255}));  // opaque: alpha ignored
    view_->setOpaque(false);
    EXPECT_EQ(view_->snapshot().pixel(0, 0), (Image::Pixel{255, 128, 0, 64}));
    view_->setBackgroundColor(std::nullopt);
    EXPECT_EQ(view_->snapshot().pixel(0, 0).a, 0);  // nothing shows
    view_->setFrame({0, 0, 1e9, 1e9});              // absurd sizes take no picture
    EXPECT_TRUE(view_->snapshot().isEmpty());
}

TEST_F(HeadlessWebEngineTest, DrawingTheViewDrawsThePageAndSizeFollowsAutoresizing) {
    auto window = platform::View::create({0, 0, 8, 6});
    view_->setFrame({0, 0, 8, 6});
    view_->setAutoresizingMask(platform::kAutoresizingFlexibleWidth |
                               platform::kAutoresizingFlexibleHeight);
    window->addSubview(view_);
    window->setFrame({0, 0, 10, 6});
    EXPECT_EQ(page_->width(), 10);
    EXPECT_EQ(view_->scrollView()->frame(), (platform::Rect{0, 0, 10, 6}));
    view_->setBackgroundColor(Color::rgba(0, 0, 1, 1));
    const Image shot = platform::imageOfViewHierarchy(*window, 2);
    ASSERT_EQ(shot.width(), 20);
    EXPECT_EQ(shot.pixel(19, 11), (Image::Pixel{0, 0, 255, 255}));
    EXPECT_EQ(page_->transcript().back(), "snapshot");
}

TEST_F(HeadlessWebEngineTest, ViewDestroyedWithWorkPendingHearsNothing) {
    loadShop();
    page_->navigate("mvcmd:x");
    view_->evaluateJavaScript(
        "1", [&](const std::string&, const std::optional<Error>&) { ADD_FAILURE(); });
    view_.reset();
    platform::runUntilIdle();
    EXPECT_EQ(delegate_->decisions.size(), 1u);
}

// A delegate that lets go of its web view in the middle of a report.
class DestroyingDelegate : public platform::WebViewDelegate {
  public:
    std::shared_ptr<WebView>* owner = nullptr;
    std::string destroyIn;
    bool shouldStartLoad(WebView&, const platform::URLRequest&, NavigationType) override {
        if (destroyIn == "decide") owner->reset();
        return true;
    }
    void didStartLoad(WebView&) override {
        if (destroyIn == "start") owner->reset();
    }
    void didFailLoad(WebView&, const Error&) override {
        if (destroyIn == "fail") owner->reset();
    }
};

TEST_F(HeadlessWebEngineTest, DelegateMayDestroyTheViewInsideAnyReport) {
    for (const char* when : {"decide", "start", "fail"}) {
        auto engine = std::make_unique<HeadlessWebEngine>();
        auto* page = engine.get();
        auto view = WebView::create(std::move(engine));
        auto delegate = std::make_shared<DestroyingDelegate>();
        delegate->owner = &view;
        view->setDelegate(delegate);
        page->setFinishesLoadsAutomatically(false);
        view->loadHTMLString("<p>a</p>", std::nullopt);
        if (std::string(when) == "fail") {
            platform::runUntilIdle();
            delegate->destroyIn = when;
            view->loadHTMLString("<p>b</p>", std::nullopt);  // replaces the first: fail, then start
        } else {
            delegate->destroyIn = when;
        }
        platform::runUntilIdle();
        EXPECT_EQ(view, nullptr) << when;
    }
}

TEST_F(HeadlessWebEngineTest, ViewSettingsAreKeptAndFrameSizesTheEngine) {
    view_->setFrame({1, 2, 300, 400});
    EXPECT_EQ(view_->frame(), (platform::Rect{1, 2, 300, 400}));
    EXPECT_EQ(page_->height(), 400);
    EXPECT_TRUE(view_->isOpaque());
    EXPECT_EQ(page_->backgroundColor(), Color::white());
    view_->setBackgroundColor(Color::clear());
    view_->setOpaque(false);
    EXPECT_EQ(page_->backgroundColor(), Color::clear());
    view_->setScalesPageToFit(true);
    view_->setSuppressesIncrementalRendering(true);
    view_->setKeyboardDisplayRequiresUserAction(false);
    EXPECT_TRUE(view_->scalesPageToFit());
    EXPECT_TRUE(view_->suppressesIncrementalRendering());
    EXPECT_FALSE(view_->keyboardDisplayRequiresUserAction());
    ASSERT_NE(view_->scrollView(), nullptr);
    EXPECT_EQ(view_->scrollView()->superview(), view_);
}

TEST_F(HeadlessWebEngineTest, NewViewsTakeTheInstalledEngineFactory) {
    EXPECT_NE(dynamic_cast<HeadlessWebEngine*>(&WebView::create()->engine()), nullptr);
    int made = 0;
    WebView::setEngineFactory([&] {
        ++made;
        return std::make_unique<HeadlessWebEngine>();
    });
    WebView::create();
    EXPECT_EQ(made, 1);
    WebView::setEngineFactory(nullptr);
    WebView::create();
    EXPECT_EQ(made, 1);
}

}  // namespace

namespace {

constexpr double kIO = 20.0;

TEST_F(HeadlessWebEngineTest, RequestLoadsComeThroughURLProtocolsAndTheNetwork) {
    ServingURLProtocol site("mvtest");
    site.serve("mvtest://shop/page", "text/html", "<p>from protocol</p>");
    HttpTestServer server;
    server.respond("/page", HttpTestServer::Response::text(200, "<p>from network</p>",
                                                           "text/html; charset=utf-8"));
    server.respond("/old", HttpTestServer::Response::redirect(302, "/page"));
    server.respond("/missing", HttpTestServer::Response::text(404, "gone"));
    HttpTestServer::RefusingPort refusing;
    const struct Row {
        std::string url;
        std::string finalURL;
        std::string event;
        std::string content;
    } rows[] = {
        {"mvtest://shop/page", "mvtest://shop/page", "finish", "<p>from protocol</p>"},
        {server.url("/page"), server.url("/page"), "finish", "<p>from network</p>"},
        {server.url("/old"), server.url("/page"), "finish",
         "<p>from network</p>"},  // redirects followed unasked
        {server.url("/missing"), server.url("/missing"), "finish",
         "gone"},  // an error page is a page
        {refusing.url("/"), refusing.url("/"), "fail -1004", ""},
    };
    for (const auto& row : rows) {
        const size_t before = delegate_->events.size();
        view_->loadRequest(platform::URLRequest(*URL::parse(row.url)));
        ASSERT_TRUE(platform::runUntil([&] { return delegate_->events.size() == before + 3; }, kIO))
            << row.url;
        EXPECT_EQ(delegate_->events[before], "allow " + row.url);
        EXPECT_EQ(delegate_->events[before + 2], row.event) << row.url;
        EXPECT_EQ(page_->loads().back().content, row.content) << row.url;
        EXPECT_EQ(view_->request()->url().absoluteString(), row.finalURL) << row.url;
    }
    EXPECT_EQ(site.requestCount("mvtest://shop/page"), 1u);
    EXPECT_EQ(page_->loads()[1].mimeType, "text/html");
    EXPECT_EQ(page_->loads()[1].textEncodingName, "utf-8");
    EXPECT_EQ(delegate_->decisions.size(), 5u);  // one per load, none for the redirect
}

TEST_F(HeadlessWebEngineTest, AllowedPageNavigationIsFetchedAndStoppingCancelsTheFetch) {
    HttpTestServer server;
    server.respond("/next", HttpTestServer::Response::text(200, "<p>next</p>", "text/html"));
    HttpTestServer::Response held = HttpTestServer::Response::text(200, "late", "text/html");
    held.holdUntilReleased = "gate";
    server.respond("/held", held);
    loadShop();
    page_->navigate(server.url("/next"));
    ASSERT_TRUE(platform::runUntil([&] { return delegate_->finishes == 2; }, kIO));
    EXPECT_EQ(page_->currentPage()->content, "<p>next</p>");
    EXPECT_EQ(page_->currentPage()->kind, HeadlessWebEngine::LoadKind::Navigation);

    page_->setLocationHref(server.url("/held"));
    ASSERT_TRUE(platform::runUntil([&] { return server.requestCount("/held") == 1; }, kIO));
    const size_t closed = server.closedConnectionCount();
    view_->stopLoading();
    // The transfer is abandoned: the server sees its connection closed.
    EXPECT_TRUE(platform::runUntil([&] { return server.closedConnectionCount() > closed; }, kIO));
    platform::runUntilIdle();
    EXPECT_EQ(delegate_->events.back(), "fail -999");
    EXPECT_EQ(page_->currentPage()->content, "");
}

TEST(WebURLSchemesTest, KeepsOurSchemesInLowerCaseAndRefusesTheWebsOwn) {
    struct Row {
        const char* scheme;
        bool accepted;
    } rows[] = {
        {"mv-test", true},                                 // ordinary
        {"MV-Test", true},                                 // the same scheme, kept once
        {"a+b.c", true},                                   // every character a scheme may hold
        {"http", false},                                   // the web's own
        {"HTTPS", false},                                  // in any case
        {"data", false},   {"about", false}, {"", false},  // no name
        {"1abc", false},                                   // must start with a letter
        {"a b", false},                                    // no spaces
    };
    for (const auto& row : rows)
        EXPECT_EQ(platform::WebURLSchemes::registerScheme(row.scheme), row.accepted) << row.scheme;
    EXPECT_EQ(platform::WebURLSchemes::schemes(), (Strings{"mv-test", "a+b.c"}));
    EXPECT_TRUE(platform::WebURLSchemes::contains("MV-TEST"));
    EXPECT_FALSE(platform::WebURLSchemes::contains("http"));
}

}  // namespace
