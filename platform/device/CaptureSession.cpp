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
// as well, so that a line along the code's top or bottom edge does not tip it).
double acrossTheBars(const Image& frame, double ax, double ay, double bx, double by,
                     double module) {
    const double length = std::hypot(bx - ax, by - ay);
    const double nx = (ay - by) / length, ny = (bx - ax) / length;
    double xx = 0, yy = 0, xy = 0;
    for (int i = 0; i <= 64; ++i)
        for (int side = -2; side <= 2; ++side) {
            const double x = ax + (bx - ax) * i / 64 + nx * side * module;
            const double y = ay + (by - ay) * i / 64 + ny * side * module;
            auto at = [&](int dx, int dy) {
                return brightness(frame, x + dx, y + dy).value_or(255);
            };
            const int gx =
                at(1, -1) + 2 * at(1, 0) + at(1, 1) - at(-1, -1) - 2 * at(-1, 0) - at(-1, 1);
            const int gy =
                at(-1, 1) + 2 * at(0, 1) + at(1, 1) - at(-1, -1) - 2 * at(0, -1) - at(1, -1);
            xx += double(gx) * gx, yy += double(gy) * gy, xy += double(gx) * gy;
        }
    return std::atan2(2 * xy, xx - yy) / 2;
}

// A line that crosses a turned interleaved 2 of 5 code from one long edge to the other
// can hold a start and a stop pattern with nothing but the white beyond those edges
// beside them, and reads as a shorter code. A code read whole has a quiet zone (10
// modules) beyond each end all along its bars, so a band 3.5 to 6.5 modules out, running
// along the bars from the end's height to the line's middle, is light; beyond a
// crossing's end, which lies on a long edge, that band runs over the code's own bars.
// The band stays within the bars' height, clear of bearer bars, other codes or text
// above and below, and clear of the last bar where the reader places an end a module or
// two short (near the top or bottom of the bars, in a blurred frame).
bool hasQuietZonesAlongTheBars(const Image& frame, const ZXing::Result& result) {
    const auto& corners = result.position();
    const double x0 = (corners[0].x + corners[3].x) / 2.0, y0 = (corners[0].y + corners[3].y) / 2.0;
    const double x1 = (corners[1].x + corners[2].x) / 2.0, y1 = (corners[1].y + corners[2].y) / 2.0;
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
    const double mx = (x0 + x1) / 2, my = (y0 + y1) / 2;
    // The share of dark points in the band beyond the end (x, y), `out` +1 or -1 along u;
    // the band reaches a module past the end's and the middle's heights.
    auto darkShare = [&](double x, double y, double out) {
        const double middle = (mx - x) * vx + (my - y) * vy;
        const double from = std::min(0.0, middle) - module, to = std::max(0.0, middle) + module;
        int dark = 0, seen = 0;
        for (int i = 0; i <= 6; ++i)
            for (int j = 0; j <= 16; ++j) {
                const double a = out * (3.5 + i / 2.0) * module, t = from + (to - from) * j / 16;
                if (auto b = brightness(frame, x + ux * a + vx * t, y + uy * a + vy * t))
                    ++seen, dark += *b < threshold;
            }
        return seen ? double(dark) / seen : 1.0;
    };
    // Codes read whole stay below 0.1 (noise, a turn, blur) and crossings give above 0.2.
    constexpr double kMostDark = 0.14;
    return darkShare(x0, y0, -1) < kMostDark && darkShare(x1, y1, 1) < kMostDark;
}

std::vector<MetadataObject> readBarcodes(const Image& frame,
                                         const std::vector<std::string>& types) {
    ZXing::BarcodeFormats formats;
    for (const auto& row : typeFormats())
        if (std::find(types.begin(), types.end(), row.type) != types.end()) formats |= row.formats;
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
                !hasQuietZonesAlongTheBars(frame, result))
                continue;
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
