#include "libmerovane/core/MVLocationManagerInterface.h"

#include <algorithm>

#include "libmerovane/core/MVInstalledInstance.h"
#include "libmerovane/core/MVLog.h"
#include "platform/foundation/RunLoop.h"

namespace {

constexpr const char* kNoLocationDomain = "MVLocationManagerErrorDomain";

// Finds nothing: every request ends with its time-out.
class NoLocationManager : public MVLocationManagerInterface {
  public:
    void getLocationWithMinimumAccuracy(double, double timeout,
                                        CompletionHandler completionHandler) override {
        if (!completionHandler) {
            MVLogWarn("{}", kNoCompletionHandlerWarning);
            return;
        }
        platform::RunLoop::main().postAfterDetached(
            timeoutWithinBounds(timeout), [completionHandler = std::move(completionHandler)] {
                completionHandler(std::nullopt,
                                  platform::Error(kNoLocationDomain, 1, "No location service"));
            });
    }
};

using Slot = MVInstalledInstance<MVLocationManagerInterface>;
constexpr const char* kSlot = "MVLocationManagerInterface";

}  // namespace

double MVLocationManagerInterface::timeoutWithinBounds(double timeout) {
    if (!(timeout >= kMinimumTimeout)) return kMinimumTimeout;
    return std::min(timeout, kMaximumTimeout);
}

std::shared_ptr<MVLocationManagerInterface> MVLocationManagerInterface::sharedManager() {
    if (auto installed = Slot::get(kSlot)) return installed;
    static const auto* noLocation =
        new std::shared_ptr<MVLocationManagerInterface>(std::make_shared<NoLocationManager>());
    return *noLocation;
}

void MVLocationManagerInterface::install(std::shared_ptr<MVLocationManagerInterface> manager) {
    Slot::install(std::move(manager), kSlot);
}
