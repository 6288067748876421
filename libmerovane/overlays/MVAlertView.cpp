#include "libmerovane/overlays/MVAlertView.h"

#include <fmt/format.h>

#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/core/MVAlertViewInterface.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/handlers/MVCommandParameters.h"
#include "platform/foundation/RunLoop.h"

namespace {

constexpr const char* kNotAButton =
    "Undifined Object from Class: <{}> found as given alert button in MVAlertView for {}";

// The class a page's value has on the platform.
const char* className(const nlohmann::json& value) {
    switch (value.type()) {
        case nlohmann::json::value_t::string:
            return "NSString";
        case nlohmann::json::value_t::object:
            return "NSDictionary";
        case nlohmann::json::value_t::array:
            return "NSArray";
        case nlohmann::json::value_t::null:
            return "NSNull";
        case nlohmann::json::value_t::binary:
            return "NSData";
        default:
            return "NSNumber";
    }
}

// How the warning names the alert.
std::string alertDescription(const std::optional<std::string>& title,
                             const std::optional<std::string>& message) {
    if (title) return fmt::format("title: <\"{}\">", *title);
    if (message) return fmt::format("message: <\"{}\">", *message);
    return "untitled AlertView";
}

class InstalledAlertView : public MVAlertViewInterface {
  public:
    void showAlertWithTitle(const std::optional<std::string>& title,
                            const std::optional<std::string>& message,
                            const std::optional<MVAlertButton>& cancelButton,
                            const std::vector<MVAlertButton>& alertButtons,
                            std::optional<double> timeout,
                            const nlohmann::json* commandCollectionOnTimeout,
                            const std::shared_ptr<MVWebView>& webView) override {
        MVAlertView::showAlertWithTitle(
            title, message, cancelButton,
            std::vector<MVAlertView::ButtonListElement>(alertButtons.begin(), alertButtons.end()),
            timeout, commandCollectionOnTimeout, webView);
    }
};

}  // namespace

void MVAlertView::install() {
    MVAlertViewInterface::install(std::make_shared<InstalledAlertView>());
}

MVAlertView::MVAlertView(std::optional<std::string> title, std::optional<std::string> message,
                         std::optional<std::string> cancelButtonTitle)
    : platform::AlertView(std::move(title), std::move(message), {}, std::move(cancelButtonTitle),
                          {}) {}

void MVAlertView::showAlertWithTitle(const std::optional<std::string>& title,
                                     const std::optional<std::string>& message,
                                     const std::optional<MVAlertButton>& cancelButton,
                                     std::vector<ButtonListElement> alertButtons,
                                     std::optional<double> timeout,
                                     const nlohmann::json* commandCollectionOnTimeout,
                                     const std::shared_ptr<MVWebView>& triggeredFromWebView) {
    internalShowAlert(title, message, cancelButton, std::move(alertButtons), timeout,
                      commandCollectionOnTimeout, triggeredFromWebView);
}

void MVAlertView::showAlertWithTitleCommandListOnTimout(
    const std::optional<std::string>& title, const std::optional<std::string>& message,
    const std::optional<MVAlertButton>& cancelButton, std::vector<ButtonListElement> alertButtons,
    std::optional<double> timeout, const nlohmann::json* commandListOnTimeout,
    const std::shared_ptr<MVWebView>& triggeredFromWebView) {
    internalShowAlert(title, message, cancelButton, std::move(alertButtons), timeout,
                      commandListOnTimeout, triggeredFromWebView);
}

void MVAlertView::internalShowAlert(const std::optional<std::string>& title,
                                    const std::optional<std::string>& message,
                                    const std::optional<MVAlertButton>& cancelButton,
                                    std::vector<ButtonListElement> alertButtons,
                                    std::optional<double> timeout,
                                    const nlohmann::json* commandListOrCollectionOnTimeout,
                                    const std::shared_ptr<MVWebView>& triggeredFromWebView) {
    std::shared_ptr<MVAlertView> alert(new MVAlertView(
        title, message,
        cancelButton ? std::optional<std::string>(cancelButton->title) : std::nullopt));
    for (auto& element : alertButtons) {
        if (auto* button = std::get_if<MVAlertButton>(&element)) {
            alert->addButtonWithTitle(button->title);
            alert->alertButtons_.push_back(std::move(*button));
        } else {
            MVLogWarn(kNotAButton, className(std::get<nlohmann::json>(element)),
                      alertDescription(title, message));
        }
    }
    alert->alertCancelButton_ = cancelButton;
    if (commandListOrCollectionOnTimeout)
        alert->timeoutCommandListOrCollection_ = *commandListOrCollectionOnTimeout;
    alert->fromWebView_ = triggeredFromWebView;
    if (timeout) {
        // As the platform reads the number; the loop bounds what no clock can reach.
        platform::RunLoop::main().postAfterDetached(MVCommandParameters::singlePrecision(*timeout),
                                                    [alert] { alert->timeOut(); });
    }
    alert->show();
}

void MVAlertView::clickedButtonAtIndex(int index) {
    alertViewClickedButtonAtIndex(index);
    platform::AlertView::clickedButtonAtIndex(index);
}

void MVAlertView::alertViewClickedButtonAtIndex(int index) {
    userhasClicked_ = true;
    if (timeOutReached_) return;
    if (alertCancelButton_ && index == cancelButtonIndex()) {
        performCommandListOrCollection(alertCancelButton_->commandCollection.get());
        return;
    }
    const long position = long(index) - (alertCancelButton_ ? 1 : 0);
    if (position < 0 || position >= long(alertButtons_.size())) return;
    performCommandListOrCollection(alertButtons_[size_t(position)].commandCollection.get());
}

void MVAlertView::timeOut() {
    if (userhasClicked_ || timeOutReached_) return;
    timeOutReached_ = true;
    dismissWithClickedButtonIndex(-1, true);
    performCommandListOrCollection(&timeoutCommandListOrCollection_);
}

void MVAlertView::performCommandListOrCollection(const nlohmann::json* commands) const {
    if (!commands) return;
    std::shared_ptr<MVWebViewInterface> webView = fromWebView_;
    if (commands->is_object()) {
        MVCommandHandler::performCommandsFromCommandCollection(nlohmann::json(*commands), webView);
    } else if (commands->is_array()) {
        if (auto handler = MVCommandHandler::sharedHandler())
            handler->performCommands(nlohmann::json(*commands), webView);
    }
}
