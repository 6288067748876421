// Still images of the scanner: the checks, the turn for the interface orientation, the
// fit into the page's size, the encoding and the answer to the overlay page.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>

#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "libmerovane/overlays/MVScannerCapture.h"
#include "platform/foundation/Base64.h"
#include "platform/ui/Application.h"
#include "tests/overlays/ScannerTest.h"

using nlohmann::json;
using platform::Image;
using Pixel = platform::Image::Pixel;
namespace capture = MVScannerCapture;

namespace {

const Pixel kRed{255, 0, 0, 255}, kGreen{0, 255, 0, 255}, kBlue{0, 0, 255, 255},
    kWhite{255, 255, 255, 255};

// Quadrants red, green / blue, white.
Image quadrants(int w = 1920, int h = 1080) {
    Image image(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y,
                           y < h / 2 ? (x < w / 2 ? kRed : kGreen) : (x < w / 2 ? kBlue : kWhite));
    return image;
}

// The colour in the middle of each quadrant, in reading order.
std::vector<Pixel> quadrantColours(const Image& image) {
    const int w = image.width(), h = image.height();
    return {image.pixel(w / 4, h / 4), image.pixel(3 * w / 4, h / 4), image.pixel(w / 4, 3 * h / 4),
            image.pixel(3 * w / 4, 3 * h / 4)};
}

TEST(ScannerCaptureGeometryTest, DegreesBoxesAndTargets) {
    EXPECT_EQ(capture::degreesForInterfaceOrientation(0), 90);
    EXPECT_EQ(capture::degreesForInterfaceOrientation(1), 90);
    EXPECT_EQ(capture::degreesForInterfaceOrientation(2), -90);
    EXPECT_EQ(capture::degreesForInterfaceOrientation(3), 0);
    EXPECT_EQ(capture::degreesForInterfaceOrientation(4), 180);
    EXPECT_EQ(capture::degreesForInterfaceOrientation(7), 0);

    EXPECT_EQ(capture::boxForDegrees(300, 400, 90), (platform::Size{400, 300}));
    EXPECT_EQ(capture::boxForDegrees(300, 400, -90), (platform::Size{400, 300}));
    EXPECT_EQ(capture::boxForDegrees(300, 400, 180), (platform::Size{300, 400}));
    EXPECT_EQ(capture::boxForDegrees(0, -5, 0), (platform::Size{1, 1}));
    EXPECT_EQ(capture::boxForDegrees(std::nanf(""), 2, 0), (platform::Size{1, 2}));

    struct Row {
        int w, h;
        platform::Size box;
        capture::TargetSize target;
    };
    const std::vector<Row> rows = {
        {1920, 1080, {400, 300}, {400, 225}},      // portrait, turned afterwards
        {1920, 1080, {300, 400}, {300, 168}},      // 168.75 truncated
        {1920, 1080, {4000, 4000}, {4000, 2250}},  // scaled up
        {1080, 1920, {300, 300}, {168, 300}},
        {1920, 1080, {1, 1}, {1, 1}},  // a side of 0 gives no 0
        {1920, 1080, {100000, 100000}, {16384, 16384}},
        {1920, 1080, {std::numeric_limits<double>::infinity(), 10}, {17, 10}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(capture::targetSize(row.w, row.h, row.box), row.target)
            << row.box.width << " x " << row.box.height;
}

TEST(ScannerCaptureGeometryTest, LandscapeRightScalesUpWithoutTurning) {
    auto buffer = platform::PixelBuffer::bgraFromImage(quadrants());
    auto image = capture::imageFromPixelBuffer(*buffer, 4000, 4000, 0);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width(), 4000);
    EXPECT_EQ(image->height(), 2250);
    EXPECT_EQ(quadrantColours(*image), (std::vector<Pixel>{kRed, kGreen, kBlue, kWhite}));
    EXPECT_EQ(buffer->baseAddress(), nullptr);  // unlocked again
}

class ScannerCaptureTest : public ScannerTest {
  protected:
    void SetUp() override {
        ScannerTest::SetUp();
        platform::CameraFrameSource::showFrame(quadrants());
    }
    // Opens with image capturing on.
    void openCapturing() { openScanner(std::nullopt, true, true); }
    void capture(float w, float h, const std::string& id, const std::string& format = "png",
                 std::shared_ptr<MVWebView> caller = nullptr) {
        scanner->captureScannerImageWithMaxWidth(w, h, id, format,
                                                 caller ? caller : scanner->contentWebView());
        platform::runUntilIdle();
    }
    std::vector<json> answers() {
        std::vector<json> found;
        for (const auto& parameters : events("scannerDidCaptureImage"))
            found.push_back(parameters.at(0));
        return found;
    }
    static json empty(const std::string& id) {
        return {{"imageData", ""}, {"requestId", id}, {"format", ""}};
    }
    static std::string decoded(const json& answer) {
        std::string text = answer.at("imageData");
        std::string joined;
        for (size_t at = 0; at < text.size();) {
            const size_t end = text.find("\r\n", at);
            const std::string line = text.substr(at, end == std::string::npos ? end : end - at);
            if (end != std::string::npos) {
                EXPECT_EQ(line.size(), 64u);
            }
            EXPECT_LE(line.size(), 64u);
            joined += line;
            at = end == std::string::npos ? text.size() : end + 2;
        }
        EXPECT_EQ(text, platform::base64EncodeWithLineBreaks(*platform::base64Decode(joined)));
        return platform::base64Decode(joined).value_or("");
    }
    static std::vector<std::string> reportTexts() {
        std::vector<std::string> texts;
        for (const auto& report : MVErrorLogger::reports()) texts.push_back(report.description);
        return texts;
    }
};

TEST_F(ScannerCaptureTest, PortraitTurnsThePictureUprightIntoTheBox) {
    openCapturing();
    capture(300, 400, "r1");
    ASSERT_EQ(answers().size(), 1u);
    const auto answer = answers()[0];
    EXPECT_EQ(answer["requestId"], "r1");
    EXPECT_EQ(answer["format"], "png");
    EXPECT_NE(answer["imageData"].get<std::string>().find("\r\n"), std::string::npos);
    auto image = Image::decode(decoded(answer));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width(), 225);
    EXPECT_EQ(image->height(), 400);
    EXPECT_EQ(quadrantColours(*image), (std::vector<Pixel>{kBlue, kRed, kWhite, kGreen}));
    EXPECT_TRUE(logged("MVScannerViewController is about to request a capture in: png."));
}

TEST_F(ScannerCaptureTest, LandscapeRightFitsWithoutTurningAndJpegTravelsToo) {
    openCapturing();
    platform::Application::shared().setStatusBarOrientation(
        platform::InterfaceOrientation::LandscapeRight);
    capture(300, 400, "r2", "jpg");
    ASSERT_EQ(answers().size(), 1u);
    EXPECT_EQ(answers()[0]["format"], "jpg");
    const auto bytes = decoded(answers()[0]);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xD8");
    auto image = Image::decode(bytes);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width(), 300);
    EXPECT_EQ(image->height(), 168);
}

TEST_F(ScannerCaptureTest, AHugeSizeAnswersEmptyAndTheProcessLives) {
    openCapturing();
    capture(100000, 100000, "huge");
    EXPECT_EQ(answers(), std::vector<json>{empty("huge")});
    EXPECT_TRUE(logged("makeContext error on malloc"));
    capture(std::numeric_limits<float>::infinity(), std::numeric_limits<float>::infinity(), "inf");
    EXPECT_EQ(answers().back(), empty("inf"));
    capture(0, 0, "tiny");
    auto image = Image::decode(decoded(answers().back()));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width(), 1);
    EXPECT_EQ(image->height(), 1);
}

TEST_F(ScannerCaptureTest, ANeverOpenedScannerAndAnotherPageGetNoAnswer) {
    capture(300, 400, "x", "png", MVWebView::create());
    EXPECT_EQ(loggedLevel("MVScannerController could not capture image due to scanner wasn't open"),
              platform::log::kWarning);
    EXPECT_EQ(reportTexts(),
              std::vector<std::string>{"MVScannerController could not capture image due to scanner "
                                       "wasn't open."});
    EXPECT_FALSE(MVErrorLogger::reports()[0].data);

    openCapturing();
    MVErrorLogger::clearReports();
    auto other = MVWebView::create();
    other->setDebugName("Other");
    capture(300, 400, "x", "png", other);
    const std::string text =
        "MVScannerController could not capture image due to capturing call was not called from "
        "the ScannerView itself.";
    EXPECT_EQ(loggedLevel(text), platform::log::kWarning);
    ASSERT_EQ(reportTexts(), std::vector<std::string>{text});
    EXPECT_EQ(*MVErrorLogger::reports()[0].data, (json{{"callerWebView", other->debugName()}}));
    EXPECT_TRUE(answers().empty());
}

TEST_F(ScannerCaptureTest, WithoutImageCapturingTheAnswerIsEmpty) {
    openScanner();
    capture(300, 400, "nomode");
    EXPECT_EQ(answers(), std::vector<json>{empty("nomode")});
    EXPECT_EQ(loggedLevel("MVScannerController could not capture image due to wrong scannerMode by "
                          "MVWebView" +
                          scanner->contentWebView()->debugName()),
              platform::log::kWarning);
    EXPECT_EQ(reportTexts(), std::vector<std::string>{"MVScannerController could not capture. "
                                                      "Scanner mode wasn't set to capturingImage"});
}

TEST_F(ScannerCaptureTest, AnUnknownFormatAnswersEmptyThenWithPng) {
    openCapturing();
    capture(300, 400, "fmt", "gif");
    ASSERT_EQ(answers().size(), 2u);
    EXPECT_EQ(answers()[0], empty("fmt"));
    EXPECT_EQ(answers()[1]["format"], "png");
    EXPECT_EQ(answers()[1]["requestId"], "fmt");
    EXPECT_EQ(loggedLevel("MVScannerController wrong format 'gif'. Defaulting to 'png'"),
              platform::log::kWarning);
    ASSERT_EQ(reportTexts(),
              std::vector<std::string>{"MVScannerController wrong format. Defaulting to 'png'"});
    EXPECT_EQ(*MVErrorLogger::reports()[0].data, json("gif"));
}

TEST_F(ScannerCaptureTest, AStoppedScannerOrAFailedCaptureAnswersEmpty) {
    openCapturing();
    scanner->stopScanner();
    capture(300, 400, "stopped");
    const std::string text =
        "MVScannerController could not capture image due to Scanner has been stopped with "
        "<stopScanner>";
    EXPECT_EQ(loggedLevel(text), platform::log::kWarning);
    EXPECT_EQ(reportTexts(), std::vector<std::string>{text});
    scanner->startScanner();
    scanner->stillImageOutput()->failNextCaptureForTesting(platform::Error("test", 1));
    capture(300, 400, "failed");
    EXPECT_EQ(answers(), (std::vector<json>{empty("stopped"), empty("failed")}));
}

TEST_F(ScannerCaptureTest, ACaptureForAPageThatWasReplacedIsDropped) {
    openCapturing();
    scanner->captureScannerImageWithMaxWidth(300, 400, "late", "png", scanner->contentWebView());
    const auto first = scanner->contentWebView();
    scanner->closeScannerWithAnimation(std::nullopt);
    openScanner(std::nullopt, true, true, kOtherPage);
    platform::runUntilIdle();
    EXPECT_TRUE(events("scannerDidCaptureImage", first.get()).empty());
    EXPECT_TRUE(answers().empty());
    // Each request answers with its own id.
    scanner->captureScannerImageWithMaxWidth(10, 10, "a", "png", scanner->contentWebView());
    scanner->captureScannerImageWithMaxWidth(10, 10, "b", "jpg", scanner->contentWebView());
    platform::runUntilIdle();
    ASSERT_EQ(answers().size(), 2u);
    std::vector<std::string> ids = {answers()[0]["requestId"], answers()[1]["requestId"]};
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, (std::vector<std::string>{"a", "b"}));
}

TEST_F(ScannerCaptureTest, CapturesBeyondTheBoundAnswerEmptyWithAWarning) {
    openCapturing();
    for (int i = 0; i < 10; ++i)
        scanner->captureScannerImageWithMaxWidth(10, 10, "r" + std::to_string(i), "png",
                                                 scanner->contentWebView());
    platform::runUntilIdle();
    EXPECT_EQ(loggedLevel("MVScannerController could not capture image due to 4 captures still "
                          "pending"),
              platform::log::kWarning);
    ASSERT_EQ(answers().size(), 10u);
    std::set<std::string> pictured, refused;
    for (const auto& answer : answers())
        (answer == empty(answer["requestId"]) ? refused : pictured).insert(answer["requestId"]);
    EXPECT_EQ(pictured, (std::set<std::string>{"r0", "r1", "r2", "r3"}));
    EXPECT_EQ(refused.size(), 6u);
    // Once they are done, a capture is taken again.
    capture(10, 10, "later");
    EXPECT_NE(answers().back(), empty("later"));
}

}  // namespace

namespace {

TEST_F(ScannerCaptureTest, ThePagesCommandsReachTheDefaultScanner) {
    registerCommandHandlerClasses();
    auto opener = MVWebView::create();
    MVCommandHandler::performCommandsFromCommandCollection(
        {{"ver", "1.1"},
         {"cmds",
          {{{"c", "openScanner"},
            {"p", {{"src", kPage}, {"modes", {{"imageCapturing", "on"}}}}}}}}},
        opener);
    renderPage();
    platform::advanceBy(0.6);
    ASSERT_TRUE(scanner->isOpen());
    EXPECT_TRUE(scanner->isImageCapturingEnabled());
    EXPECT_FALSE(scanner->isBarcodeRecognitionEnabled());
    MVCommandHandler::performCommandsFromCommandCollection(
        {{"ver", "1.1"},
         {"cmds",
          {{{"c", "scannerCaptureImage"},
            {"p", {{"width", 300}, {"height", 400}, {"requestId", "cmd"}}}}}}},
        scanner->contentWebView());
    platform::runUntilIdle();
    ASSERT_EQ(answers().size(), 1u);
    EXPECT_EQ(answers()[0]["requestId"], "cmd");
    EXPECT_EQ(answers()[0]["format"], "png");
}

}  // namespace
