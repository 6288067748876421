#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "libmerovane/storage/MVObjectModel.h"
#include "libmerovane/storage/MVPersistentStorage.h"
#include "libmerovane/storage/MVPersistentStoreMigrationManager.h"
#include "libmerovane/storage/MVSQLiteStore.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Exception.h"
#include "tests/storage/StorageTestData.h"
#include "tests/support/StorageFixture.h"

namespace {

using Manager = MVPersistentStoreMigrationManager;

class MigrationManagerTest : public StorageTest {
  protected:
    void SetUp() override {
        StorageTest::SetUp();
        writeOlderStore(storePath(), {{"first", 1}, {"second", 2}});
        metadata_ = *MVSQLiteStore::metadataForStore(storePath(), nullptr);
    }
    bool migrate(platform::Error* error) {
        return Manager::migrateFromSourceModelWithStoreData(
            metadata_, nullptr, storePath(), MVPersistentStorage::managedObjectModel(), "SQLite",
            nullptr, error);
    }
    nlohmann::json metadata_;
};

TEST_F(MigrationManagerTest, ConstructingOneRaises) {
    try {
        Manager manager;
        FAIL() << "no exception";
    } catch (const platform::Exception& e) {
        EXPECT_EQ(e.name(), "MVPersistentStoreMigrationManagerInitException");
        EXPECT_EQ(e.reason(),
                  "MVPersistentStoreMigrationManagerInitException: do not use init manually for "
                  "MVPersistentStoreMigrationManager, use the class methods instead");
    }
}

TEST_F(MigrationManagerTest, MigratesIntoPlaceKeepingRowsAndRemovesTheTemporaryFiles) {
    writeOlderModelToBundle(host_->bundle, true);
    platform::Error error;
    ASSERT_TRUE(migrate(&error));
    EXPECT_FALSE(Manager::doesTempFilesExist());
    EXPECT_TRUE(logged("MVPersistentStoreMigration from identifier \"0\" to \"1\""));
    auto metadata = MVSQLiteStore::metadataForStore(storePath(), nullptr);
    ASSERT_TRUE(metadata);
    EXPECT_TRUE(MVPersistentStorage::managedObjectModel()->isConfigurationCompatible("CacheGeneral",
                                                                                     *metadata));
    EXPECT_EQ(rawCount(storePath(), "MVWebStorageVariable"), 2);
}

TEST_F(MigrationManagerTest, AStoreWithoutItsShmCompanionCannotBeMoved) {
    writeOlderModelToBundle(host_->bundle, true);
    std::filesystem::remove(storePath() + "-shm");
    platform::Error error;
    EXPECT_FALSE(migrate(&error));
    EXPECT_EQ(error.domain(), platform::kCocoaErrorDomain);
    EXPECT_EQ(error.code(), 4);  // no such file
    // The store itself went first and waits at the temporary name.
    EXPECT_TRUE(exists(tempStorePath()));
    EXPECT_FALSE(exists(storePath()));
}

TEST_F(MigrationManagerTest, WithoutAMappingTheAnswerIsCodeZeroAndTheTemporaryFilesRemain) {
    for (bool withModel : {false, true}) {
        SCOPED_TRACE(withModel ? "source model but no mapping" : "no source model");
        std::filesystem::remove_all(host_->bundle);
        if (withModel) writeOlderModelToBundle(host_->bundle, false);
        if (!exists(storePath())) {
            ASSERT_TRUE(Manager::removeTempFiles(nullptr));
            writeOlderStore(storePath(), {{"first", 1}});
        }
        platform::Error error;
        EXPECT_FALSE(migrate(&error));
        EXPECT_EQ(error.domain(), "MVPersistentStoreMigrationErrorDomain");
        EXPECT_EQ(error.code(), 0);
        EXPECT_EQ(
            error.userInfo(),
            (nlohmann::json{{"errorDescription",
                             "MVPersistentStoreMigrationErrorDesciption - MappingModelNotFound"}}));
        for (auto suffix : {"", "-shm", "-wal"})
            EXPECT_TRUE(exists(tempStorePath() + suffix)) << suffix;
    }
}

TEST_F(MigrationManagerTest, AModelFileNested100000DeepIsUnreadableNotACrash) {
    std::filesystem::remove_all(host_->bundle);
    writeFile(host_->bundle + "/MVPersistentStorage/0.model.json",
              R"({"a":)" + std::string(100'000, '[') + std::string(100'000, ']') + "}");
    platform::Error error;
    EXPECT_FALSE(migrate(&error));
    EXPECT_EQ(error.domain(), "MVPersistentStoreMigrationErrorDomain");
    EXPECT_TRUE(logged("could not read"));
    EXPECT_TRUE(logged("nested deeper than 512 levels"));
}

TEST_F(MigrationManagerTest, RemovingTheTemporaryFilesStopsAtTheFirstFailure) {
    writeFile(tempStorePath(), "main");
    writeFile(tempStorePath() + "-shm", "shm");
    writeFile(tempStorePath() + "-wal", "wal");
    if (!makeUnremovable(tempStorePath() + "-shm"))
        GTEST_SKIP() << "the file system cannot keep a file from removal";
    EXPECT_TRUE(Manager::doesTempFilesExist());
    platform::Error error;
    EXPECT_FALSE(Manager::removeTempFiles(&error));
    EXPECT_EQ(error.domain(), "MVPersistentStoreMigrationErrorDomain");
    EXPECT_EQ(error.code(), 1);
    EXPECT_EQ(error.userInfo(),
              (nlohmann::json{
                  {"errorDescription",
                   "MVPersistentStoreMigrationErrorDescription - CouldntDeleteOldTmpSqlite"}}));
    EXPECT_FALSE(exists(tempStorePath()));
    EXPECT_TRUE(exists(tempStorePath() + "-wal"));    // never reached
    EXPECT_FALSE(Manager::removeTempFiles(nullptr));  // an absent error is not written
}

TEST_F(MigrationManagerTest, TempFilesAreFoundByAnyOfTheThree) {
    EXPECT_EQ(Manager::tempFilePath(), host_->caches + "/tempMVMigrationManager.sqlite");
    EXPECT_FALSE(Manager::doesTempFilesExist());
    for (auto suffix : {"", "-shm", "-wal"}) {
        writeFile(tempStorePath() + suffix, "x");
        EXPECT_TRUE(Manager::doesTempFilesExist()) << suffix;
        ASSERT_TRUE(Manager::removeTempFiles(nullptr));
    }
}

// The bundle keeps every model version's description for the migrations of later
// versions; the current one must match the compiled model.
TEST(StorageModelTest, TheBundledDescriptionOfTheCurrentModelMatchesTheCompiledOne) {
    const std::string path =
        std::string(MV_SOURCE_DIR) +
        "/libmerovane/resources/libmerovane.bundle/MVPersistentStorage/1.model.json";
    std::ifstream in(path);
    ASSERT_TRUE(in) << path;
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(nlohmann::json::parse(text.str()),
              MVPersistentStorage::managedObjectModel()->description());
}

}  // namespace
