// A legacy request carries one packet and its end, and a packet whose answer never came
// goes again on the next connection, whatever persistence the failed connection's head
// announced. A persistent connection whose head does not come within its bound (a proxy
// that waits for the whole request body holds it back) turns persistence off as a close
// before the head does: the next connections are legacy, for the hold-back time.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "libmerovane/connection/MVApiConnection.h"
#include "libmerovane/connection/MVApiPacketEncoder.h"
#include "platform/foundation/TestDriver.h"
#include "tests/connection/TestCommand.h"
#include "tests/support/ApiConnectionTest.h"

using namespace peer;
using nlohmann::json;

namespace {

MVApiConnectionPacket numberedPacket(int64_t serial) {
    return {MVApiPacketEncoder::chunk(json{{"serial", serial}}.dump()), serial};
}

std::vector<int64_t> serialsIn(const std::vector<ReceivedPacket>& packets) {
    std::vector<int64_t> serials;
    for (const auto& p : packets)
        if (p.decoded.value.contains("serial")) serials.push_back(p.decoded.value["serial"]);
    return serials;
}

const HeadFields kHandshake{{"X-Merovane-Api", "Velkram"}};

struct UnansweredRow {
    const char* name;
    // The first (legacy) connection's answer: a head (with the handshake or without), or
    // none; then nothing more, or a reset once its packet is in.
    bool head;
    bool handshake;
    bool reset;
    // The clock the client needs to give up on it: its head bound, or the legacy
    // response's idle bound.
    double bound;
};

const UnansweredRow kUnansweredRows[] = {
    // A cold proxy: the head with the handshake, then the response never ends.
    {"HandshakeThenSilence", true, true, false, MVApiConnection::kLegacyResponseIdleTimeout},
    {"HandshakeThenReset", true, true, true, 0},
    {"PlainHeadThenSilence", true, false, false, MVApiConnection::kLegacyResponseIdleTimeout},
    {"PlainHeadThenReset", true, false, true, 0},
    {"NoHeadWithinItsBound", false, false, false, MVApiConnection::kResponseHeadTimeout},
    {"NoHeadThenReset", false, false, true, 0},
};

class UnansweredPacketTest : public ApiConnectionTest,
                             public testing::WithParamInterface<UnansweredRow> {};

TEST_P(UnansweredPacketTest, IsSentAgainOnTheNextConnection) {
    const UnansweredRow& row = GetParam();
    ApiPeer peer;
    // The server's application holds nothing of the first connection: no client serial
    // tells the client what arrived.
    peer.setResponder([&row](const PeerEvent& event) -> std::vector<PeerAction> {
        if (event.connection == 0) {
            std::vector<PeerAction> actions;
            if (event.kind == PeerEvent::Kind::RequestHead && row.head)
                actions.push_back(
                    PeerAction::head(ResponseHead::ok(row.handshake ? kHandshake : HeadFields{})));
            if (event.kind == PeerEvent::Kind::BodyEnded && row.reset)
                actions.push_back(PeerAction::reset());
            return actions;
        }
        if (event.kind == PeerEvent::Kind::RequestHead)
            return {PeerAction::head(ResponseHead::ok(kHandshake))};
        if (event.kind == PeerEvent::Kind::BodyEnded)
            return {PeerAction::lastChunk(), PeerAction::endOfStream()};
        return {};
    });
    auto& connection = startConnection(peerUrl(peer));
    connection.setIsAllowedToReadCommands(true);
    connection.appendPendingPacketForTesting(numberedPacket(1));
    connection.submitCommandDataPacket(numberedPacket(2));
    ASSERT_TRUE(
        waitFor([&] { return peer.connectionCount() > 0 && peer.connection(0).bodyEnded; }));
    if (row.head && !row.reset) {
        ASSERT_TRUE(waitFor([&] { return connection.state() == MVApiConnectionStateStreaming; }));
    }
    // Packet 2 is queued while packet 1 waits for its answer: it never joins it.
    EXPECT_FALSE(platform::runUntil([&] { return peer.connection(0).packets.size() > 1; }, 0.1));
    platform::advanceBy(row.bound);
    ASSERT_TRUE(waitForClosed(connection));
    ASSERT_TRUE(drive([&] { return peer.packetCount() >= 3; }, 200, 0.5));
    EXPECT_EQ(serialsIn(peer.connection(0).packets), (std::vector<int64_t>{1}));
    EXPECT_TRUE(peer.connection(0).received.ends_with("\r\n0\r\n\r\n"));
    std::vector<int64_t> later;
    for (const auto& p : peer.packets())
        if (p.connection > 0 && p.decoded.value.contains("serial"))
            later.push_back(p.decoded.value["serial"]);
    EXPECT_EQ(later, (std::vector<int64_t>{1, 2}));
}

INSTANTIATE_TEST_SUITE_P(Table, UnansweredPacketTest, testing::ValuesIn(kUnansweredRows),
                         [](const testing::TestParamInfo<UnansweredRow>& info) {
                             return std::string(info.param.name);
                         });

struct HeldHeadRow {
    const char* name;
    // How the persistent connection's head fails to come: held back past the bound, or
    // the server ends the connection first.
    bool endsBeforeHead;
    const char* line;
};

const HeldHeadRow kHeldHeadRows[] = {
    {"HeldBackPastItsBound", false,
     "MVApiConnection received no HTTP response head on a persistent connection within 30 "
     "seconds. Assuming connection is not persistent anymore"},
    {"EndedBeforeItsHead", true,
     "MVApiConnection did not receive a HTTP response from a gracefully shut persistent "
     "connection. Assuming connection is not persistent anymore"},
};

class HeldHeadTest : public ApiConnectionTest, public testing::WithParamInterface<HeldHeadRow> {};

TEST_P(HeldHeadTest, TurnsPersistenceOffAndLegacyRequestsCarryThePackets) {
    const HeldHeadRow& row = GetParam();
    ApiPeer peer;
    // As a proxy that waits for the whole body: a body that ends is answered, one that
    // stays open never is.
    peer.setResponder([&row](const PeerEvent& event) -> std::vector<PeerAction> {
        if (event.kind == PeerEvent::Kind::RequestHead && row.endsBeforeHead &&
            event.connection == 1)
            return {PeerAction::endOfStream()};
        if (event.kind == PeerEvent::Kind::BodyEnded)
            return {PeerAction::head(ResponseHead::ok(kHandshake)), PeerAction::lastChunk(),
                    PeerAction::endOfStream()};
        return {};
    });
    host_->setDefaultApiPath(peerUrl(peer));
    auto& connection = MVApiConnection::sharedConnection();
    connection.setIsAllowedToReadCommands(true);
    connection.appendPendingPacketForTesting(numberedPacket(1));
    connection.setSerialsForTesting(1, 0);
    ASSERT_TRUE(drive([&] { return peer.connectionCount() == 2; }));
    if (!row.endsBeforeHead) {
        EXPECT_TRUE(connection.hasPersistentConnection());
        EXPECT_FALSE(platform::runUntil([&] { return logged(row.line); }, 0.1));
        platform::advanceBy(MVApiConnection::kResponseHeadTimeout);
    }
    ASSERT_TRUE(waitFor([&] { return logged(row.line); }));
    ASSERT_TRUE(waitForClosed(connection));
    EXPECT_FALSE(connection.supportsPersistentConnection());

    // Every packet from now on goes on a legacy request of its own and is answered, though
    // each answer carries the handshake.
    for (int i = 0; i < 3; ++i) {
        connection.sendCommands({testCommand("command" + std::to_string(i))});
        ASSERT_TRUE(
            drive([&] { return peer.packetCount() == static_cast<size_t>(i + 2); }, 600, 0.1));
        const size_t index = peer.connectionCount() - 1;
        ASSERT_TRUE(drive([&] { return !connection.isConnectionOpened(); }, 600, 0.1));
        EXPECT_TRUE(peer.connection(index).bodyEnded) << index;
        EXPECT_EQ(peer.connection(index).packets.size(), 1u) << index;
        EXPECT_FALSE(connection.hasPersistentConnection());
    }
    EXPECT_EQ(connection.pendingDataToServerPosition(), connection.pendingPacketCount());

    // Past the hold-back the handshake turns persistence on again.
    platform::advanceBy(MVApiConnection::kPersistenceHoldBack);
    const size_t before = peer.connectionCount();
    connection.sendCommands({testCommand("later")});
    ASSERT_TRUE(drive([&] { return peer.connectionCount() == before + 2; }, 600, 0.1));
    EXPECT_TRUE(connection.hasPersistentConnection());
    EXPECT_FALSE(peer.connection(before + 1).bodyEnded);
}

INSTANTIATE_TEST_SUITE_P(Table, HeldHeadTest, testing::ValuesIn(kHeldHeadRows),
                         [](const testing::TestParamInfo<HeldHeadRow>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
