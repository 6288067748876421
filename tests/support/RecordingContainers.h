#pragma once
// Recording stand-ins for the containers and overlays the commands talk to: a tab's
// navigation stack, the tab controller (installed as the default one) and the splash
// screen. Each records every call in order; speed factors are kept exactly as given.
//
//   auto tabs = RecordingTabController::install();
//   tabs->holdWebView(*webView, "home");   // the page's tab
//   ... perform {"c": "popTab"} from the page ...
//   tabs->stack("home")->calls == {"popViewControllerAnimated(1)"}

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "libmerovane/bridge/MVNavigationControllerInterface.h"
#include "libmerovane/bridge/MVTabControllerInterface.h"
#include "libmerovane/core/MVSplashScreenInterface.h"
#include "platform/ui/ViewController.h"

class RecordingNavigationStack : public platform::ViewController,
                                 public MVNavigationControllerInterface {
  public:
    struct BarCall {
        bool show = false;
        MVBarAnimation animation = MVBarAnimation::None;
        std::optional<double> speedFactor;
    };

    static std::shared_ptr<RecordingNavigationStack> create(std::optional<std::string> identifier);
    explicit RecordingNavigationStack(std::optional<std::string> identifier)
        : identifier_(std::move(identifier)) {}

    std::optional<std::string> identifier() const override { return identifier_; }
    void pushViewController(const std::shared_ptr<platform::ViewController>& viewController,
                            bool animated) override;
    void popViewControllerAnimated(bool animated) override;
    void popToRootViewControllerAnimated(bool animated) override;
    void flush() override;
    void clean() override;
    void popToTag(const std::string& tag, bool animated) override;
    void popPagesWithTags(const std::vector<std::string>& tags, bool animated) override;
    void showNavigationBarWithAnimation(MVBarAnimation animation,
                                        std::optional<double> speedFactor) override;
    void hideNavigationBarWithAnimation(MVBarAnimation animation,
                                        std::optional<double> speedFactor) override;
    void setNavigationBarWithURL(const std::string& url) override;
    void setPopGestureEnabled(bool enabled) override;
    void performEvent(const MVEvent& event) override;

    // "flush", "popViewControllerAnimated(1)", "setPopGestureEnabled(0)", ...
    std::vector<std::string> calls;
    std::vector<BarCall> barCalls;
    std::vector<std::shared_ptr<platform::ViewController>> pushed;

  private:
    std::optional<std::string> identifier_;
};

class RecordingTabController : public MVTabControllerInterface {
  public:
    struct Presentation {
        std::string identifier;
        std::optional<std::string> transition;
        std::optional<double> speedFactor;
    };

    // A new tab controller, installed as the default one.
    static std::shared_ptr<RecordingTabController> install();

    std::shared_ptr<MVNavigationControllerInterface> navigationControllerWithIdentifier(
        const std::optional<std::string>& identifier) override;
    std::shared_ptr<MVNavigationControllerInterface> navigationControllerForWebView(
        MVWebView& webView) override;
    void presentNavigationControllerWithIdentifier(const std::string& identifier,
                                                   const std::optional<std::string>& transition,
                                                   std::optional<double> speedFactor) override;

    // The stack of that name, made when new.
    std::shared_ptr<RecordingNavigationStack> stack(const std::string& identifier);
    // Puts the web view's page into the named tab.
    void holdWebView(const MVWebView& webView, const std::string& identifier);

    std::map<std::string, std::shared_ptr<RecordingNavigationStack>> stacks;
    std::vector<Presentation> presentations;

  private:
    std::map<const MVWebView*, std::string> webViewTabs_;
};

class RecordingSplashScreen : public MVSplashScreenInterface {
  public:
    // A new splash screen, installed as the shared one.
    static std::shared_ptr<RecordingSplashScreen> install();

    bool isVisible() const override { return visible; }
    void showSplashScreen() override;
    void hideSplashScreen() override;
    void setSplashScreenWithUrlString(const std::string& urlString) override;

    bool visible = true;
    // "show", "hide", "set(<url>)".
    std::vector<std::string> calls;
};
