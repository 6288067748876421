// The inter-app exchange end to end: the wallet client asks the stand-in wallet
// application, which answers through the client's open-URL entry; replies good and bad,
// cancellation, and the client's release with its communicator.
#include <gtest/gtest.h>

#include "platform/ui/Application.h"
#include "tests/wallet/WalletClientFixture.h"
#include "wallet/TWABackgroundTask.h"
#include "wallet/TWAEncoding.h"
#include "wallet/TWAError.h"

namespace {

class WalletInterAppTest : public WalletClientFixture {};

// A reply the stand-in makes of the request it received, and what the delegate hears.
struct InterAppReplyCase {
    const char* name;
    WalletStandInApp::ReplyMaker reply;
    long code;
    std::string text;
    bool encryptionKeyKept;
};

std::string interAppB64(const std::string& bytes) {
    return TWABase64URLEncode(bytes, false);
}

// "r" and "s" over `plain`, the MAC made with `macKey` (the request's when empty) and cut
// to `macLength` bytes.
WalletStandInApp::ReplyMaker interAppSealed(std::string plain, std::string macKey = {},
                                            size_t macLength = 32) {
    return [=](const WalletStandInApp::Request& request) {
        auto ciphertext =
            WalletStandInApp::encrypt(WalletStandInApp::encryptionKeyOf(request), plain);
        auto mac = WalletStandInApp::hmac(
            macKey.empty() ? WalletStandInApp::hmacKeyOf(request) : macKey, ciphertext);
        return "r=" + interAppB64(ciphertext) + "&s=" + interAppB64(mac.substr(0, macLength));
    };
}

WalletStandInApp::ReplyMaker interAppFixed(std::string query) {
    return [query](const WalletStandInApp::Request&) { return query; };
}

}  // namespace

TEST_F(WalletInterAppTest, SchemeAndCallbackURLsComeFromTheBundleIdentifier) {
    EXPECT_EQ(TWAWalletClient::schemeForApp(), "tessera-wallet-merchant-app-mfrgg");
    EXPECT_EQ(TWAWalletClient::maskedWalletCallbackURL(),
              "tessera-wallet-merchant-app-mfrgg://maskedWalletResponse");
    EXPECT_EQ(TWAWalletClient::urlForTest(), "tessera-wallet-merchant-app-mfrgg://callback-check");
}

TEST_F(WalletInterAppTest, NormalReplyGivesTheMaskedWalletTheStandInSent) {
    auto client = verifiedClient();
    EXPECT_EQ(standIn_->callbackCheckAnswers(), std::vector<bool>{true});
    ASSERT_TRUE(loadMaskedWalletThroughStandIn(*client)) << lastErrorText();
    ASSERT_EQ(delegate_->events.size(), 1u);
    const auto& wallet = lastEvent().maskedWallet;
    EXPECT_EQ(wallet->email(), "buyer@example.com");
    EXPECT_EQ(wallet->tesseraTransactionId(), "T-1");
    EXPECT_EQ(wallet->merchantTransactionId(), "m-1");

    ASSERT_EQ(standIn_->requests().size(), 1u);
    const auto& request = standIn_->requests()[0];
    EXPECT_EQ(request.callback_url(), TWAWalletClient::maskedWalletCallbackURL());
    EXPECT_TRUE(standIn_->faults().empty());
    EXPECT_EQ(standIn_->replyAnswers(), std::vector<bool>{true});
    auto opened = platform::Application::shared().openedURLsForTesting();
    ASSERT_EQ(opened.size(), 2u);  // the callback check, then the request
    EXPECT_EQ(opened[1].absoluteString().rfind("tessera-wallet-standin://getMaskedWallet?r=", 0),
              0u);

    const auto& context = client->transactionContext();
    EXPECT_FALSE(context->cryptor()->currentEncryptionKey());
    EXPECT_TRUE(context->cryptor()->currentHmacKey());
    EXPECT_FALSE(context->openURLInProgress());
    EXPECT_EQ(context->tesseraTransactionId(), "T-1");
    EXPECT_EQ(context->fullWalletAccessToken(), "access-1");
    EXPECT_EQ(TWABackgroundTask::currentTask(), platform::kInvalidBackgroundTask);
    EXPECT_TRUE(platform::Application::shared().backgroundTasksForTesting().empty());
}

TEST_F(WalletInterAppTest, BadRepliesGiveTheirErrors) {
    const InterAppReplyCase cases[] = {
        {"r without s", interAppFixed("r=AAAA"), -562, "Internal Error: 505", true},
        {"e without ed", interAppFixed("e=12"), -562, "Internal Error: 505", true},
        {"error reply", interAppFixed("e=12&ed=Account+locked%21"), -512, "Account locked!", true},
        {"unknown error type", interAppFixed("e=x7&ed=odd"), -500, "odd", true},
        {"undecodable r", interAppFixed("r=%25%25&s=" + interAppB64(std::string(32, 'm'))), -562,
         "Internal Error: 507", true},
        {"short MAC", interAppSealed("x", {}, 31), -562, "Internal Error: 507", true},
        {"wrong MAC", interAppSealed("x", std::string(32, 'k')), -562, "Internal Error: 507", true},
        {"no message", interAppSealed("\xff\xff\xff"), -562, "Internal Error: 508", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TWAWalletClient::setSharedInstance(nullptr);
        standIn_.emplace();
        delegate_->events.clear();
        auto client = verifiedClient();
        standIn_->setMode(WalletStandInApp::Mode::Custom);
        standIn_->setReplyMaker(c.reply);
        client->loadMaskedWallet(maskedRequest());
        ASSERT_TRUE(waitForEvents(1));
        platform::runUntilIdle();
        ASSERT_EQ(delegate_->events.size(), 1u);  // becoming active afterwards adds nothing
        EXPECT_EQ(lastEvent().kind, WalletClientEvent::MaskedWalletFailed);
        EXPECT_EQ(lastEvent().error->domain(), kTWAErrorDomain);
        EXPECT_EQ(lastEvent().error->code(), c.code);
        EXPECT_EQ(lastErrorText(), c.text);
        EXPECT_EQ(standIn_->replyAnswers(), std::vector<bool>{false});
        EXPECT_EQ(client->transactionContext()->cryptor()->currentEncryptionKey().has_value(),
                  c.encryptionKeyKept);
        EXPECT_FALSE(client->transactionContext()->openURLInProgress());
    }
}

TEST_F(WalletInterAppTest, OtherSchemesAreRefusedAndComingBackWithoutReplyCancels) {
    auto client = verifiedClient();
    standIn_->setMode(WalletStandInApp::Mode::Silent);
    client->loadMaskedWallet(maskedRequest());
    ASSERT_TRUE(platform::runUntil([&] { return !standIn_->requests().empty(); }, kWalletIO));
    EXPECT_NE(TWABackgroundTask::currentTask(), platform::kInvalidBackgroundTask);
    EXPECT_TRUE(client->transactionContext()->openURLInProgress());

    auto other =
        platform::URL::parse("tessera-wallet-merchant-app-MFRGG://maskedWalletResponse?e=1");
    EXPECT_FALSE(TWAWalletClient::handleOpenURL(*other, WalletStandInApp::kBundleId, nullptr));
    EXPECT_TRUE(client->interAppCommunicator()->hasPendingCallback());
    EXPECT_TRUE(delegate_->events.empty());

    client->loadMaskedWallet(maskedRequest());  // while the wallet application is asked
    ASSERT_EQ(delegate_->events.size(), 1u);
    EXPECT_EQ(lastEvent().error->code(), -598);
    EXPECT_EQ(lastErrorText(),
              "A new transaction can't be started since a transaction is currently in progress. "
              "(Error 611)");

    platform::Application::shared().becomeActive();
    ASSERT_EQ(delegate_->events.size(), 2u);
    EXPECT_EQ(lastEvent().error->code(), -521);
    EXPECT_EQ(lastErrorText(), "Buyer has cancelled");
    EXPECT_FALSE(client->interAppCommunicator()->hasPendingCallback());

    platform::Application::shared().resignActive();
    platform::Application::shared().becomeActive();  // nothing pending: nothing happens
    EXPECT_EQ(delegate_->events.size(), 2u);
}

// The communicator holds its client without owning it: released together, and neither
// answers the application becoming active afterwards.
TEST_F(WalletInterAppTest, ReplacedSharedClientGoesWithItsCommunicator) {
    auto client = verifiedClient();
    standIn_->setMode(WalletStandInApp::Mode::Silent);
    client->loadMaskedWallet(maskedRequest());
    ASSERT_TRUE(platform::runUntil([&] { return !standIn_->requests().empty(); }, kWalletIO));
    std::weak_ptr<TWAWalletClient> weakClient = client;
    std::weak_ptr<TWAInterAppCommunicator> weakCommunicator = client->interAppCommunicator();
    client.reset();

    TWAWalletClient::setSharedInstance(nullptr);
    EXPECT_TRUE(weakClient.expired());
    EXPECT_TRUE(weakCommunicator.expired());
    platform::Application::shared().becomeActive();
    EXPECT_TRUE(delegate_->events.empty());
}
