// Arbitrary bytes, parsed as JSON, as the parameters of the four wallet commands in a
// "1.0" collection through the dispatcher: start, change, full wallet and end, with the
// delayed masked-wallet request run and the buyer coming back without a reply between
// them. The host drives the shared client with its own values; whenever no library
// payment runs any more and the client's delegate is the glue, the run aborts.
#include <google/protobuf/stubs/logging.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "fuzz/WalletFuzzing.h"
#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "libmerovane/payments/MVPayments.h"
#include "libmerovane/payments/MVTesseraWallet.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/TestDriver.h"
#include "platform/ui/Application.h"
#include "wallet/TBXHTTPFetcher.h"
#include "wallet/TWABackgroundTask.h"
#include "wallet/TWAClientConfig.h"
#include "wallet/TWAClientSDKTransactionContext.h"
#include "wallet/TWAWalletClient.h"

namespace {

using namespace walletfuzzing;

constexpr const char* kCommands[] = {"tesseraWalletStart", "tesseraWalletChangeMaskedWallet",
                                     "tesseraWalletSendFullWalletRequest", "tesseraWalletEnd"};

class HostDelegate : public TWAWalletClientDelegate {
    void walletClientDidLoadMaskedWallet(TWAWalletClient&,
                                         std::shared_ptr<TWAMaskedWallet>) override {}
    void walletClientDidFailToLoadMaskedWallet(TWAWalletClient&, const platform::Error&) override {}
    void walletClientDidLoadFullWallet(TWAWalletClient&, std::shared_ptr<TWAFullWallet>) override {}
    void walletClientDidFailToLoadFullWallet(TWAWalletClient&, const platform::Error&) override {}
    void walletClientUserIsPreauthorized(TWAWalletClient&, bool) override {}
};

std::shared_ptr<HostDelegate> setUp() {
    setUpWalletFuzzing("/tmp/fuzz-wallet-commands-XXXXXX");
    registerCommandHandlerClasses();
    MVPayments::install();

    auto host = std::make_shared<HostDelegate>();
    auto client = TWAWalletClient::sharedInstance();
    client->setDelegate(host);
    client->setClientId("host-id");
    client->setClientSecret("host-secret");
    client->setEnvironment(0);
    TWAWalletClient::handleOpenURL(*platform::URL::parse(TWAWalletClient::urlForTest()),
                                   std::nullopt, nullptr);
    return host;
}

void checkGivenBack() {
    auto client = TWAWalletClient::sharedInstance();
    if (!MVTesseraWallet::sharedController()->isLibSidedPaymentProcessAtPresent() &&
        client->delegate() == MVTesseraWallet::sharedController())
        __builtin_trap();  // the page's credentials stayed on an idle client
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static auto host = setUp();
    auto parsed =
        platform::json::parse(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!parsed.ok()) return 0;
    auto& app = platform::Application::shared();
    for (const char* name : kCommands) {
        MVCommandHandler::performCommandsFromCommandCollection(
            {{"ver", "1.0"}, {"cmds", {{{"c", name}, {"p", parsed.value}}}}}, nullptr);
        platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay);
        app.resignActive();
        app.becomeActive();
        platform::runUntilIdle();
        checkGivenBack();
    }
    // Whatever is left open ends; the host's client stays the host's.
    MVTesseraWallet::sharedController()->notifyTesseraTransactionStatus(0);
    checkGivenBack();
    MVErrorLogger::clearReports();
    resetApplicationForWalletFuzzing();
    return 0;
}
