#include "tests/storage/StorageFixture.h"

#include <SQLiteCpp/SQLiteCpp.h>

#include <cstdlib>
#include <fstream>

#include "platform/foundation/SharedInstances.h"

void StorageTest::SetUp() {
    PlatformTest::SetUp();
    std::string pattern = (std::filesystem::temp_directory_path() / "mv-storage-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    host_ = std::make_shared<RecordingStorageHost>();
    host_->caches = (root_ / "Library/Caches/libmerovane").string();
    host_->bundle = (root_ / "libmerovane.bundle").string();
    MVPersistentStorage::setHost(host_);
}

void StorageTest::TearDown() {
    platform::resetSharedInstancesForTesting();
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
    PlatformTest::TearDown();
}

void StorageTest::closeStorage() {
    platform::resetSharedInstancesForTesting();
    MVPersistentStorage::setHost(host_);
}

MVPersistentStorage& StorageTest::reopen() {
    closeStorage();
    return storage();
}

void StorageTest::writeFile(const std::string& path, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

long long StorageTest::rawCount(const std::string& table) {
    try {
        SQLite::Database db(storePath(), SQLite::OPEN_READONLY);
        return db.execAndGet("SELECT count(*) FROM \"" + table + "\"").getInt64();
    } catch (const std::exception&) {
        return -1;
    }
}
