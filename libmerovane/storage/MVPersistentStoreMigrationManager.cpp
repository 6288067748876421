#include "libmerovane/storage/MVPersistentStoreMigrationManager.h"

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "libmerovane/core/MVLog.h"
#include "libmerovane/storage/MVObjectModel.h"
#include "libmerovane/storage/MVPersistentStorage.h"
#include "libmerovane/storage/MVPersistentStorageHost.h"
#include "libmerovane/storage/MVSQLiteStore.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Exception.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kInitReason =
    "MVPersistentStoreMigrationManagerInitException: do not use init manually for MVPersistentStoreMigrationManager, "
    "use the class methods instead";
constexpr const char* kMappingModelNotFoundDescription = "MVPersistentStoreMigrationErrorDesciption - MappingModelNotFound";
constexpr const char* kCouldntDeleteOldTmpSqliteDescription =
    "MVPersistentStoreMigrationErrorDescription - CouldntDeleteOldTmpSqlite";

constexpr const char* kCompanionSuffixes[] = {"", "-shm", "-wal"};

void setError(platform::Error* out, platform::Error e) {
    if (out) *out = std::move(e);
}

platform::Error fileError(long code, const std::string& text, const std::string& path) {
    return platform::Error::withUserInfo(platform::kCocoaErrorDomain, code,
                                         {{platform::kLocalizedDescriptionKey, text}, {"NSFilePath", path}});
}

bool exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

// Fails when the source is missing or the destination is taken, as the platform's move does.
bool moveItem(const std::string& from, const std::string& to, platform::Error* error) {
    if (!exists(from)) {
        setError(error, fileError(4, "The file doesn't exist.", from));
        return false;
    }
    if (exists(to)) {
        setError(error, fileError(516, "A file with the same name already exists.", to));
        return false;
    }
    std::error_code ec;
    fs::rename(from, to, ec);
    if (ec) {
        setError(error, fileError(512, ec.message(), from));
        return false;
    }
    return true;
}

std::optional<nlohmann::json> readJsonFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::stringstream text;
    text << in.rdbuf();
    auto value = nlohmann::json::parse(text.str(), nullptr, false);
    if (value.is_discarded()) {
        MVLogWarn("MVPersistentStoreMigration could not read \"{}\"", path.string());
        return std::nullopt;
    }
    return value;
}

std::vector<fs::path> bundleFiles(const std::string& suffix) {
    std::vector<fs::path> out;
    auto host = MVPersistentStorage::host();
    if (!host) return out;
    std::error_code ec;
    const fs::path folder = fs::path(host->libmerovaneBundlePath()) / MVPersistentStoreMigrationManager::kModelFolder;
    for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            out.push_back(it->path());
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::shared_ptr<const MVObjectModel> sourceModelFor(const nlohmann::json& storeData) {
    for (auto& file : bundleFiles(".model.json")) {
        auto description = readJsonFile(file);
        if (!description) continue;
        auto model = MVObjectModel::fromDescription(*description);
        if (model && model->isConfigurationCompatible(MVPersistentStorage::kConfiguration, storeData)) return model;
    }
    return nullptr;
}

std::shared_ptr<const MVMappingModel> mappingFor(const MVObjectModel& source, const MVObjectModel& destination) {
    if (source.versionIdentifiers().empty() || destination.versionIdentifiers().empty()) return nullptr;
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
    return (fs::path(host->pathForCaches()) / kTempFileName).string();
}

bool MVPersistentStoreMigrationManager::doesTempFilesExist() {
    const std::string path = tempFilePath();
    for (const char* suffix : kCompanionSuffixes)
        if (exists(path + suffix)) return true;
    return false;
}

bool MVPersistentStoreMigrationManager::removeTempFiles(platform::Error* error) {
    const std::string path = tempFilePath();
    for (const char* suffix : kCompanionSuffixes) {
        const std::string file = path + suffix;
        if (!exists(file)) continue;
        std::error_code ec;
        if (!fs::remove(file, ec) || ec) {
            setError(error, errorWithCode(kCouldntDeleteOldTmpSqlite));
            return false;
        }
    }
    return true;
}

std::optional<nlohmann::json> MVPersistentStoreMigrationManager::metadataForPersistentStoreInTempFileOfType(
    const std::string& storeType, platform::Error* error) {
    if (storeType != kSQLiteStoreType) {
        setError(error, fileError(134010, "Unsupported store type.", tempFilePath()));
        return std::nullopt;
    }
    return MVSQLiteStore::metadataForStore(tempFilePath(), error);
}

bool MVPersistentStoreMigrationManager::moveToTempFromDatabaseWith(const std::string& storePath,
                                                                   platform::Error* error) {
    const std::string temp = tempFilePath();
    for (const char* suffix : kCompanionSuffixes)
        if (!moveItem(storePath + suffix, temp + suffix, error)) return false;
    return true;
}

bool MVPersistentStoreMigrationManager::migrateFromSourceModelWithStoreData(
    const nlohmann::json& storeData, const nlohmann::json*, const std::string& storeURL,
    const std::shared_ptr<const MVObjectModel>& destinationModel, const std::string& destinationStoreType,
    const nlohmann::json*, platform::Error* error) {
    // Leftovers of an earlier run would block the move; a failure here is reported but
    // does not stop the migration.
    if (!removeTempFiles(nullptr)) setError(error, errorWithCode(kCouldntDeleteOldTmpSqlite));

    if (exists(storeURL) && !moveToTempFromDatabaseWith(storeURL, error)) return false;

    auto sourceModel = sourceModelFor(storeData);
    auto mapping = sourceModel ? mappingFor(*sourceModel, *destinationModel) : nullptr;
    if (!mapping) {
        setError(error, errorWithCode(kMappingModelNotFound));
        return false;
    }

    bool migrated = false;
    if (destinationStoreType != kSQLiteStoreType) {
        setError(error, fileError(134010, "Unsupported store type.", storeURL));
    } else {
        migrated = MVSQLiteStore::migrate(tempFilePath(), *sourceModel, *mapping, storeURL, destinationModel,
                                          MVPersistentStorage::kConfiguration, error);
    }
    if (migrated)
        MVLogVerbose("MVPersistentStoreMigration from identifier \"{}\" to \"{}\"",
                     sourceModel->versionIdentifiers().back(), destinationModel->versionIdentifiers().back());

    if (!removeTempFiles(nullptr)) {
        setError(error, errorWithCode(kCouldntDeleteOldTmpSqlite));
        return false;
    }
    return migrated;
}
