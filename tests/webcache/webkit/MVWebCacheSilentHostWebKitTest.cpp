// A shop page in the real engine with a healthy image and one on a host that fails it,
// while the API stream stays open and may bring packets: the failing image fails to the
// page within the time the connection-loss monitor gives failing loads, the page is shown
// then, nothing repeats the image afterwards, and the monitor never shows its retry view:
// the healthy image answered, so the failing one fails alone.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "libmerovane/connection/MVApiConnection.h"
#include "libmerovane/core/MVConnectionLossMonitor.h"
#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "tests/support/CutAnswer.h"
#include "tests/support/ProxyEnvironment.h"
#include "tests/support/TestApiConnectionHost.h"
#include "tests/webcache/webkit/WebCachePageWebKitFixture.h"
#include "tools/peer/ApiPeer.h"

namespace {

using Monitor = MVConnectionLossMonitor;

struct SilentHostRow {
    const char* name;
    FailingAnswer host;
    double packetEvery;  // the API stream brings a packet this often; 0: none
    size_t requests;     // what the failing host sees of the image
};

const SilentHostRow kSilentHostRows[] = {
    {"Closes", FailingAnswer::kCloses, 0, 4},
    {"Closes_PacketEvery3s", FailingAnswer::kCloses, 3, 4},
    {"Closes_PacketEvery15s", FailingAnswer::kCloses, 15, 4},
    {"NeverAnswers", FailingAnswer::kNeverAnswers, 0, 3},
    {"NeverAnswers_PacketEvery3s", FailingAnswer::kNeverAnswers, 3, 3},
    {"CutsItsAnswer_PacketEvery3s", FailingAnswer::kCutsItsAnswer, 3, 4},
    {"Answers503_PacketEvery3s", FailingAnswer::kErrorStatus, 3, 1},
};

class MVWebCacheSilentHostWebKitTest : public StreamingPageWebKitTest,
                                       public ::testing::WithParamInterface<SilentHostRow> {
  protected:
    static constexpr double kWatched = 35.0;  // platform seconds after the page opens

    HttpTestServer site_;
    HttpTestServer failing_;
};

}  // namespace

TEST_P(MVWebCacheSilentHostWebKitTest, TheImageFailsToThePageInTimeAndAloneIsNoLoss) {
    const auto& row = GetParam();
    ASSERT_TRUE(openStream());
    failing_.respond("/img.png", failingAnswer(row.host));
    const auto opened = platform::Date::now();
    const auto elapsed = [&] { return platform::Date::now().timeIntervalSince(opened); };
    openPage(site_, "/shop", {healthyImage(site_, "/ok.svg"), failing_.url("/img.png")});

    // The stream answers throughout; the page and the monitor are watched meanwhile.
    double nextPacket = row.packetEvery;
    // Times from the image's first request, which the engine makes once the page loaded.
    std::optional<double> requestedAt, shownAt, lostAt;
    size_t requestsWhenShown = 0;
    ASSERT_TRUE(drive([&] {
        if (row.packetEvery > 0 && elapsed() >= nextPacket) {
            sendPacket();
            nextPacket += row.packetEvery;
        }
        if (!requestedAt && failing_.requestCount("/img.png") > 0) requestedAt = elapsed();
        if (!shownAt && shown()) {
            shownAt = elapsed();
            requestsWhenShown = failing_.requestCount("/img.png");
        }
        if (!lostAt && Monitor::sharedMonitor().state() == Monitor::kStateLostBlocking)
            lostAt = elapsed();
        return elapsed() >= kWatched;
    }));

    // Shown once the image failed after its last repeat at 15 s (or at once), never held
    // until a time-out. Each turn of the engine moves the clock, so the bounds are loose:
    // the source's own table holds the exact times.
    ASSERT_TRUE(requestedAt);
    ASSERT_TRUE(shownAt);
    EXPECT_LT(*shownAt - *requestedAt, 20.0);
    EXPECT_EQ(requestsWhenShown, row.requests);
    EXPECT_EQ(imagesLoadedAndFailed(), "1/1");
    EXPECT_EQ(failing_.requestCount("/img.png"), row.requests);
    EXPECT_FALSE(lostAt);
    if (row.packetEvery > 0) {
        // The stream still answers, and its packets reach the monitor as successes.
        platform::advanceBy(0.05);  // past every earlier success
        const auto sent = platform::Date::now();
        sendPacket();
        EXPECT_TRUE(drive([&] { return Monitor::sharedMonitor().lastReportedSuccess() >= sent; }));
    }

    // The image is not loaded again, also after the user retries.
    Monitor::retryConnections();
    const auto retried = platform::Date::now();
    ASSERT_TRUE(drive([&] { return platform::Date::now().timeIntervalSince(retried) >= 20; }));
    EXPECT_EQ(failing_.requestCount("/img.png"), row.requests);
    EXPECT_EQ(Monitor::sharedMonitor().state(), Monitor::kStateOpened);
}

INSTANTIATE_TEST_SUITE_P(Rows, MVWebCacheSilentHostWebKitTest, ::testing::ValuesIn(kSilentHostRows),
                         [](const auto& info) { return std::string(info.param.name); });
