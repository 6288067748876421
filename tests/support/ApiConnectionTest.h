#pragma once
// Fixture for tests of the API connection against the loopback API peer: a fresh
// application root, no proxy from the machine, the test host registered, and names
// routed to loopback ports.
//
//   ApiPeer peer;
//   auto& connection = startConnection(peerUrl(peer));   // opened 0.01 s after creation
//   ASSERT_TRUE(waitFor([&] { return connection.state() == MVApiConnectionStateStreaming; }));
//
// The shared connection is taken down in TearDown, before the peers of the test go.

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "libmerovane/connection/MVApiConnection.h"
#include "tests/support/PlatformTest.h"
#include "tests/support/ProxyEnvironment.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestApiConnectionHost.h"
#include "tools/peer/ApiPeer.h"

class ApiConnectionTest : public PlatformTest {
  protected:
    static constexpr double kTimeout = 20.0;

    void SetUp() override;
    void TearDown() override;

    // The shared connection with `apiPath` as its default URL, after its first opening,
    // with packets of serials 1 to `pendingPackets` pending (so that a failed connection
    // is opened again).
    MVApiConnection& startConnection(const std::string& apiPath, int64_t pendingPackets = 0);
    // "http://127.0.0.1:<port>"
    static std::string peerUrl(const peer::ApiPeer& peer);
    // Connections to host:port go to the loopback port instead.
    void route(const std::string& host, int port, int loopbackPort);
    // A TLS setup whose root the connection trusts: the test CA as the platform's
    // anchor and its root's name in the trusted root set.
    void trustTestRoot();

    // Pumps the main loop while real I/O happens.
    static bool waitFor(const std::function<bool()>& predicate);
    // Real I/O and the manual clock by turns until `done`: up to 50 ms of real time, then
    // `step` seconds of the clock, so that timers due soon run. Bounded by `steps`.
    static bool drive(const std::function<bool()>& done, int steps = 600, double step = 0.01);
    // Waits until the peer has done `count` actions of its connection `index` (the head
    // it answered with counts as one).
    static bool waitForActions(const peer::ApiPeer& peer, size_t index, size_t count);
    // Waits until the connection has closed after a failure and its reopening is
    // scheduled, so that the clock can be moved to it.
    bool waitForClosed(MVApiConnection& connection);
    // Makes the peer answer every request head as the API server does.
    static void answerRequestHeads(peer::ApiPeer& peer);
    // The peer's connection to the shared connection, once streaming.
    void streamTo(peer::ApiPeer& peer);
    // Every command ({"c", "p"}) the peer has received from the shared connection up to
    // now, in order: a marker command follows them, and the list ends where it arrives.
    static std::vector<nlohmann::json> commandsSentSoFar(const peer::ApiPeer& peer);

    std::unique_ptr<TempDir> home_;
    std::unique_ptr<testsupport::ProxyEnvironment> proxies_;
    std::shared_ptr<TestApiConnectionHost> host_;

  private:
    struct Routes {
        std::mutex mutex;
        std::map<std::pair<std::string, int>, int> ports;
    };
    std::shared_ptr<Routes> routes_ = std::make_shared<Routes>();
};
