// The wallet page commands end to end: the stand-in wallet application, the loopback
// wallet server and the loopback API peer that receives the results as commands.
#include <gtest/gtest.h>

#include "platform/ui/Application.h"
#include "tests/payments/PaymentsFixture.h"

using nlohmann::json;

namespace {

class TesseraWalletCommandsTest : public PaymentsFixture {
  protected:
    // The cart the wallet server received with the last full-wallet request.
    std::optional<walletproto::OWIosGetFullWalletRequest> fullWalletRequest() {
        auto request = wallet_.lastRequest(WalletTestServer::kFullWalletPath);
        if (!request) return std::nullopt;
        return WalletTestServer::formRequest<walletproto::OWIosGetFullWalletRequest>(*request);
    }
    static json lineItem(const char* role, json extra) {
        extra["description"] = std::string(role) + " item";
        extra["role"] = role;
        return extra;
    }
};

json emptyAddressWith(json values) {
    json address = {
        {"name", ""},        {"address1", ""},          {"address2", ""},    {"address3", ""},
        {"companyName", ""}, {"telephone", ""},         {"postalCode", ""},  {"state", ""},
        {"city", ""},        {"dependentLocality", ""}, {"sortingCode", ""}, {"countryId", ""},
        {"isPostBox", false}};
    address.update(values);
    return address;
}

TEST_F(TesseraWalletCommandsTest, ACheckoutSendsItsResultsToTheServerAndEndsWithTheHostsValues) {
    ASSERT_NO_FATAL_FAILURE(stream());
    wallet_.serveProxyCard("411111", 1234567, 3, 2030);
    start();
    expectHostReadsItsOwn();
    platform::advanceBy(0.19);
    platform::runUntilIdle();
    EXPECT_TRUE(standIn_->requests().empty());
    platform::advanceBy(0.01);
    ASSERT_TRUE(waitForStandInRequests(1));
    const auto& request = standIn_->requests()[0].merchant_request();
    EXPECT_TRUE(request.shipping_address_required());
    EXPECT_FALSE(request.debit_forbidden());
    EXPECT_FALSE(request.prepaid_forbidden());
    EXPECT_FALSE(request.phone_number_required());

    std::vector<json> commands;
    ASSERT_TRUE(drive([&] { return !(commands = walletCommands()).empty(); }));
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0],
              (json{{"c", "tesseraWalletUpdate"},
                    {"p",
                     {{"shippingAddress", emptyAddressWith({{"name", "Erika Muster"},
                                                            {"address1", "Hauptstr. 1"},
                                                            {"address2", "Hinterhaus"},
                                                            {"telephone", "+49 30 1234"},
                                                            {"postalCode", "10115"},
                                                            {"city", "Berlin"},
                                                            {"countryId", "DE"}})},
                      {"billingAddress", ""},
                      {"tesseraTransactionId", "T-1"},
                      {"mail", "buyer@example.com"},
                      {"paymentDescriptions", {"Card ending 1234"}}}}}));

    perform(
        {{"c", "tesseraWalletSendFullWalletRequest"},
         {"p",
          {{"lineItems",
            {lineItem("regular", {{"unitPrice", "2.00"}, {"quantity", "3"}, {"totalPrice", "9"}}),
             lineItem("regular", {{"unitPrice", "2.00"}, {"totalPrice", "4.00"}}),
             lineItem("shipping",
                      {{"unitPrice", "1.00"}, {"quantity", "2"}, {"totalPrice", "3.50"}}),
             lineItem("tax", {{"totalPrice", "1.00"}})}},
           {"currencyCode", "EUR"},
           {"totalPrice", "14.50"},
           {"tesseraTransactionId", "T-1"}}}});
    ASSERT_TRUE(drive([&] { return walletCommands().size() == 2; }));
    EXPECT_EQ(walletCommands()[1], (json{{"c", "tesseraWalletFullWalletResponse"},
                                         {"p",
                                          {{"creditCard",
                                            {{"pan", "4111110000001234"},
                                             {"cvn", "567"},
                                             {"expMonth", 3},
                                             {"expYear", 2030}}}}}}));
    auto sent = fullWalletRequest();
    ASSERT_TRUE(sent);
    ASSERT_EQ(sent->cart().line_items_size(), 4);
    const auto& items = sent->cart().line_items();
    EXPECT_EQ(items[0].unit_price(), "2.00");
    EXPECT_EQ(items[0].quantity(), "3");
    EXPECT_FALSE(items[0].has_total_price());
    EXPECT_EQ(items[1].total_price(), "4.00");  // no quantity: the total price
    EXPECT_FALSE(items[1].has_unit_price());
    EXPECT_EQ(items[2].total_price(), "3.50");
    EXPECT_FALSE(items[2].has_quantity());
    EXPECT_EQ(items[3].total_price(), "1.00");
    EXPECT_TRUE(lent());

    perform({{"c", "tesseraWalletEnd"}, {"p", {{"success", true}}}});
    EXPECT_FALSE(lent());
    expectHostValues();
}

TEST_F(TesseraWalletCommandsTest, ACancelledMaskedWalletReachesThePagesAndGivesTheClientBack) {
    standIn_->setMode(WalletStandInApp::Mode::Silent);
    listeningPage();
    start();
    platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay);
    ASSERT_TRUE(waitForStandInRequests(1));
    platform::Application::shared().becomeActive();  // back without a reply
    EXPECT_EQ(walletErrors(),
              (std::vector<json>{walletError("TesseraWalletErrorBuyerCancelled",
                                             "Buyer has cancelled", "maskedWallet")}));
    expectHostValues();
    EXPECT_TRUE(hostDelegate_->events.empty());
}

TEST_F(TesseraWalletCommandsTest, NonTextCountriesAndClientDataAreSkippedWithALogLine) {
    start({{"clientId", 5}}, {{"allowedShippingCountrySpecifications", {"DE", 5}}});
    EXPECT_TRUE(logged("tesseraWalletStart skips a shipping country that is a number"));
    EXPECT_TRUE(logged("tesseraWalletStart ignores clientData.clientId: a number"));
    platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay);
    ASSERT_TRUE(waitForStandInRequests(1));
    // Without an id (and with an empty secret) the request names no client and asks for
    // no refresh token.
    EXPECT_FALSE(standIn_->requests()[0].has_oauth_client_id());
    EXPECT_FALSE(standIn_->requests()[0].request_preauth_refresh_token());
    const auto& request = standIn_->requests()[0].merchant_request();
    ASSERT_EQ(request.allowed_shipping_spec_by_country_size(), 1);
    EXPECT_EQ(request.allowed_shipping_spec_by_country(0).country_code(), "DE");
}

TEST_F(TesseraWalletCommandsTest, TheEndPassesTheStatusOfItsWordOrNothing) {
    const std::pair<json, const char*> ends[] = {
        {{{"success", false}}, nullptr},
        {{{"success", false}, {"errorReason", "BadCvc"}}, nullptr},
        {{{"success", false}, {"errorReason", "badCvc"}, {"errorReasonDetailed", "x"}}, "3"},
        {{{"success", 0}, {"errorReason", "unknown"}}, "7"},
        {{{"success", "yes"}}, nullptr},  // refused by validation
    };
    for (const auto& [parameters, status] : ends) {
        start();
        perform({{"c", "tesseraWalletEnd"}, {"p", parameters}});
        EXPECT_EQ(lent(), status == nullptr) << parameters.dump();
        if (status) {
            EXPECT_TRUE(logged(
                std::string("MVTesseraWallet notifies Tessera with Transactionstatus: ") + status));
        }
        perform({{"c", "tesseraWalletEnd"}, {"p", {{"success", true}}}});
        expectHostValues();
    }
}

}  // namespace
