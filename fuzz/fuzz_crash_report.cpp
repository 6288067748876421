// A crash report is written by a dying process and read at the next start: whatever
// the file holds must parse to a report or a problem, never crash. A report that
// parses writes back to the same bytes, and the store sets a damaged file aside.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "fuzz/FuzzRunFolder.h"
#include "platform/crash/CrashReport.h"
#include "platform/crash/CrashReporter.h"

namespace {

// A folder of its own for the run, removed at exit.
const std::string& root() {
    return fuzzing::runFolder("/tmp/fuzz-crash-report-XXXXXX");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::string problem;
    const auto report = platform::parseCrashReport(bytes, &problem);
    if (report ? platform::crashRecordText(*report) != bytes : problem.empty()) __builtin_trap();

    // Through the store: the file is answered as it is or set aside, never left pending.
    const std::string folder = root() + "/Library/CrashReports";
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "/pending-0000000000000001.mvcrash", std::ios::binary | std::ios::trunc)
        << bytes;
    auto& reporter = platform::CrashReporter::shared();
    const auto loaded = reporter.loadPendingCrashReport();
    if (bool(loaded) != bool(report)) __builtin_trap();
    if (!reporter.purgePendingCrashReport() || reporter.hasPendingCrashReport()) __builtin_trap();
    return 0;
}
