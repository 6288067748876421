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

    static constexpr size_t kKeptReports = 256;
};
