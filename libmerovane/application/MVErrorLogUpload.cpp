#include "libmerovane/application/MVErrorLogUpload.h"

#include <fmt/format.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>

#include "libmerovane/application/MVLogServer.h"
#include "libmerovane/bridge/URLRequestWebCache.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/core/MVLog.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/URLRequest.h"

namespace {

std::atomic<bool> gBuilding{false};

// Claims the report-in-progress flag for one report, and gives it back on every way out.
class BuildingReport {
  public:
    BuildingReport() : claimed_(!gBuilding.exchange(true)) {}
    ~BuildingReport() {
        if (claimed_) gBuilding = false;
    }
    BuildingReport(const BuildingReport&) = delete;
    BuildingReport& operator=(const BuildingReport&) = delete;
    bool claimed() const { return claimed_; }

  private:
    bool claimed_;
};

bool disabled() {
    const char* value = std::getenv(MVErrorLogUpload::kDisabledVariable);
    return value && std::strcmp(value, "YES") == 0;
}

const char* className(const nlohmann::json& data) {
    switch (data.type()) {
        case nlohmann::json::value_t::null:
            return "NSNull";
        case nlohmann::json::value_t::binary:
            return "NSData";
        default:
            return "NSObject";
    }
}

std::string cut(std::string text, size_t most = MVErrorLogUpload::kMaxDataText) {
    if (text.size() <= most) return text;
    size_t end = most;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    const size_t full = text.size();
    text.resize(end);
    return text + fmt::format("… [cut, {} bytes]", full);
}

}  // namespace

void MVErrorLogUpload::install() {
    MVErrorLogger::setUploader([](const MVErrorReport& report) {
        MVErrorLogUpload::send(report.description, report.data.get());
    });
}

std::string MVErrorLogUpload::dataText(const nlohmann::json* data) {
    if (!data) return fmt::format(kNotReadableFormat, "(null)");
    switch (data->type()) {
        case nlohmann::json::value_t::string:
            return cut(data->get<std::string>());
        case nlohmann::json::value_t::array:
        case nlohmann::json::value_t::object:
            return cut(platform::json::printIfShallow(*data).value_or(""));
        case nlohmann::json::value_t::boolean:
            return data->get<bool>() ? "1" : "0";
        case nlohmann::json::value_t::number_integer:
            return std::to_string(data->get<int64_t>());
        case nlohmann::json::value_t::number_unsigned:
            return std::to_string(data->get<uint64_t>());
        case nlohmann::json::value_t::number_float:
            return MVLogServer::plainNumber(data->get<double>());
        default:
            return fmt::format(kNotReadableFormat, className(*data));
    }
}

std::string MVErrorLogUpload::descriptionText(const std::string& description) {
    return cut(description, kMaxDescriptionText);
}

void MVErrorLogUpload::send(const std::string& description, const nlohmann::json* data) {
    if (disabled()) return;
    BuildingReport building;
    if (!building.claimed()) return;

    auto entries = MVLogServer::reportFacts(platform::Date::now());
    const std::string shortDescription = descriptionText(description);
    entries.emplace_back("errorDescription", shortDescription);
    entries.emplace_back("data", dataText(data));
    const std::string address = MVLogServer::address(MVLogServer::errorLogEndpoint(), entries);
    auto url = platform::URL::parse(address);
    MVLogVerbose(kSendingFormat, platform::log::escaped(shortDescription));
    if (!url) {
        MVLogError(kFailureFormat, platform::log::escaped(address), 0);
        return;
    }
    platform::URLRequest request(*url);
    setWillIgnoreWebcache(request, true);
    MVLogServer::send(std::move(request), [address](const MVLogServer::Answer& answer) {
        const int status = answer.response ? answer.response->statusCode() : 0;
        if (status != 200) MVLogError(kFailureFormat, platform::log::escaped(address), status);
    });
}
