#include "platform/foundation/RegularFile.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

namespace {

std::optional<std::string> fail(std::string* whyNot, std::string reason) {
    if (whyNot) *whyNot = std::move(reason);
    return std::nullopt;
}

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

}  // namespace

std::optional<std::string> readRegularFile(const std::string& path, size_t maxBytes,
                                           std::string* whyNot, bool* missing) {
    if (missing) *missing = false;
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        int err = errno;
        if (err == ENOENT && missing) *missing = true;
        if (err == ELOOP) return fail(whyNot, "a symbolic link");
        return fail(whyNot, fmt::format("cannot be opened ({})", std::strerror(err)));
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        return fail(whyNot, fmt::format("cannot be examined ({})", std::strerror(errno)));
    }
    if (!S_ISREG(info.st_mode)) return fail(whyNot, "not a regular file");
    if (info.st_size < 0 || static_cast<unsigned long long>(info.st_size) > maxBytes) {
        return fail(whyNot, fmt::format("{} bytes, more than the {} expected",
                                        static_cast<long long>(info.st_size), maxBytes));
    }
    std::string bytes;
    bytes.reserve(static_cast<size_t>(info.st_size));
    char buffer[65536];
    for (;;) {
        // One byte past the limit tells a file that grew from one that fits.
        size_t left = maxBytes - bytes.size();
        ssize_t n = ::read(fd.get(), buffer, left < sizeof buffer ? left + 1 : sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(whyNot, fmt::format("cannot be read ({})", std::strerror(errno)));
        }
        if (static_cast<size_t>(n) > left) {
            return fail(whyNot, fmt::format("more than the {} bytes expected", maxBytes));
        }
        bytes.append(buffer, static_cast<size_t>(n));
    }
    return bytes;
}

}  // namespace platform
