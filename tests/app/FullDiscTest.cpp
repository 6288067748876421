// The shell over a home on a full disc: a store the disc keeps from opening ends the start
// in order (status 1, the store and the cause named) and is kept for the next start; a
// store that opens serves the shop as always, and its stop, which cannot write all it
// keeps, says so (status 1).
#ifdef MV_SAMPLE_API_SERVER
#include <sys/stat.h>

#include <filesystem>

#include "tests/app/SampleShopRun.h"
#include "tests/support/SmallDisc.h"

namespace fulldisc {

using namespace sampleshop;
namespace fs = std::filesystem;

struct FullDisc {
    const char* name;
    bool storedBefore;  // a run over the home before the disc fills
    const char* gone;   // the store's companion removed before the start, or ""
    uint64_t room;      // bytes left free
    bool runs;          // the start over the full disc shows the shop
};
void PrintTo(const FullDisc& row, std::ostream* out) {
    *out << row.name;
}

const FullDisc kFullDiscs[] = {
    {"FirstStartNoRoom", false, "", 0, false},
    {"FirstStartRoomForAPage", false, "", 4096, false},
    {"StoredNoRoom", true, "", 0, true},
    {"StoredWithoutItsJournalIndexNoRoom", true, "-shm", 0, false},
};

class FullDiscTest : public SampleShopRunTest, public ::testing::WithParamInterface<FullDisc> {
  protected:
    void SetUp() override {
        SampleShopRunTest::SetUp();
        disc_ = std::make_unique<SmallDisc>(out_.file("home"), 4 << 20);
        if (!disc_->mounted()) GTEST_SKIP() << disc_->problem();
    }
    void TearDown() override {
        disc_.reset();  // before the output folder goes
        SampleShopRunTest::TearDown();
    }
    std::string store() const {
        return out_.file("home/Library/Caches/libmerovane/general.sqlite");
    }
    // The store's inode, 0 when there is none.
    ino_t storeInode() const {
        struct stat info {};
        return ::stat(store().c_str(), &info) == 0 ? info.st_ino : 0;
    }
    bool shown() const { return !readText(out_.file("presented.json")).empty(); }
    std::unique_ptr<SmallDisc> disc_;
};

TEST_P(FullDiscTest, TheStartEndsInOrderOrRunsAndTheStoreIsKept) {
    const FullDisc& row = GetParam();
    if (row.storedBefore) {
        ASSERT_EQ(stopAtFirstPage("before.log"), 0);
        ASSERT_TRUE(shown());
        if (*row.gone) fs::remove(store() + row.gone);
    }
    const ino_t inode = storeInode();
    const std::string bytes = inode ? readText(store()) : "";
    ASSERT_TRUE(disc_->fill(row.room)) << disc_->freeBytes();

    const int status = stopAtFirstPage("full.log");
    const std::string log = readText(out_.file("full.log"));
    if (row.runs) {
        // What it performed over the full disc is not all written: the stop says so.
        EXPECT_EQ(status, 1) << log;
        EXPECT_NE(log.find("The stop could not write all it keeps: "), std::string::npos) << log;
        EXPECT_TRUE(shown()) << log;
    } else {
        EXPECT_EQ(status, 1) << log;
        EXPECT_FALSE(shown());
        EXPECT_NE(log.find("The shell cannot start: Persistent store <CacheGeneral, \"" + store() +
                           "\"> not added."),
                  std::string::npos)
            << log;
        EXPECT_NE(log.find("The disc failed, nothing is deleted"), std::string::npos) << log;
        EXPECT_EQ(storeInode(), inode);
        if (inode) {
            EXPECT_TRUE(readText(store()) == bytes);
        }
    }

    // With room again the shop is shown, over the same store when there was one.
    disc_->makeRoom();
    EXPECT_EQ(stopAtFirstPage("room.log"), 0);
    EXPECT_TRUE(shown()) << readText(out_.file("room.log"));
    if (inode) {
        EXPECT_EQ(storeInode(), inode);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, FullDiscTest, ::testing::ValuesIn(kFullDiscs),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace fulldisc
#endif
