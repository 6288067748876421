#include "libmerovane/core/MVNamedLock.h"

#include "libmerovane/core/MVDeadlockPrevention.h"

MVNamedLock::MVNamedLock(std::string resourceName) : resourceName_(std::move(resourceName)) {}

void MVNamedLock::lock() {
    MVDeadlockPrevention::lockingResource(resourceName_);
    mutex_.lock();
}

void MVNamedLock::unlock() {
    mutex_.unlock();
    MVDeadlockPrevention::unlockedResource(resourceName_);
}
