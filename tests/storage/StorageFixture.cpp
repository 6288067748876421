#include "tests/storage/StorageFixture.h"

#include <SQLiteCpp/SQLiteCpp.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "libmerovane/storage/MVObjectModel.h"
#include "libmerovane/storage/MVSQLiteStore.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/ui/Device.h"

namespace {
bool setImmutable(const std::string& path, bool on) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd < 0) return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return ok;
}
}  // namespace

void StorageTest::SetUp() {
    PlatformTest::SetUp();
    home_ = std::make_unique<TempDir>();
    root_ = home_->path();
    host_ = std::make_shared<RecordingStorageHost>();
    host_->caches = platform::FileManager::defaultManager().cachesDirectory() + "/libmerovane";
    host_->bundle = (root_ / "libmerovane.bundle").string();
    MVPersistentStorage::setHost(host_);
}

void StorageTest::TearDown() {
    platform::resetSharedInstancesForTesting();
    for (auto& path : unremovable_) setImmutable(path, false);
    home_.reset();
    PlatformTest::TearDown();
}

void StorageTest::setDevice(const std::string& model, const std::string& machine) {
    platform::Device::current().setModel(model);
    platform::Device::current().setMachine(machine);
}

bool StorageTest::makeUnremovable(const std::string& path) {
    if (!setImmutable(path, true)) return false;
    unremovable_.push_back(path);
    return true;
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

namespace {
nlohmann::json attributes(std::vector<std::pair<std::string, std::string>> list) {
    auto out = nlohmann::json::array();
    for (auto& [name, type] : list) out.push_back(nlohmann::json::array({name, type}));
    return out;
}
}  // namespace

std::shared_ptr<const MVObjectModel> olderModel() {
    const nlohmann::json description = {
        {"versionIdentifiers", {"0"}},
        {"entities",
         {{"MVWebCacheResourceObject", {{"attributes", attributes({{"id", "string"}, {"mimeType", "string"}})}}},
          {"MVApiConnectionVariable", {{"attributes", attributes({{"id", "string"}, {"context", "string"}})}}},
          {"MVWebStorageVariable",
           {{"attributes", attributes({{"id", "string"}, {"created", "date"}, {"value", "transformable"}})}}}}},
        {"configurations",
         {{"CacheGeneral", {"MVWebCacheResourceObject", "MVApiConnectionVariable", "MVWebStorageVariable"}}}}};
    auto model = MVObjectModel::fromDescription(description);
    EXPECT_NE(model, nullptr);
    return model;
}

void writeOlderStore(const std::string& path, const std::vector<std::pair<std::string, double>>& rows) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    for (auto suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
    auto model = olderModel();
    auto store = MVSQLiteStore::open(path, model, "CacheGeneral", nullptr);
    ASSERT_NE(store, nullptr);
    auto batch = std::make_shared<MVStoreBatch>();
    batch->entities.resize(3);
    int64_t rowID = 10;
    for (auto& [id, created] : rows)
        batch->entities[2].push_back(
            {rowID++, std::make_shared<const std::vector<MVStoredValue>>(std::vector<MVStoredValue>{
                          MVStoredValue(id), MVStoredValue(created), MVStoredValue::json(nlohmann::json{{"v", id}})})});
    ASSERT_TRUE(store->write({batch}, nullptr));
}

void writeOlderModelToBundle(const std::string& bundle, bool withMapping) {
    StorageTest::writeFile(bundle + "/MVPersistentStorage/0.model.json", olderModel()->description().dump(2));
    if (withMapping)
        StorageTest::writeFile(bundle + "/MVPersistentStorage/0-1.mapping.json", R"({
  "sourceVersion": "0",
  "destinationVersion": "1",
  "entities": {
    "MVWebStorageVariable": {"attributes": {"creationDate": "created", "dataValue": "value"}},
    "MVApiConnectionVariable": {},
    "MVWebCacheResourceObject": {}
  }
})");
}
