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
#include <filesystem>
#include <iostream>
#include <thread>

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
        for (const pid_t pid : started_) ::waitpid(pid, nullptr, 0);
    }

    // Starts `program` in the process group `group`, a new one of its own when 0, as a
    // terminal's shell starts a job.
    pid_t startInGroup(std::vector<std::string> program, pid_t group, const std::string& log) {
        std::vector<std::string> environment = {"MEROVANE_HOME=" + out_.file("home")};
        for (char** e = environ; *e; ++e)
            if (!std::string_view(*e).starts_with("MEROVANE_HOME=")) environment.push_back(*e);
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

    // The shell in the real engine as a job of its own, once its home page has registered
    // its events.
    pid_t startShellJob() {
        std::vector<std::string> program = {MV_APP_EXECUTABLE};
        const auto settings = shellArguments({}, "webkit");
        program.insert(program.end(), settings.begin(), settings.end());
        const pid_t shell = group_ = startInGroup(program, 0, "app.log");
        if (shell <= 0 || !presented("app.log")) return -1;
        EXPECT_TRUE(waitUntil([&] { return pageCommands("registerEvents") == 1; }, 30))
            << readText(out_.file("commands.log"));
        return shell;
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
    EXPECT_FALSE(stopped(shell));

    const size_t requests = pageCommands("sendDataRequest");
    ::kill(shell, SIGCONT);
    EXPECT_TRUE(waitUntil([&] { return pageCommands("sendDataRequest") > requests; }, 20))
        << readText(out_.file("app.log"));
    EXPECT_TRUE(std::none_of(engine.begin(), engine.end(), stopped));
    EXPECT_TRUE(stopped(other));
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
        const auto stop = Clock::now();
        ::kill(-shell, SIGTSTP);
        ASSERT_TRUE(
            waitUntil([&] { return std::all_of(engine.begin(), engine.end(), stopped); }, 10));
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

}  // namespace
#endif
