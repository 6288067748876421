// A page's alert(), confirm() and prompt() in the real engine never hold the page nor the
// shell: each is closed at once with the cancel answer and a warning naming the page and
// the text, whether it comes while the page loads, on a click, or inside a script the shell
// runs in the page; the page's later commands are performed.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <tuple>

#include "tests/bridge/webkit/MVWebViewWebKitFixture.h"
#include "tests/support/TestPageLibrary.h"

using platform::URL;

namespace {

struct DialogKind {
    const char* name;
    const char* call;    // the page's call
    const char* answer;  // what the page reads back, as text
};

const DialogKind kKinds[] = {
    {"alert", "alert", "undefined"},
    {"confirm", "confirm", "false"},
    {"prompt", "prompt", "null"},
};

enum class Moment { AtLoad, OnAClick, InTheShellsScript };

constexpr const char* kMomentNames[] = {"AtLoad", "OnAClick", "InTheShellsScript"};

constexpr const char* kDialogPageSendsOnload =
    "<script>addEventListener('load', function () {"
    " mvSendCommands({ver: '2.0', cmds: [{c: 'testOnload'}]}); });</script>";

class ScriptDialogTest : public MVWebViewWebKitFixture,
                         public testing::WithParamInterface<std::tuple<DialogKind, Moment>> {};

TEST_P(ScriptDialogTest, IsClosedWithTheCancelAnswerAndThePageGoesOn) {
    const DialogKind& kind = std::get<0>(GetParam());
    const Moment moment = std::get<1>(GetParam());
    const std::string head = std::string(
                                 "<title>shop</title><script>var answers = [];"
                                 " function ask(text) { answers.push(String(") +
                             kind.call + "(text, 'default'))); }</script>" + kDialogPageSendsOnload;
    std::string body = "<button id=b onclick=\"ask('Pay now? click')\">pay</button>";
    if (moment == Moment::AtLoad) body += "<script>ask('Pay now? load');</script><p>after</p>";
    const std::string text = moment == Moment::AtLoad     ? "Pay now? load"
                             : moment == Moment::OnAClick ? "Pay now? click"
                                                          : "Pay now? shell";
    webView->loadHTMLString(testpage::pageWithLibrary(body, head), URL::parse(kBase));
    ASSERT_TRUE(settle([&] { return webView->isUsingLibrary() && !webView->isLoading(); }));
    if (moment == Moment::OnAClick)
        js("setTimeout(function () { document.getElementById('b').click(); }, 0)");
    if (moment == Moment::InTheShellsScript) {
        EXPECT_EQ(js("ask('Pay now? shell'); answers.join()"), kind.answer);
    }
    ASSERT_TRUE(settle([&] { return js("answers.join()") == kind.answer; }));
    // The page went on past its dialog and still commands the shell.
    if (moment == Moment::AtLoad) {
        EXPECT_EQ(js("document.querySelector('p').textContent"), "after");
    }
    const size_t before = pageRoundTrips().size();
    js("mvSendCommands({ver: '2.0', cmds: [{c: 'testAnswer', p: {event: 'later'}}]})");
    EXPECT_TRUE(settle([&] { return pageRoundTrips().size() == before + 1; }));
    EXPECT_TRUE(logged(std::string("closed the page's ") + kind.name + " with the cancel answer [" +
                       kBase + "]: \"" + text + "\""));
    EXPECT_EQ(loggedLevel(std::string("WebKitGtkWebEngine closed the page's ") + kind.name +
                          " with the cancel answer [" + kBase + "]: \"" + text + "\""),
              2);
    EXPECT_FALSE(logged("gave up waiting"));
}

INSTANTIATE_TEST_SUITE_P(Dialogs, ScriptDialogTest,
                         testing::Combine(testing::ValuesIn(kKinds),
                                          testing::Values(Moment::AtLoad, Moment::OnAClick,
                                                          Moment::InTheShellsScript)),
                         [](const testing::TestParamInfo<std::tuple<DialogKind, Moment>>& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    kMomentNames[static_cast<int>(std::get<1>(info.param))];
                         });

// The question before leaving lets the shell's next page in.
TEST_F(MVWebViewWebKitFixture, QuestionBeforeLeavingLetsTheNextPageIn) {
    const std::string head =
        std::string(
            "<title>cart</title><script>addEventListener('beforeunload', function (e) {"
            " e.preventDefault(); e.returnValue = 'Leave your cart?'; });</script>") +
        kDialogPageSendsOnload;
    webView->loadHTMLString(testpage::pageWithLibrary("<p>cart</p>", head), URL::parse(kBase));
    ASSERT_TRUE(settle([&] { return webView->isUsingLibrary() && !webView->isLoading(); }));
    // A user's touch makes the page's question count.
    js("document.body.click()");
    webView->loadHTMLString(testpage::pageWithLibrary("<p>next</p>", "<title>next</title>"),
                            URL::parse("http://shop.invalid/next"));
    ASSERT_TRUE(settle([&] { return js("document.title") == "next"; }));
    EXPECT_TRUE(logged("let the page go without its question before leaving"));
    EXPECT_FALSE(logged("gave up waiting"));
}

}  // namespace
