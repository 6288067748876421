// The shell over a home with one damaged store: a first run fills every store, one is
// damaged, and the next run shows its first page, sets the damaged file aside or replaces
// it, reports a damaged storage file to the log server and keeps every other store.
#ifdef MV_SAMPLE_API_SERVER
#include <fmt/format.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/foundation/JsonValue.h"
#include "tests/app/SampleShopRun.h"

namespace damagedhome {

using namespace sampleshop;
namespace fs = std::filesystem;

constexpr const char* kStore = "general.sqlite";
constexpr const char* kMigrationTemp = "tempMVMigrationManager.sqlite";
constexpr const char* kDefaults = "com.merovane.shop.json";

// The folders of a home, and what a run keeps in them.
struct Home {
    std::string caches, preferences;
    std::string store() const { return caches + "/" + kStore; }
    std::string defaults() const { return preferences + "/" + kDefaults; }
};

struct Damage {
    const char* name;
    std::function<void(const Home&)> make;
    const char* report;  // the error report the log server gets, if any
    bool storeAside;     // the damaged store is kept beside the new one
    bool storeKept;      // the store of the first run is still in use
    bool defaultsAside;  // the damaged user defaults are kept beside the new ones
};

void PrintTo(const Damage& damage, std::ostream* out) {
    *out << damage.name;
}

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string noise(size_t size) {
    std::string bytes(size, '\0');
    uint32_t state = 2463534242u;
    for (auto& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<char>(state);
    }
    return bytes;
}

// The store with its companions moved to `to`, as a migration killed half way leaves them.
void moveStore(const Home& home, const std::string& to, bool keepStore) {
    for (const char* suffix : {"", "-wal", "-shm"}) {
        const std::string from = home.store() + suffix;
        if (!fs::exists(from)) continue;
        if (keepStore)
            fs::copy_file(from, home.caches + "/" + to + suffix);
        else
            fs::rename(from, home.caches + "/" + to + suffix);
    }
}

// The storage file alone, without the journal of the store it replaces.
void replaceStore(const Home& home, const std::function<void(const std::string&)>& write) {
    for (const char* suffix : {"-wal", "-shm"}) fs::remove(home.store() + suffix);
    write(home.store());
}

const Damage kDamages[] = {
    // What a second run over a sound home keeps.
    {"Nothing", [](const Home&) {}, nullptr, false, true, false},
    {"MigrationTempBesideTheStore", [](const Home& h) { moveStore(h, kMigrationTemp, true); },
     "The migration was completed, but the store temp file wasn't deleted.", false, true, false},
    {"DefaultsLinkToDevZero",
     [](const Home& h) {
         fs::remove(h.defaults());
         fs::create_symlink("/dev/zero", h.defaults());
     },
     nullptr, false, true, true},
    {"DefaultsFifo",
     [](const Home& h) {
         fs::remove(h.defaults());
         ASSERT_EQ(::mkfifo(h.defaults().c_str(), 0600), 0);
     },
     nullptr, false, true, true},
};

// A storage file replaced by a new store: the first run's web cache is gone with it, so
// the stored boot script goes too (its replay in refreshing mode would wait for ever for
// a page that only the server packets held back until the replay ends can bring).
const Damage kReplacedStores[] = {
    {"StoreOfRandomBytes",
     [](const Home& h) {
         replaceStore(h, [](const std::string& store) { writeBytes(store, noise(8192)); });
     },
     "MVPersistentStoreCoordinator couldn't load metaData of source database", true, false, false},
    {"StoreCutShort",
     [](const Home& h) {
         replaceStore(h, [](const std::string& store) { fs::resize_file(store, 100); });
     },
     "MVPersistentStoreCoordinator couldn't load metaData of source database", true, false, false},
    {"StoreIsAFolder",
     [](const Home& h) {
         replaceStore(h, [](const std::string& store) {
             fs::remove(store);
             fs::create_directories(store + "/inside");
         });
     },
     "MVPersistentStoreCoordinator couldn't load metaData of source database", true, false, false},
    {"MigrationTempAlone", [](const Home& h) { moveStore(h, kMigrationTemp, false); },
     "MVPersistentStorage hadn't finish migration.", false, false, false},
};

// The names in `folder` that start with `prefix`, companions left out.
std::vector<std::string> asides(const std::string& folder, const std::string& prefix) {
    std::vector<std::string> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with(prefix) && !name.ends_with("-wal") && !name.ends_with("-shm"))
            found.push_back(entry.path().string());
    }
    return found;
}

nlohmann::json defaultsOf(const Home& home) {
    auto parsed = platform::json::parse(readText(home.defaults()));
    return parsed.ok() ? parsed.value : nlohmann::json();
}

class DamagedHomeTest : public SampleShopRunTest, public ::testing::WithParamInterface<Damage> {
  protected:
    Home home() const {
        return {out_.file("home/Library/Caches/libmerovane"),
                out_.file("home/Library/Preferences")};
    }
    // Runs the shell until its first page is recorded, then ends it; a shell that does
    // not end is killed so that the test goes on.
    void runBounded(const std::string& log) {
        auto app = startShell(log);
        presented(log);
        app->kill(SIGTERM);
        if (!waitUntil([&] { return ended(*app); }, kStopCeiling)) {
            ADD_FAILURE() << "the shell did not end: " << readText(out_.file(log));
            app->kill(SIGKILL);
        }
        EXPECT_EQ(app->wait(), 0) << readText(out_.file(log));
    }
    // The descriptions of the error reports the log server kept.
    std::vector<std::string> errorReports() const {
        std::vector<std::string> found;
        for (int n = 1; fs::exists(out_.file(fmt::format("reports/error-{}.json", n))); ++n) {
            auto parsed =
                platform::json::parse(readText(out_.file(fmt::format("reports/error-{}.json", n))));
            if (parsed.ok() && parsed.value.is_object())
                found.push_back(parsed.value.value("errorDescription", ""));
        }
        return found;
    }
};

TEST_P(DamagedHomeTest, TheFirstPageIsShownAndEveryOtherStoreKept) {
    const Damage& damage = GetParam();
    const Home h = home();
    runBounded("first.log");
    ASSERT_TRUE(fs::is_regular_file(h.store())) << readText(out_.file("first.log"));
    ASSERT_TRUE(fs::is_regular_file(h.defaults()));
    ASSERT_FALSE(fs::is_empty(h.caches + "/webcache"));
    const nlohmann::json defaultsBefore = defaultsOf(h);
    ASSERT_TRUE(defaultsBefore.contains("MVStandardUserDefaultsCachedBootScript"))
        << defaultsBefore.dump();
    struct stat storeBefore {};
    ASSERT_EQ(::stat(h.store().c_str(), &storeBefore), 0);

    damage.make(h);
    const std::string damagedBytes = fs::is_regular_file(h.store()) ? readText(h.store()) : "";
    const std::vector<std::string> reportsBefore = errorReports();
    runBounded("second.log");
    const std::string log = readText(out_.file("second.log"));
    EXPECT_NE(readText(out_.file("presented.json")).find("mvapi:home"), std::string::npos) << log;

    // The storage file: a store again, the damaged one beside it when it is kept, and the
    // migration's temporary store gone.
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(h.store())));
    EXPECT_EQ(readText(h.store()).substr(0, 16), std::string("SQLite format 3\0", 16));
    EXPECT_FALSE(fs::exists(fs::symlink_status(h.caches + "/" + kMigrationTemp)));
    const auto storeAsides = asides(h.caches, std::string(kStore) + ".corrupt-");
    ASSERT_EQ(storeAsides.size(), damage.storeAside ? 1u : 0u) << log;
    if (damage.storeAside) {
        if (fs::is_regular_file(storeAsides[0]))
            EXPECT_TRUE(readText(storeAsides[0]) == damagedBytes);
        else
            EXPECT_TRUE(fs::is_directory(storeAsides[0] + "/inside"));
    }
    if (damage.storeKept) {
        struct stat storeAfter {};
        ASSERT_EQ(::stat(h.store().c_str(), &storeAfter), 0);
        EXPECT_EQ(storeAfter.st_ino, storeBefore.st_ino);
    }

    // The user defaults: a regular file again, the damaged one beside it as it was; when
    // not damaged, what the first run stored is still there.
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(h.defaults())));
    const auto defaultsAsides = asides(h.preferences, std::string(kDefaults) + ".corrupt-");
    ASSERT_EQ(defaultsAsides.size(), damage.defaultsAside ? 1u : 0u) << log;
    const nlohmann::json defaultsAfter = defaultsOf(h);
    if (damage.defaultsAside) {
        const auto kept = fs::symlink_status(defaultsAsides[0]).type();
        EXPECT_TRUE(kept == fs::file_type::symlink || kept == fs::file_type::fifo);
    } else {
        for (const char* key : {"lastRunningApiPath", "MVLastRunningAppIdentifier"})
            EXPECT_EQ(defaultsAfter.value(key, nlohmann::json()), defaultsBefore[key]) << key;
    }
    // Kept defaults over a kept store: the first run's boot script is replayed and its
    // page comes from the first run's web cache.
    if (!damage.defaultsAside && damage.storeKept) {
        EXPECT_NE(log.find("boots app using script with Identifier: \"sample\""), std::string::npos)
            << log;
        EXPECT_EQ(log.find("sending MVCommand.getPage( pageId = \"home\" )"), std::string::npos)
            << log;
    }

    // A damaged storage file is reported, and nothing else about the storage is.
    if (damage.report) {
        EXPECT_TRUE(waitUntil(
            [&] {
                const auto all = errorReports();
                return std::find(all.begin(), all.end(), damage.report) != all.end();
            },
            kStepCeiling))
            << ::testing::PrintToString(errorReports()) << "\n"
            << readText(out_.file("server.out"));
    } else {
        EXPECT_EQ(errorReports(), reportsBefore) << log;
    }
}

std::string damageName(const ::testing::TestParamInfo<Damage>& info) {
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(EachStore, DamagedHomeTest, ::testing::ValuesIn(kDamages), damageName);
INSTANTIATE_TEST_SUITE_P(ReplacedStore, DamagedHomeTest, ::testing::ValuesIn(kReplacedStores),
                         damageName);

}  // namespace damagedhome
#endif
