#include "libmerovane/overlays/MVScannerViewController.h"

#include <algorithm>
#include <cmath>

#include "libmerovane/bridge/MVEventScanner.h"
#include "libmerovane/bridge/MVEventViews.h"
#include "libmerovane/bridge/MVEventWebViews.h"
#include "libmerovane/bridge/MVStatusBarStyle.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/bridge/MVWebViewCache.h"
#include "libmerovane/containers/MVViewControllerHierarchy.h"
#include "libmerovane/core/ErrorDescription.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/core/MVSplashScreenInterface.h"
#include "libmerovane/core/ObjectExtensions.h"
#include "libmerovane/core/UIApplicationExtensions.h"
#include "libmerovane/core/UIDeviceExtensions.h"
#include "libmerovane/core/UIScreenExtensions.h"
#include "platform/device/CaptureVideoPreviewLayer.h"
#include "platform/device/VideoCaptureDevice.h"
#include "platform/ui/Application.h"
#include "platform/ui/Screen.h"
#include "platform/ui/View.h"

namespace {

constexpr double kMoveDuration = 0.3;
constexpr double kRevealDuration = 0.5;
constexpr double kPreviewAfterRotation = 0.1;
constexpr unsigned kFlexibleSize =
    platform::kAutoresizingFlexibleWidth | platform::kAutoresizingFlexibleHeight;

// Where a slide of this name starts an opening and ends a closing; none for no slide.
std::optional<platform::Point> slideOrigin(const std::optional<std::string>& animation, double w,
                                           double h) {
    if (!animation) return std::nullopt;
    if (*animation == "foregroundBottom") return platform::Point{0, h};
    if (*animation == "foregroundRight") return platform::Point{w, 0};
    if (*animation == "foregroundLeft") return platform::Point{-w, 0};
    return std::nullopt;
}

void moveTo(platform::View& view, platform::Point origin) {
    auto frame = view.frame();
    frame.origin = origin;
    view.setFrame(frame);
}

// Whole calendar seconds from `from` to `to`: both moved to the start of their second.
double secondsBetweenDates(platform::Date from, platform::Date to) {
    return std::floor(to.timeIntervalSince1970()) - std::floor(from.timeIntervalSince1970());
}

}  // namespace

MVScannerViewController::MVScannerViewController() = default;

std::shared_ptr<MVScannerViewController> MVScannerViewController::made(
    std::shared_ptr<MVScannerViewController> controller) {
    track(controller);
    controller->setUp();
    return controller;
}

std::shared_ptr<MVScannerViewController> MVScannerViewController::create() {
    return made(std::shared_ptr<MVScannerViewController>(new MVScannerViewController));
}

std::shared_ptr<MVScannerViewController> MVScannerViewController::createWithContentViewController(
    const std::shared_ptr<platform::ViewController>& content) {
    auto controller = create();
    controller->setContentViewController(content);
    return controller;
}

std::shared_ptr<MVScannerViewController> MVScannerViewController::createWithIdentifier(
    const std::string& identifier, const std::shared_ptr<platform::ViewController>& content) {
    auto controller = createWithContentViewController(content);
    controller->setIdentifier(identifier);
    return controller;
}

MVScannerViewController::~MVScannerViewController() {
    if (session_) session_->stopRunning();
}

std::shared_ptr<MVScannerViewController> MVScannerViewController::self() {
    return std::static_pointer_cast<MVScannerViewController>(shared_from_this());
}

void MVScannerViewController::loadView() {
    MVContainerViewController::loadView();
    view()->setAutoresizesSubviews(true);
    contentContainerView()->setAutoresizesSubviews(true);
}

void MVScannerViewController::install() {
    MVViewControllerHierarchy::installContainerClass(
        "MVScannerViewController", [] { return MVScannerViewController::create(); });
}

void MVScannerViewController::setUp() {
    openAnimation_.reset();
    isOpen_ = false;
    std::weak_ptr<MVScannerViewController> weak = self();
    auto& center = platform::NotificationCenter::defaultCenter();
    // Kept for the controller's life: a boot closes the scanner after any closing too.
    bootObservation_ = platform::ObserverRegistration(
        center, center.addObserver(MVLibraryApplicationReceivedBootAppCommand, nullptr,
                                   [weak](const platform::Notification&) {
                                       if (auto scanner = weak.lock())
                                           scanner->closeScannerWithAnimation(std::nullopt);
                                   }));
    rotationObservation_ = platform::ObserverRegistration(
        center,
        center.addObserver(platform::kApplicationDidChangeStatusBarOrientationNotification, nullptr,
                           [weak](const platform::Notification&) {
                               if (auto scanner = weak.lock())
                                   scanner->didRotateFromInterfaceOrientation(
                                       platform::Application::shared().statusBarOrientation());
                           }));
    scanForbiddenDueToViewHasRotated_ = false;
    // Parked already, so that a scanner without content opens too.
    makeScannerContainer();
    buildBarCodeTypes();
}

void MVScannerViewController::buildBarCodeTypes() {
    barCodeTypes_.clear();
    if (systemVersionEqualOrAbove(UISystemVersionMake(7, 0, 0))) {
        barCodeTypes_ = {
            {platform::kMetadataObjectTypeUPCECode, "UPC_E"},
            {platform::kMetadataObjectTypeCode39Code, "CODE_39"},
            {platform::kMetadataObjectTypeEAN13Code, "EAN_13"},
            {platform::kMetadataObjectTypeEAN8Code, "EAN_8"},
            {platform::kMetadataObjectTypeCode93Code, "CODE_93"},
            {platform::kMetadataObjectTypeCode128Code, "CODE_128"},
            {platform::kMetadataObjectTypePDF417Code, "PDF_417"},
            {platform::kMetadataObjectTypeQRCode, "QR_CODE"},
            {platform::kMetadataObjectTypeAztecCode, "AZTEC"},
        };
    }
    if (systemVersionEqualOrAbove(UISystemVersionMake(8, 0, 0))) {
        barCodeTypes_.emplace_back(platform::kMetadataObjectTypeInterleaved2of5Code, "ITF");
        barCodeTypes_.emplace_back(platform::kMetadataObjectTypeDataMatrixCode, "DATA_MATRIX");
    }
}

std::vector<std::string> MVScannerViewController::barCodeTypeKeys() const {
    std::vector<std::string> keys;
    for (const auto& [type, format] : barCodeTypes_) keys.push_back(type);
    return keys;
}

const std::string* MVScannerViewController::formatForType(const std::string& type) const {
    for (const auto& [key, format] : barCodeTypes_)
        if (key == type) return &format;
    return nullptr;
}

void MVScannerViewController::setContentViewController(
    std::shared_ptr<platform::ViewController> content) {
    MVContainerViewController::setContentViewController(std::move(content));
    contentContainerView()->setFrame(view()->bounds());
    makeScannerContainer();
}

void MVScannerViewController::makeScannerContainer() {
    if (scannerContainerView_) scannerContainerView_->removeFromSuperview();
    const double w = containerWidth(), h = containerHeight();
    scannerContainerView_ = platform::View::create({0, h, w, h});
    scannerContainerView_->setBackgroundColor(platform::Color::white());
    scannerContainerView_->setAutoresizingMask(kFlexibleSize);
    scannerContainerView_->setAutoresizesSubviews(true);
    contentContainerView()->addSubview(scannerContainerView_);
}

double MVScannerViewController::containerWidth() {
    return contentContainerView()->frame().size.width;
}

double MVScannerViewController::containerHeight() {
    return contentContainerView()->frame().size.height;
}

std::shared_ptr<platform::CaptureMetadataOutput> MVScannerViewController::makeBarcodeOutput() {
    auto output = platform::CaptureMetadataOutput::create();
    output->setMetadataObjectTypes(output->availableMetadataObjectTypes());
    output->setMetadataObjectsDelegate(
        std::weak_ptr<platform::CaptureMetadataOutputObjectsDelegate>(self()));
    return output;
}

std::shared_ptr<platform::CaptureStillImageOutput> MVScannerViewController::makeStillImageOutput() {
    auto output = platform::CaptureStillImageOutput::create();
    output->setPixelFormatType(platform::kPixelFormatType32BGRA);
    return output;
}

void MVScannerViewController::sendToOverlay(const MVEvent& event) {
    if (contentWebView_) contentWebView_->performMVEvent(event);
}

void MVScannerViewController::openScannerWithSrc(const std::string& src,
                                                 const std::optional<std::string>& animation,
                                                 const nlohmann::json* eventParams,
                                                 bool barcodeRecognitionEnabled,
                                                 bool imageCapturingEnabled) {
    if (isOpen_) {
        MVLogWarn(MVScannerTexts::kAlreadyOpen);
        return;
    }
    openAnimation_ = animation;
    lastSend_.reset();
    isRunning_ = true;
    scanForbiddenDueToViewHasRotated_ = false;

    auto webView =
        MVWebViewCache::sharedCache().cachedWebViewForUrl(src, scannerContainerView_.get());
    // An earlier opening's page for another address leaves the container.
    if (contentWebView_ && contentWebView_ != webView &&
        contentWebView_->superview() == scannerContainerView_)
        contentWebView_->removeFromSuperview();
    contentWebView_ = webView;
    contentWebView_->setDebugName("Scanner");
    contentWebView_->setDelegate(std::weak_ptr<MVWebViewDelegate>(self()));
    contentWebView_->setBackgroundColor(platform::Color::clear());
    contentWebView_->setFrame({0, 0, containerWidth(), containerHeight()});
    contentWebView_->setAutoresizingMask(kFlexibleSize);
    scannerContainerView_->addSubview(contentWebView_);

    if (eventParams) sendToOverlay(MVEventWebViews::updateTemplateContent(eventParams));

    if (!contentWebView_->isLoading()) {
        openingWaitsForRendering_ = false;
        openAnimated();
    } else {
        openingWaitsForRendering_ = true;
    }
    setScannerModesWithBarcodeRecognitionEnabled(barcodeRecognitionEnabled, imageCapturingEnabled,
                                                 false);
}

void MVScannerViewController::openAnimated() {
    isOpen_ = true;
    const uint64_t opening = ++movements_;
    const double w = containerWidth(), h = containerHeight();
    std::weak_ptr<MVScannerViewController> weak = self();
    // A scanner closed (or closed and opened again) during the slide starts no camera.
    auto completion = [weak, opening](bool) {
        auto scanner = weak.lock();
        if (scanner && scanner->isOpen_ && scanner->movements_ == opening)
            scanner->openingDidFinish();
    };
    auto container = scannerContainerView_;
    if (openAnimation_ == "foregroundBottom") {
        platform::View::animate(
            kMoveDuration,
            [&] {
                sendToOverlay(MVEventViews::viewWillAppearAnimated(true));
                moveTo(*container, {0, 0});
            },
            completion);
        return;
    }
    sendToOverlay(MVEventViews::viewWillAppearAnimated(true));
    if (auto from = slideOrigin(openAnimation_, w, h)) {
        moveTo(*container, *from);
        platform::View::animate(
            kMoveDuration,
            [&] {
                moveTo(*container, {0, 0});
            },
            completion);
        return;
    }
    moveTo(*container, {0, 0});
    openingDidFinish();
}

void MVScannerViewController::openingDidFinish() {
    initScanner();
    sendToOverlay(MVEventViews::viewDidAppearAnimated(true));
    ::setNeedsStatusBarAppearanceUpdate(platform::Application::shared());
}

void MVScannerViewController::initScanner() {
    if (!modesToSet_) setScannerModesWithBarcodeRecognitionEnabled(true, false, false);
    scannerView_ = platform::View::create({0, 0, containerWidth(), containerHeight()});
    if (contentWebView_ && contentWebView_->superview() == scannerContainerView_)
        scannerContainerView_->insertSubviewBelow(scannerView_, contentWebView_);
    else
        scannerContainerView_->addSubview(scannerView_);
    scannerView_->setAlpha(0);
    initCamera();
    revealScanner();
}

void MVScannerViewController::revealScanner() {
    auto view = scannerView_;
    platform::View::animate(kRevealDuration, [&] { view->setAlpha(1); });
}

void MVScannerViewController::initCamera() {
    auto oldSession = session_;
    // Built aside: a camera that fails leaves the working one in place.
    auto device = platform::VideoCaptureDevice::defaultDevice(platform::kMediaTypeVideo);
    auto session = platform::CaptureSession::create();
    platform::Error error;
    auto input = platform::CaptureDeviceInput::create(device, &error);
    if (!input) {
        MVLogError(MVScannerTexts::kCouldNotStart, errorDescription(error));
        return;
    }
    device_ = device;
    session_ = session;
    input_ = input;
    session_->addInput(input_);
    session_->setSessionPreset(platform::kCaptureSessionPresetInputPriority);
    if (modesToSet_) {
        for (const auto& output : *modesToSet_) {
            session_->addOutput(output);
            if (auto metadata =
                    std::dynamic_pointer_cast<platform::CaptureMetadataOutput>(output)) {
                outputMetaData_ = metadata;
                metadata->setMetadataObjectTypes(barCodeTypeKeys());
            } else if (auto still =
                           std::dynamic_pointer_cast<platform::CaptureStillImageOutput>(output)) {
                outputStillImage_ = still;
            }
        }
    }
    modesToSet_.reset();

    if (prevLayer_) prevLayer_->removeFromSuperlayer();
    prevLayer_ = platform::CaptureVideoPreviewLayer::create(session_);
    prevLayer_->setFrame(view()->bounds());
    prevLayer_->setVideoGravity(platform::kLayerVideoGravityResizeAspectFill);
    if (scannerView_) scannerView_->layer()->addSublayer(prevLayer_);
    updateCameraOrientation();

    if (!oldSession) {
        scanForbiddenDueToViewHasRotated_ = false;
        session_->startRunning();
        return;
    }
    if (oldSession->isRunning()) oldSession->stopRunning();
    if (isRunning_) {
        scanForbiddenDueToViewHasRotated_ = false;
        session_->startRunning();
        return;
    }
    // A stopped scanner shows a fresh picture for a moment; reports stay blocked.
    session_->startRunning();
    std::weak_ptr<MVScannerViewController> weak = self();
    std::weak_ptr<platform::CaptureSession> preview = session_;
    performBlock(
        [weak, preview] {
            auto scanner = weak.lock();
            if (!scanner || scanner->isRunning_) return;
            if (auto session = preview.lock()) session->stopRunning();
            scanner->scanForbiddenDueToViewHasRotated_ = false;
        },
        kPreviewAfterRotation);
}

void MVScannerViewController::setScannerModesWithBarcodeRecognitionEnabled(
    bool barcodeRecognitionEnabled, bool imageCapturing) {
    setScannerModesWithBarcodeRecognitionEnabled(barcodeRecognitionEnabled, imageCapturing, false);
}

void MVScannerViewController::setScannerModesWithBarcodeRecognitionEnabled(
    bool barcodeRecognitionEnabled, bool imageCapturing, bool reInitCamera) {
    if (session_ && !session_->outputs().empty() && !reInitCamera) {
        // The newest wish: outputs still waiting from a failed camera set-up are dropped.
        modesToSet_.reset();
        if (!barcodeRecognitionEnabled && outputMetaData_) {
            session_->removeOutput(outputMetaData_);
            outputMetaData_.reset();
        } else if (barcodeRecognitionEnabled && !outputMetaData_) {
            outputMetaData_ = makeBarcodeOutput();
            session_->addOutput(outputMetaData_);
            outputMetaData_->setMetadataObjectTypes(barCodeTypeKeys());
        }
        if (!imageCapturing && outputStillImage_) {
            session_->removeOutput(outputStillImage_);
            outputStillImage_.reset();
        } else if (imageCapturing && !outputStillImage_) {
            outputStillImage_ = makeStillImageOutput();
            session_->addOutput(outputStillImage_);
        }
        return;
    }
    Outputs outputs;
    if (barcodeRecognitionEnabled) outputs.push_back(makeBarcodeOutput());
    if (imageCapturing) outputs.push_back(makeStillImageOutput());
    modesToSet_ = std::move(outputs);
}

void MVScannerViewController::captureOutputDidOutputMetadataObjects(
    platform::CaptureMetadataOutput&, const std::vector<platform::MetadataObject>& objects,
    const std::shared_ptr<platform::CaptureConnection>&) {
    // A stopped scanner reports nothing, whatever session a late frame came from.
    if (scanForbiddenDueToViewHasRotated_ || !isOpen_ || !isRunning_) return;
    const platform::MetadataObject* found = nullptr;
    const std::string* format = nullptr;
    for (const auto& object : objects) {
        if ((format = formatForType(object.type))) {
            found = &object;
            break;
        }
    }
    if (!found || !found->stringValue) return;
    const std::string& code = *found->stringValue;
    const auto now = platform::Date::now();
    if (lastSend_ && secondsBetweenDates(lastSend_->dateTime, now) <= 0 && code == lastSend_->code)
        return;
    lastSend_ = LastSend{code, now};
    sendToOverlay(MVEventScanner::scannerDidScan(code, *format));
}

void MVScannerViewController::startScanner() {
    if (!isOpen_) return;
    isRunning_ = true;
    if (session_) session_->startRunning();
    scanForbiddenDueToViewHasRotated_ = false;
}

void MVScannerViewController::stopScanner() {
    if (!isOpen_) return;
    isRunning_ = false;
    if (session_) session_->stopRunning();
}

void MVScannerViewController::setFlashlightEnabled(bool enabled) {
    if (!device_ || !device_->hasTorch()) return;
    platform::Error error;
    const bool locked = device_->lockForConfiguration(&error);
    if (locked) device_->setTorchMode(enabled ? platform::TorchMode::On : platform::TorchMode::Off);
    device_->unlockForConfiguration();
    if (!locked) MVLogWarn(MVScannerTexts::kTorchNotUpdated, errorDescription(error));
}

void MVScannerViewController::switchTorchOff() {
    if (!device_ || !device_->hasTorch()) return;
    platform::Error ignored;
    if (device_->lockForConfiguration(&ignored)) device_->setTorchMode(platform::TorchMode::Off);
    device_->unlockForConfiguration();
}

void MVScannerViewController::closeScannerWithAnimation(
    const std::optional<std::string>& animation) {
    isOpen_ = false;
    const uint64_t closing = ++movements_;
    openingWaitsForRendering_ = false;
    switchTorchOff();
    ::setNeedsStatusBarAppearanceUpdate(platform::Application::shared());

    const double w = containerWidth(), h = containerHeight();
    auto container = scannerContainerView_;
    std::weak_ptr<MVScannerViewController> weak = self();
    const auto to = slideOrigin(animation, w, h);
    if (to) {
        platform::View::animate(
            kMoveDuration,
            [&] {
                sendToOverlay(MVEventViews::viewWillDisappearAnimated(true));
                moveTo(*container, *to);
            },
            // The slide's end belongs to the page it closed; a newer movement (a closing
            // without slide, an opening) has its own appearance events.
            [weak, closing, closed = std::weak_ptr<MVWebView>(contentWebView_)](bool) {
                auto scanner = weak.lock();
                auto page = closed.lock();
                if (scanner && page && scanner->movements_ == closing)
                    page->performMVEvent(MVEventViews::viewDidDisappearAnimated(true));
            });
    } else {
        sendToOverlay(MVEventViews::viewWillDisappearAnimated(false));
        moveTo(*container, {0, h});
        sendToOverlay(MVEventViews::viewDidDisappearAnimated(false));
    }

    auto input = std::exchange(input_, nullptr);
    auto device = std::exchange(device_, nullptr);
    auto session = std::exchange(session_, nullptr);
    auto layer = std::exchange(prevLayer_, nullptr);
    auto cameraView = std::exchange(scannerView_, nullptr);
    modesToSet_.reset();
    outputMetaData_.reset();
    outputStillImage_.reset();
    scanForbiddenDueToViewHasRotated_ = false;

    platform::View::animate(
        to ? kMoveDuration : 0,
        [&] {
            if (cameraView) cameraView->setAlpha(0);
        },
        [weak, input, device, session, layer, cameraView](bool) {
            if (session) session->stopRunning();
            if (cameraView) cameraView->removeFromSuperview();
            // A reopening in the meantime has a camera view of its own.
            auto scanner = weak.lock();
            if (scanner && scanner->scannerView_ == cameraView) scanner->scannerView_.reset();
        });
}

void MVScannerViewController::updateCameraOrientation() {
    const auto orientation = platform::Application::shared().statusBarOrientation();
    if (prevLayer_) {
        if (auto connection = prevLayer_->connection();
            connection && connection->isVideoOrientationSupported()) {
            const int value = static_cast<int>(orientation);
            connection->setVideoOrientation(value >= 2 && value <= 4
                                                ? static_cast<platform::VideoOrientation>(value)
                                                : platform::VideoOrientation::Portrait);
        }
    }
    view()->setFrame(boundsDependingOnOrientation(platform::Screen::main(), orientation));
    if (scannerView_) scannerView_->setFrame(view()->bounds());
    if (prevLayer_) prevLayer_->setFrame(view()->bounds());
}

void MVScannerViewController::didRotateFromInterfaceOrientation(platform::InterfaceOrientation) {
    if (!isOpen_) return;
    if (!isRunning_) scanForbiddenDueToViewHasRotated_ = true;
    // Modes that wait for a camera take effect now; otherwise the current ones again.
    if (!modesToSet_)
        setScannerModesWithBarcodeRecognitionEnabled(outputMetaData_ != nullptr,
                                                     outputStillImage_ != nullptr, true);
    initCamera();
}

std::shared_ptr<MVStatusBarStyle> MVScannerViewController::overlayStatusBarStyle() const {
    return isOpen_ ? preferredMVStatusBarStyle_ : nullptr;
}

void MVScannerViewController::webViewDemandsCloseByCombat(MVWebView&) {
    closeScannerWithAnimation(std::nullopt);
}

std::shared_ptr<MVNavigationControllerInterface>
MVScannerViewController::navigationControllerForWebView(MVWebView&) {
    return nullptr;
}

std::optional<MVEvent> MVScannerViewController::pageContextForSource(
    const std::string& source, const std::string& baseUrl, bool loadedFromCache,
    const std::vector<std::string>&) {
    return MVEventWebViews::pageContext(source, baseUrl, std::string("scanner"), loadedFromCache,
                                        std::nullopt, std::nullopt, nullptr);
}

void MVScannerViewController::webViewDidFinishRendering(MVWebView& webView) {
    // Only an opening that waits for its page moves; later reports change nothing.
    if (!openingWaitsForRendering_ || &webView != contentWebView_.get()) return;
    openingWaitsForRendering_ = false;
    openAnimated();
}

void MVScannerViewController::webViewDidChangePreferredStatusBarStyle(
    MVWebView&, const std::shared_ptr<MVStatusBarStyle>& style) {
    preferredMVStatusBarStyle_ = style;
    ::setNeedsStatusBarAppearanceUpdate(platform::Application::shared());
}
