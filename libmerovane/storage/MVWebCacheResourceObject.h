#pragma once
// The stored record of one web cache entry: its key, type, update time, lifetime, info
// dictionary, the serial that names its cached file and its shadow flag. Access
// inside MVPersistentStorage::lockedAccess only.
//
// The entry's bytes lie in a file named by the serial: "<web cache folder>/<serial>",
// or "<shadow cache folder>/webcache/<serial>" while the row is shadowed. Keys never
// reach file names. The folders are set at start-up (setFolders); serials count from
// 100000, continuing after the highest stored one.
//
// Every change to the files (write, move, removal) and every read of one runs on one
// serial queue, fileQueue(), queued inside changeEntries together with the row change
// it belongs to: the queue's order is the rows' order, so a row and its file agree once
// the queue has caught up.

#include <functional>
#include <string>

#include "libmerovane/storage/MVPersistentObject.h"

namespace platform {
class DispatchQueue;
}

class MVWebCacheResourceObject : public MVPersistentEntity<MVWebCacheResourceObject> {
  public:
    static const MVEntityDescription& entityDescription();

    // A new row with the next serial, not shadowed.
    static Ptr dbObjectCreate();

    // The folders of the entries' files; by default "libmerovane/webcache" in the
    // caches folder and "libmerovane/shadowcache" in the documents folder.
    static void setFolders(std::string webCache, std::string shadowCache);
    static std::string pathForWebCache();
    static std::string pathForShadowCache();
    // The serial queue of the entries' file operations.
    static platform::DispatchQueue& fileQueue();
    // What a file operation does at the process's stop: a write or removal that makes a
    // file what its row now says lands (the stop waits for it); anything else (a read, a
    // move between the folders, which a later read finishes) is skipped.
    enum class AtTheStop { Lands, Skipped };
    // Queues `operation` on fileQueue(), to run unless the stop skips it.
    static void queueFileOperation(AtTheStop atTheStop, std::function<void()> operation);
    // The process's stop: the operations queued so far that land run, the others are
    // skipped, and none queued from now on runs. Waits for them up to `bound` seconds;
    // false, with a log line, when they still ran then. Any thread but the file queue's.
    static bool endFileOperations(double bound);
    // Locked access for blocks that change rows (setIsShadowed included) or queue file
    // operations: one block at a time, its changes saved before the next begins. Not
    // from inside another locked access. Throws what lockedAccess throws.
    static void changeEntries(const std::function<void()>& block);

    // Where the entry's file lies; empty without a serial.
    std::string localFilename() const;
    // Whether lastUpdate plus maximumLifetime lies in the past.
    bool needsRefresh() const;
    bool isShadowed() const { return shadowed(); }
    // Sets the flag and queues the move of the file between the two folders; failures
    // are logged and reported, and the flag changes anyway.
    void setIsShadowed(bool shadowed);

    // The web cache key.
    std::optional<std::string> id() const { return textAt(kId); }
    void setId(std::optional<std::string> v) {
        setAt(kId, v ? MVStoredValue(*v) : MVStoredValue());
    }
    std::optional<std::string> mimeType() const { return textAt(kMimeType); }
    void setMimeType(std::optional<std::string> v) {
        setAt(kMimeType, v ? MVStoredValue(*v) : MVStoredValue());
    }
    std::optional<platform::Date> lastUpdate() const { return dateAt(kLastUpdate); }
    void setLastUpdate(std::optional<platform::Date> v) {
        setAt(kLastUpdate, v ? MVStoredValue(v->timeIntervalSince1970()) : MVStoredValue());
    }
    std::optional<double> maximumLifetime() const { return realAt(kMaximumLifetime); }
    void setMaximumLifetime(std::optional<double> v) {
        setAt(kMaximumLifetime, v ? MVStoredValue(*v) : MVStoredValue());
    }
    std::shared_ptr<const nlohmann::json> infoDictionary() const { return jsonAt(kInfoDictionary); }
    void setInfoDictionary(const nlohmann::json* v) {
        setAt(kInfoDictionary, v ? MVStoredValue::json(*v) : MVStoredValue());
    }
    std::optional<int64_t> localSerial() const { return integerAt(kLocalSerial); }
    void setLocalSerial(std::optional<int64_t> v) {
        setAt(kLocalSerial, v ? MVStoredValue(*v) : MVStoredValue());
    }
    bool shadowed() const { return booleanAt(kShadowed).value_or(false); }
    void setShadowed(bool v) { setAt(kShadowed, MVStoredValue(v)); }

  private:
    enum Attribute : int {
        kId,
        kMimeType,
        kLastUpdate,
        kMaximumLifetime,
        kInfoDictionary,
        kLocalSerial,
        kShadowed
    };
    MVWebCacheResourceObject() = default;
    static void resetSerialsForTesting();
    mutable std::string localFilename_;  // kept until the shadowed flag changes
    static std::shared_ptr<MVPersistentObject> make();
};
