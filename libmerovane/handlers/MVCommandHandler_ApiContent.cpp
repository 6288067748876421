// API content commands: pages and data for the web cache, answers to the pages' data
// requests, connection variables, clearing the cache and the resource monitor.
#include <fmt/format.h>

#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>
#include <vector>

#include "libmerovane/bridge/MVEventWebViews.h"
#include "libmerovane/bridge/MVWebCacheKeys.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/connection/MVApiConnectionVariable.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/core/MVResourceMonitor.h"
#include "libmerovane/handlers/MVCommandConventions.h"
#include "libmerovane/handlers/MVCommandGroups.h"
#include "libmerovane/handlers/MVCommandHandler_1_0.h"
#include "libmerovane/handlers/MVCommandHandler_1_1.h"
#include "libmerovane/handlers/MVCommandHandler_2_0.h"
#include "libmerovane/handlers/MVCommandParameters.h"
#include "libmerovane/handlers/MVNestedCommandList.h"
#include "libmerovane/storage/MVPersistentStorage.h"
#include "libmerovane/webcache/MVWebCache.h"
#include "libmerovane/webcache/MVWebCacheApiDataSource.h"
#include "platform/foundation/JsonValue.h"

namespace {

using WebViewPtr = std::shared_ptr<MVWebView>;
using Check = MVCommandConventions::CallerCheck;

constexpr const char* kAutologinKey = "autologinKey";

const MVCommandErrorTexts kDataResponseFromPage = {"{} can't be called from a web view.",
                                                   "{} can't be called from web view."};
const MVCommandErrorTexts kSetVariableFromPage = {"{} can't be called from a web view.",
                                                  "{} can't be called from web view.."};
constexpr const char* kMalformedSerialLine = "{} serial is malformed \"{}\"";
constexpr const char* kMalformedSerialReport = "{} serial is malformed .";

MVWebCacheInterface::Data utf8Data(const std::optional<std::string>& text) {
    if (!text) return nullptr;
    return std::make_shared<const std::vector<uint8_t>>(text->begin(), text->end());
}

// "maxAge" as sent, 0 when absent.
nlohmann::json maximumLifetime(const nlohmann::json* parameters) {
    const nlohmann::json* maxAge = platform::json::find(*parameters, "maxAge");
    return maxAge && maxAge->is_number() ? *maxAge : nlohmann::json(0);
}

void clearCache_1_0(MVCommandHandler&, nlohmann::json*, const WebViewPtr&) {
    MVWebCache::sharedCache().clearCache();
}

void clearCache_1_1(MVCommandHandler&, nlohmann::json* parameters, const WebViewPtr&) {
    const nlohmann::json* keys = parameters ? platform::json::find(*parameters, "keys") : nullptr;
    if (!keys || !keys->is_array() || keys->empty()) {
        MVWebCache::sharedCache().clearCache();
        return;
    }
    std::vector<std::string> names;
    for (const auto& key : *keys)
        if (key.is_string()) names.push_back(key.get_ref<const std::string&>());
    MVWebCache::sharedCache().clearCacheForKeys(names);
}

void setPageWithInfos(const nlohmann::json& parameters, nlohmann::json infos) {
    infos[MVWebCacheDataInfoBaseUrl] =
        MVCommandParameters::string(&parameters, "baseUrl").value_or("");
    infos[MVWebCacheDataInfoMaximumLifetime] = maximumLifetime(&parameters);
    MVWebCacheApiDataSource::sharedDataSource()->setData(
        utf8Data(MVCommandParameters::string(&parameters, "content").value_or("")),
        MVWebCacheKeyWithScheme(MVCommandParameters::string(&parameters, "pageId").value_or(""),
                                MVWebCacheSchemeApiPage),
        infos);
}

void setPage_1_0(MVCommandHandler&, nlohmann::json* parameters, const WebViewPtr&) {
    if (parameters) setPageWithInfos(*parameters, nlohmann::json::object());
}

void setPage_2_0(MVCommandHandler&, nlohmann::json* parameters, const WebViewPtr&) {
    if (!parameters) return;
    setPageWithInfos(*parameters, {{MVWebCacheDataInfoNoNotificationOnSet,
                                    platform::json::boolValue(*parameters, "cacheOnly")}});
}

// The web view a serial's first part names; none for a part that is no serial.
WebViewPtr webViewForSerialText(const std::string& text) {
    const int64_t serial = platform::json::integerValue(nlohmann::json(text));
    if (serial < 0 || serial > std::numeric_limits<uint32_t>::max()) return nullptr;
    return MVWebView::webViewForSerial(static_cast<uint32_t>(serial));
}

void dataResponse(MVCommandHandler& handler, nlohmann::json* parameters,
                  const WebViewPtr& webView) {
    if (!MVCommandConventions::checkCaller(handler, "dataResponse", Check::ServerOnly, parameters,
                                           webView, &kDataResponseFromPage) ||
        !parameters)
        return;
    const auto serial = MVCommandParameters::string(parameters, "serial");
    const auto body = MVCommandParameters::string(parameters, "body");
    if (!serial) {
        const auto pageId = MVCommandParameters::string(parameters, "pageId");
        if (!pageId) return;
        // Without a base URL the data source keeps this for no time at all.
        MVWebCacheApiDataSource::sharedDataSource()->setData(
            utf8Data(body), MVWebCacheKeyWithScheme(*pageId, MVWebCacheSchemeApiData),
            {{MVWebCacheDataInfoMaximumLifetime, maximumLifetime(parameters)}});
        return;
    }
    const size_t colon = serial->find(':');
    if (colon == std::string::npos) {
        const std::string prefix = MVCommandConventions::commandPrefix(handler, "dataResponse");
        MVLogError(kMalformedSerialLine, prefix, platform::log::escaped(*serial));
        MVErrorLogger::logError(fmt::format(kMalformedSerialReport, prefix),
                                nlohmann::json(*serial));
        return;
    }
    auto target = webViewForSerialText(serial->substr(0, colon));
    // An answer belongs to the document that asked, never to the one that replaced it.
    if (!target || !target->takeDataRequest(serial->substr(colon + 1))) return;
    // The request serial ends at a second colon, if any.
    const size_t end = serial->find(':', colon + 1);
    const std::string requestSerial =
        serial->substr(colon + 1, end == std::string::npos ? std::string::npos : end - colon - 1);
    const nlohmann::json* status = platform::json::find(*parameters, "status");
    target->performMVEvent(
        MVEventWebViews::dataResponse(requestSerial, status ? *status : nlohmann::json(), body,
                                      MVCommandParameters::string(parameters, "bodyContentType")));
}

// Inside locked access: stores `value` in the variable `id` (made, with `context`, when
// there is none), or deletes the variable when there is no value.
void storeVariable(const std::string& id, const std::optional<std::string>& value,
                   const std::optional<std::string>& context) {
    MVPersistentStorage::sharedStorage().lockedAccess([&] {
        auto variable = MVApiConnectionVariable::dbObjectWithID(id);
        if (!variable && !value) return;
        if (!value) {
            variable->deleteFromStorage();
            return;
        }
        if (!variable) {
            variable = MVApiConnectionVariable::dbObjectCreate();
            variable->setId(id);
        }
        if (context) variable->setContext(context);
        variable->setValue(value);
    });
}

void setVariable(MVCommandHandler& handler, nlohmann::json* parameters, const WebViewPtr& webView) {
    if (!MVCommandConventions::checkCaller(handler, "setVariable", Check::ServerOnly, parameters,
                                           webView, &kSetVariableFromPage) ||
        !parameters)
        return;
    // Variables made here have no context: they travel in every packet.
    storeVariable(MVCommandParameters::string(parameters, "name").value_or(""),
                  MVCommandParameters::string(parameters, "value"), std::nullopt);
    (*parameters)["value"] = "";
}

void setAutologinKey(MVCommandHandler& handler, nlohmann::json* parameters,
                     const WebViewPtr& webView) {
    if (!MVCommandConventions::checkCaller(handler, "setAutologinKey", Check::ServerOnly,
                                           parameters, webView))
        return;
    // Kept on the device: the app start sends it itself.
    storeVariable(kAutologinKey, MVCommandParameters::string(parameters, "key"),
                  MVApiConnectionVariable::kInternalContext);
    if (parameters) (*parameters)["key"] = "";
}

void startMonitoringResources(MVCommandHandler&, nlohmann::json*, const WebViewPtr&) {
    MVResourceMonitor::sharedResourceMonitor().startCapturing();
}

void stopMonitoringResources(MVCommandHandler& handler, nlohmann::json* parameters,
                             const WebViewPtr& webView) {
    if (!parameters) return;
    auto found = parameters->find("onCompletion");
    nlohmann::json commands =
        found != parameters->end() ? std::move(*found) : nlohmann::json::array();
    const double timeout = platform::json::doubleValue(*parameters, "timeout");
    auto list = std::make_shared<std::optional<MVNestedCommandList>>(
        MVNestedCommandList::asCollection(handler, std::move(commands), webView));
    MVResourceMonitor::sharedResourceMonitor().stopCapturingThenDo(
        [list] {
            // A list runs once.
            if (!*list) return;
            MVNestedCommandList once = std::move(**list);
            list->reset();
            std::move(once).perform();
        },
        timeout);
}

}  // namespace

void registerApiContentCommands() {
    auto& v10 = MVCommandHandler_1_0::commandTable();
    v10.add("clearCache", {MVSpec{}, &clearCache_1_0, true});
    const MVSpec page{{"pageId", MVSpec::NSString},
                      {"content", MVSpec::NSString},
                      {"baseUrl", MVSpec::NSString},
                      {"+maxAge", MVSpec::NSNumber}};
    v10.add("setPage", {page, &setPage_1_0, true});
    v10.add("dataResponse", {MVSpec{{"+serial", MVSpec::NSString},
                                    {"status", MVSpec::NSNumber},
                                    {"+body", MVSpec::NSString},
                                    {"+pageId", MVSpec::NSString},
                                    {"+bodyContentType", MVSpec::NSString},
                                    {"+maxAge", MVSpec::NSNumber}},
                             &dataResponse, true});
    v10.add("setVariable", {MVSpec{{"+context", MVSpec::NSString},
                                   {"name", MVSpec::NSString},
                                   {"+value", MVSpec::NSString}},
                            &setVariable,
                            true,
                            {"value"}});
    v10.add("setAutologinKey",
            {MVSpec{{"+key", MVSpec::NSMutableString}}, &setAutologinKey, true, {"key"}});
    v10.add("startMonitoringResources", {MVSpec{}, &startMonitoringResources, true});
    v10.add("stopMonitoringResources",
            {MVSpec{{"onCompletion", MVSpec::NSArray}, {"+timeout", MVSpec::NSNumber}},
             &stopMonitoringResources, true});
    MVCommandHandler_1_1::commandTable().add(
        "clearCache", {MVSpec{{"+keys", MVSpec::NSArray}}, &clearCache_1_1, true});
    MVCommandHandler_2_0::commandTable().add("setPage", {MVSpec{{"pageId", MVSpec::NSString},
                                                                {"content", MVSpec::NSString},
                                                                {"baseUrl", MVSpec::NSString},
                                                                {"+maxAge", MVSpec::NSNumber},
                                                                {"+cacheOnly", MVSpec::NSNumber}},
                                                         &setPage_2_0, true});
}
