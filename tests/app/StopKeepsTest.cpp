// The shell's stop over a home where what it keeps cannot all be written: a small disc
// under the settings, the store or the web cache's files (each alone and together), full
// or nearly full, or web cache files that land slowly. The stop's status is 0 exactly
// when everything performed is on disc; otherwise it is 1 beside the line that names what
// was not written. No stored web cache entry names a file that is not there.
#ifdef MV_SAMPLE_API_SERVER
#include <sqlite3.h>
#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/app/SampleShopRun.h"
#include "tests/support/SmallDisc.h"

namespace stopkeeps {

using namespace sampleshop;

enum Place : unsigned { kSettings = 1, kStore = 2, kFiles = 4 };

struct StopRow {
    const char* name;
    bool earlierRun;   // a run with room first: the store, the settings and a boot script
    unsigned full;     // the places whose disc is filled before the run
    uint64_t room;     // bytes left free there
    int slowFilesMs;   // each web cache file lands this late (0: at once)
    const char* lost;  // what the stop's line names, in its order; null: status 0
};
void PrintTo(const StopRow& row, std::ostream* out) {
    *out << row.name;
}

constexpr const char* kLostLine = "The stop could not write all it keeps: ";
// What the system logs when it could not write something it performed.
constexpr const char* kFailures[] = {
    "User defaults could not be written", "MVPersistentStorage could not",
    "MVWebCache could not write resource file", "file operations still run"};

const StopRow kRows[] = {
    {"RoomEverywhere", true, 0, 0, 0, nullptr},
    {"FirstStartWithRoom", false, 0, 0, 0, nullptr},
    {"SettingsFull", true, kSettings, 0, 0, "the settings not on disc"},
    {"StoreFull", true, kStore, 0, 0, "changes to the store not on disc"},
    {"FilesFullFirstStart", false, kFiles, 0, 0, "1 web cache entry without its file not on disc"},
    {"FilesNearlyFullFirstStart", false, kFiles, 256, 0,
     "1 web cache entry without its file not on disc"},
    {"SettingsAndStoreFull", true, kSettings | kStore, 0, 0,
     "the settings and changes to the store not on disc"},
    {"SettingsAndFilesFullFirstStart", false, kSettings | kFiles, 0, 0,
     "the settings and 1 web cache entry without its file not on disc"},
    {"FilesSlowWithinTheBound", false, 0, 0, 1500, nullptr},
    {"FilesSlowPastTheBound", false, 0, 0, 30000,
     "web cache files still being written and 1 web cache entry without its file not on disc"},
    {"SettingsFullFilesSlowPastTheBound", false, kSettings, 0, 30000,
     "the settings, web cache files still being written and 1 web cache entry without its "
     "file not on disc"},
};

class StopKeepsTest : public SampleShopRunTest, public ::testing::WithParamInterface<StopRow> {
  protected:
    void SetUp() override {
        SampleShopRunTest::SetUp();
        // The files' disc lies in the store's folder, on a disc of its own.
        settings_ = std::make_unique<SmallDisc>(home("Library/Preferences"), 1 << 20);
        store_ = std::make_unique<SmallDisc>(home("Library/Caches/libmerovane"), 8 << 20);
        if (store_->mounted())
            files_ =
                std::make_unique<SmallDisc>(home("Library/Caches/libmerovane/webcache"), 4 << 20);
        for (const auto* disc : {settings_.get(), store_.get(), files_.get()})
            if (!disc || !disc->mounted())
                GTEST_SKIP() << (disc ? disc->problem() : store_->problem());
    }
    void TearDown() override {
        // Before the output folder goes, the inner disc first.
        files_.reset();
        store_.reset();
        settings_.reset();
        SampleShopRunTest::TearDown();
    }
    std::string home(const std::string& path) const { return out_.file("home/" + path); }

    // The stored web cache entries' files that are in neither folder.
    std::vector<std::string> entriesWithoutFiles() const {
        std::vector<std::string> missing;
        sqlite3* db = nullptr;
        const std::string store = home("Library/Caches/libmerovane/general.sqlite");
        if (sqlite3_open_v2(store.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
            ADD_FAILURE() << "the store does not open: " << store;
            sqlite3_close(db);
            return missing;
        }
        sqlite3_stmt* rows = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT \"localSerial\" FROM \"MVWebCacheResourceObject\"", -1,
                               &rows, nullptr) == SQLITE_OK) {
            while (sqlite3_step(rows) == SQLITE_ROW) {
                const std::string serial = std::to_string(sqlite3_column_int64(rows, 0));
                struct stat info {};
                if (::stat(home("Library/Caches/libmerovane/webcache/" + serial).c_str(), &info) !=
                        0 &&
                    ::stat(home("Documents/libmerovane/shadowcache/webcache/" + serial).c_str(),
                           &info) != 0)
                    missing.push_back(serial);
            }
        } else {
            ADD_FAILURE() << sqlite3_errmsg(db);
        }
        sqlite3_finalize(rows);
        sqlite3_close(db);
        return missing;
    }

    std::unique_ptr<SmallDisc> settings_, store_, files_;
};

TEST_P(StopKeepsTest, TheStatusIsZeroExactlyWhenAllItKeepsIsOnDisc) {
    const StopRow& row = GetParam();
    if (row.earlierRun) {
        ASSERT_EQ(stopAtFirstPage("earlier.log"), 0) << readText(out_.file("earlier.log"));
    }
    for (const auto& [place, disc] :
         {std::pair{kSettings, settings_.get()}, std::pair{kStore, store_.get()},
          std::pair{kFiles, files_.get()}}) {
        if (row.full & place) {
            ASSERT_TRUE(disc->fill(row.room));
        }
    }
    ChildProcess::Environment environment;
    if (row.slowFilesMs > 0)
        environment = {{"LD_PRELOAD", MV_SLOW_FILES},
                       {"MV_SLOW_FILES_MS", std::to_string(row.slowFilesMs)},
                       {"ASAN_OPTIONS", "verify_asan_link_order=0"}};

    const int status = stopAtFirstPage("stop.log", environment);
    const std::string log = readText(out_.file("stop.log"));
    if (!row.lost) {
        EXPECT_EQ(status, 0) << log;
        EXPECT_EQ(log.find(kLostLine), std::string::npos) << log;
        for (const char* failure : kFailures)
            EXPECT_EQ(log.find(failure), std::string::npos) << log;
    } else {
        EXPECT_EQ(status, 1) << log;
        EXPECT_NE(log.find(kLostLine + std::string(row.lost)), std::string::npos) << log;
    }
    EXPECT_EQ(entriesWithoutFiles(), std::vector<std::string>()) << log;
}

INSTANTIATE_TEST_SUITE_P(Rows, StopKeepsTest, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace stopkeeps
#endif
