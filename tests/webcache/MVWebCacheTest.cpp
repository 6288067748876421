#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <deque>
#include <future>
#include <random>
#include <thread>

#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/storage/MVWebCacheResourceObject.h"
#include "libmerovane/webcache/MVWebCache.h"
#include "libmerovane/webcache/MVWebCacheDataSource.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/HTTPCookieStorage.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/Log.h"
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
    // Answers without storing: a source whose answer comes late.
    void answerLate(const std::string& body) {
        auto p = std::move(pending.front());
        pending.pop_front();
        p.ok(bytes(body), {{"maximum-lifetime", 60}});
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

// Keeps the file queue busy until released: what is queued behind it waits.
class FileQueueHold {
  public:
    FileQueueHold() {
        MVWebCacheResourceObject::fileQueue().async(
            [released = released_.get_future().share()] { released.wait(); });
    }
    ~FileQueueHold() { released_.set_value(); }

  private:
    std::promise<void> released_;
};

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

TEST_F(MVWebCacheTest, AnswersOfAnEntryShareItsInfoWithoutCopies) {
    std::vector<const nlohmann::json*> infos;
    auto record = [&](bool, bool, const Data&, const nlohmann::json& info) {
        infos.push_back(&info);
    };
    cache().dataForKey("k", record, nullptr, nullptr);
    settle();
    source_->answer("v");
    cache().dataForKey("k", record, nullptr, nullptr);
    cache().dataForKey("k", record, nullptr, nullptr);
    ASSERT_EQ(infos.size(), 3u);
    EXPECT_EQ(infos[0], infos[1]);  // the load's answer and the RAM hits: one info
    EXPECT_EQ(infos[1], infos[2]);
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
    // Cleared RAM entries load anew, without answering the cleared bytes.
    EXPECT_EQ(*lookup("https://x/a"), (Answers{"starts(nil)"}));
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

// ---- sets against loads, moves, damaged and foreign files -------------------------------

TEST_F(MVWebCacheTest, ASetDuringADiskReadWinsOverTheBytesRead) {
    cache().setData(bytes("old"), "k", {{"maximum-lifetime", 60}});
    settle();
    restart();
    std::shared_ptr<std::vector<std::string>> a;
    {
        FileQueueHold hold;  // the set's write waits; the read began before it
        a = lookup("k");
        cache().setData(bytes("new"), "k", {{"maximum-lifetime", 60}});
    }
    settle();
    EXPECT_EQ(*a, (Answers{"starts(nil)", "available(false,false,new)"}));
    EXPECT_EQ(*lookup("k"), (Answers{"available(true,false,new)"}));
    EXPECT_EQ(readFile(webFile(100000)), "new");
    EXPECT_TRUE(source_->loads.empty());
}

TEST_F(MVWebCacheTest, ALateSourceAnswerLeavesANewerSetInPlace) {
    auto a = lookup("k");
    settle();
    ASSERT_EQ(source_->loads, (Answers{"k"}));
    cache().setData(bytes("new"), "k", {{"maximum-lifetime", 60}});
    source_->answerLate("old");
    EXPECT_EQ(a->back(), "available(false,false,new)");
    EXPECT_EQ(*lookup("k"), (Answers{"available(true,false,new)"}));
    // A failure that comes late keeps the set's bytes too.
    platform::advanceBy(61);
    lookup("k");
    settle();
    cache().setData(bytes("newer"), "k", {{"maximum-lifetime", 60}});
    source_->fail();
    EXPECT_EQ(*lookup("k"), (Answers{"available(true,false,newer)"}));
}

// A clear counts as a newer set for every answer begun before it.
TEST_F(MVWebCacheTest, ALoadBegunBeforeAClearNeverServesTheClearedBytes) {
    cache().setData(bytes("old"), "k", {{"maximum-lifetime", 60}});
    settle();
    restart();
    // A refreshing shadow period lets the test see that the read has taken the row.
    cache().beginShadowModeWithRefreshingEnabled(true);
    std::shared_ptr<std::vector<std::string>> a;
    {
        FileQueueHold hold;  // the file read waits, the row is read
        a = lookup("k");
        ASSERT_TRUE(platform::runUntil(
            [&] {
                bool shadowed = false;
                storage().lockedAccess([&] {
                    auto row = MVWebCacheResourceObject::dbObjectWithID("k");
                    shadowed = row && row->isShadowed();
                });
                return shadowed;
            },
            20.0));
        cache().endShadowMode();
        cache().clearCacheForKey("k");
    }
    settle();
    EXPECT_EQ(*a, (Answers{"starts(nil)"}));
    ASSERT_EQ(source_->loads, (Answers{"k"}));
    // A source answer begun before a clear is not taken either.
    cache().clearCacheForKey("k");
    source_->answerLate("old");
    settle();
    EXPECT_EQ(*a, (Answers{"starts(nil)"}));
    ASSERT_EQ(source_->loads, (Answers{"k", "k"}));
    source_->answer("new");
    EXPECT_EQ(*a, (Answers{"starts(nil)", "available(false,false,new)"}));
    EXPECT_EQ(*lookup("k"), (Answers{"available(true,false,new)"}));
}

TEST_F(MVWebCacheTest, ALookupJoiningALoadBegunBeforeAStaleSetGetsAReload) {
    auto a = lookup("k");
    settle();
    ASSERT_EQ(source_->loads, (Answers{"k"}));
    cache().setData(bytes("set"), "k", {{"maximum-lifetime", 1}});
    platform::advanceBy(2);
    auto b = lookup("k");  // stale: joins the load begun before the set
    EXPECT_EQ(*b, (Answers{"starts(set)", "available(true,true,set)"}));
    source_->answerLate("late");
    settle();
    ASSERT_EQ(source_->loads, (Answers{"k", "k"}));
    EXPECT_EQ(b->back(), "available(false,true,set)");  // the stale disk copy, reloading
    source_->answer("fresh");
    EXPECT_EQ(a->back(), "available(false,false,fresh)");
    EXPECT_EQ(b->back(), "available(false,false,fresh)");
}

TEST_F(MVWebCacheTest, ABurstOfSetsKeepsTheLandedBytesAcceptedUntilTheLastLands) {
    cache().setData(bytes("landed"), "k", {{"maximum-lifetime", 60}});
    settle();
    auto accepted = [&] {
        std::set<int64_t> lengths;
        storage().lockedAccess([&] {
            auto info = *MVWebCacheResourceObject::dbObjectWithID("k")->infoDictionary();
            lengths.insert(platform::json::integerValue(info, "stored-length"));
            for (const auto& set : info.value("stored-earlier", nlohmann::json::array())) {
                lengths.insert(platform::json::integerValue(set, "stored-length"));
            }
        });
        return lengths;
    };
    {
        FileQueueHold hold;  // as a killed writer leaves it: no write has landed
        for (int i = 1; i <= 20; ++i) {
            cache().setData(bytes(std::string(100 + i, 'n')), "k", {{"maximum-lifetime", 60}});
        }
        EXPECT_EQ(readFile(webFile(100000)), "landed");
        // The last set, and the bytes the file holds: no set between ever lands.
        EXPECT_EQ(accepted(), (std::set<int64_t>{6, 120}));
    }
    settle();
    EXPECT_EQ(readFile(webFile(100000)), std::string(120, 'n'));
    // After a start the file's bytes are unknown: a set accepts every set the row did.
    restart();
    cache().setData(bytes("after"), "k", {{"maximum-lifetime", 60}});
    EXPECT_EQ(accepted(), (std::set<int64_t>{5, 6, 120}));
    settle();
    cache().setData(bytes("once more"), "k", {{"maximum-lifetime", 60}});
    EXPECT_EQ(accepted(), (std::set<int64_t>{5, 9}));  // "after" landed
}

TEST_F(MVWebCacheTest, FilesFollowTheirRowsThroughAnyOrderOfSetsMovesAndKills) {
    const std::vector<std::string> keys = {"a", "b", "c"};
    std::map<std::string, std::string> last;
    std::mt19937 random(7);
    std::optional<FileQueueHold> hold;
    auto rowPath = [&](const std::string& key) {
        std::string path;
        storage().lockedAccess([&] {
            if (auto row = MVWebCacheResourceObject::dbObjectWithID(key)) {
                path = row->localFilename();
            }
        });
        return path;
    };
    int kills = 0;
    for (int step = 0; kills < 100; ++step) {
        const std::string& key = keys[random() % keys.size()];
        switch (random() % 5) {
            case 0:
            case 1:
                last[key] = std::string(1 + random() % 300, static_cast<char>('a' + step % 26));
                cache().setData(bytes(last[key]), key, {{"maximum-lifetime", 60}});
                break;
            case 2: {
                const bool shadowed = random() % 2;
                MVWebCacheResourceObject::changeEntries([&] {
                    if (auto row = MVWebCacheResourceObject::dbObjectWithID(key)) {
                        row->setIsShadowed(shadowed);
                    }
                });
                break;
            }
            case 3:
                if (hold) {
                    hold.reset();
                } else {
                    hold.emplace();
                }
                break;
            case 4: {
                // A writer killed between creating its temporary file and renaming it.
                const std::string path = rowPath(key);
                if (path.empty()) break;
                writeFile(fmt::format("{}.tmp-{}-{}", path, 999999, kills++), "partial");
                break;
            }
        }
    }
    hold.reset();
    {
        // Each key's last change a move queued behind its last write.
        FileQueueHold held;
        for (const auto& key : keys) {
            last[key] = key + "-last";
            cache().setData(bytes(last[key]), key, {{"maximum-lifetime", 60}});
            MVWebCacheResourceObject::changeEntries([&] {
                auto row = MVWebCacheResourceObject::dbObjectWithID(key);
                row->setIsShadowed(!row->isShadowed());
            });
        }
    }
    settle();
    cache().cleanup();
    settle();
    std::set<std::string> named;
    for (const auto& [key, value] : last) {
        const std::string path = rowPath(key);
        named.insert(path);
        EXPECT_EQ(readFile(path), value) << key;
    }
    std::set<std::string> files;
    for (const std::string& folder :
         {MVWebCache::pathForWebCache(), MVWebCache::pathForShadowCache() + "/webcache"}) {
        if (!exists(folder)) continue;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            files.insert(entry.path().string());
        }
    }
    EXPECT_EQ(files, named);
}

TEST_F(MVWebCacheTest, ASetRacingAShadowingReadEndsInTheShadowFolder) {
    cache().setData(bytes("v1"), "k", {{"maximum-lifetime", 60}});
    settle();
    restart();
    cache().beginShadowModeWithRefreshingEnabled(true);
    std::shared_ptr<std::vector<std::string>> a;
    {
        FileQueueHold hold;
        a = lookup("k");  // its read marks the row shadowed
        cache().setData(bytes("v2"), "k", {{"maximum-lifetime", 60}});
    }
    settle();
    EXPECT_EQ(*a, (Answers{"starts(nil)", "available(false,false,v2)"}));
    const std::string moved = MVWebCache::pathForShadowCache() + "/webcache/100000";
    EXPECT_EQ(readFile(moved), "v2");
    EXPECT_FALSE(exists(webFile(100000)));
    storage().lockedAccess([&] {
        auto row = MVWebCacheResourceObject::dbObjectWithID("k");
        ASSERT_TRUE(row);
        EXPECT_TRUE(row->isShadowed());
        EXPECT_EQ(row->localFilename(), moved);
    });
}

TEST_F(MVWebCacheTest, DamagedFilesAreMissesWithOneWarningEach) {
    const std::string body(100000, 'x');
    struct Case {
        const char* key;
        std::function<void(const std::string&)> damage;
    } cases[] = {
        {"cut", [](const std::string& path) { std::filesystem::resize_file(path, 5000); }},
        {"emptied", [](const std::string& path) { std::filesystem::resize_file(path, 0); }},
        {"grown", [](const std::string& path) { std::filesystem::resize_file(path, 100001); }},
        {"changed",
         [&](const std::string& path) { writeFile(path, std::string(body.size(), 'y')); }},
    };
    for (const auto& c : cases) cache().setData(bytes(body), c.key, {{"maximum-lifetime", 60}});
    settle();
    restart();
    int64_t serial = 100000;
    for (const auto& c : cases) c.damage(webFile(serial++));
    Answers keys;
    for (const auto& c : cases) {
        keys.push_back(c.key);
        lookup(c.key);
        settle();
    }
    EXPECT_EQ(source_->loads, keys);
    EXPECT_EQ(loggedCount("is taken as missing"), std::size(cases));
    for (serial = 100000; serial < 100004; ++serial) EXPECT_FALSE(exists(webFile(serial)));
    storage().lockedAccess([&] {
        for (const auto& c : cases) EXPECT_FALSE(MVWebCacheResourceObject::dbObjectWithID(c.key));
    });
}

TEST_F(MVWebCacheTest, AFileThatCannotBeReadIsAnErrorAndKeepsItsRow) {
    cache().setData(bytes("abc"), "k", {{"maximum-lifetime", 60}});
    settle();
    restart();
    const std::string path = webFile(100000);
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    // The superuser reads anything: the file queue's thread reads as nobody instead.
    auto& files = MVWebCacheResourceObject::fileQueue();
    files.sync([] { ::setfsuid(65534); });
    lookup("k");
    settle();
    files.sync([] { ::setfsuid(0); });
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    platform::log::flush();
    const std::string line =
        "MVWebCacheRamObjectDataRepresentation error while reading file \"" + path + "\". ";
    const auto& messages = log_->messages();
    const auto message = std::find_if(messages.begin(), messages.end(),
                                      [&](const auto& m) { return m.text.rfind(line, 0) == 0; });
    ASSERT_NE(message, messages.end());
    EXPECT_EQ(message->flag, platform::log::kError);
    EXPECT_NE(message->text.find("Code=13"), std::string::npos) << message->text;
    EXPECT_FALSE(logged("is taken as missing"));
    EXPECT_EQ(source_->loads, (Answers{"k"}));  // a miss
    EXPECT_EQ(readFile(path), "abc");
    storage().lockedAccess([] { EXPECT_TRUE(MVWebCacheResourceObject::dbObjectWithID("k")); });
}

TEST_F(MVWebCacheTest, RecordedLengthStaysOutOfAnswersAndOldRowsReadAsBefore) {
    cache().setData(bytes("abc"), "new", {{"maximum-lifetime", 60}});
    cache().setData(bytes("abc"), "old", {{"maximum-lifetime", 60}});
    settle();
    restart();
    storage().lockedAccess([] {
        // A row stored before lengths were recorded.
        auto row = MVWebCacheResourceObject::dbObjectWithID("old");
        nlohmann::json info = *row->infoDictionary();
        ASSERT_TRUE(info.contains("stored-length"));
        info.erase("stored-length");
        info.erase("stored-crc32");
        row->setInfoDictionary(&info);
    });
    writeFile(webFile(100001), "abcdef");
    for (const char* key : {"new", "old"}) {
        nlohmann::json answered;
        std::string got;
        cache().dataForKey(
            key,
            [&](bool, bool, const Data& d, const nlohmann::json& info) {
                got = text(d);
                answered = info;
            },
            nullptr, nullptr);
        settle();
        EXPECT_EQ(got, std::string(key) == "new" ? "abc" : "abcdef");
        EXPECT_FALSE(answered.contains("stored-length")) << answered.dump();
        EXPECT_FALSE(answered.contains("stored-crc32")) << answered.dump();
        EXPECT_TRUE(answered.contains("local-file-url")) << answered.dump();
    }
    EXPECT_TRUE(source_->loads.empty());
}

TEST_F(MVWebCacheTest, OnlyRegularFilesOfTheCacheFolderAreRead) {
    const std::string outside = home_->file("outside");
    writeFile(outside, "abc");  // the very bytes the entries hold
    struct Case {
        const char* key;
        std::function<void(const std::string&)> plant;
    } cases[] = {
        {"link", [&](const std::string& path) { std::filesystem::create_symlink(outside, path); }},
        {"device",
         [](const std::string& path) { std::filesystem::create_symlink("/dev/zero", path); }},
        {"fifo", [](const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); }},
    };
    for (const auto& c : cases) cache().setData(bytes("abc"), c.key, {{"maximum-lifetime", 60}});
    settle();
    restart();
    int64_t serial = 100000;
    for (const auto& c : cases) {
        std::filesystem::remove(webFile(serial));
        c.plant(webFile(serial++));
    }
    Answers keys;
    for (const auto& c : cases) {
        keys.push_back(c.key);
        EXPECT_EQ(*lookup(c.key), (Answers{"starts(nil)"}));
        settle();
    }
    EXPECT_EQ(source_->loads, keys);
    EXPECT_EQ(loggedCount("is taken as missing"), std::size(cases));
    EXPECT_EQ(readFile(outside), "abc");
}

TEST_F(MVWebCacheTest, KeysInLogLinesAreEscaped) {
    const std::string key = "k\nMVWebCache forged";
    // A folder where the entry's file goes makes its write fail.
    std::filesystem::create_directories(webFile(100000) + "/in-the-way");
    cache().setData(bytes("a"), key, {});
    settle();
    cache().beginShadowModeWithRefreshingEnabled(false);
    lookup("m\nforged");
    settle();
    cache().clearCacheForKeys({key});
    for (const char* line :
         {"could not write resource file ['k\\nMVWebCache forged'",
          "ShadowMode resource not found: m\\nforged", "not allowed: [k\\nMVWebCache forged]"}) {
        EXPECT_TRUE(logged(line)) << line;
    }
    EXPECT_FALSE(logged("\nMVWebCache forged"));
    EXPECT_FALSE(logged("\nforged"));
}

// ---- caching switch and availability --------------------------------------------------

TEST_F(MVWebCacheTest, SwitchingCachingOffDeletesTheCookiesOnce) {
    auto& jar = platform::HTTPCookieStorage::shared();
    auto cookie = [](const char* name) {
        platform::HTTPCookie::Properties properties;
        properties.name = name;
        properties.value = "v";
        properties.domain = "shop.example";
        return *platform::HTTPCookie::make(properties);
    };
    jar.setCookie(cookie("a"));
    cache().setIsCachingEnabled(true);  // no change
    EXPECT_EQ(jar.cookies().size(), 1u);
    cache().setIsCachingEnabled(false);
    EXPECT_TRUE(jar.cookies().empty());
    jar.setCookie(cookie("b"));
    cache().setIsCachingEnabled(false);  // no change: the new cookie stays
    EXPECT_EQ(jar.cookies().size(), 1u);
    EXPECT_EQ(loggedCount("MVWebCache caching disabled"), 1u);
}

TEST_F(MVWebCacheTest, CachingOffADiskHitStillReloadsFromTheSource) {
    cache().setData(bytes("disk"), "k", {{"maximum-lifetime", 60}});
    settle();
    restart();
    cache().setIsCachingEnabled(false);
    auto a = lookup("k");
    settle();
    EXPECT_EQ(*a, (Answers{"starts(nil)", "available(false,true,disk)"}));
    ASSERT_EQ(source_->loads, (Answers{"k"}));
    source_->answer("fresh");
    EXPECT_EQ(a->back(), "available(false,false,fresh)");
}

TEST_F(MVWebCacheTest, DiskAvailabilityHoldsWhileTheAgeIsBelowTheLifetime) {
    cache().setData(bytes("x"), "k", {{"maximum-lifetime", 60}});
    cache().setData(bytes("x"), "none", {});
    settle();
    restart();
    struct Step {
        double advance;
        bool available;
    } steps[] = {{0, true}, {59.5, true}, {0.5, false}, {1, false}};
    double age = 0;
    for (const auto& step : steps) {
        platform::advanceBy(step.advance);
        age += step.advance;
        EXPECT_EQ(cache().isCachedDataAvailableForKey("k"), step.available) << age;
        EXPECT_FALSE(cache().isCachedDataAvailableForKey("none")) << age;
    }
    cache().setIsCachingEnabled(false);
    cache().setData(bytes("x"), "k", {{"maximum-lifetime", 60}});
    EXPECT_FALSE(cache().isCachedDataAvailableForKey("k"));  // RAM holds it, caching is off
}

// ---- JSON and image lookups --------------------------------------------------------------

// Records the answers of a decoded lookup as text; `show` prints a value.
template <class T>
struct DecodedLookupRecorder {
    std::function<std::string(const T&)> show;
    std::shared_ptr<Answers> out = std::make_shared<Answers>();

    // Answers may come after the recorder is gone: the blocks hold what they use.
    auto printer() const {
        return [show = show](const std::optional<T>& v) { return v ? show(*v) : "none"; };
    }
    auto available() const {
        return [out = out, print = printer()](bool mem, bool pending, const std::optional<T>& v,
                                              const nlohmann::json&) {
            out->push_back(fmt::format("available({},{},{})", mem, pending, print(v)));
        };
    }
    auto starts() const {
        return [out = out, print = printer()](const std::optional<T>& v) {
            out->push_back("starts(" + print(v) + ")");
        };
    }
    auto failed() const {
        return [out = out, print = printer()](const platform::Error& e, const std::optional<T>& v) {
            out->push_back(fmt::format("failed({},{})", e.domain(), print(v)));
        };
    }
};

struct JsonLookupRecorder : DecodedLookupRecorder<nlohmann::json> {
    JsonLookupRecorder() {
        show = [](const nlohmann::json& v) { return platform::json::print(v); };
    }
    void lookup(const std::string& key) {
        MVWebCache::sharedCache().jsonForKey(key, available(), starts(), failed());
    }
};

struct ImageLookupRecorder : DecodedLookupRecorder<platform::Image> {
    ImageLookupRecorder() {
        show = [](const platform::Image& i) { return fmt::format("{}x{}", i.width(), i.height()); };
    }
    void lookup(const std::string& key) {
        MVWebCache::sharedCache().imageForKey(key, available(), starts(), failed());
    }
};

TEST_F(MVWebCacheTest, JsonLookupParsesUnderTheDepthLimit) {
    struct Row {
        std::string key, body, answer;
    } rows[] = {
        {"doc", R"({"a":[1,"x"]})", R"(available(true,false,{"a":[1,"x"]}))"},
        {"text", "not json", "available(true,false,none)"},
        {"deep", std::string(600, '[') + std::string(600, ']'), "available(true,false,none)"},
        {"empty", "", "available(true,false,none)"},
    };
    for (const auto& row : rows)
        cache().setData(bytes(row.body), row.key, {{"maximum-lifetime", 60}});
    for (const auto& row : rows) {
        JsonLookupRecorder r;
        r.lookup(row.key);
        EXPECT_EQ(*r.out, (Answers{row.answer})) << row.key;
    }
    EXPECT_EQ(loggedCount("MVWebCache data for key <"), 3u);
    EXPECT_TRUE(logged("MVWebCache data for key <deep> is no JSON"));
}

TEST_F(MVWebCacheTest, JsonLookupDecodesEachAnswerOnceAndPassesFailures) {
    cache().setData(bytes("[1]"), "k", {{"maximum-lifetime", 10}});
    cache().setData(bytes("{]"), "bad", {{"maximum-lifetime", 10}});
    settle();
    platform::advanceBy(20);
    JsonLookupRecorder k, bad;
    // One key at a time: the disk reads run on workers and would ask the source in
    // either order.
    k.lookup("k");
    settle();
    bad.lookup("bad");
    settle();
    EXPECT_EQ(*k.out,
              (Answers{"starts([1])", "available(true,true,[1])", "available(false,true,[1])"}));
    EXPECT_EQ(*bad.out,
              (Answers{"starts(none)", "available(true,true,none)", "available(false,true,none)"}));
    // Once for the bytes in RAM, once for the disk copy.
    EXPECT_EQ(loggedCount("MVWebCache data for key <bad> is no JSON"), 2u);
    ASSERT_EQ(source_->loads, (Answers{"k", "bad"}));
    source_->answer("[2]");
    source_->fail();
    EXPECT_EQ(k.out->back(), "available(false,false,[2])");
    EXPECT_EQ(bad.out->back(), "failed(test,none)");
}

TEST_F(MVWebCacheTest, ImageLookupDecodesPngAndRefusesOtherBytes) {
    const platform::Image picture(3, 2, 1, {255, 0, 0, 255});
    cache().setData(bytes(picture.pngData()), "png", {{"maximum-lifetime", 60}});
    cache().setData(bytes(picture.pngData().substr(0, 40)), "cut", {{"maximum-lifetime", 60}});
    cache().setData(bytes("<html>"), "html", {{"maximum-lifetime", 60}});
    settle();
    restart();  // answered from disk
    struct Row {
        const char* key;
        const char* answer;
    } rows[] = {{"png", "available(false,false,3x2)"},
                {"cut", "available(false,false,none)"},
                {"html", "available(false,false,none)"}};
    for (const auto& row : rows) {
        ImageLookupRecorder r;
        r.lookup(row.key);
        settle();
        EXPECT_EQ(*r.out, (Answers{"starts(none)", row.answer})) << row.key;
    }
    EXPECT_TRUE(logged("MVWebCache data for key <cut> is no image"));
    EXPECT_TRUE(logged("MVWebCache data for key <html> is no image"));
    ImageLookupRecorder again;
    again.lookup("png");
    ASSERT_EQ(again.out->size(), 1u);
    EXPECT_EQ(again.out->front(), "available(true,false,3x2)");
}

// ---- file moves that fail ----------------------------------------------------------------

class MVWebCacheFileMoveTest : public MVWebCacheTest {
  protected:
    void SetUp() override {
        MVWebCacheTest::SetUp();
        cache().setData(bytes("kept"), "k", {{"maximum-lifetime", 60}});
        settle();
        MVErrorLogger::clearReports();
    }
    std::string shadowFile() const { return MVWebCache::pathForShadowCache() + "/webcache/100000"; }
    // Shadows the row; the move fails with `summary`, logged as `line` plus the error.
    void expectMoveFailure(const std::string& summary, const std::string& line) {
        MVWebCacheResourceObject::changeEntries(
            [] { MVWebCacheResourceObject::dbObjectWithID("k")->setIsShadowed(true); });
        settle();
        platform::log::flush();
        const auto& messages = log_->messages();
        const auto message = std::find_if(messages.begin(), messages.end(), [&](const auto& m) {
            return m.text.rfind(line, 0) == 0;
        });
        ASSERT_NE(message, messages.end()) << line;
        EXPECT_EQ(message->flag, platform::log::kError);
        const auto reports = MVErrorLogger::reports();
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].description, summary);
        ASSERT_TRUE(reports[0].data && reports[0].data->is_string());
        EXPECT_EQ(reports[0].data->get<std::string>().rfind(line, 0), 0u);
        // The file stays where it was; the row is shadowed anyway.
        EXPECT_EQ(readFile(webFile(100000)), "kept");
        storage().lockedAccess(
            [] { EXPECT_TRUE(MVWebCacheResourceObject::dbObjectWithID("k")->isShadowed()); });
    }
};

TEST_F(MVWebCacheFileMoveTest, AFileWhereTheShadowFolderGoesStopsTheMove) {
    const std::string folder = MVWebCache::pathForShadowCache() + "/webcache";
    writeFile(folder, "in the way");
    expectMoveFailure("MVWebCacheResourceObject could not create path",
                      "MVWebCacheResourceObject could not create path [ " + folder + " ] ");
    EXPECT_EQ(readFile(folder), "in the way");
}

TEST_F(MVWebCacheFileMoveTest, AnUnremovableTargetStopsTheMove) {
    writeFile(shadowFile() + "/held", "x");
    if (!makeUnremovable(shadowFile() + "/held")) GTEST_SKIP() << "no immutable files here";
    expectMoveFailure("MVWebCacheResourceObject could not remove file",
                      "MVWebCacheResourceObject could not remove file [ " + shadowFile() + " ] ");
}

TEST_F(MVWebCacheFileMoveTest, AFileThatCannotBeRenamedStaysAndIsStillFound) {
    if (!makeUnremovable(webFile(100000))) GTEST_SKIP() << "no immutable files here";
    expectMoveFailure("MVWebCacheResourceObject could not move file",
                      "MVWebCacheResourceObject could not move file [ " + webFile(100000) + " => " +
                          shadowFile() + " ] ");
    EXPECT_FALSE(exists(shadowFile()));
    // The row names the shadow folder; its file, as recorded, lies where the move left it,
    // as after a move that a kill cut short.
    restart();
    auto a = lookup("k");
    settle();
    EXPECT_EQ(*a, (Answers{"starts(nil)", "available(false,false,kept)"}));
    EXPECT_TRUE(source_->loads.empty());
    EXPECT_TRUE(logged("MVWebCache could not move file [ " + webFile(100000) + " => " +
                       shadowFile() + " ] back: "));
}

TEST_F(MVWebCacheFileMoveTest, AMoveCutShortIsFoundAndPutBackByTheReadAndByCleanup) {
    // As a kill leaves it: the row shadowed (or not), its file still in the other folder.
    for (const bool viaCleanup : {false, true}) {
        SCOPED_TRACE(viaCleanup ? "cleanup" : "read");
        MVWebCacheResourceObject::changeEntries([] {
            auto row = MVWebCacheResourceObject::dbObjectWithID("k");
            row->setShadowed(!row->isShadowed());  // the flag alone, no move
        });
        settle();
        restart();
        std::string path;
        storage().lockedAccess(
            [&] { path = MVWebCacheResourceObject::dbObjectWithID("k")->localFilename(); });
        EXPECT_FALSE(exists(path));
        if (viaCleanup) {
            cache().cleanup();
            settle();
            EXPECT_EQ(readFile(path), "kept");
        }
        auto a = lookup("k");
        settle();
        EXPECT_EQ(*a, (Answers{"starts(nil)", "available(false,false,kept)"}));
        EXPECT_EQ(readFile(path), "kept");
        EXPECT_TRUE(source_->loads.empty());
    }
}

}  // namespace
