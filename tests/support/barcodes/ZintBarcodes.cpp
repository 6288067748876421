#include "tests/support/barcodes/ZintBarcodes.h"

#include <zint.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <random>
#include <stdexcept>

namespace barcodes {

namespace {

int zintSymbology(Symbology symbology) {
    switch (symbology) {
        case Symbology::UPCE:
            return BARCODE_UPCE;
        case Symbology::Code39:
            return BARCODE_CODE39;
        case Symbology::EAN13:
            return BARCODE_EANX;
        case Symbology::UPCA:
            return BARCODE_UPCA;
        case Symbology::EAN8:
            return BARCODE_EANX;
        case Symbology::Code93:
            return BARCODE_CODE93;
        case Symbology::Code128:
            return BARCODE_CODE128;
        case Symbology::PDF417:
            return BARCODE_PDF417;
        case Symbology::QRCode:
            return BARCODE_QRCODE;
        case Symbology::Aztec:
            return BARCODE_AZTEC;
        case Symbology::ITF:
            return BARCODE_C25INTER;
        case Symbology::DataMatrix:
            return BARCODE_DATAMATRIX;
    }
    return BARCODE_CODE128;
}

}  // namespace

platform::Image barcodeImage(Symbology symbology, std::string_view data, int pixelsPerModule) {
    std::unique_ptr<zint_symbol, void (*)(zint_symbol*)> symbol(ZBarcode_Create(), ZBarcode_Delete);
    if (!symbol) throw std::runtime_error("zint: no symbol");
    symbol->symbology = zintSymbology(symbology);
    symbol->show_hrt = 0;
    symbol->output_options |= BARCODE_QUIET_ZONES;
    symbol->whitespace_width = 4;
    symbol->whitespace_height = 4;
    symbol->scale = 0.5f;  // one pixel for each module; scaled up below
    const int error = ZBarcode_Encode_and_Buffer(
        symbol.get(), reinterpret_cast<const unsigned char*>(data.data()), int(data.size()), 0);
    if (error >= ZINT_ERROR) throw std::runtime_error(std::string("zint: ") + symbol->errtxt);
    const int w = symbol->bitmap_width, h = symbol->bitmap_height;
    const int n = std::max(1, pixelsPerModule);
    platform::Image image(w * n, h * n);
    for (int y = 0; y < h * n; ++y)
        for (int x = 0; x < w * n; ++x) {
            const unsigned char* rgb = symbol->bitmap + 3 * (size_t(y / n) * w + size_t(x / n));
            image.setPixel(x, y, {rgb[0], rgb[1], rgb[2], 255});
        }
    return image;
}

platform::Image frameWith(const platform::Image& barcode, int width, int height, int x, int y,
                          platform::Image::Pixel background) {
    platform::Image frame(width, height, 1, background);
    if (x < 0) {
        x = std::max(0, (width - barcode.width()) / 2);
        y = std::max(0, (height - barcode.height()) / 2);
    }
    for (int by = 0; by < barcode.height(); ++by)
        for (int bx = 0; bx < barcode.width(); ++bx)
            if (x + bx < width && y + by < height)
                frame.setPixel(x + bx, y + by, barcode.pixel(bx, by));
    return frame;
}

platform::Image turned(const platform::Image& picture, double degrees) {
    const double radians = degrees * std::numbers::pi / 180;
    const double c = std::cos(radians), s = std::sin(radians);
    const double w = picture.width(), h = picture.height();
    const int tw = int(std::ceil(std::abs(w * c) + std::abs(h * s) - 1e-9));
    const int th = int(std::ceil(std::abs(w * s) + std::abs(h * c) - 1e-9));
    platform::Image result(tw, th, 1, {255, 255, 255, 255});
    for (int y = 0; y < th; ++y)
        for (int x = 0; x < tw; ++x) {
            // The source pixel that turns onto this one.
            const double dx = x + 0.5 - tw / 2.0, dy = y + 0.5 - th / 2.0;
            const double sx = c * dx + s * dy + w / 2, sy = -s * dx + c * dy + h / 2;
            const int ix = int(std::floor(sx)), iy = int(std::floor(sy));
            if (ix >= 0 && iy >= 0 && ix < picture.width() && iy < picture.height())
                result.setPixel(x, y, picture.pixel(ix, iy));
        }
    return result;
}

platform::Image withNoise(const platform::Image& picture, double fraction, unsigned seed) {
    platform::Image result = picture;
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> chance(0, 1);
    for (int y = 0; y < result.height(); ++y)
        for (int x = 0; x < result.width(); ++x)
            if (chance(random) < fraction) {
                const uint8_t v = (random() & 1) ? 255 : 0;
                result.setPixel(x, y, {v, v, v, 255});
            }
    return result;
}

}  // namespace barcodes
