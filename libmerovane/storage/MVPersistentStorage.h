#pragma once
// The library's persistent storage: one SQLite store "general.sqlite" in the library's
// caches folder, one disc-writing context that owns the writing, and a context per
// thread that callers work in.
//
//   MVPersistentStorage::sharedStorage().lockedAccess([&] {
//       auto v = MVWebStorageVariable::dbObjectCreate();
//       v->setId("cart");
//   });   // other threads see the row now; the disc write follows on the storage queue
//
// Locked access is the only way to stored objects. It is counted per thread, not a
// lock between threads: the outermost block on a thread makes the thread's context,
// nested blocks use it, and the end of the outermost block saves it into the
// disc-writing context and drops it. Two threads may be inside at once; the last
// saved change wins. A block that throws drops its thread's unsaved changes.
//
// At start-up the store is opened, migrated to the current model when the device is
// new enough, or deleted and made anew when it cannot be used (see the .cpp); a store
// that a failing disc (a full one) keeps from opening stays, and the building raises.
// Thread-safe.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class MVEntityDescription;
class MVObjectContext;
class MVObjectModel;
class MVDiscWritingContext;
class MVPersistentStoreCoordinator;
class MVPersistentStorageHost;

// Names of the exceptions that end the application (the platform's exception name is
// the text; the constant's name is the system's).
inline constexpr const char* MVLibraryPersistentStoreNeedsLockedAccessException =
    "Using MVPersistentStorage without locking";
inline constexpr const char* MVLibraryPathForCacheNotAvailableException =
    "The cache path could not be created";
inline constexpr const char* MVLibraryPersistentStoreNotAddedException =
    "Persistent store not added";

class MVPersistentStorage {
  public:
    static constexpr const char* kConfiguration = "CacheGeneral";
    static constexpr const char* kStoreFileName = "general.sqlite";
    // Minimum hardware models (major, minor) that migrate rather than delete an old store.
    struct MigrationMinimum {
        const char* modelWord;
        int major;
        int minor;
    };
    static constexpr MigrationMinimum kMigrationMinimums[] = {
        {"iPhone", 5, 1}, {"iPod", 5, 1}, {"iPad", 3, 4}};

    // The one instance, built on first use (the whole stack at once). Needs the host.
    // The reports of the building are uploaded once the instance stands; asked for again
    // by its own building, it raises.
    static MVPersistentStorage& sharedStorage();
    static void setHost(std::shared_ptr<MVPersistentStorageHost> host);
    static std::shared_ptr<MVPersistentStorageHost> host();

    // Runs `block` inside locked access on the calling thread.
    void lockedAccess(const std::function<void()>& block);
    // Raises MVLibraryPersistentStoreNeedsLockedAccessException outside locked access.
    void ensureLockedAccess() const;

    // The calling thread's context, or null outside locked access.
    MVObjectContext* managedObjectContext() const;
    // Adds an entity (a description that lives as long as the program) to the current
    // model, in the order of the calls; again for the same one does nothing. Every
    // entity registers before the model's first use (MVRegisterPersistentEntities).
    static void registerEntity(const MVEntityDescription& entity);
    // The current model: the registered entities, fixed at its first use.
    static const std::shared_ptr<const MVObjectModel>& managedObjectModel();
    MVPersistentStoreCoordinator& persistentStoreCoordinator() { return *coordinator_; }
    MVDiscWritingContext& discWritingContext() { return *discWritingContext_; }

    // The steps of locked access: begin, end.
    void lock();
    void unlock();
    // Waits until every change saved so far is on disc; false when a write failed.
    bool waitUntilWrittenToDisc();
    // A mark of the changes saved so far, and whether they have all been written to disc
    // since, without waiting or writing. Marks belong to this instance.
    uint64_t savedChangesMark();
    bool isOnDisc(uint64_t mark);
    // Runs `observer` after every write that put saved changes on disc, whoever made it, on
    // the writing thread while it still holds the store: it must not wait for the store.
    // Kept for the process, across instances.
    static void addDiscWriteObserver(std::function<void()> observer);
    // The process's stop, for the shared instance when it was built: what was saved so far
    // is written (the caller waits), no observer is told any more, and nothing saved later
    // is written. False when something saved could not be written.
    static bool endWriting();

    // Whether a device with this model name ("iPhone", "iPad", "iPod touch") and
    // hardware model ("iPhone5,1") migrates an old store instead of deleting it.
    static bool deviceMigrates(const std::string& model, const std::string& hardwareModel);

    ~MVPersistentStorage();
    MVPersistentStorage(const MVPersistentStorage&) = delete;
    MVPersistentStorage& operator=(const MVPersistentStorage&) = delete;

  private:
    explicit MVPersistentStorage(std::shared_ptr<MVPersistentStorageHost> host);
    void buildPersistentStoreCoordinator();
    void managedObjectContextBranch();
    void managedObjectContextCommitAndDestroy();
    void managedObjectContextDiscard();
    static void resetForTesting();

    struct ThreadState;
    ThreadState& threadState() const;

    std::shared_ptr<MVPersistentStorageHost> host_;
    const uint64_t generation_;
    std::unique_ptr<MVPersistentStoreCoordinator> coordinator_;
    std::unique_ptr<MVDiscWritingContext> discWritingContext_;
};
