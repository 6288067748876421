// MVWebView over the real engine, with pages and frames from a loopback server and the
// sample shop's page library: a frame's own navigation (a link, a form, a redirect) stays
// in its frame, the top frame's navigations are the web view's whatever its frames show,
// frames' commands are not performed (only the page's are), and a command sent beside the
// page's own navigation reaches the shell as the navigation goes on.
#include <gtest/gtest.h>

#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/bridge/webkit/MVWebViewWebKitFixture.h"
#include "tests/support/HttpTestServer.h"

namespace frame_navigation {
namespace {

using Response = HttpTestServer::Response;

std::string sampleLibrary() {
    std::ifstream file(std::string(MV_SAMPLE_SHOP) + "/libmerovane.js");
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// A page with the sample library whose load commands show it.
std::string libraryPage(const std::string& body, const std::string& head = {}) {
    return "<!DOCTYPE html><html><head><meta charset=\"utf-8\">"
           "<script id=\"libmerovane\" src=\"/libmerovane.js\"></script>" +
           head +
           "<script type=\"application/json\" id=\"mv-load-commands\">"
           "{\"ver\": \"2.0\", \"cmds\": [{\"c\": \"testOnload\"}]}</script></head><body>" +
           body + "</body></html>";
}

std::string html(const std::string& body) {
    return "<!DOCTYPE html><html><body>" + body + "</body></html>";
}

// The innermost frame's document (the page's own without frames).
constexpr const char* kInnermost =
    "(function () { var d = document; for (;;) { var f = d.querySelector('iframe');"
    " if (!f || !f.contentDocument) return d; d = f.contentDocument; } })()";

class MVWebViewFrameNavigationWebKitTest : public MVWebViewWebKitFixture {
  protected:
    void SetUp() override {
        MVWebViewWebKitFixture::SetUp();
        server.respond("/libmerovane.js", Response::text(200, sampleLibrary(), "text/javascript"));
        server.respond("/frame2", Response::text(200, html("<p>frame two</p>"), "text/html"));
        server.respond("/old", Response::redirect(302, "/frame2"));
        server.respond("/outer",
                       Response::text(200, html("<iframe src=\"/frame\"></iframe>"), "text/html"));
        server.respond("/other", Response::text(200, libraryPage("<p>other</p>"), "text/html"));
    }
    // Opens the list page and waits until it is shown and its innermost frame shows
    // `frameText`.
    void openList(const std::string& body, const std::string& frame, const std::string& frameText) {
        server.respond("/list", Response::text(200, libraryPage(body), "text/html"));
        server.respond("/frame", Response::text(200, html(frame), "text/html"));
        webView->openUrl(server.url("/list"));
        ASSERT_TRUE(settle([&] {
            return webView->isUsingLibrary() && !webView->isLoading() &&
                   innermostText() == frameText;
        })) << innermostText();
        js("window.marker = 'same document'");
    }
    std::string innermostText() {
        return js("(function () { var d = " + std::string(kInnermost) +
                  "; return d === document ? '' : d.body ? d.body.textContent : ''; })()");
    }

    HttpTestServer server;
};

struct FrameRow {
    const char* name;
    const char* list;     // the page's body: its frame
    const char* frame;    // the body of the page's (innermost) frame
    const char* trigger;  // run on the innermost frame's document `d`
};

void PrintTo(const FrameRow& row, std::ostream* out) {
    *out << row.name;
}

constexpr const char* kFrame = "<iframe src=\"/frame\"></iframe>";
constexpr const char* kNested = "<iframe src=\"/outer\"></iframe>";
constexpr const char* kLink = "<a id=\"go\" href=\"/frame2\">go</a>";
constexpr const char* kClick = "d.getElementById('go').click()";

const FrameRow kFrameRows[] = {
    {"Link", kFrame, kLink, kClick},
    {"LinkAroundWhatIsClicked", kFrame, "<a href=\"/frame2\"><span id=\"go\">go</span></a>",
     kClick},
    {"LinkFollowedLater", kFrame, kLink,
     "d.defaultView.setTimeout(function () { d.getElementById('go').click(); }, 300)"},
    {"LinkWithATargetOfItsOwn", kFrame, "<a id=\"go\" href=\"/frame2\" target=\"_self\">go</a>",
     kClick},
    {"LinkInANestedFrame", kNested, kLink, kClick},
    {"FormSentByItsButton", kFrame,
     "<form action=\"/frame2\"><input name=\"q\" value=\"1\"><button id=\"go\">go</button></form>",
     kClick},
    {"FormInANestedFrame", kNested, "<form id=\"go\" action=\"/frame2\">go</form>",
     "d.getElementById('go').requestSubmit()"},
    {"RedirectOfALink", kFrame, "<a id=\"go\" href=\"/old\">go</a>", kClick},
    {"RedirectInANestedFrame", kNested, "<a id=\"go\" href=\"/old\">go</a>", kClick},
};

class FrameNavigationTest : public MVWebViewFrameNavigationWebKitTest,
                            public testing::WithParamInterface<FrameRow> {};

TEST_P(FrameNavigationTest, StaysInItsFrameAndThePageStays) {
    const FrameRow& row = GetParam();
    openList(row.list, row.frame, "go");
    js("(function () { var d = " + std::string(kInnermost) + "; " + row.trigger + "; })()");
    ASSERT_TRUE(settle([&] { return innermostText() == "frame two"; }))
        << innermostText() << " " << testing::PrintToString(historyUrls());
    drain();
    EXPECT_EQ(js("location.href"), server.url("/list"));
    EXPECT_EQ(js("window.marker"), "same document");
    EXPECT_EQ(historyUrls(), std::vector<std::string>{server.url("/list")});
    EXPECT_EQ(server.requestCount("/list"), 1u);
    EXPECT_EQ(server.requestCount("/frame2"), 1u);
    EXPECT_EQ(owner->count("didStartLoad"), 1u);
}

INSTANTIATE_TEST_SUITE_P(InsideAFrame, FrameNavigationTest, testing::ValuesIn(kFrameRows),
                         [](const testing::TestParamInfo<FrameRow>& info) {
                             return std::string(info.param.name);
                         });

struct TopRow {
    const char* name;
    const char* list;     // the page's body beside its frame
    const char* frame;    // the frame's body
    const char* trigger;  // run in the page; `d` is the frame's document
    const char* target;   // the path the top frame goes to
};

void PrintTo(const TopRow& row, std::ostream* out) {
    *out << row.name;
}

const TopRow kTopRows[] = {
    {"LocationToTheFramesAddress", "", "<p>go</p>", "location.href = '/frame'", "/frame"},
    {"LinkToTheFramesAddress", "<a id=\"top\" href=\"/frame\">top</a>", "<p>go</p>",
     "document.getElementById('top').click()", "/frame"},
    {"LinkToAnotherPage", "<a id=\"top\" href=\"/other\">top</a>", "<p>go</p>",
     "document.getElementById('top').click()", "/other"},
    {"LocationToAnotherPage", "", "<p>go</p>", "location.href = '/other'", "/other"},
    {"FramesLinkToTheTop", "", "<a id=\"go\" href=\"/other\" target=\"_top\">go</a>",
     "d.getElementById('go').click()", "/other"},
    {"FramesLinkToItsParent", "", "<a id=\"go\" href=\"/frame\" target=\"_parent\">go</a>",
     "d.getElementById('go').click()", "/frame"},
};

class TopNavigationTest : public MVWebViewFrameNavigationWebKitTest,
                          public testing::WithParamInterface<TopRow> {};

TEST_P(TopNavigationTest, IsFollowedByTheWebView) {
    const TopRow& row = GetParam();
    openList(std::string(row.list) + kFrame, row.frame, "go");
    const size_t fetchedBefore = server.requestCount(row.target);
    js("(function () { var d = " + std::string(kInnermost) + "; " + row.trigger + "; })()");
    const std::string target = server.url(row.target);
    ASSERT_TRUE(settle([&] { return historyUrls().size() == 2 && !webView->isLoading(); }))
        << testing::PrintToString(historyUrls()) << " " << js("location.href");
    EXPECT_EQ(historyUrls(), (std::vector<std::string>{server.url("/list"), target}));
    ASSERT_TRUE(settle([&] { return js("location.href") == target; }));
    // Fetched by the web view, once.
    EXPECT_EQ(server.requestCount(row.target), fetchedBefore + 1);
    EXPECT_EQ(owner->count("didStartLoad"), 2u);
}

INSTANTIATE_TEST_SUITE_P(OfTheTopFrame, TopNavigationTest, testing::ValuesIn(kTopRows),
                         [](const testing::TestParamInfo<TopRow>& info) {
                             return std::string(info.param.name);
                         });

// Frames with the page library send their commands as the page does: only the page's own
// are performed, and the page's numbering is its own.
struct FrameCommandRow {
    const char* name;
    const char* list;  // the page's body
    size_t commands;   // testAnswer commands performed in all, the page's onload aside
};

void PrintTo(const FrameCommandRow& row, std::ostream* out) {
    *out << row.name;
}

constexpr const char* kSendTwice =
    "mvSendCommands({ver: '2.0', cmds: [{c: 'testAnswer', p: {event: 'a'}}]});"
    "mvSendCommands({ver: '2.0', cmds: [{c: 'testAnswer', p: {event: 'b'}},"
    " {c: 'testAnswer', p: {event: 'c'}}]});";

const FrameCommandRow kFrameCommandRows[] = {
    {"AFrameWhileItLoads", "<iframe src=\"/loading\"></iframe>", 0},
    {"AFrameOnceLoaded", "<iframe src=\"/loaded\"></iframe>", 0},
    {"TwoFrames", "<iframe src=\"/loading\"></iframe><iframe src=\"/loaded\"></iframe>", 0},
    {"ANestedFrame", "<iframe src=\"/outer-library\"></iframe>", 0},
    {"ThePageAndAFrame", "<iframe src=\"/loaded\"></iframe><script>SEND</script>", 3},
};

class FrameCommandTest : public MVWebViewFrameNavigationWebKitTest,
                         public testing::WithParamInterface<FrameCommandRow> {};

TEST_P(FrameCommandTest, AreNotPerformedAndLeaveThePagesNumberingAlone) {
    const FrameCommandRow& row = GetParam();
    auto withSend = [](std::string text) {
        for (size_t at; (at = text.find("SEND")) != std::string::npos;)
            text.replace(at, 4, kSendTwice);
        return text;
    };
    server.respond("/loading", Response::text(200, libraryPage(withSend("<script>SEND</script>")),
                                              "text/html"));
    server.respond("/loaded",
                   Response::text(200,
                                  libraryPage("<p>frame</p>", withSend("<script>addEventListener("
                                                                       "'load', function () { SEND "
                                                                       "});</script>")),
                                  "text/html"));
    server.respond("/outer-library",
                   Response::text(200,
                                  libraryPage("<iframe src=\"/loaded\"></iframe>",
                                              withSend("<script>addEventListener('load', "
                                                       "function () { SEND });</script>")),
                                  "text/html"));
    server.respond("/list", Response::text(200, libraryPage(withSend(row.list)), "text/html"));
    webView->openUrl(server.url("/list"));
    ASSERT_TRUE(settle([&] { return pageRoundTrips().size() == row.commands; }))
        << pageRoundTrips().size();
    ASSERT_TRUE(settle([&] { return webView->isUsingLibrary() && !webView->isLoading(); }));
    drain();
    EXPECT_EQ(pageRoundTrips().size(), row.commands);
    EXPECT_FALSE(logged("lost commands"));
    // The page's own numbering is still checked: a command it numbers wrongly warns.
    js("mvSendCommands({ver: '2.0', cmds: [{c: 'testAnswer', s: 40, p: {event: 'd'}}]})");
    ASSERT_TRUE(settle([&] { return pageRoundTrips().size() == row.commands + 1; }));
    EXPECT_EQ(loggedCount("lost commands"), 1u);
}

INSTANTIATE_TEST_SUITE_P(Senders, FrameCommandTest, testing::ValuesIn(kFrameCommandRows),
                         [](const testing::TestParamInfo<FrameCommandRow>& info) {
                             return std::string(info.param.name);
                         });

// A command and the page's own navigation after it in one task: both happen.
struct CommandAndNavigationRow {
    const char* name;
    const char* script;
    size_t commands;
};

void PrintTo(const CommandAndNavigationRow& row, std::ostream* out) {
    *out << row.name;
}

constexpr const char* kSendOne =
    "mvSendCommands({ver: '2.0', cmds: [{c: 'testAnswer', p: {event: 'x'}}]});";

const CommandAndNavigationRow kCommandAndNavigationRows[] = {
    {"CommandThenLocation", "SEND location.href = '/other';", 1},
    {"TwoCommandsThenLocation", "SEND SEND location.href = '/other';", 2},
    {"CommandThenLocationAssign", "SEND location.assign('/other');", 1},
    {"CommandThenALink", "SEND document.getElementById('top').click();", 1},
    {"LocationThenCommand", "location.href = '/other'; SEND", 1},
    {"LocationThenTwoCommands", "location.href = '/other'; SEND SEND", 2},
    {"LocationAssignThenCommand", "location.assign('/other'); SEND", 1},
    {"ALinkThenCommand", "document.getElementById('top').click(); SEND", 1},
    {"CommandsAroundLocation", "SEND location.href = '/other'; SEND", 2},
};

// The task the page runs the script in: one the console gives it, a timer's, or a button's
// click handler.
enum class Task { Console, Timer, ClickHandler };

class CommandAndNavigationTest
    : public MVWebViewFrameNavigationWebKitTest,
      public testing::WithParamInterface<std::tuple<CommandAndNavigationRow, Task>> {};

TEST_P(CommandAndNavigationTest, BothHappen) {
    const CommandAndNavigationRow& row = std::get<0>(GetParam());
    const Task task = std::get<1>(GetParam());
    std::string script = row.script;
    for (size_t at; (at = script.find("SEND")) != std::string::npos;)
        script.replace(at, 4, kSendOne);
    openList("<a id=\"top\" href=\"/other\">top</a><button id=\"run\">run</button>" +
                 std::string(kFrame),
             "<p>go</p>", "go");
    if (task == Task::Console) {
        js(script);
    } else if (task == Task::Timer) {
        js("setTimeout(function () { " + script + " }, 0)");
    } else {
        js("document.getElementById('run').addEventListener('click', function () { " + script +
           " }); document.getElementById('run').click()");
    }
    ASSERT_TRUE(settle([&] {
        return pageRoundTrips().size() == row.commands && historyUrls().size() == 2 &&
               webView->isUsingLibrary() && !webView->isLoading() &&
               js("location.href") == server.url("/other");
    })) << pageRoundTrips().size()
        << " " << testing::PrintToString(historyUrls()) << " " << js("location.href");
    drain();
    EXPECT_EQ(historyUrls(), (std::vector<std::string>{server.url("/list"), server.url("/other")}));
    EXPECT_EQ(pageRoundTrips().size(), row.commands);
    for (const auto& trip : pageRoundTrips()) EXPECT_EQ(trip.webView, webView.get());
    EXPECT_EQ(server.requestCount("/other"), 1u);
    EXPECT_FALSE(logged("lost commands")) << testing::PrintToString(log_->texts());
}

std::string taskName(
    const testing::TestParamInfo<std::tuple<CommandAndNavigationRow, Task>>& info) {
    static const char* const kTasks[] = {"", "InATimer", "InAClickHandler"};
    return std::string(std::get<0>(info.param).name) +
           kTasks[static_cast<int>(std::get<1>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(OneTask, CommandAndNavigationTest,
                         testing::Combine(testing::ValuesIn(kCommandAndNavigationRows),
                                          testing::Values(Task::Console, Task::Timer,
                                                          Task::ClickHandler)),
                         taskName);

// Frames inside a frame of another origin (a provider's frame with frames of its own): each
// frame's documents load in their frame, the page is never replaced by one of them.
struct NestedFrameRow {
    const char* name;
    bool deeper;          // one more frame between the provider's frame and the innermost
    bool scripted;        // the innermost frame is made by script
    const char* element;  // in the innermost frame, named "box"
    const char* trigger;  // run in the innermost frame once it has loaded
};

void PrintTo(const NestedFrameRow& row, std::ostream* out) {
    *out << row.name;
}

constexpr const char* kNamedLink = "<a id=\"go\" href=\"/frame2\" target=\"box\">go</a>";
constexpr const char* kForm = "<form action=\"/frame2\"><button id=\"go\">go</button></form>";
constexpr const char* kRedirectLink = "<a id=\"go\" href=\"/old\">go</a>";
constexpr const char* kClickGo = "document.getElementById('go').click()";

const NestedFrameRow kNestedFrameRows[] = {
    {"Link", false, false, kLink, kClickGo},
    {"Form", false, false, kForm, kClickGo},
    {"Redirect", false, false, kRedirectLink, kClickGo},
    {"NamedTarget", false, false, kNamedLink, kClickGo},
    {"LinkOfAScriptedFrame", false, true, kLink, kClickGo},
    {"FormOfAScriptedFrame", false, true, kForm, kClickGo},
    {"RedirectOfAScriptedFrame", false, true, kRedirectLink, kClickGo},
    {"NamedTargetOfAScriptedFrame", false, true, kNamedLink, kClickGo},
    {"LinkDeeper", true, false, kLink, kClickGo},
    {"FormDeeper", true, false, kForm, kClickGo},
    {"RedirectDeeper", true, false, kRedirectLink, kClickGo},
    {"NamedTargetDeeper", true, false, kNamedLink, kClickGo},
    {"LinkOfAScriptedFrameDeeper", true, true, kLink, kClickGo},
    {"FormOfAScriptedFrameDeeper", true, true, kForm, kClickGo},
    {"RedirectOfAScriptedFrameDeeper", true, true, kRedirectLink, kClickGo},
    {"NamedTargetOfAScriptedFrameDeeper", true, true, kNamedLink, kClickGo},
};

class NestedFrameTest : public MVWebViewFrameNavigationWebKitTest,
                        public testing::WithParamInterface<NestedFrameRow> {
  protected:
    // Both origins serve the same frames; a frame's own addresses stay in its origin.
    void serveFrames(HttpTestServer& origin, const NestedFrameRow& row) {
        const std::string tellTop = "<script>top.postMessage(TEXT, '*');</script>";
        auto telling = [&](const std::string& text) {
            std::string script = tellTop;
            script.replace(script.find("TEXT"), 4, "'" + text + "'");
            return script;
        };
        origin.respond("/mid",
                       Response::text(200,
                                      html(row.scripted ? "<script>var f = document.createElement("
                                                          "'iframe'); f.name = 'box'; f.src = "
                                                          "'/inner'; document.body.appendChild(f);"
                                                          "</script>"
                                                        : "<iframe name=\"box\" src=\"/inner\">"
                                                          "</iframe>"),
                                      "text/html"));
        origin.respond("/inner",
                       Response::text(200,
                                      html(std::string(row.element) + telling("inner") +
                                           "<script>addEventListener('load', function () {"
                                           " setTimeout(function () { " +
                                           row.trigger + "; }, 0); });</script>"),
                                      "text/html"));
        origin.respond("/frame2",
                       Response::text(200,
                                      html("<p>frame two</p>" + telling(std::string("frame two ") +
                                                                        "of " + origin.baseURL())),
                                      "text/html"));
        origin.respond("/old", Response::redirect(302, "/frame2"));
    }
    HttpTestServer provider;
};

TEST_P(NestedFrameTest, LoadsInItsFrameAndThePageStays) {
    const NestedFrameRow& row = GetParam();
    serveFrames(server, row);
    serveFrames(provider, row);
    // Deeper: the provider's frame holds a frame of the page's origin, which holds the frames.
    provider.respond(
        "/deep", Response::text(200, html("<iframe src=\"" + server.url("/mid") + "\"></iframe>"),
                                "text/html"));
    const std::string frame = provider.url(row.deeper ? "/deep" : "/mid");
    const std::string innermost = row.deeper ? server.baseURL() : provider.baseURL();
    server.respond("/list", Response::text(200,
                                           libraryPage("<script>window.arrived = [];"
                                                       " addEventListener('message', function (e)"
                                                       " { arrived.push(String(e.data)); });"
                                                       "</script><iframe src=\"" +
                                                       frame + "\"></iframe>"),
                                           "text/html"));
    webView->openUrl(server.url("/list"));
    ASSERT_TRUE(settle([&] { return webView->isUsingLibrary() && !webView->isLoading(); }));
    js("window.marker = 'same document'");
    const std::string arrived = "frame two of " + innermost;
    ASSERT_TRUE(settle([&] {
        return historyUrls().size() != 1 ||
               js("String(window.arrived && arrived.indexOf('" + arrived + "') >= 0)") == "true";
    }));
    drain();
    EXPECT_EQ(historyUrls(), std::vector<std::string>{server.url("/list")});
    EXPECT_EQ(js("location.href"), server.url("/list"));
    EXPECT_EQ(js("window.marker"), "same document");
    EXPECT_EQ(js("arrived.join()"), "inner," + arrived);
    EXPECT_EQ(server.requestCount("/list"), 1u);
    EXPECT_EQ(server.requestCount("/frame2") + provider.requestCount("/frame2"), 1u);
    EXPECT_EQ(owner->count("didStartLoad"), 1u);
}

INSTANTIATE_TEST_SUITE_P(InsideAFrameOfAnotherOrigin, NestedFrameTest,
                         testing::ValuesIn(kNestedFrameRows),
                         [](const testing::TestParamInfo<NestedFrameRow>& info) {
                             return std::string(info.param.name);
                         });

// The page's own history.back(), forward() and go(): the web view's page history steps as
// the user's Back steps it, and the page lands where a browser would.
struct PageHistoryRow {
    const char* name;
    int pages;                       // /p1 ... /pN, each reached by a link
    std::vector<const char*> calls;  // each run by the page shown then, in turn
    std::vector<int> landings;       // the page shown after each call
};

void PrintTo(const PageHistoryRow& row, std::ostream* out) {
    *out << row.name;
}

const PageHistoryRow kPageHistoryRows[] = {
    {"BackAfterThree", 3, {"history.back()"}, {2}},
    {"BackAfterFive", 5, {"history.back()"}, {4}},
    {"EachPageBackAfterThree",
     3,
     {"history.back()", "history.back()", "history.back()"},
     {2, 1, 1}},
    {"EachPageBackAfterFive",
     5,
     {"history.back()", "history.back()", "history.back()", "history.back()"},
     {4, 3, 2, 1}},
    {"GoBackTwoAfterThree", 3, {"history.go(-2)"}, {1}},
    {"GoBackTwoAfterFive", 5, {"history.go(-2)", "history.go(-2)"}, {3, 1}},
    {"BackThenGoBackTwoAfterFive", 5, {"history.back()", "history.go(-2)"}, {4, 2}},
    {"GoBackTooFarAfterThree", 3, {"history.go(-3)", "history.back()"}, {3, 2}},
    {"ForwardAfterThree", 3, {"history.forward()", "history.back()"}, {3, 2}},
    {"ForwardAfterFive", 5, {"history.forward()", "history.go(-2)"}, {5, 3}},
};

class PageHistoryTest : public MVWebViewFrameNavigationWebKitTest,
                        public testing::WithParamInterface<PageHistoryRow> {
  protected:
    std::string page(int number) { return server.url("/p" + std::to_string(number)); }
    std::vector<std::string> pagesUpTo(int number) {
        std::vector<std::string> pages;
        for (int i = 1; i <= number; ++i) pages.push_back(page(i));
        return pages;
    }
    // The web view shows page `number` as the newest of its history, ready.
    bool shows(int number) {
        return historyUrls() == pagesUpTo(number) && webView->isUsingLibrary() &&
               !webView->isLoading() && js("location.href") == page(number);
    }
};

TEST_P(PageHistoryTest, LandsWhereABrowserWould) {
    const PageHistoryRow& row = GetParam();
    for (int i = 1; i <= row.pages; ++i) {
        server.respond("/p" + std::to_string(i),
                       Response::text(200,
                                      libraryPage("<a id=\"next\" href=\"/p" +
                                                  std::to_string(i + 1) + "\">next</a>"),
                                      "text/html"));
    }
    webView->openUrl(page(1));
    ASSERT_TRUE(settle([&] { return shows(1); }));
    for (int i = 2; i <= row.pages; ++i) {
        js("document.getElementById('next').click()");
        ASSERT_TRUE(settle([&] { return shows(i); })) << testing::PrintToString(historyUrls());
    }
    int shown = row.pages;
    size_t fetches = static_cast<size_t>(row.pages);
    for (size_t i = 0; i < row.calls.size(); ++i) {
        const int landing = row.landings[i];
        js("window.marker = 'stays'");
        // A call that goes nowhere leaves the page as it is: a timer of the page after it
        // tells that the page went on.
        js(std::string(row.calls[i]) + "; setTimeout(function () { window.after = true; }, 100)");
        if (landing == shown) {
            ASSERT_TRUE(settle([&] { return js("String(window.after)") == "true"; }));
            drain();
            EXPECT_EQ(js("window.marker"), "stays") << row.calls[i];
        }
        ASSERT_TRUE(settle([&] { return shows(landing); }))
            << row.calls[i] << " " << testing::PrintToString(historyUrls()) << " "
            << js("location.href");
        if (landing != shown) ++fetches;
        shown = landing;
    }
    drain();
    EXPECT_TRUE(shows(shown)) << testing::PrintToString(historyUrls());
    // Every page shown was fetched by the web view, none by the engine itself.
    size_t fetched = 0;
    for (int i = 1; i <= row.pages; ++i) fetched += server.requestCount("/p" + std::to_string(i));
    EXPECT_EQ(fetched, fetches);
}

INSTANTIATE_TEST_SUITE_P(ThePagesOwn, PageHistoryTest, testing::ValuesIn(kPageHistoryRows),
                         [](const testing::TestParamInfo<PageHistoryRow>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace frame_navigation
