#pragma once
// An RGBA bitmap: 8 bits per component, straight (not premultiplied) alpha, rows top
// to bottom without padding, and a scale (pixels per point) as the platform's images
// carry one.
//
//   auto image = platform::Image::decode(bytes);           // PNG or JPEG
//   if (image) send(image->scaled(400, 225).rotated(90).pngData());
//
// A value type: copies copy the pixels. Decoding never throws: bytes that are no PNG
// or JPEG, or a truncated or corrupt file, give none and a warning log line. Sizes
// are bounded (kMaxPixels) so that a file cannot ask for unbounded memory; making an
// image larger than that, or of negative size, is misuse and throws
// NSInvalidArgumentException. Not thread-safe; distinct images may be used on
// distinct threads.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Geometry.h"

namespace platform {

class Image {
  public:
    struct Pixel {
        uint8_t r = 0, g = 0, b = 0, a = 0;
        bool operator==(const Pixel&) const = default;
    };

    static constexpr int64_t kMaxPixels = int64_t(1) << 26;

    // The empty image (0 by 0 pixels).
    Image() = default;
    // Transparent black, or filled with `fill`.
    Image(int width, int height, double scale = 1);
    Image(int width, int height, double scale, Pixel fill);
    // Takes width * height * 4 bytes of straight RGBA.
    static Image fromRGBA(int width, int height, std::vector<uint8_t> rgba, double scale = 1);

    // PNG or JPEG, told apart by their signatures.
    static std::optional<Image> decode(std::string_view bytes, double scale = 1);
    // Decodes a file; "name@2x.png" and "name@3x.png" get scale 2 and 3.
    static std::optional<Image> fromFile(const std::string& path);

    int width() const { return width_; }
    int height() const { return height_; }
    bool isEmpty() const { return width_ == 0 || height_ == 0; }
    // Pixels per point; the size in points is the pixel size divided by it.
    double scale() const { return scale_; }
    void setScale(double scale);
    // In points.
    Size size() const { return {width_ / scale_, height_ / scale_}; }

    // Out-of-range coordinates throw NSRangeException.
    Pixel pixel(int x, int y) const;
    void setPixel(int x, int y, Pixel p);
    const std::vector<uint8_t>& rgba() const { return rgba_; }
    uint8_t* mutableData() { return rgba_.data(); }

    // Empty for an empty image.
    std::string pngData() const;
    // `quality` 0 to 1 (clamped), 1 the best. JPEG keeps no alpha: pixels are
    // premultiplied first, so transparent areas come out black, as on the platform.
    std::string jpegData(double quality) const;

    // Resampled to `width` by `height` pixels (area average when shrinking, bilinear
    // when growing, in premultiplied space); same scale.
    Image scaled(int width, int height) const;
    // Turned clockwise by `degrees` (counter-clockwise when negative), which must be
    // a multiple of 90; other angles throw NSInvalidArgumentException.
    Image rotated(int degrees) const;

    bool operator==(const Image& other) const = default;

  private:
    size_t offset(int x, int y) const;

    int width_ = 0;
    int height_ = 0;
    double scale_ = 1;
    std::vector<uint8_t> rgba_;
};

}  // namespace platform
