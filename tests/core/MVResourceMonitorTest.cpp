// The resource monitor: captures, nested groups, final blocks inside reopened parents,
// time-outs on the manual clock, and monitor sequences the server can drive.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/core/MVResourceMonitor.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/TestDriver.h"
#include "tests/support/PlatformTest.h"

namespace {

// Something that loads: posts the loading notifications the way a web view does.
struct MonitoredLoad {
    void start() const { post(MVWebViewDidStartLoadingNotification); }
    void finish() const { post(MVWebViewDidFinishLoadingNotification); }
    void post(const char* name) const {
        platform::NotificationCenter::defaultCenter().post(name, this);
    }
};

class MVResourceMonitorTest : public PlatformTest {
  protected:
    MVResourceMonitor& monitor() { return MVResourceMonitor::sharedResourceMonitor(); }
    // A final block that records its name.
    MVResourceMonitor::Block records(std::string name) {
        return [this, name] { finished.push_back(name); };
    }
    std::vector<std::string> finished;
};

TEST_F(MVResourceMonitorTest, ACaptureThatStartsNothingEndsWhenItClosesAndFinishesNextTurn) {
    monitor().captureResources([] {}, 0, records("final"));
    ASSERT_EQ(monitor().captureGroups().size(), 1u);
    EXPECT_TRUE(monitor().captureGroups()[0]->hasEnded());
    EXPECT_TRUE(finished.empty());
    platform::runUntilIdle();
    EXPECT_EQ(finished, (std::vector<std::string>{"final"}));
    EXPECT_TRUE(logged("MVResourceMonitorCaptureGroup<1000> will wait for 0 resource"));
    EXPECT_FALSE(logged("will wait for 0 resources"));
    EXPECT_EQ(loggedLevel("MVResourceMonitorCaptureGroup<1000> finished waiting for resources"),
              platform::log::kVerbose);
    // its final block ran inside a capture of its own, and every group is dropped
    EXPECT_TRUE(logged("MVResourceMonitorCaptureGroup<1001> finished waiting for resources"));
    EXPECT_TRUE(monitor().captureGroups().empty());
    EXPECT_TRUE(monitor().captureHierarchyGroups().empty());
}

TEST_F(MVResourceMonitorTest, AWebViewThatStartsAndFailsWithinTheTurnIsCountedAndReleased) {
    auto webView = MVWebView::create(platform::Rect(0, 0, 320, 480));
    std::weak_ptr<MVWebView> weakWebView = webView;
    monitor().captureResources([&] { webView->openUrl("no url at all"); }, 0, records("final"));
    EXPECT_TRUE(logged("MVResourceMonitorCaptureGroup<1000> will wait for 1 resource"));
    webView.reset();  // the monitor never keeps it alive
    EXPECT_TRUE(weakWebView.expired());
    EXPECT_FALSE(monitor().captureGroups()[0]->hasEnded());
    platform::runUntilIdle();
    EXPECT_EQ(finished, (std::vector<std::string>{"final"}));
    EXPECT_TRUE(monitor().captureGroups().empty());
}

TEST_F(MVResourceMonitorTest, TheWaitingLineIsPluralAboveOne) {
    MonitoredLoad first, second;
    monitor().captureResources(
        [&] {
            first.start();
            second.start();
            first.start();  // counted twice, one resource
        },
        0, records("final"));
    EXPECT_TRUE(logged("MVResourceMonitorCaptureGroup<1000> will wait for 2 resources"));
    first.finish();
    second.finish();
    platform::runUntilIdle();
    EXPECT_TRUE(finished.empty());  // the first load counts twice
    first.finish();
    platform::runUntilIdle();
    EXPECT_EQ(finished, (std::vector<std::string>{"final"}));
}

TEST_F(MVResourceMonitorTest, ATimeOutEndsTheGroupAndLaterEndsChangeNothing) {
    struct Row {
        double timeout;
        bool finishedAfterFiveSeconds;
    };
    for (const Row& row : {Row{0, false}, Row{-1, false}, Row{5, true}}) {
        SCOPED_TRACE(row.timeout);
        finished.clear();
        MonitoredLoad load;
        monitor().captureResources([&] { load.start(); }, row.timeout, records("final"));
        const auto group = monitor().captureGroups().back();
        platform::advanceBy(4.9);
        EXPECT_TRUE(finished.empty());
        platform::advanceBy(0.2);
        EXPECT_EQ(finished.size(), row.finishedAfterFiveSeconds ? 1u : 0u);
        EXPECT_EQ(group->hasEnded(), row.finishedAfterFiveSeconds);
        const std::string line =
            "MVResourceMonitor<" + std::to_string(group->serial()) + "> reached timeout";
        EXPECT_EQ(logged(line), row.finishedAfterFiveSeconds);
        load.finish();
        platform::runUntilIdle();
        EXPECT_EQ(finished.size(), 1u);  // the time-out's final block, or the end's
        EXPECT_EQ(loggedCount(line), row.finishedAfterFiveSeconds ? 1u : 0u);
    }
}

TEST_F(MVResourceMonitorTest, APageStartedByAFinalBlockKeepsTheParentWaiting) {
    MonitoredLoad first, second;
    monitor().captureResources(
        [&] {
            monitor().captureResources([&] { first.start(); }, 0,
                                       [&] {
                                           finished.push_back("inner");
                                           second.start();
                                       });
        },
        0, records("outer"));
    first.finish();
    platform::runUntilIdle();
    EXPECT_EQ(finished, (std::vector<std::string>{"inner"}));
    second.finish();
    platform::runUntilIdle();
    EXPECT_EQ(finished, (std::vector<std::string>{"inner", "outer"}));
    EXPECT_TRUE(monitor().captureGroups().empty());
}

TEST_F(MVResourceMonitorTest, ANestedGroupWithoutAFinalBlockLetsItsParentEnd) {
    MonitoredLoad load;
    monitor().captureResources(
        [&] { monitor().captureResources([&] { load.start(); }, 0, nullptr); }, 0,
        records("outer"));
    load.finish();
    platform::runUntilIdle();
    EXPECT_EQ(finished, (std::vector<std::string>{"outer"}));
}

TEST_F(MVResourceMonitorTest, ClosingWithNoCaptureOpenWarnsEvenWhileAnEndedGroupWaitsToBeDropped) {
    monitor().startCapturing();
    monitor().stopCapturingThenDo(records("final"), 0);
    ASSERT_EQ(monitor().captureGroups().size(), 1u);  // ended, dropped at the next end
    monitor().stopCapturingThenDo(records("second"), 0);
    EXPECT_EQ(loggedLevel("MVResourceMonitor tried stop a capture group, but none is recording "
                          "(dismissing)"),
              platform::log::kWarning);
    platform::runUntilIdle();
    EXPECT_EQ(finished, (std::vector<std::string>{"final"}));
}

TEST_F(MVResourceMonitorTest, AFinalBlockReopensItsParentWhileAnotherCaptureIsLeftOpen) {
    MonitoredLoad load, later;
    monitor().captureResources(
        [&] { monitor().captureResources([&] { load.start(); }, 0, records("inner")); }, 0,
        records("outer"));
    const auto leftOpen = monitor().startCapturing();  // as a page-opened capture would
    load.finish();
    platform::runUntilIdle();
    EXPECT_EQ(finished, (std::vector<std::string>{"inner", "outer"}));
    ASSERT_EQ(monitor().captureHierarchyGroups().size(), 1u);
    EXPECT_EQ(monitor().captureHierarchyGroups()[0], leftOpen);
    // the open capture still counts what starts now, and closes normally
    later.start();
    monitor().stopCapturingThenDo(records("left open"), 0);
    later.finish();
    platform::runUntilIdle();
    EXPECT_EQ(finished.back(), "left open");
}

TEST_F(MVResourceMonitorTest, UnknownNotificationsAreOnlyLogged) {
    MonitoredLoad load;
    monitor().captureResources(
        [&] {
            monitor().notificationReceived({"SomethingElse", &load, {}, nullptr});
        },
        0, records("final"));
    EXPECT_EQ(loggedLevel("MVResourceMonitor no action for \"SomethingElse\""),
              platform::log::kWarning);
    platform::runUntilIdle();
    EXPECT_EQ(finished, (std::vector<std::string>{"final"}));
}

}  // namespace
