#include "libmerovane/core/MVErrorLogger.h"

#include <mutex>
#include <nlohmann/json.hpp>

#include "platform/foundation/SharedInstances.h"

namespace {
std::mutex gMutex;
std::vector<MVErrorReport>& kept() {
    static auto* v = [] {
        platform::registerSharedInstanceReset("MVErrorLogger", [] { MVErrorLogger::clearReports(); });
        return new std::vector<MVErrorReport>;
    }();
    return *v;
}
}  // namespace

void MVErrorLogger::logError(const std::string& description, const nlohmann::json& data) {
    std::lock_guard lock(gMutex);
    kept().push_back({description, std::make_shared<const nlohmann::json>(data)});
}
void MVErrorLogger::logError(const std::string& description) {
    std::lock_guard lock(gMutex);
    kept().push_back({description, nullptr});
}
std::vector<MVErrorReport> MVErrorLogger::reports() {
    std::lock_guard lock(gMutex);
    return kept();
}
void MVErrorLogger::clearReports() {
    std::lock_guard lock(gMutex);
    kept().clear();
}
