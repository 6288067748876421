// The response-head parser, the completeness test, the terms of a 200 answer, and the
// head bytes of requests.
#include <gtest/gtest.h>

#include "libmerovane/bridge/URLRequestExtensions.h"
#include "libmerovane/bridge/URLResponseExtensions.h"
#include "libmerovane/connection/MVApiResponseHead.h"
#include "platform/foundation/URLRequest.h"
#include "tests/support/PlatformTest.h"

namespace {

const platform::URL kApiUrl = *platform::URL::parse("https://api.example/");

class ResponseHeadTest : public PlatformTest {};

}  // namespace

TEST_F(ResponseHeadTest, ResponseWithStringReadsStatusVersionAndFields) {
    struct Case {
        const char* name;
        const char* text;
        int status;
        const char* version;
        platform::HTTPHeaderFields fields;
    };
    const Case cases[] = {
        {"a plain head",
         "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n",
         200,
         "HTTP/1.1",
         {{"content-type", "text/html"}}},
        {"a reason of several words", "HTTP/1.1 404 Not Found\r\n\r\n", 404, "HTTP/1.1", {}},
        {"an empty reason after the blank", "HTTP/1.0 200 \r\n\r\n", 200, "HTTP/1.0", {}},
        {"names trimmed and lowered, values trimmed",
         "HTTP/1.1 200 OK\r\n  X-Merovane-Api :  Velkram \t\r\n\r\n",
         200,
         "HTTP/1.1",
         {{"x-merovane-api", "Velkram"}}},
        {"a later line replaces an earlier one",
         "HTTP/1.1 200 OK\r\nA: 1\r\nB: 2\r\na: 3\r\n\r\n",
         200,
         "HTTP/1.1",
         {{"a", "3"}, {"b", "2"}}},
        {"lines without a colon are skipped",
         "HTTP/1.1 200 OK\r\njunk\r\nA: 1\r\n\r\n",
         200,
         "HTTP/1.1",
         {{"a", "1"}}},
        {"a value keeps its colons",
         "HTTP/1.1 302 Found\r\nLocation: http://h:1/x\r\n\r\n",
         302,
         "HTTP/1.1",
         {{"location", "http://h:1/x"}}},
        {"a status that is no number reads 0", "HTTP/1.1 abc OK\r\n\r\n", 0, "HTTP/1.1", {}},
        {"digits before other text", "HTTP/1.1 200x OK\r\n\r\n", 200, "HTTP/1.1", {}},
        {"two blanks make an empty status word", "HTTP/1.1  200 OK\r\n\r\n", 0, "HTTP/1.1", {}},
        {"without the empty line the last field is not read",
         "HTTP/1.1 200 OK\r\nA: 1",
         200,
         "HTTP/1.1",
         {}},
        {"a status past the integer range",
         "HTTP/1.1 99999999999 OK\r\n\r\n",
         2147483647,
         "HTTP/1.1",
         {}},
    };
    EXPECT_FALSE(responseWithString("", kApiUrl));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto response = responseWithString(c.text, kApiUrl);
        ASSERT_TRUE(response);
        EXPECT_EQ(response->statusCode(), c.status);
        EXPECT_EQ(response->httpVersion(), c.version);
        EXPECT_EQ(response->allHeaderFields(), c.fields);
        EXPECT_EQ(response->url(), kApiUrl);
    }
}

TEST_F(ResponseHeadTest, AHeadIsCompleteOnlyAtItsEmptyLine) {
    const std::string head = "HTTP/1.1 200 OK\r\nA: 1\r\n\r\n";
    std::string buffer;
    for (size_t i = 0; i + 1 < head.size(); ++i) {
        buffer.push_back(head[i]);
        ASSERT_EQ(checkResponseHead(buffer, kApiUrl).status, MVApiResponseHeadCheck::Incomplete)
            << i;
    }
    buffer.push_back(head.back());
    const auto check = checkResponseHead(buffer, kApiUrl);
    EXPECT_EQ(check.status, MVApiResponseHeadCheck::Parsed);
    EXPECT_EQ(check.text, head);
    EXPECT_TRUE(buffer.empty());
    EXPECT_EQ(check.response->valueForHTTPHeaderField("a"), "1");
}

TEST_F(ResponseHeadTest, HeadsThatCanNeverBeReadAreUnparsable) {
    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        {"no reason phrase", "HTTP/1.1 200\r\n\r\n"},
        {"not UTF-8", "HTTP/1.1 200 OK\r\nA: \xff\xfe\r\n\r\n"},
        {"no end in sight",
         "HTTP/1.1 200 OK\r\nA: " + std::string(kMaximumResponseHeadLength, 'a')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string buffer = c.bytes;
        EXPECT_EQ(checkResponseHead(buffer, kApiUrl).status, MVApiResponseHeadCheck::Unparsable);
        EXPECT_TRUE(buffer.empty());
    }
    std::string justBelow(kMaximumResponseHeadLength, 'a');
    EXPECT_EQ(checkResponseHead(justBelow, kApiUrl).status, MVApiResponseHeadCheck::Incomplete);
}

TEST_F(ResponseHeadTest, TheTermsOfAnAcceptedAnswer) {
    struct Case {
        const char* name;
        platform::HTTPHeaderFields fields;
        MVApiResponseTerms expected;
        bool msgpackDisabled = false;
        bool gzipDisabled = false;
    };
    const Case cases[] = {
        {"nothing said: legacy, unchunked JSON", {}, {}},
        {"the handshake in any case",
         {{"x-merovane-api", "VELKRAM"}, {"transfer-encoding", "chunked"}},
         {.supportsPersistentConnection = true,
          .chunkState = MVApiChunkStateHeader,
          .clientSerial = {}}},
        {"another handshake value", {{"x-merovane-api", "Velkram2"}}, {}},
        {"chunked only when exactly so", {{"transfer-encoding", "Chunked"}}, {}},
        {"gzip downstream",
         {{"content-encoding", "gzip"}},
         {.isCompressed = true, .clientSerial = {}}},
        {"what the server accepts",
         {{"accept", " application/json ,application/msgpack "},
          {"accept-encoding", "deflate, gzip"}},
         {.serverWillAcceptMsgPack = true, .serverWillAcceptGZip = true, .clientSerial = {}}},
        {"the switches win",
         {{"accept", "application/msgpack"}, {"accept-encoding", "gzip"}},
         {},
         true,
         true},
        {"a look-alike item", {{"accept", "application/msgpack2"}}, {}},
        {"MessagePack downstream",
         {{"content-type", "application/msgpack; v=1"}},
         {.contentType = MVApiContentTypeMessagePack, .clientSerial = {}}},
        {"text/html reads as JSON", {{"content-type", "text/html"}}, {}},
        {"the client serial", {{"x-merovane-api-cserial", "12"}}, {.clientSerial = 12}},
        {"a client serial that is no number",
         {{"x-merovane-api-cserial", "x"}},
         {.clientSerial = 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const platform::HTTPURLResponse response(kApiUrl, 200, "HTTP/1.1", c.fields);
        const auto terms = termsOfApiResponse(response, c.msgpackDisabled, c.gzipDisabled);
        EXPECT_EQ(terms.supportsPersistentConnection, c.expected.supportsPersistentConnection);
        EXPECT_EQ(terms.chunkState, c.expected.chunkState);
        EXPECT_EQ(terms.isCompressed, c.expected.isCompressed);
        EXPECT_EQ(terms.serverWillAcceptMsgPack, c.expected.serverWillAcceptMsgPack);
        EXPECT_EQ(terms.serverWillAcceptGZip, c.expected.serverWillAcceptGZip);
        EXPECT_EQ(terms.contentType, c.expected.contentType);
        EXPECT_EQ(terms.clientSerial, c.expected.clientSerial);
    }
}

TEST_F(ResponseHeadTest, RequestHeadBytes) {
    struct Case {
        const char* name;
        const char* method;
        const char* url;
        platform::HTTPHeaderFields fields;
        const char* head;
    };
    const Case cases[] = {
        {"the path as written, without query or port",
         "POST",
         "https://api.example:8443/v2/a%2Fb?x=1#f",
         {},
         "POST /v2/a%2Fb HTTP/1.1\r\nHost: api.example\r\n\r\n"},
        {"CONNECT to an IPv6 literal",
         "CONNECT",
         "http://[::1]:443",
         {},
         "CONNECT [::1]:443 HTTP/1.1\r\nHost: [::1]\r\n\r\n"},
        {"line breaks in values are dropped",
         "POST",
         "https://api.example/",
         {{"X-Merovane-Api-CID", "c1\r\nX-Evil: 1"}},
         "POST / HTTP/1.1\r\nHost: api.example\r\nX-Merovane-Api-CID: c1X-Evil: 1\r\n\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        platform::URLRequest request(*platform::URL::parse(c.url));
        request.setHTTPMethod(c.method);
        request.setAllHTTPHeaderFields(c.fields);
        EXPECT_EQ(dataForStreamConnection(request), c.head);
    }
}
