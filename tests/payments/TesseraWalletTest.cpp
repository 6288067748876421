// The wallet glue: the start and its delayed masked-wallet request, the take-over and
// the give-back of the shared client, the ownership guard, the failure events and the
// open-URL services the library application asks.
#include <gtest/gtest.h>

#include "libmerovane/application/MVLibraryApplication.h"
#include "libmerovane/application/MVPaymentServices.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/TestDriver.h"
#include "platform/ui/Application.h"
#include "tests/payments/PaymentsFixture.h"
#include "wallet/TWAError.h"

using nlohmann::json;

namespace {

class TesseraWalletTest : public PaymentsFixture {
  protected:
    static MVTesseraWallet::Start pageStart(const char* id = "page-id") {
        MVTesseraWallet::Start start;
        start.currencyCode = "EUR";
        start.estimatedTotalPrice = "12.50";
        start.clientID = id;
        start.clientSecret = "page-secret";
        return start;
    }
    static std::shared_ptr<MVTesseraWallet> glue() { return MVTesseraWallet::sharedController(); }
};

TEST_F(TesseraWalletTest, StartWithTheDefaultsAsksTheWalletApplicationAfterTheDelay) {
    glue()->start(pageStart());
    expectHostReadsItsOwn();
    EXPECT_TRUE(lent());
    platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay - 0.01);
    platform::runUntilIdle();
    EXPECT_TRUE(standIn_->requests().empty());
    platform::advanceBy(0.01);
    ASSERT_TRUE(waitForStandInRequests(1));
    const auto& request = standIn_->requests()[0].merchant_request();
    EXPECT_EQ(request.currency_code(), "EUR");
    EXPECT_EQ(request.estimated_total_price(), "12.50");
    EXPECT_TRUE(request.shipping_address_required());
    EXPECT_FALSE(request.phone_number_required());
    EXPECT_FALSE(request.use_minimal_addresses());
    EXPECT_FALSE(request.debit_forbidden());
    EXPECT_FALSE(request.prepaid_forbidden());
    EXPECT_EQ(request.allowed_shipping_spec_by_country_size(), 0);
}

TEST_F(TesseraWalletTest, ErrorNamesByCode) {
    const std::pair<long, const char*> names[] = {{-599, "TesseraWalletErrorAuthenticationFailure"},
                                                  {-521, "TesseraWalletErrorBuyerCancelled"},
                                                  {-512, "TesseraWalletErrorBuyerAccountError"},
                                                  {-500, "TesseraWalletErrorUnknown"},
                                                  {-1004, "TesseraWalletError:-1004"},
                                                  {-520, "TesseraWalletError:-520"}};
    for (auto [code, name] : names)
        EXPECT_EQ(MVTesseraWallet::stringTesseraWalletErrorCode(code), name) << code;
}

TEST_F(TesseraWalletTest, AFailureDispatchesTheEventThenGivesTheClientBack) {
    listeningPage();
    glue()->start(pageStart());
    glue()->walletClientDidFailToLoadMaskedWallet(
        *client_, platform::Error::withUserInfo(kTWAErrorDomain, -521,
                                                {{"NSLocalizedDescription", "Cancelled."}}));
    expectHostValues();
    EXPECT_FALSE(lent());
    glue()->start(pageStart());
    glue()->walletClientDidFailToLoadFullWallet(*client_, platform::Error(kTWAErrorDomain, -1004));
    expectHostValues();
    EXPECT_EQ(walletErrors(),
              (std::vector<json>{
                  walletError("TesseraWalletErrorBuyerCancelled", "Cancelled.", "maskedWallet"),
                  walletError("TesseraWalletError:-1004", "", "fullWallet")}));
}

// Setting its delegate again ends nothing; ending its transaction takes the client back:
// the page hears of it within the host's call, and a late callback adds nothing.
TEST_F(TesseraWalletTest, TheHostTakingTheClientEndsThePaymentAndKeepsIt) {
    listeningPage();
    glue()->start(pageStart());
    client_->setDelegate(hostDelegate_);
    EXPECT_TRUE(lent());
    EXPECT_TRUE(walletErrors().empty());
    client_->endTransaction();
    EXPECT_FALSE(lent());
    glue()->walletClientDidLoadFullWallet(*client_, TWAFullWallet::create());
    EXPECT_EQ(walletErrors(),
              (std::vector<json>{walletError(MVTesseraWallet::kCredentialsChangedError,
                                             MVTesseraWallet::kCredentialsChangedDescription,
                                             "maskedWallet")}));
    EXPECT_TRUE(logged(MVTesseraWallet::kCredentialsChangedDescription));
    // what the host set stays, and the page's values are gone
    expectHostValues();
}

// Another merchant's start ends the first payment at once and takes the client with its
// own id, so the buyer's choice is never made under the first merchant's id.
TEST_F(TesseraWalletTest, ASecondStartWithAnotherIdEndsTheFirstPaymentAndTakesTheClient) {
    listeningPage();
    glue()->start(pageStart("page-id"));
    glue()->start(pageStart("other-id"));
    EXPECT_EQ(walletErrors(),
              (std::vector<json>{walletError(MVTesseraWallet::kCredentialsChangedError,
                                             MVTesseraWallet::kCredentialsChangedDescription,
                                             "maskedWallet")}));
    expectHostReadsItsOwn();
    EXPECT_TRUE(lent());
    platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay);
    ASSERT_TRUE(waitForStandInRequests(1));
    EXPECT_EQ(standIn_->requests()[0].oauth_client_id(), "other-id");
    glue()->notifyTesseraTransactionStatus(0);
    EXPECT_FALSE(lent());
    expectHostValues();
    EXPECT_TRUE(hostDelegate_->events.empty());
    // so the next start saves the host's values, not the page's
    glue()->start(pageStart());
    glue()->notifyTesseraTransactionStatus(0);
    expectHostValues();
}

TEST_F(TesseraWalletTest, ForeignURLsReachTheClientOnlyWhileAPaymentRuns) {
    auto& library = MVLibraryApplication::sharedLibrary();
    const std::string reply = TWAWalletClient::schemeForApp() + "://reply?e=1&ed=refused";
    standIn_->setMode(WalletStandInApp::Mode::Silent);
    listeningPage();
    // the host's own payment waits for the wallet application
    client_->loadMaskedWallet(TWAMaskedWalletRequest::create("EUR", "1.00"));
    ASSERT_TRUE(waitForStandInRequests(1));
    EXPECT_FALSE(MVPaymentServices::shared()->isLibSidedPaymentProcessAtPresent());
    EXPECT_FALSE(library.openURL(reply, WalletStandInApp::kBundleId));
    EXPECT_FALSE(library.openURL("https://shop.example/", WalletStandInApp::kBundleId));
    EXPECT_TRUE(hostDelegate_->events.empty());
    // a deep link is the library's whatever runs
    EXPECT_TRUE(library.openURL("merovane-shop://link", "x"));

    // the buyer comes back without a reply: the host's checkout ends, the page's starts
    platform::Application::shared().becomeActive();
    ASSERT_EQ(hostDelegate_->events.size(), 1u);
    EXPECT_EQ(hostDelegate_->events[0].error->code(), -521);
    glue()->start(pageStart());
    EXPECT_TRUE(MVPaymentServices::shared()->isLibSidedPaymentProcessAtPresent());
    platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay);
    ASSERT_TRUE(waitForStandInRequests(2));
    // the cancelled request's late reply answers nothing; the next is the page's
    library.openURL(reply, WalletStandInApp::kBundleId);
    EXPECT_TRUE(walletErrors().empty());
    EXPECT_TRUE(MVPaymentServices::shared()->isLibSidedPaymentProcessAtPresent());
    library.openURL(reply, WalletStandInApp::kBundleId);
    ASSERT_EQ(walletErrors().size(), 1u);
    EXPECT_EQ(walletErrors()[0][0]["occurrence"], "maskedWallet");
    EXPECT_FALSE(MVPaymentServices::shared()->isLibSidedPaymentProcessAtPresent());
    expectHostValues();
}

TEST_F(TesseraWalletTest, TwoQuickStartsAskTheWalletApplicationOnceWithTheSecondRequest) {
    listeningPage();
    glue()->start(pageStart());
    auto second = pageStart();
    second.estimatedTotalPrice = "99.00";
    glue()->start(second);
    platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay);
    ASSERT_TRUE(waitForStandInRequests(1));
    platform::runUntilIdle();
    ASSERT_EQ(standIn_->requests().size(), 1u);
    EXPECT_EQ(standIn_->requests()[0].merchant_request().estimated_total_price(), "99.00");
    EXPECT_TRUE(walletErrors().empty());
    EXPECT_TRUE(lent());
}

// The delayed request goes only while the payment still runs with the glue's client.
TEST_F(TesseraWalletTest, APaymentEndedOrTakenBeforeTheDelayAsksNothing) {
    listeningPage();
    glue()->start(pageStart());
    glue()->notifyTesseraTransactionStatus(0);
    expectHostValues();
    platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay);
    // The host's own payment is the only one the wallet application hears of.
    client_->loadMaskedWallet(TWAMaskedWalletRequest::create("USD", "1.00"));
    ASSERT_TRUE(waitForStandInRequests(1));
    platform::runUntilIdle();
    ASSERT_EQ(standIn_->requests().size(), 1u);
    EXPECT_EQ(standIn_->requests()[0].merchant_request().currency_code(), "USD");
    EXPECT_TRUE(walletErrors().empty());
    client_->notifyTransactionStatus(0);

    // The host takes the client within the delay: the payment ends as at any other step.
    glue()->start(pageStart());
    client_->endTransaction();
    platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay);
    EXPECT_EQ(walletErrors(),
              (std::vector<json>{walletError(MVTesseraWallet::kCredentialsChangedError,
                                             MVTesseraWallet::kCredentialsChangedDescription,
                                             "maskedWallet")}));
    EXPECT_FALSE(lent());
    platform::runUntilIdle();
    EXPECT_EQ(standIn_->requests().size(), 1u);
}

// The system names no source application: the client's callback check passes as it
// does for the host's own bundle, where "" is another application's.
TEST_F(TesseraWalletTest, AMissingSourceApplicationReachesTheClientAsMissing) {
    auto& library = MVLibraryApplication::sharedLibrary();
    glue()->start(pageStart());
    client_->setOpenURLVerified(false);
    EXPECT_FALSE(library.openURL(TWAWalletClient::urlForTest(), std::string()));
    EXPECT_FALSE(client_->isOpenURLVerified());
    EXPECT_TRUE(library.openURL(TWAWalletClient::urlForTest(), std::nullopt));
    EXPECT_TRUE(client_->isOpenURLVerified());
}

// The host sets the environment the page's payment uses (2) during that payment; then
// the payment ends, each way it can: what the host set stays.
TEST_F(TesseraWalletTest, AnEnvironmentTheHostSetsDuringAPaymentStaysWhateverItsValue) {
    enum class End {
        PageSucceeds,
        PageDeclined,
        BuyerCancels,
        PageReleased,
        PageNavigates,
        HostChecksOut
    };
    const End ends[] = {End::PageSucceeds, End::PageDeclined,  End::BuyerCancels,
                        End::PageReleased, End::PageNavigates, End::HostChecksOut};
    for (auto end : ends) {
        SCOPED_TRACE(static_cast<int>(end));
        listeningPage();
        client_->setEnvironment(hostEnvironment_);
        standIn_->setMode(WalletStandInApp::Mode::Silent);
        const size_t asked = standIn_->requests().size();
        glue()->start(pageStart(), page_);
        client_->setEnvironment(2);
        EXPECT_TRUE(lent());
        switch (end) {
            case End::PageSucceeds:
                glue()->notifyTesseraTransactionStatus(0, page_);
                break;
            case End::PageDeclined:
                glue()->notifyTesseraTransactionStatus(4, page_);
                break;
            case End::BuyerCancels:
                platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay);
                ASSERT_TRUE(waitForStandInRequests(asked + 1));
                platform::Application::shared().becomeActive();
                break;
            case End::PageReleased:
                page_.reset();
                break;
            case End::PageNavigates:
                page_->loadHTMLString("<p>next</p>",
                                      platform::URL::parse("https://other.example/"));
                platform::runUntilIdle();  // the next document replaces the page's
                break;
            case End::HostChecksOut:
                client_->loadMaskedWallet(TWAMaskedWalletRequest::create("USD", "1.00"));
                EXPECT_EQ(client_->transactionContext()->environment(), 2);
                break;
        }
        EXPECT_FALSE(lent());
        EXPECT_EQ(client_->environment(), 2);
        EXPECT_EQ(client_->delegate(), hostDelegate_);
        EXPECT_EQ(client_->clientId(), kHostId);
        EXPECT_EQ(client_->clientSecret(), kHostSecret);
        platform::Application::shared().becomeActive();
        platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay);
        platform::runUntilIdle();
        hostDelegate_->events.clear();
    }
}

}  // namespace
