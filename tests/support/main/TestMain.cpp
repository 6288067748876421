// Entry point of every test executable: OpenSSL is kept until the process is gone (a
// worker may still use it while the process exits), the manual clock goes in before any
// thread starts, the stored entities register, and shared instances are reset between tests.
#include <gtest/gtest.h>

#include <cstdlib>

#include "libmerovane/application/MVPersistentEntities.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/OpenSSLSetup.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/foundation/TestDriver.h"

namespace {
class ResetListener : public ::testing::EmptyTestEventListener {
    void OnTestEnd(const ::testing::TestInfo&) override {
        platform::log::flush();
        platform::RunLoop::main().discardPendingForTesting();
        platform::resetSharedInstancesForTesting();
    }
};
}  // namespace

int main(int argc, char** argv) {
    platform::keepOpenSSLUntilExit();
    platform::Clock::installManual();
    MVRegisterPersistentEntities();
    ::testing::InitGoogleTest(&argc, argv);
    // MV_TEST_LOG=1 shows the system's log lines while debugging a test.
    if (const char* v = std::getenv("MV_TEST_LOG"); v && *v && *v != '0')
        platform::log::addLogger(platform::log::makeConsoleLogger());
    ::testing::UnitTest::GetInstance()->listeners().Append(new ResetListener);
    return RUN_ALL_TESTS();
}
