#include "libmerovane/core/UIApplicationExtensions.h"

#include "platform/ui/Application.h"

void setNeedsStatusBarAppearanceUpdate(platform::Application& application) {
    application.setNeedsStatusBarAppearanceUpdate();
}
