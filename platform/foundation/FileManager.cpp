#include "platform/foundation/FileManager.h"

#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/RegularFile.h"

namespace platform {
namespace fs = std::filesystem;

namespace {

struct RootState {
    std::mutex mutex;
    std::string overrideRoot;
};
RootState& rootState() {
    static auto* s = new RootState;
    return *s;
}

void setError(Error* error, int err, std::string_view what, const std::string& path) {
    if (!error) return;
    std::string description = fmt::format("{} \"{}\": {}", what, path, std::strerror(err));
    if (err == EEXIST)
        *error = Error(kCocoaErrorDomain, kFileWriteFileExistsError, std::move(description));
    else if (err == ENOENT)
        *error = Error(kCocoaErrorDomain, kFileNoSuchFileError, std::move(description));
    else
        *error = Error(kPOSIXErrorDomain, err, std::move(description));
}

bool lexists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

// A move or copy needs its source and must not replace anything.
bool canTransfer(const std::string& from, const std::string& to, std::string_view what,
                 Error* error) {
    if (!lexists(from)) {
        setError(error, ENOENT, what, from);
        return false;
    }
    if (lexists(to)) {
        setError(error, EEXIST, what, to);
        return false;
    }
    return true;
}

std::string parentOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

std::string homeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/tmp";
}

std::string ensureDirectory(std::string path) {
    std::error_code ec;
    fs::create_directories(path, ec);
    if (ec) PLATFORM_LOG_ERROR("Could not create the folder \"{}\": {}", path, ec.message());
    return path;
}

}  // namespace

FileManager& FileManager::defaultManager() {
    // Resets of the shared instances keep a test's root: the test's folder owns it.
    static auto* manager = new FileManager;
    return *manager;
}

bool FileManager::isSafePathComponent(std::string_view name) {
    return !name.empty() && name.find_first_of(std::string_view("/\\\0", 3)) == name.npos &&
           name.find("..") == name.npos;
}

std::string FileManager::applicationIdentifier() {
    std::string identifier = Bundle::main().bundleIdentifier();
    if (isSafePathComponent(identifier)) return identifier;
    if (!identifier.empty()) {
        // Warned once per value: the identifier is asked for on every path.
        static std::mutex mutex;
        static std::string warned;
        std::lock_guard lock(mutex);
        if (warned != identifier) {
            warned = identifier;
            PLATFORM_LOG_WARN(
                "Bundle identifier \"{}\" cannot name a folder; using the program's name",
                log::escaped(identifier));
        }
    }
    std::string exe = executablePath();
    return exe.substr(exe.find_last_of('/') + 1);
}

std::string FileManager::executablePath() {
    char buffer[4096];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n))
                 : std::string(program_invocation_name);
}

std::string FileManager::rootDirectory() const {
    {
        std::lock_guard lock(rootState().mutex);
        if (!rootState().overrideRoot.empty()) return rootState().overrideRoot;
    }
    if (const char* home = std::getenv("MEROVANE_HOME"); home && *home) return home;
    std::string data;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && xdg[0] == '/')
        data = xdg;
    else
        data = homeDirectory() + "/.local/share";
    return data + "/" + applicationIdentifier();
}

std::string FileManager::documentsDirectory() const {
    return ensureDirectory(rootDirectory() + "/Documents");
}

std::string FileManager::cachesDirectory() const {
    return ensureDirectory(rootDirectory() + "/Library/Caches");
}

std::string FileManager::libraryDirectory() const {
    return rootDirectory() + "/Library";
}

bool FileManager::fileExists(const std::string& path, bool* isDirectory) const {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return false;
    if (isDirectory) *isDirectory = S_ISDIR(st.st_mode);
    return true;
}

bool FileManager::createDirectory(const std::string& path, bool withIntermediates, Error* error) {
    if (!withIntermediates) {
        if (::mkdir(path.c_str(), 0755) == 0) return true;
        setError(error, errno, "Could not create the folder", path);
        return false;
    }
    bool isDirectory = false;
    if (fileExists(path, &isDirectory)) {
        if (isDirectory) return true;
        setError(error, EEXIST, "Could not create the folder", path);
        return false;
    }
    std::error_code ec;
    fs::create_directories(path, ec);
    // Another thread or process may have made it meanwhile.
    if (ec && !(fileExists(path, &isDirectory) && isDirectory)) {
        setError(error, ec.value(), "Could not create the folder", path);
        return false;
    }
    return true;
}

bool FileManager::removeItem(const std::string& path, Error* error) {
    if (!lexists(path)) {
        setError(error, ENOENT, "Could not remove", path);
        return false;
    }
    std::error_code ec;
    fs::remove_all(path, ec);
    if (ec) {
        setError(error, ec.value(), "Could not remove", path);
        return false;
    }
    return true;
}

bool FileManager::moveItem(const std::string& from, const std::string& to, Error* error) {
    if (!canTransfer(from, to, "Could not move", error)) return false;
    if (::rename(from.c_str(), to.c_str()) == 0) return true;
    if (errno != EXDEV) {
        setError(error, errno, "Could not move", from);
        return false;
    }
    // Another file system: copy, then remove the original.
    return copyItem(from, to, error) && removeItem(from, error);
}

bool FileManager::copyItem(const std::string& from, const std::string& to, Error* error) {
    if (!canTransfer(from, to, "Could not copy", error)) return false;
    std::error_code ec;
    fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
    if (ec) {
        setError(error, ec.value(), "Could not copy", from);
        return false;
    }
    return true;
}

std::optional<std::vector<std::string>> FileManager::contentsOfDirectory(const std::string& path,
                                                                         Error* error) const {
    std::error_code ec;
    std::vector<std::string> names;
    for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    if (ec) {
        setError(error, ec.value(), "Could not list", path);
        return std::nullopt;
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<std::string> FileManager::readFile(const std::string& path, size_t maxBytes,
                                                 Error* error) const {
    RegularFileRead read = tryReadRegularFile(path, maxBytes);
    switch (read.outcome) {
        case RegularFileRead::Read:
            return std::move(read.bytes);
        case RegularFileRead::Missing:
        case RegularFileRead::Failed:
            setError(error, read.errorNumber, "Could not read", path);
            return std::nullopt;
        case RegularFileRead::Link:
        case RegularFileRead::NotRegular:
        case RegularFileRead::TooLarge:
            break;
    }
    if (error) {
        *error = Error(kCocoaErrorDomain,
                       read.outcome == RegularFileRead::TooLarge ? kFileReadTooLargeError
                                                                 : kFileReadCorruptFileError,
                       fmt::format("Could not read \"{}\": {}", path, read.whyNot));
    }
    return std::nullopt;
}

std::optional<std::string> FileManager::readFile(const std::string& path, Error* error) const {
    return readFile(path, kDefaultMaxReadBytes, error);
}

bool FileManager::isDamagedFileError(const Error& error) {
    return error.domain() == kCocoaErrorDomain &&
           (error.code() == kFileReadCorruptFileError || error.code() == kFileReadTooLargeError);
}

bool FileManager::writeFileAtomically(const std::string& path, std::string_view bytes, Error* error,
                                      unsigned mode) {
    static std::atomic<unsigned> counter{0};
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = fmt::format("{}.tmp-{}-{}", path, ::getpid(), counter++);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        setError(error, errno, "Could not write", path);
        return false;
    }
    if (!writeAll(fd, bytes) || ::fsync(fd) != 0) {
        int err = errno;
        ::close(fd);
        ::unlink(temp.c_str());
        setError(error, err, "Could not write", path);
        return false;
    }
    if (::close(fd) != 0 || ::rename(temp.c_str(), path.c_str()) != 0) {
        int err = errno;
        ::unlink(temp.c_str());
        setError(error, err, "Could not write", path);
        return false;
    }
    // The rename itself must reach the disc too.
    if (int dir = ::open(parentOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

std::optional<FileAttributes> FileManager::attributes(const std::string& path, Error* error) const {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        setError(error, errno, "Could not read the attributes of", path);
        return std::nullopt;
    }
    FileAttributes a;
    a.size = static_cast<uint64_t>(st.st_size);
    a.modificationDate = Date(static_cast<double>(st.st_mtim.tv_sec) + st.st_mtim.tv_nsec / 1e9);
    a.isDirectory = S_ISDIR(st.st_mode);
    return a;
}

void FileManager::setRootDirectoryForTesting(std::string root) {
    std::lock_guard lock(rootState().mutex);
    rootState().overrideRoot = std::move(root);
}

}  // namespace platform

namespace platform {

std::optional<std::string> FileManager::moveAside(const std::string& path,
                                                  const std::vector<std::string>& companionSuffixes,
                                                  size_t keep, Error* error) {
    const std::string folder = parentOf(path);
    const std::string prefix = path.substr(path.find_last_of('/') + 1) + ".corrupt-";
    // UTC time to the millisecond; a name in use moves on by a millisecond, so that
    // names sort by age and no aside replaces another.
    auto ms = static_cast<int64_t>(Clock::wallSeconds() * 1000);
    std::string aside;
    for (;; ++ms) {
        const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
        std::tm utc{};
        ::gmtime_r(&seconds, &utc);
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%S", &utc);
        aside = fmt::format("{}/{}{}.{:03}Z", folder, prefix, stamp, ms % 1000);
        bool taken = lexists(aside);
        for (const auto& suffix : companionSuffixes) taken = taken || lexists(aside + suffix);
        if (!taken) break;
    }
    if (!moveItem(path, aside, error)) return std::nullopt;
    for (const auto& suffix : companionSuffixes)
        if (lexists(path + suffix)) moveItem(path + suffix, aside + suffix);

    if (auto names = contentsOfDirectory(folder)) {
        std::vector<std::string> asides;
        for (const auto& name : *names) {
            if (name.rfind(prefix, 0) != 0) continue;
            const bool companion = std::any_of(
                companionSuffixes.begin(), companionSuffixes.end(),
                [&](const std::string& s) { return name.size() > s.size() && name.ends_with(s); });
            if (!companion) asides.push_back(name);
        }
        std::sort(asides.begin(), asides.end());
        for (size_t i = 0; i + keep < asides.size(); ++i) {
            const std::string old = folder + "/" + asides[i];
            removeItem(old);
            for (const auto& suffix : companionSuffixes) removeItem(old + suffix);
        }
    }
    return aside;
}

}  // namespace platform
