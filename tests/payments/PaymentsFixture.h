#pragma once
// Shared fixture of the payment tests: the payment commands installed, the loopback
// API connection ready to start, a main bundle "abc" with the wallet's resources, the
// loopback wallet server (both environments' configurations list the stand-in wallet
// application), the stand-in itself, and a host application that drives the shared
// wallet client with its own delegate, id, secret and environment (hostEnvironment_,
// set before SetUp), and the loopback API peer that receives the results as commands.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>

#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/bridge/MVEventDispatcher.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "libmerovane/payments/MVPayments.h"
#include "libmerovane/payments/MVTesseraWallet.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/TestDriver.h"
#include "platform/foundation/URL.h"
#include "tests/support/ApiConnectionTest.h"
#include "tests/support/HeadlessPageModel.h"
#include "tests/support/MVWebViewTestSupport.h"
#include "tests/support/WalletStandInApp.h"
#include "tests/support/WalletTestServer.h"
#include "tests/wallet/WalletClientFixture.h"
#include "wallet/TBXHTTPFetcher.h"
#include "wallet/TWAWalletClient.h"

class PaymentsFixture : public ApiConnectionTest {
  protected:
    static constexpr const char* kHostId = "host-id";
    static constexpr const char* kHostSecret = "host-secret";

    void SetUp() override {
        ApiConnectionTest::SetUp();
        MVErrorLogger::clearReports();
        registerCommandHandlerClasses();
        MVPayments::install();
        TBXHTTPFetcher::setRetriesAllowed(false);
        home_->write("App/Info.json", R"({"CFBundleIdentifier": "abc",
            "CFBundleShortVersionString": "2.1", "CFBundleVersion": "210"})");
        std::filesystem::copy(MV_WALLET_RESOURCE_BUNDLE_DIR,
                              home_->file("App/TesseraWalletSDK.bundle"),
                              std::filesystem::copy_options::recursive);
        platform::Bundle::setMainBundlePathForTesting(home_->file("App"));
        for (const char* suffix : {"sandbox", "prod"})
            wallet_.serveConfiguration(suffix, WalletStandInApp::configuration());
        standIn_.emplace();
        standIn_->setResponse(standInResponse());
        client_ = TWAWalletClient::sharedInstance();
        client_->setDelegate(hostDelegate_);
        client_->setClientId(kHostId);
        client_->setClientSecret(kHostSecret);
        client_->setEnvironment(hostEnvironment_);
        platform::runUntilIdle();  // the client's callback check
    }
    void TearDown() override {
        page_.reset();
        client_.reset();
        standIn_.reset();
        TBXHTTPFetcher::setRetriesAllowed(true);
        ApiConnectionTest::TearDown();
    }

    // A masked wallet with a shipping address of two lines and no billing address.
    static walletproto::OWIIosNativeGetMaskedWalletResponse standInResponse() {
        walletproto::OWIIosNativeGetMaskedWalletResponse response;
        auto* masked = response.mutable_merchant_response();
        masked->set_tessera_transaction_id("T-1");
        masked->add_payment_description("Card ending 1234");
        auto* shipping = masked->mutable_shipping_address();
        shipping->set_phone_number("+49 30 1234");
        auto* postal = shipping->mutable_postal_address();
        postal->set_recipient_name("Erika Muster");
        postal->add_address_line("Hauptstr. 1");
        postal->add_address_line("Hinterhaus");
        postal->set_locality_name("Berlin");
        postal->set_postal_code_number("10115");
        postal->set_country_name_code("DE");
        response.set_buyer_email("buyer@example.com");
        response.set_full_wallet_access_token("access-1");
        response.set_full_wallet_extra_info("fw-extra");
        return response;
    }
    static void perform(const nlohmann::json& command, const char* version = "1.0") {
        MVCommandHandler::performCommandsFromCommandCollection(
            {{"ver", version}, {"cmds", nlohmann::json::array({command})}}, nullptr);
    }
    static void start(nlohmann::json clientData = {{"clientId", "page-id"},
                                                   {"clientSecret", "page-secret"}},
                      nlohmann::json extra = nlohmann::json::object()) {
        extra["currencyCode"] = "EUR";
        if (!extra.contains("totalPrice")) extra["totalPrice"] = "12.50";
        extra["clientData"] = std::move(clientData);
        perform({{"c", "tesseraWalletStart"}, {"p", extra}});
    }
    // A page registered for "tesseraWalletError" whose model records what it receives.
    void listeningPage() {
        page_ = MVWebView::create(platform::Rect(0, 0, 320, 480));
        pageModel_ = HeadlessPageModel::attach(headlessEngineOf(*page_));
        pageModel_->settings.library = true;
        page_->loadHTMLString("<p/>", platform::URL::parse("https://shop.example/checkout"));
        platform::advanceBy(0.1);
        MVEventDispatcher::sharedDispatcher().registerWebView(page_, {"tesseraWalletError"});
    }
    std::vector<nlohmann::json> walletErrors() {
        platform::advanceBy(0.01);
        std::vector<nlohmann::json> errors;
        for (const auto& event : pageModel_->events())
            if (event.name == "tesseraWalletError") errors.push_back(event.parameters);
        return errors;
    }
    static nlohmann::json walletError(const char* name, const std::string& description,
                                      const char* occurrence) {
        return nlohmann::json::array(
            {{{"error", name}, {"errorDescription", description}, {"occurrence", occurrence}}});
    }
    // The client is the host's again and works with the host's values.
    void expectHostValues() {
        EXPECT_FALSE(client_->isLent());
        EXPECT_EQ(client_->delegate(), hostDelegate_);
        EXPECT_EQ(client_->clientId(), kHostId);
        EXPECT_EQ(client_->clientSecret(), kHostSecret);
        EXPECT_EQ(client_->environment(), hostEnvironment_);
    }
    // While a page holds the client, every public read answers the host's own (`id`,
    // `secret`, `environment`, its delegate) and nothing of the page's: no transaction,
    // no exchange, no preauthorization of the page's id.
    void expectHostReadsItsOwn(const char* id = kHostId, const char* secret = kHostSecret,
                               std::optional<int32_t> environment = std::nullopt,
                               std::shared_ptr<TWAWalletClientDelegate> delegate = nullptr) {
        EXPECT_TRUE(client_->isLent());
        EXPECT_EQ(client_->delegate(), delegate ? delegate : hostDelegate_);
        EXPECT_EQ(client_->clientId(), id);
        EXPECT_EQ(client_->clientSecret(), secret);
        EXPECT_EQ(client_->environment(), environment.value_or(hostEnvironment_));
        EXPECT_EQ(client_->transactionContext(), nullptr);
        EXPECT_EQ(client_->interAppCommunicator(), nullptr);
        const auto record = client_->preauthDictionary();
        EXPECT_TRUE(!record || record->value("client_id", "") == id) << record->dump();
        EXPECT_EQ(client_->preauthRefreshToken().has_value(), record.has_value());
        EXPECT_EQ(client_->preauthExtraInfo().has_value(), record.has_value());
    }
    bool lent() { return MVTesseraWallet::sharedController()->isLibSidedPaymentProcessAtPresent(); }

    // Each request carries one packet and ends when its body has.
    void stream() {
        peer_.setResponder([](const peer::PeerEvent& event) {
            using peer::PeerAction;
            if (event.kind == peer::PeerEvent::Kind::RequestHead)
                return std::vector{PeerAction::head(peer::ResponseHead::ok({}))};
            if (event.kind == peer::PeerEvent::Kind::BodyEnded)
                return std::vector{PeerAction::lastChunk(), PeerAction::endOfStream()};
            return std::vector<PeerAction>{};
        });
        auto& connection = startConnection(peerUrl(peer_));
        connection.setIsAllowedToReadCommands(true);
        ASSERT_TRUE(waitFor([&] { return connection.state() == MVApiConnectionStateStreaming; }));
    }
    // Real I/O and the manual clock by turns (the wallet server, the batching of the
    // connection) until `done`.
    static bool drive(const std::function<bool()>& done) {
        for (int i = 0; i < 400; ++i) {
            if (platform::runUntil(done, 0.05)) return true;
            platform::advanceBy(0.01);
        }
        return done();
    }
    // The wallet commands the peer received so far.
    std::vector<nlohmann::json> walletCommands() {
        std::vector<nlohmann::json> commands;
        for (const auto& packet : peer_.packets())
            for (const auto& command : packet.decoded.value.value("cmds", nlohmann::json::array()))
                if (command.value("c", "").rfind("tesseraWallet", 0) == 0)
                    commands.push_back(command);
        return commands;
    }
    bool waitForStandInRequests(size_t count) {
        return waitFor([&] { return standIn_->requests().size() >= count; });
    }

    int32_t hostEnvironment_ = 1;
    peer::ApiPeer peer_;
    WalletTestServer wallet_;
    std::optional<WalletStandInApp> standIn_;
    std::shared_ptr<TWAWalletClient> client_;
    std::shared_ptr<RecordingWalletClientDelegate> hostDelegate_ =
        std::make_shared<RecordingWalletClientDelegate>();
    // Another delegate of the host's.
    std::shared_ptr<RecordingWalletClientDelegate> otherHostDelegate_ =
        std::make_shared<RecordingWalletClientDelegate>();
    std::shared_ptr<MVWebView> page_;
    std::shared_ptr<HeadlessPageModel> pageModel_;
};
