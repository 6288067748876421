#pragma once
// Page events about a page's view: appearing, tabs, the splash screen.

#include <string>

#include "libmerovane/bridge/MVEvent.h"

namespace MVEventViews {

MVEvent viewWillAppearAnimated(bool animated);
MVEvent viewDidAppearAnimated(bool animated);
MVEvent viewWillDisappearAnimated(bool animated);
MVEvent viewDidDisappearAnimated(bool animated);
// `identifier`: the identifier of the tab's container.
MVEvent tabDidChange(const std::string& identifier);
MVEvent splashScreenDidFinish();
MVEvent setSplashScreenProgressOffset(double offset);

}  // namespace MVEventViews
