#pragma once
// What the commands need of native alerts: an alert whose buttons and time-out run
// command collections for the web view that asked for it. The overlays install it;
// until then no alert is shown.
//
//   if (auto alerts = MVAlertViewInterface::shared())
//       alerts->showAlertWithTitle("Sold out", std::nullopt, cancel, {}, 5.0, nullptr, webView);
//
// Time-outs are handed on as the page or server sent them: implementations accept any
// number (0, negative numbers and 1e308 arrive) and none.
//
// Main thread only, but for the accessors, which any thread may call.

#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <vector>

#include "libmerovane/core/MVAlertButton.h"

class MVWebView;

class MVAlertViewInterface {
  public:
    virtual ~MVAlertViewInterface() = default;

    // Shows the title, the message, the cancel button's title as cancel button and the
    // other titles in order. With a time-out, after that many seconds and unless a
    // button was tapped, the alert closes and runs the time-out collection (a command
    // collection or a command list, copied when kept; null runs nothing); a tap before
    // that runs the button's collection. Both run for the web view (null: for none).
    virtual void showAlertWithTitle(const std::optional<std::string>& title,
                                    const std::optional<std::string>& message,
                                    const std::optional<MVAlertButton>& cancelButton,
                                    const std::vector<MVAlertButton>& alertButtons,
                                    std::optional<double> timeout,
                                    const nlohmann::json* commandCollectionOnTimeout,
                                    const std::shared_ptr<MVWebView>& webView) = 0;

    // The installed alert view, or null.
    static std::shared_ptr<MVAlertViewInterface> shared();
    // Null removes it.
    static void install(std::shared_ptr<MVAlertViewInterface> alertView);
};
