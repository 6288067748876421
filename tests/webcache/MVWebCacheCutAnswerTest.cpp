// A resource whose server answers and then breaks off is a broken resource, not a lost
// network: it is repeated a few times, then fails to whoever waits for it, and no other
// load is held meanwhile. A load that nothing answers fails to its waiter the same way,
// and still leads to "lost (blocking)", however often the API stream answers.
#include <gtest/gtest.h>

#include "libmerovane/core/MVConnectionLossMonitor.h"
#include "libmerovane/webcache/MVWebCacheHTTPDataSource.h"
#include "platform/foundation/URLErrors.h"
#include "tests/support/CutAnswer.h"
#include "tests/support/HttpTestServer.h"
#include "tests/webcache/WebCacheSourceFixture.h"

namespace {

using Monitor = MVConnectionLossMonitor;
using Source = MVWebCacheHTTPDataSource;

class MVWebCacheCutAnswerTest : public WebCacheSourceTest {
  protected:
    void SetUp() override {
        WebCacheSourceTest::SetUp();
        MVWebCacheDataSource::registerBuiltInDataSources();
        Monitor::beginMonitoring();
        server_.respond("/ok.png", HttpTestServer::Response::text(200, "fine", "image/png"));
    }
    size_t repeats() { return loggedCount("will be repeated in 5 seconds"); }
    // Waits for the attempt `n` of `path` to be over, and moves on to the next.
    bool attemptEnded(const std::string& path, size_t n) {
        return waitFor([&] { return server_.requestCount(path) == n && repeats() == n; });
    }

    HttpTestServer server_;
};

}  // namespace

TEST_F(MVWebCacheCutAnswerTest, AnAnsweredLoadFailsToItsWaiterAfterItsRepeatsAndHoldsNoOther) {
    HttpTestServer::Response cutChunked;
    cutChunked.chunked = true;
    cutChunked.chunks = {"var a = 1;", "var b = 2;"};
    cutChunked.dropAfterChunks = 1;
    const struct {
        const char* path;
        HttpTestServer::Response response;
        size_t healthyAfter;  // the attempt after which a healthy load of the host starts
    } rows[] = {
        {"/broken.png", cutAnswer(2 << 20, 200 << 10, "image/png"), 1},
        {"/headonly.png", cutAnswer(1000, 0, "image/png"), 3},
        {"/cut.js", cutChunked, 4},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path);
        server_.respond(row.path, row.response);
        const size_t before = repeats();
        const std::string key = server_.url(row.path);
        auto broken = lookup(key);
        std::shared_ptr<Answers> healthy;
        for (size_t attempt = 1; attempt <= Source::kMaximumRepeats + 1; ++attempt) {
            if (attempt <= Source::kMaximumRepeats) {
                ASSERT_TRUE(waitFor([&] {
                    return server_.requestCount(row.path) == attempt &&
                           repeats() == before + attempt;
                }));
            }
            if (attempt == row.healthyAfter) {
                healthy = lookup(server_.url("/ok.png?" + std::to_string(attempt)));
                ASSERT_TRUE(waitFor([&] { return healthy->finished(); }));
                EXPECT_EQ(textOf(healthy->data), "fine");
            }
            EXPECT_EQ(Monitor::sharedMonitor().state(), Monitor::kStateOpened);
            if (attempt <= Source::kMaximumRepeats) {
                EXPECT_FALSE(broken->finished());
                platform::advanceBy(Source::kRepeatDelay);
            }
        }
        ASSERT_TRUE(waitFor([&] { return broken->finished(); }));
        ASSERT_TRUE(broken->error);
        EXPECT_EQ(broken->error->code(), platform::kURLErrorNetworkConnectionLost);
        EXPECT_TRUE(logged("is not repeated after 3 repeats. [" + key + "]"));
        EXPECT_EQ(server_.requestCount(row.path), Source::kMaximumRepeats + 1);
        // The server answered every time: nothing counts against the network.
        EXPECT_EQ(Monitor::sharedMonitor().lastReportedError(), platform::Date::distantPast());
        platform::advanceBy(20);
        EXPECT_EQ(server_.requestCount(row.path), Source::kMaximumRepeats + 1);
        EXPECT_EQ(Monitor::sharedMonitor().state(), Monitor::kStateOpened);
    }
}

TEST_F(MVWebCacheCutAnswerTest, ALoadThatNothingAnswersFailsAfterItsRepeatsAndTheNetworkIsLost) {
    HttpTestServer::Response silent;
    silent.closeWithoutResponse = true;
    server_.respond("/gone.png", silent);
    auto gone = lookup(server_.url("/gone.png"));
    for (size_t attempt = 1; attempt <= Source::kMaximumRepeats; ++attempt) {
        ASSERT_TRUE(attemptEnded("/gone.png", attempt));
        platform::advanceBy(Source::kRepeatDelay);
    }
    ASSERT_TRUE(waitFor([&] { return gone->finished(); }));
    platform::advanceBy(2);
    // Errors at 0, 5, 10 and 15 s: the last fails to its waiter, and the network is lost
    // after 16 s erroneous; a new load waits.
    ASSERT_TRUE(gone->finished());
    ASSERT_TRUE(gone->error);
    EXPECT_EQ(gone->error->code(), platform::kURLErrorNetworkConnectionLost);
    EXPECT_EQ(Monitor::sharedMonitor().state(), Monitor::kStateLostBlocking);
    auto healthy = lookup(server_.url("/ok.png"));
    platform::advanceBy(10);
    platform::runUntil([] { return false; }, 0.2);
    EXPECT_EQ(server_.requestCount("/gone.png"), 4u);
    EXPECT_EQ(server_.requestCount("/ok.png"), 0u);
    EXPECT_FALSE(healthy->finished());
}

TEST_F(MVWebCacheCutAnswerTest, ANearEmptyScriptThatStaysNearEmptyIsDeliveredAfterItsRepeats) {
    Source::setShortScriptDomains({"127.0.0.1"});
    server_.respond("/app.js", HttpTestServer::Response::text(200, "", "text/javascript"));
    const std::string key = server_.url("/app.js");
    auto script = lookup(key);
    for (size_t attempt = 1; attempt <= Source::kMaximumRepeats; ++attempt) {
        ASSERT_TRUE(waitFor([&] { return loggedCount("SASS Fix applied") == attempt; }));
        EXPECT_FALSE(script->finished());
        platform::advanceBy(Source::kRepeatDelay);
    }
    ASSERT_TRUE(waitFor([&] { return script->finished(); }));
    EXPECT_FALSE(script->error);
    EXPECT_EQ(textOf(script->data), "");
    EXPECT_EQ(server_.requestCount("/app.js"), Source::kMaximumRepeats + 1);
    EXPECT_EQ(Monitor::sharedMonitor().lastReportedError(), platform::Date::distantPast());
}

// A load of one failing resource, beside the API stream ------------------------------------

namespace {

struct FailingLoadRow {
    const char* name;
    FailingAnswer failure;
    double streamEvery;  // the stream's packets report a success this often; 0: no stream
    size_t requests;     // what the server sees of the load
    double failedAt;     // when the waiter is answered
    long code;           // its URL error; 0: the data is delivered
    std::optional<double> lostAt;
};

const FailingLoadRow kFailingLoadRows[] = {
    {"Closes", FailingAnswer::kCloses, 0, 4, 15, -1005, 16.5},
    {"Closes_PacketEvery3s", FailingAnswer::kCloses, 3, 4, 15, -1005, 16.5},
    {"Closes_PacketEveryHalfSecond", FailingAnswer::kCloses, 0.5, 4, 15, -1005, 16.5},
    {"NeverAnswers", FailingAnswer::kNeverAnswers, 0, 3, 15, -1001, 21.5},
    {"NeverAnswers_PacketEvery3s", FailingAnswer::kNeverAnswers, 3, 3, 15, -1001, 21.5},
    {"CutsItsAnswer", FailingAnswer::kCutsItsAnswer, 0, 4, 15, -1005, {}},
    {"CutsItsAnswer_PacketEvery3s", FailingAnswer::kCutsItsAnswer, 3, 4, 15, -1005, {}},
    {"Answers503_PacketEvery3s", FailingAnswer::kErrorStatus, 3, 1, 0, 0, {}},
};

class MVWebCacheFailingLoadTest : public MVWebCacheCutAnswerTest,
                                  public ::testing::WithParamInterface<FailingLoadRow> {};

}  // namespace

// The resource fails to its waiter by 15 s and is not loaded again; "lost (blocking)" when
// nothing answered it, whatever the stream does meanwhile.
TEST_P(MVWebCacheFailingLoadTest, ItFailsToItsWaiterWithinTheLossTimeAndItsRepeatsEnd) {
    const auto& row = GetParam();
    server_.respond("/img.png", failingAnswer(row.failure));
    LossWatch watch(row.streamEvery);
    auto failing = lookup(server_.url("/img.png"));
    // Every 5 s the source works on real I/O; between, the clock moves in quarter seconds.
    for (int second = 0; second <= 40; second += 5) {
        const bool delivered = second >= row.failedAt;
        const size_t requests = std::min<size_t>(second / 5 + 1, row.requests);
        const bool repeated =
            row.failure == FailingAnswer::kCloses || row.failure == FailingAnswer::kCutsItsAnswer;
        ASSERT_TRUE(waitFor([&] {
            if (delivered) return failing->finished();
            return server_.requestCount("/img.png") == requests &&
                   (!repeated || repeats() == requests);
        })) << second;
        if (!delivered) {
            EXPECT_FALSE(failing->finished()) << second;
        }
        if (second < 40) watch.advance(5);
    }
    EXPECT_EQ(watch.lostAt, row.lostAt);
    // A server that answered, however badly, never counts against the network.
    EXPECT_EQ(Monitor::sharedMonitor().lastReportedContentError() == platform::Date::distantPast(),
              !row.lostAt);
    EXPECT_EQ(failing->finals, 1);
    if (row.code) {
        ASSERT_TRUE(failing->error);
        EXPECT_EQ(failing->error->code(), row.code);
    } else {
        EXPECT_FALSE(failing->error);
        EXPECT_EQ(failing->info["http-status-code"], 503);
    }
    // Its repeats are over: nothing more reaches the server, also after a retry.
    Monitor::retryConnections();
    platform::advanceBy(30);
    platform::runUntil([] { return false; }, 0.2);
    EXPECT_EQ(server_.requestCount("/img.png"), row.requests);
    EXPECT_EQ(Monitor::sharedMonitor().state(), Monitor::kStateOpened);
    EXPECT_EQ(Source::sharedDataSource()->runningLoadCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Rows, MVWebCacheFailingLoadTest, ::testing::ValuesIn(kFailingLoadRows),
                         [](const auto& info) { return std::string(info.param.name); });
