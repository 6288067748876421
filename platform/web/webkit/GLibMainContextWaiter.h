#pragma once
// Lets GLib's default main context run inside our main run loop, as the real web
// engine needs: the main loop's waiter polls our wake descriptor and watched
// descriptors together with GLib's sources and dispatches GLib's ready sources. Our
// own timers and their order stay ours; GLib only runs while the loop waits.
//
//   platform::useGLibMainContextForMainRunLoop();   // once, on the main thread
//   platform::iterateGLibUntil([&] { return done; }, 10.0);   // a synchronous call
//
// Main thread only, except the waiter's wake(), which any thread may call.

#include <functional>
#include <memory>

#include "platform/foundation/RunLoop.h"

namespace platform {

std::unique_ptr<RunLoopWaiter> makeGLibMainContextWaiter();

// Installs that waiter on the main run loop; later calls do nothing.
void useGLibMainContextForMainRunLoop();

// Iterates GLib's default main context, and nothing of our run loops, until `done`
// answers true or `timeoutSeconds` of real time have passed. Answers `done`'s last value.
bool iterateGLibUntil(const std::function<bool()>& done, double timeoutSeconds);

}  // namespace platform
