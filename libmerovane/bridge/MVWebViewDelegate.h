#pragma once
// The owner of an MVWebView: the web page view controller and the containers and
// overlays that show web views (navigation stacks, menu bar, background menus, splash
// screen, notifications, scanner) implement it.
//
// Three operations are required; the others are optional. An optional question answers
// none for "not answered"; an optional report does nothing unless overridden. The web
// view holds its delegate weakly. Called on the main thread.

#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <vector>

#include "libmerovane/bridge/MVEvent.h"
#include "platform/web/NavigationType.h"

class MVCommand;
class MVNavigationControllerInterface;
class MVStatusBarStyle;
class MVWebView;

namespace platform {
class URLRequest;
}

class MVWebViewDelegate {
  public:
    virtual ~MVWebViewDelegate() = default;

    // The page asks to close its view (closeView command).
    virtual void webViewDemandsCloseByCombat(MVWebView& webView) = 0;
    // The navigation stack that shows the web view, or null.
    virtual std::shared_ptr<MVNavigationControllerInterface> navigationControllerForWebView(
        MVWebView& webView) = 0;
    // A fetched page is about to be loaded: its pageContext event, which goes first to
    // the page, or none.
    virtual std::optional<MVEvent> pageContextForSource(const std::string& source,
                                                        const std::string& baseUrl,
                                                        bool loadedFromCache,
                                                        const std::vector<std::string>& tags) = 0;

    // False vetoes a command of this web view's page.
    virtual std::optional<bool> webViewShouldPerformCommand(MVWebView& webView,
                                                            const MVCommand& command) {
        return std::nullopt;
    }
    // False keeps the web view from following a link to another document.
    virtual std::optional<bool> webViewShouldStartLoadWithRequest(
        MVWebView& webView, const platform::URLRequest& request,
        platform::NavigationType navigationType) {
        return std::nullopt;
    }
    virtual void webViewDidFinishRendering(MVWebView& webView) {}
    // The platform view started or finished a load, once per page.
    virtual void webViewDidStartLoad(MVWebView& webView) {}
    virtual void webViewDidFinishLoad(MVWebView& webView) {}
    virtual void webViewDidChangePageSize(MVWebView& webView) {}
    virtual void webViewDidModifyHistory(MVWebView& webView) {}
    virtual void webViewDidChangeViewProperties(MVWebView& webView,
                                                const nlohmann::json& viewProperties) {}
    virtual void webViewDidChangePreferredStatusBarStyle(
        MVWebView& webView, const std::shared_ptr<MVStatusBarStyle>& style) {}
    // The navigation-bar parameters (dictionaries, or null) or title in effect changed.
    virtual void webViewDidChangeNavigationBarParams(MVWebView& webView,
                                                     const nlohmann::json* fromParams,
                                                     const nlohmann::json* toParams,
                                                     const std::optional<std::string>& fromTitle,
                                                     const std::optional<std::string>& toTitle) {}
    // The newest page's pull-to-refresh preference changed.
    virtual void webViewDidChangePullToRefreshEnabled(MVWebView& webView, bool enabled) {}
};
