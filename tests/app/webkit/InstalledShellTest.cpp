// The shell installed as the component "app", pages in the real engine: a page's style
// sheet, script and image go through the web cache by the extension installed beside the
// program, not the build's; without it, an error line, and the engine loads them itself.
#ifdef MV_SAMPLE_API_SERVER
#include <filesystem>

#include "tests/app/InstalledApp.h"
#include "tests/app/SampleShopRun.h"

namespace {

using namespace sampleshop;

TEST_F(SampleShopRunTest, TheInstalledShellRoutesSubResourcesByTheExtensionBesideIt) {
    const InstalledApp app(out_.file("installed"));
    ASSERT_TRUE(app.installed()) << app.output();
    program_ = app.executable();
    const auto requested = [&](const std::string& log, const char* file) {
        return readText(out_.file(log)).find("HTTP Request [" + apiUrl() + "shop/" + file + "]") !=
               std::string::npos;
    };
    const char* resources[] = {"style.css", "libmerovane.js", "logo.png"};
    const std::string missing = "The web engine's extension is missing";

    runOnce("app.log", "webkit");
    for (const char* file : resources) EXPECT_TRUE(requested("app.log", file)) << file;
    EXPECT_EQ(readText(out_.file("app.log")).find(missing), std::string::npos);

    const auto extension = app.programFolder() / "webkit-extensions" / MV_APP_WEBKIT_EXTENSION;
    ASSERT_TRUE(std::filesystem::remove(extension));
    std::filesystem::remove_all(out_.file("home"));
    runOnce("app2.log", "webkit");
    for (const char* file : resources) EXPECT_FALSE(requested("app2.log", file)) << file;
    EXPECT_NE(readText(out_.file("app2.log")).find(missing + " (" + extension.string() + ")"),
              std::string::npos)
        << readText(out_.file("app2.log"));
}

}  // namespace
#endif
