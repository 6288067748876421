#pragma once
// The upload of error reports: one GET to the log server's error endpoint per report,
// its facts and data as query entries, sent on the uploads' own queue past the web
// cache. The library application installs it as MVErrorLogger's uploader when made.
//
//   MVErrorLogUpload::install();
//   MVErrorLogger::logError("MVApiConnection lost its stream", {{"code", 7}});
//
// The environment variable "MVErrorLogDisabled" set to exactly "YES" turns it off. A
// report asked for while another is being built (on any thread, or from a call the
// building makes) is dropped. Failures are only logged. Thread-safe.

#include <cstddef>
#include <nlohmann/json_fwd.hpp>
#include <string>

class MVErrorLogUpload {
  public:
    static void install();

    // Builds and sends one report; `data` null when the caller gave none.
    static void send(const std::string& description, const nlohmann::json* data);

    // The data as the "data" entry: a string unchanged, an array or object as compact
    // JSON ("" when it nests too deep to be written), a number (or boolean) in its plain
    // form, anything else the not-readable text with its class name ("(null)" for no
    // data). Longer than kMaxDataText bytes, it is cut on a character boundary and
    // marked "… [cut, N bytes]".
    static std::string dataText(const nlohmann::json* data);
    // The description as the "errorDescription" entry and in the log line: cut the same
    // way past kMaxDescriptionText bytes.
    static std::string descriptionText(const std::string& description);

    static constexpr size_t kMaxDataText = 32 * 1024;
    static constexpr size_t kMaxDescriptionText = 4 * 1024;
    static constexpr const char* kDisabledVariable = "MVErrorLogDisabled";
    static constexpr const char* kNotReadableFormat =
        "MVErrorLogger: Data not readable format: [{}]";
    static constexpr const char* kSendingFormat =
        "MVErrorLogger is sending error log to server: <{}>";
    static constexpr const char* kFailureFormat =
        "MVErrorLogger couldn't send error log to url: {} - status: {}";
};
