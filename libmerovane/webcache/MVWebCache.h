#pragma once
// The process-wide store through which every page and resource of the web views passes.
// An entry lives in RAM (bytes, info dictionary, expiry) and on disk (a stored
// MVWebCacheResourceObject row and a file). A lookup answers at once from RAM when the
// data is fresh; otherwise it answers with what it has and loads: from disk, then,
// when the disk copy is stale or missing, from the data source that claims the key.
//
//   auto& cache = MVWebCache::sharedCache();
//   cache.dataForKey("https://shop.example/a.css",
//       [](bool fromMemory, bool reloadPending, const auto& data, const auto& info) {...},
//       [](const auto& dataOnHand) {},
//       [](const platform::Error& error, const auto& data) {...});
//
// Shadow mode answers from RAM and disk only while the start-up replays a cached boot.
//
// Thread-safety: every operation may be called from any thread. Locks nest in one order
// only: the named lock "WebCache" (the cache's own), then an entry's lock; persistent
// locked access runs inside them or alone. Answers never run under an entry's lock.
// Disk reads look the row up on a worker queue, read the file on the one serial queue
// that also writes, moves and removes the files, and answer on the main queue. A load's
// answer never replaces the data of a set or clear that came after the load began; a
// clear drops the RAM data, so no lookup after it answers the cleared bytes.
//
// The disk entries (rows and files, and how they stay in step through kills) are
// MVWebCacheDisk's; what it records beside an info never appears in an answered one.

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "libmerovane/bridge/MVWebCacheInterface.h"
#include "libmerovane/bridge/MVWebCacheKeys.h"
#include "libmerovane/core/MVNamedLock.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/Error.h"
#include "platform/ui/Image.h"

namespace platform {
class DispatchQueue;
}

// Keys of the info dictionary.
inline constexpr const char* MVWebCacheDataInfoMimeType = "mime-type";
inline constexpr const char* MVWebCacheDataInfoCharset = "charset";
inline constexpr const char* MVWebCacheDataInfoMaximumLifetime = "maximum-lifetime";
inline constexpr const char* MVWebCacheDataInfoBaseUrl = "base-url";
inline constexpr const char* MVWebCacheDataInfoHTTPStatusCode = "http-status-code";
inline constexpr const char* MVWebCacheDataInfoHTTPVersion = "http-version";
inline constexpr const char* MVWebCacheDataInfoHTTPHeaderFields = "http-header-fields";
inline constexpr const char* MVWebCacheDataInfoLastRedirectUrl = "last-redirect-url";
inline constexpr const char* MVWebCacheDataInfoLocalFileURL = "local-file-url";
inline constexpr const char* MVWebCacheDataInfoNoNotificationOnSet = "no-notification-on-set";
inline constexpr const char* MVWebCacheDataInfoLastUpdate = "last-update";

// The error of a resource missing in shadow mode (code 404).
inline constexpr const char* MVWebCacheErrorResourceNotFound = "MVWebCacheErrorResourceNotFound";
// The error of a key that no data source claims (code 404).
inline constexpr const char* MVWebCacheErrorNoDataSource = "MVWebCacheErrorNoDataSource";
inline constexpr const char* MVLibraryPathForWebCacheNotAvailableException =
    "The webcache path could not be created";

class MVWebCache : public MVWebCacheInterface, public std::enable_shared_from_this<MVWebCache> {
  public:
    // The instance, made on first use and installed as the shared MVWebCacheInterface.
    // Throws MVLibraryPathForWebCacheNotAvailableException when its folder cannot be made.
    static MVWebCache& sharedCache();

    // The folders of the disk entries and of the platform's URL cache; set before first
    // use (the application object does at start-up). Empty keeps the defaults below the
    // platform's caches and documents folders.
    static void setFolders(std::string caches, std::string webCache, std::string shadowCache);
    static std::string pathForCaches();
    static std::string pathForWebCache();
    static std::string pathForShadowCache();

    // The answers of a lookup whose bytes are turned into a T (none when they cannot be).
    template <class T>
    struct Decoded {
        using Value = std::optional<T>;
        using WhenAvailable = std::function<void(bool fromMemory, bool reloadPending,
                                                 const Value& value, const nlohmann::json& info)>;
        using WhenLoadingStarts = std::function<void(const Value& valueOnHand)>;
        using WhenFailed = std::function<void(const platform::Error& error, const Value& value)>;
    };
    using StringData = Decoded<std::string>::Value;
    using WhenStringAvailable = Decoded<std::string>::WhenAvailable;
    using WhenStringLoadingStarts = Decoded<std::string>::WhenLoadingStarts;
    using WhenStringFailed = Decoded<std::string>::WhenFailed;
    using Json = Decoded<nlohmann::json>;
    using Image = Decoded<platform::Image>;

    // The lookup, answering whenLoadingStarts(data on hand) before it loads, then
    // whenAvailable(fromMemory, reloadPending, data, info) or whenFailed(error, data).
    void dataForKey(const std::string& key, WhenAvailable whenAvailable,
                    WhenLoadingStarts whenLoadingStarts, WhenFailed whenFailed) override;
    // The same lookup with the bytes read as UTF-8 (none when they are not).
    void stringForKey(const std::string& key, WhenStringAvailable whenAvailable,
                      WhenStringLoadingStarts whenLoadingStarts, WhenStringFailed whenFailed);
    // The same lookup with the bytes parsed as JSON (none, with a warning, when they are
    // not JSON or nest too deep).
    void jsonForKey(const std::string& key, Json::WhenAvailable whenAvailable,
                    Json::WhenLoadingStarts whenLoadingStarts, Json::WhenFailed whenFailed);
    // The same lookup with the bytes decoded as a PNG or JPEG image of scale 1 (none, with
    // a warning, when they are neither).
    void imageForKey(const std::string& key, Image::WhenAvailable whenAvailable,
                     Image::WhenLoadingStarts whenLoadingStarts, Image::WhenFailed whenFailed);
    // New data for the entry, stored on disk while caching is on.
    void setData(const Data& data, const std::string& key, const nlohmann::json& infos);
    // The disk half of setData.
    void storeData(const Data& data, const std::string& key, const nlohmann::json& infos);
    bool isCachedDataAvailableForKey(const std::string& key) override;

    // Removes expired entries that are not shadowed, and the files no entry names.
    void cleanup();
    void clearCache() override;
    // Each web key also clears its "mv-api-page:" and "mv-api-data:" forms.
    void clearCacheForKeys(const std::vector<std::string>& keys);
    void clearCacheForKey(const std::string& key) override;

    bool isCachingEnabled() const override { return cachingEnabled_.load(); }
    void setIsCachingEnabled(bool enabled);

    void beginShadowModeWithRefreshingEnabled(bool refreshing);
    void endShadowMode();
    // Asks for a refreshing shadow period at the next start.
    void scheduleShadowMode();
    void logShadowModeCacheMiss(const std::string& key);
    bool isShadowModeEnabled() const override { return shadowMode_.load(); }
    bool isShadowModeRefreshingEnabled() const { return shadowModeRefreshing_.load(); }
    std::vector<std::string> missingKeysInShadowMode() const;

    // Waits until every file write and removal asked for so far has run; for tests.
    static void waitForFileOperations();

    class Representation;
    class RamObject;
    MVWebCache();
    ~MVWebCache() override;

  private:
    // The key's RAM object and representation, made when missing; with lock_ held.
    std::shared_ptr<Representation> representationForKeyLocked(const std::string& key);
    void loadFromDataSource(const std::shared_ptr<Representation>& rep);
    void readFromDisk(const std::shared_ptr<Representation>& rep);
    void diskAnswered(const std::shared_ptr<Representation>& rep, const Data& data,
                      const std::optional<nlohmann::json>& info);
    bool needsRefresh(const Representation& rep, platform::Date now) const;
    template <class T>
    void decodedForKey(const std::string& key, std::function<std::optional<T>(const Data&)> decode,
                       typename Decoded<T>::WhenAvailable whenAvailable,
                       typename Decoded<T>::WhenLoadingStarts whenLoadingStarts,
                       typename Decoded<T>::WhenFailed whenFailed);
    void requestRemainingKeysSlowly(std::vector<std::string> keys);

    MVNamedLock lock_{"WebCache"};
    std::map<std::string, std::shared_ptr<RamObject>> ramObjects_;
    std::atomic<bool> cachingEnabled_{true};
    std::atomic<bool> shadowMode_{false};
    std::atomic<bool> shadowModeRefreshing_{false};
    mutable std::mutex missingKeysMutex_;
    std::vector<std::string> missingKeysInShadowMode_;
};
