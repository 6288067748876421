#include <cerrno>

#include "libmerovane/core/FileManagerExtensions.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/FileManager.h"
#include "tests/support/PlatformTest.h"
#include "tests/support/TempDir.h"

namespace {
class FileManagerExtensionsTest : public PlatformTest {
  protected:
    bool isDirectory(const std::string& path) {
        bool directory = false;
        return platform::FileManager::defaultManager().fileExists(path, &directory) && directory;
    }
    TempDir home_;
};
}  // namespace

TEST_F(FileManagerExtensionsTest, CreatesMissingFoldersOnTheWay) {
    const std::string path = home_.file("Library/Caches/libmerovane/webcache");
    platform::Error error;
    EXPECT_TRUE(makeSurePathExists(path, &error));
    EXPECT_TRUE(isDirectory(path));
    EXPECT_TRUE(logged("Making sure path exists: \"" + path + "\""));
}

TEST_F(FileManagerExtensionsTest, AnExistingDirectoryKeepsItsFilesAndAPlainFileBecomesOne) {
    home_.write("cache/entry", "bytes");
    EXPECT_TRUE(makeSurePathExists(home_.file("cache")));
    EXPECT_EQ(platform::FileManager::defaultManager().readFile(home_.file("cache/entry")), "bytes");
    EXPECT_FALSE(logged("Making sure path exists"));
    home_.write("localization", "not a folder");
    EXPECT_TRUE(makeSurePathExists(home_.file("localization")));
    EXPECT_TRUE(isDirectory(home_.file("localization")));
}

TEST_F(FileManagerExtensionsTest, FailureIsHandedOutOnlyWhenAsked) {
    home_.write("blocker", "a file where a folder on the way should be");
    const std::string path = home_.file("blocker/sub/dir");
    platform::Error error;
    EXPECT_FALSE(makeSurePathExists(path, &error));
    EXPECT_EQ(error.domain(), platform::kPOSIXErrorDomain);
    EXPECT_EQ(error.code(), ENOTDIR);
    EXPECT_FALSE(isDirectory(path));
    EXPECT_FALSE(logged("already been created"));
    EXPECT_FALSE(makeSurePathExists(path, nullptr));  // no error pointer: nothing written
}
