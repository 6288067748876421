#include "platform/foundation/RegularFile.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

namespace {

RegularFileRead refuse(RegularFileRead::Outcome outcome, std::string reason, int err = 0) {
    RegularFileRead read;
    read.outcome = outcome;
    read.whyNot = std::move(reason);
    read.errorNumber = err;
    return read;
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

RegularFileRead tryReadRegularFile(const std::string& path, size_t maxBytes) {
    using R = RegularFileRead;
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        const int err = errno;
        if (err == ELOOP) return refuse(R::Link, "a symbolic link");
        return refuse(err == ENOENT ? R::Missing : R::Failed,
                      fmt::format("cannot be opened ({})", std::strerror(err)), err);
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        const int err = errno;
        return refuse(R::Failed, fmt::format("cannot be examined ({})", std::strerror(err)), err);
    }
    if (!S_ISREG(info.st_mode)) return refuse(R::NotRegular, "not a regular file");
    if (info.st_size < 0 || static_cast<unsigned long long>(info.st_size) > maxBytes) {
        return refuse(R::TooLarge, fmt::format("{} bytes, more than the {} expected",
                                               static_cast<long long>(info.st_size), maxBytes));
    }
    RegularFileRead read;
    read.bytes.reserve(static_cast<size_t>(info.st_size));
    char buffer[65536];
    for (;;) {
        // One byte past the limit tells a file that grew from one that fits.
        size_t left = maxBytes - read.bytes.size();
        ssize_t n = ::read(fd.get(), buffer, left < sizeof buffer ? left + 1 : sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            return refuse(R::Failed, fmt::format("cannot be read ({})", std::strerror(err)), err);
        }
        if (static_cast<size_t>(n) > left) {
            return refuse(R::TooLarge, fmt::format("more than the {} bytes expected", maxBytes));
        }
        read.bytes.append(buffer, static_cast<size_t>(n));
    }
    return read;
}

std::optional<std::string> readRegularFile(const std::string& path, size_t maxBytes,
                                           std::string* whyNot, bool* missing) {
    RegularFileRead read = tryReadRegularFile(path, maxBytes);
    if (missing) *missing = read.outcome == RegularFileRead::Missing;
    if (read.outcome == RegularFileRead::Read) return std::move(read.bytes);
    if (whyNot) *whyNot = std::move(read.whyNot);
    return std::nullopt;
}

}  // namespace platform
