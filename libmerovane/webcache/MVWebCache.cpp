#include "libmerovane/webcache/MVWebCache.h"

#include <algorithm>
#include <any>
#include <cmath>
#include <set>

#include "libmerovane/bridge/MVWebCacheKeys.h"
#include "libmerovane/core/ErrorDescription.h"
#include "libmerovane/core/FileManagerExtensions.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/core/MVUserDefaultsKeys.h"
#include "libmerovane/core/StringExtensions.h"
#include "libmerovane/storage/MVObjectContext.h"
#include "libmerovane/storage/MVPersistentStorage.h"
#include "libmerovane/storage/MVWebCacheResourceObject.h"
#include "libmerovane/storage/MVWebStorageVariable.h"
#include "libmerovane/webcache/MVWebCacheDataSource.h"
#include "libmerovane/webcache/MVWebCacheDisk.h"
#include "libmerovane/webcache/MVWebCacheURLProtocol.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/HTTPCookieStorage.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/foundation/URLCache.h"
#include "platform/foundation/UserDefaults.h"

namespace json = platform::json;
using platform::Date;
using platform::log::escaped;

// One loaded form of an entry. Its fields are guarded by `mutex`.
class MVWebCache::Representation {
  public:
    explicit Representation(std::string k) : key(std::move(k)) {}

    const std::string key;
    std::mutex mutex;
    Data data;
    // Shared, so that answers pass it on without copying it; null when none.
    std::shared_ptr<const nlohmann::json> info;
    std::optional<Date> cacheTimeout;
    std::optional<Date> lastAccessTime;
    // When the last load result (disk, source, failure or set) arrived.
    std::optional<Date> loadedAt;
    std::optional<platform::Error> error;
    bool isLoading = false;
    bool loadForced = false;
    // Counts the sets and clears; a load remembers the count it began with, and its
    // answer is not taken into RAM when a set or clear came since: it is older.
    uint64_t setGeneration = 0;
    uint64_t loadGeneration = 0;
    // A lookup found the entry stale while it waited for a load begun before a newer
    // set: the load starts again instead of ending with that set's data.
    bool reloadAfterLoad = false;
    std::vector<std::function<void()>> whenLoadedBlocks;

    // Load results, taken with the lock held.
    void takeData(const Data& d, nlohmann::json i, Date now) {
        data = d;
        info = std::make_shared<const nlohmann::json>(std::move(i));
        lastAccessTime = now;
        loadedAt = now;
        error.reset();
    }
    void takeError(platform::Error e, Date now) {
        error = std::move(e);
        data = nullptr;
        info.reset();
        lastAccessTime = now;
        loadedAt = now;
    }
    // Ends the load; the waiters run after the lock is released.
    void endLoad(std::vector<std::function<void()>>& blocks) {
        isLoading = false;
        reloadAfterLoad = false;
        blocks.swap(whenLoadedBlocks);
    }
};

class MVWebCache::RamObject {
  public:
    explicit RamObject(std::string k) : key(std::move(k)) {}

    // Forgets what was loaded, as a newer set would replace it: the next lookup loads
    // anew, and loads begun before take nothing into RAM.
    void markAsCleared() {
        for (auto& [number, rep] : dataRepresentations) {
            std::lock_guard lock(rep->mutex);
            ++rep->setGeneration;
            rep->data = nullptr;
            rep->info.reset();
            rep->error.reset();
            rep->cacheTimeout = Date::distantPast();
            rep->loadedAt.reset();
        }
    }

    const std::string key;
    std::map<int, std::shared_ptr<Representation>> dataRepresentations;
};

namespace {

constexpr int kRawDataRepresentation = 1;
constexpr double kCachingOffReuseSeconds = 1.0;

std::mutex gSharedMutex;
std::shared_ptr<MVWebCache>* gShared = nullptr;  // never destroyed

std::mutex gFoldersMutex;
std::string& gCachesFolder = *new std::string;  // kept for the process

void runBlocks(const std::vector<std::function<void()>>& blocks) {
    for (const auto& block : blocks) {
        if (block) block();
    }
}

enum class AfterNewerSet { None, Ended, Restart };

// With the entry's lock held, for a load's answer: when a set or clear came since the
// load began, the answer is older than the entry and is dropped. The load ends with the
// entry as the set left it, unless the clear left nothing or a waiter found the set's
// data stale: then it starts again, from the disk.
AfterNewerSet afterNewerSet(MVWebCache::Representation& rep,
                            std::vector<std::function<void()>>& blocks) {
    if (rep.setGeneration == rep.loadGeneration) return AfterNewerSet::None;
    if (rep.reloadAfterLoad || (!rep.data && !rep.error)) {
        rep.reloadAfterLoad = false;
        rep.loadGeneration = rep.setGeneration;
        return AfterNewerSet::Restart;
    }
    rep.endLoad(blocks);
    return AfterNewerSet::Ended;
}

const nlohmann::json& infoOrNull(const std::shared_ptr<const nlohmann::json>& info) {
    static const nlohmann::json* none = new nlohmann::json();
    return info ? *info : *none;
}
}  // namespace

// ---- instance and folders -------------------------------------------------------------

MVWebCache& MVWebCache::sharedCache() {
    std::lock_guard lock(gSharedMutex);
    if (!gShared) {
        gShared = new std::shared_ptr<MVWebCache>();
        platform::registerSharedInstanceReset("MVWebCache", [] {
            waitForFileOperations();
            std::lock_guard inner(gSharedMutex);
            gShared->reset();
        });
    }
    if (!*gShared) {
        auto cache = std::make_shared<MVWebCache>();
        *gShared = cache;
        MVWebCacheInterface::setShared(cache);
    }
    return **gShared;
}

MVWebCache::MVWebCache() {
    const std::string path = pathForWebCache();
    platform::Error error;
    if (!makeSurePathExists(path, &error)) {
        throw platform::Exception(
            MVLibraryPathForWebCacheNotAvailableException,
            fmt::format("The webcache path \"{}\" could not be created. {}, {}", path,
                        errorDescription(error), json::print(error.userInfo())));
    }
    cachingEnabled_ = true;
    shadowMode_ = false;
    shadowModeRefreshing_ = false;
    // The platform keeps no HTTP cache of its own.
    platform::URLCache::setShared(
        std::make_shared<platform::URLCache>(0, 0, pathForCaches() + "/nsurlcache"));
    MVWebCacheURLProtocol::registerProtocol();
}

MVWebCache::~MVWebCache() = default;

void MVWebCache::setFolders(std::string caches, std::string webCache, std::string shadowCache) {
    {
        std::lock_guard lock(gFoldersMutex);
        gCachesFolder = std::move(caches);
    }
    MVWebCacheResourceObject::setFolders(std::move(webCache), std::move(shadowCache));
}

std::string MVWebCache::pathForCaches() {
    {
        std::lock_guard lock(gFoldersMutex);
        if (!gCachesFolder.empty()) return gCachesFolder;
    }
    return platform::FileManager::defaultManager().cachesDirectory() + "/libmerovane";
}

std::string MVWebCache::pathForWebCache() {
    return MVWebCacheResourceObject::pathForWebCache();
}

std::string MVWebCache::pathForShadowCache() {
    return MVWebCacheResourceObject::pathForShadowCache();
}

void MVWebCache::waitForFileOperations() {
    MVWebCacheDisk::waitForFileOperations();
}

// ---- RAM entries -----------------------------------------------------------------------

std::shared_ptr<MVWebCache::Representation> MVWebCache::representationForKeyLocked(
    const std::string& key) {
    auto& object = ramObjects_[key];
    if (!object) object = std::make_shared<RamObject>(key);
    auto& rep = object->dataRepresentations[kRawDataRepresentation];
    if (!rep) rep = std::make_shared<Representation>(key);
    return rep;
}

bool MVWebCache::needsRefresh(const Representation& rep, Date now) const {
    const bool shadowMiss = rep.error && rep.error->domain() == MVWebCacheErrorResourceNotFound;
    if (cachingEnabled_) {
        if (!rep.cacheTimeout || now >= *rep.cacheTimeout) return true;
        return shadowMiss;
    }
    // Counted from the load result, not from the last lookup, so that a key polled more
    // often than the reuse time is still fetched again.
    // Dates are doubles near 1.7e9 seconds: allow for their rounding.
    if (!rep.loadedAt || now.timeIntervalSince(*rep.loadedAt) >= kCachingOffReuseSeconds - 1e-6) {
        return true;
    }
    return shadowMiss;
}

// ---- lookup ----------------------------------------------------------------------------

void MVWebCache::dataForKey(const std::string& key, WhenAvailable whenAvailable,
                            WhenLoadingStarts whenLoadingStarts, WhenFailed whenFailed) {
    std::shared_ptr<Representation> rep;
    bool loadingStarted = false;
    bool startRead = false;
    Data data;
    std::shared_ptr<const nlohmann::json> info;
    std::optional<platform::Error> error;
    {
        // The cache lock is taken once per lookup: each take is announced.
        std::lock_guard cacheLock(lock_);
        rep = representationForKeyLocked(key);
        std::lock_guard repLock(rep->mutex);
        const Date now = Date::now();
        const bool stale = shadowMode_ ? false : needsRefresh(*rep, now);
        const bool answered = !stale && (rep->data || rep->error);
        if (!answered) {
            loadingStarted = true;
            // Weak: the block lives in the entry itself.
            std::weak_ptr<Representation> weakRep = rep;
            rep->whenLoadedBlocks.push_back([weakRep, whenAvailable, whenFailed] {
                auto rep = weakRep.lock();
                if (!rep) return;
                Data d;
                std::shared_ptr<const nlohmann::json> i;
                std::optional<platform::Error> e;
                bool loading = false;
                {
                    std::lock_guard lock(rep->mutex);
                    d = rep->data;
                    i = rep->info;
                    e = rep->error;
                    loading = rep->isLoading;
                }
                if (e) {
                    if (whenFailed) whenFailed(*e, d);
                } else if (whenAvailable) {
                    whenAvailable(false, loading, d, infoOrNull(i));
                }
            });
            if (!rep->isLoading) {
                rep->isLoading = true;
                rep->loadForced = !cachingEnabled_;
                rep->loadGeneration = rep->setGeneration;
                startRead = true;
            } else if (rep->loadGeneration != rep->setGeneration) {
                rep->reloadAfterLoad = true;
            }
        }
        data = rep->data;
        info = rep->info;
        if (rep->error) error = rep->error;
        rep->lastAccessTime = now;
    }
    // Answers run outside every lock; the disk read starts after them so that the
    // load's answers always follow these.
    if (loadingStarted && whenLoadingStarts) whenLoadingStarts(data);
    if (error) {
        if (!loadingStarted && whenFailed) whenFailed(*error, data);
    } else if (data && whenAvailable) {
        whenAvailable(true, loadingStarted, data, infoOrNull(info));
    }
    if (startRead) readFromDisk(rep);
}

namespace {

// Turns the bytes of one lookup's answers into values, each distinct data once: a stale
// entry's bytes come in up to three answers.
template <class T>
class AnswerDecoder {
  public:
    using Decode = std::function<std::optional<T>(const MVWebCache::Data&)>;
    explicit AnswerDecoder(Decode decode) : decode_(std::move(decode)) {}

    std::optional<T> operator()(const MVWebCache::Data& data) {
        if (!data) return std::nullopt;
        std::lock_guard lock(mutex_);
        if (data != last_) {
            last_ = data;
            value_ = decode_(data);
        }
        return value_;
    }

  private:
    const Decode decode_;
    std::mutex mutex_;
    MVWebCache::Data last_;
    std::optional<T> value_;
};

}  // namespace

template <class T>
void MVWebCache::decodedForKey(const std::string& key,
                               std::function<std::optional<T>(const Data&)> decode,
                               typename Decoded<T>::WhenAvailable whenAvailable,
                               typename Decoded<T>::WhenLoadingStarts whenLoadingStarts,
                               typename Decoded<T>::WhenFailed whenFailed) {
    auto decoded = std::make_shared<AnswerDecoder<T>>(std::move(decode));
    dataForKey(
        key,
        [decoded, whenAvailable = std::move(whenAvailable)](
            bool fromMemory, bool reloadPending, const Data& data, const nlohmann::json& info) {
            if (whenAvailable) whenAvailable(fromMemory, reloadPending, (*decoded)(data), info);
        },
        [decoded, whenLoadingStarts = std::move(whenLoadingStarts)](const Data& data) {
            if (whenLoadingStarts) whenLoadingStarts((*decoded)(data));
        },
        [decoded, whenFailed = std::move(whenFailed)](const platform::Error& error,
                                                      const Data& data) {
            if (whenFailed) whenFailed(error, (*decoded)(data));
        });
}

void MVWebCache::stringForKey(const std::string& key, WhenStringAvailable whenAvailable,
                              WhenStringLoadingStarts whenLoadingStarts,
                              WhenStringFailed whenFailed) {
    decodedForKey<std::string>(
        key,
        [](const Data& data) -> StringData {
            if (!isValidUtf8(MVWebCacheDisk::bytesOf(data))) return std::nullopt;
            return std::string(MVWebCacheDisk::bytesOf(data));
        },
        std::move(whenAvailable), std::move(whenLoadingStarts), std::move(whenFailed));
}

void MVWebCache::jsonForKey(const std::string& key, Json::WhenAvailable whenAvailable,
                            Json::WhenLoadingStarts whenLoadingStarts,
                            Json::WhenFailed whenFailed) {
    decodedForKey<nlohmann::json>(
        key,
        [key](const Data& data) -> Json::Value {
            auto result = json::parse(MVWebCacheDisk::bytesOf(data));
            if (result.ok()) return std::move(result.value);
            MVLogWarn("MVWebCache data for key <{}> is no JSON: {}", escaped(key),
                      escaped(result.error));
            return std::nullopt;
        },
        std::move(whenAvailable), std::move(whenLoadingStarts), std::move(whenFailed));
}

void MVWebCache::imageForKey(const std::string& key, Image::WhenAvailable whenAvailable,
                             Image::WhenLoadingStarts whenLoadingStarts,
                             Image::WhenFailed whenFailed) {
    decodedForKey<platform::Image>(
        key,
        [key](const Data& data) -> Image::Value {
            auto image = platform::Image::decode(MVWebCacheDisk::bytesOf(data));
            if (!image) MVLogWarn("MVWebCache data for key <{}> is no image", escaped(key));
            return image;
        },
        std::move(whenAvailable), std::move(whenLoadingStarts), std::move(whenFailed));
}

// ---- loading ---------------------------------------------------------------------------

void MVWebCache::readFromDisk(const std::shared_ptr<Representation>& rep) {
    auto self = shared_from_this();
    const bool shadowing = isShadowModeRefreshingEnabled();
    platform::DispatchQueue::global().async([self, rep, shadowing] {
        MVWebCacheDisk::shared().read(
            rep->key, shadowing,
            [self, rep](const Data& data, const std::optional<nlohmann::json>& info) {
                platform::DispatchQueue::main().async(
                    [self, rep, data, info] { self->diskAnswered(rep, data, info); });
            });
    });
}

void MVWebCache::diskAnswered(const std::shared_ptr<Representation>& rep, const Data& data,
                              const std::optional<nlohmann::json>& info) {
    enum class Next { Done, Reload, ShadowMiss, Source, Restart } next = Next::Done;
    std::vector<std::function<void()>> blocks;
    {
        std::lock_guard lock(rep->mutex);
        const Date now = Date::now();
        const AfterNewerSet after = afterNewerSet(*rep, blocks);
        if (after == AfterNewerSet::Restart) {
            next = Next::Restart;
        } else if (after == AfterNewerSet::Ended) {
            // The disk (or a source asked after it) holds nothing newer than the set.
        } else if (info) {
            rep->takeData(data, *info, now);
            const double updated = json::doubleValue(*info, MVWebCacheDataInfoLastUpdate);
            rep->cacheTimeout = Date(updated).addingTimeInterval(MVWebCacheDisk::lifetimeOf(*info));
            const bool reload = !shadowMode_ && (rep->loadForced || now > *rep->cacheTimeout);
            if (reload) {
                // The waiters run now and stay for the source's answer.
                blocks = rep->whenLoadedBlocks;
                next = Next::Reload;
            } else {
                rep->endLoad(blocks);
            }
        } else if (shadowMode_ && !shadowModeRefreshing_) {
            rep->takeError(platform::Error(MVWebCacheErrorResourceNotFound, 404), now);
            rep->endLoad(blocks);
            next = Next::ShadowMiss;
        } else {
            next = Next::Source;
        }
    }
    if (next == Next::Restart) return readFromDisk(rep);
    if (next == Next::Source) return loadFromDataSource(rep);
    runBlocks(blocks);
    if (next == Next::Reload) loadFromDataSource(rep);
    if (next == Next::ShadowMiss) {
        MVLogWarn("MVWebCache ShadowMode resource not found: {}", escaped(rep->key));
        logShadowModeCacheMiss(rep->key);
    }
}

void MVWebCache::loadFromDataSource(const std::shared_ptr<Representation>& rep) {
    std::weak_ptr<MVWebCache> weak = weak_from_this();
    // A source's answer under the entry's lock; `take` keeps it unless it is older than
    // the entry.
    auto answer = [weak, rep](const std::function<void()>& take) {
        std::vector<std::function<void()>> blocks;
        AfterNewerSet after;
        {
            std::lock_guard lock(rep->mutex);
            after = afterNewerSet(*rep, blocks);
            if (after == AfterNewerSet::None) {
                take();
                rep->endLoad(blocks);
            }
        }
        if (after == AfterNewerSet::Restart) {
            if (auto self = weak.lock()) self->readFromDisk(rep);
            return;
        }
        runBlocks(blocks);
    };
    auto failed = [rep, answer](const platform::Error& error) {
        answer([&] {
            const Date now = Date::now();
            rep->takeError(error, now);
            rep->cacheTimeout = now;
        });
    };
    auto source = MVWebCacheDataSource::sourceForKey(rep->key);
    if (!source) {
        // Nobody will answer: fail the waiting lookups instead of leaving them hanging.
        failed(platform::Error(MVWebCacheErrorNoDataSource, 404));
        return;
    }
    source->loadDataForKey(
        rep->key, 0,
        [rep, answer](const Data& data, const nlohmann::json& info) {
            const Date began = Date::now();
            answer([&] {
                rep->takeData(data, MVWebCacheDisk::withoutStoreKeys(info), began);
                rep->cacheTimeout = began.addingTimeInterval(MVWebCacheDisk::lifetimeOf(info));
            });
        },
        failed);
}

// ---- setting and storing -----------------------------------------------------------------

void MVWebCache::setData(const Data& data, const std::string& key, const nlohmann::json& infos) {
    nlohmann::json info = MVWebCacheDisk::withoutStoreKeys(infos);
    bool noNotification = false;
    if (const auto* flag = json::find(info, MVWebCacheDataInfoNoNotificationOnSet)) {
        noNotification = json::boolValue(*flag);
        info.erase(MVWebCacheDataInfoNoNotificationOnSet);
    }
    {
        // The disk store runs under the cache lock too, so that the file ends with the
        // bytes of the entry's last set.
        std::lock_guard cacheLock(lock_);
        auto rep = representationForKeyLocked(key);
        {
            std::lock_guard repLock(rep->mutex);
            const Date now = Date::now();
            rep->data = data;
            rep->info = std::make_shared<const nlohmann::json>(info);
            rep->error.reset();
            ++rep->setGeneration;
            rep->lastAccessTime = now;
            rep->loadedAt = now;
            rep->cacheTimeout = now.addingTimeInterval(MVWebCacheDisk::lifetimeOf(info));
        }
        storeData(data, key, info);
    }
    if (!noNotification) {
        platform::NotificationCenter::defaultCenter().post(MVWebCacheDidUpdateKeyNotification,
                                                           nullptr, std::any(key));
    }
}

void MVWebCache::storeData(const Data& data, const std::string& key, const nlohmann::json& infos) {
    if (!cachingEnabled_) return;
    std::lock_guard cacheLock(lock_);
    const std::string path = MVWebCacheDisk::shared().store(data, key, infos, Date::now());
    if (path.empty()) {
        MVLogWarn(
            "MVWebcache could not write resource file for key:<{}> since resource filename "
            "wasn't known.",
            escaped(key));
    }
}

bool MVWebCache::isCachedDataAvailableForKey(const std::string& key) {
    if (!cachingEnabled_) return false;
    {
        std::lock_guard cacheLock(lock_);
        auto it = ramObjects_.find(key);
        if (it != ramObjects_.end()) {
            auto rep = it->second->dataRepresentations.find(kRawDataRepresentation);
            if (rep != it->second->dataRepresentations.end()) {
                std::lock_guard repLock(rep->second->mutex);
                if (rep->second->data) return true;
            }
        }
    }
    return MVWebCacheDisk::shared().isFresh(key);
}

void MVWebCache::setIsCachingEnabled(bool enabled) {
    if (cachingEnabled_.exchange(enabled) == enabled) return;
    MVLogInfo("MVWebCache caching {}abled", enabled ? "en" : "dis");
    if (!enabled) platform::HTTPCookieStorage::shared().deleteAllCookies();
}

// ---- clearing --------------------------------------------------------------------------

void MVWebCache::cleanup() {
    MVLogInfo("MVWebCache will now clean up");
    std::vector<std::string> removed;
    MVWebCacheDisk::changeEntries([&] {
        MVWebStorageVariable::cleanup();
        removed = MVWebCacheDisk::shared().deleteExpiredRows();
    });
    std::lock_guard cacheLock(lock_);
    for (const auto& key : removed) ramObjects_.erase(key);
}

void MVWebCache::clearCache() {
    if (shadowMode_) {
        const char* text =
            "MVWebCache.clearCache() Clearing cache during shadow mode is not allowed.";
        MVLogWarn("{}", text);
        MVErrorLogger::logError(text);
        return;
    }
    auto& defaults = platform::UserDefaults::standard();
    defaults.removeObject(MVStandardUserDefaultsCachedBootScript);
    defaults.synchronize();
    MVWebCacheDisk::changeEntries([&] {
        MVWebCacheDisk::shared().deleteAllRows();
        for (auto& row : MVWebStorageVariable::dbObjectsWithoutFetchingProperties()) {
            row->deleteFromStorage();
        }
        if (auto* context = MVPersistentStorage::sharedStorage().managedObjectContext()) {
            context->processPendingChanges();
        }
    });
    {
        std::lock_guard cacheLock(lock_);
        ramObjects_.clear();
    }
    platform::URLCache::shared()->removeAllCachedResponses();
}

void MVWebCache::clearCacheForKeys(const std::vector<std::string>& keys) {
    if (shadowMode_) {
        std::string joined;
        for (const auto& key : keys) joined += (joined.empty() ? "" : ",") + escaped(key);
        MVLogWarn(
            "MVWebCache.clearCacheForKeys() Clearing cache during shadow mode is not allowed: "
            "[{}]",
            joined);
        MVErrorLogger::logError(
            "MVWebCache.clearCacheForKeys() Clearing cache during shadow mode is not allowed",
            nlohmann::json(keys));
        return;
    }
    std::set<std::string> all;
    for (const auto& key : keys) {
        all.insert(key);
        if (key.rfind("mv-api", 0) != 0) {
            all.insert(MVWebCacheKeyWithScheme(key, MVWebCacheSchemeApiPage));
            all.insert(MVWebCacheKeyWithScheme(key, MVWebCacheSchemeApiData));
        }
    }
    std::vector<MVStoredValue> ids;
    for (const auto& key : all) ids.emplace_back(key);
    bool shadowedWent = false;
    {
        std::lock_guard cacheLock(lock_);
        MVWebCacheDisk::changeEntries(
            [&] { shadowedWent = MVWebCacheDisk::shared().deleteRows(ids); });
        // Every cleared key loads anew at its next lookup; loads begun before the clear
        // answer nothing into RAM.
        for (const auto& key : all) {
            auto it = ramObjects_.find(key);
            if (it != ramObjects_.end()) it->second->markAsCleared();
        }
    }
    if (shadowedWent) scheduleShadowMode();
}

void MVWebCache::clearCacheForKey(const std::string& key) {
    clearCacheForKeys({key});
}

// ---- shadow mode -----------------------------------------------------------------------

void MVWebCache::beginShadowModeWithRefreshingEnabled(bool refreshing) {
    {
        std::lock_guard lock(missingKeysMutex_);
        if (shadowMode_) return;
        // Refreshing first: a lookup that sees shadow mode on must see its kind.
        shadowModeRefreshing_ = refreshing;
        shadowMode_ = true;
    }
    if (!refreshing) return;
    std::lock_guard cacheLock(lock_);
    MVWebCacheDisk::changeEntries([] {
        for (auto& row : MVWebCacheResourceObject::dbObjectsWith("shadowed", true)) {
            row->setIsShadowed(false);
        }
    });
}

void MVWebCache::endShadowMode() {
    std::vector<std::string> missing;
    {
        std::lock_guard lock(missingKeysMutex_);
        if (!shadowMode_) return;
        shadowMode_ = false;
        shadowModeRefreshing_ = false;
        missing.swap(missingKeysInShadowMode_);
    }
    if (missing.empty()) return;
    requestRemainingKeysSlowly(missing);
    MVErrorLogger::logError("MVWebCache missing entries in shadow mode. (will try to reload)",
                            nlohmann::json(missing));
}

void MVWebCache::scheduleShadowMode() {
    auto& defaults = platform::UserDefaults::standard();
    defaults.setObject(MVWebCacheShadowModeScheduledAtAppStart, true);
    defaults.synchronize();
}

void MVWebCache::logShadowModeCacheMiss(const std::string& key) {
    std::lock_guard lock(missingKeysMutex_);
    missingKeysInShadowMode_.push_back(key);
}

std::vector<std::string> MVWebCache::missingKeysInShadowMode() const {
    std::lock_guard lock(missingKeysMutex_);
    return missingKeysInShadowMode_;
}

void MVWebCache::requestRemainingKeysSlowly(std::vector<std::string> keys) {
    if (keys.empty()) return;
    const std::string first = keys.front();
    std::weak_ptr<MVWebCache> weak = weak_from_this();
    auto rest = std::make_shared<std::vector<std::string>>(keys.begin() + 1, keys.end());
    auto done = std::make_shared<std::atomic<bool>>(false);
    auto next = [weak, rest, done] {
        if (done->exchange(true)) return;
        platform::DispatchQueue::main().async([weak, rest] {
            if (auto self = weak.lock()) self->requestRemainingKeysSlowly(*rest);
        });
    };
    dataForKey(
        first,
        [next](bool, bool reloadPending, const Data&, const nlohmann::json&) {
            if (!reloadPending) next();
        },
        [](const Data&) {}, [next](const platform::Error&, const Data&) { next(); });
}
