#pragma once
// The one clock every timer, delay, animation, time-out and date in the system reads.
//
// By default it is the real clock. Tests install the manual clock once, before any
// thread starts; from then on time moves only when a test (or sleepFor) moves it.
// The manual clock is never uninstalled. Thread-safe.

#include <cmath>
#include <cstdint>
#include <limits>

namespace platform {

class Clock {
  public:
    // Monotonic nanoseconds. The manual clock starts at 0.
    static int64_t monotonicNanos();
    // Seconds since 1970. The manual wall clock starts on a whole second.
    static double wallSeconds();

    static void installManual();
    static bool isManual();
    // Moves the manual clock forward (never back) to `nanos`; wakes every run loop.
    static void setManualNanos(int64_t nanos);
    static void advanceManualNanos(int64_t nanos);

    // The manual wall clock's value at monotonic 0.
    static constexpr double kManualWallEpoch = 1767225600.0;  // 2026-01-01T00:00:00Z
};

// Seconds to nanoseconds by truncation, as every delay in the system is converted.
// NaN gives 0; values beyond the range (infinities too) saturate at its ends.
inline int64_t secondsToNanos(double seconds) {
    if (std::isnan(seconds)) return 0;
    const double nanos = seconds * 1e9;
    // 2^63 is exact in a double; everything below it converts without overflow.
    constexpr double kLimit = 9223372036854775808.0;
    if (nanos >= kLimit) return std::numeric_limits<int64_t>::max();
    if (nanos <= -kLimit) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(nanos);
}

// `nanos + delta` for a delta of zero or more, held at the end of the clock's range.
inline int64_t addNanosSaturating(int64_t nanos, int64_t delta) {
    if (delta > 0 && nanos > std::numeric_limits<int64_t>::max() - delta)
        return std::numeric_limits<int64_t>::max();
    return nanos + delta;
}

// Blocks for `seconds`, or, with the manual clock, moves it forward instead.
void sleepFor(double seconds);

}  // namespace platform
