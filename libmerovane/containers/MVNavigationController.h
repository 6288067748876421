#pragma once
// One tab: a stack of web page view controllers on the platform's navigation controller,
// under a header web view (the navigation bar); the platform's own bar stays hidden.
//
//   auto tab = MVNavigationController::create();
//   tab->setIdentifier("home");                       // tracked, held strongly
//   tab->pushViewController(page, true);
//   MVNavigationController::sharedInstanceForIdentifier("home");
//
// While a push or pop animates on a visible tab, further edits go to the preserved view
// controllers, the stack the tab is heading for; they reach the platform when the
// animation has ended, so the platform never sees an edit during its transition. The
// preserving registry finds the tab of a page that is only in a preserved stack. A tab
// without pages shows a placeholder view controller. Every change of the top page goes
// to the header as "updateNavigationBar". Main thread only.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "libmerovane/bridge/MVNavigationControllerInterface.h"
#include "libmerovane/bridge/MVViewHierarchyDelegate.h"
#include "libmerovane/bridge/MVWebViewControllerDelegate.h"
#include "libmerovane/bridge/MVWebViewDelegate.h"
#include "libmerovane/containers/MVContainerViewController.h"
#include "libmerovane/containers/MVTabTransition.h"
#include "libmerovane/core/MVInstanceTracking.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/GestureRecognizer.h"
#include "platform/ui/NavigationController.h"

class MVNavigationController : public platform::NavigationController,
                               public MVInstanceTracking<MVNavigationController>,
                               public MVNavigationControllerInterface,
                               public MVViewControllerHierarchization,
                               public MVViewHierarchyDelegate,
                               public MVWebViewDelegate,
                               public MVWebViewControllerDelegate,
                               public MVTabTransitioning,
                               public platform::NavigationControllerDelegate,
                               public platform::GestureRecognizerDelegate {
  public:
    using Controller = std::shared_ptr<platform::ViewController>;
    using Controllers = std::vector<Controller>;
    // Takes whether the tab preserves and the list to edit (the preserved view
    // controllers, or a copy of the platform's); answers the controllers it affected.
    using Edit = std::function<Controllers(bool preserving, Controllers& list)>;

    static std::shared_ptr<MVNavigationController> create();
    ~MVNavigationController() override;

    static bool shouldInstanceTrackerUseStrongReference() { return true; }
    using MVInstanceTracking<MVNavigationController>::sharedInstanceForIdentifier;
    using MVNavigationControllerInterface::sharedInstanceForIdentifier;
    using MVInstanceTracking<MVNavigationController>::sharedDefaultInstance;
    // Drops every tab (the boot command): a tab that preserves lets go of its preserved
    // pages and leaves the preserving registry first.
    static void removeAllSharedInstances();
    std::optional<std::string> identifier() const override {
        return MVInstanceTracking<MVNavigationController>::identifier();
    }

    // State.
    bool hasEmptyStack() const;
    bool isPreservingViewControllers() const { return preserved_.has_value(); }
    const std::optional<Controllers>& preservedViewControllers() const { return preserved_; }
    // The preserved view controllers while preserving, else the platform's.
    Controllers pageStack() const;
    bool isPopGestureEnabled() const { return popGestureEnabled_; }
    bool isVisible() const { return isVisible_; }
    bool isBeingAnimated() const { return isBeingAnimated_; }
    bool isRequestedCleanTab() const { return isRequestedCleanTab_; }
    const std::shared_ptr<MVWebView>& webViewHeader() const { return webViewHeader_; }
    // The copy that loads a refreshed header; null while no refresh runs.
    const std::shared_ptr<MVWebView>& webViewHeaderRefresh() const { return webViewHeaderRefresh_; }
    bool isNavigationBarHidden() const { return isWebViewHeaderHidden_; }
    const platform::EdgeInsets& inheritedInsets() const { return inheritedInsets_; }

    // The platform's stack operations, routed through preserving.
    void push(const Controller& controller, bool animated) override;
    Controller pop(bool animated) override;
    Controllers popTo(const Controller& controller, bool animated) override;
    Controllers popToRoot(bool animated) override;
    void setViewControllers(Controllers controllers, bool animated) override;

    // MVNavigationControllerInterface
    void pushViewController(const Controller& controller, bool animated) override {
        push(controller, animated);
    }
    void popViewControllerAnimated(bool animated) override { pop(animated); }
    void popToRootViewControllerAnimated(bool animated) override { popToRoot(animated); }
    void flush() override;
    void clean() override;
    void popToTag(const std::string& tag, bool animated) override;
    void popPagesWithTags(const std::vector<std::string>& tags, bool animated) override;
    void showNavigationBarWithAnimation(MVBarAnimation animation,
                                        std::optional<double> speedFactor) override;
    void hideNavigationBarWithAnimation(MVBarAnimation animation,
                                        std::optional<double> speedFactor) override;
    void setNavigationBarWithURL(const std::string& url) override;
    void setNavigationBarWithUrlApi(const std::string& pageId);
    void setPopGestureEnabled(bool enabled) override;
    void performEvent(const MVEvent& event) override;

    // Refreshes the header through a copy that is swapped in once it has rendered; a
    // refresh still loading is cancelled first.
    void reload();
    void cancelHeaderWebViewRefresh();
    // The platform's bar duration, times the factor's single-precision value when given.
    static double duration();
    static double durationForSpeedFactor(std::optional<double> speedFactor);

    // Empties the stack now: the placeholder (or an empty preserved stack).
    void clearStack();

    // Preserving.
    bool startPreservingViewControllers(const Edit& edit, Controllers* affected = nullptr);
    bool endPreservingViewControllers();
    static std::shared_ptr<MVNavigationController> preservingNavigationControllerForViewController(
        const platform::ViewController& controller);

    // MVViewControllerHierarchization: the page stack is the content.
    Controller contentViewController() const override { return nullptr; }
    void setContentViewController(Controller controller) override;

    // Insets: the header page draws under the status bar, the pages start below it.
    void viewShouldAdjustInsets(const platform::EdgeInsets& insets, bool animated) override;
    void updateChildViewInsets(const Controller& controller);

    platform::StatusBarStyle preferredStatusBarStyle() const override;
    bool prefersStatusBarHidden() const override;

    // MVWebViewDelegate, for the header.
    void webViewDemandsCloseByCombat(MVWebView& webView) override;
    std::shared_ptr<MVNavigationControllerInterface> navigationControllerForWebView(
        MVWebView& webView) override;
    std::optional<MVEvent> pageContextForSource(const std::string& source,
                                                const std::string& baseUrl, bool loadedFromCache,
                                                const std::vector<std::string>& tags) override;
    void webViewDidChangePageSize(MVWebView& webView) override;
    void webViewDidFinishRendering(MVWebView& webView) override;
    void webViewDidChangePreferredStatusBarStyle(
        MVWebView& webView, const std::shared_ptr<MVStatusBarStyle>& style) override;

    // MVWebViewControllerDelegate
    void webViewControllerDidChangeNavigationBarParams(
        MVWebViewController& controller, const nlohmann::json* fromParams,
        const nlohmann::json* toParams, const std::optional<std::string>& fromTitle,
        const std::optional<std::string>& toTitle) override;

    // MVTabTransitioning
    void tabControllerWillStartsTransitionWith(platform::ViewController& tabController,
                                               MVTabTransition& transition) override;
    void tabControllerDidEndTransitionWith(platform::ViewController& tabController,
                                           MVTabTransition& transition) override;

    // platform::NavigationControllerDelegate
    void willShow(platform::NavigationController& navigationController,
                  platform::ViewController& controller, bool animated) override;
    void didShow(platform::NavigationController& navigationController,
                 platform::ViewController& controller, bool animated) override;

    // platform::GestureRecognizerDelegate
    std::optional<bool> shouldBegin(platform::GestureRecognizer& recognizer) override;

    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void viewDidDisappear(bool animated) override;
    void didReceiveMemoryWarning() override;

  protected:
    MVNavigationController();
    // Sets up a new tab made by a factory of this class or a subclass.
    template <class Tab>
    static std::shared_ptr<Tab> setUp(std::shared_ptr<Tab> tab) {
        track(tab);
        tab->setUpTab();
        return tab;
    }
    void loadView() override;

  private:
    std::shared_ptr<MVNavigationController> self() {
        return std::static_pointer_cast<MVNavigationController>(shared_from_this());
    }
    void setUpTab();
    bool popGestureBegan() const;
    Controller popByGesture();
    void interactivePopEnded(bool cancelled);
    Controller popWithQuestion(bool animated);
    Controller placeholder();
    // Runs `work` after 0 s unless the tab is gone by then.
    void afterTurn(std::function<void(MVNavigationController&)> work);
    // Preserving ends with the platform's transition (didShow); when the platform runs
    // none (the top stayed, nothing to show, or the stack is in no window), after 0 s.
    void endPreservingWhenThePlatformHasShown();
    // Ends preserving without handing the preserved view controllers to the platform.
    void dropPreservedViewControllers();

    // Edits of the preserved view controllers; each answers what it affected, or none.
    bool isPreservedViewControllerModifiable();
    std::optional<Controllers> replacePreservedViewControllers(const Controllers& controllers);
    std::optional<Controllers> addPreservedViewControllers(const Controllers& controllers);
    std::optional<Controllers> removePreservedViewControllers(const Controllers& controllers);
    std::optional<Controllers> removePreservedViewControllersInRange(size_t location,
                                                                     size_t length);
    void setPreservingNavigationController(bool set, const Controllers& controllers);
    void setPreservingNavigationControllerOfPreservedViewControllers(bool set);

    // The header's showing and hiding, and the events its page hears once each.
    std::shared_ptr<MVWebView> initializeHeaderWebView(std::shared_ptr<MVWebView> webView);
    void setWebViewHeaderOriginY(double y);
    double posYClosedState() const;
    void openAnimated(std::optional<double> speedFactor);
    void isCompletelyPresentedAnimated(bool animated);
    void isCompletlyHiddenAnimated(bool animated);
    void sendToWebviewHeaderIfNecessaryViewWillAppearAnimated(bool animated);
    void sendToWebviewHeaderIfNecessaryViewDidAppearAnimated(bool animated);
    void sendToWebviewHeaderIfNecessaryViewWillDisappearAnimated(bool animated);
    void sendToWebviewHeaderIfNecessaryViewDidDisappearAnimated(bool animated);
    void swapInRefreshedHeader(const std::shared_ptr<MVWebView>& old);
    void webCacheDidUpdateSourceWithKey(const std::string& key);

    // Tells the header of the new top page.
    // `header`: another header web view than the shown one.
    void tellNavigationBar(const std::optional<std::string>& title, int animation, bool back,
                           const nlohmann::json* parameters, MVWebView* header = nullptr);
    void tellNavigationBarOfTop(const Controller& top, int animation, bool back);

    bool hasDummyView_ = false;
    bool popGestureEnabled_ = false;
    bool isWebViewHeaderHidden_ = true;
    bool isVisible_ = false;
    bool isBeingAnimated_ = false;
    bool isRequestedCleanTab_ = false;
    bool hasModifiedStackDuringAnimation_ = false;
    bool hasSetPreservingNavigationController_ = false;
    std::shared_ptr<MVWebView> webViewHeader_;
    std::shared_ptr<MVWebView> webViewHeaderRefresh_;
    bool viewWillAppearEventIsAlreadySentToWebViewHeader_ = false;
    bool viewDidAppearEventIsAlreadySentToWebViewHeader_ = false;
    bool viewWillDisappearEventIsAlreadySentToWebViewHeader_ = false;
    bool viewDidDisappearEventIsAlreadySentToWebViewHeader_ = false;
    std::shared_ptr<MVStatusBarStyle> preferredMVStatusBarStyle_;
    platform::ObserverRegistration webCacheObserver_;
    Controller viewControllerPoppedByGesture_;
    std::optional<Controllers> preserved_;
    platform::EdgeInsets inheritedInsets_;
    platform::EdgeInsets headerInsets_;
};
