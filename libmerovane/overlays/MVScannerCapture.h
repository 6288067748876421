#pragma once
// The scanner's still images: how a camera picture is turned upright for the
// interface orientation and scaled to fit the size that the overlay page asks for.
//
//   auto degrees = MVScannerCapture::degreesForInterfaceOrientation(orientation);
//   auto image = MVScannerCapture::imageFromPixelBuffer(*buffer, 300, 400, degrees);
//   if (image) send(image->pngData());
//
// The box is given for the turned result; the target fills it in one direction,
// keeping the picture's proportions. Each target side is kept within 1 to kMaxSide; a
// target larger than an image may be gives none.

#include <optional>

#include "platform/foundation/Geometry.h"
#include "platform/ui/Image.h"

namespace platform {
class PixelBuffer;
}

namespace MVScannerCapture {

inline constexpr int kMaxSide = 16384;

// Portrait and unknown 90, upside down -90, landscape right 0, landscape left 180,
// any other value 0.
int degreesForInterfaceOrientation(int orientation);

// The box in the unturned picture's terms: sides swapped for a quarter turn. Sides
// below 1 (and NaN) count as 1.
platform::Size boxForDegrees(float maxWidth, float maxHeight, int degrees);

struct TargetSize {
    int width = 0;
    int height = 0;
    bool operator==(const TargetSize&) const = default;
};
// The picture's size scaled to fill the box in one direction, truncated, each side
// within 1 to kMaxSide.
TargetSize targetSize(int width, int height, platform::Size box);

// The buffer's BGRA pixels, opaque, scaled into the box and turned by the degrees (a
// multiple of 90); none for an empty or foreign buffer, or a target too large to make.
std::optional<platform::Image> imageFromPixelBuffer(platform::PixelBuffer& buffer, float maxWidth,
                                                    float maxHeight, int degrees);

}  // namespace MVScannerCapture
