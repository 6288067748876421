#include "libmerovane/core/MVErrorLogger.h"

#include <deque>
#include <mutex>
#include <nlohmann/json.hpp>

#include "libmerovane/core/MVLog.h"
#include "platform/foundation/SharedInstances.h"

namespace {

constexpr const char* kSendingLine = "MVErrorLogger is sending error log to server: <{}>";

struct ReportStore {
    std::mutex mutex;
    std::deque<MVErrorReport> reports;  // guarded by mutex
};

ReportStore& store() {
    static ReportStore* s = [] {
        auto* created = new ReportStore;
        platform::registerSharedInstanceReset("MVErrorLogger",
                                              [] { MVErrorLogger::clearReports(); });
        return created;
    }();
    return *s;
}

void keep(MVErrorReport report) {
    MVLogVerbose(kSendingLine, report.description);
    auto& s = store();
    std::lock_guard lock(s.mutex);
    s.reports.push_back(std::move(report));
    while (s.reports.size() > MVErrorLogger::kKeptReports) s.reports.pop_front();
}

}  // namespace

void MVErrorLogger::logError(const std::string& description, const nlohmann::json& data) {
    keep({description, std::make_shared<const nlohmann::json>(data)});
}

void MVErrorLogger::logError(const std::string& description) {
    keep({description, nullptr});
}

std::vector<MVErrorReport> MVErrorLogger::reports() {
    auto& s = store();
    std::lock_guard lock(s.mutex);
    return {s.reports.begin(), s.reports.end()};
}

void MVErrorLogger::clearReports() {
    auto& s = store();
    std::lock_guard lock(s.mutex);
    s.reports.clear();
}
