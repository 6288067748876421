// MVWebView over the real engine: real pages with a real page library send commands,
// receive events, report their history changes and load their resources through our
// URL protocols.
#include <gtest/gtest.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/bridge/MVEvent.h"
#include "platform/ui/ViewController.h"
#include "tests/bridge/webkit/MVWebViewWebKitFixture.h"
#include "tests/support/FakeWebCache.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/ServingURLProtocol.h"
#include "tests/support/TestPageLibrary.h"
#include "tests/support/TestPageResources.h"

using platform::URL;

namespace {

// Pages that send their onload command, the page's half of the web view's onload latch.
constexpr const char* kSendsOnload =
    "<script>addEventListener('load', function () {"
    " mvSendCommands({ver: '2.0', cmds: [{c: 'testOnload'}]}); });</script>";

class MVWebViewRealPageTest : public MVWebViewWebKitFixture {
  protected:
    // What the page library received, as [name, params, turn] rows.
    nlohmann::json receivedWithTurns() {
        return platform::json::parse(
                   js("JSON.stringify(MVEvent.received.map(function (e) { return [e.name, "
                      "e.params, e.turn]; }))"))
            .value;
    }
    void loadLibraryPage(const std::string& body = {}, const std::string& head = {}) {
        webView->loadHTMLString(testpage::pageWithLibrary(body, head), URL::parse(kBase));
        ASSERT_TRUE(settle([&] { return webView->isUsingLibrary(); }));
    }
};

TEST_F(MVWebViewRealPageTest, PageCommandRunsWithItsWebViewAndItsEventReachesThePage) {
    loadLibraryPage("<p>shop</p>");
    js(R"(mvSendCommands({ver: '2.0', cmds: [
            {c: 'testAnswer', p: {event: 'answered', params: ['pong', 7, {deep: [true]}]}}]}))");
    ASSERT_TRUE(settle([] { return pageRoundTrips().size() == 1; }));
    EXPECT_EQ(pageRoundTrips()[0].webView, webView.get());
    EXPECT_EQ(pageRoundTrips()[0].params, nlohmann::json::parse(R"(["pong",7,{"deep":[true]}])"));
    // The answer went into the page at once, inside the command.
    EXPECT_EQ(receivedWithTurns(),
              nlohmann::json::parse(R"([["answered",["pong",7,{"deep":[true]}],0]])"));
    EXPECT_EQ(webView->lastCommandSerial(), 1);
    EXPECT_FALSE(logged("lost commands"));
    EXPECT_TRUE(MVErrorLogger::reports().empty());
    // The page stayed where it was: the command address was decided, never loaded.
    EXPECT_EQ(js("location.href"), kBase);
    EXPECT_EQ(js("typeof MVEvent"), "object");
}

TEST_F(MVWebViewRealPageTest, CommandsSentFromAnEventRunAfterItsDeliveryNotInsideIt) {
    // Each "again" the page receives makes it send the next command, while the command
    // that delivered it is still on the native stack.
    loadLibraryPage({}, R"(<script>
        var plainCall = MVEvent.__call;
        MVEvent.__call = function (name, params) {
          plainCall(name, params);
          if (name === 'again' && params[0] > 0)
            mvSendCommands({ver: '2.0', cmds: [{c: 'testAnswer', p: {event: 'again', params: [params[0] - 1]}}]});
        };
        </script>)");
    js("mvSendCommands({ver: '2.0', cmds: [{c: 'testAnswer', p: {event: 'again', params: [3]}}]})");
    ASSERT_TRUE(settle([] { return pageRoundTrips().size() == 4; }));
    for (const auto& trip : pageRoundTrips()) {
        EXPECT_EQ(trip.webView, webView.get());
        EXPECT_EQ(trip.depth, 1) << "a command ran inside another's event delivery";
    }
    EXPECT_EQ(receivedWithTurns().size(), 4u);
    EXPECT_EQ(webView->lastCommandSerial(), 4);
    EXPECT_FALSE(logged("lost commands"));
}

TEST_F(MVWebViewRealPageTest, EventsSentBeforeReadyArriveInOneScriptOnceTheLibraryIsReady) {
    const std::string head =
        "<script>MVEvent.isDocumentReady = function () { return window.appReady === true; };"
        "</script>";
    webView->loadHTMLString(testpage::pageWithLibrary("<p>shop</p>", head), URL::parse(kBase));
    MVEvent first("first", nlohmann::json::array({1}));
    MVEvent progress("progress", nlohmann::json::array({10}));
    progress.setAmendPreviousEvent(true);
    webView->performMVEvent(first);
    webView->performMVEvent(progress);
    // The page has loaded and is polled, but its library is not ready yet.
    ASSERT_TRUE(settle([&] { return owner->count("didFinishLoad") == 1; }));
    ASSERT_TRUE(settle([&] { return js("document.readyState") == "complete"; }));
    platform::advanceBy(0.1);
    drain();
    EXPECT_FALSE(webView->isUsingLibrary());
    EXPECT_EQ(js("MVEvent.received.length"), "0");
    MVEvent progressLater("progress", nlohmann::json::array({90}));
    progressLater.setAmendPreviousEvent(true);
    webView->performMVEvent(progressLater);  // replaces the older progress
    webView->performMVEvent(MVEvent("second", nlohmann::json::array({"two"})));
    EXPECT_EQ(js("MVEvent.received.length"), "0");

    js("window.appReady = true");
    ASSERT_TRUE(settle([&] { return webView->isUsingLibrary(); }));
    EXPECT_EQ(
        receivedWithTurns(),
        nlohmann::json::parse(R"([["first",[1],0],["progress",[90],0],["second",["two"],0]])"));
    EXPECT_TRUE(logged("performing event buffer : {"));

    // From now on each event goes in at once, in a script of its own.
    webView->performMVEvent(MVEvent("third"));
    EXPECT_EQ(receivedWithTurns().back(), nlohmann::json::parse(R"(["third",[],1])"));
}

TEST_F(MVWebViewRealPageTest, HistoryOverridesReportToTheWebViewsHistory) {
    ServingURLProtocol site("mvtest");
    site.serve("mvtest://shop/page", "text/html", testpage::pageWithLibrary("<p>shop</p>"));
    webView->openUrl("mvtest://shop/page");
    ASSERT_TRUE(settle([&] { return webView->isUsingLibrary(); }));
    ASSERT_EQ(historyUrls(), (std::vector<std::string>{"mvtest://shop/page"}));
    js("window.marker = 'same document'");

    // replaceState: the page's own function runs, then the report rewrites the newest entry.
    EXPECT_EQ(js("typeof history.replaceState_"), "function");
    js("history.replaceState({step: 1}, '', '/page?replaced=1')");
    ASSERT_TRUE(settle([&] {
        return historyUrls() == std::vector<std::string>{"mvtest://shop/page?replaced=1"};
    })) << testing::PrintToString(historyUrls());
    EXPECT_EQ(js("location.href"), "mvtest://shop/page?replaced=1");
    EXPECT_EQ(js("JSON.stringify(history.state)"), R"({"step":1})");
    EXPECT_TRUE(logged("will handle JS override 'history.replaceState'"));

    // pushState: the page reports it itself on the third scheme.
    js("history.pushState({step: 2}, '', '/page/two');"
       "location.href = 'mvwebview-override-history.pushState://' + "
       "encodeURIComponent(location.href)");
    ASSERT_TRUE(settle([&] { return webView->historySize() == 2; }));
    EXPECT_EQ(historyUrls(), (std::vector<std::string>{"mvtest://shop/page?replaced=1",
                                                       "mvtest://shop/page/two"}));
    EXPECT_TRUE(webView->pageHistory().back()->isPushState());
    ASSERT_TRUE(settle([&] { return owner->count("didModifyHistory") == 1; }));
    EXPECT_TRUE(logged("will handle JS override 'history.pushState'"));

    // Back from a pushState entry: the page steps back within its document.
    EXPECT_TRUE(webView->goBack());
    ASSERT_TRUE(settle([&] { return js("location.href") == "mvtest://shop/page?replaced=1"; }))
        << js("location.href");
    EXPECT_EQ(js("JSON.stringify(history.state)"), R"({"step":1})");
    drain();
    EXPECT_EQ(historyUrls(), (std::vector<std::string>{"mvtest://shop/page?replaced=1"}));
    // Nothing of this left the document or fetched anything.
    EXPECT_EQ(js("window.marker"), "same document");
    EXPECT_EQ(site.requestCount("mvtest://shop/page"), 1u);
    EXPECT_EQ(site.requests().size(), 1u);
}

// WebKit keeps location.replace unforgeable: the injected assignment is ignored, so the
// page's location.replace is its own and reaches the web view as a plain navigation,
// which is followed natively as a link: the history grows by one entry where a
// replacement would keep its length.
TEST_F(MVWebViewRealPageTest, LocationReplaceCannotBeOverriddenAndNavigatesAsALink) {
    ServingURLProtocol site("mvtest");
    site.serve("mvtest://shop/page", "text/html",
               testpage::pageWithLibrary("<p>one</p>", kSendsOnload));
    site.serve("mvtest://shop/other", "text/html",
               testpage::pageWithLibrary("<p>other</p>", kSendsOnload));
    webView->openUrl("mvtest://shop/page");
    ASSERT_TRUE(settle([&] { return webView->isUsingLibrary() && !webView->isLoading(); }));
    // The injection ran (replaceState is replaced) but location.replace stayed the page's.
    EXPECT_EQ(js("typeof history.replaceState_"), "function");
    EXPECT_EQ(js("String(window.location.replace === window.location.replace_)"), "true");
    EXPECT_EQ(js("String(window.location.replace).indexOf('mvwebview-override')"), "-1");

    js("location.replace('mvtest://shop/other')");
    ASSERT_TRUE(settle([&] {
        return js("location.href") == "mvtest://shop/other" && webView->isUsingLibrary() &&
               !webView->isLoading();
    }));
    EXPECT_FALSE(logged("will handle JS override 'window.location.replace'"));
    EXPECT_EQ(historyUrls(),
              (std::vector<std::string>{"mvtest://shop/page", "mvtest://shop/other"}));
    EXPECT_EQ(site.requestCount("mvtest://shop/other"), 1u);
}

TEST_F(MVWebViewRealPageTest, ApiPageLoadsItsResourcesThroughOurURLProtocolNotTheNetwork) {
    HttpTestServer network;  // the page's base: it must hear nothing
    ServingURLProtocol site("mvtest");
    testpage::servePageResources(site);
    const std::string base = network.url("/api/home");
    auto cache = FakeWebCache::install();
    cache->setPage(
        "mv-api-page:home",
        testpage::pageWithLibrary(testpage::kResourceImageTag, testpage::kResourceScriptTag), base);
    std::vector<std::string> openedApiPages;
    MVWebViewControllerFactory::setFactory([&](const std::string& pageId) {
        openedApiPages.push_back(pageId);
        return platform::ViewController::create();
    });

    webView->openUrl("mvapi:home");
    ASSERT_TRUE(settle([&] { return webView->isUsingLibrary(); }));
    EXPECT_EQ(js("location.href"), base);
    testpage::expectPageResourcesLoaded(site, base, [&](const std::string& s) { return js(s); });

    // The page's "mvapi" and "mvcmd" navigations are the web view's to decide.
    js("window.marker = 'same document'");
    js("location.href = 'mvapi:other'");
    ASSERT_TRUE(settle([&] { return openedApiPages.size() == 1; }));
    EXPECT_EQ(openedApiPages[0], "other");
    js("mvSendCommands({ver: '2.0', cmds: [{c: 'testAnswer', p: {event: 'done'}}]})");
    ASSERT_TRUE(settle([] { return pageRoundTrips().size() == 1; }));
    drain();
    EXPECT_EQ(js("location.href"), base);
    EXPECT_EQ(js("window.marker"), "same document");
    EXPECT_EQ(cache->lookups, (std::vector<std::string>{"mv-api-page:home"}));
    EXPECT_EQ(network.requestCount(), 0u);
    EXPECT_EQ(owner->count("didStartLoad"), 1u);
}

// A page that reports thousands of size changes: each measuring script waits on the
// engine, and while it waits the page's next commands come in. They share one
// measurement, and the page's next command runs once the flood has been read.
TEST_F(MVWebViewRealPageTest, AFloodOfSizeChangesSharesMeasurementsAndTheNextCommandRuns) {
    constexpr int kCollections = 20;
    constexpr int kPerCollection = 200;
    // The page counts the measuring scripts: each reads the html element's width once.
    loadLibraryPage("<p>shop</p>", R"(<script>
        window.measured = 0;
        Object.defineProperty(document.documentElement, 'offsetWidth',
                              {get: function () { window.measured++; return 320; }});
        </script>)");
    const std::string flood =
        "(function () { var cmds = []; for (var i = 0; i < " + std::to_string(kPerCollection) +
        "; i++) cmds.push({c: 'pageSizeDidChange'});"
        " for (var n = 0; n < " +
        std::to_string(kCollections) +
        "; n++) mvSendCommands({ver: '2.0', cmds: cmds.map(function (c) { return {c: c.c}; })});"
        " mvSendCommands({ver: '2.0', cmds: [{c: 'testAnswer', p: {event: 'after'}}]}); })()";
    const int before = std::stoi(js("String(window.measured)"));
    const size_t sizeChanges = owner->count("didChangePageSize");
    js(flood);
    ASSERT_TRUE(settle([] { return pageRoundTrips().size() == 1; }));
    drain();
    const int measured = std::stoi(js("String(window.measured)")) - before;
    EXPECT_GE(measured, 1);
    // At most one for each collection and one after it, where one a command was many.
    EXPECT_LE(measured, 2 * kCollections + 1);
    EXPECT_EQ(owner->count("didChangePageSize") - sizeChanges, static_cast<size_t>(measured));
    EXPECT_EQ(receivedWithTurns().back()[0], "after");
    EXPECT_EQ(webView->sizeOfHtmlContent().width, 320);
    EXPECT_EQ(webView->lastCommandSerial(), kCollections * kPerCollection + 1);
}

// The page asks for data and leaves 20 ms after its requests have gone out: answers
// that come while the next page loads or after it has loaded are not the next page's;
// the next page hears its own.
TEST_F(MVWebViewRealPageTest, DataAnswersOfALeftPageNeverReachTheNextPage) {
    ServingURLProtocol site("mvtest");
    site.serve("mvtest://shop/list", "text/html",
               testpage::pageWithLibrary("", std::string(kSendsOnload) + R"(<script>
        var plainCall = MVEvent.__call;
        MVEvent.__call = function (name, params) {
          plainCall(name, params);
          if (name === 'sent')
            setTimeout(function () { location.assign('mvtest://shop/product'); }, 20);
        };
        addEventListener('load', function () {
          var cmds = [];
          for (var i = 0; i < 20; i++)
            cmds.push({c: 'sendDataRequest', p: {serial: 'n' + i, src: 'mvapi:list?page=' + i}});
          cmds.push({c: 'testAnswer', p: {event: 'sent'}});
          mvSendCommands({ver: '2.0', cmds: cmds});
        });
        </script>)"));
    site.serve("mvtest://shop/product", "text/html",
               testpage::pageWithLibrary("<p>product</p>", kSendsOnload));
    const auto answer = [&](int from, int to, const char* body) {
        for (int i = from; i < to; ++i)
            MVCommandHandler::performCommandsFromCommandCollection(
                {{"ver", "1.0"},
                 {"cmds",
                  {{{"c", "dataResponse"},
                    {"p",
                     {{"serial", std::to_string(webView->serialID()) + ":n" + std::to_string(i)},
                      {"status", 200},
                      {"body", body}}}}}}},
                nullptr);
    };
    webView->openUrl("mvtest://shop/list");
    // The link has been followed: every request of the page that left was sent before it.
    ASSERT_TRUE(settle([&] { return webView->historySize() == 2; }));
    answer(0, 10, "left");
    ASSERT_TRUE(settle([&] {
        return js("location.href") == "mvtest://shop/product" && webView->isUsingLibrary() &&
               !webView->isLoading();
    }));
    answer(10, 20, "left");
    js("mvSendCommands({ver: '2.0', cmds: [{c: 'sendDataRequest', p: {serial: 'n0', src: "
       "'mvapi:product'}}]})");
    ASSERT_TRUE(settle([&] { return webView->lastCommandSerial() == 2; }));
    answer(0, 1, "mine");
    drain();
    EXPECT_EQ(received(),
              nlohmann::json::parse(R"([{"name":"dataResponse","params":["n0",200,"mine",""]}])"));
    EXPECT_TRUE(logged("drops the answer to data request n19 of a page it no longer shows"));
}

// The page asks for data and then follows a link the engine cannot load ("tel:"): the
// page stays shown, and so the answer is still its own.
TEST_F(MVWebViewRealPageTest, AnAnswerReachesThePageThatStaysAfterATelephoneLink) {
    const struct Case {
        const char* name;
        const char* leave;  // how the page follows the link
    } cases[] = {
        {"location.href", "location.href = 'tel:+4930123';"},
        {"a clicked link",
         "var a = document.createElement('a'); a.href = 'tel:+4930123'; a.click();"},
        {"two links",
         "location.href = 'tel:+4930123'; setTimeout(function () {"
         " location.href = 'tel:+4930124'; }, 0);"},
    };
    ServingURLProtocol site("mvtest");
    site.serve("mvtest://shop/list", "text/html", testpage::pageWithLibrary("", kSendsOnload));
    webView->openUrl("mvtest://shop/list");
    ASSERT_TRUE(settle([&] { return webView->isUsingLibrary() && !webView->isLoading(); }));
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string serial = "n" + std::to_string(++n);
        const size_t trips = pageRoundTrips().size();
        js("MVEvent.received.length = 0;"
           "mvSendCommands({ver: '2.0', cmds: [{c: 'sendDataRequest', p: {serial: '" +
           serial +
           "', src: 'mvapi:list'}}]});"
           "setTimeout(function () { " +
           c.leave +
           " setTimeout(function () { mvSendCommands({ver: '2.0', cmds: [{c: 'testAnswer', p: "
           "{event: 'after'}}]}); }, 50); }, 50);");
        // The link has been decided and reported before the page's next command.
        ASSERT_TRUE(settle([&] { return pageRoundTrips().size() == trips + 1; }));
        answerDataRequest(webView->serialID(), serial, "mine");
        drain();
        EXPECT_EQ(received(), nlohmann::json::parse(R"([{"name":"after","params":[]},)"
                                                    R"({"name":"dataResponse","params":[")" +
                                                    serial + R"(",200,"mine",""]}])"));
        EXPECT_EQ(js("location.href"), "mvtest://shop/list");
    }
    EXPECT_FALSE(logged("of a page it no longer shows"));
}

}  // namespace
