#pragma once
// The container that lays the menu bar, a web view showing the shop's menu page, along the
// bottom edge of its content, and tells the content how much of the bottom the bar covers.
//
//   auto menuBar = MVMenuBarController::create(tabs);
//   menuBar->setMenuBarWithUrl("mvapi:menu", &params);   // loads the next bar
//   menuBar->showMenuBarWithAnimation(MVBarAnimation::Slide, 2.0);   // waits for it
//
// A new page loads in a fresh web view while the old bar stays; once it has rendered it
// gets its menu params and replaces the old bar, cross-fading while the bar is visible.
// Requests that do not fit the state are ignored. The bar reloads when the web cache
// stores new content for its "mvapi" page, and drops its pages on the boot command.
// The first instance is the default one of the tracker. Main thread only.

#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <vector>

#include "libmerovane/bridge/MVMenuBarControllerInterface.h"
#include "libmerovane/bridge/MVWebViewDelegate.h"
#include "libmerovane/containers/MVContainerViewController.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/View.h"

class MVWebView;

// The controller's view: a plain view that clips the closed bar below its bottom edge.
class MVMenuBarControllerView : public platform::View {
  public:
    static std::shared_ptr<MVMenuBarControllerView> create(const platform::Rect& frame);

  protected:
    explicit MVMenuBarControllerView(const platform::Rect& frame) : platform::View(frame) {}
};

class MVMenuBarController : public MVContainerViewController,
                            public MVMenuBarControllerInterface,
                            public MVWebViewDelegate {
  public:
    enum UpdatingState : int { kIdle = 0, kLoading = 1, kMenuParamsSent = 2, kExchanging = 3 };
    enum ViewState : int { kHidden = 1, kShowing = 2, kShown = 3, kHiding = 4 };

    // A show request waiting for the first bar to render.
    struct ShowMenuBarAnimationObject {
        MVBarAnimation animation = MVBarAnimation::None;
        std::optional<double> speedFactor;
    };

    // A new controller, tracked (the default when the tracker has none); with a content
    // view controller it is set at once.
    static std::shared_ptr<MVMenuBarController> create(
        std::shared_ptr<platform::ViewController> content = nullptr);
    ~MVMenuBarController() override;

    // MVMenuBarControllerInterface
    void setMenuBarWithUrl(const std::string& url, const nlohmann::json* menuParams) override;
    void setMenuBarWithContent(const std::string& content,
                               const std::optional<std::string>& baseURL,
                               const nlohmann::json* menuParams) override;
    void showMenuBarWithAnimation(MVBarAnimation animation,
                                  std::optional<double> speedFactor) override;
    void hideMenuBarWithAnimation(MVBarAnimation animation,
                                  std::optional<double> speedFactor) override;
    // Kept as the inherited insets, then handed on with the bar's share added.
    void viewShouldAdjustInsets(const platform::EdgeInsets& insets, bool animated) override;

    // The common exchange, then the content's insets, not animated.
    void setContentViewController(std::shared_ptr<platform::ViewController> content) override;
    // The inherited insets with the bottom grown by what the current bar covers, to the
    // content when it takes insets.
    void updateChildViewInsetsAnimated(bool animated);

    // The current bar's content size, measured first when not yet measured; zero without
    // a bar.
    platform::Size getMenuBarSize();
    static double duration();
    // The base duration times the factor's single-precision value; none leaves it.
    static double durationForSpeedFactor(std::optional<double> speedFactor);

    const std::shared_ptr<MVWebView>& currentMenuBar() const { return currentMenuBar_; }
    const std::shared_ptr<MVWebView>& nextMenuBar() const { return nextMenuBar_; }
    int updatingState() const { return updatingState_; }
    int viewState() const { return viewState_; }
    const std::optional<ShowMenuBarAnimationObject>& retardedShow() const { return retardedShow_; }
    const platform::EdgeInsets& inheritedInsets() const { return inheritedInsets_; }

    // MVWebViewDelegate
    void webViewDemandsCloseByCombat(MVWebView& webView) override;
    std::shared_ptr<MVNavigationControllerInterface> navigationControllerForWebView(
        MVWebView& webView) override;
    std::optional<MVEvent> pageContextForSource(const std::string& source,
                                                const std::string& baseUrl, bool loadedFromCache,
                                                const std::vector<std::string>& tags) override;
    void webViewDidFinishRendering(MVWebView& webView) override;
    void webViewDidChangePageSize(MVWebView& webView) override;

  protected:
    MVMenuBarController() = default;
    void loadView() override;

  private:
    std::shared_ptr<MVMenuBarController> self() {
        return std::static_pointer_cast<MVMenuBarController>(shared_from_this());
    }
    void observeNotifications();

    // Loading and exchanging bars.
    std::shared_ptr<MVWebView> makeNextMenuBar(const nlohmann::json* menuParams);
    void exchangeMenuWithWebView(const std::shared_ptr<MVWebView>& webView);
    void didTransitToNewWebview(const std::shared_ptr<MVWebView>& webView, bool finished);
    void fitMenuBar(MVWebView& webView);

    // Showing and hiding.
    void internalShow(const ShowMenuBarAnimationObject& show);
    void moveToOpenPosition(const std::shared_ptr<MVWebView>& bar,
                            std::optional<double> speedFactor);
    void openingDidFinish(const std::shared_ptr<MVWebView>& bar);
    void hidingDidStop(const std::shared_ptr<MVWebView>& bar, bool moveToClosedPosition);
    void completelyPresentedAnimated(bool animated);
    void completelyHiddenAnimated(bool animated);
    double openOriginY() const;
    double closedOriginY() const;
    void setOriginY(MVWebView& bar, double y);

    void webCacheDidUpdateKey(const std::string& key);
    void appDidReceiveBootAppCommand();

    std::shared_ptr<MVWebView> currentMenuBar_;
    std::shared_ptr<MVWebView> nextMenuBar_;
    std::optional<platform::Size> currentMenuBarSize_;
    std::optional<platform::Size> nextMenubarSize_;
    std::shared_ptr<const nlohmann::json> nextMenuParams_;
    int updatingState_ = kIdle;
    int viewState_ = kHidden;
    std::optional<ShowMenuBarAnimationObject> retardedShow_;
    platform::EdgeInsets inheritedInsets_;
    std::vector<platform::ObserverRegistration> observers_;
};
