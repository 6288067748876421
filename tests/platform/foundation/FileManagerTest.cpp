#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "platform/foundation/Base64.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/SharedInstances.h"
#include "tests/support/HostileFiles.h"
#include "tests/support/TempDir.h"

using platform::Error;
using platform::FileManager;

namespace {

class FileManagerTest : public ::testing::Test {
  protected:
    FileManager& fm() { return FileManager::defaultManager(); }
    TempDir home_;
};

}  // namespace

TEST_F(FileManagerTest, FoldersLieBelowTheRootAndExist) {
    EXPECT_EQ(fm().rootDirectory(), home_.path());
    EXPECT_EQ(fm().documentsDirectory(), home_.file("Documents"));
    EXPECT_EQ(fm().cachesDirectory(), home_.file("Library/Caches"));
    EXPECT_EQ(fm().libraryDirectory(), home_.file("Library"));
    for (const char* folder : {"Documents", "Library/Caches"}) {
        bool isDirectory = false;
        EXPECT_TRUE(fm().fileExists(home_.file(folder), &isDirectory) && isDirectory) << folder;
    }
}

// A test that starts the application again inside itself keeps writing below its own
// folder, never into the shared home of the user.
TEST_F(FileManagerTest, ResettingSharedInstancesKeepsTheTestsRoot) {
    platform::resetSharedInstancesForTesting();
    EXPECT_EQ(fm().rootDirectory(), home_.path());
}

TEST_F(FileManagerTest, RootComesFromTheEnvironmentWithoutOverride) {
    fm().setRootDirectoryForTesting({});
    const char* saved = std::getenv("MEROVANE_HOME");
    std::string previous = saved ? saved : "";
    ::setenv("MEROVANE_HOME", home_.file("env-home").c_str(), 1);
    EXPECT_EQ(fm().rootDirectory(), home_.file("env-home"));
    ::unsetenv("MEROVANE_HOME");
    ::setenv("XDG_DATA_HOME", home_.file("xdg").c_str(), 1);
    EXPECT_EQ(fm().rootDirectory(), home_.file("xdg/" + FileManager::applicationIdentifier()));
    ::unsetenv("XDG_DATA_HOME");
    if (saved) ::setenv("MEROVANE_HOME", previous.c_str(), 1);
}

TEST_F(FileManagerTest, CreateDirectoryReportsTheFileSystemsAnswer) {
    struct Row {
        std::string path;
        bool intermediates;
        bool ok;
        std::string domain;
        long code;
    };
    home_.write("file", "x");
    ASSERT_TRUE(fm().createDirectory(home_.file("dir"), false));
    const Row rows[] = {
        {home_.file("a/b/c"), true, true, "", 0},
        {home_.file("a/b/c"), true, true, "", 0},                      // exists: fine
        {home_.file("dir"), false, false, "NSCocoaErrorDomain", 516},  // exists, no intermediates
        {home_.file("file"), true, false, "NSCocoaErrorDomain", 516},  // a file stands there
        {home_.file("x/y"), false, false, "NSCocoaErrorDomain", 4},    // no parent
        {home_.file("file/sub"), true, false, "NSPOSIXErrorDomain", ENOTDIR},
    };
    for (const auto& row : rows) {
        Error error;
        EXPECT_EQ(fm().createDirectory(row.path, row.intermediates, &error), row.ok) << row.path;
        EXPECT_EQ(error.domain(), row.domain) << row.path;
        EXPECT_EQ(error.code(), row.code) << row.path;
        if (!row.ok) {
            EXPECT_NE(error.localizedDescription().find(row.path), std::string::npos);
        }
    }
    EXPECT_FALSE(fm().createDirectory(home_.file("dir"), false, nullptr));  // no error asked
}

TEST_F(FileManagerTest, RemoveMoveAndCopyWholeTrees) {
    home_.write("tree/a.txt", "A");
    home_.write("tree/sub/b.txt", "B");
    Error error;
    ASSERT_TRUE(fm().copyItem(home_.file("tree"), home_.file("copy"), &error))
        << error.localizedDescription();
    EXPECT_EQ(fm().readFile(home_.file("copy/sub/b.txt")), "B");
    EXPECT_FALSE(fm().copyItem(home_.file("tree"), home_.file("copy"), &error));
    EXPECT_EQ(error.code(), platform::kFileWriteFileExistsError);

    EXPECT_FALSE(fm().moveItem(home_.file("tree"), home_.file("copy"), &error));
    EXPECT_EQ(error.code(), platform::kFileWriteFileExistsError);
    ASSERT_TRUE(fm().moveItem(home_.file("tree"), home_.file("moved"), &error));
    EXPECT_FALSE(fm().fileExists(home_.file("tree")));
    EXPECT_EQ(fm().readFile(home_.file("moved/a.txt")), "A");

    ASSERT_TRUE(fm().removeItem(home_.file("moved"), &error));
    EXPECT_FALSE(fm().fileExists(home_.file("moved")));
    EXPECT_FALSE(fm().removeItem(home_.file("moved"), &error));
    EXPECT_EQ(error.domain(), platform::kCocoaErrorDomain);
    EXPECT_EQ(error.code(), platform::kFileNoSuchFileError);
    EXPECT_FALSE(fm().moveItem(home_.file("nothing"), home_.file("else"), &error));
    EXPECT_EQ(error.code(), platform::kFileNoSuchFileError);
}

TEST_F(FileManagerTest, ContentsAreSortedNames) {
    home_.write("d/b", "");
    home_.write("d/a", "");
    home_.write("d/c/x", "");
    EXPECT_EQ(fm().contentsOfDirectory(home_.file("d")), (std::vector<std::string>{"a", "b", "c"}));
    Error error;
    EXPECT_EQ(fm().contentsOfDirectory(home_.file("none"), &error), std::nullopt);
    EXPECT_EQ(error.code(), platform::kFileNoSuchFileError);
}

TEST_F(FileManagerTest, AtomicWriteReplacesWholeFilesAndLeavesNoTemporaries) {
    const std::string path = home_.file("data.bin");
    const std::string bytes("\0\x01\xFFtext", 7);
    Error error;
    ASSERT_TRUE(fm().writeFileAtomically(path, bytes, &error)) << error.localizedDescription();
    EXPECT_EQ(fm().readFile(path), bytes);
    ASSERT_TRUE(fm().writeFileAtomically(path, "second", &error, 0600));
    EXPECT_EQ(fm().readFile(path), "second");
    EXPECT_EQ(TempDir::permissions(path), 0600u);
    EXPECT_EQ(fm().contentsOfDirectory(home_.path()), (std::vector<std::string>{"data.bin"}));

    EXPECT_FALSE(fm().writeFileAtomically(home_.file("missing/x"), "x", &error));
    EXPECT_EQ(error.code(), platform::kFileNoSuchFileError);
    EXPECT_EQ(fm().readFile(home_.file("missing/x"), &error), std::nullopt);
    EXPECT_EQ(error.code(), platform::kFileNoSuchFileError);
}

TEST_F(FileManagerTest, ReadsOnlyARegularFileWithinItsBound) {
    if (!inBoundedChild()) return;
    constexpr size_t kBound = 1000;
    home_.write("fits", std::string(kBound, 'x'));
    EXPECT_EQ(fm().readFile(home_.file("fits"), kBound), std::string(kBound, 'x'));
    Error error;
    EXPECT_EQ(fm().readFile(home_.file("missing"), kBound, &error), std::nullopt);
    EXPECT_EQ(error.code(), platform::kFileNoSuchFileError);
    EXPECT_FALSE(FileManager::isDamagedFileError(error));
    for (const auto& hostile : hostileFiles(kBound, home_.file("fits"))) {
        SCOPED_TRACE(hostile.what);
        const std::string path = home_.file("planted");
        fm().removeItem(path);
        ASSERT_TRUE(hostile.plant(path));
        EXPECT_EQ(fm().readFile(path, kBound, &error), std::nullopt);
        EXPECT_TRUE(FileManager::isDamagedFileError(error));
        EXPECT_EQ(error.code(), hostile.type == S_IFREG ? platform::kFileReadTooLargeError
                                                        : platform::kFileReadCorruptFileError);
        EXPECT_EQ(error.localizedDescription(),
                  "Could not read \"" + path + "\": " + hostile.reason +
                      (hostile.type == S_IFREG ? " 1000 expected" : ""));
    }
    // The form without a bound has one all the same.
    ASSERT_EQ(::symlink("/dev/zero", home_.file("zero").c_str()), 0);
    EXPECT_EQ(fm().readFile(home_.file("zero"), &error), std::nullopt);
    EXPECT_TRUE(FileManager::isDamagedFileError(error));
}

TEST_F(FileManagerTest, AttributesGiveSizeKindAndDate) {
    home_.write("f", "12345");
    auto a = fm().attributes(home_.file("f"));
    ASSERT_TRUE(a);
    EXPECT_EQ(a->size, 5u);
    EXPECT_FALSE(a->isDirectory);
    // File times come from the file system, not from the test's manual clock.
    EXPECT_NEAR(a->modificationDate.timeIntervalSince1970(), double(std::time(nullptr)), 60);
    EXPECT_TRUE(fm().attributes(home_.path())->isDirectory);
    EXPECT_EQ(fm().attributes(home_.file("none")), std::nullopt);
}

TEST(Base64Test, EncodesAndDecodesStrictly) {
    const std::pair<std::string, std::string> rows[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {std::string("\0\xFF\xFE", 3), "AP/+"},
    };
    for (const auto& [bytes, text] : rows) {
        EXPECT_EQ(platform::base64Encode(bytes), text);
        EXPECT_EQ(platform::base64Decode(text), bytes);
    }
    for (const char* bad : {"Zg=", "Z===", "Zg=a", "Zm9v!A==", "Zg==Zg==", "Zm8\n"})
        EXPECT_EQ(platform::base64Decode(bad), std::nullopt) << bad;
}
