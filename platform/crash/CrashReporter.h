#pragma once
// Crash capture and the store of crash reports.
//
//   platform::Error error;
//   auto& reporter = platform::CrashReporter::shared();
//   reporter.enable(&error);               // at start-up, before anything can crash
//   ...
//   if (auto report = reporter.loadPendingCrashReport()) {
//       upload(report->bytes, ...);
//       reporter.purgePendingCrashReport();
//   }
//
// Enabling installs handlers, on an alternate signal stack, for SIGSEGV, SIGBUS,
// SIGILL, SIGFPE, SIGABRT, SIGTRAP and SIGSYS, and a terminate handler for uncaught
// exceptions. Each writes this run's report (see CrashReport.h) and the process then
// ends as it would have without them: the signal handler restores the default
// actions and raises the signal again; the terminate handler hands on to the previous
// one. The signal handler uses async-signal-safe calls only: every text it needs is
// prepared while enabling, and `backtrace` is loaded then too.
//
// Reports live in <library>/CrashReports: this run's report is "live.mvcrash" (never
// written through a link); enabling turns a report the previous run left there into a
// pending one ("pending-<time>.mvcrash", numbered after the pending ones), so nothing
// is lost.
// Pending reports are answered oldest first, read only from a regular file (no link is
// followed, a FIFO never blocks) and only up to kMaxCrashRecordSize bytes. A pending
// entry that cannot be read or parsed (a link, a folder, a FIFO or device, unreadable,
// too long, empty, cut short, garbage) is logged and moved aside as
// "<file>.corrupt-<time>", the three newest asides kept, and the next one is read, so
// one damaged file never blocks the reports after it.
//
// Thread-safe; the crash handlers may run on any thread. When two threads crash at
// once the first writes the report and the other waits for the end.

#include <optional>
#include <string>

#include "platform/crash/CrashReport.h"
#include "platform/foundation/Error.h"

namespace platform {

class CrashReporter {
  public:
    static CrashReporter& shared();

    // Installs the handlers (once). On failure logs "Warning: Could not enable crash
    // reporter: %@", writes `error` when given and answers false.
    bool enable(Error* error = nullptr);
    bool isEnabled() const;

    // Writes this run's report for an exception that is about to end the process,
    // with the current frames. False when not enabled or the file could not be written.
    bool writeReport(const std::string& exceptionName, const std::string& reason);

    bool hasPendingCrashReport() const;
    // The oldest readable pending report, after setting aside the damaged ones before
    // it (one that cannot be moved aside is logged and passed over); none when there is
    // none.
    std::optional<CrashReport> loadPendingCrashReport();
    // Removes the report the last load answered (its path); without one, the report a
    // load would answer now. False, with `error`, when it could not be removed; true
    // when there was none.
    bool purgePendingCrashReport(Error* error = nullptr);
    // Moves the report the last load answered aside as a damaged one is, so that the
    // next load answers the one after it. False, with `error`, when it is still there.
    bool setPendingCrashReportAside(Error* error = nullptr);

    // <library>/CrashReports
    static std::string reportsDirectory();
    static constexpr const char* kLiveReportName = "live.mvcrash";
    static constexpr const char* kEnableFailureFormat =
        "Warning: Could not enable crash reporter: {}";

    // Test hook: removes the handlers (the previous ones return) and forgets the folder.
    void resetForTesting();

  private:
    CrashReporter() = default;
};

}  // namespace platform
