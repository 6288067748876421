// The scanner's barcode reports: zint-made codes shown to the camera stand-in reach
// the overlay page as "scannerDidScan".
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "platform/device/VideoCaptureDevice.h"
#include "platform/foundation/Clock.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "tests/overlays/ScannerTest.h"
#include "tests/support/barcodes/ZintBarcodes.h"

using barcodes::Symbology;
using nlohmann::json;

namespace {

platform::Image codeFrame(Symbology symbology, const std::string& data) {
    return barcodes::frameWith(barcodes::barcodeImage(symbology, data), 640, 480);
}

struct FormatCase {
    Symbology symbology;
    std::string data;
    std::string code;
    std::string format;
};

const std::vector<FormatCase>& formatCases() {
    static const std::vector<FormatCase> cases = {
        {Symbology::UPCE, "0123456", "01234565", "UPC_E"},
        {Symbology::Code39, "SHOP-39", "SHOP-39", "CODE_39"},
        {Symbology::EAN13, "4006381333931", "4006381333931", "EAN_13"},
        {Symbology::UPCA, "036000291452", "0036000291452", "EAN_13"},
        {Symbology::EAN8, "9638507", "96385074", "EAN_8"},
        {Symbology::Code93, "SHOP 93", "SHOP 93", "CODE_93"},
        {Symbology::Code128, "shop-128", "shop-128", "CODE_128"},
        {Symbology::PDF417, "pdf 417", "pdf 417", "PDF_417"},
        {Symbology::QRCode, "https://shop.example/p/1", "https://shop.example/p/1", "QR_CODE"},
        {Symbology::Aztec, "aztec code", "aztec code", "AZTEC"},
        {Symbology::ITF, "0123456789", "0123456789", "ITF"},
        {Symbology::DataMatrix, "data matrix", "data matrix", "DATA_MATRIX"},
    };
    return cases;
}

using ScannerScanTest = ScannerTest;

TEST_F(ScannerScanTest, EveryFormatGivesOneScanWithItsName) {
    EXPECT_EQ(scanner->barCodeTypes().size(), 11u);
    openScanner();
    ASSERT_TRUE(scanner->isOpen());
    for (const auto& c : formatCases()) {
        SCOPED_TRACE(c.data);
        const size_t before = scans().size();
        show(codeFrame(c.symbology, c.data));
        ASSERT_EQ(scans().size(), before + 1);
        EXPECT_EQ(scans().back(), (json{{"code", c.code}, {"format", c.format}}));
    }
}

class ScannerOnSystemSevenTest : public ScannerTest {
  protected:
    void SetUp() override {
        platform::Device::current().setSystemVersion("7.1");
        ScannerTest::SetUp();
    }
};

TEST_F(ScannerOnSystemSevenTest, ItfAndDataMatrixGiveNothing) {
    EXPECT_EQ(scanner->barCodeTypes().size(), 9u);
    openScanner();
    show(codeFrame(Symbology::ITF, "0123456789"));
    show(codeFrame(Symbology::DataMatrix, "data matrix"));
    EXPECT_TRUE(scans().empty());
    show(codeFrame(Symbology::QRCode, "seven"));
    EXPECT_EQ(scans(), (std::vector<json>{{{"code", "seven"}, {"format", "QR_CODE"}}}));
}

TEST_F(ScannerScanTest, ARepeatedCodeCountsAgainInALaterCalendarSecond) {
    openScanner();
    const auto ean = codeFrame(Symbology::EAN13, "4006381333931");
    const auto other = codeFrame(Symbology::QRCode, "other");
    // To 10.1 s of some whole second.
    const double now = platform::Clock::wallSeconds();
    platform::advanceBy(std::floor(now) + 10.1 - now);
    show(ean);  // 10.1
    platform::advanceBy(0.1);
    show(other);  // 10.2
    show(ean);    // 10.2: another code came between
    platform::advanceBy(0.7);
    show(ean);  // 10.9
    platform::advanceBy(0.15);
    show(ean);  // 11.05
    std::vector<std::string> codes;
    for (const auto& scan : scans()) codes.push_back(scan["code"]);
    EXPECT_EQ(codes, (std::vector<std::string>{"4006381333931", "other", "4006381333931",
                                               "4006381333931"}));
}

TEST_F(ScannerScanTest, TheFirstObjectOfATableTypeDecides) {
    openScanner();
    const platform::Image blank(64, 64, 1, {255, 255, 255, 255});
    // A face is skipped.
    show(blank, {{platform::kMetadataObjectTypeFace, std::nullopt},
                 {platform::kMetadataObjectTypeQRCode, "after a face"}});
    // A code without text ends the walk.
    show(blank, {{platform::kMetadataObjectTypeEAN8Code, std::nullopt},
                 {platform::kMetadataObjectTypeQRCode, "hidden"}});
    // Two codes in one frame: the first only.
    show(blank, {{platform::kMetadataObjectTypeQRCode, "first"},
                 {platform::kMetadataObjectTypeEAN13Code, "4006381333931"}});
    EXPECT_EQ(scans(), (std::vector<json>{{{"code", "after a face"}, {"format", "QR_CODE"}},
                                          {{"code", "first"}, {"format", "QR_CODE"}}}));
}

TEST_F(ScannerScanTest, AnyBytesReachThePageAsAJsonString) {
    openScanner();
    const platform::Image blank(8, 8, 1, {255, 255, 255, 255});
    show(blank, {{platform::kMetadataObjectTypeQRCode, std::string("bad \xff\xfe utf-8 \"\\")}});
    show(blank, {{platform::kMetadataObjectTypeQRCode, std::string("nul \0 inside", 12)}});
    ASSERT_EQ(scans().size(), 2u);
    EXPECT_TRUE(scans()[0]["code"].is_string());
    EXPECT_EQ(scans()[1]["code"], std::string("nul \0 inside", 12));
}

TEST_F(ScannerScanTest, AStoppedScannerReportsNothingUntilStarted) {
    openScanner();
    const auto qr = codeFrame(Symbology::QRCode, "stop");
    scanner->stopScanner();
    EXPECT_FALSE(scanner->session()->isRunning());
    show(qr);
    EXPECT_TRUE(scans().empty());
    scanner->startScanner();
    EXPECT_TRUE(scanner->session()->isRunning());
    show(qr);
    EXPECT_EQ(scans().size(), 1u);
    // A frame read before the stop and reported after it is dropped.
    platform::CameraFrameSource::showFrame(codeFrame(Symbology::QRCode, "late"));
    scanner->stopScanner();
    platform::runUntilIdle();
    EXPECT_EQ(scans().size(), 1u);
}

TEST_F(ScannerScanTest, ARotationWhileStoppedShowsAFreshPictureButReportsNothing) {
    openScanner();
    scanner->stopScanner();
    auto before = scanner->session();
    platform::Application::shared().setStatusBarOrientation(
        platform::InterfaceOrientation::LandscapeRight);
    auto after = scanner->session();
    ASSERT_NE(after, before);
    EXPECT_TRUE(after->isRunning());
    EXPECT_TRUE(scanner->scanForbiddenDueToViewHasRotated());
    EXPECT_TRUE(scanner->isBarcodeRecognitionEnabled());
    show(codeFrame(Symbology::QRCode, "rotated"));
    EXPECT_TRUE(scans().empty());
    platform::advanceBy(0.1);
    EXPECT_FALSE(after->isRunning());
    EXPECT_FALSE(scanner->scanForbiddenDueToViewHasRotated());
    scanner->startScanner();
    show(codeFrame(Symbology::QRCode, "rotated"));
    EXPECT_EQ(scans().size(), 1u);
}

TEST_F(ScannerScanTest, ARotationWhoseCameraFailsKeepsTheOldSession) {
    openScanner();
    auto working = scanner->session();
    platform::CaptureDeviceInput::setCreationErrorForTesting(
        platform::Error("CaptureErrorDomain", -11814, "busy"));
    platform::Application::shared().setStatusBarOrientation(
        platform::InterfaceOrientation::LandscapeLeft);
    EXPECT_TRUE(logged("Scanner couldn't start: Error Domain=CaptureErrorDomain Code=-11814"));
    EXPECT_EQ(scanner->session(), working);
    EXPECT_TRUE(scanner->isBarcodeRecognitionEnabled());
    show(codeFrame(Symbology::QRCode, "still working"));
    EXPECT_EQ(scans().size(), 1u);

    scanner->stopScanner();
    EXPECT_FALSE(working->isRunning());
    show(codeFrame(Symbology::QRCode, "after stop"));
    EXPECT_EQ(scans().size(), 1u);
}

TEST_F(ScannerScanTest, ModesChangeInPlaceOnACameraWithOutputs) {
    openScanner();
    auto session = scanner->session();
    scanner->setScannerModesWithBarcodeRecognitionEnabled(false, true);
    EXPECT_EQ(scanner->session(), session);
    EXPECT_FALSE(scanner->isBarcodeRecognitionEnabled());
    EXPECT_TRUE(scanner->isImageCapturingEnabled());
    show(codeFrame(Symbology::QRCode, "off"));
    EXPECT_TRUE(scans().empty());
    scanner->setScannerModesWithBarcodeRecognitionEnabled(true, false);
    EXPECT_EQ(session->outputs().size(), 1u);
    show(codeFrame(Symbology::QRCode, "on"));
    EXPECT_EQ(scans().size(), 1u);

    // Without outputs the modes wait for the next camera set-up.
    scanner->setScannerModesWithBarcodeRecognitionEnabled(false, false);
    EXPECT_TRUE(session->outputs().empty());
    scanner->setScannerModesWithBarcodeRecognitionEnabled(true, false);
    EXPECT_FALSE(scanner->isBarcodeRecognitionEnabled());
    platform::Application::shared().setStatusBarOrientation(
        platform::InterfaceOrientation::LandscapeRight);
    EXPECT_TRUE(scanner->isBarcodeRecognitionEnabled());
}

TEST_F(ScannerScanTest, TheTorchFollowsTheCommandAndGoesOffAtClosing) {
    auto device = platform::VideoCaptureDevice::defaultDevice(platform::kMediaTypeVideo);
    scanner->setFlashlightEnabled(true);  // closed: no device
    EXPECT_EQ(device->torchMode(), platform::TorchMode::Off);
    openScanner();
    scanner->setFlashlightEnabled(true);
    EXPECT_EQ(device->torchMode(), platform::TorchMode::On);
    EXPECT_FALSE(device->isLockedForConfiguration());

    device->setLockErrorForTesting(platform::Error("CaptureErrorDomain", -11852, "in use"));
    scanner->setFlashlightEnabled(false);
    EXPECT_EQ(
        loggedLevel("Torch mode couldn't be updated: Error Domain=CaptureErrorDomain "
                    "Code=-11852 \"in use\" UserInfo={\"NSLocalizedDescription\":\"in use\"}"),
        platform::log::kWarning);
    EXPECT_EQ(device->torchMode(), platform::TorchMode::On);
    device->setLockErrorForTesting(std::nullopt);

    scanner->closeScannerWithAnimation(std::nullopt);
    EXPECT_EQ(device->torchMode(), platform::TorchMode::Off);

    device->setHasTorchForTesting(false);
    openScanner();
    scanner->setFlashlightEnabled(true);
    EXPECT_EQ(device->torchMode(), platform::TorchMode::Off);
}

}  // namespace

namespace {

TEST_F(ScannerScanTest, ModesChangedAfterAFailedRotationHoldAtTheNextOne) {
    openScanner();
    platform::CaptureDeviceInput::setCreationErrorForTesting(platform::Error("test", 1));
    platform::Application::shared().setStatusBarOrientation(
        platform::InterfaceOrientation::LandscapeLeft);
    scanner->setScannerModesWithBarcodeRecognitionEnabled(false, true);
    platform::CaptureDeviceInput::setCreationErrorForTesting(std::nullopt);
    platform::Application::shared().setStatusBarOrientation(
        platform::InterfaceOrientation::Portrait);
    EXPECT_FALSE(scanner->isBarcodeRecognitionEnabled());
    EXPECT_TRUE(scanner->isImageCapturingEnabled());
}

// A code turned as a phone held sideways or askew shows it, in a frame of at least
// 640 x 480.
platform::Image turnedFrame(const platform::Image& code, double degrees) {
    const auto picture = barcodes::turned(code, degrees);
    return barcodes::frameWith(picture, std::max(640, picture.width() + 40),
                               std::max(480, picture.height() + 40));
}

TEST_F(ScannerScanTest, EveryFormatTurnedIsReadWithoutEndingTheProcess) {
    openScanner();
    auto scansOf = [&](const platform::Image& frame) {
        // A second apart, so that a repeated code is reported again.
        platform::advanceBy(1.0);
        const size_t before = scans().size();
        show(frame);
        const auto all = scans();
        return std::vector<json>(all.begin() + long(before), all.end());
    };
    for (const auto& c : formatCases()) {
        for (const int pixelsPerModule : {2, 3}) {
            const auto code = barcodes::barcodeImage(c.symbology, c.data, pixelsPerModule);
            const json expected = {{"code", c.code}, {"format", c.format}};
            for (const double degrees : {0.0, 90.0, 180.0, 270.0}) {
                SCOPED_TRACE(c.data + " at " + std::to_string(degrees));
                EXPECT_EQ(scansOf(turnedFrame(code, degrees)), std::vector<json>{expected});
            }
            // Askew or noisy, a code may be missed, never misread.
            for (const auto& frame :
                 {turnedFrame(code, 45), barcodes::withNoise(turnedFrame(code, 0), 0.05)}) {
                SCOPED_TRACE(c.data + " askew or noisy");
                const auto found = scansOf(frame);
                EXPECT_LE(found.size(), 1u);
                if (!found.empty()) {
                    EXPECT_EQ(found.front(), expected);
                }
            }
        }
    }
    // Frames on which the reader used to end the process read as their code.
    const auto upce = barcodes::barcodeImage(Symbology::UPCE, "0123456", 3);
    const json upceScan = {{"code", "01234565"}, {"format", "UPC_E"}};
    EXPECT_EQ(scansOf(turnedFrame(upce, 45)), std::vector<json>{upceScan});
    EXPECT_EQ(scansOf(barcodes::withNoise(turnedFrame(upce, 0), 0.05)),
              std::vector<json>{upceScan});
}

TEST_F(ScannerScanTest, ATurnedInterleavedTwoOfFiveCodeGivesNoShorterCode) {
    openScanner();
    for (int pixelsPerModule = 1; pixelsPerModule <= 4; ++pixelsPerModule) {
        const auto itf = barcodes::barcodeImage(Symbology::ITF, "12345678901234", pixelsPerModule);
        for (const double degrees : {30, 60, 120, 150, 210, 240, 300, 330}) {
            platform::advanceBy(1.0);
            show(turnedFrame(itf, degrees));
        }
        // Upright it reads.
        platform::advanceBy(1.0);
        show(turnedFrame(itf, 90));
    }
    EXPECT_EQ(scans(), std::vector<json>(4, {{"code", "12345678901234"}, {"format", "ITF"}}));
}

TEST_F(ScannerScanTest, AFrameWithTwoCodesIsReportedOncePerSecond) {
    openScanner();
    auto frame = barcodes::frameWith(barcodes::barcodeImage(Symbology::EAN13, "4006381333931"), 800,
                                     400, 40, 40);
    const auto qr = barcodes::barcodeImage(Symbology::QRCode, "second");
    for (int y = 0; y < qr.height(); ++y)
        for (int x = 0; x < qr.width(); ++x) frame.setPixel(500 + x, 60 + y, qr.pixel(x, y));
    const double now = platform::Clock::wallSeconds();
    platform::advanceBy(std::floor(now) + 10.1 - now);
    show(frame);  // 10.1
    platform::advanceBy(0.5);
    show(frame);  // 10.6
    platform::advanceBy(0.5);
    show(frame);  // 11.1
    ASSERT_EQ(scans().size(), 2u);
    EXPECT_EQ(scans()[0], scans()[1]);
    EXPECT_TRUE(scans()[0]["code"] == "4006381333931" || scans()[0]["code"] == "second");
}

}  // namespace
