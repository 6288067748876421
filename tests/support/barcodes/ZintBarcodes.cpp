#include "tests/support/barcodes/ZintBarcodes.h"

#include <zint.h>

#include <algorithm>
#include <cmath>
#include <cstring>
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
        case Symbology::ITF14:
            return BARCODE_ITF14;
    }
    return BARCODE_CODE128;
}

using Symbol = std::unique_ptr<zint_symbol, void (*)(zint_symbol*)>;

Symbol newSymbol(Symbology symbology) {
    Symbol symbol(ZBarcode_Create(), ZBarcode_Delete);
    if (!symbol) throw std::runtime_error("zint: no symbol");
    symbol->symbology = zintSymbology(symbology);
    symbol->output_options |= BARCODE_QUIET_ZONES;
    return symbol;
}

// zint's bitmap of `data`, each of its pixels `n` by `n` pixels.
platform::Image drawn(zint_symbol& symbol, std::string_view data, int n = 1) {
    const int error = ZBarcode_Encode_and_Buffer(
        &symbol, reinterpret_cast<const unsigned char*>(data.data()), int(data.size()), 0);
    if (error >= ZINT_ERROR) throw std::runtime_error(std::string("zint: ") + symbol.errtxt);
    const int w = symbol.bitmap_width, h = symbol.bitmap_height;
    platform::Image image(w * n, h * n);
    for (int y = 0; y < h * n; ++y)
        for (int x = 0; x < w * n; ++x) {
            const unsigned char* rgb = symbol.bitmap + 3 * (size_t(y / n) * w + size_t(x / n));
            image.setPixel(x, y, {rgb[0], rgb[1], rgb[2], 255});
        }
    return image;
}

// Labels are drawn by zint itself, which draws text from 2 pixels a module on.
Symbol labelSymbol(Symbology symbology, int pixelsPerModule, double barHeight, bool humanReadable) {
    auto symbol = newSymbol(symbology);
    symbol->show_hrt = humanReadable ? 1 : 0;
    symbol->scale = float(std::max(2, pixelsPerModule)) / 2;
    if (barHeight > 0) symbol->height = float(barHeight);
    return symbol;
}

}  // namespace

platform::Image barcodeImage(Symbology symbology, std::string_view data, int pixelsPerModule) {
    auto symbol = newSymbol(symbology);
    symbol->show_hrt = 0;
    symbol->whitespace_width = 4;
    symbol->whitespace_height = 4;
    symbol->scale = 0.5f;  // one pixel for each module; scaled up
    return drawn(*symbol, data, std::max(1, pixelsPerModule));
}

platform::Image labelCode(Symbology symbology, std::string_view data, int pixelsPerModule,
                          double barHeight, bool humanReadable) {
    auto symbol = labelSymbol(symbology, pixelsPerModule, barHeight, humanReadable);
    return drawn(*symbol, data);
}

platform::Image textLine(std::string_view text, int pixelsPerModule) {
    // The rows that a Code 128 drawing gains with its text, cut to the text's width.
    const auto bars = labelCode(Symbology::Code128, text, pixelsPerModule, 10, false);
    const auto withText = labelCode(Symbology::Code128, text, pixelsPerModule, 10, true);
    int left = withText.width(), right = 0;
    for (int y = bars.height(); y < withText.height(); ++y)
        for (int x = 0; x < withText.width(); ++x)
            if (withText.pixel(x, y).g < 128)
                left = std::min(left, x), right = std::max(right, x + 1);
    platform::Image line(std::max(0, right - left), withText.height() - bars.height());
    for (int y = 0; y < line.height(); ++y)
        for (int x = 0; x < line.width(); ++x)
            line.setPixel(x, y, withText.pixel(left + x, bars.height() + y));
    return line;
}

std::string printedText(Symbology symbology, std::string_view data) {
    auto symbol = newSymbol(symbology);
    drawn(*symbol, data);
    return reinterpret_cast<const char*>(symbol->text);
}

void draw(platform::Image& frame, const platform::Image& picture, int x, int y) {
    for (int py = std::max(0, -y); py < picture.height() && y + py < frame.height(); ++py)
        for (int px = std::max(0, -x); px < picture.width() && x + px < frame.width(); ++px)
            frame.setPixel(x + px, y + py, picture.pixel(px, py));
}

platform::Image frameWith(const platform::Image& barcode, int width, int height, int x, int y,
                          platform::Image::Pixel background) {
    platform::Image frame(width, height, 1, background);
    if (x < 0) {
        x = std::max(0, (width - barcode.width()) / 2);
        y = std::max(0, (height - barcode.height()) / 2);
    }
    draw(frame, barcode, x, y);
    return frame;
}

platform::Image turned(const platform::Image& picture, double degrees) {
    const double radians = degrees * std::numbers::pi / 180;
    const double c = std::cos(radians), s = std::sin(radians);
    const int w = picture.width(), h = picture.height();
    const int tw = int(std::ceil(std::abs(w * c) + std::abs(h * s) - 1e-9));
    const int th = int(std::ceil(std::abs(w * s) + std::abs(h * c) - 1e-9));
    platform::Image result(tw, th, 1, {255, 255, 255, 255});
    // Straight on the pixel buffers, a row at a time: the tables turn many large pictures.
    const uint8_t* from = picture.rgba().data();
    uint8_t* to = result.mutableData();
    for (int y = 0; y < th; ++y, to += size_t(tw) * 4) {
        // The source point that turns onto the row's first pixel, and its step.
        const double dx = 0.5 - tw / 2.0, dy = y + 0.5 - th / 2.0;
        const double sx = c * dx + s * dy + w / 2.0, sy = -s * dx + c * dy + h / 2.0;
        for (int x = 0; x < tw; ++x) {
            const double fx = sx + c * x, fy = sy - s * x;
            if (fx >= 0 && fy >= 0 && fx < w && fy < h)
                std::memcpy(to + size_t(x) * 4, from + (size_t(fy) * w + size_t(fx)) * 4, 4);
        }
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
