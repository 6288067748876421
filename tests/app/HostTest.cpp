// The host's own parts in process: the command line's URL and notification payload, the
// bus name per home folder, and the low-memory signal.
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "app/DesktopSession.h"
#include "app/HostArguments.h"
#include "libmerovane/application/MVLibraryApplication.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/Application.h"
#include "platform/ui/ApplicationDelegate.h"
#include "tests/support/ApiConnectionTest.h"
#include "tests/support/PlatformTest.h"
#include "tests/support/TempDir.h"

using nlohmann::json;

namespace {

class HostArgumentsTest : public PlatformTest {
  protected:
    HostArguments parse(std::vector<const char*> arguments) {
        arguments.insert(arguments.begin(), "app");
        return HostArguments::parse(static_cast<int>(arguments.size()), arguments.data());
    }
    TempDir files_;
};

TEST_F(HostArgumentsTest, TheURLAndThePayloadFileAmongTheDeveloperSettings) {
    using Text = std::optional<std::string>;
    struct Row {
        std::vector<const char*> arguments;
        Text url;
        Text payload;
        const char* logged;
    };
    const Row rows[] = {
        {{"-dev_workspace", "http://a.example", "merovane-shop://x"}, "merovane-shop://x", {}, ""},
        {{"merovane-shop://x", "-web_engine", "headless"}, "merovane-shop://x", {}, ""},
        // A setting's value is never the URL, even when it looks like one.
        {{"-dev_workspace", "https://api.example"}, {}, {}, ""},
        {{"--remote-notification", "push.json", "merovane-shop://x"},
         "merovane-shop://x",
         "push.json",
         ""},
        {{"a://1", "b://2"}, "a://1", {}, "Only one URL is opened: \"b://2\" passed over"},
        {{"no url here"}, {}, {}, "\"no url here\" is no URL: the shell starts without it"},
        {{"--verbose", "a://1"}, "a://1", {}, "Unknown option \"--verbose\" passed over"},
        {{"--remote-notification"}, {}, {}, "--remote-notification wants a file"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.arguments));
        const auto parsed = parse(row.arguments);
        EXPECT_EQ(parsed.url, row.url);
        EXPECT_EQ(parsed.remoteNotificationFile, row.payload);
        EXPECT_TRUE(!*row.logged || logged(row.logged)) << row.logged;
    }
    EXPECT_FALSE(parse({"-run_keep", "1"}).launchOptions());
}

TEST_F(HostArgumentsTest, ThePayloadIsAJsonObjectFromARegularFileOfBoundedSize) {
    files_.write("push.json", R"({"merovane": 42, "aps": {"alert": "Sale"}})");
    files_.write("list.json", "[1]");
    files_.write("broken.json", R"({"merovane": )");
    files_.write("deep.json", std::string(600, '[') + std::string(600, ']'));
    files_.write(
        "big.json",
        R"({"a": ")" + std::string(HostArguments::kMaxRemoteNotificationBytes, 'x') + "\"}");
    files_.write("folder/x", "");
    struct Row {
        const char* file;
        json expected;  // null: left out
        const char* logged;
    };
    const Row rows[] = {
        {"push.json", {{"merovane", 42}, {"aps", {{"alert", "Sale"}}}}, ""},
        {"list.json", nullptr, "is no JSON object: another value"},
        {"broken.json", nullptr, "is no JSON object"},
        {"deep.json", nullptr, "is no JSON object"},
        {"big.json", nullptr, "cannot be read"},
        {"folder", nullptr, "cannot be read"},
        {"missing.json", nullptr, "cannot be read"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file);
        HostArguments arguments;
        arguments.url = "merovane-shop://x";
        arguments.remoteNotificationFile = files_.file(row.file);
        const auto options = arguments.launchOptions();
        ASSERT_TRUE(options);
        EXPECT_EQ((*options)["url"], "merovane-shop://x");
        EXPECT_EQ(options->value("remoteNotification", json()), row.expected);
        EXPECT_TRUE(!*row.logged || logged(row.logged)) << row.logged;
    }
}

TEST(DesktopSessionNameTest, OneBusNamePerHomeFolder) {
    const std::string bundle = "com.merovane.shop";
    EXPECT_EQ(DesktopSession::applicationId(bundle, ""), bundle);
    const auto a = DesktopSession::applicationId(bundle, "/home/a/run/home");
    const auto b = DesktopSession::applicationId(bundle, "/home/b/run/home");
    EXPECT_NE(a, b);
    EXPECT_EQ(a, DesktopSession::applicationId(bundle, "/home/a/run/home"));
    EXPECT_EQ(a, "com.merovane.shop.h" + a.substr(bundle.size() + 2));
    EXPECT_EQ(a.size(), bundle.size() + 2 + 16);
    EXPECT_TRUE(g_application_id_is_valid(a.c_str())) << a;
    // The same folder however it is named.
    TempDir home;
    std::filesystem::create_directories(home.file("run/home"));
    std::filesystem::create_symlink(home.file("run"), home.file("link"));
    const auto canonical = DesktopSession::applicationId(bundle, home.file("run/home"));
    EXPECT_EQ(DesktopSession::applicationId(bundle, home.file("run/x/../home/")), canonical);
    EXPECT_EQ(DesktopSession::applicationId(bundle, home.file("link/home")), canonical);
    const auto here = std::filesystem::current_path();
    std::filesystem::current_path(home.path());
    EXPECT_EQ(DesktopSession::applicationId(bundle, "run/home"), canonical);
    std::filesystem::current_path(here);
}

// The host's delegate behind the library's: notes the memory warnings.
class CountingDelegate : public platform::ApplicationDelegate {
  public:
    void applicationDidReceiveMemoryWarning(platform::Application&) override { ++warnings; }
    int warnings = 0;
};

class DesktopSessionTest : public ApiConnectionTest {};

TEST_F(DesktopSessionTest, TheLowMemorySignalIsThePlatformsMemoryWarning) {
    MVLibraryApplication::sharedLibrary();
    auto delegate = std::make_shared<CountingDelegate>();
    auto& application = platform::Application::shared();
    application.setDelegate(delegate);
    int posted = 0;
    auto observer = platform::NotificationCenter::defaultCenter().addObserver(
        platform::kApplicationDidReceiveMemoryWarningNotification, nullptr,
        [&](const platform::Notification&) { ++posted; });

    DesktopSession desktop;
    desktop.watchMemoryWarnings();
    GMemoryMonitor* monitor = g_memory_monitor_dup_default();
    g_signal_emit_by_name(monitor, "low-memory-warning", G_MEMORY_MONITOR_WARNING_LEVEL_LOW);
    g_object_unref(monitor);
    ASSERT_TRUE(platform::runUntil([&] { return delegate->warnings == 1; }, kTimeout));
    EXPECT_EQ(posted, 1);
    EXPECT_TRUE(logged("The system is low on memory (level 50): memory warning"));
    EXPECT_TRUE(logged(
        "MVLibraryApplication notification UIApplicationDidReceiveMemoryWarningNotification"));
    platform::NotificationCenter::defaultCenter().removeObserver(observer);
}

}  // namespace
