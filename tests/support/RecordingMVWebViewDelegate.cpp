#include "tests/support/RecordingMVWebViewDelegate.h"

#include <algorithm>

#include "libmerovane/bridge/MVCommand.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/URLRequest.h"

namespace {

std::optional<std::string> printed(const nlohmann::json* value) {
    if (!value) return std::nullopt;
    return platform::json::print(*value);
}

}  // namespace

void RecordingMVWebViewDelegate::webViewDemandsCloseByCombat(MVWebView&) {
    calls.push_back("demandsClose");
}

std::shared_ptr<MVNavigationControllerInterface> RecordingMVWebViewDelegate::navigationControllerForWebView(
    MVWebView&) {
    calls.push_back("navigationController");
    return nullptr;
}

std::optional<MVEvent> RecordingMVWebViewDelegate::pageContextForSource(
    const std::string& source, const std::string& baseUrl, bool loadedFromCache,
    const std::vector<std::string>& tags) {
    calls.push_back("pageContext");
    pageContexts.push_back({source, baseUrl, loadedFromCache, tags});
    return pageContextEvent;
}

std::optional<bool> RecordingMVWebViewDelegate::webViewShouldPerformCommand(
    MVWebView&, const MVCommand& command) {
    calls.push_back("shouldPerformCommand");
    askedCommands.push_back(command.name());
    return commandAnswer;
}

std::optional<bool> RecordingMVWebViewDelegate::webViewShouldStartLoadWithRequest(
    MVWebView&, const platform::URLRequest& request, platform::NavigationType type) {
    calls.push_back("shouldStartLoad");
    askedLinks.push_back(request.url().absoluteString());
    askedLinkTypes.push_back(type);
    return linkRule ? linkRule(request) : std::nullopt;
}

void RecordingMVWebViewDelegate::webViewDidFinishRendering(MVWebView& webView) {
    calls.push_back("didFinishRendering");
    if (onFinishRendering) onFinishRendering(webView);
}

void RecordingMVWebViewDelegate::webViewDidStartLoad(MVWebView&) {
    calls.push_back("didStartLoad");
}

void RecordingMVWebViewDelegate::webViewDidFinishLoad(MVWebView&) {
    calls.push_back("didFinishLoad");
}

void RecordingMVWebViewDelegate::webViewDidChangePageSize(MVWebView&) {
    calls.push_back("didChangePageSize");
}

void RecordingMVWebViewDelegate::webViewDidModifyHistory(MVWebView&) {
    calls.push_back("didModifyHistory");
}

void RecordingMVWebViewDelegate::webViewDidChangeViewProperties(MVWebView&, const nlohmann::json&) {
    calls.push_back("didChangeViewProperties");
}

void RecordingMVWebViewDelegate::webViewDidChangeNavigationBarParams(
    MVWebView&, const nlohmann::json* fromParams, const nlohmann::json* toParams,
    const std::optional<std::string>& fromTitle, const std::optional<std::string>& toTitle) {
    calls.push_back("didChangeNavigationBarParams");
    navigationBarChanges.push_back({printed(fromParams), printed(toParams), fromTitle, toTitle});
}

void RecordingMVWebViewDelegate::webViewDidChangePullToRefreshEnabled(MVWebView&, bool enabled) {
    calls.push_back("didChangePullToRefreshEnabled");
    pullToRefreshChanges.push_back(enabled);
}

size_t RecordingMVWebViewDelegate::count(const std::string& call) const {
    return static_cast<size_t>(std::count(calls.begin(), calls.end(), call));
}
