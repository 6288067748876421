#pragma once
// A web cache for tests: records every lookup and removal, and answers lookups as the
// test scripts them, at once or later from the test (answerPending), on the main thread
// or from another thread.
//
//   auto cache = FakeWebCache::install();
//   cache->setPage("mv-api-page:home", "<p>home</p>", "https://shop.example/home");
//   webView->openUrl("mvapi:home");
//   platform::runUntilIdle();

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "libmerovane/bridge/MVWebCacheInterface.h"
#include "platform/foundation/Error.h"

class FakeWebCache : public MVWebCacheInterface {
  public:
    // A new fake installed as the shared web cache.
    static std::shared_ptr<FakeWebCache> install();

    // How a key is answered. By default a stored entry answers at once with
    // (fromMemory, reloadPending false); a key without an entry fails with code 404.
    struct Script {
        std::string body;
        nlohmann::json info = nlohmann::json::object();
        bool fromMemory = true;
        // Answer first with the data as stale (reload pending), then finally.
        bool staleFirst = false;
        // Keep the answer until answerPending().
        bool deferred = false;
        std::optional<platform::Error> error;
    };

    void setPage(const std::string& key, std::string body, std::string baseUrl,
                 std::string mimeType = "text/html");
    void setScript(const std::string& key, Script script);
    void setShadowMode(bool on) { shadowMode_ = on; }

    // Answers the deferred lookups, oldest first; `fromThread` answers from a worker thread.
    void answerPending(bool fromThread = false);

    void dataForKey(const std::string& key, WhenAvailable whenAvailable,
                    WhenLoadingStarts whenLoadingStarts, WhenFailed whenFailed) override;
    void clearCacheForKey(const std::string& key) override;
    bool isShadowModeEnabled() const override { return shadowMode_; }
    void clearCache() override {
        ++clearCacheCount;
        if (onClearCache) onClearCache();
    }
    bool isCachingEnabled() const override { return cachingEnabled; }
    // True for a key with a script that does not fail.
    bool isCachedDataAvailableForKey(const std::string& key) override {
        auto found = scripts_.find(key);
        return found != scripts_.end() && !found->second.error;
    }

    std::vector<std::string> lookups;
    std::vector<std::string> clearedKeys;
    int clearCacheCount = 0;
    std::function<void()> onClearCache;  // runs inside clearCache()
    bool cachingEnabled = true;

  private:
    struct Pending {
        Script script;
        WhenAvailable whenAvailable;
        WhenFailed whenFailed;
    };
    static void answer(const Pending& pending);

    std::map<std::string, Script> scripts_;
    std::deque<Pending> pending_;
    bool shadowMode_ = false;
};
