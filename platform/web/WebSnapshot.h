#pragma once
// A picture of a web view's visible page: an RGBA bitmap, 4 bytes a pixel, rows top
// to bottom, colour not premultiplied. Empty when no picture could be taken.

#include <cstdint>
#include <vector>

namespace platform {

struct WebSnapshot {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;

    bool isEmpty() const { return width <= 0 || height <= 0; }
    // One pixel packed as 0xRRGGBBAA; 0 outside the picture.
    uint32_t pixel(int x, int y) const;
};

}  // namespace platform
