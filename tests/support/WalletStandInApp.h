#pragma once
// A stand-in for the wallet application: answers the wallet client's request URLs the
// way the real one would, through the client's open-URL entry.
//
//   WalletStandInApp standIn;                        // registers its scheme and the host's
//   wallet.serveConfiguration("sandbox", WalletStandInApp::configuration());
//   standIn.setResponse(response);                   // what a normal reply carries
//   client->loadMaskedWallet(request);
//   platform::runUntil([&] { return delegate.calls() > 0; }, 20);
//
// On its request URL it decodes and parses the request, checks the encryption
// parameters (scheme 1, 43-character keys), records it and answers by mode:
//   Normal: "r" (the serialized response, AES-256-CBC with a zero IV and PKCS7 padding
//           under the request's key) and "s" (HMAC-SHA256 of that ciphertext);
//   Error:  "e" and "ed"; Tamper: a normal reply with one ciphertext byte changed after
//   the MAC; Custom: the query the reply maker makes of the request; Silent: no reply,
//   and the buyer stays in the wallet application.
// Otherwise it hands the reply to TWAWalletClient::handleOpenURL with its own bundle id as the
// source and then makes the host application active again (which posts
// did-become-active). A request it cannot read is listed in faults() and gets no reply.
// The host's own scheme is registered too, so that the client's callback check comes
// back through the open-URL entry (with the host's bundle id as source).
// Main thread only.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "wallet/proto/client_config.pb.h"
#include "wallet/proto/native_communication.pb.h"

class WalletStandInApp {
  public:
    enum class Mode { Normal, Error, Tamper, Custom, Silent };
    static constexpr const char* kScheme = "tessera-wallet-standin";
    static constexpr const char* kBaseUrl = "getMaskedWallet";
    static constexpr const char* kBundleId = "com.tessera.wallet.standin";

    WalletStandInApp();
    ~WalletStandInApp();
    WalletStandInApp(const WalletStandInApp&) = delete;
    WalletStandInApp& operator=(const WalletStandInApp&) = delete;

    // A configuration that lists this application (availability 1).
    static walletproto::OWIOnlineWalletIosConfig configuration();

    void setMode(Mode mode) { mode_ = mode; }
    void setResponse(walletproto::OWIIosNativeGetMaskedWalletResponse response) {
        response_ = std::move(response);
    }
    void setError(int type, std::string text) {
        errorType_ = type;
        errorText_ = std::move(text);
    }
    using Request = walletproto::OWIIosNativeGetMaskedWalletRequest;
    using ReplyMaker = std::function<std::string(const Request& request)>;
    void setReplyMaker(ReplyMaker maker) { replyMaker_ = std::move(maker); }

    const std::vector<walletproto::OWIIosNativeGetMaskedWalletRequest>& requests() const {
        return requests_;
    }
    const std::vector<std::string>& faults() const { return faults_; }
    // What the open-URL entry answered to each reply, and to each callback check.
    const std::vector<bool>& replyAnswers() const { return replyAnswers_; }
    const std::vector<bool>& callbackCheckAnswers() const { return callbackCheckAnswers_; }

    // The reply query a normal answer to `request` carries; none when its keys are unusable.
    std::optional<std::string> normalReply(const Request& request, bool tamper) const;
    // For reply makers: the request's keys as bytes, and the pieces of a normal reply.
    static std::string encryptionKeyOf(const Request& request);
    static std::string hmacKeyOf(const Request& request);
    // AES-256-CBC, zero IV, PKCS7; empty when the key is not 32 bytes.
    static std::string encrypt(const std::string& key, const std::string& plain);
    static std::string hmac(const std::string& key, const std::string& data);

  private:
    void receive(const std::string& url);
    std::optional<std::string> replyQuery(const Request& request) const;

    std::string hostScheme_;
    Mode mode_ = Mode::Normal;
    walletproto::OWIIosNativeGetMaskedWalletResponse response_;
    int errorType_ = 0;
    std::string errorText_;
    ReplyMaker replyMaker_;
    std::vector<walletproto::OWIIosNativeGetMaskedWalletRequest> requests_;
    std::vector<std::string> faults_;
    std::vector<bool> replyAnswers_;
    std::vector<bool> callbackCheckAnswers_;
};
