// The rules of a document's response headers apply in the real engine, whether the web view
// fetched the document from the server or the web cache served it.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <tuple>

#include "tests/bridge/webkit/WebCacheServedWebViewFixture.h"
#include "tests/support/HttpTestServer.h"

namespace {

using Response = HttpTestServer::Response;

struct HeaderPolicyRow {
    const char* name;
    const char* policy;  // the Content-Security-Policy field; none when empty
    const char* body;    // ORIGIN and PROVIDER stand for the two servers' addresses
    bool provider;       // what the policy concerns is asked of the provider's server
    const char* path;    // what the policy concerns
    size_t requests;     // how often the page asks for it
    const char* script;  // a check in the page, "true" when it holds; none when empty
};

void PrintTo(const HeaderPolicyRow& row, std::ostream* out) {
    *out << row.name;
}

const HeaderPolicyRow kHeaderPolicyRows[] = {
    {"WithoutAPolicy", "", "<img src=\"/pic.png\">", false, "/pic.png", 1, ""},
    {"ImagesNone", "img-src 'none'", "<img src=\"/pic.png\">", false, "/pic.png", 0, ""},
    {"FramesNone", "frame-src 'none'", "<iframe src=\"/inner\"></iframe>", false, "/inner", 0, ""},
    {"FramesOfItsOwnOrigin", "frame-src 'self'",
     "<iframe src=\"/inner\"></iframe><iframe src=\"PROVIDER/inner\"></iframe>", true, "/inner", 0,
     ""},
    {"EverythingOfItsOwnOrigin", "default-src 'self'", "<img src=\"PROVIDER/pic.png\">", true,
     "/pic.png", 0, ""},
    {"ScriptsWithItsNonce", "script-src 'nonce-n1'",
     "<script nonce=\"n1\">window.good = 1;</script><script>window.bad = 1;</script>", false,
     "/pic.png", 0, "window.good === 1 && window.bad === undefined"},
    {"TwoPoliciesInOneField", "img-src *, img-src 'self'", "<img src=\"PROVIDER/pic.png\">", true,
     "/pic.png", 0, ""},
};

enum class Source { Server, WebCache };

// The web cache serves the web view's pages, as in the shell.
class HeaderPolicyTest : public WebCacheServedWebViewFixture,
                         public testing::WithParamInterface<std::tuple<HeaderPolicyRow, Source>> {
  protected:
    HttpTestServer server;
    HttpTestServer provider;
};

TEST_P(HeaderPolicyTest, AppliesAsTheServerSentIt) {
    const HeaderPolicyRow& row = std::get<0>(GetParam());
    const Source source = std::get<1>(GetParam());
    std::string body = row.body;
    for (size_t at; (at = body.find("PROVIDER")) != std::string::npos;)
        body.replace(at, 8, provider.baseURL());
    Response page =
        Response::text(200,
                       "<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head><body>" + body +
                           "</body></html>",
                       "text/html");
    if (*row.policy) page.headers.set("Content-Security-Policy", row.policy);
    for (HttpTestServer* origin : {&server, &provider}) {
        origin->respond("/pic.png", Response::text(200, "not really a picture", "image/png"));
        origin->respond("/inner", Response::text(200, "<p>inner</p>", "text/html"));
    }
    page.headers.set("Cache-Control", "max-age=600");
    server.respond("/page", page);
    server.respond("/other", Response::text(200, "<p>other</p>", "text/html"));
    const std::string url = server.url("/page");
    if (source == Source::WebCache) {
        webView->openUrl(url);
        ASSERT_TRUE(shown(url));
        webView->openUrl(server.url("/other"));
        ASSERT_TRUE(shown(server.url("/other")));
    }
    const size_t before = (row.provider ? provider : server).requestCount(row.path);
    webView->openUrl(url);
    ASSERT_TRUE(shown(url));
    drain();
    // From the web cache the page is not asked of the server again.
    EXPECT_EQ(server.requestCount("/page"), 1u);
    EXPECT_EQ((row.provider ? provider : server).requestCount(row.path) - before, row.requests);
    if (*row.script) {
        EXPECT_EQ(js(std::string("String(") + row.script + ")"), "true");
    }
}

INSTANTIATE_TEST_SUITE_P(
    AsAHeader, HeaderPolicyTest,
    testing::Combine(testing::ValuesIn(kHeaderPolicyRows),
                     testing::Values(Source::Server, Source::WebCache)),
    [](const testing::TestParamInfo<std::tuple<HeaderPolicyRow, Source>>& info) {
        return std::string(std::get<0>(info.param).name) +
               (std::get<1>(info.param) == Source::WebCache ? "FromTheWebCache" : "");
    });

}  // namespace
