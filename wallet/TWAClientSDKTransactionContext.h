#pragma once
// The state of one wallet transaction: its environment and wallet server origin, the
// merchant's masked-wallet request, what the wallet answered to it, the full-wallet
// request under way and the transaction's keys.
//
// The wallet server's origins are configuration: environment 2 takes the production
// origin, every other value the sandbox one. Both can be replaced (tests point them at
// a loopback server); a context reads them when it is made.

#include "wallet/TWACrypto.h"
#include "wallet/TWAFullWalletRequest.h"
#include "wallet/TWAMaskedWalletRequest.h"
#include "wallet/TWAServerCommunicatorContext.h"

class TWAClientSDKTransactionContext : public TWAObject, public TWAServerCommunicatorContext {
  public:
    static constexpr const char* kDefaultProductionOrigin = "https://wallet.tessera.example";
    static constexpr const char* kDefaultSandboxOrigin = "https://sandbox.wallet.tessera.example";
    static constexpr int32_t kEnvironmentProduction = 2;

    static int32_t codingVersion() { return 1; }
    // Replaces the origins; the reset between tests puts the defaults back.
    static void setWalletServerOrigins(std::string production, std::string sandbox);

    // A precondition violation: logs the assertion line and makes a sandbox context
    // without a request.
    static std::shared_ptr<TWAClientSDKTransactionContext> create();
    static std::shared_ptr<TWAClientSDKTransactionContext> create(
        int32_t environment, std::shared_ptr<TWAMaskedWalletRequest> merchantMaskedWalletRequest);
    // Not archived: the two flags, the full-wallet request and the origin.
    static std::shared_ptr<TWAClientSDKTransactionContext> createWithCoder(
        const TWAKeyedArchive& coder);

    int32_t environment() const override { return environment_; }
    const std::string& owBaseUrl() const override { return owBaseUrl_; }
    const std::shared_ptr<TWAMaskedWalletRequest>& merchantMaskedWalletRequest() const {
        return merchantMaskedWalletRequest_;
    }
    void setMerchantMaskedWalletRequest(std::shared_ptr<TWAMaskedWalletRequest> v) {
        merchantMaskedWalletRequest_ = std::move(v);
    }
    const TWAText& tesseraTransactionId() const { return tesseraTransactionId_; }
    void setTesseraTransactionId(const TWAText& v) { tesseraTransactionId_ = v; }
    const TWAText& fullWalletExtraInfo() const { return fullWalletExtraInfo_; }
    void setFullWalletExtraInfo(const TWAText& v) { fullWalletExtraInfo_ = v; }
    const TWAText& fullWalletAccessToken() const { return fullWalletAccessToken_; }
    void setFullWalletAccessToken(const TWAText& v) { fullWalletAccessToken_ = v; }
    const TWAText& buyerEmail() const { return buyerEmail_; }
    void setBuyerEmail(const TWAText& v) { buyerEmail_ = v; }
    bool fullWalletInProgress() const { return fullWalletInProgress_; }
    void setFullWalletInProgress(bool v) { fullWalletInProgress_ = v; }
    bool openURLInProgress() const { return openURLInProgress_; }
    void setOpenURLInProgress(bool v) { openURLInProgress_ = v; }
    const std::shared_ptr<TWAFullWalletRequest>& fullWalletRequest() const {
        return fullWalletRequest_;
    }
    void setFullWalletRequest(std::shared_ptr<TWAFullWalletRequest> v) {
        fullWalletRequest_ = std::move(v);
    }
    const std::shared_ptr<TWACrypto>& cryptor() const { return cryptor_; }
    void setCryptor(std::shared_ptr<TWACrypto> v) { cryptor_ = std::move(v); }

    void encodeWithCoder(TWAKeyedArchive& coder) const;
    TWAKeyedArchive::ArchivePtr archived() const { return TWAArchived(*this); }

    // Leave out openURLInProgress and the origin.
    bool isEqual(const TWAObject* other) const override;
    uint64_t hash() const override;
    std::string descriptionWithLocale(const std::optional<std::string>& locale,
                                      unsigned indent) const override;

  protected:
    TWAClientSDKTransactionContext() = default;

  private:
    int32_t environment_ = 0;
    std::string owBaseUrl_;
    std::shared_ptr<TWAMaskedWalletRequest> merchantMaskedWalletRequest_;
    TWAText tesseraTransactionId_;
    TWAText fullWalletExtraInfo_;
    TWAText fullWalletAccessToken_;
    TWAText buyerEmail_;
    bool fullWalletInProgress_ = false;
    bool openURLInProgress_ = false;
    std::shared_ptr<TWAFullWalletRequest> fullWalletRequest_;
    std::shared_ptr<TWACrypto> cryptor_;
};
