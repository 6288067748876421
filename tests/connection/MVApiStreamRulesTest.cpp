// What the streaming connection takes from the server's packets: the server serial only
// from a collection the command handler performs, nothing lost to a failure in the
// reader, and a begun packet waits for its rest, its merchant data never a packet.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "libmerovane/connection/MVApiConnection.h"
#include "platform/foundation/TestDriver.h"
#include "tests/connection/ServerCommandRecorder.h"
#include "tests/support/ApiConnectionTest.h"
#include "tools/peer/ChunkedCoding.h"
#include "tools/peer/PacketCodec.h"

using namespace peer;
using nlohmann::json;

namespace {

json streamPacket(int64_t n) {
    json c = ServerCommandRecorder::collection({{"n", n}});
    c["serial"] = n;
    return c;
}

std::string streamText(const json& packet) {
    return encodePacket(packet, PacketEncoding::JSON);
}

std::vector<json> performedNs() {
    std::vector<json> out;
    for (const json& p : ServerCommandRecorder::performed()) out.push_back(p.value("n", json()));
    return out;
}

class MVApiStreamRulesTest : public ApiConnectionTest {
  protected:
    void SetUp() override {
        ApiConnectionTest::SetUp();
        ServerCommandRecorder::install();
    }

    // Sends `payload` as one chunk and waits until the connection has read it.
    void sendChunk(ApiPeer& peer, const std::string& payload) {
        auto& connection = MVApiConnection::sharedConnection();
        const uint64_t before = connection.streamedBytes();
        peer.perform(0, PeerAction::chunk(payload));
        const uint64_t after = before + encodeChunk(payload).size();
        ASSERT_TRUE(waitFor([&] { return connection.streamedBytes() >= after; }));
    }
};

// Packets as chunks, then two marker collections (98 and 99, without serials).
struct SerialRow {
    const char* name;
    std::vector<std::string> chunks;
    std::vector<json> performed;  // the "n" of each command performed
    int64_t serial;               // the server serial afterwards
};

const SerialRow kSerialRows[] = {
    // The chunk reader once failed on the third piece and took the first packet with it.
    // The pieces are one stream: the cut packet's open array takes the packet after it
    // in, and the reader finds its feet at the next packet that follows a whole one.
    {"AFailingReadKeepsThePacketsBeforeIt",
     {streamText(streamPacket(41)), R"({"ver":"2.1","cmds":[],"d":")", "{", R"("k":[)"},
     {41, 99},
     41},
    {"AVersionThatIsNoString",
     {streamText(streamPacket(41)),
      R"({"ver":2.1,"serial":900,"cmds":[{"c":"recordServerCommand","p":{"n":900}}]})"},
     {41, 98, 99},
     41},
    {"NoVersion",
     {streamText(streamPacket(41)),
      R"({"serial":900,"cmds":[{"c":"recordServerCommand","p":{"n":900}}]})"},
     {41, 98, 99},
     41},
    {"CommandsThatAreNoArray",
     {streamText(streamPacket(41)), R"({"ver":"2.1","serial":900,"cmds":{}})"},
     {41, 98, 99},
     41},
    {"ASerialBehind",
     {streamText(streamPacket(41)), streamText(streamPacket(40))},
     {41, 40, 98, 99},
     41},
    {"ASerialAhead",
     {streamText(streamPacket(41)), streamText(streamPacket(42))},
     {41, 42, 98, 99},
     42},
};

void PrintTo(const SerialRow& row, std::ostream* out) {
    *out << row.name;
}

class ServerSerialTest : public MVApiStreamRulesTest,
                         public testing::WithParamInterface<SerialRow> {};

TEST_P(ServerSerialTest, ComesOnlyFromPerformedCollections) {
    const SerialRow& row = GetParam();
    ApiPeer peer;
    streamTo(peer);
    auto& connection = MVApiConnection::sharedConnection();
    connection.setIsAllowedToReadCommands(true);
    std::vector<PeerAction> actions;
    for (const std::string& chunk : row.chunks) actions.push_back(PeerAction::chunk(chunk));
    for (int n : {98, 99})
        actions.push_back(
            PeerAction::chunk(streamText(ServerCommandRecorder::collection({{"n", n}}))));
    peer.perform(0, std::move(actions));
    ASSERT_TRUE(waitFor([] {
        const auto numbers = performedNs();
        return !numbers.empty() && numbers.back() == 99;
    }));
    EXPECT_EQ(performedNs(), row.performed);
    EXPECT_EQ(connection.downstreamSerial(), row.serial);
    EXPECT_EQ(connection.state(), MVApiConnectionStateStreaming);
}

INSTANTIATE_TEST_SUITE_P(Table, ServerSerialTest, testing::ValuesIn(kSerialRows),
                         [](const testing::TestParamInfo<SerialRow>& info) {
                             return std::string(info.param.name);
                         });

// A packet cut at a merchant map that is a whole collection, whose rest comes slowly: the
// map is no packet, the packet waits for its rest, and one that stalls ends the connection
// at the stall bound. Heartbeats inside it are its white space.
struct SlowPacketRow {
    const char* name;
    enum class Then { KeepsArriving, Stalls, HeartbeatsThenTheRest } then;
};

void PrintTo(const SlowPacketRow& row, std::ostream* out) {
    *out << row.name;
}

class SlowPacketTest : public MVApiStreamRulesTest,
                       public testing::WithParamInterface<SlowPacketRow> {};

TEST_P(SlowPacketTest, OnlyTheWholePacketIsPerformed) {
    using Then = SlowPacketRow::Then;
    const SlowPacketRow& row = GetParam();
    ApiPeer peer;
    streamTo(peer);
    auto& connection = MVApiConnection::sharedConnection();
    connection.setIsAllowedToReadCommands(true);
    const json merchant = ServerCommandRecorder::collection({{"n", 2}});
    json packet = streamPacket(5);
    packet["cmds"][0]["p"] = {{"n", 5}, {"nested", merchant}, {"z", std::string(3000, 'x')}};
    const std::string whole = streamText(packet);
    const std::string inner = streamText(merchant);
    const size_t at = whole.find(inner);
    ASSERT_NE(at, std::string::npos);
    const std::string rest = whole.substr(at + inner.size());
    sendChunk(peer, whole.substr(0, at));
    sendChunk(peer, inner);
    ASSERT_TRUE(connection.isInsideChunk());
    const double step = MVApiConnection::kChunkStallTimeout * 2 / 3;
    const auto nothingYet = [&](double wait) {
        platform::advanceBy(wait);
        platform::runUntilIdle();
        EXPECT_TRUE(ServerCommandRecorder::performed().empty());
    };
    switch (row.then) {
        case Then::KeepsArriving:
            for (size_t i = 0; i < 3; ++i) {
                nothingYet(step);
                const size_t from = i * rest.size() / 3;
                sendChunk(peer, rest.substr(from, (i + 1) * rest.size() / 3 - from));
            }
            ASSERT_TRUE(waitFor([] { return !ServerCommandRecorder::performed().empty(); }));
            EXPECT_EQ(performedNs(), std::vector<json>{5});
            EXPECT_EQ(connection.downstreamSerial(), 5);
            break;
        case Then::Stalls:
            nothingYet(step);
            sendChunk(peer, rest.substr(0, rest.size() / 2));
            nothingYet(MVApiConnection::kChunkStallTimeout - 0.1);
            platform::advanceBy(0.2);
            ASSERT_TRUE(waitFor([this] { return logged("MVApiConnection chunk stalled"); }));
            platform::runUntilIdle();
            EXPECT_TRUE(ServerCommandRecorder::performed().empty());
            EXPECT_EQ(connection.downstreamSerial(), 0);
            break;
        case Then::HeartbeatsThenTheRest:
            nothingYet(step / 2);
            sendChunk(peer, "\r\n");
            nothingYet(step / 2);
            sendChunk(peer, "\r\n" + rest);
            ASSERT_TRUE(waitFor([] { return !ServerCommandRecorder::performed().empty(); }));
            EXPECT_EQ(performedNs(), std::vector<json>{5});
            break;
    }
    EXPECT_FALSE(logged("MVApiConnection dropped an incomplete packet"));
}

INSTANTIATE_TEST_SUITE_P(
    Table, SlowPacketTest,
    testing::Values(SlowPacketRow{"KeepsArriving", SlowPacketRow::Then::KeepsArriving},
                    SlowPacketRow{"Stalls", SlowPacketRow::Then::Stalls},
                    SlowPacketRow{"HeartbeatsThenTheRest",
                                  SlowPacketRow::Then::HeartbeatsThenTheRest}),
    [](const testing::TestParamInfo<SlowPacketRow>& info) { return std::string(info.param.name); });

}  // namespace
