#include "libmerovane/application/MVLogServer.h"

#include <fmt/format.h>

#include <cmath>
#include <memory>
#include <mutex>

#include "libmerovane/application/MVLibraryApplication.h"
#include "libmerovane/connection/MVApiConnection.h"
#include "libmerovane/connection/MVApiConnectionVariable.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/core/StringExtensions.h"
#include "libmerovane/core/UIDeviceExtensions.h"
#include "libmerovane/storage/MVPersistentStorage.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/URLConnection.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/Device.h"

#ifndef MV_LOG_SERVER_URL
#define MV_LOG_SERVER_URL "https://api.merovane.example"
#endif

namespace MVLogServer {

namespace {

struct Settings {
    std::mutex mutex;
    std::string base;  // guarded by mutex; empty: the build's
};

Settings& settings() {
    static auto* s = new Settings;
    return *s;
}

std::string deviceId() {
    std::optional<std::string> value;
    MVPersistentStorage::sharedStorage().lockedAccess([&] {
        if (auto variable = MVApiConnectionVariable::dbObjectWithID("did"))
            value = variable->value();
    });
    return value.value_or("");
}

// The user default "app_identifier" without white space whenever it is set, blank or
// not; else the Info value.
std::string reportedAppIdentifier() {
    if (auto fromDefaults = platform::UserDefaults::standard().stringForKey("app_identifier"))
        return withoutWhitespace(*fromDefaults);
    return infoText("MVApplicationIdentifier");
}

// Made once and kept: reports come in bursts, a thread per report would not do.
platform::DispatchQueue& uploadQueue() {
    static auto* queue = new std::shared_ptr<platform::DispatchQueue>(
        platform::DispatchQueue::makeSerial("MVLogServer upload"));
    return **queue;
}

}  // namespace

std::string endpointBase() {
    auto& s = settings();
    std::lock_guard lock(s.mutex);
    return s.base.empty() ? std::string(MV_LOG_SERVER_URL) : s.base;
}

void setEndpointBase(std::string base) {
    auto& s = settings();
    std::lock_guard lock(s.mutex);
    s.base = std::move(base);
}

std::string errorLogEndpoint() {
    return endpointBase() + "/applog/error";
}

std::string crashLogEndpoint() {
    return endpointBase() + "/applog/crash";
}

std::string infoText(const char* key) {
    auto value = platform::Bundle::main().objectForInfoDictionaryKey(key);
    return value && value->is_string() ? value->get<std::string>() : std::string();
}

Entries reportFacts(platform::Date time) {
    auto& device = platform::Device::current();
    const bool pad = device.userInterfaceIdiom() == platform::UserInterfaceIdiom::Pad;
    return {
        {"appVersion", infoText("CFBundleVersion")},
        {"appIdentifier", reportedAppIdentifier()},
        {"libVersion", MVLibraryApplication::libraryVersion()},
        {"apiPath", MVApiConnection::sharedConnection().apiPath()},
        {"timestamp", plainNumber(time.timeIntervalSince1970())},
        {"interfaceType", pad ? "tablet" : "phone"},
        {"osVersion", device.systemVersion()},
        {"deviceId", deviceId()},
        {"deviceName", devicePlatform()},
        {"deviceManufacturer", "apple"},
        {"platform", "ios"},
        {"codebase", infoText("Codebase")},
    };
}

std::string address(const std::string& endpoint, const Entries& entries) {
    std::string out = endpoint + "?";
    for (const auto& [key, value] : entries)
        out += urlEncodedString(key) + "=" + urlEncodedString(value) + "&";
    return out;
}

std::string plainNumber(double value) {
    if (std::isfinite(value) && value == std::trunc(value) && std::fabs(value) < 1e15)
        return fmt::format("{}", static_cast<int64_t>(value));
    return fmt::format("{}", value);
}

void send(platform::URLRequest request, std::function<void(const Answer&)> completion) {
    // Nothing thrown while handling the answer leaves the queue's thread.
    auto finish = [completion = std::move(completion)](const Answer& answer) {
        try {
            completion(answer);
        } catch (const std::exception& e) {
            MVLogError("MVLogServer could not handle an answer: {}", e.what());
        }
    };
    uploadQueue().async([request = std::move(request), completion = std::move(finish)]() mutable {
        auto answer = std::make_shared<Answer>();
        platform::URLConnectionCallbacks callbacks;
        callbacks.didReceiveResponse = [answer](const platform::HTTPURLResponse& response) {
            answer->response = response;
        };
        callbacks.didReceiveData = [answer](const std::vector<uint8_t>& data) {
            const size_t room = kMaxAnswerBytes - answer->data.size();
            answer->data.append(data.begin(), data.begin() + std::min(room, data.size()));
        };
        callbacks.didFinishLoading = [answer, completion] { completion(*answer); };
        callbacks.didFailWithError = [answer, completion](const platform::Error& error) {
            completion({std::nullopt, {}, error});
        };
        platform::URLConnection::start(std::move(request), std::move(callbacks),
                                       *platform::RunLoop::current());
    });
}

}  // namespace MVLogServer
