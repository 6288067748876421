// The streaming connection against the loopback peer: framing, batching, resending,
// legacy and persistent connections, keep-alive, the downstream reader and hand-over,
// the reading gate and the application's background transitions.
#include <gtest/gtest.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <thread>

#include "libmerovane/connection/MVApiConnection.h"
#include "libmerovane/connection/MVApiPacketEncoder.h"
#include "libmerovane/core/MVCommandTrace.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/TestDriver.h"
#include "tests/connection/ServerCommandRecorder.h"
#include "tests/connection/TestCommand.h"
#include "tests/support/ApiConnectionTest.h"

using namespace testsupport;
using namespace peer;
using nlohmann::json;

namespace {

// A pending packet whose payload names its serial.
MVApiConnectionPacket packet(int64_t serial) {
    return {MVApiPacketEncoder::chunk(json{{"serial", serial}}.dump()), serial};
}

HeadFields persistent(HeadFields more = {}) {
    more.insert(more.begin(), {"X-Merovane-Api", "Velkram"});
    return more;
}

// A server that answers every request head with 200 and `fields` and ends a legacy
// response once its body has ended.
PeerResponder answering(HeadFields fields) {
    return [fields](const PeerEvent& event) -> std::vector<PeerAction> {
        if (event.kind == PeerEvent::Kind::RequestHead)
            return {PeerAction::head(ResponseHead::ok(fields))};
        if (event.kind == PeerEvent::Kind::BodyEnded)
            return {PeerAction::lastChunk(), PeerAction::endOfStream()};
        return {};
    };
}

std::vector<int64_t> serialsOf(const std::vector<ReceivedPacket>& packets) {
    std::vector<int64_t> serials;
    for (const auto& p : packets)
        if (p.decoded.value.contains("serial")) serials.push_back(p.decoded.value["serial"]);
    return serials;
}

size_t keepAlivesOf(const std::vector<ReceivedPacket>& packets) {
    size_t count = 0;
    for (const auto& p : packets) count += p.decoded.value == json::object();
    return count;
}

class MVApiStreamingTest : public ApiConnectionTest {
  protected:
    void SetUp() override {
        ApiConnectionTest::SetUp();
        ServerCommandRecorder::install();
        MVErrorLogger::clearReports();
    }

    // The shared connection to `peer` with the reading gate open and `pending` packets
    // of serials 1, 2, ... waiting, after its first opening.
    MVApiConnection& open(const ApiPeer& peer, int64_t pending = 0, bool gateOpen = true) {
        host_->setDefaultApiPath(peerUrl(peer));
        auto& connection = MVApiConnection::sharedConnection();
        connection.setIsAllowedToReadCommands(gateOpen);
        for (int64_t serial = 1; serial <= pending; ++serial)
            connection.appendPendingPacketForTesting(packet(serial));
        platform::advanceBy(MVApiConnection::kStartDelay);
        return connection;
    }

    size_t openings() { return loggedCount("MVApiConnection establishing connection..."); }

    static bool hasBody(const ApiPeer& peer, size_t connection) {
        return peer.connectionCount() > connection && peer.connection(connection).bodyEnded;
    }

    // Keep-alive lines logged on one stream thread.
    size_t keepAlivesLoggedOn(const std::string& thread) {
        platform::log::flush();
        size_t count = 0;
        for (const auto& message : log_->messages())
            count += message.threadName == thread &&
                     message.text == "MVApiConnection sending keep-alive packet";
        return count;
    }
};

// Framing -------------------------------------------------------------------------------

TEST_F(MVApiStreamingTest, ALegacyRequestCarriesOneChunkThenTheLastChunkAndNothingMore) {
    ApiPeer peer;
    peer.setDefaultScript({.head = ResponseHead::ok(), .afterHead = {}});
    host_->setDefaultApiPath(peerUrl(peer));
    auto& connection = MVApiConnection::sharedConnection();
    connection.setIsAllowedToReadCommands(true);
    const std::string payload = R"({"a":"bcdefghijklmnopqrs"})";
    connection.appendPendingPacketForTesting({MVApiPacketEncoder::chunk(payload), 1});
    platform::advanceBy(MVApiConnection::kStartDelay);
    ASSERT_TRUE(waitFor([&] { return hasBody(peer, 0); }));
    auto first = peer.connection(0);
    EXPECT_EQ(first.received.substr(first.requestHead->raw.size()),
              "1A\r\n" + payload + "\r\n0\r\n\r\n");

    // The next packet waits for the next request.
    connection.sendCommands({testCommand("more")});
    platform::advanceBy(MVApiConnection::kCommandBatchDelay);
    ASSERT_TRUE(waitFor([&] { return connection.pendingPacketCount() == 2; }));
    peer.perform(0, {PeerAction::lastChunk(), PeerAction::endOfStream()});
    ASSERT_TRUE(drive([&] { return peer.packetCount() == 2; }));
    EXPECT_EQ(peer.packets()[1].connection, 1u);
    EXPECT_EQ(peer.connection(0).received, first.received);
}

// Batching --------------------------------------------------------------------------------

TEST_F(MVApiStreamingTest, CallsFiveMillisecondsApartShareOnePacket) {
    ApiPeer peer;
    peer.setResponder(answering({}));
    auto& connection = open(peer);
    std::vector<std::string> traced;  // main thread
    MVCommandTrace::setObserver(
        [&](MVCommandTrace::Direction direction, std::string_view version, std::string_view name) {
            traced.push_back(std::string(MVCommandTrace::directionName(direction)) + " " +
                             std::string(version) + " " + std::string(name));
        });
    connection.sendCommands({testCommand("first")});
    platform::advanceBy(0.005);
    EXPECT_TRUE(traced.empty());  // traced as the batch leaves
    connection.sendCommands({testCommand("second", json{{"k", "v"}}), testCommand("third")});
    platform::advanceBy(0.005);
    ASSERT_TRUE(drive([&] { return peer.packetCount() == 1; }));
    MVCommandTrace::setObserver(nullptr);
    EXPECT_EQ(traced, (std::vector<std::string>{"up 2.1 first", "up 2.1 second", "up 2.1 third"}));
    const json sent = peer.packets()[0].decoded.value;
    EXPECT_EQ(sent,
              (json{{"cmds",
                     {{{"c", "first"}}, {{"c", "second"}, {"p", {{"k", "v"}}}}, {{"c", "third"}}}},
                    {"serial", 1},
                    {"ver", "2.1"},
                    {"vars", json::object()},
                    {"conn", "unkown"}}));
}

TEST_F(MVApiStreamingTest, CallsTwentyMillisecondsApartMakeTwoPackets) {
    ApiPeer peer;
    peer.setResponder(answering({}));
    auto& connection = open(peer);
    connection.sendCommands({testCommand("first")});
    platform::advanceBy(0.02);
    connection.sendCommands({testCommand("second")});
    platform::advanceBy(0.02);
    ASSERT_TRUE(drive([&] { return peer.packetCount() == 2; }));
    const auto packets = peer.packets();
    EXPECT_EQ(serialsOf(packets), (std::vector<int64_t>{1, 2}));
    EXPECT_EQ(packets[0].decoded.value["cmds"], json::parse(R"([{"c":"first"}])"));
    EXPECT_EQ(packets[1].decoded.value["cmds"], json::parse(R"([{"c":"second"}])"));
}

TEST_F(MVApiStreamingTest, PacketsLeaveInSerialOrder) {
    ApiPeer peer;
    peer.setResponder(answering(persistent()));
    auto& connection = open(peer);
    for (int i = 0; i < 30; ++i) {
        connection.sendCommands(
            {testCommand("c" + std::to_string(i), json{{"pad", std::string(i * 500, 'x')}})});
        platform::advanceBy(MVApiConnection::kCommandBatchDelay);
    }
    ASSERT_TRUE(drive([&] { return serialsOf(peer.packets()).size() >= 30; }));
    std::vector<int64_t> expected(30);
    for (int i = 0; i < 30; ++i) expected[i] = i + 1;
    EXPECT_EQ(serialsOf(peer.packets()), expected);
}

TEST_F(MVApiStreamingTest, AnEmptyListOfCommandsIsAProgrammingError) {
    ApiPeer peer;
    auto& connection = open(peer);
    EXPECT_THROW(connection.sendCommands({}), platform::Exception);
    EXPECT_TRUE(logged("MVApiConnection tried to send 0 commands."));
}

// Resending -------------------------------------------------------------------------------

TEST_F(MVApiStreamingTest, TheClientSerialResendsThePacketsAfterIt) {
    ApiPeer peer;
    peer.setResponder([](const PeerEvent& event) -> std::vector<PeerAction> {
        if (event.kind == PeerEvent::Kind::RequestHead)
            return {PeerAction::head(ResponseHead::ok(
                persistent(event.connection == 1 ? HeadFields{{"X-Merovane-Api-CSerial", "3"}}
                                                 : HeadFields{})))};
        if (event.kind == PeerEvent::Kind::BodyEnded)
            return {PeerAction::lastChunk(), PeerAction::endOfStream()};
        return {};
    });
    open(peer, 5);
    ASSERT_TRUE(drive([&] {
        const auto serials = peer.connectionCount() == 2 ? serialsOf(peer.connection(1).packets)
                                                         : std::vector<int64_t>{};
        return !serials.empty() && serials.back() == 5;
    }));
    // The first went on the legacy request. The persistent connection waits for its head,
    // which says the server holds 3: then 4 and 5, and nothing else.
    EXPECT_EQ(serialsOf(peer.connection(0).packets), (std::vector<int64_t>{1}));
    EXPECT_EQ(serialsOf(peer.connection(1).packets), (std::vector<int64_t>{4, 5}));
}

// Legacy and persistent ------------------------------------------------------------------

TEST_F(MVApiStreamingTest, ALegacyAnswerWithTheHandshakeSwitchesToPersistentAndKeepsItAlive) {
    ApiPeer peer;
    peer.setResponder(answering(persistent()));
    auto& connection = open(peer, 1);
    ASSERT_TRUE(waitFor([&] {
        return logged(
            "MVApiConnection switching to persistent api connection. Reconnecting now...");
    }));
    ASSERT_TRUE(waitForClosed(connection));
    platform::advanceBy(0.009);
    EXPECT_EQ(openings(), 1u);
    platform::advanceBy(0.001);
    EXPECT_EQ(openings(), 2u);
    // The persistent connection sends a keep-alive right after its head...
    ASSERT_TRUE(waitFor([&] {
        return peer.connectionCount() == 2 && keepAlivesOf(peer.connection(1).packets) == 1;
    }));
    EXPECT_TRUE(connection.hasPersistentConnection());
    EXPECT_FALSE(peer.connection(1).bodyEnded);
    // ...and every 19 s.
    platform::advanceBy(18.9);
    EXPECT_EQ(loggedCount("MVApiConnection sending keep-alive packet"), 1u);
    platform::advanceBy(0.1);
    ASSERT_TRUE(waitFor([&] { return keepAlivesOf(peer.connection(1).packets) == 2; }));
    platform::advanceBy(19);
    ASSERT_TRUE(waitFor([&] { return keepAlivesOf(peer.connection(1).packets) == 3; }));
}

TEST_F(MVApiStreamingTest, AKeepAliveAlsoFollowsTheLastPacketWrite) {
    ApiPeer peer;
    peer.setResponder(answering(persistent()));
    auto& connection = open(peer, 1);
    ASSERT_TRUE(drive([&] {
        return peer.connectionCount() == 2 && keepAlivesOf(peer.connection(1).packets) == 1;
    }));
    platform::advanceBy(10);
    connection.sendCommands({testCommand("late")});
    platform::advanceBy(MVApiConnection::kCommandBatchDelay);
    ASSERT_TRUE(waitFor([&] { return peer.connection(1).packets.size() == 2; }));
    // The upstream thread's chain starts at the write: 19 s after it, not before.
    EXPECT_EQ(keepAlivesLoggedOn(MVApiConnection::kUpstreamThreadName), 0u);
    platform::advanceBy(18.99);
    EXPECT_EQ(keepAlivesLoggedOn(MVApiConnection::kUpstreamThreadName), 0u);
    platform::advanceBy(0.01);
    EXPECT_EQ(keepAlivesLoggedOn(MVApiConnection::kUpstreamThreadName), 1u);
    platform::advanceBy(19);
    EXPECT_EQ(keepAlivesLoggedOn(MVApiConnection::kUpstreamThreadName), 2u);
    EXPECT_GE(keepAlivesLoggedOn(MVApiConnection::kDownstreamThreadName), 3u);
}

TEST_F(MVApiStreamingTest, PersistenceSwitchedOffStaysOffForTheNextConnection) {
    ApiPeer peer;
    // The persistent connection's server ends it without a head.
    peer.setResponder([](const PeerEvent& event) -> std::vector<PeerAction> {
        if (event.kind == PeerEvent::Kind::RequestHead) {
            if (event.connection == 1) return {PeerAction::endOfStream()};
            return {PeerAction::head(ResponseHead::ok(persistent()))};
        }
        if (event.kind == PeerEvent::Kind::BodyEnded)
            return {PeerAction::lastChunk(), PeerAction::endOfStream()};
        return {};
    });
    open(peer, 3);
    ASSERT_TRUE(drive([&] {
        return logged(
            "MVApiConnection did not receive a HTTP response from a gracefully shut persistent "
            "connection. Assuming connection is not persistent anymore");
    }));
    // The packet of the cut connection goes again, on a legacy request.
    ASSERT_TRUE(drive([&] { return hasBody(peer, 2); }));
    EXPECT_EQ(serialsOf(peer.connection(2).packets), (std::vector<int64_t>{2}));
    const auto third = peer.connection(2);
    EXPECT_TRUE(third.received.ends_with("0\r\n\r\n"));
}

// The downstream reader --------------------------------------------------------------------

// The reader's own tests split JSON too; this one follows a packet to its performing.
TEST_F(MVApiStreamingTest, AMessagePackPacketOverThreeChunksIsPerformedOnce) {
    ApiPeer peer;
    const std::string payload =
        encodePacket(ServerCommandRecorder::collection({{"n", 1}}), PacketEncoding::MessagePack);
    const size_t third = payload.size() / 3;
    peer.setDefaultScript(
        {.head = ResponseHead::ok({{"Content-Type", "application/msgpack"}}),
         .afterHead = {PeerAction::chunk(payload.substr(0, third)),
                       PeerAction::chunk(payload.substr(third, third)),
                       PeerAction::chunk(payload.substr(2 * third)),
                       PeerAction::packet(ServerCommandRecorder::collection({{"n", 2}}),
                                          PacketEncoding::MessagePack)}});
    open(peer);
    ASSERT_TRUE(waitFor([] { return ServerCommandRecorder::performed().size() == 2; }));
    EXPECT_EQ(ServerCommandRecorder::performed(), (std::vector<json>{{{"n", 1}}, {{"n", 2}}}));
}

TEST_F(MVApiStreamingTest, ABadChunkTerminatorClosesAndReconnectsAfterFiveSeconds) {
    ApiPeer peer;
    peer.setDefaultScript(
        {.head = ResponseHead::ok(), .afterHead = {PeerAction::raw("5\r\nhello!!")}});
    auto& connection = open(peer);
    ASSERT_TRUE(waitFor([&] {
        return logged(
            "MVApiConnection closed. Chunk not terminted correctly. Reconnecting in 5 seconds...");
    }));
    ASSERT_TRUE(waitForClosed(connection));
    platform::advanceBy(4.99);
    EXPECT_EQ(openings(), 1u);
    platform::advanceBy(0.01);
    EXPECT_EQ(openings(), 2u);
}

TEST_F(MVApiStreamingTest, AFramingErrorSendsTheLegacyPacketInFlightAgain) {
    ApiPeer peer;
    // The first response turns bad once the request's packet is in.
    peer.setResponder([](const PeerEvent& event) -> std::vector<PeerAction> {
        if (event.kind == PeerEvent::Kind::RequestHead)
            return {PeerAction::head(ResponseHead::ok())};
        if (event.kind == PeerEvent::Kind::BodyEnded && event.connection == 0)
            return {PeerAction::raw("5\r\nhello!!")};
        return {};
    });
    auto& connection = open(peer, 1);
    ASSERT_TRUE(waitFor([&] { return hasBody(peer, 0); }));
    ASSERT_TRUE(waitFor([&] { return logged("Chunk not terminted correctly"); }));
    ASSERT_TRUE(waitForClosed(connection));
    platform::advanceBy(MVApiConnection::kErrorReconnectDelay);
    ASSERT_TRUE(waitFor([&] { return hasBody(peer, 1); }));
    EXPECT_EQ(serialsOf(peer.connection(1).packets), (std::vector<int64_t>{1}));
}

TEST_F(MVApiStreamingTest, TheServerSerialIsReportedByTheNextHead) {
    ApiPeer peer;
    peer.queueScript({.head = ResponseHead::ok(persistent()),
                      .afterHead = {PeerAction::packet(
                                        {{"ver", "2.1"}, {"cmds", json::array()}, {"serial", 42}}),
                                    PeerAction::endOfStream()}});
    peer.setDefaultScript({.head = ResponseHead::ok(persistent()), .afterHead = {}});
    open(peer);
    ASSERT_TRUE(
        drive([&] { return peer.connectionCount() == 2 && peer.connection(1).requestHead; }));
    EXPECT_EQ(peer.connection(1).requestHead->field("X-Merovane-Api-SSerial"), "42");
}

TEST_F(MVApiStreamingTest, TheServerSerialIsTakenBeforeTheCollectionIsHandedOver) {
    ApiPeer peer;
    json collection = ServerCommandRecorder::collection({{"n", 1}});
    collection["serial"] = 42;
    peer.setDefaultScript({.head = ResponseHead::ok(), .afterHead = {}});
    auto& connection = open(peer);
    ASSERT_TRUE(waitFor([&] { return connection.state() == MVApiConnectionStateStreaming; }));
    peer.perform(0, PeerAction::packet(collection));
    // Without running the main loop: the downstream thread has taken the serial although
    // the collection still waits for the main thread.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (connection.downstreamSerial() != 42 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    EXPECT_EQ(connection.downstreamSerial(), 42);
    EXPECT_TRUE(ServerCommandRecorder::performed().empty());
    ASSERT_TRUE(waitFor([] { return ServerCommandRecorder::performed().size() == 1; }));
}

// The reading gate and the application's state ---------------------------------------------

TEST_F(MVApiStreamingTest, ClosedGateLeavesPacketsInTheSocketUntilItOpens) {
    ApiPeer peer;
    peer.setDefaultScript(
        {.head = ResponseHead::ok(),
         .afterHead = {PeerAction::packet(ServerCommandRecorder::collection({{"n", 1}}))}});
    auto& connection = open(peer, 0, false);
    ASSERT_TRUE(waitFor([&] { return connection.state() == MVApiConnectionStateStreaming; }));
    ASSERT_TRUE(waitFor([&] { return peer.connection(0).actionsCompleted == 2; }));
    platform::runUntilIdle();
    EXPECT_TRUE(ServerCommandRecorder::performed().empty());
    connection.setIsAllowedToReadCommands(true);
    EXPECT_TRUE(waitFor([] { return ServerCommandRecorder::performed().size() == 1; }));
}

TEST_F(MVApiStreamingTest, TheBackgroundClosesOnlyAPersistentConnection) {
    ApiPeer peer;
    peer.setResponder(answering(persistent()));
    auto& connection = open(peer);
    ASSERT_TRUE(waitFor([&] { return connection.state() == MVApiConnectionStateStreaming; }));
    // Legacy: stays.
    connection.applicationDidEnterBackground();
    platform::runUntilIdle();
    EXPECT_TRUE(connection.isConnectionOpened());
    // Persistent: closed in the background, restored in the foreground.
    connection.sendCommands({testCommand("x")});
    platform::advanceBy(MVApiConnection::kCommandBatchDelay);
    // The persistent connection's head has come when its keep-alive has.
    ASSERT_TRUE(drive([&] {
        return peer.connectionCount() == 2 && keepAlivesOf(peer.connection(1).packets) == 1;
    }));
    connection.applicationDidEnterBackground();
    EXPECT_TRUE(waitFor([&] { return !connection.isConnectionOpened(); }));
    EXPECT_TRUE(logged("MVApiConnection closing persistent connection..."));
    const size_t before = openings();
    connection.applicationWillEnterForeground();
    EXPECT_TRUE(logged("MVApiConnection restoring persistent connection..."));
    EXPECT_TRUE(waitFor([&] { return peer.connectionCount() == 3; }));
    EXPECT_EQ(openings(), before + 1);
}

TEST_F(MVApiStreamingTest, TheForegroundOpensNothingWithoutPersistence) {
    ApiPeer peer;
    peer.setResponder(answering({}));
    auto& connection = open(peer);
    ASSERT_TRUE(waitFor([&] { return connection.state() == MVApiConnectionStateStreaming; }));
    connection.applicationWillEnterForeground();
    platform::runUntilIdle();
    EXPECT_FALSE(logged("restoring persistent connection"));
    EXPECT_EQ(openings(), 1u);
}

}  // namespace
