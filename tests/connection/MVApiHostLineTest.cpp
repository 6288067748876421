// Every POST head names the port in its Host line when it is not the scheme's default, as
// HTTP asks (a redirected head did already); the request line keeps the configured
// URL's path without its query.
#include <gtest/gtest.h>

#include <string>

#include "libmerovane/connection/MVApiConnection.h"
#include "libmerovane/connection/MVApiRedirectedHead.h"
#include "platform/foundation/URL.h"
#include "tests/support/ApiConnectionTest.h"

using namespace peer;

namespace {

struct HostLineRow {
    const char* name;
    const char* url;
    const char* startLine;
    const char* host;
};

const HostLineRow kHostLineRows[] = {
    {"HttpWithoutPort", "http://api.example/v1", "POST /v1 HTTP/1.1", "api.example"},
    {"HttpOnItsDefaultPort", "http://api.example:80/", "POST / HTTP/1.1", "api.example"},
    {"HttpsWithoutPort", "https://api.example", "POST / HTTP/1.1", "api.example"},
    {"HttpsOnItsDefaultPort", "https://api.example:443/v1", "POST /v1 HTTP/1.1", "api.example"},
    {"HttpOnAnotherPort", "http://api.example:8080/v1/x?q=1", "POST /v1/x HTTP/1.1",
     "api.example:8080"},
    {"HttpsOnAnotherPort", "https://api.example:8443/", "POST / HTTP/1.1", "api.example:8443"},
    // Each scheme's default is no default for the other.
    {"HttpOnTheTLSPort", "http://api.example:443/", "POST / HTTP/1.1", "api.example:443"},
    {"HttpsOnThePlainPort", "https://api.example:80/", "POST / HTTP/1.1", "api.example:80"},
    {"IPv6LiteralOnAnotherPort", "http://[::1]:8080/v1", "POST /v1 HTTP/1.1", "[::1]:8080"},
    {"IPv6LiteralOnItsDefaultPort", "https://[2001:db8::1]/", "POST / HTTP/1.1", "[2001:db8::1]"},
};

class HostLineTest : public testing::TestWithParam<HostLineRow> {};

TEST_P(HostLineTest, TheHostLineCarriesAPortOtherThanTheSchemes) {
    const HostLineRow& row = GetParam();
    const auto url = platform::URL::parse(row.url);
    ASSERT_TRUE(url) << row.url;
    platform::URLRequest request(*url);
    request.setHTTPMethod("POST");
    request.setValue("chunked", "Transfer-Encoding");
    const std::string head = dataForApiConnection(request);
    EXPECT_EQ(head, std::string(row.startLine) + "\r\nHost: " + row.host +
                        "\r\nTransfer-Encoding: chunked\r\n\r\n");
}

INSTANTIATE_TEST_SUITE_P(Table, HostLineTest, testing::ValuesIn(kHostLineRows),
                         [](const testing::TestParamInfo<HostLineRow>& info) {
                             return std::string(info.param.name);
                         });

class MVApiHostLineTest : public ApiConnectionTest {};

TEST_F(MVApiHostLineTest, TheConnectionsHeadNamesTheServersPort) {
    ApiPeer peer;
    peer.setDefaultScript({.head = std::nullopt, .afterHead = {}});
    startConnection(peerUrl(peer) + "/v1?q=1");
    ASSERT_TRUE(
        waitFor([&] { return peer.connectionCount() > 0 && peer.connection(0).requestHead; }));
    const HttpHead head = *peer.connection(0).requestHead;
    EXPECT_EQ(head.startLine, "POST /v1 HTTP/1.1");
    EXPECT_EQ(head.field("Host"), "127.0.0.1:" + std::to_string(peer.port()));
    EXPECT_EQ(head.fieldCount("Host"), 1u);
}

}  // namespace
