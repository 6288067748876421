#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/TestDriver.h"
#include "platform/foundation/Thread.h"
#include "tests/support/PlatformTest.h"

using platform::Clock;
using platform::RunLoop;

namespace {
class RunLoopTest : public PlatformTest {};

int64_t now() {
    return Clock::monotonicNanos();
}
}  // namespace

TEST_F(RunLoopTest, EqualTimesRunInPostingOrderAndPostNeverRunsInsideTheCall) {
    std::vector<int> order;
    auto& loop = RunLoop::main();
    loop.post([&] { order.push_back(1); });
    loop.postAfter(0, [&] { order.push_back(2); });
    loop.postAfter(-1, [&] { order.push_back(3); });
    loop.post([&] { order.push_back(4); });
    EXPECT_TRUE(order.empty());
    platform::runUntilIdle();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
}

TEST_F(RunLoopTest, ItemsPostedDuringATurnRunAtALaterTurn) {
    std::vector<int> order;
    auto& loop = RunLoop::main();
    loop.post([&] {
        order.push_back(1);
        loop.post([&] { order.push_back(3); });
    });
    loop.post([&] { order.push_back(2); });
    EXPECT_EQ(loop.runDue(), 2u);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_EQ(loop.runDue(), 1u);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST_F(RunLoopTest, DelayedItemRunsAtExactlyItsDueTime) {
    const int64_t start = now();
    int64_t ranAt = -1;
    RunLoop::main().postAfter(0.3, [&] { ranAt = now(); });
    platform::advanceBy(0.299999999);
    EXPECT_EQ(ranAt, -1);
    platform::advanceBy(0.000000001);
    EXPECT_EQ(ranAt - start, 300'000'000);
    // Delays are truncated to whole nanoseconds.
    EXPECT_EQ(platform::secondsToNanos(0.005), 5'000'000);
    EXPECT_EQ(platform::secondsToNanos(1e-10), 0);
    EXPECT_EQ(platform::secondsToNanos(19), 19'000'000'000);
}

TEST_F(RunLoopTest, DelaysOutsideTheClocksRangeNeverRunAtOnce) {
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    constexpr double kInf = std::numeric_limits<double>::infinity();
    constexpr int64_t kEnd = std::numeric_limits<int64_t>::max();
    // NaN counts as 0, everything else beyond the range saturates at its ends.
    EXPECT_EQ(platform::secondsToNanos(kNaN), 0);
    EXPECT_EQ(platform::secondsToNanos(kInf), kEnd);
    EXPECT_EQ(platform::secondsToNanos(1e300), kEnd);
    EXPECT_EQ(platform::secondsToNanos(-kInf), std::numeric_limits<int64_t>::min());
    struct Row {
        double delay;
        bool repeating;
        bool runsAtNextTurn;
    } const rows[] = {
        {kNaN, false, true},
        {-kInf, false, true},
        {kInf, false, false},
        {1e10, false, false},
        {1e300, false, false},
        // repeating intervals of NaN, 0 and less repeat every 0.1 ms
        {kNaN, true, false},
        {0, true, false},
        {-1, true, false},
    };
    std::vector<int> runs(std::size(rows));
    std::vector<platform::TimerHandle> timers;
    auto& loop = RunLoop::main();
    for (size_t i = 0; i < std::size(rows); ++i) {
        auto count = [&runs, i] { ++runs[i]; };
        timers.push_back(rows[i].repeating ? loop.postRepeating(rows[i].delay, count)
                                           : loop.postAfter(rows[i].delay, count));
    }
    platform::DispatchQueue::main().after(kNaN, [&] { runs.push_back(1); });
    EXPECT_EQ(runs, std::vector<int>(std::size(rows)));
    platform::runUntilIdle();
    for (size_t i = 0; i < std::size(rows); ++i) EXPECT_EQ(runs[i], rows[i].runsAtNextTurn) << i;
    EXPECT_EQ(runs.size(), std::size(rows) + 1);  // the queue's NaN delay ran too
    EXPECT_EQ(loggedCount("was given a delay that is no number"), 2u);
    EXPECT_EQ(loggedCount("was given an interval that is no number"), 1u);

    platform::advanceBy(1.0);
    for (size_t i = 0; i < std::size(rows); ++i) {
        if (rows[i].repeating)
            EXPECT_EQ(runs[i], 10'000) << i;
        else
            EXPECT_EQ(runs[i], rows[i].runsAtNextTurn) << i;
    }
    for (auto& timer : timers) timer.cancel();
    // A manual clock moved by a NaN stays put.
    const int64_t before = now();
    platform::sleepFor(kNaN);
    EXPECT_EQ(now(), before);
}

TEST_F(RunLoopTest, ItemsRunInDueTimeOrderAcrossDelays) {
    std::vector<int> order;
    auto& loop = RunLoop::main();
    loop.postAfter(0.2, [&] { order.push_back(2); });
    loop.postAfter(0.1, [&] { order.push_back(1); });
    loop.postAfter(0.2, [&] { order.push_back(3); });
    platform::advanceBy(1);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST_F(RunLoopTest, CancelledTimerNeverRuns) {
    bool ran = false, ranElsewhere = false;
    auto timer = RunLoop::main().postAfter(0.1, [&] { ran = true; });
    EXPECT_TRUE(timer.isValid());
    timer.cancel();
    EXPECT_FALSE(timer.isValid());
    // Cancelling from another thread stops the timer too.
    auto other = RunLoop::main().postAfter(0.1, [&] { ranElsewhere = true; });
    std::thread([&] { other.cancel(); }).join();
    platform::advanceBy(1);
    EXPECT_FALSE(ran);
    EXPECT_FALSE(ranElsewhere);
}

TEST_F(RunLoopTest, RepeatingTimerFiresEveryInterval) {
    const int64_t start = now();
    std::vector<int64_t> fired;
    auto timer = RunLoop::main().postRepeating(0.5, [&] { fired.push_back(now() - start); });
    platform::advanceBy(1.6);
    EXPECT_EQ(fired, (std::vector<int64_t>{500'000'000, 1'000'000'000, 1'500'000'000}));
    timer.cancel();
    platform::advanceBy(1);
    EXPECT_EQ(fired.size(), 3u);
}

TEST_F(RunLoopTest, RepeatingTimerMayCancelItself) {
    int count = 0;
    platform::TimerHandle timer;
    timer = RunLoop::main().postRepeating(0.5, [&] {
        if (++count == 2) timer.cancel();
    });
    platform::advanceBy(5);
    EXPECT_EQ(count, 2);
}

TEST_F(RunLoopTest, WorkerThreadTimerFiresAtExactlyItsTime) {
    platform::Thread worker("Merovane Api Upstream");
    const int64_t start = now();
    std::atomic<int64_t> firedAt{-1};
    std::atomic<bool> onWorker{false};
    worker.runLoop().postAfter(19, [&] {
        firedAt = now() - start;
        onWorker = platform::Thread::currentName() == "Merovane Api Upstream";
    });
    platform::advanceBy(18.9);
    EXPECT_EQ(firedAt.load(), -1);
    platform::advanceBy(0.1);
    EXPECT_EQ(firedAt.load(), 19'000'000'000);
    EXPECT_TRUE(onWorker);
}

TEST_F(RunLoopTest, WorkerChainsAcrossLoopsRunInTimeOrder) {
    // A worker timer posts to main, which schedules more work on the worker.
    platform::Thread worker("worker");
    std::vector<std::string> trace;
    std::mutex m;
    auto note = [&](std::string s) {
        std::lock_guard l(m);
        trace.push_back(s + "@" + std::to_string(now() / 1'000'000));
    };
    const int64_t base = now() / 1'000'000;
    worker.runLoop().postAfter(1, [&] {
        note("w1");
        RunLoop::main().post([&] {
            note("m1");
            worker.runLoop().postAfter(1, [&] { note("w2"); });
        });
    });
    platform::advanceBy(3);
    auto at = [&](const char* s, int64_t ms) {
        return std::string(s) + "@" + std::to_string(base + ms);
    };
    EXPECT_EQ(trace, (std::vector<std::string>{at("w1", 1000), at("m1", 1000), at("w2", 2000)}));
}

TEST_F(RunLoopTest, PostFromAnotherThreadRunsOnTargetLoop) {
    platform::Thread worker("poster");
    bool ranOnMain = false;
    worker.runLoop().post(
        [&] { RunLoop::main().post([&] { ranOnMain = platform::isMainThread(); }); });
    ASSERT_TRUE(platform::runUntil([&] { return ranOnMain; }, 10));
}

TEST_F(RunLoopTest, PerformOnMainThreadWaitsAndRunsInlineOnMain) {
    bool inlineRan = false;
    platform::performOnMainThread([&] { inlineRan = true; }, true);
    EXPECT_TRUE(inlineRan);

    platform::Thread worker("waiter");
    std::atomic<bool> workerResumed{false};
    std::atomic<bool> ranOnMain{false};
    worker.runLoop().post([&] {
        platform::performOnMainThread([&] { ranOnMain = platform::isMainThread(); }, true);
        // Reached only after the main loop has run the function.
        workerResumed = ranOnMain.load();
    });
    ASSERT_TRUE(platform::runUntil([&] { return workerResumed.load(); }, 10));
}

TEST_F(RunLoopTest, FunctionsAreDestroyedOnTheirLoopsThread) {
    struct Probe {
        std::atomic<bool>* onWorker;
        ~Probe() {
            if (onWorker) *onWorker = platform::Thread::currentName() == "owner";
        }
    };
    std::atomic<bool> onWorker{false};
    {
        platform::Thread worker("owner");
        auto probe = std::make_shared<Probe>(Probe{&onWorker});
        worker.runLoop().post([p = std::move(probe)] {});
        platform::runUntilIdle();
    }
    EXPECT_TRUE(onWorker);
}

TEST_F(RunLoopTest, SleepForMovesTheManualClock) {
    const int64_t start = now();
    platform::sleepFor(0.001);
    EXPECT_EQ(now() - start, 1'000'000);
}

TEST_F(RunLoopTest, ManualWallClockStartsOnAWholeSecond) {
    double wall = Clock::wallSeconds() - static_cast<double>(now()) / 1e9;
    EXPECT_EQ(wall, static_cast<double>(static_cast<int64_t>(wall)));
}

TEST_F(RunLoopTest, FdWatchReportsReadiness) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    short seen = 0;
    auto watch = RunLoop::main().watchFd(fds[0], platform::kFdReadable,
                                         [&](short revents) { seen = revents; });
    ASSERT_EQ(::write(fds[1], "x", 1), 1);
    ASSERT_TRUE(platform::runUntil([&] { return seen != 0; }, 10));
    EXPECT_TRUE(seen & platform::kFdReadable);
    watch.cancel();
    ::close(fds[0]);
    ::close(fds[1]);
}

TEST_F(RunLoopTest, DispatchQueuesRunAsyncAndAfterOnTheClock) {
    auto serial = platform::DispatchQueue::makeSerial("serial");
    std::vector<int> order;
    std::mutex m;
    for (int i = 0; i < 5; ++i)
        serial->async([&, i] {
            std::lock_guard l(m);
            order.push_back(i);
        });
    std::atomic<int64_t> afterAt{-1};
    const int64_t start = now();
    platform::DispatchQueue::global().after(2, [&] { afterAt = now() - start; });
    bool mainRan = false;
    platform::DispatchQueue::main().after(1, [&] { mainRan = true; });
    platform::advanceBy(2);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(afterAt.load(), 2'000'000'000);
    EXPECT_TRUE(mainRan);
    int value = 0;
    serial->sync([&] { value = 7; });
    EXPECT_EQ(value, 7);
}

TEST_F(RunLoopTest, DiscardingPendingItemsDropsThemUnrun) {
    bool ran = false;
    auto timer = RunLoop::main().postAfter(1, [&] { ran = true; });
    RunLoop::main().post([&] { ran = true; });
    RunLoop::main().discardPendingForTesting();
    EXPECT_FALSE(timer.isValid());
    platform::advanceBy(2);
    EXPECT_FALSE(ran);
}
