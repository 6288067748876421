#pragma once
// Where the library reports run-time failures that the maker's server should learn of:
//
//   MVErrorLogger::logError("MVCommandHandler(v2.0) unknown command.", "openPage");
//   MVErrorLogger::logError("MVApiConnection lost its stream");   // no data
//
// A report is a description and a small data object (usually a dictionary or a
// string). Nothing comes back to the caller. Until the upload to the error log endpoint
// is in place, reports are logged and the latest ones are kept for inspection.
// Thread-safe.

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
    static void logError(const std::string& description);

    // The reports made since the last reset, oldest first (at most kKeptReports).
    static std::vector<MVErrorReport> reports();
    static void clearReports();

    static constexpr size_t kKeptReports = 256;
};
