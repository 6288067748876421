#include "libmerovane/handlers/MVCommandConventions.h"

#include <fmt/core.h>

#include <nlohmann/json.hpp>

#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/bridge/MVNavigationControllerInterface.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/core/MVLog.h"
#include "platform/foundation/JsonValue.h"
#include "platform/ui/View.h"
#include "platform/ui/ViewController.h"

namespace {

constexpr const char* kPrefix = "MVCommandHandler(v{}).{}()";

constexpr MVCommandErrorTexts kPageOnly{"{} can only be called from MVWebviews",
                                        "{} can only be called from MVWebviews."};
constexpr MVCommandErrorTexts kPageOnlyTagged{"{} can only be called from an MVWebview",
                                              "{} can only be called from an MVWebview"};
constexpr MVCommandErrorTexts kPageOnlyScanner{"{} has to be sent from a web view.",
                                               "{} has to be sent from a web view.",
                                               platform::log::kError};
constexpr MVCommandErrorTexts kServerOnly{"{} can't be called from a web view.",
                                          "{} can't be called from a web view."};
constexpr MVCommandErrorTexts kPageOrTarget{
    "{} without a target can only be called from an MVWebview",
    "{} without a target can only be called from an MVWebview"};

constexpr const char* kSlide = "slide";
constexpr const char* kFade = "fade";

}  // namespace

std::string MVCommandConventions::commandPrefix(const MVCommandHandler& handler,
                                                std::string_view command) {
    return fmt::format(kPrefix, handler.commandHandlerVersion(), command);
}

void MVCommandConventions::reportCommandError(const MVCommandHandler& handler,
                                              std::string_view command,
                                              const MVCommandErrorTexts& texts,
                                              const nlohmann::json* parameters,
                                              const nlohmann::json* data) {
    const std::string listing = parameters ? platform::json::print(*parameters) : "(null)";
    MV_LOG_AT(texts.level, fmt::runtime(texts.warning), commandPrefix(handler, command), listing);
    const std::string report =
        fmt::format(fmt::runtime(texts.report), commandPrefix(handler, command), listing);
    if (data)
        MVErrorLogger::logError(report, *data);
    else
        MVErrorLogger::logError(report);
}

void MVCommandConventions::reportCommandError(const MVCommandHandler& handler,
                                              std::string_view command,
                                              const MVCommandErrorTexts& texts,
                                              const nlohmann::json* parameters) {
    reportCommandError(handler, command, texts, parameters, parameters);
}

const MVCommandErrorTexts& MVCommandConventions::callerCheckTexts(CallerCheck check) {
    switch (check) {
        case CallerCheck::PageOnly:
            return kPageOnly;
        case CallerCheck::PageOnlyTagged:
            return kPageOnlyTagged;
        case CallerCheck::PageOnlyScanner:
            return kPageOnlyScanner;
        case CallerCheck::ServerOnly:
            return kServerOnly;
        case CallerCheck::PageOrTarget:
            return kPageOrTarget;
    }
    return kPageOnly;
}

bool MVCommandConventions::checkCaller(const MVCommandHandler& handler, std::string_view command,
                                       CallerCheck check, const nlohmann::json* parameters,
                                       const std::shared_ptr<MVWebView>& webView,
                                       const MVCommandErrorTexts* variant) {
    bool fits = false;
    switch (check) {
        case CallerCheck::PageOnly:
        case CallerCheck::PageOnlyTagged:
        case CallerCheck::PageOnlyScanner:
            fits = webView != nullptr;
            break;
        case CallerCheck::ServerOnly:
            fits = webView == nullptr;
            break;
        case CallerCheck::PageOrTarget:
            fits = webView != nullptr || targetTab(parameters).has_value();
            break;
    }
    if (fits) return true;
    const MVCommandErrorTexts& texts = variant ? *variant : callerCheckTexts(check);
    if (check == CallerCheck::ServerOnly) {
        const nlohmann::json url = webView->currentUrl().value_or("");
        reportCommandError(handler, command, texts, parameters, &url);
    } else {
        reportCommandError(handler, command, texts, parameters);
    }
    return false;
}

std::optional<std::string> MVCommandConventions::targetTab(const nlohmann::json* parameters) {
    if (!parameters) return std::nullopt;
    return platform::json::stringValue(*parameters, "targetTab");
}

std::shared_ptr<MVNavigationControllerInterface> MVCommandConventions::targetStack(
    const nlohmann::json* parameters, const std::shared_ptr<MVWebView>& webView) {
    return MVNavigationControllerInterface::sharedInstanceForIdentifier(targetTab(parameters),
                                                                        webView);
}

std::optional<double> MVCommandConventions::speedFactor(const nlohmann::json* parameters) {
    if (!parameters) return std::nullopt;
    const nlohmann::json* value = platform::json::find(*parameters, "speedFactor");
    if (!value || value->is_null()) return std::nullopt;
    return platform::json::doubleValue(*value);
}

MVBarAnimation MVCommandConventions::animationTypeForController(
    const std::shared_ptr<platform::ViewController>& controller,
    const std::optional<std::string>& word) {
    if (!controller || !controller->view()->window()) return MVBarAnimation::None;
    if (!word || *word == kSlide) return MVBarAnimation::Slide;
    if (*word == kFade) return MVBarAnimation::Fade;
    return MVBarAnimation::None;
}
