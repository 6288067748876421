// The client configuration against the loopback wallet server, in plain http and over
// TLS: freshness, one download for a queue of askers, errors and the scheme this device
// can open.
#include <gtest/gtest.h>

#include "platform/foundation/TestDriver.h"
#include "platform/ui/Application.h"
#include "tests/support/PlatformTest.h"
#include "tests/support/WalletTestServer.h"
#include "wallet/TBXHTTPFetcher.h"
#include "wallet/TWAClientConfig.h"
#include "wallet/TWADate.h"
#include "wallet/TWAError.h"

namespace {

constexpr double kConfigIO = 20.0;

struct Answer {
    std::string asker;
    std::string scheme;  // "" for none
    std::optional<platform::Error> error;
};

class WalletClientConfigTest : public PlatformTest, public ::testing::WithParamInterface<bool> {
  protected:
    void SetUp() override {
        PlatformTest::SetUp();
        TBXHTTPFetcher::setRetriesAllowed(false);
        config_ = TWAClientConfig::clientConfigWithEnvironment(0);
        serve(walletproto::OWIOnlineWalletIosConfig::AVAILABLE, {"tesserawallet", "tw2"});
        platform::Application::shared().registerURLSchemeForTesting("tw2", [](auto&) {});
    }
    void TearDown() override {
        TBXHTTPFetcher::setRetriesAllowed(true);
        PlatformTest::TearDown();
    }
    void serve(walletproto::OWIOnlineWalletIosConfig::Availability availability,
               std::vector<std::string> schemes) {
        walletproto::OWIOnlineWalletIosConfig config;
        config.set_wallet_availability(availability);
        for (const auto& name : schemes) {
            auto* scheme = config.add_url_schemes();
            scheme->set_url_scheme(name);
            scheme->set_base_url("request");
        }
        wallet_.serveConfiguration("sandbox", config);
    }
    void ask(const std::string& asker) {
        config_->loadURLSchemeWithCallback([this, asker](auto scheme, auto error) {
            answers_.push_back({asker, scheme ? scheme->url_scheme() : "", error});
        });
    }
    // Asks and waits (real time) for the answer.
    Answer askAndWait(const std::string& asker) {
        size_t before = answers_.size();
        ask(asker);
        EXPECT_TRUE(platform::runUntil([&] { return answers_.size() > before; }, kConfigIO));
        return answers_.empty() ? Answer{} : answers_.back();
    }
    size_t downloads() const {
        return wallet_.requestCount(WalletTestServer::configurationPath("sandbox"));
    }

    WalletTestServer wallet_{{.tls = GetParam()}};
    std::shared_ptr<TWAClientConfig> config_;
    std::vector<Answer> answers_;
};

TEST_P(WalletClientConfigTest, ConfigurationURLBySuffix) {
    EXPECT_EQ(config_->configURL(), wallet_.origin() + "/walletsdk/hgConfig.sandbox");
    EXPECT_EQ(TWAClientConfig::clientConfigWithEnvironment(2)->configURL(),
              wallet_.origin() + "/walletsdk/hgConfig.prod");
    EXPECT_EQ(TWAClientConfig::configSuffixForEnvironment(1), "sandbox");
    TWAClientConfig::create();
    EXPECT_TRUE(logged("TWA_ASSERT false: NO"));
}

TEST_P(WalletClientConfigTest, FreshForADayInclusive) {
    auto first = askAndWait("a");
    EXPECT_EQ(first.scheme, "tw2");  // the first scheme the device can open
    EXPECT_FALSE(first.error);
    EXPECT_EQ(downloads(), 1u);
    EXPECT_EQ(wallet_.lastRequest(WalletTestServer::configurationPath("sandbox"))->method, "GET");

    platform::advanceBy(86400);
    ask("b");  // answered at once, from the held configuration
    ASSERT_EQ(answers_.size(), 2u);
    EXPECT_EQ(answers_[1].scheme, "tw2");
    EXPECT_EQ(downloads(), 1u);

    platform::advanceBy(1);
    askAndWait("c");
    EXPECT_EQ(downloads(), 2u);
}

TEST_P(WalletClientConfigTest, AskersDuringADownloadShareIt) {
    ask("first");
    ask("second");
    EXPECT_TRUE(config_->fetchInProgress());
    ASSERT_TRUE(platform::runUntil([&] { return answers_.size() == 2; }, kConfigIO));
    EXPECT_EQ(downloads(), 1u);
    EXPECT_EQ(answers_[0].asker, "first");
    EXPECT_EQ(answers_[1].asker, "second");
    EXPECT_EQ(config_->waitingCallbackCount(), 0u);
    config_->loadURLSchemeWithCallback(nullptr);
    EXPECT_EQ(config_->waitingCallbackCount(), 0u);
}

TEST_P(WalletClientConfigTest, NoSchemeWithoutAnError) {
    serve(walletproto::OWIOnlineWalletIosConfig::UNAVAILABLE, {"tw2"});
    auto unavailable = askAndWait("a");
    EXPECT_EQ(unavailable.scheme, "");
    EXPECT_FALSE(unavailable.error);

    // Available, but no application takes any of the schemes.
    platform::advanceBy(86401);
    serve(walletproto::OWIOnlineWalletIosConfig::AVAILABLE, {"tesserawallet"});
    auto notInstalled = askAndWait("b");
    EXPECT_EQ(notInstalled.scheme, "");
    EXPECT_FALSE(notInstalled.error);
}

TEST_P(WalletClientConfigTest, FailedDownloadsKeepTheHeldConfiguration) {
    askAndWait("good");
    auto held = config_->onlineWalletIosConfig();
    auto date = config_->lastUpdateDate();
    const std::string path = WalletTestServer::configurationPath("sandbox");
    struct Case {
        HttpTestServer::Response response;
        std::string description;
    };
    std::vector<Case> cases = {
        {HttpTestServer::Response::text(200, ""), "Internal Error: 511"},
        {HttpTestServer::Response::text(200, "\xff\xff\xff"), "Internal Error: 513"},
        {HttpTestServer::Response::text(503, "busy"), "Internal Error: 512"},
        // an error body nested 100,000 deep
        {HttpTestServer::Response::text(
             500, "{\"a\":" + std::string(100'000, '[') + std::string(100'000, ']') + "}"),
         "Internal Error: 512"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.description);
        platform::advanceBy(86401);
        wallet_.http().respondOnce(path, c.response);
        auto answer = askAndWait("bad");
        EXPECT_EQ(answer.scheme, "");
        ASSERT_TRUE(answer.error);
        EXPECT_EQ(*answer.error, platform::Error("com.tessera.wallet.sdk", -562));
        EXPECT_EQ(answer.error->localizedDescription(), c.description);
        EXPECT_EQ(config_->onlineWalletIosConfig(), held);
        EXPECT_EQ(config_->lastUpdateDate(), date);
        EXPECT_FALSE(config_->fetchInProgress());
    }
    // A transport error reaches the asker as the platform's error.
    HttpTestServer::RefusingPort refusing;
    TWAClientConfig::setConfigHost(refusing.url(""));
    config_ = TWAClientConfig::clientConfigWithEnvironment(0);
    auto answer = askAndWait("refused");
    ASSERT_TRUE(answer.error);
    EXPECT_EQ(*answer.error, platform::Error(platform::kURLErrorDomain, -1004));
}

TEST_P(WalletClientConfigTest, AFetchDateInTheFutureIsStale) {
    askAndWait("a");
    ASSERT_EQ(downloads(), 1u);
    // As after the device clock was set back: the date held lies a second ahead.
    config_->setLastUpdateDateForTesting(TWADate::date().addingTimeInterval(1));
    auto answer = askAndWait("b");
    EXPECT_EQ(answer.scheme, "tw2");
    EXPECT_EQ(downloads(), 2u);
    EXPECT_EQ(config_->lastUpdateDate(), TWADate::date());
    ask("c");  // a date of now is fresh
    EXPECT_EQ(answers_.size(), 3u);
    EXPECT_EQ(downloads(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Transports, WalletClientConfigTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "TLS" : "Plain"; });

}  // namespace
