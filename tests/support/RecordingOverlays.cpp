#include "tests/support/RecordingOverlays.h"

namespace {

std::string overlayFlag(bool value) {
    return value ? "1" : "0";
}

nlohmann::json recordedDictionary(const nlohmann::json* value) {
    return value ? *value : nlohmann::json();
}

class RecordingSharingController : public MVSharingControllerInterface {
  public:
    explicit RecordingSharingController(std::shared_ptr<RecordingSharingControllers> record)
        : record_(std::move(record)) {}

    void shareItemWithTitle(const std::string& title, const std::string& imageURL,
                            const std::string& deepLink, const platform::Rect& sourceRect,
                            const std::shared_ptr<platform::View>& sourceView) override {
        record_->shares.push_back({title, imageURL, deepLink, sourceRect, sourceView});
    }

  private:
    std::shared_ptr<RecordingSharingControllers> record_;
};

}  // namespace

std::shared_ptr<RecordingAlertView> RecordingAlertView::install() {
    auto alertView = std::make_shared<RecordingAlertView>();
    MVAlertViewInterface::install(alertView);
    return alertView;
}

void RecordingAlertView::showAlertWithTitle(const std::optional<std::string>& title,
                                            const std::optional<std::string>& message,
                                            const std::optional<MVAlertButton>& cancelButton,
                                            const std::vector<MVAlertButton>& alertButtons,
                                            std::optional<double> timeout,
                                            const nlohmann::json* commandCollectionOnTimeout,
                                            const std::shared_ptr<MVWebView>& webView) {
    alerts.push_back({title, message, cancelButton, alertButtons, timeout,
                      recordedDictionary(commandCollectionOnTimeout), webView});
}

std::shared_ptr<RecordingActionSheet> RecordingActionSheet::install() {
    auto actionSheet = std::make_shared<RecordingActionSheet>();
    MVActionSheetInterface::install(actionSheet);
    return actionSheet;
}

void RecordingActionSheet::showActionSheet(const nlohmann::json& parameters,
                                           const std::shared_ptr<MVWebView>& webView) {
    sheets.push_back({parameters, webView});
}

std::shared_ptr<RecordingNotificationClass> RecordingNotificationClass::registerType(
    const std::string& type, bool webViewNotification) {
    auto cls = std::make_shared<RecordingNotificationClass>(type, webViewNotification);
    MVNotificationControllerInterface::registerNotificationType(type, cls);
    return cls;
}

std::shared_ptr<MVNotificationInterface> RecordingNotificationClass::notificationWithContent(
    const std::string& content, const std::optional<std::string>& baseURL,
    const nlohmann::json* notificationParams, std::optional<double> timeout,
    std::optional<double> speedFactor, const std::shared_ptr<MVWebView>& webView) const {
    auto notification = std::make_shared<RecordingNotification>();
    notification->type = type_;
    notification->source = content;
    notification->isURL = false;
    notification->baseURL = baseURL;
    notification->notificationParams = recordedDictionary(notificationParams);
    notification->timeout = timeout;
    notification->speedFactor = speedFactor;
    notification->webView = webView;
    made.push_back(notification);
    return notification;
}

std::shared_ptr<MVNotificationInterface> RecordingNotificationClass::notificationWithURL(
    const std::string& url, const nlohmann::json* notificationParams, std::optional<double> timeout,
    std::optional<double> speedFactor, const std::shared_ptr<MVWebView>& webView) const {
    auto notification = std::static_pointer_cast<RecordingNotification>(notificationWithContent(
        url, std::nullopt, notificationParams, timeout, speedFactor, webView));
    notification->isURL = true;
    return notification;
}

std::shared_ptr<RecordingNotificationController> RecordingNotificationController::create(
    std::optional<std::string> identifier) {
    auto controller = std::make_shared<RecordingNotificationController>();
    track(controller);
    if (identifier) controller->setIdentifier(std::move(identifier));
    return controller;
}

void RecordingNotificationController::presentNotification(
    std::shared_ptr<MVNotificationInterface> notification) {
    presented.push_back(std::dynamic_pointer_cast<RecordingNotification>(notification));
}

std::shared_ptr<RecordingLocationManager> RecordingLocationManager::install() {
    auto manager = std::make_shared<RecordingLocationManager>();
    MVLocationManagerInterface::install(manager);
    return manager;
}

void RecordingLocationManager::getLocationWithMinimumAccuracy(double minimumAccuracy,
                                                              double timeout,
                                                              CompletionHandler completionHandler) {
    requests.push_back({minimumAccuracy, timeout, std::move(completionHandler)});
}

std::shared_ptr<RecordingSharingControllers> RecordingSharingControllers::install() {
    auto record = std::make_shared<RecordingSharingControllers>();
    std::weak_ptr<RecordingSharingControllers> weakRecord = record;
    MVSharingControllerInterface::setFactory(
        [weakRecord]() -> std::shared_ptr<MVSharingControllerInterface> {
            auto record = weakRecord.lock();
            if (!record) return nullptr;
            ++record->controllersMade;
            return std::make_shared<RecordingSharingController>(record);
        });
    return record;
}

std::shared_ptr<RecordingScanner> RecordingScanner::create() {
    auto scanner = std::make_shared<RecordingScanner>();
    track(scanner);
    return scanner;
}

void RecordingScanner::openScannerWithSrc(const std::string& src,
                                          const std::optional<std::string>& animation,
                                          const nlohmann::json* params,
                                          bool barcodeRecognitionEnabled,
                                          bool imageCapturingEnabled) {
    calls.push_back("open(" + src + "," + animation.value_or("(none)") + "," +
                    overlayFlag(barcodeRecognitionEnabled) + "," +
                    overlayFlag(imageCapturingEnabled) + ")");
    eventParams.push_back(recordedDictionary(params));
    barcodeRecognition = barcodeRecognitionEnabled;
    imageCapturing = imageCapturingEnabled;
}

void RecordingScanner::closeScannerWithAnimation(const std::optional<std::string>& animation) {
    calls.push_back("close(" + animation.value_or("(none)") + ")");
}

void RecordingScanner::startScanner() {
    calls.push_back("start");
}

void RecordingScanner::stopScanner() {
    calls.push_back("stop");
}

void RecordingScanner::setFlashlightEnabled(bool enabled) {
    calls.push_back("torch(" + overlayFlag(enabled) + ")");
}

void RecordingScanner::setScannerModesWithBarcodeRecognitionEnabled(bool barcodeRecognitionEnabled,
                                                                    bool imageCapturingEnabled) {
    calls.push_back("modes(" + overlayFlag(barcodeRecognitionEnabled) + "," +
                    overlayFlag(imageCapturingEnabled) + ")");
    barcodeRecognition = barcodeRecognitionEnabled;
    imageCapturing = imageCapturingEnabled;
}

void RecordingScanner::captureScannerImageWithMaxWidth(float maxWidth, float maxHeight,
                                                       const std::string& requestID,
                                                       const std::string& format,
                                                       const std::shared_ptr<MVWebView>& webView) {
    calls.push_back("capture");
    captures.push_back({maxWidth, maxHeight, requestID, format, webView});
}
