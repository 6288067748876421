// The host's signals taken in this process: which of them move the application between
// the background and the foreground, and that a termination is taken however many other
// signals come with it.
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/HostSignals.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/TestDriver.h"
#include "platform/ui/Application.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

namespace {

using platform::ApplicationState;

class HostSignalsTest : public ::testing::Test {
  protected:
    void SetUp() override { platform::log::addLogger(log_); }
    void TearDown() override {
        endFlood();
        platform::log::removeLogger(log_);
    }

    // Raises `number` and waits until the main loop has taken it.
    bool take(int number, const char* name) {
        const size_t before = log_->count(name);
        ::raise(number);
        return platform::runUntil([&] { return log_->count(name) > before; }, 10);
    }

    // Another process sends this one `signals`, one after the other, as fast as it can.
    void startFlood(std::vector<int> signals) {
        const pid_t target = ::getpid();
        flooder_ = ::fork();
        ASSERT_GE(flooder_, 0);
        if (flooder_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            for (;;)
                for (const int number : signals)
                    if (::kill(target, number) != 0) ::_exit(0);
        }
    }
    // Ends the flood; none of its signals is left to come when the watch ends (a runtime
    // that delivers signals late has delivered them once no line has come for 0.2 s).
    void endFlood() {
        if (flooder_ <= 0) return;
        ::kill(flooder_, SIGKILL);
        ::waitpid(std::exchange(flooder_, 0), nullptr, 0);
        auto quietSince = std::chrono::steady_clock::now();
        size_t lines = 0;
        EXPECT_TRUE(platform::runUntil(
            [&] {
                sigset_t pending;
                ::sigpending(&pending);
                const size_t now = log_->count("SIG");
                if (now != std::exchange(lines, now) || ::sigismember(&pending, SIGTSTP) ||
                    ::sigismember(&pending, SIGCONT))
                    quietSince = std::chrono::steady_clock::now();
                return std::chrono::steady_clock::now() - quietSince >
                       std::chrono::milliseconds(200);
            },
            20));
    }

    std::shared_ptr<platform::log::RecordingLogger> log_ =
        std::make_shared<platform::log::RecordingLogger>();
    platform::Application& application_ = platform::Application::shared();
    pid_t flooder_ = 0;
};

TEST_F(HostSignalsTest, SIGCONTBringsBackOnlyWhatSIGTSTPSentToTheBackground) {
    const HostSignals signals;
    // A window minimised: the shell was not stopped.
    application_.enterBackground();
    ASSERT_TRUE(take(SIGCONT, "SIGCONT"));
    EXPECT_EQ(application_.applicationState(), ApplicationState::Background);
    application_.enterForeground();

    ASSERT_TRUE(take(SIGTSTP, "SIGTSTP"));
    EXPECT_EQ(application_.applicationState(), ApplicationState::Background);
    ASSERT_TRUE(take(SIGCONT, "SIGCONT"));
    EXPECT_EQ(application_.applicationState(), ApplicationState::Active);

    // A SIGTSTP that finds the window minimised sends nothing to the background either.
    application_.enterBackground();
    ASSERT_TRUE(take(SIGTSTP, "SIGTSTP"));
    ASSERT_TRUE(take(SIGCONT, "SIGCONT"));
    EXPECT_EQ(application_.applicationState(), ApplicationState::Background);
}

// The flood's signals, how long it runs before the termination, and which termination.
struct Flood {
    std::vector<int> signals;
    int flooding;  // ms
    int termination;
};

class SignalFloodTest : public HostSignalsTest, public ::testing::WithParamInterface<Flood> {};

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define MV_SIGNALS_DEFERRED 1
#endif
#endif

TEST_P(SignalFloodTest, ATerminationIsTakenAtOnceHoweverManySignalsCome) {
#ifdef MV_SIGNALS_DEFERRED
    // ThreadSanitizer runs handlers late, at points of its own, and merges what comes
    // meanwhile: a flood's timing there is not the program's.
    GTEST_SKIP() << "signals are deferred under ThreadSanitizer";
#endif
    int ends = 0;
    const HostSignals signals({[&] { ++ends; }, {}, {}, {}});
    startFlood(GetParam().signals);
    ASSERT_TRUE(platform::runUntil([&] { return log_->count("SIGCONT") > 0; }, 10));
    // The flood's length is the case itself, not a wait for a timer; the main loop runs
    // meanwhile, as the shell's does.
    const auto floodEnds =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(GetParam().flooding);
    platform::runUntil([&] { return std::chrono::steady_clock::now() >= floodEnds; }, 10);
    ::kill(::getpid(), GetParam().termination);
    // Taken while the flood still runs, whenever a loaded machine runs the handling: the
    // 10 s are a hang check.
    const bool stopping = platform::runUntil([&] { return ends > 0; }, 10);
    endFlood();
    ASSERT_TRUE(stopping) << "not taken in 10 s, " << log_->count("SIGCONT")
                          << " SIGCONT lines meanwhile";
    EXPECT_TRUE(
        platform::runUntil([&] { return log_->contains("Stopping on a termination signal"); }, 10));
    EXPECT_EQ(log_->count("Stopping on a termination signal"), 1u);
    EXPECT_EQ(ends, 1);
    // Every kind that came was taken.
    for (const int number : GetParam().signals)
        EXPECT_GT(log_->count(number == SIGTSTP ? "SIGTSTP" : "SIGCONT"), 0u) << number;
}

INSTANTIATE_TEST_SUITE_P(
    KindsMomentsAndEnds, SignalFloodTest,
    ::testing::Values(Flood{{SIGCONT}, 0, SIGTERM}, Flood{{SIGCONT}, 300, SIGINT},
                      Flood{{SIGCONT}, 300, SIGHUP}, Flood{{SIGTSTP, SIGCONT}, 500, SIGHUP},
                      Flood{{SIGCONT}, 1500, SIGTERM}, Flood{{SIGTSTP, SIGCONT}, 100, SIGTERM},
                      Flood{{SIGTSTP, SIGCONT}, 1500, SIGINT},
                      Flood{{SIGTSTP, SIGTSTP, SIGCONT}, 500, SIGTERM}));

// A process whose stop is held (here it never comes), sent the terminations its role
// names ("first[,second][|write:FILE or |hang]"), 10 ms apart: what it can still write
// once the stop outlasts its time writes FILE, or hangs.
TEST(HostSignalsChild, HeldStop) {
    const std::string role = childRole();
    if (role.empty()) GTEST_SKIP() << "runs as a child process only";
    const std::string numbers = role.substr(0, role.find('|'));
    const std::string overrun =
        role.find('|') == std::string::npos ? "" : role.substr(role.find('|') + 1);
    HostSignals::Hooks hooks;
    hooks.stop = [] {};
    if (overrun.starts_with("write:"))
        hooks.overrun = [file = overrun.substr(6)] { std::ofstream(file) << "written"; };
    else if (overrun == "hang")
        hooks.overrun = [] { std::this_thread::sleep_for(std::chrono::hours(1)); };
    const HostSignals signals(std::move(hooks));
    for (size_t at = 0; at < numbers.size();) {
        ::raise(std::stoi(numbers.substr(at)));
        at = numbers.find(',', at);
        at = at == std::string::npos ? numbers.size() : at + 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::seconds(60));
    ::_exit(0);
}

// The terminations sent to a held stop, what its `overrun` hook does, and the signal the
// process ends by.
struct HeldStop {
    const char* name;
    std::string signals;
    std::string overrun;  // "", "write" or "hang"
    int endingSignal;
};

void PrintTo(const HeldStop& held, std::ostream* out) {
    *out << held.name;
}

// However many terminations come, the stop keeps its time from the first, writes what it
// can, then the process ends by the last one.
class HeldStopTest : public HostSignalsTest, public ::testing::WithParamInterface<HeldStop> {};

TEST_P(HeldStopTest, TheStopGoesOnForItsTimeFromTheFirstTerminationThenTheProcessEnds) {
#ifdef MV_SIGNALS_DEFERRED
    GTEST_SKIP() << "signals are deferred under ThreadSanitizer";
#endif
    const HeldStop c = GetParam();
    const TempDir folder;
    const std::string written = folder.file("written");
    const auto started = std::chrono::steady_clock::now();
    ChildProcess child("HostSignalsChild.HeldStop",
                       c.signals + (c.overrun.empty()      ? ""
                                    : c.overrun == "write" ? "|write:" + written
                                                           : "|" + c.overrun));
    // Not cut short by another signal.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    siginfo_t info{};
    EXPECT_EQ(::waitid(P_PID, static_cast<id_t>(child.pid()), &info, WEXITED | WNOHANG | WNOWAIT),
              0);
    EXPECT_EQ(info.si_pid, 0) << "ended before its time";
    // A ceiling for a hang, well past the stop's own bound.
    auto status = std::async(std::launch::async, [&] { return child.wait(); });
    if (status.wait_for(std::chrono::seconds(40)) != std::future_status::ready) child.kill(SIGKILL);
    EXPECT_EQ(status.get(), 128 + c.endingSignal);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_GT(seconds, static_cast<double>(HostSignals::kStopTime.count()));
    EXPECT_EQ(std::filesystem::exists(written), c.overrun == "write");
}

INSTANTIATE_TEST_SUITE_P(
    TerminationsAndWrites, HeldStopTest,
    ::testing::Values(HeldStop{"OneSIGTERM", "15", "", SIGTERM},
                      HeldStop{"OneSIGHUPThatWrites", "1", "write", SIGHUP},
                      HeldStop{"OneSIGINTWhoseWriteHangs", "2", "hang", SIGINT},
                      HeldStop{"SIGTERMThenSIGTERM", "15,15", "write", SIGTERM},
                      HeldStop{"SIGTERMThenSIGHUP", "15,1", "", SIGHUP},
                      HeldStop{"SIGHUPThenSIGINT", "1,2", "", SIGINT},
                      HeldStop{"SIGHUPThenSIGINTThenSIGTERM", "1,2,15", "hang", SIGTERM}),
    [](const auto& info) { return std::string(info.param.name); });

// A stop that ended in order ignores the signals that come while the process ends.
TEST(HostSignalsChild, EndedStop) {
    if (childRole() != "ended") GTEST_SKIP() << "runs as a child process only";
    std::optional<HostSignals> signals;
    signals.emplace(HostSignals::Hooks{[] {}, {}, {}, {}});
    ::raise(SIGTERM);
    if (!HostSignals::terminationCame(std::chrono::seconds(10))) ::_exit(2);
    signals->endStop();
    for (const int number : {SIGTERM, SIGHUP, SIGINT, SIGTSTP}) ::raise(number);
    signals.reset();
    for (const int number : {SIGTERM, SIGHUP, SIGINT, SIGTSTP}) ::raise(number);
    ::_exit(0);
}

TEST(HostSignalsEndTest, SignalsAfterAnEndedStopChangeNothing) {
#ifdef MV_SIGNALS_DEFERRED
    GTEST_SKIP() << "signals are deferred under ThreadSanitizer";
#endif
    ChildProcess child("HostSignalsChild.EndedStop", "ended");
    auto status = std::async(std::launch::async, [&] { return child.wait(); });
    if (status.wait_for(std::chrono::seconds(40)) != std::future_status::ready) child.kill(SIGKILL);
    EXPECT_EQ(status.get(), 0);
}

// A stop that ended in order after a termination ("signal,stopMs,hold,another"): its own
// work takes stopMs, then what is left of the process's end holds it ("main": the main
// thread, "exit": a handler of the runtime's end, "none": nothing), while another
// termination may come.
TEST(HostSignalsChild, LingeringEnd) {
    const std::string role = childRole();
    if (role.empty()) GTEST_SKIP() << "runs as a child process only";
    std::vector<std::string> fields;
    for (size_t at = 0; at <= role.size();) {
        const size_t comma = std::min(role.find(',', at), role.size());
        fields.push_back(role.substr(at, comma - at));
        at = comma + 1;
    }
    if (fields.size() != 4) ::_exit(3);
    std::optional<HostSignals> signals;
    signals.emplace(HostSignals::Hooks{[] {}, {}, {}, {}});
    ::raise(std::stoi(fields[0]));
    if (!HostSignals::terminationCame(std::chrono::seconds(10))) ::_exit(2);
    // The stop's own work, the case itself.
    std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(fields[1])));
    signals->endStop();
    signals.reset();
    if (fields[3] == "1") ::raise(SIGTERM);
    if (fields[2] == "exit") {
        std::atexit([] { std::this_thread::sleep_for(std::chrono::seconds(60)); });
        std::exit(0);
    }
    if (fields[2] == "main") std::this_thread::sleep_for(std::chrono::seconds(60));
    std::exit(0);
}

struct LingeringEnd {
    const char* name;
    std::string role;
    bool held;  // ends at the bound, else at once
};

void PrintTo(const LingeringEnd& end, std::ostream* out) {
    *out << end.name;
}

class LingeringEndTest : public HostSignalsTest,
                         public ::testing::WithParamInterface<LingeringEnd> {};

// The stop's bound covers the process's end, not only its writing: status 0 either way.
TEST_P(LingeringEndTest, TheProcessEndsWithinTheStopsBoundWithStatusZero) {
#ifdef MV_SIGNALS_DEFERRED
    GTEST_SKIP() << "signals are deferred under ThreadSanitizer";
#endif
    const LingeringEnd c = GetParam();
    const auto started = std::chrono::steady_clock::now();
    ChildProcess child("HostSignalsChild.LingeringEnd", c.role);
    // A ceiling for a hang, well past the stop's own bound.
    auto status = std::async(std::launch::async, [&] { return child.wait(); });
    if (status.wait_for(std::chrono::seconds(40)) != std::future_status::ready) child.kill(SIGKILL);
    EXPECT_EQ(status.get(), 0);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const auto bound = static_cast<double>(HostSignals::kStopTime.count());
    if (c.held) {
        EXPECT_GT(seconds, bound - 0.5);
    }
    // What a loaded machine may add to the child's start and end.
    EXPECT_LT(seconds, bound + 5);
}

INSTANTIATE_TEST_SUITE_P(
    MomentsAndHolds, LingeringEndTest,
    ::testing::Values(LingeringEnd{"SIGTERMStoppedAtOnceThenMainHeld", "15,0,main,0", true},
                      LingeringEnd{"SIGHUPStopped5sLaterThenTheExitHeld", "1,5000,exit,0", true},
                      LingeringEnd{"SIGINTStopped9500msLaterThenMainHeld", "2,9500,main,0", true},
                      LingeringEnd{"SIGTERMThenAnotherWhileMainIsHeld", "15,0,main,1", true},
                      LingeringEnd{"SIGHUPThenNothingHolds", "1,0,none,0", false}),
    [](const auto& info) { return std::string(info.param.name); });

// What the host hears on the signal thread, and the end on the main loop in place of the
// main loop's stop.
TEST_F(HostSignalsTest, TheHooksHearOfStopsAndOfTheEnd) {
    std::mutex mutex;
    std::vector<bool> told;
    int ends = 0;
    std::atomic<int> stoppings{0};
    const HostSignals signals({[&] { ++ends; },
                               [&](bool stopped) {
                                   const std::lock_guard<std::mutex> lock(mutex);
                                   told.push_back(stopped);
                               },
                               [&] { ++stoppings; },
                               {}});
    EXPECT_FALSE(HostSignals::terminationCame(std::chrono::milliseconds(0)));
    ASSERT_TRUE(take(SIGTSTP, "SIGTSTP"));
    ASSERT_TRUE(take(SIGCONT, "SIGCONT"));
    {
        const std::lock_guard<std::mutex> lock(mutex);
        EXPECT_EQ(told, (std::vector<bool>{true, false}));
    }
    EXPECT_EQ(stoppings, 0);
    ::raise(SIGTERM);
    EXPECT_TRUE(HostSignals::terminationCame(std::chrono::seconds(10)));
    // Told at once, on the signal thread, before the main loop hears of the end.
    EXPECT_EQ(stoppings, 1);
    EXPECT_TRUE(platform::runUntil([&] { return ends == 1; }, 10));
    ASSERT_TRUE(take(SIGHUP, "Another termination signal during the stop"));
    EXPECT_EQ(stoppings, 1);
    EXPECT_EQ(ends, 1);
}

}  // namespace
