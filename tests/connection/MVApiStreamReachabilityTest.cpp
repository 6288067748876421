// The API stream's packets tell the connection-loss monitor that the network answers, so
// loads that keep failing elsewhere never block the shop while the stream answers.
#include <gtest/gtest.h>

#include <optional>

#include "libmerovane/connection/MVApiConnection.h"
#include "libmerovane/core/MVConnectionLossMonitor.h"
#include "platform/foundation/TestDriver.h"
#include "tests/connection/ServerCommandRecorder.h"
#include "tests/support/ApiConnectionTest.h"

using namespace peer;
using Monitor = MVConnectionLossMonitor;

namespace {

class MVApiStreamReachabilityTest : public ApiConnectionTest {
  protected:
    void SetUp() override {
        ApiConnectionTest::SetUp();
        ServerCommandRecorder::install();
    }
};

}  // namespace

// A resource fails (an attempt and an error) between every two checks; the stream opens
// at 0 s and its server sends a packet from `first`, every `every` s, until `until`.
TEST_F(MVApiStreamReachabilityTest, PacketsKeepTheMonitorFromLostWhileAResourceKeepsFailing) {
    const struct {
        double first, every, until;
        std::optional<double> lostAfter;  // seconds after the stream opened
    } rows[] = {
        {3, 3, 40, std::nullopt},    // the page's data request every 3 s
        {10, 10, 40, std::nullopt},  // seldom, yet within every 16 s
        {15.5, 15, 40, std::nullopt},
        {3, 3, 9.5, 25.5},  // falls silent: lost 16 s after its last packet
    };
    ApiPeer peer;
    peer.setDefaultScript({.head = ResponseHead::ok(), .afterHead = {}});
    host_->setDefaultApiPath(peerUrl(peer));
    auto& connection = MVApiConnection::sharedConnection();
    connection.setIsAllowedToReadCommands(true);
    platform::advanceBy(MVApiConnection::kStartDelay);
    ASSERT_TRUE(waitFor([&] { return connection.state() == MVApiConnectionStateStreaming; }));
    size_t sent = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.first);
        // Each row on a monitor made now, beside the open stream.
        Monitor::sharedMonitor().setState(Monitor::kStateOpened);
        Monitor::reportConnectionSuccess();
        Monitor::beginMonitoring();
        const auto opened = platform::Date::now();
        const auto elapsed = [&] { return platform::Date::now().timeIntervalSince(opened); };
        double nextPacket = row.first;
        std::optional<double> lostAfter;
        while (elapsed() < 40 && !lostAfter) {
            platform::advanceBy(0.25);
            Monitor::reportConnectionAttempt();
            Monitor::reportConnectionError();
            platform::advanceBy(0.25);  // a check
            if (Monitor::sharedMonitor().state() == Monitor::kStateLostBlocking) {
                lostAfter = elapsed();
                break;
            }
            if (elapsed() >= nextPacket - 1e-9 && nextPacket < row.until) {
                peer.perform(0, PeerAction::packet(ServerCommandRecorder::collection({{"n", 1}})));
                ++sent;
                ASSERT_TRUE(
                    waitFor([&] { return ServerCommandRecorder::performed().size() == sent; }));
                EXPECT_EQ(Monitor::sharedMonitor().lastReportedSuccess(), platform::Date::now());
                nextPacket += row.every;
            }
        }
        EXPECT_EQ(lostAfter, row.lostAfter);
    }
}
