#pragma once
// A native alert whose buttons and time-out run commands as if the page that asked for
// it had sent them: the cancel button (when there is one) first, the further buttons
// after it. A tap and the time-out exclude each other: whichever comes first wins.
//
//   MVAlertView::install();   // start-up: the "showAlert" command reaches it from now on
//   MVAlertView::showAlertWithTitle("Sold out", std::nullopt, cancel, {retry}, 5.0,
//                                   &onTimeout, webView);
//
// The alert is its own delegate; the application holds it while it is shown, and its
// time-out holds it until it has run. Main thread only.

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "libmerovane/core/MVAlertButton.h"
#include "platform/ui/AlertView.h"

class MVWebView;

class MVAlertView : public platform::AlertView {
  public:
    // An element of a button list as given: a button, or any other value, which is
    // left out with a warning.
    using ButtonListElement = std::variant<MVAlertButton, nlohmann::json>;

    // Installs the alerts as the ones the commands show.
    static void install();

    // `commandCollectionOnTimeout`: a command collection (null: none).
    static void showAlertWithTitle(const std::optional<std::string>& title,
                                   const std::optional<std::string>& message,
                                   const std::optional<MVAlertButton>& cancelButton,
                                   std::vector<ButtonListElement> alertButtons,
                                   std::optional<double> timeout,
                                   const nlohmann::json* commandCollectionOnTimeout,
                                   const std::shared_ptr<MVWebView>& triggeredFromWebView);
    // The same with a command list for the time-out.
    static void showAlertWithTitleCommandListOnTimout(
        const std::optional<std::string>& title, const std::optional<std::string>& message,
        const std::optional<MVAlertButton>& cancelButton,
        std::vector<ButtonListElement> alertButtons, std::optional<double> timeout,
        const nlohmann::json* commandListOnTimeout,
        const std::shared_ptr<MVWebView>& triggeredFromWebView);

    // The alert's own steps: a tap (the platform's delegate callback) and the time-out.
    void alertViewClickedButtonAtIndex(int index);
    void timeOut();

    bool timeOutReached() const { return timeOutReached_; }
    bool userhasClicked() const { return userhasClicked_; }
    const std::optional<MVAlertButton>& alertCancelButton() const { return alertCancelButton_; }
    const std::vector<MVAlertButton>& alertButtons() const { return alertButtons_; }
    const std::shared_ptr<MVWebView>& fromWebView() const { return fromWebView_; }

  protected:
    void clickedButtonAtIndex(int index) override;

  private:
    MVAlertView(std::optional<std::string> title, std::optional<std::string> message,
                std::optional<std::string> cancelButtonTitle);

    static void internalShowAlert(const std::optional<std::string>& title,
                                  const std::optional<std::string>& message,
                                  const std::optional<MVAlertButton>& cancelButton,
                                  std::vector<ButtonListElement> alertButtons,
                                  std::optional<double> timeout,
                                  const nlohmann::json* commandListOrCollectionOnTimeout,
                                  const std::shared_ptr<MVWebView>& triggeredFromWebView);
    void performCommandListOrCollection(const nlohmann::json* commands) const;

    bool timeOutReached_ = false;
    bool userhasClicked_ = false;
    nlohmann::json timeoutCommandListOrCollection_;  // null for none
    std::optional<MVAlertButton> alertCancelButton_;
    std::vector<MVAlertButton> alertButtons_;
    std::shared_ptr<MVWebView> fromWebView_;
};
