#pragma once
// The innermost container: it shows one tab, a navigation stack named by an identifier
// ("" is the default tab), at a time. Tabs are made on first use and live in the
// navigation controllers' tracker; switching runs at once or by a named tab transition.
// Insets reach every tab, status-bar questions the shown one; each switch goes out to
// the pages as tabDidChange. The boot command drops every tab.
//
//   auto tabs = MVTabController::create();          // the one instance; installed
//   tabs->navigationController("home");             // made, shown when none is
//   tabs->presentNavigationControllerWithIdentifier("cart", "slideInFromBottom", 2.0);
//
// A second create() raises MVTabControllerDoubleInitializationException. Main thread only.

#include <memory>
#include <optional>
#include <string>

#include "libmerovane/bridge/MVTabControllerInterface.h"
#include "libmerovane/containers/MVContainerViewController.h"
#include "libmerovane/containers/MVTabTransition.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/NotificationCenter.h"

class MVNavigationController;

class MVTabControllerDoubleInitializationException : public platform::Exception {
  public:
    using platform::Exception::Exception;
};

class MVTabController : public MVContainerViewController,
                        public MVTabTransitionDelegate,
                        public MVTabControllerInterface {
  public:
    // The one tab controller, installed as the commands' tab controller.
    static std::shared_ptr<MVTabController> create();
    // The instance made by create(), made now when there is none.
    static std::shared_ptr<MVTabController> sharedDefaultInstance();
    ~MVTabController() override;

    // The tab of that identifier (none: ""), made on first use; shown at once when no
    // tab is shown yet.
    std::shared_ptr<MVNavigationController> navigationController(
        const std::optional<std::string>& identifier);
    std::shared_ptr<MVNavigationController> defaultNavigationController() {
        return navigationController(std::string());
    }
    std::shared_ptr<MVNavigationController> currentPresentedTab() const;
    // The running transition, or null.
    const std::shared_ptr<MVTabTransition>& currentTransition() const { return transition_; }
    const platform::EdgeInsets& inheritedInsets() const { return inheritedInsets_; }

    // MVTabControllerInterface
    std::shared_ptr<MVNavigationControllerInterface> navigationControllerWithIdentifier(
        const std::optional<std::string>& identifier) override;
    std::shared_ptr<MVNavigationControllerInterface> navigationControllerForWebView(
        MVWebView& webView) override;
    void presentNavigationControllerWithIdentifier(const std::string& identifier,
                                                   const std::optional<std::string>& transition,
                                                   std::optional<double> speedFactor) override;

    // The chain's content: the shown tab.
    std::shared_ptr<platform::ViewController> contentViewController() const override {
        return content_;
    }
    void setContentViewController(std::shared_ptr<platform::ViewController> content) override {
        setContentViewController(std::move(content), true);
    }
    // Without exchanging views the views stay where they are (a transition moves them);
    // tabDidChange goes out either way.
    void setContentViewController(std::shared_ptr<platform::ViewController> content,
                                  bool exchangingViews);

    // Kept, and handed to every tab.
    void viewShouldAdjustInsets(const platform::EdgeInsets& insets, bool animated) override;
    platform::StatusBarStyle preferredStatusBarStyle() const override;
    bool prefersStatusBarHidden() const override;

    // MVTabTransitionDelegate
    void tabTransitionDidFinishTransitionStep(MVTabTransition& transition) override;
    // Runs the transition's step of that name; a transition no longer current is ended.
    void doTransition(const std::shared_ptr<MVTabTransition>& transition, const std::string& step);
    void transitionDidEnd(const std::shared_ptr<MVTabTransition>& transition);

  protected:
    MVTabController() = default;
    void loadView() override;

  private:
    std::shared_ptr<MVTabController> self() {
        return std::static_pointer_cast<MVTabController>(shared_from_this());
    }
    void appDidReceiveBootAppCommand();
    // Looks the type up; null, logged and reported, when it is unknown.
    std::shared_ptr<MVTabTransition> makeTransition(const std::string& type);

    std::shared_ptr<platform::ViewController> content_;
    std::shared_ptr<MVTabTransition> transition_;
    // A transition whose final step scheduled another one: that one is final too.
    std::weak_ptr<MVTabTransition> finishing_;
    platform::EdgeInsets inheritedInsets_;
    platform::ObserverRegistration bootObserver_;
};
