#include "libmerovane/bridge/MVCommandChannel.h"

#include <fmt/format.h>

#include <nlohmann/json.hpp>

#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/bridge/MVCommandURL.h"
#include "libmerovane/bridge/MVWebViewInterface.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/core/MVLog.h"
#include "platform/foundation/JsonValue.h"

namespace {

constexpr const char* kWithoutJSON = "MVWebView{} did receive command scheme without JSON";
constexpr const char* kUnreadable =
    "MVWebview could not read command collection from webview{}:[{}]";
constexpr const char* kUnreadableReport = "MVWebview could not read command collection.";
constexpr const char* kLostCommands = "MVWebView{} lost commands {} == {}";

void checkCommandSerials(const nlohmann::json& collection, const std::string& label,
                         int64_t& lastCommandSerial) {
    const nlohmann::json* commands = platform::json::find(collection, "cmds");
    if (!commands || !commands->is_array()) return;
    for (const auto& command : *commands) {
        if (!command.is_object()) continue;
        const int64_t received = platform::json::integerValue(command, "s");
        const int64_t expected = lastCommandSerial;
        // Wraps rather than overflows after a page's 2^63rd command.
        lastCommandSerial = static_cast<int64_t>(static_cast<uint64_t>(lastCommandSerial) + 1);
        if (received != expected) MVLogWarn(kLostCommands, label, received, expected);
    }
}

}  // namespace

namespace MVCommandChannel {

void performCommandURL(const std::string& absoluteURL,
                       const std::shared_ptr<MVWebViewInterface>& webView,
                       int64_t& lastCommandSerial, bool checkSerials) {
    const std::string label = webView ? webView->debugName() : std::string();
    const std::string decoded = decodedCommandURL(absoluteURL);
    const std::optional<std::string> text = commandCollectionText(decoded);
    if (!text) {
        const std::string line = fmt::format(kWithoutJSON, label);
        MVLogError("{}", line);
        // An address whose escapes do not decode is reported as it came.
        MVErrorLogger::logError(
            line, {{"webView", label}, {"requestURL", decoded.empty() ? absoluteURL : decoded}});
        return;
    }
    platform::json::ParseResult parsed = platform::json::parse(*text);
    if (!parsed.ok()) {
        MVLogWarn(kUnreadable, label, platform::log::escaped(*text));
        MVErrorLogger::logError(kUnreadableReport, {{"webview", label}, {"path", *text}});
        return;
    }
    if (checkSerials) checkCommandSerials(parsed.value, label, lastCommandSerial);
    MVCommandHandler::performCommandsFromCommandCollection(std::move(parsed.value), webView);
}

}  // namespace MVCommandChannel
