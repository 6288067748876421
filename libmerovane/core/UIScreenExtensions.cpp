#include "libmerovane/core/UIScreenExtensions.h"

#include "platform/ui/Application.h"
#include "platform/ui/Screen.h"

platform::Rect boundsDependingOnOrientation(const platform::Screen& screen,
                                            platform::InterfaceOrientation orientation) {
    const platform::Rect b = screen.bounds();
    const bool wide = b.size.width > b.size.height;
    const bool tall = b.size.height > b.size.width;
    const bool swap = platform::isPortrait(orientation) ? wide : tall;
    if (swap) return platform::Rect(0, 0, b.size.height, b.size.width);
    return b;
}

platform::Rect boundsDependingOnCurrentOrientation(const platform::Screen& screen) {
    return boundsDependingOnOrientation(screen,
                                        platform::Application::shared().statusBarOrientation());
}
