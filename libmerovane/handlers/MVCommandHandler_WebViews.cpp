// Web-view commands of 1.1 and 2.0: the later openPage versions, the status-bar style of
// a page or of the application, tags on the page history, navigation back to tagged
// pages, and pull to refresh.
#include <nlohmann/json.hpp>
#include <set>

#include "libmerovane/bridge/MVNavigationControllerInterface.h"
#include "libmerovane/bridge/MVStatusBarStyle.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/bridge/MVWebViewDelegate.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/handlers/MVCommandConventions.h"
#include "libmerovane/handlers/MVCommandGroups.h"
#include "libmerovane/handlers/MVCommandHandler_1_1.h"
#include "libmerovane/handlers/MVCommandHandler_2_0.h"
#include "libmerovane/handlers/MVCommandParameters.h"
#include "libmerovane/handlers/MVOpenPage.h"

namespace {

using Conventions = MVCommandConventions;
namespace Parameters = MVCommandParameters;
using WebViewPtr = std::shared_ptr<MVWebView>;

constexpr const char* kNoDelegateLine = "{} the webview {} does not have a delegate.";
constexpr const char* kUnsupportedDefaultLine =
    "MVStatusBarStyle: \"{}\" not supported as app default.";
constexpr const char* kDefaultSetLine = "MVStatusBarStyle {} set as app defalut.";

bool isStatusBarStyleName(const std::string& name) {
    static const std::set<std::string, std::less<>> kNames = {"dark", "light", "none"};
    return kNames.count(name) > 0;
}

void openPage_1_1(MVCommandHandler& handler, nlohmann::json* parameters,
                  const WebViewPtr& webView) {
    MVOpenPage::perform(handler, parameters, webView, MVOpenPage::kVersion1_1);
}

void openPage_2_0(MVCommandHandler& handler, nlohmann::json* parameters,
                  const WebViewPtr& webView) {
    MVOpenPage::perform(handler, parameters, webView, MVOpenPage::kVersion2_0);
}

void setPreferredStatusBarStyle(MVCommandHandler& handler, nlohmann::json* parameters,
                                const WebViewPtr& webView) {
    const std::string name = Parameters::string(parameters, "style").value_or("");
    const bool known = isStatusBarStyleName(name);
    if (webView) {
        auto delegate = webView->delegate();
        if (!delegate) {
            MVLogWarn(kNoDelegateLine,
                      Conventions::commandPrefix(handler, "setPreferredStatusBarStyle"),
                      webView->debugName());
            return;
        }
        delegate->webViewDidChangePreferredStatusBarStyle(
            *webView, known ? MVStatusBarStyle::statusBarStyleWithStyleIdentifier(name) : nullptr);
        return;
    }
    if (!known) {
        MVLogError(kUnsupportedDefaultLine, name);
        return;
    }
    MVLogVerbose(kDefaultSetLine,
                 Conventions::commandPrefix(handler, "setPreferredStatusBarStyle"));
    MVStatusBarStyle::setStatusBarStyleAsAppDefault(
        *MVStatusBarStyle::statusBarStyleWithStyleIdentifier(name));
}

// The page-only tag commands: true when there is a calling web view.
bool taggedCaller(MVCommandHandler& handler, const char* command, nlohmann::json* parameters,
                  const WebViewPtr& webView) {
    return Conventions::checkCaller(handler, command, Conventions::CallerCheck::PageOnlyTagged,
                                    parameters, webView);
}

void setViewTags(MVCommandHandler& handler, nlohmann::json* parameters, const WebViewPtr& webView) {
    if (taggedCaller(handler, "setViewTags", parameters, webView))
        webView->setViewTags(Parameters::strings(parameters, "tags"));
}

void addViewTags(MVCommandHandler& handler, nlohmann::json* parameters, const WebViewPtr& webView) {
    if (taggedCaller(handler, "addViewTags", parameters, webView))
        webView->addViewTags(Parameters::strings(parameters, "tags"));
}

void removeViewTags(MVCommandHandler& handler, nlohmann::json* parameters,
                    const WebViewPtr& webView) {
    if (taggedCaller(handler, "removeViewTags", parameters, webView))
        webView->removeViewTags(Parameters::strings(parameters, "tags"));
}

void enablePullToRefresh(MVCommandHandler& handler, nlohmann::json* parameters,
                         const WebViewPtr& webView) {
    if (taggedCaller(handler, "enablePullToRefresh", parameters, webView))
        webView->setPrefersPullToRefreshEnabled(Parameters::flag(parameters, "enabled", false));
}

// The tag navigation's target stack; null after the reports when there is none.
std::shared_ptr<MVNavigationControllerInterface> tagNavigationStack(MVCommandHandler& handler,
                                                                    const char* command,
                                                                    nlohmann::json* parameters,
                                                                    const WebViewPtr& webView) {
    if (!Conventions::checkCaller(handler, command, Conventions::CallerCheck::PageOrTarget,
                                  parameters, webView))
        return nullptr;
    return Conventions::targetStack(parameters, webView);
}

void popToTag(MVCommandHandler& handler, nlohmann::json* parameters, const WebViewPtr& webView) {
    if (auto stack = tagNavigationStack(handler, "popToTag", parameters, webView))
        stack->popToTag(Parameters::string(parameters, "tag").value_or(""),
                        Parameters::flag(parameters, "animated", true));
}

void popPagesWithTags(MVCommandHandler& handler, nlohmann::json* parameters,
                      const WebViewPtr& webView) {
    if (auto stack = tagNavigationStack(handler, "popPagesWithTags", parameters, webView))
        stack->popPagesWithTags(Parameters::strings(parameters, "tags"),
                                Parameters::flag(parameters, "animated", true));
}

}  // namespace

void registerWebViewCommands() {
    const MVSpec::Member targetTab{"+targetTab", MVSpec::NSString};
    const MVSpec::Member animated{"+animated", MVSpec::NSNumber};
    const MVSpec::Member tags{"tags", MVSpec::arrayOf(MVSpec::NSString)};

    auto& v11 = MVCommandHandler_1_1::commandTable();
    v11.add("openPage", {MVOpenPage::specification(MVOpenPage::kVersion1_1), &openPage_1_1, true});
    v11.add("setPreferredStatusBarStyle",
            {MVSpec{{"style", MVSpec::NSString}}, &setPreferredStatusBarStyle, false});

    auto& v20 = MVCommandHandler_2_0::commandTable();
    v20.add("openPage", {MVOpenPage::specification(MVOpenPage::kVersion2_0), &openPage_2_0, true});
    v20.add("setViewTags", {MVSpec{tags}, &setViewTags, true});
    v20.add("addViewTags", {MVSpec{tags}, &addViewTags, true});
    v20.add("removeViewTags", {MVSpec{tags}, &removeViewTags, true});
    v20.add("popToTag", {MVSpec{{"tag", MVSpec::NSString}, targetTab, animated}, &popToTag, true});
    v20.add("popPagesWithTags", {MVSpec{tags, targetTab, animated}, &popPagesWithTags, true});
    v20.add("enablePullToRefresh",
            {MVSpec{{"enabled", MVSpec::NSNumber}}, &enablePullToRefresh, true});
}
