// The host's signals taken in this process: which of them move the application between
// the background and the foreground.
#include <gtest/gtest.h>

#include <csignal>
#include <memory>

#include "app/HostSignals.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/TestDriver.h"
#include "platform/ui/Application.h"

namespace {

using platform::ApplicationState;

class HostSignalsTest : public ::testing::Test {
  protected:
    void SetUp() override { platform::log::addLogger(log_); }
    void TearDown() override { platform::log::removeLogger(log_); }

    // Raises `number` and waits until the main loop has taken it.
    bool take(int number, const char* name) {
        const size_t before = log_->count(name);
        ::raise(number);
        return platform::runUntil([&] { return log_->count(name) > before; }, 10);
    }

    std::shared_ptr<platform::log::RecordingLogger> log_ =
        std::make_shared<platform::log::RecordingLogger>();
    platform::Application& application_ = platform::Application::shared();
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

}  // namespace
