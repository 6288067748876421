#include "platform/device/CaptureSession.h"

// The reader's text() in UTF-8.
#define ZX_USE_UTF8 1
#include <ZXing/ReadBarcode.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/SharedInstances.h"

namespace platform {

namespace {

struct TypeFormat {
    const char* type;
    ZXing::BarcodeFormats formats;
};

// What the reader looks for on behalf of each type. The camera reads a UPC-A code as
// the EAN-13 code it is part of.
const std::vector<TypeFormat>& typeFormats() {
    static const std::vector<TypeFormat> table = {
        {kMetadataObjectTypeUPCECode, ZXing::BarcodeFormat::UPCE},
        {kMetadataObjectTypeCode39Code, ZXing::BarcodeFormat::Code39},
        {kMetadataObjectTypeEAN13Code, ZXing::BarcodeFormat::EAN13 | ZXing::BarcodeFormat::UPCA},
        {kMetadataObjectTypeEAN8Code, ZXing::BarcodeFormat::EAN8},
        {kMetadataObjectTypeCode93Code, ZXing::BarcodeFormat::Code93},
        {kMetadataObjectTypeCode128Code, ZXing::BarcodeFormat::Code128},
        {kMetadataObjectTypePDF417Code, ZXing::BarcodeFormat::PDF417},
        {kMetadataObjectTypeQRCode, ZXing::BarcodeFormat::QRCode},
        {kMetadataObjectTypeAztecCode, ZXing::BarcodeFormat::Aztec},
        {kMetadataObjectTypeInterleaved2of5Code, ZXing::BarcodeFormat::ITF},
        {kMetadataObjectTypeDataMatrixCode, ZXing::BarcodeFormat::DataMatrix},
    };
    return table;
}

std::optional<MetadataObject> objectFor(const ZXing::Result& result) {
    if (!result.isValid()) return std::nullopt;
    const auto format = result.format();
    if (format == ZXing::BarcodeFormat::UPCA) {
        return MetadataObject{kMetadataObjectTypeEAN13Code, "0" + result.text()};
    }
    for (const auto& row : typeFormats())
        if (row.formats.testFlag(format)) return MetadataObject{row.type, result.text()};
    return std::nullopt;
}

// Brightness of the frame at a point, or none outside it.
std::optional<int> brightness(const Image& frame, double x, double y) {
    const long ix = std::lround(x), iy = std::lround(y);
    if (ix < 0 || iy < 0 || ix >= frame.width() || iy >= frame.height()) return std::nullopt;
    const uint8_t* p = frame.rgba().data() + (size_t(iy) * size_t(frame.width()) + size_t(ix)) * 4;
    return (p[0] * 2 + p[1] * 5 + p[2]) / 8;
}

// The direction across the bars about the line from a to b, in radians: the main axis of
// the brightness gradients at a fixed number of points on the line moved by (ox, oy) times
// each whole number from `first` to `last` (beside it as well, so that a line along the
// code's top or bottom edge does not tip it). The line crosses the bars it was read on, so
// gradients within 15 degrees of square to it (the edge of a code the line runs along) are
// left out.
double acrossTheBars(const Image& frame, double ax, double ay, double bx, double by, double ox,
                     double oy, int first, int last) {
    const double length = std::hypot(bx - ax, by - ay);
    const double dx = (bx - ax) / length, dy = (by - ay) / length;
    double xx = 0, yy = 0, xy = 0;
    for (int i = 0; i <= 64; ++i)
        for (int side = first; side <= last; ++side) {
            const double x = ax + (bx - ax) * i / 64 + ox * side;
            const double y = ay + (by - ay) * i / 64 + oy * side;
            auto at = [&](int ox, int oy) {
                return brightness(frame, x + ox, y + oy).value_or(255);
            };
            const int gx =
                at(1, -1) + 2 * at(1, 0) + at(1, 1) - at(-1, -1) - 2 * at(-1, 0) - at(-1, 1);
            const int gy =
                at(-1, 1) + 2 * at(0, 1) + at(1, 1) - at(-1, -1) - 2 * at(0, -1) - at(1, -1);
            const double along = gx * dx + gy * dy;
            if (along * along * 16 < double(gx) * gx + double(gy) * gy) continue;
            xx += double(gx) * gx, yy += double(gy) * gy, xy += double(gx) * gy;
        }
    return std::atan2(2 * xy, xx - yy) / 2;
}

// The directions about a read's first line: u across the bars the way the line runs, v
// along them, and a narrow module in pixels; none for a line that runs almost along the
// bars (it reads no code across them).
struct BarsAxes {
    double ux, uy, vx, vy, module;
};

// The modules of a read's line from its first bar to its last. Interleaved 2 of 5: each
// pair of digits takes 6 narrow and 4 wide ones, the guards about 8.5, with wide ones
// about 2.5 narrow. UPC-E: 6 digits of 7 and guards of 3 and 6; EAN-8: 8 digits and
// guards of 3, 5 and 3.
double modulesOf(const ZXing::Result& result) {
    if (result.format() == ZXing::BarcodeFormat::UPCE) return 51;
    if (result.format() == ZXing::BarcodeFormat::EAN8) return 67;
    return 8.0 * double(result.text().size()) + 8.5;
}

// The formats whose reads are checked against the frame: a line across a turned
// interleaved 2 of 5 code reads a shorter one, and part of an EAN-13 or UPC-A code (its
// left half with the middle guard, or a stretch that a turn or the frame's edge cuts
// out) reads as a UPC-E or EAN-8 code.
constexpr bool isChecked(ZXing::BarcodeFormat format) {
    return format == ZXing::BarcodeFormat::ITF || format == ZXing::BarcodeFormat::UPCE ||
           format == ZXing::BarcodeFormat::EAN8;
}

// The formats a longer code on the frame may hold.
constexpr bool isShortRetail(ZXing::BarcodeFormat format) {
    return format == ZXing::BarcodeFormat::UPCE || format == ZXing::BarcodeFormat::EAN8;
}

std::optional<BarsAxes> axesAbout(const ZXing::Result& result, double across) {
    const auto& corners = result.position();
    const double dx = corners[1].x - corners[0].x, dy = corners[1].y - corners[0].y;
    double ux = std::cos(across), uy = std::sin(across);
    if (ux * dx + uy * dy < 0) ux = -ux, uy = -uy;
    const double acrossLength = ux * dx + uy * dy;
    if (acrossLength < std::hypot(dx, dy) / 4) return std::nullopt;
    return BarsAxes{ux, uy, -uy, ux, acrossLength / modulesOf(result)};
}

// The threshold between dark and light along the read's first line.
std::optional<double> lineThreshold(const Image& frame, const ZXing::Result& result) {
    const auto& corners = result.position();
    const double x0 = corners[0].x, y0 = corners[0].y, x1 = corners[1].x, y1 = corners[1].y;
    // A fixed number of points, however large the frame.
    double sum = 0;
    int count = 0;
    for (int i = 0; i <= 256; ++i)
        if (auto b = brightness(frame, x0 + (x1 - x0) * i / 256, y0 + (y1 - y0) * i / 256))
            sum += *b, ++count;
    if (count == 0) return std::nullopt;
    return sum / count;
}

// A walk over the bars about a point, a along u and t along v.
class BarsWalk {
  public:
    BarsWalk(const Image& frame, const BarsAxes& axes, double threshold, double x, double y)
        : frame_(frame),
          axes_(axes),
          threshold_(threshold),
          x_(x),
          y_(y),
          maxSteps_(int(std::min(2048.0, 2 * (frame.width() + frame.height()) / axes.module))) {}

    bool dark(double a, double t) const {
        auto b =
            brightness(frame_, x_ + axes_.ux * a + axes_.vx * t, y_ + axes_.uy * a + axes_.vy * t);
        return b && *b < threshold_;
    }
    // Along u, `out` +1 or -1: a module beyond the last dark point before 7 light modules
    // (longer than a wide space and a wide bar).
    double end(double out) const {
        int last = 0;
        for (int i = 1; i <= maxSteps_ && i - last <= 14; ++i)
            if (dark(out * i * axes_.module / 2, 0)) last = i;
        return out * (last + 2) * axes_.module / 2;
    }
    // Along v: a module beyond the last place where the 8 modules about the point hold both
    // dark and light.
    double side(double out) const {
        auto bars = [&](double t) {
            bool seenDark = false, seenLight = false;
            for (int i = -8; i <= 8 && !(seenDark && seenLight); ++i)
                (dark(i * axes_.module / 2, t) ? seenDark : seenLight) = true;
            return seenDark && seenLight;
        };
        int last = 0;
        while (last < maxSteps_ && bars(out * (last + 1) * axes_.module)) ++last;
        return out * (last + 1) * axes_.module;
    }

  private:
    const Image& frame_;
    BarsAxes axes_;
    double threshold_;
    double x_, y_;
    int maxSteps_;
};

// The directions across the bars of the read's first line that the bars' gradients about
// it give.
std::optional<BarsAxes> axesAboutTheLine(const Image& frame, const ZXing::Result& result) {
    const auto& corners = result.position();
    const double x0 = corners[0].x, y0 = corners[0].y, x1 = corners[1].x, y1 = corners[1].y;
    const double length = std::hypot(x1 - x0, y1 - y0);
    if (length < 1) return std::nullopt;
    const double module = length / modulesOf(result);
    return axesAbout(result, acrossTheBars(frame, x0, y0, x1, y1, (y0 - y1) / length * module,
                                           (x1 - x0) / length * module, -2, 2));
}

// The same over the bars' whole length about the line's middle, where bars with a wave
// along their length, which turns the gradients about one line by as much as the wave's
// slope there, give their mean direction; none where the bars are short.
std::optional<BarsAxes> axesOverTheBars(const Image& frame, const ZXing::Result& result,
                                        const BarsAxes& aboutTheLine) {
    const auto& corners = result.position();
    const double x0 = corners[0].x, y0 = corners[0].y, x1 = corners[1].x, y1 = corners[1].y;
    const auto threshold = lineThreshold(frame, result);
    if (!threshold) return std::nullopt;
    const double module = aboutTheLine.module;
    const BarsWalk walk(frame, aboutTheLine, *threshold, (x0 + x1) / 2, (y0 + y1) / 2);
    const double from = walk.side(-1) + 2 * module, to = walk.side(1) - 2 * module;
    if (to - from < 8 * module) return std::nullopt;
    // At most 17 lines, a module or more apart.
    const double step = std::max(module, (to - from) / 16);
    return axesAbout(
        result, acrossTheBars(frame, x0, y0, x1, y1, aboutTheLine.vx * step, aboutTheLine.vy * step,
                              int(std::ceil(from / step)), int(std::floor(to / step))));
}

// A line that crosses a turned interleaved 2 of 5 code from one long edge to the other
// can hold a start and a stop pattern with nothing but the white beyond those edges
// beside them, and reads as a shorter code; so can a line over part of an EAN-13 or UPC-A
// code (turned, or cut by the frame's edge), as a UPC-E or EAN-8 code. A code read whole
// has a quiet zone beyond each end all along its bars, so a band out there, as long as
// the bars at that end, is light; beyond a crossing's end, which lies on a long edge or
// within the longer code, that band runs over bars, and beyond an end at the frame's edge
// it lies outside the frame, which counts as dark. The band keeps to the bars' own
// extent, measured in the frame, wherever the reader's line lies on them (at the edge
// nearest the frame's middle, for a code off the middle, or between two like codes it
// read as one): clear of bearer bars, other codes or text above and below, and clear of
// the last bar where the reader places an end a module or two short (in a blurred frame).
// Interleaved 2 of 5 (quiet zone 10 modules): 3.5 to 6.5 modules out. UPC-E and EAN-8
// (quiet zone 7): 2 to 6 modules out, as the digits of an EAN-13 code's right half hold
// light stretches of up to 4 modules.
bool endsAreClear(const Image& frame, const ZXing::Result& result, const BarsAxes& axes) {
    const auto& corners = result.position();
    const double ux = axes.ux, uy = axes.uy, vx = axes.vx, vy = axes.vy, module = axes.module;
    const auto threshold = lineThreshold(frame, result);
    if (!threshold) return false;
    const bool retail = isShortRetail(result.format());
    const double bandFrom = retail ? 2 : 3.5, bandTo = retail ? 6 : 6.5;
    auto dark = [&](double x, double y) {
        auto b = brightness(frame, x, y);
        return b && *b < *threshold;
    };
    // Whether the first 6 modules inward from the end (x, y), `out` +1 or -1 along u, hold
    // bars at `t` along v: both dark and light, where a bearer bar is dark all through and
    // the white around a code light.
    auto barsAt = [&](double x, double y, double out, double t) {
        bool seenDark = false, seenLight = false;
        for (int i = 1; i <= 12 && !(seenDark && seenLight); ++i) {
            const double a = -out * i / 2.0 * module;
            (dark(x + ux * a + vx * t, y + uy * a + vy * t) ? seenDark : seenLight) = true;
        }
        return seenDark && seenLight;
    };
    // The share of dark points in the band beyond the end (x, y) from `from` to `to` along
    // v, in steps of half a module along u.
    auto darkShare = [&](double x, double y, double out, double from, double to) {
        int darkPoints = 0, points = 0;
        for (double along = bandFrom; along <= bandTo; along += 0.5)
            for (int j = 0; j <= 16; ++j, ++points) {
                const double a = out * along * module, t = from + (to - from) * j / 16;
                auto b = brightness(frame, x + ux * a + vx * t, y + uy * a + vy * t);
                darkPoints += !b || *b < *threshold;
            }
        return double(darkPoints) / points;
    };
    // Codes read whole stay below 0.1 (noise, a turn, blur) and crossings give above 0.2.
    constexpr double kMostDark = 0.14;
    // Each end as the reader's first and last lines and their middle give it: the bars
    // found from each (two stacks where it read two like codes as one) have their band.
    // A line that runs from corner to corner of a turned code may end just beyond the
    // bars' ends: its end's bars are looked for up to 2 modules along them.
    const int maxSteps = int(std::min(1024.0, double(frame.width() + frame.height()) / module));
    auto endIsClear = [&](ZXing::PointI first, ZXing::PointI last, double out) {
        const double points[3][2] = {{double(first.x), double(first.y)},
                                     {double(last.x), double(last.y)},
                                     {(first.x + last.x) / 2.0, (first.y + last.y) / 2.0}};
        std::vector<std::pair<double, double>> stacks;  // along v, from the frame's origin
        for (const auto& [px, py] : points) {
            const double at = px * vx + py * vy;
            if (std::any_of(stacks.begin(), stacks.end(),
                            [at](const auto& s) { return at >= s.first && at <= s.second; }))
                continue;
            std::optional<double> onBars;
            for (const double t : {0.0, -1.0, 1.0, -2.0, 2.0})
                if (barsAt(px, py, out, t * module)) {
                    onBars = t * module;
                    break;
                }
            if (!onBars) continue;
            const double x = px + vx * *onBars, y = py + vy * *onBars;
            int low = 0, high = 0;
            while (low > -maxSteps && barsAt(x, y, out, (low - 1) * module)) --low;
            while (high < maxSteps && barsAt(x, y, out, (high + 1) * module)) ++high;
            // A module in from the last rows found, which may be a bearer's blurred edge.
            const double from = (low + 1) * module, to = (high - 1) * module;
            const double middle = (from + to) / 2;
            if (darkShare(x, y, out, std::min(from, middle), std::max(to, middle)) >= kMostDark)
                return false;
            stacks.emplace_back(at + *onBars + low * module, at + *onBars + high * module);
        }
        return !stacks.empty();
    };
    return endIsClear(corners[0], corners[3], -1) && endIsClear(corners[1], corners[2], 1);
}

// The band lies square to the bars as the gradients about the line give them or, where
// that band is not clear, as those over the bars' whole length give them.
bool hasQuietZonesAlongTheBars(const Image& frame, const ZXing::Result& result) {
    const auto aboutTheLine = axesAboutTheLine(frame, result);
    if (!aboutTheLine) return false;
    if (endsAreClear(frame, result, *aboutTheLine)) return true;
    const auto overTheBars = axesOverTheBars(frame, result, *aboutTheLine);
    return overTheBars && endsAreClear(frame, result, *overTheBars);
}

// Whitens, in `copy` of the frame, the code the refused read lies on: from the middle of
// the read's lines along u to where the bars end (a light stretch longer than a wide space
// and a wide bar), and along v while there are bars about that middle, with a module to
// spare; a code cut by the frame's edge ends there. Answers whether it whitened any pixel
// that was not white.
bool whitenTheCode(Image& copy, const Image& frame, const ZXing::Result& result) {
    const auto& corners = result.position();
    auto axes = axesAboutTheLine(frame, result);
    if (axes) {
        if (auto overTheBars = axesOverTheBars(frame, result, *axes)) axes = overTheBars;
    } else {
        axes =
            axesAbout(result, std::atan2(corners[1].y - corners[0].y, corners[1].x - corners[0].x));
    }
    const auto threshold = lineThreshold(frame, result);
    if (!axes || !threshold) return false;
    const double ux = axes->ux, uy = axes->uy, vx = axes->vx, vy = axes->vy;
    // The first line lies on the code (the last may lie on another stack).
    const double mx = (corners[0].x + corners[1].x) / 2.0, my = (corners[0].y + corners[1].y) / 2.0;
    const BarsWalk walk(frame, *axes, *threshold, mx, my);
    const double a0 = walk.end(-1), a1 = walk.end(1), t0 = walk.side(-1), t1 = walk.side(1);
    // The box of the whitened rectangle in the frame.
    double left = copy.width(), right = 0, top = copy.height(), bottom = 0;
    for (const double a : {a0, a1})
        for (const double t : {t0, t1}) {
            const double x = mx + ux * a + vx * t, y = my + uy * a + vy * t;
            left = std::min(left, x), right = std::max(right, x);
            top = std::min(top, y), bottom = std::max(bottom, y);
        }
    const int x0 = std::max(0, int(std::floor(left))),
              x1 = std::min(copy.width() - 1, int(std::ceil(right)));
    const int y0 = std::max(0, int(std::floor(top))),
              y1 = std::min(copy.height() - 1, int(std::ceil(bottom)));
    uint8_t* pixels = copy.mutableData();
    bool whitened = false;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            const double a = (x - mx) * ux + (y - my) * uy, t = (x - mx) * vx + (y - my) * vy;
            uint8_t* pixel = pixels + (size_t(y) * size_t(copy.width()) + size_t(x)) * 4;
            if (a < a0 || a > a1 || t < t0 || t > t1 || (pixel[0] & pixel[1] & pixel[2]) == 255)
                continue;
            std::memset(pixel, 255, 3);
            whitened = true;
        }
    return whitened;
}

// Whether a read's lines, carried on beyond each end as far as the quiet zone (10
// modules), meet a pixel of a refused code that `copy` has whitened: two codes that close
// are refused together, as when the reader met the second first.
bool nearAWhitenedCode(const Image& copy, const Image& frame, const ZXing::Result& result) {
    const auto& corners = result.position();
    auto whitenedAt = [&](double x, double y) {
        const long ix = std::lround(x), iy = std::lround(y);
        if (ix < 0 || iy < 0 || ix >= frame.width() || iy >= frame.height()) return false;
        const size_t at = (size_t(iy) * size_t(frame.width()) + size_t(ix)) * 4;
        return std::memcmp(copy.rgba().data() + at, frame.rgba().data() + at, 3) != 0;
    };
    for (const auto& [from, to] : {std::pair{corners[0], corners[1]}, {corners[3], corners[2]}}) {
        if (std::hypot(to.x - from.x, to.y - from.y) < 1) continue;
        const double step = 0.5 / modulesOf(result);  // half a module, a share of the line
        for (int i = 1; i <= 20; ++i)
            if (whitenedAt(to.x + (to.x - from.x) * step * i, to.y + (to.y - from.y) * step * i) ||
                whitenedAt(from.x - (to.x - from.x) * step * i,
                           from.y - (to.y - from.y) * step * i))
                return true;
    }
    return false;
}

std::vector<MetadataObject> readBarcodes(const Image& frame,
                                         const std::vector<std::string>& types) {
    ZXing::BarcodeFormats formats;
    for (const auto& row : typeFormats())
        if (std::find(types.begin(), types.end(), row.type) != types.end()) formats |= row.formats;
    if (formats.empty() || frame.isEmpty()) return {};
    std::vector<MetadataObject> objects;
    // One code a frame: the reader asserts (ends the process) when it compares a second
    // find of a linear code with one seen on several lines, as turned or noisy codes
    // give. The scanner reports only the first code of a frame anyway.
    auto hints = ZXing::DecodeHints().setFormats(formats).setMaxNumberOfSymbols(1);
    // A refused read would hide the frame's other codes, of every format: the frame is
    // read again, a few times at most. A refused interleaved 2 of 5 code is whitened. A
    // refused UPC-E or EAN-8 read most often lies on a longer code, which whitening would
    // take: the frame is read again without those two formats first, and only where that
    // finds nothing, with them and the refused codes whitened. Each read is checked
    // against the frame as the camera saw it.
    constexpr int kMostReads = 4;
    std::optional<Image> whitened;
    std::vector<ZXing::Result> refusedShort;  // not whitened yet
    auto whiten = [&](const ZXing::Result& result) {
        if (!whitened) whitened = frame;
        return whitenTheCode(*whitened, frame, result);
    };
    // The reader throws on some pictures (an index past its data); such a frame shows
    // nothing.
    try {
        for (int read = 0; read < kMostReads && objects.empty(); ++read) {
            const Image& picture = whitened ? *whitened : frame;
            ZXing::ImageView view(picture.rgba().data(), picture.width(), picture.height(),
                                  ZXing::ImageFormat::RGBX);
            bool again = false;
            for (const auto& result : ZXing::ReadBarcodes(view, hints)) {
                if (isChecked(result.format()) &&
                    (!hasQuietZonesAlongTheBars(frame, result) ||
                     (whitened && nearAWhitenedCode(*whitened, frame, result)))) {
                    if (!isShortRetail(result.format())) {
                        again = whiten(result) || again;
                        continue;
                    }
                    refusedShort.push_back(result);
                    auto others = hints.formats();
                    others.setFlag(ZXing::BarcodeFormat::UPCE, false)
                        .setFlag(ZXing::BarcodeFormat::EAN8, false);
                    // No formats at all would ask the reader for every one.
                    if (!others.empty()) {
                        hints.setFormats(others);
                        again = true;
                    }
                    continue;
                }
                if (auto object = objectFor(result)) objects.push_back(std::move(*object));
            }
            if (!again && !refusedShort.empty()) {
                hints.setFormats(formats);
                for (const auto& result : std::exchange(refusedShort, {}))
                    again = whiten(result) || again;
            }
            if (!again) break;
        }
    } catch (const std::exception& e) {
        PLATFORM_LOG_WARN("Camera frame could not be read: {}", e.what());
        return {};
    }
    return objects;
}

struct FrameState {
    std::mutex mutex;
    std::shared_ptr<const Image> current;                // guarded by mutex
    std::vector<std::weak_ptr<CaptureSession>> running;  // main thread
};

FrameState& frameState() {
    static auto* state = [] {
        auto* s = new FrameState;
        registerSharedInstanceReset("CameraFrameSource", [s] {
            std::lock_guard lock(s->mutex);
            s->current.reset();
            s->running.clear();
        });
        return s;
    }();
    return *state;
}

}  // namespace

PixelBuffer::PixelBuffer(int width, int height, size_t bytesPerRow, uint32_t pixelFormat,
                         std::vector<uint8_t> bytes)
    : width_(width),
      height_(height),
      bytesPerRow_(bytesPerRow),
      pixelFormat_(pixelFormat),
      bytes_(std::move(bytes)) {}

std::shared_ptr<PixelBuffer> PixelBuffer::bgraFromImage(const Image& image) {
    const size_t w = size_t(image.width()), h = size_t(image.height());
    const size_t rowBytes = (w * 4 + 16 + 63) / 64 * 64;
    std::vector<uint8_t> bytes(rowBytes * h, 0xA5);
    const uint8_t* src = image.rgba().data();
    for (size_t y = 0; y < h; ++y) {
        uint8_t* row = bytes.data() + y * rowBytes;
        for (size_t x = 0; x < w; ++x, src += 4) {
            row[x * 4 + 0] = src[2];
            row[x * 4 + 1] = src[1];
            row[x * 4 + 2] = src[0];
            row[x * 4 + 3] = src[3];
        }
    }
    return std::make_shared<PixelBuffer>(image.width(), image.height(), rowBytes,
                                         kPixelFormatType32BGRA, std::move(bytes));
}

std::vector<std::shared_ptr<CaptureConnection>> CaptureOutput::connections() const {
    auto session = session_.lock();
    if (!session) {
        connections_.clear();
        return {};
    }
    const auto& inputs = session->inputs();
    connections_.resize(inputs.size());
    for (auto& connection : connections_)
        if (!connection)
            connection = std::make_shared<CaptureConnection>(
                std::vector<CaptureInputPort>{{kMediaTypeVideo}});
    return connections_;
}

std::shared_ptr<CaptureMetadataOutput> CaptureMetadataOutput::create() {
    return std::make_shared<CaptureMetadataOutput>();
}

std::vector<std::string> CaptureMetadataOutput::availableMetadataObjectTypes() const {
    auto owner = session();
    if (!owner || !owner->hasVideoInput()) return {};
    std::vector<std::string> types;
    for (const auto& row : typeFormats()) types.emplace_back(row.type);
    return types;
}

void CaptureMetadataOutput::setMetadataObjectTypes(std::vector<std::string> types) {
    const auto available = availableMetadataObjectTypes();
    for (const auto& type : types)
        if (std::find(available.begin(), available.end(), type) == available.end())
            throw Exception(kInvalidArgumentException,
                            "setMetadataObjectTypes: unsupported type found: " + type);
    types_ = std::move(types);
}

void CaptureMetadataOutput::readFrame(const Image& frame, std::vector<MetadataObject> extra) {
    if (delegate_.expired()) return;
    auto found = readBarcodes(frame, types_);
    extra.insert(extra.end(), std::make_move_iterator(found.begin()),
                 std::make_move_iterator(found.end()));
    if (extra.empty()) return;
    auto self = std::static_pointer_cast<CaptureMetadataOutput>(shared_from_this());
    auto connections = this->connections();
    RunLoop::main().post([self, objects = std::move(extra),
                          connection = connections.empty() ? nullptr : connections.front()] {
        if (auto delegate = self->delegate_.lock())
            delegate->captureOutputDidOutputMetadataObjects(*self, objects, connection);
    });
}

std::shared_ptr<CaptureStillImageOutput> CaptureStillImageOutput::create() {
    return std::make_shared<CaptureStillImageOutput>();
}

void CaptureStillImageOutput::setPixelFormatType(uint32_t fourCharCode) {
    if (fourCharCode != kPixelFormatType32BGRA)
        throw Exception(kInvalidArgumentException, "setOutputSettings: unsupported pixel format");
    pixelFormat_ = fourCharCode;
}

void CaptureStillImageOutput::captureStillImageAsynchronously(
    const std::shared_ptr<CaptureConnection>& connection, Completion completion) {
    std::optional<Error> failure = std::exchange(nextFailure_, std::nullopt);
    std::shared_ptr<PixelBuffer> buffer;
    if (!failure) {
        const auto mine = connections();
        auto owner = session();
        if (!connection || std::find(mine.begin(), mine.end(), connection) == mine.end())
            failure = Error(kCaptureErrorDomain, -11803, "Cannot Record");
        else if (!owner || !owner->isRunning())
            failure = Error(kCaptureErrorDomain, -11805, "Cannot Record");
        else if (auto frame = CameraFrameSource::currentFrame(); !frame || frame->isEmpty())
            failure = Error(kCaptureErrorDomain, -11800, "The operation could not be completed");
        else
            buffer = PixelBuffer::bgraFromImage(*frame);
    }
    DispatchQueue::global().async([completion = std::move(completion), buffer = std::move(buffer),
                                   failure = std::move(failure)] { completion(buffer, failure); });
}

std::shared_ptr<CaptureSession> CaptureSession::create() {
    return std::shared_ptr<CaptureSession>(new CaptureSession);
}

CaptureSession::~CaptureSession() {
    for (auto& output : outputs_) output->session_.reset();
}

bool CaptureSession::canAddInput(const std::shared_ptr<CaptureDeviceInput>& input) const {
    return input && std::find(inputs_.begin(), inputs_.end(), input) == inputs_.end();
}

void CaptureSession::addInput(const std::shared_ptr<CaptureDeviceInput>& input) {
    if (!canAddInput(input))
        throw Exception(kInvalidArgumentException, "addInput: cannot add input");
    inputs_.push_back(input);
}

void CaptureSession::removeInput(const std::shared_ptr<CaptureDeviceInput>& input) {
    std::erase(inputs_, input);
}

bool CaptureSession::hasVideoInput() const {
    return std::any_of(inputs_.begin(), inputs_.end(), [](const auto& input) {
        return input->device() && input->device()->hasMediaType(kMediaTypeVideo);
    });
}

bool CaptureSession::canAddOutput(const std::shared_ptr<CaptureOutput>& output) const {
    return output && !output->session();
}

void CaptureSession::addOutput(const std::shared_ptr<CaptureOutput>& output) {
    if (!canAddOutput(output))
        throw Exception(kInvalidArgumentException, "addOutput: cannot add output");
    output->session_ = weak_from_this();
    outputs_.push_back(output);
}

void CaptureSession::removeOutput(const std::shared_ptr<CaptureOutput>& output) {
    if (!output || output->session().get() != this) return;
    output->session_.reset();
    output->connections_.clear();
    std::erase(outputs_, output);
}

void CaptureSession::startRunning() {
    if (running_) return;
    running_ = true;
    auto& running = frameState().running;
    std::erase_if(running, [](const auto& weak) { return weak.expired(); });
    running.push_back(weak_from_this());
}

void CaptureSession::stopRunning() {
    if (!running_) return;
    running_ = false;
    std::erase_if(frameState().running, [this](const auto& weak) {
        auto session = weak.lock();
        return !session || session.get() == this;
    });
}

void CaptureSession::receiveFrame(const Image& frame, const std::vector<MetadataObject>& extra) {
    if (!running_ || !hasVideoInput()) return;
    // A delegate may change the outputs later; this frame goes to those there now.
    const auto outputs = outputs_;
    for (const auto& output : outputs)
        if (auto metadata = std::dynamic_pointer_cast<CaptureMetadataOutput>(output))
            metadata->readFrame(frame, extra);
}

void CameraFrameSource::showFrame(Image frame, std::vector<MetadataObject> extra) {
    auto& state = frameState();
    auto shown = std::make_shared<const Image>(std::move(frame));
    {
        std::lock_guard lock(state.mutex);
        state.current = shown;
    }
    std::vector<std::shared_ptr<CaptureSession>> sessions;
    for (const auto& weak : state.running)
        if (auto session = weak.lock()) sessions.push_back(std::move(session));
    for (const auto& session : sessions) session->receiveFrame(*shown, extra);
}

std::optional<Image> CameraFrameSource::currentFrame() {
    auto& state = frameState();
    std::lock_guard lock(state.mutex);
    if (!state.current) return std::nullopt;
    return *state.current;
}

}  // namespace platform
