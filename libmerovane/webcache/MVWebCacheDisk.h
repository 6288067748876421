#pragma once
// The disk half of the web cache: each entry's MVWebCacheResourceObject row and the file
// of its bytes, kept in step through kills.
//
//   auto& disk = MVWebCacheDisk::shared();
//   MVWebCacheDisk::changeEntries([&] { disk.store(data, key, info, Date::now()); });
//   disk.read(key, false, [](const Data& data, const std::optional<nlohmann::json>& info) {});
//
// A row records its set (the bytes' length and checksum beside the caller's info) and
// the earlier sets its file may still hold. A set's bytes land only once its row is on
// disc, and never while the store cannot write it (once a write carried it, later changes
// the store cannot write hold them back no longer), in the folder the row names when they
// land; until they have, the file holds an earlier set. What the process knows of each
// file (the sets it may hold, the set whose write is under way) decides which earlier
// sets a new row accepts: the set on disc and the one under way stay accepted until a
// later set's bytes have landed, however many sets come between. So a kill at any moment
// leaves a file of a set its row names.
//
// A file that matches none of its row's sets (cut short, changed, a link, a FIFO) counts
// as missing and its row goes; a file that cannot be read is a failed read that keeps its
// row. A file a move between the two folders left behind is found and put back.
//
// Thread-safe. Rows change inside changeEntries only; files change and are read on the
// entries' file queue, in the order their row changes queued them.

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "libmerovane/bridge/MVWebCacheInterface.h"
#include "platform/foundation/Date.h"

class MVWebCacheResourceObject;
class MVStoredValue;

class MVWebCacheDisk {
  public:
    using Data = MVWebCacheInterface::Data;
    using Answer = std::function<void(const Data& data, const std::optional<nlohmann::json>& info)>;

    // The process-wide instance; a reset of the shared instances stands for a new start.
    static MVWebCacheDisk& shared();

    // Locked access for blocks that change rows or queue file operations; a failing store
    // is logged, not thrown. Not from inside another locked access.
    static bool changeEntries(const std::function<void()>& block);
    // Waits until every file operation queued so far has run.
    static void waitForFileOperations();

    // The caller's info without the store's own keys.
    static nlohmann::json withoutStoreKeys(nlohmann::json info);
    // "maximum-lifetime" of an info dictionary as seconds in [0, 100 years].
    static double lifetimeOf(const nlohmann::json& info);
    static std::string_view bytesOf(const Data& data);

    // Inside changeEntries: the key's row (made when missing) records the set and the
    // earlier sets its file may hold until the set's bytes land; the write is queued.
    // Answers the file's path, empty when the row has none.
    std::string store(const Data& data, const std::string& key, const nlohmann::json& info,
                      platform::Date now);
    // Reads the key's entry, marking its row shadowed first when `shadowing`; answers
    // once, on the file queue or the calling thread: (bytes, info) or (null, none).
    void read(const std::string& key, bool shadowing, Answer answer);
    // Whether the key's row is younger than its lifetime.
    bool isFresh(const std::string& key);

    // Inside changeEntries. The rows of the keys in `ids` go and their files are queued for
    // removal; answers whether a shadowed row was among them.
    bool deleteRows(const std::vector<MVStoredValue>& ids);
    // Every row goes, and every file it names.
    void deleteAllRows();
    // Expired rows that are not shadowed go with their files; files that no row names go
    // too. Answers the keys whose rows went.
    std::vector<std::string> deleteExpiredRows();

    // On the file queue, for the shared instances' reset: writes that waited for a row
    // that could not be written try once more.
    void landDeferredWrites();

    // ---- the rules, stated for tests ------------------------------------------------
    // A set as rows record it: {"stored-length", "stored-crc32", "last-update", "info"}.
    using SetRecord = nlohmann::json;
    // What the process knows of one entry's file.
    struct FileKnowledge {
        // The sets the file may hold; one once a write landed or a read found it, none when
        // it holds no set of the row. Unknown after a start until a set is stored.
        std::optional<std::vector<SetRecord>> onDisc;
        // The set whose write passed its check and may land any moment.
        std::optional<SetRecord> writing;
    };
    // The earlier sets a new set's row accepts, newest first: the set being written and
    // the sets the file may hold. Without knowledge they are the row's own (`rowSets`,
    // newest first), of which the newest are kept; `known` then learns them.
    static std::vector<SetRecord> acceptedBeforeLanding(FileKnowledge& known,
                                                        const std::vector<SetRecord>& rowSets);
    // Whether the write of a set may land: its row still holds it and is on disc.
    static bool mayLand(bool rowHoldsTheSet, bool rowOnDisc) { return rowHoldsTheSet && rowOnDisc; }
    // How many sets a row's file may hold before a write learns which it is.
    static constexpr size_t kCandidatesBeforeLearning = 2;
    FileKnowledge knowledgeOf(int64_t serial);

  private:
    struct Entry;
    struct Read;
    MVWebCacheDisk() = default;

    void lookedUp(const std::string& key, bool shadowing, const Answer& answer);
    void readQueued(const Entry& entry, const Answer& answer);
    void writeFile(const Entry& written, const Data& data, std::optional<uint64_t> carried);
    // Told by the store after each write that put rows on disc.
    void storeWritten();
    void queueDeferredWrites();
    std::optional<Data> waitingBytes(const Entry& entry);
    void learnFileSet(const Entry& written);
    void forgetEntry(const Entry& entry, bool fileMissing);
    static void recordSetOfFile(const Entry& entry, const SetRecord& set);

    // The process's knowledge, by serial.
    std::vector<SetRecord> accepted(int64_t serial, const std::vector<SetRecord>& rowSets);
    void knowNothingOnDisc(int64_t serial);
    void writeBegins(int64_t serial, SetRecord record);
    void writeEnded(int64_t serial, bool landed);
    void holds(int64_t serial, std::optional<SetRecord> record);
    void forget(std::optional<int64_t> serial);
    void forgetAll();

    std::mutex mutex_;
    std::map<int64_t, FileKnowledge> known_;
    // Writes whose row could not be written to disc, by serial: they land once the store
    // has written the changes `mark` covers.
    struct Deferred {
        std::shared_ptr<const Entry> entry;
        Data data;
        uint64_t mark = 0;
    };
    std::map<int64_t, Deferred> deferred_;
    bool landingQueued_ = false;  // landDeferredWrites is on the file queue
};
