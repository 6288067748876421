#pragma once
// What the commands need of the barcode scanner: the container of the chain that lays a
// page over the camera picture, recognises barcodes and captures still images. The
// overlays make it with the container chain (one per process, the default instance of
// its tracker); until then there is none.
//
//   if (auto scanner = MVScannerViewControllerInterface::sharedDefaultInstance())
//       scanner->closeScannerWithAnimation("foregroundBottom");
//
// Main thread only.

#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>

#include "libmerovane/core/MVInstanceTracking.h"

class MVWebView;

class MVScannerViewControllerInterface
    : public MVInstanceTracking<MVScannerViewControllerInterface> {
  public:
    virtual ~MVScannerViewControllerInterface() = default;

    // Opens the scanner with the page at the URL as its overlay; the event parameters
    // (a dictionary, or null) reach that page as template content. The animation names
    // a slide ("foregroundBottom", "foregroundRight", "foregroundLeft"); any other name
    // or none opens at once. Sets both modes without restarting the camera. An open
    // scanner only logs.
    virtual void openScannerWithSrc(const std::string& src,
                                    const std::optional<std::string>& animation,
                                    const nlohmann::json* eventParams,
                                    bool barcodeRecognitionEnabled, bool imageCapturingEnabled) = 0;
    // Torch off, slide out by the name (or none), camera outputs removed.
    virtual void closeScannerWithAnimation(const std::optional<std::string>& animation) = 0;
    // Only while open: runs or halts the camera.
    virtual void startScanner() = 0;
    virtual void stopScanner() = 0;
    // Nothing on a camera without torch.
    virtual void setFlashlightEnabled(bool enabled) = 0;
    // Without reinitialising the camera.
    virtual void setScannerModesWithBarcodeRecognitionEnabled(bool barcodeRecognitionEnabled,
                                                              bool imageCapturing) = 0;
    virtual bool isBarcodeRecognitionEnabled() const = 0;
    virtual bool isImageCapturingEnabled() const = 0;
    // Takes a still image for the overlay page that asked, scaled into the maximum size
    // (sizes arrive as sent: 0, negative and infinite ones too), encoded in the format
    // ("png" or "jpg"; others are reported and replaced by "png"), and sends it to that
    // page as the event "scannerDidCaptureImage" with the request id. Refuses, with a
    // report, any other web view, a closed or stopped scanner and one without image
    // capture.
    virtual void captureScannerImageWithMaxWidth(float maxWidth, float maxHeight,
                                                 const std::string& requestID,
                                                 const std::string& format,
                                                 const std::shared_ptr<MVWebView>& webView) = 0;
};
