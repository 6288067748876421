#pragma once
// Decides from reports of connection attempts, errors and successes whether the
// application has lost its network connection, and then blocks new connections behind
// a full-screen retry view until the user (or the return to the foreground) retries.
//
//   MVConnectionLossMonitor::beginMonitoring();              // at launch, main thread
//   if (!MVConnectionLossMonitor::allowsConnections()) retryLater();
//   MVConnectionLossMonitor::reportConnectionAttempt();
//   MVConnectionLossMonitor::reportConnectionError();         // or ...Success()
//
// States: 0 "opened", 1 "erroneous", 2 "lost (blocking)", 3 "retrying". An error moves
// "opened" to "erroneous" at once; every other change happens in the check that runs
// every 0.5 s, and only after the state has lasted more than 2 s. "erroneous" and
// "retrying" become "lost (blocking)" when, after more than 16 s in the state, the
// newest attempt and the newest error are both newer than the newest success, and that
// success is more than 16 s old. Whatever answers reports a success: the API stream's
// packets, and loads whose server answered, even with a broken body.
//
// The web cache's loads report as the shop's content (Reporter::kContent) and are also
// judged on their own. A content load that fails (ends without an HTTP answer) counts as
// an error only when no content load answered from kLossDuration before it began on: a
// resource that fails while the rest of the content loads fails alone, and is no error
// of the network. Once content fails so, "erroneous" returns to "opened" only when
// content answers again, and content that has failed so for more than kLossDuration,
// with no content answering since, is "lost (blocking)" however often anything else
// answers.
//
// Not for deciding whether a single request failed: it only judges the trend.
//
// Thread-safety: reports and allowsConnections may come from any thread. Every field
// is read and changed under one lock (never taken twice by one call); the retry view
// is made, shown and hidden on the main thread after that lock is released. The check
// and retryConnections run on the main thread.

#include <memory>
#include <mutex>
#include <string>

#include "platform/foundation/Date.h"
#include "platform/foundation/RunLoop.h"

class MVConnectionLossMonitorView;

class MVConnectionLossMonitor {
  public:
    enum State : int {
        kStateOpened = 0,
        kStateErroneous = 1,
        kStateLostBlocking = 2,
        kStateRetrying = 3,
    };

    static constexpr double kCheckInterval = 0.5;
    // A state is judged only after it has lasted this long.
    static constexpr double kMinimumStateDuration = 2.0;
    // Failing attempts for longer than this block connections.
    static constexpr double kLossDuration = 16.0;
    static constexpr double kFadeDuration = 0.4;

    // Who reports: the shop's content (the web cache's loads), or anything else.
    enum class Reporter { kOther, kContent };

    static MVConnectionLossMonitor& sharedMonitor();

    // Starts the repeating check on the main run loop.
    static void beginMonitoring();
    static void reportConnectionAttempt(Reporter reporter = Reporter::kOther);
    static void reportConnectionError(Reporter reporter = Reporter::kOther);
    // An error of a content load whose first attempt (before any repeat) began at
    // `loadBegan`; nothing when content answered since kLossDuration before then.
    static void reportContentError(platform::Date loadBegan);
    static void reportConnectionSuccess(Reporter reporter = Reporter::kOther);
    // No only while monitoring is enabled and the connection counts as lost.
    static bool allowsConnections();
    // From "lost (blocking)" to "retrying", with the view's activity indicator. Main thread.
    static void retryConnections();
    static void setEnabled(bool enabled);

    void setState(int state);
    int state() const;
    bool isEnabled() const;
    platform::Date stateChangeDate() const;
    platform::Date lastReportedAttemt() const;
    platform::Date lastReportedError() const;
    platform::Date lastReportedSuccess() const;
    // The last error the content reported that counted.
    platform::Date lastReportedContentError() const;

    // The check of the repeating timer. Main thread.
    void checkForErrors();

    // The retry view, made on first use. Main thread.
    std::shared_ptr<MVConnectionLossMonitorView> view();

    // "opened", "erroneous", "lost (blocking)", "retrying", else "unknown".
    static const char* labelForState(int state);

  private:
    MVConnectionLossMonitor();
    void resetForTesting();
    void resetDatesLocked();
    void setStateLocked(int state);
    void reportConnectionSuccessLocked();
    // Content has failed with nothing answering since this date.
    bool contentFailingLocked() const {
        return contentFailingSince_ != platform::Date::distantFuture();
    }

    mutable std::mutex mutex_;
    int state_ = kStateOpened;
    platform::Date stateChangeDate_;
    platform::Date lastReportedAttemt_;
    platform::Date lastReportedError_;
    platform::Date lastReportedSuccess_;
    platform::Date lastContentAttempt_;
    platform::Date lastContentError_;
    platform::Date lastContentSuccess_;
    platform::Date contentFailingSince_;
    bool enabled_ = true;
    platform::TimerHandle timer_;
    // Main thread only.
    std::shared_ptr<MVConnectionLossMonitorView> view_;
};
