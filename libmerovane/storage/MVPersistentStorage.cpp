#include "libmerovane/storage/MVPersistentStorage.h"

#include <fmt/core.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <nlohmann/json.hpp>
#include <vector>

#include "libmerovane/core/ErrorDescription.h"
#include "libmerovane/core/FileManagerExtensions.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/core/UIDeviceExtensions.h"
#include "libmerovane/storage/MVDiscWritingContext.h"
#include "libmerovane/storage/MVObjectContext.h"
#include "libmerovane/storage/MVObjectModel.h"
#include "libmerovane/storage/MVPersistentStorageHost.h"
#include "libmerovane/storage/MVPersistentStoreCoordinator.h"
#include "libmerovane/storage/MVPersistentStoreMigrationManager.h"
#include "libmerovane/storage/MVSQLiteStore.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/ui/Device.h"

namespace {

constexpr const char* kNeedsLockedAccessReason =
    "MVPersistentObjects may not be modified or created without locking MVPersistentStorage by "
    "using "
    "[MVPersistentStorage lockedAccess:]";
constexpr const char* kCurrentModelVersion = "1";

std::mutex gSharedMutex;
std::atomic<MVPersistentStorage*> gShared{nullptr};
std::mutex gHostMutex;
std::shared_ptr<MVPersistentStorageHost> gHost;  // guarded by gHostMutex
std::atomic<uint64_t> gGenerations{0};
std::mutex gEntitiesMutex;
std::vector<const MVEntityDescription*> gEntities;  // guarded by gEntitiesMutex
bool gModelBuilt = false;                           // guarded by gEntitiesMutex
std::mutex gDiscWriteObserversMutex;
// Guarded by the mutex above; kept for the process, as a writer may still tell them while
// it ends.
auto& gDiscWriteObservers = *new std::vector<std::function<void()>>;

void tellDiscWriteObservers() {
    std::vector<std::function<void()>> observers;
    {
        std::lock_guard lock(gDiscWriteObserversMutex);
        observers = gDiscWriteObservers;
    }
    for (const auto& observer : observers) observer();
}

std::string userInfoText(const platform::Error& e) {
    return platform::json::print(e.userInfo());
}

// The leading integer of a text, 0 when there is none (white space and a sign allowed).
long integerValue(const std::string& text) {
    return std::strtol(text.c_str(), nullptr, 10);
}

// The store's model version identifiers from its metadata, or "".
nlohmann::json versionIdentifiers(const std::optional<nlohmann::json>& metadata) {
    if (!metadata || !metadata->is_object()) return "";
    auto it = metadata->find(kStoreModelVersionIdentifiersKey);
    return it == metadata->end() ? nlohmann::json("") : *it;
}

}  // namespace

struct MVPersistentStorage::ThreadState {
    uint64_t generation = 0;
    int lockCount = 0;
    std::shared_ptr<MVObjectContext> context;
};

// The building reports its repairs, and the upload of a report reads the device id
// from this storage: the uploads wait until the storage is published and the lock
// released. Asking again on the building thread fails rather than waiting for ever.
MVPersistentStorage& MVPersistentStorage::sharedStorage() {
    if (auto* s = gShared.load(std::memory_order_acquire)) return *s;
    thread_local bool building = false;
    platform::assertThat(!building, "MVPersistentStorage asked for while it is being built");
    MVErrorLogger::UploadHold hold;
    std::lock_guard lock(gSharedMutex);
    if (auto* s = gShared.load(std::memory_order_acquire)) return *s;
    auto registered = host();
    platform::assertThat(registered != nullptr,
                         "MVPersistentStorage needs its host before first use");
    struct BuildingFlag {
        BuildingFlag() { building = true; }
        ~BuildingFlag() { building = false; }
    };
    MVPersistentStorage* created = nullptr;
    {
        BuildingFlag flag;
        created = new MVPersistentStorage(std::move(registered));
    }
    gShared.store(created, std::memory_order_release);
    platform::registerSharedInstanceReset("MVPersistentStorage",
                                          &MVPersistentStorage::resetForTesting);
    return *created;
}

void MVPersistentStorage::setHost(std::shared_ptr<MVPersistentStorageHost> host) {
    std::lock_guard lock(gHostMutex);
    gHost = std::move(host);
}

std::shared_ptr<MVPersistentStorageHost> MVPersistentStorage::host() {
    std::lock_guard lock(gHostMutex);
    return gHost;
}

void MVPersistentStorage::resetForTesting() {
    MVPersistentStorage* old = nullptr;
    {
        std::lock_guard lock(gSharedMutex);
        old = gShared.exchange(nullptr);
    }
    setHost(nullptr);
    delete old;  // writes what is pending first
}

void MVPersistentStorage::registerEntity(const MVEntityDescription& entity) {
    std::lock_guard lock(gEntitiesMutex);
    if (std::find(gEntities.begin(), gEntities.end(), &entity) != gEntities.end()) return;
    platform::assertThat(!gModelBuilt, "MVPersistentStorage entities register before first use");
    gEntities.push_back(&entity);
}

const std::shared_ptr<const MVObjectModel>& MVPersistentStorage::managedObjectModel() {
    static const auto* model = [] {
        std::lock_guard lock(gEntitiesMutex);
        platform::assertThat(!gEntities.empty(),
                             "MVPersistentStorage needs its entities registered before first use");
        gModelBuilt = true;
        std::vector<std::shared_ptr<const MVEntityDescription>> entities;
        std::vector<std::string> names;
        for (const auto* e : gEntities) {
            entities.emplace_back(std::shared_ptr<void>(), e);
            names.push_back(e->name());
        }
        return new std::shared_ptr<const MVObjectModel>(std::make_shared<const MVObjectModel>(
            std::vector<std::string>{kCurrentModelVersion}, std::move(entities),
            std::map<std::string, std::vector<std::string>>{{kConfiguration, names}}));
    }();
    return *model;
}

MVPersistentStorage::MVPersistentStorage(std::shared_ptr<MVPersistentStorageHost> host)
    : host_(std::move(host)), generation_(++gGenerations) {
    buildPersistentStoreCoordinator();
    discWritingContext_ =
        std::make_unique<MVDiscWritingContext>(*coordinator_->store(), &tellDiscWriteObservers);
}

MVPersistentStorage::~MVPersistentStorage() {
    discWritingContext_.reset();
    coordinator_.reset();
}

bool MVPersistentStorage::deviceMigrates(const std::string& model,
                                         const std::string& hardwareModel) {
    const std::string word = model.substr(0, model.find(' '));
    int minMajor = 0, minMinor = 0;
    for (auto& m : kMigrationMinimums) {
        if (word == m.modelWord) {
            minMajor = m.major;
            minMinor = m.minor;
        }
    }
    std::string rest = hardwareModel;
    if (!word.empty())
        for (auto at = rest.find(word); at != std::string::npos; at = rest.find(word, at))
            rest.erase(at, word.size());
    const auto comma = rest.find(',');
    const long major = integerValue(rest.substr(0, comma));
    // A model code without a minor number reads as minor 0.
    const long minor = comma == std::string::npos ? 0 : integerValue(rest.substr(comma + 1));
    return major > minMajor || (major == minMajor && minor >= minMinor);
}

// Repairs rather than reports to the user: a store that cannot be read, migrated or
// added is deleted and made anew, unless the disc failed it. A caches folder that cannot
// be made and a store that cannot be added, on a failing disc or even after its deletion,
// end the application.
void MVPersistentStorage::buildPersistentStoreCoordinator() {
    coordinator_ = std::make_unique<MVPersistentStoreCoordinator>(managedObjectModel());
    const std::string caches = host_->pathForCaches();
    platform::Error error;
    if (!makeSurePathExists(caches, &error))
        throw platform::Exception(
            MVLibraryPathForCacheNotAvailableException,
            fmt::format("The cache path \"{}\" could not be created. {}, {}", caches,
                        errorDescription(error), userInfoText(error)));
    MVLogInfo("MVPersistentStorage cache path at \"{}\"", caches);

    auto& files = platform::FileManager::defaultManager();
    const std::string storePath = caches + "/" + kStoreFileName;
    bool storeIsFolder = false;
    const bool storeExists = files.fileExists(storePath, &storeIsFolder);
    const bool tempExists = MVPersistentStoreMigrationManager::doesTempFilesExist();

    // A damaged store holds web storage and connection variables that a person may
    // recover, and a folder in the store's place is not ours to delete: both are moved
    // aside (the newest few kept).
    auto moveStoreAside = [&] {
        platform::Error asideError;
        if (auto aside = files.moveAside(storePath, {"-wal", "-shm"}, 3, &asideError))
            MVLogWarn("MVPersistentStorage kept the damaged store as \"{}\"", *aside);
        else
            MVLogError("MVPersistentStorage could not keep the damaged store: {}",
                       errorDescription(asideError));
    };
    // Frees the store's place for a new store: what is not kept is deleted, and moved
    // aside when it cannot be deleted. Companions left behind go too.
    auto clearStorePlace = [&](bool keep) {
        if (keep) moveStoreAside();
        platform::Error deleteError;
        if (MVSQLiteStore::removeStoreFiles(storePath, &deleteError)) return;
        MVLogError("MVPersistentStorage store <{}, \"{}\"> couldn't delete source database.",
                   kConfiguration, storePath);
        MVErrorLogger::logError("MVPersistentStoreCoordinator couldn't delete source database.",
                                deleteError.userInfo());
        if (!keep) moveStoreAside();
    };

    // A disc that fails the store (full, say) is no fault of the store: it stays as it is,
    // and the start ends with the cause when the store cannot be added.
    auto discFailed = [&](const char* what) {
        const bool failed = MVSQLiteStore::isDiscFailure(error);
        if (failed)
            MVLogError(
                "MVPersistentStorage store <{}, \"{}\"> {}: {}. The disc failed, nothing is "
                "deleted",
                kConfiguration, storePath, what, error.localizedDescription());
        return failed;
    };
    auto notAdded = [&] {
        return platform::Exception(
            MVLibraryPersistentStoreNotAddedException,
            fmt::format("Persistent store <{}, \"{}\"> not added. {}, {}", kConfiguration,
                        storePath, errorDescription(error), userInfoText(error)));
    };

    bool damageReported = false;
    // A store made anew holds none of the resources a cached boot script would replay.
    bool madeAnew = false;
    std::optional<nlohmann::json> metadata;
    if (storeExists) {
        metadata = MVSQLiteStore::metadataForStore(storePath, &error);
        if (!metadata && !discFailed("couldn't load metaData of source database")) {
            MVLogError(
                "MVPersistentStorage store <{}, \"{}\"> couldn't load metaData of source database.",
                kConfiguration, storePath);
            MVErrorLogger::logError(
                "MVPersistentStoreCoordinator couldn't load metaData of source database",
                error.userInfo());
            damageReported = MVSQLiteStore::isDamage(error);
            clearStorePlace(damageReported || storeIsFolder);
            madeAnew = true;
        }
    }

    if (tempExists) {
        platform::Error tempError;
        const auto tempMetadata =
            MVPersistentStoreMigrationManager::metadataForPersistentStoreInTempFileOfType(
                kSQLiteStoreType, &tempError);
        nlohmann::json report = {{"device", devicePlatform()},
                                 {"previousStore", versionIdentifiers(tempMetadata)}};
        if (!metadata) {
            madeAnew = true;
            MVLogError("MVPersistentStorage hadn't finish migration: {}",
                       platform::json::print(report));
            MVErrorLogger::logError("MVPersistentStorage hadn't finish migration.", report);
        } else {
            report["currentStore"] = versionIdentifiers(metadata);
            MVLogError(
                "MVPersistentStorage the migration was completed, but the store temp file wasn't "
                "deleted: {}",
                platform::json::print(report));
            MVErrorLogger::logError(
                "The migration was completed, but the store temp file wasn't deleted.", report);
        }
        platform::Error removeError;
        if (!MVPersistentStoreMigrationManager::removeTempFiles(&removeError)) {
            MVLogError(
                "MVPersistentStorage failed to remove orphaned store temp file with reason: {}",
                userInfoText(removeError));
            MVErrorLogger::logError(
                "MVPersistentStorage failed to remove orphaned store temp file ",
                removeError.userInfo());
        }
    }

    if (metadata && !managedObjectModel()->isConfigurationCompatible(kConfiguration, *metadata)) {
        host_->removeCachedBootApp();
        if (deviceMigrates(platform::Device::current().model(), devicePlatform())) {
            const std::string storeType =
                platform::json::stringValue(*metadata, kStoreTypeKey).value_or("");
            platform::Error migrateError;
            if (!MVPersistentStoreMigrationManager::migrateFromSourceModelWithStoreData(
                    *metadata, nullptr, storePath, managedObjectModel(), storeType, nullptr,
                    &migrateError)) {
                error = migrateError;
                if (discFailed("not migrated")) throw notAdded();
                MVLogError("MVPersistentStoreCoordinator migrate database.");
                MVErrorLogger::logError("MVPersistentStoreCoordinator couldn't migrate",
                                        migrateError.userInfo());
                if (files.fileExists(storePath)) clearStorePlace(false);
            }
        } else if (!MVSQLiteStore::removeStoreFiles(storePath, nullptr)) {
            MVLogError(
                "MVPersistentStoreCoordinator couldn't delete database on old device while "
                "migration would have been "
                "necessary.");
        }
    }

    if (!coordinator_->addPersistentStore(kConfiguration, storePath, &error)) {
        if (discFailed("not added")) throw notAdded();
        MVLogWarn("MVPersistentStorage store <{}, \"{}\"> not added. Trying to delete...",
                  kConfiguration, storePath);
        const bool damaged = MVSQLiteStore::isDamage(error);
        if (damaged && !damageReported)
            MVErrorLogger::logError("MVPersistentStoreCoordinator couldn't add damaged store",
                                    error.userInfo());
        clearStorePlace(damaged);
        madeAnew = true;
        if (!coordinator_->addPersistentStore(kConfiguration, storePath, &error)) {
            discFailed("not added");
            throw notAdded();
        }
    }
    if (madeAnew) host_->removeCachedBootApp();
    MVLogInfo("MVPersistentStorage coordinator initialized...");
}

MVPersistentStorage::ThreadState& MVPersistentStorage::threadState() const {
    thread_local ThreadState state;
    if (state.generation != generation_) state = ThreadState{generation_, 0, nullptr};
    return state;
}

MVObjectContext* MVPersistentStorage::managedObjectContext() const {
    return threadState().context.get();
}

void MVPersistentStorage::ensureLockedAccess() const {
    if (!threadState().context)
        throw platform::Exception(MVLibraryPersistentStoreNeedsLockedAccessException,
                                  kNeedsLockedAccessReason);
}

void MVPersistentStorage::lockedAccess(const std::function<void()>& block) {
    lock();
    try {
        if (block) block();
    } catch (...) {
        auto& state = threadState();
        if (state.lockCount == 1) managedObjectContextDiscard();
        --state.lockCount;
        throw;
    }
    unlock();
}

void MVPersistentStorage::lock() {
    auto& state = threadState();
    if (state.lockCount == 0) {
        platform::assertThat(state.context == nullptr, "threadObjectContext == nil");
        managedObjectContextBranch();
    }
    ++state.lockCount;
}

void MVPersistentStorage::unlock() {
    auto& state = threadState();
    platform::assertThat(state.lockCount >= 1, "MVPersistentStorage unlock without lock");
    if (state.lockCount == 1) managedObjectContextCommitAndDestroy();
    --state.lockCount;
}

void MVPersistentStorage::managedObjectContextBranch() {
    threadState().context = std::make_shared<MVObjectContext>(*discWritingContext_);
}

void MVPersistentStorage::managedObjectContextCommitAndDestroy() {
    auto& state = threadState();
    platform::Error error;
    if (state.context && !state.context->save(&error))
        MVLogWarn("MVPersistentStorage could not save context. {} {}", errorDescription(error),
                  userInfoText(error));
    state.context.reset();
    discWritingContext_->scheduleWrite();
}

void MVPersistentStorage::managedObjectContextDiscard() {
    auto& state = threadState();
    if (state.context) state.context->rollback();
    state.context.reset();
}

void MVPersistentStorage::addDiscWriteObserver(std::function<void()> observer) {
    std::lock_guard lock(gDiscWriteObserversMutex);
    gDiscWriteObservers.push_back(std::move(observer));
}

bool MVPersistentStorage::endWriting() {
    auto* storage = gShared.load(std::memory_order_acquire);
    if (!storage) return true;
    const bool written = storage->discWritingContext_->close();
    if (!written) MVLogError("MVPersistentStorage could not write every change before the stop");
    return written;
}

bool MVPersistentStorage::waitUntilWrittenToDisc() {
    return discWritingContext_->waitUntilWritten();
}

uint64_t MVPersistentStorage::savedChangesMark() {
    return discWritingContext_->savedMark();
}

bool MVPersistentStorage::isOnDisc(uint64_t mark) {
    return discWritingContext_->hasWritten(mark);
}
