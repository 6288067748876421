#pragma once
// Where the library reports run-time failures that the maker's server should learn of:
//
//   MVErrorLogger::logError("MVCommandHandler(v2.0) unknown command.", "openPage");
//   MVErrorLogger::logError("MVApiConnection lost its stream");   // no data
//
// A report is a description and a small data object (usually a dictionary or a
// string). Nothing comes back to the caller. The latest reports are kept for inspection;
// the upload to the log server is installed from above (setUploader), and without it a
// report is only logged.
//
// The upload asks for shared instances (persistent storage for the device id). Code that
// builds a shared instance under its lock holds uploads back meanwhile, so that a report
// raised by the building never waits for the instance being built:
//
//   MVErrorLogger::UploadHold hold;   // before the lock: released after it
//   std::lock_guard lock(gSharedMutex);
//   ... build, which may report ...
//
// Thread-safe.

#include <functional>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <vector>

struct MVErrorReport {
    std::string description;
    // The data object; null when the caller gave none (which is not JSON null).
    std::shared_ptr<const nlohmann::json> data;
};

class MVErrorLogger {
  public:
    static void logError(const std::string& description, const nlohmann::json& data);
    // Takes the data over: a value built in code may nest deeper than a copy can recurse.
    static void logError(const std::string& description, nlohmann::json&& data);
    static void logError(const std::string& description);

    // The reports made since the last reset, oldest first (at most kKeptReports).
    static std::vector<MVErrorReport> reports();
    static void clearReports();

    // Sends each report on; called on the reporting thread after the report is kept. An
    // exception it lets out is logged, never passed to the reporter. Empty removes it.
    using Uploader = std::function<void(const MVErrorReport& report)>;
    static void setUploader(Uploader uploader);

    // While one lives on a thread, the reports made on that thread are kept as always but
    // their uploads wait; they go out, oldest first, when the thread's outermost hold ends
    // (at most kKeptReports of them, later ones only kept).
    class UploadHold {
      public:
        UploadHold();
        ~UploadHold();
        UploadHold(const UploadHold&) = delete;
        UploadHold& operator=(const UploadHold&) = delete;
    };

    static constexpr size_t kKeptReports = 256;
};
