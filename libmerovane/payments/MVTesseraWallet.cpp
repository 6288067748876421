#include "libmerovane/payments/MVTesseraWallet.h"

#include <fmt/format.h>

#include <map>
#include <utility>

#include "libmerovane/bridge/MVEventDispatcher.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/connection/MVApiConnection.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/core/ObjectExtensions.h"
#include "libmerovane/payments/MVPageEventHold.h"
#include "libmerovane/payments/MVTesseraWalletMessages.h"
#include "platform/foundation/SharedInstances.h"
#include "wallet/TWAError.h"
#include "wallet/TWAFullWalletRequest.h"

namespace {

constexpr const char* kMaskedWallet = "maskedWallet";
constexpr const char* kFullWallet = "fullWallet";
constexpr int32_t kProductionEnvironment = 2;
constexpr long kUnknownErrorCode = -500;

std::shared_ptr<MVTesseraWallet>& sharedSlot() {
    static auto* slot = [] {
        auto* created = new std::shared_ptr<MVTesseraWallet>;
        platform::registerSharedInstanceReset("MVTesseraWallet", [created] { created->reset(); });
        return created;
    }();
    return *slot;
}

}  // namespace

std::shared_ptr<MVTesseraWallet> MVTesseraWallet::sharedController() {
    auto& slot = sharedSlot();
    if (!slot) slot = std::make_shared<MVTesseraWallet>();
    return slot;
}

template <class Call>
void MVTesseraWallet::asGlue(Call&& call) {
    struct Restore {
        bool& flag;
        bool outer;
        ~Restore() { flag = outer; }
    } restore{callingClient_, std::exchange(callingClient_, true)};
    call();
}

std::shared_ptr<TWAMaskedWalletRequest> MVTesseraWallet::maskedWalletRequest(const Start& start) {
    auto request = TWAMaskedWalletRequest::create(start.currencyCode, start.estimatedTotalPrice);
    request->setPhoneNumberRequired(start.phoneNumberRequired.value_or(false));
    request->setShippingAddressRequired(start.shippingAddressRequired.value_or(true));
    request->setUseMinimalBillingAddress(start.useMinimalBillingAddress.value_or(false));
    request->setAllowDebitCard(start.allowDebitCard.value_or(true));
    request->setAllowPrepaidCard(start.allowPrepaidCard.value_or(true));
    request->setAllowedShippingCountrySpecifications(start.allowedShippingCountrySpecifications);
    return request;
}

void MVTesseraWallet::start(const Start& start, const WebViewPtr& sender) {
    auto client = TWAWalletClient::sharedInstance();
    endIfPageGone();
    const auto current = transactionOf(*client);
    const bool running = isWalletForLibraryPayment_;
    // The running payment's own page (or the server) starting it again, as the same
    // merchant, on a client still the glue's.
    const bool samePayment = running && isPaymentsPage(sender) && keepsItsValues(*client) &&
                             start.clientID == libraryClientID_ &&
                             TWAText(start.clientSecret) == libraryClientSecret_;
    // The buyer is in the wallet application for another party (the host or another
    // page): that checkout goes on, and this one is refused before it sends the buyer
    // there a second time.
    if (current && current->openURLInProgress() && !samePayment) {
        MVLogWarn(
            "MVTesseraWallet refuses a start while the wallet application has another "
            "party's request");
        refuse(611, kMaskedWallet, audienceOf(sender));
        return;
    }
    // Another party's start ends the running payment before it takes the client.
    if (running && !samePayment)
        performCredentialsChangedDuringPaymentError(occurrenceOf(*client), page_);
    libraryClientID_ = start.clientID;
    if (!isWalletForLibraryPayment_ || (!page_.page && sender)) {
        page_ = audienceOf(sender);
        if (sender) observeDocuments(sender);
    }
    setLibraryPaymentEnabled(true, start.clientID, start.clientSecret);
    maskedWalletRequest_ = maskedWalletRequest(start);
    asGlue([&] { client->checkForPreauthorization(); });
    // A load still pending takes the newest request; a second one would be refused by
    // the client while the first waits, and that failure would end the payment.
    if (loadScheduled_) return;
    loadScheduled_ = true;
    std::weak_ptr<MVTesseraWallet> weak = weak_from_this();
    performBlock(
        [weak] {
            auto self = weak.lock();
            if (!self) return;
            self->loadScheduled_ = false;
            // A payment ended meanwhile asks for nothing: the client may be the host's again.
            // Nor does one whose page is gone.
            if (!self->isWalletForLibraryPayment_ || self->endIfPageGone()) return;
            auto client = TWAWalletClient::sharedInstance();
            // Nor does one whose client the host took or set a value of: the host's delegate
            // or values would meet the page's.
            if (!self->keepsItsValues(*client)) {
                self->performCredentialsChangedDuringPaymentError(kMaskedWallet, self->page_);
                return;
            }
            // The wallet application has this payment's request: its reply is the answer,
            // as a start within the delay would have it; another request would be refused.
            const auto current = self->transactionOf(*client);
            if (current && current == self->transaction_.lock() && current->openURLInProgress()) {
                MVLogInfo("MVTesseraWallet waits for the wallet application's reply");
                return;
            }
            self->asGlue([&] { client->loadMaskedWallet(self->maskedWalletRequest_); });
            if (self->isWalletForLibraryPayment_) self->transaction_ = self->transactionOf(*client);
        },
        kLoadMaskedWalletDelay);
}

void MVTesseraWallet::setLibraryPaymentEnabled(bool enabled,
                                               const std::optional<std::string>& clientID,
                                               const std::string& clientSecret) {
    if (enabled == isWalletForLibraryPayment_) return;
    auto client = TWAWalletClient::sharedInstance();
    isWalletForLibraryPayment_ = enabled;
    if (enabled) {
        libraryClientSecret_ = clientSecret;
        // The client ends the host's transaction (telling the host) and keeps the host's
        // values for it: the host reads and sets its own from now on, never the page's.
        loan_ = client->lend(weak_from_this(),
                             {weak_from_this(), clientID, clientSecret, kProductionEnvironment});
        transaction_ = loan_->transactionContext();
        return;
    }
    // The payment's transaction ends, and the client works with the host's values again,
    // what the host set meanwhile included.
    if (auto loan = std::move(loan_)) loan->giveBack();
    transaction_.reset();
    page_ = {};
    pageDocuments_ = {};
    pageReplaced_ = false;
    libraryClientID_.reset();
    libraryClientSecret_.reset();
}

std::shared_ptr<TWAClientSDKTransactionContext> MVTesseraWallet::transactionOf(
    const TWAWalletClient& client) const {
    if (loan_ && loan_->isHeldOn(client)) return loan_->transactionContext();
    return client.transactionContext();
}

bool MVTesseraWallet::holds(const TWAWalletClient& client) const {
    return libraryClientID_ && keepsItsValues(client);
}

bool MVTesseraWallet::keepsItsValues(const TWAWalletClient& client) const {
    if (!loan_ || !loan_->isHeldOn(client)) return false;
    const auto used = loan_->valuesInUse();
    return used.delegate.lock().get() == this && used.clientId == libraryClientID_ &&
           used.clientSecret == libraryClientSecret_ && used.environment == kProductionEnvironment;
}

bool MVTesseraWallet::guard(const TWAWalletClient& client, const char* occurrence,
                            const Audience& audience) {
    if (holds(client)) return true;
    performCredentialsChangedDuringPaymentError(occurrence, audience);
    return false;
}

bool MVTesseraWallet::guardCallback(const TWAWalletClient& client, const char* occurrence) {
    // The client's delegate is the glue only while a payment runs: a callback after its
    // end, or its page's, has nobody to answer.
    if (!isWalletForLibraryPayment_ || endIfPageGone()) {
        MVLogInfo("MVTesseraWallet ignores a wallet callback: no payment runs");
        return false;
    }
    return guard(client, occurrence, page_);
}

void MVTesseraWallet::performCredentialsChangedDuringPaymentError(const char* occurrence,
                                                                  const Audience& audience) {
    tell(MVEventTesseraWallet::tesseraWalletError(kCredentialsChangedError,
                                                  kCredentialsChangedDescription, occurrence),
         audience);
    MVLogError("{}", kCredentialsChangedDescription);
    // Whoever changed the client keeps what it set; every value still the glue's goes
    // back to the host's, so that nothing of the page stays on the client.
    setLibraryPaymentEnabled(false, std::nullopt, {});
}

void MVTesseraWallet::walletClientWasTakenBack(TWAWalletClient& client) {
    if (!isWalletForLibraryPayment_ || endIfPageGone()) return;
    // The host asks for something that needs the client's transaction (a request of its
    // own, ending or replacing the transaction): the page's payment ends first, so that
    // the host's call acts under the host's values and its answers reach the host.
    MVLogInfo("MVTesseraWallet ends the payment: the host takes the wallet client back");
    performCredentialsChangedDuringPaymentError(occurrenceOf(client), page_);
}

bool MVTesseraWallet::walletClientIsCalledByHolder(const TWAWalletClient&) const {
    return callingClient_;
}

void MVTesseraWallet::walletClientWillServe(TWAWalletClient&, bool) {
    // A payment whose page is gone asks for nothing more.
    if (isWalletForLibraryPayment_) endIfPageGone();
}

bool MVTesseraWallet::isLibSidedPaymentProcessAtPresent() {
    endIfPageGone();
    return isWalletForLibraryPayment_;
}

bool MVTesseraWallet::isPageGone() const {
    return page_.page && (pageReplaced_ || page_.webView.expired());
}

bool MVTesseraWallet::endIfPageGone() {
    if (!isWalletForLibraryPayment_ || !isPageGone()) return false;
    endWithItsPage(pageReplaced_ ? "another document replaced its page" : "its page was released");
    return true;
}

void MVTesseraWallet::endWithItsPage(const char* why) {
    // Nobody is told: the page and its document are gone, and a newer document of the
    // same web view must not hear of a payment that was not its own.
    MVLogInfo("MVTesseraWallet ends the payment: {}", why);
    setLibraryPaymentEnabled(false, std::nullopt, {});
}

void MVTesseraWallet::observeDocuments(const WebViewPtr& page) {
    // Not the start of a load: one that fails, is cancelled or is redirected to a command
    // or an API page keeps the page, and the payment with it.
    auto& center = platform::NotificationCenter::defaultCenter();
    std::weak_ptr<MVTesseraWallet> weak = weak_from_this();
    pageDocuments_ = platform::ObserverRegistration(
        center, center.addObserver(MVWebViewDidReplaceDocumentNotification,
                                   static_cast<const MVWebViewInterface*>(page.get()),
                                   [weak](const platform::Notification&) {
                                       auto self = weak.lock();
                                       if (!self || !self->isWalletForLibraryPayment_) return;
                                       self->pageReplaced_ = true;
                                       self->endIfPageGone();
                                   }));
}

const char* MVTesseraWallet::occurrenceOf(const TWAWalletClient& client) const {
    const auto current = transactionOf(client);
    return current && current->fullWalletInProgress() ? kFullWallet : kMaskedWallet;
}

void MVTesseraWallet::tell(const MVEvent& event, const Audience& audience) {
    if (!audience.page) {
        MVEventDispatcher::sharedDispatcher().dispatchEvent(event);
        return;
    }
    auto page = audience.webView.lock();
    if (!page) {
        MVLogInfo("MVTesseraWallet drops {}: its page is gone", event.eventName());
        return;
    }
    // Only a page that registered for the event hears it.
    auto& dispatcher = MVEventDispatcher::sharedDispatcher();
    for (const auto& listener : dispatcher.webViewsForEvent(event.eventName())) {
        if (listener->asMVWebView() != page) continue;
        MVLogInfo("MVTesseraWallet sends {} to {}", event.eventName(), listener->debugName());
        listener->performMVEvent(event);
        return;
    }
    // The page listens to nothing while it loads: a load that keeps it gives it the event.
    if (page->isLoading()) {
        MVPageEventHold::hold(page, event);
        return;
    }
    MVLogInfo("MVTesseraWallet drops {}: its page did not register for it", event.eventName());
}

bool MVTesseraWallet::isPaymentsPage(const WebViewPtr& sender) const {
    if (!isWalletForLibraryPayment_ || !page_.page || !sender) return true;
    return page_.webView.lock() == sender;
}

MVTesseraWallet::Audience MVTesseraWallet::audienceFor(const WebViewPtr& sender) const {
    return isWalletForLibraryPayment_ && page_.page ? page_ : audienceOf(sender);
}

bool MVTesseraWallet::acceptsStep(const WebViewPtr& sender, const char* occurrence,
                                  const char* step) {
    if (isPaymentsPage(sender)) return true;
    MVLogWarn("MVTesseraWallet refuses {} of {}: the running payment is another page's", step,
              sender->debugName());
    tell(MVEventTesseraWallet::tesseraWalletError(kCredentialsChangedError,
                                                  kCredentialsChangedDescription, occurrence),
         audienceOf(sender));
    return false;
}

bool MVTesseraWallet::isRunningTransaction(const TWAWalletClient& client,
                                           const std::string& tesseraTransactionId) const {
    const auto current = transactionOf(client);
    return current && current == transaction_.lock() &&
           current->tesseraTransactionId() == tesseraTransactionId;
}

void MVTesseraWallet::refuse(int number, const char* occurrence, const Audience& audience) {
    const auto error = TWAWalletClient::clientError(number);
    tell(MVEventTesseraWallet::tesseraWalletError(stringTesseraWalletErrorCode(error.code()),
                                                  error.localizedDescription(), occurrence),
         audience);
}

void MVTesseraWallet::changeMaskedWallet(const std::string& tesseraTransactionId,
                                         const WebViewPtr& sender) {
    auto client = TWAWalletClient::sharedInstance();
    endIfPageGone();
    if (!acceptsStep(sender, kMaskedWallet, "a change of the masked wallet")) return;
    if (!guard(*client, kMaskedWallet, audienceFor(sender))) return;
    // Another transaction's change (an ended one's) leaves the running one alone.
    if (!isRunningTransaction(*client, tesseraTransactionId)) {
        MVLogWarn("MVTesseraWallet refuses a change for a transaction that is not the running one");
        refuse(610, kMaskedWallet, audienceFor(sender));
        return;
    }
    asGlue([&] { client->changeMaskedWallet(tesseraTransactionId, std::nullopt); });
}

void MVTesseraWallet::sendFullWalletRequest(std::shared_ptr<TWACart> cart,
                                            const std::string& tesseraTransactionId,
                                            const WebViewPtr& sender) {
    auto client = TWAWalletClient::sharedInstance();
    endIfPageGone();
    if (!acceptsStep(sender, kFullWallet, "a full-wallet request")) return;
    if (!guard(*client, kFullWallet, audienceFor(sender))) return;
    if (!isRunningTransaction(*client, tesseraTransactionId)) {
        MVLogWarn(
            "MVTesseraWallet refuses a full-wallet request for a transaction that is not the "
            "running one");
        refuse(606, kFullWallet, audienceFor(sender));
        return;
    }
    asGlue([&] {
        client->loadFullWallet(
            TWAFullWalletRequest::create(tesseraTransactionId, std::move(cart), std::nullopt));
    });
}

void MVTesseraWallet::notifyTesseraTransactionStatus(long status, const WebViewPtr& sender) {
    auto client = TWAWalletClient::sharedInstance();
    endIfPageGone();
    if (!acceptsStep(sender, kFullWallet, "a transaction status")) return;
    if (!guard(*client, kFullWallet, audienceFor(sender))) return;
    MVLogVerbose("MVTesseraWallet notifies Tessera with Transactionstatus: {}", status);
    setLibraryPaymentEnabled(false, std::nullopt, {});
    client->notifyTransactionStatus(status);
}

void MVTesseraWallet::walletClientDidLoadMaskedWallet(
    TWAWalletClient& client, std::shared_ptr<TWAMaskedWallet> maskedWallet) {
    if (!guardCallback(client, kMaskedWallet) || !maskedWallet) return;
    MVApiConnection::sharedConnection().sendCommands({MVCommandTesseraWallet::tesseraWalletUpdate(
        maskedWallet->shippingAddress(), maskedWallet->billingAddress(), maskedWallet->email(),
        maskedWallet->tesseraTransactionId(), maskedWallet->paymentDescriptions())});
}

void MVTesseraWallet::walletClientDidLoadFullWallet(TWAWalletClient& client,
                                                    std::shared_ptr<TWAFullWallet> fullWallet) {
    if (!guardCallback(client, kFullWallet) || !fullWallet) return;
    const auto& card = fullWallet->proxyCard();
    std::optional<int64_t> month, year;
    if (card && card->expirationDate()) {
        month = card->expirationDate()->month;
        year = card->expirationDate()->year;
    }
    MVApiConnection::sharedConnection().sendCommands(
        {MVCommandTesseraWallet::tesseraWalletFullWalletResponse(
            card ? card->pan() : std::nullopt, card ? card->cvn() : std::nullopt, month, year)});
}

void MVTesseraWallet::walletClientDidFailToLoadMaskedWallet(TWAWalletClient& client,
                                                            const platform::Error& error) {
    if (!guardCallback(client, kMaskedWallet)) return;
    failed(error, kMaskedWallet);
}

void MVTesseraWallet::walletClientDidFailToLoadFullWallet(TWAWalletClient& client,
                                                          const platform::Error& error) {
    if (!guardCallback(client, kFullWallet)) return;
    failed(error, kFullWallet);
}

void MVTesseraWallet::failed(const platform::Error& error, const char* occurrence) {
    // The client ended the payment's transaction for a change of its id, secret or
    // environment.
    if (error.domain() == kTWAErrorDomain && error.code() == kTWAErrorCodeMerchantAborted) {
        performCredentialsChangedDuringPaymentError(occurrence, page_);
        return;
    }
    tell(MVEventTesseraWallet::tesseraWalletError(stringTesseraWalletErrorCode(error.code()),
                                                  error.localizedDescription(), occurrence),
         page_);
    // Every failure ends the payment, a refused further request too: the page then knows
    // the client is given back and nothing of the payment still answers.
    setLibraryPaymentEnabled(false, std::nullopt, {});
}

void MVTesseraWallet::walletClientUserIsPreauthorized(TWAWalletClient&, bool) {}

std::string MVTesseraWallet::stringTesseraWalletErrorCode(long code) {
    static const std::map<long, const char*> kNames = {
        {-599, "TesseraWalletErrorAuthenticationFailure"},
        {-598, "TesseraWalletErrorIntegrationError"},
        {-597, "TesseraWalletErrorInvalidTransaction"},
        {-596, "TesseraWalletErrorMerchantAborted"},
        {-562, "TesseraWalletErrorInternalError"},
        {-561, "TesseraWalletErrorServiceUnavailable"},
        {-551, "TesseraWalletErrorMerchantAccountError"},
        {-543, "TesseraWalletErrorUnsupportedAPIVersion"},
        {-542, "TesseraWalletErrorInvalidParameters"},
        {-532, "TesseraWalletErrorSpendingLimitExceeded"},
        {-521, "TesseraWalletErrorBuyerCancelled"},
        {-512, "TesseraWalletErrorBuyerAccountError"},
        {kUnknownErrorCode, "TesseraWalletErrorUnknown"},
    };
    if (auto found = kNames.find(code); found != kNames.end()) return found->second;
    return fmt::format("TesseraWalletError:{}", code);
}
