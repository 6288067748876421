#pragma once
// The crash report record: written by a dying process, read by the next start.
//
// A record is text, one field a line, and ends with the line "end", so a record cut
// short by the dying process is told from a whole one:
//
//   MVCrashReport 1
//   pid 4242
//   processStartMillis 1767225600250
//   signal SIGBUS                      (a signal record)
//   signalCode 2
//   address 0x7e5700000000
//   exceptionName 15:MVTestException   (an exception record: byte length, ":", bytes)
//   exceptionReason 4:boom
//   frame 0x55d1c0a1b2c3               (innermost first, at most kMaxCrashFrames)
//   end
//
// A record holds either the three signal fields or the two exception fields. The
// writer allocates nothing and calls nothing but its sink, so a signal handler can use
// it; the parser takes any bytes and answers a report or a problem, never throws.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

inline constexpr int kMaxCrashFrames = 128;
inline constexpr size_t kMaxExceptionNameLength = 1024;
inline constexpr size_t kMaxExceptionReasonLength = 64 * 1024;
// No whole record comes near this; a longer file is damaged.
inline constexpr size_t kMaxCrashRecordSize = 1024 * 1024;

struct CrashReport {
    std::string path;   // the file it was read from
    std::string bytes;  // the file as written
    long pid = 0;
    int64_t processStartMillis = 0;  // wall time, milliseconds since 1970
    bool hasExceptionInfo = false;
    // A signal record.
    std::string signalName;  // "SIGBUS"
    int signalCode = 0;      // si_code
    uint64_t address = 0;    // the faulting address, 0 when the signal has none
    // An exception record.
    std::string exceptionName;
    std::string exceptionReason;
    std::vector<uint64_t> frames;

    // Seconds since 1970.
    double processStartTime() const { return processStartMillis / 1000.0; }
};

// The fields as a signal handler holds them. Texts longer than their maximum are cut.
struct CrashRecordFields {
    long pid = 0;
    int64_t processStartMillis = 0;
    const char* signalName = nullptr;  // null for an exception record
    int signalCode = 0;
    uintptr_t address = 0;
    const char* exceptionName = nullptr;
    size_t exceptionNameLength = 0;
    const char* exceptionReason = nullptr;
    size_t exceptionReasonLength = 0;
    const uint64_t* frames = nullptr;
    int frameCount = 0;
};

// Receives the record piece by piece; answers false to stop the writer.
using CrashRecordSink = bool (*)(void* context, const char* bytes, size_t length);

// Async-signal-safe when the sink is. False when the sink failed.
bool writeCrashRecord(const CrashRecordFields& fields, CrashRecordSink sink, void* context);

// The record of `report`'s fields, for tests and round trips.
std::string crashRecordText(const CrashReport& report);

// A report, or none with `problem` (when given) saying what is wrong.
std::optional<CrashReport> parseCrashReport(std::string_view bytes, std::string* problem = nullptr);

// "SIGSEGV" ... for the captured signals, null for any other.
const char* crashSignalName(int signal);

}  // namespace platform
