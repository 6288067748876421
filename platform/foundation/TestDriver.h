#pragma once
// Drives time by hand for tests, benchmarks and fuzzers. Call from the main thread.
//
//   platform::Clock::installManual();      // once, before any thread starts
//   platform::advanceBy(19.0);             // every loop runs what falls due, in time order
//   platform::runUntil([&] { return done; }, 10.0);  // real I/O, bounded real wait
//
// No test sleeps to wait for a timer.

#include <functional>

namespace platform {

// Runs everything due now on every loop until all are drained.
void runUntilIdle();
// Steps the manual clock to each next due time up to now + seconds, letting every
// registered loop (main and workers) run what is due and waiting, bounded, until all
// have drained at each step.
void advanceBy(double seconds);
// Pumps the main loop while real I/O happens until the predicate holds or the real
// time-out passes; answers the predicate's last value.
bool runUntil(const std::function<bool()>& predicate, double realTimeoutSeconds);

}  // namespace platform
