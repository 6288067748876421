#include "libmerovane/application/MVCrashReporter.h"

#include <fmt/format.h>

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

}  // namespace

std::optional<platform::CrashReport> MVCrashReporter::Store::loadPendingCrashReport() {
    return platform::CrashReporter::shared().loadPendingCrashReport();
}

bool MVCrashReporter::Store::purgeCrashReport(const platform::CrashReport& report,
                                              platform::Error* error) {
    // The store removes the report it loaded last; checked by its path all the same.
    if (!platform::CrashReporter::shared().purgePendingCrashReport(error)) return false;
    if (!platform::FileManager::defaultManager().fileExists(report.path)) return true;
    if (error) *error = platform::Error(platform::kPOSIXErrorDomain, EEXIST, "still there");
    return false;
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
            if (purge(*reports, sent)) sendPendingCrashReports();
        },
        [] {});
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
