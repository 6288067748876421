#pragma once
// The container of the chain that holds a slide-in background menu: a web page shown
// beside, behind or above the container's content, opened and closed by request or by a
// drag from the screen edge. How the menu and the content move is the business of the
// presentation type (MVBackgroundMenuAnimation); the drag is a recognizer type
// (MVBackgroundMenuGestureRecognizer). The chain holds two, "primary" (the default
// instance) and "secondary".
//
//   auto menu = MVBackgroundMenuController::create();
//   menu->setContentWithUrl("mvapi:menu", "foregroundLeft", "screenEdge", std::nullopt, nullptr);
//   menu->showWithPresentationType(std::nullopt, std::nullopt);   // opens once it rendered
//
// States (viewState): 1 closed, 2 opening, 3 open, 4 closing, 5 dragged from closed,
// 6 dragged from open. A menu page is loaded into a next menu and exchanged for the
// current one once it has rendered: at once while closed, by a cross-fade while open,
// else when the menu next comes to rest (MVBackgroundMenuControllerPages.cpp).
//
// Requests that do not fit the state are ignored. Main thread only.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "libmerovane/bridge/MVBackgroundMenuControllerInterface.h"
#include "libmerovane/bridge/MVWebViewDelegate.h"
#include "libmerovane/containers/MVBackgroundMenuGestureRecognizer.h"
#include "libmerovane/containers/MVContainerViewController.h"
#include "platform/foundation/NotificationCenter.h"

class MVBackgroundMenuAnimation;
struct MVBackgroundMenu;

class MVBackgroundMenuController : public MVContainerViewController,
                                   public MVBackgroundMenuControllerInterface,
                                   public MVBackgroundMenuGestureRecognizing,
                                   public MVWebViewDelegate {
  public:
    static constexpr const char* kPageContextType = "backgroundMenu";

    struct ShowRequest {
        std::optional<std::string> presentationType;
        std::optional<double> speedFactor;
    };

    // A controller with the basic setup done; the first one made is the default instance.
    static std::shared_ptr<MVBackgroundMenuController> create(
        std::shared_ptr<platform::ViewController> contentViewController = nullptr,
        std::optional<std::string> identifier = std::nullopt);
    ~MVBackgroundMenuController() override;

    // MVBackgroundMenuControllerInterface
    void setContentWithUrl(const std::string& url, const std::string& presentationType,
                           const std::optional<std::string>& backgroundMenuGestureRecognizer,
                           std::optional<double> speedFactor,
                           const nlohmann::json* menuParams) override;
    void setContentWithString(const std::string& content, const std::optional<std::string>& baseURL,
                              const std::string& presentationType,
                              const std::optional<std::string>& backgroundMenuGestureRecognizer,
                              std::optional<double> speedFactor,
                              const nlohmann::json* menuParams) override;
    void showWithPresentationType(const std::optional<std::string>& presentationType,
                                  std::optional<double> speedFactor) override;
    void hideWithSpeedFactor(std::optional<double> speedFactor) override;

    // State.
    int viewState() const { return viewState_; }
    int updatingState() const { return updatingState_; }
    double currentFraction() const override { return currentFraction_; }
    const std::shared_ptr<MVBackgroundMenu>& currentMenu() const { return currentMenu_; }
    const std::shared_ptr<MVBackgroundMenu>& nextMenu() const { return nextMenu_; }
    const std::shared_ptr<MVBackgroundMenuAnimation>& defaultAnimation() const {
        return defaultAnimation_;
    }
    const std::shared_ptr<MVBackgroundMenuAnimation>& currentAnimation() const {
        return currentAnimation_;
    }
    const std::shared_ptr<MVBackgroundMenuGestureRecognizer>& menuGestureRecognizer() const {
        return menuGestureRecognizer_;
    }
    const std::optional<ShowRequest>& showRequest() const { return showRequest_; }
    const std::optional<std::string>& nextDefaultPresentationType() const {
        return nextDefaultPresentationType_;
    }
    const std::optional<std::string>& nextDefaultGestureRecognizer() const {
        return nextDefaultGestureRecognizer_;
    }
    // Attaches a recognizer (null detaches); a default animation must exist for one.
    void setMenuGestureRecognizer(std::shared_ptr<MVBackgroundMenuGestureRecognizer> recognizer);

    // The type's duration (0.3 s when 0.01 s or less) times a positive speed factor in
    // single precision.
    static double durationForSpeedFactor(std::optional<double> speedFactor,
                                         const MVBackgroundMenuAnimation& animation);

    // MVBackgroundMenuAnimationHost; the platform's view() and contentContainerView()
    // stay usable on a non-const controller.
    using MVContainerViewController::contentContainerView;
    using platform::ViewController::view;
    std::shared_ptr<platform::View> view() const override;
    std::shared_ptr<platform::View> menuView() const override { return menuView_; }
    std::shared_ptr<platform::View> contentContainerView() const override;
    bool isVisible() const override { return viewState_ != 1; }
    std::shared_ptr<const nlohmann::json> currentViewProperties() const override;

    // MVBackgroundMenuGestureRecognizing
    // Measures the current menu when it has not been; a zero size without one.
    platform::Size menuViewSize() override;
    MVBackgroundMenuPresentationEdge backgroundMenuPresentationEdge() const override;
    void fraction(double fraction) override;
    void didEndGestureWithVelocity(double velocity) override;

    // MVViewHierarchyDelegate: insets stop here.
    void viewShouldAdjustInsets(const platform::EdgeInsets&, bool) override {}

    // MVWebViewDelegate
    void webViewDemandsCloseByCombat(MVWebView& webView) override;
    std::shared_ptr<MVNavigationControllerInterface> navigationControllerForWebView(
        MVWebView&) override {
        return nullptr;
    }
    std::optional<MVEvent> pageContextForSource(const std::string& source,
                                                const std::string& baseUrl, bool loadedFromCache,
                                                const std::vector<std::string>& tags) override;
    void webViewDidFinishRendering(MVWebView& webView) override;
    void webViewDidChangePageSize(MVWebView& webView) override;
    void webViewDidChangeViewProperties(MVWebView& webView,
                                        const nlohmann::json& viewProperties) override;
    void webViewDidChangePreferredStatusBarStyle(
        MVWebView& webView, const std::shared_ptr<MVStatusBarStyle>& style) override;

    // A touch on the visible content closes the menu.
    void touchesEnded(const platform::Touch& touch) override;

    // The web cache stored `key`; an "mvapi" menu page of that key reloads.
    void webCacheDidUpdateSourceWithKey(const std::string& key);
    // The boot command: closed, no menu, no animation, no recognizer.
    void appDidReceiveBootAppCommand();

  protected:
    void loadView() override;
    std::shared_ptr<MVStatusBarStyle> overlayStatusBarStyle() const override;

  private:
    MVBackgroundMenuController() = default;
    std::shared_ptr<MVBackgroundMenuController> self() {
        return std::static_pointer_cast<MVBackgroundMenuController>(shared_from_this());
    }
    void setUp();

    // States and animations.
    void setViewState(int state);
    void setDefaultAnimation(std::shared_ptr<MVBackgroundMenuAnimation> animation);
    void arrangeViewHierarchyForAnimation(const MVBackgroundMenuAnimation& animation);
    std::shared_ptr<MVBackgroundMenuAnimation> animationWithType(const std::string& type);
    void performShowRequest(const ShowRequest& request);
    void animateOpeningMenu(double duration, double initialVelocity);
    void hideBackgroundMenu(double duration, double initialVelocity);
    bool menuResponsibleForStatusBarAppearance() const;
    void sendToCurrentMenu(const MVEvent& event);

    // Pages.
    void furtherSetupOfNextMenu(std::optional<double> speedFactor,
                                const std::string& presentationType,
                                const std::optional<std::string>& gestureRecognizer,
                                const nlohmann::json* menuParams);
    void exchangeMenuWithWebView(MVWebView& webView);
    void crossFadeDidStop(const std::shared_ptr<MVBackgroundMenu>& menu);
    void didTransitToNewWebview();
    bool isExchanging(const std::shared_ptr<MVBackgroundMenu>& menu) const;
    void adaptFramesForMenu(MVBackgroundMenu& menu);

    std::shared_ptr<platform::View> menuView_;
    std::shared_ptr<MVBackgroundMenu> currentMenu_;
    std::shared_ptr<MVBackgroundMenu> nextMenu_;
    std::optional<std::string> nextDefaultPresentationType_;
    std::optional<std::string> nextDefaultGestureRecognizer_;
    double currentFraction_ = 0;
    int updatingState_ = 0;
    int viewState_ = 0;
    std::shared_ptr<MVBackgroundMenuAnimation> defaultAnimation_;
    std::shared_ptr<MVBackgroundMenuAnimation> currentAnimation_;
    std::shared_ptr<MVBackgroundMenuGestureRecognizer> menuGestureRecognizer_;
    std::optional<ShowRequest> showRequest_;
    std::shared_ptr<MVStatusBarStyle> preferredMVStatusBarStyle_;
    std::vector<platform::ObserverRegistration> observers_;
};
