#pragma once
// A fresh caches folder and resource bundle per test, and a recording host for
// persistent storage. Storage is built on first use of storage(); reopen() builds it
// again from the same files, as a new start of the application would.

#include <filesystem>
#include <memory>
#include <string>

#include "libmerovane/storage/MVPersistentStorage.h"
#include "libmerovane/storage/MVPersistentStorageHost.h"
#include "tests/support/PlatformTest.h"
#include "tests/support/TempDir.h"

class RecordingStorageHost : public MVPersistentStorageHost {
  public:
    std::string caches;
    std::string bundle;
    int removedCachedBootApps = 0;

    // A host whose caches folder also holds the resource bundle.
    static std::shared_ptr<RecordingStorageHost> at(const std::string& folder) {
        auto host = std::make_shared<RecordingStorageHost>();
        host->caches = folder;
        host->bundle = folder;
        return host;
    }

    std::string pathForCaches() override { return caches; }
    void removeCachedBootApp() override { ++removedCachedBootApps; }
    std::string libmerovaneBundlePath() override { return bundle; }
};

class StorageTest : public PlatformTest {
  protected:
    void SetUp() override;
    void TearDown() override;

    MVPersistentStorage& storage() { return MVPersistentStorage::sharedStorage(); }
    // Writes what is pending, drops the shared storage and registers the host again.
    void closeStorage();
    MVPersistentStorage& reopen();

    // The device start-up asks for its model name and hardware model.
    static void setDevice(const std::string& model, const std::string& machine);
    // Makes a file impossible to remove, even for the superuser; false (and the test
    // should skip) where the file system does not allow it. Undone at the end of the test.
    bool makeUnremovable(const std::string& path);

    std::string storePath() const { return host_->caches + "/general.sqlite"; }
    std::string tempStorePath() const { return host_->caches + "/tempMVMigrationManager.sqlite"; }

  public:
    static bool exists(const std::string& path) { return std::filesystem::exists(path); }
    static void writeFile(const std::string& path, const std::string& bytes);

  protected:
    std::unique_ptr<TempDir> home_;
    std::filesystem::path root_;
    std::shared_ptr<RecordingStorageHost> host_;
    std::vector<std::string> unremovable_;
};
