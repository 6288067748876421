#include "libmerovane/core/ObjectExtensions.h"

#include "platform/foundation/DispatchQueue.h"

void performBlock(std::function<void()> block, double delay) {
    if (!block) return;
    platform::DispatchQueue::main().after(delay, std::move(block));
}
