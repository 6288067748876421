#include "libmerovane/storage/MVPersistentStoreMigrationManager.h"

#include <nlohmann/json.hpp>

#include "libmerovane/core/MVLog.h"
#include "libmerovane/storage/MVObjectModel.h"
#include "libmerovane/storage/MVPersistentStorage.h"
#include "libmerovane/storage/MVPersistentStorageHost.h"
#include "libmerovane/storage/MVSQLiteStore.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/JsonValue.h"

namespace {

constexpr const char* kInitReason =
    "MVPersistentStoreMigrationManagerInitException: do not use init manually for "
    "MVPersistentStoreMigrationManager, "
    "use the class methods instead";
constexpr const char* kMappingModelNotFoundDescription =
    "MVPersistentStoreMigrationErrorDesciption - MappingModelNotFound";
constexpr const char* kCouldntDeleteOldTmpSqliteDescription =
    "MVPersistentStoreMigrationErrorDescription - CouldntDeleteOldTmpSqlite";

constexpr const char* kCompanionSuffixes[] = {"", "-shm", "-wal"};
constexpr long kUnsupportedStoreTypeError = 134010;

void setError(platform::Error* out, platform::Error e) {
    if (out) *out = std::move(e);
}

platform::Error unsupportedStoreType(const std::string& path) {
    return platform::Error::withUserInfo(
        platform::kCocoaErrorDomain, kUnsupportedStoreTypeError,
        {{platform::kLocalizedDescriptionKey, "Unsupported store type."}, {"NSFilePath", path}});
}

platform::FileManager& files() {
    return platform::FileManager::defaultManager();
}

// A model description is a few kilobytes; anything near this is not one.
constexpr size_t kMaxModelFileBytes = 4 * 1024 * 1024;

std::optional<nlohmann::json> readJsonFile(const std::string& path) {
    platform::Error error;
    auto text = files().readFile(path, kMaxModelFileBytes, &error);
    if (!text) {
        MVLogWarn("MVPersistentStoreMigration could not read \"{}\": {}", path,
                  error.localizedDescription());
        return std::nullopt;
    }
    auto parsed = platform::json::parse(*text);
    if (!parsed.ok()) {
        MVLogWarn("MVPersistentStoreMigration could not read \"{}\": {}", path, parsed.error);
        return std::nullopt;
    }
    return std::move(parsed.value);
}

// Files of the bundle's model folder whose names end in `suffix`, sorted.
std::vector<std::string> bundleFiles(const std::string& suffix) {
    std::vector<std::string> out;
    auto host = MVPersistentStorage::host();
    if (!host) return out;
    const std::string folder =
        host->libmerovaneBundlePath() + "/" + MVPersistentStoreMigrationManager::kModelFolder;
    for (auto& name : files().contentsOfDirectory(folder).value_or(std::vector<std::string>{}))
        if (name.size() > suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            out.push_back(folder + "/" + name);
    return out;
}

std::shared_ptr<const MVObjectModel> sourceModelFor(const nlohmann::json& storeData) {
    for (auto& file : bundleFiles(".model.json")) {
        auto description = readJsonFile(file);
        if (!description) continue;
        auto model = MVObjectModel::fromDescription(*description);
        if (model &&
            model->isConfigurationCompatible(MVPersistentStorage::kConfiguration, storeData))
            return model;
    }
    return nullptr;
}

std::shared_ptr<const MVMappingModel> mappingFor(const MVObjectModel& source,
                                                 const MVObjectModel& destination) {
    if (source.versionIdentifiers().empty() || destination.versionIdentifiers().empty())
        return nullptr;
    for (auto& file : bundleFiles(".mapping.json")) {
        auto description = readJsonFile(file);
        if (!description) continue;
        auto mapping = MVMappingModel::fromDescription(*description);
        if (mapping && mapping->sourceVersion() == source.versionIdentifiers().back() &&
            mapping->destinationVersion() == destination.versionIdentifiers().back())
            return mapping;
    }
    return nullptr;
}

}  // namespace

MVPersistentStoreMigrationManager::MVPersistentStoreMigrationManager() {
    throw platform::Exception(MVPersistentStoreMigrationManagerInitException, kInitReason);
}

platform::Error MVPersistentStoreMigrationManager::errorWithCode(ErrorCode code) {
    const char* text = code == kMappingModelNotFound ? kMappingModelNotFoundDescription
                                                     : kCouldntDeleteOldTmpSqliteDescription;
    return platform::Error::withUserInfo(kErrorDomain, code, {{kErrorDescriptionKey, text}});
}

std::string MVPersistentStoreMigrationManager::tempFilePath() {
    auto host = MVPersistentStorage::host();
    platform::assertThat(host != nullptr, "MVPersistentStorage has no host");
    return host->pathForCaches() + "/" + kTempFileName;
}

bool MVPersistentStoreMigrationManager::doesTempFilesExist() {
    const std::string path = tempFilePath();
    for (const char* suffix : kCompanionSuffixes)
        if (files().fileExists(path + suffix)) return true;
    return false;
}

bool MVPersistentStoreMigrationManager::removeTempFiles(platform::Error* error) {
    const std::string path = tempFilePath();
    for (const char* suffix : kCompanionSuffixes) {
        const std::string file = path + suffix;
        if (files().fileExists(file) && !files().removeItem(file)) {
            setError(error, errorWithCode(kCouldntDeleteOldTmpSqlite));
            return false;
        }
    }
    return true;
}

std::optional<nlohmann::json>
MVPersistentStoreMigrationManager::metadataForPersistentStoreInTempFileOfType(
    const std::string& storeType, platform::Error* error) {
    if (storeType != kSQLiteStoreType) {
        setError(error, unsupportedStoreType(tempFilePath()));
        return std::nullopt;
    }
    return MVSQLiteStore::metadataForStore(tempFilePath(), error);
}

bool MVPersistentStoreMigrationManager::moveToTempFromDatabaseWith(
    const std::string& storePath, platform::FileManager& fileManager, platform::Error* error) {
    const std::string temp = tempFilePath();
    for (const char* suffix : kCompanionSuffixes)
        if (!fileManager.moveItem(storePath + suffix, temp + suffix, error)) return false;
    return true;
}

bool MVPersistentStoreMigrationManager::migrateFromSourceModelWithStoreData(
    const nlohmann::json& storeData, const nlohmann::json*, const std::string& storeURL,
    const std::shared_ptr<const MVObjectModel>& destinationModel,
    const std::string& destinationStoreType, const nlohmann::json*, platform::Error* error) {
    // Leftovers of an earlier run would block the move; a failure here is reported but
    // does not stop the migration.
    if (!removeTempFiles(nullptr)) setError(error, errorWithCode(kCouldntDeleteOldTmpSqlite));

    if (files().fileExists(storeURL) && !moveToTempFromDatabaseWith(storeURL, files(), error))
        return false;

    auto sourceModel = sourceModelFor(storeData);
    auto mapping = sourceModel ? mappingFor(*sourceModel, *destinationModel) : nullptr;
    if (!mapping) {
        setError(error, errorWithCode(kMappingModelNotFound));
        return false;
    }

    bool migrated = false;
    if (destinationStoreType != kSQLiteStoreType) {
        setError(error, unsupportedStoreType(storeURL));
    } else {
        platform::Error migrateError;
        migrated = MVSQLiteStore::migrate(tempFilePath(), *sourceModel, *mapping, storeURL,
                                          destinationModel, MVPersistentStorage::kConfiguration,
                                          &migrateError);
        if (!migrated) setError(error, migrateError);
        // The disc failed, not the store: it goes back for a later start to migrate.
        if (!migrated && MVSQLiteStore::isDiscFailure(migrateError)) {
            for (const char* suffix : kCompanionSuffixes)
                if (files().fileExists(tempFilePath() + suffix))
                    files().moveItem(tempFilePath() + suffix, storeURL + suffix, nullptr);
            return false;
        }
    }
    if (migrated)
        MVLogVerbose("MVPersistentStoreMigration from identifier \"{}\" to \"{}\"",
                     sourceModel->versionIdentifiers().back(),
                     destinationModel->versionIdentifiers().back());

    if (!removeTempFiles(nullptr)) {
        setError(error, errorWithCode(kCouldntDeleteOldTmpSqlite));
        return false;
    }
    return migrated;
}
