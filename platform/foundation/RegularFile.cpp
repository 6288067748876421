#include "platform/foundation/RegularFile.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

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
    int release() { return std::exchange(fd_, -1); }

  private:
    int fd_;
};

// Opens `path` with `flags` added to no link followed, no wait and close-on-exec. Answers the
// descriptor of a regular file, its status in `info`, or -1 and why in `refusal`.
int openRegular(const std::string& path, int flags, mode_t mode, struct stat& info,
                RegularFileRead& refusal) {
    using R = RegularFileRead;
    FileDescriptor fd(::open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode));
    if (fd.get() < 0) {
        const int err = errno;
        if (err == ELOOP)
            refusal = refuse(R::Link, "a symbolic link");
        else if (err == EISDIR)  // asked for writing
            refusal = refuse(R::NotRegular, "not a regular file");
        else
            refusal = refuse(err == ENOENT ? R::Missing : R::Failed,
                             fmt::format("cannot be opened ({})", std::strerror(err)), err);
        return -1;
    }
    if (::fstat(fd.get(), &info) != 0) {
        const int err = errno;
        refusal =
            refuse(R::Failed, fmt::format("cannot be examined ({})", std::strerror(err)), err);
        return -1;
    }
    if (!S_ISREG(info.st_mode)) {
        refusal = refuse(R::NotRegular, "not a regular file");
        return -1;
    }
    return fd.release();
}

}  // namespace

RegularFileRead tryReadRegularFile(const std::string& path, size_t maxBytes) {
    using R = RegularFileRead;
    struct stat info {};
    RegularFileRead refusal;
    FileDescriptor fd(openRegular(path, O_RDONLY, 0, info, refusal));
    if (fd.get() < 0) return refusal;
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

int openSingleRegularFile(const std::string& path, int flags, mode_t mode, std::string* whyNot) {
    struct stat info {};
    RegularFileRead refusal;
    FileDescriptor fd(openRegular(path, flags, mode, info, refusal));
    if (fd.get() < 0) {
        if (whyNot) *whyNot = std::move(refusal.whyNot);
        return -1;
    }
    if (info.st_nlink != 1) {
        if (whyNot)
            *whyNot =
                fmt::format("{} hard links, not one", static_cast<unsigned long>(info.st_nlink));
        return -1;
    }
    return fd.release();
}

}  // namespace platform
