#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/device/SystemSound.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/TestDriver.h"
#include "tests/support/PlatformTest.h"

using platform::SystemSound;

namespace {

using SystemSoundTest = PlatformTest;

// However often and from however many threads it plays, the record keeps the last plays
// in order and counts the rest.
TEST_F(SystemSoundTest, KeepsTheLastPlaysAndCountsAll) {
    EXPECT_TRUE(SystemSound::playedForTesting().empty());
    for (const size_t plays : {size_t(1), SystemSound::kKeptPlays, SystemSound::kKeptPlays + 1,
                               20 * SystemSound::kKeptPlays + 3}) {
        SCOPED_TRACE(plays);
        const uint64_t before = SystemSound::playCountForTesting();
        const int64_t start = platform::Clock::monotonicNanos();
        for (size_t i = 0; i < plays; ++i) {
            SystemSound::play(uint32_t(i));
            platform::advanceBy(0.001);
        }
        const auto played = SystemSound::playedForTesting();
        EXPECT_EQ(SystemSound::playCountForTesting(), before + plays);
        ASSERT_EQ(played.size(), std::min<uint64_t>(before + plays, SystemSound::kKeptPlays));
        // The newest last, a millisecond apart.
        EXPECT_EQ(played.back().soundId, uint32_t(plays - 1));
        EXPECT_EQ(played.back().monotonicNanos, start + int64_t(plays - 1) * 1000000);
        for (size_t i = 1; i < played.size(); ++i)
            EXPECT_EQ(played[i].monotonicNanos - played[i - 1].monotonicNanos, 1000000);
    }

    const uint64_t before = SystemSound::playCountForTesting();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 5000; ++i) SystemSound::play(SystemSound::kVibrate);
        });
    for (int i = 0; i < 1000; ++i)
        EXPECT_LE(SystemSound::playedForTesting().size(), SystemSound::kKeptPlays);
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(SystemSound::playCountForTesting() - before, 20000u);
    EXPECT_EQ(SystemSound::playedForTesting().size(), SystemSound::kKeptPlays);
}

}  // namespace
