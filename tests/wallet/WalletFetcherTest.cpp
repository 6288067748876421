// The wallet library's HTTP fetcher over the loopback server: status errors with their
// body, bounded retries on the manual clock, oversized bodies, the authorizer.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "platform/foundation/TestDriver.h"
#include "platform/foundation/URLErrors.h"
#include "platform/foundation/URLLoadingTestTrust.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/PlatformTest.h"
#include "wallet/TBXHTTPFetcher.h"
#include "wallet/TWAClientSDKTransactionContext.h"
#include "wallet/TWAError.h"
#include "wallet/TWAServerCommunicator.h"

namespace {

constexpr double kIO = 20.0;

struct Outcome {
    bool done = false;
    std::optional<std::vector<uint8_t>> data;
    std::optional<platform::Error> error;
    std::string body() const { return data ? std::string(data->begin(), data->end()) : "<none>"; }
};

class WalletFetcherTest : public PlatformTest {
  protected:
    std::shared_ptr<Outcome> start(const std::string& path, bool retry) {
        return startURL(server_.url(path), retry);
    }
    std::shared_ptr<Outcome> startURL(const std::string& url, bool retry) {
        fetcher_ =
            TBXHTTPFetcher::fetcherWithRequest(platform::URLRequest(*platform::URL::parse(url)));
        fetcher_->setRetryEnabled(retry);
        auto outcome = std::make_shared<Outcome>();
        fetcher_->beginFetchWithCompletionHandler([outcome](auto data, auto error) {
            EXPECT_FALSE(outcome->done) << "called twice";
            *outcome = {true, data, error};
        });
        return outcome;
    }
    HttpTestServer server_;
    std::shared_ptr<TBXHTTPFetcher> fetcher_;
};

TEST_F(WalletFetcherTest, StatusErrorKeepsTheBodyAndOffersJson) {
    server_.respond("/oauth", HttpTestServer::Response::text(400, R"({"error":"invalid_grant"})",
                                                             "application/json"));
    auto outcome = start("/oauth", true);
    ASSERT_TRUE(platform::runUntil([&] { return outcome->done; }, kIO));
    EXPECT_EQ(outcome->body(), R"({"error":"invalid_grant"})");
    ASSERT_TRUE(outcome->error);
    EXPECT_EQ(*outcome->error, platform::Error(kTBXHTTPFetcherStatusDomain, 400));
    EXPECT_EQ(outcome->error->userInfo()["json"]["error"], "invalid_grant");
    EXPECT_EQ(fetcher_->retryCount(), 0);
}

TEST_F(WalletFetcherTest, DeepErrorBodyIsRefusedAsJsonNotACrash) {
    // About 1 MiB: {"a":[[[ ... ]]]} nested far below the parse's limit.
    const size_t levels = 524'000;
    const std::string deep = R"({"a":)" + std::string(levels, '[') + std::string(levels, ']') + "}";
    server_.respond("/deep", HttpTestServer::Response::text(500, deep, "application/json"));
    auto outcome = start("/deep", false);
    ASSERT_TRUE(platform::runUntil([&] { return outcome->done; }, kIO));
    EXPECT_EQ(outcome->data->size(), deep.size());
    ASSERT_TRUE(outcome->error);
    EXPECT_EQ(*outcome->error, platform::Error(kTBXHTTPFetcherStatusDomain, 500));
    EXPECT_FALSE(outcome->error->userInfo().contains("json"));
    EXPECT_TRUE(logged("Error body of status 500 not read as JSON: nested deeper than 512"));
}

TEST_F(WalletFetcherTest, RetriesAreBoundedAndPacedByTheClock) {
    server_.respondOnce("/busy", HttpTestServer::Response::text(503, "busy"));
    server_.respond("/busy", HttpTestServer::Response::text(200, "ok"));
    auto outcome = start("/busy", true);
    ASSERT_TRUE(platform::runUntil([&] { return fetcher_->retryCount() == 1; }, kIO));
    EXPECT_EQ(server_.requestCount("/busy"), 1u);
    platform::advanceBy(TBXHTTPFetcher::kFirstRetryDelay);
    ASSERT_TRUE(platform::runUntil([&] { return outcome->done; }, kIO));
    EXPECT_EQ(outcome->body(), "ok");
    EXPECT_FALSE(outcome->error);

    server_.respond("/down", HttpTestServer::Response::text(502, "down"));
    outcome = start("/down", true);
    for (int retry = 1; retry <= TBXHTTPFetcher::kMaximumRetries; ++retry) {
        ASSERT_TRUE(platform::runUntil([&] { return fetcher_->retryCount() == retry; }, kIO));
        platform::advanceBy(TBXHTTPFetcher::kFirstRetryDelay * (1 << (retry - 1)));
    }
    ASSERT_TRUE(platform::runUntil([&] { return outcome->done; }, kIO));
    EXPECT_EQ(server_.requestCount("/down"), 3u);
    EXPECT_EQ(outcome->error->code(), 502);
    EXPECT_EQ(outcome->body(), "down");

    // Switched off (as the other wallet tests do), a failure answers at once.
    TBXHTTPFetcher::setRetriesAllowed(false);
    outcome = start("/down", true);
    ASSERT_TRUE(platform::runUntil([&] { return outcome->done; }, kIO));
    EXPECT_EQ(fetcher_->retryCount(), 0);
    TBXHTTPFetcher::setRetriesAllowed(true);
}

TEST_F(WalletFetcherTest, EachTransientFailureStatusIsTriedAgainAndNoOther) {
    for (const auto& [status, retried] : {std::pair{408, true},
                                          {502, true},
                                          {503, true},
                                          {504, true},
                                          {500, false},
                                          {404, false}}) {
        SCOPED_TRACE(status);
        const std::string path = "/status-" + std::to_string(status);
        server_.respondOnce(path, HttpTestServer::Response::text(status, "failed"));
        server_.respond(path, HttpTestServer::Response::text(200, "ok"));
        auto outcome = start(path, true);
        ASSERT_TRUE(
            platform::runUntil([&] { return outcome->done || fetcher_->retryCount() == 1; }, kIO));
        EXPECT_EQ(outcome->done, !retried);
        platform::advanceBy(TBXHTTPFetcher::kFirstRetryDelay);
        ASSERT_TRUE(platform::runUntil([&] { return outcome->done; }, kIO));
        EXPECT_EQ(outcome->body(), retried ? "ok" : "failed");
        EXPECT_EQ(server_.requestCount(path), retried ? 2u : 1u);
    }
}

TEST_F(WalletFetcherTest, OversizedBodyIsRefused) {
    server_.respond("/huge", HttpTestServer::Response::text(
                                 200, std::string(TBXHTTPFetcher::kMaximumBodyBytes + 1, 'x')));
    auto outcome = start("/huge", false);
    ASSERT_TRUE(platform::runUntil([&] { return outcome->done; }, kIO));
    EXPECT_FALSE(outcome->data);
    EXPECT_EQ(outcome->error->code(), TBXHTTPFetcher::kURLErrorDataLengthExceedsMaximum);
    EXPECT_TRUE(logged("Response body exceeds"));
}

TEST_F(WalletFetcherTest, UntrustedServerGivesATransportErrorAndNoBody) {
    platform::URLLoadingTestTrust::addAnchorForTesting(peer::TestCertificates::shared().rootDER());
    HttpTestServer stray({.tls = true, .chain = peer::PeerChain::IntermediateOnly});
    stray.respond("/secret", HttpTestServer::Response::text(200, "secret"));
    auto outcome = startURL(stray.url("/secret"), true);
    ASSERT_TRUE(platform::runUntil([&] { return outcome->done; }, kIO));
    EXPECT_FALSE(outcome->data);
    EXPECT_EQ(outcome->error, platform::Error(platform::kURLErrorDomain,
                                              platform::kURLErrorServerCertificateUntrusted));
    EXPECT_EQ(fetcher_->retryCount(), 0);
    EXPECT_EQ(stray.requestCount(), 0u);
}

TEST_F(WalletFetcherTest, RefusingAuthorizerReachesTheCommunicatorAs401) {
    struct Refusing : TBXFetcherAuthorizationProtocol {
        std::string reason;
        std::optional<platform::Error> authorizeRequest(platform::URLRequest&) override {
            return platform::Error::withUserInfo(kTBXHTTPFetcherStatusDomain, 400,
                                                 {{"json", {{"error", reason}}}});
        }
    };
    TWAClientSDKTransactionContext::setWalletServerOrigins(server_.baseURL(), server_.baseURL());
    auto context = TWAClientSDKTransactionContext::create(0, nullptr);
    auto communicator = TWAServerCommunicator::create();
    for (auto [reason, code] : {std::pair{"invalid_grant", 401L}, {"invalid_scope", 0L}}) {
        auto authorizer = std::make_shared<Refusing>();
        authorizer->reason = reason;
        communicator->setAuth(authorizer);
        std::optional<platform::Error> error;
        bool called = false;
        communicator->postProto(walletproto::OWRErrorMessage(), server_.url("/x"),
                                walletproto::OWRErrorMessage::default_instance(),
                                walletproto::OWRErrorMessage::default_instance(),
                                [&](auto, auto, auto e) {
                                    called = true;
                                    error = e;
                                });
        EXPECT_FALSE(called);  // never inside the call
        platform::runUntilIdle();
        ASSERT_TRUE(called);
        EXPECT_EQ(*error, platform::Error(kTWAHTTPStatusErrorDomain, code)) << reason;
    }
    EXPECT_EQ(server_.requestCount(), 0u);
}

}  // namespace
