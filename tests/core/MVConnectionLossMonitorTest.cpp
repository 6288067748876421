#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

#include "libmerovane/core/MVConnectionLossMonitor.h"
#include "libmerovane/core/MVConnectionLossMonitorView.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/ui/ActivityIndicator.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "platform/ui/Label.h"
#include "platform/ui/Layer.h"
#include "platform/ui/Screen.h"
#include "platform/ui/VisualEffectView.h"
#include "platform/ui/Window.h"
#include "tests/support/PlatformTest.h"

using Monitor = MVConnectionLossMonitor;

namespace {

class MVConnectionLossMonitorTest : public PlatformTest {
  protected:
    void SetUp() override {
        PlatformTest::SetUp();
        // Start on a whole second of the wall clock, so that the dates the monitor
        // compares are exact, and with a monitor made now.
        const int64_t now = platform::Clock::monotonicNanos();
        platform::advanceBy(
            static_cast<double>((1'000'000'000 - now % 1'000'000'000) % 1'000'000'000) / 1e9);
        platform::resetSharedInstancesForTesting();
        start_ = platform::Clock::monotonicNanos();
        window_ = platform::Window::create(platform::Screen::main().bounds());
        window_->makeKeyAndVisible();
        Monitor::beginMonitoring();
    }

    // A fresh monitor, from a whole second on, for the next row of a table.
    void freshMonitor() {
        const int64_t now = platform::Clock::monotonicNanos();
        platform::advanceBy(static_cast<double>(1'000'000'000 - now % 1'000'000'000) / 1e9);
        platform::resetSharedInstancesForTesting();
        start_ = platform::Clock::monotonicNanos();
        Monitor::beginMonitoring();
    }

    // Runs each report at its time, in order, until 40 s, and the checks between (every
    // whole and half second); the check that first finds "lost (blocking)".
    using Report = std::pair<double, std::function<void()>>;
    std::optional<double> play(std::vector<Report> reports) {
        std::stable_sort(reports.begin(), reports.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        reports.emplace_back(40, [] {});
        double check = 0.5;
        for (const auto& [t, report] : reports) {
            for (; check < t; check += 0.5) {
                at(check);
                if (state() == Monitor::kStateLostBlocking) return check;
            }
            if (t >= 40) break;
            at(t);
            report();
        }
        return std::nullopt;
    }

    // Moves the clock to exactly `seconds` after the test's start.
    void at(double seconds) {
        const int64_t target = start_ + std::llround(seconds * 1e9);
        const int64_t now = platform::Clock::monotonicNanos();
        ASSERT_GE(target, now);
        platform::advanceBy((static_cast<double>(target - now) + 0.5) / 1e9);
        ASSERT_EQ(platform::Clock::monotonicNanos(), target);
    }

    static int state() { return Monitor::sharedMonitor().state(); }
    static void failedAttempt() {
        Monitor::reportConnectionAttempt();
        Monitor::reportConnectionError();
    }
    bool viewShown() const {
        auto view = Monitor::sharedMonitor().view();
        return view->superview() == window_;
    }

    // Attempts and errors at 1 and 6 s: "lost (blocking)" at 17.5 s.
    void loseConnection() {
        at(1.0);
        failedAttempt();
        at(6.0);
        failedAttempt();
        at(17.5);
        ASSERT_EQ(state(), Monitor::kStateLostBlocking);
    }

    void successAfterErrors(double successAt, double openedAt);

    std::shared_ptr<platform::Window> window_;
    int64_t start_ = 0;
};

}  // namespace

TEST_F(MVConnectionLossMonitorTest, FailingAttemptsBlockAfterMoreThanSixteenSecondsErroneous) {
    at(1.0);
    failedAttempt();
    Monitor::retryConnections();  // outside "lost (blocking)" a retry does nothing
    EXPECT_EQ(state(), Monitor::kStateErroneous);
    EXPECT_TRUE(logged("MVConnectionLossMonitor changed state to erroneous"));
    at(6.0);
    failedAttempt();

    at(17.0);  // exactly 16 s in the state: not yet
    EXPECT_EQ(state(), Monitor::kStateErroneous);
    EXPECT_TRUE(Monitor::allowsConnections());
    EXPECT_FALSE(viewShown());

    at(17.5);
    EXPECT_EQ(state(), Monitor::kStateLostBlocking);
    EXPECT_TRUE(logged("MVConnectionLossMonitor changed state to lost (blocking)"));
    EXPECT_FALSE(Monitor::allowsConnections());

    // The retry view fades in over the first window, showing its retry button.
    ASSERT_TRUE(viewShown());
    auto view = Monitor::sharedMonitor().view();
    EXPECT_FALSE(view->isLoading());
    EXPECT_DOUBLE_EQ(view->alpha(), 1);
    EXPECT_DOUBLE_EQ(view->presentationAlpha(), 0);
    at(17.9);
    EXPECT_DOUBLE_EQ(view->presentationAlpha(), 1);

    // Only a retry leaves the state.
    at(60.0);
    EXPECT_EQ(state(), Monitor::kStateLostBlocking);
}

// An attempt and an error at 1 s, a success at `successAt`; "opened" again at
// `openedAt`, the first check after 2 s in the state that sees the success.
void MVConnectionLossMonitorTest::successAfterErrors(double successAt, double openedAt) {
    at(1.0);
    failedAttempt();
    at(successAt);
    EXPECT_EQ(state(), Monitor::kStateErroneous);
    Monitor::reportConnectionSuccess();
    if (openedAt - 0.5 > successAt) {
        at(openedAt - 0.5);
        EXPECT_EQ(state(), Monitor::kStateErroneous);
    }
    at(openedAt);
    EXPECT_EQ(state(), Monitor::kStateOpened);
    at(40.0);
    EXPECT_EQ(state(), Monitor::kStateOpened);
    EXPECT_FALSE(viewShown());
}

TEST_F(MVConnectionLossMonitorTest, ASuccessSoonAfterAnErrorWaitsTwoSecondsAndShowsNothing) {
    successAfterErrors(1.2, 3.5);
}

TEST_F(MVConnectionLossMonitorTest, ASuccessJustBeforeSixteenSecondsShowsNothing) {
    successAfterErrors(16.9, 17.0);
}

TEST_F(MVConnectionLossMonitorTest, ACheckThatReportsASuccessTakesItsLockOnce) {
    // "retrying" with no attempt: the check reports a success itself while judging.
    loseConnection();
    Monitor::retryConnections();
    at(20.0);
    EXPECT_EQ(state(), Monitor::kStateOpened);
    EXPECT_EQ(Monitor::sharedMonitor().lastReportedSuccess(), platform::Date::now());
}

TEST_F(MVConnectionLossMonitorTest, DisabledMonitoringNeverBlocks) {
    Monitor::setEnabled(false);
    for (double t = 1.0; t <= 60.0; t += 1.0) {
        at(t);
        failedAttempt();
        EXPECT_NE(state(), Monitor::kStateLostBlocking);
        EXPECT_TRUE(Monitor::allowsConnections());
    }
    EXPECT_FALSE(viewShown());
    // Every error moves "opened" to "erroneous"; the next check after 2 s sends it back.
    EXPECT_GT(loggedCount("MVConnectionLossMonitor changed state to erroneous"), 1u);
}

TEST_F(MVConnectionLossMonitorTest, DisablingAnswersYesWhileLostAndHidesTheViewAtOnce) {
    loseConnection();
    at(18.0);
    ASSERT_TRUE(viewShown());
    Monitor::setEnabled(false);
    EXPECT_TRUE(Monitor::allowsConnections());
    // The check comes at the next turn, within 2 s of the state change: no state
    // changes, but the view fades out and leaves the window.
    platform::runUntilIdle();
    EXPECT_EQ(state(), Monitor::kStateLostBlocking);
    EXPECT_DOUBLE_EQ(Monitor::sharedMonitor().view()->alpha(), 0);
    at(18.5);
    EXPECT_FALSE(viewShown());
    at(40.0);
    EXPECT_EQ(state(), Monitor::kStateLostBlocking);
    EXPECT_TRUE(Monitor::allowsConnections());
}

TEST_F(MVConnectionLossMonitorTest, RetryWithoutAttemptsReturnsToOpenedAfterTwoSeconds) {
    loseConnection();
    at(17.7);
    Monitor::retryConnections();
    EXPECT_EQ(state(), Monitor::kStateRetrying);
    EXPECT_TRUE(logged("MVConnectionLossMonitor changed state to retrying"));
    EXPECT_TRUE(Monitor::allowsConnections());
    auto view = Monitor::sharedMonitor().view();
    EXPECT_TRUE(view->isLoading());

    at(19.5);  // 1.8 s after the retry
    EXPECT_EQ(state(), Monitor::kStateRetrying);
    at(20.0);  // the first check more than 2 s after it
    EXPECT_EQ(state(), Monitor::kStateOpened);
    EXPECT_DOUBLE_EQ(view->alpha(), 0);
    EXPECT_TRUE(viewShown());
    at(20.4);
    EXPECT_FALSE(viewShown());
}

TEST_F(MVConnectionLossMonitorTest, RetryingEndsBySuccessOrBySixteenSecondsOfFailures) {
    loseConnection();
    Monitor::retryConnections();  // 17.5
    at(18.0);
    failedAttempt();
    at(19.0);
    Monitor::reportConnectionSuccess();
    at(20.0);
    EXPECT_EQ(state(), Monitor::kStateOpened);

    // Once more, now with attempts that keep failing.
    at(21.0);
    failedAttempt();
    at(26.0);
    failedAttempt();
    at(37.5);
    ASSERT_EQ(state(), Monitor::kStateLostBlocking);
    Monitor::retryConnections();
    for (double t = 38.0; t < 54.0; t += 1.0) {
        at(t);
        failedAttempt();
        EXPECT_EQ(state(), Monitor::kStateRetrying) << t;
    }
    at(54.0);  // 16.5 s of failures after the retry
    EXPECT_EQ(state(), Monitor::kStateLostBlocking);
    EXPECT_FALSE(Monitor::sharedMonitor().view()->isLoading());
}

TEST_F(MVConnectionLossMonitorTest, EnablingWhenEnabledOnlyLogs) {
    Monitor::setEnabled(true);
    EXPECT_TRUE(
        logged("MVConnectionLossMonitor.enabled=1 - MVConnectionLossMonitor is already enabled"));
    Monitor::setEnabled(false);
    Monitor::setEnabled(false);
    EXPECT_TRUE(
        logged("MVConnectionLossMonitor.enabled=0 - MVConnectionLossMonitor is already disabled"));
    EXPECT_EQ(state(), Monitor::kStateOpened);
}

TEST_F(MVConnectionLossMonitorTest, ReportsFromOtherThreadsAreSeenByTheCheck) {
    std::thread worker([] {
        for (int i = 0; i < 1000; ++i) {
            Monitor::reportConnectionAttempt();
            Monitor::reportConnectionError();
            (void)Monitor::allowsConnections();
        }
    });
    worker.join();
    EXPECT_EQ(state(), Monitor::kStateErroneous);
}

TEST_F(MVConnectionLossMonitorTest, TheRetryButtonRetries) {
    loseConnection();
    at(18.0);
    auto view = Monitor::sharedMonitor().view();
    const auto button = view->btnRetry();
    const auto center =
        button->convertPointToView({button->bounds().midX(), button->bounds().midY()}, nullptr);
    EXPECT_EQ(window_->sendTap(center), button);
    EXPECT_EQ(state(), Monitor::kStateRetrying);
    EXPECT_TRUE(view->isLoading());
    // While loading the button takes no touches.
    EXPECT_NE(window_->sendTap(center), button);
}

// The retry view -----------------------------------------------------------------------

namespace {
class MVConnectionLossMonitorViewTest : public PlatformTest {};
}  // namespace

TEST_F(MVConnectionLossMonitorViewTest, IsMadeInTheLoadingLook) {
    auto view = MVConnectionLossMonitorView::create({0, 0, 320, 480});
    EXPECT_TRUE(view->isLoading());
    EXPECT_EQ(view->lblNotice()->frame(), platform::Rect(20, 20 - 60, 280, 440));
    EXPECT_EQ(view->lblNotice()->text(),
              "There seems to be a problem with your internet connection");

    // A 50-point circle around the spinner, at three quarters of the height.
    EXPECT_EQ(view->btnRetry()->frame(), platform::Rect(135, 335, 50, 50));
    EXPECT_FALSE(view->btnRetry()->isUserInteractionEnabled());
    EXPECT_DOUBLE_EQ(view->btnRetry()->layer()->cornerRadius(), 25);
    EXPECT_DOUBLE_EQ(view->lblRetry()->alpha(), 0);
    EXPECT_EQ(view->lblRetry()->text(), "Retry");
    EXPECT_EQ(view->lblRetry()->frame(), platform::Rect(20, 335, 280, 50));
    EXPECT_DOUBLE_EQ(view->activity()->alpha(), 1);
    EXPECT_TRUE(view->activity()->isAnimating());
    EXPECT_EQ(view->activity()->center(), (platform::Point{160, 360}));
}

TEST_F(MVConnectionLossMonitorViewTest, BlursOnNewSystemsAndDarkensOnOldOnes) {
    auto blurred = MVConnectionLossMonitorView::create({0, 0, 320, 480});
    auto blur = std::dynamic_pointer_cast<platform::VisualEffectView>(blurred->subviews().at(0));
    ASSERT_TRUE(blur);
    EXPECT_EQ(blur->effect(), platform::VisualEffect::blur(platform::BlurEffectStyle::Dark));
    auto vibrancy = std::dynamic_pointer_cast<platform::VisualEffectView>(
        blur->contentView()->subviews().at(0));
    ASSERT_TRUE(vibrancy);
    EXPECT_EQ(vibrancy->effect()->kind, platform::VisualEffect::Kind::Vibrancy);
    EXPECT_EQ(blurred->container(), vibrancy->contentView());

    platform::resetSharedInstancesForTesting();  // forget the version read before
    platform::Device::current().setSystemVersion("7.1");
    auto dark = MVConnectionLossMonitorView::create({0, 0, 320, 480});
    auto plain = dark->subviews().at(0);
    EXPECT_FALSE(std::dynamic_pointer_cast<platform::VisualEffectView>(plain));
    EXPECT_EQ(plain->backgroundColor(), platform::Color::black().withAlpha(0.8));
    EXPECT_EQ(dark->container(), plain);
}

TEST_F(MVConnectionLossMonitorViewTest, SwitchingToTheRetryButtonAnimatesInTwoSteps) {
    auto view = MVConnectionLossMonitorView::create({0, 0, 321, 480});
    platform::clearAnimationLog();
    view->setIsLoading(false, true);
    EXPECT_TRUE(view->btnRetry()->isUserInteractionEnabled());
    EXPECT_EQ(view->btnRetry()->frame(), platform::Rect(20, 335, 281, 50));
    auto runs = platform::animationLog();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_DOUBLE_EQ(runs[0].duration, 0.3);
    EXPECT_DOUBLE_EQ(runs[0].delay, 0);
    EXPECT_DOUBLE_EQ(runs[1].duration, 0.3);
    EXPECT_DOUBLE_EQ(runs[1].delay, 0.1);
    EXPECT_DOUBLE_EQ(view->lblRetry()->alpha(), 1);
    EXPECT_DOUBLE_EQ(view->activity()->alpha(), 0);

    // Back to loading: one run; the left edge is rounded down to a whole point.
    platform::clearAnimationLog();
    view->setIsLoading(true, true);
    EXPECT_EQ(platform::animationLog().size(), 1u);
    EXPECT_EQ(view->btnRetry()->frame(), platform::Rect(std::floor((321 - 50) / 2.0), 335, 50, 50));

    // An unchanged value does nothing.
    platform::clearAnimationLog();
    view->setIsLoading(true, true);
    view->setIsLoading(true);
    EXPECT_TRUE(platform::animationLog().empty());

    view->setIsLoading(false);
    EXPECT_TRUE(platform::animationLog().empty());
    EXPECT_DOUBLE_EQ(view->lblRetry()->alpha(), 1);
}

// What answers outweighs what keeps failing -------------------------------------------------

namespace {

// Reports over 40 s: failing resources report an attempt and an error from `first`, every
// `every` s; the stream answers (a success) from `streamFirst` every `streamEvery` s until
// `streamUntil`. Nothing happens on a check (every whole and half second).
struct ReachabilityRow {
    const char* name;
    std::vector<std::pair<double, double>> failing;  // (first, every)
    double streamFirst, streamEvery, streamUntil;    // streamFirst < 0: it never answers
    std::optional<double> lostAt;                    // the check that finds it lost
    // Who fails and who answers: the shop's content is judged on its own too.
    Monitor::Reporter failingAs = Monitor::Reporter::kOther;
    Monitor::Reporter answeringAs = Monitor::Reporter::kOther;
};

constexpr auto kContent = Monitor::Reporter::kContent;
constexpr auto kOther = Monitor::Reporter::kOther;

const ReachabilityRow kReachabilityRows[] = {
    {"one resource fails every 5 s, the stream answers every 3 s", {{0.25, 5}}, 3.1, 3, 40, {}},
    {"failures between every check, the stream answers every 3 s", {{0.25, 0.5}}, 3.1, 3, 40, {}},
    {"a second resource fails just after each answer", {{0.25, 5}, {3.3, 3}}, 3.1, 3, 40, {}},
    {"the stream answers first at 12 s, then every 15 s", {{0.25, 0.5}}, 12.1, 15, 40, {}},
    {"the stream answers once, at 15.9 s", {{0.25, 0.5}}, 15.9, 100, 40, 32.5},
    {"the stream falls silent after 9.1 s", {{0.25, 0.5}}, 3.1, 3, 10, 25.5},
    {"nothing answers: one resource fails every 5 s", {{0.25, 5}}, -1, 0, 0, 16.5},
    {"nothing answers: failures between every check", {{0.25, 0.5}, {0.35, 0.5}}, -1, 0, 0, 16.5},
    // Content failing (C) beside the stream (S) or other content (O) that answers.
    {"C every 5 s, S every 3 s", {{0.25, 5}}, 3.1, 3, 40, 16.5, kContent, kOther},
    {"C between every check, S every 3 s", {{0.25, 0.5}}, 3.1, 3, 40, 16.5, kContent, kOther},
    {"C every 5 s, S between every check", {{0.25, 5}}, 0.3, 0.5, 40, 16.5, kContent, kOther},
    {"C every 5 s, O every 3 s", {{0.25, 5}}, 3.1, 3, 40, {}, kContent, kContent},
    // Content that answered within 16 s before a failing load began: that load fails alone.
    {"C every 5 s, O once at 2.1 s", {{0.25, 5}}, 2.1, 100, 40, 36.5, kContent, kContent},
    {"C every 5 s, O once at 8.1 s", {{0.25, 5}}, 8.1, 100, 40, {}, kContent, kContent},
    {"the stream fails every 5 s, O every 3 s", {{0.25, 5}}, 3.1, 3, 40, {}, kOther, kContent},
    {"nothing answers: content fails every 5 s", {{0.25, 5}}, -1, 0, 0, 16.5, kContent},
};

}  // namespace

TEST_F(MVConnectionLossMonitorTest, WhatAnswersIsReachableAndOnlyALongSilenceIsLost) {
    for (const auto& row : kReachabilityRows) {
        SCOPED_TRACE(row.name);
        freshMonitor();
        std::vector<Report> reports;
        for (const auto& [first, every] : row.failing)
            for (double t = first; t < 40; t += every)
                reports.emplace_back(t, [&row] {
                    Monitor::reportConnectionAttempt(row.failingAs);
                    Monitor::reportConnectionError(row.failingAs);
                });
        for (double t = row.streamFirst; t >= 0 && t < row.streamUntil; t += row.streamEvery)
            reports.emplace_back(t, [&row] { Monitor::reportConnectionSuccess(row.answeringAs); });
        const auto lostAt = play(std::move(reports));
        EXPECT_EQ(lostAt, row.lostAt);
        EXPECT_EQ(Monitor::allowsConnections(), !row.lostAt);
    }
}

// Content failing as a whole -------------------------------------------------------------

namespace {

// Content loads that began at `began` fail at `failures`; other content answered at
// `answered` (if any); the stream answers every 3 s throughout.
struct ContentFailureRow {
    const char* name;
    std::optional<double> answered;
    double began;
    std::vector<double> failures;
    std::optional<double> lostAt;
};

const ContentFailureRow kContentFailureRows[] = {
    {"nothing answered: lost 16 s after the first failure", {}, 0.25, {0.25, 5.25}, 16.5},
    {"the rest answered just before the load began", 0.2, 0.25, {0.25, 5.25, 10.25, 15.25}, {}},
    {"the rest answered after its first failure", 0.3, 0.25, {0.25, 5.25, 10.25, 15.25}, {}},
    {"the rest answered 15 s before the load began", 1.0, 16.0, {16.0, 21.0, 31.0}, {}},
    {"the rest answered 17 s before the load began", 1.0, 18.0, {18.0, 23.0}, 34.5},
    {"a fail-safe wait first, 5 s after the load began", {}, 0.25, {5.25, 10.25, 15.25}, 21.5},
};

}  // namespace

TEST_F(MVConnectionLossMonitorTest, ContentIsLostOnlyWhenNothingOfItAnsweredAroundTheFailingLoad) {
    for (const auto& row : kContentFailureRows) {
        SCOPED_TRACE(row.name);
        freshMonitor();
        const auto began = platform::Date::now().addingTimeInterval(row.began);
        std::vector<Report> reports;
        for (double t : row.failures)
            reports.emplace_back(t, [began] {
                Monitor::reportConnectionAttempt(kContent);
                Monitor::reportContentError(began);
            });
        if (row.answered)
            reports.emplace_back(*row.answered, [] { Monitor::reportConnectionSuccess(kContent); });
        for (double t = 3.1; t < 40; t += 3)
            reports.emplace_back(t, [] { Monitor::reportConnectionSuccess(); });
        EXPECT_EQ(play(std::move(reports)), row.lostAt);
    }
}

TEST_F(MVConnectionLossMonitorTest, ARetryWithNoContentLoadJudgesTheContentAfresh) {
    // The content fails as a whole at 1 s and is lost at 17.5 s; the user retries, and
    // only the stream tries and answers.
    at(1.0);
    Monitor::reportConnectionAttempt(kContent);
    Monitor::reportContentError(platform::Date::now());
    at(17.5);
    ASSERT_EQ(state(), Monitor::kStateLostBlocking);
    Monitor::retryConnections();
    at(18.0);
    Monitor::reportConnectionAttempt();
    at(18.2);
    Monitor::reportConnectionSuccess();
    at(20.0);
    EXPECT_EQ(state(), Monitor::kStateOpened);
    // A later load that fails alone, nothing else of the content answering: a new 16 s.
    at(30.0);
    Monitor::reportConnectionAttempt(kContent);
    Monitor::reportContentError(platform::Date::now());
    at(46.0);
    EXPECT_EQ(state(), Monitor::kStateErroneous);
    at(46.5);
    EXPECT_EQ(state(), Monitor::kStateLostBlocking);
}
