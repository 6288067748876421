// The documents the web view fetches itself, through the web cache as in the shell, reach
// the server with the head WebKitGTK alone sends for the same flow: the web view's own
// User-Agent and Accept-Language (those the engine's own requests of the page carry), the
// document Accept,
// the Referer by the page's policy (strict-origin-when-cross-origin unless it says
// otherwise), never with a fragment; a form's Origin and Content-Type as WebKit built them.
// The page shown after each goes on commanding the shell.
#include <gtest/gtest.h>

#include <string>

#include "platform/foundation/URLLoadingTestTrust.h"
#include "tests/bridge/webkit/WebCacheServedWebViewFixture.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/TestPageLibrary.h"

namespace {

using Response = HttpTestServer::Response;

constexpr const char* kHeadSendsOnload =
    "<script>addEventListener('load', function () {"
    " mvSendCommands({ver: '2.0', cmds: [{c: 'testOnload'}]}); });</script>";

// What WebKitGTK alone sends as Accept for a document.
constexpr const char* kWebKitDocumentAccept =
    "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";

// In addresses and expected values, "A" stands for the shop's origin, "B" for another,
// "S" for an https one.
struct HeadRow {
    const char* name;
    const char* start;   // the page first opened (by the host, as a typed address)
    const char* policy;  // the start page's Referrer-Policy header, none when empty
    const char* head;    // more of the start page's head
    const char* go;      // the page's script that leaves it; "OPEN" the host's openUrl of `to`
    const char* to;      // the document the server then receives
    const char* method;
    const char* referer;      // as WebKitGTK alone sent it; "-" none
    const char* origin;       // "-" none
    const char* contentType;  // "-" none
};

// Measured with WebKitGTK loading the same pages by itself.
const HeadRow kHeadRows[] = {
    // The host opens an address: a typed address has no Referer.
    {"HostOpensAnAddress", "A/start", "", "", "OPEN", "A/dest", "GET", "-", "-", "-"},
    // A link of the same origin: the whole address, without the page's fragment.
    {"LinkSameOrigin", "A/start?x=1#top", "", "", "link('/dest?q=1#frag')", "A/dest", "GET",
     "A/start?x=1", "-", "-"},
    // A link to another origin: the origin only.
    {"LinkOtherOrigin", "A/start", "", "", "link('B/dest?q=1')", "B/dest", "GET", "A/", "-", "-"},
    {"GetForm", "A/start", "", "", "form('get', '/dest')", "A/dest", "GET", "A/start", "-", "-"},
    {"PostForm", "A/start", "", "", "form('post', '/dest')", "A/dest", "POST", "A/start", "A",
     "application/x-www-form-urlencoded"},
    {"PostFormOtherOrigin", "A/start", "", "", "form('post', 'B/dest')", "B/dest", "POST", "A/",
     "A", "application/x-www-form-urlencoded"},
    // A form answered by 303 gets its answer by GET: no Origin; by 307 to another origin
    // it is sent again there with the Origin "null".
    {"PostAnsweredBy303", "A/start", "", "", "form('post', '/p3')", "A/dest", "GET", "A/start", "-",
     "-"},
    {"PostRedirectedBy307ToOtherOrigin", "A/start", "", "", "form('post', '/p7')", "B/dest", "POST",
     "A/", "null", "application/x-www-form-urlencoded"},
    // The Origin turns "null" at a redirect between origins, not for being elsewhere.
    {"PostRedirectedBy307WithinTheOtherOrigin", "A/start", "", "", "form('post', 'B/p7in')",
     "B/dest", "POST", "A/", "A", "application/x-www-form-urlencoded"},
    {"PostRedirectedBy307BackToTheShop", "A/start", "", "", "form('post', 'B/p7back')", "A/dest",
     "POST", "A/", "null", "application/x-www-form-urlencoded"},
    // A redirect keeps the Referer of the link, reduced to the origin for another origin.
    {"RedirectSameOrigin", "A/start", "", "", "link('/r')", "A/dest", "GET", "A/start", "-", "-"},
    {"RedirectToOtherOrigin", "A/start", "", "", "link('/xr')", "B/dest", "GET", "A/", "-", "-"},
    // The page's reload names the page itself, as a link to its own address does.
    {"ReloadOfATypedAddress", "A/dest", "", "", "location.reload()", "A/dest", "GET", "A/dest", "-",
     "-"},
    {"ReloadAfterALink", "A/start", "", "", "RELOAD", "A/dest", "GET", "A/dest", "-", "-"},
    // A link to the page's own address: the page itself.
    {"LinkToItsOwnAddress", "A/dest", "", "", "link(location.href)", "A/dest", "GET", "A/dest", "-",
     "-"},
    // The page's policy, by its header and by its meta element.
    // From https to http: none.
    {"SecureToPlain", "S/start", "", "", "link('A/dest')", "A/dest", "GET", "-", "-", "-"},
    {"PolicyHeaderNoReferrer", "A/start", "no-referrer", "", "link('B/dest')", "B/dest", "GET", "-",
     "-", "-"},
    {"PolicyMetaUnsafeUrl", "A/start", "", "<meta name=referrer content=unsafe-url>",
     "link('B/dest?z')", "B/dest", "GET", "A/start", "-", "-"},
    // A step back to the typed address, fetched again: no Referer.
    {"HistoryStepBack", "A/start", "", "", "STEP", "A/start", "GET", "-", "-", "-"},
};

void PrintTo(const HeadRow& row, std::ostream* out) {
    *out << row.name;
}

class DocumentHeadTest : public WebCacheServedWebViewFixture,
                         public testing::WithParamInterface<HeadRow> {
  protected:
    std::string expand(const std::string& text) {
        if (text.starts_with("A")) return server.baseURL() + text.substr(1);
        if (text.starts_with("B")) return other.baseURL() + text.substr(1);
        if (text.starts_with("S")) return secure.baseURL() + text.substr(1);
        return text;
    }
    // What WebKit itself sends with the page's own requests.
    HttpTestServer::Request engineRequest() {
        const size_t before = server.requestCount("/probe");
        js("fetch('" + server.url("/probe") + "')");
        EXPECT_TRUE(settleOnline([&] { return server.requestCount("/probe") > before; }));
        return server.lastRequest("/probe").value_or(HttpTestServer::Request{});
    }
    bool shows(const std::string& path) {
        return settleOnline([&] {
            return webView->isUsingLibrary() && !webView->isLoading() &&
                   js("location.pathname") == path && js("document.readyState") == "complete";
        });
    }
    bool laterCommandPerformed() {
        const size_t trips = pageRoundTrips().size();
        js("mvSendCommands({ver: '2.0', cmds: [{c: 'testAnswer', p: {event: 'after'}}]})");
        return settleOnline([&] {
            return pageRoundTrips().size() == trips + 1 &&
                   pageRoundTrips().back().webView == webView.get();
        });
    }

    HttpTestServer server;
    HttpTestServer other;
    HttpTestServer secure{HttpTestServer::Options{true, peer::PeerChain::WithoutRoot}};
};

TEST_P(DocumentHeadTest, CarriesWhatWebKitAloneSends) {
    const HeadRow& row = GetParam();
    // Links and forms the page follows; "A" and "B" as in the table.
    const std::string helpers =
        "<script>function at(u) { return u.replace(/^A/, '" + server.baseURL() +
        "').replace(/^B/, '" + other.baseURL() +
        "'); }"
        " function link(u) { var a = document.createElement('a'); a.href = at(u);"
        " document.body.appendChild(a); a.click(); }"
        " function form(m, u) { var f = document.createElement('form'); f.method = m;"
        " f.action = at(u); var i = document.createElement('input'); i.name = 'a';"
        " i.value = '1'; f.appendChild(i); document.body.appendChild(f); f.submit(); }</script>";
    Response start = Response::text(
        200, testpage::pageWithLibrary("<p>start</p>", kHeadSendsOnload + helpers + row.head),
        "text/html");
    if (*row.policy) start.headers.set("Referrer-Policy", row.policy);
    const Response dest = Response::text(
        200, testpage::pageWithLibrary("<p>dest</p>", kHeadSendsOnload + helpers), "text/html");
    server.respond("/start", start);
    secure.respond("/start", start);
    ASSERT_TRUE(platform::URLLoadingTestTrust::addAnchorForTesting(
        peer::TestCertificates::shared().rootDER()));
    server.respond("/dest", dest);
    other.respond("/dest", dest);
    server.respond("/r", Response::redirect(302, "/dest"));
    server.respond("/xr", Response::redirect(302, other.url("/dest")));
    server.respond("/p3", Response::redirect(303, "/dest"));
    server.respond("/p7", Response::redirect(307, other.url("/dest")));
    other.respond("/p7in", Response::redirect(307, "/dest"));
    other.respond("/p7back", Response::redirect(307, server.url("/dest")));
    server.respond("/probe", Response::text(200, "ok"));

    webView->openUrl(expand(row.start));
    const std::string startPath =
        std::string(row.start).substr(0, std::string(row.start).find_first_of("?#")).substr(1);
    ASSERT_TRUE(shows(startPath));

    const std::string to = expand(row.to);
    HttpTestServer& target = std::string(row.to).starts_with("B") ? other : server;
    const std::string path = to.substr(target.baseURL().size());
    const size_t before = target.requestCount(path);
    const std::string go = row.go;
    if (go == "OPEN") {
        webView->openUrl(to);
    } else if (go == "RELOAD") {
        js("link('/dest')");
        ASSERT_TRUE(settleOnline([&] { return target.requestCount(path) > before; }));
        ASSERT_TRUE(shows("/dest"));
        js("location.reload()");
        ASSERT_TRUE(settleOnline([&] { return target.requestCount(path) > before + 1; }));
    } else if (go == "STEP") {
        js("link('/dest')");
        ASSERT_TRUE(shows("/dest"));
        js("history.back()");
    } else {
        js(go);
    }
    ASSERT_TRUE(settleOnline([&] { return target.requestCount(path) > before; }));
    ASSERT_TRUE(shows(path));
    const auto received = target.lastRequest(path);
    ASSERT_TRUE(received);
    const auto own = engineRequest();
    const std::string agent = own.header("User-Agent").value_or("<none>");
    const std::string language = own.header("Accept-Language").value_or("<none>");
    EXPECT_NE(agent, "<none>");
    EXPECT_NE(language, "<none>");

    auto field = [&](const char* name) { return received->header(name).value_or("-"); };
    EXPECT_EQ(received->method, row.method);
    EXPECT_EQ(field("User-Agent"), agent);
    EXPECT_EQ(field("Accept"), kWebKitDocumentAccept);
    EXPECT_EQ(field("Accept-Language"), language);
    EXPECT_EQ(field("Referer"), expand(row.referer));
    EXPECT_EQ(field("Origin"), expand(row.origin));
    EXPECT_EQ(field("Content-Type"), row.contentType);
    if (received->method == "POST") {
        EXPECT_EQ(received->body, "a=1");
    }
    EXPECT_TRUE(laterCommandPerformed());
}

INSTANTIATE_TEST_SUITE_P(Flows, DocumentHeadTest, testing::ValuesIn(kHeadRows),
                         [](const testing::TestParamInfo<HeadRow>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
