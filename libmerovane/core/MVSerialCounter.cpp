#include "libmerovane/core/MVSerialCounter.h"

#include "platform/foundation/SharedInstances.h"

MVSerialCounter::MVSerialCounter(const char* name, int64_t first) : first_(first), next_(first) {
    platform::registerSharedInstanceReset(name, [this] { reset(); });
}

int64_t MVSerialCounter::next() {
    std::lock_guard lock(mutex_);
    return next_++;
}

void MVSerialCounter::reset() {
    std::lock_guard lock(mutex_);
    next_ = first_;
}
