#pragma once
// A recursive lock that announces itself to MVDeadlockPrevention by name, so that
// lock-order mistakes show up as warnings in the log:
//
//   MVNamedLock lock_{"WebCache"};
//   std::lock_guard guard(lock_);     // or std::unique_lock
//
// The same thread may take it again (nested); every lock() needs its unlock().

#include <mutex>
#include <string>

class MVNamedLock {
  public:
    explicit MVNamedLock(std::string resourceName);
    MVNamedLock(const MVNamedLock&) = delete;
    MVNamedLock& operator=(const MVNamedLock&) = delete;

    void lock();
    void unlock();
    const std::string& resourceName() const { return resourceName_; }

  private:
    const std::string resourceName_;
    std::recursive_mutex mutex_;
};
