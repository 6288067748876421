#pragma once
// The library application as the API connection sees it, configured for tests: a fixed
// user agent and application identifier, a settable default API URL, and a count of
// the wipes of stored state.
//
//   auto host = std::make_shared<TestApiConnectionHost>();
//   host->setDefaultApiPath("http://127.0.0.1:" + std::to_string(peer.port()));
//   MVApiConnection::setHost(host);
//
// Thread-safe.

#include <atomic>
#include <mutex>
#include <string>

#include "libmerovane/connection/MVApiConnectionHost.h"

class TestApiConnectionHost : public MVApiConnectionHost {
  public:
    static constexpr const char* kUserAgent =
        "Mozilla/5.0 (Headless) libmerovane/2.0 (Merovane Test 1 NOAPPLEPAY)";
    static constexpr const char* kAppIdentifier = "test-app-identifier";
    static constexpr const char* kDefaultApiPath = "https://api.example";

    std::string userAgentString() override { return kUserAgent; }
    std::string appIdentifier() override { return kAppIdentifier; }
    void resetApplication() override { ++resets_; }
    std::string defaultApiPath() override;

    void setDefaultApiPath(std::string path);
    int resetCount() const { return resets_; }

  private:
    std::mutex mutex_;
    std::string defaultApiPath_ = kDefaultApiPath;
    std::atomic<int> resets_{0};
};
