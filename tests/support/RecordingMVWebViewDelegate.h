#pragma once
// An MVWebViewDelegate for tests, standing for the controllers, containers and overlays
// that own web views: records every call as one line, answers the page context with
// an event when told, and decides commands and links by rules the test sets.
//
//   auto owner = std::make_shared<RecordingMVWebViewDelegate>();
//   webView->setDelegate(owner);
//   owner->linkRule = [](const platform::URLRequest&) { return false; };
//   ... owner->calls == {"didStartLoad", "didFinishLoad", "didFinishRendering"}

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "libmerovane/bridge/MVWebViewDelegate.h"
#include "platform/web/NavigationType.h"

class RecordingMVWebViewDelegate : public MVWebViewDelegate {
  public:
    struct PageContext {
        std::string source;
        std::string baseUrl;
        bool loadedFromCache = false;
        std::vector<std::string> tags;
    };
    struct NavigationBarChange {
        std::optional<std::string> fromParams;  // compact JSON, none for null
        std::optional<std::string> toParams;
        std::optional<std::string> fromTitle;
        std::optional<std::string> toTitle;
    };

    void webViewDemandsCloseByCombat(MVWebView&) override;
    std::shared_ptr<MVNavigationControllerInterface> navigationControllerForWebView(MVWebView&) override;
    std::optional<MVEvent> pageContextForSource(const std::string& source,
                                                const std::string& baseUrl, bool loadedFromCache,
                                                const std::vector<std::string>& tags) override;
    std::optional<bool> webViewShouldPerformCommand(MVWebView&, const MVCommand& command) override;
    std::optional<bool> webViewShouldStartLoadWithRequest(MVWebView&,
                                                          const platform::URLRequest& request,
                                                          platform::NavigationType) override;
    void webViewDidFinishRendering(MVWebView&) override;
    void webViewDidStartLoad(MVWebView&) override;
    void webViewDidFinishLoad(MVWebView&) override;
    void webViewDidChangePageSize(MVWebView&) override;
    void webViewDidModifyHistory(MVWebView&) override;
    void webViewDidChangeViewProperties(MVWebView&, const nlohmann::json& viewProperties) override;
    void webViewDidChangeNavigationBarParams(MVWebView&, const nlohmann::json* fromParams,
                                             const nlohmann::json* toParams,
                                             const std::optional<std::string>& fromTitle,
                                             const std::optional<std::string>& toTitle) override;
    void webViewDidChangePullToRefreshEnabled(MVWebView&, bool enabled) override;

    size_t count(const std::string& call) const;

    // Every call in order, by name ("didModifyHistory", "pageContext", ...).
    std::vector<std::string> calls;
    std::vector<PageContext> pageContexts;
    std::vector<NavigationBarChange> navigationBarChanges;
    std::vector<bool> pullToRefreshChanges;
    std::vector<std::string> askedLinks;
    std::vector<platform::NavigationType> askedLinkTypes;
    std::vector<std::string> askedCommands;
    // The event answered for the page context; none: none.
    std::optional<MVEvent> pageContextEvent;
    // None: the question is not answered.
    std::function<std::optional<bool>(const platform::URLRequest&)> linkRule;
    std::optional<bool> commandAnswer;
    // Runs inside the matching report, after it is recorded.
    std::function<void(MVWebView&)> onFinishRendering;
};
