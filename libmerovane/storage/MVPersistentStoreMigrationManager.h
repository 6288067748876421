#pragma once
// Moves a store that an older model wrote aside to "tempMVMigrationManager.sqlite" (with
// its "-shm" and "-wal" companions) in the library's caches folder and migrates it back
// into place with the current model, through a mapping model from the library's
// resource bundle. Persistent storage also uses the temporary-file methods at every
// start to find and clean up an interrupted migration.
//
// Class methods only: constructing one raises
// "MVPersistentStoreMigrationManagerInitException". Every failure answers false with an
// error (domain "MVPersistentStoreMigrationErrorDomain" for its own two codes), never
// raises; an absent error out-parameter is not written.
//
// The bundle holds the older model versions as "MVPersistentStorage/<version>.model.json"
// and the mappings as "MVPersistentStorage/<source>-<destination>.mapping.json".
// Call from one thread at a time (persistent storage's start-up).

#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>

class MVObjectModel;
namespace platform {
class Error;
class FileManager;
}  // namespace platform

inline constexpr const char* MVPersistentStoreMigrationManagerInitException =
    "MVPersistentStoreMigrationManagerInitException";

class MVPersistentStoreMigrationManager {
  public:
    static constexpr const char* kErrorDomain = "MVPersistentStoreMigrationErrorDomain";
    static constexpr const char* kErrorDescriptionKey = "errorDescription";
    enum ErrorCode : long { kMappingModelNotFound = 0, kCouldntDeleteOldTmpSqlite = 1 };
    static constexpr const char* kTempFileName = "tempMVMigrationManager.sqlite";
    static constexpr const char* kModelFolder = "MVPersistentStorage";

    // Raises: use the class methods.
    MVPersistentStoreMigrationManager();

    static std::string tempFilePath();
    // Whether any of the three temporary files exists.
    static bool doesTempFilesExist();
    // Removes those of the three that exist, main file first; stops at the first failure
    // with a code 1 error.
    static bool removeTempFiles(platform::Error* error);
    static std::optional<nlohmann::json> metadataForPersistentStoreInTempFileOfType(
        const std::string& storeType, platform::Error* error);
    // Moves the store, then its "-shm", then its "-wal" to the temporary names; stops at
    // the first move that fails, with that move's error.
    static bool moveToTempFromDatabaseWith(const std::string& storePath,
                                           platform::FileManager& fileManager,
                                           platform::Error* error);
    // Migrates the store at `storeURL` (a path), whose metadata is `storeData`, to the
    // destination model. True on success. A disc that fails the migration (a full one)
    // puts the store back in its place, as it was.
    static bool migrateFromSourceModelWithStoreData(
        const nlohmann::json& storeData, const nlohmann::json* sourceStoreOptions,
        const std::string& storeURL, const std::shared_ptr<const MVObjectModel>& destinationModel,
        const std::string& destinationStoreType, const nlohmann::json* destinationStoreOptions,
        platform::Error* error);

    static platform::Error errorWithCode(ErrorCode code);
};
