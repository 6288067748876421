// Termination signals that come after the first one, however close together and up to the
// process's very end, never end the shell by their default action: its status is 0.
#ifdef MV_SAMPLE_API_SERVER
#include <sched.h>
#include <signal.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "tests/app/SampleShopRun.h"

namespace {

using namespace sampleshop;

struct LateSignals {
    const char* name;
    int first;
    int then;
    int afterUs;     // the second signal, µs after the first
    bool untilGone;  // then sent back to back until the process has ended
};

void PrintTo(const LateSignals& late, std::ostream* out) {
    *out << late.name;
}

class LateSignalsTest : public SampleShopRunTest,
                        public ::testing::WithParamInterface<LateSignals> {
  protected:
    // Runs a shell once its record is written; its exit status once ended in order, -1
    // when it did not end within a ceiling for a hang.
    int stopWithLateSignals(const LateSignals& c, int run) {
        const std::string log = "app" + std::to_string(run) + ".log";
        auto app = startShell(log);
        if (!presented(log)) return -1;
        app->kill(c.first);
        // The moments are the case itself, not waits for timers.
        if (c.afterUs > 0) std::this_thread::sleep_for(std::chrono::microseconds(c.afterUs));
        if (c.untilGone) {
            while (!ended(*app)) {
                app->kill(c.then);
                sched_yield();
            }
        } else {
            app->kill(c.then);
        }
        auto status = std::async(std::launch::async, [&] { return app->wait(); });
        if (status.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
            app->kill(SIGKILL);
            status.wait();
            return -1;
        }
        const int code = status.get();
        EXPECT_EQ(sanitizerReport(readText(out_.file(log))), "");
        return code;
    }
};

TEST_P(LateSignalsTest, TheShellEndsInOrderWithStatusZero) {
    constexpr int kRuns = 3;
    std::vector<int> statuses;
    for (int run = 0; run < kRuns; ++run) statuses.push_back(stopWithLateSignals(GetParam(), run));
    EXPECT_EQ(statuses, std::vector<int>(kRuns, 0));
}

INSTANTIATE_TEST_SUITE_P(
    SignalsAndMoments, LateSignalsTest,
    ::testing::Values(LateSignals{"SIGTERMThenSIGTERMsUntilGone", SIGTERM, SIGTERM, 0, true},
                      LateSignals{"SIGINTThenSIGHUPsUntilGone", SIGINT, SIGHUP, 0, true},
                      LateSignals{"SIGTERMThenSIGTERM1msLater", SIGTERM, SIGTERM, 1000, false},
                      LateSignals{"SIGTERMThenSIGHUP1msLater", SIGTERM, SIGHUP, 1000, false},
                      LateSignals{"SIGHUPThenSIGTERM100msLater", SIGHUP, SIGTERM, 100000, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
#endif
