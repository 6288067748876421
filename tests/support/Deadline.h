#pragma once
// Bounds a stretch of a test in real time: a hang (a deadlock) fails the test instead of
// holding the runner for ever.
//
//   {
//       Deadline deadline(20, "the start over a damaged store");
//       MVPersistentStorage::sharedStorage();
//   }   // finished in time
//
// A process cannot go on past a deadlock (its threads hold locks its teardown needs), so
// a missed deadline writes the failure and ends the process with status 1.

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

class Deadline {
  public:
    Deadline(double seconds, std::string what)
        : watcher_([this, seconds, what = std::move(what)] {
              std::unique_lock lock(mutex_);
              if (done_.wait_for(lock, std::chrono::duration<double>(seconds),
                                 [this] { return finished_; }))
                  return;
              std::fprintf(stderr, "Failure: %s did not finish within %g s (a hang)\n",
                           what.c_str(), seconds);
              std::fflush(stderr);
              std::_Exit(1);
          }) {}
    ~Deadline() {
        {
            std::lock_guard lock(mutex_);
            finished_ = true;
        }
        done_.notify_one();
        watcher_.join();
    }
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;

  private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;  // guarded by mutex_
    std::thread watcher_;    // last: starts once the members above stand
};
