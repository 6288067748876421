#include "wallet/TWAClientConfig.h"

#include <mutex>

#include "platform/foundation/SharedInstances.h"
#include "platform/foundation/URL.h"
#include "platform/ui/Application.h"
#include "wallet/TBXHTTPFetcher.h"
#include "wallet/TWADate.h"
#include "wallet/TWAError.h"
#include "wallet/TWALog.h"
#include "wallet/TWAWalletErrorConverter.h"

namespace {

struct Host {
    std::mutex mutex;
    std::string origin = TWAClientConfig::kDefaultConfigHost;
    std::optional<walletproto::OWIOnlineWalletIosConfig> preset;
};

Host& host() {
    static auto* instance = [] {
        auto* h = new Host();
        platform::registerSharedInstanceReset("TWAClientConfig host", [h] {
            std::lock_guard lock(h->mutex);
            h->origin = TWAClientConfig::kDefaultConfigHost;
            h->preset.reset();
        });
        return h;
    }();
    return *instance;
}

}  // namespace

void TWAClientConfig::setConfigHost(std::string origin) {
    std::lock_guard lock(host().mutex);
    host().origin = std::move(origin);
}

std::string TWAClientConfig::configHost() {
    std::lock_guard lock(host().mutex);
    return host().origin;
}

void TWAClientConfig::setPresetConfigForTesting(
    std::optional<walletproto::OWIOnlineWalletIosConfig> config) {
    std::lock_guard lock(host().mutex);
    host().preset = std::move(config);
}

std::string TWAClientConfig::configSuffixForEnvironment(int32_t environment) {
    return environment == 2 ? "prod" : "sandbox";
}

std::shared_ptr<TWAClientConfig> TWAClientConfig::clientConfigWithEnvironment(int32_t environment) {
    return createWithConfigSuffix(configSuffixForEnvironment(environment));
}

std::shared_ptr<TWAClientConfig> TWAClientConfig::createWithConfigSuffix(
    const std::string& suffix) {
    std::shared_ptr<TWAClientConfig> config(
        new TWAClientConfig(configHost() + kConfigPath + suffix));
    std::lock_guard lock(host().mutex);
    if (host().preset) {
        config->onlineWalletIosConfig_ =
            std::make_shared<walletproto::OWIOnlineWalletIosConfig>(*host().preset);
        config->lastUpdateDate_ = TWADate::date();
    }
    return config;
}

std::shared_ptr<TWAClientConfig> TWAClientConfig::create() {
    TWA_LOG("TWA_ASSERT false: {}", "NO");
    return createWithConfigSuffix("sandbox");
}

std::string TWAClientConfig::urlFromScheme(const walletproto::OWIURLScheme& scheme) {
    return scheme.url_scheme() + "://" + scheme.base_url();
}

TWAClientConfig::URLScheme TWAClientConfig::urlScheme() const {
    if (!onlineWalletIosConfig_ || onlineWalletIosConfig_->wallet_availability() !=
                                       walletproto::OWIOnlineWalletIosConfig::AVAILABLE)
        return nullptr;
    for (const auto& scheme : onlineWalletIosConfig_->url_schemes()) {
        auto url = platform::URL::parse(urlFromScheme(scheme));
        if (url && platform::Application::shared().canOpenURL(*url))
            return std::make_shared<const walletproto::OWIURLScheme>(scheme);
    }
    return nullptr;
}

void TWAClientConfig::loadURLSchemeWithCallback(Callback callback) {
    if (!callback) return;
    loadUrlSchemeCallbacks_.push_back(std::move(callback));
    updateClientConfig();
}

void TWAClientConfig::updateClientConfig() {
    if (fetchInProgress_) return;
    auto keepAlive = shared_from_this();  // an answered block may release this object
    if (lastUpdateDate_) {
        double age = TWADate::date().timeIntervalSince(*lastUpdateDate_);
        if (age >= 0 && age <= kCacheLifetime) {
            callLoadUpToDateUrlSchemeCallbacksWithUrlScheme(urlScheme(), std::nullopt);
            return;
        }
    }
    auto url = platform::URL::parse(configURL_);
    if (!url) {
        callLoadUpToDateUrlSchemeCallbacksWithUrlScheme(
            nullptr, TWAWalletErrorConverter::internalErrorWithDescription("Internal Error: 512"));
        return;
    }
    fetchInProgress_ = true;
    fetcher_ = TBXHTTPFetcher::fetcherWithRequest(platform::URLRequest(*url));
    std::weak_ptr<TWAClientConfig> weak = weak_from_this();
    fetcher_->beginFetchWithCompletionHandler(
        [weak](std::optional<std::vector<uint8_t>> data, std::optional<platform::Error> error) {
            if (auto self = weak.lock()) self->downloadDidEnd(data, error);
        });
}

void TWAClientConfig::downloadDidEnd(const std::optional<std::vector<uint8_t>>& data,
                                     const std::optional<platform::Error>& fetchError) {
    fetchInProgress_ = false;
    fetcher_.reset();
    std::optional<platform::Error> error;
    if (fetchError) {
        error = TWAWalletErrorConverter::publicOrInternalErrorWithServerCommunicatorError(
            fetchError, "Internal Error: 512");
    } else if (!data || data->empty()) {
        error = TWAWalletErrorConverter::internalErrorWithDescription("Internal Error: 511");
    } else {
        auto config = std::make_shared<walletproto::OWIOnlineWalletIosConfig>();
        if (!config->ParseFromArray(data->data(), static_cast<int>(data->size()))) {
            TWA_LOG("Client configuration does not parse ({} bytes)", data->size());
            error = TWAWalletErrorConverter::internalErrorWithDescription("Internal Error: 513");
        } else {
            onlineWalletIosConfig_ = std::move(config);
            lastUpdateDate_ = TWADate::date();
        }
    }
    callLoadUpToDateUrlSchemeCallbacksWithUrlScheme(error ? nullptr : urlScheme(), error);
}

void TWAClientConfig::callLoadUpToDateUrlSchemeCallbacksWithUrlScheme(
    const URLScheme& urlScheme, const std::optional<platform::Error>& error) {
    auto callbacks = std::move(loadUrlSchemeCallbacks_);
    loadUrlSchemeCallbacks_.clear();
    // The answered object may be released by a callback; the copy keeps what it needs.
    for (const auto& callback : callbacks) callback(urlScheme, error);
}
