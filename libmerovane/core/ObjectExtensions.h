#pragma once
// Delayed work on the main queue, and the unit vector of a point.
//
//   performBlock([weak] { ... }, 0.15);
//   auto direction = CGPointNormalize(velocity);
//
// Class-level run-time tools have no place here: lookups by name are explicit
// registries filled at start-up, and the application-delegate detour is a wrapper
// delegate installed by the platform application.

#include <functional>

#include "platform/foundation/Geometry.h"

// Runs `block` once on the main queue after `delay` seconds (platform clock); a
// delay of 0 runs it on a later turn, never inside the call. Callable from any thread.
void performBlock(std::function<void()> block, double delay);

// The point scaled to length 1; the zero point for the zero vector.
platform::Point CGPointNormalize(platform::Point point);
