// A resource whose server answers and then breaks off is a broken resource, not a lost
// network: it is repeated a few times, then fails to whoever waits for it, and no other
// load is held meanwhile. A load that nothing answers still leads to "lost (blocking)".
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
        {"/cut.js", cutChunked, 5},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path);
        server_.respond(row.path, row.response);
        const size_t before = repeats();
        const std::string key = server_.url(row.path);
        auto broken = lookup(key);
        std::shared_ptr<Answers> healthy;
        for (size_t attempt = 1; attempt <= Source::kMaximumAnsweredRepeats + 1; ++attempt) {
            if (attempt <= Source::kMaximumAnsweredRepeats) {
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
            if (attempt <= Source::kMaximumAnsweredRepeats) {
                EXPECT_FALSE(broken->finished());
                platform::advanceBy(Source::kRepeatDelay);
            }
        }
        ASSERT_TRUE(waitFor([&] { return broken->finished(); }));
        ASSERT_TRUE(broken->error);
        EXPECT_EQ(broken->error->code(), platform::kURLErrorNetworkConnectionLost);
        EXPECT_TRUE(logged("is not repeated after 4 answered repeats. [" + key + "]"));
        EXPECT_EQ(server_.requestCount(row.path), Source::kMaximumAnsweredRepeats + 1);
        // The server answered every time: nothing counts against the network.
        EXPECT_EQ(Monitor::sharedMonitor().lastReportedError(), platform::Date::distantPast());
        platform::advanceBy(20);
        EXPECT_EQ(server_.requestCount(row.path), Source::kMaximumAnsweredRepeats + 1);
        EXPECT_EQ(Monitor::sharedMonitor().state(), Monitor::kStateOpened);
    }
}

TEST_F(MVWebCacheCutAnswerTest, ALoadThatNothingAnswersIsRepeatedUntilTheNetworkCountsAsLost) {
    HttpTestServer::Response silent;
    silent.closeWithoutResponse = true;
    server_.respond("/gone.png", silent);
    auto gone = lookup(server_.url("/gone.png"));
    for (size_t attempt = 1; attempt <= 4; ++attempt) {
        ASSERT_TRUE(attemptEnded("/gone.png", attempt));
        platform::advanceBy(Source::kRepeatDelay);
    }
    // Errors at 0, 5, 10 and 15 s: lost after 16 s erroneous; the repeat at 20 s waits.
    EXPECT_EQ(Monitor::sharedMonitor().state(), Monitor::kStateLostBlocking);
    auto healthy = lookup(server_.url("/ok.png"));
    platform::advanceBy(10);
    platform::runUntil([] { return false; }, 0.2);
    EXPECT_EQ(server_.requestCount("/gone.png"), 4u);
    EXPECT_EQ(server_.requestCount("/ok.png"), 0u);
    EXPECT_FALSE(gone->finished());
    EXPECT_FALSE(healthy->finished());
}

TEST_F(MVWebCacheCutAnswerTest, ANearEmptyScriptThatStaysNearEmptyIsDeliveredAfterItsRepeats) {
    Source::setShortScriptDomains({"127.0.0.1"});
    server_.respond("/app.js", HttpTestServer::Response::text(200, "", "text/javascript"));
    const std::string key = server_.url("/app.js");
    auto script = lookup(key);
    for (size_t attempt = 1; attempt <= Source::kMaximumAnsweredRepeats; ++attempt) {
        ASSERT_TRUE(waitFor([&] { return loggedCount("SASS Fix applied") == attempt; }));
        EXPECT_FALSE(script->finished());
        platform::advanceBy(Source::kRepeatDelay);
    }
    ASSERT_TRUE(waitFor([&] { return script->finished(); }));
    EXPECT_FALSE(script->error);
    EXPECT_EQ(textOf(script->data), "");
    EXPECT_EQ(server_.requestCount("/app.js"), Source::kMaximumAnsweredRepeats + 1);
    EXPECT_EQ(Monitor::sharedMonitor().lastReportedError(), platform::Date::distantPast());
}
