// Arbitrary bytes, parsed as JSON, as the parameters of the four wallet commands in a
// "1.0" collection through the dispatcher: start, change, full wallet and end, each sent
// by one of two pages (by the input's hash), with the delayed masked-wallet request run
// and the buyer coming back without a reply between them; then page A starts, page B
// (another merchant) starts, and A sends every step of its ended payment; then a start
// whose request the wallet application keeps, the page's end, and the buyer coming back
// with the input as the reply's query and without a reply; then a page starts, goes on
// to a moment chosen by the hash (before the delayed request, with the buyer in the
// wallet application, after a full-wallet request) and is released or loads another
// document, and the host checks out without setting its values again. Between the
// commands the host may read its values (its own only, and no transaction while a page
// holds the client), ask whether its buyer is preauthorized (answered to it, ending
// nothing) and set back what it read (ending nothing). The host drives the shared client
// with its own values in environment 1 or 2 (by the hash); by the input's length it sets
// its values again after one of the commands (all of them, or only its delegate, at once
// or first to none) and starts a checkout of its own, which takes the client back, or
// starts its own before the page's first command. The run aborts when the host's delegate hears of
// anything but its own checkout (a result while it asked for none, a second answer to
// one request, a full wallet it never asked for), when the client holds anything but the
// host's delegate and values while no library payment runs, when a payment outlives its
// page, or when a third page that sends nothing hears of a payment.
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
#include "libmerovane/bridge/MVEventDispatcher.h"
#include "libmerovane/bridge/MVWebView.h"
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
    // Only the host's own question is answered to it, once.
    void walletClientUserIsPreauthorized(TWAWalletClient&, bool) override {
        if (questions == 0) __builtin_trap();
        --questions;
    }
    int questions = 0;

  private:
    void answered() {
        if (!waiting) __builtin_trap();  // a page's answer, or a second one
        waiting = false;
    }
};

// What the host sets again before its own checkout: all its values, or only its delegate
// (at once, or first none and then itself).
enum class TakeBack { Whole, Delegate, DelegateAfterNone };

struct Host {
    std::shared_ptr<HostDelegate> delegate = std::make_shared<HostDelegate>();
    int32_t environment = 2;
};

// The host sets its values again and asks for a masked wallet of its own, which takes its
// client back.
void hostChecksOut(const Host& host, TakeBack how) {
    auto client = TWAWalletClient::sharedInstance();
    if (how == TakeBack::DelegateAfterNone) {
        client->setDelegate({});
        platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay);
    }
    client->setDelegate(host.delegate);
    if (how == TakeBack::Whole) {
        client->setClientId("host-id");
        client->setClientSecret("host-secret");
        client->setEnvironment(host.environment);
    }
    if (host.delegate->waiting) return;  // its request is still with the wallet application
    host.delegate->waiting = true;
    client->loadMaskedWallet(TWAMaskedWalletRequest::create("USD", "1.00"));
}

// A page registered for the wallet's errors that counts what it hears.
class ListeningPage : public MVWebViewInterface {
  public:
    explicit ListeningPage(std::shared_ptr<MVWebView> view) : view_(std::move(view)) {}
    int serial() const override { return view_->serial(); }
    std::string debugName() const override { return view_->debugName(); }
    std::optional<std::string> currentUrl() const override { return view_->currentUrl(); }
    std::optional<bool> delegateShouldPerformCommand(const MVCommand&) override {
        return std::nullopt;
    }
    void performMVEvent(const MVEvent&) override { ++heard; }
    std::shared_ptr<MVWebView> asMVWebView() override { return view_; }

    size_t heard = 0;

  private:
    std::shared_ptr<MVWebView> view_;
};

struct Pages {
    std::shared_ptr<ListeningPage> a, b, silent;
};

std::shared_ptr<ListeningPage> listeningPage() {
    auto page = std::make_shared<ListeningPage>(MVWebView::create(platform::Rect(0, 0, 320, 480)));
    MVEventDispatcher::sharedDispatcher().registerWebView(page, {"tesseraWalletError"});
    return page;
}

void perform(const char* name, const nlohmann::json& parameters,
             const std::shared_ptr<ListeningPage>& from) {
    MVCommandHandler::performCommandsFromCommandCollection(
        {{"ver", "1.0"}, {"cmds", {{{"c", name}, {"p", parameters}}}}},
        from ? from->asMVWebView() : nullptr);
}

void setHostValues(const Host& host) {
    auto client = TWAWalletClient::sharedInstance();
    client->setDelegate(host.delegate);
    client->setClientId("host-id");
    client->setClientSecret("host-secret");
    client->setEnvironment(host.environment);
}

Host& setUp() {
    setUpWalletFuzzing("/tmp/fuzz-wallet-commands-XXXXXX");
    registerCommandHandlerClasses();
    MVPayments::install();
    static Host host;
    setHostValues(host);
    TWAWalletClient::handleOpenURL(*platform::URL::parse(TWAWalletClient::urlForTest()),
                                   std::nullopt, nullptr);
    return host;
}

// A page's payment at a moment chosen by `choice`; then its page is released or loads
// another document, and the host checks out with the values it set at launch.
void pageGoesMidPayment(const Host& host, const nlohmann::json& parameters, size_t choice) {
    auto page = listeningPage();
    perform("tesseraWalletStart", parameters, page);
    const size_t moment = choice % 3;
    if (moment > 0) platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay);
    if (moment > 1) {
        platform::runUntilIdle();
        perform("tesseraWalletSendFullWalletRequest", parameters, page);
    }
    if (choice / 3 % 2) {
        page.reset();
    } else {
        page->asMVWebView()->loadHTMLString("<p/>",
                                            platform::URL::parse("https://elsewhere.example/"));
        platform::runUntilIdle();  // the new document is handed over
    }
    auto glue = MVTesseraWallet::sharedController();
    if (glue->isLibSidedPaymentProcessAtPresent()) __builtin_trap();  // it outlived its page
    auto client = TWAWalletClient::sharedInstance();
    if (!host.delegate->waiting) {
        host.delegate->waiting = true;
        client->loadMaskedWallet(TWAMaskedWalletRequest::create("USD", "1.00"));
        if (client->transactionContext()->environment() != host.environment) __builtin_trap();
    }
    platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay);
    auto& app = platform::Application::shared();
    app.resignActive();
    app.becomeActive();
    platform::runUntilIdle();
    if (host.delegate->waiting) __builtin_trap();  // the buyer came back: the host heard nothing
}

// The host reads its values, asks whether its buyer is preauthorized and sets back what
// it read: it reads its own values only, and the question ends no payment.
void hostReadsAndSetsBack(const Host& host) {
    auto client = TWAWalletClient::sharedInstance();
    auto glue = MVTesseraWallet::sharedController();
    const bool lent = glue->isLibSidedPaymentProcessAtPresent();
    if (client->clientId() != "host-id" || client->clientSecret() != "host-secret" ||
        client->environment() != host.environment || client->delegate() != host.delegate)
        __builtin_trap();  // a page's value shown to the host
    if (lent && (client->transactionContext() || client->interAppCommunicator()))
        __builtin_trap();  // the page's transaction shown to the host
    ++host.delegate->questions;
    client->checkForPreauthorization();
    if (host.delegate->questions != 0) __builtin_trap();  // the answer went elsewhere
    if (glue->isLibSidedPaymentProcessAtPresent() != lent) __builtin_trap();
    client->setDelegate(client->delegate());
    client->setClientId(client->clientId());
    client->setClientSecret(client->clientSecret());
    client->setEnvironment(client->environment());
    if (glue->isLibSidedPaymentProcessAtPresent() != lent) __builtin_trap();
}

// No library payment runs: the client has the host's delegate and values, none of a page.
void checkGivenBack(const Host& host) {
    if (MVTesseraWallet::sharedController()->isLibSidedPaymentProcessAtPresent()) return;
    auto client = TWAWalletClient::sharedInstance();
    if (client->delegate() == MVTesseraWallet::sharedController()) __builtin_trap();
    if (client->clientId() != "host-id" || client->clientSecret() != "host-secret" ||
        client->environment() != host.environment)
        __builtin_trap();  // a page's value stayed on the client
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Host& host = setUp();
    static Pages pages{listeningPage(), listeningPage(), listeningPage()};
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto parsed = platform::json::parse(text);
    if (!parsed.ok()) return 0;
    const size_t hash = std::hash<std::string_view>{}(text);
    host.environment = hash & 1 ? 1 : 2;
    setHostValues(host);
    const auto takeBack = static_cast<TakeBack>((hash >> 1) % 3);
    auto& app = platform::Application::shared();
    // Where the host's own checkout comes in: before the first command, after one of
    // them, or not at all.
    const size_t hostAt = size % (std::size(kCommands) + 2);
    if (hostAt == 0) hostChecksOut(host, takeBack);
    for (size_t i = 0; i < std::size(kCommands); ++i) {
        perform(kCommands[i], parsed.value, hash >> (3 + i) & 1 ? pages.b : pages.a);
        if (hostAt == i + 1) hostChecksOut(host, takeBack);
        if (hash >> (8 + i) & 1) hostReadsAndSetsBack(host);
        platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay);
        app.resignActive();
        app.becomeActive();
        platform::runUntilIdle();
        checkGivenBack(host);
    }
    if (host.delegate->waiting) __builtin_trap();  // the buyer came back: the host heard nothing
    // Two pages overlap: A starts, B starts, and A sends every step of its ended payment.
    perform("tesseraWalletStart", parsed.value, pages.a);
    platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay * (hash >> 7 & 1));
    auto other = parsed.value;
    if (other.is_object()) other["clientData"] = {{"clientId", "other-id"}};
    perform("tesseraWalletStart", other, pages.b);
    for (const char* step : kCommands)
        if (step != kCommands[0]) perform(step, parsed.value, pages.a);
    platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay);
    for (const char* step : kCommands)
        if (step != kCommands[0]) perform(step, parsed.value, pages.a);
    perform("tesseraWalletEnd", {{"success", true}}, pages.b);
    app.becomeActive();
    platform::runUntilIdle();
    checkGivenBack(host);
    // The page ends while the buyer is in the wallet application; then the buyer's reply
    // (the input as its query) and the buyer's return reach the client by the host.
    perform("tesseraWalletStart", parsed.value, pages.a);
    platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay);
    app.resignActive();
    perform("tesseraWalletEnd", parsed.value, pages.a);
    if (auto reply = platform::URL::parse(TWAWalletClient::maskedWalletCallbackURL() + "?" +
                                          std::string(text)))
        TWAWalletClient::handleOpenURL(*reply, std::nullopt, nullptr);
    app.becomeActive();
    platform::runUntilIdle();
    checkGivenBack(host);
    pageGoesMidPayment(host, parsed.value, hash >> 9);
    checkGivenBack(host);
    // Whatever is left open ends; the host's client stays the host's.
    auto glue = MVTesseraWallet::sharedController();
    if (glue->isLibSidedPaymentProcessAtPresent()) glue->notifyTesseraTransactionStatus(0);
    checkGivenBack(host);
    if (host.delegate->waiting) __builtin_trap();
    if (pages.silent->heard) __builtin_trap();  // a report reached a page it did not concern
    TWAWalletClient::sharedInstance()->notifyTransactionStatus(0);
    MVErrorLogger::clearReports();
    resetApplicationForWalletFuzzing();
    return 0;
}
