// The inter-app communicator on its own, with a delegate of the test's making and a
// preset configuration: its failures before the wallet application opens, one waiting
// request at a time, and replies that arrive with nothing waiting.
#include <gtest/gtest.h>

#include "platform/ui/Application.h"
#include "tests/wallet/WalletClientFixture.h"
#include "wallet/TWAEncoding.h"
#include "wallet/TWAInterAppCommunicator.h"

namespace {

constexpr const char* kCommunicatorWalletScheme = "comm-wallet";

class CommunicatorTestDelegate : public TWAInterAppCommunicatorDelegate {
  public:
    std::shared_ptr<TWAClientConfig> clientConfig() override { return config; }
    std::shared_ptr<TWACrypto> cryptor() override { return crypto; }
    void interAppCommunicatorDidReceiveUnhandledMaskedWalletResponse(
        TWAInterAppCommunicator&,
        const walletproto::OWIIosNativeGetMaskedWalletResponse& response) override {
        unhandled.push_back(response);
    }

    std::shared_ptr<TWAClientConfig> config;
    std::shared_ptr<TWACrypto> crypto = TWACrypto::instance();
    std::vector<walletproto::OWIIosNativeGetMaskedWalletResponse> unhandled;
};

struct CommunicatorOutcome {
    int calls = 0;
    std::shared_ptr<walletproto::OWIIosNativeGetMaskedWalletResponse> response;
    std::optional<platform::Error> error;
};

class WalletCommunicatorTest : public WalletClientFixture {
  protected:
    void SetUp() override {
        WalletClientFixture::SetUp();
        walletproto::OWIOnlineWalletIosConfig config;
        config.set_wallet_availability(walletproto::OWIOnlineWalletIosConfig::AVAILABLE);
        auto* scheme = config.add_url_schemes();
        scheme->set_url_scheme(kCommunicatorWalletScheme);
        scheme->set_base_url("ask");
        TWAClientConfig::setPresetConfigForTesting(config);
        delegate_->config = TWAClientConfig::clientConfigWithEnvironment(0);
        platform::Application::shared().registerURLSchemeForTesting(
            kCommunicatorWalletScheme, [this](const platform::URL& url) { asked_.push_back(url); });
    }
    TWAInterAppCommunicator::Callback recordInto(CommunicatorOutcome& outcome) {
        return [&outcome](auto response, auto error) {
            ++outcome.calls;
            outcome.response = response;
            outcome.error = error;
        };
    }
    // A reply of the application's own scheme sealed with the delegate's keys.
    std::string sealedReply(const walletproto::OWIIosNativeGetMaskedWalletResponse& response) {
        const auto& key = *delegate_->crypto->encryptionKey();
        const auto& hmacKey = *delegate_->crypto->hmacKey();
        auto ciphertext = WalletStandInApp::encrypt(std::string(key.begin(), key.end()),
                                                    response.SerializeAsString());
        auto mac = WalletStandInApp::hmac(std::string(hmacKey.begin(), hmacKey.end()), ciphertext);
        return TWAWalletClient::maskedWalletCallbackURL() +
               "?r=" + TWABase64URLEncode(ciphertext, false) +
               "&s=" + TWABase64URLEncode(mac, false);
    }
    // `outcome` heard nothing (null), its masked wallet (""), or the error of that text.
    static void expectAnswer(const CommunicatorOutcome& outcome, const char* hears) {
        if (!hears) {
            EXPECT_EQ(outcome.calls, 0);
            return;
        }
        ASSERT_EQ(outcome.calls, 1);
        if (*hears) {
            ASSERT_TRUE(outcome.error);
            EXPECT_EQ(outcome.error->localizedDescription(), hears);
        } else {
            EXPECT_TRUE(outcome.response);
        }
    }
    bool handle(const std::string& url) {
        return communicator_->handleOpenURL(*platform::URL::parse(url), std::nullopt, nullptr);
    }

    std::shared_ptr<CommunicatorTestDelegate> delegate_ =
        std::make_shared<CommunicatorTestDelegate>();
    std::shared_ptr<TWAInterAppCommunicator> communicator_ =
        TWAInterAppCommunicator::interAppCommunicatorWithDelegate(delegate_);
    std::vector<platform::URL> asked_;
};

}  // namespace

TEST_F(WalletCommunicatorTest, FailuresBeforeTheWalletApplicationOpens) {
    struct Case {
        const char* name;
        std::function<void(CommunicatorTestDelegate&)> setUp;
        std::string text;
    } cases[] = {
        {"no cryptor", [](auto& d) { d.crypto = nullptr; }, "Internal Error: 509"},
        {"no configuration", [](auto& d) { d.config = nullptr; }, "Internal Error: 506"},
        {"no scheme to open",
         [](auto&) {
             platform::Application::shared().registerURLSchemeForTesting(kCommunicatorWalletScheme,
                                                                         nullptr);
         },
         "Internal Error: 501"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        delegate_->crypto = TWACrypto::instance();
        delegate_->config = TWAClientConfig::clientConfigWithEnvironment(0);
        c.setUp(*delegate_);
        CommunicatorOutcome outcome;
        communicator_->loadMaskedWallet({}, recordInto(outcome));
        EXPECT_EQ(outcome.calls, 1);
        ASSERT_TRUE(outcome.error);
        EXPECT_EQ(outcome.error->code(), -562);
        EXPECT_EQ(outcome.error->localizedDescription(), c.text);
        EXPECT_FALSE(communicator_->hasPendingCallback());
    }
    EXPECT_TRUE(platform::Application::shared().openedURLsForTesting().empty());
}

TEST_F(WalletCommunicatorTest, ANewRequestDropsTheWaitingOnesCallback) {
    walletproto::OWIIosNativeGetMaskedWalletRequest request;
    request.set_callback_url(TWAWalletClient::maskedWalletCallbackURL());
    CommunicatorOutcome first, second;
    communicator_->loadMaskedWallet(request, recordInto(first));
    communicator_->loadMaskedWallet(request, recordInto(second));
    platform::runUntilIdle();
    ASSERT_EQ(asked_.size(), 2u);
    EXPECT_EQ(asked_[0].absoluteString().rfind("comm-wallet://ask?r=", 0), 0u);
    EXPECT_FALSE(request.has_encryption_parameters());  // the caller's request is untouched

    platform::Application::shared().becomeActive();
    EXPECT_EQ(first.calls, 0);
    EXPECT_EQ(second.calls, 1);
    EXPECT_EQ(second.error->localizedDescription(), "Buyer has cancelled");

    communicator_->loadMaskedWallet(request, nullptr);
    EXPECT_TRUE(logged("TWA_ASSERT false: callback"));
    walletproto::OWIIosNativeGetMaskedWalletResponse response;
    response.set_buyer_email("buyer@example.com");
    EXPECT_TRUE(handle(sealedReply(response)));  // answered into nothing
    EXPECT_TRUE(delegate_->unhandled.empty());
}

TEST_F(WalletCommunicatorTest, RepliesWithNothingWaitingGoToTheDelegateWhenValid) {
    walletproto::OWIIosNativeGetMaskedWalletResponse response;
    response.set_buyer_email("buyer@example.com");
    const auto reply = sealedReply(response);
    EXPECT_FALSE(handle(TWAWalletClient::maskedWalletCallbackURL() + "?e=12&ed=x"));
    EXPECT_TRUE(delegate_->unhandled.empty());
    EXPECT_TRUE(handle(reply));
    ASSERT_EQ(delegate_->unhandled.size(), 1u);
    EXPECT_EQ(delegate_->unhandled[0].buyer_email(), "buyer@example.com");
    EXPECT_FALSE(handle(reply));  // the encryption key served its one decryption
    EXPECT_EQ(delegate_->unhandled.size(), 1u);

    platform::Application::shared().becomeActive();  // nothing waits: nothing happens
    EXPECT_EQ(delegate_->unhandled.size(), 1u);
    EXPECT_EQ(TWAInterAppCommunicator::create()->hasPendingCallback(), false);
    EXPECT_TRUE(logged("TWA_ASSERT false: NO"));
}

// A request whose transaction ended (the delegate names another cryptor) waits no more:
// its reply, known by its MAC, answers nobody and leaves a newer request waiting, and the
// buyer's return cancels nothing of it.
TEST_F(WalletCommunicatorTest, AnEndedTransactionsRequestAnswersNobody) {
    walletproto::OWIIosNativeGetMaskedWalletRequest request;
    request.set_callback_url(TWAWalletClient::maskedWalletCallbackURL());
    walletproto::OWIIosNativeGetMaskedWalletResponse response;
    response.set_buyer_email("buyer@example.com");
    for (bool newerWaits : {true, false}) {
        SCOPED_TRACE(newerWaits ? "a newer request waits" : "nothing else waits");
        delegate_->crypto = TWACrypto::instance();
        CommunicatorOutcome first, second;
        communicator_->loadMaskedWallet(request, recordInto(first));
        const auto endedReply = sealedReply(response);
        delegate_->crypto = TWACrypto::instance();
        if (newerWaits) communicator_->loadMaskedWallet(request, recordInto(second));
        EXPECT_FALSE(handle(endedReply));
        EXPECT_EQ(first.calls, 0);
        EXPECT_EQ(second.calls, 0);
        EXPECT_EQ(communicator_->hasPendingCallback(), newerWaits);
        EXPECT_TRUE(delegate_->unhandled.empty());
        if (newerWaits) {
            EXPECT_TRUE(handle(sealedReply(response)));
            EXPECT_EQ(second.calls, 1);
            EXPECT_TRUE(second.response);
        }
        platform::Application::shared().becomeActive();
        EXPECT_EQ(first.calls, 0);
    }
    EXPECT_EQ(
        loggedCount("Ignoring the wallet application's reply to a transaction that has ended"), 2u);
}

// An error reply names no request: while a request whose transaction ended is still
// unanswered, an error reply is that one's, not the answer of the request sent after it.
// Rows vary how many ended before, what comes back and in which order.
TEST_F(WalletCommunicatorTest, AnErrorReplyAnswersTheEndedRequestBeforeANewerOne) {
    enum Reply { Error, EndedSealed, NewerSealed };
    const struct {
        int ended;
        bool newerWaits;
        std::vector<Reply> replies;
        const char* newerHears;  // the "ed" of the error it hears; "": its masked wallet;
                                 // null: nothing
    } rows[] = {
        {1, true, {Error, NewerSealed}, ""},
        {1, true, {Error, Error}, "error 1"},
        {2, true, {Error, Error, NewerSealed}, ""},
        {2, true, {Error, Error, Error}, "error 2"},
        {1, true, {EndedSealed, Error}, "error 0"},
        {0, true, {Error}, "error 0"},
        {1, false, {Error}, nullptr},
    };
    walletproto::OWIIosNativeGetMaskedWalletRequest request;
    request.set_callback_url(TWAWalletClient::maskedWalletCallbackURL());
    walletproto::OWIIosNativeGetMaskedWalletResponse response;
    response.set_buyer_email("buyer@example.com");
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(&row - rows));
        std::vector<CommunicatorOutcome> ended(row.ended);
        std::vector<std::string> endedReplies;
        for (auto& outcome : ended) {
            delegate_->crypto = TWACrypto::instance();
            communicator_->loadMaskedWallet(request, recordInto(outcome));
            endedReplies.push_back(sealedReply(response));
        }
        delegate_->crypto = TWACrypto::instance();
        CommunicatorOutcome newer;
        if (row.newerWaits) communicator_->loadMaskedWallet(request, recordInto(newer));
        int errors = 0;
        for (auto reply : row.replies) {
            if (reply == Error)
                handle(TWAWalletClient::maskedWalletCallbackURL() + "?e=12&ed=error+" +
                       std::to_string(errors++));
            if (reply == EndedSealed) {
                EXPECT_FALSE(handle(endedReplies.at(0)));
            }
            if (reply == NewerSealed) {
                EXPECT_TRUE(handle(sealedReply(response)));
            }
        }
        for (const auto& outcome : ended) EXPECT_EQ(outcome.calls, 0);
        expectAnswer(newer, row.newerHears);
        EXPECT_FALSE(communicator_->hasPendingCallback());
        // What is left unanswered of this row answers nothing of the next.
        for (const auto& reply : endedReplies) handle(reply);
        while (communicator_->hasPendingCallback()) platform::Application::shared().becomeActive();
        handle(TWAWalletClient::maskedWalletCallbackURL() + "?e=12&ed=left");
        handle(TWAWalletClient::maskedWalletCallbackURL() + "?e=12&ed=left");
    }
}

// The buyer comes back without a reply, which cancels the waiting request; its reply
// still comes later, sealed or as an error, before or after the newer request's own.
// The cancelled request has ended: its late reply answers nothing sent after it.
TEST_F(WalletCommunicatorTest, ACancelledRequestsLateReplyAnswersNothingNewer) {
    enum Reply { LateSealed, LateError, NewerSealed, NewerError };
    const struct {
        int cancelled;
        std::vector<Reply> replies;
        const char* newerHears;  // the "ed" of its error; "": its masked wallet; null: nothing
    } rows[] = {
        {1, {LateSealed, NewerSealed}, ""},
        {1, {LateError, NewerSealed}, ""},
        {1, {LateError, NewerError}, "newer"},
        {1, {LateSealed}, nullptr},
        {1, {LateError}, nullptr},
        {2, {LateError, LateError, NewerSealed}, ""},
        {2, {LateSealed, LateError, NewerError}, "newer"},
    };
    walletproto::OWIIosNativeGetMaskedWalletRequest request;
    request.set_callback_url(TWAWalletClient::maskedWalletCallbackURL());
    walletproto::OWIIosNativeGetMaskedWalletResponse response;
    response.set_buyer_email("buyer@example.com");
    const std::string error = TWAWalletClient::maskedWalletCallbackURL() + "?e=12&ed=";
    const auto buyerComesBack = [] {
        platform::Application::shared().resignActive();
        platform::Application::shared().becomeActive();
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(&row - rows));
        std::vector<CommunicatorOutcome> cancelled(row.cancelled);
        std::vector<std::string> lateReplies;
        for (auto& outcome : cancelled) {
            delegate_->crypto = TWACrypto::instance();
            communicator_->loadMaskedWallet(request, recordInto(outcome));
            lateReplies.push_back(sealedReply(response));
            buyerComesBack();
            ASSERT_EQ(outcome.calls, 1);
            EXPECT_EQ(outcome.error->code(), -521);
        }
        delegate_->crypto = TWACrypto::instance();
        CommunicatorOutcome newer;
        communicator_->loadMaskedWallet(request, recordInto(newer));
        size_t late = 0;
        for (auto reply : row.replies) {
            if (reply == LateSealed) {
                EXPECT_FALSE(handle(lateReplies.at(late++ % lateReplies.size())));
            }
            if (reply == LateError) handle(error + "late");
            if (reply == NewerSealed) {
                EXPECT_TRUE(handle(sealedReply(response)));
            }
            if (reply == NewerError) handle(error + "newer");
        }
        for (const auto& outcome : cancelled) EXPECT_EQ(outcome.calls, 1);
        expectAnswer(newer, row.newerHears);
        EXPECT_EQ(communicator_->hasPendingCallback(), !row.newerHears);
        EXPECT_TRUE(delegate_->unhandled.empty());
        // Nothing of this row answers the next.
        while (communicator_->hasPendingCallback()) buyerComesBack();
        delegate_->crypto = TWACrypto::instance();
        for (const auto& reply : lateReplies) handle(reply);
        for (size_t i = 0; i < TWAInterAppCommunicator::kEndedRequestsKept; ++i)
            handle(error + "left");
    }
}
