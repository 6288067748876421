#include "libmerovane/webcache/MVWebCache.h"

#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <any>
#include <cerrno>
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
#include "libmerovane/webcache/MVWebCacheURLProtocol.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/HTTPCookieStorage.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RegularFile.h"
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

// Runs a store access, reporting a failing store instead of throwing.
bool reportingFailure(const std::function<void()>& access) {
    try {
        access();
        return true;
    } catch (const std::exception& e) {
        MVLogError("MVWebCache storage access failed: {}", e.what());
        return false;
    }
}

bool lockedAccess(const std::function<void()>& block) {
    return reportingFailure([&] { MVPersistentStorage::sharedStorage().lockedAccess(block); });
}

// Locked access for blocks that change entry rows or queue file operations.
bool changeEntries(const std::function<void()>& block) {
    const bool changed = reportingFailure([&] { MVWebCacheResourceObject::changeEntries(block); });
    // File operations use the store: a reset lets them end before the store goes.
    // Registered after the store's own reset, which therefore runs after this one.
    static std::once_flag registered;
    std::call_once(registered, [] {
        platform::registerSharedInstanceReset("MVWebCache file operations",
                                              [] { MVWebCache::waitForFileOperations(); });
    });
    return changed;
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

// Written by the disk store beside the caller's info, checked by the disk read and
// never part of an answered info (so never of a response).
constexpr const char* kStoredLength = "stored-length";
constexpr const char* kStoredChecksum = "stored-crc32";
// The earlier sets whose bytes the file may still hold while the write of the row's own
// set has not landed (a kill may stop it): {"stored-length", "stored-crc32", "last-update",
// "info"} each, newest first.
constexpr const char* kStoredEarlier = "stored-earlier";
constexpr const char* kEarlierLastUpdate = "last-update";
constexpr const char* kEarlierInfo = "info";
constexpr size_t kEarlierSetsKept = 8;
// Rows stored before lengths were recorded are read up to this size.
constexpr size_t kUnrecordedLengthLimit = size_t{256} << 20;

nlohmann::json withoutStoreKeys(nlohmann::json info) {
    if (!info.is_object()) return nlohmann::json::object();
    info.erase(kStoredLength);
    info.erase(kStoredChecksum);
    info.erase(kStoredEarlier);
    return info;
}

std::string_view bytesOf(const MVWebCacheInterface::Data& data) {
    return data ? std::string_view(reinterpret_cast<const char*>(data->data()), data->size())
                : std::string_view();
}

uint32_t checksumOf(std::string_view bytes) {
    uLong crc = crc32(0L, Z_NULL, 0);
    // zlib takes at most a uInt per call.
    while (!bytes.empty()) {
        const size_t n = std::min<size_t>(bytes.size(), 1u << 30);
        crc = crc32(crc, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(n));
        bytes.remove_prefix(n);
    }
    return static_cast<uint32_t>(crc);
}

// Whether a file name in an entry folder is one the cache writes: "<serial>" or a
// temporary "<serial>.tmp-<pid>-<n>" of an atomic write.
bool isEntryFileName(const std::string& name) {
    const size_t digits = name.find_first_not_of("0123456789");
    if (digits == 0) return false;
    return digits == std::string::npos || name.compare(digits, 5, ".tmp-") == 0;
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

platform::DispatchQueue& MVWebCache::fileQueue() {
    return MVWebCacheResourceObject::fileQueue();
}

void MVWebCache::waitForFileOperations() {
    fileQueue().sync([] {});
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
            if (!isValidUtf8(bytesOf(data))) return std::nullopt;
            return std::string(bytesOf(data));
        },
        std::move(whenAvailable), std::move(whenLoadingStarts), std::move(whenFailed));
}

void MVWebCache::jsonForKey(const std::string& key, Json::WhenAvailable whenAvailable,
                            Json::WhenLoadingStarts whenLoadingStarts,
                            Json::WhenFailed whenFailed) {
    decodedForKey<nlohmann::json>(
        key,
        [key](const Data& data) -> Json::Value {
            auto result = json::parse(bytesOf(data));
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
            auto image = platform::Image::decode(bytesOf(data));
            if (!image) MVLogWarn("MVWebCache data for key <{}> is no image", escaped(key));
            return image;
        },
        std::move(whenAvailable), std::move(whenLoadingStarts), std::move(whenFailed));
}

// ---- loading ---------------------------------------------------------------------------

namespace {

std::optional<uint64_t> unsignedAt(const nlohmann::json& info, const char* key) {
    const auto* n = json::find(info, key);
    if (!n || !n->is_number_integer()) return std::nullopt;
    if (!n->is_number_unsigned() && n->get<int64_t>() < 0) return std::nullopt;
    return n->get<uint64_t>();
}

// One set of an entry as its row records it.
struct StoredSet {
    std::optional<uint64_t> length;
    std::optional<uint32_t> checksum;
    std::optional<std::string> mimeType;
    std::optional<Date> lastUpdate;
    std::optional<double> lifetime;
    nlohmann::json info;  // as stored, without the store's own keys

    // The length and checksum recorded in `stored` (rows stored before they were
    // recorded have neither).
    void takeRecorded(const nlohmann::json& stored) {
        length = unsignedAt(stored, kStoredLength);
        if (auto c = unsignedAt(stored, kStoredChecksum); c && *c <= UINT32_MAX) {
            checksum = static_cast<uint32_t>(*c);
        }
    }
    // An entry of kStoredEarlier, as earlierRecord() wrote it.
    static std::optional<StoredSet> fromEarlierRecord(const nlohmann::json& record) {
        const auto* info = json::find(record, kEarlierInfo);
        if (!info || !info->is_object()) return std::nullopt;
        StoredSet set;
        set.takeRecorded(record);
        set.info = withoutStoreKeys(*info);
        set.mimeType = json::stringValue(set.info, MVWebCacheDataInfoMimeType);
        if (json::find(set.info, MVWebCacheDataInfoMaximumLifetime)) {
            set.lifetime = lifetimeOf(set.info);
        }
        if (const auto* updated = json::find(record, kEarlierLastUpdate);
            updated && updated->is_number()) {
            set.lastUpdate = Date(updated->get<double>());
        }
        return set;
    }
    nlohmann::json earlierRecord() const {
        nlohmann::json record = {{kEarlierInfo, info}};
        if (length) record[kStoredLength] = *length;
        if (checksum) record[kStoredChecksum] = *checksum;
        if (lastUpdate) record[kEarlierLastUpdate] = lastUpdate->timeIntervalSince1970();
        return record;
    }
    // The row's stored info for this set, with the earlier sets still accepted.
    nlohmann::json storedInfo(const nlohmann::json& earlier) const {
        nlohmann::json stored = info;
        if (length) stored[kStoredLength] = *length;
        if (checksum) stored[kStoredChecksum] = *checksum;
        if (!earlier.empty()) stored[kStoredEarlier] = earlier;
        return stored;
    }
    bool sameAs(const StoredSet& other) const {
        return length == other.length && checksum == other.checksum &&
               lastUpdate == other.lastUpdate;
    }
    // Whether `bytes` are this set's; a set stored before lengths were recorded takes any.
    bool holds(std::string_view bytes) const {
        return (!length || bytes.size() == *length) &&
               (!checksum || checksumOf(bytes) == *checksum);
    }
    // What the disk read answers with these bytes.
    nlohmann::json answeredInfo() const {
        nlohmann::json answered = info;
        answered[MVWebCacheDataInfoMimeType] = mimeType.value_or("");
        answered[MVWebCacheDataInfoLastUpdate] =
            lastUpdate.value_or(Date::distantPast()).timeIntervalSince1970();
        answered[MVWebCacheDataInfoMaximumLifetime] = lifetime.value_or(0);
        return answered;
    }
};

// What this process knows of an entry's file: the set its bytes are since a write of
// this process landed, and the set whose write is under way (past its check, so it may
// land any moment).
struct FileKnowledge {
    std::optional<nlohmann::json> landed;  // each an earlier-set record
    std::optional<nlohmann::json> writing;
};

class FilesKnown {
  public:
    static FilesKnown& shared() {
        static auto* known = [] {
            auto* made = new FilesKnown;
            // A reset stands for a new start, which knows nothing of the files.
            platform::registerSharedInstanceReset("MVWebCache files known", [made] {
                std::lock_guard lock(made->mutex_);
                made->bySerial_.clear();
            });
            return made;
        }();
        return *known;
    }
    FileKnowledge of(int64_t serial) {
        std::lock_guard lock(mutex_);
        auto it = bySerial_.find(serial);
        return it == bySerial_.end() ? FileKnowledge() : it->second;
    }
    void writing(int64_t serial, nlohmann::json record) {
        std::lock_guard lock(mutex_);
        bySerial_[serial].writing = std::move(record);
    }
    // The write under way ended; when it landed, the file holds its set.
    void written(int64_t serial, bool landed) {
        std::lock_guard lock(mutex_);
        auto& known = bySerial_[serial];
        if (landed) known.landed = std::move(known.writing);
        known.writing.reset();
    }
    // A read found the set the file holds.
    void holds(int64_t serial, nlohmann::json record) {
        std::lock_guard lock(mutex_);
        bySerial_[serial].landed = std::move(record);
    }
    // The row went.
    void forget(std::optional<int64_t> serial) {
        std::lock_guard lock(mutex_);
        if (serial) bySerial_.erase(*serial);
    }
    void forgetAll() {
        std::lock_guard lock(mutex_);
        bySerial_.clear();
    }

  private:
    std::mutex mutex_;
    std::map<int64_t, FileKnowledge> bySerial_;
};

// What the disk read takes from a row, and how it knows the row again.
struct DiskEntry {
    std::string key;
    std::string path;
    std::optional<int64_t> serial;
    bool shadowed = false;
    StoredSet current;
    std::vector<StoredSet> earlier;

    explicit DiskEntry(const MVWebCacheResourceObject& row)
        : key(row.id().value_or("")),
          path(row.localFilename()),
          serial(row.localSerial()),
          shadowed(row.isShadowed()) {
        current.mimeType = row.mimeType();
        current.lastUpdate = row.lastUpdate();
        current.lifetime = row.maximumLifetime();
        const auto stored = row.infoDictionary();
        if (!stored || !stored->is_object()) return;
        current.info = withoutStoreKeys(*stored);
        current.takeRecorded(*stored);
        const auto* records = json::find(*stored, kStoredEarlier);
        if (!records || !records->is_array()) return;
        for (const auto& record : *records) {
            if (auto set = StoredSet::fromEarlierRecord(record)) earlier.push_back(std::move(*set));
        }
    }

    // Whether `row` is still the row this was taken from, holding the same set.
    bool describes(const MVWebCacheResourceObject& row) const {
        const DiskEntry now(row);
        return now.serial == serial && now.shadowed == shadowed && now.current.sameAs(current);
    }
    // The earlier sets a new set of this row accepts until its bytes land: those the file
    // may hold meanwhile. Where this process wrote the file, that is the set it landed and
    // the one being written; otherwise (the first sets after a start) this row's sets.
    // Beyond the limit the oldest stays: the set the last landed write left.
    nlohmann::json earlierForNextSet() const {
        std::vector<nlohmann::json> records;
        const FileKnowledge known = serial ? FilesKnown::shared().of(*serial) : FileKnowledge();
        if (known.landed) {
            if (known.writing) records.push_back(*known.writing);
            records.push_back(*known.landed);
        } else {
            for (const StoredSet* set : sets()) records.push_back(set->earlierRecord());
        }
        std::vector<nlohmann::json> kept;
        for (auto& record : records) {
            const bool repeated = std::any_of(kept.begin(), kept.end(), [&](const auto& k) {
                return k.value(kStoredLength, nlohmann::json()) ==
                           record.value(kStoredLength, nlohmann::json()) &&
                       k.value(kStoredChecksum, nlohmann::json()) ==
                           record.value(kStoredChecksum, nlohmann::json());
            });
            if (!repeated) kept.push_back(std::move(record));
        }
        if (kept.size() > kEarlierSetsKept) {
            kept.erase(kept.begin() + (kEarlierSetsKept - 1), kept.end() - 1);
        }
        return nlohmann::json(std::move(kept));
    }
    // The sets the file may hold, the row's own first.
    std::vector<const StoredSet*> sets() const {
        std::vector<const StoredSet*> all = {&current};
        for (const auto& set : earlier) all.push_back(&set);
        return all;
    }
    size_t readLimit() const {
        uint64_t limit = 0;
        for (const StoredSet* set : sets()) {
            if (!set->length) return kUnrecordedLengthLimit;
            limit = std::max(limit, *set->length);
        }
        return static_cast<size_t>(std::min<uint64_t>(limit, SIZE_MAX));
    }
    // Where the file lies while the row's shadowed flag is the other one.
    std::string otherFolderPath() const {
        if (!serial) return {};
        const std::string name = std::to_string(*serial);
        return shadowed ? MVWebCacheResourceObject::pathForWebCache() + "/" + name
                        : MVWebCacheResourceObject::pathForShadowCache() + "/webcache/" + name;
    }
};

struct DiskRead {
    enum Outcome { Read, Missing, Damaged, Failed } outcome = Missing;
    std::string bytes;
    const StoredSet* set = nullptr;
    std::string whyNot;
    platform::Error error;
};

// Whether a file that could not be read is a regular file of a size the entry allows, or
// cannot even be looked at: then the read itself failed rather than finding something
// that is not the entry's file.
bool readItselfFailed(const std::string& path, size_t limit) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return errno != ENOENT;
    return S_ISREG(info.st_mode) && info.st_size >= 0 &&
           static_cast<unsigned long long>(info.st_size) <= limit;
}

// Puts a file that a move between the two folders left behind back where its row names
// it; false, with a warning, when it cannot.
bool moveBack(const std::string& from, const std::string& to) {
    auto& fm = platform::FileManager::defaultManager();
    platform::Error error;
    if (fm.createDirectory(std::filesystem::path(to).parent_path().string(), true, &error) &&
        fm.moveItem(from, to, &error)) {
        return true;
    }
    MVLogWarn("MVWebCache could not move file [ {} => {} ] back: {}", from, to,
              errorDescription(error));
    return false;
}

DiskRead readEntryFile(const DiskEntry& entry, const std::string& path) {
    DiskRead read;
    bool missing = false;
    const size_t limit = entry.readLimit();
    auto bytes = platform::readRegularFile(path, limit, &read.whyNot, &missing);
    if (!bytes) {
        read.outcome = missing ? DiskRead::Missing : DiskRead::Damaged;
        if (!missing && readItselfFailed(path, limit)) {
            read.outcome = DiskRead::Failed;
            if (platform::FileManager::defaultManager().readFile(path, &read.error)) {
                read.error = platform::Error(platform::kPOSIXErrorDomain, EIO, read.whyNot);
            }
        }
        return read;
    }
    for (const StoredSet* set : entry.sets()) {
        if (!set->holds(*bytes)) continue;
        read.outcome = DiskRead::Read;
        read.set = set;
        read.bytes = std::move(*bytes);
        return read;
    }
    read.outcome = DiskRead::Damaged;
    const auto& length = entry.current.length;
    read.whyNot = length && bytes->size() != *length
                      ? fmt::format("{} bytes instead of the {} written", bytes->size(), *length)
                      : "not the bytes written (checksum differs)";
    return read;
}

// Reads the entry's file; a move between the two folders that a kill cut short may have
// left it in the other one, from where it goes back to its place.
DiskRead readEntry(const DiskEntry& entry) {
    DiskRead read = readEntryFile(entry, entry.path);
    const std::string other = entry.otherFolderPath();
    if (read.outcome != DiskRead::Missing || other.empty()) return read;
    DiskRead moved = readEntryFile(entry, other);
    if (moved.outcome != DiskRead::Read) return read;
    moveBack(other, entry.path);
    return moved;
}

// On the file queue: deletes the row of a file that is missing or not the one written,
// unless the row changed since it was read, and removes such a file.
void forgetEntry(const DiskEntry& entry, bool fileMissing) {
    bool deleted = false;
    changeEntries([&] {
        auto row = MVWebCacheResourceObject::dbObjectWithID(entry.key);
        if (!row || !entry.describes(*row)) return;
        row->deleteFromStorage();
        deleted = true;
    });
    if (deleted && !fileMissing) platform::FileManager::defaultManager().removeItem(entry.path);
}

// On the file queue: the file holds an earlier set of the row, as when a kill stopped the
// write of the row's own set. Unless the row changed since it was read, it records that
// set again.
void recordSetOfFile(const DiskEntry& entry, const StoredSet& set) {
    changeEntries([&] {
        auto row = MVWebCacheResourceObject::dbObjectWithID(entry.key);
        if (!row || !entry.describes(*row)) return;
        const nlohmann::json stored = set.storedInfo(nlohmann::json::array());
        row->setMimeType(set.mimeType);
        row->setLastUpdate(set.lastUpdate);
        row->setMaximumLifetime(set.lifetime);
        row->setInfoDictionary(&stored);
    });
}

// On the file queue: writes the bytes of the set `written` describes. They land only
// after the row that accepts them is on disc, and replace a file the row still accepts,
// so that a kill at any moment leaves a file of a set the row names.
void writeEntryFile(const DiskEntry& written, const MVWebCacheInterface::Data& data) {
    if (!written.serial) return;
    bool current = false;
    // Behind the change that stored the set; a later set sees this write under way.
    changeEntries([&] {
        auto row = MVWebCacheResourceObject::dbObjectWithID(written.key);
        current = row && row->localSerial() == written.serial &&
                  DiskEntry(*row).current.sameAs(written.current);
        if (current) FilesKnown::shared().writing(*written.serial, written.current.earlierRecord());
    });
    // A newer set or a clear came: what it queued behind this writes or removes the file.
    if (!current) return;
    MVPersistentStorage::sharedStorage().waitUntilWrittenToDisc();
    auto& fm = platform::FileManager::defaultManager();
    platform::Error error;
    const std::string folder = std::filesystem::path(written.path).parent_path().string();
    const bool landed = fm.createDirectory(folder, true, &error) &&
                        fm.writeFileAtomically(written.path, bytesOf(data), &error);
    FilesKnown::shared().written(*written.serial, landed);
    if (!landed) {
        MVLogError("MVWebCache could not write resource file ['{}' => '{}']. \n{} {}",
                   escaped(written.key), written.path, errorDescription(error),
                   json::print(error.userInfo()));
    }
}

}  // namespace

void MVWebCache::readFromDisk(const std::shared_ptr<Representation>& rep) {
    auto self = shared_from_this();
    platform::DispatchQueue::global().async([self, rep] {
        auto answer = [self, rep](Data data, std::optional<nlohmann::json> info) {
            platform::DispatchQueue::main().async(
                [self, rep, data, info] { self->diskAnswered(rep, data, info); });
        };
        bool queued = false;
        changeEntries([&] {
            auto row = MVWebCacheResourceObject::dbObjectWithID(rep->key);
            if (!row) return;
            if (self->isShadowModeRefreshingEnabled()) row->setIsShadowed(true);
            DiskEntry entry(*row);
            if (entry.path.empty()) {
                row->deleteFromStorage();
                return;
            }
            // Read on the file queue, behind every write and move queued for the row so
            // far: the file then holds a set the row describes.
            fileQueue().async([answer, entry = std::move(entry)] {
                DiskRead read = readEntry(entry);
                switch (read.outcome) {
                    case DiskRead::Failed:
                        // The file stays, and so does its row.
                        MVLogError(
                            "MVWebCacheRamObjectDataRepresentation error while reading file "
                            "\"{}\". {} {}",
                            entry.path, errorDescription(read.error),
                            json::print(read.error.userInfo()));
                        return answer(nullptr, std::nullopt);
                    case DiskRead::Damaged:
                        MVLogWarn(
                            "MVWebCacheRamObjectDataRepresentation file \"{}\" of [{}] is taken "
                            "as missing: {}",
                            entry.path, escaped(entry.key), read.whyNot);
                        forgetEntry(entry, false);
                        return answer(nullptr, std::nullopt);
                    case DiskRead::Missing:
                        forgetEntry(entry, true);
                        return answer(nullptr, std::nullopt);
                    case DiskRead::Read:
                        break;
                }
                if (read.set != &entry.current) recordSetOfFile(entry, *read.set);
                if (entry.serial)
                    FilesKnown::shared().holds(*entry.serial, read.set->earlierRecord());
                answer(std::make_shared<const std::vector<uint8_t>>(read.bytes.begin(),
                                                                    read.bytes.end()),
                       read.set->answeredInfo());
            });
            queued = true;
        });
        if (!queued) answer(nullptr, std::nullopt);
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
            rep->cacheTimeout = Date(updated).addingTimeInterval(lifetimeOf(*info));
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
                rep->takeData(data, withoutStoreKeys(info), began);
                rep->cacheTimeout = began.addingTimeInterval(lifetimeOf(info));
            });
        },
        failed);
}

// ---- setting and storing -----------------------------------------------------------------

void MVWebCache::setData(const Data& data, const std::string& key, const nlohmann::json& infos) {
    nlohmann::json info = withoutStoreKeys(infos);
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
    const nlohmann::json info = withoutStoreKeys(infos);
    const uint32_t checksum = checksumOf(bytesOf(data));
    std::lock_guard cacheLock(lock_);
    const Date now = Date::now();
    std::string path;
    changeEntries([&] {
        auto row = MVWebCacheResourceObject::dbObjectWithID(key);
        // Until this set's bytes land, the file holds one the row accepted before.
        nlohmann::json earlier = nlohmann::json::array();
        if (row) {
            earlier = DiskEntry(*row).earlierForNextSet();
        } else {
            row = MVWebCacheResourceObject::dbObjectCreate();
            row->setId(key);
            MVLogVerbose("MVWebCache new resource file ['{}' => '{}']", escaped(key),
                         row->localFilename());
        }
        path = row->localFilename();
        nlohmann::json stored = info;
        if (!path.empty()) stored[MVWebCacheDataInfoLocalFileURL] = fileURLString(path);
        stored[kStoredLength] = bytesOf(data).size();
        stored[kStoredChecksum] = checksum;
        if (!earlier.empty()) stored[kStoredEarlier] = std::move(earlier);
        row->setMimeType(json::stringValue(info, MVWebCacheDataInfoMimeType));
        if (json::find(info, MVWebCacheDataInfoMaximumLifetime)) {
            row->setMaximumLifetime(lifetimeOf(info));
        } else {
            row->setMaximumLifetime(std::nullopt);
        }
        row->setLastUpdate(now);
        row->setInfoDictionary(&stored);
        if (path.empty()) return;
        // Queued with the row change, so that the file queue runs the entry's writes,
        // moves and reads in the order of the row's changes.
        fileQueue().async([written = DiskEntry(*row), data] { writeEntryFile(written, data); });
    });
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

using KeyAndPath = std::vector<std::pair<std::string, std::string>>;

void removeEntryFiles(const KeyAndPath& keyAndPath, bool forKeys) {
    auto& fm = platform::FileManager::defaultManager();
    for (const auto& [key, path] : keyAndPath) {
        if (!fm.fileExists(path)) continue;
        platform::Error error;
        if (fm.removeItem(path, &error)) continue;
        if (forKeys) {
            MVLogError(
                "MVWebCache could not delete cache file for key [{}] at path\"{}\". "
                "Error: {} {}",
                escaped(key), path, errorDescription(error), json::print(error.userInfo()));
        } else {
            MVLogError("MVWebCache could not remove file for cache entry [ {} => {}] Error: {}",
                       escaped(key), path, errorDescription(error));
        }
    }
}

// Removes the files in the entry folders that no row names: files of deleted rows and
// temporary files that interrupted writes left. A row's file that a move cut short left
// in the other folder (`elsewhere`: where it lies and where it goes) goes back first.
void removeUnnamedFiles(std::set<std::string> named, const KeyAndPath& elsewhere) {
    auto& fm = platform::FileManager::defaultManager();
    for (const auto& [other, path] : elsewhere) {
        struct stat info {};
        const bool regular = ::lstat(other.c_str(), &info) == 0 && S_ISREG(info.st_mode);
        if (!regular || fm.fileExists(path)) continue;
        if (!moveBack(other, path)) named.insert(other);
    }
    for (const std::string& folder :
         {MVWebCacheResourceObject::pathForWebCache(),
          MVWebCacheResourceObject::pathForShadowCache() + "/webcache"}) {
        for (const auto& name :
             fm.contentsOfDirectory(folder).value_or(std::vector<std::string>())) {
            const std::string path = folder + "/" + name;
            if (!isEntryFileName(name) || named.count(path)) continue;
            platform::Error error;
            if (fm.removeItem(path, &error)) {
                MVLogVerbose("MVWebCache removed a file no entry names: {}", path);
            } else {
                MVLogError("MVWebCache could not remove file {} Error: {}", path,
                           errorDescription(error));
            }
        }
    }
}

}  // namespace

void MVWebCache::cleanup() {
    MVLogInfo("MVWebCache will now clean up");
    KeyAndPath removed;
    changeEntries([&] {
        MVWebStorageVariable::cleanup();
        std::set<std::string> named;
        KeyAndPath elsewhere;
        for (auto& row : MVWebCacheResourceObject::dbObjectsWithPredicate(MVPredicate())) {
            if (row->isShadowed() || !row->needsRefresh()) {
                const DiskEntry entry(*row);
                named.insert(entry.path);
                if (!entry.path.empty())
                    elsewhere.emplace_back(entry.otherFolderPath(), entry.path);
                continue;
            }
            removed.emplace_back(row->id().value_or(""), row->localFilename());
            FilesKnown::shared().forget(row->localSerial());
            row->deleteFromStorage();
        }
        // Queued with the row changes: after every write still pending for a row.
        fileQueue().async([removed, named, elsewhere] {
            removeEntryFiles(removed, false);
            removeUnnamedFiles(named, elsewhere);
        });
    });
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
    changeEntries([&] {
        KeyAndPath files;
        FilesKnown::shared().forgetAll();
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
        // The files go too: a later row with the same serial must not find another key's
        // bytes.
        fileQueue().async([files = std::move(files)] { removeEntryFiles(files, true); });
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
        changeEntries([&] {
            KeyAndPath files;
            for (auto& row : MVWebCacheResourceObject::dbObjectsWithContainedIn("id", ids)) {
                if (row->isShadowed()) shadowedWent = true;
                FilesKnown::shared().forget(row->localSerial());
                const std::string path = row->localFilename();
                if (!path.empty()) files.emplace_back(row->id().value_or(""), path);
                row->deleteFromStorage();
            }
            fileQueue().async([files = std::move(files)] { removeEntryFiles(files, true); });
        });
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
    changeEntries([] {
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
