// The host application run headless against the sample API server, as scripts/run does:
// the record of the run, and a second run over the same home that replays the stored
// boot script.
#ifdef MV_SAMPLE_API_SERVER
#include "tests/app/SampleShopRun.h"

namespace {

using namespace sampleshop;

TEST_F(SampleShopRunTest, TheHomePageIsShownThenASecondRunReplaysTheStoredBootScript) {
    runOnce("app.log");
    const auto first = commands(readText(out_.file("commands.log")));
    EXPECT_TRUE(inOrder(first, {"up appStart", "down bootApp", "down openPage",
                                "page sendDataRequest", "up dataRequest", "down dataResponse"}))
        << ::testing::PrintToString(first);
    EXPECT_EQ(readText(out_.file("screenshot.png")).substr(1, 3), "PNG");
    EXPECT_NE(readText(out_.file("presented.json")).find("mvapi:home"), std::string::npos)
        << readText(out_.file("presented.json"));

    runOnce("app2.log");
    const std::string second = readText(out_.file("app2.log"));
    EXPECT_NE(second.find("MVLibraryApplication boots app using script with Identifier: "
                          "\"sample\" refreshing resources."),
              std::string::npos)
        << second;
    EXPECT_NE(second.find("bootAppIdentifier = \"sample\""), std::string::npos) << second;
    // The stored script opens the home page before the server is asked.
    EXPECT_TRUE(inOrder(commands(readText(out_.file("commands.log"))),
                        {"down openPage", "up appStart", "page sendDataRequest"}));
}

}  // namespace
#endif
