// MVWebView over the real engine with the sample shop's page library: a page whose own
// Content-Security-Policy restricts frames, scripts or everything still has every command
// performed, once and in order (one sent from its head, a burst at its load event, its
// load commands), and its policy still does what it says to the page's own frames,
// images and scripts. The policy comes in a <meta> element or as a response header.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>

#include "tests/bridge/webkit/MVWebViewWebKitFixture.h"
#include "tests/support/HttpTestServer.h"

namespace page_policy {
namespace {

using Response = HttpTestServer::Response;

constexpr const char* kNonce = "r4nd0m";
// Commands at the load event, besides the one from the head and the load commands.
constexpr int kBurst = 43;

// The page's own script (external, so that a policy without 'unsafe-inline' runs it):
// notes the policy's violations, sends one command from the head and a burst at load.
constexpr const char* kPageScript = R"(
window.violations = [];
document.addEventListener('securitypolicyviolation', function (e) {
  violations.push(e.effectiveDirective + ' ' + e.blockedURI);
});
function answer(i) { mvSendCommands({ver: '2.0', cmds: [{c: 'testAnswer', p: {event: 'e' + i}}]}); }
var got = [];
for (var i = 0; i <= 43; i++) MVEvent.on('e' + i, (function (i) { return function () { got.push(i); }; })(i));
answer(0);
addEventListener('load', function () { for (var i = 1; i <= 43; i++) answer(i); });
)";

enum class Where { Meta, Header };

struct PolicyRow {
    const char* name;
    const char* policy;
    // True in the page once the policy has done what it says.
    const char* applied;
};

void PrintTo(const PolicyRow& row, std::ostream* out) {
    *out << row.name;
}

// What the page holds beside its scripts: a frame of its own origin, one of another, an
// image of another, and an inline script.
constexpr const char* kBody =
    "<iframe id=\"own\" src=\"/frame\"></iframe>"
    "<iframe id=\"other\" src=\"http://localhost:PORT/frame\"></iframe>"
    "<img src=\"http://localhost:PORT/image.png\">"
    "<script>window.inline = true;</script>";

// Violation notes of the page: "directive blocked-address".
#define BLOCKED(part) "violations.some(function (v) { return v.indexOf(" part ") >= 0; })"

const PolicyRow kPolicyRows[] = {
    {"FrameSrcSelf", "frame-src 'self'",
     BLOCKED("'frame-src http://localhost:' + location.port") " && !" BLOCKED(
         "'src http://127.0.0.1:' + location.port")},
    {"FrameSrcNone", "frame-src 'none'", BLOCKED("'frame-src http://127.0.0.1:' + location.port")},
    {"ChildSrcNone", "child-src 'none'", BLOCKED("'src http://127.0.0.1:' + location.port")},
    {"ChildSrcSelf", "child-src 'self'",
     BLOCKED("'src http://localhost:' + location.port") " && !" BLOCKED(
         "'src http://127.0.0.1:' + location.port")},
    {"DefaultSrcSelf", "default-src 'self'",
     BLOCKED("'frame-src http://localhost:' + location.port") " && " BLOCKED(
         "'img-src http://localhost:' + location.port")},
    {"DefaultSrcNoneScriptSrcSelf", "default-src 'none'; script-src 'self'",
     BLOCKED("'frame-src http://127.0.0.1:' + location.port") " && " BLOCKED("'src-elem inline'")},
    {"ScriptSrcNonce", "script-src 'nonce-r4nd0m'",
     "window.inline === undefined && " BLOCKED("'src-elem inline'")},
    {"FrameSrcNoneWithNonces", "frame-src 'none'; script-src 'nonce-r4nd0m'",
     "window.inline === undefined && " BLOCKED("'frame-src http://127.0.0.1:' + location.port")},
    // A sandbox in a <meta> element is ignored, as a browser does.
    {"SandboxAllowScripts", "sandbox allow-scripts", "window.origin === 'null'"},
};

class PagePolicyTest : public MVWebViewWebKitFixture,
                       public testing::WithParamInterface<std::tuple<PolicyRow, Where>> {
  protected:
    HttpTestServer server;
};

TEST_P(PagePolicyTest, EveryCommandIsPerformedOnceInOrderAndThePolicyHolds) {
    const PolicyRow& row = std::get<0>(GetParam());
    const Where where = std::get<1>(GetParam());
    const std::string nonce = std::string(" nonce=\"") + kNonce + "\"";
    const std::string meta = where == Where::Meta
                                 ? std::string(
                                       "<meta http-equiv=\"Content-Security-Policy\" "
                                       "content=\"") +
                                       row.policy + "\">"
                                 : "";
    // The other origin: the same server by another name.
    const std::string own = server.url("/");
    const std::string port = own.substr(own.rfind(':') + 1, own.size() - own.rfind(':') - 2);
    std::string body = kBody;
    for (size_t at; (at = body.find("PORT")) != std::string::npos;) body.replace(at, 4, port);
    Response page = Response::text(
        200,
        "<!DOCTYPE html><html><head><meta charset=\"utf-8\">" + meta + "<script" + nonce +
            " id=\"libmerovane\" src=\"/libmerovane.js\"></script><script" + nonce +
            " src=\"/page.js\"></script><script type=\"application/json\" "
            "id=\"mv-load-commands\">{\"ver\": \"2.0\", \"cmds\": [{\"c\": \"testOnload\"}]}"
            "</script></head><body>" +
            body + "</body></html>",
        "text/html");
    if (where == Where::Header) page.headers.add("Content-Security-Policy", row.policy);
    server.respond("/page", page);
    server.respond("/libmerovane.js", Response::text(200, sampleShopLibrary(), "text/javascript"));
    server.respond("/page.js", Response::text(200, kPageScript, "text/javascript"));
    server.respond("/frame", Response::text(200, "<p>frame</p>", "text/html"));
    webView->openUrl(server.url("/page"));
    ASSERT_TRUE(settle([&] {
        return pageRoundTrips().size() == kBurst + 1 && webView->isUsingLibrary() &&
               !webView->isLoading();
    })) << pageRoundTrips().size()
        << " commands; loading: " << webView->isLoading();
    drain();
    // Once each, in the order sent, from the page, and answered to it.
    for (int i = 0; i <= kBurst; ++i) {
        EXPECT_EQ(pageRoundTrips()[i].event, "e" + std::to_string(i));
        EXPECT_EQ(pageRoundTrips()[i].webView, webView.get());
    }
    nlohmann::json order = nlohmann::json::array();
    for (int i = 0; i <= kBurst; ++i) order.push_back(i);
    EXPECT_EQ(platform::json::parse(js("JSON.stringify(got)")).value, order);
    EXPECT_EQ(webView->lastCommandSerial(), kBurst + 2);
    EXPECT_FALSE(logged("lost commands"));
    // The library adds no frame of its own: the page's come first and alone.
    EXPECT_EQ(js("String(window.frames.length)"), "2");
    // The policy did what it says, and to nothing of the library's.
    const std::string violations = js("JSON.stringify(violations)");
    EXPECT_EQ(violations.find("mvcmd"), std::string::npos) << violations;
    // A header's policy reaches the engine as a <meta> too, where `sandbox` has no effect.
    const bool sandboxInMeta = std::string(row.policy).rfind("sandbox", 0) == 0;
    if (sandboxInMeta) {
        EXPECT_EQ(js(std::string("String(") + row.applied + ")"), "false") << violations;
    } else {
        EXPECT_EQ(js(std::string("String(") + row.applied + ")"), "true") << violations;
    }
}

std::string rowName(const testing::TestParamInfo<std::tuple<PolicyRow, Where>>& info) {
    return std::string(std::get<0>(info.param).name) +
           (std::get<1>(info.param) == Where::Meta ? "InAMeta" : "AsAHeader");
}

INSTANTIATE_TEST_SUITE_P(Policies, PagePolicyTest,
                         testing::Combine(testing::ValuesIn(kPolicyRows),
                                          testing::Values(Where::Meta, Where::Header)),
                         rowName);

// The channel takes page commands only, and the page cannot put another in its place.
TEST_F(PagePolicyTest, TheChannelRefusesWhatIsNoCommandAndStaysThePages) {
    server.respond("/libmerovane.js", Response::text(200, sampleShopLibrary(), "text/javascript"));
    server.respond("/page",
                   Response::text(200,
                                  "<!DOCTYPE html><html><head><script id=\"libmerovane\" "
                                  "src=\"/libmerovane.js\"></script><script "
                                  "type=\"application/json\" id=\"mv-load-commands\">{\"ver\": "
                                  "\"2.0\", \"cmds\": [{\"c\": \"testOnload\"}]}</script></"
                                  "head><body></body></html>",
                                  "text/html"));
    webView->openUrl(server.url("/page"));
    ASSERT_TRUE(settle([&] { return webView->isUsingLibrary() && !webView->isLoading(); }));
    js("window.__mvCommandChannel = function () {}; __mvCommandChannel('javascript:alert(1)');"
       " __mvCommandChannel('mvcmd:no collection');"
       " mvSendCommands({ver: '2.0', cmds: [{c: 'testAnswer', p: {event: 'after'}}]}); 0");
    ASSERT_TRUE(settle([&] { return pageRoundTrips().size() == 1; }));
    drain();
    EXPECT_EQ(loggedCount("is no \"mvcmd:\" address"), 1u);
    EXPECT_TRUE(logged("did receive command scheme without JSON"));
    EXPECT_EQ(pageRoundTrips()[0].event, "after");
    EXPECT_EQ(webView->historySize(), 1u);
    EXPECT_FALSE(logged("lost commands"));
}

// A thousand commands in one task, under the strictest frame policy: all performed, in
// order; the time they take is noted.
TEST_F(PagePolicyTest, AThousandCommandsInOneTaskArePerformedInOrder) {
    constexpr int kThousand = 1000;
    server.respond("/libmerovane.js", Response::text(200, sampleShopLibrary(), "text/javascript"));
    server.respond(
        "/page",
        Response::text(200,
                       "<!DOCTYPE html><html><head><meta http-equiv=\"Content-Security-"
                       "Policy\" content=\"frame-src 'none'\"><script id=\"libmerovane\" "
                       "src=\"/libmerovane.js\"></script><script type=\"application/json\" "
                       "id=\"mv-load-commands\">{\"ver\": \"2.0\", \"cmds\": [{\"c\": "
                       "\"testOnload\"}]}</script></head><body></body></html>",
                       "text/html"));
    webView->openUrl(server.url("/page"));
    ASSERT_TRUE(settle([&] { return webView->isUsingLibrary() && !webView->isLoading(); }));
    const auto start = std::chrono::steady_clock::now();
    js("for (var i = 0; i < 1000; i++) mvSendCommands({ver: '2.0', cmds: [{c: 'testAnswer', p: "
       "{event: 'b' + i}}]}); 0");
    ASSERT_TRUE(settle([&] { return pageRoundTrips().size() == kThousand; }))
        << pageRoundTrips().size();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    RecordProperty("seconds", std::to_string(seconds));
    std::printf("1000 commands in one task: %.2f s\n", seconds);
    for (int i = 0; i < kThousand; ++i)
        ASSERT_EQ(pageRoundTrips()[i].event, "b" + std::to_string(i));
    EXPECT_FALSE(logged("lost commands"));
}

}  // namespace
}  // namespace page_policy
