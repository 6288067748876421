#include "tests/support/PollingWait.h"

#include "libmerovane/bridge/MVDocumentReadyPoll.h"
#include "platform/foundation/TestDriver.h"

bool runUntilPolled(const std::function<bool()>& done, double realTimeoutSeconds) {
    return platform::runUntil(
        [&] {
            if (done()) return true;
            platform::advanceBy(MVDocumentReadyPoll::kPollInterval);
            return done();
        },
        realTimeoutSeconds);
}
