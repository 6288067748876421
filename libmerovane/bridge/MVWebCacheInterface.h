#pragma once
// What web views and the library application need of the web cache: the lookup of a
// key with its three answers, removing one key or everything, and whether caching and
// shadow mode are on. Where no cache is installed, callers take caching as on and
// shadow mode as off. The web cache implements it and is
// installed with setShared at start-up; tests install fakes.
//
//   auto cache = MVWebCacheInterface::shared();
//   cache->dataForKey(MVWebCacheKeyWithScheme(pageId, MVWebCacheSchemeApiPage),
//       [](bool fromMemory, bool reloadPending, const auto& data, const auto& info) { ... },
//       [](const auto& dataOnHand) {},
//       [](const platform::Error& error, const auto& data) { ... });
//
// The answers may come inside the call (data on hand) or later, on any thread; a caller
// that needs the final content waits for an answer with reloadPending false.
// Thread-safety: shared and setShared may be called from any thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <vector>

namespace platform {
class Error;
}

class MVWebCacheInterface {
  public:
    // The bytes of an entry; null where there are none.
    using Data = std::shared_ptr<const std::vector<uint8_t>>;
    // `info` is the entry's info dictionary ("mime-type", "base-url", ...).
    using WhenAvailable = std::function<void(bool fromMemory, bool reloadPending, const Data& data,
                                             const nlohmann::json& info)>;
    using WhenLoadingStarts = std::function<void(const Data& dataOnHand)>;
    using WhenFailed = std::function<void(const platform::Error& error, const Data& data)>;

    virtual ~MVWebCacheInterface() = default;

    virtual void dataForKey(const std::string& key, WhenAvailable whenAvailable,
                            WhenLoadingStarts whenLoadingStarts, WhenFailed whenFailed) = 0;
    virtual void clearCacheForKey(const std::string& key) = 0;
    virtual bool isShadowModeEnabled() const = 0;
    // Removes every entry (refused while shadow mode is on).
    virtual void clearCache() = 0;
    virtual bool isCachingEnabled() const = 0;
    // Whether the key has stored data, in memory or on disk.
    virtual bool isCachedDataAvailableForKey(const std::string& key) = 0;

    // The installed web cache; null until one is installed.
    static std::shared_ptr<MVWebCacheInterface> shared();
    static void setShared(std::shared_ptr<MVWebCacheInterface> cache);
};
