#pragma once
// The host application's delegate. The library's launch handler has run when its own
// does (the library's detour puts it first): it picks the API endpoint, resets the
// library's stored state when the application identifier changed, switches web
// caching, builds the window with the container chain and sends pending crash reports.
//
//   platform::Application::shared().setDelegate(std::make_shared<AppDelegate>());
//
// Main thread only.

#include <memory>
#include <optional>
#include <string>

#include "platform/ui/ApplicationDelegate.h"

namespace platform {
class Window;
}

// The identifier of the last run, kept in the user defaults.
inline constexpr const char* MVLastRunningAppIdentifier = "MVLastRunningAppIdentifier";

class AppDelegate : public platform::ApplicationDelegate {
  public:
    static constexpr const char* kNoHierarchyLine =
        "AppDelegate has no view controller hierarchy: the window shows an empty root";

    // The API base address for the developer setting "dev_workspace" (none when it is no
    // text) and the Info value "apiUrl"; none means the production server. Whitespace in
    // the setting does not count.
    static std::optional<std::string> apiPathForSettings(
        const std::optional<std::string>& devWorkspace, const std::optional<std::string>& apiUrl);

    bool didFinishLaunchingWithOptions(platform::Application& app,
                                       const nlohmann::json* launchOptions) override;
    void sendPendingCrashReports();

    std::shared_ptr<platform::Window> window() const override { return window_; }

  private:
    std::shared_ptr<platform::Window> window_;
};
