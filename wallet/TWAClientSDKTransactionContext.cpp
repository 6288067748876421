#include "wallet/TWAClientSDKTransactionContext.h"

#include <mutex>

#include "platform/foundation/SharedInstances.h"

namespace {

struct Origins {
    std::mutex mutex;
    std::string production = TWAClientSDKTransactionContext::kDefaultProductionOrigin;
    std::string sandbox = TWAClientSDKTransactionContext::kDefaultSandboxOrigin;
};

Origins& origins() {
    static auto* instance = [] {
        platform::registerSharedInstanceReset("TWAClientSDKTransactionContext origins", [] {
            TWAClientSDKTransactionContext::setWalletServerOrigins(
                TWAClientSDKTransactionContext::kDefaultProductionOrigin,
                TWAClientSDKTransactionContext::kDefaultSandboxOrigin);
        });
        return new Origins;
    }();
    return *instance;
}

std::string originFor(int32_t environment) {
    auto& o = origins();
    std::lock_guard lock(o.mutex);
    return environment == TWAClientSDKTransactionContext::kEnvironmentProduction ? o.production
                                                                                 : o.sandbox;
}

}  // namespace

void TWAClientSDKTransactionContext::setWalletServerOrigins(std::string production,
                                                            std::string sandbox) {
    auto& o = origins();
    std::lock_guard lock(o.mutex);
    o.production = std::move(production);
    o.sandbox = std::move(sandbox);
}

std::shared_ptr<TWAClientSDKTransactionContext> TWAClientSDKTransactionContext::create() {
    TWA_LOG("TWA_ASSERT false: {}", "NO");
    return create(0, nullptr);
}

std::shared_ptr<TWAClientSDKTransactionContext> TWAClientSDKTransactionContext::create(
    int32_t environment, std::shared_ptr<TWAMaskedWalletRequest> merchantMaskedWalletRequest) {
    std::shared_ptr<TWAClientSDKTransactionContext> context(new TWAClientSDKTransactionContext);
    context->environment_ = environment;
    context->owBaseUrl_ = originFor(environment);
    context->merchantMaskedWalletRequest_ = std::move(merchantMaskedWalletRequest);
    context->cryptor_ = TWACrypto::instance();
    return context;
}

std::shared_ptr<TWAClientSDKTransactionContext> TWAClientSDKTransactionContext::createWithCoder(
    const TWAKeyedArchive& coder) {
    auto context =
        create(coder.decodeInt32("Environment"),
               TWADecodeObject<TWAMaskedWalletRequest>(coder, "MerchantMaskedWalletRequest"));
    context->tesseraTransactionId_ = coder.decodeText("TesseraTransactionId");
    context->fullWalletExtraInfo_ = coder.decodeText("FullWalletExtraInfo");
    context->fullWalletAccessToken_ = coder.decodeText("FullWalletAccessToken");
    context->buyerEmail_ = coder.decodeText("BuyerEmail");
    // An archive without keys keeps the fresh cryptor rather than leaving none.
    if (auto cryptor = TWADecodeObject<TWACrypto>(coder, "Cryptor")) context->cryptor_ = cryptor;
    return context;
}

void TWAClientSDKTransactionContext::encodeWithCoder(TWAKeyedArchive& coder) const {
    coder.encodeInt32("Environment", environment_);
    coder.encodeArchive("MerchantMaskedWalletRequest", TWAArchiveOf(merchantMaskedWalletRequest_));
    coder.encodeText("TesseraTransactionId", tesseraTransactionId_);
    coder.encodeText("FullWalletExtraInfo", fullWalletExtraInfo_);
    coder.encodeText("FullWalletAccessToken", fullWalletAccessToken_);
    coder.encodeText("BuyerEmail", buyerEmail_);
    coder.encodeArchive("Cryptor", TWAArchiveOf(cryptor_));
    coder.encodeInt32("CodingVersion", codingVersion());
}

bool TWAClientSDKTransactionContext::isEqual(const TWAObject* other) const {
    if (other == this) return true;
    if (!isSameClass(other)) return false;
    auto* o = static_cast<const TWAClientSDKTransactionContext*>(other);
    return environment_ == o->environment_ &&
           TWAEqual(merchantMaskedWalletRequest_, o->merchantMaskedWalletRequest_) &&
           TWAEqual(tesseraTransactionId_, o->tesseraTransactionId_) &&
           TWAEqual(fullWalletExtraInfo_, o->fullWalletExtraInfo_) &&
           TWAEqual(fullWalletAccessToken_, o->fullWalletAccessToken_) &&
           TWAEqual(buyerEmail_, o->buyerEmail_) &&
           fullWalletInProgress_ == o->fullWalletInProgress_ &&
           TWAEqual(fullWalletRequest_, o->fullWalletRequest_) && TWAEqual(cryptor_, o->cryptor_);
}

uint64_t TWAClientSDKTransactionContext::hash() const {
    return TWAHasher()
        .add(merchantMaskedWalletRequest_)
        .add(tesseraTransactionId_)
        .add(fullWalletExtraInfo_)
        .add(fullWalletAccessToken_)
        .add(buyerEmail_)
        .add(fullWalletRequest_)
        .add(cryptor_)
        .add(environment_)
        .add(fullWalletInProgress_)
        .value();
}

std::string TWAClientSDKTransactionContext::descriptionWithLocale(const std::optional<std::string>&,
                                                                  unsigned) const {
    return "<TWAClientSDKTransactionContext>";
}
