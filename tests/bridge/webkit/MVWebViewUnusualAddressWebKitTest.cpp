// An address that WebKit writes with "[", "]", "|", "^", "{", "}" or a backquote left raw
// (a shop's "/search?filter[color]=red") is still followed: the delegate is asked with it
// escaped, and the server gets that address.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>

#include "platform/web/webkit/WebKitGtkWebEngine.h"
#include "tests/bridge/webkit/FormPageFixture.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/TestPageLibrary.h"

namespace {

using Response = HttpTestServer::Response;

struct AddressRow {
    const char* name;
    const char* page;     // the page's body; #go sends it, or `script` does
    const char* script;   // run in the page instead of a click, when given
    const char* address;  // path and query as the delegate is asked and the server receives
};

void PrintTo(const AddressRow& row, std::ostream* out) {
    *out << row.name;
}

// WebKit writes "[", "]", "|" raw in the path, and all of them in the query; the shell's
// URL loading sends the address it was asked with.
const AddressRow kAddressRows[] = {
    {"Link", "<a id=go href='/s[1]|^{}`?f[c]=r|d^{}`&a[]=1'>go</a>", nullptr,
     "/s%5B1%5D%7C%5E%7B%7D%60?f%5Bc%5D=r%7Cd%5E%7B%7D%60&a%5B%5D=1"},
    {"Location", "<p>here</p>", "location.href = '/s[1]|^{}`?f[c]=r|d^{}`'",
     "/s%5B1%5D%7C%5E%7B%7D%60?f%5Bc%5D=r%7Cd%5E%7B%7D%60"},
    {"GetForm",
     "<form action='/s[1]|^{}`'><input name='f[c]' value='r|d'><button id=go>go</button></form>",
     nullptr, "/s%5B1%5D%7C%5E%7B%7D%60?f%5Bc%5D=r%7Cd"},
    {"PostForm",
     "<form method=post action='/s[1]|^{}`?a[]=1|'><input name=a value=b>"
     "<button id=go>go</button></form>",
     nullptr, "/s%5B1%5D%7C%5E%7B%7D%60?a%5B%5D=1%7C"},
    // Read before as it is; the engine's capture of WebKit's request still takes it.
    {"PostFormPipe",
     "<form method=post action='/p|x'><input name=a value=b><button id=go>go</button></form>",
     nullptr, "/p%7Cx"},
};

class UnusualAddressTest : public FormPageFixture,
                           public testing::WithParamInterface<AddressRow> {};

TEST_P(UnusualAddressTest, IsFollowedAndReachesTheServer) {
    const AddressRow& row = GetParam();
    const std::string head =
        std::string("<meta charset=utf-8><title>start</title>") + kFormPageSendsOnload;
    server.respond("/start", Response::text(200, testpage::pageWithLibrary(row.page, head),
                                            "text/html; charset=utf-8"));
    const std::string address = row.address;
    server.respond(address.substr(0, address.find('?')),
                   Response::text(200,
                                  testpage::pageWithLibrary(
                                      "<p>there</p>",
                                      std::string("<title>arrived</title>") + kFormPageSendsOnload),
                                  "text/html"));
    webView->openUrl(server.url("/start"));
    ASSERT_TRUE(shows("start"));
    const size_t before = server.requestCount();
    js(row.script ? row.script : "document.getElementById('go').click()");
    EXPECT_TRUE(shows("arrived"));
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), before + 1);
    EXPECT_EQ(requests.back().target, address);
    const bool post = std::string(row.page).find("method=post") != std::string::npos;
    EXPECT_EQ(requests.back().method, post ? "POST" : "GET");
    EXPECT_EQ(requests.back().body, post ? "a=b" : "");
    const std::string asked = server.url(address);
    EXPECT_NE(std::find(owner->askedLinks.begin(), owner->askedLinks.end(), asked),
              owner->askedLinks.end())
        << asked;
    EXPECT_TRUE(commandsStillArrive());
}

INSTANTIATE_TEST_SUITE_P(Rows, UnusualAddressTest, testing::ValuesIn(kAddressRows),
                         [](const auto& info) { return std::string(info.param.name); });

struct ReadRow {
    const char* webKit;
    const char* read;
};

// Brackets are escaped past the authority only: an IPv6 host keeps its own.
TEST(ReadWebKitURITest, EscapesWhatTheURLRefusesOutsideTheHost) {
    const ReadRow rows[] = {
        {"https://x/a?b[]=1", "https://x/a?b%5B%5D=1"},
        {"http://[::1]:8080/a[b]?c[]=1#f[x]", "http://[::1]:8080/a%5Bb%5D?c%5B%5D=1#f%5Bx%5D"},
        {"http://[::1]/", "http://[::1]/"},
        {"http://[::1]?q=[1]", "http://[::1]?q=%5B1%5D"},
        {"mvcmd:{\"a\":[1]}", "mvcmd:%7B%22a%22:%5B1%5D%7D"},
        {"https://x/p|q^r`s{t}", "https://x/p%7Cq%5Er%60s%7Bt%7D"},
    };
    for (const auto& row : rows) {
        const auto url = platform::readWebKitURI(row.webKit);
        ASSERT_TRUE(url) << row.webKit;
        EXPECT_EQ(url->absoluteString(), row.read) << row.webKit;
    }
    EXPECT_FALSE(platform::readWebKitURI(nullptr));
}

}  // namespace
