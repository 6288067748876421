#include "platform/foundation/TestDriver.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/RunLoop.h"

namespace platform {
namespace {

// Bound for waiting on worker threads to drain; generous, as machines vary.
constexpr auto kDrainBound = std::chrono::seconds(30);

bool workersIdle(int64_t now) {
    for (auto& loop : RunLoop::allLoops()) {
        if (RunLoop::implIsMain(*loop)) continue;
        if (!RunLoop::implIsIdleAt(*loop, now)) return false;
    }
    return true;
}

// Runs the main loop's due work and waits for the workers until everything due at the
// current time has run and nothing is running anywhere. A turn that only the main loop
// works in costs no more than two passes, without giving the processor away, so that
// thousands of manual-clock steps stay cheap on a loaded machine.
void drain() {
    const auto deadline = std::chrono::steady_clock::now() + kDrainBound;
    int quietRounds = 0;
    bool workersWorked = false;
    for (;;) {
        const uint64_t before = RunLoop::activityGeneration();
        const uint64_t workersBefore = RunLoop::workerActivityGeneration();
        RunLoop::main().runOnce(0);
        const int64_t now = Clock::monotonicNanos();
        const bool workersQuiet = workersIdle(now);
        workersWorked |= !workersQuiet || RunLoop::workerActivityGeneration() != workersBefore;
        if (workersQuiet && RunLoop::main().isIdleAt(now) &&
            RunLoop::activityGeneration() == before) {
            // Twice in a row once a worker took part, so that one caught between two
            // items is seen.
            if (++quietRounds >= (workersWorked ? 2 : 1)) return;
        } else {
            quietRounds = 0;
        }
        if (std::chrono::steady_clock::now() > deadline)
            throw Exception("NSInternalInconsistencyException", "run loops did not drain in time");
        if (workersWorked) std::this_thread::yield();
    }
}

}  // namespace

void runUntilIdle() {
    RunLoop::wakeAll();
    drain();
}

void advanceBy(double seconds) {
    if (!Clock::isManual())
        throw Exception("NSInternalInconsistencyException", "advanceBy needs the manual clock");
    const int64_t target =
        addNanosSaturating(Clock::monotonicNanos(), std::max<int64_t>(0, secondsToNanos(seconds)));
    drain();
    for (;;) {
        std::optional<int64_t> next;
        for (auto& loop : RunLoop::allLoops()) {
            auto due = RunLoop::implNextDue(*loop);
            if (due && (!next || *due < *next)) next = due;
        }
        if (!next || *next > target) break;
        Clock::setManualNanos(*next);
        drain();
    }
    Clock::setManualNanos(target);
    drain();
}

bool runUntil(const std::function<bool()>& predicate, double realTimeoutSeconds) {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::nanoseconds(secondsToNanos(realTimeoutSeconds));
    for (;;) {
        if (predicate()) return true;
        auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::nanoseconds::zero()) return predicate();
        auto slice = std::min<std::chrono::nanoseconds>(left, std::chrono::milliseconds(10));
        RunLoop::main().runOnce(slice.count());
    }
}

}  // namespace platform
