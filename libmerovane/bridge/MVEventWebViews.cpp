#include "libmerovane/bridge/MVEventWebViews.h"

#include <nlohmann/json.hpp>

#include "libmerovane/core/MVLog.h"
#include "platform/foundation/JsonValue.h"

namespace MVEventWebViews {
namespace {

constexpr const char* kPageContextIncomplete = "<PageContext> without src ot type.";
constexpr const char* kPopTabAction = "MVAction.popTab()";

const char* animationName(int animation) {
    switch (animation) {
        case kNone:
            return "none";
        case kFade:
            return "fade";
        case kPush:
            return "push";
        case kPop:
            return "pop";
        default:
            return "";
    }
}

MVEvent amending(MVEvent event) {
    event.setAmendPreviousEvent(true);
    return event;
}

}  // namespace

MVEvent updateTemplateContent(const nlohmann::json* content) {
    if (!content || content->is_null()) return amending(MVEvent("updateTemplateContent"));
    return amending(MVEvent("updateTemplateContent", nlohmann::json::array({*content})));
}

MVEvent updateNavigationBar(const nlohmann::json* bar, int animation, unsigned options,
                            const nlohmann::json* additionalParameters) {
    nlohmann::json parameters = additionalParameters && additionalParameters->is_object()
                                    ? *additionalParameters
                                    : nlohmann::json::object();
    const bool arrow = (options & kLeftButtonArrow) != 0;
    parameters["leftButtonArrow"] = arrow;
    parameters["leftButtonAction"] = arrow ? kPopTabAction : "";
    return amending(
        MVEvent("updateNavigationBar",
                nlohmann::json::array({bar ? *bar : nlohmann::json(""), animationName(animation),
                                       std::move(parameters)})));
}

MVEvent dataResponse(const std::string& serial, const nlohmann::json& statusCode,
                     const std::optional<std::string>& body,
                     const std::optional<std::string>& contentType) {
    return MVEvent("dataResponse", nlohmann::json::array({serial, statusCode, body.value_or(""),
                                                          contentType.value_or("")}));
}

std::optional<MVEvent> pageContext(const std::optional<std::string>& src,
                                   const std::optional<std::string>& /*baseUrl*/,
                                   const std::optional<std::string>& type, bool loadedFromCache,
                                   const std::optional<std::string>& identifier,
                                   const std::optional<std::string>& tabName,
                                   const std::vector<std::string>* tags) {
    if (!src || !type) {
        MVLogWarn(kPageContextIncomplete);
        return std::nullopt;
    }
    nlohmann::json context = {{"type", *type}, {"src", *src}, {"cached", loadedFromCache}};
    if (identifier) context["identifier"] = *identifier;
    if (tabName) context["tab"] = *tabName;
    if (tags) context["tags"] = *tags;
    return amending(MVEvent("pageContext", nlohmann::json::array({std::move(context)})));
}

MVEvent pageInsetsChanged(const platform::EdgeInsets& insets, bool animated) {
    nlohmann::json values = {{"top", insets.top},
                             {"bottom", insets.bottom},
                             {"left", insets.left},
                             {"right", insets.right}};
    return amending(MVEvent("pageInsetsChanged", nlohmann::json::array({values, animated})));
}

MVEvent webStorageResponse(const nlohmann::json* value, uint64_t age, uint64_t serial) {
    return MVEvent("webStorageResponse",
                   nlohmann::json::array({serial, age, value ? *value : nlohmann::json()}));
}

MVEvent beginPageProgress() {
    return MVEvent("beginPageProgress");
}

MVEvent endPageProgress() {
    return MVEvent("endPageProgress");
}

MVEvent updatePageProgress(float progress) {
    return amending(MVEvent("updatePageProgress",
                            nlohmann::json::array({platform::json::floatNumber(progress)})));
}

MVEvent updatePageProgressInfo(const std::optional<std::string>& url, bool isSecure, bool isTrusted,
                               const std::optional<std::string>& title, uint64_t historySize) {
    nlohmann::json info = {{"url", url.value_or("")},
                           {"isSecure", isSecure},
                           {"isTrusted", isTrusted},
                           {"historySize", historySize}};
    if (title) info["title"] = *title;
    return MVEvent("updatePageProgressInfo", nlohmann::json::array({std::move(info)}));
}

}  // namespace MVEventWebViews
