#pragma once
// The camera barcode scanner: the container of the chain that slides a scanner
// container over its content when a page opens it. The live camera picture fills that
// container and an overlay page (a pooled web view) lies over it; recognised barcodes
// reach the overlay page as "scannerDidScan", still images as "scannerDidCaptureImage".
//
//   auto scanner = MVScannerViewController::create();   // the chain makes one
//   scanner->setContentViewController(next);
//   scanner->openScannerWithSrc("mvapi:scanner", "foregroundBottom", nullptr, true, false);
//   ...
//   scanner->closeScannerWithAnimation("foregroundBottom");
//
// The first scanner made becomes the default instance, which the scanner commands use.
// The boot command closes it without animation. Main thread only; a still image is
// taken on a worker thread and its answer made on the main thread.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "libmerovane/bridge/MVWebViewDelegate.h"
#include "libmerovane/containers/MVContainerViewController.h"
#include "libmerovane/core/MVScannerViewControllerInterface.h"
#include "platform/device/CaptureSession.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/InterfaceTypes.h"

namespace platform {
class CaptureVideoPreviewLayer;
class View;
}  // namespace platform

class MVStatusBarStyle;

// The scanner's log lines and error reports.
namespace MVScannerTexts {
inline constexpr const char* kAlreadyOpen = "Scanner is already open. Ignoring command...";
inline constexpr const char* kCouldNotStart = "Scanner couldn't start: {}";
inline constexpr const char* kTorchNotUpdated = "Torch mode couldn't be updated: {}";
inline constexpr const char* kCaptureNotOpen =
    "MVScannerController could not capture image due to scanner wasn't open";
inline constexpr const char* kCaptureNotOpenReport =
    "MVScannerController could not capture image due to scanner wasn't open.";
inline constexpr const char* kCaptureWrongCaller =
    "MVScannerController could not capture image due to capturing call was not called from the "
    "ScannerView itself.";
inline constexpr const char* kCaptureWrongMode =
    "MVScannerController could not capture image due to wrong scannerMode by MVWebView{}";
inline constexpr const char* kCaptureWrongModeReport =
    "MVScannerController could not capture. Scanner mode wasn't set to capturingImage";
inline constexpr const char* kCaptureWrongFormat =
    "MVScannerController wrong format '{}'. Defaulting to 'png'";
inline constexpr const char* kCaptureWrongFormatReport =
    "MVScannerController wrong format. Defaulting to 'png'";
inline constexpr const char* kCaptureStopped =
    "MVScannerController could not capture image due to Scanner has been stopped with "
    "<stopScanner>";
inline constexpr const char* kCaptureRequest =
    "MVScannerViewController is about to request a capture in: {}.";
inline constexpr const char* kMakeContextError = "makeContext error on malloc";
inline constexpr const char* kCaptureTooMany =
    "MVScannerController could not capture image due to {} captures still pending";
}  // namespace MVScannerTexts

class MVScannerViewController : public MVContainerViewController,
                                public MVScannerViewControllerInterface,
                                public MVWebViewDelegate,
                                public platform::CaptureMetadataOutputObjectsDelegate {
  public:
    static std::shared_ptr<MVScannerViewController> create();
    static std::shared_ptr<MVScannerViewController> createWithContentViewController(
        const std::shared_ptr<platform::ViewController>& content);
    static std::shared_ptr<MVScannerViewController> createWithIdentifier(
        const std::string& identifier, const std::shared_ptr<platform::ViewController>& content);
    ~MVScannerViewController() override;

    // Installs the scanner as the chain's third container and the one the scanner
    // commands reach.
    static void install();

    // The chain: the next container's view goes into the content container view, the
    // parked scanner container on top of it.
    void setContentViewController(std::shared_ptr<platform::ViewController> content) override;
    const std::shared_ptr<platform::View>& scannerContainerView() const {
        return scannerContainerView_;
    }

    // MVScannerViewControllerInterface
    void openScannerWithSrc(const std::string& src, const std::optional<std::string>& animation,
                            const nlohmann::json* eventParams, bool barcodeRecognitionEnabled,
                            bool imageCapturingEnabled) override;
    void closeScannerWithAnimation(const std::optional<std::string>& animation) override;
    void startScanner() override;
    void stopScanner() override;
    void setFlashlightEnabled(bool enabled) override;
    void setScannerModesWithBarcodeRecognitionEnabled(bool barcodeRecognitionEnabled,
                                                      bool imageCapturing) override;
    bool isBarcodeRecognitionEnabled() const override { return outputMetaData_ != nullptr; }
    bool isImageCapturingEnabled() const override { return outputStillImage_ != nullptr; }
    void captureScannerImageWithMaxWidth(float maxWidth, float maxHeight,
                                         const std::string& requestID, const std::string& format,
                                         const std::shared_ptr<MVWebView>& webView) override;

    // Changes the modes in place on a camera with outputs, unless `reInitCamera`;
    // otherwise they wait for the next camera set-up.
    void setScannerModesWithBarcodeRecognitionEnabled(bool barcodeRecognitionEnabled,
                                                      bool imageCapturing, bool reInitCamera);

    // The platform's rotation report: the interface now stands in the application's
    // status-bar orientation. Observed from the application's orientation changes.
    void didRotateFromInterfaceOrientation(platform::InterfaceOrientation from);

    // MVWebViewDelegate: the overlay page.
    void webViewDemandsCloseByCombat(MVWebView& webView) override;
    std::shared_ptr<MVNavigationControllerInterface> navigationControllerForWebView(
        MVWebView& webView) override;
    std::optional<MVEvent> pageContextForSource(const std::string& source,
                                                const std::string& baseUrl, bool loadedFromCache,
                                                const std::vector<std::string>& tags) override;
    void webViewDidFinishRendering(MVWebView& webView) override;
    void webViewDidChangePreferredStatusBarStyle(
        MVWebView& webView, const std::shared_ptr<MVStatusBarStyle>& style) override;

    // The camera's barcode reports (main loop).
    void captureOutputDidOutputMetadataObjects(
        platform::CaptureMetadataOutput& output,
        const std::vector<platform::MetadataObject>& objects,
        const std::shared_ptr<platform::CaptureConnection>& connection) override;

    // Platform metadata object type to the format name pages see, in table order.
    const std::vector<std::pair<std::string, std::string>>& barCodeTypes() const {
        return barCodeTypes_;
    }

    // State, for the commands' tests and the chain's.
    bool isOpen() const { return isOpen_; }
    bool isRunning() const { return isRunning_; }
    bool scanForbiddenDueToViewHasRotated() const { return scanForbiddenDueToViewHasRotated_; }
    const std::shared_ptr<MVWebView>& contentWebView() const { return contentWebView_; }
    const std::shared_ptr<platform::View>& scannerView() const { return scannerView_; }
    const std::shared_ptr<platform::CaptureSession>& session() const { return session_; }
    const std::shared_ptr<platform::CaptureVideoPreviewLayer>& previewLayer() const {
        return prevLayer_;
    }
    const std::shared_ptr<platform::CaptureStillImageOutput>& stillImageOutput() const {
        return outputStillImage_;
    }

  protected:
    MVScannerViewController();
    void loadView() override;
    // The overlay page's style while the scanner is open.
    std::shared_ptr<MVStatusBarStyle> overlayStatusBarStyle() const override;

  private:
    using Outputs = std::vector<std::shared_ptr<platform::CaptureOutput>>;

    static std::shared_ptr<MVScannerViewController> made(
        std::shared_ptr<MVScannerViewController> controller);
    std::shared_ptr<MVScannerViewController> self();
    void setUp();
    void buildBarCodeTypes();
    void makeScannerContainer();
    std::shared_ptr<platform::CaptureMetadataOutput> makeBarcodeOutput();
    static std::shared_ptr<platform::CaptureStillImageOutput> makeStillImageOutput();
    std::vector<std::string> barCodeTypeKeys() const;
    const std::string* formatForType(const std::string& type) const;

    void openAnimated();
    void openingDidFinish();
    void initScanner();
    void initCamera();
    void revealScanner();
    void updateCameraOrientation();
    void switchTorchOff();
    void sendToOverlay(const MVEvent& event);
    double containerWidth();
    double containerHeight();

    // Still images.
    void answerCaptureEmpty(const std::string& requestID);
    void finishCapture(const std::shared_ptr<platform::PixelBuffer>& buffer,
                       const std::optional<platform::Error>& error, float maxWidth, float maxHeight,
                       const std::string& requestID, const std::string& format,
                       const std::weak_ptr<MVWebView>& caller);

    std::shared_ptr<platform::CaptureSession> session_;
    std::shared_ptr<platform::VideoCaptureDevice> device_;
    std::shared_ptr<platform::CaptureDeviceInput> input_;
    std::shared_ptr<platform::CaptureVideoPreviewLayer> prevLayer_;
    std::shared_ptr<platform::View> scannerView_;
    std::shared_ptr<MVWebView> contentWebView_;
    std::optional<std::string> openAnimation_;
    bool isOpen_ = false;
    bool isRunning_ = false;
    bool scanForbiddenDueToViewHasRotated_ = false;
    // Still images asked for and not yet finished; each holds a copy of the picture.
    static constexpr size_t kMaxPendingCaptures = 4;
    size_t pendingCaptures_ = 0;
    // An opening waits for its overlay page to render.
    bool openingWaitsForRendering_ = false;
    // Counts openings and closings: a slide's completion acts only for its own opening.
    uint64_t movements_ = 0;
    struct LastSend {
        std::string code;
        platform::Date dateTime;
    };
    std::optional<LastSend> lastSend_;
    std::vector<std::pair<std::string, std::string>> barCodeTypes_;
    std::optional<Outputs> modesToSet_;
    std::shared_ptr<platform::CaptureMetadataOutput> outputMetaData_;
    std::shared_ptr<platform::CaptureStillImageOutput> outputStillImage_;
    std::shared_ptr<platform::View> scannerContainerView_;
    std::shared_ptr<MVStatusBarStyle> preferredMVStatusBarStyle_;
    platform::ObserverRegistration bootObservation_;
    platform::ObserverRegistration rotationObservation_;
};
