// The downstream body is a stream of packets, whatever the chunks a proxy cuts it into:
// several packets in one chunk, every split of two and of three packets, in each
// encoding, with merchant data of every shape inside: every collection performed once,
// in order, no merchant map performed, the server serial from the last packet; a bad
// packet between good ones costs only itself.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "libmerovane/connection/MVApiConnection.h"
#include "tests/connection/ServerCommandRecorder.h"
#include "tests/support/ApiConnectionTest.h"
#include "tools/peer/Gzip.h"

using namespace peer;
using nlohmann::json;

namespace {

constexpr int kMerchantN = 9999;  // what a merchant collection records, if performed

// The merchant data packet `n` carries, by turns: maps with "ver", "serial" and "cmds" at
// any depth and in any key order, strings that look like packet starts.
json merchantData(int n) {
    const json collection = ServerCommandRecorder::collection({{"n", kMerchantN}});
    json withSerial = collection;
    withSerial["serial"] = 99999;
    switch (n % 6) {
        case 0:
            return {{"devices", json::array({withSerial})}};
        case 1:
            return {
                {"data", {{"deep", {{"ver", "4.1"}, {"serial", "SN-1"}, {"cmds", collection}}}}}};
        case 2:
            return {{"note", withSerial.dump()}};
        case 3:
            return {{"note", "}{" + collection.dump() + "\r\n{"}};
        case 4:
            return {{"body", withSerial}, {"tail", "\x1f\u00e9"}};
        default:
            return json::object();
    }
}

json goodPacket(int n) {
    json p = merchantData(n);
    p["n"] = n;
    json c = ServerCommandRecorder::collection(p);
    c["serial"] = n;
    return c;
}

struct ChunkingEncoding {
    const char* name;
    PacketEncoding encoding;
    bool gzip;
};

class MVApiChunkingTest : public ApiConnectionTest,
                          public testing::WithParamInterface<ChunkingEncoding> {
  protected:
    void SetUp() override {
        ApiConnectionTest::SetUp();
        ServerCommandRecorder::install();
    }

    std::string bytes(const json& packet) const {
        return encodePacket(packet, GetParam().encoding, GetParam().gzip);
    }

    // Streams from `peer`, whose heads announce the row's encoding.
    MVApiConnection& stream(ApiPeer& peer) {
        const ChunkingEncoding e = GetParam();
        peer.setResponder([e](const PeerEvent& event) {
            std::vector<PeerAction> actions;
            if (event.kind != PeerEvent::Kind::RequestHead) return actions;
            HeadFields fields = {
                {"X-Merovane-Api", "Velkram"},
                {"Content-Type",
                 e.encoding == PacketEncoding::JSON ? "application/json" : "application/msgpack"}};
            if (e.gzip) fields.push_back({"Content-Encoding", "gzip"});
            actions.push_back(PeerAction::head(ResponseHead::ok(fields)));
            return actions;
        });
        auto& connection = startConnection(peerUrl(peer));
        EXPECT_TRUE(waitFor([&] { return connection.state() == MVApiConnectionStateStreaming; }));
        connection.setIsAllowedToReadCommands(true);
        return connection;
    }

    // The "n" of every collection performed.
    static std::vector<int> performedNs() {
        std::vector<int> out;
        for (const json& p : ServerCommandRecorder::performed()) out.push_back(p.value("n", -1));
        return out;
    }

    // Waits until `expected` has been performed (or more), then compares.
    void expectPerformed(MVApiConnection& connection, const std::vector<int>& expected) {
        EXPECT_TRUE(
            waitFor([&] { return ServerCommandRecorder::performedCount() >= expected.size(); }));
        EXPECT_EQ(performedNs(), expected);
        EXPECT_EQ(connection.downstreamSerial(), expected.back());
        EXPECT_EQ(connection.state(), MVApiConnectionStateStreaming);
    }
};

TEST_P(MVApiChunkingTest, EveryChunkingPerformsEveryCollectionOnceInOrder) {
    ApiPeer peer;
    auto& connection = stream(peer);
    int n = 0;
    std::vector<int> expected;
    // `count` packets, numbered on, as one body cut at each of `cutsOf(body sizes)`.
    const auto next = [&](size_t count) {
        std::vector<std::string> payloads;
        for (size_t k = 0; k < count; ++k) {
            payloads.push_back(bytes(goodPacket(++n)));
            expected.push_back(n);
        }
        return payloads;
    };
    const auto total = [](const std::vector<std::string>& payloads) {
        size_t size = 0;
        for (const auto& p : payloads) size += p.size();
        return size;
    };
    std::vector<PeerAction> actions;
    // Several packets in one chunk, heartbeats between them.
    {
        auto five = next(5);
        std::vector<std::string> body;
        for (auto& p : five) {
            body.push_back(std::move(p));
            body.push_back("\r\n");
        }
        actions.push_back(PeerAction::packetsChunked(body));
    }
    // Every split of two packets.
    for (size_t cut = 1;; ++cut) {
        auto two = next(2);
        const size_t size = total(two);
        actions.push_back(PeerAction::packetsChunked(two, {cut}));
        if (cut + 1 >= size) break;
    }
    // Three packets: every first split, with a second one a packet's length on (or just
    // after it, near the end).
    for (size_t cut = 1;; ++cut) {
        auto three = next(3);
        const size_t size = total(three);
        const size_t second = cut + size / 3 < size ? cut + size / 3 : cut + 1;
        actions.push_back(PeerAction::packetsChunked(three, {cut, second}));
        if (cut + 2 >= size) break;
    }
    peer.perform(0, std::move(actions));
    expectPerformed(connection, expected);
    EXPECT_FALSE(logged("MVApiConnection dropped"));
    EXPECT_FALSE(logged("MVApiConnection could not"));
}

// A bad packet between two good ones, the three cut at every point: the bad one is
// logged and dropped, the good ones performed.
TEST_P(MVApiChunkingTest, ABadPacketBetweenGoodOnesCostsOnlyItself) {
    const ChunkingEncoding& e = GetParam();
    std::vector<std::string> bad;
    if (e.gzip) {
        std::string broken = bytes(goodPacket(1));
        broken[broken.size() / 2] ^= 0x55;  // a corrupt member
        bad = {broken, gzipCompress("[1]"), gzipCompress("{\"ver\":")};
    } else if (e.encoding == PacketEncoding::JSON) {
        bad = {R"({"ver":"2.1","cmds":[})", "[1,2]", "garbage",
               R"({"ver":"2.1","cmds":[{"c":"x","p":{"v":tru}}]})"};
    } else {
        bad = {std::string("\x93\x01\x02\x03", 4), std::string("\x81\xa1v\xd4\x01\x02", 6)};
    }
    ApiPeer peer;
    auto& connection = stream(peer);
    int n = 0;
    std::vector<int> expected;
    std::vector<PeerAction> actions;
    for (const std::string& broken : bad) {
        const size_t size = bytes(goodPacket(n + 1)).size() + broken.size() + 1;
        for (size_t cut = 1; cut < size; ++cut) {
            std::vector<std::string> body{bytes(goodPacket(n + 1)), broken,
                                          bytes(goodPacket(n + 2))};
            actions.push_back(PeerAction::packetsChunked(body, {cut}));
            expected.push_back(++n);
            expected.push_back(++n);
        }
    }
    peer.perform(0, std::move(actions));
    expectPerformed(connection, expected);
    EXPECT_TRUE(logged("MVApiConnection could not") || logged("is not a dictionary"));
}

INSTANTIATE_TEST_SUITE_P(
    Table, MVApiChunkingTest,
    testing::Values(ChunkingEncoding{"JSON", PacketEncoding::JSON, false},
                    ChunkingEncoding{"MessagePack", PacketEncoding::MessagePack, false},
                    ChunkingEncoding{"JSONGzip", PacketEncoding::JSON, true},
                    ChunkingEncoding{"MessagePackGzip", PacketEncoding::MessagePack, true}),
    [](const testing::TestParamInfo<ChunkingEncoding>& info) {
        return std::string(info.param.name);
    });

}  // namespace
