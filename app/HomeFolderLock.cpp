#include "app/HomeFolderLock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <string_view>
#include <thread>

#include "libmerovane/core/MVLog.h"
#include "platform/foundation/FileManager.h"

namespace {

// How often a start that waits for the holder to end tries again.
constexpr std::chrono::milliseconds kRetryTime{20};

// The process id a holder wrote, or 0: digits and a line end, nothing else.
pid_t readHolder(int fd) {
    char text[32];
    const ssize_t size = ::pread(fd, text, sizeof text, 0);
    if (size <= 0 || static_cast<size_t>(size) == sizeof text) return 0;
    std::string_view digits(text, static_cast<size_t>(size));
    if (digits.back() == '\n') digits.remove_suffix(1);
    pid_t pid = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), pid);
    return error == std::errc() && end == digits.data() + digits.size() && pid > 0 ? pid : 0;
}

}  // namespace

HomeFolderLock::HomeFolderLock(const std::string& folder) : path_(folder + "/" + kFileName) {
    platform::Error error;
    if (!platform::FileManager::defaultManager().createDirectory(folder, true, &error)) {
        problem_ = "the folder cannot be made: " + error.localizedDescription();
        return;
    }
    take();
}

bool HomeFolderLock::waitForHolder(std::chrono::milliseconds bound) {
    const auto end = std::chrono::steady_clock::now() + bound;
    while (state_ == State::HeldElsewhere) {
        take();
        if (state_ != State::HeldElsewhere || std::chrono::steady_clock::now() >= end) break;
        std::this_thread::sleep_for(kRetryTime);
    }
    return state_ == State::Held;
}

bool HomeFolderLock::heldElsewhere() const {
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return false;
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    const bool held = ::fcntl(fd, F_OFD_GETLK, &whole) == 0 && whole.l_type != F_UNLCK;
    ::close(fd);
    return held;
}

void HomeFolderLock::take() {
    state_ = State::Failed;
    holder_ = 0;
    // Never through a link, and no waiting on something that is no file.
    const int fd =
        ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0) {
        problem_ = errno == ELOOP    ? std::string("it is a link")
                   : errno == EISDIR ? std::string("it is no regular file")
                                     : std::strerror(errno);
        return;
    }
    struct stat info {};
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        problem_ = "it is no regular file";
    } else if (info.st_nlink > 1) {
        // The pid would be written into every file that shares it.
        problem_ = "it is a hard link";
    } else if (::fcntl(fd, F_OFD_SETLK, &whole) == 0) {
        // Kept open until the process ends, past the writes at exit.
        state_ = State::Held;
        const std::string pid = std::to_string(::getpid()) + "\n";
        if (::ftruncate(fd, 0) != 0 ||
            ::pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size()))
            MVLogWarn("The home folder's lock {} does not name this process: {}", path_,
                      std::strerror(errno));
        return;
    } else if (errno == EAGAIN || errno == EACCES) {
        state_ = State::HeldElsewhere;
        holder_ = readHolder(fd);
    } else {
        problem_ = std::strerror(errno);
    }
    ::close(fd);
}
