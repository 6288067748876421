#pragma once
// The upload of crash reports: at launch the host's delegate sweeps the report a crash
// left (sendPendingCrashReports), which POSTs its bytes to the log server's crash
// endpoint with the same facts as an error report, and purges it once the server
// answered 200.
//
//   platform::CrashReporter::shared().enable();   // host entry, before anything can crash
//   ...
//   MVCrashReporter::sendPendingCrashReports();   // the delegate, once during its launch
//
// The sweep goes report by report, oldest first: the next one is taken after the
// last one was purged. A purge that leaves its report in place ends the sweep with a
// log line; a report the store cannot read is set aside by the store, and the sweep
// goes on with the next one. A report the server refused (another status than 200) at
// kMaxRefusals sweeps in a row is set aside too, with a warning, and the sweep goes on. Transfers
// run on the uploads' own queue, and so do the blocks and the sweep that follows a success.
// Thread-safe.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "libmerovane/application/MVLogServer.h"
#include "platform/crash/CrashReport.h"
#include "platform/foundation/Date.h"

namespace platform {
class Error;
}

class MVCrashReporter {
  public:
    using Block = std::function<void()>;
    using Completion = std::function<void(const MVLogServer::Answer& answer)>;

    // Sends one report: nothing at all but the success block for a report of
    // terminateApp; else the body (only when at most kMaxBodySize bytes) with the fifteen
    // entries. On 200 the success block runs; on another status the failure block and an
    // error report; after a failed transfer neither.
    static void uploadCrashData(const std::string& data, const std::string& errorClass,
                                const std::string& errorDescription, platform::Date crashTime,
                                Block doOnSuccess, Block doOnFailure);
    // One POST of `body` (none: empty) to `server` with `parameters` as its query, with
    // cookies, as "application/octet-stream"; `thenPerform` gets the answer.
    static void commitCrashReport(const std::optional<std::string>& body, const std::string& server,
                                  const MVLogServer::Entries& parameters, Completion thenPerform);

    // The sweep of pending reports (the host's delegate calls it once at launch).
    static void sendPendingCrashReports();

    // What the sweep needs of the crash report store; the crash reporter's by default.
    class Store {
      public:
        virtual ~Store() = default;
        // The oldest readable pending report; the store sets damaged ones aside.
        virtual std::optional<platform::CrashReport> loadPendingCrashReport();
        // Removes `report`; false with `error` when it is still there.
        virtual bool purgeCrashReport(const platform::CrashReport& report, platform::Error* error);
        // Moves `report` aside as a damaged one; false with `error` when it is still there.
        virtual bool setCrashReportAside(const platform::CrashReport& report,
                                         platform::Error* error);
    };
    // None: the crash reporter's store.
    static void setStore(std::shared_ptr<Store> store);

    static constexpr size_t kMaxBodySize = 0x100000;
    static constexpr int kMaxRefusals = 3;
    // User default: {"report": path, "refusals": count} of the report refused last,
    // written to disc before the refusal is acted on.
    static constexpr const char* kRefusalsKey = "MVCrashReporterRefusals";
    static constexpr const char* kTriesToSendFormat =
        "MVCrashReporter tries to send crash log for <{}> [{}] to server.";
    static constexpr const char* kCouldNotSendReport =
        "MVCrashReporter couldn't send crashLog to url.";
    // A transfer that failed; the report stays for the next launch.
    static constexpr const char* kNotSentFormat = "MVCrashReporter could not send crash log: {}";
    static constexpr const char* kPurgeFailedFormat =
        "MVCrashReporter could not remove the sent crash report {}: {}";
    static constexpr const char* kSetAsideFormat =
        "MVCrashReporter sets the crash report {} aside: the server refused it {} times";
    static constexpr const char* kSetAsideFailedFormat =
        "MVCrashReporter could not set the refused crash report {} aside: {}";
};
