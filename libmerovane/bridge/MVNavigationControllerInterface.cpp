#include "libmerovane/bridge/MVNavigationControllerInterface.h"

#include <fmt/core.h>

#include <nlohmann/json.hpp>

#include "libmerovane/bridge/MVTabControllerInterface.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/core/MVLog.h"
#include "platform/ui/ViewController.h"

namespace {

constexpr const char* kNotFoundLine = "No navigation controller found for [{}{}]";
constexpr const char* kNotFoundReport = "No navigation controller found for {}";
constexpr const char* kTargetWord = "Target:";
constexpr const char* kWebViewWord = "MVWebView";
constexpr const char* kNoObject = "(null)";

}  // namespace

std::shared_ptr<MVNavigationControllerInterface>
MVNavigationControllerInterface::navigationControllerOf(
    const platform::ViewController& viewController) {
    for (auto parent = viewController.parentViewController(); parent;
         parent = parent->parentViewController()) {
        if (auto stack = std::dynamic_pointer_cast<MVNavigationControllerInterface>(parent)) {
            return stack;
        }
    }
    return nullptr;
}

std::shared_ptr<MVNavigationControllerInterface>
MVNavigationControllerInterface::sharedInstanceForIdentifier(
    const std::optional<std::string>& identifier, const std::shared_ptr<MVWebView>& webView) {
    std::shared_ptr<MVNavigationControllerInterface> stack;
    if (auto tabs = MVTabControllerInterface::sharedDefaultInstance()) {
        if (identifier)
            stack = tabs->navigationControllerWithIdentifier(identifier);
        else if (webView)
            stack = tabs->navigationControllerForWebView(*webView);
    }
    if (stack) return stack;

    const char* word = identifier ? kTargetWord : kWebViewWord;
    const std::string object =
        identifier ? *identifier : (webView ? webView->debugName() : std::string(kNoObject));
    MVLogWarn(kNotFoundLine, word, object);
    MVErrorLogger::logError(
        fmt::format(kNotFoundReport, word),
        {{"identifier", identifier.value_or("")},
         {"webView", webView ? webView->currentUrl().value_or("") : std::string()}});
    return nullptr;
}
