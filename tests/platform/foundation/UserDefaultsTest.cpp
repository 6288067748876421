#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstdlib>
#include <nlohmann/json.hpp>

#include "platform/foundation/Exception.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/Keychain.h"
#include "platform/foundation/UserDefaults.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/HostileFiles.h"
#include "tests/support/PlatformTest.h"
#include "tests/support/TempDir.h"

using platform::FileManager;
using platform::UserDefaults;

namespace {

class UserDefaultsTest : public PlatformTest {
  protected:
    UserDefaults& defaults() { return UserDefaults::standard(); }
    std::optional<nlohmann::json> fileContents() {
        auto text = FileManager::defaultManager().readFile(defaults().filePath());
        if (!text) return std::nullopt;
        auto parsed = platform::json::parse(*text);
        if (!parsed.ok()) return std::nullopt;
        return parsed.value;
    }
    ChildProcess::Environment childEnvironment() { return {{"MEROVANE_HOME", home_.path()}}; }
    // The contents of the asides of the defaults file, oldest first.
    std::vector<std::string> asides() {
        auto& fm = FileManager::defaultManager();
        const std::string path = defaults().filePath();
        const std::string folder = path.substr(0, path.find_last_of('/'));
        std::vector<std::string> out;
        for (auto& name : fm.contentsOfDirectory(folder).value_or(std::vector<std::string>{}))
            if ((folder + "/" + name).starts_with(path + ".corrupt-"))
                out.push_back(fm.readFile(folder + "/" + name).value_or("?"));
        return out;
    }

    TempDir home_;
};

}  // namespace

TEST_F(UserDefaultsTest, FileLivesInTheApplicationsPreferences) {
    EXPECT_EQ(defaults().filePath(), home_.path() + "/Library/Preferences/" +
                                         FileManager::applicationIdentifier() + ".json");
}

TEST_F(UserDefaultsTest, ArgumentsOverrideValuesWhichOverrideRegistration) {
    defaults().registerDefaults(
        {{"caching_disabled", false}, {"dev_workspace", "reg"}, {"only_reg", 5}});
    defaults().setObject("dev_workspace", "stored");
    defaults().setObject("caching_disabled", true);
    const std::string deep = std::string(100'000, '[') + std::string(100'000, ']');
    const char* argv[] = {"app",
                          "--gtest_filter=x",
                          "-dev_workspace",
                          "http://10.0.0.2:8080",
                          "-n",
                          "1",
                          "-obj",
                          R"({"a":[1]})",
                          "-bad",
                          "{]",
                          "-deep",
                          deep.c_str(),
                          "-last"};
    UserDefaults::setArguments(std::size(argv), const_cast<char**>(argv));

    EXPECT_EQ(defaults().stringForKey("dev_workspace"), "http://10.0.0.2:8080");
    EXPECT_TRUE(defaults().boolForKey("caching_disabled"));
    EXPECT_EQ(defaults().integerForKey("only_reg"), 5);
    EXPECT_EQ(defaults().objectForKey("n"), nlohmann::json(1));  // parsed as JSON
    EXPECT_EQ(defaults().objectForKey("obj"), nlohmann::json::parse(R"({"a":[1]})"));
    EXPECT_EQ(defaults().stringForKey("bad"), "{]");           // not JSON: the text itself
    EXPECT_EQ(defaults().stringForKey("deep"), deep);          // too deep: the text too
    EXPECT_EQ(defaults().objectForKey("last"), std::nullopt);  // a key without a value
    EXPECT_EQ(defaults().objectForKey("-gtest_filter=x"), std::nullopt);

    // Arguments are never stored; the overridden value is.
    ASSERT_TRUE(defaults().synchronize());
    auto file = fileContents();
    ASSERT_TRUE(file);
    EXPECT_EQ((*file)["dev_workspace"], "stored");
    EXPECT_FALSE(file->contains("n"));
    EXPECT_FALSE(file->contains("only_reg"));
}

// The coercions themselves are the value helpers' (JsonValueTest).
TEST_F(UserDefaultsTest, TypedReadsCoerceAndMissingKeysAreZero) {
    defaults().setObject("s", "1");
    EXPECT_EQ(defaults().integerForKey("s"), 1);
    EXPECT_EQ(defaults().integerForKey("missing"), 0);
    EXPECT_EQ(defaults().stringForKey("missing"), std::nullopt);
    defaults().removeObject("s");
    EXPECT_EQ(defaults().objectForKey("s"), std::nullopt);
    EXPECT_THROW(defaults().registerDefaults(nlohmann::json::array()), platform::Exception);
}

TEST_F(UserDefaultsTest, PreferredLanguagesComeFromTheEnvironment) {
    const char* saved = std::getenv("LANGUAGE");
    std::string previous = saved ? saved : "";
    ::setenv("LANGUAGE", "de_DE.UTF-8:fr:de_DE", 1);
    defaults().resetForTesting();
    EXPECT_EQ(defaults().objectForKey("AppleLanguages"), nlohmann::json({"de-DE", "fr"}));
    defaults().setObject("AppleLanguages", {"pl"});  // the application's own choice wins
    EXPECT_EQ(defaults().objectForKey("AppleLanguages"), nlohmann::json({"pl"}));
    if (saved)
        ::setenv("LANGUAGE", previous.c_str(), 1);
    else
        ::unsetenv("LANGUAGE");
}

TEST_F(UserDefaultsTest, NothingIsWrittenWithoutChanges) {
    EXPECT_TRUE(defaults().synchronize());
    EXPECT_FALSE(FileManager::defaultManager().fileExists(defaults().filePath()));
    defaults().setObject("k", "v");
    EXPECT_FALSE(FileManager::defaultManager().fileExists(defaults().filePath()));
    EXPECT_TRUE(defaults().synchronize());
    EXPECT_EQ(fileContents(), nlohmann::json({{"k", "v"}}));
}

TEST_F(UserDefaultsTest, CorruptFileGivesEmptyDefaultsAndIsKeptAside) {
    const std::string path = defaults().filePath();
    const std::string garbage = "{\"MVLibraryApplicationLastLaunchedVersion\": \"1.2";  // torn
    home_.write(path.substr(home_.path().size() + 1), garbage);
    defaults().resetForTesting();

    EXPECT_EQ(defaults().objectForKey("MVLibraryApplicationLastLaunchedVersion"), std::nullopt);
    EXPECT_TRUE(logged("User defaults file " + path + " is corrupt, starting with empty defaults"));
    // Reading and synchronising without changes leave the broken file alone.
    EXPECT_TRUE(defaults().synchronize());
    EXPECT_EQ(FileManager::defaultManager().readFile(path), garbage);

    defaults().setObject("MVLibraryApplicationLastLaunchedVersion", "1.3");
    ASSERT_TRUE(defaults().synchronize());
    EXPECT_EQ(asides(), std::vector<std::string>{garbage});
    EXPECT_EQ(fileContents(), nlohmann::json({{"MVLibraryApplicationLastLaunchedVersion", "1.3"}}));
    EXPECT_TRUE(logged("Unreadable user defaults file kept as " + path + ".corrupt-"));

    // A second corruption keeps the first aside as it was; only the three newest stay.
    for (std::string broken : {"second", "third", "fourth"}) {
        home_.write(path.substr(home_.path().size() + 1), broken);
        defaults().resetForTesting();
        defaults().setObject("k", 1);
        ASSERT_TRUE(defaults().synchronize());
        if (broken == "second") {
            EXPECT_EQ(asides(), (std::vector<std::string>{garbage, "second"}));
        }
    }
    EXPECT_EQ(asides(), (std::vector<std::string>{"second", "third", "fourth"}));
}

TEST_F(UserDefaultsTest, FileThatIsNoObjectIsCorruptToo) {
    home_.write(defaults().filePath().substr(home_.path().size() + 1), "[1, 2]");
    defaults().resetForTesting();
    EXPECT_EQ(defaults().objectForKey("0"), std::nullopt);
    EXPECT_TRUE(logged("is corrupt, starting with empty defaults: not a JSON object"));

    const std::string deep =
        R"({"a":)" + std::string(100'000, '[') + std::string(100'000, ']') + "}";
    home_.write(defaults().filePath().substr(home_.path().size() + 1), deep);
    defaults().resetForTesting();
    EXPECT_EQ(defaults().objectForKey("a"), std::nullopt);
    EXPECT_TRUE(logged("is corrupt, starting with empty defaults: nested deeper than 512 levels"));
}

TEST_F(UserDefaultsTest, WhatIsNoRegularFileIsDamagedUnreadAndTheOtherStoresStay) {
    if (!inBoundedChild()) return;
    auto& fm = FileManager::defaultManager();
    const std::string path = defaults().filePath();
    const std::string folder = path.substr(0, path.find_last_of('/'));
    const std::string outside = R"({"k": "outside"})";
    home_.write("outside.json", outside);
    const platform::KeychainItem secret{"service", "did", std::nullopt, "", "secret"};
    ASSERT_EQ(platform::Keychain::shared().add(secret), platform::KeychainStatus::Success);
    const std::string unread = "User defaults file " + path +
                               " could not be read, starting with empty defaults: Could not "
                               "read \"" +
                               path + "\": ";
    size_t round = 0;
    for (const auto& hostile :
         hostileFiles(UserDefaults::kMaxFileBytes, home_.file("outside.json"))) {
        SCOPED_TRACE(hostile.what);
        ++round;
        platform::advanceBy(1);  // asides are named by the time
        fm.removeItem(path);
        ASSERT_TRUE(fm.createDirectory(folder, true));
        ASSERT_TRUE(hostile.plant(path));
        defaults().resetForTesting();

        EXPECT_EQ(defaults().objectForKey("k"), std::nullopt);
        EXPECT_EQ(loggedCount(unread), round);
        EXPECT_TRUE(logged(unread + hostile.reason));
        // The first write sets it aside as it is, and writes a file of its own.
        defaults().setObject("k", "written");
        ASSERT_TRUE(defaults().synchronize());
        EXPECT_EQ(fileTypeAt(path), S_IFREG);
        EXPECT_EQ(fileContents(), nlohmann::json({{"k", "written"}}));
        std::vector<std::string> asides;
        for (const auto& name : fm.contentsOfDirectory(folder).value_or(std::vector<std::string>{}))
            if ((folder + "/" + name).starts_with(path + ".corrupt-")) asides.push_back(name);
        ASSERT_FALSE(asides.empty());
        EXPECT_EQ(fileTypeAt(folder + "/" + asides.back()), hostile.type);
        platform::KeychainItem kept;
        ASSERT_EQ(platform::Keychain::shared().copy({"service", "did", std::nullopt}, &kept),
                  platform::KeychainStatus::Success);
        EXPECT_EQ(kept.data, "secret");
    }
    EXPECT_EQ(fm.readFile(home_.file("outside.json")), outside);
}

TEST_F(UserDefaultsTest, FailedWriteIsReportedAndKeepsTheChanges) {
    // A plain file where the Preferences folder belongs.
    home_.write("Library/Preferences", "not a folder");
    defaults().setObject("k", 1);
    EXPECT_FALSE(defaults().synchronize());
    EXPECT_TRUE(logged("User defaults could not be written to"));
    EXPECT_EQ(defaults().integerForKey("k"), 1);
    // Once the way is clear the pending change goes out.
    ASSERT_TRUE(FileManager::defaultManager().removeItem(home_.file("Library/Preferences")));
    EXPECT_TRUE(defaults().synchronize());
    EXPECT_EQ(fileContents(), nlohmann::json({{"k", 1}}));
}

// --- Across processes -------------------------------------------------------

TEST(UserDefaultsChild, WriteThenSynchronize) {
    if (childRole() != "synchronize") GTEST_SKIP() << "runs as a child process only";
    auto& d = UserDefaults::standard();
    d.setObject("lastRunningApiPath", "/api/v3");
    d.setObject("MVStandardUserDefaultsCachedBootScript",
                {{"identifier", "boot-7"}, {"cmds", nlohmann::json::array({{{"c", "bootApp"}}})}});
    ASSERT_TRUE(d.synchronize());
}

TEST(UserDefaultsChild, WriteThenExit) {
    if (childRole() != "exit") GTEST_SKIP() << "runs as a child process only";
    UserDefaults::standard().setObject("written_at_exit", 42);
    std::exit(0);  // no synchronize: the exit handler writes
}

TEST(UserDefaultsChild, ReadWhatTheLastProcessWrote) {
    if (childRole() != "read") GTEST_SKIP() << "runs as a child process only";
    auto& d = UserDefaults::standard();
    EXPECT_EQ(d.stringForKey("lastRunningApiPath"), "/api/v3");
    EXPECT_EQ(d.integerForKey("written_at_exit"), 42);
    auto boot = d.objectForKey("MVStandardUserDefaultsCachedBootScript");
    ASSERT_TRUE(boot);
    EXPECT_EQ(platform::json::stringValue(*boot, "identifier"), "boot-7");
}

TEST(UserDefaultsChild, WriteForever) {
    if (childRole() != "write-forever") GTEST_SKIP() << "runs as a child process only";
    auto& d = UserDefaults::standard();
    // Large enough that a write in place would often be caught half done.
    for (int64_t i = 0;; ++i) {
        d.setObject("counter", i);
        d.setObject("payload", std::string(256 * 1024 + i % 4096, char('a' + i % 26)));
        d.synchronize();
    }
}

TEST_F(UserDefaultsTest, ValuesWrittenByOneProcessAreReadByTheNext) {
    ChildProcess writer("UserDefaultsChild.WriteThenSynchronize", "synchronize",
                        childEnvironment());
    ASSERT_EQ(writer.wait(), 0);
    ChildProcess exiting("UserDefaultsChild.WriteThenExit", "exit", childEnvironment());
    ASSERT_EQ(exiting.wait(), 0);
    ChildProcess reader("UserDefaultsChild.ReadWhatTheLastProcessWrote", "read",
                        childEnvironment());
    EXPECT_EQ(reader.wait(), 0);
    // And this process reads them too.
    defaults().resetForTesting();
    EXPECT_EQ(defaults().integerForKey("written_at_exit"), 42);
}

TEST_F(UserDefaultsTest, KilledWriterNeverLeavesATornFile) {
    auto& fm = FileManager::defaultManager();
    for (int round = 0; round < 3; ++round) {
        fm.removeItem(defaults().filePath());
        ChildProcess writer("UserDefaultsChild.WriteForever", "write-forever", childEnvironment());
        // Let it write a varying number of versions, then kill it mid-loop.
        const int64_t target = 3 + round * 7;
        ASSERT_TRUE(platform::runUntil(
            [&] {
                auto file = fileContents();
                return file && platform::json::integerValue(*file, "counter") >= target;
            },
            60));
        writer.kill(SIGKILL);
        EXPECT_EQ(writer.wait(), 128 + SIGKILL);

        auto text = fm.readFile(defaults().filePath());
        ASSERT_TRUE(text);
        auto parsed = platform::json::parse(*text);
        ASSERT_TRUE(parsed.ok()) << parsed.error;
        const int64_t counter = platform::json::integerValue(parsed.value, "counter");
        EXPECT_GE(counter, target);
        const auto payload = platform::json::stringValue(parsed.value, "payload");
        ASSERT_TRUE(payload);
        // Both values belong to the same version.
        EXPECT_EQ(payload->size(), size_t(256 * 1024 + counter % 4096));
        EXPECT_EQ(payload->front(), char('a' + counter % 26));
    }
}
