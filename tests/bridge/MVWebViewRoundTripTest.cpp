// The page round trip on the headless engine and the manual clock: the document-ready
// poll, the event buffer, the onload latch, rendering, and a page command answered by an
// event.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/bridge/MVWebViewAdapter.h"
#include "libmerovane/bridge/MVWebViewTexts.h"
#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "libmerovane/handlers/MVCommandHandler_2_0.h"
#include "platform/foundation/JsonValue.h"
#include "tests/bridge/MVWebViewFixture.h"

using nlohmann::json;
using ReceivedEvent = HeadlessPageModel::ReceivedEvent;

namespace {

constexpr const char* kBase = "https://shop.example/page";

struct RoundTripPerformed {
    std::string name;
    json parameters;
    MVWebView* webView;
};

class MVWebViewRoundTripTest : public MVWebViewFixture {
  protected:
    void SetUp() override {
        MVWebViewFixture::SetUp();
        performed.clear();
        registerCommandHandlerClasses();
        // Answers its page with an event that carries its parameters back.
        MVCommandHandler_2_0::commandTable().add(
            "echo", {MVSpec{},
                     [this](MVCommandHandler&, json* p, const std::shared_ptr<MVWebView>& webView) {
                         performed.push_back({"echo", p ? *p : json(), webView.get()});
                         if (webView) {
                             webView->performMVEvent(
                                 MVEvent("echoed", json::array({p ? *p : json::object()})));
                         }
                     }});
        pageModel->settings.library = true;
    }

    void load() { webView->loadHTMLString("<p>shop</p>", platform::URL::parse(kBase)); }
    // Loads and lets the platform view finish: the poll starts now.
    void loadUntilPlatformFinished() {
        load();
        platform::runUntilIdle();
        ASSERT_EQ(owner->count("didFinishLoad"), 1u);
    }
    double alpha() const { return webView->webView()->alpha(); }

    std::vector<RoundTripPerformed> performed;
};

TEST_F(MVWebViewRoundTripTest, PageCommandIsAnsweredByOneEventScript) {
    loadUntilPlatformFinished();
    platform::advanceBy(0.1);
    ASSERT_TRUE(webView->isUsingLibrary());
    ASSERT_TRUE(pageModel->eventScripts().empty());

    pageModel->sendCommands(
        {{"ver", "2.0"}, {"cmds", {{{"c", "echo"}, {"p", {{"q", "shoes"}}}, {"s", 0}}}}});
    platform::runUntilIdle();
    ASSERT_EQ(performed.size(), 1u);
    EXPECT_EQ(performed[0].webView, webView.get());
    EXPECT_EQ(performed[0].parameters, (json{{"q", "shoes"}}));
    EXPECT_EQ(pageModel->eventScripts(),
              (std::vector<std::string>{R"(MVEvent.__call("echoed",[{"q":"shoes"}]))"}));
    EXPECT_EQ(page().decisions().back().allowed, false);  // the command URL is never loaded
    EXPECT_TRUE(logged("MVWebView<1000> performing MVEvent.echoed( [dictionary] )"));
}

TEST_F(MVWebViewRoundTripTest, EventsBeforeReadyArriveInOneScriptInOrderOnTheThirdStep) {
    pageModel->settings.readyAfterPolls = 3;
    load();
    webView->performMVEvent(MVEvent("first", json::array({1})));
    platform::runUntilIdle();
    // A command of the loading page is answered into the buffer too.
    pageModel->sendCommands({{"ver", "2.0"}, {"cmds", {{{"c", "echo"}, {"s", 0}}}}});
    platform::runUntilIdle();
    ASSERT_EQ(performed.size(), 1u);
    webView->performMVEvent(MVEvent("last", json::array({"x"})));

    platform::advanceBy(0.010);
    EXPECT_EQ(pageModel->readyPolls(), 2);
    EXPECT_TRUE(pageModel->eventScripts().empty());
    EXPECT_TRUE(webView->isLoading());

    platform::advanceBy(0.005);
    EXPECT_EQ(pageModel->readyPolls(), 3);
    ASSERT_EQ(pageModel->eventScripts().size(), 1u);
    EXPECT_EQ(pageModel->eventScripts()[0],
              R"(MVEvent.__call("first",[1]);MVEvent.__call("echoed",[{}]);)"
              R"(MVEvent.__call("last",["x"]);)");
    EXPECT_TRUE(webView->isUsingLibrary());
    EXPECT_EQ(pageModel->overrideInjections(), 1);
    EXPECT_FALSE(webView->webView()->keyboardDisplayRequiresUserAction());
    EXPECT_TRUE(
        logged("MVWebView<1000> did finish loading [https://shop.example/page]. Using "
               "Merovane JS library"));
    EXPECT_TRUE(
        logged("MVWebView<1000> performing MVWebView<1000> performing event buffer : {\n"
               "MVEvent.first( 1 )\nMVEvent.echoed( [dictionary] )\nMVEvent.last( \"x\" )\n}"));

    // From now on events go at once, one script each.
    webView->performMVEvent(MVEvent("after"));
    EXPECT_EQ(pageModel->eventScripts().size(), 2u);
    EXPECT_EQ(pageModel->eventNames(),
              (std::vector<std::string>{"first", "echoed", "last", "after"}));
    platform::advanceBy(1.0);
    EXPECT_EQ(pageModel->readyPolls(), 3);  // no poll after ready
}

TEST_F(MVWebViewRoundTripTest, SerialsCountPerPageAndStartAgainAfterAReload) {
    loadUntilPlatformFinished();
    pageModel->sendCommands({{"ver", "2.0"}, {"cmds", {{{"c", "echo"}, {"s", 0}}}}});
    pageModel->sendCommands(
        {{"ver", "2.0"}, {"cmds", {{{"c", "echo"}, {"s", 1}}, {{"c", "echo"}, {"s", 2}}}}});
    pageModel->sendCommands({{"ver", "2.0"}, {"cmds", {{{"c", "echo"}, {"s", 3}}}}});
    platform::runUntilIdle();
    EXPECT_EQ(performed.size(), 4u);
    EXPECT_EQ(webView->lastCommandSerial(), 4);
    webView->reload();
    platform::advanceBy(0.1);
    EXPECT_EQ(webView->lastCommandSerial(), 0);
    pageModel->sendCommands({{"ver", "2.0"}, {"cmds", {{{"c", "echo"}, {"s", 0}}}}});
    platform::runUntilIdle();
    EXPECT_EQ(performed.size(), 5u);
    EXPECT_FALSE(logged("lost commands"));
}

TEST_F(MVWebViewRoundTripTest, PageThatNeverBecomesReadyIsGivenUpAtFortySeconds) {
    pageModel->settings.readyAfterPolls = 0;
    load();
    webView->performMVEvent(MVEvent("buffered"));
    platform::runUntilIdle();
    platform::advanceBy(39.995);
    EXPECT_FALSE(logged("could not access MVEvents"));
    EXPECT_EQ(pageModel->readyPolls(), 7999);
    platform::advanceBy(0.005);
    EXPECT_EQ(loggedCount("MVWebView<1000> could not access MVEvents"), 1u);
    EXPECT_FALSE(webView->isUsingLibrary());
    EXPECT_TRUE(logged("Not using Merovane JS library"));
    // Shown once the document is complete, without the buffered event.
    platform::advanceBy(0.05);
    EXPECT_FALSE(webView->isLoading());
    EXPECT_EQ(alpha(), 1.0);
    webView->performMVEvent(MVEvent("later"));
    EXPECT_TRUE(pageModel->eventScripts().empty());
}

TEST_F(MVWebViewRoundTripTest, TheWebViewMayBeDestroyedInsideItsReadyPollScript) {
    loadUntilPlatformFinished();
    auto& engine = page();
    engine.setScriptResponder([this](const std::string& script) {
        if (script == MVDocumentReadyPoll::documentReadyScript()) {
            notes.reset();
            webView.reset();
        }
        return platform::HeadlessWebEngine::ScriptAnswer(
            "lib<-*-*->complete<-*-*->true<-*-*-><-*-*->");
    });
    platform::advanceBy(0.1);
    EXPECT_FALSE(webView);
}

TEST_F(MVWebViewRoundTripTest, PageWithoutLibraryStillLoadingIsTakenAsReadyAfterTwentySeconds) {
    pageModel->settings.library = false;
    pageModel->settings.readyState = "loading";
    loadUntilPlatformFinished();
    platform::advanceBy(19.995);
    EXPECT_FALSE(logged("did not gain DOM access"));
    platform::advanceBy(0.005);
    EXPECT_EQ(loggedCount("MVWebView<1000> did not gain DOM access before timeout"), 1u);
    EXPECT_EQ(pageModel->overrideInjections(), 1);
    // The external check waits for the document to complete.
    platform::advanceBy(1.0);
    EXPECT_TRUE(webView->isLoading());
    pageModel->settings.readyState = "complete";
    platform::advanceBy(0.05);
    EXPECT_FALSE(webView->isLoading());
    EXPECT_EQ(notes->names, (std::vector<std::string>{"start", "finish"}));
}

TEST_F(MVWebViewRoundTripTest, OnloadCommandFirstShowsThePageWhenTheDocumentIsComplete) {
    pageModel->settings.readyAfterPolls = 3;
    loadUntilPlatformFinished();
    webView->onload();  // the page's onload command, before the poll
    EXPECT_EQ(alpha(), 0.0);
    platform::advanceBy(0.015);  // ready on the third step
    EXPECT_TRUE(webView->isLoading());
    EXPECT_EQ(alpha(), 0.0);
    platform::advanceBy(0.049);
    EXPECT_TRUE(webView->isLoading());
    platform::advanceBy(0.001);
    EXPECT_FALSE(webView->isLoading());
    EXPECT_EQ(alpha(), 1.0);
    EXPECT_TRUE(webView->webView()->isUserInteractionEnabled());
    EXPECT_EQ(owner->count("didFinishRendering"), 1u);
    EXPECT_EQ(notes->names, (std::vector<std::string>{"start", "finish"}));
}

TEST_F(MVWebViewRoundTripTest, PollFirstThenOnloadCommandShowsThePageAtOnce) {
    loadUntilPlatformFinished();
    platform::advanceBy(1.0);
    EXPECT_TRUE(webView->isUsingLibrary());
    EXPECT_TRUE(webView->isLoading());  // a page with the library waits for its onload command
    EXPECT_EQ(alpha(), 0.0);
    webView->onload();
    EXPECT_FALSE(webView->isLoading());
    EXPECT_EQ(alpha(), 1.0);
    EXPECT_TRUE(
        logged("MVWebView<1000> did finish rendering [HTML String : " + std::string(kBase) + "]"));
    // A second onload shows the page again without announcing a load.
    webView->onload();
    webView->onload();
    EXPECT_EQ(owner->count("didFinishRendering"), 2u);
    EXPECT_EQ(notes->names, (std::vector<std::string>{"start", "finish"}));
}

TEST_F(MVWebViewRoundTripTest, EventsStillBufferedAtOnloadAreSentThenWithAWarning) {
    load();
    webView->performMVEvent(MVEvent("early"));
    // Two onload commands before the platform view has even finished.
    webView->onload();
    webView->onload();
    EXPECT_TRUE(logged("MVWebView:<1000> committed event buffer only in onload method."));
    EXPECT_EQ(pageModel->eventScripts(),
              (std::vector<std::string>{R"(MVEvent.__call("early",[]);)"}));
}

TEST_F(MVWebViewRoundTripTest, BufferOfProgressEventsOnlySendsAnEmptyScript) {
    load();
    webView->performMVEvent(MVEvent("updatePageProgress", json::array({0.5})));
    platform::advanceBy(0.1);
    EXPECT_EQ(pageModel->eventScripts(), (std::vector<std::string>{""}));
    EXPECT_TRUE(pageModel->events().empty());
    // Sent at once, it is delivered, without a log line.
    webView->performMVEvent(MVEvent("updatePageProgress", json::array({0.7})));
    EXPECT_EQ(pageModel->eventNames(), (std::vector<std::string>{"updatePageProgress"}));
    EXPECT_FALSE(logged("performing MVEvent.updatePageProgress"));
}

TEST_F(MVWebViewRoundTripTest, GarbageWebViewsStillGetTheirEventsButSayItInTheLog) {
    loadUntilPlatformFinished();
    webView->performMVEvent(MVEvent("buffered"));
    webView->setIsGarbage(true);
    platform::advanceBy(0.1);
    EXPECT_EQ(pageModel->eventNames(), (std::vector<std::string>{"buffered"}));
    webView->performMVEvent(MVEvent("direct"));
    EXPECT_EQ(pageModel->eventNames(), (std::vector<std::string>{"buffered", "direct"}));
    EXPECT_TRUE(logged("MVWebView<1000> doesn't perform event buffer, since it is garbage."));
}

TEST_F(MVWebViewRoundTripTest, HtmlAttributesMarkTheEntry) {
    pageModel->settings.discardedFromHistory = "1";
    pageModel->settings.disallowPullToRefresh = "1";
    loadUntilPlatformFinished();
    platform::advanceBy(0.1);
    ASSERT_EQ(webView->historySize(), 1u);
    EXPECT_TRUE(webView->pageHistory()[0]->isDiscardedFromHistory());
    EXPECT_FALSE(webView->prefersPullToRefreshEnabled());
    EXPECT_EQ(owner->pullToRefreshChanges, (std::vector<bool>{false}));
}

TEST_F(MVWebViewRoundTripTest, CancellingWithdrawsThePollAndTheExternalCheck) {
    pageModel->settings.library = false;
    pageModel->settings.readyState = "interactive";
    loadUntilPlatformFinished();
    platform::advanceBy(0.01);  // ready; the external check waits for "complete"
    EXPECT_EQ(pageModel->overrideInjections(), 1);
    webView->cancelCurrentRequest();
    pageModel->settings.readyState = "complete";
    const size_t scripts = page().scripts().size();
    platform::advanceBy(1.0);
    EXPECT_EQ(page().scripts().size(), scripts);
    EXPECT_EQ(owner->count("didFinishRendering"), 0u);
    EXPECT_EQ(notes->names, (std::vector<std::string>{"start", "cancel"}));
}

TEST_F(MVWebViewRoundTripTest, RenderingMeasuresThePageAndRunsTheWaitingBlock) {
    pageModel->settings.library = false;
    pageModel->settings.width = 375;
    pageModel->settings.height = 1200.5;
    int ran = 0;
    load();
    webView->performBlock([&] { ++ran; }, true);
    platform::advanceBy(0.1);
    EXPECT_EQ(webView->sizeOfHtmlContent(), (platform::Size{375, 1200.5}));
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(owner->count("didFinishRendering"), 1u);
    EXPECT_EQ(owner->count("didChangePageSize"), 0u);

    // Answers that are no "width,height" measure 0 by 0.
    for (const char* answer : {"abc", "1,2,3", "", "12"}) {
        pageModel->otherScripts = nullptr;
        pageModel->settings.width = 0;
        std::string text = answer;
        page().setScriptResponder([text](const std::string&) { return text; });
        webView->pageSizeDidChange();
        EXPECT_EQ(webView->sizeOfHtmlContent(), (platform::Size{0, 0})) << answer;
        platform::runUntilIdle();
    }
    EXPECT_EQ(owner->count("didChangePageSize"), 4u);
}

// The engine answers a script while the main loop runs on, so a page's commands (here
// sent from inside the measuring script) come while a measurement is under way.
TEST_F(MVWebViewRoundTripTest, SizeChangesDuringAMeasurementShareOneMoreAfterIt) {
    const struct Case {
        const char* name;
        int duringFirst;   // size changes the page reports while the first one measures
        int beforeNext;    // ... after it answered, before the next turn
        int duringSecond;  // ... while the second one measures
        bool rendersDuringFirst;
        int measurements;
        size_t sizeChanges;
    } cases[] = {
        {"one size change", 0, 0, 0, false, 1, 1},
        {"a collection of 200 in one turn", 0, 199, 0, false, 2, 2},
        {"a flood while measuring", 2000, 0, 0, false, 2, 2},
        {"a flood, more before the next measurement", 2000, 50, 0, false, 2, 2},
        {"a flood, one more while the next measures", 2000, 0, 1, false, 3, 3},
        {"rendering ends while measuring", 0, 0, 0, true, 2, 1},
    };
    loadUntilPlatformFinished();
    platform::advanceBy(0.1);
    ASSERT_TRUE(webView->isUsingLibrary());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t sizeChanges = owner->count("didChangePageSize");
        const size_t renderings = owner->count("didFinishRendering");
        int measurements = 0;
        double width = 100;
        page().setScriptResponder([&](const std::string& script) {
            if (script != mvwebview_texts::kMeasureScript)
                return platform::HeadlessWebEngine::ScriptAnswer();
            const std::string size = std::to_string(width) + ",480";
            const int during = ++measurements == 1 ? c.duringFirst
                               : measurements == 2 ? c.duringSecond
                                                   : 0;
            for (int i = 0; i < during; ++i) {
                width += 1;
                webView->pageSizeDidChange();
            }
            if (measurements == 1 && c.rendersDuringFirst) {
                width += 1;
                webView->onload();
                webView->onload();
            }
            return platform::HeadlessWebEngine::ScriptAnswer(size);
        });
        webView->pageSizeDidChange();
        for (int i = 0; i < c.beforeNext; ++i) {
            width += 1;
            webView->pageSizeDidChange();
        }
        platform::runUntilIdle();
        EXPECT_EQ(measurements, c.measurements);
        EXPECT_EQ(owner->count("didChangePageSize") - sizeChanges, c.sizeChanges);
        EXPECT_EQ(owner->count("didFinishRendering") - renderings, c.rendersDuringFirst ? 1u : 0u);
        // The last answer measured the page after the last change.
        EXPECT_EQ(webView->sizeOfHtmlContent(), (platform::Size{width, 480}));
    }
}

TEST_F(MVWebViewRoundTripTest, BackgroundColourOfThePage) {
    struct Case {
        const char* answer;
        platform::Color color;
        bool logged;
    } cases[] = {
        {"rgb(255, 0, 0)", platform::Color::rgba(1, 0, 0, 1), false},
        {"rgba(0, 0, 0, 0.5)", platform::Color::rgba(0, 0, 0, 0.5), false},
        // no answer: white
        {"", platform::Color::white(), false},
        // forms a page or engine may answer that are no rgb(): logged, white, no assertion
        {"transparent", platform::Color::white(), true},
        {"color(srgb 1 0 0)", platform::Color::white(), true},
        {"#ff0000", platform::Color::white(), true},
    };
    pageModel->settings.library = false;
    for (const auto& c : cases) {
        pageModel->settings.backgroundColor = c.answer;
        load();
        platform::advanceBy(0.1);
        ASSERT_FALSE(webView->isLoading()) << c.answer;
        EXPECT_EQ(webView->webView()->backgroundColor(), c.color) << c.answer;
        EXPECT_EQ(logged(std::string("page background colour [") + c.answer + "]"), c.logged)
            << c.answer;
    }
}

}  // namespace
