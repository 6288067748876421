// Start-up: what persistent storage does with the files it finds.
#include <SQLiteCpp/SQLiteCpp.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <thread>

#include "libmerovane/application/MVErrorLogUpload.h"
#include "libmerovane/application/MVLogServer.h"
#include "libmerovane/connection/MVApiConnection.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/core/StringExtensions.h"
#include "libmerovane/storage/MVPersistentStorage.h"
#include "libmerovane/storage/MVWebStorageVariable.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/TestDriver.h"
#include "tests/storage/StorageTestData.h"
#include "tests/support/Deadline.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/StorageFixture.h"
#include "tests/support/TestApiConnectionHost.h"

namespace {

using Var = MVWebStorageVariable;

class StorageStartupTest : public StorageTest {
  protected:
    std::vector<std::string> storedIds() {
        std::vector<std::string> out;
        storage().lockedAccess([&] {
            for (auto& v : Var::dbObjectsWithoutFetchingProperties())
                out.push_back(v->id().value_or(""));
        });
        return out;
    }
    const MVErrorReport* report(const std::string& description) {
        reports_ = MVErrorLogger::reports();
        for (auto& r : reports_)
            if (r.description == description) return &r;
        return nullptr;
    }
    void storeOneRow() {
        storage().lockedAccess([] { Var::dbObjectCreate()->setId(std::string("kept")); });
        closeStorage();
    }
    // Rows with some bulk, all in the store file (none in its journal) once it returns.
    void storeRows(int count) {
        storage().lockedAccess([&] {
            const nlohmann::json value = std::string(100, 'v');
            for (int i = 0; i < count; ++i) {
                auto v = Var::dbObjectCreate();
                v->setId("row" + std::to_string(i));
                v->setDataValue(&value);
            }
        });
        closeStorage();
        SQLite::Database db(storePath(), SQLite::OPEN_READWRITE);
        db.exec("PRAGMA wal_checkpoint(TRUNCATE)");
    }
    // Overwrites a page every 28 KiB, the header page kept.
    static void overwritePages(const std::string& path) {
        const auto size = std::filesystem::file_size(path);
        std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
        for (std::streamoff at = 28 * 1024; at < static_cast<std::streamoff>(size);
             at += 28 * 1024) {
            f.seekp(at);
            f << std::string(4096, '\xa5');
        }
    }
    std::vector<MVErrorReport> reports_;
};

TEST_F(StorageStartupTest, AFreshStartMakesTheCachesFolderAndAnEmptyStore) {
    EXPECT_TRUE(storedIds().empty());
    EXPECT_TRUE(exists(storePath()));
    EXPECT_TRUE(logged("MVPersistentStorage cache path at \"" + host_->caches + "\""));
    EXPECT_TRUE(logged("MVPersistentStorage coordinator initialized..."));
    EXPECT_TRUE(MVErrorLogger::reports().empty());
    EXPECT_EQ(host_->removedCachedBootApps, 0);
}

TEST_F(StorageStartupTest, AStoreWhoseMetadataCannotBeReadIsDeletedAndMadeAnew) {
    const struct {
        const char* name;
        std::function<void(const std::string&)> write;
    } cases[] = {
        {"not SQLite", [](const std::string& p) { writeFile(p, std::string(4096, '\x5a')); }},
        {"empty file", [](const std::string& p) { writeFile(p, ""); }},
        {"a foreign database",
         [](const std::string& p) {
             std::filesystem::create_directories(std::filesystem::path(p).parent_path());
             SQLite::Database db(p, SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE);
             db.exec("CREATE TABLE notes (text TEXT); INSERT INTO notes VALUES ('x')");
         }},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        closeStorage();
        MVErrorLogger::clearReports();
        std::filesystem::remove_all(host_->caches);
        c.write(storePath());
        writeFile(storePath() + "-wal", "stale companion");
        EXPECT_TRUE(storedIds().empty());
        EXPECT_TRUE(logged("MVPersistentStorage store <CacheGeneral, \"" + storePath() +
                           "\"> couldn't load metaData of source database."));
        EXPECT_NE(report("MVPersistentStoreCoordinator couldn't load metaData of source database"),
                  nullptr);
        // The new store works and keeps what is written to it.
        storage().lockedAccess([] { Var::dbObjectCreate()->setId(std::string("new")); });
        closeStorage();
        EXPECT_EQ(storedIds(), std::vector<std::string>{"new"});
    }
}

TEST_F(StorageStartupTest, ADamagedStoreIsKeptAsideOnceAndMadeAnew) {
    const struct {
        const char* name;
        std::function<void(const std::string&)> damage;
    } cases[] = {
        {"pages overwritten every 28 KiB", overwritePages},
        {"truncated to half",
         [](const std::string& p) {
             std::filesystem::resize_file(p, std::filesystem::file_size(p) / 2);
         }},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        closeStorage();
        MVErrorLogger::clearReports();
        std::filesystem::remove_all(host_->caches);
        storeRows(2000);
        c.damage(storePath());
        writeFile(storePath() + "-wal", "");

        EXPECT_TRUE(storedIds().empty());
        EXPECT_TRUE(logged("MVPersistentStorage store <CacheGeneral, \"" + storePath() +
                           "\"> not added. Trying to delete...") ||
                    logged("MVPersistentStorage store <CacheGeneral, \"" + storePath() +
                           "\"> couldn't load metaData of source database."));
        EXPECT_TRUE(
            logged("MVPersistentStorage kept the damaged store as \"" + storePath() + ".corrupt-"));
        EXPECT_EQ(MVErrorLogger::reports().size(), 1u);
        auto asides = [&] {
            std::vector<std::string> names;
            for (auto& e : std::filesystem::directory_iterator(host_->caches))
                if (e.path().filename().string().starts_with("general.sqlite.corrupt-"))
                    names.push_back(e.path().filename().string());
            std::sort(names.begin(), names.end());
            return names;
        };
        // Kept once, with its companions.
        const auto kept = asides();
        ASSERT_FALSE(kept.empty());
        EXPECT_EQ(kept, (std::vector<std::string>{kept[0], kept[0] + "-shm", kept[0] + "-wal"}));

        // The next start finds the new store sound.
        storage().lockedAccess([] { Var::dbObjectCreate()->setId(std::string("new")); });
        closeStorage();
        MVErrorLogger::clearReports();
        EXPECT_EQ(storedIds(), std::vector<std::string>{"new"});
        EXPECT_TRUE(MVErrorLogger::reports().empty());
        EXPECT_EQ(asides(), kept);
    }
}

TEST_F(StorageStartupTest, DamageMetAfterStartFailsTheAccessAndIsReportedOnce) {
    storeRows(2000);
    storage();  // opens sound
    overwritePages(storePath());
    EXPECT_TRUE(storedIds().empty());
    EXPECT_TRUE(storedIds().empty());
    EXPECT_EQ(loggedCount("MVPersistentStorage fetch of <MVWebStorageVariable> failed"), 2u);
    ASSERT_EQ(MVErrorLogger::reports().size(), 1u);
    EXPECT_EQ(MVErrorLogger::reports()[0].description, "MVPersistentStorage store is damaged");
}

TEST_F(StorageStartupTest, LeftoverTempFilesWithoutAStoreAreReportedAsAnUnfinishedMigration) {
    writeOlderStore(tempStorePath(), {{"x", 1}});
    setDevice("iPhone", "iPhone9,3");
    EXPECT_TRUE(storedIds().empty());
    auto* r = report("MVPersistentStorage hadn't finish migration.");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(*r->data, (nlohmann::json{{"device", "iPhone9,3"}, {"previousStore", {"0"}}}));
    EXPECT_TRUE(logged("MVPersistentStorage hadn't finish migration: "));
    for (auto suffix : {"", "-shm", "-wal"})
        EXPECT_FALSE(exists(tempStorePath() + suffix)) << suffix;
}

TEST_F(StorageStartupTest, LeftoverTempFilesBesideAStoreAreReportedAsACompletedMigration) {
    storeOneRow();
    writeFile(tempStorePath() + "-wal", "left behind");
    EXPECT_EQ(storedIds(), std::vector<std::string>{"kept"});
    auto* r = report("The migration was completed, but the store temp file wasn't deleted.");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(
        *r->data,
        (nlohmann::json{{"device", "iPhoneS,1"}, {"previousStore", ""}, {"currentStore", {"1"}}}));
    // A desktop reads as the simulator.
    EXPECT_FALSE(exists(tempStorePath() + "-wal"));
}

TEST_F(StorageStartupTest, TempFilesThatCannotBeRemovedAreReported) {
    writeFile(tempStorePath(), "left behind");
    if (!makeUnremovable(tempStorePath()))
        GTEST_SKIP() << "the file system cannot keep a file from removal";
    EXPECT_TRUE(storedIds().empty());
    EXPECT_NE(report("MVPersistentStorage failed to remove orphaned store temp file "), nullptr);
    EXPECT_TRUE(
        logged("MVPersistentStorage failed to remove orphaned store temp file with reason: "));
}

TEST(StorageDeviceTest, OnlyNewEnoughDevicesMigrate) {
    const struct {
        const char* model;
        const char* hardware;
        bool migrates;
    } rows[] = {
        {"iPhone", "iPhone4,1", false},    // older than 5,1
        {"iPhone", "iPhone5,1", true},     // the minimum itself
        {"iPhone", "iPhone10,6", true},    // a greater major number
        {"iPad", "iPad3,4", true},         // the tablet minimum
        {"iPad", "iPad3,3", false},        // one minor number short
        {"iPod touch", "iPod5,1", true},   // the model's first word decides
        {"iPod touch", "iPod4,9", false},  //
        {"iPhone", "iPhoneS,1", false},    // the simulator reads as major 0
        {"Watch", "Watch1,1", true},       // not in the table: minimum 0,0
        {"iPhone", "iPhone7", true},       // no minor number: minor 0
        {"iPhone", "iPhone5", false},      // 5,0 is below 5,1
        {"", "", true},                    // nothing known: 0,0 against 0,0
    };
    for (auto& r : rows)
        EXPECT_EQ(MVPersistentStorage::deviceMigrates(r.model, r.hardware), r.migrates)
            << r.model << " " << r.hardware;
}

class StorageUpgradeTest : public StorageStartupTest {
  protected:
    void SetUp() override {
        StorageStartupTest::SetUp();
        writeOlderStore(storePath(), {{"first", 100}, {"second", 200}});
    }
};

TEST_F(StorageUpgradeTest, AnOldStoreOnANewEnoughDeviceIsMigratedWithItsRows) {
    for (auto hardware : {"iPhone5,1", "iPad3,4"}) {
        SCOPED_TRACE(hardware);
        closeStorage();
        std::filesystem::remove_all(host_->bundle);
        writeOlderStore(storePath(), {{"first", 100}, {"second", 200}});
        writeOlderModelToBundle(host_->bundle, true);
        setDevice(std::string(hardware).substr(0, 4) == "iPad" ? "iPad" : "iPhone", hardware);
        const int before = host_->removedCachedBootApps;
        storage().lockedAccess([&] {
            auto all = Var::dbObjectsWithoutFetchingProperties();
            ASSERT_EQ(all.size(), 2u);
            EXPECT_EQ(all[0]->id(), "first");
            EXPECT_EQ(all[0]->creationDate(), platform::Date(100));
            EXPECT_EQ(*all[0]->dataValue(), (nlohmann::json{{"v", "first"}}));
            EXPECT_EQ(all[0]->timeoutInterval(), std::nullopt);
            EXPECT_EQ(all[1]->id(), "second");
        });
        EXPECT_EQ(host_->removedCachedBootApps, before + 1);
        EXPECT_TRUE(logged("MVPersistentStoreMigration from identifier \"0\" to \"1\""));
        EXPECT_FALSE(exists(tempStorePath()));
        // Migrated once: the next start finds a current store.
        closeStorage();
        storedIds();
        EXPECT_EQ(host_->removedCachedBootApps, before + 1);
    }
}

TEST_F(StorageUpgradeTest, AnOldStoreOnAnOlderDeviceIsDeleted) {
    for (auto hardware : {"iPhone4,1", "iPad3,3"}) {
        SCOPED_TRACE(hardware);
        closeStorage();
        writeOlderStore(storePath(), {{"first", 100}});
        writeOlderModelToBundle(host_->bundle, true);
        setDevice(std::string(hardware).substr(0, 4) == "iPad" ? "iPad" : "iPhone", hardware);
        EXPECT_TRUE(storedIds().empty());
        EXPECT_FALSE(logged("MVPersistentStoreMigration from identifier"));
    }
    EXPECT_EQ(host_->removedCachedBootApps, 2);
}

TEST_F(StorageUpgradeTest, AFailedMigrationIsReportedAndLeavesAnEmptyStore) {
    writeOlderModelToBundle(host_->bundle, false);  // no mapping
    setDevice("iPhone", "iPhone9,1");
    EXPECT_TRUE(storedIds().empty());
    EXPECT_TRUE(logged("MVPersistentStoreCoordinator migrate database."));
    auto* r = report("MVPersistentStoreCoordinator couldn't migrate");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(
        *r->data,
        (nlohmann::json{{"errorDescription",
                         "MVPersistentStoreMigrationErrorDesciption - MappingModelNotFound"}}));
    // The old store waits at the temporary names; the next start reports and removes it.
    EXPECT_TRUE(exists(tempStorePath()));
    closeStorage();
    MVErrorLogger::clearReports();
    storedIds();
    EXPECT_NE(report("The migration was completed, but the store temp file wasn't deleted."),
              nullptr);
    EXPECT_FALSE(exists(tempStorePath()));
}

TEST_F(StorageStartupTest, ACachesFolderThatCannotBeMadeEndsTheApplication) {
    writeFile(root_.string() + "/file", "x");
    host_->caches = root_.string() + "/file/sub";
    try {
        storage();
        FAIL() << "no exception";
    } catch (const platform::Exception& e) {
        EXPECT_EQ(e.name(), "The cache path could not be created");
        EXPECT_NE(
            e.reason().find("The cache path \"" + host_->caches + "\" could not be created. "),
            std::string::npos);
    }
}

TEST_F(StorageStartupTest, AStoreThatCanBeNeitherDeletedNorMovedAsideEndsTheApplication) {
    writeFile(storePath(), std::string(4096, '\x5a'));
    if (!makeUnremovable(host_->caches))
        GTEST_SKIP() << "the file system cannot keep a file from removal";
    try {
        storage();
        FAIL() << "no exception";
    } catch (const platform::Exception& e) {
        EXPECT_EQ(e.name(), "Persistent store not added");
        EXPECT_NE(
            e.reason().find("Persistent store <CacheGeneral, \"" + storePath() + "\"> not added. "),
            std::string::npos);
    }
    EXPECT_TRUE(logged("MVPersistentStorage store <CacheGeneral, \"" + storePath() +
                       "\"> not added. Trying to delete..."));
    EXPECT_NE(report("MVPersistentStoreCoordinator couldn't delete source database."), nullptr);
}

TEST_F(StorageStartupTest, AskingForTheStorageWhileItIsBuiltOnTheSameThreadFailsRatherThanHangs) {
    // A host whose caches folder asks for the storage.
    struct AskingHost : RecordingStorageHost {
        std::string pathForCaches() override {
            MVPersistentStorage::sharedStorage();
            return caches;
        }
    };
    auto asking = std::make_shared<AskingHost>();
    asking->caches = host_->caches;
    MVPersistentStorage::setHost(asking);
    Deadline deadline(30, "the storage start");
    try {
        storage();
        FAIL() << "no exception";
    } catch (const platform::Exception& e) {
        EXPECT_EQ(e.reason(), "MVPersistentStorage asked for while it is being built");
    }
    // Not built: a later start with a sound host builds it.
    MVPersistentStorage::setHost(host_);
    EXPECT_TRUE(storedIds().empty());
}

// Start-up as the shell makes it: the error-log upload installed, sending to a loopback
// log server, over the broken files a home folder may hold. Each start is bounded.
class StorageStartupUploadTest;
struct BrokenFiles {
    const char* name;
    void (StorageStartupUploadTest::*make)();
    const char* report;            // the report that must reach the log server
    std::vector<std::string> ids;  // the rows the store holds after the start
    bool keptAside;                // the broken store stands aside
};
void PrintTo(const BrokenFiles& files, std::ostream* out) {
    *out << files.name;
}

class StorageStartupUploadTest : public StorageStartupTest,
                                 public ::testing::WithParamInterface<BrokenFiles> {
  public:
    void writeRandomBytes() {
        std::string bytes(8192, '\0');
        std::mt19937 random(7);
        for (auto& b : bytes) b = static_cast<char>(random());
        writeFile(storePath(), bytes);
    }
    void cutTo100Bytes() {
        storeRows(1);  // all in the store file
        std::filesystem::resize_file(storePath(), 100);
    }
    void putAFolderInItsPlace() { writeFile(storePath() + "/notes.txt", "mine"); }
    void leaveMigration() { writeOlderStore(tempStorePath(), {{"x", 1}}); }
    void leaveMigrationBesideTheStore() {
        storeOneRow();
        leaveMigration();
    }

  protected:
    static constexpr double kBound = 30;

    void TearDown() override {
        MVLogServer::setEndpointBase({});
        StorageStartupTest::TearDown();
    }
    void installUpload() {
        MVApiConnection::setHost(std::make_shared<TestApiConnectionHost>());
        server_.respond("/applog/error", HttpTestServer::Response::text(200, ""));
        MVLogServer::setEndpointBase(server_.baseURL());
        MVErrorLogUpload::install();
    }
    bool reachedServer(const std::string& description) {
        const std::string pair = "errorDescription=" + urlEncodedString(description) + "&";
        return platform::runUntil(
            [&] {
                for (auto& request : server_.requests())
                    if (request.query.find(pair) != std::string::npos) return true;
                return false;
            },
            kBound);
    }
    // The stores kept aside, without their companions.
    std::vector<std::string> asides() const {
        std::vector<std::string> paths;
        for (auto& e : std::filesystem::directory_iterator(host_->caches)) {
            const std::string name = e.path().filename().string();
            if (name.starts_with("general.sqlite.corrupt-") && !name.ends_with("-wal") &&
                !name.ends_with("-shm"))
                paths.push_back(e.path().string());
        }
        return paths;
    }

    HttpTestServer server_;
};

TEST_P(StorageStartupUploadTest, TheStoreIsReplacedAndTheReportReachesTheLogServer) {
    const auto& broken = GetParam();
    (this->*broken.make)();
    writeFile(host_->caches + "/webcache/1", "a cached page");
    installUpload();
    std::vector<std::string> ids;
    {
        Deadline deadline(kBound, "the storage start");
        ids = storedIds();
    }
    EXPECT_EQ(ids, broken.ids);
    // A store made anew holds no resource a cached boot script could replay.
    EXPECT_EQ(host_->removedCachedBootApps, broken.ids.empty() ? 1 : 0);
    EXPECT_TRUE(reachedServer(broken.report)) << broken.report;
    for (auto suffix : {"", "-shm", "-wal"})
        EXPECT_FALSE(exists(tempStorePath() + suffix)) << suffix;
    EXPECT_TRUE(exists(host_->caches + "/webcache/1"));
    EXPECT_EQ(asides().size(), broken.keptAside ? 1u : 0u);
    if (broken.make == &StorageStartupUploadTest::putAFolderInItsPlace && !asides().empty()) {
        EXPECT_TRUE(exists(asides()[0] + "/notes.txt"));  // kept with what it holds
    }

    // The new store keeps what is written to it, and the next start reports nothing.
    storage().lockedAccess([] { Var::dbObjectCreate()->setId(std::string("new")); });
    closeStorage();
    MVErrorLogger::clearReports();
    ids = broken.ids;
    ids.push_back("new");
    EXPECT_EQ(storedIds(), ids);
    EXPECT_TRUE(MVErrorLogger::reports().empty());
}

TEST_P(StorageStartupUploadTest, TwoThreadsStartingAtOnceGetTheOneNewStore) {
    (this->*GetParam().make)();
    installUpload();
    std::atomic<MVPersistentStorage*> seen[2] = {nullptr, nullptr};
    {
        Deadline deadline(kBound, "two storage starts at once");
        std::thread other([&] { seen[1] = &MVPersistentStorage::sharedStorage(); });
        seen[0] = &MVPersistentStorage::sharedStorage();
        other.join();
    }
    EXPECT_EQ(seen[0].load(), seen[1].load());
    EXPECT_TRUE(reachedServer(GetParam().report));
    EXPECT_EQ(storedIds(), GetParam().ids);
}

const char* const kMetadataReport =
    "MVPersistentStoreCoordinator couldn't load metaData of source database";
const BrokenFiles kBrokenFiles[] = {
    {"RandomBytes", &StorageStartupUploadTest::writeRandomBytes, kMetadataReport, {}, true},
    {"CutTo100Bytes", &StorageStartupUploadTest::cutTo100Bytes, kMetadataReport, {}, true},
    {"AFolderInItsPlace",
     &StorageStartupUploadTest::putAFolderInItsPlace,
     kMetadataReport,
     {},
     true},
    {"MigrationLeftoverAlone",
     &StorageStartupUploadTest::leaveMigration,
     "MVPersistentStorage hadn't finish migration.",
     {},
     false},
    {"MigrationLeftoverBesideTheStore",
     &StorageStartupUploadTest::leaveMigrationBesideTheStore,
     "The migration was completed, but the store temp file wasn't deleted.",
     {"kept"},
     false},
};

INSTANTIATE_TEST_SUITE_P(BrokenFiles, StorageStartupUploadTest, ::testing::ValuesIn(kBrokenFiles),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
