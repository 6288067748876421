#include "platform/device/CaptureSession.h"

// The reader's text() in UTF-8.
#define ZX_USE_UTF8 1
#include <ZXing/ReadBarcode.h>

#include <algorithm>
#include <cmath>
#include <cstring>

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
// the brightness gradients at a fixed number of points on and beside the line (beside it
// as well, so that a line along the code's top or bottom edge does not tip it). The line
// crosses the bars it was read on, so gradients within 15 degrees of square to it (the
// edge of a code the line runs along) are left out.
double acrossTheBars(const Image& frame, double ax, double ay, double bx, double by,
                     double module) {
    const double length = std::hypot(bx - ax, by - ay);
    const double dx = (bx - ax) / length, dy = (by - ay) / length;
    const double nx = -dy, ny = dx;
    double xx = 0, yy = 0, xy = 0;
    for (int i = 0; i <= 64; ++i)
        for (int side = -2; side <= 2; ++side) {
            const double x = ax + (bx - ax) * i / 64 + nx * side * module;
            const double y = ay + (by - ay) * i / 64 + ny * side * module;
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

// A line that crosses a turned interleaved 2 of 5 code from one long edge to the other
// can hold a start and a stop pattern with nothing but the white beyond those edges
// beside them, and reads as a shorter code. A code read whole has a quiet zone (10
// modules) beyond each end all along its bars, so a band 3.5 to 6.5 modules out, as long
// as the bars at that end, is light; beyond a crossing's end, which lies on a long edge,
// that band runs over the code's own bars. The band keeps to the bars' own extent,
// measured in the frame, wherever the reader's line lies on them (at the edge nearest
// the frame's middle, for a code off the middle, or between two like codes it read as
// one): clear of bearer bars, other codes or text above and below, and clear of the last
// bar where the reader places an end a module or two short (in a blurred frame).
bool hasQuietZonesAlongTheBars(const Image& frame, const ZXing::Result& result) {
    // The first line the reader read the code on (its last may lie on another stack).
    const auto& corners = result.position();
    const double x0 = corners[0].x, y0 = corners[0].y, x1 = corners[1].x, y1 = corners[1].y;
    const double length = std::hypot(x1 - x0, y1 - y0);
    if (length < 1) return false;
    // A narrow module: each pair of digits takes 6 narrow and 4 wide ones, the guards
    // about 8.5, with wide ones about 2.5 narrow.
    const double modules = 8.0 * double(result.text().size()) + 8.5;
    const double across = acrossTheBars(frame, x0, y0, x1, y1, length / modules);
    // u across the bars (the way the line runs), v along them.
    double ux = std::cos(across), uy = std::sin(across);
    if (ux * (x1 - x0) + uy * (y1 - y0) < 0) ux = -ux, uy = -uy;
    const double vx = -uy, vy = ux;
    const double acrossLength = ux * (x1 - x0) + uy * (y1 - y0);
    // A line that runs almost along the bars reads no code across them.
    if (acrossLength < length / 4) return false;
    const double module = acrossLength / modules;
    // A fixed number of points, however large the frame.
    double sum = 0;
    int count = 0;
    for (int i = 0; i <= 256; ++i)
        if (auto b = brightness(frame, x0 + (x1 - x0) * i / 256, y0 + (y1 - y0) * i / 256))
            sum += *b, ++count;
    if (count == 0) return false;
    const double threshold = sum / count;
    auto dark = [&](double x, double y) {
        auto b = brightness(frame, x, y);
        return b && *b < threshold;
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
    // The share of dark points in the band beyond the end (x, y) from `from` to `to` along v.
    auto darkShare = [&](double x, double y, double out, double from, double to) {
        int darkPoints = 0, seen = 0;
        for (int i = 0; i <= 6; ++i)
            for (int j = 0; j <= 16; ++j) {
                const double a = out * (3.5 + i / 2.0) * module, t = from + (to - from) * j / 16;
                if (auto b = brightness(frame, x + ux * a + vx * t, y + uy * a + vy * t))
                    ++seen, darkPoints += *b < threshold;
            }
        return seen ? double(darkPoints) / seen : 1.0;
    };
    // Codes read whole stay below 0.1 (noise, a turn, blur) and crossings give above 0.2.
    constexpr double kMostDark = 0.14;
    // Each end as the reader's first and last lines and their middle give it: the bars
    // found from each (two stacks where it read two like codes as one) have their band.
    const int maxSteps = int(std::min(1024.0, double(frame.width() + frame.height()) / module));
    auto endIsClear = [&](ZXing::PointI first, ZXing::PointI last, double out) {
        const double points[3][2] = {{double(first.x), double(first.y)},
                                     {double(last.x), double(last.y)},
                                     {(first.x + last.x) / 2.0, (first.y + last.y) / 2.0}};
        std::vector<std::pair<double, double>> stacks;  // along v, from the frame's origin
        for (const auto& [x, y] : points) {
            const double at = x * vx + y * vy;
            if (std::any_of(stacks.begin(), stacks.end(),
                            [at](const auto& s) { return at >= s.first && at <= s.second; }) ||
                !barsAt(x, y, out, 0))
                continue;
            int low = 0, high = 0;
            while (low > -maxSteps && barsAt(x, y, out, (low - 1) * module)) --low;
            while (high < maxSteps && barsAt(x, y, out, (high + 1) * module)) ++high;
            // A module in from the last rows found, which may be a bearer's blurred edge.
            const double from = (low + 1) * module, to = (high - 1) * module;
            const double middle = (from + to) / 2;
            if (darkShare(x, y, out, std::min(from, middle), std::max(to, middle)) >= kMostDark)
                return false;
            stacks.emplace_back(at + low * module, at + high * module);
        }
        return !stacks.empty();
    };
    return endIsClear(corners[0], corners[3], -1) && endIsClear(corners[1], corners[2], 1);
}

std::vector<MetadataObject> readBarcodes(const Image& frame,
                                         const std::vector<std::string>& types) {
    ZXing::BarcodeFormats formats, others;  // others: all but interleaved 2 of 5
    for (const auto& row : typeFormats())
        if (std::find(types.begin(), types.end(), row.type) != types.end()) {
            formats |= row.formats;
            if (row.formats != ZXing::BarcodeFormat::ITF) others |= row.formats;
        }
    if (formats.empty() || frame.isEmpty()) return {};
    ZXing::ImageView view(frame.rgba().data(), frame.width(), frame.height(),
                          ZXing::ImageFormat::RGBX);
    std::vector<MetadataObject> objects;
    // One code a frame: the reader asserts (ends the process) when it compares a second
    // find of a linear code with one seen on several lines, as turned or noisy codes
    // give. The scanner reports only the first code of a frame anyway.
    const auto hints = ZXing::DecodeHints().setFormats(formats).setMaxNumberOfSymbols(1);
    // The reader throws on some pictures (an index past its data); such a frame shows
    // nothing.
    try {
        for (const auto& result : ZXing::ReadBarcodes(view, hints)) {
            if (result.format() == ZXing::BarcodeFormat::ITF &&
                !hasQuietZonesAlongTheBars(frame, result)) {
                // The frame's codes of other formats still have their read.
                if (others.empty()) continue;
                auto otherHints = hints;
                otherHints.setFormats(others);
                for (const auto& other : ZXing::ReadBarcodes(view, otherHints))
                    if (auto object = objectFor(other)) objects.push_back(std::move(*object));
                continue;
            }
            if (auto object = objectFor(result)) objects.push_back(std::move(*object));
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
