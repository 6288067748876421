// Scanner commands: open and close the camera scanner with its overlay page, switch its
// modes and torch, run and halt the camera, take a still image. They read the
// parameters and call the default scanner; results reach the overlay page as events
// the scanner sends.
#include <nlohmann/json.hpp>

#include "libmerovane/core/MVScannerViewControllerInterface.h"
#include "libmerovane/handlers/MVCommandConventions.h"
#include "libmerovane/handlers/MVCommandGroups.h"
#include "libmerovane/handlers/MVCommandHandler_1_0.h"
#include "libmerovane/handlers/MVCommandHandler_1_1.h"
#include "libmerovane/handlers/MVCommandParameters.h"

namespace {

using Conventions = MVCommandConventions;
namespace Parameters = MVCommandParameters;
using WebViewPtr = std::shared_ptr<MVWebView>;
using ScannerPtr = std::shared_ptr<MVScannerViewControllerInterface>;

ScannerPtr scanner() {
    return MVScannerViewControllerInterface::sharedDefaultInstance();
}

void open(const ScannerPtr& scanner, const nlohmann::json* parameters, bool barcodeRecognition,
          bool imageCapturing) {
    scanner->openScannerWithSrc(Parameters::string(parameters, "src").value_or(""),
                                Parameters::string(parameters, "animation"),
                                Parameters::dictionary(parameters, "eventParams"),
                                barcodeRecognition, imageCapturing);
}

void openScanner_1_0(MVCommandHandler&, nlohmann::json* parameters, const WebViewPtr&) {
    if (auto current = scanner()) open(current, parameters, true, false);
}

void openScanner_1_1(MVCommandHandler&, nlohmann::json* parameters, const WebViewPtr&) {
    auto current = scanner();
    if (!current) return;
    if (const nlohmann::json* modes = Parameters::dictionary(parameters, "modes")) {
        open(current, parameters, Parameters::isOn(modes, "barcodeRecognition"),
             Parameters::isOn(modes, "imageCapturing"));
        return;
    }
    // Without modes the scanner keeps its own, and a scanner with neither recognises.
    const bool imageCapturing = current->isImageCapturingEnabled();
    open(current, parameters, current->isBarcodeRecognitionEnabled() || !imageCapturing,
         imageCapturing);
}

void closeScanner(MVCommandHandler&, nlohmann::json* parameters, const WebViewPtr&) {
    if (auto current = scanner())
        current->closeScannerWithAnimation(Parameters::string(parameters, "animation"));
}

bool fromPage(const MVCommandHandler& handler, std::string_view command,
              const nlohmann::json* parameters, const WebViewPtr& webView) {
    return Conventions::checkCaller(handler, command, Conventions::CallerCheck::PageOnlyScanner,
                                    parameters, webView);
}

void startScanner(MVCommandHandler& handler, nlohmann::json* parameters,
                  const WebViewPtr& webView) {
    if (!fromPage(handler, "startScanner", parameters, webView)) return;
    if (auto current = scanner()) current->startScanner();
}

void stopScanner(MVCommandHandler& handler, nlohmann::json* parameters, const WebViewPtr& webView) {
    if (!fromPage(handler, "stopScanner", parameters, webView)) return;
    if (auto current = scanner()) current->stopScanner();
}

void setFlashlightMode(MVCommandHandler&, nlohmann::json* parameters, const WebViewPtr&) {
    if (auto current = scanner())
        current->setFlashlightEnabled(Parameters::isOn(parameters, "mode"));
}

void setScannerMode(MVCommandHandler&, nlohmann::json* parameters, const WebViewPtr&) {
    if (auto current = scanner())
        current->setScannerModesWithBarcodeRecognitionEnabled(
            Parameters::isOn(parameters, "barcodeRecognition"),
            Parameters::isOn(parameters, "imageCapturing"));
}

void scannerCaptureImage(MVCommandHandler& handler, nlohmann::json* parameters,
                         const WebViewPtr& webView) {
    if (!fromPage(handler, "scannerCaptureImage", parameters, webView)) return;
    auto current = scanner();
    if (!current) return;
    current->captureScannerImageWithMaxWidth(
        Parameters::singlePrecision(Parameters::number(parameters, "width").value_or(0)),
        Parameters::singlePrecision(Parameters::number(parameters, "height").value_or(0)),
        Parameters::string(parameters, "requestId").value_or(""),
        Parameters::string(parameters, "format").value_or("png"), webView);
}

}  // namespace

void registerScannerCommands() {
    const MVSpec::Member src{"src", MVSpec::NSString};
    const MVSpec::Member eventParams{"+eventParams", MVSpec::NSDictionary};
    const MVSpec::Member animation{"+animation", MVSpec::NSString};

    auto& v10 = MVCommandHandler_1_0::commandTable();
    v10.add("openScanner", {MVSpec{src, eventParams, animation}, &openScanner_1_0, true});
    v10.add("closeScanner", {MVSpec{animation}, &closeScanner, true});
    v10.add("startScanner", {MVSpec{}, &startScanner, true});
    v10.add("stopScanner", {MVSpec{}, &stopScanner, true});
    v10.add("setFlashlightMode", {MVSpec{{"mode", MVSpec::NSString}}, &setFlashlightMode, true});

    auto& v11 = MVCommandHandler_1_1::commandTable();
    v11.add("openScanner", {MVSpec{src, eventParams, animation, {"+modes", MVSpec::NSDictionary}},
                            &openScanner_1_1, true});
    v11.add("setScannerMode",
            {MVSpec{{"barcodeRecognition", MVSpec::NSString}, {"imageCapturing", MVSpec::NSString}},
             &setScannerMode, true});
    v11.add("scannerCaptureImage", {MVSpec{{"height", MVSpec::NSNumber},
                                           {"width", MVSpec::NSNumber},
                                           {"+format", MVSpec::NSString},
                                           {"requestId", MVSpec::NSString}},
                                    &scannerCaptureImage, true});
}
