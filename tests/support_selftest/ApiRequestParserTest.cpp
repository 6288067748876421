#include <gtest/gtest.h>

#include "tools/peer/ApiRequestParser.h"

using nlohmann::json;
using namespace peer;

namespace {
const std::string kHead =
    "POST /api HTTP/1.1\r\nHost: api.example\r\nX-Merovane-Api: Velkram\r\nTransfer-Encoding: "
    "chunked\r\n"
    "Content-Type: application/json; charset=utf-8\r\n\r\n";

struct Sample {
    json value;
    PacketEncoding encoding;
    bool gzip;
};
const std::vector<Sample> kSamples = {
    {{{"cmds", {{{"c", "appStart"}}}}, {"serial", 1}}, PacketEncoding::JSON, false},
    {{{"cmds", {{{"c", "getPage"}, {"p", {{"id", "home"}}}}}}, {"serial", 2}},
     PacketEncoding::MessagePack,
     false},
    {json::object(), PacketEncoding::JSON, true},
    {{{"serial", 3}}, PacketEncoding::MessagePack, true},
};

std::string body() {
    std::string out;
    for (const auto& s : kSamples) out += encodeChunk(encodePacket(s.value, s.encoding, s.gzip));
    return out + std::string(kLastChunk);
}

void expectSamples(const ApiRequestParser& parser) {
    ASSERT_EQ(parser.packets().size(), kSamples.size());
    for (size_t i = 0; i < kSamples.size(); ++i) {
        const auto& decoded = parser.packets()[i].decoded;
        EXPECT_TRUE(decoded.ok()) << decoded.error;
        EXPECT_EQ(decoded.value, kSamples[i].value);
        EXPECT_EQ(decoded.encoding, kSamples[i].encoding);
        EXPECT_EQ(decoded.gzipped, kSamples[i].gzip);
    }
}
}  // namespace

TEST(ApiRequestParserTest, ByteByByteEachPacketIsDecodedWhenItsLastByteArrives) {
    const std::string wire = kHead + body();
    ApiRequestParser parser;
    std::vector<size_t> completedAt;
    for (size_t i = 0; i < wire.size(); ++i) {
        const size_t before = parser.packets().size();
        parser.feed(std::string_view(wire).substr(i, 1), static_cast<double>(i));
        if (parser.packets().size() > before) completedAt.push_back(i);
        if (i + 1 < kHead.size()) {
            EXPECT_FALSE(parser.headComplete());
        }
    }
    EXPECT_TRUE(parser.error().empty()) << parser.error();
    EXPECT_TRUE(parser.bodyEnded());
    EXPECT_EQ(parser.headTime(), static_cast<double>(kHead.size() - 1));
    EXPECT_EQ(parser.head().method, "POST");
    EXPECT_EQ(parser.head().target, "/api");
    EXPECT_EQ(parser.head().field("x-merovane-api"), "Velkram");
    expectSamples(parser);
    // Each packet is stamped with the arrival of its chunk's closing LF.
    size_t end = kHead.size();
    for (size_t i = 0; i < kSamples.size(); ++i) {
        end += encodeChunk(encodePacket(kSamples[i].value, kSamples[i].encoding, kSamples[i].gzip))
                   .size();
        EXPECT_EQ(completedAt[i], end - 1);
        EXPECT_EQ(parser.packets()[i].time, static_cast<double>(end - 1));
    }
}

TEST(ApiRequestParserTest, AnyTwoWaySplitGivesTheSameRecord) {
    const std::string wire = kHead + body();
    for (size_t cut = 0; cut <= wire.size(); ++cut) {
        ApiRequestParser parser;
        parser.feed(std::string_view(wire).substr(0, cut), 0);
        parser.feed(std::string_view(wire).substr(cut), 1);
        ASSERT_TRUE(parser.error().empty()) << "cut at " << cut << ": " << parser.error();
        ASSERT_TRUE(parser.bodyEnded());
        expectSamples(parser);
    }
}

TEST(ApiRequestParserTest, FaultsAreRecordedAndStopTheParse) {
    struct Case {
        std::string wire;
        const char* error;
        size_t packets;
    };
    const Case cases[] = {
        {"POST / HTTP/1.1\r\nContent-Length: 2\r\n\r\n{}", "request body is not chunked", 0},
        {"POST /\r\n\r\n", "request head: malformed request line: POST /", 0},
        {"POST / HTTP/1.1\r\nbroken\r\n\r\n", "request head: malformed header line: broken", 0},
        {kHead + encodeChunk("{}") + "zz\r\n", "request body: chunk size is not hexadecimal: 'zz'",
         1},
        {kHead + encodeChunk("{}") + std::string(kLastChunk) + "2\r\n{}\r\n",
         "bytes after the last chunk", 1},
        {"GET /a HTTP/1.1\r\nContent-Length: 2\r\n\r\n{}", "request body is not chunked", 0},
        {"GET /a HTTP/1.1\r\n\r\n", "bytes after a request without a body", 0},
        // A packet that does not decode is still recorded, with its problem.
        {kHead + encodeChunk("{oops}"), "", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        ApiRequestParser parser;
        parser.feed(c.wire, 0);
        parser.feed(encodeChunk("{}"), 1);  // ignored after a fault
        EXPECT_EQ(parser.error(), c.error);
        if (*c.error) {
            EXPECT_EQ(parser.packets().size(), c.packets);
        }
    }
    ApiRequestParser get;
    get.feed("GET /shop/a.css HTTP/1.1\r\nHost: x\r\n\r\n", 0);
    EXPECT_TRUE(get.headComplete());
    EXPECT_TRUE(get.bodyless());
    EXPECT_EQ(get.error(), "");
    EXPECT_EQ(get.head().target, "/shop/a.css");
    ApiRequestParser parser;
    parser.feed(kHead + encodeChunk("{oops}"), 0);
    ASSERT_EQ(parser.packets().size(), 1u);
    EXPECT_EQ(parser.packets()[0].decoded.error, "JSON payload could not be parsed");
    EXPECT_EQ(parser.packets()[0].payload, "{oops}");
}

TEST(ApiRequestParserTest, ResponseHeadsParseAsTheClientWillReadThem) {
    auto head =
        HttpHeadParser::parse(ResponseHead::ok({{"X-Merovane-Api", "Velkram"}}).bytes(), false);
    ASSERT_TRUE(head);
    EXPECT_EQ(head->status, 200);
    EXPECT_EQ(head->reason, "OK");
    EXPECT_EQ(head->field("transfer-encoding"), "chunked");
    EXPECT_EQ(head->field("X-MEROVANE-API"), "Velkram");
    ResponseHead redirect{302, "Found", {{"Location", "https://other.example/"}}, std::nullopt};
    EXPECT_EQ(redirect.bytes(), "HTTP/1.1 302 Found\r\nLocation: https://other.example/\r\n\r\n");
    ResponseHead broken{200, "OK", {}, std::string("garbage\r\n\r\n")};
    EXPECT_EQ(broken.bytes(), "garbage\r\n\r\n");
    EXPECT_FALSE(HttpHeadParser::parse(broken.bytes(), false));
}

namespace {

// A proxy re-chunks the client's body: the samples back to back (a heartbeat between
// two), cut at every point and at every pair of points a stride apart, give the same
// packets.
TEST(ApiRequestParserTest, PacketsAreReadAcrossAnyChunking) {
    std::string stream;
    for (size_t i = 0; i < kSamples.size(); ++i) {
        stream += encodePacket(kSamples[i].value, kSamples[i].encoding, kSamples[i].gzip);
        if (i == 0) stream += "\r\n";
    }
    const auto parse = [&](const std::vector<size_t>& cuts) {
        std::string wire = kHead;
        size_t from = 0;
        for (size_t cut : cuts) {
            wire += encodeChunk(stream.substr(from, cut - from));
            from = cut;
        }
        wire += encodeChunk(stream.substr(from)) + std::string(kLastChunk);
        ApiRequestParser parser;
        parser.feed(wire, 0);
        EXPECT_TRUE(parser.error().empty()) << parser.error();
        EXPECT_TRUE(parser.bodyEnded());
        return parser;
    };
    expectSamples(parse({}));
    for (size_t a = 1; a < stream.size(); ++a) {
        SCOPED_TRACE(a);
        expectSamples(parse({a}));
        if (a + 7 < stream.size()) expectSamples(parse({a, a + 7}));
    }
}

}  // namespace
