// The sample server's log server: the peer's reading of a request body of a
// Content-Length, and what the log server answers, counts and stores.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "platform/foundation/JsonValue.h"
#include "tests/support/TempDir.h"
#include "tools/peer/ApiRequestParser.h"
#include "tools/sample-api-server/SampleLogServer.h"

using nlohmann::json;

namespace {

TEST(ApiRequestParserBodyTest, ABodyOfAContentLengthIsKeptWholeAndBounded) {
    struct Row {
        std::string request;
        std::optional<std::string> body;  // none: no plain body
        bool ended;
        std::string error;
    };
    const std::string head = "POST /applog/crash?a=1 HTTP/1.1\r\nHost: x\r\n";
    const Row rows[] = {
        {head + "Content-Length: 5\r\n\r\nabcde", "abcde", true, ""},
        {head + "Content-Length: 5\r\n\r\nabc", "abc", false, ""},
        {head + "Content-Length: 0\r\n\r\n", "", true, ""},
        {head + "Content-Length: 2\r\n\r\nabc", "ab", true, "bytes after the body"},
        {head + "Content-Length: " + std::to_string(peer::ApiRequestParser::kMaxPlainBodySize + 1) +
             "\r\n\r\n",
         {},
         false,
         "request body length \"4194305\" refused"},
        {head + "Content-Length: -1\r\n\r\n", {}, false, "request body length \"-1\" refused"},
        {head + "\r\n", {}, false, "request body is not chunked"},
    };
    peer::ApiRequestParser chunkedOnly;
    chunkedOnly.feed(rows[0].request, 0);
    EXPECT_EQ(chunkedOnly.error(), "request body is not chunked");
    EXPECT_FALSE(chunkedOnly.plainBody());
    for (const auto& row : rows) {
        SCOPED_TRACE(row.request);
        // One byte at a time: the body may come split anywhere.
        peer::ApiRequestParser parser(true);
        for (char c : row.request) parser.feed(std::string_view(&c, 1), 0);
        EXPECT_EQ(
            parser.plainBody() ? std::optional<std::string>(*parser.plainBody()) : std::nullopt,
            row.body);
        EXPECT_EQ(parser.bodyEnded(), row.ended);
        EXPECT_EQ(parser.error(), row.error);
    }
}

class SampleLogServerTest : public ::testing::Test {
  protected:
    // A POST carries a Content-Length unless other fields are given.
    std::optional<std::vector<peer::PeerAction>> request(
        size_t connection, const std::string& method, const std::string& target,
        std::optional<peer::HeadFields> fields = std::nullopt) {
        peer::HttpHead head;
        head.method = method;
        head.target = target;
        head.fields = fields             ? *fields
                      : method == "POST" ? peer::HeadFields{{"Content-Length", "6"}}
                                         : peer::HeadFields{};
        return logs_.respond({peer::PeerEvent::Kind::RequestHead, connection, &head});
    }
    std::optional<std::vector<peer::PeerAction>> body(size_t connection, const std::string& bytes) {
        return logs_.respond(
            {peer::PeerEvent::Kind::BodyEnded, connection, nullptr, nullptr, &bytes});
    }
    // One chunk of a chunked body, then (with `ended`) its end.
    std::optional<std::vector<peer::PeerAction>> chunk(size_t connection, const std::string& bytes,
                                                       bool ended = false) {
        peer::ReceivedPacket packet;
        packet.payload = bytes;
        auto actions = logs_.respond({peer::PeerEvent::Kind::Packet, connection, nullptr, &packet});
        if (!ended) return actions;
        return logs_.respond({peer::PeerEvent::Kind::BodyEnded, connection});
    }
    std::string storedBytes(const std::string& name) {
        std::ifstream in(folder_.file(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // Answered nothing yet: the body is still coming, or ignored.
    static bool waits(const std::optional<std::vector<peer::PeerAction>>& actions) {
        return actions && actions->empty();
    }
    static std::string status(const std::optional<std::vector<peer::PeerAction>>& actions) {
        if (!actions || actions->empty()) return "";
        const std::string& bytes = actions->front().bytes;
        return bytes.substr(0, bytes.find('\r'));
    }
    json stored(const std::string& name) {
        std::ifstream in(folder_.file(name));
        std::stringstream text;
        text << in.rdbuf();
        auto parsed = platform::json::parse(text.str());
        return parsed.ok() ? parsed.value : json();
    }

    TempDir folder_;
    std::vector<std::string> lines_;
    SampleLogServer logs_{folder_.file("reports"),
                          [this](const std::string& line) { lines_.push_back(line); }};
};

TEST_F(SampleLogServerTest, ErrorAndCrashReportsAreAnsweredCountedAndStored) {
    // Other requests are the shop's.
    EXPECT_FALSE(request(0, "POST", "/"));
    EXPECT_FALSE(request(1, "GET", "/shop/home.html"));
    EXPECT_EQ(status(request(2, "GET", "/applog/other")), "HTTP/1.1 404 Not Found");

    EXPECT_EQ(status(request(3, "GET",
                             "/applog/error?errorDescription=Bad%20input&data=%7B%22a%22%3A1%7D&"
                             "odd=%zz&")),
              "HTTP/1.1 200 OK");
    EXPECT_EQ(stored("reports/error-1.json"),
              (json{{"errorDescription", "Bad input"}, {"data", "{\"a\":1}"}, {"odd", "%zz"}}));

    // A crash report is answered once its body has come.
    const auto head = request(4, "POST", "/applog/crash?errorClass=%5BSignal%5D%20SIGSEGV");
    ASSERT_TRUE(head);
    EXPECT_TRUE(head->empty());
    EXPECT_EQ(status(body(4, std::string("MVCR\0\1", 6))), "HTTP/1.1 200 OK");
    EXPECT_EQ(stored("reports/crash-1.json"), (json{{"errorClass", "[Signal] SIGSEGV"}}));
    EXPECT_EQ(storedBytes("reports/crash-1.mvcrash"), std::string("MVCR\0\1", 6));
    // The connection is done with: its events are the shop's again.
    EXPECT_FALSE(body(4, ""));

    EXPECT_EQ(lines_, (std::vector<std::string>{
                          "connection 2: GET /applog/other: no such log request",
                          "error report 1 received: Bad input",
                          "crash report 1 received: [Signal] SIGSEGV (6 bytes)",
                      }));

    // Crash reports whose body never comes are let go, the oldest first.
    for (size_t c = 100; c <= 100 + SampleLogServer::kMaxWaiting; ++c)
        request(c, "POST", "/applog/crash?errorClass=x");
    EXPECT_FALSE(body(100, ""));
    EXPECT_EQ(status(body(101, "")), "HTTP/1.1 200 OK");
    EXPECT_EQ(lines_.size(), 5u);
    EXPECT_EQ(lines_.at(3), "connection 100: its crash report's body never came");
    EXPECT_EQ(lines_.at(4), "crash report 2 received: x (0 bytes)");
}

// A chunked body is stored whole; one past the limit, of either kind, is refused at
// once, and whatever its connection still shows is ignored. So are lengths missing or
// malformed.
TEST_F(SampleLogServerTest, CrashReportBodiesAreKeptWithinTheirLimit) {
    const peer::HeadFields chunked = {{"Transfer-Encoding", "chunked"}};
    ASSERT_TRUE(request(1, "POST", "/applog/crash?errorClass=chunked", chunked));
    EXPECT_TRUE(waits(chunk(1, "MVCR")));
    EXPECT_EQ(status(chunk(1, std::string("\0\1", 2), true)), "HTTP/1.1 200 OK");
    EXPECT_EQ(storedBytes("reports/crash-1.mvcrash"), std::string("MVCR\0\1", 6));

    const std::string half(SampleLogServer::kMaxBodySize / 2, 'x');
    ASSERT_TRUE(request(2, "POST", "/applog/crash?errorClass=full", chunked));
    chunk(2, half);
    EXPECT_TRUE(waits(chunk(2, half)));
    EXPECT_EQ(status(chunk(2, "", true)), "HTTP/1.1 200 OK");
    EXPECT_EQ(storedBytes("reports/crash-2.mvcrash").size(), SampleLogServer::kMaxBodySize);

    ASSERT_TRUE(request(3, "POST", "/applog/crash?errorClass=over", chunked));
    chunk(3, half);
    chunk(3, half);
    const auto over = chunk(3, "x");
    EXPECT_EQ(status(over), "HTTP/1.1 413 Payload Too Large");
    EXPECT_EQ(over->back().kind, peer::PeerAction::Kind::Close);
    EXPECT_TRUE(waits(chunk(3, "x", true)));

    struct Row {
        std::string length;
        const char* statusLine;
    };
    const Row rows[] = {
        {std::to_string(SampleLogServer::kMaxBodySize), ""},
        {std::to_string(SampleLogServer::kMaxBodySize + 1), "HTTP/1.1 413 Payload Too Large"},
        {"104857600", "HTTP/1.1 413 Payload Too Large"},
        {"99999999999999999999999", "HTTP/1.1 413 Payload Too Large"},
        {"-1", "HTTP/1.1 400 Bad Request"},
        {"12x", "HTTP/1.1 400 Bad Request"},
        {"", "HTTP/1.1 400 Bad Request"},
    };
    size_t connection = 10;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.length);
        EXPECT_EQ(status(request(++connection, "POST", "/applog/crash",
                                 {{{"Content-Length", row.length}}})),
                  row.statusLine);
    }
    EXPECT_EQ(status(request(++connection, "POST", "/applog/crash", peer::HeadFields{})),
              "HTTP/1.1 411 Length Required");
    EXPECT_EQ(
        status(request(++connection, "POST", "/applog/crash", {{{"Transfer-Encoding", "gzip"}}})),
        "HTTP/1.1 411 Length Required");
    EXPECT_EQ(status(body(12, "")), "");
    EXPECT_EQ(std::count_if(lines_.begin(), lines_.end(),
                            [](const auto& line) { return line.starts_with("crash report"); }),
              2);
}

// Bytes a client sent that are no UTF-8 reach the log escaped, as control characters do.
TEST_F(SampleLogServerTest, LogLinesEscapeWhatIsNoUtf8) {
    request(1, "GET", "/applog/\xff\xc3(\xe2\x82\x61\x1b\xf0\x9f\x98");
    request(2, "GET", "/applog/caf\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80");
    request(3, "POST", "/applog/crash?errorClass=%FF\xfe");
    body(3, "");
    EXPECT_EQ(lines_, (std::vector<std::string>{
                          "connection 1: GET /applog/\\xff\\xc3(\\xe2\\x82a\\u001b\\xf0\\x9f\\x98: "
                          "no such log request",
                          "connection 2: GET /applog/caf\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80: no "
                          "such log request",
                          "crash report 1 received: %FF\\xfe (0 bytes)",
                      }));
}

}  // namespace
