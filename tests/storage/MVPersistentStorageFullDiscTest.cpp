// Start-up on a full disc: a store that the disc keeps from opening stays as it is and
// the building raises with the cause; one that opens serves; nothing half made is left.
#include <filesystem>
#include <fstream>
#include <sstream>

#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/storage/MVPersistentStorage.h"
#include "libmerovane/storage/MVWebStorageVariable.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/SharedInstances.h"
#include "tests/storage/StorageTestData.h"
#include "tests/support/SmallDisc.h"
#include "tests/support/StorageFixture.h"

namespace storagefulldisc {

using Var = MVWebStorageVariable;
namespace fs = std::filesystem;

std::string bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

struct FullDisc {
    const char* name;
    int rows;          // stored before the disc fills; -1: no store
    const char* gone;  // companion removed before the start ("-shm", "-wal,-shm")
    uint64_t room;     // bytes left free
    bool opens;        // the store opens over the full disc
    bool older;        // the store is of an older model, to be migrated
};
void PrintTo(const FullDisc& row, std::ostream* out) {
    *out << row.name;
}

const FullDisc kFullDiscs[] = {
    // A first start: no store can be made.
    {"NoStoreNoRoom", -1, "", 0, false, false},
    {"NoStoreRoomForAPage", -1, "", 4096, false, false},
    {"NoStoreRoomForTheJournalIndex", -1, "", 36 * 1024, false, false},
    // A store whose files are all there reads and serves.
    {"StoreNoRoom", 3, "", 0, true, false},
    {"EmptyStoreNoRoom", 0, "", 0, true, false},
    // A store that needs room to open (its journal index is rebuilt) is kept for later.
    {"StoreWithoutItsJournalIndexNoRoom", 3, "-shm", 0, false, false},
    {"StoreWithoutCompanionsNoRoom", 3, "-wal,-shm", 0, false, false},
    {"StoreWithoutItsJournalIndexRoomForAPage", 3, "-shm", 4096, false, false},
    // An older store: its migration needs room for the new store.
    {"OlderStoreNoRoom", 2, "", 0, false, true},
    {"OlderStoreRoomForTheJournalIndex", 2, "", 36 * 1024, false, true},
};

class StorageFullDiscTest : public StorageTest, public ::testing::WithParamInterface<FullDisc> {
  protected:
    void SetUp() override {
        StorageTest::SetUp();
        disc_ = std::make_unique<SmallDisc>(host_->caches, 4 << 20);
        if (!disc_->mounted()) GTEST_SKIP() << disc_->problem();
    }
    void TearDown() override {
        platform::resetSharedInstancesForTesting();
        disc_.reset();
        StorageTest::TearDown();
    }
    std::vector<std::string> storedIds() {
        std::vector<std::string> ids;
        storage().lockedAccess([&] {
            for (auto& v : Var::dbObjectsWithoutFetchingProperties())
                ids.push_back(v->id().value_or(""));
        });
        return ids;
    }
    std::unique_ptr<SmallDisc> disc_;
};

TEST_P(StorageFullDiscTest, AStoreTheDiscKeepsFromOpeningIsKeptAndTheStartRaises) {
    const FullDisc& row = GetParam();
    std::vector<std::string> ids;
    if (row.older) {
        setDevice("iPhone", "iPhone9,1");
        writeOlderModelToBundle(host_->bundle, true);
        writeOlderStore(storePath(), {{"first", 100}, {"second", 200}});
        ids = {"first", "second"};
    } else if (row.rows >= 0) {
        storage().lockedAccess([&] {
            for (int i = 0; i < row.rows; ++i) {
                ids.push_back("row" + std::to_string(i));
                Var::dbObjectCreate()->setId(ids.back());
            }
        });
        closeStorage();
        const std::string gone = row.gone;
        for (const char* companion : {"-wal", "-shm"})
            if (gone.find(companion) != std::string::npos) fs::remove(storePath() + companion);
    }
    const bool stored = exists(storePath());
    const std::string before = stored ? bytesOf(storePath()) : "";
    ASSERT_TRUE(disc_->fill(row.room)) << disc_->freeBytes();
    MVErrorLogger::clearReports();

    if (row.opens) {
        EXPECT_EQ(storedIds(), ids);
    } else {
        try {
            storage();
            ADD_FAILURE() << "no exception";
        } catch (const platform::Exception& e) {
            EXPECT_EQ(e.name(), "Persistent store not added");
            EXPECT_NE(e.reason().find("Persistent store <CacheGeneral, \"" + storePath() +
                                      "\"> not added. "),
                      std::string::npos);
        }
        EXPECT_TRUE(logged("MVPersistentStorage store <CacheGeneral, \"" + storePath() + "\"> " +
                           (row.older ? "not migrated: " : "not added: ")));
        EXPECT_TRUE(logged("The disc failed, nothing is deleted"));
        EXPECT_FALSE(logged("Trying to delete..."));
        // An older store's boot script goes before its migration.
        EXPECT_EQ(host_->removedCachedBootApps, row.older ? 1 : 0);
    }
    // Nothing deleted, nothing half made, nothing reported.
    EXPECT_EQ(exists(storePath()), stored || row.opens);
    if (stored) {
        EXPECT_TRUE(bytesOf(storePath()) == before) << "the store changed";
    }
    for (const auto& entry : fs::directory_iterator(host_->caches)) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "fill" || name.starts_with("general.sqlite")) << name;
    }
    EXPECT_TRUE(MVErrorLogger::reports().empty());

    // With room again the next start opens the same rows.
    disc_->makeRoom();
    closeStorage();
    EXPECT_EQ(storedIds(), ids);
}

INSTANTIATE_TEST_SUITE_P(Rows, StorageFullDiscTest, ::testing::ValuesIn(kFullDiscs),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace storagefulldisc
