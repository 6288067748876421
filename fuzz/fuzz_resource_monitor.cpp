// Arbitrary bytes as a sequence of resource-monitor steps, in any order and number, as
// pages and the server can drive them: open a capture, close one (with any time-out and
// a final block that may start another load), a load begins or ends, the clock moves.
// Afterwards every capture is closed and every load ended: then every group must have
// ended and been dropped, and no step may crash or assert.
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "libmerovane/core/MVResourceMonitor.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/foundation/TestDriver.h"

namespace {

// The loads: their addresses are the resources.
std::array<char, 8> loads;
// Begins per load not yet ended, and whether final blocks may still start loads.
std::array<int, 8> begun;
bool draining = false;

void began(size_t load) {
    ++begun[load % loads.size()];
    platform::NotificationCenter::defaultCenter().post("MVWebViewDidStartLoadingNotification",
                                                       &loads[load % loads.size()]);
}

void ended(size_t load, const char* name) {
    auto& count = begun[load % loads.size()];
    if (count > 0) --count;
    platform::NotificationCenter::defaultCenter().post(name, &loads[load % loads.size()]);
}

// Time-outs as a page may send them: none, short, long, negative, not a number.
double timeoutFor(uint8_t byte) {
    switch (byte % 6) {
        case 0:
            return 0;
        case 1:
            return byte / 16.0;
        case 2:
            return -1;
        case 3:
            return std::numeric_limits<double>::quiet_NaN();
        case 4:
            return 1e300;
        default:
            return std::numeric_limits<double>::infinity();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = (platform::Clock::installManual(), true);
    (void)ready;
    begun.fill(0);
    draining = false;
    auto& monitor = MVResourceMonitor::sharedResourceMonitor();
    constexpr const char* kEnds[] = {"MVWebViewDidFinishLoadingNotification",
                                     "MVWebViewDidFailLoadingNotification",
                                     "MVWebViewDidCancelLoadingNotification"};
    for (size_t i = 0; i + 1 < size; i += 2) {
        const uint8_t op = data[i], arg = data[i + 1];
        switch (op % 7) {
            case 0:
                monitor.startCapturing();
                break;
            case 1:
                monitor.stopCapturingThenDo(
                    [arg] {
                        if (!draining && arg & 1) began(arg >> 1);
                    },
                    timeoutFor(arg));
                break;
            case 2:
                monitor.captureResources([arg] { began(arg); }, timeoutFor(arg >> 3), nullptr);
                break;
            case 3:
                began(arg);
                break;
            case 4:
                ended(arg, kEnds[(op >> 3) % 3]);
                break;
            case 5:
                platform::runUntilIdle();
                break;
            default:
                platform::advanceBy(arg / 32.0);
                break;
        }
    }
    // Close everything, end everything; final blocks start nothing more.
    draining = true;
    for (int round = 0; round < 64 && !monitor.captureGroups().empty(); ++round) {
        while (!monitor.captureHierarchyGroups().empty()) monitor.stopCapturingThenDo(nullptr, 0);
        for (size_t load = 0; load < loads.size(); ++load)
            while (begun[load] > 0) ended(load, kEnds[0]);
        platform::runUntilIdle();
    }
    if (!monitor.captureGroups().empty()) std::abort();
    platform::RunLoop::main().discardPendingForTesting();
    platform::resetSharedInstancesForTesting();
    return 0;
}
