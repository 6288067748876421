// Servers that stall, answer early or send much: the stall bounds and the reconnection
// they lead to, sendCommands while a large packet is read, and a legacy server that
// answers its head before it reads the body.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "libmerovane/connection/MVApiConnection.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/TestDriver.h"
#include "tests/connection/ServerCommandRecorder.h"
#include "tests/connection/TestCommand.h"
#include "tests/support/ApiConnectionTest.h"
#include "tools/peer/ChunkedCoding.h"

using namespace testsupport;
using namespace peer;
using nlohmann::json;

namespace {

// Answers every request head at once with 200 and ends a response once its body ended.
std::vector<PeerAction> answer(const PeerEvent& event) {
    if (event.kind == PeerEvent::Kind::RequestHead) return {PeerAction::head(ResponseHead::ok())};
    if (event.kind == PeerEvent::Kind::BodyEnded)
        return {PeerAction::lastChunk(), PeerAction::endOfStream()};
    return {};
}

// As answer(), but the first response stays open after its body ended.
std::vector<PeerAction> answerLeavingTheFirstOpen(const PeerEvent& event) {
    if (event.kind == PeerEvent::Kind::BodyEnded && event.connection == 0) return {};
    return answer(event);
}

class MVApiSlowServerTest : public ApiConnectionTest {
  protected:
    void SetUp() override {
        ApiConnectionTest::SetUp();
        ServerCommandRecorder::install();
    }

    MVApiConnection& open(const std::string& url) {
        host_->setDefaultApiPath(url);
        auto& connection = MVApiConnection::sharedConnection();
        connection.setIsAllowedToReadCommands(true);
        return connection;
    }

    // Real I/O and the clock by turns, 10 ms of clock each; bounded.
    static bool drive(const std::function<bool()>& done) {
        for (int i = 0; i < 600; ++i) {
            if (platform::runUntil(done, 0.05)) return true;
            platform::advanceBy(0.01);
        }
        return done();
    }

    size_t openings() { return loggedCount("MVApiConnection establishing connection..."); }

    // A command goes to a server that takes the request and then does `stall`; at the
    // bound the connection fails, and 5 s later the command reaches the next server.
    void expectTheNextServerAfter(std::vector<PeerAction> stall) {
        ApiPeer stalled;
        stalled.setDefaultScript({.head = std::nullopt, .afterHead = std::move(stall)});
        ApiPeer next;
        next.setResponder(answer);
        route("api.example", 80, stalled.port());
        auto& connection = open("http://api.example");
        connection.sendCommands({testCommand("stalled")});
        platform::advanceBy(MVApiConnection::kStartDelay);  // the request head goes at 0.01
        ASSERT_TRUE(waitFor(
            [&] { return stalled.connectionCount() == 1 && stalled.connection(0).requestHead; }));
        platform::advanceBy(MVApiConnection::kFirstPacketDelay);
        ASSERT_TRUE(waitFor([&] { return stalled.connection(0).bodyEnded; }));
        route("api.example", 80, next.port());

        const std::string line =
            "MVApiConnection received no response within 30 seconds. Will retry in 5 seconds...";
        platform::advanceBy(MVApiConnection::kResponseHeadTimeout - 0.02);
        platform::runUntilIdle();
        EXPECT_FALSE(logged(line));
        EXPECT_TRUE(connection.isConnectionOpened());
        platform::advanceBy(0.01);
        ASSERT_TRUE(waitFor([&] { return logged(line); }));
        ASSERT_TRUE(waitForClosed(connection));
        platform::advanceBy(MVApiConnection::kErrorReconnectDelay - 0.01);
        EXPECT_EQ(openings(), 1u);
        platform::advanceBy(0.01);
        EXPECT_EQ(openings(), 2u);
        ASSERT_TRUE(drive([&] { return next.packetCount() == 1; }));
        EXPECT_EQ(next.packets()[0].decoded.value["cmds"], json::parse(R"([{"c":"stalled"}])"));
        EXPECT_EQ(stalled.connectionCount(), 1u);
    }
};

TEST_F(MVApiSlowServerTest, AServerThatNeverAnswersIsLeftAtTheBound) {
    expectTheNextServerAfter({});
}

TEST_F(MVApiSlowServerTest, AServerThatSendsHalfAHeadIsLeftAtTheBound) {
    expectTheNextServerAfter({PeerAction::raw("HTTP/1.1 200 OK\r\nContent-Type: appl")});
}

TEST_F(MVApiSlowServerTest, ALegacyResponseSilentForAMinuteFailsAndItsPacketGoesAgain) {
    ApiPeer peer;
    peer.setResponder(answerLeavingTheFirstOpen);
    auto& connection = open(peerUrl(peer));
    connection.appendPendingPacketForTesting({encodeChunk(R"({"serial":1})"), 1});
    platform::advanceBy(MVApiConnection::kStartDelay);
    ASSERT_TRUE(waitFor([&] { return connection.state() == MVApiConnectionStateStreaming; }));
    platform::advanceBy(MVApiConnection::kFirstPacketDelay);
    ASSERT_TRUE(waitFor([&] { return peer.connection(0).bodyEnded; }));

    // Keep-alive traffic 50 s on puts the bound off.
    platform::advanceBy(50);
    peer.perform(0, {PeerAction::chunk("\r\n"),
                     PeerAction::packet(ServerCommandRecorder::collection({{"n", 1}}))});
    ASSERT_TRUE(waitFor([] { return ServerCommandRecorder::performed().size() == 1; }));
    const std::string line =
        "MVApiConnection response stalled for 60 seconds. Will retry in 5 seconds...";
    platform::advanceBy(MVApiConnection::kLegacyResponseIdleTimeout - 0.01);
    platform::runUntilIdle();
    EXPECT_FALSE(logged(line));
    platform::advanceBy(0.01);
    ASSERT_TRUE(waitFor([&] { return logged(line); }));
    ASSERT_TRUE(waitForClosed(connection));
    platform::advanceBy(MVApiConnection::kErrorReconnectDelay);
    ASSERT_TRUE(drive([&] { return peer.packetCount() == 2; }));
    EXPECT_EQ(peer.packets()[1].connection, 1u);
    EXPECT_EQ(peer.packets()[1].decoded.value, json({{"serial", 1}}));
}

TEST_F(MVApiSlowServerTest, ALargePacketInSmallChunksNeverHoldsUpSendCommands) {
    ApiPeer peer;
    peer.setDefaultScript({.head = ResponseHead::ok(), .afterHead = {}});
    auto& connection = open(peerUrl(peer));
    platform::advanceBy(MVApiConnection::kStartDelay);
    ASSERT_TRUE(waitFor([&] { return connection.state() == MVApiConnectionStateStreaming; }));
    json rows = json::array();
    for (int i = 0; i < 50000; ++i) rows.push_back({{"k", i}, {"s", "abcdefgh"}});
    const std::string payload =
        ServerCommandRecorder::collection({{"n", 1}, {"rows", std::move(rows)}}).dump();
    std::string stream;
    for (size_t at = 0; at < payload.size(); at += 1024)
        stream += encodeChunk(std::string_view(payload).substr(at, 1024));
    peer.perform(0, PeerAction::raw(std::move(stream)));

    // The main thread sends on while the packet is read and decoded.
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(120);
    Clock::duration longest{};
    while (Clock::now() < deadline) {
        const auto before = Clock::now();
        connection.sendCommands({testCommand("meanwhile")});
        longest = std::max(longest, Clock::now() - before);
        if (platform::runUntil([] { return !ServerCommandRecorder::performed().empty(); }, 0.001))
            break;
    }
    const auto performed = ServerCommandRecorder::performed();
    ASSERT_EQ(performed.size(), 1u);
    EXPECT_EQ(performed[0]["rows"].size(), 50000u);
    EXPECT_LT(longest, std::chrono::milliseconds(200));
}

// Waits for what another thread does, without running the main loop.
bool waitOffMain(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    return done();
}

// A packet queued after a legacy response ended, while the closing of that connection
// still waits for the main thread: the end found nothing pending and asked for no
// reopening, so the packet asks for it.
TEST_F(MVApiSlowServerTest, APacketQueuedWhileALegacyConnectionClosesGetsANewOne) {
    ApiPeer peer;
    peer.setResponder(answerLeavingTheFirstOpen);  // the test ends the first response
    auto& connection = open(peerUrl(peer));
    // What the connection and the peer hold, for a wait that failed.
    const auto seen = [&] {
        return fmt::format(
            "state {}, opened {}, position {}, next {}, packets {}, openings {}; peer: "
            "connections {}, packets {}",
            static_cast<int>(connection.state()), connection.isConnectionOpened(),
            connection.pendingDataToServerPosition(), connection.pendingDataToServerPositionNext(),
            connection.pendingPacketCount(), openings(), peer.connectionCount(),
            peer.packetCount());
    };
    connection.sendCommands({testCommand("first")});
    platform::advanceBy(MVApiConnection::kCommandBatchDelay);
    ASSERT_TRUE(drive([&] { return peer.connectionCount() == 1 && peer.connection(0).bodyEnded; }))
        << "waited for the first request's body to reach the peer; " << seen();

    peer.perform(0, {PeerAction::lastChunk(), PeerAction::endOfStream()});
    // The end is handled on the downstream thread; the closing is left to the main thread.
    ASSERT_TRUE(waitOffMain([&] { return connection.pendingDataToServerPosition() == 1; }))
        << "waited for the end of the first response to confirm its packet; " << seen();
    ASSERT_TRUE(connection.isConnectionOpened())
        << "the first connection closed before the main thread ran; " << seen();
    connection.submitCommandDataPacket({encodeChunk(R"({"serial":2})"), 2});
    ASSERT_TRUE(waitOffMain([&] { return connection.pendingPacketCount() == 2; }))
        << "waited for the upstream thread to queue the second packet; " << seen();

    ASSERT_TRUE(drive([&] { return peer.packetCount() == 2; }))
        << "waited for the second packet to reach the peer on a new connection; " << seen();
    EXPECT_EQ(peer.packets()[1].connection, 1u);
    EXPECT_EQ(peer.packets()[1].decoded.value, json({{"serial", 2}}));
    EXPECT_EQ(openings(), 2u);
}

// A legacy server that answers its head, with the client serial up to which it holds every
// packet, before it reads the body: the packet that body carries is already handed out,
// so it goes again on the next request. Nothing is lost; no serial arrives thrice.
TEST_F(MVApiSlowServerTest, ALegacyServerAnsweringBeforeTheBodyLosesNothing) {
    struct Server {
        std::mutex mutex;
        int64_t held = 0;  // every packet up to this serial
        std::map<int64_t, int> seen;
        std::vector<std::string> commands;
    } server;
    ApiPeer peer;
    peer.setResponder([&server](const PeerEvent& event) -> std::vector<PeerAction> {
        std::lock_guard lock(server.mutex);
        if (event.kind == PeerEvent::Kind::RequestHead) {
            HeadFields fields;
            if (server.held > 0)
                fields.push_back({"X-Merovane-Api-CSerial", std::to_string(server.held)});
            return {PeerAction::head(ResponseHead::ok(fields))};
        }
        if (event.kind == PeerEvent::Kind::Packet) {
            const json& packet = event.packet->decoded.value;
            const int64_t serial = platform::json::integerValue(packet, "serial");
            ++server.seen[serial];
            if (serial == server.held + 1) {
                server.held = serial;
                for (const auto& command : packet["cmds"]) server.commands.push_back(command["c"]);
            }
        }
        return answer(event);
    });
    auto& connection = open(peerUrl(peer));
    std::vector<std::string> expected;
    for (int i = 0; i < 6; ++i) {
        expected.push_back("command" + std::to_string(i));
        connection.sendCommands({testCommand(expected.back())});
        platform::advanceBy(MVApiConnection::kCommandBatchDelay);
    }
    ASSERT_TRUE(drive([&] {
        std::lock_guard lock(server.mutex);
        return server.commands.size() == expected.size();
    }));
    std::lock_guard lock(server.mutex);
    EXPECT_EQ(server.commands, expected);
    for (const auto& [serial, times] : server.seen) {
        SCOPED_TRACE(serial);
        EXPECT_LE(times, 2);
    }
}

}  // namespace
