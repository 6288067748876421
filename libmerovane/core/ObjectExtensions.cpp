#include "libmerovane/core/ObjectExtensions.h"

#include <cmath>

#include "platform/foundation/DispatchQueue.h"

void performBlock(std::function<void()> block, double delay) {
    if (!block) return;
    platform::DispatchQueue::main().after(delay, std::move(block)).detach();
}

platform::Point CGPointNormalize(platform::Point point) {
    const double length = std::sqrt(point.x * point.x + point.y * point.y);
    if (length == 0) return {};
    const double scale = 1.0 / length;
    return {point.x * scale, point.y * scale};
}
