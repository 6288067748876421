// The stream through the reverse proxies shops put before their server: Debian's nginx
// with the streaming settings and as installed (buffering), and haproxy with its
// defaults, each started by the test on loopback. Bursts of collections, each encoding,
// the server restarted mid-stream and merchant data of every shape: every collection is
// performed once, in order, nothing of merchant data runs, and every client packet
// reaches the server's application in order. A start through a fresh nginx loses no
// packet.
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "libmerovane/connection/MVApiConnection.h"
#include "platform/foundation/TestDriver.h"
#include "tests/connection/ServerCommandRecorder.h"
#include "tests/connection/TestCommand.h"
#include "tests/support/ApiConnectionTest.h"
#include "tests/support/LoopbackListener.h"
#include "tests/support/ReverseProxy.h"
#include "tools/peer/StreamingServer.h"

using namespace peer;
using nlohmann::json;
using Proxy = ReverseProxy::Kind;

namespace {

// Merchant data that looks like protocol: maps with "ver", "serial" and "cmds" at every
// depth, and strings that look like the start of a packet in each encoding.
json merchantData() {
    const json command = {{"c", ServerCommandRecorder::kName}, {"p", {{"n", -1}}}};
    const json collection = {{"ver", "2.1"}, {"serial", 999999}, {"cmds", {command}}};
    return {
        {"top", collection},
        {"deep", {{"a", {{"b", {{"c", collection}}}}}}},
        {"list", json::array({collection, json::array({collection})})},
        {"cmdsOnly", {{"cmds", {command}}}},
        {"serialOnly", {{"serial", 999998}}},
        {"jsonText", collection.dump()},
        {"halfJson", "{\"ver\":\"2.1\",\"cmds\":["},
        {"gzipStart", "\x1f\xc2\x8b\x08"},
        {"messagePackStart", "\xc2\x83\xc2\xa3ver"},
        {"chunkLike", "1A\r\n{}\r\n0\r\n\r\n"},
    };
}

json parametersOf(int64_t serial, bool merchant) {
    json parameters = {{"n", serial}};
    if (merchant) parameters["merchant"] = merchantData();
    return parameters;
}

struct ProxyRoadRow {
    const char* name;
    Proxy proxy;
    PacketEncoding encoding;
    bool gzip;
    size_t burst;  // collections the server sends back to back for each client packet
    bool restart;  // the server is started again mid-stream
    bool merchant;
};

constexpr int64_t kClientPackets = 4;

#define MV_PROXY_ROWS(name, proxy)                                                               \
    {#name "Json5", proxy, PacketEncoding::JSON, false, 5, false, false},                        \
        {#name "MessagePack5", proxy, PacketEncoding::MessagePack, false, 5, false, false},      \
        {#name "Gzip50", proxy, PacketEncoding::JSON, true, 50, false, false},                   \
        {#name "MessagePackGzip50", proxy, PacketEncoding::MessagePack, true, 50, false, false}, \
        {#name "Restarted", proxy, PacketEncoding::JSON, false, 5, true, false},                 \
        {#name "MerchantData", proxy, PacketEncoding::JSON, false, 5, false, true}, {            \
#name "MerchantDataMessagePackGzip", proxy, PacketEncoding::MessagePack, true, 5, false, \
            true                                                                                 \
    }

const ProxyRoadRow kProxyRoadRows[] = {
    MV_PROXY_ROWS(NginxStreaming, Proxy::NginxStreaming),
    MV_PROXY_ROWS(NginxBuffering, Proxy::NginxBuffering),
    MV_PROXY_ROWS(HAProxy, Proxy::HAProxy),
};
#undef MV_PROXY_ROWS

// What the server read of each packet, for a failure's message.
std::string payloadsOf(const ApiPeer& peer) {
    std::string text;
    for (const auto& packet : peer.packets())
        text += std::to_string(packet.connection) + ": " + packet.payload + "\n";
    return text;
}

class ReverseProxyTest : public ApiConnectionTest {
  protected:
    void SetUp() override {
        ApiConnectionTest::SetUp();
        ServerCommandRecorder::install();
    }

    // The server on `port`, answering as `server`; 0: on a free port, which it can take
    // again when it restarts (its sockets, and those it accepts, may share the port).
    static std::unique_ptr<ApiPeer> serve(StreamingServer& server, uint16_t port = 0) {
        std::unique_ptr<ApiPeer> peer;
        for (int attempt = 0; attempt < 5 && !peer; ++attempt) {
            int free = port;
            if (port == 0) {
                const int listener = testsupport::listenOnLoopback(free, 1);
                if (listener >= 0) ::close(listener);
            }
            try {
                peer = std::make_unique<ApiPeer>(
                    ApiPeerOptions{.port = static_cast<uint16_t>(free), .plainBodies = true});
            } catch (const std::runtime_error& error) {
                // Taken meanwhile by another program: another one.
                if (port != 0) throw;
            }
        }
        if (peer) peer->setResponder(server.responder());
        return peer;
    }

    MVApiConnection& connectThrough(const ReverseProxy& proxy) {
        host_->setDefaultApiPath(proxy.url());
        auto& connection = MVApiConnection::sharedConnection();
        connection.setIsAllowedToReadCommands(true);
        platform::advanceBy(MVApiConnection::kStartDelay);
        return connection;
    }

    // The connection's log, for a failure's message.
    std::string connectionLog() {
        platform::log::flush();
        std::string text;
        for (const auto& message : log_->messages())
            if (message.text.starts_with("MVApi")) text += message.text.substr(0, 300) + "\n";
        return text;
    }

    // Real I/O and the clock by turns, half a second of it at a time: reconnections,
    // bounds and keep-alives happen, in far less real time.
    static bool flow(const std::function<bool()>& done) { return drive(done, 400, 0.5); }
};

class ProxyRoadTest : public ReverseProxyTest, public testing::WithParamInterface<ProxyRoadRow> {};

TEST_P(ProxyRoadTest, EveryCollectionIsPerformedOnceInOrder) {
    const ProxyRoadRow& row = GetParam();

    const bool merchant = row.merchant;
    StreamingServer server({.encoding = row.encoding,
                            .gzip = row.gzip,
                            .collectionsPerPacket = row.burst,
                            .collection = [merchant](int64_t serial) {
                                return ServerCommandRecorder::collection(
                                    parametersOf(serial, merchant));
                            }});
    auto peer = serve(server);
    ASSERT_TRUE(peer);
    const uint16_t upstreamPort = static_cast<uint16_t>(peer->port());
    ReverseProxy proxy(row.proxy, upstreamPort);
    ASSERT_TRUE(proxy.ready()) << proxy.failure();
    auto& connection = connectThrough(proxy);

    for (int64_t i = 1; i <= kClientPackets; ++i) {
        connection.sendCommands({testCommand("command" + std::to_string(i))});
        platform::advanceBy(MVApiConnection::kCommandBatchDelay);
        if (row.restart && i == kClientPackets / 2) {
            ASSERT_TRUE(flow([&] { return server.held() == i; })) << proxy.log();
            // The server goes mid-stream and comes back on its port.
            peer.reset();
            server.restart();
            peer = serve(server, upstreamPort);
        }
    }
    const size_t expected = static_cast<size_t>(kClientPackets) * row.burst;
    ASSERT_TRUE(flow([&] {
        return server.held() == kClientPackets &&
               ServerCommandRecorder::performed().size() >= expected;
    })) << "held "
        << server.held() << ", performed " << ServerCommandRecorder::performed().size() << "\n"
        << proxy.log() << connectionLog();
    std::vector<json> collections;
    for (size_t n = 1; n <= expected; ++n)
        collections.push_back(parametersOf(static_cast<int64_t>(n), merchant));
    EXPECT_EQ(ServerCommandRecorder::performed(), collections);
    EXPECT_EQ(connection.downstreamSerial(), static_cast<int64_t>(expected));
    EXPECT_FALSE(logged("could not parse"));
    EXPECT_FALSE(logged("payload is not a dictionary"));
    EXPECT_FALSE(logged("could not decompress"));
}

INSTANTIATE_TEST_SUITE_P(Table, ProxyRoadTest, testing::ValuesIn(kProxyRoadRows),
                         [](const testing::TestParamInfo<ProxyRoadRow>& info) {
                             return std::string(info.param.name);
                         });

// A start: the app's first packets, 21 ms apart, through a fresh proxy; with a server
// that holds back the first answer until the first request waits whole, or that
// answers its head and then loses the request (a cold proxy's first request).
enum class FirstAnswer { Comes, HeadHeld, Lost };

struct StartRow {
    Proxy proxy;
    FirstAnswer first;
    int run;
};

std::vector<StartRow> startRows() {
    std::vector<StartRow> rows;
    for (int run = 0; run < 20; ++run)
        rows.push_back({Proxy::NginxStreaming, FirstAnswer::Comes, run});
    for (auto first : {FirstAnswer::Comes, FirstAnswer::HeadHeld, FirstAnswer::Lost})
        for (int run = 0; run < 3; ++run) rows.push_back({Proxy::NginxBuffering, first, run});
    for (int run = 0; run < 3; ++run) rows.push_back({Proxy::HAProxy, FirstAnswer::Comes, run});
    return rows;
}

const char* nameOf(FirstAnswer first) {
    switch (first) {
        case FirstAnswer::Comes:
            return "";
        case FirstAnswer::HeadHeld:
            return "HeadHeld";
        case FirstAnswer::Lost:
            return "AnswerLost";
    }
    return "";
}

class ProxyStartTest : public ReverseProxyTest, public testing::WithParamInterface<StartRow> {};

TEST_P(ProxyStartTest, LosesNoPacket) {
    const StartRow& row = GetParam();
    const bool headHeld = row.first == FirstAnswer::HeadHeld;
    StreamingServer server(
        {.withholdHeadsFrom = headHeld ? 0 : std::numeric_limits<size_t>::max()});
    auto peer = serve(server);
    ASSERT_TRUE(peer);
    if (row.first == FirstAnswer::Lost) {
        // The first request's head is answered; the request itself never reaches the
        // server's application, and its response never ends.
        peer->setResponder([inner = server.responder()](const PeerEvent& event) {
            if (event.connection == 0 && event.kind != PeerEvent::Kind::RequestHead)
                return std::vector<PeerAction>{};
            return inner(event);
        });
    }
    ReverseProxy proxy(row.proxy, peer->port());
    ASSERT_TRUE(proxy.ready()) << proxy.failure();
    auto& connection = connectThrough(proxy);
    connection.sendCommands({testCommand("appStart")});
    platform::advanceBy(MVApiConnection::kCommandBatchDelay);
    platform::runUntil([] { return false; }, 0.021);
    connection.sendCommands({testCommand("second")});
    platform::advanceBy(MVApiConnection::kCommandBatchDelay);
    size_t released = 1;  // the heads answered from the second connection on
    if (headHeld) {
        // The first request reaches the server whole; its answer never comes, and the
        // client gives up on it.
        ASSERT_TRUE(waitFor([&] { return server.held() >= 1; })) << proxy.log();
        platform::advanceBy(MVApiConnection::kResponseHeadTimeout);
    }
    ASSERT_TRUE(flow([&] {
        for (; headHeld && released < server.requestHeads(); ++released)
            peer->perform(released, server.releaseHead(released));
        return server.held() == 2;
    })) << "held "
        << server.held() << "\n"
        << payloadsOf(*peer) << proxy.log() << connectionLog();
    const auto arrivals = server.arrivals();
    ASSERT_FALSE(arrivals.empty());
    EXPECT_EQ(arrivals.front(), 1);
}

INSTANTIATE_TEST_SUITE_P(Starts, ProxyStartTest, testing::ValuesIn(startRows()),
                         [](const testing::TestParamInfo<StartRow>& info) {
                             return std::string(ReverseProxy::nameOf(info.param.proxy)) +
                                    nameOf(info.param.first) + std::to_string(info.param.run);
                         });

}  // namespace
