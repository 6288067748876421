// Merchant data inside a packet's commands may hold any key a packet holds ("ver",
// "serial", "cmds"): cut anywhere, the packet around it still arrives once, whole, and no
// map of its own passes for a packet.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "libmerovane/connection/MVApiChunkReader.h"
#include "tests/support/PlatformTest.h"
#include "tools/peer/ChunkedCoding.h"
#include "tools/peer/Gzip.h"

using nlohmann::json;
using nlohmann::ordered_json;

namespace {

// The merchant maps, each in both key orders.
struct MerchantMapRow {
    const char* name;
    ordered_json keysFirst;  // "ver" first
    ordered_json keysLast;   // "ver" last
};

std::vector<MerchantMapRow> merchantMapRows() {
    const ordered_json script = ordered_json::array({{{"c", "vibrate"}}});
    return {
        {"VerAndStringSerial",
         {{"ver", "4.1.2"}, {"serial", "SN-00042"}},
         {{"serial", "SN-00042"}, {"ver", "4.1.2"}}},
        {"VerAndNumericSerial",
         {{"ver", "4.1"}, {"serial", 900000}},
         {{"serial", 3}, {"ver", "4.1"}}},
        {"VerAndCmds", {{"ver", "2.1"}, {"cmds", script}}, {{"cmds", script}, {"ver", "2.1"}}},
        {"VerSerialAndCmds",
         {{"ver", "2.1"}, {"serial", 3}, {"cmds", script}},
         {{"cmds", script}, {"serial", "SN-00042"}, {"ver", "2.1"}}},
    };
}

// Packet `serial` whose commands carry `map` where merchants put data: a broadcast
// device list, a data response's body, a boot script's own data.
ordered_json packetCarrying(const ordered_json& map, int serial, int where, bool verFirst) {
    ordered_json command;
    if (where == 0) {
        command = {{"c", "broadcastEvent"},
                   {"p", {{"event", "devices"}, {"parameters", ordered_json::array({map})}}}};
    } else if (where == 1) {
        command = {{"c", "dataResponse"}, {"p", {{"serial", "3:5"}, {"body", map}}}};
    } else {
        command = {{"c", "bootApp"}, {"p", {{"data", map}, {"identifier", "boot-1"}}}};
    }
    const ordered_json commands = ordered_json::array({command, {{"c", "vibrate"}}});
    if (verFirst) return {{"ver", "2.0"}, {"serial", serial}, {"cmds", commands}};
    return {{"cmds", commands}, {"serial", serial}, {"ver", "2.0"}};
}

ordered_json plainMapPacket(int serial) {
    return {
        {"ver", "2.1"}, {"serial", serial}, {"cmds", ordered_json::array({{{"c", "vibrate"}}})}};
}

struct MapEncoding {
    const char* name;
    bool messagePack;
    bool gzip;
    size_t map = 0;  // the merchant map, for the table of every cut
};

std::string encodeMapPacket(const ordered_json& packet, const MapEncoding& e) {
    std::string bytes;
    if (e.messagePack) {
        const auto packed = ordered_json::to_msgpack(packet);
        bytes.assign(packed.begin(), packed.end());
    } else {
        bytes = packet.dump();
    }
    return e.gzip ? peer::gzipCompress(bytes) : bytes;
}

class MerchantMapCutTest : public PlatformTest, public testing::WithParamInterface<MapEncoding> {
  protected:
    // Packet 4 whole, `whole` cut at `cuts` (each piece a chunk), packet 6 whole, in one
    // append; answers whether exactly the three came out, in order, nothing waiting.
    bool arrivesOnce(const std::string& whole, const std::vector<size_t>& cuts,
                     const json& expected) {
        const MapEncoding& e = GetParam();
        reader_.start(MVApiChunkStateHeader,
                      e.messagePack ? MVApiContentTypeMessagePack : MVApiContentTypeJSON, e.gzip);
        std::string stream = peer::encodeChunk(before_);
        size_t from = 0;
        for (size_t cut : cuts) {
            stream += peer::encodeChunk(whole.substr(from, cut - from));
            from = cut;
        }
        stream += peer::encodeChunk(whole.substr(from)) + peer::encodeChunk(after_);
        std::vector<json> got;
        if (reader_.append(stream, [&got](json& p) { got.push_back(std::move(p)); }) !=
            MVApiChunkReader::Outcome::Ok)
            return false;
        return got.size() == 3 && got[0] == json::parse(plainMapPacket(4).dump()) &&
               got[1] == expected && got[2] == json::parse(plainMapPacket(6).dump()) &&
               !reader_.isInsidePacket() && reader_.combinedBytes() == 0;
    }

    MVApiChunkReader reader_;
    std::string before_ = encodeMapPacket(plainMapPacket(4), GetParam());
    std::string after_ = encodeMapPacket(plainMapPacket(6), GetParam());
};

// Every two- and three-way cut of every packet: the packet once, between its neighbours.
// Each map in both key orders (the packet's too), each in turn in each of the places; one
// map per test, so that the table runs in parallel.
class EveryCutTest : public MerchantMapCutTest {};

TEST_P(EveryCutTest, EveryCutOfEveryPacketArrivesOnce) {
    size_t rows = 0;
    size_t failed = 0;
    const auto maps = merchantMapRows();
    const size_t index = GetParam().map;
    {
        const auto& map = maps[index];
        for (const bool verFirst : {true, false}) {
            const int where = static_cast<int>((index * 2 + verFirst) % 3);
            {
                const ordered_json packet =
                    packetCarrying(verFirst ? map.keysFirst : map.keysLast, 5, where, verFirst);
                const json expected = json::parse(packet.dump());
                const std::string whole = encodeMapPacket(packet, GetParam());
                const auto row = [&](const std::vector<size_t>& cuts) {
                    ++rows;
                    if (arrivesOnce(whole, cuts, expected)) return;
                    if (++failed <= 5)
                        ADD_FAILURE() << map.name << " in " << where << " ver first " << verFirst
                                      << ": cut at " << testing::PrintToString(cuts);
                };
                for (size_t a = 1; a < whole.size(); ++a) {
                    row({a});
                    for (size_t b = a + 1; b < whole.size(); ++b) row({a, b});
                }
            }
        }
    }
    EXPECT_EQ(failed, 0u) << "of " << rows;
    EXPECT_FALSE(logged("MVApiConnection"));
}

// The map alone in its chunk, then silence: no map is handed over, whatever keys it
// holds, and the packet's start stays until the rest comes.
TEST_P(MerchantMapCutTest, TheIsolatedMapIsNeverAPacket) {
    if (GetParam().gzip) GTEST_SKIP() << "a cut of the deflated bytes isolates no map";
    for (const auto& map : merchantMapRows()) {
        for (const bool verFirst : {true, false}) {
            SCOPED_TRACE(testing::Message() << map.name << " ver first " << verFirst);
            const ordered_json& inner = verFirst ? map.keysFirst : map.keysLast;
            const ordered_json packet = packetCarrying(inner, 5, 0, verFirst);
            const std::string whole = encodeMapPacket(packet, GetParam());
            const std::string mapBytes = encodeMapPacket(inner, GetParam());
            const size_t at = whole.find(mapBytes);
            ASSERT_NE(at, std::string::npos);
            reader_.start(
                MVApiChunkStateHeader,
                GetParam().messagePack ? MVApiContentTypeMessagePack : MVApiContentTypeJSON, false);
            std::vector<json> got;
            const auto take = [&got](json& p) { got.push_back(std::move(p)); };
            reader_.append(peer::encodeChunk(whole.substr(0, at)) + peer::encodeChunk(mapBytes),
                           take);
            EXPECT_TRUE(got.empty());
            EXPECT_TRUE(reader_.isInsidePacket());
            // The rest completes the packet.
            reader_.append(peer::encodeChunk(whole.substr(at + mapBytes.size())), take);
            ASSERT_EQ(got.size(), 1u);
            EXPECT_EQ(got[0], json::parse(packet.dump()));
        }
    }
}

const MapEncoding kMapEncodings[] = {{"JSON", false, false},
                                     {"JSONGzip", false, true},
                                     {"MessagePack", true, false},
                                     {"MessagePackGzip", true, true}};

INSTANTIATE_TEST_SUITE_P(Table, MerchantMapCutTest, testing::ValuesIn(kMapEncodings),
                         [](const testing::TestParamInfo<MapEncoding>& info) {
                             return std::string(info.param.name);
                         });

std::vector<MapEncoding> everyMapInEveryEncoding() {
    std::vector<MapEncoding> all;
    for (const MapEncoding& e : kMapEncodings)
        for (size_t map = 0; map < merchantMapRows().size(); ++map) {
            all.push_back(e);
            all.back().map = map;
        }
    return all;
}

INSTANTIATE_TEST_SUITE_P(Table, EveryCutTest, testing::ValuesIn(everyMapInEveryEncoding()),
                         [](const testing::TestParamInfo<MapEncoding>& info) {
                             return std::string(merchantMapRows()[info.param.map].name) +
                                    info.param.name;
                         });

}  // namespace

namespace {

// A packet cut inside a MessagePack array that would take many more values: the whole
// packets after it are its values (the bytes say so), none of them is performed, and
// the end of the body drops the cut packet with them.
class SwallowedCollectionsTest : public PlatformTest {};

TEST_F(SwallowedCollectionsTest, CollectionsInsideACutPacketAreNeverPerformed) {
    const size_t count = 296;
    MVApiChunkReader reader;
    reader.start(MVApiChunkStateHeader, MVApiContentTypeMessagePack, false);
    // {"ver":"2.1","cmds": an array of 65535 values, cut there.
    std::string cut =
        "\x82\xa3ver\xa3"
        "2.1\xa4"
        "cmds\xdc\xff\xff";
    std::vector<json> got;
    const auto take = [&got](json& p) { got.push_back(std::move(p)); };
    reader.append(peer::encodeChunk(cut), take);
    size_t bytes = cut.size();
    for (size_t serial = 1; serial <= count; ++serial) {
        const ordered_json packet = {
            {"ver", "2.1"}, {"serial", serial}, {"cmds", ordered_json::array()}};
        const std::string payload = encodeMapPacket(packet, {"MessagePack", true, false});
        bytes += payload.size();
        reader.append(peer::encodeChunk(payload), take);
    }
    EXPECT_TRUE(got.empty());
    EXPECT_TRUE(reader.isInsidePacket());
    reader.append(peer::kLastChunk, take);
    EXPECT_TRUE(got.empty());
    EXPECT_TRUE(logged("MVApiConnection dropped an incomplete packet of " + std::to_string(bytes) +
                       " bytes: the body ended"));
    EXPECT_FALSE(reader.isInsidePacket());
}

}  // namespace
