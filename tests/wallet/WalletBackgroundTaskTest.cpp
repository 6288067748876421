// The wallet's background task against the application's background tasks: one task at
// a time, its worker on the global queue, stop, expiry and a refused task.
#include <gtest/gtest.h>

#include "platform/foundation/TestDriver.h"
#include "platform/ui/Application.h"
#include "tests/support/PlatformTest.h"
#include "wallet/TWABackgroundTask.h"

namespace {

class WalletBackgroundTaskTest : public PlatformTest {
  protected:
    static size_t systemTasks() {
        return platform::Application::shared().backgroundTasksForTesting().size();
    }
};

}  // namespace

TEST_F(WalletBackgroundTaskTest, StartingTwiceBeginsOneTaskWhoseWorkerEndsWithIt) {
    TWABackgroundTask::startBackgroundTaskIfNotRunning();
    const auto task = TWABackgroundTask::currentTask();
    TWABackgroundTask::startBackgroundTaskIfNotRunning();
    EXPECT_NE(task, platform::kInvalidBackgroundTask);
    EXPECT_EQ(TWABackgroundTask::currentTask(), task);
    EXPECT_EQ(systemTasks(), 1u);
    platform::advanceBy(3 * TWABackgroundTask::kPollInterval);
    EXPECT_EQ(TWABackgroundTask::runningWorkersForTesting(), 1);

    TWABackgroundTask::stopBackgroundTaskIfRunning();
    EXPECT_EQ(TWABackgroundTask::currentTask(), platform::kInvalidBackgroundTask);
    EXPECT_EQ(systemTasks(), 0u);
    platform::advanceBy(TWABackgroundTask::kPollInterval);
    EXPECT_EQ(TWABackgroundTask::runningWorkersForTesting(), 0);

    TWABackgroundTask::stopBackgroundTaskIfRunning();  // nothing runs: nothing to end
    EXPECT_FALSE(logged("cannot end"));
}

TEST_F(WalletBackgroundTaskTest, ExpiryEndsTheTaskAndItsWorker) {
    TWABackgroundTask::startBackgroundTaskIfNotRunning();
    platform::Application::shared().expireBackgroundTasksForTesting();
    EXPECT_EQ(TWABackgroundTask::currentTask(), platform::kInvalidBackgroundTask);
    EXPECT_EQ(systemTasks(), 0u);
    EXPECT_FALSE(logged("did not end"));
    platform::advanceBy(TWABackgroundTask::kPollInterval);
    EXPECT_EQ(TWABackgroundTask::runningWorkersForTesting(), 0);

    TWABackgroundTask::startBackgroundTaskIfNotRunning();  // a new one after expiry
    EXPECT_EQ(systemTasks(), 1u);
}

TEST_F(WalletBackgroundTaskTest, RefusedTaskStartsNoWorkerAndALaterStartAsksAgain) {
    auto& app = platform::Application::shared();
    app.setBackgroundTasksRefusedForTesting(true);
    TWABackgroundTask::startBackgroundTaskIfNotRunning();
    EXPECT_EQ(TWABackgroundTask::currentTask(), platform::kInvalidBackgroundTask);
    EXPECT_EQ(TWABackgroundTask::runningWorkersForTesting(), 0);

    app.setBackgroundTasksRefusedForTesting(false);
    TWABackgroundTask::startBackgroundTaskIfNotRunning();
    EXPECT_NE(TWABackgroundTask::currentTask(), platform::kInvalidBackgroundTask);
    EXPECT_EQ(TWABackgroundTask::runningWorkersForTesting(), 1);
}

// A task stopped and a new one begun before the old worker looks again: the old worker
// ends, the new task has one worker of its own.
TEST_F(WalletBackgroundTaskTest, AWorkerWatchesOnlyItsOwnTask) {
    TWABackgroundTask::startBackgroundTaskIfNotRunning();
    platform::runUntilIdle();
    TWABackgroundTask::stopBackgroundTaskIfRunning();
    TWABackgroundTask::startBackgroundTaskIfNotRunning();
    EXPECT_EQ(TWABackgroundTask::runningWorkersForTesting(), 2);
    platform::advanceBy(TWABackgroundTask::kPollInterval);
    EXPECT_EQ(TWABackgroundTask::runningWorkersForTesting(), 1);
}
