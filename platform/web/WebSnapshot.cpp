#include "platform/web/WebSnapshot.h"

namespace platform {

uint32_t WebSnapshot::pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return 0;
    const size_t at = (static_cast<size_t>(y) * width + x) * 4;
    if (at + 3 >= rgba.size()) return 0;
    return (uint32_t{rgba[at]} << 24) | (uint32_t{rgba[at + 1]} << 16) |
           (uint32_t{rgba[at + 2]} << 8) | rgba[at + 3];
}

}  // namespace platform
