// The head a redirected connection sends is the one a browser would send to the new URL:
// its host (with a port other than the scheme's), its path and query without the
// fragment, and the cookies for that URL only. A relative Location is resolved against
// the URL that answered; 308 is followed as 307.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "libmerovane/connection/MVApiConnection.h"
#include "platform/foundation/HTTPCookie.h"
#include "platform/foundation/HTTPCookieStorage.h"
#include "platform/foundation/URL.h"
#include "tests/support/ApiConnectionTest.h"

using namespace peer;

namespace {

struct RedirectHeadRow {
    const char* name;
    bool tls;
    int status;
    const char* location;  // "{B}" stands for the target's port
    bool sameServer;       // the Location names the server that answered
    const char* startLine;
    const char* host;
};

const RedirectHeadRow kRedirectHeadRows[] = {
    // Across hosts, each status, with path, query and fragment.
    {"MovedPermanently", false, 301, "http://localhost:{B}/v2/a?x=1#top", false,
     "POST /v2/a?x=1 HTTP/1.1", "localhost:{B}"},
    {"Found", false, 302, "http://localhost:{B}/", false, "POST / HTTP/1.1", "localhost:{B}"},
    {"SeeOther", false, 303, "http://localhost:{B}/v2/?a=b&c=d", false,
     "POST /v2/?a=b&c=d HTTP/1.1", "localhost:{B}"},
    {"TemporaryRedirect", false, 307, "http://localhost:{B}", false, "POST / HTTP/1.1",
     "localhost:{B}"},
    {"PermanentRedirect", false, 308, "http://localhost:{B}/v2#frag", false, "POST /v2 HTTP/1.1",
     "localhost:{B}"},
    {"FoundOverTLS", true, 302, "https://localhost:{B}/v2/?k=v#f", false, "POST /v2/?k=v HTTP/1.1",
     "localhost:{B}"},
    {"PermanentRedirectOverTLS", true, 308, "https://localhost:{B}/v3", false, "POST /v3 HTTP/1.1",
     "localhost:{B}"},
    // The default port is no part of the Host line.
    {"ToTheDefaultPortOverTLS", true, 307, "https://localhost/v2", false, "POST /v2 HTTP/1.1",
     "localhost"},
    // Relative: resolved against the URL that answered.
    {"RelativePath", false, 302, "/v2/?q=1", true, "POST /v2/?q=1 HTTP/1.1", "api.example"},
    {"RelativePathOverTLS", true, 302, "/v2/", true, "POST /v2/ HTTP/1.1", "api.example"},
    {"RelativeToTheDocument", false, 307, "next?q=2", true, "POST /base/next?q=2 HTTP/1.1",
     "api.example"},
    {"WithoutASchemeOverTLS", true, 301, "//localhost:{B}/v4", false, "POST /v4 HTTP/1.1",
     "localhost:{B}"},
};

std::string withNamedPort(std::string text, int port) {
    for (size_t at; (at = text.find("{B}")) != std::string::npos;)
        text.replace(at, 3, std::to_string(port));
    return text;
}

void storeCookieOf(const std::string& setCookie, const std::string& url) {
    const auto parsed = *platform::URL::parse(url);
    auto cookie = platform::HTTPCookie::parseSetCookie(setCookie, parsed);
    ASSERT_TRUE(cookie) << setCookie;
    platform::HTTPCookieStorage::shared().setCookies({*cookie}, parsed, std::nullopt);
}

class RedirectHeadTest : public ApiConnectionTest,
                         public testing::WithParamInterface<RedirectHeadRow> {};

TEST_P(RedirectHeadTest, TheHeadIsTheNewURLs) {
    const RedirectHeadRow& row = GetParam();
    if (row.tls) trustTestRoot();
    const PeerChain chain = PeerChain::WithRoot;
    ApiPeer first({.tls = row.tls, .chain = chain});
    ApiPeer second({.tls = row.tls, .chain = chain});
    const int secondPort = row.sameServer ? first.port() : second.port();
    const std::string scheme = row.tls ? "https" : "http";
    const int defaultPort = row.tls ? 443 : 80;
    route("api.example", defaultPort, first.port());
    // The target answers on a port of its own name, or on the scheme's default.
    const bool toDefault =
        std::string(row.location).find("{B}") == std::string::npos && !row.sameServer;
    const int namedPort = toDefault ? defaultPort : 40000 + secondPort % 20000;
    if (!row.sameServer) route("localhost", namedPort, second.port());

    const std::string location = withNamedPort(row.location, namedPort);
    const std::string newCookies = row.tls ? "; Secure" : "";
    // Cookies of both hosts, and of another path of each.
    storeCookieOf("a=A-COOKIE; Path=/", scheme + "://api.example/");
    storeCookieOf("b=B-COOKIE; Path=/" + newCookies, scheme + "://localhost/");
    storeCookieOf("c=B-ELSEWHERE; Path=/elsewhere", scheme + "://localhost/");
    first.queueScript({.head = ResponseHead{row.status,
                                            "Moved",
                                            {{"Location", location},
                                             {"Set-Cookie", "sid=A-SECRET; Path=/; HttpOnly"}},
                                            std::nullopt},
                       .afterHead = {}});
    first.setDefaultScript({.head = ResponseHead::ok(), .afterHead = {}});
    second.setDefaultScript({.head = ResponseHead::ok(), .afterHead = {}});

    auto& connection = startConnection(scheme + "://api.example/base/doc", 1);
    const ApiPeer& target = row.sameServer ? first : second;
    const size_t index = row.sameServer ? 1 : 0;
    ASSERT_TRUE(waitFor(
        [&] { return target.connectionCount() > index && target.connection(index).requestHead; }));
    const HttpHead head = *target.connection(index).requestHead;
    EXPECT_EQ(head.startLine, withNamedPort(row.startLine, namedPort));
    EXPECT_EQ(head.field("Host"), withNamedPort(row.host, namedPort));
    EXPECT_EQ(head.fieldCount("Host"), 1u);
    // The cookies for the new URL only.
    const std::string expectedCookies = row.sameServer ? "a=A-COOKIE; sid=A-SECRET" : "b=B-COOKIE";
    EXPECT_EQ(head.field("Cookie").value_or(""), expectedCookies);
    EXPECT_EQ(head.raw.find('#'), std::string::npos);
    ASSERT_TRUE(waitFor([&] { return connection.state() == MVApiConnectionStateStreaming; }));
    // The redirect's cookie belongs to the host that set it.
    EXPECT_EQ(platform::HTTPCookieStorage::shared().cookieHeaderForURL(
                  *platform::URL::parse(scheme + "://localhost/")),
              "b=B-COOKIE");
    EXPECT_NE(platform::HTTPCookieStorage::shared()
                  .cookieHeaderForURL(*platform::URL::parse(scheme + "://api.example/"))
                  .find("sid=A-SECRET"),
              std::string::npos);
    EXPECT_FALSE(logged("MVApiConnection HTTP Error"));
    EXPECT_FALSE(logged("refused HTTP Redirect"));
}

INSTANTIATE_TEST_SUITE_P(Table, RedirectHeadTest, testing::ValuesIn(kRedirectHeadRows),
                         [](const testing::TestParamInfo<RedirectHeadRow>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
