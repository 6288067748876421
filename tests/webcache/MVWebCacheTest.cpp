#include <deque>
#include <thread>

#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/storage/MVWebCacheResourceObject.h"
#include "libmerovane/webcache/MVWebCache.h"
#include "libmerovane/webcache/MVWebCacheDataSource.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "tests/support/StorageFixture.h"

namespace {

using Data = MVWebCacheInterface::Data;

Data bytes(const std::string& s) {
    return std::make_shared<const std::vector<uint8_t>>(s.begin(), s.end());
}
std::string text(const Data& d) {
    return d ? std::string(d->begin(), d->end()) : "nil";
}

// Claims every key; loads wait until the test answers them. Successful results are
// stored in the cache, as real sources do.
class TestSource : public MVWebCacheDataSource {
  public:
    int priorityForKey(const std::string&) const override { return 1; }
    void loadDataForKey(const std::string& key, int64_t, WhenAvailable ok,
                        WhenFailed failed) override {
        loads.push_back(key);
        pending.push_back({key, std::move(ok), std::move(failed)});
    }
    void answer(const std::string& body, nlohmann::json info = {{"maximum-lifetime", 60}}) {
        auto p = std::move(pending.front());
        pending.pop_front();
        MVWebCache::sharedCache().setData(bytes(body), p.key, info);
        p.ok(bytes(body), info);
    }
    void fail() {
        auto p = std::move(pending.front());
        pending.pop_front();
        p.failed(platform::Error("test", 500));
    }
    struct Pending {
        std::string key;
        WhenAvailable ok;
        WhenFailed failed;
    };
    std::vector<std::string> loads;
    std::deque<Pending> pending;
};

class MVWebCacheTest : public StorageTest {
  protected:
    void SetUp() override {
        StorageTest::SetUp();
        install();
    }
    void install() {
        source_ = std::make_shared<TestSource>();
        MVWebCacheDataSource::registerDataSource(source_);
    }
    // Drops every shared instance and opens the same store again, as a new start does.
    void restart() {
        settle();
        closeStorage();
        platform::FileManager::defaultManager().setRootDirectoryForTesting(home_->path());
        install();
    }
    MVWebCache& cache() { return MVWebCache::sharedCache(); }

    // Looks the key up and records every answer as text.
    std::shared_ptr<std::vector<std::string>> lookup(const std::string& key) {
        auto out = std::make_shared<std::vector<std::string>>();
        cache().dataForKey(
            key,
            [out](bool mem, bool pending, const Data& d, const nlohmann::json&) {
                out->push_back(fmt::format("available({},{},{})", mem, pending, text(d)));
            },
            [out](const Data& d) { out->push_back("starts(" + text(d) + ")"); },
            [out](const platform::Error& e, const Data&) {
                out->push_back(fmt::format("failed({},{})", e.domain(), e.code()));
            });
        return out;
    }
    void settle() {
        MVWebCache::waitForFileOperations();
        platform::runUntilIdle();
    }
    std::string webFile(int64_t serial) {
        return MVWebCache::pathForWebCache() + "/" + std::to_string(serial);
    }
    std::optional<std::string> readFile(const std::string& path) {
        return platform::FileManager::defaultManager().readFile(path);
    }

    std::shared_ptr<TestSource> source_;
};

using Answers = std::vector<std::string>;

TEST_F(MVWebCacheTest, StaleEntryAnswersFromRamThenDiskThenSource) {
    cache().setData(bytes("old"), "k", {{"maximum-lifetime", 10}});
    settle();
    platform::advanceBy(20);
    auto a = lookup("k");
    EXPECT_EQ(*a, (Answers{"starts(old)", "available(true,true,old)"}));
    auto b = lookup("k");  // joins the running load
    settle();
    EXPECT_EQ(*a,
              (Answers{"starts(old)", "available(true,true,old)", "available(false,true,old)"}));
    ASSERT_EQ(source_->loads, (Answers{"k"}));
    source_->answer("new");
    EXPECT_EQ(a->back(), "available(false,false,new)");
    EXPECT_EQ(b->back(), "available(false,false,new)");
    EXPECT_EQ(*lookup("k"), (Answers{"available(true,false,new)"}));
    EXPECT_EQ(source_->loads.size(), 1u);
}

TEST_F(MVWebCacheTest, FailedLoadAnswersWaitersAndLoadsAgainNextTime) {
    auto a = lookup("k");
    settle();
    source_->fail();
    EXPECT_EQ(*a, (Answers{"starts(nil)", "failed(test,500)"}));
    lookup("k");
    settle();
    EXPECT_EQ(source_->loads.size(), 2u);
}

TEST_F(MVWebCacheTest, CachingOffReusesResultOneSecondFromTheLoad) {
    cache().setIsCachingEnabled(false);
    EXPECT_TRUE(logged("MVWebCache caching disabled"));
    lookup("k");
    settle();
    source_->answer("v1");
    for (double step : {0.4, 0.4}) {
        platform::advanceBy(step);
        EXPECT_EQ(*lookup("k"), (Answers{"available(true,false,v1)"}));
    }
    platform::advanceBy(0.2);  // 1.0 s after the result, though looked up 0.2 s ago
    lookup("k");
    settle();
    EXPECT_EQ(source_->loads.size(), 2u);
    EXPECT_FALSE(exists(webFile(100000)));  // nothing stored while caching is off
}

TEST_F(MVWebCacheTest, SerialsNameFilesAndContinueAfterRestart) {
    cache().setData(bytes("a"), "a", {{"maximum-lifetime", 60}});
    cache().setData(bytes("b"), "https://x/../../etc/passwd", {});
    cache().setData(bytes("c"), std::string(100 * 1024, 'k'), {});
    settle();
    EXPECT_EQ(readFile(webFile(100000)), "a");
    EXPECT_EQ(readFile(webFile(100001)), "b");
    EXPECT_EQ(readFile(webFile(100002)), "c");
    restart();
    cache().setData(bytes("d"), "d", {});
    cache().setData(bytes("a2"), "a", {});  // same key keeps its serial
    settle();
    EXPECT_EQ(readFile(webFile(100003)), "d");
    EXPECT_EQ(readFile(webFile(100000)), "a2");
}

TEST_F(MVWebCacheTest, DiskMissesDeleteTheRowOrLoadFromTheSource) {
    cache().setData(bytes("a"), "gone", {{"maximum-lifetime", 60}});
    cache().setData(bytes("b"), "dir", {{"maximum-lifetime", 60}});
    settle();
    restart();
    std::filesystem::remove(webFile(100000));
    std::filesystem::remove(webFile(100001));
    std::filesystem::create_directory(webFile(100001));
    lookup("gone");
    settle();
    lookup("dir");
    settle();
    EXPECT_EQ(source_->loads, (Answers{"gone", "dir"}));
    storage().lockedAccess([] {
        EXPECT_FALSE(MVWebCacheResourceObject::dbObjectWithID("gone"));
        EXPECT_FALSE(MVWebCacheResourceObject::dbObjectWithID("dir"));
    });
}

TEST_F(MVWebCacheTest, LifetimeFromOutsideIsClamped) {
    struct Row {
        nlohmann::json lifetime;
        bool freshAfterAMinute;
    } rows[] = {{-5, false}, {"abc", false}, {1e308, true}, {"120", true}, {nullptr, false}};
    int i = 0;
    for (const auto& row : rows) {
        const std::string key = "k" + std::to_string(i++);
        cache().setData(bytes("x"), key, {{"maximum-lifetime", row.lifetime}});
    }
    settle();
    platform::advanceBy(60);
    i = 0;
    for (const auto& row : rows) {
        const std::string key = "k" + std::to_string(i++);
        EXPECT_EQ(lookup(key)->size() == 1, row.freshAfterAMinute) << key;
        EXPECT_EQ(cache().isCachedDataAvailableForKey(key), true) << key;  // RAM holds data
    }
    restart();
    storage().lockedAccess([] {
        auto row = MVWebCacheResourceObject::dbObjectWithID("k2");
        ASSERT_TRUE(row);
        EXPECT_TRUE(std::isfinite(row->maximumLifetime().value_or(NAN)));
        EXPECT_LT(*row->maximumLifetime(), 1e10);
    });
    EXPECT_TRUE(cache().isCachedDataAvailableForKey("k2"));
    EXPECT_FALSE(cache().isCachedDataAvailableForKey("k0"));
}

TEST_F(MVWebCacheTest, SetDataNotifiesUnlessAskedNot) {
    std::vector<std::string> keys;
    platform::NotificationCenter::defaultCenter().addObserver(
        MVWebCacheDidUpdateKeyNotification, nullptr, [&](const platform::Notification& n) {
            keys.push_back(std::any_cast<std::string>(n.object));
        });
    cache().setData(bytes("a"), "a", {});
    cache().setData(bytes("b"), "b", {{"no-notification-on-set", true}});
    EXPECT_EQ(keys, (Answers{"a"}));
    settle();
    restart();
    storage().lockedAccess([] {
        auto info = MVWebCacheResourceObject::dbObjectWithID("b")->infoDictionary();
        EXPECT_FALSE(info->contains("no-notification-on-set"));
        EXPECT_TRUE(info->contains("local-file-url"));
    });
}

TEST_F(MVWebCacheTest, ConcurrentSetsLeaveTheLastBytesInTheFile) {
    std::atomic<int> size{1};
    auto writer = [&] {
        for (int i = 0; i < 100; ++i) {
            cache().setData(bytes(std::string(size++, 'x')), "k", {{"maximum-lifetime", 60}});
        }
    };
    std::thread t1(writer), t2(writer);
    t1.join();
    t2.join();
    settle();
    auto answers = lookup("k");
    ASSERT_EQ(answers->size(), 1u);
    const auto file = readFile(webFile(100000));
    ASSERT_TRUE(file);
    EXPECT_EQ(fmt::format("available(true,false,{})", *file), answers->front());
}

TEST_F(MVWebCacheTest, ClearingKeysClearsTheirApiFormsAndFiles) {
    for (const char* key : {"https://x/a", "mv-api-page:https://x/a", "mv-api-data:https://x/a",
                            "mv-api-page:home", "home"}) {
        cache().setData(bytes(key), key, {{"maximum-lifetime", 60}});
    }
    settle();
    cache().clearCacheForKeys({"https://x/a", "mv-api-page:home"});
    settle();
    for (int serial : {100000, 100001, 100002, 100003}) EXPECT_FALSE(exists(webFile(serial)));
    EXPECT_TRUE(exists(webFile(100004)));
    lookup("https://x/a");  // cleared RAM entries load anew
    lookup("home");
    settle();
    EXPECT_EQ(source_->loads, (Answers{"https://x/a"}));
}

TEST_F(MVWebCacheTest, ClearCacheRemovesFilesSoReusedSerialsStartClean) {
    cache().setData(bytes("secret"), "a", {{"maximum-lifetime", 60}});
    settle();
    cache().clearCache();
    settle();
    EXPECT_FALSE(exists(webFile(100000)));
    restart();
    cache().setData(bytes("b"), "b", {{"maximum-lifetime", 60}});
    settle();
    EXPECT_EQ(readFile(webFile(100000)), "b");
    lookup("a");
    settle();
    EXPECT_EQ(source_->loads, (Answers{"a"}));
}

TEST_F(MVWebCacheTest, CleanupRemovesExpiredEntriesOnly) {
    cache().setData(bytes("old"), "old", {{"maximum-lifetime", 1}});
    cache().setData(bytes("new"), "new", {{"maximum-lifetime", 60}});
    settle();
    platform::advanceBy(10);
    cache().cleanup();
    settle();
    EXPECT_FALSE(exists(webFile(100000)));
    EXPECT_EQ(readFile(webFile(100001)), "new");
    EXPECT_EQ(*lookup("old"), (Answers{"starts(nil)"}));  // its RAM entry went too
    settle();
    EXPECT_EQ(source_->loads, (Answers{"old"}));
}

TEST_F(MVWebCacheTest, ClearingIsRefusedInShadowMode) {
    cache().setData(bytes("a"), "a", {{"maximum-lifetime", 60}});
    settle();
    cache().beginShadowModeWithRefreshingEnabled(false);
    cache().clearCache();
    cache().clearCacheForKeys({"a", "b"});
    settle();
    EXPECT_TRUE(exists(webFile(100000)));
    EXPECT_TRUE(
        logged("MVWebCache.clearCache() Clearing cache during shadow mode is not allowed."));
    EXPECT_TRUE(logged("Clearing cache during shadow mode is not allowed: [a,b]"));
}

TEST_F(MVWebCacheTest, RefreshingShadowModeServesStaleDiskCopyFromTheShadowFolder) {
    cache().setData(bytes("boot"), "k", {{"maximum-lifetime", 1}});
    settle();
    platform::advanceBy(10);
    restart();
    cache().beginShadowModeWithRefreshingEnabled(true);
    cache().beginShadowModeWithRefreshingEnabled(false);  // no change while on
    EXPECT_TRUE(cache().isShadowModeRefreshingEnabled());
    auto a = lookup("k");
    settle();
    EXPECT_EQ(*a, (Answers{"starts(nil)", "available(false,false,boot)"}));
    EXPECT_TRUE(source_->loads.empty());
    const std::string moved = MVWebCache::pathForShadowCache() + "/webcache/100000";
    EXPECT_EQ(readFile(moved), "boot");
    EXPECT_FALSE(exists(webFile(100000)));
    cache().cleanup();
    settle();
    EXPECT_TRUE(exists(moved));
    // A web key clearing a shadowed row asks for a refreshing shadow period next start.
    cache().endShadowMode();
    cache().clearCacheForKey("k");
    settle();
    EXPECT_FALSE(exists(moved));
    EXPECT_TRUE(
        platform::UserDefaults::standard().boolForKey("MVWebCacheShadowModeScheduledAtAppStart"));
}

TEST_F(MVWebCacheTest, StrictShadowMissesAreReloadedOneAfterAnotherAtTheEnd) {
    cache().beginShadowModeWithRefreshingEnabled(false);
    for (const char* key : {"a", "b", "c"}) {
        EXPECT_EQ(*lookup(key), (Answers{"starts(nil)"}));
        settle();
    }
    EXPECT_TRUE(source_->loads.empty());
    EXPECT_EQ(loggedCount("MVWebCache ShadowMode resource not found: "), 3u);
    EXPECT_EQ(*lookup("a"), (Answers{"failed(MVWebCacheErrorResourceNotFound,404)"}));
    MVErrorLogger::clearReports();
    cache().endShadowMode();
    const auto reports = MVErrorLogger::reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].description,
              "MVWebCache missing entries in shadow mode. (will try to reload)");
    ASSERT_TRUE(reports[0].data);
    EXPECT_EQ(*reports[0].data, nlohmann::json({"a", "b", "c"}));
    settle();
    EXPECT_EQ(source_->loads, (Answers{"a"}));
    source_->answer("A");
    settle();
    EXPECT_EQ(source_->loads, (Answers{"a", "b"}));
    source_->fail();
    settle();
    EXPECT_EQ(source_->loads, (Answers{"a", "b", "c"}));
}

TEST_F(MVWebCacheTest, FolderThatCannotBeMadeRaises) {
    // A file where a folder on the way should be.
    writeFile(MVWebCache::pathForCaches(), "in the way");
    try {
        MVWebCache::sharedCache();
        FAIL();
    } catch (const platform::Exception& e) {
        EXPECT_EQ(e.name(), "The webcache path could not be created");
        EXPECT_NE(e.reason().find("The webcache path \""), std::string::npos);
    }
}

}  // namespace
