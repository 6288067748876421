#pragma once
// Application helpers.

#include <memory>

namespace platform {
class Application;
class Window;
}  // namespace platform

// Asks the root view controller of the application's first window to update its
// status-bar appearance, so that the platform asks the controllers again.
void setNeedsStatusBarAppearanceUpdate(platform::Application& application);

// The host's main window: the key window, else the first one made; null without windows.
std::shared_ptr<platform::Window> applicationWindow(platform::Application& application);
