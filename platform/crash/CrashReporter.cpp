#include "platform/crash/CrashReporter.h"

#include <cxxabi.h>
#include <execinfo.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <sstream>
#include <typeinfo>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/RegularFile.h"
#include "platform/foundation/SharedInstances.h"

namespace platform {

namespace {

constexpr int kCapturedSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP, SIGSYS};
constexpr size_t kSignalCount = std::size(kCapturedSignals);
constexpr const char* kPendingPrefix = "pending-";
constexpr const char* kReportSuffix = ".mvcrash";
constexpr const char* kAsideMark = ".mvcrash.corrupt-";
constexpr size_t kKeptAsides = 3;
// Pending names carry 16 digits, so that they sort as their numbers do.
constexpr int64_t kLastPendingNumber = 9'999'999'999'999'999;
// An alternate stack smaller than this (or none) is replaced by one of kAltStackSize.
constexpr size_t kMinAltStackSize = 64 * 1024;
constexpr size_t kAltStackSize = 256 * 1024;

// What the handlers read: filled while enabling, constant afterwards.
struct HandlerState {
    char livePath[PATH_MAX] = {};
    long pid = 0;
    int64_t processStartMillis = 0;
    struct sigaction previous[kSignalCount] = {};
    std::terminate_handler previousTerminate = nullptr;
    // The thread writing the report; 0 while nobody does.
    std::atomic<pid_t> writer{0};
    std::atomic<bool> installed{false};
};
HandlerState g;

std::mutex& storeMutex() {
    static auto* mutex = new std::mutex;
    return *mutex;
}

// The report loadPendingCrashReport answered last and no purge removed yet; under the
// store's mutex.
std::string& loadedPath() {
    static auto* path = new std::string;
    return *path;
}

pid_t currentThreadId() {
    return static_cast<pid_t>(::syscall(SYS_gettid));
}

enum class Claim { First, Mine, Other };

Claim claimWriter() {
    const pid_t self = currentThreadId();
    pid_t expected = 0;
    if (g.writer.compare_exchange_strong(expected, self)) return Claim::First;
    return expected == self ? Claim::Mine : Claim::Other;
}

void restoreDefaultActions() {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int signal : kCapturedSignals) ::sigaction(signal, &action, nullptr);
}

bool writeToFd(void* context, const char* bytes, size_t length) {
    const int fd = *static_cast<int*>(context);
    while (length) {
        const ssize_t n = ::write(fd, bytes, length);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

// Async-signal-safe: backtrace was loaded while enabling, the rest are system calls.
bool writeLiveReport(CrashRecordFields& fields) {
    void* raw[kMaxCrashFrames];
    const int count = ::backtrace(raw, kMaxCrashFrames);
    uint64_t frames[kMaxCrashFrames];
    for (int i = 0; i < count; ++i) frames[i] = reinterpret_cast<uintptr_t>(raw[i]);
    fields.pid = g.pid;
    fields.processStartMillis = g.processStartMillis;
    fields.frames = frames;
    fields.frameCount = count;
    // A link planted at the report's name is not followed.
    int fd = ::open(g.livePath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    bool written = writeCrashRecord(fields, writeToFd, &fd);
    written = ::fsync(fd) == 0 && written;
    ::close(fd);
    return written;
}

void onSignal(int signal, siginfo_t* info, void*) {
    const int savedErrno = errno;
    const Claim claim = claimWriter();
    if (claim == Claim::Other) {
        // Another thread is writing the report; its raise ends the process.
        struct timespec pause {
            0, 10'000'000
        };
        for (int i = 0; i < 300; ++i) ::nanosleep(&pause, nullptr);
    }
    // From here a second fault, in this handler too, ends the process at once.
    restoreDefaultActions();
    if (claim == Claim::First) {
        CrashRecordFields fields;
        fields.signalName = crashSignalName(signal);
        fields.signalCode = info ? info->si_code : 0;
        // Only a fault the kernel reports carries an address.
        if (info && info->si_code > 0 && info->si_code != SI_KERNEL)
            fields.address = reinterpret_cast<uintptr_t>(info->si_addr);
        writeLiveReport(fields);
    }
    errno = savedErrno;
    // Blocked while the handler runs: the default action takes it on return.
    ::raise(signal);
}

std::string currentExceptionTypeName() {
    const std::type_info* type = abi::__cxa_current_exception_type();
    if (!type) return "unknown";
    int status = 0;
    char* demangled = abi::__cxa_demangle(type->name(), nullptr, nullptr, &status);
    std::string name = status == 0 && demangled ? demangled : type->name();
    std::free(demangled);
    return name;
}

bool writeExceptionReport(const std::string& name, const std::string& reason) {
    CrashRecordFields fields;
    fields.exceptionName = name.data();
    fields.exceptionNameLength = name.size();
    fields.exceptionReason = reason.data();
    fields.exceptionReasonLength = reason.size();
    return writeLiveReport(fields);
}

[[noreturn]] void onTerminate() {
    try {
        if (std::exception_ptr current = std::current_exception()) {
            std::string name, reason;
            try {
                std::rethrow_exception(current);
            } catch (const Exception& e) {
                name = e.name();
                reason = e.reason();
            } catch (const std::exception& e) {
                name = currentExceptionTypeName();
                reason = e.what();
            } catch (...) {
                name = currentExceptionTypeName();
            }
            // The claim stays: the abort that follows must not write over this report.
            if (claimWriter() == Claim::First) writeExceptionReport(name, reason);
        }
    } catch (...) {
    }
    if (g.previousTerminate) g.previousTerminate();
    std::abort();
}

// The wall time the process started, from the kernel's boot time and the process's
// start in clock ticks after it.
int64_t processStartMillis() {
    std::ifstream statFile("/proc/self/stat");
    std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
    std::ifstream bootFile("/proc/stat");
    std::string line;
    long long bootSeconds = -1;
    while (std::getline(bootFile, line))
        if (line.rfind("btime ", 0) == 0) bootSeconds = std::atoll(line.c_str() + 6);
    const size_t close = stat.rfind(')');
    const long ticks = ::sysconf(_SC_CLK_TCK);
    if (close != std::string::npos && bootSeconds > 0 && ticks > 0) {
        // Fields after the name start at the third; the start time is the 22nd.
        std::istringstream fields(stat.substr(close + 1));
        std::string field;
        for (int i = 3; i <= 22 && fields >> field; ++i) {
            if (i != 22) continue;
            const long long startTicks = std::atoll(field.c_str());
            if (startTicks >= 0) return bootSeconds * 1000 + startTicks * 1000 / ticks;
        }
    }
    return static_cast<int64_t>(Clock::wallSeconds() * 1000);
}

Error posixError(int code, const std::string& what) {
    return Error(kPOSIXErrorDomain, code, what + ": " + std::strerror(code));
}

bool installAltStack(Error* error) {
    stack_t current{};
    if (::sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE) &&
        current.ss_size >= kMinAltStackSize)
        return true;
    void* memory =
        ::mmap(nullptr, kAltStackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) {
        *error = posixError(errno, "Could not allocate the signal stack");
        return false;
    }
    stack_t stack{};
    stack.ss_sp = memory;
    stack.ss_size = kAltStackSize;
    if (::sigaltstack(&stack, nullptr) != 0) {
        *error = posixError(errno, "Could not install the signal stack");
        ::munmap(memory, kAltStackSize);
        return false;
    }
    return true;  // stays for the life of the process
}

// A file, folder or link (dangling too) at `path`.
bool anythingAt(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

std::vector<std::string> pendingPaths(const std::string& folder) {
    std::vector<std::string> paths;
    auto names = FileManager::defaultManager().contentsOfDirectory(folder);
    for (const auto& name : names.value_or(std::vector<std::string>{}))
        if (name.starts_with(kPendingPrefix) && name.ends_with(kReportSuffix))
            paths.push_back(folder + "/" + name);
    return paths;  // sorted: oldest first
}

// The number of a pending report's name, when it is one this store writes.
std::optional<int64_t> pendingNumber(const std::string& folder, const std::string& path) {
    const size_t from = folder.size() + 1 + std::strlen(kPendingPrefix);
    const size_t to = path.size() - std::strlen(kReportSuffix);
    if (to <= from) return std::nullopt;
    int64_t number = 0;
    const auto [end, problem] = std::from_chars(path.data() + from, path.data() + to, number);
    if (problem != std::errc() || end != path.data() + to || number < 0 ||
        number > kLastPendingNumber)
        return std::nullopt;
    return number;
}

// A name for the previous run's report: numbered after every pending one when the
// numbers leave room, never over an existing file.
std::string newPendingPath(const std::string& folder) {
    auto ms = std::clamp<int64_t>(static_cast<int64_t>(Clock::wallSeconds() * 1000), 0,
                                  kLastPendingNumber);
    for (const auto& path : pendingPaths(folder))
        if (const auto number = pendingNumber(folder, path); number && *number < kLastPendingNumber)
            ms = std::max(ms, *number + 1);
    for (;; ++ms) {
        char name[64];
        std::snprintf(name, sizeof name, "%s%016lld%s", kPendingPrefix, static_cast<long long>(ms),
                      kReportSuffix);
        const std::string path = folder + "/" + name;
        if (!anythingAt(path)) return path;
    }
}

// Keeps the newest asides of all damaged reports together.
void pruneAsides(const std::string& folder) {
    auto& fm = FileManager::defaultManager();
    std::vector<std::pair<std::string, std::string>> asides;  // (time, name)
    for (const auto& name : fm.contentsOfDirectory(folder).value_or(std::vector<std::string>{}))
        if (const size_t mark = name.find(kAsideMark); mark != std::string::npos)
            asides.emplace_back(name.substr(mark + std::strlen(kAsideMark)), name);
    std::sort(asides.begin(), asides.end());
    for (size_t i = 0; i + kKeptAsides < asides.size(); ++i)
        fm.removeItem(folder + "/" + asides[i].second);
}

bool install(Error* error) {
    auto& fm = FileManager::defaultManager();
    const std::string folder = CrashReporter::reportsDirectory();
    if (!fm.createDirectory(folder, true, error)) return false;
    const std::string live = folder + "/" + CrashReporter::kLiveReportName;
    if (live.size() >= sizeof g.livePath) {
        *error = posixError(ENAMETOOLONG, "Could not use " + live);
        return false;
    }
    if (anythingAt(live) && !fm.moveItem(live, newPendingPath(folder), error)) return false;

    std::memcpy(g.livePath, live.c_str(), live.size() + 1);
    g.pid = ::getpid();
    g.processStartMillis = processStartMillis();
    g.writer = 0;
    // The first call loads the unwinder, which allocates; the handler must not.
    void* frames[4];
    ::backtrace(frames, 4);
    if (!installAltStack(error)) return false;

    struct sigaction action {};
    action.sa_sigaction = onSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int signal : kCapturedSignals) sigaddset(&action.sa_mask, signal);
    for (size_t i = 0; i < kSignalCount; ++i) {
        if (::sigaction(kCapturedSignals[i], &action, &g.previous[i]) != 0) {
            *error = posixError(errno, "Could not install the signal handlers");
            for (size_t j = 0; j < i; ++j)
                ::sigaction(kCapturedSignals[j], &g.previous[j], nullptr);
            return false;
        }
    }
    g.previousTerminate = std::set_terminate(onTerminate);
    if (g.previousTerminate == onTerminate) g.previousTerminate = nullptr;
    g.installed = true;
    return true;
}

// The oldest pending report that reads and parses; the ones before it are set aside.
std::optional<CrashReport> firstReadablePending(const std::string& folder) {
    auto& fm = FileManager::defaultManager();
    for (const auto& path : pendingPaths(folder)) {
        std::string problem;
        bool missing = false;
        // Not a link, a FIFO or a device: only a regular file, and no more than a record.
        const auto bytes = readRegularFile(path, kMaxCrashRecordSize, &problem, &missing);
        if (missing) continue;  // gone since the folder was listed
        if (bytes) {
            if (auto report = parseCrashReport(*bytes, &problem)) {
                report->path = path;
                return report;
            }
        }
        // Left in place it would come first again: the reports after it still count.
        Error error;
        const auto aside = fm.moveAside(path, {}, kKeptAsides, &error);
        if (!aside) {
            PLATFORM_LOG_ERROR("Unreadable crash report {} ({}) could not be moved aside: {}",
                               log::escaped(path), log::escaped(problem),
                               error.localizedDescription());
            continue;
        }
        PLATFORM_LOG_WARN("Unreadable crash report {} ({}) kept as {}", log::escaped(path),
                          log::escaped(problem), log::escaped(*aside));
        pruneAsides(folder);
    }
    return std::nullopt;
}

}  // namespace

CrashReporter& CrashReporter::shared() {
    static CrashReporter* reporter = [] {
        auto* made = new CrashReporter();
        registerSharedInstanceReset("CrashReporter", [made] { made->resetForTesting(); });
        return made;
    }();
    return *reporter;
}

std::string CrashReporter::reportsDirectory() {
    return FileManager::defaultManager().libraryDirectory() + "/CrashReports";
}

bool CrashReporter::enable(Error* error) {
    std::lock_guard lock(storeMutex());
    if (g.installed) return true;
    Error failure;
    if (install(&failure)) return true;
    PLATFORM_LOG_WARN(kEnableFailureFormat, failure.localizedDescription());
    if (error) *error = failure;
    return false;
}

bool CrashReporter::isEnabled() const {
    return g.installed;
}

bool CrashReporter::writeReport(const std::string& exceptionName, const std::string& reason) {
    if (!g.installed || claimWriter() != Claim::First) return false;
    const bool written = writeExceptionReport(exceptionName, reason);
    g.writer = 0;
    return written;
}

bool CrashReporter::hasPendingCrashReport() const {
    std::lock_guard lock(storeMutex());
    return !pendingPaths(reportsDirectory()).empty();
}

std::optional<CrashReport> CrashReporter::loadPendingCrashReport() {
    std::lock_guard lock(storeMutex());
    auto report = firstReadablePending(reportsDirectory());
    loadedPath() = report ? report->path : std::string();
    return report;
}

bool CrashReporter::purgePendingCrashReport(Error* error) {
    std::lock_guard lock(storeMutex());
    std::string path = loadedPath();
    if (path.empty()) {
        const auto report = firstReadablePending(reportsDirectory());
        if (!report) return true;
        path = report->path;
    }
    Error failure;
    auto& fm = FileManager::defaultManager();
    if (!fm.removeItem(path, &failure) && anythingAt(path)) {
        if (error) *error = failure;
        return false;
    }
    loadedPath().clear();
    return true;
}

bool CrashReporter::setPendingCrashReportAside(Error* error) {
    std::lock_guard lock(storeMutex());
    const std::string path = loadedPath();
    if (path.empty()) {
        if (error) *error = posixError(ENOENT, "No crash report loaded");
        return false;
    }
    Error failure;
    const auto aside = FileManager::defaultManager().moveAside(path, {}, kKeptAsides, &failure);
    if (!aside) {
        if (error) *error = failure;
        return false;
    }
    pruneAsides(reportsDirectory());
    loadedPath().clear();
    return true;
}

void CrashReporter::resetForTesting() {
    std::lock_guard lock(storeMutex());
    loadedPath().clear();
    if (!g.installed) return;
    for (size_t i = 0; i < kSignalCount; ++i)
        ::sigaction(kCapturedSignals[i], &g.previous[i], nullptr);
    if (g.previousTerminate) std::set_terminate(g.previousTerminate);
    g.previousTerminate = nullptr;
    g.writer = 0;
    g.installed = false;
}

}  // namespace platform
