#pragma once
// Carries one masked-wallet request to the wallet application and takes its reply back,
// both as URLs. The request leaves as "<wallet scheme>://<base>?r=<message>"; the reply
// comes back on the application's own scheme with either "r" (the encrypted response)
// and "s" (its HMAC), or "e" (a wallet error type) and "ed" (its text).
//
//   auto communicator = TWAInterAppCommunicator::interAppCommunicatorWithDelegate(client);
//   communicator->loadMaskedWallet(request, [](auto response, auto error) { ... });
//   ...
//   communicator->handleOpenURL(url, source, nullptr);   // the reply
//
// At most one request waits; a new send drops the callback of the one before, and the
// application becoming active while one waits cancels it ("Buyer has cancelled").
// Nothing is decrypted before the MAC is checked.
// Each request belongs to the transaction whose cryptor the delegate gave for it: once
// the delegate names another cryptor, that transaction has ended, so the wallet
// application is not opened for it, and its reply, recognised by its MAC, answers
// nobody; an error reply, which names no request, answers a request sent later only once
// every ended one is answered. The delegate (the wallet client, which owns the
// communicator) is held without being owned. Main thread only.

#include <functional>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/URL.h"
#include "wallet/TWAClientConfig.h"
#include "wallet/TWACrypto.h"
#include "wallet/proto/native_communication.pb.h"

class TWAInterAppCommunicator;

class TWAInterAppCommunicatorDelegate {
  public:
    virtual ~TWAInterAppCommunicatorDelegate() = default;
    virtual std::shared_ptr<TWAClientConfig> clientConfig() = 0;
    virtual std::shared_ptr<TWACrypto> cryptor() = 0;
    // A verified reply that arrived while no request was waiting.
    virtual void interAppCommunicatorDidReceiveUnhandledMaskedWalletResponse(
        TWAInterAppCommunicator& communicator,
        const walletproto::OWIIosNativeGetMaskedWalletResponse& response) = 0;
    // The wallet application is about to be opened for the request of cryptor(); the
    // delegate may end that transaction first, and then it is not opened.
    virtual void interAppCommunicatorWillOpenWalletApplication(TWAInterAppCommunicator&) {}
};

class TWAInterAppCommunicator : public std::enable_shared_from_this<TWAInterAppCommunicator> {
  public:
    using Request = walletproto::OWIIosNativeGetMaskedWalletRequest;
    using Response = walletproto::OWIIosNativeGetMaskedWalletResponse;
    // Exactly one of the two is set.
    using Callback =
        std::function<void(std::shared_ptr<Response> response, std::optional<platform::Error>)>;

    static constexpr const char* kSchemePrefix = "tessera-wallet-merchant-app-";
    static constexpr const char* kCancelledText = "Buyer has cancelled";

    static std::shared_ptr<TWAInterAppCommunicator> interAppCommunicatorWithDelegate(
        std::weak_ptr<TWAInterAppCommunicatorDelegate> delegate);
    // A precondition violation: logs and makes a communicator without a delegate.
    static std::shared_ptr<TWAInterAppCommunicator> create();
    ~TWAInterAppCommunicator();
    TWAInterAppCommunicator(const TWAInterAppCommunicator&) = delete;
    TWAInterAppCommunicator& operator=(const TWAInterAppCommunicator&) = delete;

    // The application's own callback scheme: the prefix and the lower-case unpadded
    // base32 of the main bundle's identifier.
    static std::string schemeForApp();

    // The request is copied; the callback answers later, or at once on a failure before
    // the wallet application is opened.
    void loadMaskedWallet(const Request& request, Callback callback);
    // True only for a reply of this exchange that yielded a response message.
    bool handleOpenURL(const platform::URL& url,
                       const std::optional<std::string>& sourceApplication,
                       const nlohmann::json* annotation);
    void applicationDidBecomeActive();

    bool hasPendingCallback() const { return static_cast<bool>(lastNativeMaskedWalletCallback_); }
    // How many ended requests' replies are still recognised.
    static constexpr size_t kEndedRequestsKept = 4;

    static platform::Error internalErrorWithDescription(const std::string& description);
    static platform::Error userCancelledError();

  private:
    TWAInterAppCommunicator() = default;
    void observeBecomingActive();
    void sendWithScheme(const Request& request, const std::shared_ptr<TWACrypto>& cryptor,
                        const TWAClientConfig::URLScheme& urlScheme,
                        const std::optional<platform::Error>& error, Callback callback);
    // The reply's outcome for `callback`; true when it yielded a response.
    bool answerReply(const std::string& query, const Callback& callback);
    // True when `cryptor` is no longer the delegate's: its transaction has ended.
    bool hasEnded(const std::shared_ptr<TWACrypto>& cryptor) const;
    // The waiting request, when its transaction has ended, joins the ended ones.
    void dropEndedWait();
    void rememberEnded(std::shared_ptr<TWACrypto> cryptor);
    // True (with a log line) when the reply carries the MAC of an ended request.
    bool isReplyToEndedRequest(const std::string& query);
    // True (with a log line) when an error reply comes while an ended request is still
    // unanswered: the reply is that one's.
    bool isErrorReplyOfEndedRequest(const std::string& query);

    std::weak_ptr<TWAInterAppCommunicatorDelegate> delegate_;
    Callback lastNativeMaskedWalletCallback_;
    std::shared_ptr<TWACrypto> waitingCryptor_;
    std::vector<std::shared_ptr<TWACrypto>> endedCryptors_;
    platform::ObserverRegistration becomeActiveObserver_;
};
