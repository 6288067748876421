#pragma once
// Page events about the device's location.

#include "libmerovane/bridge/MVEvent.h"

namespace MVEventLocation {

// A fix: degrees, and accuracies in metres (the larger one is sent).
MVEvent setLocation(double latitude, double longitude, double horizontalAccuracy,
                    double verticalAccuracy);
// No fix: no parameters.
MVEvent setLocation();
// Amends.
MVEvent locationServiceStatusDidChange(bool allowed);

}  // namespace MVEventLocation
