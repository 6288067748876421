#include "libmerovane/payments/MVPayments.h"

#include <memory>
#include <optional>
#include <string>

#include "libmerovane/application/MVPaymentServices.h"
#include "libmerovane/payments/MVApplePay.h"
#include "libmerovane/payments/MVTesseraWallet.h"
#include "platform/foundation/URL.h"
#include "wallet/TWAWalletClient.h"

namespace {

class TesseraWalletPaymentServices : public MVPaymentServices {
  public:
    bool isLibSidedPaymentProcessAtPresent() override {
        return MVTesseraWallet::sharedController()->isLibSidedPaymentProcessAtPresent();
    }
    bool handleOpenURL(const std::string& url,
                       const std::optional<std::string>& sourceApplication) override {
        auto parsed = platform::URL::parse(url);
        if (!parsed) return false;
        return TWAWalletClient::handleOpenURL(*parsed, sourceApplication, nullptr);
    }
};

}  // namespace

void MVPayments::install() {
    registerTesseraWalletCommands();
    registerApplePayCommands();
    MVPaymentServices::setShared(std::make_shared<TesseraWalletPaymentServices>());
}
