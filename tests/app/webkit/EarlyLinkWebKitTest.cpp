// A link a later start gives while the shell starts, with pages in the real engine.
#if defined(MV_SAMPLE_API_SERVER) && defined(MV_DBUS_DAEMON)
#include "tests/app/EarlyLinkRun.h"

namespace {

using sampleshop::EarlyLinkTest;

TEST_P(EarlyLinkTest, ALinkGivenWhileTheShellStartsReachesTheServerOnce) {
    expectTheLinkOnce("webkit");
}

INSTANTIATE_TEST_SUITE_P(MillisecondsBetweenTheStarts, EarlyLinkTest,
                         ::testing::Values(0, 10, 30, 80, 150, 400));

}  // namespace
#endif
