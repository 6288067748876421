#pragma once
// What the error and crash report uploads share: the log server's endpoints, the
// application and device facts every report carries, the query address and the
// transfer on a queue of the uploads' own.
//
//   auto entries = MVLogServer::reportFacts(platform::Date::now());
//   entries.emplace_back("errorDescription", description);
//   platform::URLRequest request(*platform::URL::parse(
//       MVLogServer::address(MVLogServer::errorLogEndpoint(), entries)));
//   MVLogServer::send(std::move(request), [](const MVLogServer::Answer& answer) { ... });
//
// The endpoints hang below a base address fixed by the build (MV_LOG_SERVER_URL); a host
// sets its own with setEndpointBase (the shell from its settings, tests a loopback
// server). Thread-safe.

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/Date.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/HTTPURLResponse.h"

namespace platform {
class URLRequest;
}

namespace MVLogServer {

// Query entries in the order they are written.
using Entries = std::vector<std::pair<std::string, std::string>>;

// The build's base address unless set; setting "" returns to it.
std::string endpointBase();
void setEndpointBase(std::string base);
// The base followed by "/applog/error" and "/applog/crash".
std::string errorLogEndpoint();
std::string crashLogEndpoint();

// "appVersion", "appIdentifier", "libVersion", "apiPath", "timestamp" (from `time`),
// "interfaceType", "osVersion", "deviceId", "deviceName", "deviceManufacturer",
// "platform", "codebase". "deviceId" is the connection variable "did" read inside
// locked access of persistent storage, so a report built here may itself report.
Entries reportFacts(platform::Date time);

// The main bundle's Info value as text; "" when absent or not text.
std::string infoText(const char* key);

// `endpoint` + "?", then "<key>=<value>&" per entry, both URL-encoded; the last "&" stays.
std::string address(const std::string& endpoint, const Entries& entries);

// A number in its plain form: integers without a fraction, others in the shortest form
// that reads back the same.
std::string plainNumber(double value);

// The answer of a transfer: a response, or none and the error of a failed transfer.
struct Answer {
    std::optional<platform::HTTPURLResponse> response;
    std::string data;  // at most kMaxAnswerBytes of the body
    std::optional<platform::Error> error;
};
inline constexpr size_t kMaxAnswerBytes = 64 * 1024;

// Starts the transfer on the uploads' own queue and hands the answer to `completion`
// there. The caller never waits.
void send(platform::URLRequest request, std::function<void(const Answer&)> completion);

}  // namespace MVLogServer
