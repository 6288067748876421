#pragma once
// The outermost container of the chain and the window's root: above the content
// container (the rest of the chain) lies the splash container, which holds the shared
// splash view while this controller is the current one. The class operations are how
// the rest of the system reaches the splash screen.
//
//   MVSplashScreenController::install();         // start-up: the chain and the seam
//   MVSplashScreenController::hideSplashScreen();
//   if (MVSplashScreenController::isVisible()) ...
//
// The content takes no touches from launch until the first hide has finished. Main
// thread only.

#include <memory>
#include <optional>
#include <string>

#include "libmerovane/containers/MVContainerViewController.h"
#include "platform/ui/View.h"

class MVSplashScreenController;
class MVStatusBarStyle;
class MVWebView;

namespace platform {
class Image;
}

// The controller's root view: tells its controller when it moves into or out of a window.
class MVSplashScreenControllerView : public platform::View {
  public:
    static std::shared_ptr<MVSplashScreenControllerView> create(const platform::Rect& frame);
    std::shared_ptr<MVSplashScreenController> splashScreenController() const {
        return splashScreenController_.lock();
    }
    void setSplashScreenController(std::weak_ptr<MVSplashScreenController> controller) {
        splashScreenController_ = std::move(controller);
    }
    void didMoveToWindow() override;

  protected:
    using View::View;

  private:
    std::weak_ptr<MVSplashScreenController> splashScreenController_;
};

// The two layers: plain views of their own classes.
class MVSplashScreenContentContainerView : public platform::View {
  public:
    static std::shared_ptr<MVSplashScreenContentContainerView> create(const platform::Rect& frame);

  protected:
    using View::View;
};

class MVSplashScreenContainerView : public platform::View {
  public:
    static std::shared_ptr<MVSplashScreenContainerView> create(const platform::Rect& frame);

  protected:
    using View::View;
};

class MVSplashScreenController : public MVContainerViewController {
  public:
    static constexpr const char* kClassName = "MVSplashScreenController";
    static constexpr const char* kHideTimeFormat = "Time until hideSplashscreen(): {:.2f}s";

    // Installs the class in the chain, the splash screen behind its seam, and the loading
    // of the built-in page.
    static void install();

    // Set up at once: its views, its place in the registry, the shared splash view.
    static std::shared_ptr<MVSplashScreenController> create();
    static std::shared_ptr<MVSplashScreenController> initWithContentViewController(
        std::shared_ptr<platform::ViewController> content);

    static void showSplashScreen();
    // Also logs the time since launch at verbose level.
    static void hideSplashScreen();
    // While the shared splash view is not fully transparent.
    static bool isVisible();
    // External form; none or "" removes the stored page.
    static void setSplashScreenWithUrlString(const std::optional<std::string>& urlString);
    static std::shared_ptr<const platform::Image> launchImage();
    static double progressOffsetForCurrentDevice();

    const std::shared_ptr<platform::View>& splashScreenContainerView() const {
        return splashScreenContainerView_;
    }

    void splashScreenDidMoveToWindow();
    void webViewDidChangePreferredStatusBarStyle(MVWebView& webView,
                                                 const std::shared_ptr<MVStatusBarStyle>& style);
    void didReceiveMemoryWarning() override;

  protected:
    MVSplashScreenController() = default;
    void loadView() override;
    // While the splash shows: the page's choice, or hidden.
    std::shared_ptr<MVStatusBarStyle> overlayStatusBarStyle() const override;
    std::shared_ptr<MVStatusBarStyle> fallbackStatusBarStyle() const override;

  private:
    std::shared_ptr<platform::View> splashScreenContainerView_;
};
