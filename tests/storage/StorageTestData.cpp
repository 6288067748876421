#include "tests/storage/StorageTestData.h"

#include <SQLiteCpp/SQLiteCpp.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "libmerovane/storage/MVObjectModel.h"
#include "libmerovane/storage/MVSQLiteStore.h"
#include "tests/support/StorageFixture.h"

long long rawCount(const std::string& storePath, const std::string& table) {
    try {
        SQLite::Database db(storePath, SQLite::OPEN_READONLY);
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
         {{"MVWebCacheResourceObject",
           {{"attributes", attributes({{"id", "string"}, {"mimeType", "string"}})}}},
          {"MVApiConnectionVariable",
           {{"attributes", attributes({{"id", "string"}, {"context", "string"}})}}},
          {"MVWebStorageVariable",
           {{"attributes",
             attributes({{"id", "string"}, {"created", "date"}, {"value", "transformable"}})}}}}},
        {"configurations",
         {{"CacheGeneral",
           {"MVWebCacheResourceObject", "MVApiConnectionVariable", "MVWebStorageVariable"}}}}};
    auto model = MVObjectModel::fromDescription(description);
    EXPECT_NE(model, nullptr);
    return model;
}

void writeOlderStore(const std::string& path,
                     const std::vector<std::pair<std::string, double>>& rows) {
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
                          MVStoredValue(id), MVStoredValue(created),
                          MVStoredValue::json(nlohmann::json{{"v", id}})})});
    ASSERT_TRUE(store->write({batch}, nullptr));
}

void writeOlderModelToBundle(const std::string& bundle, bool withMapping) {
    StorageTest::writeFile(bundle + "/MVPersistentStorage/0.model.json",
                           olderModel()->description().dump(2));
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
