#pragma once
// What start-up, the interjections and the commands need of the splash screen, the
// outermost container that covers the interface while the application starts. The
// overlays install it with the container chain; until then there is no splash screen:
// it is not visible and showing, hiding and setting do nothing.
//
//   if (auto splash = MVSplashScreenInterface::shared()) splash->hideSplashScreen();
//
// Main thread only, but for the accessors, which any thread may call.

#include <memory>
#include <string>

// Posted before the splash screen hides.
inline constexpr const char* MVSplashScreenWillHideNotification =
    "MVSplashScreenWillHideNotification";
// Posted (no object) by the boot command when it has received its list, and when every
// resource the list started has loaded.
inline constexpr const char* MVLibraryApplicationReceivedBootAppCommand =
    "MVLibraryApplicationReceivedBootAppCommand";
inline constexpr const char* MVLibraryApplicationPerformedBootAppCommand =
    "MVLibraryApplicationPerformedBootAppCommand";

class MVSplashScreenInterface {
  public:
    virtual ~MVSplashScreenInterface() = default;

    // True while the splash view is not fully transparent.
    virtual bool isVisible() const = 0;
    // Shows the splash view above all content, loading its page when none shows.
    virtual void showSplashScreen() = 0;
    // Fades the splash view out (0.3 s), posting MVSplashScreenWillHideNotification first.
    virtual void hideSplashScreen() = 0;
    // The splash page from now on, kept across starts and prefetched; "" removes it.
    virtual void setSplashScreenWithUrlString(const std::string& urlString) = 0;

    // The installed splash screen, or null.
    static std::shared_ptr<MVSplashScreenInterface> shared();
    // Null removes it.
    static void install(std::shared_ptr<MVSplashScreenInterface> splashScreen);
    // Whether an installed splash screen is visible; false without one.
    static bool isSplashScreenVisible();
};
