// Uses the installed library as a host does: prints the MD5 of "abc", installs the command
// handlers and the payments (the wallet client with them), and asks the payment services
// whether a wallet payment runs.
#include <cstdio>

#include "libmerovane/application/MVPaymentServices.h"
#include "libmerovane/core/StringExtensions.h"
#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "libmerovane/handlers/MVCommandHandler_1_0.h"
#include "libmerovane/payments/MVPayments.h"

int main() {
    const std::string digest = md5EncodedString("abc");
    std::puts(digest.c_str());
    if (digest != "900150983CD24FB0D6963F7D28E17F72") return 1;
    registerCommandHandlerClasses();
    MVPayments::install();
    if (!MVCommandHandler_1_0::commandTable().find("tesseraWalletStart")) {
        std::puts("the wallet commands are not installed");
        return 1;
    }
    if (MVPaymentServices::shared()->isLibSidedPaymentProcessAtPresent()) {
        std::puts("a wallet payment runs before any began");
        return 1;
    }
    std::puts("payments installed");
    return 0;
}
