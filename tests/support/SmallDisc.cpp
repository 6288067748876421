#include "tests/support/SmallDisc.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

SmallDisc::SmallDisc(std::string folder, uint64_t bytes) : folder_(std::move(folder)) {
    std::error_code error;
    std::filesystem::create_directories(folder_, error);
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    if (::mount("tmpfs", folder_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0)
        mounted_ = true;
    else
        problem_ = std::string("a small disc cannot be mounted here (") + std::strerror(errno) +
                   "): the full-disc test needs the right to mount a tmpfs (root)";
}

SmallDisc::~SmallDisc() {
    if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
}

bool SmallDisc::fill(uint64_t room) {
    const std::string path = folder_ + "/fill";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    // From the start again: a second fill with more room gives the rest back.
    bool done = ::ftruncate(fd, 0) == 0;
    const std::vector<char> block(4096, '\x5a');
    while (done && freeBytes() > room) {
        const uint64_t over = freeBytes() - room;
        const auto size = static_cast<size_t>(std::min<uint64_t>(over, block.size()));
        const ssize_t wrote = ::write(fd, block.data(), size);
        if (wrote < 0) done = errno == ENOSPC && room == 0;
        if (wrote <= 0) break;
    }
    ::close(fd);
    return done && freeBytes() <= room;
}

void SmallDisc::makeRoom() {
    std::error_code error;
    std::filesystem::remove(folder_ + "/fill", error);
}

uint64_t SmallDisc::freeBytes() const {
    struct statvfs info {};
    if (::statvfs(folder_.c_str(), &info) != 0) return 0;
    return static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
}
