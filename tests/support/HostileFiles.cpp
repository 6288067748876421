#include "tests/support/HostileFiles.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <utility>

#include "tests/support/ChildProcess.h"

namespace {

constexpr const char* kBoundedRole = "bounded";
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
constexpr bool kSanitized = __has_feature(address_sanitizer) || __has_feature(thread_sanitizer);
#else
constexpr bool kSanitized = false;
#endif

// The sanitizers' own memory bound, added to what the environment asks of them.
std::pair<std::string, std::string> sanitizerLimit(const char* name, size_t dataBytes) {
    const char* given = std::getenv(name);
    std::string options = given && *given ? std::string(given) + ":" : std::string();
    return {name, options + "hard_rss_limit_mb=" + std::to_string(dataBytes >> 20)};
}

}  // namespace

std::vector<HostileFile> hostileFiles(size_t maxBytes, const std::string& linkTarget) {
    return {
        {"a link to an endless device",
         [](const std::string& path) { return ::symlink("/dev/zero", path.c_str()) == 0; },
         "a symbolic link", S_IFLNK},
        {"a link to a readable file",
         [linkTarget](const std::string& path) {
             return ::symlink(linkTarget.c_str(), path.c_str()) == 0;
         },
         "a symbolic link", S_IFLNK},
        {"a FIFO nobody writes",
         [](const std::string& path) { return ::mkfifo(path.c_str(), 0600) == 0; },
         "not a regular file", S_IFIFO},
        {"a folder", [](const std::string& path) { return ::mkdir(path.c_str(), 0700) == 0; },
         "not a regular file", S_IFDIR},
        {"a file one byte too large",
         [maxBytes](const std::string& path) {
             const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
             if (fd < 0) return false;
             const bool grown = ::ftruncate(fd, static_cast<off_t>(maxBytes) + 1) == 0;
             ::close(fd);
             return grown;
         },
         std::to_string(maxBytes + 1) + " bytes, more than the", S_IFREG},
    };
}

mode_t fileTypeAt(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? (info.st_mode & S_IFMT) : 0;
}

bool inBoundedChild(unsigned seconds, size_t dataBytes) {
    if (childRole() == kBoundedRole) {
        // A sanitizer's shadow memory alone is far above any such limit: it keeps its own.
        if (!kSanitized) {
            const rlimit limit{dataBytes, dataBytes};
            EXPECT_EQ(::setrlimit(RLIMIT_DATA, &limit), 0);
        }
        ::alarm(seconds);  // its default action ends the child
        return true;
    }
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    ChildProcess child(
        std::string(test->test_suite_name()) + "." + test->name(), kBoundedRole,
        {sanitizerLimit("ASAN_OPTIONS", dataBytes), sanitizerLimit("TSAN_OPTIONS", dataBytes)});
    const int status = child.wait();
    EXPECT_EQ(status, 0) << (status == 128 + SIGALRM ? "the child ran out of time"
                                                     : "the child failed; its output is above");
    return false;
}
