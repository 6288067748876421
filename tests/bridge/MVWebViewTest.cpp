// MVWebView's set-up, serials, settings, cancelling and clearing.
#include <gtest/gtest.h>

#include <atomic>
#include <nlohmann/json.hpp>
#include <thread>

#include "libmerovane/bridge/MVCommand.h"
#include "libmerovane/bridge/MVEventDispatcher.h"
#include "libmerovane/bridge/MVWebViewAdapter.h"
#include "libmerovane/bridge/MVWebViewHistoryEntry.h"
#include "platform/ui/ScrollView.h"
#include "tests/bridge/MVWebViewFixture.h"

namespace {

using MVWebViewTest = MVWebViewFixture;

TEST_F(MVWebViewTest, SerialsCountFromThousandAndAreNeverReused) {
    EXPECT_EQ(webView->serialID(), 1000u);
    EXPECT_EQ(webView->serial(), 1000);
    auto second = MVWebView::create();
    auto third = MVWebView::create();
    EXPECT_EQ(second->serialID(), 1001u);
    EXPECT_EQ(third->serialID(), 1002u);
    EXPECT_EQ(MVWebView::webViewForSerial(1001), second);
    EXPECT_EQ(MVWebView::webViewForSerial(1000), webView);

    second.reset();
    EXPECT_EQ(MVWebView::webViewForSerial(1001), nullptr);
    EXPECT_EQ(MVWebView::create()->serialID(), 1003u);
    EXPECT_EQ(MVWebView::webViewForSerial(4711), nullptr);
}

TEST_F(MVWebViewTest, SerialRegistryIsSafeAcrossThreads) {
    std::vector<std::thread> readers;
    std::atomic<bool> found{true};
    for (int i = 0; i < 4; ++i) {
        readers.emplace_back([&] {
            for (int n = 0; n < 200; ++n) {
                if (!MVWebView::webViewForSerial(1000)) found = false;
                (void)MVWebView::webViewForSerial(1001 + n % 3);
            }
        });
    }
    for (int n = 0; n < 20; ++n) MVWebView::create();
    for (auto& t : readers) t.join();
    EXPECT_TRUE(found);
}

TEST_F(MVWebViewTest, DebugNameIsTheSerialWithTheOptionalName) {
    struct Row {
        const char* name;
        const char* label;
    } rows[] = {
        {"", "<1000>"},
        {"Header", "<1000:Header>"},
        {"WebViewCache", "<1000:WebViewCache>"},
        {"", "<1000>"},  // a name taken away again
    };
    for (const auto& row : rows) {
        webView->setDebugName(row.name);
        EXPECT_EQ(webView->debugName(), row.label);
    }
}

TEST_F(MVWebViewTest, SetUpHidesTheAdapterInsideTheView) {
    auto adapter = webView->webView();
    ASSERT_NE(adapter, nullptr);
    EXPECT_EQ(adapter->superview().get(), webView.get());
    EXPECT_EQ(adapter->frame(), platform::Rect(0, 0, 320, 480));
    EXPECT_EQ(adapter->alpha(), 0);
    EXPECT_EQ(adapter->backgroundColor(), platform::Color::clear());
    EXPECT_EQ(webView->backgroundColor(), platform::Color::clear());
    EXPECT_EQ(adapter->autoresizingMask(),
              platform::kAutoresizingFlexibleWidth | platform::kAutoresizingFlexibleHeight);
    EXPECT_TRUE(adapter->suppressesIncrementalRendering());

    auto scrollView = webView->scrollView();
    ASSERT_NE(scrollView, nullptr);
    EXPECT_EQ(scrollView, adapter->scrollView());
    EXPECT_EQ(scrollView->decelerationRate(), platform::kScrollViewDecelerationRateNormal);

    // The platform view follows the web view's size.
    webView->setFrame(platform::Rect(0, 0, 200, 100));
    EXPECT_EQ(page().width(), 200);
    EXPECT_EQ(page().height(), 100);
}

TEST_F(MVWebViewTest, NativeModeSetsRenderingAndScaling) {
    webView->setNativeMode(false);
    EXPECT_FALSE(webView->nativeMode());
    EXPECT_FALSE(webView->webView()->suppressesIncrementalRendering());
    EXPECT_TRUE(webView->webView()->scalesPageToFit());
    webView->setNativeMode(true);
    EXPECT_TRUE(webView->webView()->suppressesIncrementalRendering());
    EXPECT_FALSE(webView->webView()->scalesPageToFit());
}

TEST_F(MVWebViewTest, CopyTakesBoundsAndAnIndependentHistory) {
    webView->loadHTMLString("<p>a</p>", platform::URL::parse("https://shop.example/a"));
    webView->setViewTags({"home"});
    auto copied = webView->copy();
    EXPECT_NE(copied->serialID(), webView->serialID());
    EXPECT_EQ(copied->bounds(), webView->bounds());
    ASSERT_EQ(copied->historySize(), 1u);
    EXPECT_NE(copied->pageHistory()[0], webView->pageHistory()[0]);
    EXPECT_EQ(copied->currentUrl(), "https://shop.example/a");
    copied->setViewTags({"other"});
    EXPECT_TRUE(webView->containsTag("home"));
    EXPECT_FALSE(webView->containsTag("other"));
    EXPECT_FALSE(copied->isLoading());
}

TEST_F(MVWebViewTest, TheAnimationDelayPostponesTheFetchAndCancellingWithdrawsIt) {
    serveSite({"mvtest://shop/page"});
    webView->cancelCurrentRequest();  // without a load: nothing to tell
    EXPECT_FALSE(logged("did cancel loading"));
    webView->setWebkitAnimationBugDelay(true);
    bool blockRan = false;
    webView->openUrl("mvtest://shop/page");
    webView->performBlock([&] { blockRan = true; }, true);
    EXPECT_TRUE(webView->isLoading());
    platform::advanceBy(0.04);
    EXPECT_EQ(site->requestCount("mvtest://shop/page"), 0u);
    webView->cancelCurrentRequest();
    EXPECT_FALSE(webView->isLoading());
    EXPECT_TRUE(logged("MVWebView<1000> did cancel loading [HTML String]"));
    platform::advanceBy(1);
    EXPECT_EQ(site->requestCount("mvtest://shop/page"), 0u);
    EXPECT_EQ(notes->names, (std::vector<std::string>{"start", "cancel"}));
    EXPECT_TRUE(notes->objectsMatched);
    EXPECT_FALSE(blockRan);
    // The history keeps the page that was asked for.
    EXPECT_EQ(webView->currentUrl(), "mvtest://shop/page");

    // Not cancelled, the fetch starts after fifty milliseconds.
    webView->openUrl("mvtest://shop/page");
    platform::advanceBy(0.049);
    EXPECT_EQ(site->requestCount("mvtest://shop/page"), 0u);
    platform::advanceBy(0.001);
    EXPECT_TRUE(
        platform::runUntil([&] { return site->requestCount("mvtest://shop/page") == 1; }, kIO));
}

TEST_F(MVWebViewTest, ClearingEmptiesThePageButKeepsTheHistory) {
    webView->loadHTMLString("<p>a</p>", platform::URL::parse("https://shop.example/a"));
    platform::advanceBy(0.1);
    ASSERT_FALSE(webView->isLoading());
    webView->clear();
    platform::advanceBy(0.1);
    EXPECT_EQ(webView->loadedBaseURL(), std::nullopt);
    EXPECT_FALSE(webView->isLoading());
    EXPECT_FALSE(webView->isUsingLibrary());
    EXPECT_EQ(webView->currentUrl(), "https://shop.example/a");
    ASSERT_NE(page().currentPage(), nullptr);
    EXPECT_EQ(page().currentPage()->content, "");
    EXPECT_EQ(page().currentPage()->request.url().absoluteString(), "about:blank");
}

TEST_F(MVWebViewTest, ClearingWhileLoadingCancelsOnce) {
    webView->loadHTMLString("<p>a</p>", std::nullopt);
    webView->clear();
    platform::runUntilIdle();
    EXPECT_EQ(notes->names, (std::vector<std::string>{"start", "cancel"}));
    // The scheduled HTML never reached the platform view.
    for (const auto& load : page().loads()) EXPECT_EQ(load.content, "");
}

TEST_F(MVWebViewTest, DestroyingALoadingWebViewEndsItsLoadAndItsRegistrations) {
    auto other = MVWebView::create();
    MVEventDispatcher::sharedDispatcher().registerWebView(other, {"tabDidChange"});
    std::vector<std::string> names;
    platform::ObserverRegistration registration(
        platform::NotificationCenter::defaultCenter(),
        platform::NotificationCenter::defaultCenter().addObserver(
            MVWebViewDidCancelLoadingNotification, nullptr,
            [&](const platform::Notification& n) { names.push_back(n.name); }));
    other->loadHTMLString("<p>a</p>", std::nullopt);
    other.reset();
    EXPECT_EQ(names, (std::vector<std::string>{MVWebViewDidCancelLoadingNotification}));
    EXPECT_TRUE(MVEventDispatcher::sharedDispatcher().webViewsForEvent("tabDidChange").empty());
    EXPECT_EQ(MVWebView::webViewForSerial(1001), nullptr);
    platform::runUntilIdle();
}

TEST_F(MVWebViewTest, GarbageWebViewsEvaluateNothingForOthers) {
    page().setScriptResponder([](const std::string& s) { return s == "1+1" ? "2" : ""; });
    std::optional<std::string> answer;
    webView->evaluateJavaScript("1+1", [&](const std::string& r, const auto&) { answer = r; });
    EXPECT_EQ(answer, "2");
    EXPECT_TRUE(logged("MVWebView<1000> is evaluating Javascript:[1+1]"));

    webView->setIsGarbage(true);
    answer.reset();
    const size_t scripts = page().scripts().size();
    webView->evaluateJavaScript("1+1", [&](const std::string& r, const auto&) { answer = r; });
    EXPECT_EQ(answer, std::nullopt);
    EXPECT_EQ(page().scripts().size(), scripts);
    EXPECT_TRUE(logged("MVWebView<1000> doesn't evaluat Javascript:[1+1], since it is garbage"));
}

TEST_F(MVWebViewTest, EventsWaitInTheBufferWhileAPageLoads) {
    // Without a history an event goes nowhere.
    webView->performMVEvent(MVEvent("early"));
    EXPECT_TRUE(page().scripts().empty());

    webView->loadHTMLString("<p>a</p>", std::nullopt);
    webView->performMVEvent(MVEvent("cart", nlohmann::json::array({1})));
    EXPECT_TRUE(page().scripts().empty());
    platform::advanceBy(0.1);
    // The page has no page library: what was buffered for it is dropped, and so are
    // later events.
    EXPECT_FALSE(webView->isLoading());
    webView->performMVEvent(MVEvent("late"));
    EXPECT_TRUE(pageModel->eventScripts().empty());
}

TEST_F(MVWebViewTest, TheDelegateDecidesCommandsOfItsPage) {
    MVCommand command;
    command.setName("openPage");
    EXPECT_EQ(webView->delegateShouldPerformCommand(command), std::nullopt);
    owner->commandAnswer = false;
    EXPECT_EQ(webView->delegateShouldPerformCommand(command), false);
    EXPECT_EQ(owner->askedCommands, (std::vector<std::string>{"openPage", "openPage"}));
    webView->setDelegate({});
    EXPECT_EQ(webView->delegateShouldPerformCommand(command), std::nullopt);
}

}  // namespace
