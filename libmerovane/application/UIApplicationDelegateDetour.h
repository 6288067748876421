#pragma once
// Puts the library's handlers in front of the host's application delegate: a wrapping
// delegate, installed on the platform application, passes the launch, notification and
// URL callbacks to the shared MVLibraryApplication first and to the host's delegate
// after it.
//
//   UIApplicationDelegateDetour::doYourMagic();   // once, before the main loop
//   platform::Application::shared().setDelegate(std::make_shared<AppDelegate>());
//
// The other callbacks pass to the host unchanged. A URL the library takes never reaches
// the host. A notification action with a library payload completes once both sides have
// completed, the host's side by itself 10.0 s after the call at the latest. A local
// notification reaches neither side.
//
// The delegates wrapped are counted: a second host delegate of another class logs the
// multiple-delegates warning; a launch without any delegate logs the error line.
// Main thread only.

#include <memory>

namespace platform {
class ApplicationDelegate;
}

class UIApplicationDelegateDetour {
  public:
    // Seconds after which a notification action counts as completed by the host.
    static constexpr double kHostCompletionTimeout = 10.0;

    static constexpr const char* kMultipleDelegatesLine =
        "MVLibraryApplication found multiple UIApplicationDelegates [ {} ]";
    static constexpr const char* kNoDelegateLine =
        "MVLibraryApplication found no UIApplicationDelegate. The Merovane library will not be "
        "usable.";

    // Installs the wrapping delegate and creates the shared interjection handler.
    static void doYourMagic();

    // The wrapping delegate around `host`.
    static std::shared_ptr<platform::ApplicationDelegate> wrap(
        std::shared_ptr<platform::ApplicationDelegate> host);
};
