#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <functional>
#include <nlohmann/json.hpp>

#include "platform/foundation/FileManager.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/Keychain.h"
#include "platform/foundation/UserDefaults.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/HostileFiles.h"
#include "tests/support/PlatformTest.h"
#include "tests/support/TempDir.h"

using platform::Keychain;
using platform::KeychainItem;
using platform::KeychainQuery;
using platform::KeychainStatus;

namespace {

constexpr const char* kService = "com.example.shop.libmerovane";
const std::string kBinarySecret("\0\x01\xFFsecret\n", 10);

class KeychainTest : public PlatformTest {
  protected:
    Keychain& keychain() { return Keychain::shared(); }
    ChildProcess::Environment childEnvironment() { return {{"MEROVANE_HOME", home_.path()}}; }
    static KeychainItem item(std::string account, std::string data,
                             std::optional<std::string> group = std::nullopt) {
        return {kService, std::move(account), std::move(group),
                platform::kKeychainAccessibleAfterFirstUnlockThisDeviceOnly, std::move(data)};
    }
    static KeychainQuery query(std::string account) {
        return {kService, std::move(account), std::nullopt};
    }

    TempDir home_;
};

}  // namespace

TEST_F(KeychainTest, ItemsRoundTripWithTheirAttributes) {
    ASSERT_EQ(keychain().add(item("mv-connection-var:did", kBinarySecret)),
              KeychainStatus::Success);
    KeychainItem out;
    ASSERT_EQ(keychain().copy(query("mv-connection-var:did"), &out), KeychainStatus::Success);
    EXPECT_EQ(out.service, kService);
    EXPECT_EQ(out.account, "mv-connection-var:did");
    EXPECT_EQ(out.data, kBinarySecret);
    EXPECT_EQ(out.accessibility, "AfterFirstUnlockThisDeviceOnly");
    EXPECT_EQ(out.accessGroup, keychain().defaultAccessGroup());

    EXPECT_EQ(keychain().update(query("mv-connection-var:did"), "new"), KeychainStatus::Success);
    ASSERT_EQ(keychain().copy(query("mv-connection-var:did"), &out), KeychainStatus::Success);
    EXPECT_EQ(out.data, "new");
    EXPECT_EQ(keychain().remove(query("mv-connection-var:did")), KeychainStatus::Success);
    EXPECT_EQ(keychain().copy(query("mv-connection-var:did"), &out), KeychainStatus::ItemNotFound);

    EXPECT_EQ(TempDir::permissions(keychain().filePath()), 0600u);
    EXPECT_EQ(TempDir::permissions(home_.file("Library/Keychains")), 0700u);
}

TEST_F(KeychainTest, DefaultGroupIsSeedDotApplicationIdentifier) {
    const std::string group = keychain().defaultAccessGroup();
    const auto dot = group.find('.');
    ASSERT_EQ(dot, 10u) << group;
    for (char c : group.substr(0, dot)) EXPECT_TRUE(std::isupper(c) || std::isdigit(c)) << group;
    EXPECT_EQ(group.substr(dot + 1), platform::FileManager::applicationIdentifier());
    EXPECT_EQ(keychain().defaultAccessGroup(), group);  // made once, then kept
}

TEST_F(KeychainTest, ItemsAreKeyedByServiceAccountAndGroup) {
    EXPECT_EQ(keychain().add(item("a", "private")), KeychainStatus::Success);
    EXPECT_EQ(keychain().add(item("a", "again")), KeychainStatus::DuplicateItem);
    EXPECT_EQ(keychain().add(item("a", "shared", "SEED.com.example.shared")),
              KeychainStatus::Success);

    KeychainItem out;
    ASSERT_EQ(keychain().copy({kService, "a", "SEED.com.example.shared"}, &out),
              KeychainStatus::Success);
    EXPECT_EQ(out.data, "shared");
    ASSERT_EQ(keychain().copy(query("a"), &out), KeychainStatus::Success);
    EXPECT_EQ(out.data, "private");  // the first added
    EXPECT_EQ(keychain().copy({"other.service", "a", std::nullopt}, &out),
              KeychainStatus::ItemNotFound);

    // A query that names only the service reaches both.
    EXPECT_EQ(keychain().update({kService, std::nullopt, std::nullopt}, "both"),
              KeychainStatus::Success);
    ASSERT_EQ(keychain().copy({kService, "a", "SEED.com.example.shared"}, &out),
              KeychainStatus::Success);
    EXPECT_EQ(out.data, "both");
    EXPECT_EQ(keychain().remove({kService, std::nullopt, std::nullopt}), KeychainStatus::Success);
    EXPECT_EQ(keychain().remove(query("a")), KeychainStatus::ItemNotFound);
    EXPECT_EQ(keychain().update(query("a"), "x"), KeychainStatus::ItemNotFound);
}

TEST_F(KeychainTest, NotFoundIsNoFailureButInjectedFailuresSurface) {
    KeychainItem out;
    out.data = "untouched";
    EXPECT_EQ(keychain().copy(query("absent"), &out), KeychainStatus::ItemNotFound);
    EXPECT_EQ(out.data, "untouched");
    ASSERT_EQ(keychain().add(item("k", "v")), KeychainStatus::Success);

    keychain().injectFailure(KeychainStatus::InteractionNotAllowed, 2);
    EXPECT_EQ(keychain().copy(query("k"), &out), KeychainStatus::InteractionNotAllowed);
    EXPECT_EQ(keychain().update(query("k"), "lost"), KeychainStatus::InteractionNotAllowed);
    EXPECT_EQ(keychain().copy(query("k"), &out), KeychainStatus::Success);  // two calls used up
    EXPECT_EQ(out.data, "v");  // the failed update changed nothing

    keychain().injectFailure(KeychainStatus::Failure);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(keychain().remove(query("k")), KeychainStatus::Failure);
    keychain().injectFailure(std::nullopt);
    EXPECT_EQ(keychain().remove(query("k")), KeychainStatus::Success);
}

TEST_F(KeychainTest, CorruptFileIsKeptAsideAndReadAsEmpty) {
    const std::string path = keychain().filePath();
    const std::string torn = R"({"seed": "ABC", "items": [{"service": 1)";
    home_.write("Library/Keychains/keychain.json", torn);
    KeychainItem out;
    EXPECT_EQ(keychain().copy(query("k"), &out), KeychainStatus::ItemNotFound);
    EXPECT_TRUE(logged("Keychain " + path + " is corrupt, kept as " + path + ".corrupt-"));
    auto names = platform::FileManager::defaultManager().contentsOfDirectory(
        home_.file("Library/Keychains"));
    ASSERT_TRUE(names);
    auto aside = std::find_if(names->begin(), names->end(),
                              [](auto& n) { return n.starts_with("keychain.json.corrupt-"); });
    ASSERT_NE(aside, names->end());
    EXPECT_EQ(
        platform::FileManager::defaultManager().readFile(home_.file("Library/Keychains/" + *aside)),
        torn);
    EXPECT_EQ(keychain().add(item("k", "v")), KeychainStatus::Success);
    EXPECT_EQ(keychain().copy(query("k"), &out), KeychainStatus::Success);
}

TEST_F(KeychainTest, WhatIsNoRegularFileIsSetAsideUnreadAndTheOtherStoresStay) {
    if (!inBoundedChild()) return;
    auto& fm = platform::FileManager::defaultManager();
    const std::string path = keychain().filePath();
    const std::string folder = home_.file("Library/Keychains");
    // A file the keychain would read, holding an item.
    ASSERT_EQ(keychain().add(item("k", "outside")), KeychainStatus::Success);
    ASSERT_TRUE(fm.moveItem(path, home_.file("outside.json")));
    const std::string outside = *fm.readFile(home_.file("outside.json"));
    platform::UserDefaults::standard().setObject("kept", 1);
    ASSERT_TRUE(platform::UserDefaults::standard().synchronize());
    const std::string corrupt = "Keychain " + path + " is corrupt, kept as " + path + ".corrupt-";
    size_t round = 0;
    for (const auto& hostile : hostileFiles(Keychain::kMaxFileBytes, home_.file("outside.json"))) {
        SCOPED_TRACE(hostile.what);
        ++round;
        platform::advanceBy(1);  // asides are named by the time
        fm.removeItem(path);
        ASSERT_TRUE(hostile.plant(path));

        KeychainItem out;
        EXPECT_EQ(keychain().copy(query("k"), &out), KeychainStatus::ItemNotFound);
        EXPECT_EQ(loggedCount(corrupt), round);
        EXPECT_TRUE(
            logged("and starting empty: Could not read \"" + path + "\": " + hostile.reason));
        std::vector<std::string> asides;
        for (const auto& name : fm.contentsOfDirectory(folder).value_or(std::vector<std::string>{}))
            if (name.starts_with("keychain.json.corrupt-")) asides.push_back(name);
        ASSERT_FALSE(asides.empty());
        EXPECT_EQ(fileTypeAt(folder + "/" + asides.back()), hostile.type);
        EXPECT_EQ(fileTypeAt(path), 0u);

        ASSERT_EQ(keychain().add(item("k", "v")), KeychainStatus::Success);
        EXPECT_EQ(fileTypeAt(path), S_IFREG);
        EXPECT_EQ(TempDir::permissions(path), 0600u);
        ASSERT_EQ(keychain().copy(query("k"), &out), KeychainStatus::Success);
        EXPECT_EQ(out.data, "v");
        platform::UserDefaults::standard().resetForTesting();
        EXPECT_EQ(platform::UserDefaults::standard().integerForKey("kept"), 1);
    }
    EXPECT_EQ(fm.readFile(home_.file("outside.json")), outside);
}

TEST_F(KeychainTest, AFileNested100000DeepIsCorruptNotACrash) {
    home_.write("Library/Keychains/keychain.json", R"({"seed": "ABC", "items": )" +
                                                       std::string(100'000, '[') +
                                                       std::string(100'000, ']') + "}");
    KeychainItem out;
    EXPECT_EQ(keychain().copy(query("k"), &out), KeychainStatus::ItemNotFound);
    EXPECT_TRUE(logged("Keychain " + keychain().filePath() + " is corrupt"));
    EXPECT_EQ(keychain().add(item("k", "v")), KeychainStatus::Success);
}

TEST_F(KeychainTest, AnItemLackingAFieldIsDroppedAloneAndTheRestStays) {
    ASSERT_EQ(keychain().add(item("a", "first")), KeychainStatus::Success);
    ASSERT_EQ(keychain().add(item("b", "second")), KeychainStatus::Success);
    const std::string group = keychain().defaultAccessGroup();
    auto file = platform::json::parse(
        *platform::FileManager::defaultManager().readFile(keychain().filePath()));
    ASSERT_TRUE(file.ok());
    file.value["items"][0].erase("data");
    file.value["items"].push_back("not an item");
    home_.write("Library/Keychains/keychain.json", platform::json::print(file.value));

    KeychainItem out;
    EXPECT_EQ(keychain().copy(query("a"), &out), KeychainStatus::ItemNotFound);
    ASSERT_EQ(keychain().copy(query("b"), &out), KeychainStatus::Success);
    EXPECT_EQ(out.data, "second");
    EXPECT_EQ(keychain().defaultAccessGroup(), group);  // the seed is kept
    EXPECT_TRUE(logged("Keychain item 0 lacks its service, account, group or data; dropped"));
    EXPECT_TRUE(logged("Keychain item 2 lacks"));
    EXPECT_FALSE(logged("is corrupt"));
}

TEST_F(KeychainTest, UnwritableStoreFails) {
    home_.write("Library/Keychains", "a file where the folder belongs");
    EXPECT_EQ(keychain().add(item("k", "v")), KeychainStatus::Failure);
    EXPECT_EQ(keychain().defaultAccessGroup(), "");
    EXPECT_TRUE(logged("Keychain folder"));
}

// In the lock file's place: a link to a file outside (there or not), a hard link to one, a
// folder or a FIFO. The call fails with a line; nothing outside is made, changed or locked;
// the items are all there once the lock file is sound again.
TEST_F(KeychainTest, ALockFileThatIsNoSingleRegularFileIsRefusedAndTheItemsStay) {
    if (!inBoundedChild(30)) return;  // a lock taken through the link waits for ever
    auto& fm = platform::FileManager::defaultManager();
    ASSERT_EQ(keychain().add(item("k", "kept")), KeychainStatus::Success);
    const std::string stored = *fm.readFile(keychain().filePath());
    const std::string lock = home_.file("Library/Keychains/keychain.lock");
    const std::string outside = home_.file("outside");
    auto outsideFile = [&] {
        home_.write("outside", "precious");
        return true;
    };
    struct Row {
        const char* what;
        std::function<bool()> plant;
        const char* reason;
    };
    const Row rows[] = {
        {"a link to no file", [&] { return ::symlink(outside.c_str(), lock.c_str()) == 0; },
         "a symbolic link"},
        {"a link to a file",
         [&] { return outsideFile() && ::symlink(outside.c_str(), lock.c_str()) == 0; },
         "a symbolic link"},
        {"a hard link to a file",
         [&] { return outsideFile() && ::link(outside.c_str(), lock.c_str()) == 0; },
         "2 hard links, not one"},
        {"a folder", [&] { return ::mkdir(lock.c_str(), 0700) == 0; }, "not a regular file"},
        {"a FIFO", [&] { return ::mkfifo(lock.c_str(), 0600) == 0; }, "not a regular file"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        fm.removeItem(lock);
        fm.removeItem(outside);
        ASSERT_TRUE(row.plant());
        const bool hadOutside = fileTypeAt(outside) != 0;
        // Held here: a keychain that locked the outside file would wait.
        const int held = hadOutside ? ::open(outside.c_str(), O_RDONLY | O_CLOEXEC) : -1;
        if (held >= 0) {
            ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
        }

        EXPECT_EQ(keychain().add(item("new", "x")), KeychainStatus::Failure);
        EXPECT_TRUE(logged("Keychain " + keychain().filePath() + " could not be locked: " + lock +
                           ": " + row.reason));
        if (held >= 0) ::close(held);
        EXPECT_EQ(fm.readFile(outside),
                  hadOutside ? std::optional<std::string>("precious") : std::nullopt);
        EXPECT_EQ(fm.readFile(keychain().filePath()), stored);

        ASSERT_TRUE(fm.removeItem(lock));  // the refusal is gone
        KeychainItem out;
        ASSERT_EQ(keychain().copy(query("k"), &out), KeychainStatus::Success);
        EXPECT_EQ(out.data, "kept");
        EXPECT_EQ(keychain().copy(query("new"), &out), KeychainStatus::ItemNotFound);
        EXPECT_EQ(fileTypeAt(lock), S_IFREG);
    }
}

// --- Across processes -------------------------------------------------------

TEST(KeychainChild, ReadParentItemAndAddOwn) {
    if (childRole() != "keychain-read") GTEST_SKIP() << "runs as a child process only";
    auto& k = Keychain::shared();
    KeychainItem out;
    ASSERT_EQ(k.copy({kService, "from-parent", std::nullopt}, &out), KeychainStatus::Success);
    EXPECT_EQ(out.data, kBinarySecret);
    EXPECT_EQ(out.accessGroup, std::getenv("EXPECTED_GROUP"));
    EXPECT_EQ(k.defaultAccessGroup(), std::getenv("EXPECTED_GROUP"));
    ASSERT_EQ(k.add({kService, "from-child", std::nullopt, "", "child data"}),
              KeychainStatus::Success);
}

TEST(KeychainChild, AddMany) {
    if (childRole() != "keychain-add-many") GTEST_SKIP() << "runs as a child process only";
    const std::string prefix = std::getenv("ACCOUNT_PREFIX");
    for (int i = 0; i < 25; ++i)
        ASSERT_EQ(
            Keychain::shared().add({kService, prefix + std::to_string(i), std::nullopt, "", "x"}),
            KeychainStatus::Success);
}

TEST_F(KeychainTest, ItemsRoundTripAcrossProcesses) {
    ASSERT_EQ(keychain().add(item("from-parent", kBinarySecret)), KeychainStatus::Success);
    auto env = childEnvironment();
    env.emplace_back("EXPECTED_GROUP", keychain().defaultAccessGroup());
    ChildProcess child("KeychainChild.ReadParentItemAndAddOwn", "keychain-read", env);
    ASSERT_EQ(child.wait(), 0);
    KeychainItem out;
    ASSERT_EQ(keychain().copy(query("from-child"), &out), KeychainStatus::Success);
    EXPECT_EQ(out.data, "child data");
    EXPECT_EQ(out.accessGroup, keychain().defaultAccessGroup());
    EXPECT_EQ(TempDir::permissions(keychain().filePath()), 0600u);
}

TEST_F(KeychainTest, ConcurrentProcessesLoseNoItems) {
    auto env = [&](const char* prefix) {
        auto e = childEnvironment();
        e.emplace_back("ACCOUNT_PREFIX", prefix);
        return e;
    };
    ChildProcess a("KeychainChild.AddMany", "keychain-add-many", env("a"));
    ChildProcess b("KeychainChild.AddMany", "keychain-add-many", env("b"));
    for (int i = 0; i < 25; ++i)
        ASSERT_EQ(keychain().add(item("parent" + std::to_string(i), "x")), KeychainStatus::Success);
    ASSERT_EQ(a.wait(), 0);
    ASSERT_EQ(b.wait(), 0);
    KeychainItem out;
    for (const char* prefix : {"a", "b", "parent"})
        for (int i = 0; i < 25; ++i)
            EXPECT_EQ(keychain().copy(query(prefix + std::to_string(i)), &out),
                      KeychainStatus::Success)
                << prefix << i;
}
