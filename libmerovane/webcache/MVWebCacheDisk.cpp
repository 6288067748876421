#include "libmerovane/webcache/MVWebCacheDisk.h"

#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <set>

#include "libmerovane/core/ErrorDescription.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/storage/MVPersistentStorage.h"
#include "libmerovane/storage/MVStoredValue.h"
#include "libmerovane/storage/MVWebCacheResourceObject.h"
#include "libmerovane/webcache/MVWebCache.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/RegularFile.h"
#include "platform/foundation/SharedInstances.h"

namespace json = platform::json;
using platform::Date;
using platform::log::escaped;
using SetRecord = MVWebCacheDisk::SetRecord;

namespace {

// Longest lifetime taken from an info dictionary: keeps every expiry a finite date.
constexpr double kMaximumLifetimeLimit = 100.0 * 365 * 24 * 3600;

// Written by the disk store beside the caller's info, checked by the disk read and
// never part of an answered info (so never of a response).
constexpr const char* kStoredLength = "stored-length";
constexpr const char* kStoredChecksum = "stored-crc32";
// The earlier sets whose bytes the file may still hold while the write of the row's own
// set has not landed, newest first.
constexpr const char* kStoredEarlier = "stored-earlier";
constexpr const char* kEarlierLastUpdate = "last-update";
constexpr const char* kEarlierInfo = "info";
// The row's sets a process takes as those its file may hold, before it learns which.
constexpr size_t kEarlierSetsKept = 8;
// Rows stored before lengths were recorded are read up to this size.
constexpr size_t kUnrecordedLengthLimit = size_t{256} << 20;

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

std::optional<uint64_t> unsignedAt(const nlohmann::json& info, const char* key) {
    const auto* n = json::find(info, key);
    if (!n || !n->is_number_integer()) return std::nullopt;
    if (!n->is_number_unsigned() && n->get<int64_t>() < 0) return std::nullopt;
    return n->get<uint64_t>();
}

// Whether two set records name the same bytes.
bool sameBytes(const SetRecord& a, const SetRecord& b) {
    return a.value(kStoredLength, nlohmann::json()) == b.value(kStoredLength, nlohmann::json()) &&
           a.value(kStoredChecksum, nlohmann::json()) == b.value(kStoredChecksum, nlohmann::json());
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

// Whether a file name in an entry folder is one the cache writes: "<serial>" or a
// temporary "<serial>.tmp-<pid>-<n>" of an atomic write.
bool isEntryFileName(const std::string& name) {
    const size_t digits = name.find_first_not_of("0123456789");
    if (digits == 0) return false;
    return digits == std::string::npos || name.compare(digits, 5, ".tmp-") == 0;
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
    // A record of kStoredEarlier, as earlierRecord() wrote it.
    static std::optional<StoredSet> fromEarlierRecord(const SetRecord& record) {
        const auto* info = json::find(record, kEarlierInfo);
        if (!info || !info->is_object()) return std::nullopt;
        StoredSet set;
        set.takeRecorded(record);
        set.info = MVWebCacheDisk::withoutStoreKeys(*info);
        set.mimeType = json::stringValue(set.info, MVWebCacheDataInfoMimeType);
        if (json::find(set.info, MVWebCacheDataInfoMaximumLifetime)) {
            set.lifetime = MVWebCacheDisk::lifetimeOf(set.info);
        }
        if (const auto* updated = json::find(record, kEarlierLastUpdate);
            updated && updated->is_number()) {
            set.lastUpdate = Date(updated->get<double>());
        }
        return set;
    }
    SetRecord earlierRecord() const {
        SetRecord record = {{kEarlierInfo, info}};
        if (length) record[kStoredLength] = *length;
        if (checksum) record[kStoredChecksum] = *checksum;
        if (lastUpdate) record[kEarlierLastUpdate] = lastUpdate->timeIntervalSince1970();
        return record;
    }
    // The row's stored info for this set, with the earlier sets still accepted.
    nlohmann::json storedInfo(const std::vector<SetRecord>& earlier) const {
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

// What the disk takes from a row, and how it knows the row again.
struct MVWebCacheDisk::Entry {
    std::string key;
    std::string path;
    std::optional<int64_t> serial;
    bool shadowed = false;
    StoredSet current;
    std::vector<StoredSet> earlier;

    explicit Entry(const MVWebCacheResourceObject& row)
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
        const Entry now(row);
        return now.serial == serial && now.shadowed == shadowed && now.current.sameAs(current);
    }
    // The sets the file may hold, the row's own first.
    std::vector<const StoredSet*> sets() const {
        std::vector<const StoredSet*> all = {&current};
        for (const auto& set : earlier) all.push_back(&set);
        return all;
    }
    std::vector<SetRecord> records() const {
        std::vector<SetRecord> all;
        for (const StoredSet* set : sets()) all.push_back(set->earlierRecord());
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

struct MVWebCacheDisk::Read {
    enum Outcome { Found, Missing, Damaged, Failed } outcome = Missing;
    std::string bytes;
    const StoredSet* set = nullptr;
    std::string whyNot;
    platform::Error error;

    // Reads the file at `path` and finds the set of `entry` it holds.
    static Read file(const Entry& entry, const std::string& path) {
        Read read;
        platform::RegularFileRead file = platform::tryReadRegularFile(path, entry.readLimit());
        switch (file.outcome) {
            case platform::RegularFileRead::Read:
                break;
            case platform::RegularFileRead::Missing:
                read.outcome = Missing;
                return read;
            case platform::RegularFileRead::Failed:
                read.outcome = Failed;
                read.whyNot = file.whyNot;
                read.error = platform::Error(platform::kPOSIXErrorDomain,
                                             file.errorNumber ? file.errorNumber : EIO,
                                             std::move(file.whyNot));
                return read;
            default:
                read.outcome = Damaged;
                read.whyNot = std::move(file.whyNot);
                return read;
        }
        auto bytes = std::optional<std::string>(std::move(file.bytes));
        for (const StoredSet* set : entry.sets()) {
            if (!set->holds(*bytes)) continue;
            read.outcome = Found;
            read.set = set;
            read.bytes = std::move(*bytes);
            return read;
        }
        read.outcome = Damaged;
        const auto& length = entry.current.length;
        read.whyNot =
            length && bytes->size() != *length
                ? fmt::format("{} bytes instead of the {} written", bytes->size(), *length)
                : "not the bytes written (checksum differs)";
        return read;
    }
    // Reads the entry's file; a move between the two folders that a kill cut short may
    // have left it in the other one, from where it goes back to its place.
    static Read entryFile(const Entry& entry) {
        Read read = file(entry, entry.path);
        const std::string other = entry.otherFolderPath();
        if (read.outcome != Missing || other.empty()) return read;
        Read moved = file(entry, other);
        if (moved.outcome != Found) return read;
        moveBack(other, entry.path);
        return moved;
    }
};

// ---- instance and shared helpers ---------------------------------------------------------

MVWebCacheDisk& MVWebCacheDisk::shared() {
    static auto* disk = [] {
        auto* made = new MVWebCacheDisk;
        // A reset stands for a new start, which knows nothing of the files.
        platform::registerSharedInstanceReset("MVWebCache files known", [made] {
            std::lock_guard lock(made->mutex_);
            made->known_.clear();
            made->deferred_.clear();
        });
        MVPersistentStorage::addDiscWriteObserver([made] { made->storeWritten(); });
        return made;
    }();
    return *disk;
}

bool MVWebCacheDisk::changeEntries(const std::function<void()>& block) {
    shared();  // its reset runs after the file operations'
    const bool changed = reportingFailure([&] { MVWebCacheResourceObject::changeEntries(block); });
    // File operations use the store: a reset lets them end before the store goes.
    // Registered after the store's own reset, which therefore runs after this one.
    static std::once_flag registered;
    std::call_once(registered, [] {
        platform::registerSharedInstanceReset("MVWebCache file operations", [] {
            MVWebCacheResourceObject::fileQueue().sync([] { shared().landDeferredWrites(); });
        });
    });
    return changed;
}

void MVWebCacheDisk::waitForFileOperations() {
    MVWebCacheResourceObject::fileQueue().sync([] {});
}

nlohmann::json MVWebCacheDisk::withoutStoreKeys(nlohmann::json info) {
    if (!info.is_object()) return nlohmann::json::object();
    info.erase(kStoredLength);
    info.erase(kStoredChecksum);
    info.erase(kStoredEarlier);
    return info;
}

double MVWebCacheDisk::lifetimeOf(const nlohmann::json& info) {
    const double seconds = json::doubleValue(info, MVWebCacheDataInfoMaximumLifetime);
    if (!std::isfinite(seconds) || seconds <= 0) return 0;
    return std::min(seconds, kMaximumLifetimeLimit);
}

std::string_view MVWebCacheDisk::bytesOf(const Data& data) {
    return data ? std::string_view(reinterpret_cast<const char*>(data->data()), data->size())
                : std::string_view();
}

// ---- the rules -----------------------------------------------------------------------------

std::vector<SetRecord> MVWebCacheDisk::acceptedBeforeLanding(
    FileKnowledge& known, const std::vector<SetRecord>& rowSets) {
    if (!known.onDisc) {
        // The first set since the start: the file holds one of the row's sets.
        known.onDisc.emplace(
            rowSets.begin(),
            rowSets.begin() + static_cast<long>(std::min(rowSets.size(), kEarlierSetsKept)));
    }
    std::vector<SetRecord> accepted;
    auto add = [&](const SetRecord& record) {
        if (std::none_of(accepted.begin(), accepted.end(),
                         [&](const SetRecord& a) { return sameBytes(a, record); })) {
            accepted.push_back(record);
        }
    };
    if (known.writing) add(*known.writing);
    for (const auto& record : *known.onDisc) add(record);
    return accepted;
}

MVWebCacheDisk::FileKnowledge MVWebCacheDisk::knowledgeOf(int64_t serial) {
    std::lock_guard lock(mutex_);
    auto it = known_.find(serial);
    return it == known_.end() ? FileKnowledge() : it->second;
}

std::vector<SetRecord> MVWebCacheDisk::accepted(int64_t serial,
                                                const std::vector<SetRecord>& rowSets) {
    std::lock_guard lock(mutex_);
    return acceptedBeforeLanding(known_[serial], rowSets);
}

void MVWebCacheDisk::knowNothingOnDisc(int64_t serial) {
    std::lock_guard lock(mutex_);
    known_[serial] = {std::vector<SetRecord>(), std::nullopt};
}

void MVWebCacheDisk::writeBegins(int64_t serial, SetRecord record) {
    std::lock_guard lock(mutex_);
    known_[serial].writing = std::move(record);
}

void MVWebCacheDisk::writeEnded(int64_t serial, bool landed) {
    std::lock_guard lock(mutex_);
    auto& known = known_[serial];
    if (landed && known.writing) known.onDisc = std::vector<SetRecord>{std::move(*known.writing)};
    known.writing.reset();
}

void MVWebCacheDisk::holds(int64_t serial, std::optional<SetRecord> record) {
    std::lock_guard lock(mutex_);
    auto& onDisc = known_[serial].onDisc;
    onDisc.emplace();
    if (record) onDisc->push_back(std::move(*record));
}

void MVWebCacheDisk::forget(std::optional<int64_t> serial) {
    if (!serial) return;
    std::lock_guard lock(mutex_);
    known_.erase(*serial);
    deferred_.erase(*serial);
}

void MVWebCacheDisk::forgetAll() {
    std::lock_guard lock(mutex_);
    known_.clear();
    deferred_.clear();
}

// ---- storing -----------------------------------------------------------------------------

std::string MVWebCacheDisk::store(const Data& data, const std::string& key,
                                  const nlohmann::json& infos, Date now) {
    const nlohmann::json info = withoutStoreKeys(infos);
    const uint32_t checksum = checksumOf(bytesOf(data));
    std::string path;
    changeEntries([&] {
        auto row = MVWebCacheResourceObject::dbObjectWithID(key);
        // Until this set's bytes land, the file holds one the row accepted before.
        std::vector<SetRecord> earlier;
        if (row) {
            const Entry entry(*row);
            if (entry.serial) earlier = accepted(*entry.serial, entry.records());
        } else {
            row = MVWebCacheResourceObject::dbObjectCreate();
            row->setId(key);
            if (auto serial = row->localSerial()) knowNothingOnDisc(*serial);
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
        MVWebCacheResourceObject::queueFileOperation(
            MVWebCacheResourceObject::AtTheStop::Lands,
            [this, written = std::make_shared<const Entry>(*row), data] {
                writeFile(*written, data, {});
            });
    });
    return path;
}

// On the file queue: after a start, a row may accept more sets than a burst of sets should
// carry on; the file tells which one it holds.
void MVWebCacheDisk::learnFileSet(const Entry& written) {
    const auto onDisc = knowledgeOf(*written.serial).onDisc;
    if (!onDisc || onDisc->size() <= kCandidatesBeforeLearning) return;
    Entry candidates = written;
    candidates.earlier.clear();
    for (const auto& record : *onDisc) {
        if (auto set = StoredSet::fromEarlierRecord(record)) {
            candidates.earlier.push_back(std::move(*set));
        }
    }
    if (candidates.earlier.empty()) return;
    candidates.current = candidates.earlier.front();
    candidates.earlier.erase(candidates.earlier.begin());
    const Read read = Read::entryFile(candidates);
    // A file that cannot be read may still hold any of them.
    if (read.outcome == Read::Failed) return;
    holds(*written.serial, read.outcome == Read::Found
                               ? std::optional<SetRecord>(read.set->earlierRecord())
                               : std::nullopt);
}

// On the file queue: writes the bytes of the set `written` describes. They land only
// once the row that holds them is on disc, and replace a file the row still accepts, so
// that a kill at any moment leaves a file of a set the row names. A write whose row the
// store could not write waits for the next write that puts it on disc, whoever makes it;
// `carried` marks the changes that held its row then.
void MVWebCacheDisk::writeFile(const Entry& written, const Data& data,
                               std::optional<uint64_t> carried) {
    if (!written.serial) return;
    const int64_t serial = *written.serial;
    auto& storage = MVPersistentStorage::sharedStorage();
    std::optional<Entry> target;
    uint64_t mark = 0;
    // Behind the change that stored the set; a later set sees this write under way.
    changeEntries([&] {
        auto row = MVWebCacheResourceObject::dbObjectWithID(written.key);
        if (!row || row->localSerial() != written.serial) return;
        const Entry now(*row);
        if (!now.current.sameAs(written.current)) return;
        // A shadowing read or a refreshing shadow mode may have moved the file since the
        // set: it lands where the row names it now.
        target = written;
        target->path = now.path;
        target->shadowed = now.shadowed;
        mark = carried.value_or(storage.savedChangesMark());
        writeBegins(serial, written.current.earlierRecord());
    });
    // A newer set or a clear came: what it queued behind this writes or removes the file.
    if (!target) return;
    learnFileSet(*target);
    // Once a write has carried the row, a store that fails again later holds nothing back.
    if (!mayLand(true, storage.isOnDisc(mark) || storage.waitUntilWrittenToDisc())) {
        writeEnded(serial, false);
        {
            std::lock_guard lock(mutex_);
            deferred_[serial] = {std::make_shared<const Entry>(*target), data, mark};
        }
        MVLogWarn(
            "MVWebCache resource file ['{}' => '{}'] waits: its entry could not be written to "
            "disc",
            escaped(written.key), target->path);
        // A write that put the row on disc may have ended before the wait was recorded.
        if (storage.isOnDisc(mark)) queueDeferredWrites();
        return;
    }
    auto& fm = platform::FileManager::defaultManager();
    platform::Error error;
    const std::string folder = std::filesystem::path(target->path).parent_path().string();
    const bool landed = fm.createDirectory(folder, true, &error) &&
                        fm.writeFileAtomically(target->path, bytesOf(data), &error);
    writeEnded(serial, landed);
    if (!landed) {
        MVLogError("MVWebCache could not write resource file ['{}' => '{}']. \n{} {}",
                   escaped(written.key), target->path, errorDescription(error),
                   json::print(error.userInfo()));
        return;
    }
    // The earlier set in the other folder goes: a move queued behind this one, for a flag
    // that changed while it ran, finds nothing to carry over the bytes that landed.
    if (const std::string other = target->otherFolderPath(); !other.empty()) {
        struct stat info {};
        if (::lstat(other.c_str(), &info) == 0) fm.removeItem(other);
    }
}

// On the writing thread of the store, holding it: the rows of the waiting writes may be
// on disc now; their files follow on the file queue, in order with the entries' other
// file operations.
void MVWebCacheDisk::storeWritten() {
    {
        std::lock_guard lock(mutex_);
        if (deferred_.empty()) return;
    }
    queueDeferredWrites();
}

void MVWebCacheDisk::queueDeferredWrites() {
    {
        std::lock_guard lock(mutex_);
        if (landingQueued_) return;
        landingQueued_ = true;
    }
    MVWebCacheResourceObject::queueFileOperation(MVWebCacheResourceObject::AtTheStop::Lands,
                                                 [this] { landDeferredWrites(); });
}

void MVWebCacheDisk::landDeferredWrites() {
    decltype(deferred_) deferred;
    {
        std::lock_guard lock(mutex_);
        landingQueued_ = false;
        deferred.swap(deferred_);
    }
    for (const auto& [serial, write] : deferred) writeFile(*write.entry, write.data, write.mark);
}

// The bytes of the key's set whose write waits for its row to reach the disc, when
// `entry` is that row: the file still holds an earlier set, or none yet.
std::optional<MVWebCacheDisk::Data> MVWebCacheDisk::waitingBytes(const Entry& entry) {
    if (!entry.serial) return std::nullopt;
    std::lock_guard lock(mutex_);
    auto it = deferred_.find(*entry.serial);
    if (it == deferred_.end() || !it->second.entry->current.sameAs(entry.current)) {
        return std::nullopt;
    }
    const Data& data = it->second.data;
    return data ? data : std::make_shared<const std::vector<uint8_t>>();
}

// ---- reading -----------------------------------------------------------------------------

void MVWebCacheDisk::read(const std::string& key, bool shadowing, Answer answer) {
    bool queued = false;
    changeEntries([&] {
        auto row = MVWebCacheResourceObject::dbObjectWithID(key);
        if (!row) return;
        if (shadowing) row->setIsShadowed(true);
        auto entry = std::make_shared<const Entry>(*row);
        if (entry->path.empty()) {
            row->deleteFromStorage();
            return;
        }
        // Read on the file queue, behind every write and move queued for the row so far:
        // the file then holds a set the row describes.
        MVWebCacheResourceObject::queueFileOperation(
            MVWebCacheResourceObject::AtTheStop::Skipped,
            [this, entry, answer] { readQueued(*entry, answer); });
        queued = true;
    });
    if (!queued) answer(nullptr, std::nullopt);
}

void MVWebCacheDisk::readQueued(const Entry& entry, const Answer& answer) {
    // The set being written is the row's, whatever earlier set the file still holds.
    if (auto waiting = waitingBytes(entry)) return answer(*waiting, entry.current.answeredInfo());
    const Read read = Read::entryFile(entry);
    switch (read.outcome) {
        case Read::Failed:
            // The file stays, and so does its row.
            MVLogError(
                "MVWebCacheRamObjectDataRepresentation error while reading file \"{}\". {} {}",
                entry.path, errorDescription(read.error), json::print(read.error.userInfo()));
            return answer(nullptr, std::nullopt);
        case Read::Damaged:
            MVLogWarn(
                "MVWebCacheRamObjectDataRepresentation file \"{}\" of [{}] is taken as "
                "missing: {}",
                entry.path, escaped(entry.key), read.whyNot);
            forgetEntry(entry, false);
            return answer(nullptr, std::nullopt);
        case Read::Missing:
            forgetEntry(entry, true);
            return answer(nullptr, std::nullopt);
        case Read::Found:
            break;
    }
    const SetRecord record = read.set->earlierRecord();
    if (read.set != &entry.current) recordSetOfFile(entry, record);
    if (entry.serial) holds(*entry.serial, record);
    answer(std::make_shared<const std::vector<uint8_t>>(read.bytes.begin(), read.bytes.end()),
           read.set->answeredInfo());
}

// On the file queue: deletes the row of a file that is missing or not the one written,
// unless the row changed since it was read, and removes such a file.
void MVWebCacheDisk::forgetEntry(const Entry& entry, bool fileMissing) {
    bool deleted = false;
    changeEntries([&] {
        auto row = MVWebCacheResourceObject::dbObjectWithID(entry.key);
        if (!row || !entry.describes(*row)) return;
        row->deleteFromStorage();
        forget(entry.serial);
        deleted = true;
    });
    if (deleted && !fileMissing) platform::FileManager::defaultManager().removeItem(entry.path);
}

// On the file queue: the file holds an earlier set of the row, as when a kill stopped the
// write of the row's own set. Unless the row changed since it was read, it records that
// set again.
void MVWebCacheDisk::recordSetOfFile(const Entry& entry, const SetRecord& record) {
    const auto set = StoredSet::fromEarlierRecord(record);
    if (!set) return;
    changeEntries([&] {
        auto row = MVWebCacheResourceObject::dbObjectWithID(entry.key);
        if (!row || !entry.describes(*row)) return;
        const nlohmann::json stored = set->storedInfo({});
        row->setMimeType(set->mimeType);
        row->setLastUpdate(set->lastUpdate);
        row->setMaximumLifetime(set->lifetime);
        row->setInfoDictionary(&stored);
    });
}

bool MVWebCacheDisk::isFresh(const std::string& key) {
    bool fresh = false;
    reportingFailure([&] {
        MVPersistentStorage::sharedStorage().lockedAccess([&] {
            auto row = MVWebCacheResourceObject::dbObjectWithID(key);
            if (!row) return;
            const double age =
                Date::now().timeIntervalSince(row->lastUpdate().value_or(Date::distantPast()));
            fresh = age < row->maximumLifetime().value_or(0);
        });
    });
    return fresh;
}

// ---- removing ----------------------------------------------------------------------------

bool MVWebCacheDisk::deleteRows(const std::vector<MVStoredValue>& ids) {
    bool shadowedWent = false;
    KeyAndPath files;
    for (auto& row : MVWebCacheResourceObject::dbObjectsWithContainedIn("id", ids)) {
        if (row->isShadowed()) shadowedWent = true;
        forget(row->localSerial());
        const std::string path = row->localFilename();
        if (!path.empty()) files.emplace_back(row->id().value_or(""), path);
        row->deleteFromStorage();
    }
    MVWebCacheResourceObject::queueFileOperation(
        MVWebCacheResourceObject::AtTheStop::Lands,
        [files = std::move(files)] { removeEntryFiles(files, true); });
    return shadowedWent;
}

void MVWebCacheDisk::deleteAllRows() {
    KeyAndPath files;
    forgetAll();
    for (auto& row : MVWebCacheResourceObject::dbObjectsWithoutFetchingProperties()) {
        const std::string path = row->localFilename();
        if (!path.empty()) files.emplace_back(row->id().value_or(""), path);
        row->deleteFromStorage();
    }
    // The files go too: a later row with the same serial must not find another key's bytes.
    MVWebCacheResourceObject::queueFileOperation(
        MVWebCacheResourceObject::AtTheStop::Lands,
        [files = std::move(files)] { removeEntryFiles(files, true); });
}

std::vector<std::string> MVWebCacheDisk::deleteExpiredRows() {
    KeyAndPath removed;
    std::set<std::string> named;
    KeyAndPath elsewhere;
    for (auto& row : MVWebCacheResourceObject::dbObjectsWithPredicate(MVPredicate())) {
        if (row->isShadowed() || !row->needsRefresh()) {
            const Entry entry(*row);
            named.insert(entry.path);
            if (!entry.path.empty()) elsewhere.emplace_back(entry.otherFolderPath(), entry.path);
            continue;
        }
        removed.emplace_back(row->id().value_or(""), row->localFilename());
        forget(row->localSerial());
        row->deleteFromStorage();
    }
    // Queued with the row changes: after every write still pending for a row. The files of
    // the rows that went go at a stop too; the sweep waits for a later start.
    MVWebCacheResourceObject::queueFileOperation(MVWebCacheResourceObject::AtTheStop::Lands,
                                                 [removed] { removeEntryFiles(removed, false); });
    MVWebCacheResourceObject::queueFileOperation(
        MVWebCacheResourceObject::AtTheStop::Skipped,
        [named, elsewhere] { removeUnnamedFiles(named, elsewhere); });
    std::vector<std::string> keys;
    for (const auto& entry : removed) keys.push_back(entry.first);
    return keys;
}
