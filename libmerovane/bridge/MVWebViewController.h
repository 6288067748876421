#pragma once
// The view controller that shows one page of a navigation stack in an MVWebView. While
// the page loads it may show a preview page from the pool of preloaded web views, and
// it reports a simulated loading progress to the stack's navigation bar. A silent
// refresh loads a hidden copy of the page that takes its place once it has rendered.
//
//   auto page = MVWebViewController::create();
//   page->openUrlApi("home", "mvapi:template", nlohmann::json{{"title", "Home"}});
//   stack->pushViewController(page, true);
//
// Posts MVWebViewControllerDidStartLoadingNotification and ...DidEndLoading... in pairs
// (sender: the controller). Main thread only.

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "libmerovane/bridge/MVViewHierarchyDelegate.h"
#include "libmerovane/bridge/MVWebViewControllerDelegate.h"
#include "libmerovane/bridge/MVWebViewDelegate.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/ViewController.h"

class MVRefreshControl;
class MVStatusBarStyle;
class MVWebView;

inline constexpr const char* MVWebViewControllerDidStartLoadingNotification =
    "MVWebViewControllerDidStartLoadingNotification";
inline constexpr const char* MVWebViewControllerDidEndLoadingNotification =
    "MVWebViewControllerDidEndLoadingNotification";

class MVWebViewController : public platform::ViewController,
                            public MVWebViewDelegate,
                            public MVViewHierarchyDelegate,
                            public MVNavigationControllerClient {
  public:
    static std::shared_ptr<MVWebViewController> create();
    ~MVWebViewController() override;

    // Opening. Preview parameters are a dictionary or none.
    void openUrl(const std::string& url, const std::optional<std::string>& previewUrl = {},
                 std::optional<nlohmann::json> previewParams = {});
    void openUrlApi(const std::string& pageId, const std::optional<std::string>& previewUrl = {},
                    std::optional<nlohmann::json> previewParams = {});
    void replacePageWithUrl(const std::string& url, const std::optional<std::string>& previewUrl,
                            std::optional<nlohmann::json> previewParams);
    void reload() { reloadWithSilentMode(false); }
    void reloadWithSilentMode(bool silent);
    void reloadLastPageAfterDelay(double seconds);
    void cancelWebViewRefresh();
    // Prepares a web view for this controller and answers it.
    std::shared_ptr<MVWebView> initializeChildWebView(std::shared_ptr<MVWebView> webView);

    // State.
    bool isLoading() const { return isLoading_; }
    bool nativeMode() const { return nativeMode_; }
    void setNativeMode(bool nativeMode);
    float loadingProgress() const { return loadingProgress_; }
    const std::shared_ptr<MVWebView>& webViewFinal() const { return webViewFinal_; }
    const std::shared_ptr<MVWebView>& webViewPreview() const { return webViewPreview_; }
    const std::shared_ptr<MVWebView>& webViewRefresh() const { return webViewRefresh_; }
    const std::optional<nlohmann::json>& previewParams() const { return previewParams_; }
    const std::shared_ptr<MVRefreshControl>& refreshControl() const { return refreshControl_; }
    std::weak_ptr<MVWebViewControllerDelegate> delegate() const { return delegate_; }
    void setDelegate(std::weak_ptr<MVWebViewControllerDelegate> delegate) {
        delegate_ = std::move(delegate);
    }

    // Navigation bar: the page's parameters and title, else the controller's own.
    const nlohmann::json* navigationBarParameters() const;
    void setNavigationBarParameters(std::optional<nlohmann::json> parameters);
    std::optional<std::string> navigationBarTitle() const;

    // Insets handed down by the containers.
    const platform::EdgeInsets& inheritedInsets() const { return inheritedInsets_; }
    void viewShouldAdjustInsets(const platform::EdgeInsets& insets, bool animated) override;

    // Pull to refresh.
    void setNewRefreshControllForWebView(MVWebView& webView);
    void removeRefreshControl();
    void refreshControlDidChangeValue(MVRefreshControl& control);

    // Status bar.
    platform::StatusBarStyle preferredStatusBarStyle() const override;
    bool prefersStatusBarHidden() const override;

    // Page history of the shown web view.
    bool removeHistoryEntriesForTag(const std::string& tag);
    bool removeHistoryEntriesForTags(const std::vector<std::string>& tags);
    bool popHistoryToTag(const std::string& tag);
    int64_t historySize() const;
    bool removeDiscardablePages();
    bool containsTag(const std::string& tag) const;
    bool shouldBePoppedOfNavigationController(
        MVNavigationControllerInterface& navigationController) override;

    // Appearance.
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void viewDidDisappear(bool animated) override;

    // MVWebViewDelegate
    void webViewDemandsCloseByCombat(MVWebView& webView) override;
    std::shared_ptr<MVNavigationControllerInterface> navigationControllerForWebView(
        MVWebView& webView) override;
    std::optional<MVEvent> pageContextForSource(const std::string& source,
                                                const std::string& baseUrl, bool loadedFromCache,
                                                const std::vector<std::string>& tags) override;
    void webViewDidStartLoad(MVWebView& webView) override;
    void webViewDidFinishLoad(MVWebView& webView) override;
    void webViewDidFinishRendering(MVWebView& webView) override;
    void webViewDidModifyHistory(MVWebView& webView) override;
    void webViewDidChangePreferredStatusBarStyle(
        MVWebView& webView, const std::shared_ptr<MVStatusBarStyle>& style) override;
    void webViewDidChangeNavigationBarParams(MVWebView& webView, const nlohmann::json* fromParams,
                                             const nlohmann::json* toParams,
                                             const std::optional<std::string>& fromTitle,
                                             const std::optional<std::string>& toTitle) override;
    void webViewDidChangePullToRefreshEnabled(MVWebView& webView, bool enabled) override;

    // Makes the factory that "mvapi" links use give controllers of this class.
    static void installFactory();

  protected:
    MVWebViewController() = default;

  private:
    void setUp();
    std::shared_ptr<MVWebViewController> self() {
        return std::static_pointer_cast<MVWebViewController>(shared_from_this());
    }
    // Expired inside the destructor.
    std::weak_ptr<MVWebViewController> weakSelf() {
        return std::static_pointer_cast<MVWebViewController>(weak_from_this().lock());
    }
    std::weak_ptr<MVWebViewDelegate> weakDelegate();

    // Opening and the preview page.
    void open(const std::string& url, bool api, const std::optional<std::string>& previewUrl,
              std::optional<nlohmann::json> previewParams);
    void prepareToOpenPage(const std::optional<std::string>& previewUrl,
                           std::optional<nlohmann::json> previewParams);
    void fetchPreviewWebview();
    void injectPreviewDataIntoWebView(MVWebView& webView);

    // Loading and presentation.
    void postLoadingStart();
    void postLoadingEnd();
    void stopProgress();
    // Sends "endPageProgress" once for the progress running, and stops it.
    void endProgress();
    // The running load's progress events go to the stack the page is in, the first one
    // after "beginPageProgress": a page that starts loading outside every stack (waiting
    // in a preserved list) begins its progress once it is in one. False when it is in none.
    bool beginProgressOnBar(bool withInfo);
    void notifyNavigationBarOfProgress(const MVEvent& event);
    // "endPageProgress" to the stack that was told the begin, if any.
    void endProgressOnBar();
    void endLoad();
    void loadEnded(const platform::Notification& notification);
    void updatePageProgressInfo(MVWebView& webView);
    void notifyNavigationBarOfEvent(const MVEvent& event);
    void fakeProgressAnimation(float from, float to);
    void updateFakeProgress();
    void presentWebView(const std::shared_ptr<MVWebView>& webView);
    void didPresentWebView(const std::shared_ptr<MVWebView>& webView,
                           const std::shared_ptr<MVWebView>& oldPage, bool animated);
    void webCacheDidUpdateSourceWithKey(const std::string& key);

    // Insets and pull to refresh.
    void applyWebViewInsets(bool animated);
    void applyInsetsOnWebView(MVWebView& webView, bool animated);
    void connectRefreshControl();
    void retire(const std::shared_ptr<MVWebView>& webView);

    bool isLoading_ = false;
    bool nativeMode_ = true;
    // A start notification waits for its end.
    bool startPosted_ = false;
    // Inside the shown web view's openUrl: its cancel of the previous load is not an end.
    bool opening_ = false;
    std::weak_ptr<MVWebViewControllerDelegate> delegate_;
    std::shared_ptr<MVWebView> webViewFinal_;
    std::shared_ptr<MVWebView> webViewPreview_;
    std::shared_ptr<MVWebView> webViewRefresh_;
    // The shown web view the refresh copy was made from.
    std::weak_ptr<MVWebView> refreshSource_;
    std::optional<nlohmann::json> previewParams_;
    std::optional<std::string> previewUrl_;
    std::optional<nlohmann::json> navigationBarParameters_;
    platform::EdgeInsets inheritedInsets_;
    platform::TimerHandle loadingProgressTimer_;
    // The stack told "beginPageProgress" and not yet its end.
    std::weak_ptr<MVNavigationControllerInterface> progressBar_;
    platform::TimerHandle previewRenewal_;
    platform::TimerHandle delayedReload_;
    float loadingProgress_ = 0;
    float loadingProgressState_ = 0;
    float loadingProgressOffset_ = 0;
    float loadingProgressTarget_ = 0;
    std::shared_ptr<MVRefreshControl> refreshControl_;
    std::shared_ptr<MVStatusBarStyle> preferredMVStatusBarStyle_;
    std::vector<platform::ObserverRegistration> observers_;
};
