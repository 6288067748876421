#pragma once
// A notification whose content is a page in an MVWebView, loaded from a URL or from an
// HTML text. The notification waits until its page has rendered (a preloaded page from
// the web view pool counts as rendered), fills the page's template with its parameters
// once, lets the page run every command and close it, and answers the status-bar
// questions while it is first in its controller's queue. It has no presentation type and
// no steps of its own: the moving notifications are its presentable subclasses.
//
//   auto n = MVNotificationWithWebview::notitificationWithURL(
//       *MVNotificationPushTop::classObject(), "mvapi:promo", &params, 3.0, std::nullopt, page);
//
// With a URL and parameters the web view is taken from the pool when presenting is due;
// otherwise the page starts loading at once. A notification whose page fails to load, or
// has not rendered kRenderBound seconds after its presenting began, is dropped, so that
// it does not hold up the ones behind it; so is one whose page asks to close before it
// showed (while it waits in the queue, for its page, or for its Start step).
// Main thread only.

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "libmerovane/bridge/MVWebViewDelegate.h"
#include "libmerovane/overlays/MVNotification.h"
#include "platform/foundation/Geometry.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/InterfaceTypes.h"

class MVStatusBarStyle;

class MVNotificationWithWebview : public MVNotification, public MVWebViewDelegate {
  public:
    static constexpr double kRenderBound = 20.0;

  public:
    static std::shared_ptr<const MVNotificationClass> classObject();

    // New notifications of `cls` (the receiving class). A missing URL or content is only
    // logged; the notification is made all the same.
    static std::shared_ptr<MVNotificationWithWebview> notitificationWithURL(
        const MVNotificationClass& cls, const std::string& url,
        const nlohmann::json* notificationParams, std::optional<double> timeout,
        std::optional<double> speedFactor, const std::shared_ptr<MVWebView>& fromWebView);
    static std::shared_ptr<MVNotificationWithWebview> notitificationWithContent(
        const MVNotificationClass& cls, const std::string& content,
        const std::optional<std::string>& baseURL, const nlohmann::json* notificationParams,
        std::optional<double> timeout, std::optional<double> speedFactor,
        const std::shared_ptr<MVWebView>& fromWebView);

    void initNotitificationWithURL(const std::string& url, const nlohmann::json* notificationParams,
                                   std::optional<double> timeout, std::optional<double> speedFactor,
                                   const std::shared_ptr<MVWebView>& fromWebView);
    void initNotitificationWithContent(const std::string& content,
                                       const std::optional<std::string>& baseURL,
                                       const nlohmann::json* notificationParams,
                                       std::optional<double> timeout,
                                       std::optional<double> speedFactor,
                                       const std::shared_ptr<MVWebView>& fromWebView);
    // A timeout counts only above 0 in single precision, a speed factor only above 0
    // (else 1).
    void basicSetup(const std::optional<std::string>& source,
                    const std::optional<std::string>& htmlString,
                    const std::optional<std::string>& baseUrl,
                    const nlohmann::json* notificationParams, std::optional<double> timeout,
                    std::optional<double> speedFactor,
                    const std::shared_ptr<MVWebView>& fromWebView);
    // A 10 by 10 web view whose delegate is this notification.
    std::shared_ptr<MVWebView> emptyWebView();

    // MVNotification
    bool canNotificationStartPresenting() override;
    bool mustBeQueued() override { return true; }
    void abort() override;
    static std::optional<std::string> notificationType() { return std::nullopt; }
    static bool isWebViewNotificationClass() { return true; }
    // The class has no sequence: fails an assertion.
    static std::shared_ptr<const MVNotificationSequence> notificationSequence();

    // MVWebViewDelegate
    std::optional<bool> webViewShouldPerformCommand(MVWebView& webView,
                                                    const MVCommand& command) override;
    void webViewDemandsCloseByCombat(MVWebView& webView) override;
    void webViewDidFinishRendering(MVWebView& webView) override;
    void webViewDidChangePageSize(MVWebView& webView) override;
    void webViewDidChangePreferredStatusBarStyle(
        MVWebView& webView, const std::shared_ptr<MVStatusBarStyle>& style) override;
    std::shared_ptr<MVNavigationControllerInterface> navigationControllerForWebView(
        MVWebView& webView) override;
    std::optional<MVEvent> pageContextForSource(const std::string& source,
                                                const std::string& baseUrl, bool loadedFromCache,
                                                const std::vector<std::string>& tags) override;

    void injectNotificationData();
    void forceWebViewRedraw();

    // Status bar: the page's style while the web view covers the status-bar area, else
    // what the application shows now.
    bool isBelowStatusBar() const;
    platform::StatusBarStyle preferredStatusBarStyle() const;
    bool prefersStatusBarHidden() const;

    // Positioning: frames of the web view's current size on the controller's overlay.
    platform::Rect framePositionCenter() const;
    platform::Rect framePositionCenteredTop() const;
    platform::Rect framePositionCenteredTopOffscreen() const;
    platform::Rect framePositionCenteredBottom() const;
    platform::Rect framePositionCenterBottomOffscreen() const;
    platform::Rect framePositionLeftOffscreen() const;
    platform::Rect framePositionRightOffscreen() const;
    platform::Point screenCenter() const;
    platform::Size screenSize() const;
    // The web view keeps its origin and takes the size its page measured last.
    void adaptSizeToWebviewContentSize();

    bool isRendered() const { return isRendered_; }
    bool isInjectedNotificationParams() const { return isInjectedNotificationParams_; }
    const std::shared_ptr<MVWebView>& notificationWebView() const { return notificationWebView_; }
    const std::optional<std::string>& urlToOpenAsCachedWebView() const {
        return urlToOpenAsCachedWebView_;
    }
    const std::shared_ptr<MVStatusBarStyle>& preferredMVStatusBarStyle() const {
        return preferredMVStatusBarStyle_;
    }

  protected:
    std::shared_ptr<MVNotificationWithWebview> selfAsWebviewNotification();
    platform::Size webViewSize() const;

  private:
    // Makes the web view the notification's and watches its load for a failure.
    void takeWebView(std::shared_ptr<MVWebView> webView);
    void pageDidFailLoading();
    void pageDidNotRender();
    // Ends the notification without showing it: at once when its turn has come, else
    // when it comes.
    void dropBeforeShown();
    // Its Start step has run (its view went on the overlay).
    bool hasBeenShown() const;

    bool isRendered_ = false;
    // Its page failed or did not render in time, or it asked to close before it showed.
    bool isDropped_ = false;
    platform::ObserverRegistration loadFailure_;
    platform::TimerHandle renderBound_;
    bool isInjectedNotificationParams_ = false;
    std::shared_ptr<MVWebView> notificationWebView_;
    std::optional<std::string> urlToOpenAsCachedWebView_;
    std::shared_ptr<MVStatusBarStyle> preferredMVStatusBarStyle_;
};
