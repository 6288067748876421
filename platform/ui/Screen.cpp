#include "platform/ui/Screen.h"

#include "platform/foundation/SharedInstances.h"
#include "platform/ui/Application.h"

namespace platform {

Screen& Screen::main() {
    static Screen* screen = [] {
        auto* s = new Screen();
        registerSharedInstanceReset("platform.Screen", [s] { s->resetForTesting(); });
        return s;
    }();
    return *screen;
}

Rect Screen::bounds() const {
    if (isLandscape(Application::shared().statusBarOrientation()))
        return Rect(0, 0, portraitSize_.height, portraitSize_.width);
    return Rect(0, 0, portraitSize_.width, portraitSize_.height);
}

void Screen::resetForTesting() {
    *this = Screen();
}

}  // namespace platform
