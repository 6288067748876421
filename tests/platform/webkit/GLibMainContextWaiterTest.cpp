#include <glib.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/TestDriver.h"
#include "platform/web/webkit/GLibMainContextWaiter.h"
#include "tests/support/PlatformTest.h"

namespace {

constexpr double kWaiterPatience = 20.0;

class GLibMainContextWaiterTest : public PlatformTest {
  protected:
    void SetUp() override {
        PlatformTest::SetUp();
        platform::useGLibMainContextForMainRunLoop();
    }
};

TEST_F(GLibMainContextWaiterTest, GLibSourcesRunWhileOurLoopWaitsAndOurOrderStays) {
    bool glibRan = false;
    g_idle_add(
        [](gpointer flag) -> gboolean {
            *static_cast<bool*>(flag) = true;
            return G_SOURCE_REMOVE;
        },
        &glibRan);
    std::vector<int> order;
    auto& loop = platform::RunLoop::main();
    loop.post([&] { order.push_back(1); });
    loop.postAfter(0, [&] { order.push_back(2); }).detach();
    loop.post([&] { order.push_back(3); });
    EXPECT_TRUE(platform::runUntil([&] { return glibRan && order.size() == 3; }, kWaiterPatience));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST_F(GLibMainContextWaiterTest, WakeFromAnotherThreadEndsAWait) {
    auto waiter = platform::makeGLibMainContextWaiter();
    std::thread waker([&] { waiter->wake(); });
    std::vector<pollfd> none;
    const auto start = std::chrono::steady_clock::now();
    waiter->wait(platform::secondsToNanos(kWaiterPatience), none);
    waker.join();
    // Without the wake this would wait the whole time.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_TRUE(none.empty());
}

TEST_F(GLibMainContextWaiterTest, WatchedDescriptorsStillReachTheirCallbacks) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    short seen = 0;
    auto watch =
        platform::RunLoop::main().watchFd(fds[0], platform::kFdReadable, [&](short revents) {
            seen = revents;
            char c;
            [[maybe_unused]] auto n = ::read(fds[0], &c, 1);
        });
    ASSERT_EQ(::write(fds[1], "x", 1), 1);
    EXPECT_TRUE(platform::runUntil([&] { return seen != 0; }, kWaiterPatience));
    EXPECT_TRUE(seen & POLLIN);
    watch.cancel();
    ::close(fds[0]);
    ::close(fds[1]);
}

TEST_F(GLibMainContextWaiterTest, IteratingGLibRunsNoneOfOurWorkAndIsBounded) {
    bool ours = false;
    platform::RunLoop::main().post([&] { ours = true; });
    bool fired = false;
    g_timeout_add(
        10,
        [](gpointer flag) -> gboolean {
            *static_cast<bool*>(flag) = true;
            return G_SOURCE_REMOVE;
        },
        &fired);
    EXPECT_TRUE(platform::iterateGLibUntil([&] { return fired; }, kWaiterPatience));
    EXPECT_FALSE(ours);
    EXPECT_FALSE(platform::iterateGLibUntil([] { return false; }, 0.05));
    platform::runUntilIdle();
    EXPECT_TRUE(ours);
}

}  // namespace
