#pragma once
// Screen bounds for an interface orientation, whichever way the screen reports them.

#include "platform/foundation/Geometry.h"
#include "platform/ui/InterfaceTypes.h"

namespace platform {
class Screen;
}

// The screen's bounds with width and height swapped, at (0, 0), when the orientation is a
// portrait one and the bounds are wider than tall, or when it is any other value and the
// bounds are taller than wide; otherwise the bounds unchanged.
platform::Rect boundsDependingOnOrientation(const platform::Screen& screen,
                                            platform::InterfaceOrientation orientation);
// The same for the application's current status-bar orientation.
platform::Rect boundsDependingOnCurrentOrientation(const platform::Screen& screen);
