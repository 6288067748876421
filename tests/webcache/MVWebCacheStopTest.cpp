// The process's stop with the web cache's file operations and the store's writes still
// queued: what the rows now name lands, anything else is skipped, nothing queued later runs,
// and the store writes what was saved before the stop and nothing after.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>

#include "libmerovane/storage/MVPersistentStorage.h"
#include "libmerovane/storage/MVPredicate.h"
#include "libmerovane/storage/MVWebCacheResourceObject.h"
#include "libmerovane/storage/MVWebStorageVariable.h"
#include "libmerovane/webcache/MVWebCache.h"
#include "libmerovane/webcache/MVWebCacheDisk.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/FileManager.h"
#include "tests/support/StorageFixture.h"

namespace {

using Data = MVWebCacheInterface::Data;

Data dataOf(const std::string& s) {
    return std::make_shared<const std::vector<uint8_t>>(s.begin(), s.end());
}

// What is queued when the stop comes.
struct Queued {
    const char* name;
    std::function<void(MVWebCache&)> before;  // before the stop, the file queue held
    std::string webCacheFile;                 // the key's file once stopped, "none" when none
    std::string shadowFile;
};

void PrintTo(const Queued& queued, std::ostream* out) {
    *out << queued.name;
}

class MVWebCacheStopTest : public StorageTest, public ::testing::WithParamInterface<Queued> {
  protected:
    MVWebCache& cache() { return MVWebCache::sharedCache(); }
    static std::string file(const std::string& folder) {
        return platform::FileManager::defaultManager()
            .readFile(folder + "/100000")
            .value_or("none");
    }
    // Holds the file queue until the promise is kept.
    static void holdFileQueue(std::shared_future<void> released) {
        MVWebCacheResourceObject::fileQueue().async([released] { released.wait(); });
    }
};

TEST_P(MVWebCacheStopTest, WhatTheRowsNameLandsAndNothingElseRuns) {
    const Queued& c = GetParam();
    cache().setData(dataOf("old"), "k", {{"maximum-lifetime", 600}});
    MVWebCache::waitForFileOperations();
    ASSERT_TRUE(storage().waitUntilWrittenToDisc());

    std::promise<void> release;
    holdFileQueue(release.get_future().share());
    auto answered = std::make_shared<std::promise<void>>();
    MVWebCacheDisk::shared().read("k", false,
                                  [answered](const Data&, const auto&) { answered->set_value(); });
    c.before(cache());
    // The stop begins while the queue is held: it waits for its bound, then says so.
    EXPECT_FALSE(MVWebCacheResourceObject::endFileOperations(0.05));
    EXPECT_TRUE(logged("MVWebCache file operations still run 0.05 s after the stop began"));
    // Queued once the stop has begun: never runs.
    cache().setData(dataOf("after the stop"), "later", {{"maximum-lifetime", 600}});
    release.set_value();
    EXPECT_TRUE(MVWebCacheResourceObject::endFileOperations(10));
    EXPECT_TRUE(MVPersistentStorage::endWriting());

    EXPECT_EQ(file(MVWebCache::pathForWebCache()), c.webCacheFile);
    EXPECT_EQ(file(MVWebCache::pathForShadowCache() + "/webcache"), c.shadowFile);
    EXPECT_EQ(platform::FileManager::defaultManager()
                  .contentsOfDirectory(MVWebCache::pathForWebCache())
                  .value_or(std::vector<std::string>())
                  .size(),
              c.webCacheFile == "none" ? 0u : 1u);
    // The read was skipped.
    EXPECT_EQ(answered->get_future().wait_for(std::chrono::seconds(0)),
              std::future_status::timeout);
}

INSTANTIATE_TEST_SUITE_P(
    QueuedAtTheStop, MVWebCacheStopTest,
    ::testing::Values(Queued{"Nothing", [](MVWebCache&) {}, "old", "none"},
                      Queued{"ASet",
                             [](MVWebCache& cache) {
                                 cache.setData(dataOf("new"), "k", {{"maximum-lifetime", 600}});
                             },
                             "new", "none"},
                      Queued{"TwoSets",
                             [](MVWebCache& cache) {
                                 cache.setData(dataOf("new"), "k", {{"maximum-lifetime", 600}});
                                 cache.setData(dataOf("newer"), "k", {{"maximum-lifetime", 600}});
                             },
                             "newer", "none"},
                      Queued{"ASetThenAClear",
                             [](MVWebCache& cache) {
                                 cache.setData(dataOf("new"), "k", {{"maximum-lifetime", 600}});
                                 cache.clearCache();
                             },
                             "none", "none"},
                      Queued{"ASetThenItsKeysClear",
                             [](MVWebCache& cache) {
                                 cache.setData(dataOf("new"), "k", {{"maximum-lifetime", 600}});
                                 cache.clearCacheForKey("k");
                             },
                             "none", "none"},
                      // The move is skipped: the file stays where a later read finds and moves it.
                      Queued{"AShadowingRead",
                             [](MVWebCache&) {
                                 MVWebCacheDisk::shared().read("k", true, [](auto&&...) {});
                             },
                             "old", "none"},
                      // The set lands where its row names it, and the other folder's copy goes.
                      Queued{"AShadowingReadThenASet",
                             [](MVWebCache& cache) {
                                 MVWebCacheDisk::shared().read("k", true, [](auto&&...) {});
                                 cache.setData(dataOf("new"), "k", {{"maximum-lifetime", 600}});
                             },
                             "none", "new"}),
    [](const auto& info) { return std::string(info.param.name); });

// The store writes what was saved before the stop, tells no one of it, and writes nothing
// saved later.
TEST_F(StorageTest, TheStopWritesWhatWasSavedBeforeItAndNothingAfter) {
    // Kept for the process: it outlives the test.
    auto told = std::make_shared<std::atomic<int>>(0);
    MVPersistentStorage::addDiscWriteObserver([told] { ++*told; });
    const auto save = [&](const std::string& id) {
        storage().lockedAccess([&] { MVWebStorageVariable::dbObjectCreate()->setId(id); });
    };
    save("written before");
    ASSERT_TRUE(storage().waitUntilWrittenToDisc());
    EXPECT_GT(*told, 0);
    save("saved before");
    EXPECT_TRUE(MVPersistentStorage::endWriting());
    const int toldAtTheStop = *told;
    save("saved after");
    EXPECT_FALSE(storage().waitUntilWrittenToDisc());
    EXPECT_EQ(*told, toldAtTheStop);

    reopen();
    std::vector<std::string> stored;
    storage().lockedAccess([&] {
        for (const auto& row : MVWebStorageVariable::dbObjectsWithPredicate(MVPredicate()))
            stored.push_back(row->id().value_or(""));
    });
    std::sort(stored.begin(), stored.end());
    EXPECT_EQ(stored, (std::vector<std::string>{"saved before", "written before"}));
}

}  // namespace
