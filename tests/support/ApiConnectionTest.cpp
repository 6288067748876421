#include "tests/support/ApiConnectionTest.h"

#include <algorithm>

#include "libmerovane/bridge/MVCommand.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/foundation/SocketStream.h"
#include "platform/foundation/TestDriver.h"
#include "platform/foundation/TrustEvaluation.h"
#include "tools/peer/TestCertificates.h"

void ApiConnectionTest::SetUp() {
    PlatformTest::SetUp();
    home_ = std::make_unique<TempDir>();
    proxies_ = std::make_unique<testsupport::ProxyEnvironment>();
    host_ = std::make_shared<TestApiConnectionHost>();
    MVApiConnection::setHost(host_);
    auto routes = routes_;
    platform::Stream::setConnectorForTesting(
        [routes](const std::string& host, int port) -> std::optional<platform::SocketAddress> {
            std::lock_guard lock(routes->mutex);
            auto found = routes->ports.find({host, port});
            if (found == routes->ports.end()) return std::nullopt;
            return platform::SocketAddress{"127.0.0.1", found->second};
        });
}

void ApiConnectionTest::TearDown() {
    // The connection and its threads go first, then whatever the test made.
    platform::resetSharedInstancesForTesting();
    proxies_.reset();
    home_.reset();
    PlatformTest::TearDown();
}

MVApiConnection& ApiConnectionTest::startConnection(const std::string& apiPath,
                                                    int64_t pendingPackets) {
    host_->setDefaultApiPath(apiPath);
    auto& connection = MVApiConnection::sharedConnection();
    for (int64_t serial = 1; serial <= pendingPackets; ++serial)
        connection.appendPendingPacketForTesting({.data = "2\r\n{}\r\n", .serial = serial});
    platform::advanceBy(MVApiConnection::kStartDelay);
    return connection;
}

std::string ApiConnectionTest::peerUrl(const peer::ApiPeer& peer) {
    return "http://127.0.0.1:" + std::to_string(peer.port());
}

void ApiConnectionTest::route(const std::string& host, int port, int loopbackPort) {
    std::lock_guard lock(routes_->mutex);
    routes_->ports[{host, port}] = loopbackPort;
}

void ApiConnectionTest::trustTestRoot() {
    platform::TrustStore::setDefault(peer::TestCertificates::shared().trustStore());
    MVApiConnection::setTrustedCertificateAuthoritiesForTesting(
        std::set<std::string>{"Some Other Root CA", peer::TestCertificates::kRootName});
}

bool ApiConnectionTest::waitFor(const std::function<bool()>& predicate) {
    return platform::runUntil(predicate, kTimeout);
}

bool ApiConnectionTest::drive(const std::function<bool()>& done, int steps, double step) {
    for (int i = 0; i < steps; ++i) {
        if (platform::runUntil(done, 0.05)) return true;
        platform::advanceBy(step);
    }
    return done();
}

bool ApiConnectionTest::waitForActions(const peer::ApiPeer& peer, size_t index, size_t count) {
    return waitFor([&] {
        return peer.connectionCount() > index && peer.connection(index).actionsCompleted == count;
    });
}

bool ApiConnectionTest::waitForClosed(MVApiConnection& connection) {
    if (!waitFor([&] { return !connection.isConnectionOpened(); })) return false;
    // The reopening is asked for right after the close; let it be scheduled.
    platform::runUntilIdle();
    return true;
}

void ApiConnectionTest::answerRequestHeads(peer::ApiPeer& peer) {
    peer.setResponder([](const peer::PeerEvent& event) {
        std::vector<peer::PeerAction> actions;
        if (event.kind == peer::PeerEvent::Kind::RequestHead)
            actions.push_back(
                peer::PeerAction::head(peer::ResponseHead::ok({{"X-Merovane-Api", "Velkram"}})));
        return actions;
    });
}

void ApiConnectionTest::streamTo(peer::ApiPeer& peer) {
    answerRequestHeads(peer);
    auto& connection = startConnection(peerUrl(peer));
    ASSERT_TRUE(waitFor([&] { return connection.state() == MVApiConnectionStateStreaming; }));
}

std::vector<nlohmann::json> ApiConnectionTest::commandsSentSoFar(const peer::ApiPeer& peer) {
    constexpr const char* kMarker = "testMarker";
    MVCommand marker;
    marker.setName(kMarker);
    MVApiConnection::sharedConnection().sendCommands({marker});
    platform::advanceBy(MVApiConnection::kCommandBatchDelay);
    std::vector<nlohmann::json> commands;
    const bool marked = waitFor([&] {
        commands.clear();
        for (const auto& packet : peer.packets())
            for (const auto& command : packet.decoded.value.value("cmds", nlohmann::json::array()))
                commands.push_back(command);
        return !commands.empty() && commands.back().value("c", "") == kMarker;
    });
    EXPECT_TRUE(marked);
    std::erase_if(commands, [](const nlohmann::json& c) { return c.value("c", "") == kMarker; });
    return commands;
}
