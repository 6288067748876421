#include "libmerovane/payments/MVTesseraWallet.h"

#include <fmt/format.h>

#include <map>

#include "libmerovane/bridge/MVEventDispatcher.h"
#include "libmerovane/connection/MVApiConnection.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/core/ObjectExtensions.h"
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

void MVTesseraWallet::start(const Start& start) {
    auto client = TWAWalletClient::sharedInstance();
    const auto& current = client->transactionContext();
    const bool anotherMerchant = isWalletForLibraryPayment_ && holds(*client) &&
                                 (start.clientID != libraryClientID_ ||
                                  TWAText(start.clientSecret) != client->clientSecret());
    // The buyer is in the wallet application for another merchant (the host or another
    // page): that checkout goes on, and this one is refused before it sends the buyer
    // there a second time.
    if (current && current->openURLInProgress() &&
        (!isWalletForLibraryPayment_ || anotherMerchant)) {
        MVLogWarn(
            "MVTesseraWallet refuses a start while the wallet application has another "
            "merchant's request");
        const auto error = TWAWalletClient::clientError(611);
        MVEventDispatcher::sharedDispatcher().dispatchEvent(
            MVEventTesseraWallet::tesseraWalletError(stringTesseraWalletErrorCode(error.code()),
                                                     error.localizedDescription(), kMaskedWallet));
        return;
    }
    // Another merchant's start ends the running payment before it takes the client.
    if (anotherMerchant)
        performCredentialsChangedDuringPaymentError(
            current && current->fullWalletInProgress() ? kFullWallet : kMaskedWallet);
    libraryClientID_ = start.clientID;
    setLibraryPaymentEnabled(true, start.clientID, start.clientSecret);
    maskedWalletRequest_ = maskedWalletRequest(start);
    client->checkForPreauthorization();
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
            if (!self->isWalletForLibraryPayment_) return;
            auto client = TWAWalletClient::sharedInstance();
            // Nor does one whose client the host took or set a value of: the host's delegate
            // or values would meet the page's.
            if (!self->keepsItsValues(*client)) {
                self->performCredentialsChangedDuringPaymentError(kMaskedWallet);
                return;
            }
            // The wallet application has this payment's request: its reply is the answer,
            // as a start within the delay would have it; another request would be refused.
            const auto& current = client->transactionContext();
            if (current && current == self->transaction_.lock() && current->openURLInProgress()) {
                MVLogInfo("MVTesseraWallet waits for the wallet application's reply");
                return;
            }
            client->loadMaskedWallet(self->maskedWalletRequest_);
            if (self->isWalletForLibraryPayment_) self->transaction_ = client->transactionContext();
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
        possibleAppsidedDelegate_ = client->delegate();
        possibleAppsidedClientID_ = client->clientId();
        possibleAppsidedClientSecret_ = client->clientSecret();
        possibleAppSidedClientEnvironment_ = client->environment();
        client->setDelegate(weak_from_this());
        client->setClientId(clientID);
        client->setClientSecret(clientSecret);
        client->setEnvironment(kProductionEnvironment);
        libraryClientSecret_ = clientSecret;
        // The client ended the host's running transaction and told the host; one that
        // ran no more ends too, so nothing of it reaches the shop's server.
        client->endTransaction();
        transaction_ = client->transactionContext();
        return;
    }
    client->endTransaction();
    transaction_.reset();
    // Only what is still the glue's is given back: a value the host set meanwhile (its
    // setter may be the very call that ended the payment) stays.
    if (client->delegate().get() == this) client->setDelegate(possibleAppsidedDelegate_);
    if (client->clientId() == libraryClientID_) client->setClientId(possibleAppsidedClientID_);
    if (client->clientSecret() == libraryClientSecret_)
        client->setClientSecret(possibleAppsidedClientSecret_);
    if (client->environment() == kProductionEnvironment)
        client->setEnvironment(possibleAppSidedClientEnvironment_);
    possibleAppsidedDelegate_.reset();
    possibleAppsidedClientID_.reset();
    possibleAppsidedClientSecret_.reset();
    libraryClientID_.reset();
    libraryClientSecret_.reset();
}

bool MVTesseraWallet::holds(const TWAWalletClient& client) const {
    return client.clientId() && keepsItsValues(client);
}

bool MVTesseraWallet::keepsItsValues(const TWAWalletClient& client) const {
    return client.delegate().get() == this && client.clientId() == libraryClientID_ &&
           client.clientSecret() == libraryClientSecret_ &&
           client.environment() == kProductionEnvironment;
}

bool MVTesseraWallet::guard(const TWAWalletClient& client, const char* occurrence) {
    if (holds(client)) return true;
    performCredentialsChangedDuringPaymentError(occurrence);
    return false;
}

void MVTesseraWallet::performCredentialsChangedDuringPaymentError(const char* occurrence) {
    MVEventDispatcher::sharedDispatcher().dispatchEvent(MVEventTesseraWallet::tesseraWalletError(
        kCredentialsChangedError, kCredentialsChangedDescription, occurrence));
    MVLogError("{}", kCredentialsChangedDescription);
    // Still the client's delegate: only the id changed under the glue, so the page's
    // credentials must not stay on the client (a later start would save them as the
    // host's). A client the host took is left to the host.
    auto client = TWAWalletClient::sharedInstance();
    if (client->delegate().get() == this) {
        setLibraryPaymentEnabled(false, std::nullopt, {});
        return;
    }
    // What the payment has under way ends with it, so the host hears nothing of it; a
    // transaction the host began since is the host's.
    if (isWalletForLibraryPayment_ && client->transactionContext() == transaction_.lock())
        client->endTransaction();
    transaction_.reset();
    isWalletForLibraryPayment_ = false;
}

void MVTesseraWallet::changeMaskedWallet(const std::string& tesseraTransactionId) {
    auto client = TWAWalletClient::sharedInstance();
    if (!guard(*client, kMaskedWallet)) return;
    client->changeMaskedWallet(tesseraTransactionId, std::nullopt);
}

void MVTesseraWallet::sendFullWalletRequest(std::shared_ptr<TWACart> cart,
                                            const std::string& tesseraTransactionId) {
    auto client = TWAWalletClient::sharedInstance();
    if (!guard(*client, kFullWallet)) return;
    client->loadFullWallet(
        TWAFullWalletRequest::create(tesseraTransactionId, std::move(cart), std::nullopt));
}

void MVTesseraWallet::notifyTesseraTransactionStatus(long status) {
    auto client = TWAWalletClient::sharedInstance();
    if (!guard(*client, kFullWallet)) return;
    MVLogVerbose("MVTesseraWallet notifies Tessera with Transactionstatus: {}", status);
    setLibraryPaymentEnabled(false, std::nullopt, {});
    client->notifyTransactionStatus(status);
}

void MVTesseraWallet::walletClientDidLoadMaskedWallet(
    TWAWalletClient& client, std::shared_ptr<TWAMaskedWallet> maskedWallet) {
    if (!guard(client, kMaskedWallet) || !maskedWallet) return;
    MVApiConnection::sharedConnection().sendCommands({MVCommandTesseraWallet::tesseraWalletUpdate(
        maskedWallet->shippingAddress(), maskedWallet->billingAddress(), maskedWallet->email(),
        maskedWallet->tesseraTransactionId(), maskedWallet->paymentDescriptions())});
}

void MVTesseraWallet::walletClientDidLoadFullWallet(TWAWalletClient& client,
                                                    std::shared_ptr<TWAFullWallet> fullWallet) {
    if (!guard(client, kFullWallet) || !fullWallet) return;
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
    if (!guard(client, kMaskedWallet)) return;
    failed(error, kMaskedWallet);
}

void MVTesseraWallet::walletClientDidFailToLoadFullWallet(TWAWalletClient& client,
                                                          const platform::Error& error) {
    if (!guard(client, kFullWallet)) return;
    failed(error, kFullWallet);
}

void MVTesseraWallet::failed(const platform::Error& error, const char* occurrence) {
    // The client ended the payment's transaction for a change of its id, secret or
    // environment.
    if (error.domain() == kTWAErrorDomain && error.code() == kTWAErrorCodeMerchantAborted) {
        performCredentialsChangedDuringPaymentError(occurrence);
        return;
    }
    MVEventDispatcher::sharedDispatcher().dispatchEvent(MVEventTesseraWallet::tesseraWalletError(
        stringTesseraWalletErrorCode(error.code()), error.localizedDescription(), occurrence));
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
