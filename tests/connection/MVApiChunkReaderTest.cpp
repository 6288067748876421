// The downstream chunk reader: framing, packets across chunks, broken payloads that
// must not block the stream, and the bounds on what the network can make us hold.
#include <fmt/core.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "libmerovane/connection/MVApiChunkReader.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "tests/support/PlatformTest.h"
#include "tools/peer/ChunkedCoding.h"
#include "tools/peer/Gzip.h"
#include "tools/peer/PacketCodec.h"

using nlohmann::json;
using Outcome = MVApiChunkReader::Outcome;
using peer::encodeChunk;

namespace {

json collection(int serial) {
    return {
        {"ver", "2.1"},
        {"cmds", {{{"c", "setVariable"}, {"p", {{"id", "n"}, {"value", std::to_string(serial)}}}}}},
        {"serial", serial}};
}

class MVApiChunkReaderTest : public PlatformTest {
  protected:
    void SetUp() override {
        PlatformTest::SetUp();
        MVErrorLogger::clearReports();
    }

    void start(MVApiContentType type = MVApiContentTypeJSON, bool compressed = false,
               MVApiChunkState state = MVApiChunkStateHeader) {
        reader_.start(state, type, compressed);
    }

    Outcome feed(std::string_view bytes) {
        return reader_.append(bytes, [this](json& packet) { packets_.push_back(packet); });
    }

    // Feeds one byte at a time; answers the first framing error or Ok.
    Outcome trickle(std::string_view bytes) {
        for (char c : bytes)
            if (feed(std::string_view(&c, 1)) == Outcome::FramingError)
                return Outcome::FramingError;
        return Outcome::Ok;
    }

    static std::string payload(const json& packet, peer::PacketEncoding encoding,
                               bool gzip = false) {
        return peer::encodePacket(packet, encoding, gzip);
    }

    MVApiChunkReader reader_;
    std::vector<json> packets_;
};

TEST_F(MVApiChunkReaderTest, ChunkExtensionsAreIgnored) {
    start();
    const std::string body = R"({"ver":"2.1","cmds":[],"x":"abc"})";
    ASSERT_EQ(body.size(), 0x21u);
    // "1a;x=y": a chunk of 26 bytes, whatever the extension says.
    const std::string twentySix = R"({"ver":"2.1","cmds":[1,2]})";
    ASSERT_EQ(twentySix.size(), 26u);
    EXPECT_EQ(feed("1a;x=y\r\n"), Outcome::Ok);
    EXPECT_EQ(reader_.chunkState(), MVApiChunkStateData);
    EXPECT_EQ(reader_.chunkSize(), 26u);
    EXPECT_EQ(feed(twentySix + "\r\n"), Outcome::Ok);
    // Leading blanks and "0x" are accepted too.
    EXPECT_EQ(feed("  0x21 ; name=\"v\"\r\n" + body + "\r\n"), Outcome::Ok);
    ASSERT_EQ(packets_.size(), 2u);
    EXPECT_EQ(packets_[0]["cmds"], json({1, 2}));
    EXPECT_EQ(packets_[1]["x"], "abc");
}

TEST_F(MVApiChunkReaderTest, APacketAcrossThreeChunksIsHandedOverOnceInEveryEncoding) {
    for (auto encoding : {peer::PacketEncoding::JSON, peer::PacketEncoding::MessagePack}) {
        for (bool gzip : {false, true}) {
            SCOPED_TRACE(::testing::Message()
                         << "msgpack " << (encoding != peer::PacketEncoding::JSON) << " gzip "
                         << gzip);
            packets_.clear();
            start(encoding == peer::PacketEncoding::JSON ? MVApiContentTypeJSON
                                                         : MVApiContentTypeMessagePack,
                  gzip);
            const std::string whole = payload(collection(7), encoding, gzip);
            const size_t third = whole.size() / 3;
            EXPECT_EQ(feed(encodeChunk(whole.substr(0, third))), Outcome::Ok);
            EXPECT_EQ(feed(encodeChunk(whole.substr(third, third))), Outcome::Ok);
            EXPECT_TRUE(packets_.empty());
            EXPECT_EQ(reader_.combinedBytes(), 2 * third);
            EXPECT_EQ(feed(encodeChunk(whole.substr(2 * third))), Outcome::Ok);
            ASSERT_EQ(packets_.size(), 1u);
            EXPECT_EQ(packets_[0], collection(7));
            EXPECT_EQ(reader_.combinedBytes(), 0u);
            // And the next packet, in one chunk, follows on its own.
            EXPECT_EQ(trickle(encodeChunk(payload(collection(8), encoding, gzip))), Outcome::Ok);
            ASSERT_EQ(packets_.size(), 2u);
            EXPECT_EQ(packets_[1], collection(8));
        }
    }
}

TEST_F(MVApiChunkReaderTest, APacketInManyPiecesIsDecodedOnce) {
    for (auto encoding : {peer::PacketEncoding::JSON, peer::PacketEncoding::MessagePack}) {
        for (bool gzip : {false, true}) {
            for (auto state : {MVApiChunkStateHeader, MVApiChunkStateUnchunked}) {
                SCOPED_TRACE(::testing::Message()
                             << "msgpack " << (encoding != peer::PacketEncoding::JSON) << " gzip "
                             << gzip << " unchunked " << (state == 0));
                MVApiChunkReader reader;
                reader.start(state,
                             encoding == peer::PacketEncoding::JSON ? MVApiContentTypeJSON
                                                                    : MVApiContentTypeMessagePack,
                             gzip);
                json big = collection(9);
                big["pad"] = json::array();
                for (int i = 0; i < 300; ++i)
                    big["pad"].push_back({{"k", -i},
                                          {"f", 1.5e-3 * i},
                                          {"s", "x\"]}\u00e9"},
                                          {"t", true},
                                          {"n", nullptr},
                                          {"e", json::object()}});
                const std::string whole = payload(big, encoding, gzip);
                std::vector<json> got;
                for (size_t at = 0; at < whole.size(); at += 16) {
                    const auto piece = whole.substr(at, 16);
                    ASSERT_EQ(
                        reader.append(state == MVApiChunkStateHeader ? encodeChunk(piece) : piece,
                                      [&](json& packet) { got.push_back(packet); }),
                        Outcome::Ok);
                }
                ASSERT_EQ(got.size(), 1u);
                EXPECT_EQ(got[0], big);
                // The packet is decoded once; a piece that is a whole map by itself may be
                // too, on its own bytes only.
                const size_t plain = payload(big, encoding).size();
                EXPECT_GE(reader.decodedBytes(), plain);
                EXPECT_LE(reader.decodedBytes(), plain + whole.size());
            }
        }
    }
}

TEST_F(MVApiChunkReaderTest, AnySplitOfTheStreamGivesTheSamePacketsAndHeartbeatsNothing) {
    start(MVApiContentTypeMessagePack);
    std::string stream;
    for (int i = 1; i <= 5; ++i)
        stream += encodeChunk(payload(collection(i), peer::PacketEncoding::MessagePack));
    stream += encodeChunk("\r\n") + encodeChunk("\r\n") + "0\r\n\r\n";  // heartbeats, last chunk
    EXPECT_EQ(trickle(stream), Outcome::Ok);
    ASSERT_EQ(packets_.size(), 5u);
    for (int i = 1; i <= 5; ++i) EXPECT_EQ(packets_[i - 1]["serial"], i);
    EXPECT_EQ(reader_.bufferedBytes(), 0u);
    EXPECT_EQ(reader_.combinedBytes(), 0u);
    EXPECT_FALSE(logged("MVApiConnection"));
}

TEST_F(MVApiChunkReaderTest, ABrokenPayloadIsReportedAndTheNextPacketsStillArrive) {
    const struct {
        MVApiContentType type;
        bool gzip;
        std::string broken;
        const char* line;
        bool reconnects = false;  // a MessagePack stream whose place is lost
    } rows[] = {
        {MVApiContentTypeJSON, false, "{\"ver\":]}",
         "MVApiConnection could not parse JSON payload"},
        {MVApiContentTypeJSON, false, "[1]", "MVApiConnection JSON payload is not a dictionary"},
        // Unclosed, but already past mending: it must not swallow the packet after it.
        {MVApiContentTypeJSON, false, "{\"ver\" \"2.1\", \"cmds\": []}",
         "MVApiConnection could not parse JSON payload"},
        {MVApiContentTypeJSON, false, "{\"ver\":\"\x01\"}",
         "MVApiConnection could not parse JSON payload"},
        {MVApiContentTypeJSON, false, "garbage", "MVApiConnection could not parse JSON payload"},
        {MVApiContentTypeMessagePack, false, "\x82\x01",
         "MVApiConnection MessagePack payload is not a dictionary", true},
        {MVApiContentTypeMessagePack, false, "\x93\x01\x02\x03",
         "MVApiConnection MessagePack payload is not a dictionary"},
        {MVApiContentTypeMessagePack, false, std::string("\x81\xa1v\xd4\x01\x02", 6),
         "MVApiConnection MessagePack payload is not a dictionary"},
        {MVApiContentTypeMessagePack, false, "\xc1",
         "MVApiConnection MessagePack payload is not a dictionary", true},
        {MVApiContentTypeJSON, true, "{\"not\":\"gzip\"}",
         "MVApiConnection could not decompress gzip payload"},
        {MVApiContentTypeMessagePack, true, peer::gzipCompress("[1]"),
         "MVApiConnection MessagePack payload is not a dictionary"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        packets_.clear();
        MVErrorLogger::clearReports();
        start(row.type, row.gzip);
        const auto encoding = row.type == MVApiContentTypeJSON ? peer::PacketEncoding::JSON
                                                               : peer::PacketEncoding::MessagePack;
        EXPECT_EQ(
            feed(encodeChunk(row.broken) + encodeChunk(payload(collection(2), encoding, row.gzip))),
            row.reconnects ? Outcome::FramingError : Outcome::Ok);
        ASSERT_EQ(packets_.size(), row.reconnects ? 0u : 1u);
        if (!row.reconnects) {
            EXPECT_EQ(packets_[0]["serial"], 2);
        }
        EXPECT_TRUE(logged(row.line));
        const auto reports = MVErrorLogger::reports();
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].description.substr(0, std::string(row.line).size()), row.line);
    }
}

// A JSON packet past mending in its first chunk is refused there, with that chunk; its
// rest is skipped. A MessagePack packet the decoder refuses (an extension) is refused
// once whole. The packets after either arrive.
TEST_F(MVApiChunkReaderTest, APacketPastMendingIsRefusedAtItsOwnChunk) {
    const struct {
        MVApiContentType type;
        std::string first;
        std::string rest;
        const char* line;
        bool refusedAtFirst;
    } rows[] = {
        {MVApiContentTypeJSON, "{\"v\":[1 t", "rue]}",
         "MVApiConnection could not parse JSON payload", true},
        {MVApiContentTypeMessagePack, std::string("\x81\xa1v\xd4", 4), std::string("\x01\x02"),
         "MVApiConnection MessagePack payload is not a dictionary", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        log_->clear();
        packets_.clear();
        start(row.type);
        const auto encoding = row.type == MVApiContentTypeJSON ? peer::PacketEncoding::JSON
                                                               : peer::PacketEncoding::MessagePack;
        EXPECT_EQ(feed(encodeChunk(row.first)), Outcome::Ok);
        EXPECT_EQ(logged(row.line), row.refusedAtFirst);
        EXPECT_EQ(reader_.isInsidePacket(), !row.refusedAtFirst);
        EXPECT_EQ(feed(encodeChunk(row.rest)), Outcome::Ok);
        EXPECT_TRUE(logged(row.line));
        EXPECT_EQ(reader_.combinedBytes(), 0u);
        for (const char* command : {"a", "b"})
            EXPECT_EQ(feed(encodeChunk(payload({{"command", command}}, encoding))), Outcome::Ok);
        ASSERT_EQ(packets_.size(), 2u);
        EXPECT_EQ(packets_[0], json({{"command", "a"}}));
        EXPECT_EQ(packets_[1], json({{"command", "b"}}));
    }
}

// A packet cut short, sent as one whole chunk: the good packets after it arrive, whether
// each comes in one chunk or in several, and the cut one is dropped with a line. A JSON
// packet cut where a value may stand takes the next packet in as that value (its bytes
// say so); a MessagePack one that the next bytes cannot continue loses the reader its
// place, and the connection is opened again; nothing else is handed over.
TEST_F(MVApiChunkReaderTest, APacketCutShortTakesNoGoodPacketWithIt) {
    for (auto encoding : {peer::PacketEncoding::JSON, peer::PacketEncoding::MessagePack}) {
        const std::string plain = payload(collection(3), encoding);
        for (bool gzip : {false, true}) {
            for (const double cut : {0.1, 0.3, 0.5, 0.7, 0.95}) {
                for (const size_t pieces : {1u, 2u, 3u}) {
                    SCOPED_TRACE(::testing::Message()
                                 << "msgpack " << (encoding != peer::PacketEncoding::JSON)
                                 << " gzip " << gzip << " cut " << cut << " pieces " << pieces);
                    packets_.clear();
                    log_->clear();
                    start(encoding == peer::PacketEncoding::JSON ? MVApiContentTypeJSON
                                                                 : MVApiContentTypeMessagePack,
                          gzip);
                    std::string cutShort = plain.substr(0, static_cast<size_t>(plain.size() * cut));
                    const char last = cutShort.back();
                    if (gzip) cutShort = peer::gzipCompress(cutShort);
                    auto outcome = feed(encodeChunk(cutShort));
                    for (int serial : {4, 5}) {
                        const std::string whole = payload(collection(serial), encoding, gzip);
                        const size_t step = whole.size() / pieces + 1;
                        for (size_t at = 0; at < whole.size() && outcome == Outcome::Ok; at += step)
                            outcome = feed(encodeChunk(whole.substr(at, step)));
                    }
                    std::vector<json> expected{collection(4), collection(5)};
                    if (!gzip && encoding == peer::PacketEncoding::JSON &&
                        (last == ':' || last == '['))
                        expected = {collection(5)};
                    if (outcome == Outcome::FramingError) {
                        EXPECT_TRUE(!gzip && encoding == peer::PacketEncoding::MessagePack);
                        EXPECT_TRUE(logged("MessagePack packet cannot be read past"));
                        expected.clear();
                    } else if (!gzip && encoding == peer::PacketEncoding::MessagePack &&
                               packets_ != expected) {
                        // A cut inside a string reads on in the next packet's bytes: what
                        // comes of them is no packet the server sent ("ver" lost), then 5.
                        ASSERT_FALSE(packets_.empty());
                        EXPECT_EQ(packets_.back(), collection(5));
                        for (size_t k = 0; k + 1 < packets_.size(); ++k)
                            EXPECT_FALSE(packets_[k].contains("ver"));
                        expected = packets_;
                    }
                    EXPECT_EQ(packets_, expected);
                    EXPECT_EQ(reader_.combinedBytes(), 0u);
                    EXPECT_TRUE(logged("MVApiConnection dropped an incomplete packet") ||
                                logged("MVApiConnection could not") ||
                                logged("MVApiConnection MessagePack payload is not a dictionary"));
                }
            }
        }
    }
}

// A packet the server streams command by command: a piece that is a whole map but no
// command collection is a piece, not a packet.
TEST_F(MVApiChunkReaderTest, APieceThatIsAMapOfItsOwnStillJoinsItsPacket) {
    start();
    for (const char* piece :
         {R"({"ver":"2.1","cmds":[)", R"({"c":"a"})", R"(,{"c":"b","p":{}})", R"(],"serial":3})"})
        EXPECT_EQ(feed(encodeChunk(piece)), Outcome::Ok);
    ASSERT_EQ(packets_.size(), 1u);
    EXPECT_EQ(packets_[0]["serial"], 3);
    EXPECT_EQ(packets_[0]["cmds"].size(), 2u);
    EXPECT_FALSE(logged("MVApiConnection"));
}

TEST_F(MVApiChunkReaderTest, FramingErrorsStopTheReader) {
    const struct {
        std::string bytes;
        const char* line;
    } rows[] = {
        {"1A\r\n" + std::string(26, 'x') + "!!",
         "MVApiConnection closed. Chunk not terminted correctly. Reconnecting in 5 seconds..."},
        {"zz\r\n",
         "MVApiConnection closed. Invalid chunk size format. Reconnecting in 5 seconds..."},
        {"\r\n\r\n",
         "MVApiConnection closed. Invalid chunk size format. Reconnecting in 5 seconds..."},
        {std::string(257, '1'),
         "MVApiConnection closed. Invalid chunk size. Reconnecting in 5 seconds..."},
        // The size line must end within its first 64 bytes.
        {std::string(64, '0') + "1\r\n" + std::string(190, ' '),
         "MVApiConnection closed. Invalid chunk size. Reconnecting in 5 seconds..."},
        {"1000001\r\n", "MVApiConnection closed. Chunk size 16777217 exceeds 16777216 bytes."},
        {"FFFFFFFF\r\n", "MVApiConnection closed. Chunk size 4294967295 exceeds"},
        {"FFFFFFFFFFFF\r\n", "MVApiConnection closed. Chunk size more than 4294967295 exceeds"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        log_->clear();
        packets_.clear();
        start();
        EXPECT_EQ(feed(encodeChunk("{\"ver\":\"2.1\",\"cmds\":[]}") + row.bytes),
                  Outcome::FramingError);
        EXPECT_EQ(packets_.size(), 1u);  // what came before the fault was read
        EXPECT_TRUE(logged(row.line));
        EXPECT_EQ(reader_.bufferedBytes(), 0u);
    }
}

TEST_F(MVApiChunkReaderTest, ASizeLineIsAwaitedUntilItsLimits) {
    start();
    // Fewer than four bytes wait, and so does a long line until 257 bytes.
    EXPECT_EQ(feed("1\r"), Outcome::Ok);
    EXPECT_EQ(reader_.chunkState(), MVApiChunkStateHeader);
    reader_.reset();
    EXPECT_EQ(feed(std::string(256, '1')), Outcome::Ok);
    EXPECT_EQ(feed("1"), Outcome::FramingError);
    // A size line whose CR LF ends at the 64th byte still counts.
    start();
    EXPECT_EQ(feed(std::string(61, '0') + "2\r\n{}\r\n"), Outcome::Ok);
    EXPECT_EQ(packets_.size(), 1u);
}

TEST_F(MVApiChunkReaderTest, APacketPastTheBoundIsDroppedAndReported) {
    start(MVApiContentTypeMessagePack);
    // A map holding a MessagePack string that announces 2 GB, in chunks of 1 MB.
    const std::string piece(1u << 20, 'a');
    const std::string head = "\x81\xa1s\xdb\x7f\xff\xff\xff";
    EXPECT_EQ(feed(encodeChunk(head + piece.substr(head.size()))), Outcome::Ok);
    for (size_t i = 1; i < MVApiChunkReader::kMaxPacketSize / piece.size(); ++i)
        EXPECT_EQ(feed(encodeChunk(piece)), Outcome::Ok);
    EXPECT_FALSE(logged("MVApiConnection dropped a packet"));
    EXPECT_EQ(feed(encodeChunk(piece)), Outcome::Ok);
    EXPECT_TRUE(logged("MVApiConnection dropped a packet of more than 16777216 bytes"));
    EXPECT_EQ(reader_.combinedBytes(), 0u);
    EXPECT_EQ(MVErrorLogger::reports().size(), 1u);
}

TEST_F(MVApiChunkReaderTest, UnchunkedResponsesAreOnePayload) {
    start(MVApiContentTypeJSON, false, MVApiChunkStateUnchunked);
    const std::string text = collection(3).dump();
    EXPECT_EQ(feed(text.substr(0, 10)), Outcome::Ok);
    EXPECT_TRUE(packets_.empty());
    EXPECT_EQ(feed(text.substr(10)), Outcome::Ok);
    ASSERT_EQ(packets_.size(), 1u);
    EXPECT_EQ(reader_.bufferedBytes(), 0u);
}

}  // namespace

namespace {

// Real packets whose commands carry command collections and lists of their own.
std::vector<json> nestedPackets() {
    return {
        {{"ver", "2.0"},
         {"serial", 5},
         {"cmds",
          {{{"c", "bootApp"},
            {"p",
             {{"cmds",
               {{{"c", "setVariable"}, {"p", {{"id", "a"}, {"value", "1"}}}},
                {{"c", "performCommandsAfterDelay"},
                 {"p", {{"delay", 1}, {"cmds", {{{"c", "vibrate"}}}}}}}}},
              {"identifier", "tick-5"}}}}}}},
        {{"ver", "2.1"},
         {"serial", 6},
         {"cmds",
          {{{"c", "showAlert"},
            {"p",
             {{"title", "t"},
              {"buttons",
               {{{"title", "Ok"},
                 {"mvcmd",
                  {{"ver", "2.1"}, {"cmds", {{{"c", "openPage"}, {"p", {{"src", "x"}}}}}}}}}}},
              {"mvcmdOnTimout", {{"ver", "2.1"}, {"cmds", json::array()}}}}}}}}},
        {{"ver", "2.1"},
         {"serial", 7},
         {"cmds", {{{"c", "dataResponse"}, {"p", {{"serial", "3:5"}, {"body", "{\"a\":1}"}}}}}}},
    };
}

struct SplitEncoding {
    peer::PacketEncoding encoding;
    bool gzip;
};
const SplitEncoding kSplitEncodings[] = {{peer::PacketEncoding::JSON, false},
                                         {peer::PacketEncoding::JSON, true},
                                         {peer::PacketEncoding::MessagePack, false},
                                         {peer::PacketEncoding::MessagePack, true}};

// Feeds `whole` cut at `cuts`, each piece a chunk of its own, then `next` in one chunk;
// answers whether exactly the two came out, in order, and nothing was left waiting.
bool splitArrives(MVApiChunkReader& reader, const SplitEncoding& e, const json& packet,
                  const std::string& whole, const std::vector<size_t>& cuts, const json& next,
                  const std::string& nextBytes) {
    reader.start(MVApiChunkStateHeader,
                 e.encoding == peer::PacketEncoding::JSON ? MVApiContentTypeJSON
                                                          : MVApiContentTypeMessagePack,
                 e.gzip);
    std::vector<json> got;
    const auto take = [&got](json& p) { got.push_back(std::move(p)); };
    size_t from = 0;
    std::string stream;
    for (size_t cut : cuts) {
        stream += encodeChunk(whole.substr(from, cut - from));
        from = cut;
    }
    stream += encodeChunk(whole.substr(from)) + encodeChunk(nextBytes);
    if (reader.append(stream, take) != Outcome::Ok) return false;
    return got.size() == 2 && got[0] == packet && got[1] == next && !reader.isInsidePacket() &&
           reader.combinedBytes() == 0;
}

class NestedSplitTest : public MVApiChunkReaderTest,
                        public testing::WithParamInterface<SplitEncoding> {};

// A well-formed packet split at any byte, in two and in three, is handed over once.
TEST_P(NestedSplitTest, APacketSplitAtAnyByteInTwoOrThreeArrivesOnce) {
    const SplitEncoding& e = GetParam();
    const json next = collection(8);
    const std::string nextBytes = payload(next, e.encoding, e.gzip);
    MVApiChunkReader reader;
    for (const json& packet : nestedPackets()) {
        SCOPED_TRACE(packet["serial"]);
        const std::string whole = payload(packet, e.encoding, e.gzip);
        size_t rows = 0;
        size_t failed = 0;
        const auto row = [&](const std::vector<size_t>& cuts) {
            ++rows;
            if (splitArrives(reader, e, packet, whole, cuts, next, nextBytes)) return;
            if (++failed <= 3) ADD_FAILURE() << "cut at " << testing::PrintToString(cuts);
        };
        // In three only where commands carry collections of their own (the work grows
        // with the square of the size).
        const bool inThree = packet["cmds"][0]["c"] != "dataResponse";
        for (size_t a = 1; a < whole.size(); ++a) {
            row({a});
            for (size_t b = a + 1; inThree && b < whole.size(); ++b) row({a, b});
        }
        EXPECT_EQ(failed, 0u) << "of " << rows;
    }
    EXPECT_FALSE(logged("MVApiConnection"));
}

INSTANTIATE_TEST_SUITE_P(Table, NestedSplitTest, testing::ValuesIn(kSplitEncodings),
                         [](const testing::TestParamInfo<SplitEncoding>& info) {
                             return std::string(info.param.encoding == peer::PacketEncoding::JSON
                                                    ? "JSON"
                                                    : "MessagePack") +
                                    (info.param.gzip ? "Gzip" : "");
                         });

// A packet cut at a whole collection nested in it: the bytes after it decide, as one
// stream; the nested collection is never a packet of its own.
struct WaitingRow {
    const char* name;
    std::vector<std::string> after;  // "nested", "rest", "other", "start", "startInTwo"
    std::vector<int> expected;       // 0: the whole packet, 2: the other, 9: start
    bool dropped;                    // a packet cut short is logged
};

const WaitingRow kWaitingRows[] = {
    {"TheJoinCompletes", {"nested", "rest"}, {0}, false},
    // A packet where no value may stand: the cut one is dropped.
    {"AnotherPacketFollowsTheCollection", {"nested", "other"}, {2}, true},
    // A whole packet where a value may stand is that value: it goes with the cut packet.
    {"APacketStartFollowsTheCut", {"start"}, {}, false},
    {"APacketStartInTwoFollowsTheCut", {"startInTwo"}, {}, false},
    {"ThePacketStartFollowsTheCollection", {"nested", "start"}, {9}, true},
    {"NothingFollows", {"nested"}, {}, false},
    {"NothingFollowsTheCut", {}, {}, false},
};

class WaitingCollectionTest
    : public MVApiChunkReaderTest,
      public testing::WithParamInterface<std::tuple<WaitingRow, peer::PacketEncoding>> {};

TEST_P(WaitingCollectionTest, TheBytesDecide) {
    const auto& [row, encoding] = GetParam();
    const json nested = {{"ver", "2.1"}, {"cmds", {{{"c", "vibrate"}}}}};
    const json other = {{"ver", "2.1"}, {"cmds", {{{"c", "other"}}}}};
    json packet = collection(3);
    packet["cmds"] = {{{"c", "bootApp"}, {"p", nested}}};
    const std::string whole = payload(packet, encoding);
    const std::string inner = payload(nested, encoding);
    const size_t at = whole.find(inner);
    ASSERT_NE(at, std::string::npos);
    start(encoding == peer::PacketEncoding::JSON ? MVApiContentTypeJSON
                                                 : MVApiContentTypeMessagePack);
    EXPECT_EQ(feed(encodeChunk(whole.substr(0, at))), Outcome::Ok);
    const std::string start = payload(collection(9), encoding);
    for (const std::string& piece : row.after) {
        if (piece == "nested") feed(encodeChunk(inner));
        if (piece == "rest") feed(encodeChunk(whole.substr(at + inner.size())));
        if (piece == "other") feed(encodeChunk(payload(other, encoding)));
        if (piece == "start") feed(encodeChunk(start));
        if (piece == "startInTwo") {
            feed(encodeChunk(start.substr(0, start.size() / 2)));
            feed(encodeChunk(start.substr(start.size() / 2)));
        }
    }
    std::vector<json> expected;
    for (int which : row.expected)
        expected.push_back(which == 0 ? packet : which == 2 ? other : collection(9));
    EXPECT_EQ(packets_, expected);
    EXPECT_EQ(reader_.isInsidePacket(), expected.empty());
    EXPECT_EQ(logged(fmt::format(
                  "MVApiConnection dropped an incomplete packet of {} bytes: a whole packet "
                  "followed it",
                  at + inner.size())),
              row.dropped);
    // What follows is read as before (by the next packet at the latest, where the cut
    // packet still waits and the first may be its missing value).
    EXPECT_EQ(feed(encodeChunk(payload(collection(10), encoding))), Outcome::Ok);
    EXPECT_EQ(feed(encodeChunk(payload(collection(11), encoding))), Outcome::Ok);
    ASSERT_FALSE(packets_.empty());
    EXPECT_EQ(packets_.back(), collection(11));
    // Where the cut packet still waits for a value, 10 is that value.
    if (!row.after.empty()) {
        ASSERT_GE(packets_.size(), 2u);
        EXPECT_EQ(packets_[packets_.size() - 2], collection(10));
    }
}

// JSON only: a MessagePack packet cut there reads what follows as its own values, and
// the reader loses its place where they cannot be (see APacketCutShortTakesNoGoodPacketWithIt).
INSTANTIATE_TEST_SUITE_P(
    Table, WaitingCollectionTest,
    testing::Combine(testing::ValuesIn(kWaitingRows), testing::Values(peer::PacketEncoding::JSON)),
    [](const testing::TestParamInfo<std::tuple<WaitingRow, peer::PacketEncoding>>& info) {
        return std::string(std::get<0>(info.param).name) + "JSON";
    });

}  // namespace
