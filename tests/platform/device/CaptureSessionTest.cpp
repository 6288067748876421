#include <gtest/gtest.h>

// The reader's text() in UTF-8.
#define ZX_USE_UTF8 1
#include <ZXing/ReadBarcode.h>

#include <algorithm>
#include <cstdio>

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

// Labels turned up to 20 degrees either way, at 2 to 4 pixels a module: the session
// reports no code that the label does not hold, and a code on every frame that the reader
// alone reads right.
TEST_F(CaptureSessionTest, ITFLabelsAreReadAsTheyAreOrNotAtAll) {
    startReading({kMetadataObjectTypeInterleaved2of5Code});
    int frames = 0, reads = 0, misreads = 0, readerReads = 0, readerMisreads = 0;
    for (int pixelsPerModule = 2; pixelsPerModule <= 4; ++pixelsPerModule)
        for (const auto& label : itfLabels(pixelsPerModule))
            for (int degrees = -20; degrees <= 20; ++degrees) {
                SCOPED_TRACE(label.name + " at " + std::to_string(degrees) + " degrees, " +
                             std::to_string(pixelsPerModule) + " pixels a module");
                const auto frame = barcodes::turned(label.picture, degrees);
                const auto held = [&](const std::string& text) {
                    return std::find(label.codes.begin(), label.codes.end(), text) !=
                           label.codes.end();
                };
                const auto alone = readerAloneReads(frame);
                const auto found = show(frame);
                ++frames;
                readerReads += held(alone);
                readerMisreads += !alone.empty() && !held(alone);
                ASSERT_LE(found.size(), 1u);
                const auto text = found.empty() ? "" : found.front().stringValue.value_or("");
                EXPECT_TRUE(text.empty() || held(text)) << text;
                if (held(alone)) {
                    EXPECT_TRUE(held(text)) << "the reader alone reads " << alone;
                }
                reads += held(text);
                misreads += !text.empty() && !held(text);
            }
    EXPECT_EQ(misreads, 0);
    RecordProperty("frames", frames);
    RecordProperty("reads", reads);
    std::printf("%d frames: %d read, %d misread; the reader alone %d read, %d misread\n", frames,
                reads, misreads, readerReads, readerMisreads);
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
