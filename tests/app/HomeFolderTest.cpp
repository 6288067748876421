// One shell per home folder, bus or no bus: the lock on the home folder, and later starts
// beside a running shell that cannot take them (stopped, or no session bus).
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>

#include "app/HomeFolderLock.h"
#include "tests/app/SampleShopRun.h"

namespace {

using namespace sampleshop;
namespace fs = std::filesystem;

TEST(HomeFolderLockTest, TheFirstHoldsTheFolderAndNamesItselfToTheNext) {
    TempDir home;
    const HomeFolderLock first(home.file("a/b"));
    ASSERT_EQ(first.state(), HomeFolderLock::State::Held) << first.problem();
    EXPECT_EQ(readText(home.file("a/b/shell.lock")), std::to_string(::getpid()) + "\n");
    // Another open of the file conflicts, in this process too.
    const HomeFolderLock second(home.file("a/b"));
    EXPECT_EQ(second.state(), HomeFolderLock::State::HeldElsewhere);
    EXPECT_EQ(second.holder(), ::getpid());
}

TEST(HomeFolderLockTest, AHolderThatWroteNoProcessIdIsNamedAsNone) {
    for (const std::string& text :
         {std::string(), std::string("12x\n"), std::string("-4\n"), std::string(40, '7')}) {
        TempDir home;
        const HomeFolderLock first(home.path());
        ASSERT_EQ(first.state(), HomeFolderLock::State::Held);
        home.write("shell.lock", text);
        const HomeFolderLock second(home.path());
        EXPECT_EQ(second.state(), HomeFolderLock::State::HeldElsewhere);
        EXPECT_EQ(second.holder(), 0) << text;
    }
}

TEST(HomeFolderLockTest, ALockFileThatIsNoFileIsNeitherFollowedNorTaken) {
    struct Case {
        const char* what;
        std::function<void(const std::string& lock, const std::string& elsewhere)> make;
        const char* problem;
    };
    const Case cases[] = {
        {"a link to a file",
         [](auto& lock, auto& elsewhere) { fs::create_symlink(elsewhere, lock); }, "it is a link"},
        {"a hard link to a file",
         [](auto& lock, auto& elsewhere) { fs::create_hard_link(elsewhere, lock); },
         "it is a hard link"},
        {"a folder", [](auto& lock, auto&) { fs::create_directory(lock); },
         "it is no regular file"},
        {"a pipe", [](auto& lock, auto&) { ::mkfifo(lock.c_str(), 0600); },
         "it is no regular file"},
    };
    for (const auto& c : cases) {
        TempDir home;
        home.write("elsewhere", "kept");
        c.make(home.file("shell.lock"), home.file("elsewhere"));
        const HomeFolderLock lock(home.path());
        EXPECT_EQ(lock.state(), HomeFolderLock::State::Failed) << c.what;
        EXPECT_EQ(lock.problem(), c.problem) << c.what;
        EXPECT_EQ(readText(home.file("elsewhere")), "kept") << c.what;
    }
}

#ifdef MV_SAMPLE_API_SERVER

class HomeFolderTest : public SampleShopRunTest {
  protected:
    // Every file below the home folder with its size, time and bytes.
    std::map<std::string, std::string> homeFiles() const {
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(out_.file("home"))) {
            struct stat info {};
            ::lstat(entry.path().c_str(), &info);
            files[entry.path().string()] =
                std::to_string(info.st_size) + " " + std::to_string(info.st_mtim.tv_sec) + "." +
                std::to_string(info.st_mtim.tv_nsec) + " " +
                (S_ISREG(info.st_mode) ? readText(entry.path()) : std::string());
        }
        return files;
    }

    // Starts the shell again over the same home folder, as a desktop does for a link, and
    // waits for its end: its exit status, or -1 when it runs on past a reached shell's
    // answer time.
    int laterStart(const std::vector<std::string>& arguments,
                   const ChildProcess::Environment& environment, double* seconds) {
        ChildProcess::Environment variables = {{"MEROVANE_HOME", out_.file("home")}};
        variables.insert(variables.end(), environment.begin(), environment.end());
        const auto start = std::chrono::steady_clock::now();
        ChildProcess later({MV_APP_EXECUTABLE, arguments, out_.file("later.log")}, variables);
        const bool over = waitUntil([&] { return ended(later); }, kHandOverCeiling);
        *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        return over ? later.wait() : -1;
    }

    std::string heldLine(pid_t shell) const {
        return "The home folder " + out_.file("home") + " is held by process " +
               std::to_string(shell) + ", which this start cannot reach: this start ends";
    }
};

TEST_F(HomeFolderTest, AStartBesideAStoppedShellEndsWithinSecondsAndLeavesTheHomeAlone) {
    const ChildProcess::Environment bus = {{"DBUS_SESSION_BUS_ADDRESS", startBus("bus")}};
    auto shell = startShell("app.log", {}, "headless", bus);
    ASSERT_TRUE(presented("app.log"));
    shell->kill(SIGSTOP);
    ASSERT_TRUE(waitUntil([&] { return processState(shell->pid()) == 'T'; }, kStepCeiling));
    const auto before = homeFiles();

    double seconds = 0;
    EXPECT_EQ(laterStart({"shop://product?from=later"}, bus, &seconds), 1)
        << readText(out_.file("later.log"));
    EXPECT_LT(seconds, kUnansweredStartCeiling) << readText(out_.file("later.log"));
    const std::string log = readText(out_.file("later.log"));
    EXPECT_NE(log.find(heldLine(shell->pid())), std::string::npos) << log;
    EXPECT_NE(log.find("The running shell does not answer on the session bus"), std::string::npos)
        << log;
    EXPECT_EQ(homeFiles(), before);

    shell->kill(SIGCONT);
    shell->kill(SIGTERM);
    EXPECT_EQ(shell->wait(), 0);
}

TEST_F(HomeFolderTest, AHardLinkedLockFileIsNeitherWrittenNorTaken) {
    out_.write("precious", "precious\n");
    fs::create_directories(out_.file("home"));
    fs::create_hard_link(out_.file("precious"), out_.file("home/shell.lock"));
    double seconds = 0;
    EXPECT_EQ(laterStart({}, {}, &seconds), 1) << readText(out_.file("later.log"));
    EXPECT_NE(readText(out_.file("later.log"))
                  .find("The home folder's lock " + out_.file("home/shell.lock") +
                        " cannot be taken (it is a hard link): this start ends"),
              std::string::npos)
        << readText(out_.file("later.log"));
    EXPECT_EQ(readText(out_.file("precious")), "precious\n");
}

TEST_F(HomeFolderTest, WithoutABusALaterStartEndsAndACrashLeavesNoLockBehind) {
    const ChildProcess::Environment noBus = {{"DBUS_SESSION_BUS_ADDRESS", ""},
                                             {"XDG_RUNTIME_DIR", out_.file("no-runtime")}};
    auto shell = startShell("app.log", {}, "headless", noBus);
    ASSERT_TRUE(presented("app.log"));

    double seconds = 0;
    EXPECT_EQ(laterStart({}, noBus, &seconds), 1) << readText(out_.file("later.log"));
    EXPECT_LT(seconds, kUnansweredStartCeiling) << readText(out_.file("later.log"));
    const std::string log = readText(out_.file("later.log"));
    EXPECT_NE(log.find(heldLine(shell->pid())), std::string::npos) << log;

    // A crash: the system drops the lock with the process.
    shell->kill(SIGKILL);
    EXPECT_EQ(shell->wait(), 128 + SIGKILL);
    auto again = startShell("again.log", {}, "headless", noBus);
    ASSERT_TRUE(presented("again.log"));
    again->kill(SIGTERM);
    EXPECT_EQ(again->wait(), 0);
}

#endif

}  // namespace
