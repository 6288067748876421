#include "libmerovane/handlers/MVOpenPage.h"

#include <fmt/core.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/bridge/MVNavigationControllerInterface.h"
#include "libmerovane/bridge/MVTabControllerInterface.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/bridge/MVWebViewController.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/core/UIViewExtensions.h"
#include "libmerovane/handlers/MVCommandConventions.h"
#include "libmerovane/handlers/MVCommandParameters.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/URL.h"
#include "platform/ui/View.h"
#include "platform/ui/ViewController.h"

namespace MVOpenPage {

namespace {

namespace Parameters = MVCommandParameters;
using StackPtr = std::shared_ptr<MVNavigationControllerInterface>;

constexpr const char* kCommand = "openPage";
constexpr const char* kInvalidSrcLine = "{} src is invalid! \"{}\"";
constexpr const char* kInvalidSrcReport = "{} src is invalid!.";
constexpr const char* kInvalidPreviewSrcLine = "{} previewSrc is invalid! \"{}\"";
constexpr const char* kInvalidPreviewSrcReport_1_0 = "{} previewSrc is invalid!.";
constexpr const char* kInvalidPreviewSrcReport = "{} previewSrc is invalid! .";
constexpr const char* kNoTabForTargetLine_1_0 = "{}could not find a tab for MVWebView{}";
constexpr const char* kNoTabLine = "{} could not find a tab for MVWebView{}";
constexpr const char* kNoTabReport = "{} could not find a tab for MVWebView.";
// What a missing web view prints as in 1.0's lines.
constexpr const char* kNoObject = "(null)";

struct Request {
    std::string src;
    std::optional<std::string> previewSrc;
    std::optional<nlohmann::json> previewParams;
    std::optional<std::string> title;
    std::optional<nlohmann::json> navigationBarParams;
    std::optional<std::string> targetTab;
    bool nativeMode = true;
    bool animated = true;
    std::optional<std::vector<std::string>> tags;
};

Request read(const nlohmann::json* parameters, const Variant& variant) {
    Request request;
    request.src = Parameters::string(parameters, "src").value_or("");
    request.previewSrc = Parameters::string(parameters, "previewSrc");
    if (const nlohmann::json* preview = Parameters::dictionary(parameters, "previewParams"))
        request.previewParams = *preview;
    request.title = Parameters::string(parameters, "title");
    // Read although 1.0 does not list it: a non-dictionary counts as absent.
    if (const nlohmann::json* bar = Parameters::dictionary(parameters, "navigationBarParams"))
        request.navigationBarParams = *bar;
    request.targetTab = Parameters::string(parameters, "targetTab");
    if (variant.readsBrowserAndAnimation) {
        request.nativeMode = !Parameters::flag(parameters, "emulateBrowser", false);
        request.animated = Parameters::flag(parameters, "animated", true);
    }
    if (variant.readsTags && parameters && parameters->contains("tags"))
        request.tags = Parameters::strings(parameters, "tags");
    return request;
}

// The report data of 1.1 and 2.0: five values as received, each "" when absent.
nlohmann::json reportData(const nlohmann::json* parameters,
                          const std::shared_ptr<MVWebView>& webView) {
    auto text = [&](const char* key) {
        const nlohmann::json* value = parameters ? platform::json::find(*parameters, key) : nullptr;
        return value ? *value : nlohmann::json("");
    };
    return {{"webview.currentUrl", webView ? webView->currentUrl().value_or("") : ""},
            {"previewSrc", text("previewSrc")},
            {"title", text("title")},
            {"emulateBrowser", text("emulateBrowser")},
            {"src", text("src")}};
}

void reportInvalid(const MVCommandHandler& handler, const char* line, const char* report,
                   const std::string& value, const nlohmann::json* parameters,
                   const std::shared_ptr<MVWebView>& webView, const Variant& variant) {
    const std::string prefix = MVCommandConventions::commandPrefix(handler, kCommand);
    MVLogError(fmt::runtime(line), prefix, value);
    const nlohmann::json data = variant.firstVersion ? (parameters ? *parameters : nlohmann::json())
                                                     : reportData(parameters, webView);
    if (data.is_null())
        MVErrorLogger::logError(fmt::format(fmt::runtime(report), prefix));
    else
        MVErrorLogger::logError(fmt::format(fmt::runtime(report), prefix), data);
}

void reportNoTab(const MVCommandHandler& handler, const Request& request,
                 const nlohmann::json* parameters, const std::shared_ptr<MVWebView>& webView,
                 const Variant& variant) {
    const std::string prefix = MVCommandConventions::commandPrefix(handler, kCommand);
    const std::string report = fmt::format(kNoTabReport, prefix);
    if (!variant.firstVersion) {
        MVLogWarn(kNoTabLine, prefix, webView ? webView->debugName() : "");
        MVErrorLogger::logError(report, reportData(parameters, webView));
        return;
    }
    const std::string name = webView ? webView->debugName() : kNoObject;
    const std::optional<std::string> url = webView ? webView->currentUrl() : std::nullopt;
    if (request.targetTab) {
        MVLogWarn(kNoTabForTargetLine_1_0, prefix, name);
        nlohmann::json data = nlohmann::json::array({parameters ? *parameters : nlohmann::json()});
        if (url) data.push_back(*url);
        MVErrorLogger::logError(report, std::move(data));
    } else {
        MVLogWarn(kNoTabLine, prefix, name);
        if (url)
            MVErrorLogger::logError(report, *url);
        else
            MVErrorLogger::logError(report);
    }
}

// With a target, the tab controller's stack of that name (made when new); without, the
// stack that shows the web view. No lookup report of its own.
StackPtr findStack(const Request& request, const std::shared_ptr<MVWebView>& webView) {
    if (request.targetTab) {
        auto tabs = MVTabControllerInterface::sharedDefaultInstance();
        return tabs ? tabs->navigationControllerWithIdentifier(request.targetTab) : nullptr;
    }
    if (!webView) return nullptr;
    auto controller = firstAvailableUIViewController(*webView);
    if (!controller) return nullptr;
    if (auto stack = std::dynamic_pointer_cast<MVNavigationControllerInterface>(controller))
        return stack;
    return MVNavigationControllerInterface::navigationControllerOf(*controller);
}

// The view of the stack's top page, or null when it shows none.
std::shared_ptr<platform::View> topPageView(const StackPtr& stack) {
    auto container = std::dynamic_pointer_cast<platform::ViewController>(stack);
    if (!container || container->childViewControllers().empty()) return nullptr;
    return container->childViewControllers().back()->view();
}

}  // namespace

MVSpec specification(const Variant& variant) {
    std::vector<MVSpec::Member> members = {
        {"src", MVSpec::NSString},         {"+title", MVSpec::NSString},
        {"+previewSrc", MVSpec::NSString}, {"+previewParams", MVSpec::NSDictionary},
        {"+targetTab", MVSpec::NSString},  {"+navigationBarParams", MVSpec::NSDictionary},
    };
    if (variant.readsBrowserAndAnimation) {
        members.push_back({"+emulateBrowser", MVSpec::NSNumber});
        members.push_back({"+animated", MVSpec::NSNumber});
    }
    if (variant.readsTags) members.push_back({"+tags", MVSpec::arrayOf(MVSpec::NSString)});
    return MVSpec::dictionary(std::move(members));
}

void perform(MVCommandHandler& handler, const nlohmann::json* parameters,
             const std::shared_ptr<MVWebView>& webView, const Variant& variant) {
    const Request request = read(parameters, variant);
    if (!platform::URL::parse(request.src)) {
        reportInvalid(handler, kInvalidSrcLine, kInvalidSrcReport, request.src, parameters, webView,
                      variant);
        return;
    }
    if (request.previewSrc && !platform::URL::parse(*request.previewSrc)) {
        reportInvalid(
            handler, kInvalidPreviewSrcLine,
            variant.firstVersion ? kInvalidPreviewSrcReport_1_0 : kInvalidPreviewSrcReport,
            *request.previewSrc, parameters, webView, variant);
        return;
    }
    const StackPtr stack = findStack(request, webView);
    if (!stack) {
        reportNoTab(handler, request, parameters, webView, variant);
        return;
    }

    auto controller = MVWebViewController::create();
    if (auto top = topPageView(stack)) controller->view()->setBounds(top->bounds());
    if (variant.readsBrowserAndAnimation) controller->setNativeMode(request.nativeMode);
    controller->openUrl(request.src, request.previewSrc, request.previewParams);
    controller->navigationItem().setTitle(request.title.value_or(""));
    controller->setNavigationBarParameters(request.navigationBarParams);
    if (request.tags && controller->webViewFinal())
        controller->webViewFinal()->setViewTags(*request.tags);
    stack->pushViewController(controller, request.animated);
}

}  // namespace MVOpenPage
