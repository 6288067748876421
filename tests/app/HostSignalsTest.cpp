// The host's signals taken in this process: which of them move the application between
// the background and the foreground, and that a termination is taken however many other
// signals come with it.
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/HostSignals.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/TestDriver.h"
#include "platform/ui/Application.h"
#include "tests/support/ChildProcess.h"

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
    const HostSignals signals({[&] { ++ends; }, {}});
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

// A process whose stop is held (here it never comes), sent the two terminations its role
// names ("first,second").
TEST(HostSignalsChild, HeldStop) {
    const std::string role = childRole();
    if (role.empty()) GTEST_SKIP() << "runs as a child process only";
    const int first = std::stoi(role);
    const int second = std::stoi(role.substr(role.find(',') + 1));
    const HostSignals signals({[] {}, {}});
    ::raise(first);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ::raise(second);
    std::this_thread::sleep_for(std::chrono::seconds(60));
    ::_exit(0);
}

// Another termination while the stop is held: the stop keeps its time, then the process
// ends by that signal.
class AnotherTerminationTest : public HostSignalsTest,
                               public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(AnotherTerminationTest, TheStopGoesOnForItsTimeThenTheProcessEnds) {
#ifdef MV_SIGNALS_DEFERRED
    GTEST_SKIP() << "signals are deferred under ThreadSanitizer";
#endif
    const auto [first, second] = GetParam();
    const auto started = std::chrono::steady_clock::now();
    ChildProcess child("HostSignalsChild.HeldStop",
                       std::to_string(first) + "," + std::to_string(second));
    // Not cut short by the second signal.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    siginfo_t info{};
    EXPECT_EQ(::waitid(P_PID, static_cast<id_t>(child.pid()), &info, WEXITED | WNOHANG | WNOWAIT),
              0);
    EXPECT_EQ(info.si_pid, 0) << "ended before its time";
    auto status = std::async(std::launch::async, [&] { return child.wait(); });
    if (status.wait_for(std::chrono::seconds(40)) != std::future_status::ready) child.kill(SIGKILL);
    EXPECT_EQ(status.get(), 128 + second);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_GT(seconds, 10);
}

INSTANTIATE_TEST_SUITE_P(FirstAndSecond, AnotherTerminationTest,
                         ::testing::Values(std::pair{SIGTERM, SIGTERM}, std::pair{SIGTERM, SIGHUP},
                                           std::pair{SIGHUP, SIGINT}));

// What the host hears on the signal thread, and the end on the main loop in place of the
// main loop's stop.
TEST_F(HostSignalsTest, TheHooksHearOfStopsAndOfTheEnd) {
    std::mutex mutex;
    std::vector<bool> told;
    int ends = 0;
    const HostSignals signals({[&] { ++ends; },
                               [&](bool stopped) {
                                   const std::lock_guard<std::mutex> lock(mutex);
                                   told.push_back(stopped);
                               }});
    EXPECT_FALSE(HostSignals::terminationCame(std::chrono::milliseconds(0)));
    ASSERT_TRUE(take(SIGTSTP, "SIGTSTP"));
    ASSERT_TRUE(take(SIGCONT, "SIGCONT"));
    {
        const std::lock_guard<std::mutex> lock(mutex);
        EXPECT_EQ(told, (std::vector<bool>{true, false}));
    }
    ::raise(SIGTERM);
    EXPECT_TRUE(HostSignals::terminationCame(std::chrono::seconds(10)));
    EXPECT_TRUE(platform::runUntil([&] { return ends == 1; }, 10));
}

}  // namespace
