#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <string>

#include "platform/foundation/Exception.h"
#include "platform/ui/Image.h"
#include "tests/support/PlatformTest.h"
#include "tests/support/TempDir.h"

using platform::Image;
using Pixel = platform::Image::Pixel;

namespace {

class ImageTest : public PlatformTest {};

// A small PNG writer of our own (raw zlib), so decoding is checked against bytes that
// our encoder did not make.
void appendBigEndian(std::string& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(char((v >> shift) & 0xFF));
}

void appendChunk(std::string& out, const std::string& type, const std::string& data) {
    appendBigEndian(out, uint32_t(data.size()));
    std::string body = type + data;
    out += body;
    appendBigEndian(
        out, uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
}

// colorType 0 gray, 2 RGB, 3 palette, 6 RGBA; `rows` are raw scanlines without filter bytes.
std::string handMadePng(uint32_t width, uint32_t height, int colorType,
                        const std::vector<std::string>& rows, const std::string& palette = {},
                        const std::string& transparency = {}) {
    std::string png("\x89PNG\r\n\x1a\n", 8);
    std::string header;
    appendBigEndian(header, width);
    appendBigEndian(header, height);
    header += std::string{char(8), char(colorType), 0, 0, 0};
    appendChunk(png, "IHDR", header);
    if (!palette.empty()) appendChunk(png, "PLTE", palette);
    if (!transparency.empty()) appendChunk(png, "tRNS", transparency);
    std::string raw;
    for (const auto& row : rows) raw += '\0' + row;
    uLongf size = compressBound(uLong(raw.size()));
    std::string packed(size, '\0');
    compress(reinterpret_cast<Bytef*>(packed.data()), &size,
             reinterpret_cast<const Bytef*>(raw.data()), uLong(raw.size()));
    packed.resize(size);
    appendChunk(png, "IDAT", packed);
    appendChunk(png, "IEND", "");
    return png;
}

uint32_t readBigEndian(const std::string& bytes, size_t at) {
    return uint32_t(uint8_t(bytes[at])) << 24 | uint32_t(uint8_t(bytes[at + 1])) << 16 |
           uint32_t(uint8_t(bytes[at + 2])) << 8 | uint32_t(uint8_t(bytes[at + 3]));
}

// Every pixel different, alpha included.
Image patterned(int width, int height) {
    Image image(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(
                x, y, {uint8_t(x * 40), uint8_t(y * 40), uint8_t(x * 7 + y), uint8_t(255 - x - y)});
    return image;
}

bool near(Pixel p, Pixel q, int tolerance) {
    return std::abs(p.r - q.r) <= tolerance && std::abs(p.g - q.g) <= tolerance &&
           std::abs(p.b - q.b) <= tolerance && std::abs(p.a - q.a) <= tolerance;
}

}  // namespace

TEST_F(ImageTest, PngRoundTripKeepsEveryPixelAndTheSize) {
    for (auto [w, h] : {std::pair{1, 1}, {3, 2}, {7, 5}, {64, 33}}) {
        Image image = patterned(w, h);
        std::string png = image.pngData();
        ASSERT_GT(png.size(), 33u);
        // The header tells the size without our decoder.
        EXPECT_EQ(png.substr(12, 4), "IHDR");
        EXPECT_EQ(readBigEndian(png, 16), uint32_t(w));
        EXPECT_EQ(readBigEndian(png, 20), uint32_t(h));
        auto back = Image::decode(png);
        ASSERT_TRUE(back) << w << "x" << h;
        EXPECT_EQ(*back, image) << w << "x" << h;
    }
}

TEST_F(ImageTest, DecodesPngsOfOtherColourTypes) {
    struct Case {
        const char* what;
        std::string png;
        Pixel first, second;
    };
    const Case cases[] = {
        {"gray",
         handMadePng(2, 1, 0, {std::string("\x00\xff", 2)}),
         {0, 0, 0, 255},
         {255, 255, 255, 255}},
        {"rgb",
         handMadePng(2, 1, 2, {std::string("\xff\x00\x00\x00\x00\xff", 6)}),
         {255, 0, 0, 255},
         {0, 0, 255, 255}},
        {"rgba",
         handMadePng(2, 1, 6, {std::string("\x10\x20\x30\x40\x50\x60\x70\x80", 8)}),
         {0x10, 0x20, 0x30, 0x40},
         {0x50, 0x60, 0x70, 0x80}},
        // Entry 1 of the palette is transparent; alpha stays straight.
        {"palette",
         handMadePng(2, 1, 3, {std::string("\x00\x01", 2)},
                     std::string("\x00\xff\x00\x00\x00\xff", 6), std::string("\xff\x00", 2)),
         {0, 255, 0, 255},
         {0, 0, 255, 0}},
    };
    for (const auto& c : cases) {
        auto image = Image::decode(c.png);
        ASSERT_TRUE(image) << c.what;
        EXPECT_EQ(image->width(), 2) << c.what;
        EXPECT_EQ(image->height(), 1) << c.what;
        EXPECT_EQ(image->pixel(0, 0), c.first) << c.what;
        EXPECT_EQ(image->pixel(1, 0), c.second) << c.what;
    }
}

TEST_F(ImageTest, JpegRoundTripKeepsTheSizeAndNearlyTheColoursAtAnyQuality) {
    // Flat 8x8 blocks survive JPEG almost unchanged.
    Image image(32, 16, 1, {200, 40, 40, 255});
    for (int y = 0; y < 16; ++y)
        for (int x = 16; x < 32; ++x) image.setPixel(x, y, {30, 90, 220, 255});
    std::string jpeg = image.jpegData(1.0);
    ASSERT_GE(jpeg.size(), 4u);
    EXPECT_EQ(jpeg.substr(0, 2), "\xFF\xD8");
    auto back = Image::decode(jpeg);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->width(), 32);
    EXPECT_EQ(back->height(), 16);
    EXPECT_TRUE(near(back->pixel(4, 4), {200, 40, 40, 255}, 6));
    EXPECT_TRUE(near(back->pixel(27, 12), {30, 90, 220, 255}, 6));

    Image noisy = patterned(64, 64).scaled(200, 120);
    EXPECT_LT(noisy.jpegData(0.1).size(), noisy.jpegData(1.0).size());
    // Out-of-range qualities are clamped, not refused.
    EXPECT_FALSE(noisy.jpegData(-3).empty());
    EXPECT_FALSE(noisy.jpegData(7).empty());

    Image transparent(16, 16, 1, {255, 255, 255, 0});
    back = Image::decode(transparent.jpegData(1.0));
    ASSERT_TRUE(back);
    EXPECT_TRUE(near(back->pixel(8, 8), {0, 0, 0, 255}, 2)) << "alpha drops to black";
}

TEST_F(ImageTest, BadBytesGiveNoImageAndAWarning) {
    std::string png = patterned(20, 20).pngData();
    std::string jpeg = patterned(20, 20).jpegData(0.8);
    std::string badCrc = png;
    badCrc[29] = char(badCrc[29] ^ 0x55);  // inside the IHDR chunk
    std::string huge = handMadePng(100000, 100000, 6, {});
    struct Case {
        const char* what;
        std::string bytes;
        const char* log;
    };
    const Case cases[] = {
        {"empty", "", "neither PNG nor JPEG"},
        {"text", "GIF89a and more", "neither PNG nor JPEG"},
        {"png signature only", png.substr(0, 8), "PNG"},
        {"png cut in half", png.substr(0, png.size() / 2), "PNG"},
        {"png with a bad header checksum", badCrc, "PNG"},
        {"png claiming 10^10 pixels", huge, "too large"},
        {"jpeg signature only", jpeg.substr(0, 3), "JPEG"},
        {"jpeg cut in half", jpeg.substr(0, jpeg.size() / 2), "premature end"},
    };
    for (const auto& c : cases) {
        log_->clear();
        EXPECT_FALSE(Image::decode(c.bytes)) << c.what;
        EXPECT_TRUE(logged(c.log)) << c.what;
    }
}

TEST_F(ImageTest, ScalingAveragesWhenShrinkingAndKeepsFlatAreasFlat) {
    // 2x2 blocks average into one pixel.
    Image image(4, 2);
    image.setPixel(0, 0, {0, 0, 0, 255});
    image.setPixel(1, 0, {100, 0, 0, 255});
    image.setPixel(0, 1, {0, 100, 0, 255});
    image.setPixel(1, 1, {0, 0, 100, 255});
    for (int x = 2; x < 4; ++x)
        for (int y = 0; y < 2; ++y) image.setPixel(x, y, {10, 20, 30, 255});
    Image small = image.scaled(2, 1);
    EXPECT_EQ(small.pixel(0, 0), (Pixel{25, 25, 25, 255}));
    EXPECT_EQ(small.pixel(1, 0), (Pixel{10, 20, 30, 255}));
    // Transparent pixels lend no colour: red with invisible green gives half-clear red.
    image.setPixel(2, 0, {0, 255, 0, 0});
    image.setPixel(2, 1, {0, 255, 0, 0});
    image.setPixel(3, 0, {255, 0, 0, 255});
    image.setPixel(3, 1, {255, 0, 0, 255});
    EXPECT_EQ(image.scaled(2, 1).pixel(1, 0), (Pixel{255, 0, 0, 128}));

    Image flat(3, 3, 2, {9, 99, 199, 255});
    Image big = flat.scaled(10, 7);
    EXPECT_EQ(big.scale(), 2);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 10; ++x) ASSERT_EQ(big.pixel(x, y), (Pixel{9, 99, 199, 255}));

    Image same = patterned(5, 4);
    EXPECT_EQ(same.scaled(5, 4), same);
    EXPECT_TRUE(same.scaled(0, 4).isEmpty());
}

TEST_F(ImageTest, TurnsByQuarterTurns) {
    // a b c
    // d e f, pixels told apart by their red value.
    const Image image = Image::fromRGBA(
        3, 2, {1, 0, 0, 255, 2, 0, 0, 255, 3, 0, 0, 255, 4, 0, 0, 255, 5, 0, 0, 255, 6, 0, 0, 255});
    const Pixel a{1, 0, 0, 255}, c{3, 0, 0, 255}, d{4, 0, 0, 255}, f{6, 0, 0, 255};

    // Clockwise: d a / e b / f c
    Image cw = image.rotated(90);
    ASSERT_EQ(cw.width(), 2);
    ASSERT_EQ(cw.height(), 3);
    EXPECT_EQ(cw.pixel(0, 0), d);
    EXPECT_EQ(cw.pixel(1, 0), a);
    EXPECT_EQ(cw.pixel(1, 2), c);

    // Counter-clockwise: c f / b e / a d
    Image ccw = image.rotated(-90);
    EXPECT_EQ(ccw.pixel(0, 0), c);
    EXPECT_EQ(ccw.pixel(0, 2), a);
    EXPECT_EQ(ccw, image.rotated(270));

    Image half = image.rotated(180);
    EXPECT_EQ(half.pixel(0, 0), f);
    EXPECT_EQ(image.rotated(90).rotated(90), half);
    EXPECT_EQ(image.rotated(-720), image);
    EXPECT_THROW(image.rotated(45), platform::Exception);
}

TEST_F(ImageTest, FilesTakeTheirScaleFromTheName) {
    TempDir dir;
    std::string png = Image(4, 6).pngData();
    dir.write("Default.png", png);
    dir.write("Default@2x.png", png);
    dir.write("Default-Portrait@3x~ipad.png", png);
    EXPECT_EQ(Image::fromFile(dir.file("Default.png"))->scale(), 1);
    EXPECT_EQ(Image::fromFile(dir.file("Default@2x.png"))->scale(), 2);
    EXPECT_EQ(Image::fromFile(dir.file("Default-Portrait@3x~ipad.png"))->scale(), 3);
    EXPECT_FALSE(Image::fromFile(dir.file("missing.png")));
    EXPECT_TRUE(logged("could not open"));
}

TEST_F(ImageTest, MisuseThrows) {
    EXPECT_THROW(Image(-1, 4), platform::Exception);
    EXPECT_THROW(Image(1 << 14, 1 << 14), platform::Exception);
    EXPECT_THROW(Image(2, 2, 0), platform::Exception);
    EXPECT_THROW(Image::fromRGBA(2, 2, std::vector<uint8_t>(15)), platform::Exception);
    Image image(2, 2);
    EXPECT_THROW(image.pixel(2, 0), platform::Exception);
    EXPECT_THROW(image.setPixel(0, -1, {}), platform::Exception);
    EXPECT_TRUE(Image().pngData().empty());
    EXPECT_TRUE(Image().jpegData(1).empty());
}
