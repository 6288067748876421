#pragma once
// The other checkout's interface, without its support in this build: three page
// commands that only report the missing support, the builders of its two server
// commands, and an overlay controller whose payment operations do nothing. Nothing
// uses the builders or the overlay; the controller is no member of the chain.
// Main thread only.

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>

#include "libmerovane/bridge/MVCommand.h"
#include "libmerovane/containers/MVContainerViewController.h"

namespace MVCommandApplePay {

// "applePayUpdate"; a key only for a value given.
MVCommand applePayUpdate(const std::optional<nlohmann::json>& shippingAddress,
                         const std::optional<nlohmann::json>& shippingMethod,
                         const std::optional<nlohmann::json>& applicationData);
// "applePaySubmit"; a key only for a value given.
MVCommand applePaySubmit(const std::optional<nlohmann::json>& shippingAddress,
                         const std::optional<nlohmann::json>& shippingMethod,
                         const std::optional<nlohmann::json>& billingAddress,
                         const std::optional<nlohmann::json>& applicationData,
                         const std::optional<nlohmann::json>& paymentToken);

}  // namespace MVCommandApplePay

// Shows its content under an overlay that never appears.
class MVApplePayOverlayController : public MVContainerViewController {
  public:
    static std::shared_ptr<MVApplePayOverlayController> create();
    // None: there is no shared overlay.
    static std::shared_ptr<MVApplePayOverlayController> sharedController() { return nullptr; }
    // An empty dictionary.
    static nlohmann::json extractABRecordRef(const nlohmann::json& record);

    void beginPayment(const nlohmann::json& request) {}
    void continuePayment(const nlohmann::json& update) {}
    void endPayment(bool success) {}
};

// The page commands applePayBegin, applePayContinue and applePayEnd (1.0).
void registerApplePayCommands();
