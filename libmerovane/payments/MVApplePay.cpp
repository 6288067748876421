#include "libmerovane/payments/MVApplePay.h"

#include "libmerovane/handlers/MVCommandConventions.h"
#include "libmerovane/handlers/MVCommandHandler_1_0.h"

namespace {

using WebViewPtr = std::shared_ptr<MVWebView>;

constexpr MVCommandErrorTexts kUnsupported{
    "{} called, but the library is compiled without ApplePay support.",
    "{} called, but the library is compiled without ApplePay support."};

MVCommand command(
    const char* name,
    std::initializer_list<std::pair<const char*, const std::optional<nlohmann::json>*>> values) {
    auto parameters = nlohmann::json::object();
    for (const auto& [key, value] : values)
        if (*value) parameters[key] = **value;
    MVCommand built;
    built.setName(name);
    built.setParameters(std::move(parameters));
    return built;
}

MVCommandFunction unsupported(const char* name) {
    return [name](MVCommandHandler& handler, nlohmann::json* parameters, const WebViewPtr&) {
        MVCommandConventions::reportCommandError(handler, name, kUnsupported, parameters, nullptr);
    };
}

}  // namespace

MVCommand MVCommandApplePay::applePayUpdate(const std::optional<nlohmann::json>& shippingAddress,
                                            const std::optional<nlohmann::json>& shippingMethod,
                                            const std::optional<nlohmann::json>& applicationData) {
    return command("applePayUpdate", {{"shippingAddress", &shippingAddress},
                                      {"shippingMethodId", &shippingMethod},
                                      {"applicationData", &applicationData}});
}

MVCommand MVCommandApplePay::applePaySubmit(const std::optional<nlohmann::json>& shippingAddress,
                                            const std::optional<nlohmann::json>& shippingMethod,
                                            const std::optional<nlohmann::json>& billingAddress,
                                            const std::optional<nlohmann::json>& applicationData,
                                            const std::optional<nlohmann::json>& paymentToken) {
    return command("applePaySubmit", {{"shippingAddress", &shippingAddress},
                                      {"shippingMethodId", &shippingMethod},
                                      {"billingAddress", &billingAddress},
                                      {"applicationData", &applicationData},
                                      {"paymentToken", &paymentToken}});
}

std::shared_ptr<MVApplePayOverlayController> MVApplePayOverlayController::create() {
    return std::shared_ptr<MVApplePayOverlayController>(new MVApplePayOverlayController());
}

nlohmann::json MVApplePayOverlayController::extractABRecordRef(const nlohmann::json&) {
    return nlohmann::json::object();
}

void registerApplePayCommands() {
    auto& table = MVCommandHandler_1_0::commandTable();
    table.add("applePayBegin", {MVSpec{}, unsupported("applePayBegin"), true});
    table.add("applePayContinue",
              {MVSpec{{"summaryItems",
                       MVSpec::arrayOf({{"name", MVSpec::NSString}, {"amount", MVSpec::NSNumber}})},
                      {"shippingMethods", MVSpec::arrayOf({{"name", MVSpec::NSString},
                                                           {"amount", MVSpec::NSNumber},
                                                           {"description", MVSpec::NSString},
                                                           {"identifier", MVSpec::NSString}})}},
               unsupported("applePayContinue"), true});
    table.add("applePayEnd",
              {MVSpec{{"success", MVSpec::NSNumber}}, unsupported("applePayEnd"), true});
}
