// What the host hands the library from outside, end to end against the sample API server:
// a deep link at launch and one a later start (through the desktop entry's command line)
// gives the running shell, a notification payload at launch, SIGTSTP and SIGCONT, the
// system's low-memory warning and the crash report a run left.
#ifdef MV_SAMPLE_API_SERVER
#include <gio/gio.h>

#include <algorithm>
#include <filesystem>

#include "app/DesktopSession.h"
#include "platform/foundation/JsonValue.h"
#include "tests/app/EarlyLinkRun.h"
#include "tests/app/SampleShopRun.h"

namespace {

using namespace sampleshop;

size_t count(const std::vector<std::string>& all, const std::string& wanted) {
    return static_cast<size_t>(std::count(all.begin(), all.end(), wanted));
}

class HostRoadsTest : public SampleShopRunTest {
  protected:
    std::vector<std::string> sent() const { return commands(readText(out_.file("commands.log"))); }
    std::string serverLog() const { return readText(out_.file("server.out")); }
    std::string appLog() const { return readText(out_.file("app.log")); }
    // Waits until every part is in the file (log lines are written a little after).
    bool logs(const std::string& file, const std::vector<std::string>& parts) const {
        const bool all = waitUntil(
            [&] {
                const std::string text = readText(out_.file(file));
                return std::all_of(parts.begin(), parts.end(), [&](const std::string& part) {
                    return text.find(part) != std::string::npos;
                });
            },
            kStepCeiling);
        EXPECT_TRUE(all) << ::testing::PrintToString(parts) << "\n" << readText(out_.file(file));
        return all;
    }
};

// Plays the system's low-memory monitor on a bus: owns its name and sends its signal.
class LowMemoryMonitorStandIn {
  public:
    static constexpr const char* kName = "org.freedesktop.LowMemoryMonitor";
    static constexpr const char* kPath = "/org/freedesktop/LowMemoryMonitor";

    explicit LowMemoryMonitorStandIn(const std::string& address) {
        GError* error = nullptr;
        bus_ = g_dbus_connection_new_for_address_sync(
            address.c_str(),
            GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                 G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &error);
        GVariant* reply =
            bus_ ? g_dbus_connection_call_sync(
                       bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                       "org.freedesktop.DBus", "RequestName", g_variant_new("(su)", kName, 4u),
                       G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, &error)
                 : nullptr;
        EXPECT_TRUE(reply) << (error ? error->message : "");
        if (reply) g_variant_unref(reply);
        g_clear_error(&error);
    }
    ~LowMemoryMonitorStandIn() {
        if (bus_) g_object_unref(bus_);
    }
    void warn(guint8 level) {
        if (!bus_) return;
        g_dbus_connection_emit_signal(bus_, nullptr, kPath, kName, "LowMemoryWarning",
                                      g_variant_new("(y)", level), nullptr);
        g_dbus_connection_flush_sync(bus_, nullptr, nullptr);
    }

  private:
    GDBusConnection* bus_ = nullptr;
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

    const ChildProcess::Environment bus = {{"DBUS_SESSION_BUS_ADDRESS", startBus("bus")}};
    auto shell = startShell("app.log", {scheme + "://product?from=launch"}, "headless", bus);
    ASSERT_TRUE(presented("app.log"));
    EXPECT_NE(appLog().find("The shell runs as com.merovane.shop.h"), std::string::npos)
        << appLog();

    // What a desktop runs for a link: the entry's command with %u replaced.
    const std::string link = scheme + "://silent/product?from=desktop";
    auto environment = bus;
    environment.emplace_back("MEROVANE_HOME", out_.file("home"));
    ChildProcess later({MV_APP_EXECUTABLE, {link}, out_.file("later.log")}, environment);
    ASSERT_TRUE(waitUntil([&] { return ended(later); }, kHandOverCeiling))
        << readText(out_.file("later.log"));
    EXPECT_EQ(later.wait(), 0) << readText(out_.file("later.log"));
    logs("later.log", {"The shell runs already over this home folder: handed it " + link});

    // A URL too long for a link is not handed on: the later start says so.
    ChildProcess tooLong(
        {MV_APP_EXECUTABLE,
         {scheme + "://" + std::string(DesktopSession::kMaxHandedOverURLLength, 'x')},
         out_.file("long.log")},
        environment);
    ASSERT_TRUE(waitUntil([&] { return ended(tooLong); }, kHandOverCeiling))
        << readText(out_.file("long.log"));
    EXPECT_EQ(tooLong.wait(), 0);
    logs("long.log", {"The shell runs already over this home folder and takes no URL of " +
                      std::to_string(DesktopSession::kMaxHandedOverURLLength + scheme.size() + 3) +
                      " bytes (at most 16384): shown without it"});

    ASSERT_TRUE(waitUntil([&] { return occurrences(serverLog(), "received openDeepLink") == 2; },
                          kStepCeiling))
        << serverLog();
    EXPECT_EQ(count(sent(), "up openDeepLink"), 2u) << ::testing::PrintToString(sent());
    EXPECT_TRUE(inOrder(sent(), {"up appStart", "up openDeepLink", "down bootApp"}));
    logs("app.log", {"Opening " + link + ", handed over by another start",
                     "openDeepLink( linkId = \"product\", linkSerial = 1000, "
                     "parameters = \"?from=launch\" )",
                     "openDeepLink( linkId = \"product\", linkSerial = 1001, "
                     "parameters = \"?from=desktop\" )"});
    shell->kill(SIGTERM);
    EXPECT_EQ(shell->wait(), 0);
}

// Each later start hands over its text as given, or says why not.
TEST_F(HostRoadsTest, LaterStartsHandTheirTextOverAsGivenAndSayWhatBecameOfIt) {
    const ChildProcess::Environment bus = {{"DBUS_SESSION_BUS_ADDRESS", startBus("bus")}};
    auto shell = startShell("app.log", {}, "headless", bus);
    ASSERT_TRUE(presented("app.log"));
    auto environment = bus;
    environment.emplace_back("MEROVANE_HOME", out_.file("home"));
    struct Row {
        std::string argument;
        std::string later;  // in the later start's log
        std::string shell;  // in the shell's log, if anything
    };
    const Row rows[] = {
        {"file:///srv/a/../b?x=1", "handed it file:///srv/a/../b?x=1",
         "The shell opens nothing for file:///srv/a/../b?x=1, handed over by another start"},
        {"merovane-shop://silent/a/../b%2F?x=%41&y=1", "handed it merovane-shop://",
         "linkId = \"a/../b%2F\", linkSerial = 1000, parameters = \"?x=%41&y=1\""},
        // Raw bytes are no URL; the line shows them escaped.
        {"merovane-shop://bytes\xff\xfe?\xc3",
         "\"merovane-shop://bytes\\xff\\xfe?\\xc3\" is no URL: passed over", ""},
        {std::string(100 * 1024, 'x').insert(0, "merovane-shop://"),
         "takes no URL of 102416 bytes (at most 16384): shown without it", ""},
        {"no url here", "\"no url here\" is no URL: passed over", ""},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row& row = rows[i];
        SCOPED_TRACE(row.argument.substr(0, 60));
        const std::string log = "later" + std::to_string(i) + ".log";
        ChildProcess later({MV_APP_EXECUTABLE, {row.argument}, out_.file(log)}, environment);
        ASSERT_TRUE(waitUntil([&] { return ended(later); }, kHandOverCeiling))
            << readText(out_.file(log));
        EXPECT_EQ(later.wait(), 0);
        logs(log, {row.later});
        EXPECT_EQ(readText(out_.file(log)).find("the shell starts without it"), std::string::npos);
        if (!row.shell.empty()) logs("app.log", {row.shell});
    }
    shell->kill(SIGTERM);
    EXPECT_EQ(shell->wait(), 0);
    EXPECT_EQ(appLog().find("Another start handed over"), std::string::npos) << appLog();
    EXPECT_EQ(occurrences(serverLog(), "received openDeepLink"), 1u) << serverLog();
}

using EarlyLinkHeadlessTest = EarlyLinkTest;

TEST_P(EarlyLinkHeadlessTest, ALinkGivenWhileTheShellStartsReachesTheServerOnce) {
    expectTheLinkOnce("headless");
}

INSTANTIATE_TEST_SUITE_P(MillisecondsBetweenTheStarts, EarlyLinkHeadlessTest,
                         ::testing::Values(0, 10, 30, 80, 150, 400));

TEST_F(HostRoadsTest, ANotificationPayloadAtLaunchOpensItsNotification) {
    out_.write("push.json", R"({"aps": {"alert": "A sale"}, "merovane": 42})");
    auto shell = startShell("app.log", {"--remote-notification", out_.file("push.json")});
    ASSERT_TRUE(presented("app.log"));
    ASSERT_TRUE(waitUntil(
        [&] { return serverLog().find("received openPushNotification") != std::string::npos; },
        kStepCeiling))
        << serverLog();
    EXPECT_TRUE(inOrder(sent(), {"up appStart", "up openPushNotification"}));
    logs("app.log", {"openPushNotification( notificationId = \"42\""});
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
        kStepCeiling))
        << appLog();
    EXPECT_NE(processState(shell->pid()), 'T');
    EXPECT_NE(appLog().find("MVLibraryApplication notification "
                            "UIApplicationDidEnterBackgroundNotification"),
              std::string::npos);

    const size_t streams = occurrences(serverLog(), ": command stream");
    shell->kill(SIGCONT);
    ASSERT_TRUE(waitUntil([&] { return occurrences(serverLog(), ": command stream") > streams; },
                          kStepCeiling))
        << appLog();
    logs("app.log", {"MVLibraryApplication notification "
                     "UIApplicationWillEnterForegroundNotification",
                     "MVApiConnection restoring persistent connection"});
    shell->kill(SIGTERM);
    EXPECT_EQ(shell->wait(), 0);
}

TEST_F(HostRoadsTest, TheSystemsLowMemoryWarningIsTheShellsMemoryWarning) {
    const std::string system = startBus("system");
    LowMemoryMonitorStandIn monitor(system);
    auto shell = startShell("app.log", {}, "headless", {{"DBUS_SYSTEM_BUS_ADDRESS", system}});
    ASSERT_TRUE(presented("app.log"));
    // The shell's monitor listens once it has seen the name: warnings before are lost.
    ASSERT_TRUE(waitUntil(
        [&] {
            monitor.warn(G_MEMORY_MONITOR_WARNING_LEVEL_CRITICAL);
            return appLog().find(
                       "MVLibraryApplication notification "
                       "UIApplicationDidReceiveMemoryWarningNotification") != std::string::npos;
        },
        kStepCeiling))
        << appLog();
    EXPECT_NE(appLog().find("The system is low on memory (level 255): memory warning"),
              std::string::npos);
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
    ASSERT_TRUE(logs("server.out", {"crash report 1 received: [Signal] SIGSEGV"}));
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
