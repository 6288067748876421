#include <gtest/gtest.h>

#include <thread>

#include "libmerovane/core/MVDeadlockPrevention.h"
#include "libmerovane/core/MVNamedLock.h"
#include "platform/foundation/Exception.h"
#include "tests/support/PlatformTest.h"

namespace {
class MVDeadlockPreventionTest : public PlatformTest {
  protected:
    static constexpr const char* kWarning = "MVDeadlockPrevention detected possible deadlock.";
};

// Takes `outer`, then `inner` while holding it, on the calling thread.
void nest(MVNamedLock& outer, MVNamedLock& inner) {
    std::lock_guard first(outer);
    std::lock_guard second(inner);
}
}  // namespace

TEST_F(MVDeadlockPreventionTest, ContraryOrderWarnsOncePerPair) {
    MVNamedLock a("A"), b("B");
    std::thread([&] { nest(a, b); }).join();
    EXPECT_EQ(loggedCount(kWarning), 0u);
    std::thread([&] { nest(b, a); }).join();
    EXPECT_EQ(loggedCount(kWarning), 1u);
    EXPECT_TRUE(
        logged("MVDeadlockPrevention detected possible deadlock. Resources \"A\" and \"B\" are "
               "sometimes locked in contrary order."));
    // A third time, in either order, on any thread: nothing more.
    nest(b, a);
    nest(a, b);
    EXPECT_EQ(loggedCount(kWarning), 1u);
}

TEST_F(MVDeadlockPreventionTest, NestingTheSameLockRecordsNothing) {
    MVNamedLock a("A");
    nest(a, a);
    nest(a, a);
    EXPECT_EQ(loggedCount(kWarning), 0u);
}

TEST_F(MVDeadlockPreventionTest, EachPairIsReportedSeparately) {
    MVDeadlockPrevention::lockingResource("WebCache");
    MVDeadlockPrevention::lockingResource("Storage");
    MVDeadlockPrevention::lockingResource("Data");
    MVDeadlockPrevention::unlockedResource("Data");
    MVDeadlockPrevention::unlockedResource("Storage");
    MVDeadlockPrevention::unlockedResource("WebCache");
    // Data while holding both others: both pairs are contrary.
    MVDeadlockPrevention::lockingResource("Data");
    MVDeadlockPrevention::lockingResource("Storage");
    MVDeadlockPrevention::lockingResource("WebCache");
    MVDeadlockPrevention::unlockedResource("WebCache");
    MVDeadlockPrevention::unlockedResource("Storage");
    MVDeadlockPrevention::unlockedResource("Data");
    EXPECT_EQ(loggedCount(kWarning), 3u);
    EXPECT_TRUE(logged("Resources \"Storage\" and \"Data\""));
    EXPECT_TRUE(logged("Resources \"WebCache\" and \"Data\""));
    EXPECT_TRUE(logged("Resources \"WebCache\" and \"Storage\""));
}

TEST_F(MVDeadlockPreventionTest, ReleasingAnUnheldResourceIsAnAssertion) {
    try {
        MVDeadlockPrevention::unlockedResource("Never");
        FAIL() << "no assertion";
    } catch (const platform::Exception& e) {
        EXPECT_EQ(e.name(), platform::kInternalInconsistencyException);
    }
    // Held once, released twice.
    MVDeadlockPrevention::lockingResource("Once");
    MVDeadlockPrevention::unlockedResource("Once");
    EXPECT_THROW(MVDeadlockPrevention::unlockedResource("Once"), platform::Exception);
}

TEST_F(MVDeadlockPreventionTest, ManyThreadsLearnConsistentlyWithoutFalseWarnings) {
    MVNamedLock a("A"), b("B"), c("C");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                std::lock_guard la(a);
                std::lock_guard lb(b);
                std::lock_guard lc(c);
                std::lock_guard again(c);
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(loggedCount(kWarning), 0u);
}
