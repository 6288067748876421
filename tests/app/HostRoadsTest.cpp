// What the host hands the library from outside, end to end against the sample API server:
// a deep link at launch and one a later start (through the desktop entry's command line)
// gives the running shell, a notification payload at launch, SIGTSTP and SIGCONT, and
// the crash report a run left.
#ifdef MV_SAMPLE_API_SERVER
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>

#include "platform/foundation/JsonValue.h"
#include "tests/app/SampleShopRun.h"

namespace {

using namespace sampleshop;

size_t count(const std::vector<std::string>& all, const std::string& wanted) {
    return static_cast<size_t>(std::count(all.begin(), all.end(), wanted));
}

size_t occurrences(const std::string& text, const std::string& part) {
    size_t found = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++found;
    return found;
}

// Whether the child has ended, without reaping it.
bool ended(const ChildProcess& child) {
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(child.pid()), &info, WEXITED | WNOHANG | WNOWAIT) ==
               0 &&
           info.si_pid == child.pid();
}

// The state letter of a running process ('T' when stopped).
char processState(pid_t pid) {
    const std::string stat = readText("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() ? stat[close + 2] : '?';
}

class HostRoadsTest : public SampleShopRunTest {
  protected:
    std::vector<std::string> sent() const { return commands(readText(out_.file("commands.log"))); }
    std::string serverLog() const { return readText(out_.file("server.out")); }
    std::string appLog() const { return readText(out_.file("app.log")); }

    // A session bus of the test's own: the single-instance road needs no desktop.
    ChildProcess::Environment startSessionBus() {
        const std::string socket = out_.file("bus");
        bus_ = std::make_unique<ChildProcess>(
            ChildProcess::Program{MV_DBUS_DAEMON,
                                  {"--session", "--nofork", "--address=unix:path=" + socket},
                                  out_.file("bus.log")});
        EXPECT_TRUE(waitUntil([&] { return std::filesystem::exists(socket); }, 20))
            << readText(out_.file("bus.log"));
        return {{"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + socket}};
    }

    std::unique_ptr<ChildProcess> bus_;
};

// The desktop entry's line of `key`, without "key=".
std::string desktopEntry(const std::string& key) {
    std::istringstream in(readText(MV_APP_DESKTOP_ENTRY));
    for (std::string line; std::getline(in, line);)
        if (line.starts_with(key + "=")) return line.substr(key.size() + 1);
    return {};
}

TEST_F(HostRoadsTest, DeepLinksAtLaunchAndFromALaterStartThroughTheDesktopEntryReachTheServer) {
    // The entry names the scheme the bundle lists and hands the URL as the last argument.
    const std::string bundle =
        std::filesystem::path(MV_APP_EXECUTABLE).parent_path() / "Bundle" / "Info.json";
    const auto info = platform::json::parse(readText(bundle));
    ASSERT_TRUE(info.ok()) << bundle;
    const std::string scheme = info.value.value(
        nlohmann::json::json_pointer("/CFBundleURLTypes/0/CFBundleURLSchemes/0"), "");
    ASSERT_FALSE(scheme.empty()) << bundle;
    EXPECT_EQ(desktopEntry("MimeType"), "x-scheme-handler/" + scheme + ";");
    const std::string exec = desktopEntry("Exec");
    ASSERT_TRUE(exec.ends_with("/app\" %u")) << exec;

    const auto bus = startSessionBus();
    auto shell = startShell("app.log", {scheme + "://product?from=launch"}, "headless", bus);
    ASSERT_TRUE(presented("app.log"));
    EXPECT_NE(appLog().find("The shell runs as com.merovane.shop.h"), std::string::npos)
        << appLog();

    // What a desktop runs for a link: the entry's command with %u replaced.
    const std::string link = scheme + "://silent/product?from=desktop";
    auto environment = bus;
    environment.emplace_back("MEROVANE_HOME", out_.file("home"));
    ChildProcess later({MV_APP_EXECUTABLE, {link}, out_.file("later.log")}, environment);
    ASSERT_TRUE(waitUntil([&] { return ended(later); }, 30)) << readText(out_.file("later.log"));
    EXPECT_EQ(later.wait(), 0) << readText(out_.file("later.log"));
    EXPECT_NE(readText(out_.file("later.log"))
                  .find("The shell runs already over this home folder: handed it " + link),
              std::string::npos);

    ASSERT_TRUE(
        waitUntil([&] { return occurrences(serverLog(), "received openDeepLink") == 2; }, 30))
        << serverLog();
    EXPECT_EQ(count(sent(), "up openDeepLink"), 2u) << ::testing::PrintToString(sent());
    EXPECT_TRUE(inOrder(sent(), {"up appStart", "up openDeepLink", "down bootApp"}));
    EXPECT_NE(appLog().find("Opening " + link + ", handed over by another start"),
              std::string::npos);
    EXPECT_NE(appLog().find("openDeepLink( linkId = \"product\", linkSerial = 1000, "
                            "parameters = \"?from=launch\" )"),
              std::string::npos);
    EXPECT_NE(appLog().find("openDeepLink( linkId = \"product\", linkSerial = 1001, "
                            "parameters = \"?from=desktop\" )"),
              std::string::npos);
    shell->kill(SIGTERM);
    EXPECT_EQ(shell->wait(), 0);
}

TEST_F(HostRoadsTest, ANotificationPayloadAtLaunchOpensItsNotification) {
    out_.write("push.json", R"({"aps": {"alert": "A sale"}, "merovane": 42})");
    auto shell = startShell("app.log", {"--remote-notification", out_.file("push.json")});
    ASSERT_TRUE(presented("app.log"));
    ASSERT_TRUE(waitUntil(
        [&] { return serverLog().find("received openPushNotification") != std::string::npos; }, 30))
        << serverLog();
    EXPECT_TRUE(inOrder(sent(), {"up appStart", "up openPushNotification"}));
    EXPECT_NE(appLog().find("openPushNotification( notificationId = \"42\""), std::string::npos)
        << appLog();
}

TEST_F(HostRoadsTest, SIGTSTPAndSIGCONTSendTheShellToTheBackgroundAndBack) {
    auto shell = startShell("app.log");
    ASSERT_TRUE(presented("app.log"));
    shell->kill(SIGTSTP);
    ASSERT_TRUE(waitUntil(
        [&] {
            return appLog().find("MVApiConnection closing persistent connection") !=
                   std::string::npos;
        },
        30))
        << appLog();
    EXPECT_NE(processState(shell->pid()), 'T');
    EXPECT_NE(appLog().find("MVLibraryApplication notification "
                            "UIApplicationDidEnterBackgroundNotification"),
              std::string::npos);

    const size_t streams = occurrences(serverLog(), ": command stream");
    shell->kill(SIGCONT);
    ASSERT_TRUE(
        waitUntil([&] { return occurrences(serverLog(), ": command stream") > streams; }, 30))
        << appLog();
    EXPECT_NE(appLog().find("MVLibraryApplication notification "
                            "UIApplicationWillEnterForegroundNotification"),
              std::string::npos);
    EXPECT_NE(appLog().find("MVApiConnection restoring persistent connection"), std::string::npos);
    shell->kill(SIGTERM);
    EXPECT_EQ(shell->wait(), 0);
}

TEST_F(HostRoadsTest, TheCrashReportOfOneRunReachesTheServerOnTheNext) {
    auto crashing = startShell("crashed.log");
    ASSERT_TRUE(presented("crashed.log"));
    crashing->kill(SIGSEGV);
    EXPECT_EQ(crashing->wait(), 128 + SIGSEGV);
    EXPECT_EQ(serverLog().find("crash report"), std::string::npos);

    runOnce("app.log");
    EXPECT_NE(serverLog().find("crash report 1 received: [Signal] SIGSEGV"), std::string::npos)
        << serverLog();
    const auto stored = platform::json::parse(readText(out_.file("reports/crash-1.json")));
    ASSERT_TRUE(stored.ok());
    EXPECT_EQ(stored.value["errorClass"], "[Signal] SIGSEGV");
    EXPECT_EQ(stored.value["appIdentifier"], "shop");
    EXPECT_EQ(stored.value["compileUUID"].get<std::string>().size(), 36u);
    EXPECT_FALSE(readText(out_.file("reports/crash-1.mvcrash")).empty());
    // Sent once: the next run has nothing left to send.
    runOnce("app3.log");
    EXPECT_EQ(occurrences(serverLog(), "crash report"), 1u) << serverLog();
}

}  // namespace
#endif
