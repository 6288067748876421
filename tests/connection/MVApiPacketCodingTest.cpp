// Payload coding of the API stream: gzip with reused streams, MessagePack, and the
// downstream packet decoder's line between incomplete and broken payloads.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <random>

#include "libmerovane/connection/MVApiGzip.h"
#include "libmerovane/connection/MVApiPacketDecoder.h"
#include "libmerovane/connection/MVApiPacketEncoder.h"
#include "libmerovane/connection/MVMessagePack.h"
#include "tools/peer/Gzip.h"
#include "tools/peer/PacketCodec.h"

using nlohmann::json;
using Result = MVApiPacketDecoder::Result;

namespace {

std::string randomText(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string text(size, '\0');
    for (auto& c : text) c = static_cast<char>('a' + random() % 8);
    return text;
}

TEST(MVApiGzipTest, OneStreamPerDirectionServesPacketAfterPacket) {
    MVApiGzipDeflater deflater;
    MVApiGzipInflater inflater;
    for (size_t size : {0u, 1u, 100u, 70000u, 300000u, 5u}) {
        const std::string text = randomText(size, static_cast<unsigned>(size));
        const std::string packed = deflater.compress(text);
        ASSERT_TRUE(hasGzipSignature(packed));
        // The peer's independent zlib use reads what we write, and we read what it writes.
        EXPECT_EQ(peer::gzipDecompress(packed).value_or("<failed>"), text);
        std::string out;
        ASSERT_EQ(inflater.inflate(peer::gzipCompress(text), out, 1 << 20), MVApiInflateStatus::Ok);
        EXPECT_EQ(out, text);
    }
}

TEST(MVApiGzipTest, TellsAPrefixFromBrokenBytes) {
    const std::string packed = peer::gzipCompress(randomText(5000, 1));
    MVApiGzipInflater inflater;
    std::string out;
    // Every proper prefix can still be completed by more bytes...
    for (size_t cut :
         {size_t{0}, size_t{1}, size_t{2}, size_t{10}, packed.size() / 2, packed.size() - 1})
        EXPECT_EQ(inflater.inflate(packed.substr(0, cut), out, 1 << 20),
                  MVApiInflateStatus::Incomplete)
            << cut;
    // ...but bytes that are no gzip, corrupt data or bytes after the member cannot.
    std::string corrupt = packed;
    corrupt[12] ^= 0x55;
    corrupt[13] ^= 0x55;
    const struct {
        std::string bytes;
        const char* why;
    } broken[] = {
        {"{}", "no gzip signature"},
        {"x", "a single byte that cannot start the signature"},
        {corrupt, "corrupt deflate data"},
        {packed + "junk", "bytes after the member"},
    };
    for (const auto& row : broken)
        EXPECT_EQ(inflater.inflate(row.bytes, out, 1 << 20), MVApiInflateStatus::Malformed)
            << row.why;
    // The stream is still good after all that.
    EXPECT_EQ(inflater.inflate(packed, out, 1 << 20), MVApiInflateStatus::Ok);
}

TEST(MVApiGzipTest, StopsAtTheSizeBound) {
    // A few kilobytes that would inflate to 64 MB.
    const std::string bomb = peer::gzipCompress(std::string(64u << 20, '0'));
    ASSERT_LT(bomb.size(), 100000u);
    MVApiGzipInflater inflater;
    std::string out;
    EXPECT_EQ(inflater.inflate(bomb, out, 1 << 20), MVApiInflateStatus::TooLarge);
    EXPECT_TRUE(out.empty());
    const std::string exact = peer::gzipCompress(std::string(1000, 'x'));
    EXPECT_EQ(inflater.inflate(exact, out, 1000), MVApiInflateStatus::Ok);
    EXPECT_EQ(inflater.inflate(exact, out, 999), MVApiInflateStatus::TooLarge);
}

TEST(MVMessagePackTest, RoundTripsAndAgreesWithTheStandardCodec) {
    const json value = {{"cmds", {{{"c", "getPage"}}, {{"c", "x"}, {"p", {{"n", -5}}}}}},
                        {"serial", 18446744073709551615u},
                        {"ratio", 0.1},  // no 32-bit float holds it: 64 bits in both codecs
                        {"none", nullptr},
                        {"yes", true},
                        {"blob", json::binary({0, 1, 255})},
                        {"text", std::string(70000, 'y')}};
    const std::string bytes = MVMessagePack::encode(value);
    EXPECT_EQ(bytes, peer::toMessagePack(value));
    json back;
    std::string error;
    ASSERT_EQ(MVMessagePack::decode(bytes, back, error), MVMessagePack::Status::Ok) << error;
    EXPECT_EQ(back, value);
}

TEST(MVMessagePackTest, EveryProperPrefixIsIncomplete) {
    const std::string bytes =
        MVMessagePack::encode({{"cmds", {{{"c", "a"}, {"p", {{"k", "v"}, {"n", 1.5}}}}}},
                               {"serial", 70000},
                               {"bin", json::binary({1, 2, 3})}});
    json value;
    std::string error;
    for (size_t cut = 0; cut < bytes.size(); ++cut)
        EXPECT_EQ(MVMessagePack::decode(bytes.substr(0, cut), value, error),
                  MVMessagePack::Status::Incomplete)
            << "cut at " << cut;
}

TEST(MVMessagePackTest, RefusesWhatNoContinuationMends) {
    std::string deep;
    for (size_t i = 0; i <= MVMessagePack::kMaxDepth; ++i) deep += '\x91';  // [[[...
    deep += '\xc0';
    const std::string shallow = std::string(MVMessagePack::kMaxDepth, '\x91') + '\xc0';
    const struct {
        std::string bytes;
        const char* why;
    } rows[] = {
        {"\xc1", "the byte msgpack never uses"},
        {std::string("\x81\x01\xc0", 3), "a map key that is no string"},
        {std::string("\xd4\x01\x02", 3), "an extension type"},
        {std::string("\x80\x80", 2), "bytes after the value"},
        {deep, "nesting deeper than the bound"},
        // An array announcing 2^32-1 elements, filled with more values than allowed.
        {std::string("\xdd\xff\xff\xff\xff", 5) + std::string(MVMessagePack::kMaxValues, '\xc0'),
         "more values than the bound"},
    };
    json value;
    std::string error;
    for (const auto& row : rows) {
        EXPECT_EQ(MVMessagePack::decode(row.bytes, value, error), MVMessagePack::Status::Malformed)
            << row.why;
        EXPECT_FALSE(error.empty()) << row.why;
    }
    EXPECT_EQ(MVMessagePack::decode(shallow, value, error), MVMessagePack::Status::Ok) << error;
}

struct DecoderRow {
    const char* name;
    std::string payload;
    MVApiContentType type;
    bool compressed;
    Result expected;
};

TEST(MVApiPacketDecoderTest, DecodesByContentTypeAndCompression) {
    const json packet = {{"ver", "2.1"}, {"cmds", json::array()}, {"serial", 42}};
    const std::string jsonText = packet.dump();
    const std::string packed = peer::toMessagePack(packet);
    using peer::gzipCompress;
    const DecoderRow rows[] = {
        {"JSON", jsonText, MVApiContentTypeJSON, false, Result::Packet},
        {"gzip JSON", gzipCompress(jsonText), MVApiContentTypeJSON, true, Result::Packet},
        {"MessagePack", packed, MVApiContentTypeMessagePack, false, Result::Packet},
        {"gzip MessagePack", gzipCompress(packed), MVApiContentTypeMessagePack, true,
         Result::Packet},
        // Heartbeats, compressed or not.
        {"CR LF", "\r\n", MVApiContentTypeJSON, false, Result::Nothing},
        {"CR LF on a gzip stream", "\r\n", MVApiContentTypeJSON, true, Result::Nothing},
        {"gzip CR LF", gzipCompress("\r\n"), MVApiContentTypeMessagePack, true, Result::Nothing},
        // Prefixes wait for the next chunk.
        {"nothing", "", MVApiContentTypeJSON, false, Result::Incomplete},
        {"half JSON", jsonText.substr(0, 9), MVApiContentTypeJSON, false, Result::Incomplete},
        {"half MessagePack", packed.substr(0, 9), MVApiContentTypeMessagePack, false,
         Result::Incomplete},
        {"half gzip", gzipCompress(jsonText).substr(0, 12), MVApiContentTypeJSON, true,
         Result::Incomplete},
        // Broken payloads are dropped.
        {"JSON syntax error", "{\"ver\":]", MVApiContentTypeJSON, false, Result::Rejected},
        {"JSON array", "[1,2]", MVApiContentTypeJSON, false, Result::Rejected},
        {"MessagePack array", std::string("\x92\x01\x02", 3), MVApiContentTypeMessagePack, false,
         Result::Rejected},
        {"MessagePack garbage", "\xc1\xc1", MVApiContentTypeMessagePack, false, Result::Rejected},
        {"plain bytes on a gzip stream", jsonText, MVApiContentTypeJSON, true, Result::Rejected},
        {"gzip of half a JSON text", gzipCompress(jsonText.substr(0, 9)), MVApiContentTypeJSON,
         true, Result::Rejected},
        {"gzip of half a MessagePack map", gzipCompress(packed.substr(0, 9)),
         MVApiContentTypeMessagePack, true, Result::Rejected},
        {"gzip bomb", gzipCompress(std::string(MVApiPacketDecoder::kMaxInflatedSize + 1, ' ')),
         MVApiContentTypeJSON, true, Result::Rejected},
        {"JSON nested too deeply", std::string(600, '[') + std::string(600, ']'),
         MVApiContentTypeJSON, false, Result::Rejected},
        {"JSON nested 100,000 deep", std::string(100'000, '[') + std::string(100'000, ']'),
         MVApiContentTypeJSON, false, Result::Rejected},
        {"MessagePack nested 100,000 deep", std::string(100'000, '\x91') + '\xc0',
         MVApiContentTypeMessagePack, false, Result::Rejected},
    };
    MVApiPacketDecoder decoder;
    for (const auto& row : rows) {
        json value;
        std::string problem;
        EXPECT_EQ(decoder.decode(row.payload, row.type, row.compressed, value, problem),
                  row.expected)
            << row.name << ": " << problem;
        if (row.expected == Result::Packet) {
            EXPECT_EQ(value, packet) << row.name;
        }
        if (row.expected == Result::Rejected) {
            EXPECT_FALSE(problem.empty()) << row.name;
        }
    }
}

// The packets a decoder hands over for a body that arrives in `pieces`.
std::vector<json> arrive(MVApiPacketDecoder& decoder, const std::vector<std::string>& pieces,
                         MVApiContentType type) {
    std::vector<json> packets;
    decoder.start(type, false);
    for (const auto& piece : pieces)
        decoder.feed(piece, [&packets](json& packet) { packets.push_back(std::move(packet)); });
    EXPECT_FALSE(decoder.isInsidePacket());
    if (decoder.lostPlace()) packets.push_back("lost its place");
    return packets;
}

// A payload followed by two packets in one body, cut anywhere: the same packets, and the
// two after it always arrive (a broken payload costs only itself), unless the decoder
// lost its place in a MessagePack stream (the connection is opened again).
TEST(MVApiPacketDecoderTest, AnyCutOfAPayloadGetsTheAnswerOfThePayloadInOnePiece) {
    const std::string bom = "\xEF\xBB\xBF";
    const std::string deepest = "{\"a\":" + std::string(511, '[') + std::string(511, ']') + "}";
    const std::string tooDeep = "{\"a\":" + std::string(512, '[') + std::string(512, ']') + "}";
    const json full = {{"ver", "2.1"},
                       {"cmds",
                        {{{"c", "x"},
                          {"p",
                           {{"s", "a\"b\\\u00e9/"},
                            {"n", -1.5e+3},
                            {"i", 0},
                            {"t", true},
                            {"f", false},
                            {"z", nullptr},
                            {"e", json::object()},
                            {"l", json::array()}}}}}},
                       {"serial", 7}};
    const auto JSON = MVApiContentTypeJSON;
    const auto MessagePack = MVApiContentTypeMessagePack;
    const struct {
        const char* name;
        std::string payload;
        MVApiContentType type;
        std::vector<json> packets;  // what the payload itself yields
    } rows[] = {
        {"a packet", full.dump(), JSON, {full}},
        {"a packet among blanks", " \r\n{\"a\": [1, 2.5e-1] }\t", JSON, {{{"a", {1, 0.25}}}}},
        {"a byte-order mark in front", bom + "{\"a\":1}", JSON, {{{"a", 1}}}},
        // Cut short, and a whole packet follows.
        {"half a byte-order mark", "\xEF\xBB{\"a\":1}", JSON, {{{"a", 1}}}},
        {"a byte-order mark after a blank", " " + bom + "{}", JSON, {json::object()}},
        {"a literal after a number", "{\"v\":[1 true]}", JSON, {}},
        {"a broken literal", "{\"a\":tru}", JSON, {}},
        {"no colon", "{\"a\" 1}", JSON, {}},
        {"a comma before the close", "{\"a\":1,}", JSON, {}},
        {"a leading zero", "{\"a\":01}", JSON, {}},
        {"a point without digits", "{\"a\":1.}", JSON, {}},
        {"a sign alone", "{\"a\":-}", JSON, {}},
        {"an exponent without digits", "{\"a\":1e}", JSON, {}},
        {"a control character", "{\"a\":\"\x01\"}", JSON, {}},
        {"a NUL byte", std::string("{\"a\":\"\0\"}", 9), JSON, {}},
        {"an unknown escape", "{\"a\":\"\\x\"}", JSON, {}},
        {"a broken unicode escape", "{\"a\":\"\\u12G4\"}", JSON, {}},
        {"bytes that are no UTF-8", "{\"a\":\"\xff\"}", JSON, {}},
        // A whole packet, then a stray byte.
        {"a close too many", "{\"a\":1}}", JSON, {{{"a", 1}}}},
        {"junk", "garbage", JSON, {}},
        {"an array", "[1,{\"a\":2}]", JSON, {}},
        {"a number", "12", JSON, {}},
        {"the deepest nesting", deepest, JSON, {json::parse(deepest)}},
        {"nesting one deeper", tooDeep, JSON, {}},
        {"a heartbeat", "\r\n", JSON, {}},
        {"a MessagePack packet", peer::toMessagePack(full), MessagePack, {full}},
        {"a map key that is no string",
         std::string("\x82\xa1v\x01\x01\x02", 6),
         MessagePack,
         {"lost its place"}},
        {"an extension type", std::string("\x81\xa1v\xd4\x01\x02", 6), MessagePack, {}},
        {"an unused type byte", std::string("\x81\xa1v\xc1", 4), MessagePack, {"lost its place"}},
        {"a MessagePack array", std::string("\x92\x01\x80", 3), MessagePack, {}},
        {"a MessagePack heartbeat", "\r\n", MessagePack, {}},
        {"two empty maps",
         std::string("\x80\x80", 2),
         MessagePack,
         {json::object(), json::object()}},
    };
    MVApiPacketDecoder decoder;  // one for all: start() leaves nothing behind
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto encoding =
            row.type == JSON ? peer::PacketEncoding::JSON : peer::PacketEncoding::MessagePack;
        const std::string body = row.payload + peer::encodePacket({{"command", "a"}}, encoding) +
                                 peer::encodePacket({{"command", "b"}}, encoding);
        std::vector<json> expected = row.packets;
        if (expected.empty() || expected.back() != "lost its place") {
            expected.push_back({{"command", "a"}});
            expected.push_back({{"command", "b"}});
        }
        EXPECT_EQ(arrive(decoder, {body}, row.type), expected);

        // Every cut and every pair of cuts in short bodies; long ones at a stride.
        for (size_t i = 1; i < body.size(); ++i) {
            if (body.size() > 256 && i % 29 != 0) continue;
            EXPECT_EQ(arrive(decoder, {body.substr(0, i), body.substr(i)}, row.type), expected)
                << "cut at " << i;
            if (body.size() > 64) continue;
            for (size_t j = i + 1; j < body.size(); ++j)
                EXPECT_EQ(
                    arrive(decoder, {body.substr(0, i), body.substr(i, j - i), body.substr(j)},
                           row.type),
                    expected)
                    << "cut at " << i << "," << j;
        }
    }
}

TEST(MVApiPacketEncoderTest, FramesEachPacketAsOneChunk) {
    EXPECT_EQ(MVApiPacketEncoder::chunk(std::string(26, 'a')),
              "1A\r\n" + std::string(26, 'a') + "\r\n");
    EXPECT_EQ(MVApiPacketEncoder::chunk(""), "0\r\n\r\n");
    EXPECT_EQ(MVApiPacketEncoder::chunk(std::string(0x10000, 'b')).substr(0, 7), "10000\r\n");

    EXPECT_EQ(MVApiPacketEncoder::keepAliveChunk({}), "2\r\n{}\r\n");
    EXPECT_EQ(MVApiPacketEncoder::keepAliveChunk({.messagePack = true}), "1\r\n\x80\r\n");
    for (bool messagePack : {false, true}) {
        const std::string& chunk =
            MVApiPacketEncoder::keepAliveChunk({.messagePack = messagePack, .gzip = true});
        const size_t line = chunk.find("\r\n");
        auto decoded = peer::decodePacket(chunk.substr(line + 2, chunk.size() - line - 4));
        EXPECT_TRUE(decoded.gzipped);
        EXPECT_EQ(decoded.value, json::object());
    }
}

}  // namespace
