// The server communicator against the loopback wallet server: paths, headers, bodies,
// the completion handler's branches and the one-time-pad full wallet; the roads over
// the wire in plain http and over TLS.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/TestDriver.h"
#include "platform/foundation/URLErrors.h"
#include "tests/support/PlatformTest.h"
#include "tests/support/TempDir.h"
#include "tests/support/WalletTestServer.h"
#include "wallet/TWAClientSDKTransactionContext.h"
#include "wallet/TWAError.h"
#include "wallet/TWAServerCommunicator.h"

namespace {

constexpr double kServerIO = 20.0;

struct FullWalletOutcome {
    bool called = false;
    std::shared_ptr<walletproto::OWBenderGetFullWalletResponse> answer;
    std::shared_ptr<TWAProxyCard> card;
    TWAServerCommunicator::ErrorMessagePtr errorMessage;
    std::optional<platform::Error> error;
};

class WalletServerCommunicatorTest : public PlatformTest {
  protected:
    explicit WalletServerCommunicatorTest(HttpTestServer::Options options = {})
        : wallet_(options) {}
    void SetUp() override {
        PlatformTest::SetUp();
        TBXHTTPFetcher::setRetriesAllowed(false);
        bundle_.write("Info.json", R"({"CFBundleIdentifier": "com.example.shop",
            "CFBundleShortVersionString": "2.1", "CFBundleVersion": "210"})");
        platform::Bundle::setMainBundlePathForTesting(bundle_.path());
        context_ = TWAClientSDKTransactionContext::create(0, nullptr);
        setPad(0x1f);
    }
    void TearDown() override {
        TWAServerCommunicator::setRandomSourceForTesting(nullptr);
        TBXHTTPFetcher::setRetriesAllowed(true);
        PlatformTest::TearDown();
    }
    // The random source yields `pad` with noise in the 16 bits the pad clears.
    static void setPad(uint64_t pad) {
        TWAServerCommunicator::setRandomSourceForTesting([pad](uint64_t& value, int&) {
            value = pad | 0xabcd000000000000ULL;
            return true;
        });
    }
    FullWalletOutcome fullWallet(std::optional<std::string> token = std::nullopt) {
        walletproto::OWIosGetFullWalletRequest request;
        request.set_merchant_transaction_id("m-1");
        request.set_version("v");
        auto outcome = std::make_shared<FullWalletOutcome>();
        auto callback = [outcome](auto answer, auto card, auto errorMessage, auto error) {
            EXPECT_FALSE(outcome->called) << "called twice";
            *outcome = {true, answer, card, errorMessage, error};
        };
        if (token)
            communicator_->clientFrameworkGetFullWallet(request, token, *context_, callback);
        else
            communicator_->getFullWallet(request, *context_, callback);
        EXPECT_FALSE(outcome->called);
        EXPECT_TRUE(platform::runUntil([&] { return outcome->called; }, kServerIO));
        return *outcome;
    }

    TempDir bundle_;
    WalletTestServer wallet_;
    std::shared_ptr<TWAClientSDKTransactionContext> context_;
    std::shared_ptr<TWAServerCommunicator> communicator_ = TWAServerCommunicator::create();
};

// The same in plain http and over TLS with the test root trusted.
class WalletServerRoadTest : public WalletServerCommunicatorTest,
                             public ::testing::WithParamInterface<bool> {
  protected:
    WalletServerRoadTest() : WalletServerCommunicatorTest({.tls = GetParam()}) {}
};

TEST_P(WalletServerRoadTest, OneTimePadRoadJoinsTheCard) {
    wallet_.serveProxyCard("411111", 1234567, 3, 2030);
    auto outcome = fullWallet();
    ASSERT_TRUE(outcome.card);
    EXPECT_EQ(outcome.card->pan(), "4111110000001234");
    EXPECT_EQ(outcome.card->cvn(), "567");
    EXPECT_EQ(outcome.card->expirationDate(), (TWADateComponents{3, 2030}));
    EXPECT_FALSE(outcome.error);
    EXPECT_EQ(outcome.answer->rest(), "12d698");

    auto request = wallet_.lastRequest(WalletTestServer::kFullWalletPath);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->target, std::string(WalletTestServer::kFullWalletPath) + "?s7e=otp");
    auto form = WalletTestServer::formFields(*request);
    EXPECT_EQ(form["otp"], "30:1f");
    EXPECT_EQ(request->body.rfind("otp=30%3A1f&request=", 0), 0u) << request->body;
    auto sent = WalletTestServer::formRequest<walletproto::OWIosGetFullWalletRequest>(*request);
    ASSERT_TRUE(sent);
    EXPECT_EQ(sent->merchant_transaction_id(), "m-1");
    EXPECT_TRUE(wallet_.faults().empty());
}

TEST_P(WalletServerRoadTest, HeadersGoOutInOrderWithTheBundlesVersion) {
    wallet_.serveProxyCard("411111", 1234567, 3, 2030);
    fullWallet("access-1");
    auto request = wallet_.lastRequest(WalletTestServer::kFullWalletPath);
    ASSERT_TRUE(request);
    std::vector<std::string> ours;
    for (const auto& name : WalletTestServer::headerNames(*request))
        if (name == "Content-Type" || name == "Authorization" || name.rfind("X-", 0) == 0)
            ours.push_back(name);
    EXPECT_EQ(ours, (std::vector<std::string>{"Content-Type", "Authorization", "X-Modality",
                                              "X-Version"}));
    EXPECT_EQ(request->header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(request->header("Authorization"), "Bearer access-1");
    EXPECT_EQ(request->header("X-Modality"), "IOS_NATIVE");
    EXPECT_EQ(request->header("X-Version"), "com.example.shop/2.1-210;QuickBuySDK/1.0.0");
}

TEST_F(WalletServerCommunicatorTest, CardTextsThatCannotMakeACard) {
    struct Case {
        const char* iin;
        const char* rest;
        bool card;
    };
    // iin and rest as the server sends them; 0x1f is the pad.
    for (auto c :
         {Case{"411111", "zz", false}, Case{"411111", "", false}, Case{"411111", "0x12d698", true},
          Case{"", "12d698", false}, Case{"411", "12d698", true}, Case{"41", "12d698", false},
          Case{"411111", "1ffffffffffffffff", false}, Case{"411111", "ffffffffffffffff", true}}) {
        SCOPED_TRACE(std::string(c.iin) + " " + c.rest);
        walletproto::OWBenderGetFullWalletResponse response;
        response.set_iin(c.iin);
        response.set_rest(c.rest);
        auto card = TWAServerCommunicator::proxyCardFromResponse(response, 0x1f);
        EXPECT_EQ(static_cast<bool>(card), c.card);
        if (card && std::string(c.rest) == "ffffffffffffffff") {
            EXPECT_EQ(*card->pan() + *card->cvn(),
                      "411111"
                      "18446744073709551584");
        }
    }
    // Over the wire, the error message passes on while no card comes.
    wallet_.serveFullWallet([](uint64_t, const auto&) {
        walletproto::OWBenderGetFullWalletResponse response;
        response.set_iin("411111");
        response.set_rest("zz");
        return response;
    });
    auto outcome = fullWallet();
    EXPECT_TRUE(outcome.answer);
    EXPECT_FALSE(outcome.card);
    EXPECT_FALSE(outcome.errorMessage);  // a 200 answer has none to pass on
    EXPECT_FALSE(outcome.error);
}

TEST_F(WalletServerCommunicatorTest, CompletionHandlerBranches) {
    using TC = TWAServerCommunicator;
    walletproto::OWBenderGetFullWalletResponse answer;
    answer.set_iin("4");
    walletproto::OWRErrorMessage message;
    message.set_error_detail("declined");
    auto bytes = [](const google::protobuf::Message& m) {
        auto s = m.SerializeAsString();
        return std::vector<uint8_t>(s.begin(), s.end());
    };
    auto statusError = [](long status) {
        return platform::Error(kTBXHTTPFetcherStatusDomain, status);
    };
    auto oauth = [](const char* reason) {
        return platform::Error::withUserInfo(kTBXHTTPFetcherStatusDomain, 400,
                                             {{"json", {{"error", reason}}}});
    };
    struct Case {
        const char* name;
        int status;
        std::optional<std::vector<uint8_t>> body;
        std::optional<platform::Error> fetcherError;
        bool answer, errorMessage;
        std::optional<long> code;  // in the HTTP status domain
    };
    std::vector<Case> cases = {
        {"200 answer", 200, bytes(answer), std::nullopt, true, false, std::nullopt},
        {"200 garbage", 200, std::vector<uint8_t>{0xff, 0xff}, std::nullopt, false, false,
         std::nullopt},
        {"401 with body", 401, bytes(answer), statusError(401), true, false, 401},
        {"500 error message", 500, bytes(message), statusError(500), false, true, 500},
        {"200 empty body", 200, std::vector<uint8_t>{}, std::nullopt, false, false, 200},
        {"invalid_grant", 400, std::nullopt, oauth("invalid_grant"), false, false, 401},
        {"unauthorized_client", 400, std::nullopt, oauth("unauthorized_client"), false, false, 401},
        {"other oauth error", 400, std::nullopt, oauth("invalid_scope"), false, false, 400},
        {"transport", 0, std::nullopt, platform::Error(platform::kURLErrorDomain, -1004), false,
         false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        bool called = false;
        TC::handleFetchResult(
            c.status, c.body, c.fetcherError,
            [&](auto a, auto m, auto e) {
                called = true;
                EXPECT_EQ(static_cast<bool>(a), c.answer);
                EXPECT_EQ(static_cast<bool>(m), c.errorMessage);
                ASSERT_EQ(e.has_value(), c.code.has_value());
                if (e) {
                    EXPECT_EQ(e->domain(), kTWAHTTPStatusErrorDomain);
                    EXPECT_EQ(e->code(), *c.code);
                }
            },
            walletproto::OWBenderGetFullWalletResponse::default_instance(),
            walletproto::OWRErrorMessage::default_instance());
        EXPECT_TRUE(called);
    }
    // The underlying error keeps the platform's numbers.
    TC::handleFetchResult(
        0, std::nullopt, platform::Error(platform::kURLErrorDomain, -1004),
        [](auto, auto, auto e) {
            auto under = TWAUnderlyingError(*e);
            ASSERT_TRUE(under);
            EXPECT_EQ(*under, platform::Error(platform::kURLErrorDomain, -1004));
        },
        answer, message);
    TC::handleFetchResult(200, std::nullopt, std::nullopt, nullptr, answer, message);
    EXPECT_TRUE(logged("TWA_ASSERT false: callback"));
}

TEST_P(WalletServerRoadTest, ServerStatusesReachTheCallback) {
    walletproto::OWRErrorMessage message;
    message.mutable_wallet_error()->set_error_type(walletproto::COWWalletError::INVALID_JWT);
    wallet_.respond(WalletTestServer::kFullWalletPath, 500, message);
    auto outcome = fullWallet();
    EXPECT_FALSE(outcome.card);
    ASSERT_TRUE(outcome.errorMessage);
    EXPECT_EQ(outcome.errorMessage->wallet_error().error_type(), 41);
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->code(), 500);
    EXPECT_EQ(TWAUnderlyingError(*outcome.error)->domain(), kTBXHTTPFetcherStatusDomain);

    // An error body nested 100,000 deep is no error message and no crash.
    const std::string deep =
        R"({"a":)" + std::string(100'000, '[') + std::string(100'000, ']') + "}";
    wallet_.http().respond(WalletTestServer::kFullWalletPath,
                           HttpTestServer::Response::text(400, deep, "application/json"));
    outcome = fullWallet();
    EXPECT_FALSE(outcome.errorMessage);
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->code(), 400);
    EXPECT_TRUE(logged("Error body of status 400 not read as JSON"));

    HttpTestServer::Response cut;
    cut.closeWithoutResponse = true;
    wallet_.http().respond(WalletTestServer::kFullWalletPath, cut);
    outcome = fullWallet();
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(TWAUnderlyingError(*outcome.error)->domain(), platform::kURLErrorDomain);
}

TEST_F(WalletServerCommunicatorTest, FailingRandomSourceEndsTheRequest) {
    TWAServerCommunicator::setRandomSourceForTesting([](uint64_t&, int& errorNumber) {
        errorNumber = 5;
        return false;
    });
    auto outcome = fullWallet();
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->domain(), "Server Communicator Error");
    EXPECT_EQ(outcome.error->code(), 5);
    EXPECT_EQ(outcome.error->localizedDescription(), "Error while generating random number");
    EXPECT_EQ(wallet_.requestCount(WalletTestServer::kFullWalletPath), 0u);
    EXPECT_TRUE(logged("TWA_ASSERT false: NO"));
}

TEST_P(WalletServerRoadTest, PreauthorizedMaskedWalletAndRevoke) {
    walletproto::OWIosGetMaskedWalletForPreauthorizedBuyerResponse answer;
    answer.set_buyer_email("ann@example.com");
    wallet_.respond(WalletTestServer::kPreauthorizedPath, 200, answer);
    walletproto::OWIosGetMaskedWalletForPreauthorizedBuyerRequest request;
    request.set_oauth_client_id("client");
    std::shared_ptr<walletproto::OWIosGetMaskedWalletForPreauthorizedBuyerResponse> got;
    bool called = false;
    communicator_->getMaskedWalletForPreauthorizedBuyer(request, "refresh=1", "client", "secret&",
                                                        *context_, [&](auto a, auto m, auto e) {
                                                            called = true;
                                                            got = a;
                                                            EXPECT_FALSE(m);
                                                            EXPECT_FALSE(e);
                                                        });
    ASSERT_TRUE(platform::runUntil([&] { return called; }, kServerIO));
    ASSERT_TRUE(got);
    EXPECT_EQ(got->buyer_email(), "ann@example.com");
    auto sent = wallet_.lastRequest(WalletTestServer::kPreauthorizedPath);
    EXPECT_EQ(sent->query, "s7e=client_secret;refresh_token");
    auto form = WalletTestServer::formFields(*sent);
    EXPECT_EQ(form["client_id"], "client");
    EXPECT_EQ(form["client_secret"], "secret&");
    EXPECT_EQ(form["refresh_token"], "refresh=1");
    auto decoded = WalletTestServer::formRequest<
        walletproto::OWIosGetMaskedWalletForPreauthorizedBuyerRequest>(*sent);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->oauth_client_id(), "client");

    communicator_->clientFrameworkRevokeOAuthRefreshToken("refresh=1");
    ASSERT_TRUE(platform::runUntil(
        [&] { return wallet_.requestCount(WalletTestServer::kRevokePath) == 1; }, kServerIO));
    auto revoke = wallet_.lastRequest(WalletTestServer::kRevokePath);
    EXPECT_EQ(revoke->query, "s7e=token");
    EXPECT_EQ(WalletTestServer::formFields(*revoke)["token"], "refresh=1");
}

TEST_F(WalletServerCommunicatorTest, AServerTheTestRootDidNotSignIsRefused) {
    WalletTestServer stray({.tls = true, .chain = peer::PeerChain::IntermediateOnly});
    stray.serveProxyCard("411111", 1234567, 3, 2030);
    context_ = TWAClientSDKTransactionContext::create(0, nullptr);  // at the stray origin
    auto outcome = fullWallet();
    EXPECT_FALSE(outcome.answer);
    EXPECT_FALSE(outcome.card);
    EXPECT_FALSE(outcome.errorMessage);
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(
        TWAUnderlyingError(*outcome.error),
        platform::Error(platform::kURLErrorDomain, platform::kURLErrorServerCertificateUntrusted));
    EXPECT_EQ(stray.requestCount(WalletTestServer::kFullWalletPath), 0u);
}

TEST_F(WalletServerCommunicatorTest, PathsAndOtpText) {
    EXPECT_EQ(TWAServerCommunicator::getFullWalletPathWithContext(*context_),
              wallet_.origin() + "/online-secure/v2/ios/v1/getFullWallet?s7e=otp");
    EXPECT_EQ(
        TWAServerCommunicator::owS7ePathForTransactionContext(*context_, "e", {"a", "b", "c"}),
        wallet_.origin() + "/online-secure/v2/e?s7e=a;b;c");
    TWAServerCommunicator::owS7ePathForTransactionContext(*context_, "e", {});
    EXPECT_TRUE(logged("TWA_ASSERT false: [parameters count] > 0"));
    EXPECT_EQ(TWAServerCommunicator::otpFieldForPad(0), "30:0");
    EXPECT_EQ(TWAServerCommunicator::otpFieldForPad(0xffffffffffffULL), "30:ffffffffffff");
}

INSTANTIATE_TEST_SUITE_P(Transports, WalletServerRoadTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "TLS" : "Plain"; });

// A TLS wallet server that redirects both roads' posts, for a transaction of each
// environment: elsewhere is a transport error and nothing is sent there; within its
// origin the request is followed.
class WalletServerRedirectTest : public WalletServerCommunicatorTest,
                                 public ::testing::WithParamInterface<int32_t> {
  protected:
    WalletServerRedirectTest() : WalletServerCommunicatorTest({.tls = true}) {}
    void SetUp() override {
        WalletServerCommunicatorTest::SetUp();
        context_ = TWAClientSDKTransactionContext::create(GetParam(), nullptr);
        collector_.respond("/collect", HttpTestServer::Response::text(200, "taken"));
        otherTLS_.respond("/collect", HttpTestServer::Response::text(200, "taken"));
    }
    std::optional<platform::Error> preauthorized() {
        walletproto::OWIosGetMaskedWalletForPreauthorizedBuyerRequest request;
        request.set_oauth_client_id("client");
        bool called = false;
        std::optional<platform::Error> error;
        communicator_->getMaskedWalletForPreauthorizedBuyer(
            request, "refresh-1", "client", "secret-1", *context_, [&](auto, auto, auto e) {
                called = true;
                error = e;
            });
        EXPECT_TRUE(platform::runUntil([&] { return called; }, kServerIO));
        return error;
    }

    HttpTestServer collector_;
    HttpTestServer otherTLS_{{.tls = true}};
};

TEST_P(WalletServerRedirectTest, ARedirectOffTheOriginIsATransportErrorAndSendsNothingThere) {
    const std::string plainTwin = "http" + wallet_.origin().substr(5) + "/collect";
    std::string otherName = wallet_.origin() + "/collect";
    otherName.replace(otherName.find("127.0.0.1"), 9, "localhost");
    const struct {
        int status;
        std::string location;
    } rows[] = {
        {307, collector_.url("/collect")},
        {308, collector_.url("/collect")},
        {307, otherTLS_.url("/collect")},
        {308, plainTwin},
        {302, collector_.url("/collect")},
        {307, otherName},
        {308, otherName},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.status) + " " + row.location);
        for (const char* path :
             {WalletTestServer::kPreauthorizedPath, WalletTestServer::kFullWalletPath}) {
            wallet_.http().respond(path,
                                   HttpTestServer::Response::redirect(row.status, row.location));
            std::optional<platform::Error> error = path == WalletTestServer::kFullWalletPath
                                                       ? fullWallet("access-1").error
                                                       : preauthorized();
            EXPECT_EQ(error ? TWAUnderlyingError(*error) : std::nullopt,
                      platform::Error(platform::kURLErrorDomain,
                                      TBXHTTPFetcher::kURLErrorRedirectOffOrigin));
        }
        EXPECT_EQ(collector_.requestCount("/collect"), 0u);
        EXPECT_EQ(otherTLS_.requestCount("/collect"), 0u);
        EXPECT_EQ(wallet_.requestCount("/collect"), 0u);
    }
    EXPECT_TRUE(logged("Refusing a redirect off the server's origin to " + plainTwin));
}

TEST_P(WalletServerRedirectTest, ARedirectWithinTheOriginIsFollowed) {
    walletproto::OWIosGetMaskedWalletForPreauthorizedBuyerResponse answer;
    answer.set_buyer_email("ann@example.com");
    wallet_.respond("/moved", 200, answer);
    wallet_.http().respond(WalletTestServer::kPreauthorizedPath,
                           HttpTestServer::Response::redirect(307, "/moved"));
    EXPECT_FALSE(preauthorized());
    auto moved = wallet_.lastRequest("/moved");
    ASSERT_TRUE(moved);
    EXPECT_EQ(WalletTestServer::formFields(*moved)["client_secret"], "secret-1");
}

INSTANTIATE_TEST_SUITE_P(Environments, WalletServerRedirectTest, ::testing::Values(1, 2),
                         [](const auto& info) {
                             return "Environment" + std::to_string(info.param);
                         });

}  // namespace
