#pragma once
// The shell installed from this build as its component "app", into a prefix below a
// folder the test keeps, by `cmake --install` run in that folder (a relative prefix, as a
// user may give).
//
//   InstalledApp app(dir.path());
//   ASSERT_TRUE(app.installed()) << app.output();
//   ChildProcess shell({app.executable(), {...}, ...});

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/ChildProcess.h"

class InstalledApp {
  public:
    static constexpr const char* kIdentifier = "com.merovane.shop";

    explicit InstalledApp(const std::string& folder) : folder_(folder) {
        std::filesystem::create_directories(folder_);
        ChildProcess install(
            {"/bin/sh",
             {"-c", "cd \"$0\" && exec \"$1\" --install \"$2\" --component app --prefix prefix",
              folder, MV_CMAKE_COMMAND, MV_BUILD_DIR},
             (folder_ / "install.log").string()});
        status_ = install.wait();
    }
    bool installed() const { return status_ == 0; }
    std::string output() const { return read(folder_ / "install.log"); }
    std::filesystem::path prefix() const { return folder_ / "prefix"; }
    std::filesystem::path programFolder() const { return prefix() / "libexec" / kIdentifier; }
    std::string executable() const { return (programFolder() / "app").string(); }
    std::filesystem::path desktopEntry() const {
        return prefix() / "share" / "applications" / (std::string(kIdentifier) + ".desktop");
    }

    static std::string read(const std::filesystem::path& path) {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

  private:
    std::filesystem::path folder_;
    int status_ = -1;
};
