#include <SQLiteCpp/SQLiteCpp.h>

#include <atomic>
#include <future>
#include <nlohmann/json.hpp>
#include <thread>

#include "libmerovane/storage/MVDiscWritingContext.h"
#include "libmerovane/storage/MVObjectContext.h"
#include "libmerovane/storage/MVPersistentStorage.h"
#include "libmerovane/storage/MVSQLiteStore.h"
#include "libmerovane/storage/MVWebStorageVariable.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"
#include "tests/storage/StorageTestData.h"
#include "tests/support/StorageFixture.h"

namespace {

using Var = MVWebStorageVariable;

std::vector<std::string> ids(const Var::Ptrs& objects) {
    std::vector<std::string> out;
    for (auto& o : objects) out.push_back(o->id().value_or("<none>"));
    return out;
}

Var::Ptr make(const std::string& id, double timeout = 0) {
    auto v = Var::dbObjectCreate();
    v->setId(id);
    v->setTimeoutInterval(timeout);
    return v;
}

// Runs fn on a thread of its own and waits for it.
template <class Fn>
auto onOtherThread(Fn fn) {
    std::packaged_task<decltype(fn())()> task(std::move(fn));
    auto result = task.get_future();
    std::thread(std::move(task)).join();
    return result.get();
}

class LockedAccessTest : public StorageTest {};

TEST_F(LockedAccessTest, AccessOutsideLockedAccessRaisesTheNamedException) {
    Var::Ptr kept;
    storage().lockedAccess([&] { kept = make("a"); });
    try {
        (void)kept->id();
        FAIL() << "no exception";
    } catch (const platform::Exception& e) {
        EXPECT_EQ(e.name(), "Using MVPersistentStorage without locking");
        EXPECT_EQ(e.reason(),
                  "MVPersistentObjects may not be modified or created without locking "
                  "MVPersistentStorage by using "
                  "[MVPersistentStorage lockedAccess:]");
    }
    EXPECT_THROW(Var::dbObjectCreate(), platform::Exception);
    EXPECT_THROW(Var::dbObjectWithID("a"), platform::Exception);
    EXPECT_THROW(kept->deleteFromStorage(), platform::Exception);
    EXPECT_THROW(storage().ensureLockedAccess(), platform::Exception);
    EXPECT_EQ(storage().managedObjectContext(), nullptr);
}

TEST_F(LockedAccessTest, NestedAccessUsesOneContextAndSavesAtTheOutermostEnd) {
    MVObjectContext* outer = nullptr;
    storage().lockedAccess([&] {
        outer = storage().managedObjectContext();
        ASSERT_NE(outer, nullptr);
        storage().lockedAccess([&] {
            EXPECT_EQ(storage().managedObjectContext(), outer);
            make("inner");
        });
        // Not saved yet: another thread does not see it.
        EXPECT_TRUE(onOtherThread([&] {
            bool none = false;
            storage().lockedAccess([&] { none = Var::dbObjectWithID("inner") == nullptr; });
            return none;
        }));
        EXPECT_NE(Var::dbObjectWithID("inner"), nullptr);
    });
    EXPECT_EQ(storage().managedObjectContext(), nullptr);
    EXPECT_TRUE(onOtherThread([&] {
        bool found = false;
        storage().lockedAccess([&] { found = Var::dbObjectWithID("inner") != nullptr; });
        return found;
    }));
}

TEST_F(LockedAccessTest, AWriteOnOneThreadIsSeenOnAnotherAfterTheOutermostEnd) {
    platform::Thread worker("worker");
    std::promise<void> written;
    worker.runLoop().post([&] {
        storage().lockedAccess([&] {
            auto v = make("from-worker");
            nlohmann::json value = {{"n", 1}};
            v->setDataValue(&value);
        });
        written.set_value();
    });
    written.get_future().wait();
    // Before, during or after the disc write: the row is there.
    storage().lockedAccess([&] {
        auto v = Var::dbObjectWithID("from-worker");
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(*v->dataValue(), (nlohmann::json{{"n", 1}}));
    });
    EXPECT_TRUE(storage().waitUntilWrittenToDisc());
    EXPECT_EQ(rawCount(storePath(), "MVWebStorageVariable"), 1);
}

TEST_F(LockedAccessTest, TwoThreadsInsideAtOnceEachKeepTheirRows) {
    constexpr int kThreads = 4, kRows = 50;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRows; ++i)
                storage().lockedAccess(
                    [&] { make("t" + std::to_string(t) + "-" + std::to_string(i)); });
        });
    for (auto& t : threads) t.join();
    storage().lockedAccess([&] {
        EXPECT_EQ(Var::dbObjectsWithoutFetchingProperties().size(), size_t{kThreads * kRows});
    });
    EXPECT_TRUE(storage().waitUntilWrittenToDisc());
    EXPECT_EQ(rawCount(storePath(), "MVWebStorageVariable"), kThreads * kRows);
}

TEST_F(LockedAccessTest, ABlockThatThrowsDropsItsChangesAndLeavesTheThreadUnlocked) {
    EXPECT_THROW(storage().lockedAccess([&] {
        make("lost");
        storage().lockedAccess([] { throw std::runtime_error("inner"); });
    }),
                 std::runtime_error);
    EXPECT_EQ(storage().managedObjectContext(), nullptr);
    storage().lockedAccess([&] { EXPECT_EQ(Var::dbObjectWithID("lost"), nullptr); });
}

TEST_F(LockedAccessTest, UnlockWithoutLockIsAnAssertion) {
    EXPECT_THROW(storage().unlock(), platform::Exception);
}

TEST_F(LockedAccessTest, ChangingAnObjectAfterItsLockedAccessEndedIsRefused) {
    Var::Ptr kept;
    storage().lockedAccess([&] { kept = make("a"); });
    // Its context is gone: the change could never be saved.
    storage().lockedAccess([&] { EXPECT_THROW(kept->setId("b"), platform::Exception); });
    storage().lockedAccess([&] { EXPECT_NE(Var::dbObjectWithID("a"), nullptr); });
}

TEST_F(LockedAccessTest, RowsSurviveARestartInInsertionOrder) {
    storage().lockedAccess([&] {
        for (auto id : {"c", "a", "b"}) make(id);
    });
    reopen().lockedAccess([&] {
        EXPECT_EQ(ids(Var::dbObjectsWithoutFetchingProperties()),
                  (std::vector<std::string>{"c", "a", "b"}));
        make("d");
    });
    reopen().lockedAccess([&] {
        EXPECT_EQ(ids(Var::dbObjectsWithoutFetchingProperties()),
                  (std::vector<std::string>{"c", "a", "b", "d"}));
    });
    EXPECT_TRUE(exists(storePath() + "-wal"));
    EXPECT_TRUE(exists(storePath() + "-shm"));
}

TEST_F(LockedAccessTest, ChangesSavedButNotYetOnDiscAreSeenByEveryFetch) {
    storage().lockedAccess([&] {
        for (auto id : {"a", "b", "c"}) make(id);
    });
    ASSERT_TRUE(storage().waitUntilWrittenToDisc());
    // Hold the disc writer so the next changes stay in the parent.
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    storage().discWritingContext().performBlock([released] { released.wait(); });
    storage().lockedAccess([&] {
        Var::dbObjectWithID("b")->deleteFromStorage();
        Var::dbObjectWithID("a")->setId("z");
        make("d");
    });
    EXPECT_EQ(rawCount(storePath(), "MVWebStorageVariable"), 3);
    auto seen = onOtherThread([&] {
        std::vector<std::string> out;
        storage().lockedAccess([&] { out = ids(Var::dbObjectsWithoutFetchingProperties()); });
        return out;
    });
    EXPECT_EQ(seen, (std::vector<std::string>{"z", "c", "d"}));
    release.set_value();
    EXPECT_TRUE(storage().waitUntilWrittenToDisc());
    storage().lockedAccess([&] {
        EXPECT_EQ(ids(Var::dbObjectsWithoutFetchingProperties()),
                  (std::vector<std::string>{"z", "c", "d"}));
    });
}

TEST_F(LockedAccessTest, AMarkIsOnDiscOnceAWriteCarriedItWhateverFailsLater) {
    MVSQLiteStore::setBusyTimeoutForTesting(100);
    EXPECT_TRUE(storage().waitUntilWrittenToDisc());  // the store stands
    // Another connection keeps the store from writing.
    auto other = std::make_unique<SQLite::Database>(storePath(), SQLite::OPEN_READWRITE, 10000);
    other->exec("BEGIN IMMEDIATE");
    storage().lockedAccess([&] { make("a"); });
    const uint64_t first = storage().savedChangesMark();
    EXPECT_FALSE(storage().waitUntilWrittenToDisc());
    EXPECT_FALSE(storage().isOnDisc(first));
    other->exec("ROLLBACK");
    EXPECT_TRUE(storage().waitUntilWrittenToDisc());
    EXPECT_TRUE(storage().isOnDisc(first));
    // Later changes that cannot be written take nothing back.
    other->exec("BEGIN IMMEDIATE");
    storage().lockedAccess([&] { make("b"); });
    const uint64_t second = storage().savedChangesMark();
    EXPECT_GT(second, first);
    EXPECT_FALSE(storage().waitUntilWrittenToDisc());
    EXPECT_TRUE(storage().isOnDisc(first));
    EXPECT_FALSE(storage().isOnDisc(second));
    other->exec("ROLLBACK");
    EXPECT_TRUE(storage().waitUntilWrittenToDisc());
    EXPECT_TRUE(storage().isOnDisc(second));
    other.reset();
    MVSQLiteStore::setBusyTimeoutForTesting(0);
}

TEST_F(LockedAccessTest, ThreadsWaitingForTheDiscAtOnceWriteOneAtATime) {
    // Each waiter may write on its own thread; none may lose or fail another's rows.
    constexpr int kThreads = 4, kRows = 40;
    std::vector<std::thread> threads;
    std::atomic<int> failedWaits{0};
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRows; ++i) {
                storage().lockedAccess([&] { make(std::to_string(t) + "-" + std::to_string(i)); });
                if (!storage().waitUntilWrittenToDisc()) ++failedWaits;
            }
        });
    // A block on the queue may wait for the disc too.
    bool blockWrote = false;
    storage().discWritingContext().performBlockAndWait(
        [&] { blockWrote = storage().waitUntilWrittenToDisc(); });
    for (auto& t : threads) t.join();
    EXPECT_TRUE(blockWrote);
    EXPECT_EQ(failedWaits, 0);
    EXPECT_EQ(rawCount(storePath(), "MVWebStorageVariable"), kThreads * kRows);
}

TEST_F(LockedAccessTest, CheckpointsKeepTheJournalFromGrowingWithoutBound) {
    const nlohmann::json value = std::string(8000, 'v');
    // Each round writes some 4.8 MB in 600 saves: past the checkpoint mark.
    auto round = [&](int base) {
        for (int i = 0; i < 600; ++i)
            storage().lockedAccess(
                [&] { make("row" + std::to_string(base + i))->setDataValue(&value); });
        EXPECT_TRUE(storage().waitUntilWrittenToDisc());
        return std::filesystem::file_size(storePath() + "-wal");
    };
    const auto afterFirst = round(0);
    const auto afterSecond = round(600);
    storage().lockedAccess(
        [&] { EXPECT_EQ(Var::dbObjectsWithoutFetchingProperties().size(), 1200u); });
    // Checkpoints moved rows into the store file, and the journal is reused rather than
    // grown by a second round's worth (how far one round reaches depends on batching).
    EXPECT_GT(std::filesystem::file_size(storePath()), 256u << 10);
    EXPECT_LT(afterSecond, afterFirst + (3u << 20));
}

}  // namespace
