// The page round trip in the real engine, with the test page library in real JavaScript:
// the document-ready script, the buffer, a page command answered by an event, the
// injected overrides, measuring and the background colour.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "libmerovane/bridge/MVDocumentReadyPoll.h"
#include "libmerovane/handlers/MVCommandHandler_2_0.h"
#include "tests/bridge/webkit/MVWebViewWebKitFixture.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/TestPageLibrary.h"

using nlohmann::json;

namespace {

class MVWebViewWebKitTest : public MVWebViewWebKitFixture {
  protected:
    void SetUp() override {
        MVWebViewWebKitFixture::SetUp();
        MVCommandHandler_2_0::commandTable().add(
            "echo", {MVSpec{},
                     [this](MVCommandHandler&, json* p, const std::shared_ptr<MVWebView>& sender) {
                         ++performed;
                         sender->performMVEvent(MVEvent("echoed", json::array({*p})));
                     }});
    }

    int performed = 0;
};

TEST_F(MVWebViewWebKitTest, LibraryPageRoundTrip) {
    webView->loadHTMLString(testpage::pageWithLibrary("<p>shop</p>"), platform::URL::parse(kBase));
    webView->performMVEvent(MVEvent("early", json::array({1, "a/b"})));
    ASSERT_TRUE(settle([&] { return webView->isUsingLibrary(); }));
    EXPECT_EQ(received(), json::parse(R"([{"name":"early","params":[1,"a/b"]}])"));

    const auto state =
        MVDocumentReadyPoll::PageState::parse(js(MVDocumentReadyPoll::documentReadyScript()));
    EXPECT_EQ(state.librarySource.rfind("data:text/javascript,", 0), 0u);
    EXPECT_EQ(state.readyState, "complete");
    EXPECT_EQ(state.libraryReady, "true");
    EXPECT_EQ(state.discardedFromHistory, "null");

    js("mvSendCommands({ver: '2.0', cmds: [{c: 'echo', p: {q: 'it\\'s \"x\"'}, s: 0}]})");
    ASSERT_TRUE(settle([&] { return performed == 1 && received().size() == 2; }));
    EXPECT_EQ(received()[1], json::parse(R"({"name":"echoed","params":[{"q":"it's \"x\""}]})"));
    EXPECT_FALSE(logged("lost commands"));

    // The injected replacement reports the page's replaceState, in whatever case the
    // engine writes the private scheme.
    js("history.replaceState(null, '', '/replaced?x=1')");
    ASSERT_TRUE(
        settle([&] { return webView->currentUrl() == "http://shop.invalid/replaced?x=1"; }));
    EXPECT_EQ(webView->historySize(), 1u);
    EXPECT_TRUE(logged("will handle JS override 'history.replaceState'"));
}

TEST_F(MVWebViewWebKitTest, PageWithoutLibraryIsMeasuredAndTakesItsBackground) {
    webView->loadHTMLString(
        "<!DOCTYPE html><html data-is-discarded-from-history=\"1\" style=\"background-color: "
        "rgb(0, 128, 0)\">"
        "<body style=\"margin: 0\"><div style=\"height: 1000px\"></div></body></html>",
        platform::URL::parse(kBase));
    ASSERT_TRUE(settle([&] { return !webView->isLoading(); }));
    EXPECT_FALSE(webView->isUsingLibrary());
    EXPECT_TRUE(webView->pageHistory().back()->isDiscardedFromHistory());
    EXPECT_EQ(webView->webView()->backgroundColor(), platform::Color::rgba(0, 128 / 255.0, 0, 1));
    EXPECT_GT(webView->sizeOfHtmlContent().width, 0);
    EXPECT_EQ(webView->sizeOfHtmlContent().height, 1000);
    EXPECT_EQ(owner->count("didFinishRendering"), 1u);
    EXPECT_FALSE(logged("page background colour"));
}

TEST_F(MVWebViewWebKitTest, ABurstOfSendsThroughThePageLibraryIsPerformedOnceEachInOrder) {
    std::vector<int64_t> numbers;
    MVCommandHandler_2_0::commandTable().add(
        "count", {MVSpec{}, [&](MVCommandHandler&, json* p, const std::shared_ptr<MVWebView>&) {
                      numbers.push_back(platform::json::integerValue(*p, "n"));
                  }});
    webView->loadHTMLString(testpage::pageWithLibrary("<p>burst</p>"), platform::URL::parse(kBase));
    ASSERT_TRUE(settle([&] { return webView->isUsingLibrary(); }));
    // All in one task: the library's queue lets them out one per task.
    js("for (var i = 0; i < 500; i++) mvSendCommands({ver: '2.0', cmds: [{c: 'count', p: {n: "
       "i}}]})");
    ASSERT_TRUE(settle([&] { return numbers.size() >= 500 && js("mvSendQueue.length") == "0"; }));
    drain();
    std::vector<int64_t> expected(500);
    for (int i = 0; i < 500; ++i) expected[i] = i;
    EXPECT_EQ(numbers, expected);
}

TEST_F(MVWebViewWebKitTest, ANavigationOfAPageThatANewerLoadReplacesIsRefused) {
    HttpTestServer server;
    server.respond("/p", HttpTestServer::Response::text(200, "<p>old</p>", "text/html"));
    server.respond("/a", HttpTestServer::Response::text(200, "<p>a</p>", "text/html"));
    auto held = HttpTestServer::Response::text(200, "<p>b</p>", "text/html");
    held.holdUntilReleased = "b";
    server.respond("/b", held);
    webView->openUrl(server.url("/p"));
    ASSERT_TRUE(
        settle([&] { return !webView->isLoading() && js("document.body.innerText") == "old"; }));
    // The old page navigates, and the newer load comes before that navigation's decision.
    js("location.href = '" + server.url("/a") + "'");
    webView->openUrl(server.url("/b"));
    ASSERT_TRUE(settle([&] { return logged("refused a navigation of a page that a newer load"); }));
    server.release("b");
    ASSERT_TRUE(
        settle([&] { return !webView->isLoading() && js("document.body.innerText") == "b"; }));
    drain();
    EXPECT_EQ(historyUrls(), (std::vector<std::string>{server.url("/b")}));
    EXPECT_EQ(server.requestCount("/a"), 0u);
}

}  // namespace
