// Servers that misbehave on the stream, against the peer's streaming server: a packet
// cut short, a chunk that stops half way, a server that closes every connection at once
// and one that cuts its connections every few packets. Every good packet is performed
// once and in order, the server serial reported never passes a good packet that was
// not performed, and the client's packets reach the server in serial order.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "libmerovane/connection/MVApiConnection.h"
#include "libmerovane/core/MVConnectionLossMonitor.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/foundation/TestDriver.h"
#include "tests/connection/ServerCommandRecorder.h"
#include "tests/connection/TestCommand.h"
#include "tests/support/ApiConnectionTest.h"
#include "tools/peer/StreamingServer.h"

using namespace testsupport;
using namespace peer;
using nlohmann::json;

namespace {

struct Encoding {
    PacketEncoding encoding;
    bool gzip;
};
const Encoding kEncodings[] = {{PacketEncoding::JSON, false},
                               {PacketEncoding::JSON, true},
                               {PacketEncoding::MessagePack, false},
                               {PacketEncoding::MessagePack, true}};

std::string describe(const Encoding& e) {
    return std::string(e.encoding == PacketEncoding::JSON ? "JSON" : "MessagePack") +
           (e.gzip ? " gzip" : "");
}

json numbered(int64_t serial) {
    json c = ServerCommandRecorder::collection({{"n", serial}});
    c["serial"] = serial;
    return c;
}

std::vector<json> performedUpTo(int64_t last, const std::set<int64_t>& lost = {}) {
    std::vector<json> out;
    for (int64_t n = 1; n <= last; ++n)
        if (!lost.contains(n)) out.push_back({{"n", n}});
    return out;
}

std::vector<int64_t> oneTo(int64_t last) {
    std::vector<int64_t> out;
    for (int64_t n = 1; n <= last; ++n) out.push_back(n);
    return out;
}

// Takes the shared connection down when a row ends, before its peer goes.
struct TakeDownAtEnd {
    ~TakeDownAtEnd() { platform::resetSharedInstancesForTesting(); }
};

class MVApiFaultyServerTest : public ApiConnectionTest {
  protected:
    void SetUp() override {
        ApiConnectionTest::SetUp();
        ServerCommandRecorder::install();
    }

    // The shared connection to `peer` (made anew after a row's reset).
    MVApiConnection& open(const ApiPeer& peer) {
        MVApiConnection::setHost(host_);
        host_->setDefaultApiPath(peerUrl(peer));
        auto& connection = MVApiConnection::sharedConnection();
        connection.setIsAllowedToReadCommands(true);
        return connection;
    }

    // One command per packet, `count` of them.
    static void sendCommands(MVApiConnection& connection, int count) {
        for (int i = 0; i < count; ++i) {
            connection.sendCommands({testCommand("c" + std::to_string(i + 1))});
            platform::advanceBy(MVApiConnection::kCommandBatchDelay);
        }
    }

    // Real I/O and the clock by turns, `tick` of clock each; bounded.
    static bool drive(const std::function<bool()>& done, double tick = 0.01, int steps = 3000) {
        for (int i = 0; i < steps; ++i) {
            if (platform::runUntil(done, 0.02)) return true;
            platform::advanceBy(tick);
        }
        return done();
    }

    size_t openings() { return loggedCount("MVApiConnection establishing connection..."); }
};

// A packet cut short, sent as one whole chunk, then good packets in chunks of their own:
// the cut one is lost, and only it, unless it was cut where a JSON value may stand (the
// next packet is that value, as the bytes say). A MessagePack stream that loses its place
// is opened again, and the server sends the cut packet again whole: nothing is lost.
TEST_F(MVApiFaultyServerTest, APacketCutShortCostsOnlyItself) {
    const std::string text = encodePacket(numbered(3), PacketEncoding::JSON);
    const std::string pack = encodePacket(numbered(3), PacketEncoding::MessagePack);
    const struct {
        const char* where;
        PacketEncoding encoding;
        size_t keep;
        std::set<int64_t> lost;  // uncompressed; compressed, only 3 is lost
    } rows[] = {
        {"JSON, inside a string", PacketEncoding::JSON, text.find("recordServer") + 6, {3}},
        {"JSON, after a key", PacketEncoding::JSON, text.find("\"cmds\"") + 6, {3}},
        {"JSON, after a colon", PacketEncoding::JSON, text.find("\"c\":") + 4, {3, 4}},
        {"JSON, after a comma", PacketEncoding::JSON, text.find(',') + 1, {3}},
        {"MessagePack, inside a string",
         PacketEncoding::MessagePack,
         pack.find("recordServer") + 6,
         {}},
        {"MessagePack, after a key",
         PacketEncoding::MessagePack,
         pack.find("\xa4"
                   "cmds") +
             5,
         {}},
        {"MessagePack, after a value",
         PacketEncoding::MessagePack,
         pack.find("\xa6"
                   "serial") +
             8,
         {}},
    };
    for (const auto& row : rows) {
        for (bool gzip : {false, true}) {
            SCOPED_TRACE(::testing::Message() << row.where << (gzip ? ", gzip" : ""));
            [&] {
                ServerCommandRecorder::install();
                log_->clear();
                StreamingServer server({.encoding = row.encoding,
                                        .gzip = gzip,
                                        .truncated = {{3, row.keep}},
                                        .collection = numbered});
                ApiPeer peer;
                const TakeDownAtEnd takeDown;
                peer.setResponder(server.responder());
                auto& connection = open(peer);
                sendCommands(connection, 6);
                const std::set<int64_t> lost = gzip ? std::set<int64_t>{3} : row.lost;
                ASSERT_TRUE(drive(
                    [&] {
                        const auto performed = ServerCommandRecorder::performed();
                        return !performed.empty() && performed.back() == json({{"n", 6}});
                    },
                    0.01, 600));
                EXPECT_EQ(ServerCommandRecorder::performed(), performedUpTo(6, lost));
                EXPECT_EQ(connection.downstreamSerial(), 6);
                EXPECT_TRUE(logged("MVApiConnection dropped an incomplete packet") ||
                            logged("could not parse JSON payload") ||
                            logged("could not decompress gzip payload") ||
                            logged("MessagePack payload is not a dictionary"));
            }();
        }
    }
}

// The gzip member itself cut short: the next members must not be read as its rest.
TEST_F(MVApiFaultyServerTest, AGzipMemberCutShortCostsOnlyItself) {
    for (const auto encoding : {PacketEncoding::JSON, PacketEncoding::MessagePack}) {
        for (const double part : {0.2, 0.5, 0.9}) {
            SCOPED_TRACE(::testing::Message()
                         << (encoding == PacketEncoding::JSON ? "JSON" : "MP") << " " << part);
            [&] {
                ServerCommandRecorder::install();
                ApiPeer peer;
                const TakeDownAtEnd takeDown;
                peer.setDefaultScript(
                    {.head = ResponseHead::ok({{"Content-Encoding", "gzip"},
                                               {"Content-Type", encoding == PacketEncoding::JSON
                                                                    ? "application/json"
                                                                    : "application/msgpack"}}),
                     .afterHead = {}});
                auto& connection = open(peer);
                platform::advanceBy(MVApiConnection::kStartDelay);
                ASSERT_TRUE(
                    waitFor([&] { return connection.state() == MVApiConnectionStateStreaming; }));
                const std::string whole = encodePacket(numbered(1), encoding, true);
                std::vector<PeerAction> actions{PeerAction::chunk(
                    std::string_view(whole).substr(0, static_cast<size_t>(whole.size() * part)))};
                for (int64_t n = 2; n <= 4; ++n)
                    actions.push_back(PeerAction::packet(numbered(n), encoding, true));
                peer.perform(0, std::move(actions));
                ASSERT_TRUE(waitFor([] { return ServerCommandRecorder::performed().size() >= 3; }));
                EXPECT_EQ(ServerCommandRecorder::performed(), performedUpTo(4, {1}));
                EXPECT_EQ(connection.downstreamSerial(), 4);
            }();
        }
    }
}

// A chunk that stops half way and a socket kept open: at the bound the connection
// fails like any error (line, report, 5 s), and the packet comes whole on the next.
TEST_F(MVApiFaultyServerTest, AChunkThatStopsHalfWayEndsTheConnectionAtItsBound) {
    const std::string chunk = encodeChunk(encodePacket(numbered(2), PacketEncoding::JSON));
    const struct {
        const char* where;
        size_t bytes;
    } rows[] = {
        {"inside the size line", 1},
        {"after the size line", chunk.find("\r\n") + 2},
        {"inside the data", chunk.size() / 2},
        {"before the closing CR LF", chunk.size() - 2},
    };
    for (const auto& row : rows) {
        for (const auto& encoding : {kEncodings[0], kEncodings[3]}) {
            SCOPED_TRACE(::testing::Message() << row.where << ", " << describe(encoding));
            [&] {
                ServerCommandRecorder::install();
                log_->clear();
                StreamingServer server({.encoding = encoding.encoding,
                                        .gzip = encoding.gzip,
                                        .stalled = {{2, row.bytes}},
                                        .collection = numbered});
                ApiPeer peer;
                const TakeDownAtEnd takeDown;
                peer.setResponder(server.responder());
                auto& connection = open(peer);
                sendCommands(connection, 2);
                ASSERT_TRUE(drive([&] {
                    return ServerCommandRecorder::performed().size() == 1 &&
                           server.released() == 2 && connection.isInsideChunk();
                }));
                const size_t connections = peer.connectionCount();
                const std::string line =
                    "MVApiConnection chunk stalled for 30 seconds. Will retry in 5 seconds...";
                // The clock may have moved a tick or two past the read while the test waited for
                // it.
                platform::advanceBy(MVApiConnection::kChunkStallTimeout - 0.1);
                platform::runUntilIdle();
                EXPECT_FALSE(logged(line));
                EXPECT_TRUE(connection.isConnectionOpened());
                const auto errorsBefore =
                    MVConnectionLossMonitor::sharedMonitor().lastReportedError();
                platform::advanceBy(0.1);
                ASSERT_TRUE(waitFor([&] { return logged(line); }));
                ASSERT_TRUE(waitForClosed(connection));
                EXPECT_GT(MVConnectionLossMonitor::sharedMonitor().lastReportedError(),
                          errorsBefore);
                platform::advanceBy(MVApiConnection::kErrorReconnectDelay - 0.01);
                EXPECT_EQ(peer.connectionCount(), connections);
                platform::advanceBy(0.01);
                ASSERT_TRUE(drive([] { return ServerCommandRecorder::performed().size() == 2; }));
                EXPECT_EQ(ServerCommandRecorder::performed(), performedUpTo(2));
                EXPECT_EQ(server.arrivals(), oneTo(2));
            }();
        }
    }
}

// A server that closes every connection before its head is asked again at the error
// pace, and each end is reported as an error.
TEST_F(MVApiFaultyServerTest, AServerThatClosesAtOnceIsAskedAtTheErrorPace) {
    enum class How { AtAccept, AtRequestHead, InsideTheHead, ResetAtRequestHead };
    const struct {
        const char* what;
        How how;
        bool persistent;  // a first connection is served and announces persistence
    } rows[] = {
        {"ends at accept", How::AtAccept, false},
        {"ends at the request head", How::AtRequestHead, false},
        {"ends inside its head", How::InsideTheHead, false},
        {"resets at the request head", How::ResetAtRequestHead, false},
        {"persistent, ends at accept", How::AtAccept, true},
        {"persistent, ends at the request head", How::AtRequestHead, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        [&] {
            log_->clear();
            ApiPeer peer;
            const TakeDownAtEnd takeDown;
            const ConnectionScript closing{
                .head = std::nullopt,
                .afterHead =
                    row.how == How::InsideTheHead
                        ? std::vector<PeerAction>{PeerAction::raw("HTTP/1.1 200 OK\r\nX-M"),
                                                  PeerAction::endOfStream()}
                    : row.how == How::ResetAtRequestHead
                        ? std::vector<PeerAction>{PeerAction::reset()}
                        : std::vector<PeerAction>{PeerAction::endOfStream()}};
            if (row.persistent) {
                peer.queueScript(
                    {.head = ResponseHead::ok({{"X-Merovane-Api", "Velkram"}}),
                     .afterHead = {PeerAction::lastChunk(), PeerAction::endOfStream()}});
            }
            peer.setDefaultScript(closing);
            auto& connection = open(peer);
            const size_t served = row.persistent ? 1 : 0;
            // With persistence the first packet goes on the served request, the second waits.
            for (size_t i = 0; i <= served; ++i) {
                connection.sendCommands({testCommand("waiting")});
                platform::advanceBy(MVApiConnection::kCommandBatchDelay);
            }
            ASSERT_TRUE(drive([&] { return peer.connectionCount() > served; }));
            if (row.how == How::AtAccept) peer.setAcceptActions({PeerAction::endOfStream()});
            // A quarter second of the clock at a time, each time after the connection has
            // ended (or a while of real time when it stays open): 2 s for the packets to
            // settle, then 20 s counted.
            const auto step = [&] {
                platform::runUntil([&] { return !connection.isConnectionOpened(); }, 2.0);
                platform::runUntilIdle();
                platform::advanceBy(0.25);
            };
            for (int i = 0; i < 8; ++i) step();
            const auto errorsBefore = MVConnectionLossMonitor::sharedMonitor().lastReportedError();
            const size_t before = peer.connectionCount();
            for (int i = 0; i < 80; ++i) step();
            const size_t asked = peer.connectionCount() - before;
            EXPECT_GE(asked, 3u);
            EXPECT_LE(asked, 5u);
            EXPECT_GT(MVConnectionLossMonitor::sharedMonitor().lastReportedError(), errorsBefore);
            if (row.how != How::ResetAtRequestHead) {
                EXPECT_TRUE(
                    logged("MVApiConnection was closed by the server before its response. Will "
                           "retry in 5 seconds..."));
            }
        }();
        MVConnectionLossMonitor::sharedMonitor().setState(MVConnectionLossMonitor::kStateOpened);
    }
}

// A server that cuts its connections every few packets each way: every packet reaches it
// once and in serial order, and every collection is performed once and in order.
TEST_F(MVApiFaultyServerTest, CutsEveryFewPacketsLoseDoubleAndReorderNothing) {
    const struct { size_t upstream, downstream; } cuts[] = {{1, 0}, {2, 4}, {3, 2}, {0, 3}};
    for (const auto& cut : cuts) {
        for (const auto& encoding : kEncodings) {
            SCOPED_TRACE(::testing::Message() << "cut after " << cut.upstream << " up, "
                                              << cut.downstream << " down, " << describe(encoding));
            [&] {
                ServerCommandRecorder::install();
                StreamingServer server({.encoding = encoding.encoding,
                                        .gzip = encoding.gzip,
                                        .cutAfterReceived = cut.upstream,
                                        .cutAfterSent = cut.downstream,
                                        .collection = numbered});
                ApiPeer peer;
                const TakeDownAtEnd takeDown;
                peer.setResponder(server.responder());
                auto& connection = open(peer);
                constexpr int kPackets = 12;
                for (int i = 0; i < kPackets; ++i) {
                    connection.sendCommands({testCommand("c" + std::to_string(i + 1))});
                    platform::advanceBy(MVApiConnection::kCommandBatchDelay);
                    platform::runUntil([] { return false; }, 0.005);
                }
                ASSERT_TRUE(drive(
                    [&] {
                        return server.held() == kPackets &&
                               ServerCommandRecorder::performed().size() >= kPackets;
                    },
                    0.1, 1500));
                EXPECT_EQ(server.arrivals(), oneTo(kPackets));
                EXPECT_EQ(ServerCommandRecorder::performed(), performedUpTo(kPackets));
                for (const int64_t reported : server.reportedServerSerials())
                    EXPECT_LE(reported,
                              static_cast<int64_t>(ServerCommandRecorder::performed().size()));
            }();
        }
    }
}

// A packet queued while a persistent connection waits for its head, after the last one
// was cut with packets unread: the head's client serial decides, and nothing overtakes.
TEST_F(MVApiFaultyServerTest, APacketQueuedBeforeTheHeadNeverOvertakesAMissingOne) {
    for (const auto& encoding : {kEncodings[0], kEncodings[3]}) {
        for (const size_t queuedBeforeHead : {1u, 3u}) {
            SCOPED_TRACE(::testing::Message() << describe(encoding) << ", " << queuedBeforeHead);
            [&] {
                ServerCommandRecorder::install();
                StreamingServer server({.encoding = encoding.encoding,
                                        .gzip = encoding.gzip,
                                        .cutAfterReceived = 3,
                                        .withholdHeadsFrom = 2,
                                        .collection = numbered});
                ApiPeer peer;
                const TakeDownAtEnd takeDown;
                peer.setResponder(server.responder());
                auto& connection = open(peer);
                // 1 on the legacy request, then 2 and 3 on the persistent one, which the server
                // cuts; 4 waits.
                sendCommands(connection, 4);
                ASSERT_TRUE(
                    drive([&] { return server.held() >= 3 && peer.connectionCount() >= 3; }));
                ASSERT_TRUE(waitFor([&] {
                    return connection.state() == MVApiConnectionStateResponse &&
                           peer.connection(2).requestHead;
                }));
                for (size_t i = 0; i < queuedBeforeHead; ++i) {
                    connection.sendCommands({testCommand("queued")});
                    platform::advanceBy(MVApiConnection::kCommandBatchDelay);
                }
                platform::advanceBy(MVApiConnection::kFirstPacketDelay);
                // What the connection writes before the head has reached the peer by the time a
                // marker written now on another connection... is not to be waited for: give the
                // writer its turn, then answer.
                platform::runUntilIdle();
                peer.perform(2, server.releaseHead(2));
                const int64_t last = 4 + static_cast<int64_t>(queuedBeforeHead);
                ASSERT_TRUE(drive([&] {
                    return server.held() == last &&
                           ServerCommandRecorder::performed().size() >= static_cast<size_t>(last);
                }));
                EXPECT_EQ(server.arrivals(), oneTo(last));
                EXPECT_EQ(ServerCommandRecorder::performed(), performedUpTo(last));
            }();
        }
    }
}

// Where a server cuts a good packet into chunks is its own choice. Packets whose command
// carries a command list, an identifier and a collection of its own, each cut at another
// place: in two, serial s at byte s; in three, around one of the maps nested in it, so
// that the middle chunk is a whole map (with "cmds" of its own), on the legacy first
// connection and the persistent ones after it, or on legacy ones only: every collection
// is performed once and in order, and none is dropped.
json nestedParameters(int64_t serial) {
    return {{"n", serial},
            {"cmds", {{{"c", "setVariable"}, {"p", {{"id", "a"}, {"value", "1"}}}}}},
            {"identifier", "tick-" + std::to_string(serial)},
            {"mvcmd", {{"ver", "2.1"}, {"cmds", {{{"c", "vibrate"}}}}}}};
}

json nestedNumbered(int64_t serial) {
    json c = ServerCommandRecorder::collection(nestedParameters(serial));
    c["serial"] = serial;
    return c;
}

struct SplitRow {
    Encoding encoding;
    bool persistent;
    bool inThree;  // around a nested map (not with gzip, whose bytes hide the maps)
};

class SplitPacketTest : public MVApiFaultyServerTest,
                        public testing::WithParamInterface<SplitRow> {};

TEST_P(SplitPacketTest, EveryCutOfAGoodPacketIsPerformedOnceInOrder) {
    const SplitRow& row = GetParam();
    const PacketEncoding encoding = row.encoding.encoding;
    const size_t size = encodePacket(nestedNumbered(100), encoding, row.encoding.gzip).size();
    // In two: every byte of the packet once (sizes differ by a byte or two between
    // serials); a legacy connection carries one packet, so there a few cuts across it.
    const int64_t packets = row.inThree ? 16 : row.persistent ? static_cast<int64_t>(size) + 2 : 40;
    const size_t stride = row.persistent ? 1 : size / 41;
    const auto split = [&row, encoding, stride](int64_t serial,
                                                std::string_view bytes) -> std::vector<size_t> {
        if (!row.inThree) return {static_cast<size_t>(serial) * stride % bytes.size()};
        const json parameters = nestedParameters(serial);
        const json nested[] = {parameters, parameters["mvcmd"], parameters["cmds"][0],
                               parameters["cmds"][0]["p"], nestedNumbered(serial)["cmds"][0]};
        const std::string map = encodePacket(nested[serial % 5], encoding);
        const size_t at = bytes.find(map);
        if (at == std::string_view::npos) return {};
        return {at, at + map.size()};
    };
    StreamingServer server({.encoding = encoding,
                            .gzip = row.encoding.gzip,
                            .persistent = row.persistent,
                            .split = split,
                            .collection = nestedNumbered});
    ApiPeer peer;
    const TakeDownAtEnd takeDown;
    peer.setResponder(server.responder());
    auto& connection = open(peer);
    for (int64_t i = 1; i <= packets; ++i) {
        connection.sendCommands({testCommand("c" + std::to_string(i))});
        platform::advanceBy(MVApiConnection::kCommandBatchDelay);
        // Well within the pending list, however slowly the machine writes them.
        if (i % 20 == 0) {
            ASSERT_TRUE(drive([&] { return server.held() >= i; }));
        }
    }
    ASSERT_TRUE(drive(
        [&] { return ServerCommandRecorder::performed().size() >= static_cast<size_t>(packets); },
        0.01, 6000));
    std::vector<int64_t> performed;
    for (const auto& parameters : ServerCommandRecorder::performed())
        performed.push_back(parameters["n"].get<int64_t>());
    EXPECT_EQ(performed, oneTo(packets));
    EXPECT_EQ(connection.downstreamSerial(), packets);
    EXPECT_FALSE(logged("MVApiConnection dropped"));
    EXPECT_FALSE(logged("MVApiConnection could not"));
    EXPECT_FALSE(logged("payload is not a dictionary"));
    EXPECT_FALSE(logged("MVCommandHandler tried to handle malformed"));
}

INSTANTIATE_TEST_SUITE_P(Table, SplitPacketTest,
                         testing::ValuesIn(std::vector<SplitRow>{
                             {kEncodings[0], true, false},
                             {kEncodings[1], true, false},
                             {kEncodings[2], true, false},
                             {kEncodings[3], true, false},
                             {kEncodings[0], true, true},
                             {kEncodings[2], true, true},
                             {kEncodings[0], false, false},
                             {kEncodings[2], false, false},
                             {kEncodings[0], false, true},
                             {kEncodings[2], false, true},
                         }),
                         [](const testing::TestParamInfo<SplitRow>& info) {
                             std::string name = describe(info.param.encoding);
                             std::replace(name.begin(), name.end(), ' ', '_');
                             return name + (info.param.persistent ? "_Persistent" : "_Legacy") +
                                    (info.param.inThree ? "_InThree" : "_InTwo");
                         });

// A packet cut short just after a whole collection nested in it: the collection is part
// of the packet, never one of its own, whatever comes next; the gate and the close hold.
struct CutAtMapRow {
    const char* name;
    enum class Then { Nothing, APacket, TheRest, TheStreamEnds, TheGateCloses } then;
};

class CutAtMapTest : public MVApiFaultyServerTest,
                     public testing::WithParamInterface<CutAtMapRow> {};

TEST_P(CutAtMapTest, TheNestedCollectionIsNeverAPacket) {
    using Then = CutAtMapRow::Then;
    const CutAtMapRow& row = GetParam();
    ApiPeer peer;
    streamTo(peer);
    auto& connection = MVApiConnection::sharedConnection();
    connection.setIsAllowedToReadCommands(true);
    const json nested = ServerCommandRecorder::collection({{"n", 2}});
    json cut = numbered(1);
    cut["cmds"][0]["p"]["nested"] = nested;
    const std::string whole = encodePacket(cut, PacketEncoding::JSON);
    const std::string inner = encodePacket(nested, PacketEncoding::JSON);
    const size_t at = whole.find(inner);
    ASSERT_NE(at, std::string::npos);
    const std::string rest = whole.substr(at + inner.size());
    peer.perform(0, {PeerAction::chunk(whole.substr(0, at)), PeerAction::chunk(inner)});
    ASSERT_TRUE(waitFor([&] { return connection.isInsideChunk(); }));
    const auto performed = [] { return ServerCommandRecorder::performed(); };
    switch (row.then) {
        case Then::Nothing:
            platform::advanceBy(MVApiConnection::kChunkStallTimeout - 0.1);
            platform::runUntilIdle();
            EXPECT_EQ(connection.state(), MVApiConnectionStateStreaming);
            platform::advanceBy(0.2);
            ASSERT_TRUE(waitFor([&] { return logged("MVApiConnection chunk stalled"); }));
            break;
        case Then::APacket:
            peer.perform(0, PeerAction::packet(numbered(3)));
            ASSERT_TRUE(waitFor([&] { return !performed().empty(); }));
            EXPECT_TRUE(logged("MVApiConnection dropped an incomplete packet of " +
                               std::to_string(at + inner.size()) + " bytes"));
            EXPECT_EQ(performed(), (std::vector<json>{{{"n", 3}}}));
            return;
        case Then::TheRest:
            peer.perform(0, PeerAction::chunk(rest));
            ASSERT_TRUE(waitFor([&] { return !performed().empty(); }));
            ASSERT_EQ(performed().size(), 1u);
            EXPECT_EQ(performed()[0]["n"], 1);
            return;
        case Then::TheStreamEnds:
            peer.perform(0, PeerAction::close());
            ASSERT_TRUE(waitForClosed(connection));
            break;
        case Then::TheGateCloses:
            connection.setIsAllowedToReadCommands(false);
            platform::advanceBy(MVApiConnection::kChunkStallTimeout + 1);
            platform::runUntilIdle();
            EXPECT_EQ(connection.state(), MVApiConnectionStateStreaming);
            connection.setIsAllowedToReadCommands(true);
            peer.perform(0, PeerAction::chunk(rest));
            ASSERT_TRUE(waitFor([&] { return !performed().empty(); }));
            ASSERT_EQ(performed().size(), 1u);
            EXPECT_EQ(performed()[0]["n"], 1);
            return;
    }
    platform::advanceBy(MVApiConnection::kChunkStallTimeout);
    platform::runUntilIdle();
    EXPECT_TRUE(performed().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, CutAtMapTest,
    testing::Values(CutAtMapRow{"Nothing", CutAtMapRow::Then::Nothing},
                    CutAtMapRow{"APacket", CutAtMapRow::Then::APacket},
                    CutAtMapRow{"TheRest", CutAtMapRow::Then::TheRest},
                    CutAtMapRow{"TheStreamEnds", CutAtMapRow::Then::TheStreamEnds},
                    CutAtMapRow{"TheGateCloses", CutAtMapRow::Then::TheGateCloses}),
    [](const testing::TestParamInfo<CutAtMapRow>& info) { return std::string(info.param.name); });

}  // namespace
