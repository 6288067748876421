// Nothing is lost or doubled while the server cuts the connection at random points:
// every command reaches the server's application exactly once and in order, and every
// server collection is performed exactly once. The seed is logged; MV_NOTHING_LOST_SEED
// repeats a run.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <random>

#include "libmerovane/connection/MVApiConnection.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/TestDriver.h"
#include "tests/connection/ServerCommandRecorder.h"
#include "tests/connection/TestCommand.h"
#include "tests/support/ApiConnectionTest.h"

using namespace testsupport;
using namespace peer;
using nlohmann::json;

namespace {

constexpr int kBursts = 20;
constexpr int kCommandsPerBurst = 10;
constexpr int64_t kServerCollections = 60;

// The server's application: takes client packets in serial order (a packet ahead of the
// next serial is ignored: the client sends it again after the client serial), tells
// each new connection the last serial it holds, sends its collections with serials and,
// on each new connection, again those after the serial the client reports. It cuts
// connections at random points, once it holds a packet: a server that holds none
// reports no client serial, and the client then has nothing to go by.
class CuttingServer {
  public:
    explicit CuttingServer(uint32_t seed) : random_(seed) {}

    PeerResponder responder() {
        return [this](const PeerEvent& event) {
            std::lock_guard lock(mutex_);
            return respond(event);
        };
    }

    std::vector<std::string> receivedCommands() const {
        std::lock_guard lock(mutex_);
        return commands_;
    }
    size_t cuts() const {
        std::lock_guard lock(mutex_);
        return cuts_;
    }

  private:
    std::vector<PeerAction> respond(const PeerEvent& event) {
        std::vector<PeerAction> actions;
        switch (event.kind) {
            case PeerEvent::Kind::RequestHead: {
                if (cut(0.1, actions)) return actions;
                HeadFields fields{{"X-Merovane-Api", "Velkram"}};
                // Each connection picks its own encoding of what the server sends.
                Encoding& encoding = encodingOf_[event.connection];
                encoding = {chance(0.5), chance(0.5)};
                if (encoding.messagePack) fields.push_back({"Content-Type", "application/msgpack"});
                if (encoding.gzip) fields.push_back({"Content-Encoding", "gzip"});
                if (lastSerial_ > 0)
                    fields.push_back({"X-Merovane-Api-CSerial", std::to_string(lastSerial_)});
                actions.push_back(PeerAction::head(ResponseHead::ok(fields)));
                const auto reported = event.head->field("X-Merovane-Api-SSerial");
                sentOn_[event.connection] =
                    reported ? platform::json::integerValue(json(*reported)) : 0;
                sendCollections(event.connection, actions);
                return actions;
            }
            case PeerEvent::Kind::Packet: {
                const json& packet = event.packet->decoded.value;
                const int64_t serial = platform::json::integerValue(packet, "serial");
                if (serial == lastSerial_ + 1) {
                    lastSerial_ = serial;
                    for (const auto& command : packet["cmds"]) commands_.push_back(command["c"]);
                    released_ = std::min(kServerCollections, released_ + 3);
                }
                if (cut(0.12, actions)) return actions;
                sendCollections(event.connection, actions);
                return actions;
            }
            case PeerEvent::Kind::BodyEnded:
                if (cut(0.2, actions)) return actions;
                actions.push_back(PeerAction::lastChunk());
                actions.push_back(PeerAction::endOfStream());
                return actions;
        }
        return actions;
    }

    // The released collections this connection has not carried yet.
    void sendCollections(size_t connection, std::vector<PeerAction>& actions) {
        int64_t& sent = sentOn_[connection];
        for (; sent < released_; ++sent) {
            json collection = ServerCommandRecorder::collection({{"n", sent + 1}});
            collection["serial"] = sent + 1;
            const Encoding encoding = encodingOf_[connection];
            const std::string chunk =
                PeerAction::packet(
                    collection,
                    encoding.messagePack ? PacketEncoding::MessagePack : PacketEncoding::JSON,
                    encoding.gzip)
                    .bytes;
            if (lastSerial_ > 0 && chance(0.05)) {
                // A cut inside the packet's chunk.
                actions.push_back(PeerAction::raw(chunk.substr(0, pick(chunk.size()))));
                actions.push_back(PeerAction::reset());
                ++cuts_;
                return;
            }
            actions.push_back(PeerAction::raw(chunk));
        }
    }

    bool cut(double probability, std::vector<PeerAction>& actions) {
        if (lastSerial_ == 0 || !chance(probability)) return false;
        actions.push_back(PeerAction::reset());
        ++cuts_;
        return true;
    }
    bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(random_) < p; }
    size_t pick(size_t below) {
        return std::uniform_int_distribution<size_t>(0, below - 1)(random_);
    }

    struct Encoding {
        bool messagePack = false;
        bool gzip = false;
    };

    mutable std::mutex mutex_;
    std::mt19937 random_;
    std::map<size_t, Encoding> encodingOf_;
    int64_t lastSerial_ = 0;
    int64_t released_ = 0;
    std::map<size_t, int64_t> sentOn_;
    std::vector<std::string> commands_;
    size_t cuts_ = 0;
};

class MVApiNothingLostTest : public ApiConnectionTest {
  protected:
    void SetUp() override {
        ApiConnectionTest::SetUp();
        ServerCommandRecorder::install();
    }
};

uint32_t chooseSeed() {
    if (const char* text = std::getenv("MV_NOTHING_LOST_SEED"))
        return static_cast<uint32_t>(std::strtoul(text, nullptr, 10));
    return std::random_device{}();
}

TEST_F(MVApiNothingLostTest, RandomCutsLoseAndDoubleNothing) {
    const uint32_t seed = chooseSeed();
    std::printf("MVApiNothingLostTest seed %u (MV_NOTHING_LOST_SEED=%u repeats it)\n", seed, seed);
    RecordProperty("seed", std::to_string(seed));
    SCOPED_TRACE(::testing::Message() << "seed " << seed);

    CuttingServer server(seed);
    ApiPeer peer;
    peer.setResponder(server.responder());
    host_->setDefaultApiPath(peerUrl(peer));
    auto& connection = MVApiConnection::sharedConnection();
    connection.setIsAllowedToReadCommands(true);

    std::vector<std::string> expected;
    std::mt19937 random(seed ^ 0x5eed);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    auto done = [&] {
        return server.receivedCommands().size() >= expected.size() &&
               ServerCommandRecorder::performed().size() >= static_cast<size_t>(kServerCollections);
    };
    // Real I/O for a moment, then the clock, so that batching and reconnections happen.
    auto step = [&](double seconds) {
        platform::runUntil([] { return false; }, 0.01);
        platform::advanceBy(seconds);
    };

    for (int burst = 0; burst < kBursts; ++burst) {
        for (int i = 0; i < kCommandsPerBurst; ++i) {
            const std::string name = "command" + std::to_string(expected.size());
            expected.push_back(name);
            connection.sendCommands({testCommand(name)});
        }
        const int pause = std::uniform_int_distribution<int>(1, 6)(random);
        for (int i = 0; i < pause; ++i) step(0.01 * (i + 1));
    }
    int steps = 0;
    while (!done() && steps < 4000 && std::chrono::steady_clock::now() < deadline) {
        if (!platform::runUntil(done, 0.02)) platform::advanceBy(0.5);
        ++steps;
    }

    std::printf("MVApiNothingLostTest: %zu cuts, %zu connections, %d steps\n", server.cuts(),
                peer.connectionCount(), steps);
    EXPECT_EQ(server.receivedCommands(), expected);
    std::vector<json> collections;
    for (int64_t n = 1; n <= kServerCollections; ++n) collections.push_back({{"n", n}});
    EXPECT_EQ(ServerCommandRecorder::performed(), collections);
    EXPECT_LE(connection.pendingPacketCount(), MVApiUpstreamWriter::kTrimThreshold - 1);
}

}  // namespace
