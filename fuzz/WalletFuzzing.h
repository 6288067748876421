#pragma once
// What the wallet fuzz targets share: a run folder of their own (bundle, keychain),
// removed at exit; a main bundle "abc"; no line logged; no request leaving the machine;
// a preset configuration that lists a wallet application under kWalletScheme, whose
// scheme the application can open.
//
//   static auto ready = (setUpWalletFuzzing("/tmp/fuzz-wallet-x-XXXXXX"), true);
//   ... TWABackgroundTask::stopBackgroundTaskIfRunning(); resetApplicationForWalletFuzzing();

#include <google/protobuf/stubs/logging.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz/FuzzRunFolder.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Log.h"
#include "platform/ui/Application.h"
#include "wallet/TBXHTTPFetcher.h"
#include "wallet/TWABackgroundTask.h"
#include "wallet/TWAClientConfig.h"
#include "wallet/TWAClientSDKTransactionContext.h"

namespace walletfuzzing {

inline constexpr const char* kWalletScheme = "fuzz-wallet";

class NullLogger : public platform::log::Logger {
    void logMessage(const platform::log::Message&) override {}
};

inline void registerWalletScheme() {
    platform::Application::shared().registerURLSchemeForTesting(kWalletScheme,
                                                                [](const platform::URL&) {});
}

// `pattern` ends in "XXXXXX" (mkdtemp).
inline const std::string& runRoot(const char* pattern = "/tmp/fuzz-wallet-XXXXXX") {
    return fuzzing::runFolder(pattern);
}

inline void setUpWalletFuzzing(const char* pattern) {
    platform::Clock::installManual();
    google::protobuf::SetLogHandler(nullptr);
    platform::log::addLogger(std::make_shared<NullLogger>(), platform::log::kAllLevels);
    const std::string& root = runRoot(pattern);
    std::filesystem::create_directories(root + "/App");
    std::ofstream(root + "/App/Info.json") << R"({"CFBundleIdentifier": "abc"})";
    platform::Bundle::setMainBundlePathForTesting(root + "/App");
    // Nothing may leave the machine: a request finds no server.
    TBXHTTPFetcher::setRetriesAllowed(false);
    TWAClientSDKTransactionContext::setWalletServerOrigins("http://127.0.0.1:9",
                                                           "http://127.0.0.1:9");
    TWAClientConfig::setConfigHost("http://127.0.0.1:9");
    walletproto::OWIOnlineWalletIosConfig config;
    config.set_wallet_availability(walletproto::OWIOnlineWalletIosConfig::AVAILABLE);
    config.add_url_schemes()->set_url_scheme(kWalletScheme);
    TWAClientConfig::setPresetConfigForTesting(config);
    registerWalletScheme();
}

// The application remembers every URL it opened: start it afresh, so that no input
// leaves memory behind.
inline void resetApplicationForWalletFuzzing() {
    TWABackgroundTask::stopBackgroundTaskIfRunning();
    platform::Application::shared().resetForTesting();
    registerWalletScheme();
}

}  // namespace walletfuzzing
