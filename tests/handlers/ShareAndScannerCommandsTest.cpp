// Share and scanner commands against recording stand-ins: the share sheet's anchor by
// device and caller, and what the scanner is asked.
#include <gtest/gtest.h>

#include <limits>

#include "platform/ui/Device.h"
#include "platform/ui/Window.h"
#include "tests/handlers/CommandTest.h"
#include "tests/support/RecordingOverlays.h"

using nlohmann::json;
using ScannerCalls = std::vector<std::string>;

namespace {

class ShareAndScannerCommandsTest : public CommandTest {
  protected:
    void TearDown() override {
        platform::Device::current().resetForTesting();
        CommandTest::TearDown();
    }
    static json shareParameters(json extra = json::object()) {
        json parameters = {{"title", "T"}, {"imageURL", "https://i/"}, {"deepLink", "shop://x"}};
        parameters.update(extra);
        return parameters;
    }
};

const json kShareFrame = {{"x", 10}, {"y", 20}, {"width", 30}, {"height", 40}};

TEST_F(ShareAndScannerCommandsTest, OnAPadTheFrameGoesWithTheWindowInItsCoordinates) {
    auto shares = RecordingSharingControllers::install();
    platform::Device::current().setUserInterfaceIdiom(platform::UserInterfaceIdiom::Pad);
    auto window = platform::Window::create(platform::Rect(0, 0, 768, 1024));
    auto holder = platform::View::create(platform::Rect(100, 150, 400, 600));
    window->addSubview(holder);
    auto sender = page();
    sender->setFrame(platform::Rect(0, 50, 320, 480));
    holder->addSubview(sender);  // at (100, 200) in the window

    perform("3.0",
            {{"c", "shareItem"}, {"p", shareParameters({{"shareButtonFrame", kShareFrame}})}},
            sender);
    perform("3.0", {{"c", "shareItem"}, {"p", shareParameters()}}, sender);
    perform("3.0",
            {{"c", "shareItem"}, {"p", shareParameters({{"shareButtonFrame", kShareFrame}})}});
    perform("2.1",
            {{"c", "shareItem"}, {"p", shareParameters({{"shareButtonFrame", kShareFrame}})}},
            sender);
    ASSERT_EQ(shares->shares.size(), 4u);
    EXPECT_EQ(shares->controllersMade, 4u);
    const auto& anchored = shares->shares[0];
    EXPECT_EQ(anchored.title, "T");
    EXPECT_EQ(anchored.imageURL, "https://i/");
    EXPECT_EQ(anchored.deepLink, "shop://x");
    EXPECT_EQ(anchored.sourceRect, platform::Rect(110, 220, 30, 40));
    EXPECT_EQ(anchored.sourceView, window);
    EXPECT_EQ(shares->shares[1].sourceRect, platform::Rect());
    EXPECT_EQ(shares->shares[1].sourceView, sender);
    // from the server: the rectangle as sent, in the application's window
    EXPECT_EQ(shares->shares[2].sourceRect, platform::Rect(10, 20, 30, 40));
    EXPECT_EQ(shares->shares[2].sourceView, window);
    // 2.1 shares as 1.0 does: no rectangle, the page's web view
    EXPECT_EQ(shares->shares[3].sourceRect, platform::Rect());
    EXPECT_EQ(shares->shares[3].sourceView, sender);
}

TEST_F(ShareAndScannerCommandsTest, OnAPhoneNoViewAndOddFramesStayHarmless) {
    auto shares = RecordingSharingControllers::install();
    auto sender = page();
    perform("3.0",
            {{"c", "shareItem"}, {"p", shareParameters({{"shareButtonFrame", kShareFrame}})}},
            sender);
    perform("3.0",
            {{"c", "shareItem"},
             {"p", shareParameters({{"shareButtonFrame", {{"x", 1}, {"y", 2}, {"width", 3}}}})}},
            sender);  // invalid: nothing shared
    platform::Device::current().setUserInterfaceIdiom(platform::UserInterfaceIdiom::Pad);
    perform("3.0",
            {{"c", "shareItem"},
             {"p", shareParameters(
                       {{"shareButtonFrame",
                         {{"x", 1e308}, {"y", -1e308}, {"width", -30}, {"height", 1e-50}}}})}});
    ASSERT_EQ(shares->shares.size(), 2u);
    EXPECT_EQ(shares->shares[0].sourceView, nullptr);
    const double infinity = std::numeric_limits<double>::infinity();
    EXPECT_EQ(shares->shares[1].sourceRect, platform::Rect(infinity, -infinity, -30, 0));
    EXPECT_EQ(shares->shares[1].sourceView, nullptr);  // no window at all
}

TEST_F(ShareAndScannerCommandsTest, OpenScannerModesFromTheCommandOrTheScanner) {
    auto scanner = RecordingScanner::create();
    perform("1.1", {{"c", "openScanner"}, {"p", {{"src", "https://s/"}}}});  // fresh: barcodes
    perform("1.0", {{"c", "openScanner"},                                    // 1.0 knows no modes
                    {"p", {{"src", "https://s/"}, {"modes", {{"imageCapturing", "on"}}}}}});
    perform("2.0", {{"c", "setScannerMode"},
                    {"p", {{"barcodeRecognition", "off"}, {"imageCapturing", "on"}}}});
    perform("3.0", {{"c", "openScanner"}, {"p", {{"src", "https://s/"}, {"animation", "x"}}}});
    perform("2.1", {{"c", "openScanner"},
                    {"p",
                     {{"src", "https://s/"},
                      {"eventParams", {{"e", 1}}},
                      {"modes", {{"barcodeRecognition", "on"}, {"imageCapturing", "On"}}}}}});
    perform("1.0", {{"c", "setScannerMode"},
                    {"p", {{"barcodeRecognition", "on"}, {"imageCapturing", "on"}}}});  // 1.1 on
    EXPECT_EQ(
        scanner->calls,
        (ScannerCalls{"open(https://s/,(none),1,0)", "open(https://s/,(none),1,0)", "modes(0,1)",
                      "open(https://s/,x,0,1)", "open(https://s/,(none),1,0)"}));
    EXPECT_EQ(scanner->eventParams.back(), (json{{"e", 1}}));
}

TEST_F(ShareAndScannerCommandsTest, SwitchesAreOnOnlyForOn) {
    auto scanner = RecordingScanner::create();
    for (const char* mode : {"on", "On", "1", "off"})
        perform("1.0", {{"c", "setFlashlightMode"}, {"p", {{"mode", mode}}}});
    perform("1.0", {{"c", "closeScanner"}});
    perform("1.0", {{"c", "closeScanner"}, {"p", {{"animation", "foregroundBottom"}}}});
    EXPECT_EQ(scanner->calls, (ScannerCalls{"torch(1)", "torch(0)", "torch(0)", "torch(0)",
                                            "close((none))", "close(foregroundBottom)"}));
}

TEST_F(ShareAndScannerCommandsTest, PageOnlyScannerCommandsFromTheServerAreReported) {
    auto scanner = RecordingScanner::create();
    perform("2.0", {{"c", "startScanner"}});
    perform("1.0", {{"c", "stopScanner"}, {"p", {{"x", 1}}}});
    perform("1.1", {{"c", "scannerCaptureImage"},
                    {"p", {{"width", 10}, {"height", 20}, {"requestId", "r"}}}});
    const char* texts[] = {"MVCommandHandler(v2.0).startScanner() has to be sent from a web view.",
                           "MVCommandHandler(v1.0).stopScanner() has to be sent from a web view.",
                           ("MVCommandHandler(v1.1).scannerCaptureImage() has to be sent from a "
                            "web view.")};
    auto reports = MVErrorLogger::reports();
    ASSERT_EQ(reports.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(loggedLevel(texts[i]), platform::log::kError);
        EXPECT_EQ(reports[i].description, texts[i]);
    }
    EXPECT_EQ(*reports[1].data, (json{{"x", 1}}));
    EXPECT_TRUE(scanner->calls.empty());
}

TEST_F(ShareAndScannerCommandsTest, FromThePageTheScannerIsAskedAndCaptureFormatDefaultsToPng) {
    auto scanner = RecordingScanner::create();
    auto sender = page();
    perform("1.0", {{"c", "startScanner"}}, sender);
    perform("1.0", {{"c", "stopScanner"}}, sender);
    perform("1.1",
            {{"c", "scannerCaptureImage"},
             {"p", {{"width", 0.1}, {"height", 1e308}, {"requestId", "r1"}}}},
            sender);
    perform("3.0",
            {{"c", "scannerCaptureImage"},
             {"p", {{"width", 640}, {"height", 480}, {"requestId", "r2"}, {"format", "gif"}}}},
            sender);
    EXPECT_EQ(scanner->calls, (ScannerCalls{"start", "stop", "capture", "capture"}));
    ASSERT_EQ(scanner->captures.size(), 2u);
    EXPECT_EQ(scanner->captures[0].maxWidth, 0.1f);
    EXPECT_EQ(scanner->captures[0].maxHeight, std::numeric_limits<float>::infinity());
    EXPECT_EQ(scanner->captures[0].requestID, "r1");
    EXPECT_EQ(scanner->captures[0].format, "png");
    EXPECT_EQ(scanner->captures[0].webView, sender);
    EXPECT_EQ(scanner->captures[1].format, "gif");  // the scanner judges formats
    EXPECT_TRUE(MVErrorLogger::reports().empty());
}

}  // namespace
