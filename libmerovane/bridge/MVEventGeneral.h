#pragma once
// Page events about the application's state.

#include "libmerovane/bridge/MVEvent.h"

namespace MVEventGeneral {

// "applicationWillEnterForeground" with the whole seconds spent in the background.
MVEvent applicationWillEnterForegroundWithSecondsinBackground(double seconds);
// Named "applicationWillEnterBackground", as pages know it.
MVEvent applicationDidEnterBackground();

}  // namespace MVEventGeneral
