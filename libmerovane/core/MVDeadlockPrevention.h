#pragma once
// Lock-order checking. Code that takes a named lock announces it just before
// locking and just after unlocking (MVNamedLock does both); the checker learns,
// across all threads, which resources were taken while which others were held, and
// warns once per pair the first time two resources are seen in contrary orders:
//
//   "MVDeadlockPrevention detected possible deadlock. Resources "A" and "B" are ..."
//
// It never blocks or refuses anything. Taking a resource that the thread already
// holds (nesting) records nothing about itself. Thread-safe; each thread keeps its
// own count of what it holds.

#include <map>
#include <mutex>
#include <set>
#include <string>

class MVDeadlockPrevention {
  public:
    static MVDeadlockPrevention& sharedDeadlockPrevention();

    // Call just before taking the lock named `resourceName`.
    static void lockingResource(const std::string& resourceName);
    // Call just after releasing it. Releasing what this thread does not hold is a
    // programming error (an assertion).
    static void unlockedResource(const std::string& resourceName);

    void lockResource(const std::string& resourceName);
    void unlockResource(const std::string& resourceName);

    // Forgets what was learnt; for tests.
    void resetForTesting();

  private:
    MVDeadlockPrevention() = default;

    std::mutex mutex_;
    std::map<std::string, std::set<std::string>> possibleLocksAfterLock_;
    std::set<std::string> reportedDeadlockPossibilities_;
};
