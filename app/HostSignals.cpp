#include "app/HostSignals.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "libmerovane/core/MVLog.h"
#include "platform/ui/Application.h"

namespace {

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

void handle(int number) {
    auto& application = platform::Application::shared();
    switch (number) {
        case SIGTSTP:
            MVLogInfo("Entering the background on SIGTSTP");
            application.enterBackground();
            break;
        case SIGCONT:
            MVLogInfo("Entering the foreground on SIGCONT");
            continueStoppedProcesses();
            application.enterForeground();
            break;
        default:
            MVLogInfo("Stopping on a termination signal");
            platform::RunLoop::main().stop();
    }
}

}  // namespace

platform::FdWatch watchHostSignals() {
    if (::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return {};
    struct sigaction action {};
    action.sa_handler = writeSignal;
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTSTP, &action, nullptr);
    ::sigaction(SIGCONT, &action, nullptr);
    action.sa_flags = SA_RESETHAND;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    return platform::RunLoop::main().watchFd(gSignalPipe[0], POLLIN, [](short) {
        unsigned char numbers[16];
        ssize_t count;
        while ((count = ::read(gSignalPipe[0], numbers, sizeof numbers)) > 0)
            for (ssize_t i = 0; i < count; ++i) handle(numbers[i]);
    });
}
