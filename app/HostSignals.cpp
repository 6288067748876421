#include "app/HostSignals.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <mutex>
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

// Which signal came: one bit for each, and the order of their last arrival. Set by the
// handlers; the eventfd wakes the signal thread and stays open while the process lives,
// as a handler may still be running on another thread while a watch ends.
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGTSTP, SIGCONT};
constexpr size_t kKinds = std::size(kSignals);
std::atomic<unsigned> gArrived{0};
std::atomic<uint64_t> gArrivals{0};
std::atomic<uint64_t> gLastArrival[kKinds];
// How many termination signals came, however close together.
std::atomic<unsigned> gTerminations{0};
int gWake = -1;
// The stop's bound on the steady clock (0: no termination signal yet), and the status the
// process ends with when it still runs there after the stop ended in order.
std::atomic<int64_t> gStopBoundNanos{0};
volatile sig_atomic_t gStatusAtTheBound = 0;
static_assert(std::atomic<unsigned>::is_always_lock_free &&
              std::atomic<uint64_t>::is_always_lock_free);

constexpr size_t kindOf(int number) {
    for (size_t i = 0; i < kKinds; ++i)
        if (kSignals[i] == number) return i;
    return kKinds;
}

void noteSignal(int number) {
    const int savedErrno = errno;
    const size_t kind = kindOf(number);
    if (kind < kKinds) {
        if (number == SIGINT || number == SIGTERM || number == SIGHUP) gTerminations.fetch_add(1);
        gLastArrival[kind].store(gArrivals.fetch_add(1) + 1);
        gArrived.fetch_or(1u << kind);
        const uint64_t one = 1;
        // Fails only with the counter near its end, while a wake is pending anyway.
        [[maybe_unused]] auto written = ::write(gWake, &one, sizeof one);
    }
    errno = savedErrno;
}

// A termination signal taken since the watch began, for those that wait for one.
std::mutex gTerminationMutex;
std::condition_variable gTerminationTaken;
bool gTerminated = false;

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

// The stop ended in order and the process still has not ended at the stop's bound: it ends
// there, with what it keeps written. A handler, so that nothing of the process need run.
void endAtTheBound(int) {
    static constexpr char kLine[] =
        "The process still runs at its stop's bound, the stop done: it ends\n";
    [[maybe_unused]] auto written = ::write(STDERR_FILENO, kLine, sizeof kLine - 1);
    ::_exit(gStatusAtTheBound);
}

// Main thread: whether SIGTSTP sent the application to the background.
bool gInBackgroundOnSignal = false;

// On the main loop.
void handleStop(int number) {
    auto& application = platform::Application::shared();
    if (number == SIGTSTP) {
        if (application.applicationState() == platform::ApplicationState::Background) {
            MVLogInfo("Staying in the background on SIGTSTP");
            return;
        }
        MVLogInfo("Entering the background on SIGTSTP");
        gInBackgroundOnSignal = true;
        application.enterBackground();
        return;
    }
    if (!std::exchange(gInBackgroundOnSignal, false)) {
        MVLogInfo("Staying as it is on SIGCONT: no SIGTSTP sent the shell to the background");
        return;
    }
    MVLogInfo("Entering the foreground on SIGCONT");
    application.enterForeground();
}

// What waits for the main loop: one task for the end, one for SIGTSTP and SIGCONT,
// however many of them came. Kept by those tasks, which may outlive the watch.
struct Posted {
    std::function<void()> stop;
    std::atomic<bool> endPosted{false};
    std::atomic<bool> stopPosted{false};
    // SIGTSTP and SIGCONT taken and not yet handled, and when each last came.
    std::atomic<unsigned> stops{0};
    std::atomic<uint64_t> stopTaken[2] = {};
    uint64_t taken = 0;  // signal thread

    static constexpr unsigned bitOf(int number) { return number == SIGTSTP ? 1u : 2u; }
    static constexpr int indexOf(int number) { return number == SIGTSTP ? 0 : 1; }

    // On the main loop: each kind once, in the order they last came.
    void handleStops() {
        stopPosted = false;
        const unsigned waiting = stops.exchange(0);
        int order[] = {SIGTSTP, SIGCONT};
        if (stopTaken[1].load() < stopTaken[0].load()) std::swap(order[0], order[1]);
        for (const int number : order)
            if (waiting & bitOf(number)) handleStop(number);
    }
};

}  // namespace

struct HostSignals::Impl {
    Hooks hooks;
    std::shared_ptr<Posted> posted = std::make_shared<Posted>();
    int stop = -1;  // an eventfd that ends the thread
    std::thread thread;
    struct sigaction replaced[kKinds] = {};
    // Signal thread: SIGTSTP taken and no SIGCONT since.
    bool stoppedBySignal = false;
    // Signal thread: when the stop must have ended, from the first termination on, and
    // when what can be written is written should it still run then.
    std::optional<std::chrono::steady_clock::time_point> deadline;
    std::optional<std::chrono::steady_clock::time_point> overrunAt;
    // The deadline for endStop (0: none yet), and whether endStop took it over.
    std::atomic<int64_t> boundNanos{0};
    std::atomic<bool> boundTaken{false};
    int endingSignal = SIGTERM;
    unsigned terminations = 0;
    bool anotherLogged = false;
    // The `overrun` hook's thread, joined before the watch ends; none starts once the
    // watch is ending.
    std::mutex overrunMutex;
    std::thread overrunWriter;
    bool ending = false;
    // Main thread: whether endStop ignored the signals.
    bool stopEnded = false;

    void post(platform::Task task) {
        try {
            platform::RunLoop::main().post(std::move(task));
        } catch (const std::exception& error) {
            MVLogError("A process signal is not handled: {}", error.what());
        }
    }

    void processesStopped(bool stopped) {
        stoppedBySignal = stopped;
        if (!hooks.processesStopped) return;
        try {
            hooks.processesStopped(stopped);
        } catch (const std::exception& error) {
            MVLogError("The shell's processes are not told of a stop: {}", error.what());
        }
    }

    // What SIGCONT should wake is continued before the main loop hears of it, as the main
    // thread may be waiting on one of those processes.
    void continueProcesses() {
        try {
            continueStoppedProcesses();
        } catch (const std::exception& error) {
            MVLogError("The shell's stopped processes were not continued: {}", error.what());
        }
        processesStopped(false);
    }

    void takeTermination(int number) {
        // Logged before anyone waiting for the termination hears of it: a display's end
        // may end the process as soon as it does.
        const bool first = !posted->endPosted.exchange(true);
        terminations += gTerminations.exchange(0);
        // Should the stop outlast its time, the process ends by the last one.
        endingSignal = number;
        if (first) {
            deadline = std::chrono::steady_clock::now() + kStopTime;
            overrunAt = *deadline - kOverrunWriteTime;
            boundNanos =
                std::chrono::duration_cast<std::chrono::nanoseconds>(deadline->time_since_epoch())
                    .count();
            gStopBoundNanos = boundNanos.load();
            // Before the line: nothing the stop turns away is logged after it.
            if (hooks.stopping) {
                try {
                    hooks.stopping();
                } catch (const std::exception& error) {
                    MVLogError("The stop is not told to the host at once: {}", error.what());
                }
            }
            MVLogInfo("Stopping on a termination signal");
        }
        if (terminations > 1 && !std::exchange(anotherLogged, true)) {
            // Not lost, and the stop goes on for the rest of its time.
            const auto now = std::chrono::steady_clock::now();
            const auto left = std::chrono::ceil<std::chrono::seconds>(deadline.value_or(now) - now);
            MVLogInfo("Another termination signal during the stop: the shell ends within {} s",
                      std::max<int64_t>(0, left.count()));
        }
        {
            const std::lock_guard<std::mutex> lock(gTerminationMutex);
            gTerminated = true;
        }
        gTerminationTaken.notify_all();
        // Stopped engine processes could not end with the shell.
        if (stoppedBySignal) continueProcesses();
        if (!first) return;
        post([posted = posted] {
            if (posted->stop)
                posted->stop();
            else
                platform::RunLoop::main().stop();
        });
    }

    void takeStop(int number) {
        if (number == SIGTSTP)
            processesStopped(true);
        else
            continueProcesses();
        posted->stopTaken[Posted::indexOf(number)] = ++posted->taken;
        posted->stops.fetch_or(Posted::bitOf(number));
        if (posted->stopPosted.exchange(true)) return;
        post([posted = posted] { posted->handleStops(); });
    }

    // Each kind once, the ends first, then SIGTSTP and SIGCONT in the order they last came.
    void take(unsigned arrived) {
        // The termination that came last, should the process end by it.
        int last = 0;
        for (const int number : {SIGTERM, SIGHUP, SIGINT})
            if ((arrived & (1u << kindOf(number))) &&
                (!last || gLastArrival[kindOf(number)].load() > gLastArrival[kindOf(last)].load()))
                last = number;
        if (last) takeTermination(last);
        const size_t tstp = kindOf(SIGTSTP), cont = kindOf(SIGCONT);
        const bool both = (arrived >> tstp & 1) && (arrived >> cont & 1);
        const bool contFirst = both && gLastArrival[cont].load() < gLastArrival[tstp].load();
        if (contFirst) takeStop(SIGCONT);
        if (arrived >> tstp & 1) takeStop(SIGTSTP);
        if ((arrived >> cont & 1) && !contFirst) takeStop(SIGCONT);
    }

    // The stop is about to outlast its time: what can be written is, on a thread of its
    // own, as the main thread may be where it cannot be waited for.
    void writeWhatCanBe() {
        overrunAt.reset();
        MVLogError("The stop still runs {} s after the termination signal: writing what it can",
                   (kStopTime - kOverrunWriteTime).count());
        const std::lock_guard<std::mutex> lock(overrunMutex);
        if (!hooks.overrun || ending) return;
        try {
            overrunWriter = std::thread([hook = hooks.overrun] {
                ::pthread_setname_np(::pthread_self(), "Stop Overrun");
                try {
                    hook();
                } catch (const std::exception& error) {
                    MVLogError("The stop could not write what it keeps: {}", error.what());
                }
            });
        } catch (const std::system_error& error) {
            MVLogError("The stop could not write what it keeps: no thread ({})", error.what());
        }
    }

    // The stop outlasted its time: the process ends by the last termination signal, as it
    // would have without the watch.
    void endNow() {
        MVLogError("The stop still runs {} s after the termination signal: the shell ends",
                   kStopTime.count());
        platform::log::flush();
        std::fflush(nullptr);
        ::signal(endingSignal, SIG_DFL);
        ::kill(::getpid(), endingSignal);
        std::_Exit(128 + endingSignal);
    }

    int pollTimeout() const {
        if (!deadline) return -1;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            overrunAt.value_or(*deadline) - std::chrono::steady_clock::now());
        return static_cast<int>(std::max<int64_t>(0, left.count()));
    }

    void run() {
        pollfd watched[] = {{gWake, POLLIN, 0}, {stop, POLLIN, 0}};
        while (true) {
            const int ready = ::poll(watched, std::size(watched), pollTimeout());
            // However many signals keep waking it.
            const auto now = std::chrono::steady_clock::now();
            if (boundTaken) {
                // The stop ended in order: the process's end is endStop's to bound.
                overrunAt.reset();
                deadline.reset();
            }
            if (overrunAt && now >= *overrunAt) writeWhatCanBe();
            if (deadline && now >= *deadline) endNow();
            if (ready < 0) {
                if (errno == EINTR) continue;
                MVLogError("Process signals are no longer taken: poll failed ({})",
                           std::strerror(errno));
                return;
            }
            if (watched[1].revents != 0) return;
            uint64_t wakes = 0;
            [[maybe_unused]] auto read = ::read(gWake, &wakes, sizeof wakes);
            if (const unsigned arrived = gArrived.exchange(0)) take(arrived);
        }
    }
};

HostSignals::HostSignals(Hooks hooks) : impl_(std::make_unique<Impl>()) {
    impl_->posted->stop = std::move(hooks.stop);
    impl_->hooks = std::move(hooks);
    if (gWake < 0 && (gWake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) < 0) {
        MVLogError("Process signals are not taken: no eventfd ({})", std::strerror(errno));
        return;
    }
    // What came before this watch is not this one's.
    gArrived = 0;
    gTerminations = 0;
    gStopBoundNanos = 0;
    gInBackgroundOnSignal = false;
    {
        const std::lock_guard<std::mutex> lock(gTerminationMutex);
        gTerminated = false;
    }
    uint64_t left = 0;
    [[maybe_unused]] auto read = ::read(gWake, &left, sizeof left);
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
    // Kept while the watch is on: another termination during the stop is the watch's too.
    struct sigaction action {};
    action.sa_handler = noteSignal;
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < kKinds; ++i) ::sigaction(kSignals[i], &action, &impl_->replaced[i]);
}

HostSignals::~HostSignals() {
    if (!impl_->thread.joinable()) {
        if (impl_->stop >= 0) ::close(impl_->stop);
        return;
    }
    for (size_t i = 0; i < kKinds; ++i)
        if (!impl_->stopEnded || kSignals[i] == SIGCONT)
            ::sigaction(kSignals[i], &impl_->replaced[i], nullptr);
    // Still bounded by the watch while it writes.
    std::thread writer;
    {
        const std::lock_guard<std::mutex> lock(impl_->overrunMutex);
        impl_->ending = true;
        writer = std::move(impl_->overrunWriter);
    }
    if (writer.joinable()) writer.join();
    const uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(impl_->stop, &one, sizeof one);
    impl_->thread.join();
    ::close(impl_->stop);
}

void HostSignals::endStop(int status) {
    if (!impl_->thread.joinable() || impl_->stopEnded) return;
    impl_->stopEnded = true;
    gStatusAtTheBound = status;
    // Each in one step from the handler: a signal comes either to the watch or to nothing.
    struct sigaction ignored {};
    ignored.sa_handler = SIG_IGN;
    for (const int number : {SIGTERM, SIGHUP, SIGINT, SIGTSTP})
        ::sigaction(number, &ignored, nullptr);
    // What is left of the process's end (its objects, the engine's, the runtime's) stays
    // within the stop's bound, with no thread left to watch it.
    impl_->boundTaken = true;
    const int64_t bound = impl_->boundNanos;
    if (bound == 0) return;
    const int64_t left =
        std::max<int64_t>(1000, bound - std::chrono::duration_cast<std::chrono::nanoseconds>(
                                            std::chrono::steady_clock::now().time_since_epoch())
                                            .count());
    struct sigaction alarm {};
    alarm.sa_handler = endAtTheBound;
    ::sigaction(SIGALRM, &alarm, nullptr);
    const int64_t micros = left / 1000 + 1;
    itimerval timer{};
    timer.it_value.tv_sec = static_cast<time_t>(micros / 1'000'000);
    timer.it_value.tv_usec = static_cast<suseconds_t>(micros % 1'000'000);
    ::setitimer(ITIMER_REAL, &timer, nullptr);
}

bool HostSignals::terminationCame(std::chrono::milliseconds bound) {
    std::unique_lock<std::mutex> lock(gTerminationMutex);
    return gTerminationTaken.wait_for(lock, bound, [] { return gTerminated; });
}

std::optional<std::chrono::steady_clock::time_point> HostSignals::stopBound() {
    const int64_t bound = gStopBoundNanos;
    if (bound == 0) return std::nullopt;
    return std::chrono::steady_clock::time_point(
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::nanoseconds(bound)));
}
