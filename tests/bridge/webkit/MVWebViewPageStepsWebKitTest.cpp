// MVWebView over the real engine: the page's own back, forward and go() after a fragment
// change, pushState or replaceState land where a browser lands, the page history holding an
// entry for each entry of the engine's session history; and a page that sends by
// navigating its top frame to "mvcmd:" and leaves by its own back goes back once, stays,
// and gets no answer it asked for.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "libmerovane/bridge/MVCommand.h"
#include "libmerovane/bridge/MVCommandHandler.h"
#include "tests/bridge/webkit/MVWebViewWebKitFixture.h"
#include "tests/support/HttpTestServer.h"

namespace page_steps {
namespace {

using Response = HttpTestServer::Response;

std::string libraryPage(const std::string& body) {
    return "<!DOCTYPE html><html><head><meta charset=\"utf-8\">"
           "<script id=\"libmerovane\" src=\"/libmerovane.js\"></script>"
           "<script type=\"application/json\" id=\"mv-load-commands\">"
           "{\"ver\": \"2.0\", \"cmds\": [{\"c\": \"testOnload\"}]}</script></head><body>" +
           body + "<div style=\"height: 3000px\"></div><p id=\"x\">x</p></body></html>";
}

// A link to `path` clicked by the page.
std::string follow(const std::string& path) {
    return "(function () { var l = document.createElement('a'); l.href = '" + path +
           "'; document.body.appendChild(l); l.click(); })()";
}

// The user's Back in the shell, not the page's.
constexpr const char* kUsersBack = "users back";

struct Step {
    const char* call;     // run by the page shown then (or kUsersBack)
    const char* lands;    // the address shown after it
    const char* history;  // the page history after it, addresses separated by spaces
    bool sameDocument;    // the document stays (a step within it, or none at all)
};

struct StepRow {
    const char* name;
    std::vector<const char*> onB;  // what /b does before it is left (each within /b)
    bool toC;                      // /b is left for /c by a link before the steps
    std::vector<Step> steps;
};

void PrintTo(const StepRow& row, std::ostream* out) {
    *out << row.name;
}

constexpr const char* kHash = "location.hash = 'x'";
constexpr const char* kPush = "history.pushState({n: 'b2'}, '', '/b2')";
constexpr const char* kReplace = "history.replaceState({n: 'b3'}, '', '/b3')";

// Where a browser lands (WebKitGTK loading the same pages by itself): a -> b -> c by links.
const StepRow kStepRows[] = {
    // A fragment change on b: the session history holds a, b, b#x, c.
    {"BackAfterAHash", {kHash}, true, {{"history.back()", "/b#x", "/a /b /b#x", false}}},
    {"GoBackTwoAfterAHash", {kHash}, true, {{"history.go(-2)", "/b", "/a /b", false}}},
    {"GoBackThreeAfterAHash", {kHash}, true, {{"history.go(-3)", "/a", "/a", false}}},
    {"ForwardAfterAHash", {kHash}, true, {{"history.forward()", "/c", "/a /b /b#x /c", true}}},
    {"BackTwiceAfterAHash",
     {kHash},
     true,
     {{"history.back()", "/b#x", "/a /b /b#x", false}, {"history.back()", "/b", "/a /b", false}}},
    // Known limit: the page history keeps nothing ahead of a page shown again, so the
    // page's forward after its back goes nowhere (a browser goes to c).
    {"BackThenForwardAfterAHash",
     {kHash},
     true,
     {{"history.back()", "/b#x", "/a /b /b#x", false},
      {"history.forward()", "/b#x", "/a /b /b#x", true}}},
    // pushState on b: a, b, b2, c.
    {"BackAfterPushState", {kPush}, true, {{"history.back()", "/b2", "/a /b /b2", false}}},
    {"GoBackTwoAfterPushState", {kPush}, true, {{"history.go(-2)", "/b", "/a /b", false}}},
    {"GoBackThreeAfterPushState", {kPush}, true, {{"history.go(-3)", "/a", "/a", false}}},
    {"BackTwiceAfterPushState",
     {kPush},
     true,
     {{"history.back()", "/b2", "/a /b /b2", false}, {"history.back()", "/b", "/a /b", false}}},
    // replaceState on b: a, b3, c.
    {"BackAfterReplaceState", {kReplace}, true, {{"history.back()", "/b3", "/a /b3", false}}},
    {"GoBackTwoAfterReplaceState", {kReplace}, true, {{"history.go(-2)", "/a", "/a", false}}},
    {"GoBackThreeAfterReplaceState",
     {kReplace},
     true,
     {{"history.go(-3)", "/c", "/a /b3 /c", true}}},
    // All three on b: a, b, b#x, b2 (then b3 in its place), c.
    {"GoBackTwoAfterAll",
     {kHash, kPush, kReplace},
     true,
     {{"history.go(-2)", "/b#x", "/a /b /b#x", false}}},
    {"GoBackThreeAfterAll",
     {kHash, kPush, kReplace},
     true,
     {{"history.go(-3)", "/b", "/a /b", false}}},
    // Steps within b's document: no document is fetched, the page history follows.
    {"BackForwardAndBackInTheDocument",
     {kHash, kPush},
     false,
     {{"history.back()", "/b#x", "/a /b /b#x", true},
      {"history.forward()", "/b2", "/a /b /b#x /b2", true},
      {"history.go(-2)", "/b", "/a /b", true},
      {"history.back()", "/a", "/a", false}}},
    {"ReplaceStateAfterTheDocumentsBack",
     {kPush},
     false,
     {{"history.back()", "/b", "/a /b", true},
      {kReplace, "/b3", "/a /b3", true},
      {"history.back()", "/a", "/a", false}}},
    // A step past either end goes nowhere.
    {"GoBackFiveGoesNowhere", {kHash}, true, {{"history.go(-5)", "/c", "/a /b /b#x /c", true}}},
    {"ForwardAtTheEndGoesNowhere",
     {kPush},
     false,
     {{"history.forward()", "/b2", "/a /b /b2", true}}},
    // The user's Back over a pushState entry, then the page's own.
    {"UsersBackThenThePages",
     {kPush},
     false,
     {{kUsersBack, "/b", "/a /b", true}, {"history.back()", "/a", "/a", false}}},
    {"UsersBackOnAPushStateShownAgain",
     {kPush},
     true,
     {{"history.back()", "/b2", "/a /b /b2", false},
      {kUsersBack, "/b", "/a /b", false},
      {"history.back()", "/a", "/a", false}}},
};

class MVWebViewPageStepsWebKitTest : public MVWebViewWebKitFixture {
  protected:
    void SetUp() override {
        MVWebViewWebKitFixture::SetUp();
        server.respond("/libmerovane.js",
                       Response::text(200, sampleShopLibrary(), "text/javascript"));
        for (const char* page : {"/a", "/b", "/c", "/b2", "/b3"})
            server.respond(page, Response::text(200, libraryPage(page), "text/html"));
    }
    std::string joined(const std::vector<std::string>& urls) {
        std::string text;
        for (const auto& url : urls) {
            const std::string base = server.url("/");
            text += (text.empty() ? "" : " ") +
                    (url.rfind(base, 0) == 0 ? "/" + url.substr(base.size()) : url);
        }
        return text;
    }
    // The page shown is `address`, ready, with `history` as the page history.
    bool shows(const std::string& address, const std::string& history) {
        return !webView->isLoading() && webView->isUsingLibrary() &&
               js("location.href") == server.url(address) && joined(historyUrls()) == history;
    }
    std::string state() {
        return js("location.href") + " | " + joined(historyUrls()) + " | " +
               std::to_string(webView->isLoading());
    }

    HttpTestServer server;
};

class PageStepsTest : public MVWebViewPageStepsWebKitTest,
                      public testing::WithParamInterface<StepRow> {};

TEST_P(PageStepsTest, LandWhereABrowserLands) {
    const StepRow& row = GetParam();
    webView->openUrl(server.url("/a"));
    ASSERT_TRUE(settle([&] { return shows("/a", "/a"); })) << state();
    js(follow("/b"));
    ASSERT_TRUE(settle([&] { return shows("/b", "/a /b"); })) << state();
    for (const char* act : row.onB) {
        const std::string before = js("location.href");
        js(act);
        ASSERT_TRUE(settle([&] {
            drain();
            return js("location.href") != before && historyUrls().back() == js("location.href");
        })) << act
            << " " << state();
    }
    if (row.toC) {
        const std::string history = joined(historyUrls()) + " /c";
        js(follow("/c"));
        ASSERT_TRUE(settle([&] { return shows("/c", history); })) << state();
    }
    for (const Step& step : row.steps) {
        js("window.marker = 'stays'; window.after = false");
        if (std::string(step.call) == kUsersBack) {
            EXPECT_TRUE(webView->goBack());
        } else {
            js(std::string(step.call) + "; setTimeout(function () { window.after = true; }, 100)");
        }
        if (step.sameDocument && std::string(step.call) != kUsersBack) {
            ASSERT_TRUE(settle([&] { return js("String(window.after)") == "true"; }))
                << step.call << " " << state();
        }
        ASSERT_TRUE(settle([&] { return shows(step.lands, step.history); }))
            << step.call << " " << state();
        drain();
        EXPECT_TRUE(shows(step.lands, step.history)) << step.call << " " << state();
        EXPECT_EQ(js("window.marker") == "stays", step.sameDocument) << step.call;
    }
}

INSTANTIATE_TEST_SUITE_P(AfterHashPushAndReplaceState, PageStepsTest, testing::ValuesIn(kStepRows),
                         [](const testing::TestParamInfo<StepRow>& info) {
                             return std::string(info.param.name);
                         });

// No step at all: go(0) loads the document again in its place.
TEST_F(MVWebViewPageStepsWebKitTest, GoZeroLoadsTheDocumentAgain) {
    webView->openUrl(server.url("/a"));
    ASSERT_TRUE(settle([&] { return shows("/a", "/a"); })) << state();
    js(follow("/b"));
    ASSERT_TRUE(settle([&] { return shows("/b", "/a /b"); })) << state();
    js("window.marker = 'stays'; history.go(0)");
    ASSERT_TRUE(settle([&] {
        return js("String(window.marker)") == "undefined" && shows("/b", "/a /b");
    })) << state();
    drain();
    EXPECT_TRUE(shows("/b", "/a /b")) << state();
}

// A frame of another origin cannot take the page back: it cannot reach the page's history,
// nor step it through its own.
TEST_F(MVWebViewPageStepsWebKitTest, AFrameOfAnotherOriginDoesNotStepThePage) {
    HttpTestServer other;
    other.respond("/frame", Response::text(200,
                                           "<!DOCTYPE html><html><body><script>"
                                           "var tried = [];"
                                           "try { top.history.back(); tried.push('top'); }"
                                           " catch (e) { tried.push('refused'); }"
                                           "try { History.prototype.go.call(top.history, -1); }"
                                           " catch (e) { tried.push('refused'); }"
                                           "top.postMessage(tried.join(' '), '*');"
                                           "</script></body></html>",
                                           "text/html"));
    webView->openUrl(server.url("/a"));
    ASSERT_TRUE(settle([&] { return shows("/a", "/a"); })) << state();
    js(follow("/b"));
    ASSERT_TRUE(settle([&] { return shows("/b", "/a /b"); })) << state();
    js("window.marker = 'stays'; window.told = '';"
       "addEventListener('message', function (e) { window.told = String(e.data); });"
       "var f = document.createElement('iframe'); f.src = '" +
       other.url("/frame") + "'; document.body.appendChild(f);");
    ASSERT_TRUE(settle([&] { return !js("window.told").empty(); })) << state();
    EXPECT_EQ(js("window.told"), "refused refused");
    js("window.after = false; setTimeout(function () { window.after = true; }, 300)");
    ASSERT_TRUE(settle([&] { return js("String(window.after)") == "true"; })) << state();
    drain();
    EXPECT_TRUE(shows("/b", "/a /b")) << state();
    EXPECT_EQ(js("window.marker"), "stays");
}

// A page without the page library that sends a data request by navigating its top frame
// to "mvcmd:" every task from its load on, and leaves by its own back DELAY ms after it.
struct LeavingRow {
    const char* name;
    const char* leave;
    int delay;
    int runs;
};

void PrintTo(const LeavingRow& row, std::ostream* out) {
    *out << row.name;
}

const LeavingRow kLeavingRows[] = {
    {"GoBackOne", "history.go(-1)", 20, 50},
    {"Back", "history.back()", 20, 10},
    {"GoBackOneAtOnce", "history.go(-1)", 0, 10},
    {"GoBackOneLater", "history.go(-1)", 200, 10},
};

class LeavingByBackRows : public MVWebViewPageStepsWebKitTest,
                          public testing::WithParamInterface<LeavingRow> {
  protected:
    // The page's data requests the web view took (serials from 0 each run).
    size_t requests() const {
        return static_cast<size_t>(std::count(owner->askedCommands.begin(),
                                              owner->askedCommands.end(), "sendDataRequest"));
    }
};

TEST_P(LeavingByBackRows, GoesBackOnceStaysAndNoAnswerReachesAnyone) {
    const LeavingRow& row = GetParam();
    const std::string leave = "setTimeout(function () { " + std::string(row.leave) + "; }, " +
                              std::to_string(row.delay) + ");";
    int wrong = 0;
    for (int run = 0; run < row.runs; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        // Addresses and serials of their own each run.
        const std::string prev = "/prev" + std::to_string(run);
        const std::string left = "/left" + std::to_string(run);
        const std::string prefix = "r" + std::to_string(run) + "n";
        server.respond(prev, Response::text(200, libraryPage(prev), "text/html"));
        server.respond(
            left,
            Response::text(
                200,
                "<!DOCTYPE html><html><body><p>left</p><script>"
                "function send(i) { location.href = 'mvcmd:' + encodeURIComponent("
                "JSON.stringify({ver: '2.0', cmds: [{c: 'sendDataRequest', s: i, p: {serial: '" +
                    prefix +
                    "' + i, src: 'mvapi:item?i=' + i}}]})); }"
                    "addEventListener('load', function () { var i = 0;"
                    " (function sendNext() { send(i++); setTimeout(sendNext, 0); })(); " +
                    leave + " });</script></body></html>",
                "text/html"));
        owner->askedCommands.clear();
        webView->openUrl(server.url(prev));
        ASSERT_TRUE(settle([&] { return shows(prev, prev); })) << state();
        js(follow(left));
        ASSERT_TRUE(settle([&] { return requests() > 0; })) << state();
        // Back once, and there for good: a timer of the page shown after it has run.
        ASSERT_TRUE(settle([&] { return shows(prev, prev); }))
            << state() << " after " << requests() << " requests";
        js("window.after = false; setTimeout(function () { window.after = true; }, 300)");
        ASSERT_TRUE(settle([&] { return js("String(window.after)") == "true"; })) << state();
        drain();
        const size_t sent = requests();
        for (size_t serial = 0; serial < sent; ++serial) {
            MVCommandHandler::performCommandsFromCommandCollection(
                {{"ver", "1.0"},
                 {"cmds",
                  {{{"c", "dataResponse"},
                    {"p",
                     {{"serial",
                       std::to_string(webView->serialID()) + ":" + prefix + std::to_string(serial)},
                      {"status", 200},
                      {"body", "left"}}}}}}},
                nullptr);
        }
        drain();
        const nlohmann::json got = received();
        const bool sound = shows(prev, prev) && got.empty() && sent < 1000;
        if (!sound) {
            ++wrong;
            ADD_FAILURE() << state() << " after " << sent << " requests, received " << got.dump();
        }
    }
    EXPECT_EQ(wrong, 0) << "of " << row.runs << " runs";
}

INSTANTIATE_TEST_SUITE_P(ThePagesOwnBack, LeavingByBackRows, testing::ValuesIn(kLeavingRows),
                         [](const testing::TestParamInfo<LeavingRow>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace page_steps
