#pragma once
// The glue that lends the process's one wallet client to pages. A page's start borrows
// the client (TWAWalletClient::lend: the glue becomes its delegate with the page's client
// id and secret and the production environment; the client keeps the host's values for
// the host); the results go to the shop's server as commands, failures to the page as
// "tesseraWalletError", and a failure or the page's transaction status gives the client
// back with the host's values, what the host set meanwhile included.
//
//   MVTesseraWallet::sharedController()->start({.currencyCode = "EUR", ...}, webView);
//
// Only the glue reads the page's values and transaction, through its loan: every public
// call of the client answers the host with its own values, and the host's transaction
// (ended by the start) is none while the page's payment runs. What the host sets meanwhile
// is its own and ends nothing. When the host asks for something that needs the client's
// transaction (a request of its own, ending or replacing the transaction, replacing the
// client), the page's payment ends first: the page hears
// "TesseraWalletErrorCredentialsChangedDuringPayment" and the client goes back; a
// question (checkForPreauthorization) is answered to the host about its own id. Every
// step after the start and every client callback first checks that the glue still holds
// the client; when not, the page hears the same report.
// A payment has a transaction of its own in the client: the start ends the one the host
// had (the client tells the host), and the payment's end or failure ends the payment's,
// so that no answer of one reaches the other's delegate. A start while the wallet
// application has another party's request is refused (error 611); a start with another
// client id or secret, or from another page, ends the payment before it.
// A payment belongs to the web view that started it (none: the server or a script):
// what concerns it goes to that page only, and a step from another page, or for a
// transaction that is not the running one, is refused to its sender and touches nothing.
// The payment ends with its page: when its web view is released or another document
// replaces its page's (a reload too), the client is given back and nothing of the
// payment answers anybody; a load that ends with the page kept (failed, cancelled,
// redirected to a command or an API page) ends nothing, and what concerns the payment
// meanwhile waits for its end (MVPageEventHold).
// Main thread only.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/NotificationCenter.h"
#include "wallet/TWACart.h"
#include "wallet/TWAMaskedWalletRequest.h"
#include "wallet/TWAWalletClient.h"

class MVEvent;
class MVWebView;

class MVTesseraWallet : public TWAWalletClientDelegate,
                        public TWAWalletClientHolder,
                        public std::enable_shared_from_this<MVTesseraWallet> {
  public:
    // The web view a command came from; null for the server and other native sources.
    using WebViewPtr = std::shared_ptr<MVWebView>;

    // Seconds between the start and the masked-wallet request.
    static constexpr double kLoadMaskedWalletDelay = 0.2;
    static constexpr const char* kCredentialsChangedError =
        "TesseraWalletErrorCredentialsChangedDuringPayment";
    static constexpr const char* kCredentialsChangedDescription =
        "The wallet has been changed during Tessera Wallet Payment Process by using merovane "
        "library!";

    struct Start {
        std::string currencyCode;
        std::string estimatedTotalPrice;
        std::optional<bool> phoneNumberRequired;
        std::optional<bool> shippingAddressRequired;
        std::optional<bool> useMinimalBillingAddress;
        std::optional<bool> allowDebitCard;
        std::optional<bool> allowPrepaidCard;
        TWAMaskedWalletRequest::CountrySpecifications allowedShippingCountrySpecifications;
        std::optional<std::string> clientID;
        std::string clientSecret;
    };

    static std::shared_ptr<MVTesseraWallet> sharedController();

    void start(const Start& start, const WebViewPtr& sender = nullptr);
    void changeMaskedWallet(const std::string& tesseraTransactionId,
                            const WebViewPtr& sender = nullptr);
    void sendFullWalletRequest(std::shared_ptr<TWACart> cart,
                               const std::string& tesseraTransactionId,
                               const WebViewPtr& sender = nullptr);
    // 0 success, 1 to 7 the failure reasons.
    void notifyTesseraTransactionStatus(long status, const WebViewPtr& sender = nullptr);
    // Ends first a payment whose page is gone.
    bool isLibSidedPaymentProcessAtPresent();

    // The request of a start, with the defaults for what it leaves open.
    static std::shared_ptr<TWAMaskedWalletRequest> maskedWalletRequest(const Start& start);
    // The page's name of a wallet error code.
    static std::string stringTesseraWalletErrorCode(long code);

    void walletClientDidLoadMaskedWallet(TWAWalletClient& client,
                                         std::shared_ptr<TWAMaskedWallet> maskedWallet) override;
    void walletClientDidFailToLoadMaskedWallet(TWAWalletClient& client,
                                               const platform::Error& error) override;
    void walletClientDidLoadFullWallet(TWAWalletClient& client,
                                       std::shared_ptr<TWAFullWallet> fullWallet) override;
    void walletClientDidFailToLoadFullWallet(TWAWalletClient& client,
                                             const platform::Error& error) override;
    void walletClientUserIsPreauthorized(TWAWalletClient& client, bool preauthorized) override;
    void walletClientWasTakenBack(TWAWalletClient& client) override;
    void walletClientWillServe(TWAWalletClient& client, bool newRequest) override;
    bool walletClientIsCalledByHolder(const TWAWalletClient& client) const override;

  private:
    // Who hears what concerns a payment or a step: a page, or, when none sent it, every
    // page registered for the event.
    struct Audience {
        bool page = false;
        std::weak_ptr<MVWebView> webView;
    };
    static Audience audienceOf(const WebViewPtr& sender) { return {sender != nullptr, sender}; }
    static void tell(const MVEvent& event, const Audience& audience);
    // Whether a step of `sender` is one of the running payment's (any step while none runs).
    bool isPaymentsPage(const WebViewPtr& sender) const;
    // The running payment's page, or the sender's when none runs.
    Audience audienceFor(const WebViewPtr& sender) const;
    // isPaymentsPage(), else the sender hears the credentials-changed report.
    bool acceptsStep(const WebViewPtr& sender, const char* occurrence, const char* step);
    // True when `tesseraTransactionId` is that of the payment's running transaction.
    bool isRunningTransaction(const TWAWalletClient& client,
                              const std::string& tesseraTransactionId) const;
    // The client's error `number`, to `audience` only.
    static void refuse(int number, const char* occurrence, const Audience& audience);
    // The occurrence of a payment ended now.
    const char* occurrenceOf(const TWAWalletClient& client) const;
    // The payment's transaction while the glue holds `client`, else the client's own.
    std::shared_ptr<TWAClientSDKTransactionContext> transactionOf(
        const TWAWalletClient& client) const;
    void setLibraryPaymentEnabled(bool enabled, const std::optional<std::string>& clientID,
                                  const std::string& clientSecret);
    // True while the client's delegate is this glue and its id, secret and environment
    // the ones the glue set.
    bool keepsItsValues(const TWAWalletClient& client) const;
    // keepsItsValues() with a client id.
    bool holds(const TWAWalletClient& client) const;
    // holds(), else the credentials-changed report for `occurrence`.
    bool guard(const TWAWalletClient& client, const char* occurrence, const Audience& audience);
    // guard() for the payment's page while a payment runs; false when none runs.
    bool guardCallback(const TWAWalletClient& client, const char* occurrence);
    // Tells `audience`, logs, and ends a running payment, giving back every value still
    // the glue's.
    void performCredentialsChangedDuringPaymentError(const char* occurrence,
                                                     const Audience& audience);
    void failed(const platform::Error& error, const char* occurrence);
    // True while the payment's page was released or another document replaced it.
    bool isPageGone() const;
    // Ends, telling nobody, a running payment whose page is gone; true when it did.
    bool endIfPageGone();
    void endWithItsPage(const char* why);
    // The payment ends when another document replaces its page's.
    void observeDocuments(const WebViewPtr& page);
    // Runs `call` on the client as the glue's own request.
    template <class Call>
    void asGlue(Call&& call);

    std::shared_ptr<TWAMaskedWalletRequest> maskedWalletRequest_;
    std::optional<std::string> libraryClientID_;
    TWAText libraryClientSecret_;
    bool isWalletForLibraryPayment_ = false;
    bool loadScheduled_ = false;
    Audience page_;
    platform::ObserverRegistration pageDocuments_;
    bool pageReplaced_ = false;
    bool callingClient_ = false;
    std::weak_ptr<TWAClientSDKTransactionContext> transaction_;
    // The client lent to the glue: its own way to the page's values and transaction.
    std::shared_ptr<TWAWalletClient::Loan> loan_;
};
