#pragma once
// What the commands need of the location service: one-shot location requests. The
// overlays install the service that asks the platform; until then the shared manager
// finds no location: each request is answered with none and an error once its time-out
// has passed, so that the caller still gets its answer.
//
//   MVLocationManagerInterface::sharedManager()->getLocationWithMinimumAccuracy(
//       3000, 0, [](std::optional<MVLocationFix> location, std::optional<platform::Error>) {
//           ...
//       });
//
// Main thread only; completions run on the main thread, never inside the call.

#include <functional>
#include <memory>
#include <optional>

#include "libmerovane/core/MVLocationFix.h"
#include "platform/foundation/Error.h"

class MVLocationManagerInterface {
  public:
    // A fix, or an error, or (rarely) both; it runs once.
    using CompletionHandler = std::function<void(std::optional<MVLocationFix> location,
                                                 std::optional<platform::Error> error)>;

    // Bounds of a request's time-out in seconds.
    static constexpr double kMinimumTimeout = 1;
    static constexpr double kMaximumTimeout = 60;
    // The warning for a request without a completion handler.
    static constexpr const char* kNoCompletionHandlerWarning =
        "<GetLocation>-call without a <completionHandler>-Block. <GetLocation>-call won't be "
        "executed.";

    virtual ~MVLocationManagerInterface() = default;

    // Queues one request for a fix at least as accurate as the minimum (metres) within
    // the time-out (seconds; any number arrives, and is brought within its bounds by
    // timeoutWithinBounds). Without a completion handler the request is logged and
    // dropped.
    virtual void getLocationWithMinimumAccuracy(double minimumAccuracy, double timeout,
                                                CompletionHandler completionHandler) = 0;

    // The time-out raised to kMinimumTimeout and capped at kMaximumTimeout; NaN gives
    // the minimum.
    static double timeoutWithinBounds(double timeout);

    // The installed manager, else the one that finds no location. Never null.
    static std::shared_ptr<MVLocationManagerInterface> sharedManager();
    // Null restores the one that finds no location.
    static void install(std::shared_ptr<MVLocationManagerInterface> manager);
};
