#include "platform/foundation/Clock.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/foundation/Log.h"
#include "platform/foundation/RunLoop.h"

namespace platform {
namespace {
std::atomic<bool> gManual{false};
std::atomic<int64_t> gManualNanos{0};
}  // namespace

int64_t Clock::monotonicNanos() {
    if (gManual.load(std::memory_order_acquire))
        return gManualNanos.load(std::memory_order_acquire);
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double Clock::wallSeconds() {
    if (gManual.load(std::memory_order_acquire))
        return kManualWallEpoch + static_cast<double>(gManualNanos.load()) / 1e9;
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void Clock::installManual() {
    gManual.store(true, std::memory_order_release);
}

bool Clock::isManual() {
    return gManual.load(std::memory_order_acquire);
}

void Clock::setManualNanos(int64_t nanos) {
    int64_t current = gManualNanos.load();
    while (nanos > current && !gManualNanos.compare_exchange_weak(current, nanos)) {
    }
    RunLoop::wakeDueAt(gManualNanos.load());
}

void Clock::advanceManualNanos(int64_t nanos) {
    if (nanos <= 0) return;
    int64_t current = gManualNanos.load();
    while (!gManualNanos.compare_exchange_weak(current, addNanosSaturating(current, nanos))) {
    }
    RunLoop::wakeDueAt(gManualNanos.load());
}

void sleepFor(double seconds) {
    if (std::isnan(seconds)) {
        PLATFORM_LOG_WARN("sleepFor was given a time that is no number; it returns at once");
        return;
    }
    if (seconds <= 0) return;
    if (Clock::isManual()) {
        Clock::advanceManualNanos(secondsToNanos(seconds));
        return;
    }
    std::this_thread::sleep_for(std::chrono::nanoseconds(secondsToNanos(seconds)));
}

}  // namespace platform
