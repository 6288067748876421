// Data requests to the API server on a page's behalf, page events between pages, and
// the pages' small store of entries with a lifetime.
#include <fmt/format.h>

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "libmerovane/bridge/MVCommand.h"
#include "libmerovane/bridge/MVEvent.h"
#include "libmerovane/bridge/MVEventDispatcher.h"
#include "libmerovane/bridge/MVEventWebViews.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/connection/MVApiConnection.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/handlers/MVCommandConventions.h"
#include "libmerovane/handlers/MVCommandGroups.h"
#include "libmerovane/handlers/MVCommandHandler_1_0.h"
#include "libmerovane/handlers/MVCommandParameters.h"
#include "libmerovane/storage/MVPersistentStorage.h"
#include "libmerovane/storage/MVWebStorageVariable.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/URL.h"

namespace {

using WebViewPtr = std::shared_ptr<MVWebView>;
using Check = MVCommandConventions::CallerCheck;

constexpr const char* kApiScheme = "mvapi";
constexpr double kDateRounding = 1e-6;

const MVCommandErrorTexts kDataRequestNotFromPage = {
    "{} can only be called from MVWebviews <params:{}>", "{} can only be called from MVWebviews"};
const MVCommandErrorTexts kStorageReadNotFromPage = {
    "{} can only be called from MVWebviews <params:{}>", "{} can only be called from MVWebviews."};
const MVCommandErrorTexts kEventsNotFromPage = {"{} not called from webview",
                                                "{} not called from webview."};
constexpr const char* kUnformedSourceLine = "{} could not form url from src: \"{}\"";
constexpr const char* kUnformedSourceReport = "{} could not form url from src.";
constexpr const char* kEventNamesDroppedLine = "{} drops event names that are not strings";
constexpr const char* kEventWithoutNameLine = "{} event without a name is not sent";

// A whole number of seconds from a stored or given double, held inside the int64 range
// (the plain conversion is undefined outside it).
int64_t wholeSeconds(double seconds) {
    return platform::json::integerValue(nlohmann::json(std::isnan(seconds) ? 0.0 : seconds));
}

void sendDataRequestToApi(const std::string& pageId, const std::optional<std::string>& body,
                          const std::optional<std::string>& contentType,
                          const std::string& requestSerial, MVWebView& webView) {
    nlohmann::json parameters = {{"serial", fmt::format("{}:{}", webView.serialID(),
                                                        webView.noteDataRequest(requestSerial))},
                                 {"pageId", pageId}};
    if (body) parameters["body"] = *body;
    if (contentType) parameters["bodyContentType"] = *contentType;
    MVCommand request;
    request.setName("dataRequest");
    request.setParameters(std::move(parameters));
    MVApiConnection::sharedConnection().sendCommands({request});
}

void sendDataRequest(MVCommandHandler& handler, nlohmann::json* parameters,
                     const WebViewPtr& webView) {
    if (!MVCommandConventions::checkCaller(handler, "sendDataRequest", Check::PageOnly, parameters,
                                           webView, &kDataRequestNotFromPage) ||
        !parameters)
        return;
    const std::string src = MVCommandParameters::string(parameters, "src").value_or("");
    // "noCache" is read and has no effect: the server decides.
    (void)platform::json::boolValue(*parameters, "noCache");
    const auto url = platform::URL::parse(src);
    if (!url) {
        const std::string prefix = MVCommandConventions::commandPrefix(handler, "sendDataRequest");
        MVLogWarn(kUnformedSourceLine, prefix, platform::log::escaped(src));
        MVErrorLogger::logError(fmt::format(kUnformedSourceReport, prefix), nlohmann::json(src));
        return;
    }
    // Other schemes would go to their servers directly, which nothing does yet.
    if (url->scheme() != kApiScheme) return;
    sendDataRequestToApi(src.substr(src.find(':') + 1),
                         MVCommandParameters::string(parameters, "body"),
                         MVCommandParameters::string(parameters, "bodyContentType"),
                         MVCommandParameters::string(parameters, "serial").value_or(""), *webView);
}

void registerEvents(MVCommandHandler& handler, nlohmann::json* parameters,
                    const WebViewPtr& webView) {
    if (!MVCommandConventions::checkCaller(handler, "registerEvents", Check::PageOnly, parameters,
                                           webView, &kEventsNotFromPage) ||
        !parameters)
        return;
    const nlohmann::json* events = platform::json::find(*parameters, "events");
    if (!events || !events->is_array()) return;
    std::vector<std::string> names;
    for (const auto& event : *events)
        if (event.is_string()) names.push_back(event.get_ref<const std::string&>());
    if (names.size() != events->size())
        MVLogWarn(kEventNamesDroppedLine,
                  MVCommandConventions::commandPrefix(handler, "registerEvents"));
    // The dispatcher refuses an empty list; registering nothing is the same.
    if (names.empty()) return;
    MVEventDispatcher::sharedDispatcher().registerWebView(webView, names);
}

void broadcastEvent(MVCommandHandler& handler, nlohmann::json* parameters, const WebViewPtr&) {
    const std::string name = MVCommandParameters::string(parameters, "event").value_or("");
    if (name.empty()) {
        MVLogWarn(kEventWithoutNameLine,
                  MVCommandConventions::commandPrefix(handler, "broadcastEvent"));
        return;
    }
    const nlohmann::json* eventParameters =
        MVCommandParameters::dictionaryOrArray(parameters, "parameters");
    MVEventDispatcher::sharedDispatcher().dispatchEvent(
        MVEvent(name, eventParameters && eventParameters->is_array() ? *eventParameters
                                                                     : nlohmann::json()));
}

void setWebStorageEntry(MVCommandHandler&, nlohmann::json* parameters, const WebViewPtr&) {
    if (!parameters) return;
    const std::string name = MVCommandParameters::string(parameters, "name").value_or("");
    const nlohmann::json* value = platform::json::find(*parameters, "value");
    const std::optional<double> timeout = MVCommandParameters::number(parameters, "timeout");
    MVPersistentStorage::sharedStorage().lockedAccess([&] {
        auto entry = MVWebStorageVariable::dbObjectWithID(name);
        if (!entry) {
            if (!value) return;
            entry = MVWebStorageVariable::dbObjectCreate();
            entry->setId(name);
        } else if (!value) {
            entry->deleteFromStorage();
            return;
        }
        entry->setCreationDate(platform::Date::now());
        entry->setDataValue(value);
        entry->setTimeoutInterval(timeout);
    });
}

void getWebStorageEntry(MVCommandHandler& handler, nlohmann::json* parameters,
                        const WebViewPtr& webView) {
    if (!MVCommandConventions::checkCaller(handler, "getWebStorageEntry", Check::PageOnly,
                                           parameters, webView, &kStorageReadNotFromPage) ||
        !parameters)
        return;
    const std::string name = MVCommandParameters::string(parameters, "name").value_or("");
    std::shared_ptr<const nlohmann::json> value;
    int64_t age = 0;
    MVPersistentStorage::sharedStorage().lockedAccess([&] {
        auto entry = MVWebStorageVariable::dbObjectWithID(name);
        if (!entry) return;
        const platform::Date created = entry->creationDate().value_or(platform::Date::now());
        // Dates are doubles: a whole number of seconds may come out a hair short.
        const int64_t entryAge =
            wholeSeconds(platform::Date::now().timeIntervalSince(created) + kDateRounding);
        const int64_t timeout = wholeSeconds(entry->timeoutInterval().value_or(0));
        // An expired entry stays stored; the start-up's clean-up removes it.
        if (timeout >= 1 && entryAge > timeout) return;
        age = entryAge;
        value = entry->dataValue();
    });
    // Serials and ages are unsigned on the page's side.
    const int64_t serial = platform::json::integerValue(*parameters, "serial");
    webView->performMVEvent(MVEventWebViews::webStorageResponse(
        value.get(), static_cast<uint64_t>(std::max<int64_t>(age, 0)),
        static_cast<uint64_t>(std::max<int64_t>(serial, 0))));
}

}  // namespace

void registerDataRequestCommands() {
    auto& v10 = MVCommandHandler_1_0::commandTable();
    v10.add("sendDataRequest", {MVSpec{{"serial", MVSpec::NSString},
                                       {"src", MVSpec::NSString},
                                       {"+noCache", MVSpec::NSNumber},
                                       {"+body", MVSpec::NSString},
                                       {"+bodyContentType", MVSpec::NSString}},
                                &sendDataRequest, false});
    v10.add("registerEvents", {MVSpec{{"events", MVSpec::NSArray}}, &registerEvents, false});
    v10.add("broadcastEvent",
            {MVSpec{{"event", MVSpec::NSString}, {"+parameters", MVSpec::NSArray}}, &broadcastEvent,
             false});
    // "value" may be any object: it is stored as given, unchecked.
    v10.add("setWebStorageEntry",
            {MVSpec{{"name", MVSpec::NSString}, {"+timeout", MVSpec::NSNumber}},
             &setWebStorageEntry, true});
    v10.add("getWebStorageEntry", {MVSpec{{"name", MVSpec::NSString}, {"serial", MVSpec::NSNumber}},
                                   &getWebStorageEntry, false});
}
