#include "libmerovane/core/MVConnectionLossMonitor.h"

#include "libmerovane/core/MVConnectionLossMonitorView.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/core/UIScreenExtensions.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/foundation/Thread.h"
#include "platform/ui/Application.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Window.h"

namespace {
constexpr const char* kChangedStateLine = "MVConnectionLossMonitor changed state to {}";
constexpr const char* kAlreadyEnabledLine =
    "MVConnectionLossMonitor.enabled={} - MVConnectionLossMonitor is already {}abled";
}  // namespace

MVConnectionLossMonitor& MVConnectionLossMonitor::sharedMonitor() {
    static MVConnectionLossMonitor* monitor = [] {
        auto* created = new MVConnectionLossMonitor;
        platform::registerSharedInstanceReset("MVConnectionLossMonitor",
                                              [created] { created->resetForTesting(); });
        return created;
    }();
    return *monitor;
}

MVConnectionLossMonitor::MVConnectionLossMonitor() {
    resetDatesLocked();
}

void MVConnectionLossMonitor::resetDatesLocked() {
    const auto now = platform::Date::now();
    stateChangeDate_ = now;
    lastReportedAttemt_ = lastContentAttempt_ = now;
    lastReportedError_ = lastContentError_ = platform::Date::distantPast();
    lastReportedSuccess_ = now;
    // No content has answered yet.
    lastContentSuccess_ = platform::Date::distantPast();
    contentFailingSince_ = platform::Date::distantFuture();
}

void MVConnectionLossMonitor::resetForTesting() {
    std::shared_ptr<MVConnectionLossMonitorView> view;
    {
        std::lock_guard lock(mutex_);
        timer_.cancel();
        timer_ = {};
        state_ = kStateOpened;
        resetDatesLocked();
        enabled_ = true;
        view.swap(view_);
    }
    if (view) view->removeFromSuperview();
}

const char* MVConnectionLossMonitor::labelForState(int state) {
    switch (state) {
        case kStateOpened:
            return "opened";
        case kStateErroneous:
            return "erroneous";
        case kStateLostBlocking:
            return "lost (blocking)";
        case kStateRetrying:
            return "retrying";
        default:
            return "unknown";
    }
}

void MVConnectionLossMonitor::beginMonitoring() {
    auto& monitor = sharedMonitor();
    std::lock_guard lock(monitor.mutex_);
    monitor.timer_.cancel();
    monitor.timer_ = platform::RunLoop::main().postRepeating(
        kCheckInterval, [] { sharedMonitor().checkForErrors(); });
}

void MVConnectionLossMonitor::reportConnectionAttempt(Reporter reporter) {
    auto& monitor = sharedMonitor();
    std::lock_guard lock(monitor.mutex_);
    monitor.lastReportedAttemt_ = platform::Date::now();
    if (reporter == Reporter::kContent) monitor.lastContentAttempt_ = monitor.lastReportedAttemt_;
}

void MVConnectionLossMonitor::reportConnectionError(Reporter reporter) {
    if (reporter == Reporter::kContent) return reportContentError(platform::Date::now());
    auto& monitor = sharedMonitor();
    std::lock_guard lock(monitor.mutex_);
    if (monitor.state_ == kStateOpened) monitor.setStateLocked(kStateErroneous);
    monitor.lastReportedError_ = platform::Date::now();
}

void MVConnectionLossMonitor::reportContentError(platform::Date loadBegan) {
    auto& monitor = sharedMonitor();
    std::lock_guard lock(monitor.mutex_);
    // Content that answered around the load's start: the load failed alone.
    if (monitor.lastContentSuccess_ >= loadBegan.addingTimeInterval(-kLossDuration)) return;
    if (monitor.state_ == kStateOpened) monitor.setStateLocked(kStateErroneous);
    const auto now = platform::Date::now();
    monitor.lastReportedError_ = monitor.lastContentError_ = now;
    if (!monitor.contentFailingLocked()) monitor.contentFailingSince_ = now;
}

void MVConnectionLossMonitor::reportConnectionSuccess(Reporter reporter) {
    auto& monitor = sharedMonitor();
    std::lock_guard lock(monitor.mutex_);
    monitor.lastReportedSuccess_ = platform::Date::now();
    if (reporter == Reporter::kContent) {
        monitor.lastContentSuccess_ = monitor.lastReportedSuccess_;
        monitor.contentFailingSince_ = platform::Date::distantFuture();
    }
}

// The monitor's own success, when it finds the connection working again: content that
// failed before is judged afresh, by loads that answer or fail from now on.
void MVConnectionLossMonitor::reportConnectionSuccessLocked() {
    lastReportedSuccess_ = platform::Date::now();
    contentFailingSince_ = platform::Date::distantFuture();
}

bool MVConnectionLossMonitor::allowsConnections() {
    auto& monitor = sharedMonitor();
    std::lock_guard lock(monitor.mutex_);
    return !(monitor.enabled_ && monitor.state_ == kStateLostBlocking);
}

void MVConnectionLossMonitor::retryConnections() {
    platform::performOnMainThread(
        [] {
            auto& monitor = sharedMonitor();
            bool retrying = false;
            {
                std::lock_guard lock(monitor.mutex_);
                if (monitor.state_ == kStateLostBlocking) {
                    monitor.setStateLocked(kStateRetrying);
                    retrying = true;
                }
            }
            if (retrying) monitor.view()->setIsLoading(true, true);
        },
        false);
}

void MVConnectionLossMonitor::setEnabled(bool enabled) {
    auto& monitor = sharedMonitor();
    std::lock_guard lock(monitor.mutex_);
    if (monitor.enabled_ == enabled) {
        MVLogVerbose(kAlreadyEnabledLine, enabled ? 1 : 0, enabled ? "en" : "dis");
        return;
    }
    monitor.enabled_ = enabled;
    platform::RunLoop::main().post([] { sharedMonitor().checkForErrors(); });
}

void MVConnectionLossMonitor::setState(int state) {
    std::lock_guard lock(mutex_);
    setStateLocked(state);
}

void MVConnectionLossMonitor::setStateLocked(int state) {
    state_ = state;
    stateChangeDate_ = platform::Date::now();
    MVLogInfo(kChangedStateLine, labelForState(state));
}

int MVConnectionLossMonitor::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

bool MVConnectionLossMonitor::isEnabled() const {
    std::lock_guard lock(mutex_);
    return enabled_;
}

platform::Date MVConnectionLossMonitor::stateChangeDate() const {
    std::lock_guard lock(mutex_);
    return stateChangeDate_;
}

platform::Date MVConnectionLossMonitor::lastReportedAttemt() const {
    std::lock_guard lock(mutex_);
    return lastReportedAttemt_;
}

platform::Date MVConnectionLossMonitor::lastReportedError() const {
    std::lock_guard lock(mutex_);
    return lastReportedError_;
}

platform::Date MVConnectionLossMonitor::lastReportedSuccess() const {
    std::lock_guard lock(mutex_);
    return lastReportedSuccess_;
}

platform::Date MVConnectionLossMonitor::lastReportedContentError() const {
    std::lock_guard lock(mutex_);
    return lastContentError_;
}

std::shared_ptr<MVConnectionLossMonitorView> MVConnectionLossMonitor::view() {
    // Views belong to the main thread, so the view is made there rather than wherever
    // the first report happens to come from.
    if (!view_) {
        view_ = MVConnectionLossMonitorView::create(
            boundsDependingOnCurrentOrientation(platform::Screen::main()));
    }
    return view_;
}

void MVConnectionLossMonitor::checkForErrors() {
    auto retryView = view();
    const bool visible = retryView->superview() != nullptr;
    bool show = false;
    bool showRetryButton = false;
    {
        std::lock_guard lock(mutex_);
        const auto now = platform::Date::now();
        const double tA = now.timeIntervalSince(lastReportedAttemt_);
        const double tE = now.timeIntervalSince(lastReportedError_);
        const double tS = now.timeIntervalSince(lastReportedSuccess_);
        const double tC = now.timeIntervalSince(stateChangeDate_);
        const double cA = now.timeIntervalSince(lastContentAttempt_);
        show = enabled_ && visible;

        if (tC > kMinimumStateDuration && state_ != kStateLostBlocking) {
            bool judge = true;
            if (state_ == kStateRetrying) {
                // Content that failed has answered since, or was not tried again.
                const bool contentAnswered = !contentFailingLocked() || tC < cA;
                if ((tS < tE && tS < tA && contentAnswered) || tC < tA || !enabled_) {
                    reportConnectionSuccessLocked();
                    setStateLocked(kStateOpened);
                    show = false;
                }
                if (tC < kLossDuration) judge = false;
            }
            if (judge) {
                if (state_ == kStateErroneous &&
                    ((tS < tE && !contentFailingLocked()) || !enabled_)) {
                    setStateLocked(kStateOpened);
                    reportConnectionSuccessLocked();
                    show = false;
                }
                // Lost when nothing has answered for as long, or when the content as a
                // whole has failed for as long: a stream that answers meanwhile never
                // hides content that cannot load.
                const bool nothingAnswers = tA < tC && tA < tS && tE < tS && tS > kLossDuration;
                const bool contentFails =
                    contentFailingLocked() &&
                    now.timeIntervalSince(contentFailingSince_) > kLossDuration;
                if ((nothingAnswers || contentFails) && tC > kLossDuration && enabled_) {
                    setStateLocked(kStateLostBlocking);
                    showRetryButton = true;
                    show = true;
                }
            }
        }
    }
    if (showRetryButton) retryView->setIsLoading(false, true);
    if (show == visible) return;

    if (show) {
        auto windows = platform::Application::shared().windows();
        if (windows.empty()) return;
        windows.front()->addSubview(retryView);
        retryView->setAlpha(0);
        retryView->setIsLoading(false, false);
    }
    platform::View::animate(
        kFadeDuration, 0, platform::kAnimationOptionBeginFromCurrentState,
        [retryView, show] { retryView->setAlpha(show ? 1 : 0); },
        [retryView, show](bool finished) {
            if (!show && finished) retryView->removeFromSuperview();
        });
}
