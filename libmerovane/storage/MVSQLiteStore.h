#pragma once
// The SQLite file behind persistent storage: one table per entity, keyed by a row id in
// insertion order, and a metadata table with the model's version identifiers and
// entity hashes. WAL journal whose companion files ("-wal", "-shm") persist beside the
// store when it closes, synchronous NORMAL.
//
// Not for callers of storage: MVPersistentStoreCoordinator and the migration manager
// use it. Reads go through a pool of connections, so that fetches on several threads
// never wait for the disc write; writes run on one connection, one transaction per
// call. Thread-safe.

#include <cstdint>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <vector>

#include "libmerovane/storage/MVStoredValue.h"

namespace platform {
class Error;
}
class MVObjectModel;
class MVEntityDescription;
class MVMappingModel;
class MVBoundPredicate;
class MVBoundSort;

struct MVStoreRow {
    int64_t rowID = 0;
    std::vector<MVStoredValue> values;  // in the entity's attribute order
};

// One row's new state; null values delete the row.
struct MVStoreChange {
    int64_t rowID = 0;
    std::shared_ptr<const std::vector<MVStoredValue>> values;
};

// The changes of one save, per entity in the model's entity order.
struct MVStoreBatch {
    std::vector<std::vector<MVStoreChange>> entities;
    bool empty() const;
};

class MVSQLiteStore {
  public:
    // Opens the store at `path`, creating it (tables and metadata for the configuration)
    // when the file is new or empty. Fails for a file that is not a store of this
    // configuration: not SQLite, tables without metadata, or incompatible metadata, and
    // for a damaged one (a failing quick check). Damage met later fails that access,
    // is logged and reported once. A failed open leaves no file that it made.
    static std::unique_ptr<MVSQLiteStore> open(const std::string& path,
                                               std::shared_ptr<const MVObjectModel> model,
                                               const std::string& configuration,
                                               platform::Error* error);
    // The metadata of the store at `path`, without changing it.
    static std::optional<nlohmann::json> metadataForStore(const std::string& path,
                                                          platform::Error* error);
    // Copies the rows of the source store into a new store at `destinationPath` through
    // the mapping, keeping row ids. One transaction: on failure nothing is left at
    // `destinationPath`.
    static bool migrate(const std::string& sourcePath, const MVObjectModel& sourceModel,
                        const MVMappingModel& mapping, const std::string& destinationPath,
                        std::shared_ptr<const MVObjectModel> destinationModel,
                        const std::string& configuration, platform::Error* error);
    // A table or column name as SQL text: in double quotes, inner ones doubled.
    static std::string quotedName(const std::string& name);
    // Whether an error of open() or metadataForStore() says the file is damaged (SQLite
    // found it corrupt or not a database), rather than missing, foreign or incompatible.
    static bool isDamage(const platform::Error& error);
    // Whether an error says the disc failed the access (no space left, an I/O error): the
    // file may be a sound store that works once the disc does.
    static bool isDiscFailure(const platform::Error& error);
    // Removes the store file and its companions; answers whether the store file is gone.
    static bool removeStoreFiles(const std::string& path, platform::Error* error);
    // How long connections opened from now on wait for another connection's lock before
    // failing, clamped to (0, 5 s]; 0 restores the 5 s. For tests that hold the lock.
    static void setBusyTimeoutForTesting(int milliseconds);

    ~MVSQLiteStore();

    const std::string& path() const;
    const MVObjectModel& model() const;
    nlohmann::json metadata() const;
    // The largest row id over all tables (0 for an empty store).
    int64_t maxRowID() const;

    // Rows of the entity that match, sorted by `sort` (or row id), from `offset`, at
    // most `limit` (0: all). Rows that cannot be read are logged and skipped. Null
    // when the store fails.
    std::optional<std::vector<MVStoreRow>> select(const MVEntityDescription& entity,
                                                  const MVBoundPredicate& predicate,
                                                  const MVBoundSort* sort, size_t offset,
                                                  size_t limit) const;

    // Writes the batches in order in one transaction.
    bool write(const std::vector<std::shared_ptr<const MVStoreBatch>>& batches,
               platform::Error* error);

    struct Impl;

  private:
    explicit MVSQLiteStore(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};
