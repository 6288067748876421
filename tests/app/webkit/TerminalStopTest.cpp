// The shell with pages in the real engine, stopped as a terminal's Ctrl-Z stops a job:
// SIGTSTP to its whole process group, which stops the engine's processes; SIGCONT to the
// shell alone brings the pages back, and nothing else of the group.
#ifdef MV_SAMPLE_API_SERVER
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <regex>
#include <thread>

#include "app/HostSignals.h"
#include "tests/app/SampleShopRun.h"

extern char** environ;

namespace {

using namespace sampleshop;
namespace fs = std::filesystem;

// The pid of every process whose parent is `parent`, and theirs.
std::vector<pid_t> descendants(pid_t parent) {
    std::vector<std::pair<pid_t, pid_t>> all;  // pid, parent
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string stat = readText(entry.path() / "stat");
        const size_t close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream fields(stat.substr(close + 1));
        char state = 0;
        pid_t ppid = 0;
        if (fields >> state >> ppid) all.emplace_back(std::stoi(name), ppid);
    }
    std::vector<pid_t> found;
    std::vector<pid_t> parents = {parent};
    while (!parents.empty()) {
        const pid_t next = parents.back();
        parents.pop_back();
        for (const auto& [pid, ppid] : all)
            if (ppid == next) {
                found.push_back(pid);
                parents.push_back(pid);
            }
    }
    return found;
}

// Each thread of a process that has not ended: its name, state and what it waits in.
std::string threadsOf(pid_t pid) {
    std::string text = "threads of " + std::to_string(pid) + ":\n";
    std::error_code error;
    const fs::path tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& task : fs::directory_iterator(tasks, error)) {
        std::string name = readText(task.path() / "comm");
        if (!name.empty() && name.back() == '\n') name.pop_back();
        text += "  " + task.path().filename().string() + " " + name + " " +
                processState(std::stoi(task.path().filename().string())) + " " +
                readText(task.path() / "wchan") + "\n";
    }
    return text;
}

bool holdsOpen(pid_t pid, const std::string& file) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error))
        if (fs::read_symlink(entry.path(), error) == file) return true;
    return false;
}

// The sample shop's home page with `script` at the end of its body, which also answers the
// return to the foreground with a data request and the entry into the background with a
// second "registerEvents".
std::string homePage(const std::string& script) {
    std::string page = readText(std::string(MV_SAMPLE_SHOP) + "/home.html");
    const std::string onload = R"({"c":"onload"},)";
    page.replace(page.find(onload), onload.size(),
                 onload +
                     R"({"c":"registerEvents","p":{"events":)"
                     R"(["applicationWillEnterForeground","applicationWillEnterBackground"]}},)");
    page.replace(page.rfind("</body>"), 7, R"(<script>
function mvSendOne(command) { mvSendCommands({ver: '2.0', cmds: [command]}); }
MVEvent.on('applicationWillEnterForeground', function () {
  mvSendOne({c: 'sendDataRequest', p: {serial: 'back', src: 'mvapi:featured'}});
});
MVEvent.on('applicationWillEnterBackground', function () {
  mvSendOne({c: 'registerEvents', p: {events: ['applicationWillEnterForeground']}});
});
)" + script + R"(
</script>
</body>)");
    return page;
}

// A page busy with the server: a data request every 20 ms.
constexpr const char* kBusy = R"(setInterval(function () {
  mvSendOne({c: 'sendDataRequest', p: {serial: 'busy', src: 'mvapi:featured'}});
}, 20);)";

class TerminalStopTest : public SampleShopRunTest {
  protected:
    void SetUp() override {
        const std::string shop = out_.file("shop");
        fs::copy(MV_SAMPLE_SHOP, shop, fs::copy_options::recursive);
        out_.write("shop/home.html", homePage(""));
        startServer({"--shop", shop});
    }
    // Ends whatever of the group is left, the engine's processes too.
    void TearDown() override {
        if (group_ > 0) {
            ::kill(-group_, SIGCONT);
            ::kill(-group_, SIGKILL);
        }
        for (const pid_t pid : started_) {
            // Those started as jobs of their own, with their engine's processes.
            ::kill(-pid, SIGCONT);
            ::kill(-pid, SIGKILL);
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }

    // Starts `program` in the process group `group`, a new one of its own when 0, as a
    // terminal's shell starts a job.
    // `extra` ("NAME=value") over the test's own environment.
    pid_t startInGroup(std::vector<std::string> program, pid_t group, const std::string& log,
                       std::vector<std::string> extra = {}) {
        std::vector<std::string> environment = {"MEROVANE_HOME=" + out_.file("home")};
        environment.insert(environment.end(), extra.begin(), extra.end());
        const auto overridden = [&](std::string_view variable) {
            return std::any_of(environment.begin(), environment.end(), [&](const auto& set) {
                return variable.starts_with(set.substr(0, set.find('=') + 1));
            });
        };
        for (char** e = environ; *e; ++e)
            if (!overridden(*e)) environment.push_back(*e);
        std::vector<char*> argv, envp;
        for (auto& argument : program) argv.push_back(argument.data());
        for (auto& variable : environment) envp.push_back(variable.data());
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        posix_spawnattr_t attributes;
        ::posix_spawnattr_init(&attributes);
        ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        ::posix_spawnattr_setpgroup(&attributes, group);
        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawn_file_actions_addopen(&actions, 1, out_.file(log).c_str(),
                                           O_WRONLY | O_CREAT | O_APPEND, 0600);
        ::posix_spawn_file_actions_adddup2(&actions, 1, 2);
        // Where a virtual display writes its number.
        ::posix_spawn_file_actions_addopen(&actions, 3, out_.file(log + ".fd3").c_str(),
                                           O_WRONLY | O_CREAT | O_TRUNC, 0600);
        pid_t pid = -1;
        EXPECT_EQ(::posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp.data()), 0);
        ::posix_spawn_file_actions_destroy(&actions);
        ::posix_spawnattr_destroy(&attributes);
        if (pid > 0) started_.push_back(pid);
        return pid;
    }

    size_t pageCommands(const std::string& name) const {
        const auto all = commands(readText(out_.file("commands.log")));
        return static_cast<size_t>(std::count(all.begin(), all.end(), "page " + name));
    }
    size_t logLines(const std::string& text) const {
        return occurrences(readText(out_.file("app.log")), text);
    }

    // The shell in the real engine as a job of its own (or in `group`), once its home page
    // has registered its events.
    pid_t startShellJob(std::vector<std::string> extra = {}, pid_t group = 0) {
        const pid_t shell = startShellProcess(std::move(extra), group);
        if (shell <= 0 || !presented("app.log")) return -1;
        EXPECT_TRUE(waitUntil([&] { return pageCommands("registerEvents") == 1; }, 30))
            << readText(out_.file("commands.log"));
        return shell;
    }
    pid_t startShellProcess(std::vector<std::string> extra = {}, pid_t group = 0,
                            std::vector<std::string> arguments = {},
                            const std::string& log = "app.log") {
        std::vector<std::string> program = {MV_APP_EXECUTABLE};
        const auto settings = shellArguments(arguments, "webkit");
        program.insert(program.end(), settings.begin(), settings.end());
        const pid_t pid = startInGroup(program, group, log, std::move(extra));
        if (group_ == 0) group_ = pid;
        return pid;
    }
    // Its exit status once it ended within `seconds`, else -1.
    int statusWithin(pid_t pid, double seconds) {
        int status = -1;
        const bool ended =
            waitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, seconds);
        if (!ended) return -1;
        started_.erase(std::find(started_.begin(), started_.end(), pid));
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    // Ends the shell with SIGTERM, as from a clean exit.
    void endShell(pid_t shell) {
        ::kill(shell, SIGTERM);
        int status = 0;
        ASSERT_EQ(::waitpid(shell, &status, 0), shell);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        started_.erase(std::find(started_.begin(), started_.end(), shell));
    }

    static bool stopped(pid_t pid) { return processState(pid) == 'T'; }

    // Whether the shell took the Ctrl-Z, once it had logged `before` of them. A SIGCONT
    // sent before it did would discard the SIGTSTP still pending: the kernel drops the
    // stop signals waiting for a process when SIGCONT comes, handled or not.
    static constexpr const char* kBackground = "Entering the background on SIGTSTP";
    bool tookCtrlZ(size_t before) const {
        return waitUntil([&] { return logLines(kBackground) > before; }, 20);
    }

    pid_t group_ = 0;
    std::vector<pid_t> started_;
};

TEST_F(TerminalStopTest, CtrlZThenSIGCONTToTheShellBringsBackItsPagesAndNothingElse) {
    const pid_t shell = startShellJob();
    ASSERT_GT(shell, 0);
    const auto engine = descendants(shell);
    ASSERT_FALSE(engine.empty());
    for (const pid_t pid : engine)
        EXPECT_FALSE(holdsOpen(pid, out_.file("home/shell.lock"))) << pid;
    // Another job's process in the same group, which is not the shell's.
    const pid_t other = startInGroup({"/bin/sleep", "600"}, shell, "other.log");

    ::kill(-shell, SIGTSTP);
    ASSERT_TRUE(waitUntil([&] { return std::all_of(engine.begin(), engine.end(), stopped); }, 10));
    ASSERT_TRUE(waitUntil([&] { return stopped(other); }, 10));
    ASSERT_TRUE(tookCtrlZ(0)) << readText(out_.file("app.log"));
    EXPECT_FALSE(stopped(shell));

    const size_t requests = pageCommands("sendDataRequest");
    ::kill(shell, SIGCONT);
    EXPECT_TRUE(waitUntil([&] { return pageCommands("sendDataRequest") > requests; }, 20))
        << readText(out_.file("app.log"));
    EXPECT_TRUE(std::none_of(engine.begin(), engine.end(), stopped));
    EXPECT_TRUE(stopped(other));
    endShell(shell);
}

// A Ctrl-Z the shell had no time to take (here it is held stopped) is dropped by the
// SIGCONT that follows: the shell stays as it is and still brings back its engine.
TEST_F(TerminalStopTest, CtrlZThatTheShellHadNoTimeToTakeStillLeavesNothingOfItStopped) {
    const pid_t shell = startShellJob();
    ASSERT_GT(shell, 0);
    const auto engine = descendants(shell);
    ASSERT_FALSE(engine.empty());
    ::kill(shell, SIGSTOP);
    ASSERT_TRUE(waitUntil([&] { return stopped(shell); }, 10));
    ::kill(-shell, SIGTSTP);
    ASSERT_TRUE(waitUntil([&] { return std::all_of(engine.begin(), engine.end(), stopped); }, 10));

    ::kill(shell, SIGCONT);
    EXPECT_TRUE(waitUntil([&] { return logLines("Staying as it is on SIGCONT") == 1; }, 20))
        << readText(out_.file("app.log"));
    EXPECT_TRUE(waitUntil([&] { return std::none_of(engine.begin(), engine.end(), stopped); }, 10));
    EXPECT_FALSE(stopped(shell));
    EXPECT_EQ(logLines(kBackground), 0u);
    EXPECT_EQ(pageCommands("registerEvents"), 1u);
    endShell(shell);
}

// The engine's processes are continued at once, even while the shell waits for a script
// in one of them.
TEST_F(TerminalStopTest, CtrlZWhileThePageIsBusyStopsTheEngineNoLongerThanTheTerminalDoes) {
    out_.write("shop/home.html", homePage(kBusy));
    const pid_t shell = startShellJob();
    ASSERT_GT(shell, 0);
    const auto busy = [&](size_t requests) {
        return waitUntil([&] { return pageCommands("sendDataRequest") >= requests + 10; }, 30);
    };
    ASSERT_TRUE(busy(0));
    using Clock = std::chrono::steady_clock;
    std::vector<double> stoppedSeconds;
    for (int cycle = 0; cycle < 20; ++cycle) {
        const auto engine = descendants(shell);
        ASSERT_FALSE(engine.empty());
        const size_t foregrounds = logLines("Entering the foreground on SIGCONT");
        const size_t backgrounds = logLines(kBackground);
        const auto stop = Clock::now();
        ::kill(-shell, SIGTSTP);
        ASSERT_TRUE(
            waitUntil([&] { return std::all_of(engine.begin(), engine.end(), stopped); }, 10));
        ASSERT_TRUE(tookCtrlZ(backgrounds)) << "cycle " << cycle;
        // A terminal's user types "kill -CONT" after the Ctrl-Z.
        std::this_thread::sleep_until(stop + std::chrono::milliseconds(200));
        const auto resume = Clock::now();
        ::kill(shell, SIGCONT);
        const bool running =
            waitUntil([&] { return std::none_of(engine.begin(), engine.end(), stopped); }, 30);
        stoppedSeconds.push_back(std::chrono::duration<double>(Clock::now() - resume).count());
        ASSERT_TRUE(running && stoppedSeconds.back() < 1)
            << "cycle " << cycle << ": the engine ran again " << stoppedSeconds.back()
            << " s after SIGCONT" << (running ? "" : " (still stopped)") << "; "
            << logLines("gave up waiting") << " script waits given up";
        ASSERT_TRUE(waitUntil(
            [&] { return logLines("Entering the foreground on SIGCONT") > foregrounds; }, 30));
        ASSERT_TRUE(busy(pageCommands("sendDataRequest")));
    }
    EXPECT_EQ(logLines("gave up waiting"), 0u) << readText(out_.file("app.log"));
    std::cout << "engine stopped after SIGCONT (s):";
    for (const double seconds : stoppedSeconds) std::cout << ' ' << seconds;
    std::cout << '\n';
    endShell(shell);
}

// The page hears of the background and of the foreground in the order they came, so a
// foreground event for the first SIGCONT would come before the background's.
TEST_F(TerminalStopTest, SIGCONTToAShellNeverStoppedSendsThePagesNoForegroundEvent) {
    const pid_t shell = startShellJob();
    ASSERT_GT(shell, 0);
    const size_t requests = pageCommands("sendDataRequest");
    ::kill(shell, SIGCONT);
    ASSERT_TRUE(waitUntil([&] { return logLines("SIGCONT") == 1; }, 20));
    ::kill(shell, SIGTSTP);
    ASSERT_TRUE(waitUntil([&] { return pageCommands("registerEvents") == 2; }, 20))
        << readText(out_.file("app.log"));
    ::kill(shell, SIGCONT);
    ASSERT_TRUE(waitUntil([&] { return pageCommands("sendDataRequest") > requests; }, 20))
        << readText(out_.file("app.log"));
    const auto all = commands(readText(out_.file("commands.log")));
    const auto background = std::find(std::find(all.begin(), all.end(), "page registerEvents") + 1,
                                      all.end(), "page registerEvents");
    EXPECT_EQ(static_cast<size_t>(std::count(all.begin(), background, "page sendDataRequest")),
              requests);
    endShell(shell);
}

// The shell and its display end together, as when scripts/run ends a real-engine run
// (SIGTERM to the group of both) or a desktop session ends: the termination's orderly
// stop, whichever of the two the shell hears of first.
struct DisplayEnd {
    const char* name;
    int signalAfter;  // ms after the display's end, < 0: before it; 0: both at once
    bool signalled;   // a termination signal comes at all
};

void PrintTo(const DisplayEnd& end, std::ostream* out) {
    *out << end.name;
}

class ShellAndDisplayTest : public TerminalStopTest,
                            public ::testing::WithParamInterface<DisplayEnd> {
  protected:
    // Starts a display of its own as a job: its name.
    std::string startDisplay() {
        display_ = startInGroup({"/usr/bin/Xvfb", "-displayfd", "3", "-screen", "0", "1280x1024x24",
                                 "-nolisten", "tcp", "-noreset"},
                                0, "display.log");
        std::string number;
        EXPECT_TRUE(waitUntil(
            [&] {
                number = readText(out_.file("display.log.fd3"));
                return !number.empty() && number.back() == '\n';
            },
            30));
        return ":" + number.substr(0, number.size() - 1);
    }
    pid_t display_ = 0;
};

TEST_P(ShellAndDisplayTest, TheShellStopsInOrderWhenItsDisplayEndsWithIt) {
    const DisplayEnd end = GetParam();
    const std::string display = startDisplay();
    ASSERT_GT(display_, 0);
    // The shell in the display's group, as scripts/run starts them.
    const pid_t shell = startShellJob({"DISPLAY=" + display}, display_);
    ASSERT_GT(shell, 0);
    using namespace std::chrono;
    if (end.signalled && end.signalAfter == 0) {
        ::kill(-display_, SIGTERM);
    } else {
        if (end.signalled && end.signalAfter < 0) ::kill(shell, SIGTERM);
        ::kill(display_, SIGTERM);
        if (end.signalled && end.signalAfter > 0) {
            // The moment is the case itself, not a wait for a timer.
            std::this_thread::sleep_for(milliseconds(end.signalAfter));
            ::kill(shell, SIGTERM);
        }
    }
    const int status = statusWithin(shell, 30);
    const std::string log = readText(out_.file("app.log"));
    if (end.signalled) {
        EXPECT_EQ(status, 0) << log;
        EXPECT_EQ(occurrences(log, "Stopping on a termination signal"), 1u) << log;
    } else {
        EXPECT_EQ(status, 1) << log;
        EXPECT_EQ(occurrences(log, "The display has gone: the shell stops"), 1u) << log;
    }
}

INSTANTIATE_TEST_SUITE_P(WhatEndsFirst, ShellAndDisplayTest,
                         ::testing::Values(DisplayEnd{"TheGroupTogether", 0, true},
                                           DisplayEnd{"TheSignalFirst", -1, true},
                                           DisplayEnd{"TheDisplay20msBefore", 20, true},
                                           DisplayEnd{"TheDisplay300msBefore", 300, true},
                                           DisplayEnd{"TheDisplayAlone", 0, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// Ctrl-Z while the shell starts: its engine's first processes stop with it, and SIGCONT
// to the shell brings all of them back.
class EarlyCtrlZTest : public TerminalStopTest, public ::testing::WithParamInterface<int> {};

TEST_P(EarlyCtrlZTest, SIGCONTToTheShellBringsBackTheEngineStoppedWhileItStarted) {
    const pid_t shell = startShellProcess();
    ASSERT_GT(shell, 0);
    if (GetParam() >= 0) {
        // The moment is the case itself, not a wait for a timer.
        std::this_thread::sleep_for(std::chrono::milliseconds(GetParam()));
    } else {
        ASSERT_TRUE(waitUntil([&] { return !descendants(shell).empty(); }, 30));
    }
    ::kill(-shell, SIGTSTP);
    // Whatever of the group runs has stopped (the shell too, before it takes SIGTSTP).
    const auto allStopped = [&] {
        auto all = descendants(shell);
        return std::all_of(all.begin(), all.end(), stopped);
    };
    ASSERT_TRUE(waitUntil(allStopped, 10));
    ::kill(shell, SIGCONT);
    ASSERT_TRUE(presented("app.log"));
    EXPECT_TRUE(waitUntil([&] { return pageCommands("registerEvents") == 1; }, 30))
        << readText(out_.file("app.log"));
    const auto engine = descendants(shell);
    EXPECT_TRUE(std::none_of(engine.begin(), engine.end(), stopped));
    EXPECT_FALSE(stopped(shell));
    endShell(shell);
}

// Milliseconds after the start; -1: as soon as the engine's first process runs.
INSTANTIATE_TEST_SUITE_P(MomentsWhileTheShellStarts, EarlyCtrlZTest,
                         ::testing::Values(-1, 150, 300, 450));

// A busy page that also stores: besides kBusy's data requests, a new splash screen every
// 100 ms, which the web cache fetches and keeps and the settings name.
constexpr const char* kStoring = R"(var mvSplashes = 0;
setInterval(function () {
  mvSplashes += 1;
  mvSendOne({c: 'setSplashScreen',
             p: {src: new URL('logo.png?n=' + mvSplashes, location.href).href}});
}, 100);)";

// What ends the shell: signals, each to the shell or to its group, some ms after the one
// before.
struct Termination {
    int number;
    bool toGroup;
    int afterMs;
};

struct OrderlyStop {
    const char* name;
    std::vector<Termination> signals;
    bool ctrlZ;  // the group stopped first
};

void PrintTo(const OrderlyStop& stop, std::ostream* out) {
    *out << stop.name;
}

class StoringShellTest : public TerminalStopTest {
  protected:
    // The shell on the storing page, once the page has set a few splash screens.
    pid_t startStoringShell() {
        const pid_t shell = startShellProcess();
        if (shell <= 0 || !presented("app.log")) return -1;
        EXPECT_TRUE(waitUntil([&] { return pageCommands("setSplashScreen") >= 3; }, 30))
            << tail(readText(out_.file("app.log")));
        return shell;
    }
    // The last lines of a log.
    static std::string tail(const std::string& log) {
        size_t at = log.size();
        for (int lines = 0; lines < 150 && at != std::string::npos && at > 0; ++lines)
            at = log.rfind('\n', at - 1);
        return at == std::string::npos ? log : log.substr(at);
    }
    // The number of the last splash screen a page set, from the shell's log.
    static int lastSplash(const std::string& log) {
        const size_t command = log.rfind("MVCommand.setSplashScreen( src = ");
        const size_t number = log.find("?n=", command);
        return command == std::string::npos || number == std::string::npos
                   ? 0
                   : std::atoi(log.c_str() + number + 3);
    }
    // The number of the splash screen the settings on disc name, 0 when none.
    int storedSplash() const {
        const std::string settings =
            readText(out_.file("home/Library/Preferences/com.merovane.shop.json"));
        static const std::regex splash(
            R"("MVSplashScreenURLInUserDefaultsKey":\s*"[^"]*\?n=(\d+))");
        std::smatch match;
        return std::regex_search(settings, match, splash) ? std::stoi(match[1].str()) : 0;
    }
    // Sends `signals`, then expects the shell to end in order within `seconds`, with the
    // settings holding the last splash screen a page set; its log.
    std::string endInOrder(pid_t shell, const std::vector<Termination>& signals, double seconds) {
        for (const Termination& signal : signals) {
            // The moments are the case itself, not waits for timers.
            std::this_thread::sleep_for(std::chrono::milliseconds(signal.afterMs));
            ::kill(signal.toGroup ? -shell : shell, signal.number);
        }
        const int status = statusWithin(shell, seconds);
        const std::string log = readText(out_.file("app.log"));
        EXPECT_EQ(status, 0) << (status < 0 ? threadsOf(shell) : "") << tail(log);
        EXPECT_EQ(occurrences(log, "Stopping on a termination signal"), 1u) << tail(log);
        EXPECT_EQ(sanitizerReport(log), "") << tail(log);
        EXPECT_EQ(storedSplash(), lastSplash(log));
        return log;
    }
};

class OrderlyStopTest : public StoringShellTest,
                        public ::testing::WithParamInterface<OrderlyStop> {};

// The second start over a home replays the boot script the first one stored: the web
// cache is in shadow mode and still lands files when the signal comes.
TEST_P(OrderlyStopTest, TheShellStopsInOrderAndNothingOfItRunsOnOnceItEnds) {
    const OrderlyStop c = GetParam();
    out_.write("shop/home.html", homePage(std::string(kBusy) + kStoring));
    const pid_t first = startStoringShell();
    ASSERT_GT(first, 0);
    ::kill(first, SIGTERM);
    ASSERT_EQ(statusWithin(first, 30), 0) << tail(readText(out_.file("app.log")));
    const std::string firstLog = readText(out_.file("app.log"));
    EXPECT_EQ(sanitizerReport(firstLog), "") << tail(firstLog);
    fs::rename(out_.file("app.log"), out_.file("first.log"));
    fs::remove(out_.file("presented.json"));
    group_ = 0;

    const pid_t shell = startStoringShell();
    ASSERT_GT(shell, 0);
    // The moments are the case itself, not waits for timers.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    if (c.ctrlZ) {
        const auto engine = descendants(shell);
        ::kill(-shell, SIGTSTP);
        ASSERT_TRUE(
            waitUntil([&] { return std::all_of(engine.begin(), engine.end(), stopped); }, 10));
    }
    endInOrder(shell, c.signals, 30);
}

INSTANTIATE_TEST_SUITE_P(
    Signals, OrderlyStopTest,
    ::testing::Values(
        OrderlyStop{"SIGTERM", {{SIGTERM, false, 0}}, false},
        OrderlyStop{"SIGINTToTheGroup", {{SIGINT, true, 0}}, false},
        OrderlyStop{"SIGHUP", {{SIGHUP, false, 0}}, false},
        OrderlyStop{"SIGHUPToTheGroup", {{SIGHUP, true, 0}}, false},
        OrderlyStop{"SIGTERMThenSIGHUPToTheGroup", {{SIGTERM, true, 0}, {SIGHUP, true, 1}}, false},
        OrderlyStop{
            "TwoSIGTERMsToTheGroup10msApart", {{SIGTERM, true, 0}, {SIGTERM, true, 10}}, false},
        OrderlyStop{
            "SIGINTThenSIGTERM300msApart", {{SIGINT, false, 0}, {SIGTERM, false, 300}}, false},
        OrderlyStop{"CtrlZThenSIGHUPToTheGroup", {{SIGHUP, true, 0}}, true},
        OrderlyStop{
            "CtrlZThenSIGTERMThenSIGHUPToTheGroup", {{SIGTERM, true, 0}, {SIGHUP, true, 1}}, true}),
    [](const auto& info) { return std::string(info.param.name); });

// A termination while the shell starts: it is neither missed nor sat on. Before the shell
// takes the signals the start ends by the signal itself; from then on in order.
class EarlyTerminationTest : public TerminalStopTest, public ::testing::WithParamInterface<int> {};

TEST_P(EarlyTerminationTest, TheShellEndsWhateverMomentOfItsStartTheSignalComes) {
    out_.write("shop/home.html", homePage(std::string(kBusy) + kStoring));
    const pid_t shell = startShellProcess();
    ASSERT_GT(shell, 0);
    if (GetParam() >= 0) {
        // The moment is the case itself, not a wait for a timer.
        std::this_thread::sleep_for(std::chrono::milliseconds(GetParam()));
    } else {
        ASSERT_TRUE(waitUntil([&] { return !descendants(shell).empty(); }, 30));
    }
    ::kill(shell, SIGTERM);
    const int status = statusWithin(shell, 30);
    const std::string log = readText(out_.file("app.log"));
    const bool inOrder = occurrences(log, "Stopping on a termination signal") == 1;
    EXPECT_EQ(status, inOrder ? 0 : 128 + SIGTERM) << (status < 0 ? threadsOf(shell) : "") << log;
    EXPECT_EQ(sanitizerReport(log), "") << log;
}

// Milliseconds after the start; -1: as soon as the engine's first process runs.
INSTANTIATE_TEST_SUITE_P(MomentsWhileTheShellStarts, EarlyTerminationTest,
                         ::testing::Values(0, 40, 150, 400, 1000, -1));

#ifdef MV_DBUS_DAEMON
// Ctrl-Z on a busy page, then the end of the shell, then a later start with a link: the
// shell ends at once, waiting on no stopped process, and the link reaches the server once,
// through the shell that took it or through the later start's own shell.
struct LinkAroundTheEnd {
    const char* name;
    bool ctrlZ;      // the group stopped first
    int startAfter;  // ms after the termination, < 0: the termination |n| ms after the start
    int termination;
};

void PrintTo(const LinkAroundTheEnd& link, std::ostream* out) {
    *out << link.name;
}

class LinkAroundTheEndTest : public TerminalStopTest,
                             public ::testing::WithParamInterface<LinkAroundTheEnd> {};

TEST_P(LinkAroundTheEndTest, TheShellEndsAtOnceAndTheLinkReachesTheServerOnce) {
    const LinkAroundTheEnd c = GetParam();
    out_.write("shop/home.html", homePage(kBusy));
    const std::string bus = "DBUS_SESSION_BUS_ADDRESS=" + startBus("bus");
    const pid_t shell = startShellJob({bus});
    ASSERT_GT(shell, 0);
    ASSERT_TRUE(waitUntil([&] { return pageCommands("sendDataRequest") >= 10; }, 30));
    if (c.ctrlZ) {
        const auto engine = descendants(shell);
        ::kill(-shell, SIGTSTP);
        ASSERT_TRUE(
            waitUntil([&] { return std::all_of(engine.begin(), engine.end(), stopped); }, 10));
    }
    const std::string link = "merovane-shop://silent/around?x=1";
    using Clock = std::chrono::steady_clock;
    pid_t later = -1;
    const auto startLater = [&] { later = startShellProcess({bus}, 0, {link}, "later.log"); };
    // The moments are the case itself, not waits for timers.
    if (c.startAfter < 0) {
        startLater();
        std::this_thread::sleep_for(std::chrono::milliseconds(-c.startAfter));
    }
    const auto ended = Clock::now();
    ::kill(shell, c.termination);
    if (c.startAfter >= 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(c.startAfter));
        startLater();
    }
    ASSERT_GT(later, 0);
    EXPECT_EQ(statusWithin(shell, 30), 0) << readText(out_.file("app.log"));
    const double seconds = std::chrono::duration<double>(Clock::now() - ended).count();
    EXPECT_LT(seconds, kStopCeiling) << readText(out_.file("app.log"));
    EXPECT_EQ(logLines("gave up waiting"), 0u) << readText(out_.file("app.log"));
    ASSERT_TRUE(waitUntil(
        [&] {
            return readText(out_.file("server.out")).find("received openDeepLink") !=
                   std::string::npos;
        },
        60))
        << readText(out_.file("app.log")) << readText(out_.file("later.log"));
    const std::string laterLog = readText(out_.file("later.log"));
    if (laterLog.find("handed it " + link) == std::string::npos) {
        // It ran the shell itself.
        EXPECT_NE(laterLog.find("openDeepLink( linkId = \"around\""), std::string::npos)
            << laterLog;
        ::kill(later, SIGTERM);
    }
    const int laterStatus = statusWithin(later, 30);
    EXPECT_EQ(laterStatus, 0) << (laterStatus < 0 ? threadsOf(later) : "")
                              << readText(out_.file("later.log"));
    EXPECT_EQ(occurrences(readText(out_.file("server.out")), "received openDeepLink"), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    MomentsAndEnds, LinkAroundTheEndTest,
    ::testing::Values(LinkAroundTheEnd{"CtrlZThenCtrlCThenTheStartAt300ms", true, 300, SIGINT},
                      LinkAroundTheEnd{"CtrlZThenCtrlCWithTheStart", true, 0, SIGINT},
                      LinkAroundTheEnd{"CtrlZThenSIGTERMThenTheStart", true, 100, SIGTERM},
                      LinkAroundTheEnd{"CtrlCAt30msAfterTheStart", false, -30, SIGINT},
                      LinkAroundTheEnd{"CtrlCAt90msAfterTheStart", false, -90, SIGINT},
                      LinkAroundTheEnd{"CtrlCAt200msAfterTheStart", false, -200, SIGINT},
                      LinkAroundTheEnd{"CtrlZThenCtrCAt90msAfterTheStart", true, -90, SIGINT}),
    [](const auto& info) { return std::string(info.param.name); });
#endif

// A page that hangs: its web process stopped from outside, or its script looping from the
// next data answer on (the server's answers carry the mark from then on).
enum class Hang { Nothing, WebProcessStopped, ScriptLoops };

struct HungPage {
    const char* name;
    Hang hang;
    int afterMs;  // the first signal, ms after the hang began
    std::vector<Termination> signals;
};

void PrintTo(const HungPage& page, std::ostream* out) {
    *out << page.name;
}

constexpr const char* kLoopsOnTheMark = R"(MVEvent.on('dataResponse', function (params) {
  if (String(params[2]).indexOf('"loop"') >= 0) { while (true) {} }
});)";

class HungPageTest : public StoringShellTest, public ::testing::WithParamInterface<HungPage> {
  protected:
    // The engine's web processes among the shell's own.
    std::vector<pid_t> webProcesses(pid_t shell) const {
        std::vector<pid_t> found;
        for (const pid_t pid : descendants(shell))
            if (readText("/proc/" + std::to_string(pid) + "/cmdline").find("WebProcess") !=
                std::string::npos)
                found.push_back(pid);
        return found;
    }
};

// One termination ends the shell in order, settings written, however the page hangs and
// however many of its data answers wait for it: the stop waits for no page script.
TEST_P(HungPageTest, OneTerminationEndsTheShellInOrderWithinItsBound) {
    const HungPage c = GetParam();
    out_.write("shop/home.html", homePage(std::string(kBusy) + kStoring + kLoopsOnTheMark));
    const pid_t shell = startStoringShell();
    ASSERT_GT(shell, 0);
    ASSERT_TRUE(waitUntil([&] { return pageCommands("sendDataRequest") >= 20; }, 30));
    if (c.hang == Hang::WebProcessStopped) {
        const auto web = webProcesses(shell);
        ASSERT_FALSE(web.empty()) << threadsOf(shell);
        for (const pid_t pid : web) ::kill(pid, SIGSTOP);
        ASSERT_TRUE(waitUntil([&] { return std::all_of(web.begin(), web.end(), stopped); }, 10));
    } else if (c.hang == Hang::ScriptLoops) {
        out_.write("shop/data/featured.json", R"({"loop": true, "products": []})");
    }
    // The moment is the case itself, not a wait for a timer.
    std::this_thread::sleep_for(std::chrono::milliseconds(c.afterMs));
    // Status 0 is the stop's own end, within its bound (10 s): past it, the process ends by
    // the signal. The ceiling is for a hang.
    const std::string log = endInOrder(shell, c.signals, 30);
    EXPECT_EQ(occurrences(log, "gave up waiting"), 0u) << tail(log);
}

INSTANTIATE_TEST_SUITE_P(
    HangsSignalsAndMoments, HungPageTest,
    ::testing::Values(
        HungPage{"NothingHangs", Hang::Nothing, 300, {{SIGTERM, false, 0}}},
        HungPage{
            "WebProcessStoppedThenSIGTERM", Hang::WebProcessStopped, 300, {{SIGTERM, false, 0}}},
        HungPage{"WebProcessStoppedThenSIGHUPToTheGroup2sLater",
                 Hang::WebProcessStopped,
                 2000,
                 {{SIGHUP, true, 0}}},
        HungPage{"WebProcessStoppedThenSIGTERMThenSIGHUP",
                 Hang::WebProcessStopped,
                 1000,
                 {{SIGTERM, false, 0}, {SIGHUP, false, 1}}},
        HungPage{"ScriptLoopsThenSIGTERM", Hang::ScriptLoops, 300, {{SIGTERM, false, 0}}},
        HungPage{"ScriptLoopsThenSIGINT2sLater", Hang::ScriptLoops, 2000, {{SIGINT, false, 0}}},
        HungPage{
            "ScriptLoopsThenSIGTERMToTheGroup", Hang::ScriptLoops, 1000, {{SIGTERM, true, 0}}}),
    [](const auto& info) { return std::string(info.param.name); });

// A page that sends commands faster than the shell takes them: `commands` data requests
// every `everyMs` ms, besides the storing page's splash screens.
struct FloodingPage {
    const char* name;
    int commands;
    int everyMs;
    Termination signal;  // its afterMs: after the flood has begun
};

void PrintTo(const FloodingPage& page, std::ostream* out) {
    *out << page.name;
}

// From the first data answer that carries the mark on (the busy page asks every 20 ms),
// so that the shell is shown first.
std::string floodScript(int commands, int everyMs) {
    return R"(var mvFlooding = false;
MVEvent.on('dataResponse', function (params) {
  if (mvFlooding || String(params[2]).indexOf('"flood"') < 0) return;
  mvFlooding = true;
  setInterval(function () {
    for (var i = 0; i < )" +
           std::to_string(commands) +
           R"(; ++i) mvSendOne({c: 'sendDataRequest', p: {serial: 'flood', src: 'mvapi:featured'}});
  }, )" + std::to_string(everyMs) +
           ");\n});";
}

class FloodingPageTest : public StoringShellTest,
                         public ::testing::WithParamInterface<FloodingPage> {};

// Once the stop has begun the page's commands are dropped, so the stop gets its turn and
// ends in order within its bound, with what was performed before it on disc.
TEST_P(FloodingPageTest, OneTerminationEndsTheShellInOrderWithinItsBound) {
    const FloodingPage c = GetParam();
    out_.write("shop/home.html",
               homePage(std::string(kBusy) + kStoring + floodScript(c.commands, c.everyMs)));
    const pid_t shell = startStoringShell();
    ASSERT_GT(shell, 0);
    out_.write("shop/data/featured.json", R"({"flood": true, "products": []})");
    // The page floods from the answer on that the shell hands it.
    ASSERT_TRUE(
        waitUntil([&] { return logLines("MVEvent.dataResponse( \"busy\", 200, \"{\"flood") > 0; },
                  kStepCeiling))
        << tail(readText(out_.file("app.log")));
    const auto sent =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(c.signal.afterMs);
    const std::string log = endInOrder(shell, {c.signal}, kStopCeiling);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count();
    // Past its bound the process ends by the signal; the check's own polling adds a little.
    EXPECT_LT(seconds, HostSignals::kStopTime.count() + 1.0) << tail(log);
    const size_t stop = log.find("Stopping on a termination signal");
    ASSERT_NE(stop, std::string::npos);
    // The one the main thread may have been performing as the stop began.
    EXPECT_LE(occurrences(log.substr(stop), "performing MVCommand.sendDataRequest"), 1u)
        << tail(log);
    EXPECT_EQ(occurrences(log, "page commands that came during the stop"), 1u) << tail(log);
    // A page this busy may be slow to answer before the stop; from the stop on nothing
    // waits on it.
    EXPECT_EQ(occurrences(log.substr(stop), "gave up waiting"), 0u) << tail(log);
}

INSTANTIATE_TEST_SUITE_P(
    RatesAndSignals, FloodingPageTest,
    ::testing::Values(FloodingPage{"FortyEvery4msThenSIGTERM", 40, 4, {SIGTERM, false, 2500}},
                      FloodingPage{"FortyEvery4msThenSIGINT", 40, 4, {SIGINT, false, 2500}},
                      FloodingPage{
                          "FortyEvery4msThenSIGHUPToTheGroup", 40, 4, {SIGHUP, true, 2500}},
                      FloodingPage{"TenEvery4msThenSIGTERM", 10, 4, {SIGTERM, false, 2500}},
                      FloodingPage{"HundredEvery1msThenSIGINT", 100, 1, {SIGINT, false, 1000}},
                      FloodingPage{"FortyEvery4msThenSIGHUPAt300ms", 40, 4, {SIGHUP, false, 300}},
                      FloodingPage{"OneEvery4msThenSIGTERMAt5s", 1, 4, {SIGTERM, false, 5000}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
#endif
