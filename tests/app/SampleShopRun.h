#pragma once
// The host application run against the sample API server as scripts/run runs it, for the
// tests of a run's record: the server (also the shell's log server, its reports kept in
// reports/) as a child process, the shell as another one over a home and output folder
// the test keeps.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/DesktopSession.h"
#include "app/RunRecorder.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

namespace sampleshop {

// Wall-clock ceilings of the tests that run the shell as a child: hang checks, never speed
// claims (speed is measured in bench/). Each names the system's bound it checks and adds
// kLoadMargin, what a dev build (sanitized) on a loaded machine (twice as many tests as
// cores) may add to a start or a stop: a few seconds there, ten allowed.
inline constexpr double kLoadMargin = 10;
// A later start that reaches no answer ends once the hand-over's call goes unanswered; it
// never waits for the answer a reached shell has.
inline constexpr double kUnansweredStartCeiling =
    static_cast<double>(DesktopSession::kHandOverTime.count()) + kLoadMargin;
static_assert(kUnansweredStartCeiling < DesktopSession::kAnswerTime.count());
// A later start that reaches the running shell has its answer within the answer time.
inline constexpr double kHandOverCeiling =
    static_cast<double>(DesktopSession::kAnswerTime.count()) + kLoadMargin;
// The first page is recorded: the readiness poll waits at most 40 s for a page with the
// page library, the record then at most kMostSettlingSeconds for the page to settle.
inline constexpr double kFirstPageCeiling = 40 + RunRecorder::kMostSettlingSeconds + kLoadMargin;
// A stop ends within its bound, 10 s from the signal, whatever its file work and the
// store's write take; the process's end after it keeps that bound too (5 s more allowed).
inline constexpr double kStopCeiling = 10 + 5 + kLoadMargin;
// A step with no bound of its own (a helper process is up, a line or command of a step the
// shell takes at once shows): a hang check only.
inline constexpr double kStepCeiling = 3 * kLoadMargin;

inline std::string readText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Waits in real time for the children, which run on the real clock.
inline bool waitUntil(const std::function<bool()>& done, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

// "<direction> <name>" of each line of a command log.
inline std::vector<std::string> commands(const std::string& log) {
    static const std::regex line(R"(^[0-9.]+ (up|down|page) [0-9.]+ (\w+)$)");
    std::vector<std::string> found;
    std::istringstream in(log);
    for (std::string text; std::getline(in, text);) {
        std::smatch match;
        if (std::regex_match(text, match, line))
            found.push_back(match[1].str() + " " + match[2].str());
    }
    return found;
}

// Whether the child has ended, without reaping it.
inline bool ended(const ChildProcess& child) {
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(child.pid()), &info, WEXITED | WNOHANG | WNOWAIT) ==
               0 &&
           info.si_pid == child.pid();
}

// The state letter of a running process ('T' when stopped).
inline char processState(pid_t pid) {
    const std::string stat = readText("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() ? stat[close + 2] : '?';
}

// Whether `wanted` appear in `all` in this order, others between them allowed.
inline bool inOrder(const std::vector<std::string>& all, const std::vector<std::string>& wanted) {
    size_t next = 0;
    for (const auto& c : all)
        if (next < wanted.size() && c == wanted[next]) ++next;
    return next == wanted.size();
}

inline size_t occurrences(const std::string& text, const std::string& part) {
    size_t found = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++found;
    return found;
}

// The first line of a sanitizer's report in a program's output, "" when there is none:
// a report made while the process ends may leave its exit status 0.
inline std::string sanitizerReport(const std::string& output) {
    for (const char* mark : {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer",
                             "WARNING: ThreadSanitizer", ": runtime error: "}) {
        const size_t at = output.find(mark);
        if (at == std::string::npos) continue;
        const size_t begin = output.rfind('\n', at);
        const size_t from = begin == std::string::npos ? 0 : begin + 1;
        return output.substr(from, output.find('\n', at) - from);
    }
    return {};
}

class SampleShopRunTest : public ::testing::Test {
  protected:
    void SetUp() override { startServer(); }
    // The server with `arguments` after the run's.
    void startServer(const std::vector<std::string>& arguments = {}) {
        std::vector<std::string> all = {"--port", "0", "--reports", out_.file("reports")};
        all.insert(all.end(), arguments.begin(), arguments.end());
        server_ = std::make_unique<ChildProcess>(
            ChildProcess::Program{MV_SAMPLE_API_SERVER, all, out_.file("server.out")});
        ASSERT_TRUE(waitUntil([&] { return !apiUrl().empty(); }, kStepCeiling))
            << readText(out_.file("server.out"));
    }
    std::string apiUrl() const {
        static const std::regex listening(R"(listening on (http://127\.0\.0\.1:[0-9]+/))");
        std::smatch match;
        const std::string text = readText(out_.file("server.out"));
        return std::regex_search(text, match, listening) ? match[1].str() : std::string();
    }
    // The shell's run settings, then `arguments`.
    std::vector<std::string> shellArguments(const std::vector<std::string>& arguments,
                                            const std::string& engine) const {
        std::vector<std::string> all = {"-dev_workspace", apiUrl(), "-log_server", apiUrl(),
                                        "-web_engine",    engine,   "-run_output", out_.path()};
        all.insert(all.end(), arguments.begin(), arguments.end());
        return all;
    }
    // Starts the shell with `arguments` after the run's settings, its output in `log`.
    std::unique_ptr<ChildProcess> startShell(const std::string& log,
                                             const std::vector<std::string>& arguments = {},
                                             const std::string& engine = "headless",
                                             const ChildProcess::Environment& environment = {}) {
        std::remove(out_.file("presented.json").c_str());
        return startAnother(log, arguments, engine, environment);
    }
    // The same, beside a shell already started (its record is left).
    std::unique_ptr<ChildProcess> startAnother(const std::string& log,
                                               const std::vector<std::string>& arguments,
                                               const std::string& engine,
                                               const ChildProcess::Environment& environment) {
        ChildProcess::Environment variables = {{"MEROVANE_HOME", out_.file("home")}};
        variables.insert(variables.end(), environment.begin(), environment.end());
        return std::make_unique<ChildProcess>(
            ChildProcess::Program{program_, shellArguments(arguments, engine), out_.file(log)},
            variables);
    }
    // Until the record of the started shell is written.
    bool presented(const std::string& log) {
        const bool shown = waitUntil([&] { return !readText(out_.file("presented.json")).empty(); },
                                     kFirstPageCeiling);
        EXPECT_TRUE(shown) << readText(out_.file(log));
        return shown;
    }
    // Runs the shell until the record is written, then ends it as scripts/run does.
    void runOnce(const std::string& log, const std::string& engine = "headless") {
        auto app = startShell(log, {}, engine);
        ASSERT_TRUE(presented(log));
        app->kill(SIGTERM);
        EXPECT_EQ(app->wait(), 0) << readText(out_.file(log));
    }

    // Starts the shell and answers its status: once its first page is shown it is stopped
    // by the signal; one that ends by itself is waited for. Its output holds no sanitizer
    // report and no escaped exception.
    int stopAtFirstPage(const std::string& log, const ChildProcess::Environment& environment = {},
                        const std::vector<std::string>& arguments = {}) {
        auto app = startShell(log, arguments, "headless", environment);
        EXPECT_TRUE(
            waitUntil([&] { return ended(*app) || !readText(out_.file("presented.json")).empty(); },
                      kFirstPageCeiling))
            << readText(out_.file(log));
        if (!ended(*app)) app->kill(SIGTERM);
        if (!waitUntil([&] { return ended(*app); }, kStopCeiling)) {
            ADD_FAILURE() << "the shell did not end: " << readText(out_.file(log));
            app->kill(SIGKILL);
        }
        const int status = app->wait();
        const std::string text = readText(out_.file(log));
        EXPECT_EQ(sanitizerReport(text), "") << text;
        EXPECT_EQ(text.find("terminate called"), std::string::npos) << text;
        return status;
    }

#ifdef MV_DBUS_DAEMON
    // A message bus of the test's own (named `name`): the single-instance road and the
    // memory monitor need no desktop. Answers its address.
    std::string startBus(const std::string& name) {
        const std::string socket = out_.file(name);
        buses_.push_back(std::make_unique<ChildProcess>(ChildProcess::Program{
            MV_DBUS_DAEMON,
            {"--session", "--nofork", "--print-address=1", "--address=unix:path=" + socket},
            out_.file(name + ".log")}));
        // Printed once it listens.
        EXPECT_TRUE(waitUntil(
            [&] {
                return readText(out_.file(name + ".log")).find("unix:path=" + socket + ",") !=
                       std::string::npos;
            },
            kStepCeiling))
            << readText(out_.file(name + ".log"));
        return "unix:path=" + socket;
    }
#endif

    TempDir out_;
    std::string program_ = MV_APP_EXECUTABLE;  // the shell started
    std::unique_ptr<ChildProcess> server_;
    std::vector<std::unique_ptr<ChildProcess>> buses_;
};

}  // namespace sampleshop
