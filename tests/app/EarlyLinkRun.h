#pragma once
// A link given while the shell starts: a second start over the same fresh home, the
// test's parameter in milliseconds after the first, with a deep link. Whichever of the two
// registers on the bus first runs the shell; the other hands its link over (or shows the
// shell) and ends. Either way the link reaches the server once.
#include <chrono>
#include <thread>

#include "tests/app/SampleShopRun.h"

namespace sampleshop {

class EarlyLinkTest : public SampleShopRunTest, public ::testing::WithParamInterface<int> {
  protected:
    void expectTheLinkOnce(const std::string& engine) {
        const std::string link = "merovane-shop://silent/early?x=1";
        const ChildProcess::Environment bus = {{"DBUS_SESSION_BUS_ADDRESS", startBus("bus")}};
        auto first = startShell("first.log", {}, engine, bus);
        // The time between the two starts is the case itself, not a wait for a timer.
        std::this_thread::sleep_for(std::chrono::milliseconds(GetParam()));
        auto later = startAnother("later.log", {link}, engine, bus);
        const auto logOf = [&](const char* name) { return readText(out_.file(name)); };
        ASSERT_TRUE(waitUntil([&] { return ended(*first) || ended(*later); }, kFirstPageCeiling))
            << logOf("first.log") << logOf("later.log");
        const bool handedOver = ended(*later);
        auto& shell = handedOver ? first : later;
        const char* shellLog = handedOver ? "first.log" : "later.log";
        EXPECT_EQ((handedOver ? later : first)->wait(), 0) << logOf("later.log");
        ASSERT_TRUE(presented(shellLog));
        ASSERT_TRUE(waitUntil(
            [&] {
                return logOf(shellLog).find("openDeepLink( linkId = \"early\"") !=
                           std::string::npos &&
                       logOf("server.out").find("received openDeepLink") != std::string::npos;
            },
            kStepCeiling))
            << logOf(shellLog) << logOf("server.out");
        EXPECT_NE(logOf(shellLog).find("parameters = \"?x=1\""), std::string::npos);
        if (handedOver) {
            EXPECT_NE(logOf(shellLog).find("Opening " + link + ", handed over by another start"),
                      std::string::npos);
        }
        shell->kill(SIGTERM);
        EXPECT_EQ(shell->wait(), 0) << logOf(shellLog);
        EXPECT_EQ(occurrences(logOf("server.out"), "received openDeepLink"), 1u)
            << logOf("server.out");
    }
};

}  // namespace sampleshop
