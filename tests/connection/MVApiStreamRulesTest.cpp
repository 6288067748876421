// What the streaming connection takes from the server's packets: the server serial only
// from a collection the command handler performs, and nothing lost to a failure in the
// reader.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "libmerovane/connection/MVApiConnection.h"
#include "platform/foundation/TestDriver.h"
#include "tests/connection/ServerCommandRecorder.h"
#include "tests/support/ApiConnectionTest.h"
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
    {"AFailingReadKeepsThePacketsBeforeIt",
     {streamText(streamPacket(41)), R"({"ver":"2.1","cmds":[],"d":")", "{", R"("k":[)"},
     {41, 98, 99},
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

}  // namespace
