#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/foundation/RegularFile.h"
#include "tests/support/TempDir.h"

using platform::readRegularFile;

namespace {

struct Outcome {
    std::optional<std::string> bytes;
    std::string whyNot;
    bool missing = true;
};

Outcome read(const std::string& path, size_t maxBytes) {
    Outcome out;
    out.bytes = readRegularFile(path, maxBytes, &out.whyNot, &out.missing);
    return out;
}

}  // namespace

TEST(RegularFileTest, ReadsARegularFileUpToTheLimit) {
    TempDir dir;
    dir.write("a", "hello");
    for (size_t limit : {size_t{5}, size_t{6}, SIZE_MAX}) {
        Outcome out = read(dir.file("a"), limit);
        EXPECT_EQ(out.bytes, "hello") << limit;
        EXPECT_FALSE(out.missing);
    }
    dir.write("empty", "");
    EXPECT_EQ(read(dir.file("empty"), 0).bytes, "");
}

TEST(RegularFileTest, ALargerFileIsRefusedUnread) {
    TempDir dir;
    dir.write("a", std::string(100000, 'x'));
    Outcome out = read(dir.file("a"), 99999);
    EXPECT_FALSE(out.bytes);
    EXPECT_NE(out.whyNot.find("more than"), std::string::npos) << out.whyNot;
    EXPECT_FALSE(out.missing);
}

TEST(RegularFileTest, OnlyAMissingFileIsMissing) {
    TempDir dir;
    Outcome out = read(dir.file("none"), 10);
    EXPECT_FALSE(out.bytes);
    EXPECT_TRUE(out.missing);
    EXPECT_FALSE(out.whyNot.empty());
}

TEST(RegularFileTest, LinksFifosDevicesAndFoldersAreRefused) {
    TempDir dir;
    dir.write("outside", "secret");
    ASSERT_EQ(::symlink(dir.file("outside").c_str(), dir.file("link").c_str()), 0);
    ASSERT_EQ(::symlink("/dev/zero", dir.file("zero").c_str()), 0);
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    ASSERT_EQ(::mkdir(dir.file("folder").c_str(), 0700), 0);
    struct Case {
        std::string path;
        const char* why;
    } cases[] = {
        {dir.file("link"), "symbolic link"},        {dir.file("zero"), "symbolic link"},
        {dir.file("fifo"), "not a regular file"},   {"/dev/zero", "not a regular file"},
        {dir.file("folder"), "not a regular file"},
    };
    for (const Case& c : cases) {
        Outcome out = read(c.path, SIZE_MAX);
        EXPECT_FALSE(out.bytes) << c.path;
        EXPECT_FALSE(out.missing) << c.path;
        EXPECT_NE(out.whyNot.find(c.why), std::string::npos) << c.path << ": " << out.whyNot;
    }
}
