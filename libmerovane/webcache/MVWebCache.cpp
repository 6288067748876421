#include "libmerovane/webcache/MVWebCache.h"

#include <algorithm>
#include <any>
#include <cmath>
#include <filesystem>
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

// One loaded form of an entry. Its fields are guarded by `mutex`.
class MVWebCache::Representation {
  public:
    explicit Representation(std::string k) : key(std::move(k)) {}

    const std::string key;
    std::mutex mutex;
    Data data;
    nlohmann::json info;  // null when none
    std::optional<Date> cacheTimeout;
    std::optional<Date> lastAccessTime;
    // When the last load result (disk, source, failure or set) arrived.
    std::optional<Date> loadedAt;
    std::optional<platform::Error> error;
    bool isLoading = false;
    bool loadForced = false;
    std::vector<std::function<void()>> whenLoadedBlocks;
};

class MVWebCache::RamObject {
  public:
    explicit RamObject(std::string k) : key(std::move(k)) {}

    void markAsOutdated() {
        for (auto& [number, rep] : dataRepresentations) {
            std::lock_guard lock(rep->mutex);
            rep->cacheTimeout = Date::distantPast();
            rep->loadedAt.reset();
        }
    }

    const std::string key;
    std::map<int, std::shared_ptr<Representation>> dataRepresentations;
};

namespace {

constexpr int kRawDataRepresentation = 1;
// Longest lifetime taken from an info dictionary: keeps every expiry a finite date.
constexpr double kMaximumLifetimeLimit = 100.0 * 365 * 24 * 3600;
constexpr double kCachingOffReuseSeconds = 1.0;

std::mutex gSharedMutex;
std::shared_ptr<MVWebCache>* gShared = nullptr;  // never destroyed

std::mutex gFoldersMutex;
std::string gCachesFolder;

// "maximum-lifetime" of an info dictionary as seconds in [0, 100 years].
double lifetimeOf(const nlohmann::json& info) {
    const double seconds = json::doubleValue(info, MVWebCacheDataInfoMaximumLifetime);
    if (!std::isfinite(seconds) || seconds <= 0) return 0;
    return std::min(seconds, kMaximumLifetimeLimit);
}

// Locked access that reports a failing store instead of throwing.
bool lockedAccess(const std::function<void()>& block) {
    try {
        MVPersistentStorage::sharedStorage().lockedAccess(block);
        return true;
    } catch (const std::exception& e) {
        MVLogError("MVWebCache storage access failed: {}", e.what());
        return false;
    }
}

std::string fileURLString(const std::string& path) {
    std::string out = "file://";
    for (unsigned char c : path) {
        if (std::isalnum(c) ||
            std::string_view("/-._~").find(static_cast<char>(c)) != std::string_view::npos) {
            out += static_cast<char>(c);
        } else {
            out += fmt::format("%{:02X}", c);
        }
    }
    return out;
}

void runBlocks(const std::vector<std::function<void()>>& blocks) {
    for (const auto& block : blocks) {
        if (block) block();
    }
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

platform::DispatchQueue& MVWebCache::fileQueue() {
    static auto* queue = new std::shared_ptr<platform::DispatchQueue>(
        platform::DispatchQueue::makeSerial("MVWebCache files"));
    return **queue;
}

void MVWebCache::waitForFileOperations() {
    fileQueue().sync([] {});
}

// ---- RAM entries -----------------------------------------------------------------------

std::shared_ptr<MVWebCache::RamObject> MVWebCache::ramObjectForKey(const std::string& key) {
    std::lock_guard lock(lock_);
    auto& object = ramObjects_[key];
    if (!object) object = std::make_shared<RamObject>(key);
    return object;
}

std::shared_ptr<MVWebCache::Representation> MVWebCache::representationForKey(
    const std::string& key) {
    std::lock_guard lock(lock_);
    auto object = ramObjectForKey(key);
    auto& rep = object->dataRepresentations[kRawDataRepresentation];
    if (!rep) rep = std::make_shared<Representation>(key);
    return rep;
}

bool MVWebCache::needsRefresh(const Representation& rep) const {
    const Date now = Date::now();
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
    nlohmann::json info;
    std::optional<platform::Error> error;
    {
        std::lock_guard cacheLock(lock_);
        rep = representationForKey(key);
        std::lock_guard repLock(rep->mutex);
        const bool stale = shadowMode_ ? false : needsRefresh(*rep);
        const bool answered = !stale && (rep->data || rep->error);
        if (!answered) {
            loadingStarted = true;
            // Weak: the block lives in the entry itself.
            std::weak_ptr<Representation> weakRep = rep;
            rep->whenLoadedBlocks.push_back([weakRep, whenAvailable, whenFailed] {
                auto rep = weakRep.lock();
                if (!rep) return;
                Data d;
                nlohmann::json i;
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
                    whenAvailable(false, loading, d, i);
                }
            });
            if (!rep->isLoading) {
                rep->isLoading = true;
                rep->loadForced = !cachingEnabled_;
                startRead = true;
            }
        }
        data = rep->data;
        info = rep->info;
        error = rep->error;
        rep->lastAccessTime = Date::now();
    }
    // Answers run outside every lock; the disk read starts after them so that the
    // load's answers always follow these.
    if (loadingStarted && whenLoadingStarts) whenLoadingStarts(data);
    if (error) {
        if (!loadingStarted && whenFailed) whenFailed(*error, data);
    } else if (data && whenAvailable) {
        whenAvailable(true, loadingStarted, data, info);
    }
    if (startRead) readFromDisk(rep);
}

void MVWebCache::stringForKey(const std::string& key, WhenStringAvailable whenAvailable,
                              WhenStringLoadingStarts whenLoadingStarts,
                              WhenStringFailed whenFailed) {
    auto text = [](const Data& data) -> StringData {
        if (!data) return std::nullopt;
        std::string s(data->begin(), data->end());
        if (!isValidUtf8(s)) return std::nullopt;
        return s;
    };
    dataForKey(
        key,
        [text, whenAvailable](bool fromMemory, bool reloadPending, const Data& data,
                              const nlohmann::json& info) {
            if (whenAvailable) whenAvailable(fromMemory, reloadPending, text(data), info);
        },
        [text, whenLoadingStarts](const Data& data) {
            if (whenLoadingStarts) whenLoadingStarts(text(data));
        },
        [text, whenFailed](const platform::Error& error, const Data& data) {
            if (whenFailed) whenFailed(error, text(data));
        });
}

// ---- loading ---------------------------------------------------------------------------

void MVWebCache::readFromDisk(const std::shared_ptr<Representation>& rep) {
    auto self = shared_from_this();
    platform::DispatchQueue::global().async([self, rep] {
        auto answer = [self, rep](Data data, std::optional<nlohmann::json> info) {
            platform::DispatchQueue::main().async(
                [self, rep, data, info] { self->diskAnswered(rep, data, info); });
        };
        bool found = false;
        std::string path;
        std::optional<std::string> mimeType;
        std::optional<Date> lastUpdate;
        double lifetime = 0;
        std::shared_ptr<const nlohmann::json> storedInfo;
        auto& fm = platform::FileManager::defaultManager();
        lockedAccess([&] {
            auto row = MVWebCacheResourceObject::dbObjectWithID(rep->key);
            if (!row) return;
            if (self->isShadowModeRefreshingEnabled()) row->setIsShadowed(true);
            path = row->localFilename();
            mimeType = row->mimeType();
            lastUpdate = row->lastUpdate();
            lifetime = row->maximumLifetime().value_or(0);
            storedInfo = row->infoDictionary();
            bool isDirectory = false;
            if (path.empty() || !fm.fileExists(path, &isDirectory) || isDirectory) {
                row->deleteFromStorage();
                return;
            }
            found = true;
        });
        if (!found) return answer(nullptr, std::nullopt);

        platform::Error error;
        auto bytes = fm.readFile(path, &error);
        if (!bytes) {
            MVLogError(
                "MVWebCacheRamObjectDataRepresentation error while reading file \"{}\". {} {}",
                path, errorDescription(error), json::print(error.userInfo()));
            return answer(nullptr, std::nullopt);
        }
        nlohmann::json info =
            storedInfo && storedInfo->is_object() ? *storedInfo : nlohmann::json::object();
        info[MVWebCacheDataInfoMimeType] = mimeType.value_or("");
        info[MVWebCacheDataInfoLastUpdate] =
            lastUpdate.value_or(Date::distantPast()).timeIntervalSince1970();
        info[MVWebCacheDataInfoMaximumLifetime] = lifetime;
        answer(std::make_shared<const std::vector<uint8_t>>(bytes->begin(), bytes->end()),
               std::move(info));
    });
}

void MVWebCache::diskAnswered(const std::shared_ptr<Representation>& rep, const Data& data,
                              const std::optional<nlohmann::json>& info) {
    if (info) {
        std::vector<std::function<void()>> blocks;
        bool reload = false;
        {
            std::lock_guard lock(rep->mutex);
            const Date now = Date::now();
            rep->data = data;
            rep->info = *info;
            rep->lastAccessTime = now;
            rep->loadedAt = now;
            rep->error.reset();
            const double updated = json::doubleValue(*info, MVWebCacheDataInfoLastUpdate);
            rep->cacheTimeout = Date(updated).addingTimeInterval(lifetimeOf(*info));
            reload = !shadowMode_ && (rep->loadForced || now > *rep->cacheTimeout);
            blocks = rep->whenLoadedBlocks;
            if (!reload) {
                rep->isLoading = false;
                rep->whenLoadedBlocks.clear();
            }
        }
        runBlocks(blocks);
        if (reload) loadFromDataSource(rep);
        return;
    }
    if (shadowMode_ && !shadowModeRefreshing_) {
        std::vector<std::function<void()>> blocks;
        {
            std::lock_guard lock(rep->mutex);
            const Date now = Date::now();
            rep->error = platform::Error(MVWebCacheErrorResourceNotFound, 404);
            rep->data = nullptr;
            rep->info = nullptr;
            rep->lastAccessTime = now;
            rep->loadedAt = now;
            rep->isLoading = false;
            blocks.swap(rep->whenLoadedBlocks);
        }
        runBlocks(blocks);
        MVLogWarn("MVWebCache ShadowMode resource not found: {}", rep->key);
        logShadowModeCacheMiss(rep->key);
        return;
    }
    loadFromDataSource(rep);
}

void MVWebCache::loadFromDataSource(const std::shared_ptr<Representation>& rep) {
    auto failed = [rep](const platform::Error& error) {
        std::vector<std::function<void()>> blocks;
        {
            std::lock_guard lock(rep->mutex);
            const Date now = Date::now();
            rep->error = error;
            rep->lastAccessTime = now;
            rep->loadedAt = now;
            rep->cacheTimeout = now;
            rep->data = nullptr;
            rep->info = nullptr;
            rep->isLoading = false;
            blocks.swap(rep->whenLoadedBlocks);
        }
        runBlocks(blocks);
    };
    auto source = MVWebCacheDataSource::sourceForKey(rep->key);
    if (!source) {
        // Nobody will answer: fail the waiting lookups instead of leaving them hanging.
        failed(platform::Error(MVWebCacheErrorNoDataSource, 404));
        return;
    }
    source->loadDataForKey(
        rep->key, 0,
        [rep](const Data& data, const nlohmann::json& info) {
            const Date began = Date::now();
            std::vector<std::function<void()>> blocks;
            {
                std::lock_guard lock(rep->mutex);
                rep->data = data;
                rep->info = info;
                rep->lastAccessTime = began;
                rep->loadedAt = began;
                rep->cacheTimeout = began.addingTimeInterval(lifetimeOf(info));
                rep->error.reset();
                rep->isLoading = false;
                blocks.swap(rep->whenLoadedBlocks);
            }
            runBlocks(blocks);
        },
        failed);
}

// ---- setting and storing -----------------------------------------------------------------

void MVWebCache::setData(const Data& data, const std::string& key, const nlohmann::json& infos) {
    nlohmann::json info = infos.is_object() ? infos : nlohmann::json::object();
    bool noNotification = false;
    if (const auto* flag = json::find(info, MVWebCacheDataInfoNoNotificationOnSet)) {
        noNotification = json::boolValue(*flag);
        info.erase(MVWebCacheDataInfoNoNotificationOnSet);
    }
    {
        // The disk store runs under the cache lock too, so that the file ends with the
        // bytes of the entry's last set.
        std::lock_guard cacheLock(lock_);
        auto rep = representationForKey(key);
        {
            std::lock_guard repLock(rep->mutex);
            const Date now = Date::now();
            rep->data = data;
            rep->info = info;
            rep->error.reset();
            rep->lastAccessTime = now;
            rep->loadedAt = now;
            rep->cacheTimeout = now.addingTimeInterval(lifetimeOf(info));
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
    const nlohmann::json info = infos.is_object() ? infos : nlohmann::json::object();
    std::lock_guard cacheLock(lock_);
    const Date now = Date::now();
    std::string path;
    lockedAccess([&] {
        auto row = MVWebCacheResourceObject::dbObjectWithID(key);
        if (!row) {
            row = MVWebCacheResourceObject::dbObjectCreate();
            row->setId(key);
            MVLogVerbose("MVWebCache new resource file ['{}' => '{}']", key, row->localFilename());
        }
        path = row->localFilename();
        nlohmann::json stored = info;
        if (!path.empty()) stored[MVWebCacheDataInfoLocalFileURL] = fileURLString(path);
        row->setMimeType(json::stringValue(info, MVWebCacheDataInfoMimeType));
        if (json::find(info, MVWebCacheDataInfoMaximumLifetime)) {
            row->setMaximumLifetime(lifetimeOf(info));
        } else {
            row->setMaximumLifetime(std::nullopt);
        }
        row->setLastUpdate(now);
        row->setInfoDictionary(&stored);
    });
    if (path.empty()) {
        MVLogWarn(
            "MVWebcache could not write resource file for key:<{}> since resource filename "
            "wasn't known.",
            key);
        return;
    }
    // One serial queue for every write and removal: two writes of one key land in order.
    fileQueue().async([key, path, data] {
        auto& fm = platform::FileManager::defaultManager();
        platform::Error error;
        const std::string folder = std::filesystem::path(path).parent_path().string();
        const std::string_view bytes =
            data ? std::string_view(reinterpret_cast<const char*>(data->data()), data->size())
                 : std::string_view();
        if (!fm.createDirectory(folder, true, &error) ||
            !fm.writeFileAtomically(path, bytes, &error)) {
            MVLogError("MVWebCache could not write resource file ['{}' => '{}']. \n{} {}", key,
                       path, errorDescription(error), json::print(error.userInfo()));
        }
    });
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
    bool available = false;
    lockedAccess([&] {
        auto row = MVWebCacheResourceObject::dbObjectWithID(key);
        if (!row) return;
        const double age =
            Date::now().timeIntervalSince(row->lastUpdate().value_or(Date::distantPast()));
        available = age < row->maximumLifetime().value_or(0);
    });
    return available;
}

void MVWebCache::setIsCachingEnabled(bool enabled) {
    if (cachingEnabled_.exchange(enabled) == enabled) return;
    MVLogInfo("MVWebCache caching {}abled", enabled ? "en" : "dis");
    if (!enabled) platform::HTTPCookieStorage::shared().deleteAllCookies();
}

// ---- clearing --------------------------------------------------------------------------

namespace {
void removeFilesLater(platform::DispatchQueue& queue,
                      std::vector<std::pair<std::string, std::string>> keyAndPath, bool forKeys) {
    if (keyAndPath.empty()) return;
    queue.async([keyAndPath = std::move(keyAndPath), forKeys] {
        auto& fm = platform::FileManager::defaultManager();
        for (const auto& [key, path] : keyAndPath) {
            if (!fm.fileExists(path)) continue;
            platform::Error error;
            if (fm.removeItem(path, &error)) continue;
            if (forKeys) {
                MVLogError(
                    "MVWebCache could not delete cache file for key [{}] at path\"{}\". "
                    "Error: {} {}",
                    key, path, errorDescription(error), json::print(error.userInfo()));
            } else {
                MVLogError("MVWebCache could not remove file for cache entry [ {} => {}] Error: {}",
                           key, path, errorDescription(error));
            }
        }
    });
}
}  // namespace

void MVWebCache::cleanup() {
    MVLogInfo("MVWebCache will now clean up");
    std::vector<std::pair<std::string, std::string>> removed;
    lockedAccess([&] {
        MVWebStorageVariable::cleanup();
        auto rows = MVWebCacheResourceObject::dbObjectsWithPredicate(
            MVPredicate::negate(MVPredicate::equal("shadowed", true)));
        for (auto& row : rows) {
            if (!row->needsRefresh()) continue;
            removed.emplace_back(row->id().value_or(""), row->localFilename());
            row->deleteFromStorage();
        }
    });
    // Removed on the file queue, after any write still pending for the row.
    removeFilesLater(fileQueue(), removed, false);
    std::lock_guard cacheLock(lock_);
    for (const auto& entry : removed) ramObjects_.erase(entry.first);
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
    std::vector<std::pair<std::string, std::string>> files;
    lockedAccess([&] {
        for (auto& row : MVWebCacheResourceObject::dbObjectsWithoutFetchingProperties()) {
            const std::string path = row->localFilename();
            if (!path.empty()) files.emplace_back(row->id().value_or(""), path);
            row->deleteFromStorage();
        }
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
    // The files go too: a later row with the same serial must not find another key's bytes.
    removeFilesLater(fileQueue(), std::move(files), true);
}

void MVWebCache::clearCacheForKeys(const std::vector<std::string>& keys) {
    if (shadowMode_) {
        std::string joined;
        for (const auto& key : keys) joined += (joined.empty() ? "" : ",") + key;
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
    std::vector<std::pair<std::string, std::string>> files;
    {
        std::lock_guard cacheLock(lock_);
        lockedAccess([&] {
            for (auto& row : MVWebCacheResourceObject::dbObjectsWithContainedIn("id", ids)) {
                if (row->isShadowed()) shadowedWent = true;
                const std::string path = row->localFilename();
                if (!path.empty()) files.emplace_back(row->id().value_or(""), path);
                row->deleteFromStorage();
            }
        });
        // Every cleared key loads anew at its next lookup.
        for (const auto& key : all) {
            auto it = ramObjects_.find(key);
            if (it != ramObjects_.end()) it->second->markAsOutdated();
        }
    }
    if (shadowedWent) scheduleShadowMode();
    removeFilesLater(fileQueue(), std::move(files), true);
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
    lockedAccess([] {
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
