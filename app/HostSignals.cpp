#include "app/HostSignals.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "libmerovane/core/MVLog.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/Application.h"

namespace {

// Stays open while the process lives: a handler may still be writing on another thread
// while the watch ends.
int gSignalPipe[2] = {-1, -1};

void writeSignal(int number) {
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(number);
    [[maybe_unused]] auto written = ::write(gSignalPipe[1], &byte, 1);
    errno = savedErrno;
}

// What /proc/<pid>/stat tells after the command name.
struct ProcessStat {
    char state = '?';
    pid_t parent = 0;
    pid_t group = 0;
};

std::optional<ProcessStat> readProcessStat(pid_t pid) {
    const std::string path = "/proc/" + std::to_string(pid) + "/stat";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    char text[1024];
    const ssize_t size = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (size <= 0) return std::nullopt;
    text[size] = '\0';
    // The name, in parentheses, may hold anything.
    const char* end = std::strrchr(text, ')');
    ProcessStat stat;
    if (!end || std::sscanf(end + 1, " %c %d %d", &stat.state, &stat.parent, &stat.group) != 3)
        return std::nullopt;
    return stat;
}

// Sends SIGCONT to `pid` when it is still a stopped child of `parent` in `group`; the
// process descriptor keeps the id from naming another process in between.
bool continueIfStopped(pid_t pid, pid_t parent, pid_t group) {
    const int process = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (process < 0) return false;
    const auto stat = readProcessStat(pid);
    const bool stopped = stat && stat->state == 'T' && stat->parent == parent &&
                         stat->group == group &&
                         ::syscall(SYS_pidfd_send_signal, process, SIGCONT, nullptr, 0) == 0;
    ::close(process);
    return stopped;
}

// A stop of the whole process group, as a terminal's Ctrl-Z sends it, stops the engine's
// processes while the shell takes SIGTSTP and runs on: the shell continues its own
// processes in its group that are stopped, and no others of the group.
void continueStoppedProcesses() {
    std::unordered_map<pid_t, std::vector<pid_t>> children;
    DIR* proc = ::opendir("/proc");
    if (!proc) return;
    while (const dirent* entry = ::readdir(proc)) {
        const std::string_view name = entry->d_name;
        pid_t pid = 0;
        if (std::from_chars(name.data(), name.data() + name.size(), pid).ptr !=
            name.data() + name.size())
            continue;
        if (const auto stat = readProcessStat(pid)) children[stat->parent].push_back(pid);
    }
    ::closedir(proc);
    const pid_t group = ::getpgrp();
    int continued = 0;
    std::vector<pid_t> parents = {::getpid()};
    while (!parents.empty()) {
        const pid_t parent = parents.back();
        parents.pop_back();
        const auto found = children.find(parent);
        if (found == children.end()) continue;
        for (const pid_t child : found->second) {
            continued += continueIfStopped(child, parent, group) ? 1 : 0;
            parents.push_back(child);
        }
    }
    if (continued > 0)
        MVLogInfo("Continued {} of the shell's processes stopped with it", continued);
}

constexpr int kSignals[] = {SIGTSTP, SIGCONT, SIGINT, SIGTERM};

// Main thread: whether SIGTSTP sent the application to the background.
bool gInBackgroundOnSignal = false;

// On the main loop.
void handle(int number) {
    auto& application = platform::Application::shared();
    switch (number) {
        case SIGTSTP:
            if (application.applicationState() == platform::ApplicationState::Background) {
                MVLogInfo("Staying in the background on SIGTSTP");
                break;
            }
            MVLogInfo("Entering the background on SIGTSTP");
            gInBackgroundOnSignal = true;
            application.enterBackground();
            break;
        case SIGCONT:
            if (!std::exchange(gInBackgroundOnSignal, false)) {
                MVLogInfo(
                    "Staying as it is on SIGCONT: no SIGTSTP sent the shell to the "
                    "background");
                break;
            }
            MVLogInfo("Entering the foreground on SIGCONT");
            application.enterForeground();
            break;
        default:
            MVLogInfo("Stopping on a termination signal");
            platform::RunLoop::main().stop();
    }
}

// On the signal thread: what SIGCONT should wake is continued before the main loop hears
// of it, as the main thread may be waiting on one of those processes.
void take(int number) {
    try {
        if (number == SIGCONT) continueStoppedProcesses();
    } catch (const std::exception& error) {
        MVLogError("The shell's stopped processes were not continued: {}", error.what());
    }
    try {
        platform::RunLoop::main().post([number] { handle(number); });
    } catch (const std::exception& error) {
        MVLogError("Signal {} not handled: {}", number, error.what());
    }
}

}  // namespace

struct HostSignals::Impl {
    int stop = -1;  // an eventfd that ends the thread
    std::thread thread;
    struct sigaction replaced[std::size(kSignals)] = {};

    void run() {
        pollfd watched[] = {{gSignalPipe[0], POLLIN, 0}, {stop, POLLIN, 0}};
        while (true) {
            if (::poll(watched, std::size(watched), -1) < 0) {
                if (errno == EINTR) continue;
                MVLogError("Process signals are no longer taken: poll failed ({})",
                           std::strerror(errno));
                return;
            }
            if (watched[1].revents != 0) return;
            unsigned char numbers[16];
            ssize_t count;
            while ((count = ::read(gSignalPipe[0], numbers, sizeof numbers)) > 0)
                for (ssize_t i = 0; i < count; ++i) take(numbers[i]);
        }
    }
};

HostSignals::HostSignals() : impl_(std::make_unique<Impl>()) {
    if (gSignalPipe[0] < 0 && ::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        MVLogError("Process signals are not taken: no pipe ({})", std::strerror(errno));
        return;
    }
    // What an earlier watch left unread is not this one's.
    unsigned char left[64];
    while (::read(gSignalPipe[0], left, sizeof left) > 0) {
    }
    impl_->stop = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (impl_->stop < 0) {
        MVLogError("Process signals are not taken: no eventfd ({})", std::strerror(errno));
        return;
    }
    try {
        impl_->thread = std::thread([impl = impl_.get()] {
            ::pthread_setname_np(::pthread_self(), "Host Signals");
            impl->run();
        });
    } catch (const std::system_error& error) {
        MVLogError("Process signals are not taken: no thread ({})", error.what());
        return;
    }
    struct sigaction action {};
    action.sa_handler = writeSignal;
    for (size_t i = 0; i < std::size(kSignals); ++i) {
        const bool ending = kSignals[i] == SIGINT || kSignals[i] == SIGTERM;
        action.sa_flags = ending ? SA_RESETHAND : SA_RESTART;
        ::sigaction(kSignals[i], &action, &impl_->replaced[i]);
    }
}

HostSignals::~HostSignals() {
    if (!impl_->thread.joinable()) {
        if (impl_->stop >= 0) ::close(impl_->stop);
        return;
    }
    for (size_t i = 0; i < std::size(kSignals); ++i)
        ::sigaction(kSignals[i], &impl_->replaced[i], nullptr);
    const uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(impl_->stop, &one, sizeof one);
    impl_->thread.join();
    ::close(impl_->stop);
}
