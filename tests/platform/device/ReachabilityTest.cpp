#include <gtest/gtest.h>

#include "platform/device/Reachability.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"
#include "tests/support/PlatformTest.h"

using platform::Reachability;
using Status = platform::Reachability::Status;

namespace {

class ReachabilityTest : public PlatformTest {
  protected:
    Reachability& reachability = Reachability::shared();
};

TEST_F(ReachabilityTest, InjectedStatusReachesHandlersAndObserversOnTheMainLoop) {
    std::vector<Status> seen;
    std::vector<std::string> threads;
    reachability.addStatusChangeHandler([&](Status s) {
        seen.push_back(s);
        threads.push_back(platform::Thread::currentName());
    });
    std::vector<int> notified;
    platform::ObserverRegistration observer(
        platform::NotificationCenter::defaultCenter(),
        platform::NotificationCenter::defaultCenter().addObserver(
            platform::kReachabilityDidChangeNotification, nullptr,
            [&](const platform::Notification& n) {
                notified.push_back(static_cast<int>(platform::json::integerValue(
                    *n.userInfo, platform::kReachabilityNotificationStatusItem)));
            }));
    reachability.startMonitoring();
    EXPECT_EQ(reachability.status(), Status::Unknown);
    platform::runUntilIdle();
    EXPECT_TRUE(seen.empty());  // no system monitor under the manual clock

    // Injected from another thread: it still arrives on the main loop, and not inside the call.
    {
        platform::Thread other("Other");
        other.runLoop().post([] { Reachability::setStatusForTesting(Status::ReachableViaWiFi); });
        ASSERT_TRUE(platform::runUntil([&] { return !seen.empty(); }, 10));
    }
    Reachability::setStatusForTesting(Status::ReachableViaWWAN);
    EXPECT_EQ(seen.size(), 1u);
    platform::runUntilIdle();
    EXPECT_EQ(seen, (std::vector<Status>{Status::ReachableViaWiFi, Status::ReachableViaWWAN}));
    EXPECT_EQ(threads, (std::vector<std::string>{"main", "main"}));
    EXPECT_EQ(notified, (std::vector<int>{2, 1}));
    EXPECT_EQ(reachability.status(), Status::ReachableViaWWAN);
    EXPECT_TRUE(reachability.isReachable());
}

TEST_F(ReachabilityTest, NothingIsReportedWhileNotMonitoringButTheStatusFollows) {
    int calls = 0;
    reachability.addStatusChangeHandler([&](Status) { ++calls; });
    Reachability::setStatusForTesting(Status::NotReachable);
    platform::runUntilIdle();
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(reachability.status(), Status::NotReachable);
    EXPECT_FALSE(reachability.isReachable());

    reachability.startMonitoring();
    Reachability::setStatusForTesting(Status::ReachableViaWiFi);
    platform::runUntilIdle();
    EXPECT_EQ(calls, 1);
    reachability.stopMonitoring();
    Reachability::setStatusForTesting(Status::NotReachable);
    platform::runUntilIdle();
    EXPECT_EQ(calls, 1);
}

TEST_F(ReachabilityTest, AHandlerMayRemoveItselfOnItsFirstReport) {
    // As a start-up block does: the first report, whatever it says, and then no more.
    int first = 0, other = 0;
    Reachability::Token token = 0;
    token = reachability.addStatusChangeHandler([&](Status) {
        ++first;
        reachability.removeStatusChangeHandler(token);
    });
    reachability.addStatusChangeHandler([&](Status) { ++other; });
    reachability.startMonitoring();
    Reachability::setStatusForTesting(Status::Unknown);
    Reachability::setStatusForTesting(Status::ReachableViaWiFi);
    platform::runUntilIdle();
    EXPECT_EQ(first, 1);
    EXPECT_EQ(other, 2);
}

TEST_F(ReachabilityTest, SystemMonitorGivesAFirstReport) {
    std::vector<Status> seen;
    reachability.addStatusChangeHandler([&](Status s) { seen.push_back(s); });
    Reachability::enableSystemMonitorForTesting();
    reachability.startMonitoring();
    ASSERT_TRUE(platform::runUntil([&] { return !seen.empty(); }, 20));
    EXPECT_NE(seen[0], Status::Unknown);
    EXPECT_EQ(reachability.status(), seen[0]);
}

}  // namespace
