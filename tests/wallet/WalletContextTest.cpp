// The transaction context: origin by environment, coding, equality and hash.
#include <gtest/gtest.h>

#include "tests/support/HttpTestServer.h"
#include "tests/support/PlatformTest.h"
#include "wallet/TWAClientSDKTransactionContext.h"

namespace {
using WalletContextTest = PlatformTest;

std::shared_ptr<TWAClientSDKTransactionContext> filledContext(int32_t environment) {
    auto request = TWAMaskedWalletRequest::create("EUR", "9.99");
    request->setCart(TWACart::create("EUR", "9.99", std::nullopt));
    auto context = TWAClientSDKTransactionContext::create(environment, request);
    context->setTesseraTransactionId("t-1");
    context->setFullWalletExtraInfo("extra");
    context->setFullWalletAccessToken("token");
    context->setBuyerEmail("ann@example.com");
    return context;
}
}  // namespace

TEST_F(WalletContextTest, OriginFollowsTheEnvironment) {
    for (auto [environment, origin] :
         {std::pair{0, TWAClientSDKTransactionContext::kDefaultSandboxOrigin},
          std::pair{1, TWAClientSDKTransactionContext::kDefaultSandboxOrigin},
          std::pair{2, TWAClientSDKTransactionContext::kDefaultProductionOrigin},
          std::pair{-5, TWAClientSDKTransactionContext::kDefaultSandboxOrigin}}) {
        auto context = TWAClientSDKTransactionContext::create(environment, nullptr);
        EXPECT_EQ(context->environment(), environment);
        EXPECT_EQ(context->owBaseUrl(), origin);
    }
    HttpTestServer server;
    TWAClientSDKTransactionContext::setWalletServerOrigins("https://prod.invalid",
                                                           server.baseURL());
    EXPECT_EQ(TWAClientSDKTransactionContext::create(1, nullptr)->owBaseUrl(), server.baseURL());
    EXPECT_EQ(TWAClientSDKTransactionContext::create(2, nullptr)->owBaseUrl(),
              "https://prod.invalid");
}

TEST_F(WalletContextTest, PlainCreateLogsTheAssertion) {
    auto context = TWAClientSDKTransactionContext::create();
    EXPECT_TRUE(logged("TWA_ASSERT false: NO"));
    EXPECT_EQ(context->environment(), 0);
    EXPECT_FALSE(context->merchantMaskedWalletRequest());
    ASSERT_TRUE(context->cryptor());
    EXPECT_FALSE(context->cryptor()->currentEncryptionKey());
}

TEST_F(WalletContextTest, ArchiveRestoresAnEqualContextWithTheSameKeys) {
    auto context = filledContext(2);
    auto archive = context->archived();
    EXPECT_EQ(archive->keys(),
              (std::vector<std::string>{"Environment", "MerchantMaskedWalletRequest",
                                        "TesseraTransactionId", "FullWalletExtraInfo",
                                        "FullWalletAccessToken", "BuyerEmail", "Cryptor",
                                        "CodingVersion"}));
    auto restored = TWAClientSDKTransactionContext::createWithCoder(*archive);
    EXPECT_TRUE(restored->isEqual(context.get()));
    EXPECT_EQ(restored->hash(), context->hash());
    EXPECT_EQ(restored->cryptor()->currentEncryptionKey(),
              context->cryptor()->currentEncryptionKey());
    EXPECT_EQ(restored->cryptor()->currentHmacKey(), context->cryptor()->currentHmacKey());
    EXPECT_EQ(restored->owBaseUrl(), TWAClientSDKTransactionContext::kDefaultProductionOrigin);

    // The flags and the full-wallet request are not archived.
    context->setFullWalletInProgress(true);
    context->setFullWalletRequest(TWAFullWalletRequest::create());
    restored = TWAClientSDKTransactionContext::createWithCoder(*context->archived());
    EXPECT_FALSE(restored->fullWalletInProgress());
    EXPECT_FALSE(restored->fullWalletRequest());
    EXPECT_FALSE(restored->isEqual(context.get()));

    TWAKeyedArchive keyless;
    keyless.encodeInt32("Environment", 1);
    EXPECT_TRUE(TWAClientSDKTransactionContext::createWithCoder(keyless)->cryptor());
}

TEST_F(WalletContextTest, OpenURLInProgressTakesNoPartInEqualityOrHash) {
    auto a = filledContext(0);
    auto b = TWAClientSDKTransactionContext::createWithCoder(*a->archived());
    b->setOpenURLInProgress(true);
    EXPECT_TRUE(a->isEqual(b.get()));
    EXPECT_EQ(a->hash(), b->hash());

    uint64_t expected = 1;
    auto& c = *a;
    for (uint64_t part :
         {c.merchantMaskedWalletRequest()->hash(), TWAHashOf(c.tesseraTransactionId()),
          TWAHashOf(c.fullWalletExtraInfo()), TWAHashOf(c.fullWalletAccessToken()),
          TWAHashOf(c.buyerEmail()), uint64_t{0}, c.cryptor()->hash(), uint64_t{0}, uint64_t{1237}})
        expected = expected * 31 + part;
    EXPECT_EQ(a->hash(), expected);

    b->setFullWalletInProgress(true);
    EXPECT_FALSE(a->isEqual(b.get()));
}
