#pragma once
// The wallet client: the one object a merchant application talks to. It asks for the
// masked wallet (from the wallet server for a preauthorized buyer, else from the wallet
// application over URLs), lets the buyer change it, asks the wallet server for the full
// wallet and keeps the buyer's preauthorization in the keychain. Every result and every
// failure reaches the delegate.
//
//   auto client = TWAWalletClient::sharedInstance();
//   client->setDelegate(delegate);
//   client->setClientId("id"); client->setClientSecret("secret"); client->setEnvironment(2);
//   client->loadMaskedWallet(request);
//   // the application hands every URL it is asked to open to:
//   TWAWalletClient::handleOpenURL(url, sourceApplication, annotation);
//
// Once after it is made, the client opens "<own scheme>://callback-check" to learn that
// the application hands its URLs back; only then may it use the wallet application.
// Errors have the domain "com.tessera.wallet.sdk", a negative code, a description from
// the resource bundle's string table and mostly a description for the developer.
// Main thread only.

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/URL.h"
#include "wallet/TWAClientConfig.h"
#include "wallet/TWAClientSDKTransactionContext.h"
#include "wallet/TWAFullWallet.h"
#include "wallet/TWAFullWalletRequest.h"
#include "wallet/TWAInterAppCommunicator.h"
#include "wallet/TWAMaskedWallet.h"
#include "wallet/TWAMaskedWalletRequest.h"
#include "wallet/TWAServerCommunicator.h"

class TWAWalletClient;

class TWAWalletClientDelegate {
  public:
    virtual ~TWAWalletClientDelegate() = default;
    virtual void walletClientDidLoadMaskedWallet(TWAWalletClient& client,
                                                 std::shared_ptr<TWAMaskedWallet> maskedWallet) = 0;
    virtual void walletClientDidFailToLoadMaskedWallet(TWAWalletClient& client,
                                                       const platform::Error& error) = 0;
    virtual void walletClientDidLoadFullWallet(TWAWalletClient& client,
                                               std::shared_ptr<TWAFullWallet> fullWallet) = 0;
    virtual void walletClientDidFailToLoadFullWallet(TWAWalletClient& client,
                                                     const platform::Error& error) = 0;
    virtual void walletClientUserIsPreauthorized(TWAWalletClient& client, bool preauthorized) = 0;
};

// Whoever the client is lent to (lend()) works with values of its own while the owner
// keeps its: every public call answers the owner, and what the owner sets is kept for it
// until the client comes back. When the owner asks for something that needs the client's
// transaction (a request of its own, ending or replacing the transaction, another shared
// client), the holder hears it within that call, once, and the client goes back.
class TWAWalletClientHolder {
  public:
    virtual ~TWAWalletClientHolder() = default;
    // The owner takes the client back: the holder still reads its loan in this call, and
    // the client goes back after it (if the holder did not give it back itself).
    virtual void walletClientWasTakenBack(TWAWalletClient& client) = 0;
    // The client is about to serve a new request (`newRequest`), or to go on with one
    // under way (opening the wallet application, asking the wallet server). The holder
    // may give the client back first: a request of an ended transaction goes no further.
    virtual void walletClientWillServe(TWAWalletClient&, bool /*newRequest*/) {}
    // True while the holder itself calls the client: its requests and questions are its.
    virtual bool walletClientIsCalledByHolder(const TWAWalletClient&) const { return false; }
};

// The exchange's delegate calls (the transaction's keys among them) are the client's own.
class TWAWalletClient : private TWAInterAppCommunicatorDelegate,
                        public std::enable_shared_from_this<TWAWalletClient> {
  public:
    // The keychain item of the stored preauthorization.
    static constexpr const char* kPreauthKeychainService =
        "com.tessera.QuickBuy.preauth_keychain_name";
    static constexpr const char* kPreauthKeychainAccount = "com.tessera.QuickBuy";
    // The client id a stored preauthorization was issued for. A record without one (of an
    // earlier release) serves no client: it is revoked when first read.
    static constexpr const char* kPreauthClientIdKey = "client_id";

    static std::shared_ptr<TWAWalletClient> sharedInstance();
    // None lets the next sharedInstance() make a new client.
    static void setSharedInstance(std::shared_ptr<TWAWalletClient> client);
    // Refused: logs and answers none; sharedInstance() is the way to a client.
    static std::shared_ptr<TWAWalletClient> create();

    // The open-URL entry for every URL the application receives; true when taken.
    static bool handleOpenURL(const platform::URL& url,
                              const std::optional<std::string>& sourceApplication,
                              const nlohmann::json* annotation);
    static std::string schemeForApp();
    static std::string maskedWalletCallbackURL();
    static std::string urlForTest();
    static std::string environmentToString(int32_t environment);
    // JSON text to object and back; none for none, a text that is no JSON object, or
    // an object that is not one.
    static std::optional<nlohmann::json> dictionaryFromJsonString(const TWAText& text);
    static TWAText jsonStringWithDictionary(const std::optional<nlohmann::json>& dictionary);

    ~TWAWalletClient() override;
    TWAWalletClient(const TWAWalletClient&) = delete;
    TWAWalletClient& operator=(const TWAWalletClient&) = delete;

    // The delegate, id, secret and environment the client works with.
    struct Values {
        std::weak_ptr<TWAWalletClientDelegate> delegate;
        TWAText clientId;
        TWAText clientSecret;
        int32_t environment;
    };

    // The holder's own way to the client it was lent: the values and the transaction it
    // works with, which no public call of the client gives anybody.
    class Loan {
      public:
        // True while the client is lent by this loan.
        bool isHeldOn(const TWAWalletClient& client) const;
        // The holder's values; none once given back.
        Values valuesInUse() const;
        // The holder's transaction; none once given back.
        std::shared_ptr<TWAClientSDKTransactionContext> transactionContext() const;
        // The holder's transaction ends and the client works with the owner's values again,
        // what the owner set meanwhile included. Once.
        void giveBack();

      private:
        friend class TWAWalletClient;
        explicit Loan(std::weak_ptr<TWAWalletClient> client) : client_(std::move(client)) {}
        std::weak_ptr<TWAWalletClient> client_;
    };
    // Lends the client to `holder`, working with `values`: an earlier loan ends first
    // (its holder hears it), the owner's transaction ends (its delegate hears error 612
    // when it ran). Only the returned loan reads what the holder works with.
    std::shared_ptr<Loan> lend(std::weak_ptr<TWAWalletClientHolder> holder, Values values);
    bool isLent() const { return owners_.has_value(); }

    // A transaction belongs to the delegate, id, secret and environment it began with:
    // changing any of them while it runs ends it, and its delegate hears error 612.
    // While the client is lent, these answer the owner's values and set the owner's: kept
    // for it, in force when the client comes back, ending nothing.
    std::shared_ptr<TWAWalletClientDelegate> delegate() const {
        return isLent() ? owners_->delegate.lock() : delegate_.lock();
    }
    void setDelegate(std::weak_ptr<TWAWalletClientDelegate> delegate);
    const TWAText& clientId() const { return isLent() ? owners_->clientId : clientId_; }
    void setClientId(const TWAText& v);
    const TWAText& clientSecret() const { return isLent() ? owners_->clientSecret : clientSecret_; }
    void setClientSecret(const TWAText& v);
    const TWAText& preferredAccount() const { return preferredAccount_; }
    void setPreferredAccount(const TWAText& v) { preferredAccount_ = v; }
    // Logs when it was never set.
    int32_t environment() const;
    void setEnvironment(int32_t environment);
    bool isOpenURLVerified() const { return openURLVerified_; }
    void setOpenURLVerified(bool verified) { openURLVerified_ = verified; }
    // While lent, none: the owner's transaction ended with the loan.
    const std::shared_ptr<TWAClientSDKTransactionContext>& transactionContext() const;
    // While lent, the client is taken back first.
    void setTransactionContext(std::shared_ptr<TWAClientSDKTransactionContext> context);
    // While lent, none.
    const std::shared_ptr<TWAInterAppCommunicator>& interAppCommunicator() const;

    // The stored preauthorization {"refresh_token", "extra_info", "account",
    // "client_id"}, read from the keychain on first use. Setting none revokes the old
    // refresh token and removes the item; a record with another token revokes the old one
    // too. It is read, and its extra information set, only under the client id it was
    // issued for (clientId(): while lent, the owner's); a token set is issued for it.
    std::optional<nlohmann::json> preauthDictionary();
    void setPreauthDictionary(const std::optional<nlohmann::json>& record);
    TWAText preauthRefreshToken();
    TWAText preauthExtraInfo();
    void setPreauthExtraInfo(const TWAText& extraInfo);
    void setPreauthRefreshToken(const TWAText& refreshToken, const TWAText& extraInfo,
                                const TWAText& account);

    void checkForPreauthorization();
    void loadMaskedWallet(std::shared_ptr<TWAMaskedWalletRequest> request);
    void loadFullWallet(std::shared_ptr<TWAFullWalletRequest> request);
    void changeMaskedWallet(const TWAText& tesseraTransactionId,
                            const TWAText& merchantTransactionId);
    void changeMaskedWallet(const TWAText& tesseraTransactionId,
                            const TWAText& merchantTransactionId,
                            const std::vector<int>& requiredActions);
    // Ends the transaction in progress unless it waits for an answer. While lent, the
    // owner's status concerns no transaction: the owner's ended with the loan.
    void notifyTransactionStatus(long status);
    // The client's own error of that number (601 to 612).
    static platform::Error clientError(int number);
    // Drops the transaction in progress for a new one without a request: whatever is
    // still under way for the old one is ignored when it answers, and the next masked
    // wallet request starts. While lent, the client is taken back first.
    void endTransaction();

    // The configuration of the environment the client works with.
    std::shared_ptr<TWAClientConfig> clientConfig() override;

    // The shared client's part of the open-URL entry.
    bool instanceHandleOpenURL(const platform::URL& url,
                               const std::optional<std::string>& sourceApplication,
                               const nlohmann::json* annotation);

  private:
    TWAWalletClient() = default;
    // For the inter-app exchange.
    std::shared_ptr<TWACrypto> cryptor() override;
    void interAppCommunicatorWillOpenWalletApplication(
        TWAInterAppCommunicator& communicator) override;
    void interAppCommunicatorDidReceiveUnhandledMaskedWalletResponse(
        TWAInterAppCommunicator& communicator,
        const walletproto::OWIIosNativeGetMaskedWalletResponse& response) override;
    static std::shared_ptr<TWAWalletClient> initPrivate();
    static void startOpenURLTest();

    // The stored record, whoever it was issued for.
    const std::optional<nlohmann::json>& storedPreauth();
    void storePreauth(const TWAText& refreshToken, const TWAText& extraInfo, const TWAText& account,
                      const TWAText& clientId);
    bool wantsRefreshToken();
    bool preauthBelongsTo(const TWAText& clientId);
    bool preauthBelongsToClient() { return preauthBelongsTo(clientId_); }
    // The stored record's `key` when it was issued for `clientId`.
    TWAText preauthValueFor(const char* key, const TWAText& clientId);
    // environment() of the values in use.
    int32_t environmentInUse() const;
    void sendNativeMaskedWallet(const walletproto::OWIIosNativeGetMaskedWalletRequest& message);
    void nativeMaskedWalletAnswered(
        const std::shared_ptr<TWAClientSDKTransactionContext>& context,
        const std::shared_ptr<walletproto::OWIIosNativeGetMaskedWalletResponse>& answer,
        const std::optional<platform::Error>& error);
    void sendGetMaskedWalletForPreauthorizedBuyer();
    void preauthorizedAnswered(
        const std::shared_ptr<TWAClientSDKTransactionContext>& context, const TWAText& refreshToken,
        const std::shared_ptr<TWAServerCommunicator::PreauthorizedResponse>& answer,
        const TWAServerCommunicator::ErrorMessagePtr& errorMessage,
        const std::optional<platform::Error>& error);
    void sendFullWallet(const std::shared_ptr<TWAClientSDKTransactionContext>& context,
                        const TWAClientConfig::URLScheme& urlScheme,
                        const std::optional<platform::Error>& error);
    void fullWalletAnswered(
        const std::shared_ptr<TWAClientSDKTransactionContext>& context,
        const std::shared_ptr<TWAServerCommunicator::FullWalletResponse>& answer,
        const std::shared_ptr<TWAProxyCard>& proxyCard,
        const TWAServerCommunicator::ErrorMessagePtr& errorMessage,
        const std::optional<platform::Error>& error);
    // The answer's ids and tokens into the transaction.
    template <class Answer>
    void takeAnswer(TWAClientSDKTransactionContext& context, const Answer& answer);
    // True (with a log line) when `context` is no longer the transaction in progress.
    bool isStale(const std::shared_ptr<TWAClientSDKTransactionContext>& context,
                 const char* what) const;

    // True while the transaction in progress waits for an answer or may still ask for
    // its full wallet.
    bool isTransactionRunning() const;
    // Ends the running transaction when the delegate, id, secret or environment is no
    // longer the one it began with, and tells the delegate it began with.
    void endTransactionOfFormerOwner();
    // The owner needs the client's transaction: the holder hears it, and the client goes
    // back to the owner. Nothing while the holder itself calls.
    void takeBack();
    void giveBackToOwner();
    bool isCalledByHolder() const;
    void serveHolder(bool newRequest);
    // setEnvironment() of the values in use.
    void useEnvironment(int32_t environment);
    void endTransactionInUse();
    void changeMaskedWalletFor(const TWAText& tesseraTransactionId,
                               const std::vector<int>& requiredActions);

    void failMaskedWallet(const platform::Error& error);
    void failFullWallet(const platform::Error& error);

    std::weak_ptr<TWAWalletClientDelegate> delegate_;
    std::weak_ptr<TWAWalletClientHolder> holder_;
    std::weak_ptr<Loan> loan_;
    // The owner's values while the client is lent.
    std::optional<Values> owners_;
    bool ownersEnvironmentInitialized_ = false;
    TWAText clientId_;
    TWAText clientSecret_;
    TWAText preferredAccount_;
    int32_t environment_ = 0;
    bool environmentInitialized_ = false;
    bool openURLVerified_ = false;
    std::shared_ptr<TWAClientSDKTransactionContext> transactionContext_;
    std::shared_ptr<TWAClientConfig> clientConfigInternal_;
    std::shared_ptr<TWAInterAppCommunicator> interAppCommunicator_;
    // Who began the transaction in progress.
    struct Owner {
        std::weak_ptr<TWAWalletClientDelegate> delegate;
        TWAText clientId;
        TWAText clientSecret;
        int32_t environment;
    };
    std::optional<Owner> transactionOwner_;
    // The transaction whose masked wallet the wallet server has been asked for.
    std::shared_ptr<TWAClientSDKTransactionContext> preauthorizedUnderWay_;
    std::optional<nlohmann::json> preauthDictionary_;
    bool preauthDictionaryLoaded_ = false;
};
