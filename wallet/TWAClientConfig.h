#pragma once
// The wallet's client configuration for one environment: whether the wallet application
// is available and under which URL schemes, downloaded from the configuration host and
// kept for a day. Askers wait in a list and are answered in the order they asked, with
// the first scheme this device can open now.
//
//   auto config = TWAClientConfig::clientConfigWithEnvironment(2);
//   config->loadURLSchemeWithCallback([](auto scheme, auto error) { ... });
//
// One download at a time; a failed one leaves the configuration held before. Used on
// the main thread; the answers come on the main loop (or at once when fresh).

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Date.h"
#include "platform/foundation/Error.h"
#include "wallet/proto/client_config.pb.h"

class TBXHTTPFetcher;

class TWAClientConfig : public std::enable_shared_from_this<TWAClientConfig> {
  public:
    using URLScheme = std::shared_ptr<const walletproto::OWIURLScheme>;
    using Callback = std::function<void(URLScheme urlScheme, std::optional<platform::Error> error)>;

    static constexpr double kCacheLifetime = 86400;
    static constexpr const char* kDefaultConfigHost = "https://static.wallet.tessera.example";
    static constexpr const char* kConfigPath = "/walletsdk/hgConfig.";

    // The origin that serves the configuration; tests point it at a loopback server.
    static void setConfigHost(std::string origin);
    static std::string configHost();
    // Every configuration made from now on starts with `config`, fresh as of its making
    // (none: they download again). For fuzzing, where no server answers.
    static void setPresetConfigForTesting(
        std::optional<walletproto::OWIOnlineWalletIosConfig> config);

    static std::string configSuffixForEnvironment(int32_t environment);
    static std::shared_ptr<TWAClientConfig> clientConfigWithEnvironment(int32_t environment);
    static std::shared_ptr<TWAClientConfig> createWithConfigSuffix(const std::string& suffix);
    // A precondition violation: logs and takes "sandbox".
    static std::shared_ptr<TWAClientConfig> create();

    const std::string& configURL() const { return configURL_; }
    const std::optional<platform::Date>& lastUpdateDate() const { return lastUpdateDate_; }
    // Tests stand in for a device clock set back, which the manual clock cannot do.
    void setLastUpdateDateForTesting(platform::Date date) { lastUpdateDate_ = date; }
    bool fetchInProgress() const { return fetchInProgress_; }
    const std::shared_ptr<walletproto::OWIOnlineWalletIosConfig>& onlineWalletIosConfig() const {
        return onlineWalletIosConfig_;
    }
    size_t waitingCallbackCount() const { return loadUrlSchemeCallbacks_.size(); }

    void loadURLSchemeWithCallback(Callback callback);
    void updateClientConfig();
    URLScheme urlScheme() const;
    static std::string urlFromScheme(const walletproto::OWIURLScheme& scheme);
    void callLoadUpToDateUrlSchemeCallbacksWithUrlScheme(
        const URLScheme& urlScheme, const std::optional<platform::Error>& error);

  private:
    explicit TWAClientConfig(std::string configURL) : configURL_(std::move(configURL)) {}
    void downloadDidEnd(const std::optional<std::vector<uint8_t>>& data,
                        const std::optional<platform::Error>& error);

    std::string configURL_;
    std::vector<Callback> loadUrlSchemeCallbacks_;
    std::optional<platform::Date> lastUpdateDate_;
    bool fetchInProgress_ = false;
    std::shared_ptr<walletproto::OWIOnlineWalletIosConfig> onlineWalletIosConfig_;
    std::shared_ptr<TBXHTTPFetcher> fetcher_;
};
