// The wallet client: creation and the callback check, its errors, the full wallet, the
// preauthorized road against the loopback wallet server, the preauthorization in the
// keychain and the environment.
#include <gtest/gtest.h>

#include <set>

#include "platform/foundation/JsonValue.h"
#include "platform/foundation/Keychain.h"
#include "platform/ui/Application.h"
#include "tests/wallet/WalletClientFixture.h"
#include "wallet/TWAError.h"

namespace {

class WalletClientTest : public WalletClientFixture {
  protected:
    static std::shared_ptr<TWAFullWalletRequest> fullRequest(std::string merchantId = "m-1") {
        return TWAFullWalletRequest::create("T-1", nullptr, merchantId);
    }
    static std::optional<std::string> storedPreauthorization(
        platform::KeychainItem* item = nullptr) {
        platform::KeychainItem found;
        auto status =
            platform::Keychain::shared().copy({.service = TWAWalletClient::kPreauthKeychainService,
                                               .account = TWAWalletClient::kPreauthKeychainAccount,
                                               .accessGroup = std::nullopt},
                                              &found);
        if (status != platform::KeychainStatus::Success) return std::nullopt;
        if (item) *item = found;
        return found.data;
    }
    void expectError(const WalletClientEvent& event, WalletClientEvent::Kind kind, long code,
                     const std::string& text) {
        EXPECT_EQ(event.kind, kind);
        ASSERT_TRUE(event.error);
        EXPECT_EQ(event.error->domain(), kTWAErrorDomain);
        EXPECT_EQ(event.error->code(), code);
        EXPECT_EQ(event.error->localizedDescription(), text);
    }
};

}  // namespace

TEST_F(WalletClientTest, PlainCreationIsRefusedAndTheSharedClientIsOne) {
    EXPECT_EQ(TWAWalletClient::create(), nullptr);
    EXPECT_TRUE(
        logged("Do not call init directly, +sharedInstance is the correct way of getting "
               "an instanceof TWAWalletClient."));
    auto client = TWAWalletClient::sharedInstance();
    EXPECT_EQ(TWAWalletClient::sharedInstance(), client);
    EXPECT_FALSE(client->isOpenURLVerified());
}

TEST_F(WalletClientTest, CallbackCheckLogsWhenTheSchemeCannotBeOpened) {
    standIn_.reset();  // nobody answers the application's own scheme
    auto client = TWAWalletClient::sharedInstance();
    platform::runUntilIdle();
    EXPECT_FALSE(client->isOpenURLVerified());
    EXPECT_TRUE(
        logged("Cannot open URL scheme:tessera-wallet-merchant-app-mfrgg\nPlease refer to "
               "Tessera Wallet SDK documentation"));
}

TEST_F(WalletClientTest, OnlyTheApplicationItselfVerifiesTheClient) {
    struct Case {
        std::optional<std::string> source;
        std::string url;
        bool taken;
    } cases[] = {
        {"com.example.other", TWAWalletClient::urlForTest(), false},
        {"abc", TWAWalletClient::schemeForApp() + "://maskedWalletResponse", false},
        {std::nullopt, TWAWalletClient::urlForTest(), true},
        {"abc", TWAWalletClient::urlForTest(), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source.value_or("(none)") + " " + c.url);
        TWAWalletClient::setSharedInstance(nullptr);
        auto client = TWAWalletClient::sharedInstance();
        EXPECT_EQ(TWAWalletClient::handleOpenURL(*platform::URL::parse(c.url), c.source, nullptr),
                  c.taken);
        EXPECT_EQ(client->isOpenURLVerified(), c.taken);
    }
}

TEST_F(WalletClientTest, MaskedWalletRequestsRefusedBeforeAnythingOpens) {
    auto client = TWAWalletClient::sharedInstance();
    client->setDelegate(delegate_);
    client->loadMaskedWallet(nullptr);
    ASSERT_EQ(delegate_->events.size(), 1u);
    expectError(lastEvent(), WalletClientEvent::MaskedWalletFailed, -542,
                "An invalid request was received (Error 601)");
    EXPECT_EQ(platform::json::stringValue(lastEvent().error->userInfo(),
                                          kTWAWalletErrorDescriptionForIntegratorKey),
              "|loadMaskedWallet:| received a nil request.");

    client->loadMaskedWallet(maskedRequest());  // the callback check has not come back
    ASSERT_EQ(delegate_->events.size(), 2u);
    expectError(
        lastEvent(), WalletClientEvent::MaskedWalletFailed, -598,
        "Failed to open Tessera Wallet. Please try a different payment method. (Error 603)");
    EXPECT_TRUE(platform::Application::shared().openedURLsForTesting().empty());
    EXPECT_FALSE(client->transactionContext()->openURLInProgress());
}

TEST_F(WalletClientTest, FullWalletOnceAtATimeThenTheTransactionEnds) {
    wallet_.serveProxyCard("411111", 1234567, 3, 2030);
    auto client = verifiedClient();
    ASSERT_TRUE(loadMaskedWalletThroughStandIn(*client));

    client->loadFullWallet(fullRequest());
    client->loadFullWallet(fullRequest());  // the same again: ignored
    EXPECT_EQ(delegate_->events.size(), 1u);
    EXPECT_TRUE(
        logged("Full wallet request in progress. Ignoring duplicate full wallet request.  "
               "The user possibly tapped a button twice."));
    client->loadFullWallet(fullRequest("m-2"));
    ASSERT_EQ(delegate_->events.size(), 2u);
    expectError(lastEvent(), WalletClientEvent::FullWalletFailed, -598,
                "A different transaction is currently in progress. (Error 607)");
    client->loadMaskedWallet(maskedRequest());
    ASSERT_EQ(delegate_->events.size(), 3u);
    expectError(lastEvent(), WalletClientEvent::MaskedWalletFailed, -597,
                "A new transaction can't be started since a transaction is currently in progress. "
                "(Error 602)");
    client->changeMaskedWallet("T-1", "m-1");
    EXPECT_EQ(delegate_->events.size(), 3u);
    EXPECT_TRUE(
        logged("Warning:  Full wallet request in progress.  Ignoring change masked wallet."));

    ASSERT_TRUE(waitForEvents(4));
    ASSERT_EQ(lastEvent().kind, WalletClientEvent::FullWallet) << lastErrorText();
    EXPECT_EQ(lastEvent().fullWallet->email(), "buyer@example.com");
    EXPECT_EQ(lastEvent().fullWallet->proxyCard()->pan(), "4111110000001234");
    EXPECT_EQ(wallet_.requestCount(WalletTestServer::kFullWalletPath), 1u);
    auto sent = WalletTestServer::formRequest<walletproto::OWIosGetFullWalletRequest>(
        *wallet_.lastRequest(WalletTestServer::kFullWalletPath));
    ASSERT_TRUE(sent);
    EXPECT_EQ(sent->version(), "0.10.0-Apr  4 2014 -- 12:24:47");
    EXPECT_EQ(wallet_.lastRequest(WalletTestServer::kFullWalletPath)->header("Authorization"),
              "Bearer access-1");

    client->changeMaskedWallet("T-1", "m-1");
    expectError(lastEvent(), WalletClientEvent::MaskedWalletFailed, -597,
                "An invalid request to change selections was received. (Error 610)");
    client->loadFullWallet(fullRequest());
    expectError(lastEvent(), WalletClientEvent::FullWalletFailed, -597,
                "An invalid request for payment was received (Error 606)");
    client->loadFullWallet(TWAFullWalletRequest::create(std::nullopt, nullptr, "m-1"));
    expectError(lastEvent(), WalletClientEvent::FullWalletFailed, -542,
                "An invalid request for payment was received (Error 605)");
    client->loadFullWallet(nullptr);
    expectError(lastEvent(), WalletClientEvent::FullWalletFailed, -542,
                "An invalid request for payment was received (Error 604)");
    client->changeMaskedWallet(std::nullopt, "m-1");
    expectError(lastEvent(), WalletClientEvent::MaskedWalletFailed, -542,
                "An invalid request to change selections was received. (Error 609)");
}

// An ended transaction's requests, under way at the wallet application or waiting for
// the configuration, reach neither the server nor the delegate, and the next starts.
TEST_F(WalletClientTest, AnEndedTransactionsRequestsGoNowhereAndTheNextStarts) {
    wallet_.serveProxyCard("411111", 1234567, 3, 2030);
    auto client = verifiedClient();
    ASSERT_TRUE(loadMaskedWalletThroughStandIn(*client));
    platform::advanceBy(TWAClientConfig::kCacheLifetime + 1);  // the next asks for it anew
    client->loadFullWallet(fullRequest());
    client->endTransaction();
    ASSERT_TRUE(platform::runUntil(
        [&] { return logged("Ignoring the full wallet request of a transaction"); }, kWalletIO));
    EXPECT_EQ(wallet_.requestCount(WalletTestServer::kFullWalletPath), 0u);

    standIn_->setMode(WalletStandInApp::Mode::Silent);
    client->loadMaskedWallet(maskedRequest());
    ASSERT_TRUE(platform::runUntil([&] { return standIn_->requests().size() == 2; }, kWalletIO));
    client->endTransaction();
    EXPECT_FALSE(client->transactionContext()->merchantMaskedWalletRequest());
    platform::Application::shared().becomeActive();  // back without a reply
    platform::runUntilIdle();
    EXPECT_EQ(delegate_->events.size(), 1u);

    standIn_->setMode(WalletStandInApp::Mode::Normal);
    ASSERT_TRUE(loadMaskedWalletThroughStandIn(*client));
}

TEST_F(WalletClientTest, FullWalletFailures) {
    walletproto::OWRErrorMessage walletError;
    walletError.set_error_detail("Card declined");
    walletError.mutable_wallet_error()->set_error_type(
        walletproto::COWWalletError::BUYER_ACCOUNT_ERROR);
    struct Case {
        const char* name;
        std::function<void(WalletTestServer&)> serve;
        long code;
        std::string text;
        bool transactionKept;
    } cases[] = {
        {"401",
         [](WalletTestServer& w) {
             w.respond(WalletTestServer::kFullWalletPath, 401, walletproto::OWRErrorMessage());
         },
         -599, "The transaction failed. Starting over may succeed. (Error 608)", true},
        {"answer without card",
         [](WalletTestServer& w) {
             w.serveFullWallet([](uint64_t, const auto&) {
                 walletproto::OWBenderGetFullWalletResponse response;
                 response.add_payment_description("no card");
                 return response;
             });
         },
         -562, "Internal Error: 504", false},
        {"wallet error",
         [&](WalletTestServer& w) {
             w.respond(WalletTestServer::kFullWalletPath, 400, walletError);
         },
         -512, "Card declined", false},
        {"transport error",
         [](WalletTestServer& w) {
             w.respond(WalletTestServer::kFullWalletPath, 500, walletproto::OWRErrorMessage());
         },
         -562, "Internal Error: 510", false},
        {"200 whose body does not parse",
         [](WalletTestServer& w) {
             w.http().respond(WalletTestServer::kFullWalletPath,
                              HttpTestServer::Response::text(200, "not a message"));
         },
         -562, "Internal Error: 502", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TWAWalletClient::setSharedInstance(nullptr);
        delegate_->events.clear();
        c.serve(wallet_);
        auto client = verifiedClient();
        ASSERT_TRUE(loadMaskedWalletThroughStandIn(*client));
        client->loadFullWallet(fullRequest());
        ASSERT_TRUE(waitForEvents(2));
        expectError(lastEvent(), WalletClientEvent::FullWalletFailed, c.code, c.text);
        EXPECT_EQ(client->transactionContext() != nullptr, c.transactionKept);
    }
}

// A missing preauthorization is allowed: nothing to revoke, nothing to complain of.
TEST_F(WalletClientTest, AMaskedWalletWithoutAPreauthorizationRevokesNothing) {
    auto client = verifiedClient();
    ASSERT_TRUE(loadMaskedWalletThroughStandIn(*client));
    EXPECT_FALSE(storedPreauthorization());
    EXPECT_FALSE(logged("TWA_ASSERT false: refreshToken"));
    EXPECT_EQ(wallet_.requestCount(WalletTestServer::kRevokePath), 0u);
}

TEST_F(WalletClientTest, NativeAnswerStoresThePreauthorizationInTheKeychain) {
    auto response = standInResponse();
    response.set_preauth_refresh_token("refresh-1");
    response.set_preauth_extra_info("pre-extra");
    standIn_->setResponse(response);
    auto client = verifiedClient();
    client->setClientId("client-1");
    client->setClientSecret("secret-1");
    ASSERT_TRUE(loadMaskedWalletThroughStandIn(*client));
    EXPECT_TRUE(standIn_->requests()[0].request_preauth_refresh_token());
    EXPECT_EQ(standIn_->requests()[0].oauth_client_id(), "client-1");

    platform::KeychainItem item;
    auto stored = storedPreauthorization(&item);
    ASSERT_TRUE(stored);
    EXPECT_EQ(nlohmann::json::parse(*stored), (nlohmann::json{{"refresh_token", "refresh-1"},
                                                              {"extra_info", "pre-extra"},
                                                              {"account", "buyer@example.com"},
                                                              {"client_id", "client-1"}}));
    EXPECT_EQ(item.accessibility, platform::kKeychainAccessibleWhenUnlockedThisDeviceOnly);

    // A new client reads it back under its client id only; an answer for another buyer
    // forgets it.
    TWAWalletClient::setSharedInstance(nullptr);
    client = verifiedClient();
    client->checkForPreauthorization();
    ASSERT_EQ(lastEvent().kind, WalletClientEvent::Preauthorized);
    EXPECT_FALSE(lastEvent().preauthorized);
    client->setClientId("client-1");
    client->checkForPreauthorization();
    EXPECT_TRUE(lastEvent().preauthorized);
    walletproto::OWIosGetMaskedWalletForPreauthorizedBuyerResponse actions;
    actions.add_required_action(walletproto::GAIA_AUTH);
    wallet_.respond(WalletTestServer::kPreauthorizedPath, 200, actions);
    auto other = standInResponse();
    other.set_buyer_email("other@example.com");
    standIn_->setResponse(other);
    ASSERT_TRUE(loadMaskedWalletThroughStandIn(*client));  // through the wallet application
    EXPECT_FALSE(storedPreauthorization());
    ASSERT_TRUE(platform::runUntil(
        [&] { return wallet_.requestCount(WalletTestServer::kRevokePath) == 1; }, kWalletIO));
    EXPECT_EQ(WalletTestServer::formFields(*wallet_.lastRequest(WalletTestServer::kRevokePath))
                  .at("token"),
              "refresh-1");
    client->checkForPreauthorization();
    EXPECT_FALSE(lastEvent().preauthorized);
}

TEST_F(WalletClientTest, PreauthorizedRoadTakesTheServersMaskedWallet) {
    walletproto::OWIosGetMaskedWalletForPreauthorizedBuyerResponse answer;
    answer.mutable_merchant_response()->set_tessera_transaction_id("T-9");
    answer.set_buyer_email("buyer@example.com");
    answer.set_full_wallet_access_token("access-9");
    answer.set_preauth_extra_info("pre-extra-2");
    wallet_.respond(WalletTestServer::kPreauthorizedPath, 200, answer);
    auto client = verifiedClient();
    client->setClientId("client-1");
    client->setClientSecret("secret-1");
    client->setPreauthRefreshToken("refresh-1", "pre-extra", "buyer@example.com");

    client->loadMaskedWallet(maskedRequest());
    ASSERT_TRUE(waitForEvents(1));
    ASSERT_EQ(lastEvent().kind, WalletClientEvent::MaskedWallet) << lastErrorText();
    EXPECT_EQ(lastEvent().maskedWallet->tesseraTransactionId(), "T-9");
    EXPECT_TRUE(standIn_->requests().empty());
    auto form =
        WalletTestServer::formFields(*wallet_.lastRequest(WalletTestServer::kPreauthorizedPath));
    EXPECT_EQ(form["refresh_token"], "refresh-1");
    EXPECT_EQ(form["client_id"], "client-1");
    EXPECT_EQ(client->transactionContext()->fullWalletAccessToken(), "access-9");
    EXPECT_EQ(client->preauthExtraInfo(), "pre-extra-2");
    EXPECT_EQ(client->preauthRefreshToken(), "refresh-1");
}

TEST_F(WalletClientTest, RefusedPreauthorizationIsRevokedAndTheWalletApplicationAsked) {
    wallet_.respond(WalletTestServer::kPreauthorizedPath, 401, walletproto::OWRErrorMessage());
    auto client = verifiedClient();
    client->setClientId("client-1");
    client->setClientSecret("secret-1");
    client->setPreauthRefreshToken("refresh-1", "pre-extra", "buyer@example.com");

    ASSERT_TRUE(loadMaskedWalletThroughStandIn(*client)) << lastErrorText();
    EXPECT_EQ(wallet_.requestCount(WalletTestServer::kPreauthorizedPath), 1u);
    EXPECT_FALSE(storedPreauthorization());
    ASSERT_EQ(standIn_->requests().size(), 1u);
    EXPECT_TRUE(standIn_->requests()[0].request_preauth_refresh_token());
    ASSERT_TRUE(platform::runUntil(
        [&] { return wallet_.requestCount(WalletTestServer::kRevokePath) >= 1; }, kWalletIO));
    EXPECT_EQ(WalletTestServer::formFields(*wallet_.lastRequest(WalletTestServer::kRevokePath))
                  .at("token"),
              "refresh-1");
    // The answer's buyer matches no stored record: forgotten again, with no token to revoke
    // and nothing to complain of.
    EXPECT_EQ(loggedCount("TWA_ASSERT false: refreshToken"), 0u);
    EXPECT_EQ(wallet_.requestCount(WalletTestServer::kRevokePath), 1u);
}

TEST_F(WalletClientTest, EnvironmentIsLoggedAndAChangeDropsTheTransaction) {
    auto client = TWAWalletClient::sharedInstance();
    EXPECT_EQ(client->environment(), 0);
    EXPECT_TRUE(
        logged("Environment requested, but not initialized. Defaulting to "
               "kTWAEnvironmentSandbox"));
    client->setEnvironment(2);
    EXPECT_FALSE(logged("Environment is changing"));
    auto context = client->transactionContext();
    EXPECT_EQ(context->environment(), 2);
    client->setEnvironment(2);
    EXPECT_EQ(client->transactionContext(), context);
    client->setEnvironment(1);
    EXPECT_TRUE(
        logged("Environment is changing from previously set kTWAEnvironmentProduction to "
               "kTWAEnvironmentStrictSandbox"));
    EXPECT_NE(client->transactionContext(), context);
    EXPECT_EQ(TWAWalletClient::environmentToString(7), "unknown");
}

TEST_F(WalletClientTest, UnreadableOrIncompletePreauthorizationsAreNotStored) {
    ASSERT_EQ(platform::Keychain::shared().add(
                  {.service = TWAWalletClient::kPreauthKeychainService,
                   .account = TWAWalletClient::kPreauthKeychainAccount,
                   .accessGroup = std::nullopt,
                   .accessibility = platform::kKeychainAccessibleWhenUnlockedThisDeviceOnly,
                   .data = "{\"refresh_token\": [[[["}),
              platform::KeychainStatus::Success);
    auto client = TWAWalletClient::sharedInstance();
    EXPECT_FALSE(client->preauthDictionary());
    EXPECT_TRUE(logged("The stored preauthorization is no JSON object"));

    client->setPreauthRefreshToken(std::nullopt, "extra", "buyer@example.com");
    client->setPreauthRefreshToken("refresh-1", "extra", std::nullopt);
    EXPECT_TRUE(logged("TWA_ASSERT false: preauthRefreshToken"));
    EXPECT_TRUE(logged("TWA_ASSERT false: account"));
    EXPECT_EQ(storedPreauthorization(), "{\"refresh_token\": [[[[");

    client->setPreauthRefreshToken("refresh-1", std::nullopt, "buyer@example.com");
    EXPECT_EQ(client->preauthExtraInfo(), "");
    client->setPreauthExtraInfo("extra-2");
    EXPECT_EQ(TWAWalletClient::dictionaryFromJsonString(storedPreauthorization()),
              (nlohmann::json{{"refresh_token", "refresh-1"},
                              {"extra_info", "extra-2"},
                              {"account", "buyer@example.com"}}));
}

TEST_F(WalletClientTest, FullWalletWithRequiredActionsAsksTheWalletApplicationAgain) {
    wallet_.serveFullWallet([](uint64_t, const auto&) {
        walletproto::OWBenderGetFullWalletResponse response;
        response.add_required_action(walletproto::VERIFY_CVV);
        return response;
    });
    auto client = verifiedClient();
    ASSERT_TRUE(loadMaskedWalletThroughStandIn(*client));
    client->loadFullWallet(fullRequest());
    ASSERT_TRUE(waitForEvents(2));
    EXPECT_EQ(lastEvent().kind, WalletClientEvent::MaskedWallet) << lastErrorText();
    ASSERT_EQ(standIn_->requests().size(), 2u);
    const auto& again = standIn_->requests()[1];
    ASSERT_EQ(again.required_action_size(), 1);
    EXPECT_EQ(again.required_action(0), walletproto::VERIFY_CVV);
    EXPECT_EQ(again.merchant_request().tessera_transaction_id(), "T-1");
    EXPECT_FALSE(client->transactionContext()->fullWalletInProgress());
}

TEST_F(WalletClientTest, PreauthorizationOfTheSameBuyerIsKept) {
    auto client = verifiedClient();
    client->setPreauthRefreshToken("refresh-1", "pre-extra", "buyer@example.com");
    ASSERT_TRUE(loadMaskedWalletThroughStandIn(*client));  // no client id: the inter-app road
    EXPECT_FALSE(standIn_->requests()[0].request_preauth_refresh_token());
    EXPECT_EQ(client->preauthRefreshToken(), "refresh-1");
    EXPECT_TRUE(storedPreauthorization());
}

namespace {

// A stored preauthorization, from this release (with its client id) or an earlier one
// (without), is used only by a client of the id it was issued for; another merchant's
// checkout goes through the wallet application and leaves it alone. A new token, for
// the same client or another, replaces it and revokes its token; a record without an
// id is revoked when first read, and only then.
TEST_F(WalletClientTest, APreauthorizationServesOnlyTheClientIdItWasIssuedFor) {
    // The wallet application's answer: none asked, another buyer, the same buyer, or the
    // same buyer preauthorizing the client anew.
    enum Answer { None, OtherBuyer, SameBuyer, NewToken };
    const struct {
        const char* storedFor;  // null: a record without a client id
        const char* clientId;   // null: a client without one
        bool preauthorizedRoad;
        Answer answer;
        const char* storedAfter;  // the client id of the record left; "": none at all
        bool revoked;             // the row's stored token
    } rows[] = {
        {"client-A", "client-A", true, None, "client-A", false},
        {"client-A", "client-B", false, OtherBuyer, "client-A", false},
        {"client-A", nullptr, false, OtherBuyer, "client-A", false},
        {"client-A", "client-B", false, NewToken, "client-B", true},
        {"client-A", "client-A", true, NewToken, "client-A", true},
        {nullptr, "client-B", false, OtherBuyer, "", true},
        {nullptr, nullptr, false, SameBuyer, "", true},
        {nullptr, "client-A", false, NewToken, "client-A", true},
    };
    std::set<std::string> revoked;
    for (size_t i = 0; i < std::size(rows); ++i) {
        const auto& row = rows[i];
        SCOPED_TRACE(std::string(row.storedFor ? row.storedFor : "(none)") + " used by " +
                     (row.clientId ? row.clientId : "(none)") + ", answer " +
                     std::to_string(row.answer));
        const std::string token = "refresh-" + std::to_string(i);
        const std::string newToken = "new-" + token;
        if (row.revoked) revoked.insert(token);
        nlohmann::json record{
            {"refresh_token", token}, {"extra_info", "pre"}, {"account", "buyer@example.com"}};
        if (row.storedFor) record["client_id"] = row.storedFor;
        platform::Keychain::shared().remove({.service = TWAWalletClient::kPreauthKeychainService,
                                             .account = TWAWalletClient::kPreauthKeychainAccount,
                                             .accessGroup = std::nullopt});
        ASSERT_EQ(platform::Keychain::shared().add(
                      {.service = TWAWalletClient::kPreauthKeychainService,
                       .account = TWAWalletClient::kPreauthKeychainAccount,
                       .accessGroup = std::nullopt,
                       .accessibility = platform::kKeychainAccessibleWhenUnlockedThisDeviceOnly,
                       .data = platform::json::print(record)}),
                  platform::KeychainStatus::Success);
        // The preauthorized road answers at once, or asks the buyer in the wallet application.
        walletproto::OWIosGetMaskedWalletForPreauthorizedBuyerResponse answer;
        answer.mutable_merchant_response()->set_tessera_transaction_id("T-9");
        answer.set_buyer_email("buyer@example.com");
        if (row.answer != None) answer.add_required_action(walletproto::GAIA_AUTH);
        wallet_.respond(WalletTestServer::kPreauthorizedPath, 200, answer);
        auto reply = standInResponse();
        if (row.answer == OtherBuyer) reply.set_buyer_email("other@example.com");
        if (row.answer == NewToken) reply.set_preauth_refresh_token(newToken);
        standIn_->setResponse(reply);

        TWAWalletClient::setSharedInstance(nullptr);
        auto client = verifiedClient();
        if (row.clientId) client->setClientId(std::string(row.clientId));
        client->setClientSecret("secret-1");
        const size_t preauthorized = wallet_.requestCount(WalletTestServer::kPreauthorizedPath);
        const size_t asked = standIn_->requests().size();
        const size_t before = delegate_->events.size();
        client->checkForPreauthorization();
        EXPECT_EQ(lastEvent().preauthorized, row.preauthorizedRoad);
        client->loadMaskedWallet(maskedRequest());
        ASSERT_TRUE(waitForEvents(before + 2));
        EXPECT_EQ(lastEvent().kind, WalletClientEvent::MaskedWallet) << lastErrorText();
        EXPECT_EQ(wallet_.requestCount(WalletTestServer::kPreauthorizedPath) - preauthorized,
                  row.preauthorizedRoad ? 1u : 0u);
        EXPECT_EQ(standIn_->requests().size() - asked, row.answer == None ? 0u : 1u);
        const auto stored = TWAWalletClient::dictionaryFromJsonString(storedPreauthorization());
        EXPECT_EQ(stored ? platform::json::stringValue(*stored, "client_id").value_or("?") : "",
                  row.storedAfter);
        if (stored) {
            EXPECT_EQ(platform::json::stringValue(*stored, "refresh_token"),
                      row.answer == NewToken ? newToken : token);
        }
        platform::runUntilIdle();
    }
    // Each revoked token once, and no other.
    const auto revokedTokens = [&] {
        std::multiset<std::string> tokens;
        for (const auto& request : wallet_.http().requests())
            if (request.path == WalletTestServer::kRevokePath)
                tokens.insert(WalletTestServer::formFields(request)["token"]);
        return tokens;
    };
    ASSERT_TRUE(
        platform::runUntil([&] { return revokedTokens().size() >= revoked.size(); }, kWalletIO));
    platform::runUntilIdle();
    EXPECT_EQ(revokedTokens(), std::multiset<std::string>(revoked.begin(), revoked.end()));
}

}  // namespace

namespace {

// A holder that counts how often the client was taken back from it, and calls the client
// itself while `calling`.
class CountingHolder : public TWAWalletClientHolder {
  public:
    void walletClientWasTakenBack(TWAWalletClient&) override { ++takenBack; }
    bool walletClientIsCalledByHolder(const TWAWalletClient&) const override { return calling; }
    int takenBack = 0;
    bool calling = false;
};

// The owner's every public call while its client is lent, the holder's transaction at its
// masked wallet: the owner reads its own values and no transaction, what it sets (the same
// or another value) is kept for it and ends nothing, in force once the client comes back,
// and only a call that needs the client's transaction takes it back, telling the holder.
TEST_F(WalletClientTest, ALentClientAnswersItsOwnerAndKeepsWhatItSets) {
    using Call = std::function<void(TWAWalletClient&)>;
    auto otherDelegate = std::make_shared<RecordingWalletClientDelegate>();
    const struct {
        const char* name;
        Call call;
        bool takesBack;
        const char* id;  // the owner's id after
        int32_t environment;
        size_t ownerAnswers;  // the owner's delegate hears, questions included
    } rows[] = {
        {"same id", [](auto& c) { c.setClientId("owner-id"); }, false, "owner-id", 1, 0},
        {"other id", [](auto& c) { c.setClientId("owner-id-2"); }, false, "owner-id-2", 1, 0},
        {"same secret", [](auto& c) { c.setClientSecret("owner-secret"); }, false, "owner-id", 1,
         0},
        {"other secret", [](auto& c) { c.setClientSecret("s-2"); }, false, "owner-id", 1, 0},
        {"same environment", [](auto& c) { c.setEnvironment(1); }, false, "owner-id", 1, 0},
        {"the holder's environment", [](auto& c) { c.setEnvironment(2); }, false, "owner-id", 2, 0},
        {"same delegate", [&](auto& c) { c.setDelegate(delegate_); }, false, "owner-id", 1, 0},
        {"other delegate", [&](auto& c) { c.setDelegate(otherDelegate); }, false, "owner-id", 1, 0},
        {"status", [](auto& c) { c.notifyTransactionStatus(0); }, false, "owner-id", 1, 0},
        {"question", [](auto& c) { c.checkForPreauthorization(); }, false, "owner-id", 1, 1},
        {"end", [](auto& c) { c.endTransaction(); }, true, "owner-id", 1, 0},
        {"set transaction",
         [](auto& c) { c.setTransactionContext(TWAClientSDKTransactionContext::create(1, {})); },
         true, "owner-id", 1, 0},
        {"change", [](auto& c) { c.changeMaskedWallet("T-1", std::nullopt); }, true, "owner-id", 1,
         1},
        {"full wallet", [](auto& c) { c.loadFullWallet(fullRequest()); }, true, "owner-id", 1, 1},
        {"masked wallet", [](auto& c) { c.loadMaskedWallet(maskedRequest()); }, true, "owner-id", 1,
         1},
    };
    wallet_.serveConfiguration("prod", WalletStandInApp::configuration());
    auto client = verifiedClient();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        client->setDelegate(delegate_);
        client->setClientId("owner-id");
        client->setClientSecret("owner-secret");
        client->setEnvironment(1);
        auto holder = std::make_shared<CountingHolder>();
        auto holders = std::make_shared<RecordingWalletClientDelegate>();
        auto loan = client->lend(holder, {holders, "holder-id", "holder-secret", 2});
        holder->calling = true;
        client->loadMaskedWallet(maskedRequest());
        holder->calling = false;
        ASSERT_TRUE(platform::runUntil([&] { return !holders->events.empty(); }, kWalletIO));
        ASSERT_EQ(holders->events.back().kind, WalletClientEvent::MaskedWallet);
        EXPECT_EQ(standIn_->requests().back().oauth_client_id(), "holder-id");
        delegate_->events.clear();
        otherDelegate->events.clear();
        EXPECT_EQ(client->clientId(), "owner-id");
        EXPECT_EQ(client->clientSecret(), "owner-secret");
        EXPECT_EQ(client->transactionContext(), nullptr);
        EXPECT_EQ(client->interAppCommunicator(), nullptr);
        EXPECT_EQ(loan->valuesInUse().clientId, "holder-id");
        EXPECT_EQ(loan->transactionContext()->tesseraTransactionId(), "T-1");

        row.call(*client);
        waitForEvents(row.ownerAnswers);
        EXPECT_EQ(holder->takenBack, row.takesBack ? 1 : 0);
        EXPECT_EQ(loan->isHeldOn(*client), !row.takesBack);
        EXPECT_EQ(holders->events.size(), 1u);
        EXPECT_EQ(delegate_->events.size() + otherDelegate->events.size(), row.ownerAnswers);
        loan->giveBack();
        EXPECT_FALSE(client->isLent());
        EXPECT_EQ(client->clientId(), row.id);
        EXPECT_EQ(client->environment(), row.environment);
        EXPECT_EQ(client->transactionContext()->environment(), row.environment);
        EXPECT_EQ(client->delegate(),
                  std::string(row.name) == "other delegate" ? otherDelegate : delegate_);
        client->notifyTransactionStatus(0);
    }
}

}  // namespace
