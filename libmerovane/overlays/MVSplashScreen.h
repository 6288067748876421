#pragma once
// The one splash view that covers the interface: the launch image first, then the splash
// page, a web view that fades in over the image once it has rendered. The page's address
// comes from the server or a page and is kept across launches; it is shown only when the
// web cache already holds it, else the library's built-in page shows and the address is
// fetched for the next time.
//
//   MVSplashScreen::sharedView()->hide();   // posts MVSplashScreenWillHideNotification
//   MVSplashScreen::sharedView()->setSplashScreenWithUrlString("mvapi:splash");
//
// The view lives in the splash container of the current splash controller (the one whose
// root view last entered a window). While it is wanted the controllers' splash containers
// take the touches and their contents none. Made with the first controller and never
// released. Main thread only; the web cache's answers to a prefetch may come on any
// thread and only log and end the prefetch.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "libmerovane/bridge/MVWebViewDelegate.h"
#include "platform/ui/View.h"

class MVSplashScreenController;
class MVStatusBarStyle;
class MVWebView;

namespace platform {
class ImageView;
}

// The splash page's address in its external form.
inline constexpr const char* MVSplashScreenURLInUserDefaultsKey =
    "MVSplashScreenURLInUserDefaultsKey";

class MVSplashScreen : public platform::View, public MVWebViewDelegate {
  public:
    static constexpr double kFadeDuration = 0.3;
    static constexpr const char* kBuiltInPageName = "DefaultSplashScreen";
    static constexpr const char* kReceivedDataFormat =
        "MVSplashScreenController received data for [{}{}]{}";

    // Made on first use, with the frame of the screen for the current orientation.
    static std::shared_ptr<MVSplashScreen> sharedView();
    // The live splash controllers, in the order they were set up.
    static std::vector<std::shared_ptr<MVSplashScreenController>> allControllers();
    static void addController(const std::shared_ptr<MVSplashScreenController>& controller);
    // "mvapi:" pages become "mv-api-page:" keys and back; other text stays.
    static std::string internalUrlFromExternalUrl(const std::string& url);
    static std::string externalUrlFromInternalUrl(const std::string& url);
    // The prefetch under way (external form), or none.
    static std::optional<std::string> pendingPrefetchForTesting();

    void show();
    void hide();
    void loadWebView();
    // Text is stored and fetched into the web cache; none or "" removes what is stored.
    void setSplashScreenWithUrlString(const std::optional<std::string>& urlString);
    void setSplashScreenWebView(std::shared_ptr<MVWebView> webView);
    void setCurrentDisplayingSplashScreenController(
        const std::shared_ptr<MVSplashScreenController>& controller);
    void shallBecomeNewCurrentDisplayingSplashScreenController(
        const std::shared_ptr<MVSplashScreenController>& controller);
    void checkToShowSplashScreen();
    void prepareWebViewExchangeForShowing();
    // The first web view directly inside the current controller's splash container.
    std::shared_ptr<MVWebView> currentVisibleSplashScreen() const;
    void exchangeSplashScreen(const std::shared_ptr<MVWebView>& oldView,
                              const std::shared_ptr<MVWebView>& newView, bool animated);
    void showImageViewAnimated(bool animated);
    void hideImageViewAnimated(bool animated);
    void didReceiveMemoryWarning();

    bool webViewIsRenderd() const { return webViewIsRenderd_; }
    bool splashScreenShallBeShown() const { return splashScreenShallBeShown_; }
    bool webViewIsVisible() const { return webViewIsVisible_; }
    bool appIsVisible() const { return appIsVisible_; }
    const std::shared_ptr<MVWebView>& splashScreenWebView() const { return splashScreenWebView_; }
    std::shared_ptr<MVSplashScreenController> currentDisplayingSplashScreenController() const {
        return currentDisplayingSplashScreenController_;
    }
    const std::shared_ptr<platform::ImageView>& imageView() const { return imageView_; }
    const std::shared_ptr<MVStatusBarStyle>& preferredMVStatusBarStyle() const {
        return preferredMVStatusBarStyle_;
    }

    // MVWebViewDelegate
    void webViewDemandsCloseByCombat(MVWebView& webView) override;
    std::shared_ptr<MVNavigationControllerInterface> navigationControllerForWebView(
        MVWebView& webView) override;
    std::optional<MVEvent> pageContextForSource(const std::string& source,
                                                const std::string& baseUrl, bool loadedFromCache,
                                                const std::vector<std::string>& tags) override;
    void webViewDidFinishRendering(MVWebView& webView) override;
    void webViewDidChangePreferredStatusBarStyle(
        MVWebView& webView, const std::shared_ptr<MVStatusBarStyle>& style) override;

  protected:
    explicit MVSplashScreen(const platform::Rect& frame) : View(frame) {}

  private:
    std::shared_ptr<MVSplashScreen> self() {
        return std::static_pointer_cast<MVSplashScreen>(shared_from_this());
    }
    void setUp();
    void finishHiding();
    // The controllers' splash containers take the touches, or their contents do.
    static void giveTouchesToSplash(bool splash);

    bool webViewIsRenderd_ = false;
    bool splashScreenShallBeShown_ = false;
    bool webViewIsVisible_ = false;
    bool appIsVisible_ = false;
    std::shared_ptr<MVWebView> splashScreenWebView_;
    std::shared_ptr<MVSplashScreenController> currentDisplayingSplashScreenController_;
    std::shared_ptr<platform::ImageView> imageView_;
    std::shared_ptr<MVStatusBarStyle> preferredMVStatusBarStyle_;
    // Counts shows; a hide's fade ends in nothing when a show came after it.
    uint64_t showCount_ = 0;
};
