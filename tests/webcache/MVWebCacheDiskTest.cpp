// The disk half's rules: which earlier sets a row accepts, when a file may land, and what
// a kill at each step of a burst of sets or of a store that cannot write leaves behind.
#include <SQLiteCpp/SQLiteCpp.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

#include "libmerovane/storage/MVDiscWritingContext.h"
#include "libmerovane/storage/MVSQLiteStore.h"
#include "libmerovane/storage/MVWebCacheResourceObject.h"
#include "libmerovane/webcache/MVWebCache.h"
#include "libmerovane/webcache/MVWebCacheDisk.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/JsonValue.h"
#include "tests/support/StorageFixture.h"

namespace webcache_disk_test {

namespace fs = std::filesystem;
using Data = MVWebCacheInterface::Data;
using SetRecord = MVWebCacheDisk::SetRecord;
using Knowledge = MVWebCacheDisk::FileKnowledge;

constexpr auto kEventBound = std::chrono::seconds(60);  // generous bound on one event
const nlohmann::json kInfo = {{"maximum-lifetime", 600}};

Data dataOf(const std::string& s) {
    return std::make_shared<const std::vector<uint8_t>>(s.begin(), s.end());
}
// A set record naming bytes of `length`.
SetRecord record(int length) {
    return {{"stored-length", length},
            {"stored-crc32", length * 7},
            {"info", nlohmann::json::object()}};
}
std::vector<int> lengths(const std::vector<SetRecord>& records) {
    std::vector<int> out;
    for (const auto& r : records) out.push_back(static_cast<int>(r.at("stored-length")));
    return out;
}
std::vector<SetRecord> sets(std::initializer_list<int> lengths) {
    std::vector<SetRecord> out;
    for (int n : lengths) out.push_back(record(n));
    return out;
}

TEST(MVWebCacheDiskRules, TheSetOnDiscAndTheOneUnderWayStayAccepted) {
    struct Case {
        const char* what;
        Knowledge known;
        std::vector<SetRecord> rowSets;
        std::vector<int> accepted;
    } cases[] = {
        {"a write landed, another under way", {sets({1}), record(2)}, sets({3, 2, 1}), {2, 1}},
        {"a write landed, none under way", {sets({1}), std::nullopt}, sets({3, 1}), {1}},
        {"a new row: nothing on disc", {sets({}), record(2)}, sets({2}), {2}},
        {"after a start: the row's sets", {}, sets({3, 2, 1}), {3, 2, 1}},
        {"after a start, a write under way", {std::nullopt, record(4)}, sets({3, 2}), {4, 3, 2}},
        {"after a start, a long row: its newest",
         {},
         sets({12, 11, 10, 9, 8, 7, 6, 5, 4, 3}),
         {12, 11, 10, 9, 8, 7, 6, 5}},
        {"the same bytes once", {sets({1, 2}), record(1)}, {}, {1, 2}},
    };
    for (auto& c : cases) {
        EXPECT_EQ(lengths(MVWebCacheDisk::acceptedBeforeLanding(c.known, c.rowSets)), c.accepted)
            << c.what;
    }
}

TEST(MVWebCacheDiskRules, ABurstAfterAStartKeepsWhatTheFileMayHoldHoweverLong) {
    Knowledge known;
    std::vector<SetRecord> row = sets({1, 0});  // the row a start finds
    for (int n = 2; n <= 40; ++n) {
        auto accepted = MVWebCacheDisk::acceptedBeforeLanding(known, row);
        if (n == 3) known.writing = record(2);  // the first set's write passed its check
        row = {record(n)};
        row.insert(row.end(), accepted.begin(), accepted.end());
        // What the file may hold: the set a start found, or the one whose write is under way.
        const std::vector<int> mayHold =
            n <= 3 ? std::vector<int>{1, 0} : std::vector<int>{2, 1, 0};
        EXPECT_EQ(lengths(accepted), mayHold) << n;
    }
}

TEST(MVWebCacheDiskRules, AFileLandsOnlyWhenItsRowHoldsItsSetAndIsOnDisc) {
    EXPECT_TRUE(MVWebCacheDisk::mayLand(true, true));
    EXPECT_FALSE(MVWebCacheDisk::mayLand(true, false));  // the store could not write it
    EXPECT_FALSE(MVWebCacheDisk::mayLand(false, true));  // a newer set or a clear came
    EXPECT_FALSE(MVWebCacheDisk::mayLand(false, false));
}

// Keeps a queue busy from the moment it reaches the hold until released.
class QueueHold {
  public:
    explicit QueueHold(platform::DispatchQueue& queue) { queue.async(block()); }
    // Holds the store's disc writer.
    explicit QueueHold(MVDiscWritingContext& writer) { writer.performBlock(block()); }
    ~QueueHold() { release(); }
    bool reached() {
        return state_->reachedFuture.wait_for(kEventBound) == std::future_status::ready;
    }
    void release() {
        if (!state_->released) state_->release.set_value();
        state_->released = true;
    }

  private:
    struct State {
        std::promise<void> release, reached;
        std::shared_future<void> releasedFuture = release.get_future().share();
        std::future<void> reachedFuture = reached.get_future();
        bool released = false;
    };
    std::function<void()> block() {
        return [state = state_] {
            state->reached.set_value();
            state->releasedFuture.wait();
        };
    }
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

// Another connection holding the store's write lock, as a full disc or an I/O error would
// keep rows from the disc: the store's writes fail once its busy time-out has passed.
class StoreLock {
  public:
    explicit StoreLock(const std::string& storePath)
        : db_(storePath, SQLite::OPEN_READWRITE, 10000) {
        db_.exec("BEGIN IMMEDIATE");
    }
    ~StoreLock() {
        try {
            end();
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
        }
    }
    void end() {
        if (held_) db_.exec("ROLLBACK");
        held_ = false;
    }

  private:
    SQLite::Database db_;
    bool held_ = true;
};

// Waits, within a generous bound, until `done` holds.
bool eventually(const std::function<bool()>& done) {
    const auto until = std::chrono::steady_clock::now() + kEventBound;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

class MVWebCacheDiskTest : public StorageTest {
  protected:
    // Writes that fail behind a held lock fail sooner.
    void SetUp() override {
        StorageTest::SetUp();
        MVSQLiteStore::setBusyTimeoutForTesting(200);
    }
    void TearDown() override {
        StorageTest::TearDown();
        MVSQLiteStore::setBusyTimeoutForTesting(0);
    }
    MVWebCache& cache() { return MVWebCache::sharedCache(); }
    void settle() {
        MVWebCache::waitForFileOperations();
        platform::runUntilIdle();
    }
    void set(const std::string& value, const std::string& key = "k") {
        cache().setData(dataOf(value), key, kInfo);
    }
    std::string file(int64_t serial = 100000) {
        return platform::FileManager::defaultManager()
            .readFile(MVWebCache::pathForWebCache() + "/" + std::to_string(serial))
            .value_or("none");
    }
    // The first entry's file in the shadow cache folder or the web cache folder.
    std::string fileIn(bool shadowFolder) {
        if (!shadowFolder) return file();
        return platform::FileManager::defaultManager()
            .readFile(MVWebCache::pathForShadowCache() + "/webcache/100000")
            .value_or("none");
    }
    bool rowShadowed() {
        bool shadowed = false;
        storage().lockedAccess(
            [&] { shadowed = MVWebCacheResourceObject::dbObjectWithID("k")->isShadowed(); });
        return shadowed;
    }
    // A lookup's final answer, "none" when it finds nothing.
    std::string lookup(const std::string& key = "k") {
        std::string answer = "none";
        cache().dataForKey(
            key,
            [&](bool, bool, const Data& data, const nlohmann::json&) {
                answer = data ? std::string(data->begin(), data->end()) : "none";
            },
            nullptr, [&](const platform::Error&, const Data&) { answer = "none"; });
        settle();
        return answer;
    }

    // What a kill leaves at this moment: the store's files and the entry folders.
    std::string killedAt(const std::string& name) {
        const std::string to = home_->file("killed/" + name);
        fs::create_directories(to);
        for (const auto& [from, as] : discFiles()) {
            if (fs::exists(from)) fs::copy(from, to + "/" + as, fs::copy_options::recursive);
        }
        return to;
    }
    // A new start on what the kill left.
    void startAfter(const std::string& killed) {
        settle();
        closeStorage();
        for (const auto& [path, as] : discFiles()) {
            fs::remove_all(path);
            if (fs::exists(killed + "/" + as)) {
                fs::copy(killed + "/" + as, path, fs::copy_options::recursive);
            }
        }
        fs::remove(storePath() + "-shm");
    }
    std::vector<std::pair<std::string, std::string>> discFiles() {
        return {{storePath(), "store"},
                {storePath() + "-wal", "store-wal"},
                {MVWebCache::pathForWebCache(), "webcache"},
                {MVWebCache::pathForShadowCache(), "shadowcache"}};
    }
    // The disc read's answer, "none" when it finds nothing.
    static std::future<std::string> diskReadLater(const std::string& key, bool shadowing) {
        auto answered = std::make_shared<std::promise<std::string>>();
        auto answer = answered->get_future();
        MVWebCacheDisk::shared().read(
            key, shadowing, [answered](const Data& data, const std::optional<nlohmann::json>&) {
                answered->set_value(data ? std::string(data->begin(), data->end()) : "none");
            });
        return answer;
    }
    static std::string answerOf(std::future<std::string>& answer) {
        if (answer.wait_for(kEventBound) != std::future_status::ready) return "no answer";
        return answer.get();
    }
    static std::string diskRead(const std::string& key = "k", bool shadowing = false) {
        auto answer = diskReadLater(key, shadowing);
        return answerOf(answer);
    }
    // The length of the set the key's row holds.
    int rowLength() {
        int length = -1;
        storage().lockedAccess([&] {
            length = MVWebCacheResourceObject::dbObjectWithID("k")->infoDictionary()->value(
                "stored-length", -1);
        });
        return length;
    }
    // Writes "old" to disc, its row shadowed when asked.
    void writeOld(bool shadowed = false) {
        set("old");
        settle();
        if (shadowed) {
            EXPECT_EQ(diskRead("k", true), "old");
        }
        ASSERT_TRUE(storage().waitUntilWrittenToDisc());
    }
    // Sets "newer" while the store cannot write its row: the file write is held back.
    void setNewerWhileLocked() {
        set("newer");
        MVWebCache::waitForFileOperations();
        EXPECT_EQ(fileIn(rowShadowed()), "old");
        EXPECT_TRUE(logged("waits: its entry could not be written to disc"));
    }
    // Sets "newer" over a written "old" while the store cannot write; `whileHeld` runs
    // once the file write has been held back.
    void setWhileTheStoreCannotWrite(const std::function<void()>& whileHeld = [] {}) {
        writeOld();
        StoreLock lock(storePath());
        setNewerWhileLocked();
        whileHeld();
    }
    // After the write held back: "newer" in the folder the row names, none in the other,
    // and so after a kill.
    void expectNewerWhereTheRowNamesIt(bool shadowed) {
        MVWebCache::waitForFileOperations();
        EXPECT_EQ(rowShadowed(), shadowed);
        EXPECT_EQ(fileIn(shadowed), "newer");
        EXPECT_EQ(fileIn(!shadowed), "none");
        EXPECT_EQ(diskRead(), "newer");
        EXPECT_EQ(rowLength(), 5);
        startAfter(killedAt("landed"));
        EXPECT_EQ(lookup(), "newer");
    }
    // After the row of "newer" reached the disc: its file too, and so after a kill.
    void expectTheWaitingFileLanded() {
        MVWebCache::waitForFileOperations();
        EXPECT_EQ(file(), "newer");
        EXPECT_EQ(rowLength(), 5);
        startAfter(killedAt("row on disc"));
        EXPECT_EQ(lookup(), "newer");
    }
    static MVWebCacheDisk::FileKnowledge knowledge() {
        return MVWebCacheDisk::shared().knowledgeOf(100000);
    }
    // The lengths of the sets the key's row accepts besides its own.
    std::vector<int> acceptedEarlier() {
        std::vector<int> out;
        storage().lockedAccess([&] {
            auto info = *MVWebCacheResourceObject::dbObjectWithID("k")->infoDictionary();
            for (const auto& r : info.value("stored-earlier", nlohmann::json::array())) {
                out.push_back(static_cast<int>(r.at("stored-length")));
            }
        });
        return out;
    }
};

TEST_F(MVWebCacheDiskTest, ABurstAfterAStartLosesTheConfirmedSetAtNoKill) {
    set("confirmed");
    settle();
    ASSERT_TRUE(storage().waitUntilWrittenToDisc());
    closeStorage();  // the process ends
    std::vector<std::string> kills;
    {
        QueueHold disc(storage().discWritingContext());
        ASSERT_TRUE(disc.reached());
        set("burst 1");  // its write waits for the disc
        ASSERT_TRUE(eventually([] { return knowledge().writing.has_value(); }));
        kills.push_back(killedAt("first set waiting"));
        QueueHold files(MVWebCacheResourceObject::fileQueue());
        for (int i = 2; i <= 20; ++i) set("burst " + std::to_string(i));
        kills.push_back(killedAt("burst set, nothing on disc"));
        disc.release();
        ASSERT_TRUE(files.reached());
        EXPECT_EQ(file(), "burst 1");
        kills.push_back(killedAt("first set landed"));
    }
    settle();
    EXPECT_EQ(file(), "burst 20");
    kills.push_back(killedAt("last set landed"));
    const std::vector<std::string> expected = {"confirmed", "confirmed", "burst 1", "burst 20"};
    for (size_t i = 0; i < kills.size(); ++i) {
        startAfter(kills[i]);
        EXPECT_EQ(lookup(), expected[i]) << kills[i];
    }
}

TEST_F(MVWebCacheDiskTest, AFileWaitsForARowTheStoreCouldNotWrite) {
    std::string killed;
    setWhileTheStoreCannotWrite([&] { killed = killedAt("row not on disc"); });
    // The next write finds the store written: the waiting file follows.
    set("other", "another key");
    settle();
    EXPECT_EQ(file(), "newer");
    startAfter(killed);
    EXPECT_EQ(lookup(), "old");
}

// Nothing else is set once the store can write again: the write that puts the row on
// disc, whoever makes it, lands the file.
TEST_F(MVWebCacheDiskTest, AWaitingFileLandsWhenTheCallerWaitsForTheDisc) {
    setWhileTheStoreCannotWrite();
    ASSERT_TRUE(storage().waitUntilWrittenToDisc());
    expectTheWaitingFileLanded();
}

TEST_F(MVWebCacheDiskTest, AWaitingFileLandsWhenTheStoresQueueWrites) {
    setWhileTheStoreCannotWrite();
    storage().discWritingContext().scheduleWrite();
    storage().discWritingContext().performBlockAndWait([] {});  // behind that write
    expectTheWaitingFileLanded();
}

TEST_F(MVWebCacheDiskTest, AReadWhileAFileWaitsAnswersTheSetBeingWrittenAndKeepsItsRow) {
    setWhileTheStoreCannotWrite([&] {
        EXPECT_EQ(diskRead(), "newer");
        EXPECT_EQ(rowLength(), 5);  // not turned back to "old"
        EXPECT_EQ(file(), "old");
        // A new key's file waits too: none is there yet, and its row stays.
        set("first", "new key");
        MVWebCache::waitForFileOperations();
        EXPECT_EQ(diskRead("new key"), "first");
        EXPECT_EQ(file(100001), "none");
    });
    EXPECT_EQ(diskRead(), "newer");
    ASSERT_TRUE(storage().waitUntilWrittenToDisc());
    MVWebCache::waitForFileOperations();
    EXPECT_EQ(file(100001), "first");
    expectTheWaitingFileLanded();
}

TEST_F(MVWebCacheDiskTest, AForgottenEntryLeavesNoKnowledgeOfItsFile) {
    set("abc");
    settle();
    EXPECT_EQ(diskRead(), "abc");
    EXPECT_TRUE(knowledge().onDisc);
    writeFile(MVWebCache::pathForWebCache() + "/100000", "xyz");
    EXPECT_EQ(diskRead(), "none");  // not the bytes written: the row goes
    EXPECT_FALSE(knowledge().onDisc);
}

TEST_F(MVWebCacheDiskTest, AStartThatFindsManySetsLearnsWhichTheFileHolds) {
    set("landed");
    settle();
    // A row as repeated kills before any write landed leave it: many sets accepted.
    storage().lockedAccess([] {
        auto row = MVWebCacheResourceObject::dbObjectWithID("k");
        nlohmann::json info = *row->infoDictionary();
        auto& earlier = info["stored-earlier"] = nlohmann::json::array();
        for (int n = 10; n < 16; ++n) earlier.push_back(record(n));
        row->setInfoDictionary(&info);
    });
    settle();
    closeStorage();
    QueueHold disc(storage().discWritingContext());
    ASSERT_TRUE(disc.reached());
    set("next");
    EXPECT_EQ(acceptedEarlier(), (std::vector<int>{6, 10, 11, 12, 13, 14, 15}));
    // Its write reads the file before it waits for the disc.
    ASSERT_TRUE(eventually([] { return knowledge().onDisc && knowledge().onDisc->size() == 1; }));
    set("after next");
    EXPECT_EQ(acceptedEarlier(), (std::vector<int>{4, 6}));
    disc.release();
    settle();
    EXPECT_EQ(file(), "after next");
}

// What moves an entry between the two folders while its file write is held back, and when:
// while the store cannot write the row, or once it wrote it and before the file landed.
enum class Move { ShadowingRead, RefreshingShadowMode, StrictShadowMode };
enum class When { StoreFailing, RowOnDisc };
struct HeldMove {
    const char* name;
    bool shadowedBefore;
    Move move;
    When when;
    bool shadowedAfter;
};

class MVWebCacheDiskHeldMoveTest : public MVWebCacheDiskTest,
                                   public testing::WithParamInterface<HeldMove> {
  protected:
    void move(Move move, std::optional<std::future<std::string>>& read) {
        switch (move) {
            case Move::ShadowingRead:
                read = diskReadLater("k", true);
                break;
            case Move::RefreshingShadowMode:
            case Move::StrictShadowMode:
                cache().beginShadowModeWithRefreshingEnabled(move == Move::RefreshingShadowMode);
                break;
        }
    }
};

TEST_P(MVWebCacheDiskHeldMoveTest, AHeldFileLandsInTheFolderItsRowNamesWhenItLands) {
    const HeldMove& c = GetParam();
    writeOld(c.shadowedBefore);
    std::optional<std::future<std::string>> read;
    {
        StoreLock lock(storePath());
        setNewerWhileLocked();
        if (c.when == When::StoreFailing) move(c.move, read);
        std::optional<QueueHold> files;
        if (c.when == When::RowOnDisc) {
            files.emplace(MVWebCacheResourceObject::fileQueue());
            ASSERT_TRUE(files->reached());
        }
        lock.end();
        ASSERT_TRUE(storage().waitUntilWrittenToDisc());
        if (c.when == When::RowOnDisc) move(c.move, read);
    }
    // The shadowing read answers the set being written, whenever it comes.
    if (read) {
        EXPECT_EQ(answerOf(*read), "newer");
    }
    expectNewerWhereTheRowNamesIt(c.shadowedAfter);
}

const HeldMove kHeldMoves[] = {
    {"ShadowingReadWhileTheStoreFails", false, Move::ShadowingRead, When::StoreFailing, true},
    {"ShadowingReadOnceTheRowIsOnDisc", false, Move::ShadowingRead, When::RowOnDisc, true},
    {"RefreshingShadowModeOverAShadowedRowWhileTheStoreFails", true, Move::RefreshingShadowMode,
     When::StoreFailing, false},
    {"RefreshingShadowModeOverAShadowedRowOnceTheRowIsOnDisc", true, Move::RefreshingShadowMode,
     When::RowOnDisc, false},
    // Nothing moves.
    {"RefreshingShadowModeOverARowInPlace", false, Move::RefreshingShadowMode, When::StoreFailing,
     false},
    {"StrictShadowModeOverAShadowedRow", true, Move::StrictShadowMode, When::StoreFailing, true},
};
INSTANTIATE_TEST_SUITE_P(Moves, MVWebCacheDiskHeldMoveTest, testing::ValuesIn(kHeldMoves),
                         [](const auto& info) { return std::string(info.param.name); });

// The store writes the row of the held file, then fails again before the file lands: the
// file lands all the same, where the row names it; a newer set or a clear still wins.
enum class Recovery { CallerWaits, StoresQueueWrites };
enum class FailingChange { AnotherKeysSet, ShadowingReadOfTheKey, NewerSetOfTheKey, Clear };
struct FailAgain {
    const char* name;
    Recovery recovery;
    FailingChange change;
    const char* whileFailing;  // the file in the row's folder while the store fails
    const char* afterKill;     // the answer after a kill then
    const char* onceWritten;   // the file once the store writes again
};

class MVWebCacheDiskFailAgainTest : public MVWebCacheDiskTest,
                                    public testing::WithParamInterface<FailAgain> {
  protected:
    void change(FailingChange change, std::optional<std::future<std::string>>& read) {
        switch (change) {
            case FailingChange::AnotherKeysSet:
                return set("other", "another key");
            case FailingChange::ShadowingReadOfTheKey:
                read = diskReadLater("k", true);
                return;
            case FailingChange::NewerSetOfTheKey:
                return set("newest");
            case FailingChange::Clear:
                return cache().clearCacheForKey("k");
        }
    }
};

TEST_P(MVWebCacheDiskFailAgainTest, AFileWhoseRowReachedTheDiscLandsThoughTheStoreFailsAgain) {
    const FailAgain& c = GetParam();
    writeOld();
    StoreLock lock(storePath());
    setNewerWhileLocked();
    std::optional<StoreLock> again;
    std::optional<std::future<std::string>> read;
    {
        QueueHold files(MVWebCacheResourceObject::fileQueue());
        ASSERT_TRUE(files.reached());
        lock.end();
        if (c.recovery == Recovery::CallerWaits) {
            ASSERT_TRUE(storage().waitUntilWrittenToDisc());
        } else {
            storage().discWritingContext().scheduleWrite();
            storage().discWritingContext().performBlockAndWait([] {});  // behind that write
        }
        again.emplace(storePath());
        change(c.change, read);
    }
    MVWebCache::waitForFileOperations();
    const bool shadowed = c.change == FailingChange::ShadowingReadOfTheKey;
    EXPECT_EQ(fileIn(shadowed), c.whileFailing);
    EXPECT_EQ(fileIn(!shadowed), "none");
    if (read) {
        EXPECT_EQ(answerOf(*read), "newer");
    }
    const std::string killed = killedAt("the store failing again");
    again->end();
    ASSERT_TRUE(storage().waitUntilWrittenToDisc());
    MVWebCache::waitForFileOperations();
    EXPECT_EQ(fileIn(shadowed), c.onceWritten);
    startAfter(killed);
    EXPECT_EQ(lookup(), c.afterKill);
}

const FailAgain kFailAgain[] = {
    {"CallerWaitsThenAnotherKeysSet", Recovery::CallerWaits, FailingChange::AnotherKeysSet, "newer",
     "newer", "newer"},
    {"QueueWritesThenAnotherKeysSet", Recovery::StoresQueueWrites, FailingChange::AnotherKeysSet,
     "newer", "newer", "newer"},
    // The row's move to the shadow folder is not on disc: a start puts the file back.
    {"CallerWaitsThenAShadowingRead", Recovery::CallerWaits, FailingChange::ShadowingReadOfTheKey,
     "newer", "newer", "newer"},
    {"QueueWritesThenAShadowingRead", Recovery::StoresQueueWrites,
     FailingChange::ShadowingReadOfTheKey, "newer", "newer", "newer"},
    // The newest set's bytes wait for its row; the file keeps a set both rows accept.
    {"CallerWaitsThenANewerSet", Recovery::CallerWaits, FailingChange::NewerSetOfTheKey, "old",
     "old", "newest"},
    {"QueueWritesThenAClear", Recovery::StoresQueueWrites, FailingChange::Clear, "none", "none",
     "none"},
};
INSTANTIATE_TEST_SUITE_P(Failures, MVWebCacheDiskFailAgainTest, testing::ValuesIn(kFailAgain),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace webcache_disk_test
