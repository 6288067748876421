// What a page's payment has under way when it ends, or when the page starts or asks
// again meanwhile, with the host keeping its own environment (1) or sharing the page's
// (2): nothing of the payment reaches the host's delegate, the next checkout starts, and
// a refused further request ends nothing.
#include <gtest/gtest.h>

#include "libmerovane/application/MVPaymentServices.h"
#include "tests/payments/PaymentsFixture.h"

using nlohmann::json;

namespace {

class TesseraWalletPaymentEndTest : public PaymentsFixture,
                                    public ::testing::WithParamInterface<int32_t> {
  protected:
    TesseraWalletPaymentEndTest() { hostEnvironment_ = GetParam(); }

    // A proxy card for every full-wallet request, held until release(hold).
    void serveHeldCard(const std::string& hold) {
        wallet_.http().handle(
            WalletTestServer::kFullWalletPath, [hold](const HttpTestServer::Request& request) {
                walletproto::OWBenderGetFullWalletResponse card;
                card.set_iin("411111");
                char rest[32];
                snprintf(rest, sizeof rest, "%llx",
                         static_cast<unsigned long long>(
                             1234567 ^ WalletTestServer::padOf(request).value_or(0)));
                card.set_rest(rest);
                card.set_expiration_month(3);
                card.set_expiration_year(2030);
                HttpTestServer::Response response;
                response.body = card.SerializeAsString();
                response.headers.set("Content-Type", "application/x-protobuf");
                response.holdUntilReleased = hold;
                return response;
            });
    }
    static json fullWalletRequest(const char* total, const char* transaction = "T-1") {
        return {{"c", "tesseraWalletSendFullWalletRequest"},
                {"p",
                 {{"lineItems",
                   {{{"description", "item"}, {"role", "regular"}, {"totalPrice", total}}}},
                  {"currencyCode", "EUR"},
                  {"totalPrice", total},
                  {"tesseraTransactionId", transaction}}}};
    }
    static void performAll(const json& commands) {
        MVCommandHandler::performCommandsFromCommandCollection({{"ver", "1.0"}, {"cmds", commands}},
                                                               nullptr);
    }
    // A fresh stand-in that keeps the buyer, and a start whose request it has.
    void startWhileTheBuyerStaysInTheWalletApplication() {
        standIn_.emplace();
        standIn_->setResponse(standInResponse());
        standIn_->setMode(WalletStandInApp::Mode::Silent);
        start();
        platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay);
        ASSERT_TRUE(waitForStandInRequests(1));
    }
    // The buyer's reply to the wallet application's first request, as a URL.
    std::string standInReply() {
        const auto& request = standIn_->requests().at(0);
        return request.callback_url() + "?" + standIn_->normalReply(request, false).value_or("");
    }
    // The library application's part in a URL another application opens, while the
    // library's payment runs.
    static bool libraryOpensURL(const std::string& url) {
        auto payments = MVPaymentServices::shared();
        return payments->isLibSidedPaymentProcessAtPresent() &&
               payments->handleOpenURL(url, WalletStandInApp::kBundleId);
    }
    // Ends with the host's values and the host's delegate told nothing.
    void expectHostUntouched() {
        EXPECT_FALSE(lent());
        expectHostValues();
        EXPECT_TRUE(hostDelegate_->events.empty()) << hostDelegate_->events.size() << " calls";
    }
    size_t commandsNamed(const char* name) {
        size_t count = 0;
        for (const auto& command : walletCommands()) count += command["c"] == name;
        return count;
    }
};

// The end comes before the full-wallet request reaches the server, or while the server
// holds it.
TEST_P(TesseraWalletPaymentEndTest, AFullWalletUnderWayEndsWithThePayment) {
    const struct {
        json end;
        bool atTheServer;
    } rows[] = {
        {{{"success", false}, {"errorReason", "other"}}, false},
        {{{"success", false}, {"errorReason", "other"}}, true},
        {{{"success", true}}, false},
        {{{"success", false}, {"errorReason", "declined"}}, true},
    };
    ASSERT_NO_FATAL_FAILURE(stream());
    for (const auto& row : rows) {
        const std::string hold = "card " + std::to_string(&row - rows);
        serveHeldCard(hold);
        SCOPED_TRACE(row.end.dump() + (row.atTheServer ? " at the server" : " same turn"));
        const size_t asked = wallet_.requestCount(WalletTestServer::kFullWalletPath);
        const size_t updates = commandsNamed("tesseraWalletUpdate");
        const size_t ignored = loggedCount("Ignoring the full wallet");
        start();
        platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay);
        ASSERT_TRUE(drive([&] { return commandsNamed("tesseraWalletUpdate") > updates; }));
        perform(fullWalletRequest("5.00"));
        if (row.atTheServer) {
            ASSERT_TRUE(waitFor(
                [&] { return wallet_.requestCount(WalletTestServer::kFullWalletPath) > asked; }));
        }
        perform({{"c", "tesseraWalletEnd"}, {"p", row.end}});
        wallet_.http().release(hold);
        ASSERT_TRUE(drive([&] {
            return loggedCount("Ignoring the full wallet") > ignored ||
                   !hostDelegate_->events.empty() ||
                   commandsNamed("tesseraWalletFullWalletResponse") > 0;
        }));
        platform::runUntilIdle();
        expectHostUntouched();
        EXPECT_EQ(commandsNamed("tesseraWalletFullWalletResponse"), 0u);
    }
}

// A second cart (or another transaction's) while the first request runs is refused to
// the page; the first one's card reaches the shop's server and the payment goes on.
TEST_P(TesseraWalletPaymentEndTest, ARefusedSecondFullWalletRequestEndsNothing) {
    const struct {
        json second;
        bool sameCollection;
        const char* error;
        const char* description;
    } rows[] = {
        {fullWalletRequest("7.00"), true, "TesseraWalletErrorIntegrationError",
         "A different transaction is currently in progress. (Error 607)"},
        {fullWalletRequest("7.00"), false, "TesseraWalletErrorIntegrationError",
         "A different transaction is currently in progress. (Error 607)"},
        {fullWalletRequest("5.00", "T-2"), true, "TesseraWalletErrorInvalidTransaction",
         "An invalid request for payment was received (Error 606)"},
    };
    wallet_.serveProxyCard("411111", 1234567, 3, 2030);
    ASSERT_NO_FATAL_FAILURE(stream());
    listeningPage();
    for (size_t i = 0; i < std::size(rows); ++i) {
        const auto& row = rows[i];
        SCOPED_TRACE(row.second.dump());
        start();
        platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay);
        ASSERT_TRUE(drive([&] { return commandsNamed("tesseraWalletUpdate") == i + 1; }));
        if (row.sameCollection) {
            performAll({fullWalletRequest("5.00"), row.second});
        } else {
            perform(fullWalletRequest("5.00"));
            perform(row.second);
        }
        const auto errors = walletErrors();
        ASSERT_EQ(errors.size(), i + 1);
        EXPECT_EQ(errors.back(), walletError(row.error, row.description, "fullWallet"));
        EXPECT_TRUE(lent());
        ASSERT_TRUE(
            drive([&] { return commandsNamed("tesseraWalletFullWalletResponse") == i + 1; }));
        EXPECT_EQ(walletCommands().back()["p"]["creditCard"]["pan"], "4111110000001234");
        perform({{"c", "tesseraWalletEnd"}, {"p", {{"success", true}}}});
        expectHostUntouched();
    }
}

// The page ends the payment while the buyer is in the wallet application; then the
// buyer's reply reaches the client (the host routes URLs again), or the buyer comes back
// without one, or neither before the page's next checkout, which starts.
TEST_P(TesseraWalletPaymentEndTest, AnEndWhileTheBuyerChoosesEndsTheRequestAndTheNextStarts) {
    enum class Back { Reply, Cancel, Nothing };
    const struct {
        json end;
        Back back;
    } rows[] = {
        {{{"success", false}, {"errorReason", "other"}}, Back::Reply},
        {{{"success", true}}, Back::Cancel},
        {{{"success", false}, {"errorReason", "badCard"}}, Back::Nothing},
        {{{"success", true}}, Back::Reply},
    };
    ASSERT_NO_FATAL_FAILURE(stream());
    listeningPage();
    for (size_t i = 0; i < std::size(rows); ++i) {
        const auto& row = rows[i];
        SCOPED_TRACE(row.end.dump() + " back " + std::to_string(static_cast<int>(row.back)));
        ASSERT_NO_FATAL_FAILURE(startWhileTheBuyerStaysInTheWalletApplication());
        perform({{"c", "tesseraWalletEnd"}, {"p", row.end}});
        expectHostUntouched();
        if (row.back == Back::Reply)
            TWAWalletClient::handleOpenURL(*platform::URL::parse(standInReply()),
                                           WalletStandInApp::kBundleId, nullptr);
        if (row.back == Back::Cancel) platform::Application::shared().becomeActive();
        platform::runUntilIdle();
        expectHostUntouched();

        standIn_->setMode(WalletStandInApp::Mode::Normal);
        start();
        platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay);
        ASSERT_TRUE(waitForStandInRequests(2));
        ASSERT_TRUE(drive([&] { return commandsNamed("tesseraWalletUpdate") == i + 1; }));
        EXPECT_TRUE(walletErrors().empty());
        EXPECT_TRUE(lent());
        perform({{"c", "tesseraWalletEnd"}, {"p", {{"success", true}}}});
        expectHostUntouched();
    }
}

// Further starts once the wallet application has the request (at once, or later while
// the buyer chooses) ask for nothing and end nothing: the buyer's reply is taken.
TEST_P(TesseraWalletPaymentEndTest, AStartWhileTheWalletApplicationHasTheRequestEndsNothing) {
    const struct {
        double after;  // seconds past the first request
        int starts;
        const char* total;
    } rows[] = {{0, 1, "12.50"}, {0.05, 1, "99.00"}, {3, 2, "99.00"}};
    ASSERT_NO_FATAL_FAILURE(stream());
    listeningPage();
    for (size_t i = 0; i < std::size(rows); ++i) {
        const auto& row = rows[i];
        SCOPED_TRACE(row.after);
        ASSERT_NO_FATAL_FAILURE(startWhileTheBuyerStaysInTheWalletApplication());
        platform::advanceBy(row.after);
        for (int n = 0; n < row.starts; ++n) {
            start({{"clientId", "page-id"}, {"clientSecret", "page-secret"}},
                  {{"totalPrice", row.total}});
            platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay);
        }
        platform::runUntilIdle();
        EXPECT_EQ(standIn_->requests().size(), 1u);
        EXPECT_TRUE(walletErrors().empty());
        ASSERT_TRUE(lent());
        EXPECT_TRUE(libraryOpensURL(standInReply()));
        ASSERT_TRUE(drive([&] { return commandsNamed("tesseraWalletUpdate") == i + 1; }));
        EXPECT_EQ(walletCommands().back()["p"]["tesseraTransactionId"], "T-1");
        perform({{"c", "tesseraWalletEnd"}, {"p", {{"success", true}}}});
        expectHostUntouched();
    }
}

INSTANTIATE_TEST_SUITE_P(HostEnvironments, TesseraWalletPaymentEndTest, ::testing::Values(1, 2),
                         [](const auto& info) {
                             return "Environment" + std::to_string(info.param);
                         });

}  // namespace
