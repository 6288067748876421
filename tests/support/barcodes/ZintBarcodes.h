#pragma once
// Barcode pictures for camera tests, made by an encoder independent of the camera's
// reader (zint), so that a reading test does not check the reader against itself.
// Only the suites that show barcodes to the camera build and link this.

#include <string>
#include <string_view>

#include "platform/ui/Image.h"

namespace barcodes {

// The formats the camera reads, by zint's symbology.
enum class Symbology {
    UPCE,
    Code39,
    EAN13,
    UPCA,
    EAN8,
    Code93,
    Code128,
    PDF417,
    QRCode,
    Aztec,
    ITF,
    DataMatrix,
    // ITF with 13 digits and its check digit in a bearer box, as cartons carry it.
    ITF14,
};

// The barcode alone, black on white with its quiet zone, `pixelsPerModule` pixels for
// each module. Throws std::runtime_error when zint refuses the data.
platform::Image barcodeImage(Symbology symbology, std::string_view data, int pixelsPerModule = 3);

// The code as a label prints it: zint's own drawing at `pixelsPerModule` (2 or more, where
// zint draws text), bars `barHeight` modules high (0 for zint's default), quiet zones and,
// when `humanReadable`, its text below.
platform::Image labelCode(Symbology symbology, std::string_view data, int pixelsPerModule,
                          double barHeight = 0, bool humanReadable = true);

// A line of text as zint prints it below a code, at `pixelsPerModule` (2 or more).
platform::Image textLine(std::string_view text, int pixelsPerModule);

// The text zint prints below the code for `data` (ITF-14 adds its check digit).
std::string printedText(Symbology symbology, std::string_view data);

// Draws `picture` onto `frame` with its top left corner at (x, y); what falls outside is
// left out.
void draw(platform::Image& frame, const platform::Image& picture, int x, int y);

// A frame of the given size, filled with `background`, with `barcode` drawn at (x, y),
// or in the middle (where a camera is held at a code: the reader looks for Aztec codes
// from the middle out) when x is negative.
platform::Image frameWith(const platform::Image& barcode, int width, int height, int x = -1,
                          int y = -1, platform::Image::Pixel background = {255, 255, 255, 255});

// The picture turned clockwise by `degrees` about its middle, on a white ground just
// large enough to hold it (nearest pixel; any angle).
platform::Image turned(const platform::Image& picture, double degrees);

// The picture with about `fraction` of its pixels set to black or white at random, the
// same ones for the same seed.
platform::Image withNoise(const platform::Image& picture, double fraction, unsigned seed = 7);

}  // namespace barcodes
