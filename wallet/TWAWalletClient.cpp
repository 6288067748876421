#include "wallet/TWAWalletClient.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/Keychain.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/ui/Application.h"
#include "wallet/TWABackgroundTask.h"
#include "wallet/TWAClientSDKDataConverter.h"
#include "wallet/TWAError.h"
#include "wallet/TWALog.h"
#include "wallet/TWARiskUtils.h"
#include "wallet/TWAWalletErrorConverter.h"

namespace {

// The client's own errors by number: public code, text and developer description.
struct ClientError {
    int number;
    long code;
    const char* text;
    const char* forIntegrator;  // null: none
};

constexpr ClientError kClientErrors[] = {
    {601, kTWAErrorCodeInvalidParameters, "An invalid request was received (Error 601)",
     "|loadMaskedWallet:| received a nil request."},
    {602, kTWAErrorCodeInvalidTransaction,
     "A new transaction can't be started since a transaction is currently in progress. (Error "
     "602)",
     "|loadMaskedWallet:| can't start a new transaction with a full wallet request in progress."},
    {603, kTWAErrorCodeIntegrationError,
     "Failed to open Tessera Wallet. Please try a different payment method. (Error 603)",
     "Unable to verify callback URL scheme. Are you calling "
     "|handleOpenURL:sourceApplication:annotation:| on UIApplicationDelegate's "
     "|application:openURL:sourceApplication:annotation:|?"},
    {604, kTWAErrorCodeInvalidParameters, "An invalid request for payment was received (Error 604)",
     "|loadFullWallet:| received a nil request."},
    {605, kTWAErrorCodeInvalidParameters, "An invalid request for payment was received (Error 605)",
     "The full wallet request does not have a Tessera transaction ID."},
    {606, kTWAErrorCodeInvalidTransaction,
     "An invalid request for payment was received (Error 606)",
     "|loadFullWallet:| called outside the context of a transaction in progress."},
    {607, kTWAErrorCodeIntegrationError,
     "A different transaction is currently in progress. (Error 607)",
     "|loadFullWallet:| can't start a new transaction with a full wallet request in progress."},
    {608, kTWAErrorCodeAuthenticationFailure,
     "The transaction failed. Starting over may succeed. (Error 608)",
     "|loadFullWallet:| failed to authenticate the user to issue the proxy card. This was "
     "probably caused because the associated TWAMaskedWallet was obtained too long ago."},
    {609, kTWAErrorCodeInvalidParameters,
     "An invalid request to change selections was received. (Error 609)",
     "The change masked wallet request does not have a Tessera transaction ID."},
    {610, kTWAErrorCodeInvalidTransaction,
     "An invalid request to change selections was received. (Error 610)", nullptr},
    {611, kTWAErrorCodeIntegrationError,
     "A new transaction can't be started since a transaction is currently in progress. (Error "
     "611)",
     "|loadMaskedWallet:| can't start a new transaction because it is transitioning to "
     "Safari.This was probably caused by repeated calls to |loadMaskedWallet:| in the same "
     "event-processing cycle. Tip: breakpoint in delegate's |didFailToLoadMaskedWalletWithError:| "
     "to find where the second call is coming from."},
    {612, kTWAErrorCodeMerchantAborted,
     "The transaction has ended since the wallet was given to another merchant. (Error 612)",
     "The delegate, client ID, client secret or environment changed while the transaction was "
     "in progress."},
};

TWAText textOf(bool present, const std::string& value) {
    return present ? TWAText(value) : std::nullopt;
}

bool nonEmpty(const TWAText& text) {
    return text && !text->empty();
}

platform::KeychainQuery preauthQuery() {
    return {.service = TWAWalletClient::kPreauthKeychainService,
            .account = TWAWalletClient::kPreauthKeychainAccount,
            .accessGroup = std::nullopt};
}

struct SharedClient {
    std::shared_ptr<TWAWalletClient> client;
};

SharedClient& sharedClient() {
    static auto* shared = [] {
        auto* s = new SharedClient();
        platform::registerSharedInstanceReset("TWAWalletClient", [s] {
            // Released after the slot is empty, so its destructor sees a clean slot.
            auto old = std::move(s->client);
            s->client.reset();
        });
        return s;
    }();
    return *shared;
}

}  // namespace

platform::Error TWAWalletClient::clientError(int number) {
    for (const auto& entry : kClientErrors)
        if (entry.number == number)
            return TWALocalizedError(entry.code, entry.text,
                                     entry.forIntegrator
                                         ? std::optional<std::string>(entry.forIntegrator)
                                         : std::nullopt);
    return TWALocalizedError(kTWAErrorCodeUnknown, "Internal Error", std::nullopt);
}

// Creation and the shared instance

std::shared_ptr<TWAWalletClient> TWAWalletClient::sharedInstance() {
    auto& shared = sharedClient();
    if (!shared.client) shared.client = initPrivate();
    return shared.client;
}

void TWAWalletClient::setSharedInstance(std::shared_ptr<TWAWalletClient> client) {
    // A lent client goes back to its owner, its holder told, before another replaces it.
    if (auto current = sharedClient().client; current && current != client) current->takeBack();
    auto old = std::move(sharedClient().client);
    sharedClient().client = std::move(client);
}

std::shared_ptr<TWAWalletClient> TWAWalletClient::create() {
    TWA_LOG(
        "Do not call init directly, +sharedInstance is the correct way of getting an instanceof "
        "TWAWalletClient.");
    return nullptr;
}

std::shared_ptr<TWAWalletClient> TWAWalletClient::initPrivate() {
    std::shared_ptr<TWAWalletClient> client(new TWAWalletClient());
    client->transactionContext_ = TWAClientSDKTransactionContext::create(0, nullptr);
    std::shared_ptr<TWAInterAppCommunicatorDelegate> asDelegate(
        client, static_cast<TWAInterAppCommunicatorDelegate*>(client.get()));
    client->interAppCommunicator_ =
        TWAInterAppCommunicator::interAppCommunicatorWithDelegate(asDelegate);
    startOpenURLTest();
    return client;
}

TWAWalletClient::~TWAWalletClient() = default;

void TWAWalletClient::startOpenURLTest() {
    platform::DispatchQueue::main().async([] {
        auto& app = platform::Application::shared();
        auto url = platform::URL::parse(urlForTest());
        if (url && app.canOpenURL(*url))
            app.openURL(*url);
        else
            TWA_LOG("Cannot open URL scheme:{}\nPlease refer to Tessera Wallet SDK documentation",
                    schemeForApp());
    });
}

// URLs

std::string TWAWalletClient::schemeForApp() {
    return TWAInterAppCommunicator::schemeForApp();
}

std::string TWAWalletClient::maskedWalletCallbackURL() {
    return schemeForApp() + "://maskedWalletResponse";
}

std::string TWAWalletClient::urlForTest() {
    return schemeForApp() + "://callback-check";
}

bool TWAWalletClient::handleOpenURL(const platform::URL& url,
                                    const std::optional<std::string>& sourceApplication,
                                    const nlohmann::json* annotation) {
    TWABackgroundTask::stopBackgroundTaskIfRunning();
    auto client = sharedInstance();  // kept while its callbacks may replace it
    return client->instanceHandleOpenURL(url, sourceApplication, annotation);
}

bool TWAWalletClient::instanceHandleOpenURL(const platform::URL& url,
                                            const std::optional<std::string>& sourceApplication,
                                            const nlohmann::json* annotation) {
    if (openURLVerified_) {
        if (url.scheme() != schemeForApp()) return false;
        auto communicator = interAppCommunicator_;
        return communicator->handleOpenURL(url, sourceApplication, annotation);
    }
    if (sourceApplication && *sourceApplication != platform::Bundle::main().bundleIdentifier())
        return false;
    if (url.absoluteString() != urlForTest()) return false;
    openURLVerified_ = true;
    return true;
}

// Environment and configuration

std::string TWAWalletClient::environmentToString(int32_t environment) {
    switch (environment) {
        case 0:
            return "kTWAEnvironmentSandbox";
        case 1:
            return "kTWAEnvironmentStrictSandbox";
        case 2:
            return "kTWAEnvironmentProduction";
        default:
            return "unknown";
    }
}

int32_t TWAWalletClient::environment() const {
    if (!isLent()) return environmentInUse();
    if (!ownersEnvironmentInitialized_)
        TWA_LOG("Environment requested, but not initialized. Defaulting to {}",
                environmentToString(owners_->environment));
    return owners_->environment;
}

int32_t TWAWalletClient::environmentInUse() const {
    if (!environmentInitialized_)
        TWA_LOG("Environment requested, but not initialized. Defaulting to {}",
                environmentToString(environment_));
    return environment_;
}

void TWAWalletClient::setEnvironment(int32_t environment) {
    if (!isLent()) {
        useEnvironment(environment);
        return;
    }
    // The owner's, for when the client comes back.
    if (ownersEnvironmentInitialized_ && environment == owners_->environment) return;
    if (ownersEnvironmentInitialized_)
        TWA_LOG("Environment is changing from previously set {} to {}",
                environmentToString(owners_->environment), environmentToString(environment));
    ownersEnvironmentInitialized_ = true;
    owners_->environment = environment;
}

void TWAWalletClient::useEnvironment(int32_t environment) {
    if (environmentInitialized_) {
        if (environment == environment_) return;
        TWA_LOG("Environment is changing from previously set {} to {}",
                environmentToString(environment_), environmentToString(environment));
    }
    auto keepAlive = shared_from_this();
    environmentInitialized_ = true;
    environment_ = environment;
    clientConfigInternal_.reset();
    // The transaction's former owner hears of its end once the new configuration is asked.
    endTransactionOfFormerOwner();
    if (!transactionOwner_) {
        transactionContext_ = TWAClientSDKTransactionContext::create(environment_, nullptr);
        preauthorizedUnderWay_.reset();
    }
    if (!clientConfigInternal_) clientConfig();
}

// Owners and loans

void TWAWalletClient::setDelegate(std::weak_ptr<TWAWalletClientDelegate> delegate) {
    if (isLent()) {
        owners_->delegate = std::move(delegate);
        return;
    }
    delegate_ = std::move(delegate);
    endTransactionOfFormerOwner();
}

void TWAWalletClient::setClientId(const TWAText& v) {
    if (isLent()) {
        owners_->clientId = v;
        return;
    }
    clientId_ = v;
    endTransactionOfFormerOwner();
}

void TWAWalletClient::setClientSecret(const TWAText& v) {
    if (isLent()) {
        owners_->clientSecret = v;
        return;
    }
    clientSecret_ = v;
    endTransactionOfFormerOwner();
}

const std::shared_ptr<TWAClientSDKTransactionContext>& TWAWalletClient::transactionContext() const {
    static const std::shared_ptr<TWAClientSDKTransactionContext> none;
    return isLent() ? none : transactionContext_;
}

void TWAWalletClient::setTransactionContext(
    std::shared_ptr<TWAClientSDKTransactionContext> context) {
    auto keepAlive = shared_from_this();
    takeBack();
    transactionContext_ = std::move(context);
}

const std::shared_ptr<TWAInterAppCommunicator>& TWAWalletClient::interAppCommunicator() const {
    static const std::shared_ptr<TWAInterAppCommunicator> none;
    return isLent() ? none : interAppCommunicator_;
}

std::shared_ptr<TWAWalletClient::Loan> TWAWalletClient::lend(
    std::weak_ptr<TWAWalletClientHolder> holder, Values values) {
    auto keepAlive = shared_from_this();
    takeBack();
    if (isLent()) giveBackToOwner();  // a holder that took the client again meanwhile
    std::shared_ptr<Loan> loan(new Loan(weak_from_this()));
    owners_ = Values{delegate_, clientId_, clientSecret_, environmentInUse()};
    ownersEnvironmentInitialized_ = environmentInitialized_;
    holder_ = std::move(holder);
    loan_ = loan;
    delegate_ = std::move(values.delegate);
    clientId_ = std::move(values.clientId);
    clientSecret_ = std::move(values.clientSecret);
    // The owner's running transaction ends (its delegate hears it), and one that ran no
    // more too: nothing of it reaches the holder.
    endTransactionOfFormerOwner();
    if (loan_.lock() != loan) return loan;  // the owner took the client back meanwhile
    useEnvironment(values.environment);
    if (loan_.lock() == loan) endTransactionInUse();
    return loan;
}

bool TWAWalletClient::isCalledByHolder() const {
    auto holder = holder_.lock();
    return holder && holder->walletClientIsCalledByHolder(*this);
}

void TWAWalletClient::takeBack() {
    if (!isLent() || isCalledByHolder()) return;
    auto keepAlive = shared_from_this();
    const auto loan = loan_.lock();
    if (auto holder = holder_.lock()) holder->walletClientWasTakenBack(*this);
    if (isLent() && loan_.lock() == loan) giveBackToOwner();
}

void TWAWalletClient::giveBackToOwner() {
    if (!isLent()) return;
    auto keepAlive = shared_from_this();
    const Values owners = std::move(*owners_);
    owners_.reset();
    holder_.reset();
    loan_.reset();
    endTransactionInUse();
    delegate_ = owners.delegate;
    clientId_ = owners.clientId;
    clientSecret_ = owners.clientSecret;
    useEnvironment(owners.environment);
}

bool TWAWalletClient::Loan::isHeldOn(const TWAWalletClient& client) const {
    auto lent = client_.lock();
    return lent.get() == &client && lent->isLent() && lent->loan_.lock().get() == this;
}

TWAWalletClient::Values TWAWalletClient::Loan::valuesInUse() const {
    auto client = client_.lock();
    if (!client || !isHeldOn(*client)) return {{}, std::nullopt, std::nullopt, 0};
    return {client->delegate_, client->clientId_, client->clientSecret_, client->environment_};
}

std::shared_ptr<TWAClientSDKTransactionContext> TWAWalletClient::Loan::transactionContext() const {
    auto client = client_.lock();
    if (!client || !isHeldOn(*client)) return nullptr;
    return client->transactionContext_;
}

void TWAWalletClient::Loan::giveBack() {
    auto client = client_.lock();
    if (client && isHeldOn(*client)) client->giveBackToOwner();
}

void TWAWalletClient::serveHolder(bool newRequest) {
    auto holder = holder_.lock();
    if (!holder) {
        // A holder gone without giving the client back.
        if (newRequest && isLent()) giveBackToOwner();
        return;
    }
    auto keepAlive = shared_from_this();
    holder->walletClientWillServe(*this, newRequest);
    // The owner's own request needs the client.
    if (newRequest) takeBack();
}

void TWAWalletClient::interAppCommunicatorWillOpenWalletApplication(TWAInterAppCommunicator&) {
    serveHolder(false);
}

bool TWAWalletClient::isTransactionRunning() const {
    const auto& context = transactionContext_;
    return transactionOwner_ && context && context->merchantMaskedWalletRequest() &&
           (context->openURLInProgress() || context->fullWalletInProgress() ||
            preauthorizedUnderWay_ == context || context->tesseraTransactionId());
}

void TWAWalletClient::endTransactionOfFormerOwner() {
    if (!transactionOwner_) return;
    const Owner owner = *transactionOwner_;
    auto former = owner.delegate.lock();
    if (former == delegate_.lock() && owner.clientId == clientId_ &&
        owner.clientSecret == clientSecret_ && owner.environment == environment_)
        return;
    const bool running = isTransactionRunning();
    const bool fullWallet = transactionContext_ && transactionContext_->fullWalletInProgress();
    transactionOwner_.reset();
    preauthorizedUnderWay_.reset();
    transactionContext_ = TWAClientSDKTransactionContext::create(environment_, nullptr);
    if (!running) return;
    TWA_LOG("The transaction in progress has ended: the wallet was given to another merchant");
    if (!former) return;
    auto keepAlive = shared_from_this();
    const auto error = clientError(612);
    if (fullWallet)
        former->walletClientDidFailToLoadFullWallet(*this, error);
    else
        former->walletClientDidFailToLoadMaskedWallet(*this, error);
}

std::shared_ptr<TWAClientConfig> TWAWalletClient::clientConfig() {
    if (!clientConfigInternal_) {
        if (!environmentInitialized_)
            TWA_LOG("WARNING: Environment is uninitialized. Defaulting to kTWAEnvironmentSandbox.");
        clientConfigInternal_ = TWAClientConfig::clientConfigWithEnvironment(environment_);
        clientConfigInternal_->updateClientConfig();
    }
    return clientConfigInternal_;
}

std::shared_ptr<TWACrypto> TWAWalletClient::cryptor() {
    return transactionContext_ ? transactionContext_->cryptor() : nullptr;
}

void TWAWalletClient::interAppCommunicatorDidReceiveUnhandledMaskedWalletResponse(
    TWAInterAppCommunicator&, const walletproto::OWIIosNativeGetMaskedWalletResponse&) {}

// JSON

std::optional<nlohmann::json> TWAWalletClient::dictionaryFromJsonString(const TWAText& text) {
    if (!text) return std::nullopt;
    auto parsed = platform::json::parse(*text);
    if (!parsed.ok() || !parsed.value.is_object()) return std::nullopt;
    return std::move(parsed.value);
}

TWAText TWAWalletClient::jsonStringWithDictionary(const std::optional<nlohmann::json>& dictionary) {
    if (!dictionary || !dictionary->is_object()) return std::nullopt;
    return platform::json::print(*dictionary);
}

// Preauthorization

std::optional<nlohmann::json> TWAWalletClient::preauthDictionary() {
    if (!preauthBelongsTo(clientId())) return std::nullopt;
    return storedPreauth();
}

const std::optional<nlohmann::json>& TWAWalletClient::storedPreauth() {
    if (!preauthDictionaryLoaded_) {
        preauthDictionaryLoaded_ = true;
        platform::KeychainItem item;
        const auto status = platform::Keychain::shared().copy(preauthQuery(), &item);
        if (status == platform::KeychainStatus::Success) {
            preauthDictionary_ = dictionaryFromJsonString(item.data);
            if (!preauthDictionary_) TWA_LOG("The stored preauthorization is no JSON object");
        }
        // A record of an earlier release names no client id: it serves no client, so its
        // token is revoked and the record removed, once.
        if (preauthDictionary_ &&
            !platform::json::stringValue(*preauthDictionary_, kPreauthClientIdKey)) {
            TWA_LOG("The stored preauthorization names no client id: revoking it");
            setPreauthDictionary(std::nullopt);
        }
    }
    return preauthDictionary_;
}

void TWAWalletClient::setPreauthDictionary(const std::optional<nlohmann::json>& record) {
    const auto& old = storedPreauth();
    const TWAText oldToken =
        old ? platform::json::stringValue(*old, "refresh_token") : std::nullopt;
    preauthDictionary_ = record;
    preauthDictionaryLoaded_ = true;
    auto& keychain = platform::Keychain::shared();
    if (auto text = jsonStringWithDictionary(record)) {
        // The record replaced, another client id's or an older one, leaves no live token.
        if (oldToken && platform::json::stringValue(*record, "refresh_token") != oldToken)
            TWAServerCommunicator::instance()->clientFrameworkRevokeOAuthRefreshToken(oldToken);
        platform::KeychainItem item{
            .service = kPreauthKeychainService,
            .account = kPreauthKeychainAccount,
            .accessGroup = std::nullopt,
            .accessibility = platform::kKeychainAccessibleWhenUnlockedThisDeviceOnly,
            .data = *text};
        auto status = keychain.add(item);
        if (status == platform::KeychainStatus::DuplicateItem)
            status = keychain.update(preauthQuery(), *text);
        if (status != platform::KeychainStatus::Success)
            TWA_LOG("The preauthorization could not be stored ({})", static_cast<int>(status));
        return;
    }
    TWAServerCommunicator::instance()->clientFrameworkRevokeOAuthRefreshToken(oldToken);
    const auto status = keychain.remove(preauthQuery());
    if (status != platform::KeychainStatus::Success &&
        status != platform::KeychainStatus::ItemNotFound)
        TWA_LOG("The preauthorization could not be removed ({})", static_cast<int>(status));
}

bool TWAWalletClient::preauthBelongsTo(const TWAText& clientId) {
    const auto& record = storedPreauth();
    return record && platform::json::stringValue(*record, kPreauthClientIdKey) == clientId;
}

TWAText TWAWalletClient::preauthValueFor(const char* key, const TWAText& clientId) {
    if (!preauthBelongsTo(clientId)) return std::nullopt;
    return platform::json::stringValue(*storedPreauth(), key);
}

TWAText TWAWalletClient::preauthRefreshToken() {
    return preauthValueFor("refresh_token", clientId());
}

TWAText TWAWalletClient::preauthExtraInfo() {
    return preauthValueFor("extra_info", clientId());
}

void TWAWalletClient::setPreauthExtraInfo(const TWAText& extraInfo) {
    auto record = preauthDictionary();
    if (!record) return;
    (*record)["extra_info"] = extraInfo ? nlohmann::json(*extraInfo) : nullptr;
    setPreauthDictionary(record);
}

void TWAWalletClient::setPreauthRefreshToken(const TWAText& refreshToken, const TWAText& extraInfo,
                                             const TWAText& account) {
    storePreauth(refreshToken, extraInfo, account, clientId());
}

void TWAWalletClient::storePreauth(const TWAText& refreshToken, const TWAText& extraInfo,
                                   const TWAText& account, const TWAText& clientId) {
    if (!refreshToken) TWA_LOG("TWA_ASSERT false: {}", "preauthRefreshToken");
    if (!account) TWA_LOG("TWA_ASSERT false: {}", "account");
    if (!refreshToken || !account) return;
    nlohmann::json record{{"refresh_token", *refreshToken},
                          {"extra_info", extraInfo.value_or(std::string())},
                          {"account", *account}};
    if (clientId) record[kPreauthClientIdKey] = *clientId;
    setPreauthDictionary(record);
}

void TWAWalletClient::checkForPreauthorization() {
    // A question needs no transaction and ends no loan: while lent, the owner asks of its
    // own id and hears the answer itself; the holder's own question is the holder's.
    auto holder = isLent() ? holder_.lock() : nullptr;
    const bool owners = holder && !holder->walletClientIsCalledByHolder(*this);
    const TWAText clientId = owners ? owners_->clientId : clientId_;
    auto target = owners ? owners_->delegate.lock() : delegate_.lock();
    const bool preauthorized =
        preauthValueFor("refresh_token", clientId) && preauthValueFor("extra_info", clientId);
    if (target) target->walletClientUserIsPreauthorized(*this, preauthorized);
}

bool TWAWalletClient::wantsRefreshToken() {
    return nonEmpty(clientId_) && nonEmpty(clientSecret_) &&
           !preauthValueFor("refresh_token", clientId_);
}

void TWAWalletClient::failMaskedWallet(const platform::Error& error) {
    if (auto target = delegate_.lock()) target->walletClientDidFailToLoadMaskedWallet(*this, error);
}

void TWAWalletClient::failFullWallet(const platform::Error& error) {
    if (auto target = delegate_.lock()) target->walletClientDidFailToLoadFullWallet(*this, error);
}

bool TWAWalletClient::isStale(const std::shared_ptr<TWAClientSDKTransactionContext>& context,
                              const char* what) const {
    if (context == transactionContext_) return false;
    TWA_LOG("Ignoring {} of a transaction that is no longer in progress", what);
    return true;
}

template <class Answer>
void TWAWalletClient::takeAnswer(TWAClientSDKTransactionContext& context, const Answer& answer) {
    context.setTesseraTransactionId(textOf(
        answer.has_merchant_response() && answer.merchant_response().has_tessera_transaction_id(),
        answer.merchant_response().tessera_transaction_id()));
    context.setFullWalletExtraInfo(
        textOf(answer.has_full_wallet_extra_info(), answer.full_wallet_extra_info()));
    context.setFullWalletAccessToken(
        textOf(answer.has_full_wallet_access_token(), answer.full_wallet_access_token()));
    context.setBuyerEmail(textOf(answer.has_buyer_email(), answer.buyer_email()));
}

// Masked wallet

void TWAWalletClient::loadMaskedWallet(std::shared_ptr<TWAMaskedWalletRequest> request) {
    auto keepAlive = shared_from_this();
    serveHolder(true);
    if (!request) {
        failMaskedWallet(clientError(601));
        return;
    }
    if (transactionContext_ && transactionContext_->openURLInProgress()) {
        TWA_LOG("|loadMaskedWallet:| called multiple times.");
        failMaskedWallet(clientError(611));
        return;
    }
    if (transactionContext_ && transactionContext_->fullWalletInProgress()) {
        TWA_LOG("Can't start a new transaction with a full wallet request in progress.");
        failMaskedWallet(clientError(602));
        return;
    }
    transactionContext_ =
        TWAClientSDKTransactionContext::create(environmentInUse(), request->copy());
    transactionOwner_ = Owner{delegate_, clientId_, clientSecret_, environment_};
    preauthorizedUnderWay_.reset();
    if (preauthValueFor("extra_info", clientId_) && preauthValueFor("refresh_token", clientId_) &&
        clientId_) {
        sendGetMaskedWalletForPreauthorizedBuyer();
        return;
    }
    auto message = TWAClientSDKDataConverter::nativeRequestProtoForMaskedWalletRequest(
        *transactionContext_->merchantMaskedWalletRequest(), {}, maskedWalletCallbackURL(),
        nonEmpty(clientId_) && nonEmpty(clientSecret_), clientId_, environmentInUse());
    sendNativeMaskedWallet(message);
}

void TWAWalletClient::sendNativeMaskedWallet(
    const walletproto::OWIIosNativeGetMaskedWalletRequest& message) {
    if (!openURLVerified_) {
        failMaskedWallet(clientError(603));
        return;
    }
    auto context = transactionContext_;
    context->setOpenURLInProgress(true);
    std::weak_ptr<TWAWalletClient> weak = weak_from_this();
    interAppCommunicator_->loadMaskedWallet(
        message, [weak, context](auto answer, std::optional<platform::Error> error) {
            if (auto self = weak.lock()) self->nativeMaskedWalletAnswered(context, answer, error);
        });
}

void TWAWalletClient::nativeMaskedWalletAnswered(
    const std::shared_ptr<TWAClientSDKTransactionContext>& context,
    const std::shared_ptr<walletproto::OWIIosNativeGetMaskedWalletResponse>& answer,
    const std::optional<platform::Error>& error) {
    auto keepAlive = shared_from_this();
    context->setOpenURLInProgress(false);
    if (isStale(context, "the wallet application's answer")) return;
    if (error || !answer) {
        failMaskedWallet(
            error ? *error
                  : TWAInterAppCommunicator::internalErrorWithDescription("Internal Error: 505"));
        return;
    }
    const auto& request = context->merchantMaskedWalletRequest();
    auto maskedWallet = TWAClientSDKDataConverter::maskedWalletFromServerResponse(
        *answer, request ? request->merchantTransactionId() : std::nullopt);
    const TWAText buyerEmail = textOf(answer->has_buyer_email(), answer->buyer_email());
    if (answer->has_preauth_refresh_token() && buyerEmail) {
        storePreauth(answer->preauth_refresh_token(),
                     textOf(answer->has_preauth_extra_info(), answer->preauth_extra_info()),
                     buyerEmail, clientId_);
    } else if (preauthBelongsToClient()) {
        // Another merchant's preauthorization is that merchant's to keep.
        const TWAText account = platform::json::stringValue(*storedPreauth(), "account");
        if (!buyerEmail || !account || *buyerEmail != *account) setPreauthDictionary(std::nullopt);
    }
    takeAnswer(*context, *answer);
    if (auto target = delegate_.lock())
        target->walletClientDidLoadMaskedWallet(*this, maskedWallet);
}

void TWAWalletClient::sendGetMaskedWalletForPreauthorizedBuyer() {
    auto context = transactionContext_;
    auto message = TWAClientSDKDataConverter::preauthorizedRequestFromMaskedWallet(
        *context->merchantMaskedWalletRequest(), preauthValueFor("extra_info", clientId_),
        clientId_, TWARiskUtils::riskData(), context->environment());
    preauthorizedUnderWay_ = context;
    const TWAText refreshToken = preauthValueFor("refresh_token", clientId_);
    std::weak_ptr<TWAWalletClient> weak = weak_from_this();
    TWAServerCommunicator::instance()->getMaskedWalletForPreauthorizedBuyer(
        message, refreshToken, clientId_, clientSecret_, *context,
        [weak, context, refreshToken](auto answer, auto errorMessage,
                                      std::optional<platform::Error> error) {
            if (auto self = weak.lock())
                self->preauthorizedAnswered(context, refreshToken, answer, errorMessage, error);
        });
}

void TWAWalletClient::preauthorizedAnswered(
    const std::shared_ptr<TWAClientSDKTransactionContext>& context, const TWAText& refreshToken,
    const std::shared_ptr<TWAServerCommunicator::PreauthorizedResponse>& answer,
    const TWAServerCommunicator::ErrorMessagePtr& errorMessage,
    const std::optional<platform::Error>& error) {
    auto keepAlive = shared_from_this();
    if (preauthorizedUnderWay_ == context) preauthorizedUnderWay_.reset();
    // Only the refused token is forgotten, not one stored since for another client id.
    const auto& stored = storedPreauth();
    if (error && error->domain() == kTWAHTTPStatusErrorDomain && error->code() == 401 && stored &&
        platform::json::stringValue(*stored, "refresh_token") == refreshToken)
        setPreauthDictionary(std::nullopt);
    if (isStale(context, "the preauthorized masked wallet")) return;
    const auto& request = context->merchantMaskedWalletRequest();
    if (!error && !errorMessage && answer && answer->required_action_size() == 0) {
        auto maskedWallet = TWAClientSDKDataConverter::maskedWalletFromPreauthorizedServerResponse(
            *answer, request->merchantTransactionId());
        const TWAText buyerEmail = textOf(answer->has_buyer_email(), answer->buyer_email());
        const auto& record = storedPreauth();
        const TWAText account =
            record ? platform::json::stringValue(*record, "account") : std::nullopt;
        if (buyerEmail && account && *buyerEmail == *account)
            storePreauth(preauthValueFor("refresh_token", clientId_),
                         textOf(answer->has_preauth_extra_info(), answer->preauth_extra_info()),
                         buyerEmail, clientId_);
        else
            setPreauthDictionary(std::nullopt);
        takeAnswer(*context, *answer);
        if (auto target = delegate_.lock())
            target->walletClientDidLoadMaskedWallet(*this, maskedWallet);
        return;
    }
    std::vector<int> requiredActions;
    if (answer)
        requiredActions.assign(answer->required_action().begin(), answer->required_action().end());
    auto message = TWAClientSDKDataConverter::nativeRequestProtoForMaskedWalletRequest(
        *request, requiredActions, maskedWalletCallbackURL(), wantsRefreshToken(), clientId_,
        environmentInUse());
    sendNativeMaskedWallet(message);
}

void TWAWalletClient::changeMaskedWallet(const TWAText& tesseraTransactionId,
                                         const TWAText& merchantTransactionId) {
    changeMaskedWallet(tesseraTransactionId, merchantTransactionId, {});
}

void TWAWalletClient::changeMaskedWallet(const TWAText& tesseraTransactionId, const TWAText&,
                                         const std::vector<int>& requiredActions) {
    auto keepAlive = shared_from_this();
    serveHolder(true);
    changeMaskedWalletFor(tesseraTransactionId, requiredActions);
}

void TWAWalletClient::changeMaskedWalletFor(const TWAText& tesseraTransactionId,
                                            const std::vector<int>& requiredActions) {
    if (!tesseraTransactionId) {
        failMaskedWallet(clientError(609));
        return;
    }
    if (!transactionContext_ ||
        transactionContext_->tesseraTransactionId() != tesseraTransactionId ||
        !transactionContext_->merchantMaskedWalletRequest()) {
        failMaskedWallet(clientError(610));
        return;
    }
    if (transactionContext_->fullWalletInProgress()) {
        TWA_LOG("Warning:  Full wallet request in progress.  Ignoring change masked wallet.");
        return;
    }
    auto message = TWAClientSDKDataConverter::nativeRequestProtoForMaskedWalletRequest(
        *transactionContext_->merchantMaskedWalletRequest(), requiredActions,
        maskedWalletCallbackURL(), wantsRefreshToken(), clientId_, environmentInUse());
    message.mutable_merchant_request()->set_tessera_transaction_id(*tesseraTransactionId);
    sendNativeMaskedWallet(message);
}

// Full wallet

void TWAWalletClient::loadFullWallet(std::shared_ptr<TWAFullWalletRequest> request) {
    auto keepAlive = shared_from_this();
    serveHolder(true);
    if (!request) {
        failFullWallet(clientError(604));
        return;
    }
    request = request->copy();
    if (!request->tesseraTransactionId()) {
        failFullWallet(clientError(605));
        return;
    }
    if (!transactionContext_ ||
        request->tesseraTransactionId() != transactionContext_->tesseraTransactionId()) {
        failFullWallet(clientError(606));
        return;
    }
    if (transactionContext_->fullWalletInProgress()) {
        const auto& current = transactionContext_->fullWalletRequest();
        if (current && current->isEqual(request.get())) {
            TWA_LOG(
                "Full wallet request in progress. Ignoring duplicate full wallet request.  The "
                "user possibly tapped a button twice.");
            return;
        }
        failFullWallet(clientError(607));
        return;
    }
    auto context = transactionContext_;
    context->setFullWalletInProgress(true);
    context->setFullWalletRequest(request);
    std::weak_ptr<TWAWalletClient> weak = weak_from_this();
    clientConfig()->loadURLSchemeWithCallback(
        [weak, context](TWAClientConfig::URLScheme urlScheme,
                        std::optional<platform::Error> error) {
            if (auto self = weak.lock()) self->sendFullWallet(context, urlScheme, error);
        });
}

void TWAWalletClient::sendFullWallet(const std::shared_ptr<TWAClientSDKTransactionContext>& context,
                                     const TWAClientConfig::URLScheme& urlScheme,
                                     const std::optional<platform::Error>& error) {
    // Ended while the configuration was asked: nothing of it goes to the server.
    auto keepAlive = shared_from_this();
    serveHolder(false);
    if (isStale(context, "the full wallet request")) return;
    if (error) {
        fullWalletAnswered(context, nullptr, nullptr, nullptr, error);
        return;
    }
    auto message = TWAClientSDKDataConverter::nativeRequestProtoForFullWalletRequest(
        *context->fullWalletRequest(), urlScheme.get(), *context);
    message.set_version(kTWAMerchantLibraryVersion);
    std::weak_ptr<TWAWalletClient> weak = weak_from_this();
    TWAServerCommunicator::instance()->clientFrameworkGetFullWallet(
        message, context->fullWalletAccessToken(), *context,
        [weak, context](auto answer, auto proxyCard, auto errorMessage,
                        std::optional<platform::Error> answerError) {
            if (auto self = weak.lock())
                self->fullWalletAnswered(context, answer, proxyCard, errorMessage, answerError);
        });
}

void TWAWalletClient::fullWalletAnswered(
    const std::shared_ptr<TWAClientSDKTransactionContext>& context,
    const std::shared_ptr<TWAServerCommunicator::FullWalletResponse>& answer,
    const std::shared_ptr<TWAProxyCard>& proxyCard,
    const TWAServerCommunicator::ErrorMessagePtr& errorMessage,
    const std::optional<platform::Error>& error) {
    auto keepAlive = shared_from_this();
    context->setFullWalletInProgress(false);
    if (isStale(context, "the full wallet")) return;
    if (error && error->domain() == kTWAHTTPStatusErrorDomain && error->code() == 401) {
        failFullWallet(clientError(608));
        return;
    }
    const auto request = context->fullWalletRequest();
    if (answer && answer->required_action_size() > 0) {
        std::vector<int> requiredActions(answer->required_action().begin(),
                                         answer->required_action().end());
        changeMaskedWalletFor(request->tesseraTransactionId(), requiredActions);
        return;
    }
    const TWAText buyerEmail = context->buyerEmail();
    transactionContext_.reset();
    if (answer && proxyCard) {
        auto fullWallet = TWAClientSDKDataConverter::fullWalletFromResponse(*answer, proxyCard,
                                                                            *request, buyerEmail);
        if (auto target = delegate_.lock())
            target->walletClientDidLoadFullWallet(*this, fullWallet);
        return;
    }
    if (answer) {
        failFullWallet(
            TWALocalizedError(kTWAErrorCodeInternalError, "Internal Error: 504", std::nullopt));
    } else if (errorMessage) {
        const long type = errorMessage->wallet_error().error_type();
        failFullWallet(TWAErrorMake(kTWAErrorDomain,
                                    TWAWalletErrorConverter::twaWalletErrorForServerError(type),
                                    errorMessage->error_detail(), std::nullopt));
    } else if (error) {
        failFullWallet(TWAWalletErrorConverter::publicOrInternalErrorWithServerCommunicatorError(
            error, "Internal Error: 510"));
    } else {
        failFullWallet(
            TWALocalizedError(kTWAErrorCodeInternalError, "Internal Error: 502", std::nullopt));
    }
}

// The merchant's status is the end of a transaction that waits for nothing: a later
// change of owner has nothing to end. A request under way still answers its owner.
void TWAWalletClient::notifyTransactionStatus(long) {
    // The owner's transaction ended with the loan: its status ends nothing of the holder's.
    if (isLent() && !isCalledByHolder()) return;
    const auto& context = transactionContext_;
    if (!transactionOwner_ || !context || context->openURLInProgress() ||
        context->fullWalletInProgress() || preauthorizedUnderWay_ == context)
        return;
    endTransactionInUse();
}

void TWAWalletClient::endTransaction() {
    auto keepAlive = shared_from_this();
    takeBack();
    endTransactionInUse();
}

void TWAWalletClient::endTransactionInUse() {
    transactionContext_ = TWAClientSDKTransactionContext::create(environment_, nullptr);
    transactionOwner_.reset();
    preauthorizedUnderWay_.reset();
}
