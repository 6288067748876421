#pragma once
// Shared fixture of the wallet client's tests: a main bundle "abc" with the library's
// resource bundle, the loopback wallet server serving a configuration that lists the
// stand-in wallet application, the stand-in itself and a delegate that records.

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/TestDriver.h"
#include "tests/support/PlatformTest.h"
#include "tests/support/TempDir.h"
#include "tests/support/WalletStandInApp.h"
#include "tests/support/WalletTestServer.h"
#include "wallet/TBXHTTPFetcher.h"
#include "wallet/TWAWalletClient.h"

struct WalletClientEvent {
    enum Kind { MaskedWallet, MaskedWalletFailed, FullWallet, FullWalletFailed, Preauthorized };
    Kind kind;
    std::shared_ptr<TWAMaskedWallet> maskedWallet;
    std::shared_ptr<TWAFullWallet> fullWallet;
    std::optional<platform::Error> error;
    bool preauthorized = false;
};

class RecordingWalletClientDelegate : public TWAWalletClientDelegate {
  public:
    void walletClientDidLoadMaskedWallet(TWAWalletClient&,
                                         std::shared_ptr<TWAMaskedWallet> wallet) override {
        events.push_back({WalletClientEvent::MaskedWallet, wallet, nullptr, std::nullopt});
    }
    void walletClientDidFailToLoadMaskedWallet(TWAWalletClient&,
                                               const platform::Error& error) override {
        events.push_back({WalletClientEvent::MaskedWalletFailed, nullptr, nullptr, error});
    }
    void walletClientDidLoadFullWallet(TWAWalletClient&,
                                       std::shared_ptr<TWAFullWallet> wallet) override {
        events.push_back({WalletClientEvent::FullWallet, nullptr, wallet, std::nullopt});
    }
    void walletClientDidFailToLoadFullWallet(TWAWalletClient&,
                                             const platform::Error& error) override {
        events.push_back({WalletClientEvent::FullWalletFailed, nullptr, nullptr, error});
    }
    void walletClientUserIsPreauthorized(TWAWalletClient&, bool preauthorized) override {
        events.push_back(
            {WalletClientEvent::Preauthorized, nullptr, nullptr, std::nullopt, preauthorized});
    }

    std::vector<WalletClientEvent> events;
};

class WalletClientFixture : public PlatformTest {
  protected:
    static constexpr double kWalletIO = 20.0;

    void SetUp() override {
        PlatformTest::SetUp();
        TBXHTTPFetcher::setRetriesAllowed(false);
        home_.write("App/Info.json", R"({"CFBundleIdentifier": "abc",
            "CFBundleShortVersionString": "2.1", "CFBundleVersion": "210"})");
        std::filesystem::copy(MV_WALLET_RESOURCE_BUNDLE_DIR,
                              home_.file("App/TesseraWalletSDK.bundle"),
                              std::filesystem::copy_options::recursive);
        platform::Bundle::setMainBundlePathForTesting(home_.file("App"));
        wallet_.serveConfiguration("sandbox", WalletStandInApp::configuration());
        standIn_.emplace();
        standIn_->setResponse(standInResponse());
    }
    void TearDown() override {
        standIn_.reset();
        TBXHTTPFetcher::setRetriesAllowed(true);
        PlatformTest::TearDown();
    }

    // The shared client with the delegate, once its callback check came back.
    std::shared_ptr<TWAWalletClient> verifiedClient() {
        auto client = TWAWalletClient::sharedInstance();
        client->setDelegate(delegate_);
        platform::runUntilIdle();
        EXPECT_TRUE(client->isOpenURLVerified());
        return client;
    }
    // Pumps the main loop until the delegate heard `count` calls in all.
    bool waitForEvents(size_t count) {
        return platform::runUntil([&] { return delegate_->events.size() >= count; }, kWalletIO);
    }
    const WalletClientEvent& lastEvent() const { return delegate_->events.back(); }
    std::string lastErrorText() const {
        return lastEvent().error ? lastEvent().error->localizedDescription() : "(no error)";
    }

    static std::shared_ptr<TWAMaskedWalletRequest> maskedRequest() {
        auto request = TWAMaskedWalletRequest::create("USD", "10.00");
        request->setMerchantTransactionId("m-1");
        return request;
    }
    // What the stand-in answers in normal mode.
    static walletproto::OWIIosNativeGetMaskedWalletResponse standInResponse() {
        walletproto::OWIIosNativeGetMaskedWalletResponse response;
        response.mutable_merchant_response()->set_tessera_transaction_id("T-1");
        response.set_buyer_email("buyer@example.com");
        response.set_full_wallet_access_token("access-1");
        response.set_full_wallet_extra_info("fw-extra");
        return response;
    }
    // A masked wallet through the wallet application; false when none came.
    bool loadMaskedWalletThroughStandIn(TWAWalletClient& client) {
        const size_t before = delegate_->events.size();
        client.loadMaskedWallet(maskedRequest());
        return waitForEvents(before + 1) && lastEvent().kind == WalletClientEvent::MaskedWallet;
    }

    TempDir home_;
    WalletTestServer wallet_;
    std::optional<WalletStandInApp> standIn_;
    std::shared_ptr<RecordingWalletClientDelegate> delegate_ =
        std::make_shared<RecordingWalletClientDelegate>();
};
