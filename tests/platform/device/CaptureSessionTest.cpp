#include <gtest/gtest.h>

// The reader's text() in UTF-8.
#define ZX_USE_UTF8 1
#include <ZXing/ReadBarcode.h>
#include <zint.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <numbers>
#include <stdexcept>

#include "platform/device/CaptureSession.h"
#include "platform/device/CaptureVideoPreviewLayer.h"
#include "platform/device/VideoCaptureDevice.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/TestDriver.h"
#include "platform/foundation/Thread.h"
#include "tests/support/PlatformTest.h"
#include "tests/support/barcodes/ZintBarcodes.h"

using barcodes::Symbology;
using namespace platform;

namespace {

// Frames of the carton label table at each label, size and turn.
constexpr int kCartonSamples = 1;

class RecordingMetadataDelegate : public CaptureMetadataOutputObjectsDelegate {
  public:
    void captureOutputDidOutputMetadataObjects(
        CaptureMetadataOutput&, const std::vector<MetadataObject>& objects,
        const std::shared_ptr<CaptureConnection>& connection) override {
        EXPECT_TRUE(connection);
        calls.push_back(objects);
    }
    std::vector<std::vector<MetadataObject>> calls;
};

class CaptureSessionTest : public PlatformTest {
  protected:
    // A running session with the camera's input and a metadata output reading `types`.
    void startReading(std::vector<std::string> types) {
        Error error;
        auto input =
            CaptureDeviceInput::create(VideoCaptureDevice::defaultDevice(kMediaTypeVideo), &error);
        ASSERT_TRUE(input);
        session = CaptureSession::create();
        session->addInput(input);
        metadata = CaptureMetadataOutput::create();
        session->addOutput(metadata);
        metadata->setMetadataObjectTypes(std::move(types));
        metadata->setMetadataObjectsDelegate(delegate);
        session->startRunning();
    }
    std::vector<MetadataObject> show(const Image& frame, std::vector<MetadataObject> extra = {}) {
        delegate->calls.clear();
        CameraFrameSource::showFrame(frame, std::move(extra));
        runUntilIdle();
        if (delegate->calls.empty()) return {};
        EXPECT_EQ(delegate->calls.size(), 1u);
        return delegate->calls.front();
    }

    std::shared_ptr<RecordingMetadataDelegate> delegate =
        std::make_shared<RecordingMetadataDelegate>();
    std::shared_ptr<CaptureSession> session;
    std::shared_ptr<CaptureMetadataOutput> metadata;
};

std::vector<std::string> allBarcodeTypes() {
    return {kMetadataObjectTypeUPCECode,      kMetadataObjectTypeCode39Code,
            kMetadataObjectTypeEAN13Code,     kMetadataObjectTypeEAN8Code,
            kMetadataObjectTypeCode93Code,    kMetadataObjectTypeCode128Code,
            kMetadataObjectTypePDF417Code,    kMetadataObjectTypeQRCode,
            kMetadataObjectTypeAztecCode,     kMetadataObjectTypeInterleaved2of5Code,
            kMetadataObjectTypeDataMatrixCode};
}

TEST_F(CaptureSessionTest, TheCameraAndItsTorch) {
    EXPECT_FALSE(VideoCaptureDevice::defaultDevice(kMediaTypeMetadata));
    auto device = VideoCaptureDevice::defaultDevice(kMediaTypeVideo);
    ASSERT_TRUE(device);
    EXPECT_EQ(device, VideoCaptureDevice::defaultDevice(kMediaTypeVideo));
    EXPECT_TRUE(device->hasTorch());
    EXPECT_THROW(device->setTorchMode(TorchMode::On), Exception);

    Error error;
    ASSERT_TRUE(device->lockForConfiguration(&error));
    device->setTorchMode(TorchMode::On);
    device->unlockForConfiguration();
    EXPECT_EQ(device->torchMode(), TorchMode::On);

    device->setLockErrorForTesting(Error(kCaptureErrorDomain, -11852, "in use"));
    EXPECT_FALSE(device->lockForConfiguration(&error));
    EXPECT_EQ(error.code(), -11852);
    EXPECT_FALSE(device->isLockedForConfiguration());

    VideoCaptureDevice::setAvailableForTesting(false);
    EXPECT_FALSE(VideoCaptureDevice::defaultDevice(kMediaTypeVideo));
}

TEST_F(CaptureSessionTest, InputCreationCanFail) {
    auto device = VideoCaptureDevice::defaultDevice(kMediaTypeVideo);
    Error error;
    EXPECT_FALSE(CaptureDeviceInput::create(nullptr, &error));
    EXPECT_EQ(error.domain(), kCaptureErrorDomain);

    CaptureDeviceInput::setCreationErrorForTesting(Error("test", 7));
    EXPECT_FALSE(CaptureDeviceInput::create(device, &error));
    EXPECT_EQ(error, Error("test", 7));
    CaptureDeviceInput::setCreationErrorForTesting(std::nullopt);
    auto input = CaptureDeviceInput::create(device, &error);
    ASSERT_TRUE(input);
    EXPECT_EQ(input->device(), device);
}

TEST_F(CaptureSessionTest, TypesBecomeAvailableWithAVideoInput) {
    auto output = CaptureMetadataOutput::create();
    EXPECT_TRUE(output->availableMetadataObjectTypes().empty());
    output->setMetadataObjectTypes(output->availableMetadataObjectTypes());
    EXPECT_THROW(output->setMetadataObjectTypes({kMetadataObjectTypeQRCode}), Exception);

    auto session = CaptureSession::create();
    session->addOutput(output);
    EXPECT_FALSE(session->canAddOutput(output));
    EXPECT_TRUE(output->availableMetadataObjectTypes().empty());
    EXPECT_TRUE(output->connections().empty());
    Error error;
    session->addInput(
        CaptureDeviceInput::create(VideoCaptureDevice::defaultDevice(kMediaTypeVideo), &error));
    EXPECT_EQ(output->availableMetadataObjectTypes(), allBarcodeTypes());
    EXPECT_THROW(output->setMetadataObjectTypes({kMetadataObjectTypeFace}), Exception);
    EXPECT_EQ(output->connections().size(), 1u);

    session->setSessionPreset(kCaptureSessionPresetInputPriority);
    EXPECT_EQ(session->sessionPreset(), kCaptureSessionPresetInputPriority);
    session->removeOutput(output);
    EXPECT_FALSE(output->session());
    EXPECT_TRUE(session->outputs().empty());
}

struct ReadingCase {
    Symbology symbology;
    std::string data;
    const char* type;
    std::string text;
};

const std::vector<ReadingCase>& readingCases() {
    static const std::vector<ReadingCase> cases = {
        {Symbology::UPCE, "0123456", kMetadataObjectTypeUPCECode, "01234565"},
        {Symbology::Code39, "MEROVANE-39", kMetadataObjectTypeCode39Code, "MEROVANE-39"},
        {Symbology::EAN13, "400638133393", kMetadataObjectTypeEAN13Code, "4006381333931"},
        // The camera reads UPC-A as EAN-13 with a leading zero.
        {Symbology::UPCA, "03600029145", kMetadataObjectTypeEAN13Code, "0036000291452"},
        {Symbology::EAN8, "9638507", kMetadataObjectTypeEAN8Code, "96385074"},
        {Symbology::Code93, "CODE 93", kMetadataObjectTypeCode93Code, "CODE 93"},
        {Symbology::Code128, "Scan me 128", kMetadataObjectTypeCode128Code, "Scan me 128"},
        {Symbology::PDF417, "pdf four one seven", kMetadataObjectTypePDF417Code,
         "pdf four one seven"},
        {Symbology::QRCode, "https://shop.example/p/42", kMetadataObjectTypeQRCode,
         "https://shop.example/p/42"},
        {Symbology::Aztec, "aztec text", kMetadataObjectTypeAztecCode, "aztec text"},
        {Symbology::ITF, "12345678", kMetadataObjectTypeInterleaved2of5Code, "12345678"},
        {Symbology::DataMatrix, "matrix 8.0", kMetadataObjectTypeDataMatrixCode, "matrix 8.0"},
    };
    return cases;
}

TEST_F(CaptureSessionTest, ReadsEveryFormatThatZintMakes) {
    const auto& cases = readingCases();
    startReading(allBarcodeTypes());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.data);
        auto frame = barcodes::frameWith(barcodes::barcodeImage(c.symbology, c.data), 640, 480);
        EXPECT_EQ(show(frame), (std::vector<MetadataObject>{{c.type, c.text}}));
    }
}

// Every format turned in steps of 15 degrees, at 1 to 4 pixels a module, clean and (at 2
// and 3) noisy: a code may be missed, never misread, and upright clean ones are always
// read. A line across a turned interleaved 2 of 5 code reads a shorter one unless the
// reader looks beside it.
TEST_F(CaptureSessionTest, TurnedCodesAreReadAsTheyAreOrNotAtAll) {
    auto cases = readingCases();
    cases.push_back({Symbology::ITF, "12345678901234", kMetadataObjectTypeInterleaved2of5Code,
                     "12345678901234"});
    cases.push_back(
        {Symbology::ITF, "0123456789", kMetadataObjectTypeInterleaved2of5Code, "0123456789"});
    startReading(allBarcodeTypes());
    int frames = 0, reads = 0, misreads = 0;
    for (const auto& c : cases)
        for (int pixelsPerModule = 1; pixelsPerModule <= 4; ++pixelsPerModule) {
            const auto code = barcodes::barcodeImage(c.symbology, c.data, pixelsPerModule);
            for (int degrees = 0; degrees < 360; degrees += 15) {
                // The code's quiet zones make the frame's edges.
                const auto turned = barcodes::turned(code, degrees);
                for (const double noise : {0.0, 0.03}) {
                    // Noise at the middle sizes only, to keep the table quick.
                    if (noise > 0 && (pixelsPerModule == 1 || pixelsPerModule == 4)) continue;
                    const auto frame =
                        noise > 0 ? barcodes::withNoise(turned, noise, unsigned(degrees)) : turned;
                    SCOPED_TRACE(c.data + " at " + std::to_string(degrees) + " degrees, " +
                                 std::to_string(pixelsPerModule) + " pixels a module, noise " +
                                 std::to_string(noise));
                    const auto found = show(frame);
                    ++frames;
                    ASSERT_LE(found.size(), 1u);
                    if (!found.empty()) {
                        EXPECT_EQ(found.front(), (MetadataObject{c.type, c.text}));
                        ++(found.front() == MetadataObject{c.type, c.text} ? reads : misreads);
                    } else if (degrees % 90 == 0 && noise == 0) {
                        // The reader finds no Data Matrix code at one pixel a module.
                        EXPECT_TRUE(c.symbology == Symbology::DataMatrix && pixelsPerModule == 1);
                    }
                }
            }
        }
    EXPECT_EQ(misreads, 0);
    RecordProperty("frames", frames);
    RecordProperty("reads", reads);
    std::printf("%d frames: %d read, %d misread\n", frames, reads, misreads);
}

struct Label {
    std::string name;
    platform::Image picture;
    std::vector<std::string> codes;
};

// Interleaved 2 of 5 codes as labels carry them, with the dark marks that lie near a
// code's ends there: an ITF-14 in its bearer box (bars 32 and 42 modules high) under a
// line of text, two short codes one above the other 4 modules apart, the lower one
// reaching past the upper one's end, and two codes side by side under a line of text.
// Each code has its digits below.
std::vector<Label> itfLabels(int pixelsPerModule) {
    const int m = pixelsPerModule;
    auto label = [m](int widthInModules, int heightInModules) {
        return platform::Image(widthInModules * m, heightInModules * m, 1, {255, 255, 255, 255});
    };
    std::vector<Label> labels;
    const auto text = barcodes::textLine("LOT 4711 BEST BEFORE 2027-06", m);
    for (const int barHeight : {32, 42}) {
        const auto carton = barcodes::labelCode(Symbology::ITF14, "1234567890123", m, barHeight);
        Label l{"carton, bars " + std::to_string(barHeight) + " modules high",
                label(std::max(carton.width(), text.width()) / m + 20,
                      (carton.height() + text.height()) / m + 22),
                {barcodes::printedText(Symbology::ITF14, "1234567890123")}};
        barcodes::draw(l.picture, text, 10 * m, 10 * m);
        barcodes::draw(l.picture, carton, 10 * m, 12 * m + text.height());
        labels.push_back(std::move(l));
    }
    {
        const auto upper = barcodes::labelCode(Symbology::ITF, "12345678", m, 15, false);
        const auto lower = barcodes::labelCode(Symbology::ITF, "0123456789", m, 15);
        Label l{"two codes one above the other",
                label(lower.width() / m + 28, (upper.height() + lower.height()) / m + 24),
                {"12345678", "0123456789"}};
        barcodes::draw(l.picture, upper, 10 * m, 10 * m);
        barcodes::draw(l.picture, lower, 18 * m, 14 * m + upper.height());
        labels.push_back(std::move(l));
    }
    {
        const auto left = barcodes::labelCode(Symbology::ITF, "12345678", m, 30);
        const auto right = barcodes::labelCode(Symbology::ITF, "24681357", m, 30);
        const auto pick = barcodes::textLine("PICK 12 ITEMS SHELF B-07", m);
        Label l{"two codes side by side",
                label(std::max(left.width() + right.width(), pick.width()) / m + 20,
                      (left.height() + pick.height()) / m + 22),
                {"12345678", "24681357"}};
        barcodes::draw(l.picture, pick, 10 * m, 10 * m);
        barcodes::draw(l.picture, left, 10 * m, 12 * m + pick.height());
        barcodes::draw(l.picture, right, 10 * m + left.width(), 12 * m + pick.height());
        labels.push_back(std::move(l));
    }
    return labels;
}

// What the reader alone finds first in the frame, as the session asks it.
std::string readerAloneReads(const platform::Image& frame) {
    ZXing::ImageView view(frame.rgba().data(), frame.width(), frame.height(),
                          ZXing::ImageFormat::RGBX);
    const auto hints =
        ZXing::DecodeHints().setFormats(ZXing::BarcodeFormat::ITF).setMaxNumberOfSymbols(1);
    for (const auto& result : ZXing::ReadBarcodes(view, hints))
        if (result.isValid()) return result.text();
    return "";
}

bool holds(const Label& label, const std::string& text) {
    return std::find(label.codes.begin(), label.codes.end(), text) != label.codes.end();
}

// What the camera and the reader alone made of a label table's frames.
struct LabelTally {
    int frames = 0, reads = 0, misreads = 0, readerReads = 0, readerMisreads = 0;

    // Counts a frame; answers the camera's text, none or a code the label holds.
    std::string count(const Label& label, const std::string& alone,
                      const std::vector<MetadataObject>& found) {
        ++frames;
        readerReads += holds(label, alone);
        readerMisreads += !alone.empty() && !holds(label, alone);
        EXPECT_LE(found.size(), 1u);
        const auto text = found.empty() ? "" : found.front().stringValue.value_or("");
        EXPECT_TRUE(text.empty() || holds(label, text)) << text;
        reads += holds(label, text);
        misreads += !text.empty() && !holds(label, text);
        return text;
    }
    void report() const {
        EXPECT_EQ(misreads, 0);
        ::testing::Test::RecordProperty("frames", frames);
        ::testing::Test::RecordProperty("reads", reads);
        std::printf("%d frames: %d read, %d misread; the reader alone %d read, %d misread\n",
                    frames, reads, misreads, readerReads, readerMisreads);
    }
};

// Labels turned up to 20 degrees either way, at 2 to 4 pixels a module: the session
// reports no code that the label does not hold, and a code on every frame that the reader
// alone reads right.
TEST_F(CaptureSessionTest, ITFLabelsAreReadAsTheyAreOrNotAtAll) {
    startReading({kMetadataObjectTypeInterleaved2of5Code});
    LabelTally tally;
    for (int pixelsPerModule = 2; pixelsPerModule <= 4; ++pixelsPerModule)
        for (const auto& label : itfLabels(pixelsPerModule))
            for (int degrees = -20; degrees <= 20; ++degrees) {
                SCOPED_TRACE(label.name + " at " + std::to_string(degrees) + " degrees, " +
                             std::to_string(pixelsPerModule) + " pixels a module");
                const auto frame = barcodes::turned(label.picture, degrees);
                const auto alone = readerAloneReads(frame);
                const auto text = tally.count(label, alone, show(frame));
                if (holds(label, alone)) {
                    EXPECT_TRUE(holds(label, text)) << "the reader alone reads " << alone;
                }
            }
    tally.report();
}

// zint's own drawing at 2 pixels a module, with its quiet zones, bars `height` modules
// high (0 for zint's default), `options` and a border (bearer) `border` modules wide.
platform::Image zintDrawing(int symbology, std::string_view data, int options = 0, int border = 0,
                            float height = 0, bool text = true) {
    std::unique_ptr<zint_symbol, void (*)(zint_symbol*)> symbol(ZBarcode_Create(), ZBarcode_Delete);
    symbol->symbology = symbology;
    symbol->output_options = BARCODE_QUIET_ZONES | options;
    symbol->border_width = border;
    symbol->show_hrt = text ? 1 : 0;
    symbol->scale = 1;
    if (height > 0) symbol->height = height;
    const int error = ZBarcode_Encode_and_Buffer(
        symbol.get(), reinterpret_cast<const unsigned char*>(data.data()), int(data.size()), 0);
    if (error >= ZINT_ERROR) throw std::runtime_error(symbol->errtxt);
    platform::Image image(symbol->bitmap_width, symbol->bitmap_height);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const unsigned char* rgb = symbol->bitmap + 3 * (size_t(y) * image.width() + x);
            image.setPixel(x, y, {rgb[0], rgb[1], rgb[2], 255});
        }
    return image;
}

// Carton labels at 2 pixels a module: an ITF-14 in its bearer box (5 and 10 modules),
// between bearer bars alone and below an SSCC (GS1-128), and two like codes 4 modules
// apart.
constexpr const char* kCartonGtin = "1540014128876";
// The one a second code in front of it carries.
constexpr const char* kFrontGtin = "1372587421339";

std::vector<Label> cartonLabels() {
    const std::string itf14 = barcodes::printedText(Symbology::ITF14, kCartonGtin);
    const platform::Image::Pixel white{255, 255, 255, 255};
    std::vector<Label> labels;
    labels.push_back(
        {"bearer box 5X", zintDrawing(BARCODE_ITF14, kCartonGtin, BARCODE_BOX, 5), {itf14}});
    labels.push_back(
        {"bearer box 10X", zintDrawing(BARCODE_ITF14, kCartonGtin, BARCODE_BOX, 10), {itf14}});
    labels.push_back(
        {"bearer bars", zintDrawing(BARCODE_ITF14, kCartonGtin, BARCODE_BIND, 5), {itf14}});
    {
        const auto sscc = zintDrawing(BARCODE_GS1_128, "[00]354123450000000014", 0, 0, 40);
        const auto carton = zintDrawing(BARCODE_ITF14, kCartonGtin, BARCODE_BOX, 5);
        Label l{"SSCC above the ITF-14",
                platform::Image(std::max(sscc.width(), carton.width()),
                                sscc.height() + carton.height() + 8, 1, white),
                {itf14, "00354123450000000014"}};
        barcodes::draw(l.picture, sscc, 0, 0);
        barcodes::draw(l.picture, carton, 0, sscc.height() + 8);
        labels.push_back(std::move(l));
    }
    {
        // The gap between them in the label's middle, where the reader's first lines lie
        // in a frame with the label in its middle.
        const auto upper = zintDrawing(BARCODE_C25INTER, "0123456789", 0, 0, 15, false);
        const auto lower = zintDrawing(BARCODE_C25INTER, "0123456789", 0, 0, 15);
        const int text = lower.height() - upper.height();
        Label l{"two like codes one above the other",
                platform::Image(lower.width(), 2 * lower.height() + 8, 1, white),
                {"0123456789"}};
        barcodes::draw(l.picture, upper, 0, text);
        barcodes::draw(l.picture, lower, 0, lower.height() + 8);
        labels.push_back(std::move(l));
    }
    return labels;
}

// Bars with a wave along their length: each row of the picture shifted across by
// `amplitude` modules times the sine of its place along the bars, `period` modules a turn.
struct Wave {
    double amplitude = 0, period = 1;
};

// Draws the picture (2 pixels a module) onto the frame, scaled by `scale` and turned
// clockwise by `degrees` about its middle, which lands at (cx, cy); each frame pixel
// averages 2 x 2 points of the picture, as a camera's pixels blur. Answers whether the
// picture covered only white.
bool placeOn(platform::Image& frame, const platform::Image& picture, double cx, double cy,
             double degrees, double scale, Wave wave = {}) {
    const double radians = degrees * std::numbers::pi / 180;
    const double c = std::cos(radians) / scale, s = std::sin(radians) / scale;
    const double pw = picture.width(), ph = picture.height();
    // The turned picture's box in the frame.
    const double bw =
        (std::abs(pw * c) + std::abs(ph * s)) * scale * scale / 2 + 2 * wave.amplitude * scale + 2;
    const double bh = (std::abs(pw * s) + std::abs(ph * c)) * scale * scale / 2 + 2;
    const int left = std::max(0, int(cx - bw)), right = std::min(frame.width(), int(cx + bw) + 1);
    const int top = std::max(0, int(cy - bh)), bottom = std::min(frame.height(), int(cy + bh) + 1);
    const uint8_t* from = picture.rgba().data();
    bool onWhite = true;
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x) {
            uint8_t* to = frame.mutableData() + (size_t(y) * frame.width() + size_t(x)) * 4;
            int sum = 0;
            for (const double oy : {0.25, 0.75})
                for (const double ox : {0.25, 0.75}) {
                    const double dx = x + ox - cx, dy = y + oy - cy;
                    const double sy = -s * dx + c * dy + ph / 2;
                    const double sx =
                        c * dx + s * dy + pw / 2 +
                        2 * wave.amplitude * std::sin(std::numbers::pi * sy / wave.period);
                    const bool inside = sx >= 0 && sy >= 0 && sx < pw && sy < ph;
                    onWhite = onWhite && (!inside || to[1] == 255);
                    sum +=
                        inside ? from[(size_t(sy) * picture.width() + size_t(sx)) * 4 + 1] : to[1];
                }
            to[0] = to[1] = to[2] = uint8_t(sum / 4);
        }
    return onWhite;
}

// The picture placed alone in a white frame.
platform::Image placed(const platform::Image& picture, int width, int height, double cx, double cy,
                       double degrees, double scale, Wave wave = {}) {
    platform::Image frame(width, height, 1, {255, 255, 255, 255});
    placeOn(frame, picture, cx, cy, degrees, scale, wave);
    return frame;
}

// What the reader alone finds first in the frame among `formats`.
std::string readerAloneReads(const platform::Image& frame, ZXing::BarcodeFormats formats) {
    ZXing::ImageView view(frame.rgba().data(), frame.width(), frame.height(),
                          ZXing::ImageFormat::RGBX);
    const auto hints = ZXing::DecodeHints().setFormats(formats).setMaxNumberOfSymbols(1);
    for (const auto& result : ZXing::ReadBarcodes(view, hints))
        if (result.isValid()) return result.text();
    return "";
}

// Where a picture's middle lies in a w x h frame: at `across` and `height` of the frame's
// width and height, moved so that the turned picture's box stays within the frame.
std::pair<double, double> middleWithin(const platform::Image& picture, int w, int h, double across,
                                       double height, double degrees, double scale) {
    const double r = degrees * std::numbers::pi / 180;
    const double pw = picture.width(), ph = picture.height();
    const double bw = scale * (std::abs(pw * std::cos(r)) + std::abs(ph * std::sin(r)));
    const double bh = scale * (std::abs(pw * std::sin(r)) + std::abs(ph * std::cos(r)));
    return {std::max(bw / 2, std::min(w * across, w - bw / 2)),
            std::max(bh / 2, std::min(h * height, h - bh / 2))};
}

// Carton labels wherever they sit in the frame (heights 10 to 90 %, left, middle and
// right), upright, turned a little (where the reader's line runs along the bars' edge)
// and upside down, at 1.5 to 6 pixels a module; the reader meets a code off the frame's
// middle on the rows nearest the middle first. A sample of the grid that holds each
// variation: every frame the reader alone reads right is reported as it reads it, a code
// refused leaves the frame's other codes their read, and nothing the label does not hold
// is reported. Then a level ITF-14 behind a turned or cut ITF code that the reader meets
// first, and level labels whose bars carry a wave.
TEST_F(CaptureSessionTest, CartonLabelsAreReadWhereverTheySit) {
    startReading({kMetadataObjectTypeInterleaved2of5Code, kMetadataObjectTypeCode128Code});
    LabelTally tally;
    // `behind`: the frame with the code in front taken out, or none. A frame the camera
    // reads right with that code taken out is read right with it there.
    int frontFirst = 0;
    auto check = [&](const Label& frame, const platform::Image* behind) {
        const auto alone = readerAloneReads(
            frame.picture, ZXing::BarcodeFormat::ITF | ZXing::BarcodeFormat::Code128);
        const auto text = tally.count(frame, alone, show(frame.picture));
        if (holds(frame, alone)) {
            EXPECT_EQ(text, alone);
            return;
        }
        if (frame.codes.size() < 2) return;
        const auto other = readerAloneReads(frame.picture, ZXing::BarcodeFormat::Code128);
        if (holds(frame, other)) {
            EXPECT_EQ(text, other) << "the reader reads " << alone;
        }
        if (!behind) return;
        const auto there = show(*behind);
        if (there.empty() || !holds(frame, there.front().stringValue.value_or(""))) return;
        frontFirst += !alone.empty();
        EXPECT_FALSE(text.empty()) << "the reader reads " << alone << ", and without the code in "
                                   << "front the camera " << *there.front().stringValue;
    };

    const double turns[] = {0, 1, -1, 2, -2, 3, -3, 4, -4, 180, 181};
    const double sizes[] = {1.5, 2, 2.5, 3, 4, 6};
    const double heights[] = {0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9};
    const double widths[] = {0.25, 0.5, 0.75};
    unsigned step = 0;
    for (const auto& label : cartonLabels())
        for (const double pixelsPerModule : sizes)
            for (const double degrees : turns)
                for (int sample = 0; sample < kCartonSamples; ++sample, ++step) {
                    const double scale = pixelsPerModule / 2;
                    const int w = pixelsPerModule > 3 ? 1280 : 640, h = w * 3 / 4;
                    const auto [cx, cy] = middleWithin(label.picture, w, h, widths[step / 9 % 3],
                                                       heights[step % 9], degrees, scale);
                    const std::string where =
                        " at " + std::to_string(degrees) + " degrees, " +
                        std::to_string(pixelsPerModule) + " pixels a module, middle at " +
                        std::to_string(int(cx)) + ", " + std::to_string(int(cy));
                    SCOPED_TRACE(label.name + where);
                    check({label.name, placed(label.picture, w, h, cx, cy, degrees, scale),
                           label.codes},
                          nullptr);
                }

    // A level ITF-14 (in its bearer box, between bearer bars, bare) with its middle at 17
    // or 83 % of a 640 x 480 frame's height, and a second ITF code turned 8 to 25 degrees
    // across the middle rows, where the reader meets it first: a whole ITF-14 (zint's
    // drawing and the label's), a short code, an ITF-14 cut by the frame's edge.
    const std::string itf14 = barcodes::printedText(Symbology::ITF14, kCartonGtin);
    const std::string front14 = barcodes::printedText(Symbology::ITF14, kFrontGtin);
    const Label levels[] = {
        {"ITF-14 in its bearer box",
         zintDrawing(BARCODE_ITF14, kCartonGtin, BARCODE_BOX, 5),
         {itf14}},
        {"ITF-14 between bearer bars",
         zintDrawing(BARCODE_ITF14, kCartonGtin, BARCODE_BIND, 5),
         {itf14}},
        {"bare ITF-14", zintDrawing(BARCODE_C25INTER, itf14), {itf14}},
    };
    struct Front {
        Label label;
        double across;  // where its middle lies across the frame
    };
    const Front fronts[] = {
        {{"a turned ITF-14", zintDrawing(BARCODE_C25INTER, front14), {front14}}, 0.5},
        {{"a turned ITF-14 with bars 32 modules high",
          zintDrawing(BARCODE_C25INTER, front14, 0, 0, 32),
          {front14}},
         0.3},
        {{"a turned label ITF", barcodes::labelCode(Symbology::ITF, front14, 2, 42), {front14}},
         0.7},
        {{"a turned ITF-14 in its bearer box",
          zintDrawing(BARCODE_ITF14, kFrontGtin, BARCODE_BOX, 5, 32),
          {front14}},
         0.5},
        {{"a turned short ITF", zintDrawing(BARCODE_C25INTER, "24681357", 0, 0, 20), {"24681357"}},
         0.5},
        {{"an ITF-14 cut by the left edge",
          zintDrawing(BARCODE_C25INTER, front14, 0, 0, 32),
          {front14}},
         0.08},
        {{"an ITF-14 cut by the right edge",
          zintDrawing(BARCODE_C25INTER, front14, 0, 0, 32),
          {front14}},
         0.92},
    };
    int overlapping = 0;
    for (const auto& level : levels)
        for (const double height : {0.17, 0.83})
            for (const auto& front : fronts)
                for (const double degrees : {8, -8, 12, -12, 16, -16, 20, -20, 25, -25}) {
                    ++step;
                    const double scale = sizes[step % 2] / 2;
                    auto [cx, cy] = middleWithin(level.picture, 640, 480, widths[step / 2 % 3],
                                                 height, 0, scale);
                    const auto name = level.name + " at " + std::to_string(int(cy)) + " behind " +
                                      front.label.name + " at " + std::to_string(degrees) +
                                      " degrees, " + std::to_string(scale * 2) +
                                      " pixels a module, the level one's middle at " +
                                      std::to_string(int(cx));
                    SCOPED_TRACE(name);
                    Label frame{name,
                                placed(level.picture, 640, 480, cx, cy, 0, scale),
                                {level.codes.front(), front.label.codes.front()}};
                    const auto behind = frame.picture;
                    if (!placeOn(frame.picture, front.label.picture, 640 * front.across, 240,
                                 degrees, scale)) {
                        ++overlapping;
                        continue;
                    }
                    check(frame, &behind);
                }

    // Level labels whose bars carry a wave along their length, 20 to 40 modules a turn and
    // up to 1.75 modules across: the direction across the bars differs from row to row.
    const Label wavy[] = {
        levels[0],
        levels[1],
        levels[2],
        {"label ITF-14", barcodes::labelCode(Symbology::ITF14, kCartonGtin, 2), {itf14}}};
    for (const auto& label : wavy)
        for (const double period : {20, 30, 40})
            for (const double amplitude : {0.5, 1.0, 1.25, 1.5, 1.75})
                for (const double pixelsPerModule : {1.5, 2.0, 3.0}) {
                    ++step;
                    const double scale = pixelsPerModule / 2;
                    const auto [cx, cy] = middleWithin(
                        label.picture, 640, 480, widths[step / 9 % 3], heights[step % 9], 0, scale);
                    const auto name = label.name + " with a wave " + std::to_string(amplitude) +
                                      " modules across every " + std::to_string(period) +
                                      " modules, " + std::to_string(pixelsPerModule) +
                                      " pixels a module, middle at " + std::to_string(int(cx)) +
                                      ", " + std::to_string(int(cy));
                    SCOPED_TRACE(name);
                    check({name,
                           placed(label.picture, 640, 480, cx, cy, 0, scale, {amplitude, period}),
                           label.codes},
                          nullptr);
                }
    // Two level codes end to end, 0 to 6 modules apart, closer than their quiet zones, the
    // second a third of the bars' height lower, so that the reader reads either on the rows
    // that cross it alone: the camera reports neither, but at 6 modules, where the band it
    // checks beyond an end (3.5 to 6.5 modules) only touches the other code, one read whole.
    auto bars = [](const platform::Image& drawing) {
        int left = drawing.width(), right = 0;
        for (int x = 0; x < drawing.width(); ++x)
            if (drawing.pixel(x, drawing.height() / 2).g < 128)
                left = std::min(left, x), right = std::max(right, x + 1);
        platform::Image cut(right - left, drawing.height());
        barcodes::draw(cut, drawing, -left, 0);
        return cut;
    };
    const auto first = bars(zintDrawing(BARCODE_C25INTER, "12345678", 0, 0, 30, false));
    const auto second = bars(zintDrawing(BARCODE_C25INTER, front14, 0, 0, 30, false));
    int pairsRead = 0;
    for (const int gap : {0, 1, 2, 3, 4, 5, 6})
        for (const bool swapped : {false, true})
            for (const double pixelsPerModule : {1.5, 2.0, 3.0}) {
                ++step;
                const auto& a = swapped ? second : first;
                const auto& b = swapped ? first : second;
                Label pair{"two codes " + std::to_string(gap) + " modules apart",
                           platform::Image(a.width() + b.width() + 2 * gap + 40,
                                           a.height() * 4 / 3 + 40, 1, {255, 255, 255, 255}),
                           {}};
                barcodes::draw(pair.picture, a, 20, 20);
                barcodes::draw(pair.picture, b, 20 + a.width() + 2 * gap, 20 + a.height() / 3);
                const double scale = pixelsPerModule / 2;
                const auto [cx, cy] = middleWithin(pair.picture, 640, 480, widths[step / 9 % 3],
                                                   heights[step % 9], 0, scale);
                const auto name = pair.name + ", " + std::to_string(pixelsPerModule) +
                                  " pixels a module, middle at " + std::to_string(int(cx)) + ", " +
                                  std::to_string(int(cy));
                SCOPED_TRACE(name);
                const auto frame = placed(pair.picture, 640, 480, cx, cy, 0, scale);
                pairsRead += !readerAloneReads(frame, ZXing::BarcodeFormat::ITF).empty();
                const auto found = show(frame);
                if (gap < 6) {
                    EXPECT_TRUE(found.empty()) << found.front().stringValue.value_or("");
                } else if (!found.empty()) {
                    const auto text = found.front().stringValue.value_or("");
                    EXPECT_TRUE(text == "12345678" || text == front14) << text;
                }
            }
    tally.report();
    std::printf(
        "%d frames with a code in front read first, %d left out where the codes touch; "
        "%d of two codes end to end read by the reader alone\n",
        frontFirst, overlapping, pairsRead);
    EXPECT_GT(frontFirst, 20);
    EXPECT_GT(pairsRead, 20);
}

// An interleaved 2 of 5 label turned so far that the reader alone reads a line across it
// (a shorter code the label does not hold) beside an upright SSCC: the camera refuses
// that read and reports the SSCC or a code of the label read whole.
TEST_F(CaptureSessionTest, ARefusedITFLeavesTheFrameItsOtherCodes) {
    startReading({kMetadataObjectTypeInterleaved2of5Code, kMetadataObjectTypeCode128Code});
    const auto sscc = zintDrawing(BARCODE_GS1_128, "[00]354123450000000014", 0, 0, 40);
    int refused = 0;
    for (int pixelsPerModule = 2; pixelsPerModule <= 4; ++pixelsPerModule)
        for (const auto& label : itfLabels(pixelsPerModule))
            for (int degrees = -20; degrees <= 20; degrees += 4) {
                const auto turned = barcodes::turned(label.picture, degrees);
                platform::Image frame(turned.width() + sscc.width(),
                                      std::max(turned.height(), sscc.height()), 1,
                                      {255, 255, 255, 255});
                barcodes::draw(frame, turned, 0, 0);
                barcodes::draw(frame, sscc, turned.width(), 0);
                const auto alone = readerAloneReads(
                    frame, ZXing::BarcodeFormat::ITF | ZXing::BarcodeFormat::Code128);
                if (alone.empty() || alone == "00354123450000000014" || holds(label, alone))
                    continue;
                SCOPED_TRACE(label.name + " at " + std::to_string(degrees) + " degrees, " +
                             std::to_string(pixelsPerModule) + " pixels a module");
                ++refused;
                const auto found = show(frame);
                ASSERT_EQ(found.size(), 1u) << "the reader alone reads " << alone;
                const auto text = found.front().stringValue.value_or("");
                EXPECT_TRUE(text == "00354123450000000014" || holds(label, text))
                    << "the reader alone reads " << alone << ", the camera " << text;
            }
    EXPECT_GT(refused, 0);
    std::printf("%d frames with a line across the ITF code read first\n", refused);
}

TEST_F(CaptureSessionTest, ReadsOnlyTheChosenTypesOfARunningSession) {
    auto qr = barcodes::frameWith(barcodes::barcodeImage(Symbology::QRCode, "qr"), 320, 240);
    startReading({kMetadataObjectTypeEAN13Code});
    EXPECT_TRUE(show(qr).empty());
    metadata->setMetadataObjectTypes({kMetadataObjectTypeQRCode});
    EXPECT_EQ(show(qr), (std::vector<MetadataObject>{{kMetadataObjectTypeQRCode, "qr"}}));
    session->stopRunning();
    EXPECT_TRUE(show(qr).empty());
    session->startRunning();
    metadata->setMetadataObjectsDelegate({});
    EXPECT_TRUE(show(qr).empty());
}

TEST_F(CaptureSessionTest, InjectedObjectsComeFirstUnfiltered) {
    startReading({kMetadataObjectTypeQRCode});
    auto qr = barcodes::frameWith(barcodes::barcodeImage(Symbology::QRCode, "qr"), 320, 240);
    const std::vector<MetadataObject> extra = {{kMetadataObjectTypeFace, std::nullopt},
                                               {kMetadataObjectTypeEAN13Code, std::nullopt}};
    auto objects = show(qr, extra);
    ASSERT_EQ(objects.size(), 3u);
    EXPECT_EQ(objects[0], extra[0]);
    EXPECT_EQ(objects[1], extra[1]);
    EXPECT_EQ(objects[2], (MetadataObject{kMetadataObjectTypeQRCode, "qr"}));
    // A blank frame with injected objects only.
    EXPECT_EQ(show(Image(64, 64, 1, {255, 255, 255, 255}), extra), extra);
}

TEST_F(CaptureSessionTest, TwoCodesInOneFrameGiveTheFirstTheReaderFinds) {
    startReading(allBarcodeTypes());
    auto frame = barcodes::frameWith(barcodes::barcodeImage(Symbology::EAN13, "400638133393"), 800,
                                     400, 40, 40);
    auto qr = barcodes::barcodeImage(Symbology::QRCode, "second");
    for (int y = 0; y < qr.height(); ++y)
        for (int x = 0; x < qr.width(); ++x) frame.setPixel(500 + x, 60 + y, qr.pixel(x, y));
    auto objects = show(frame);
    ASSERT_EQ(objects.size(), 1u);
    const auto text = objects[0].stringValue.value_or("");
    EXPECT_TRUE(text == "4006381333931" || text == "second") << text;
    // The same one each time.
    EXPECT_EQ(show(frame), objects);
}

TEST_F(CaptureSessionTest, StillImageIsThePaddedBgraOfTheLastFrame) {
    Error error;
    auto session = CaptureSession::create();
    session->addInput(
        CaptureDeviceInput::create(VideoCaptureDevice::defaultDevice(kMediaTypeVideo), &error));
    auto still = CaptureStillImageOutput::create();
    EXPECT_THROW(still->setPixelFormatType(0x6A706567), Exception);
    still->setPixelFormatType(kPixelFormatType32BGRA);
    session->addOutput(still);
    ASSERT_EQ(still->connections().size(), 1u);
    auto connection = still->connections().front();
    EXPECT_EQ(connection->inputPorts().front().mediaType, kMediaTypeVideo);

    struct Answer {
        std::shared_ptr<PixelBuffer> buffer;
        std::optional<Error> error;
        bool onMainThread = true;
    };
    auto capture = [&](const std::shared_ptr<CaptureConnection>& c) {
        auto answer = std::make_shared<std::optional<Answer>>();
        still->captureStillImageAsynchronously(c, [answer](auto buffer, auto error) {
            *answer = Answer{buffer, error, isMainThread()};
        });
        runUntilIdle();
        EXPECT_TRUE(answer->has_value());
        return answer->value_or(Answer{});
    };

    EXPECT_EQ(capture(connection).error->code(), -11805);  // not running
    session->startRunning();
    EXPECT_EQ(capture(connection).error->code(), -11800);  // nothing seen yet
    EXPECT_EQ(capture(nullptr).error->code(), -11803);
    EXPECT_EQ(capture(std::make_shared<CaptureConnection>(connection->inputPorts())).error->code(),
              -11803);

    Image frame(3, 2, 1, {10, 20, 30, 255});
    frame.setPixel(2, 1, {200, 100, 50, 128});
    CameraFrameSource::showFrame(frame);
    still->failNextCaptureForTesting(Error("test", 3));
    EXPECT_EQ(capture(connection).error, Error("test", 3));

    auto answer = capture(connection);
    ASSERT_TRUE(answer.buffer);
    EXPECT_FALSE(answer.error);
    EXPECT_FALSE(answer.onMainThread);
    auto& buffer = *answer.buffer;
    EXPECT_EQ(buffer.width(), 3);
    EXPECT_EQ(buffer.height(), 2);
    EXPECT_EQ(buffer.pixelFormatType(), kPixelFormatType32BGRA);
    EXPECT_EQ(buffer.bytesPerRow(), 64u);
    EXPECT_EQ(buffer.baseAddress(), nullptr);
    buffer.lockBaseAddress();
    const uint8_t* last = buffer.baseAddress() + 64 + 2 * 4;
    EXPECT_EQ((std::vector<int>{last[0], last[1], last[2], last[3]}),
              (std::vector<int>{50, 100, 200, 128}));
    buffer.unlockBaseAddress();
    EXPECT_EQ(buffer.baseAddress(), nullptr);
}

TEST_F(CaptureSessionTest, PreviewLayerKeepsFrameGravityAndOrientation) {
    auto session = CaptureSession::create();
    auto preview = CaptureVideoPreviewLayer::create(session);
    EXPECT_FALSE(preview->connection());
    Error error;
    session->addInput(
        CaptureDeviceInput::create(VideoCaptureDevice::defaultDevice(kMediaTypeVideo), &error));
    auto connection = preview->connection();
    ASSERT_TRUE(connection);
    EXPECT_TRUE(connection->isVideoOrientationSupported());
    connection->setVideoOrientation(VideoOrientation::LandscapeLeft);
    EXPECT_EQ(preview->connection()->videoOrientation(), VideoOrientation::LandscapeLeft);
    preview->setFrame({0, 0, 320, 480});
    preview->setVideoGravity(kLayerVideoGravityResizeAspectFill);
    EXPECT_EQ(preview->frame(), Rect(0, 0, 320, 480));
    EXPECT_EQ(preview->videoGravity(), kLayerVideoGravityResizeAspectFill);
    auto host = Layer::create();
    host->addSublayer(preview);
    EXPECT_EQ(preview->superlayer(), host);
}

}  // namespace

namespace {

TEST_F(CaptureSessionTest, AFrameTheReaderFailsOnReadsAsNothing) {
    // A 37 x 4 picture on which the reader's Aztec detector throws.
    const uint8_t pattern[] = {0x3b, 0x4c, 0xa6, 0x4a, 0x2a};
    std::vector<uint8_t> rgba(37 * 4 * 4);
    for (size_t i = 0; i < rgba.size(); ++i) rgba[i] = pattern[i % 5];
    startReading({kMetadataObjectTypeAztecCode});
    const std::vector<MetadataObject> extra = {{kMetadataObjectTypeQRCode, "still told"}};
    EXPECT_EQ(show(Image::fromRGBA(37, 4, std::move(rgba)), extra), extra);
    EXPECT_TRUE(logged("Camera frame could not be read:"));
}

}  // namespace

namespace {

// The formats the camera asks the reader for when it reads every type.
const ZXing::BarcodeFormats kEveryFormat =
    ZXing::BarcodeFormat::UPCE | ZXing::BarcodeFormat::Code39 | ZXing::BarcodeFormat::EAN13 |
    ZXing::BarcodeFormat::UPCA | ZXing::BarcodeFormat::EAN8 | ZXing::BarcodeFormat::Code93 |
    ZXing::BarcodeFormat::Code128 | ZXing::BarcodeFormat::PDF417 | ZXing::BarcodeFormat::QRCode |
    ZXing::BarcodeFormat::Aztec | ZXing::BarcodeFormat::ITF | ZXing::BarcodeFormat::DataMatrix;

// A shop code as zint draws it with its digits (2 pixels a module), the texts that name
// it (the reader's, and the camera's for a UPC-A code: an EAN-13 with a leading 0) and
// its quiet zones in modules.
struct ShopCode {
    platform::Image drawing;
    std::vector<std::string> texts;
    int leftQuiet, rightQuiet;
};

ShopCode shopCode(Symbology symbology, const std::string& data) {
    const auto text = barcodes::printedText(symbology, data);
    switch (symbology) {
        case Symbology::UPCA:
            return {zintDrawing(BARCODE_UPCA, data), {text, "0" + text}, 9, 9};
        case Symbology::UPCE:
            return {zintDrawing(BARCODE_UPCE, data), {text}, 9, 7};
        case Symbology::EAN8:
            return {zintDrawing(BARCODE_EANX, data), {text}, 7, 7};
        default:
            return {zintDrawing(BARCODE_EANX, data), {text}, 11, 7};
    }
}

// Where a drawing's bars begin and end along its middle row.
std::pair<int, int> barsAcross(const platform::Image& drawing) {
    int left = drawing.width(), right = 0;
    for (int x = 0; x < drawing.width(); ++x)
        if (drawing.pixel(x, drawing.height() / 2).g < 128)
            left = std::min(left, x), right = std::max(right, x + 1);
    return {left, right};
}

// The darker of the two pictures' pixels, `picture` drawn at (x, y): a drawing's white
// quiet zone does not hide the bars it lies on.
void drawOver(platform::Image& frame, const platform::Image& picture, int x, int y) {
    for (int py = std::max(0, -y); py < picture.height() && y + py < frame.height(); ++py)
        for (int px = std::max(0, -x); px < picture.width() && x + px < frame.width(); ++px)
            if (picture.pixel(px, py).g < frame.pixel(x + px, y + py).g)
                frame.setPixel(x + px, y + py, picture.pixel(px, py));
}

// Two drawings end to end, tops level, their bars `gap` modules apart; `leaveOutA` keeps
// a's place white.
platform::Image endToEnd(const platform::Image& a, const platform::Image& b, int gap,
                         bool leaveOutA = false, bool leaveOutB = false) {
    const int x = barsAcross(a).second + 2 * gap - barsAcross(b).first;
    platform::Image pair(std::max(a.width(), x + b.width()), std::max(a.height(), b.height()), 1,
                         {255, 255, 255, 255});
    if (!leaveOutA) drawOver(pair, a, 0, 0);
    if (!leaveOutB) drawOver(pair, b, x, 0);
    return pair;
}

// The frame a little out of focus: each pixel weighs the 3 x 3 about it 1 2 1 by 1 2 1.
platform::Image blurred(const platform::Image& frame) {
    const int w = frame.width(), h = frame.height();
    platform::Image out(w, h, 1, {255, 255, 255, 255});
    const uint8_t* from = frame.rgba().data();
    uint8_t* to = out.mutableData();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int sum = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const size_t at = size_t(std::clamp(y + dy, 0, h - 1)) * w +
                                      size_t(std::clamp(x + dx, 0, w - 1));
                    sum += from[at * 4 + 1] * (2 - std::abs(dx)) * (2 - std::abs(dy));
                }
            uint8_t* pixel = to + (size_t(y) * w + x) * 4;
            pixel[0] = pixel[1] = pixel[2] = uint8_t(sum / 16);
        }
    return out;
}

// A shop code table's frames: 640 x 480, turned `turn` degrees one way or the other,
// 1.5 to 2.5 pixels a module, every second run of 27 blurred, the picture's middle moved
// about the frame; the sample of the grid each frame takes comes from `step`.
struct ShopFrames {
    unsigned step = 0;
    std::string where;

    platform::Image place(const platform::Image& picture, double turn) {
        static constexpr double sizes[] = {1.5, 2, 2.5}, heights[] = {0.3, 0.5, 0.7},
                                widths[] = {0.35, 0.5, 0.65};
        ++step;
        const double degrees = step % 2 ? turn : -turn, scale = sizes[step % 3] / 2;
        const auto [cx, cy] = middleWithin(picture, 640, 480, widths[step / 3 % 3],
                                           heights[step / 9 % 3], degrees, scale);
        return finish(placed(picture, 640, 480, cx, cy, degrees, scale), degrees, scale, cx, cy);
    }
    // The picture's bars' middle `past` modules inside the frame's left or right edge, so
    // that the edge cuts the far end off.
    platform::Image cut(const platform::Image& picture, double turn, int past, bool right) {
        ++step;
        const double degrees = step % 2 ? turn : -turn, scale = (step % 3 + 3) / 4.0;
        const auto [left, end] = barsAcross(picture);
        const double barsMiddle = (left + end - picture.width()) / 2.0;
        const double offset = (barsMiddle + (right ? 2 : -2) * past) * scale *
                              std::cos(degrees * std::numbers::pi / 180);
        const double cx = (right ? 640 : 0) - offset, cy = 480 * (0.3 + 0.2 * (step / 9 % 3));
        return finish(placed(picture, 640, 480, cx, cy, degrees, scale), degrees, scale, cx, cy);
    }
    platform::Image finish(platform::Image frame, double degrees, double scale, double cx,
                           double cy) {
        const bool blur = step / 27 % 2;
        where = " at " + std::to_string(int(degrees)) + " degrees, " + std::to_string(scale * 2) +
                " pixels a module" + (blur ? ", blurred" : "") + ", middle at " +
                std::to_string(int(cx)) + ", " + std::to_string(int(cy));
        return blur ? blurred(frame) : frame;
    }
};

// The codes that lie end to end with a table's codes.
std::vector<ShopCode> otherShopCodes() {
    return {shopCode(Symbology::EAN13, "590123412345"), shopCode(Symbology::UPCE, "0654321"),
            shopCode(Symbology::EAN8, "7351353")};
}

bool among(const std::vector<std::string>& texts, const std::string& text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

// The reader's first read of the frame with every format, as the camera names it.
std::optional<ZXing::Result> readerAloneFirst(const platform::Image& frame) {
    ZXing::ImageView view(frame.rgba().data(), frame.width(), frame.height(),
                          ZXing::ImageFormat::RGBX);
    for (auto& result : ZXing::ReadBarcodes(
             view, ZXing::DecodeHints().setFormats(kEveryFormat).setMaxNumberOfSymbols(1)))
        if (result.isValid()) return result;
    return std::nullopt;
}

std::string cameraText(const ZXing::Result& result) {
    return result.format() == ZXing::BarcodeFormat::UPCA ? "0" + result.text() : result.text();
}

// Whether the read's first line runs over nothing dark in `picture`.
bool clearAlong(const platform::Image& picture, const ZXing::Result& result) {
    const auto& p = result.position();
    for (int i = 0; i <= 64; ++i) {
        const int x = p[0].x + (p[1].x - p[0].x) * i / 64, y = p[0].y + (p[1].y - p[0].y) * i / 64;
        if (x >= 0 && y >= 0 && x < picture.width() && y < picture.height() &&
            picture.pixel(x, y).g < 192)
            return false;
    }
    return true;
}

// EAN-13 and UPC-A codes (two EAN-13 whose left half with the middle guard reads as a
// UPC-E code, one whose does not, a UPC-A) turned 0 to 45 degrees either way, 1.5 to
// 2.5 pixels a module, some blurred, alone, end to end
// with another shop code 0 to 12 modules apart, before or after it, and cut by the
// frame's left or right edge 2 to 30 modules past their middle: the camera reports no
// code the frame does not hold, and a code wherever the reader alone reads the longer
// code. It reports what the reader alone reads first, but where that is the other code,
// a UPC-E or EAN-8 closer to the longer one than its quiet zone, which it refuses.
TEST_F(CaptureSessionTest, AShorterCodeIsNotReadOutOfALongerOne) {
    startReading(allBarcodeTypes());
    const ShopCode longer[] = {
        shopCode(Symbology::EAN13, "404021831881"), shopCode(Symbology::EAN13, "704349886075"),
        shopCode(Symbology::EAN13, "400638133393"), shopCode(Symbology::UPCA, "03600029145")};
    const auto others = otherShopCodes();
    ShopFrames frames;
    int count = 0, reads = 0, misreads = 0, lost = 0, aloneMisreads = 0, othersOwn = 0;
    // `longerAlone`: the frame with the other code left out, or none.
    auto check = [&](const std::string& name, const platform::Image& frame,
                     const std::vector<std::string>& codes, const ShopCode& code,
                     bool otherTooClose,
                     const std::function<std::optional<platform::Image>()>& longerAlone) {
        SCOPED_TRACE(name + frames.where);
        ++count;
        const auto first = readerAloneFirst(frame);
        const auto alone = first ? cameraText(*first) : "";
        const auto whole =
            readerAloneReads(frame, ZXing::BarcodeFormat::EAN13 | ZXing::BarcodeFormat::UPCA);
        aloneMisreads += !alone.empty() && !among(codes, alone);
        const auto found = show(frame);
        ASSERT_LE(found.size(), 1u);
        const auto text = found.empty() ? "" : found.front().stringValue.value_or("");
        reads += among(codes, text);
        if (!text.empty() && !among(codes, text)) {
            // The reader's own misread of the other code (a blurred UPC-E), on a line that
            // runs over nothing of the longer code, is no part of the longer code.
            const auto longer = longerAlone();
            if (longer && text == alone && clearAlong(*longer, *first)) {
                ++othersOwn;
            } else {
                ++misreads;
                ADD_FAILURE() << "reported " << text << "; the reader alone reads " << alone;
            }
        }
        if (among(code.texts, whole)) {
            EXPECT_FALSE(text.empty()) << "the reader alone reads " << whole;
        }
        if (among(codes, alone) && !(otherTooClose && !among(code.texts, alone))) {
            EXPECT_EQ(text, alone);
        }
        lost += text.empty() && (among(codes, alone) || among(code.texts, whole));
    };
    for (const auto& code : longer)
        for (const double turn : {0, 15, 30, 45}) {
            auto frame = frames.place(code.drawing, turn);
            const auto none = [] { return std::optional<platform::Image>(); };
            check(code.texts.front() + " alone", frame, code.texts, code, false, none);
            for (const auto& other : others)
                for (const int gap : {0, 2, 4, 6, 8, 10, 12}) {
                    const bool first = frames.step / 2 % 2;
                    const auto& a = first ? code.drawing : other.drawing;
                    const auto& b = first ? other.drawing : code.drawing;
                    auto codes = code.texts;
                    codes.insert(codes.end(), other.texts.begin(), other.texts.end());
                    const unsigned step = frames.step;
                    frame = frames.place(endToEnd(a, b, gap), turn);
                    // The same frame with the other code left out.
                    auto longerAlone = [&, step, first] {
                        ShopFrames again{step, {}};
                        return std::optional(again.place(endToEnd(a, b, gap, !first, first), turn));
                    };
                    check(code.texts.front() + (first ? " before " : " after ") +
                              other.texts.front() + ", " + std::to_string(gap) + " modules apart",
                          frame, codes, code, gap < (first ? other.leftQuiet : other.rightQuiet),
                          longerAlone);
                }
            for (const int past : {2, 6, 12, 30})
                for (const bool right : {false, true}) {
                    frame = frames.cut(code.drawing, turn, past, right);
                    check(code.texts.front() + " cut " + std::to_string(past) +
                              " modules past its middle by the " + (right ? "right" : "left") +
                              " edge",
                          frame, code.texts, code, false, none);
                }
        }
    EXPECT_EQ(misreads, 0);
    RecordProperty("frames", count);
    RecordProperty("reads", reads);
    std::printf(
        "%d frames: %d read, %d misread, %d with no code; the reader alone %d misread, the other "
        "code's own misread %d\n",
        count, reads, misreads, lost, aloneMisreads, othersOwn);
}

// UPC-E and EAN-8 codes turned 0 to 45 degrees, alone and end to end with another shop
// code as far from it as both codes' quiet zones ask or more, before or after it: the
// camera reports what the reader alone reads first, and nothing the reader does not.
TEST_F(CaptureSessionTest, ShortCodesWithTheirQuietZonesAreRead) {
    startReading(allBarcodeTypes());
    const ShopCode shorter[] = {
        shopCode(Symbology::UPCE, "0123456"), shopCode(Symbology::UPCE, "1234567"),
        shopCode(Symbology::EAN8, "9638507"), shopCode(Symbology::EAN8, "5512345")};
    const auto others = otherShopCodes();
    ShopFrames frames;
    int count = 0, reads = 0, aloneReads = 0, readersOwn = 0;
    auto check = [&](const std::string& name, const platform::Image& frame,
                     const std::vector<std::string>& codes) {
        SCOPED_TRACE(name + frames.where);
        ++count;
        const auto first = readerAloneFirst(frame);
        const auto alone = first ? cameraText(*first) : "";
        const auto found = show(frame);
        ASSERT_LE(found.size(), 1u);
        const auto text = found.empty() ? "" : found.front().stringValue.value_or("");
        aloneReads += among(codes, alone);
        reads += among(codes, text);
        EXPECT_EQ(text, among(codes, alone) ? alone : text);
        EXPECT_TRUE(text.empty() || among(codes, text) || text == alone) << text;
        readersOwn += !text.empty() && !among(codes, text);
    };
    for (const auto& code : shorter)
        for (const double turn : {0, 10, 20, 30, 40, 45}) {
            check(code.texts.front() + " alone", frames.place(code.drawing, turn), code.texts);
            for (const auto& other : others)
                for (const int gap : {7, 9, 11, 12}) {
                    const bool first = frames.step / 2 % 2;
                    if (gap < (first ? std::max(code.rightQuiet, other.leftQuiet)
                                     : std::max(other.rightQuiet, code.leftQuiet)))
                        continue;
                    auto codes = code.texts;
                    codes.insert(codes.end(), other.texts.begin(), other.texts.end());
                    const auto pair = first ? endToEnd(code.drawing, other.drawing, gap)
                                            : endToEnd(other.drawing, code.drawing, gap);
                    check(code.texts.front() + (first ? " before " : " after ") +
                              other.texts.front() + ", " + std::to_string(gap) + " modules apart",
                          frames.place(pair, turn), codes);
                }
        }
    EXPECT_GT(reads, count / 2);
    RecordProperty("frames", count);
    RecordProperty("reads", reads);
    std::printf("%d frames: %d read; the reader alone %d; the reader's own misread %d\n", count,
                reads, aloneReads, readersOwn);
}

}  // namespace

namespace {

// An EAN-13 cut by the frame's right edge, whose left half the reader reads first as a
// UPC-E code, and a whole UPC-E code elsewhere in the frame: the camera refuses the
// first, finds no longer code, and reports the whole UPC-E.
TEST_F(CaptureSessionTest, ARefusedShortCodeLeavesTheFrameItsOtherCodes) {
    startReading(allBarcodeTypes());
    const auto cut = shopCode(Symbology::EAN13, "404021831881");
    const auto whole = shopCode(Symbology::UPCE, "0123456");
    int refused = 0;
    ShopFrames frames;
    for (const int past : {2, 4, 6, 8})
        for (const double y : {0.2, 0.5, 0.8})
            for (const double x : {0.15, 0.3}) {
                auto frame = frames.cut(cut.drawing, 0, past, true);
                const auto [cx, cy] = middleWithin(whole.drawing, 640, 480, x, 1 - y, 0, 1.0);
                placeOn(frame, whole.drawing, cx, cy, 0, 1.0);
                const auto alone = readerAloneReads(frame, kEveryFormat);
                if (alone.empty() || among(whole.texts, alone)) continue;
                SCOPED_TRACE(std::to_string(past) + " modules past the middle, the UPC-E at " +
                             std::to_string(int(cx)) + ", " + std::to_string(int(cy)));
                ++refused;
                const auto found = show(frame);
                ASSERT_EQ(found.size(), 1u) << "the reader alone reads " << alone;
                EXPECT_EQ(found.front().stringValue, whole.texts.front());
            }
    EXPECT_GT(refused, 0);
    std::printf("%d frames with the cut code's left half read first\n", refused);
}

}  // namespace
