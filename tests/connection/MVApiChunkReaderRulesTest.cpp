// The chunk reader's rules where packets are cut short: a broken packet never throws or
// costs the good packets before it; the reader finds its feet at the first packet that
// follows a whole value, and a packet whose bytes never end is held no longer than the
// bound on a packet.
#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>

#include "libmerovane/connection/MVApiChunkReader.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "tests/support/PlatformTest.h"
#include "tools/peer/ChunkedCoding.h"
#include "tools/peer/PacketCodec.h"

using nlohmann::json;
using peer::PacketEncoding;

namespace {

json rulesPacket(int serial, size_t pad = 0) {
    json c = {{"ver", "2.1"}, {"serial", serial}, {"cmds", json::array()}};
    if (pad > 0) c["pad"] = std::string(pad, 'x');
    return c;
}

std::string rulesPayload(const json& packet, PacketEncoding encoding) {
    return peer::encodePacket(packet, encoding);
}

// A MessagePack map whose "cmds" announces 2^32 - 1 elements and never has them.
const std::string kEndlessRulesPack = std::string(
    "\x82\xa3ver\xa3"
    "2.1\xa4"
    "cmds\xdd\xff\xff\xff\xff");

struct RulesRow {
    const char* name;
    PacketEncoding encoding;
    std::function<std::vector<std::string>()> chunks;
    std::vector<int> serials;  // of the packets handed over, in order
};

const RulesRow kRulesRows[] = {
    {"AJoinThatFailsAfterNewerStartsJSON",
     PacketEncoding::JSON,
     [] {
         return std::vector<std::string>{rulesPayload(rulesPacket(41), PacketEncoding::JSON),
                                         R"({"ver":"2.1","cmds":[],"d":")", "{", R"("k":[)"};
     },
     // The open array takes packet 100 in; 101 follows a whole value.
     {41, 101}},
    // Three pieces of a packet that looked like starts; then the server gives up on it.
    {"APacketAfterAnAbandonedOneWithStartsEnoughJSON",
     PacketEncoding::JSON,
     [] {
         const std::string next = rulesPayload(rulesPacket(7), PacketEncoding::JSON);
         return std::vector<std::string>{R"({"ver":"2.1","cmds":[{"c":"x","p":{"d":)",
                                         R"({"k":)",
                                         R"({"k":)",
                                         R"({"k":)",
                                         next.substr(0, next.size() / 2),
                                         next.substr(next.size() / 2)};
     },
     // The pieces and packet 7 are values of the abandoned packet, as its bytes say.
     {100, 101}},
    {"ThePacketBoundKeepsTheCollectionsBehindACutOneMessagePack",
     PacketEncoding::MessagePack,
     [] {
         std::vector<std::string> chunks{kEndlessRulesPack};
         for (int n = 1; n <= 90; ++n)
             chunks.push_back(rulesPayload(rulesPacket(n, 200000), PacketEncoding::MessagePack));
         return chunks;
     },
     // The packets are the endless array's values: none is performed, and the reader
     // holds no more than the bound while it follows the array.
     {}},
};

void PrintTo(const RulesRow& row, std::ostream* out) {
    *out << row.name;
}

class ChunkReaderRulesTest : public PlatformTest, public testing::WithParamInterface<RulesRow> {
  protected:
    void SetUp() override {
        PlatformTest::SetUp();
        MVErrorLogger::clearReports();
    }
};

TEST_P(ChunkReaderRulesTest, NoBadPacketTakesGoodOnesWithIt) {
    const RulesRow& row = GetParam();
    MVApiChunkReader reader;
    reader.start(
        MVApiChunkStateHeader,
        row.encoding == PacketEncoding::JSON ? MVApiContentTypeJSON : MVApiContentTypeMessagePack,
        false);
    std::vector<int> serials;
    const auto take = [&](json& packet) { serials.push_back(packet.value("serial", -1)); };
    const auto feed = [&](const std::string& payload) {
        EXPECT_NO_THROW({
            EXPECT_EQ(reader.append(peer::encodeChunk(payload), take),
                      MVApiChunkReader::Outcome::Ok);
        });
    };
    for (const std::string& chunk : row.chunks()) feed(chunk);
    // What follows is read as before (by the next packet at the latest, where a cut packet
    // still waits and the first may be its missing value).
    for (int n : {100, 101}) feed(rulesPayload(rulesPacket(n), row.encoding));
    EXPECT_EQ(serials, row.serials);
    EXPECT_LE(reader.combinedBytes(), MVApiChunkReader::kMaxPacketSize);
}

INSTANTIATE_TEST_SUITE_P(Table, ChunkReaderRulesTest, testing::ValuesIn(kRulesRows),
                         [](const testing::TestParamInfo<RulesRow>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
