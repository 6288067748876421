// Arbitrary bytes, parsed as JSON, as the parameters of the four wallet commands in a
// "1.0" collection through the dispatcher: start, change, full wallet and end, with the
// delayed masked-wallet request run and the buyer coming back without a reply between
// them; then a start whose request the wallet application keeps, the page's end, and the
// buyer coming back with the input as the reply's query and without a reply. The host
// drives the shared client with its own values in the page's environment (2); by the
// input's length it also takes the client back after one of the commands and starts a
// checkout of its own, or starts its own before the page's first command. The run aborts
// when the host's delegate hears of anything but its own checkout (a result while it
// asked for none, a second answer to one request, a full wallet it never asked for), or
// when no library payment runs any more and the client's delegate is the glue.
#include <google/protobuf/stubs/logging.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
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
#include "wallet/TWAMaskedWalletRequest.h"
#include "wallet/TWAWalletClient.h"

namespace {

using namespace walletfuzzing;

constexpr const char* kCommands[] = {"tesseraWalletStart", "tesseraWalletChangeMaskedWallet",
                                     "tesseraWalletSendFullWalletRequest", "tesseraWalletEnd"};

// The host asks for one masked wallet at a time and must hear one answer to it and
// nothing else.
class HostDelegate : public TWAWalletClientDelegate {
  public:
    bool waiting = false;

    void walletClientDidLoadMaskedWallet(TWAWalletClient&,
                                         std::shared_ptr<TWAMaskedWallet>) override {
        answered();
    }
    void walletClientDidFailToLoadMaskedWallet(TWAWalletClient&, const platform::Error&) override {
        answered();
    }
    void walletClientDidLoadFullWallet(TWAWalletClient&, std::shared_ptr<TWAFullWallet>) override {
        __builtin_trap();
    }
    void walletClientDidFailToLoadFullWallet(TWAWalletClient&, const platform::Error&) override {
        __builtin_trap();
    }
    void walletClientUserIsPreauthorized(TWAWalletClient&, bool) override { __builtin_trap(); }

  private:
    void answered() {
        if (!waiting) __builtin_trap();  // a page's answer, or a second one
        waiting = false;
    }
};

// The host takes its client back and asks for a masked wallet of its own.
void hostChecksOut(const std::shared_ptr<HostDelegate>& host) {
    auto client = TWAWalletClient::sharedInstance();
    client->setDelegate(host);
    client->setClientId("host-id");
    client->setClientSecret("host-secret");
    client->setEnvironment(2);
    if (host->waiting) return;  // its request is still with the wallet application
    host->waiting = true;
    client->loadMaskedWallet(TWAMaskedWalletRequest::create("USD", "1.00"));
}

void perform(const char* name, const nlohmann::json& parameters) {
    MVCommandHandler::performCommandsFromCommandCollection(
        {{"ver", "1.0"}, {"cmds", {{{"c", name}, {"p", parameters}}}}}, nullptr);
}

std::shared_ptr<HostDelegate> setUp() {
    setUpWalletFuzzing("/tmp/fuzz-wallet-commands-XXXXXX");
    registerCommandHandlerClasses();
    MVPayments::install();

    auto host = std::make_shared<HostDelegate>();
    auto client = TWAWalletClient::sharedInstance();
    client->setDelegate(host);
    client->setClientId("host-id");
    client->setClientSecret("host-secret");
    client->setEnvironment(2);
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
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto parsed = platform::json::parse(text);
    if (!parsed.ok()) return 0;
    auto& app = platform::Application::shared();
    // Where the host's own checkout comes in: before the first command, after one of
    // them, or not at all.
    const size_t hostAt = size % (std::size(kCommands) + 2);
    if (hostAt == 0) hostChecksOut(host);
    for (size_t i = 0; i < std::size(kCommands); ++i) {
        perform(kCommands[i], parsed.value);
        if (hostAt == i + 1) hostChecksOut(host);
        platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay);
        app.resignActive();
        app.becomeActive();
        platform::runUntilIdle();
        checkGivenBack();
    }
    if (host->waiting) __builtin_trap();  // the buyer came back: the host heard nothing
    // The page ends while the buyer is in the wallet application; then the buyer's reply
    // (the input as its query) and the buyer's return reach the client by the host.
    perform("tesseraWalletStart", parsed.value);
    platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay);
    app.resignActive();
    perform("tesseraWalletEnd", parsed.value);
    if (auto reply = platform::URL::parse(TWAWalletClient::maskedWalletCallbackURL() + "?" +
                                          std::string(text)))
        TWAWalletClient::handleOpenURL(*reply, std::nullopt, nullptr);
    app.becomeActive();
    platform::runUntilIdle();
    checkGivenBack();
    // Whatever is left open ends; the host's client stays the host's.
    MVTesseraWallet::sharedController()->notifyTesseraTransactionStatus(0);
    checkGivenBack();
    if (host->waiting) __builtin_trap();
    TWAWalletClient::sharedInstance()->notifyTransactionStatus(0);
    MVErrorLogger::clearReports();
    resetApplicationForWalletFuzzing();
    return 0;
}
