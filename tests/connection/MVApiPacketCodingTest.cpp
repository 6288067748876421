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

// What a decoder answered for chunks that arrive as the chunk reader hands them over
// (every byte of the packet so far), each answer but Incomplete with its chunk's index.
struct Answer {
    Result result;
    json packet;
    size_t chunk;
};

std::vector<Answer> arrive(MVApiPacketDecoder& decoder, const std::vector<std::string>& chunks,
                           MVApiContentType type) {
    std::vector<Answer> answers;
    std::string combined;
    for (size_t i = 0; i < chunks.size(); ++i) {
        combined += chunks[i];
        json packet;
        std::string problem;
        const Result result = decoder.decodeArriving(combined, type, false, packet, problem);
        if (result == Result::Incomplete) continue;
        if (result == Result::Rejected) {
            EXPECT_FALSE(problem.empty());
        }
        answers.push_back({result, result == Result::Packet ? packet : json(), i});
        combined.clear();
    }
    return answers;
}

// The answer for a payload cut anywhere is the answer for it in one piece, unless a
// prefix is a whole packet itself; a refused payload is refused at the piece holding its
// first byte past mending, and the packets after it are delivered.
TEST(MVApiPacketDecoderTest, AnyCutOfAPayloadGetsTheAnswerOfThePayloadInOnePiece) {
    constexpr size_t kWhole = std::string::npos;  // only the whole payload is judged
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
        Result whole;
        size_t pastMending;  // the first byte no continuation mends
    } rows[] = {
        {"a packet", full.dump(), JSON, Result::Packet, kWhole},
        {"a packet among blanks", " \r\n{\"a\": [1, 2.5e-1] }\t", JSON, Result::Packet, kWhole},
        {"a byte-order mark in front", bom + "{\"a\":1}", JSON, Result::Packet, kWhole},
        {"half a byte-order mark", "\xEF\xBB{\"a\":1}", JSON, Result::Rejected, 2},
        {"a byte-order mark after a blank", " " + bom + "{}", JSON, Result::Rejected, 1},
        {"a literal after a number", "{\"v\":[1 true]}", JSON, Result::Rejected, 8},
        {"a broken literal", "{\"a\":tru}", JSON, Result::Rejected, 8},
        {"no colon", "{\"a\" 1}", JSON, Result::Rejected, 5},
        {"a comma before the close", "{\"a\":1,}", JSON, Result::Rejected, 7},
        {"a leading zero", "{\"a\":01}", JSON, Result::Rejected, 6},
        {"a point without digits", "{\"a\":1.}", JSON, Result::Rejected, 7},
        {"a sign alone", "{\"a\":-}", JSON, Result::Rejected, 6},
        {"an exponent without digits", "{\"a\":1e}", JSON, Result::Rejected, 7},
        {"a control character", "{\"a\":\"\x01\"}", JSON, Result::Rejected, 6},
        {"a NUL byte", std::string("{\"a\":\"\0\"}", 8), JSON, Result::Rejected, 6},
        {"an unknown escape", "{\"a\":\"\\x\"}", JSON, Result::Rejected, 7},
        {"a broken unicode escape", "{\"a\":\"\\u12G4\"}", JSON, Result::Rejected, 10},
        {"bytes that are no UTF-8", "{\"a\":\"\xff\"}", JSON, Result::Rejected, kWhole},
        {"a close too many", "{\"a\":1}}", JSON, Result::Rejected, 7},
        {"an array", "[1,{\"a\":2}]", JSON, Result::Rejected, 0},
        {"a number", "12", JSON, Result::Rejected, 0},
        {"the deepest nesting", deepest, JSON, Result::Packet, kWhole},
        {"nesting one deeper", tooDeep, JSON, Result::Rejected, 5 + 511},
        {"a heartbeat", "\r\n", JSON, Result::Nothing, kWhole},
        {"a MessagePack packet", peer::toMessagePack(full), MessagePack, Result::Packet, kWhole},
        {"a map key that is no string", std::string("\x82\xa1v\x01\x01\x02", 6), MessagePack,
         Result::Rejected, 4},
        {"an extension type", std::string("\x81\xa1v\xd4\x01\x02", 6), MessagePack,
         Result::Rejected, 5},
        {"an unused type byte", std::string("\x81\xa1v\xc1", 4), MessagePack, Result::Rejected, 3},
        {"a MessagePack array", std::string("\x92\x01\x80", 3), MessagePack, Result::Rejected, 0},
        {"a map too many", std::string("\x80\x80", 2), MessagePack, Result::Rejected, 1},
    };
    MVApiPacketDecoder decoder;  // one for all: a packet's end leaves nothing behind
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string& payload = row.payload;
        const auto encoding =
            row.type == JSON ? peer::PacketEncoding::JSON : peer::PacketEncoding::MessagePack;
        const std::vector<std::string> after = {peer::encodePacket({{"command", "a"}}, encoding),
                                                peer::encodePacket({{"command", "b"}}, encoding)};

        const auto whole = arrive(decoder, {payload}, row.type);
        ASSERT_EQ(whole.size(), 1u);
        EXPECT_EQ(whole[0].result, row.whole);

        // Every cut, and every pair of cuts in short payloads; long ones (the nesting
        // bounds) are cut at a stride and at every byte around where they fail.
        std::vector<std::vector<size_t>> cuts;
        for (size_t i = 1; i < payload.size(); ++i) {
            const bool nearFailure =
                row.pastMending != kWhole && i + 3 > row.pastMending && i < row.pastMending + 3;
            if (payload.size() <= 256 || i % 29 == 0 || nearFailure) cuts.push_back({i});
        }
        if (payload.size() <= 24)
            for (size_t i = 1; i < payload.size(); ++i)
                for (size_t j = i + 1; j < payload.size(); ++j) cuts.push_back({i, j});
        for (const auto& at : cuts) {
            SCOPED_TRACE(::testing::Message() << "cut at " << at[0] << (at.size() > 1 ? "," : "")
                                              << (at.size() > 1 ? std::to_string(at[1]) : ""));
            std::vector<std::string> chunks;
            size_t from = 0;
            size_t refusedIn = 0;  // the piece holding the first byte past mending
            for (size_t cut : at) {
                if (cut <= row.pastMending) refusedIn = chunks.size() + 1;
                chunks.push_back(payload.substr(from, cut - from));
                from = cut;
            }
            chunks.push_back(payload.substr(from));
            const size_t pieces = chunks.size();
            if (row.pastMending == kWhole) refusedIn = pieces - 1;
            chunks.insert(chunks.end(), after.begin(), after.end());

            const auto answers = arrive(decoder, chunks, row.type);
            ASSERT_GE(answers.size(), 3u);
            const Answer& first = answers[0];
            std::string prefix;
            for (size_t k = 0; k <= first.chunk && k < pieces; ++k) prefix += chunks[k];
            if (first.chunk < pieces && first.result != row.whole) {
                // Only a prefix that is a whole packet by itself answers otherwise.
                EXPECT_EQ(first.result, Result::Packet);
                EXPECT_EQ(arrive(decoder, {prefix}, row.type)[0].packet, first.packet);
            } else {
                EXPECT_EQ(first.result, row.whole);
                if (row.whole == Result::Packet) {
                    EXPECT_EQ(first.packet, whole[0].packet);
                }
                if (row.whole == Result::Rejected) {
                    EXPECT_EQ(first.chunk, refusedIn);
                } else {
                    EXPECT_LE(first.chunk, refusedIn);
                }
            }
            // The rest of a refused payload is refused on its own; "a" and "b" arrive.
            for (size_t k = 1; k + 2 < answers.size(); ++k) EXPECT_LT(answers[k].chunk, pieces);
            const Answer& a = answers[answers.size() - 2];
            const Answer& b = answers.back();
            EXPECT_EQ(a.packet, json({{"command", "a"}}));
            EXPECT_EQ(a.chunk, pieces);
            EXPECT_EQ(b.packet, json({{"command", "b"}}));
            EXPECT_EQ(b.chunk, pieces + 1);
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
