#include "libmerovane/overlays/MVScannerCapture.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "libmerovane/bridge/MVEventScanner.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/overlays/MVScannerViewController.h"
#include "platform/device/CaptureSession.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/Application.h"

namespace MVScannerCapture {

namespace {

double atLeastOne(float side) {
    return std::isnan(side) || side < 1 ? 1.0 : double(side);
}

int clampSide(double side) {
    if (std::isnan(side) || side < 1) return 1;
    return side > kMaxSide ? kMaxSide : int(side);
}

}  // namespace

int degreesForInterfaceOrientation(int orientation) {
    switch (orientation) {
        case 0:
        case 1:
            return 90;
        case 2:
            return -90;
        case 3:
            return 0;
        case 4:
            return 180;
        default:
            return 0;
    }
}

platform::Size boxForDegrees(float maxWidth, float maxHeight, int degrees) {
    const double w = atLeastOne(maxWidth), h = atLeastOne(maxHeight);
    if (std::abs(degrees) == 90) return {h, w};
    return {w, h};
}

TargetSize targetSize(int width, int height, platform::Size box) {
    if (width <= 0 || height <= 0) return {1, 1};
    const double w = width, h = height;
    if (w / h > box.width / box.height)
        return {clampSide(box.width), clampSide(h / (w / box.width))};
    return {clampSide(w / (h / box.height)), clampSide(box.height)};
}

std::optional<platform::Image> imageFromPixelBuffer(platform::PixelBuffer& buffer, float maxWidth,
                                                    float maxHeight, int degrees) {
    const int w = buffer.width(), h = buffer.height();
    if (w <= 0 || h <= 0 || buffer.pixelFormatType() != platform::kPixelFormatType32BGRA ||
        buffer.bytesPerRow() < size_t(w) * 4 || int64_t(w) * h > platform::Image::kMaxPixels)
        return std::nullopt;
    const auto target = targetSize(w, h, boxForDegrees(maxWidth, maxHeight, degrees));
    if (int64_t(target.width) * target.height > platform::Image::kMaxPixels) {
        MVLogError(MVScannerTexts::kMakeContextError);
        return std::nullopt;
    }
    std::vector<uint8_t> rgba(size_t(w) * size_t(h) * 4);
    buffer.lockBaseAddress();
    const uint8_t* base = buffer.baseAddress();
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = base + size_t(y) * buffer.bytesPerRow();
        uint8_t* out = rgba.data() + size_t(y) * size_t(w) * 4;
        for (int x = 0; x < w; ++x, row += 4, out += 4) {
            // Premultiplied pixels drawn without alpha: the colour as stored, opaque.
            out[0] = row[2];
            out[1] = row[1];
            out[2] = row[0];
            out[3] = 255;
        }
    }
    buffer.unlockBaseAddress();
    auto picture = platform::Image::fromRGBA(w, h, std::move(rgba));
    auto scaled = picture.scaled(target.width, target.height);
    if (degrees % 360 == 0) return scaled;
    return scaled.rotated(degrees);
}

}  // namespace MVScannerCapture

void MVScannerViewController::answerCaptureEmpty(const std::string& requestID) {
    sendToOverlay(MVEventScanner::scannerDidCaptureImage(std::nullopt, std::nullopt, requestID));
}

void MVScannerViewController::captureScannerImageWithMaxWidth(
    float maxWidth, float maxHeight, const std::string& requestID, const std::string& format,
    const std::shared_ptr<MVWebView>& webView) {
    if (!contentWebView_) {
        MVLogWarn(MVScannerTexts::kCaptureNotOpen);
        MVErrorLogger::logError(MVScannerTexts::kCaptureNotOpenReport);
        return;
    }
    if (webView != contentWebView_) {
        MVLogWarn(MVScannerTexts::kCaptureWrongCaller);
        MVErrorLogger::logError(MVScannerTexts::kCaptureWrongCaller,
                                {{"callerWebView", webView ? webView->debugName() : ""}});
        return;
    }
    if (!outputStillImage_) {
        answerCaptureEmpty(requestID);
        MVLogWarn(MVScannerTexts::kCaptureWrongMode, contentWebView_->debugName());
        MVErrorLogger::logError(MVScannerTexts::kCaptureWrongModeReport);
        return;
    }
    std::string usedFormat = format;
    if (format != "jpg" && format != "png") {
        answerCaptureEmpty(requestID);
        MVLogWarn(MVScannerTexts::kCaptureWrongFormat, format);
        MVErrorLogger::logError(MVScannerTexts::kCaptureWrongFormatReport, nlohmann::json(format));
        usedFormat = "png";
    }
    if (!isRunning_) {
        answerCaptureEmpty(requestID);
        MVLogWarn(MVScannerTexts::kCaptureStopped);
        MVErrorLogger::logError(MVScannerTexts::kCaptureStopped);
        return;
    }

    // Each pending capture holds a picture: more are answered as a failed capture.
    if (pendingCaptures_ >= kMaxPendingCaptures) {
        MVLogWarn(MVScannerTexts::kCaptureTooMany, pendingCaptures_);
        answerCaptureEmpty(requestID);
        return;
    }

    std::shared_ptr<platform::CaptureConnection> videoConnection;
    for (const auto& connection : outputStillImage_->connections()) {
        const auto& ports = connection->inputPorts();
        if (std::any_of(ports.begin(), ports.end(), [](const auto& port) {
                return port.mediaType == platform::kMediaTypeVideo;
            })) {
            videoConnection = connection;
            break;
        }
    }
    MVLogVerbose(MVScannerTexts::kCaptureRequest, usedFormat);
    std::weak_ptr<MVScannerViewController> weak = self();
    std::weak_ptr<MVWebView> caller = webView;
    ++pendingCaptures_;
    outputStillImage_->captureStillImageAsynchronously(
        videoConnection,
        [weak, caller, maxWidth, maxHeight, requestID, usedFormat](
            std::shared_ptr<platform::PixelBuffer> buffer, std::optional<platform::Error> error) {
            // The rest on the main thread, the pixels kept alive until then.
            platform::RunLoop::main().post([=] {
                auto scanner = weak.lock();
                if (!scanner) return;
                --scanner->pendingCaptures_;
                scanner->finishCapture(buffer, error, maxWidth, maxHeight, requestID, usedFormat,
                                       caller);
            });
        });
}

void MVScannerViewController::finishCapture(const std::shared_ptr<platform::PixelBuffer>& buffer,
                                            const std::optional<platform::Error>& error,
                                            float maxWidth, float maxHeight,
                                            const std::string& requestID, const std::string& format,
                                            const std::weak_ptr<MVWebView>& caller) {
    auto webView = caller.lock();
    if (!webView || webView != contentWebView_) return;
    if (error || !buffer) {
        answerCaptureEmpty(requestID);
        return;
    }
    const int degrees = MVScannerCapture::degreesForInterfaceOrientation(
        static_cast<int>(platform::Application::shared().statusBarOrientation()));
    auto image = MVScannerCapture::imageFromPixelBuffer(*buffer, maxWidth, maxHeight, degrees);
    if (!image) {
        answerCaptureEmpty(requestID);
        return;
    }
    const std::string data = format == "jpg" ? image->jpegData(1.0) : image->pngData();
    sendToOverlay(MVEventScanner::scannerDidCaptureImage(platform::base64EncodeWithLineBreaks(data),
                                                         format, requestID));
}
