#include "wallet/TWAInterAppCommunicator.h"

#include <nlohmann/json.hpp>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/JsonValue.h"
#include "platform/ui/Application.h"
#include "wallet/TBXOAuth2Authentication.h"
#include "wallet/TWABackgroundTask.h"
#include "wallet/TWAEncoding.h"
#include "wallet/TWAError.h"
#include "wallet/TWALog.h"
#include "wallet/TWAWalletErrorConverter.h"

namespace {

std::string keyText(const std::optional<TWAData>& key) {
    return key ? TWABase64URLEncode(*key, false) : std::string();
}

const std::string* formValue(const TBXOAuth2Authentication::Parameters& form, const char* name) {
    auto it = form.find(name);
    return it == form.end() ? nullptr : &it->second;
}

}  // namespace

std::shared_ptr<TWAInterAppCommunicator> TWAInterAppCommunicator::interAppCommunicatorWithDelegate(
    std::weak_ptr<TWAInterAppCommunicatorDelegate> delegate) {
    std::shared_ptr<TWAInterAppCommunicator> communicator(new TWAInterAppCommunicator());
    communicator->delegate_ = std::move(delegate);
    communicator->observeBecomingActive();
    return communicator;
}

std::shared_ptr<TWAInterAppCommunicator> TWAInterAppCommunicator::create() {
    TWA_LOG("TWA_ASSERT false: {}", "NO");
    return interAppCommunicatorWithDelegate({});
}

TWAInterAppCommunicator::~TWAInterAppCommunicator() = default;

void TWAInterAppCommunicator::observeBecomingActive() {
    std::weak_ptr<TWAInterAppCommunicator> weak = weak_from_this();
    auto& center = platform::NotificationCenter::defaultCenter();
    becomeActiveObserver_ = platform::ObserverRegistration(
        center, center.addObserver(platform::kApplicationDidBecomeActiveNotification, nullptr,
                                   [weak](const platform::Notification&) {
                                       if (auto self = weak.lock())
                                           self->applicationDidBecomeActive();
                                   }));
}

std::string TWAInterAppCommunicator::schemeForApp() {
    return kSchemePrefix + TWABase32Encode(platform::Bundle::main().bundleIdentifier());
}

platform::Error TWAInterAppCommunicator::internalErrorWithDescription(
    const std::string& description) {
    return TWALocalizedError(kTWAErrorCodeInternalError, description, std::nullopt);
}

platform::Error TWAInterAppCommunicator::userCancelledError() {
    return TWALocalizedError(kTWAErrorCodeBuyerCancelled, kCancelledText, std::nullopt);
}

void TWAInterAppCommunicator::loadMaskedWallet(const Request& request, Callback callback) {
    if (!callback) {
        TWA_LOG("TWA_ASSERT false: {}", "callback");
        callback = [](std::shared_ptr<Response>, std::optional<platform::Error>) {};
    }
    auto message = std::make_shared<Request>(request);
    auto delegate = delegate_.lock();
    auto cryptor = delegate ? delegate->cryptor() : nullptr;
    // Asking for the keys makes them; a cryptor that cannot make them is as good as none.
    if (!cryptor || !cryptor->encryptionKey() || !cryptor->hmacKey()) {
        callback(nullptr, internalErrorWithDescription("Internal Error: 509"));
        return;
    }
    auto config = delegate->clientConfig();
    if (!config) {
        callback(nullptr, internalErrorWithDescription("Internal Error: 506"));
        return;
    }
    auto* parameters = message->mutable_encryption_parameters();
    parameters->set_scheme(walletproto::OWIIosNativeEncryptionParameters::VERSION1);
    parameters->set_encryption_key(keyText(cryptor->encryptionKey()));
    parameters->set_hmac_key(keyText(cryptor->hmacKey()));

    std::weak_ptr<TWAInterAppCommunicator> weak = weak_from_this();
    config->loadURLSchemeWithCallback(
        [weak, message, cryptor, callback](TWAClientConfig::URLScheme urlScheme,
                                           std::optional<platform::Error> error) {
            // A communicator gone with its client has nobody left to answer.
            if (auto self = weak.lock())
                self->sendWithScheme(*message, cryptor, urlScheme, error, callback);
        });
}

bool TWAInterAppCommunicator::hasEnded(const std::shared_ptr<TWACrypto>& cryptor) const {
    auto delegate = delegate_.lock();
    return !delegate || delegate->cryptor() != cryptor;
}

void TWAInterAppCommunicator::rememberEnded(std::shared_ptr<TWACrypto> cryptor) {
    if (!cryptor) return;
    if (endedCryptors_.size() >= kEndedRequestsKept) endedCryptors_.erase(endedCryptors_.begin());
    endedCryptors_.push_back(std::move(cryptor));
}

void TWAInterAppCommunicator::dropEndedWait() {
    if (!lastNativeMaskedWalletCallback_ || !hasEnded(waitingCryptor_)) return;
    TWA_LOG("The wallet application's request of an ended transaction waits no more");
    lastNativeMaskedWalletCallback_ = nullptr;
    rememberEnded(std::move(waitingCryptor_));
    waitingCryptor_.reset();
}

bool TWAInterAppCommunicator::isReplyToEndedRequest(const std::string& query) {
    const auto form = TBXOAuth2Authentication::dictionaryWithResponseString(query);
    const auto* r = formValue(form, "r");
    const auto* s = formValue(form, "s");
    if (!r || !s) return false;
    auto ciphertext = TWABase64URLDecodeUnpadded(*r);
    auto mac = TWABase64URLDecodeUnpadded(*s);
    if (!ciphertext || !mac || mac->size() != 32) return false;
    const TWAData data(ciphertext->begin(), ciphertext->end());
    for (auto it = endedCryptors_.begin(); it != endedCryptors_.end(); ++it) {
        if (!hasEnded(*it)) continue;
        auto expected = (*it)->hmac(data);
        if (!expected || expected->size() != 32 ||
            !TWACrypto::constantTimeIsArray(expected->data(),
                                            reinterpret_cast<const uint8_t*>(mac->data()), 32))
            continue;
        TWA_LOG("Ignoring the wallet application's reply to a transaction that has ended");
        endedCryptors_.erase(it);
        return true;
    }
    return false;
}

bool TWAInterAppCommunicator::isErrorReplyOfEndedRequest(const std::string& query) {
    const auto form = TBXOAuth2Authentication::dictionaryWithResponseString(query);
    if (formValue(form, "r") && formValue(form, "s")) return false;
    if (!formValue(form, "e") || !formValue(form, "ed")) return false;
    // An error reply names no request: while an ended one is unanswered, the reply is
    // taken for the oldest of them, never for a request sent later.
    for (auto it = endedCryptors_.begin(); it != endedCryptors_.end(); ++it) {
        if (!hasEnded(*it) || *it == waitingCryptor_) continue;
        TWA_LOG(
            "Ignoring the wallet application's error reply: it answers a request that has "
            "ended");
        endedCryptors_.erase(it);
        return true;
    }
    return false;
}

void TWAInterAppCommunicator::sendWithScheme(const Request& request,
                                             const std::shared_ptr<TWACrypto>& cryptor,
                                             const TWAClientConfig::URLScheme& urlScheme,
                                             const std::optional<platform::Error>& error,
                                             Callback callback) {
    // The transaction ended while the configuration was asked: the buyer stays here.
    auto keepAlive = shared_from_this();
    if (auto delegate = delegate_.lock())
        delegate->interAppCommunicatorWillOpenWalletApplication(*this);
    if (hasEnded(cryptor)) {
        TWA_LOG("Not opening the wallet application for a transaction that has ended");
        return;
    }
    if (error) {
        callback(nullptr, error);
        return;
    }
    if (!urlScheme) {
        callback(nullptr, internalErrorWithDescription("Internal Error: 501"));
        return;
    }
    const std::string text = urlScheme->url_scheme() + "://" + urlScheme->base_url() +
                             "?r=" + TWABase64URLEncode(request.SerializeAsString(), false);
    TWABackgroundTask::startBackgroundTaskIfNotRunning();
    // A request of the same transaction (a change of the masked wallet) shares the keys:
    // its replies cannot be told from an earlier one's.
    if (lastNativeMaskedWalletCallback_ && waitingCryptor_ != cryptor)
        rememberEnded(waitingCryptor_);
    std::erase(endedCryptors_, cryptor);
    lastNativeMaskedWalletCallback_ = std::move(callback);
    waitingCryptor_ = cryptor;
    auto url = platform::URL::parse(text);
    if (!url) {
        // The wait ends when the buyer comes back to the application.
        TWA_LOG("Cannot open the wallet application at {}", text);
        return;
    }
    platform::Application::shared().openURL(*url);
}

bool TWAInterAppCommunicator::handleOpenURL(const platform::URL& url,
                                            const std::optional<std::string>&,
                                            const nlohmann::json*) {
    if (url.scheme() != schemeForApp()) return false;
    auto keepAlive = shared_from_this();  // the callback may release this communicator
    const std::string query = url.query().value_or(std::string());
    dropEndedWait();
    if (isReplyToEndedRequest(query) || isErrorReplyOfEndedRequest(query)) return false;
    Callback callback = std::move(lastNativeMaskedWalletCallback_);
    lastNativeMaskedWalletCallback_ = nullptr;
    waitingCryptor_.reset();
    if (!callback) {
        std::weak_ptr<TWAInterAppCommunicator> weak = weak_from_this();
        std::weak_ptr<TWAInterAppCommunicatorDelegate> delegate = delegate_;
        callback = [weak, delegate](std::shared_ptr<Response> response,
                                    std::optional<platform::Error>) {
            auto self = weak.lock();
            auto target = delegate.lock();
            if (self && target && response)
                target->interAppCommunicatorDidReceiveUnhandledMaskedWalletResponse(*self,
                                                                                    *response);
        };
    }
    return answerReply(query, callback);
}

bool TWAInterAppCommunicator::answerReply(const std::string& query, const Callback& callback) {
    const auto form = TBXOAuth2Authentication::dictionaryWithResponseString(query);
    const auto* r = formValue(form, "r");
    const auto* s = formValue(form, "s");
    const auto* e = formValue(form, "e");
    const auto* ed = formValue(form, "ed");
    if (r && s) {
        auto ciphertext = TWABase64URLDecodeUnpadded(*r);
        auto mac = TWABase64URLDecodeUnpadded(*s);
        auto delegate = delegate_.lock();
        auto cryptor = delegate ? delegate->cryptor() : nullptr;
        std::optional<TWAData> plaintext;
        if (ciphertext && mac && cryptor)
            plaintext = cryptor->verify(TWAData(mac->begin(), mac->end()),
                                        TWAData(ciphertext->begin(), ciphertext->end()));
        if (!plaintext) {
            callback(nullptr, internalErrorWithDescription("Internal Error: 507"));
            return false;
        }
        auto response = std::make_shared<Response>();
        if (!response->ParseFromArray(plaintext->data(), static_cast<int>(plaintext->size()))) {
            callback(nullptr, internalErrorWithDescription("Internal Error: 508"));
            return false;
        }
        callback(response, std::nullopt);
        return true;
    }
    if (e && ed) {
        const long type = platform::json::integerValue(nlohmann::json(*e));
        callback(nullptr, TWAErrorMake(kTWAErrorDomain,
                                       TWAWalletErrorConverter::twaWalletErrorForServerError(type),
                                       *ed, std::nullopt));
        return false;
    }
    callback(nullptr, internalErrorWithDescription("Internal Error: 505"));
    return false;
}

void TWAInterAppCommunicator::applicationDidBecomeActive() {
    dropEndedWait();
    if (!lastNativeMaskedWalletCallback_) return;
    auto keepAlive = shared_from_this();
    Callback callback = std::move(lastNativeMaskedWalletCallback_);
    lastNativeMaskedWalletCallback_ = nullptr;
    // A cancelled request has ended: its late reply answers nothing sent later.
    rememberEnded(std::move(waitingCryptor_));
    waitingCryptor_.reset();
    callback(nullptr, userCancelledError());
}
