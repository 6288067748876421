#include "libmerovane/core/UIApplicationExtensions.h"

#include "platform/ui/Application.h"
#include "platform/ui/Window.h"

void setNeedsStatusBarAppearanceUpdate(platform::Application& application) {
    application.setNeedsStatusBarAppearanceUpdate();
}

std::shared_ptr<platform::Window> applicationWindow(platform::Application& application) {
    if (auto key = application.keyWindow()) return key;
    auto windows = application.windows();
    return windows.empty() ? nullptr : windows.front();
}
