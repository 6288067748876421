// Merchant data with "ver" and "serial" on the real stream: the map alone in a chunk,
// then the rest of its packet or the end of the connection. The server serial the next
// head reports comes only from packets performed, and never goes back.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "libmerovane/connection/MVApiConnection.h"
#include "platform/foundation/TestDriver.h"
#include "tests/connection/ServerCommandRecorder.h"
#include "tests/support/ApiConnectionTest.h"

using namespace peer;
using nlohmann::json;

namespace {

enum class MapThen { Rest, Close, LowerSerial };

struct MerchantStreamRow {
    const char* name;
    json mapSerial;
    MapThen after;
    PacketEncoding encoding;
    const char* reported;  // "X-Merovane-Api-SSerial" of the next connection
};

const MerchantStreamRow kMerchantStreamRows[] = {
    {"StringSerialThenTheRest", "SN-00042", MapThen::Rest, PacketEncoding::JSON, "6"},
    {"StringSerialThenTheClose", "SN-00042", MapThen::Close, PacketEncoding::JSON, "4"},
    {"LowSerialThenTheClose", 3, MapThen::Close, PacketEncoding::JSON, "4"},
    {"HighSerialThenTheClose", 900000, MapThen::Close, PacketEncoding::JSON, "4"},
    {"HighSerialThenTheRest", 900000, MapThen::Rest, PacketEncoding::JSON, "6"},
    {"StringSerialThenTheCloseMessagePack", "SN-00042", MapThen::Close, PacketEncoding::MessagePack,
     "4"},
    {"HighSerialThenTheCloseMessagePack", 900000, MapThen::Close, PacketEncoding::MessagePack, "4"},
    {"HighSerialThenTheRestMessagePack", 900000, MapThen::Rest, PacketEncoding::MessagePack, "6"},
    // A whole packet with a serial below the last: performed, the serial kept.
    {"APacketBehindTheSerial", 3, MapThen::LowerSerial, PacketEncoding::JSON, "4"},
};

json recordedParameters(int n, const json& map = nullptr) {
    json parameters = {{"n", n}};
    if (!map.is_null()) parameters["devices"] = json::array({map});
    return parameters;
}

json serverPacket(int serial, const json& map = nullptr) {
    json collection = ServerCommandRecorder::collection(recordedParameters(serial, map));
    collection["serial"] = serial;
    return collection;
}

class MerchantMapStreamTest : public ApiConnectionTest,
                              public testing::WithParamInterface<MerchantStreamRow> {
  protected:
    void SetUp() override {
        ApiConnectionTest::SetUp();
        ServerCommandRecorder::install();
    }
    // Real I/O and the clock by turns, so that a reconnection 0.01 s later happens.
    static bool driveStream(const std::function<bool()>& done) {
        for (int i = 0; i < 600; ++i) {
            if (platform::runUntil(done, 0.05)) return true;
            platform::advanceBy(0.01);
        }
        return done();
    }
};

TEST_P(MerchantMapStreamTest, TheMapIsNoPacketAndTheSerialComesFromPackets) {
    const MerchantStreamRow& row = GetParam();
    const json map = {{"ver", "4.1.2"}, {"serial", row.mapSerial}};
    const std::string whole = encodePacket(serverPacket(5, map), row.encoding);
    const std::string mapBytes = encodePacket(map, row.encoding);
    const size_t at = whole.find(mapBytes);
    ASSERT_NE(at, std::string::npos);
    const HeadFields fields = {
        {"X-Merovane-Api", "Velkram"},
        {"Content-Type",
         row.encoding == PacketEncoding::JSON ? "application/json" : "application/msgpack"}};

    std::vector<PeerAction> first = {PeerAction::packet(serverPacket(4), row.encoding)};
    std::vector<PeerAction> second;
    if (row.after == MapThen::LowerSerial) {
        first.push_back(PeerAction::packet(serverPacket(3), row.encoding));
    } else {
        // Up to the map, the map, then the rest or the end.
        first.push_back(PeerAction::chunk(whole.substr(0, at)));
        first.push_back(PeerAction::chunk(mapBytes));
        if (row.after == MapThen::Rest) {
            first.push_back(PeerAction::chunk(whole.substr(at + mapBytes.size())));
            first.push_back(PeerAction::packet(serverPacket(6), row.encoding));
        } else {
            // The server sends again what the next head says is missing.
            second = {PeerAction::packet(serverPacket(5, map), row.encoding),
                      PeerAction::packet(serverPacket(6), row.encoding)};
        }
    }
    first.push_back(PeerAction::endOfStream());
    ApiPeer peer;
    peer.queueScript({.head = ResponseHead::ok(fields), .afterHead = first});
    peer.setDefaultScript({.head = ResponseHead::ok(fields), .afterHead = second});

    auto& connection = startConnection(peerUrl(peer));
    connection.setIsAllowedToReadCommands(true);
    ASSERT_TRUE(
        driveStream([&] { return peer.connectionCount() >= 2 && peer.connection(1).requestHead; }));
    EXPECT_EQ(peer.connection(1).requestHead->field("X-Merovane-Api-SSerial"), row.reported);

    std::vector<json> expected = {recordedParameters(4)};
    if (row.after == MapThen::LowerSerial) {
        expected.push_back(recordedParameters(3));
    } else {
        expected.push_back(recordedParameters(5, map));
        expected.push_back(recordedParameters(6));
    }
    ASSERT_TRUE(
        waitFor([&] { return ServerCommandRecorder::performed().size() >= expected.size(); }));
    platform::runUntilIdle();
    EXPECT_EQ(ServerCommandRecorder::performed(), expected);
    EXPECT_FALSE(logged("MVApiConnection dropped an incomplete serverPacket"));
    EXPECT_FALSE(logged("payload is not a dictionary"));
    EXPECT_EQ(connection.downstreamSerial(),
              std::stoll(row.reported) + (row.after == MapThen::Close ? 2 : 0));
}

INSTANTIATE_TEST_SUITE_P(Table, MerchantMapStreamTest, testing::ValuesIn(kMerchantStreamRows),
                         [](const testing::TestParamInfo<MerchantStreamRow>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
