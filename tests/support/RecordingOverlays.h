#pragma once
// Recording stand-ins for the overlays and device features the commands talk to: alert
// view, action sheet, notification controller and notification classes, location
// manager, sharing controllers and scanner. Each records every call in order, with
// numbers, rectangles and parameters exactly as given.
//
//   auto alerts = RecordingAlertView::install();
//   ... perform {"c": "showAlert", "p": {...}} ...
//   alerts->alerts[0].buttons.size() == 2
//
//   auto location = RecordingLocationManager::install();
//   ... perform {"c": "getLocation"} ...
//   location->requests[0].complete(MVLocationFix{...}, std::nullopt);

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "libmerovane/core/MVActionSheetInterface.h"
#include "libmerovane/core/MVAlertViewInterface.h"
#include "libmerovane/core/MVLocationManagerInterface.h"
#include "libmerovane/core/MVNotificationControllerInterface.h"
#include "libmerovane/core/MVScannerViewControllerInterface.h"
#include "libmerovane/core/MVSharingControllerInterface.h"
#include "platform/foundation/Geometry.h"

class RecordingAlertView : public MVAlertViewInterface {
  public:
    struct Alert {
        std::optional<std::string> title;
        std::optional<std::string> message;
        std::optional<MVAlertButton> cancelButton;
        std::vector<MVAlertButton> buttons;
        std::optional<double> timeout;
        nlohmann::json timeoutCollection;  // null for none
        std::shared_ptr<MVWebView> webView;
    };

    // A new alert view, installed as the shared one.
    static std::shared_ptr<RecordingAlertView> install();

    void showAlertWithTitle(const std::optional<std::string>& title,
                            const std::optional<std::string>& message,
                            const std::optional<MVAlertButton>& cancelButton,
                            const std::vector<MVAlertButton>& alertButtons,
                            std::optional<double> timeout,
                            const nlohmann::json* commandCollectionOnTimeout,
                            const std::shared_ptr<MVWebView>& webView) override;

    std::vector<Alert> alerts;
};

class RecordingActionSheet : public MVActionSheetInterface {
  public:
    struct Sheet {
        nlohmann::json parameters;
        std::shared_ptr<MVWebView> webView;
    };

    // A new action sheet, installed as the shared one.
    static std::shared_ptr<RecordingActionSheet> install();

    void showActionSheet(const nlohmann::json& parameters,
                         const std::shared_ptr<MVWebView>& webView) override;

    std::vector<Sheet> sheets;
};

// What a recording notification class made.
class RecordingNotification : public MVNotificationInterface {
  public:
    std::string type;
    std::string source;  // the URL, or the HTML
    bool isURL = true;
    std::optional<std::string> baseURL;
    nlohmann::json notificationParams;  // null for none
    std::optional<double> timeout;
    std::optional<double> speedFactor;
    std::shared_ptr<MVWebView> webView;
};

class RecordingNotificationClass : public MVNotificationClassInterface {
  public:
    // Registers a new class for the type name.
    static std::shared_ptr<RecordingNotificationClass> registerType(const std::string& type,
                                                                    bool webViewNotification);
    RecordingNotificationClass(std::string type, bool webViewNotification)
        : type_(std::move(type)), webViewNotification_(webViewNotification) {}

    bool isWebViewNotification() const override { return webViewNotification_; }
    std::shared_ptr<MVNotificationInterface> notificationWithContent(
        const std::string& content, const std::optional<std::string>& baseURL,
        const nlohmann::json* notificationParams, std::optional<double> timeout,
        std::optional<double> speedFactor,
        const std::shared_ptr<MVWebView>& webView) const override;
    std::shared_ptr<MVNotificationInterface> notificationWithURL(
        const std::string& url, const nlohmann::json* notificationParams,
        std::optional<double> timeout, std::optional<double> speedFactor,
        const std::shared_ptr<MVWebView>& webView) const override;

    // Every notification made, in order.
    mutable std::vector<std::shared_ptr<RecordingNotification>> made;

  private:
    std::string type_;
    bool webViewNotification_;
};

class RecordingNotificationController : public MVNotificationControllerInterface {
  public:
    // A new controller, tracked under the identifier (none: unnamed).
    static std::shared_ptr<RecordingNotificationController> create(
        std::optional<std::string> identifier);

    void presentNotification(std::shared_ptr<MVNotificationInterface> notification) override;

    std::vector<std::shared_ptr<RecordingNotification>> presented;
};

class RecordingLocationManager : public MVLocationManagerInterface {
  public:
    struct Request {
        double minimumAccuracy = 0;
        double timeout = 0;
        CompletionHandler completionHandler;
    };

    // A new manager, installed as the shared one.
    static std::shared_ptr<RecordingLocationManager> install();

    void getLocationWithMinimumAccuracy(double minimumAccuracy, double timeout,
                                        CompletionHandler completionHandler) override;

    std::vector<Request> requests;
};

class RecordingSharingControllers {
  public:
    struct Share {
        std::string title;
        std::string imageURL;
        std::string deepLink;
        platform::Rect sourceRect;
        std::shared_ptr<platform::View> sourceView;
    };

    // Installs a factory whose controllers record into the returned list.
    static std::shared_ptr<RecordingSharingControllers> install();

    // One per controller made, in order; a controller shares once.
    std::vector<Share> shares;
    size_t controllersMade = 0;
};

class RecordingScanner : public MVScannerViewControllerInterface {
  public:
    struct Capture {
        float maxWidth = 0;
        float maxHeight = 0;
        std::string requestID;
        std::string format;
        std::shared_ptr<MVWebView> webView;
    };

    // A new scanner, the default one when it is the first.
    static std::shared_ptr<RecordingScanner> create();

    void openScannerWithSrc(const std::string& src, const std::optional<std::string>& animation,
                            const nlohmann::json* eventParams, bool barcodeRecognitionEnabled,
                            bool imageCapturingEnabled) override;
    void closeScannerWithAnimation(const std::optional<std::string>& animation) override;
    void startScanner() override;
    void stopScanner() override;
    void setFlashlightEnabled(bool enabled) override;
    void setScannerModesWithBarcodeRecognitionEnabled(bool barcodeRecognitionEnabled,
                                                      bool imageCapturing) override;
    bool isBarcodeRecognitionEnabled() const override { return barcodeRecognition; }
    bool isImageCapturingEnabled() const override { return imageCapturing; }
    void captureScannerImageWithMaxWidth(float maxWidth, float maxHeight,
                                         const std::string& requestID, const std::string& format,
                                         const std::shared_ptr<MVWebView>& webView) override;

    // "open(<src>,<animation or (none)>,<barcode 0/1>,<image 0/1>)", "close(<animation or
    // (none)>)", "start", "stop", "torch(<0/1>)", "modes(<0/1>,<0/1>)", "capture".
    std::vector<std::string> calls;
    // The event parameters of each opening; null JSON for none.
    std::vector<nlohmann::json> eventParams;
    std::vector<Capture> captures;
    bool barcodeRecognition = false;
    bool imageCapturing = false;
};
