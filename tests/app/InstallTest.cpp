// The shell installed as the component "app": the program with its bundle and the
// engine's extension beside it, and a desktop entry that names it by its full path,
// also when the prefix was given relative.
#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/app/InstalledApp.h"
#include "tests/support/TempDir.h"

namespace {

TEST(InstallTest, TheProgramGoesWithWhatItLoadsAndTheDesktopEntryNamesItInFull) {
    TempDir dir;
    const InstalledApp app(dir.path());
    ASSERT_TRUE(app.installed()) << app.output();
    EXPECT_EQ(::access(app.executable().c_str(), X_OK), 0) << app.output();
    EXPECT_TRUE(std::filesystem::is_regular_file(app.programFolder() / "Bundle" / "Info.json"));
#ifdef MV_APP_WEBKIT_EXTENSION
    EXPECT_TRUE(std::filesystem::is_regular_file(app.programFolder() / "webkit-extensions" /
                                                 MV_APP_WEBKIT_EXTENSION))
        << app.output();
#endif
    const std::string entry = InstalledApp::read(app.desktopEntry());
    const size_t exec = entry.find("\nExec=\"");
    ASSERT_NE(exec, std::string::npos) << entry;
    const size_t start = exec + 7;
    const std::filesystem::path program = entry.substr(start, entry.find('"', start) - start);
    EXPECT_TRUE(program.is_absolute()) << entry;
    std::error_code error;
    EXPECT_TRUE(std::filesystem::equivalent(program, app.executable(), error)) << entry;
}

}  // namespace
