#include "libmerovane/application/MVCrashReporter.h"

#include <fmt/format.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <nlohmann/json.hpp>

#include "libmerovane/application/MVLibraryApplication.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/core/MVLog.h"
#include "platform/crash/CrashReporter.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/foundation/URLRequest.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/Device.h"

namespace {

struct StoreSlot {
    std::mutex mutex;
    std::shared_ptr<MVCrashReporter::Store> store;  // guarded by mutex; null: the default
};

StoreSlot& storeSlot() {
    static auto* slot = [] {
        auto* made = new StoreSlot;
        platform::registerSharedInstanceReset("MVCrashReporter",
                                              [] { MVCrashReporter::setStore(nullptr); });
        return made;
    }();
    return *slot;
}

std::shared_ptr<MVCrashReporter::Store> store() {
    auto& slot = storeSlot();
    std::lock_guard lock(slot.mutex);
    if (!slot.store) slot.store = std::make_shared<MVCrashReporter::Store>();
    return slot.store;
}

bool hasValue(const std::optional<nlohmann::json>& value) {
    if (!value) return false;
    if (value->is_string()) return !value->get_ref<const std::string&>().empty();
    if (value->is_array() || value->is_object()) return !value->empty();
    return !value->is_null();
}

// Purges `report`; false, logged, when it is still there, so the sweep never comes back
// to it.
bool purge(MVCrashReporter::Store& from, const platform::CrashReport& report) {
    platform::Error error;
    if (from.purgeCrashReport(report, &error)) return true;
    MVLogError(MVCrashReporter::kPurgeFailedFormat, report.path, error.localizedDescription());
    return false;
}

// The crash reporter acts on the report it loaded last: `moved` when it says it did, and
// checked by the report's path all the same.
bool gone(const platform::CrashReport& report, bool moved, platform::Error* error) {
    if (!moved) return false;
    if (!platform::FileManager::defaultManager().fileExists(report.path)) return true;
    if (error) *error = platform::Error(platform::kPOSIXErrorDomain, EEXIST, "still there");
    return false;
}

// Counts one more refusal of `report` (the count of another report is forgotten) and
// writes it out at once: a start that crashes never reaches a normal end. Answers the
// count.
int countRefusal(const platform::CrashReport& report) {
    using nlohmann::json;
    auto& defaults = platform::UserDefaults::standard();
    const auto stored = defaults.objectForKey(MVCrashReporter::kRefusalsKey);
    int refusals = 1;
    if (stored && stored->is_object() && stored->value("report", json()) == report.path) {
        const json count = stored->value("refusals", json());
        if (count.is_number_integer())
            refusals = static_cast<int>(std::clamp<int64_t>(count.get<int64_t>(), 0,
                                                            MVCrashReporter::kMaxRefusals)) +
                       1;
    }
    defaults.setObject(MVCrashReporter::kRefusalsKey,
                       {{"report", report.path}, {"refusals", refusals}});
    defaults.synchronize();
    return refusals;
}

void forgetRefusals() {
    auto& defaults = platform::UserDefaults::standard();
    defaults.removeObject(MVCrashReporter::kRefusalsKey);
    defaults.synchronize();
}

}  // namespace

std::optional<platform::CrashReport> MVCrashReporter::Store::loadPendingCrashReport() {
    return platform::CrashReporter::shared().loadPendingCrashReport();
}

bool MVCrashReporter::Store::purgeCrashReport(const platform::CrashReport& report,
                                              platform::Error* error) {
    return gone(report, platform::CrashReporter::shared().purgePendingCrashReport(error), error);
}

bool MVCrashReporter::Store::setCrashReportAside(const platform::CrashReport& report,
                                                 platform::Error* error) {
    return gone(report, platform::CrashReporter::shared().setPendingCrashReportAside(error), error);
}

void MVCrashReporter::setStore(std::shared_ptr<Store> replacement) {
    auto& slot = storeSlot();
    std::lock_guard lock(slot.mutex);
    slot.store = std::move(replacement);
}

void MVCrashReporter::sendPendingCrashReports() {
    if (platform::Device::current().model().find("Simulator") != std::string::npos) return;
    auto reports = store();
    auto report = reports->loadPendingCrashReport();
    if (!report) return;
    if (!hasValue(platform::Bundle::main().objectForInfoDictionaryKey("CompileInfo"))) {
        // Not sent from such a build: discarded.
        if (purge(*reports, *report)) sendPendingCrashReports();
        return;
    }
    std::string errorClass, description;
    if (report->hasExceptionInfo) {
        errorClass = fmt::format("[Unhandled Exception] {}", report->exceptionName);
        description = report->exceptionReason;
    } else {
        errorClass = fmt::format("[Signal] {}", report->signalName);
        description = fmt::format("Address: 0x{:X}", report->address);
    }
    const platform::CrashReport sent = *report;
    uploadCrashData(
        report->bytes, errorClass, description, platform::Date(report->processStartTime()),
        [reports, sent] {
            forgetRefusals();
            if (purge(*reports, sent)) sendPendingCrashReports();
        },
        [reports, sent] {
            // Left in place for ever it would hold back every report after it.
            const int refusals = countRefusal(sent);
            if (refusals < kMaxRefusals) return;
            MVLogWarn(kSetAsideFormat, sent.path, refusals);
            platform::Error error;
            if (!reports->setCrashReportAside(sent, &error)) {
                MVLogError(kSetAsideFailedFormat, sent.path, error.localizedDescription());
                return;
            }
            forgetRefusals();
            sendPendingCrashReports();
        });
}

void MVCrashReporter::uploadCrashData(const std::string& data, const std::string& errorClass,
                                      const std::string& errorDescription, platform::Date crashTime,
                                      Block doOnSuccess, Block doOnFailure) {
    if (errorDescription == MVLibraryApplication::kTerminatedWithoutCrashLog) {
        if (doOnSuccess) doOnSuccess();
        return;
    }
    auto entries = MVLogServer::reportFacts(crashTime);
    entries.emplace_back("errorClass", errorClass);
    entries.emplace_back("errorDescription", errorDescription);
    entries.emplace_back("compileUUID", MVLogServer::infoText("CompileUUID"));
    MVLogVerbose(kTriesToSendFormat, platform::log::escaped(errorClass),
                 platform::log::escaped(errorDescription));
    std::optional<std::string> body;
    if (data.size() <= kMaxBodySize) body = data;
    const std::string endpoint = MVLogServer::crashLogEndpoint();
    commitCrashReport(
        body, endpoint, entries,
        [endpoint, doOnSuccess = std::move(doOnSuccess),
         doOnFailure = std::move(doOnFailure)](const MVLogServer::Answer& answer) {
            if (!answer.response) {
                MVLogInfo(kNotSentFormat,
                          answer.error ? answer.error->localizedDescription() : std::string());
                return;
            }
            const int status = answer.response->statusCode();
            if (status == 200) {
                if (doOnSuccess) doOnSuccess();
                return;
            }
            if (doOnFailure) doOnFailure();
            MVErrorLogger::logError(kCouldNotSendReport,
                                    {{"url", endpoint}, {"status", fmt::format("{}", status)}});
        });
}

void MVCrashReporter::commitCrashReport(const std::optional<std::string>& body,
                                        const std::string& server,
                                        const MVLogServer::Entries& parameters,
                                        Completion thenPerform) {
    const std::string address = MVLogServer::address(server, parameters);
    auto url = platform::URL::parse(address);
    if (!url) {
        MVLogError("MVCrashReporter could not send to {}", platform::log::escaped(address));
        return;
    }
    platform::URLRequest request(*url);
    request.setHTTPShouldHandleCookies(true);
    if (body) request.setHTTPBody(std::string_view(*body));
    request.setHTTPMethod("POST");
    request.setValue("application/octet-stream", "Content-Type");
    MVLogServer::send(std::move(request), std::move(thenPerform));
}
