#pragma once
// What the library application asks of the payment integrations when another
// application hands it a URL: whether a wallet payment the library started is under
// way, and whether the wallet client takes the URL. The payment glue installs its
// implementation with setShared; until then both answer false.
// Main thread.

#include <memory>
#include <optional>
#include <string>

class MVPaymentServices {
  public:
    virtual ~MVPaymentServices() = default;

    // True while a wallet payment started by the library itself is in progress.
    virtual bool isLibSidedPaymentProcessAtPresent() { return false; }
    // True when the wallet client accepts the URL the wallet application returned;
    // `sourceApplication` none when the system named none.
    virtual bool handleOpenURL(const std::string& url,
                               const std::optional<std::string>& sourceApplication) {
        (void)url;
        (void)sourceApplication;
        return false;
    }

    // The installed services, or the stubs that answer false.
    static std::shared_ptr<MVPaymentServices> shared();
    static void setShared(std::shared_ptr<MVPaymentServices> services);
};
