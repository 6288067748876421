#pragma once
// A native action sheet whose buttons and time-out each run one command as if the page
// that asked for it had sent it. It keeps the page's parameters whole and reads a
// button's command from them when the button is tapped: "cancelButton",
// "destructiveButton" and each of "buttons" are {"title", "cmd"}; "timeout" (seconds,
// single precision; 0, negative or absent: none) and "timeoutCmd".
//
//   MVActionSheet::install();   // start-up: "showActionSheet" reaches it from now on
//   MVActionSheet::showActionSheet(parameters, webView);
//
// A tap and the time-out exclude each other. The sheet is its own delegate; the
// application holds it while it is shown, and its time-out holds it until it has run.
// Main thread only.

#include <memory>
#include <nlohmann/json.hpp>

#include "platform/ui/ActionSheet.h"

class MVWebView;

class MVActionSheet : public platform::ActionSheet {
  public:
    // Installs the sheets as the ones the commands show.
    static void install();

    // Shows the sheet in the application's first window.
    static void showActionSheet(const nlohmann::json& params,
                                const std::shared_ptr<MVWebView>& fromWebView);

    // The sheet's own steps: a tap (the platform's delegate callback) and the time-out.
    void actionSheetClickedButtonAtIndex(int index);
    void timeOut();

    bool timeOutReached() const { return timeOutReached_; }
    bool userhasClicked() const { return userhasClicked_; }
    const nlohmann::json& params() const { return params_; }
    const std::shared_ptr<MVWebView>& fromWebView() const { return fromWebView_; }

  protected:
    void clickedButtonAtIndex(int index) override;

  private:
    MVActionSheet(std::optional<std::string> title, std::optional<std::string> cancelButtonTitle,
                  std::optional<std::string> destructiveButtonTitle);

    // Runs the command dictionary `command` (null or no command: nothing).
    void performCommand(const nlohmann::json* command) const;

    bool timeOutReached_ = false;
    bool userhasClicked_ = false;
    nlohmann::json params_;
    std::shared_ptr<MVWebView> fromWebView_;
};
