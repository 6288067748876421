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
    std::deque<MVErrorReport> reports;                        // guarded by mutex
    std::shared_ptr<const MVErrorLogger::Uploader> uploader;  // guarded by mutex
};

ReportStore& store() {
    static ReportStore* s = [] {
        auto* created = new ReportStore;
        platform::registerSharedInstanceReset("MVErrorLogger", [] {
            MVErrorLogger::clearReports();
            MVErrorLogger::setUploader({});
        });
        return created;
    }();
    return *s;
}

// The uploads held back on this thread (UploadHold).
struct HeldUploads {
    int depth = 0;
    std::vector<MVErrorReport> reports;
};
thread_local HeldUploads tHeld;

void upload(const MVErrorReport& report) {
    std::shared_ptr<const MVErrorLogger::Uploader> uploader;
    {
        auto& s = store();
        std::lock_guard lock(s.mutex);
        uploader = s.uploader;
    }
    if (!uploader) {
        MVLogVerbose(kSendingLine, report.description);
        return;
    }
    try {
        (*uploader)(report);
    } catch (const std::exception& e) {
        MVLogError("MVErrorLogger could not send error log: {}", e.what());
    }
}

void keep(const MVErrorReport& report) {
    {
        auto& s = store();
        std::lock_guard lock(s.mutex);
        s.reports.push_back(report);
        while (s.reports.size() > MVErrorLogger::kKeptReports) s.reports.pop_front();
    }
    if (tHeld.depth > 0) {
        if (tHeld.reports.size() < MVErrorLogger::kKeptReports) tHeld.reports.push_back(report);
        return;
    }
    upload(report);
}

}  // namespace

void MVErrorLogger::logError(const std::string& description, const nlohmann::json& data) {
    keep({description, std::make_shared<const nlohmann::json>(data)});
}

void MVErrorLogger::logError(const std::string& description, nlohmann::json&& data) {
    keep({description, std::make_shared<const nlohmann::json>(std::move(data))});
}

void MVErrorLogger::logError(const std::string& description) {
    keep({description, nullptr});
}

MVErrorLogger::UploadHold::UploadHold() {
    ++tHeld.depth;
}

// Runs as the stack unwinds too: nothing may leave it.
MVErrorLogger::UploadHold::~UploadHold() {
    if (--tHeld.depth > 0) return;
    auto held = std::move(tHeld.reports);
    tHeld.reports.clear();
    for (const auto& report : held) {
        try {
            upload(report);
        } catch (...) {
            MVLogError("MVErrorLogger could not send error log: {}", report.description);
        }
    }
}

void MVErrorLogger::setUploader(Uploader uploader) {
    auto shared = uploader ? std::make_shared<const Uploader>(std::move(uploader)) : nullptr;
    auto& s = store();
    std::lock_guard lock(s.mutex);
    s.uploader = std::move(shared);
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
