#pragma once
// Application helpers.

namespace platform {
class Application;
}

// Asks the root view controller of the application's first window to update its
// status-bar appearance, so that the platform asks the controllers again.
void setNeedsStatusBarAppearanceUpdate(platform::Application& application);
