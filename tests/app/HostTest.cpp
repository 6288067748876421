// The host's own parts in process: the command line's URL and notification payload, the
// bus name per home folder, the links later starts hand over and what they are told, log
// texts and the low-memory signal.
#include <fcntl.h>
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "app/DesktopSession.h"
#include "app/HandedOverLinks.h"
#include "app/HomeFolderLock.h"
#include "app/HostArguments.h"
#include "app/LogText.h"
#include "libmerovane/application/MVInterjectionInterface.h"
#include "libmerovane/application/MVLibraryApplication.h"
#include "libmerovane/connection/MVApiConnection.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/TestDriver.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/Application.h"
#include "platform/ui/ApplicationDelegate.h"
#include "tests/support/ApiConnectionTest.h"
#include "tests/support/ChildProcess.h"
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
        // A later start may not start a shell: it only says what it passed over.
        {{"no url here"}, {}, {}, "\"no url here\" is no URL: passed over"},
        {{"a://\xff\x01"}, {}, {}, "\"a://\\xff\\u0001\" is no URL: passed over"},
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

TEST_F(HostArgumentsTest, ALinkOrPayloadTheLibraryOpensNothingForIsLogged) {
    files_.write("push.json", R"({"merovane": 42})");
    files_.write("other.json", R"({"aps": {"alert": "Sale"}})");
    files_.write("object.json", R"({"merovane": {"id": 1}})");
    struct Row {
        const char* url;
        const char* file;
        std::string line;  // "": none
    };
    const std::string payloadLine = " holds no text or number under \"merovane\": it opens nothing";
    const Row rows[] = {
        {"merovane-shop://x", "push.json", ""},
        {"https://shop.example/x", "push.json",
         "The shell opens nothing for https://shop.example/x: its links' schemes begin with "
         "\"merovane-\""},
        {"merovane-shop://x", "other.json",
         "The notification payload " + files_.file("other.json") + payloadLine},
        {"merovane-shop://x", "object.json",
         "The notification payload " + files_.file("object.json") + payloadLine},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.url) + " " + row.file);
        log_->clear();
        HostArguments arguments;
        arguments.url = row.url;
        arguments.remoteNotificationFile = files_.file(row.file);
        ASSERT_TRUE(arguments.launchOptions());
        if (row.line.empty())
            EXPECT_FALSE(logged("opens nothing"));
        else
            EXPECT_EQ(loggedLevel(row.line), platform::log::kInfo);
    }
}

TEST(LogTextTest, OutsideBytesMakeValidUtf8Lines) {
    const std::pair<std::string, std::string> rows[] = {
        {"merovane-shop://x?q=ä€😀", "merovane-shop://x?q=ä€😀"},
        {"a\xff\xfe"
         "b",
         "a\\xff\\xfe"
         "b"},
        {"\xc3(", "\\xc3("},                  // a lead byte without its continuation
        {"\xe0\x80\xaf", "\\xe0\\x80\\xaf"},  // overlong
        {"\xed\xa0\x80", "\\xed\\xa0\\x80"},  // a surrogate
        {"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},
        {"line\nbreak\x1b", "line\\nbreak\\u001b"},
    };
    for (const auto& [text, expected] : rows) EXPECT_EQ(logText(text), expected);
    EXPECT_EQ(logText("ab\xff\xff"
                      "cd",
                      4),
              "ab\\xff\\xff… [cut, 6 bytes]");
    EXPECT_EQ(logText("a€b", 2), "a… [cut, 5 bytes]");  // never inside a character
}

// Links later starts hand over, delivered by the test.
class HandedOverLinksTest : public PlatformTest {
  protected:
    void libraryStarts() {
        platform::NotificationCenter::defaultCenter().post(
            MVLibraryApplicationCanOpenLinksNotification);
    }
    std::vector<std::string> delivered_;
    HandedOverLinks links_{[this](const platform::URL& url) {
        delivered_.push_back(url.absoluteString());
        return std::optional<bool>(url.scheme() == "merovane-shop");
    }};
};

TEST_F(HandedOverLinksTest, HeldUntilTheLibraryCanOpenLinksThenDeliveredOnceInOrder) {
    EXPECT_TRUE(links_.receive("merovane-shop://silent/early?x=1"));
    EXPECT_TRUE(links_.receive("file:///srv/a/../b?x=1"));
    platform::runUntilIdle();
    EXPECT_TRUE(delivered_.empty());
    EXPECT_TRUE(
        logged("Holding merovane-shop://silent/early?x=1, handed over by another start, "
               "until the library has started"));
    libraryStarts();
    EXPECT_TRUE(links_.receive("merovane-shop://next"));
    platform::runUntilIdle();
    libraryStarts();  // told again: nothing is delivered twice
    platform::runUntilIdle();
    EXPECT_EQ(delivered_,
              (std::vector<std::string>{"merovane-shop://silent/early?x=1",
                                        "file:///srv/a/../b?x=1", "merovane-shop://next"}));
    EXPECT_TRUE(logged("Opening file:///srv/a/../b?x=1, handed over by another start"));
    EXPECT_EQ(loggedLevel("The shell opens nothing for file:///srv/a/../b?x=1, handed over by "
                          "another start"),
              platform::log::kInfo);
    EXPECT_EQ(loggedCount("The shell opens nothing"), 1u);
}

TEST_F(HandedOverLinksTest, WhatWaitsIsBoundedAndWhatIsNoLinkIsRefused) {
    for (int i = 0; i < HandedOverLinks::kMaxWaiting; ++i)
        EXPECT_TRUE(links_.receive("merovane-shop://" + std::to_string(i)));
    platform::runUntilIdle();
    EXPECT_FALSE(links_.receive("merovane-shop://one-more"));
    EXPECT_TRUE(
        logged("Another start handed over \"merovane-shop://one-more\" while 64 others "
               "wait: dropped"));
    EXPECT_FALSE(
        links_.receive("merovane-shop://" + std::string(HandedOverLinks::kMaxURLLength, 'x')));
    EXPECT_TRUE(logged("Another start handed over a URL of 16400 bytes: refused"));
    EXPECT_FALSE(links_.receive("merovane-shop://\xff\n"));
    EXPECT_TRUE(
        logged("Another start handed over \"merovane-shop://\\xff\\n\", which is no URL: "
               "refused"));
    EXPECT_FALSE(links_.receive("no url"));
    EXPECT_EQ(HandedOverLinks::check("no url"), HandedOverLinks::Check::NoURL);
    EXPECT_EQ(HandedOverLinks::check(std::string(100 * 1024, 'a').insert(0, "a://")),
              HandedOverLinks::Check::TooLong);
    libraryStarts();
    platform::runUntilIdle();
    EXPECT_EQ(delivered_.size(), size_t{HandedOverLinks::kMaxWaiting});
    // Delivered ones make room again.
    EXPECT_TRUE(links_.receive("merovane-shop://one-more"));
    platform::runUntilIdle();
    EXPECT_EQ(delivered_.back(), "merovane-shop://one-more");
}

TEST_F(HandedOverLinksTest, EachStartIsAnsweredOnceItsLinksFateIsKnown) {
    using Fate = HandedOverLinks::Fate;
    std::vector<std::pair<std::string, Fate>> told;
    const auto answer = [&](const std::string& name) {
        return [&told, name](Fate fate) { told.emplace_back(name, fate); };
    };
    EXPECT_FALSE(links_.receive("no url", answer("no url")));
    links_.receive("merovane-shop://opened", answer("opened"));
    libraryStarts();
    platform::runUntilIdle();
    platform::advanceBy(MVApiConnection::kCommandBatchDelay);
    EXPECT_EQ(told, (decltype(told){{"no url", Fate::Refused}, {"opened", Fate::Taken}}));
    told.clear();
    // Quitting: what waits, for the library or the main loop, and what comes later is
    // never opened.
    HandedOverLinks quitting([](const platform::URL&) { return std::optional<bool>(true); });
    quitting.receive("merovane-shop://held", answer("held"));
    platform::runUntilIdle();
    quitting.receive("merovane-shop://arriving", answer("arriving"));
    quitting.quit();
    EXPECT_FALSE(quitting.receive("merovane-shop://late", answer("late")));
    libraryStarts();
    platform::runUntilIdle();
    EXPECT_EQ(told, (decltype(told){{"held", Fate::Quitting},
                                    {"arriving", Fate::Quitting},
                                    {"late", Fate::Quitting}}));
    EXPECT_TRUE(
        logged("The shell quits before opening merovane-shop://held, handed over by "
               "another start"));
    EXPECT_EQ(delivered_, std::vector<std::string>{"merovane-shop://opened"});
}

// The library sends what an opened link asks in its next command batch: a stop before
// that batch leaves answers "quitting", so that the start runs a shell with its link.
TEST_F(HandedOverLinksTest, ALinkIsTakenOnceItsBatchHasLeftAndAStopBeforeAnswersQuitting) {
    using Fate = HandedOverLinks::Fate;
    const double batch = MVApiConnection::kCommandBatchDelay;
    struct Case {
        const char* link;
        double stopAfter;  // s after delivery; < 0: before the library could open links
        Fate fate;
        bool batchLeft = false;  // the library's batch left in the turn of the stop
    };
    for (const Case& c : {Case{"merovane-shop://held", -1, Fate::Quitting},
                          Case{"merovane-shop://same-turn", 0, Fate::Quitting},
                          Case{"merovane-shop://mid-batch", batch / 2, Fate::Quitting},
                          Case{"merovane-shop://sent", batch, Fate::Taken},
                          Case{"merovane-shop://left-unwritten", 0, Fate::Quitting, true},
                          Case{"file:///opens/nothing", 0, Fate::Taken}}) {
        std::optional<Fate> told;
        HandedOverLinks links([](const platform::URL& url) {
            return std::optional<bool>(url.scheme() == "merovane-shop");
        });
        links.receive(c.link, [&told](Fate fate) { told = fate; });
        platform::runUntilIdle();
        if (c.stopAfter >= 0) {
            libraryStarts();
            platform::runUntilIdle();
            if (c.stopAfter > 0) platform::advanceBy(c.stopAfter);
        }
        if (c.batchLeft) {
            MVApiConnection::setHost(std::make_shared<TestApiConnectionHost>());
            auto& connection = MVApiConnection::sharedConnection();
            connection.sendCommands({*MVCommand::commandWithDictionary(
                json{{"c", "deepLink"}, {"p", json::object()}})});
            connection.submitCurrentCommandBuffer();
        }
        links.quit();
        platform::advanceBy(batch);
        EXPECT_EQ(told, c.fate) << c.link;
    }
    EXPECT_TRUE(
        logged("The shell quits before it sent merovane-shop://mid-batch, handed over by "
               "another start"));
}

// A stop in the turn the library's batch leaves: the link is taken once written, and the
// server has it; a link whose batch has not left goes to the next start.
class HandedOverLinksStreamTest : public ApiConnectionTest {
  protected:
    bool serverHas(const std::string& link) {
        return waitFor([&] {
            for (const auto& packet : peer_.packets())
                for (const auto& command :
                     packet.decoded.value.value("cmds", nlohmann::json::array()))
                    if (command.value("p", json::object()).value("url", "") == link) return true;
            return false;
        });
    }
    peer::ApiPeer peer_;
};

TEST_F(HandedOverLinksStreamTest, ALinkWhoseBatchLeftWithTheStopIsTakenOnceWritten) {
    using Fate = HandedOverLinks::Fate;
    streamTo(peer_);
    auto& connection = MVApiConnection::sharedConnection();
    for (const bool batchLeft : {false, true}) {
        const std::string link = batchLeft ? "merovane-shop://left" : "merovane-shop://kept";
        std::optional<Fate> told;
        HandedOverLinks links([&](const platform::URL& url) {
            connection.sendCommands({*MVCommand::commandWithDictionary(
                json{{"c", "deepLink"}, {"p", {{"url", url.absoluteString()}}}})});
            return std::optional<bool>(true);
        });
        links.receive(link, [&told](Fate fate) { told = fate; });
        platform::runUntilIdle();
        platform::NotificationCenter::defaultCenter().post(
            MVLibraryApplicationCanOpenLinksNotification);
        platform::runUntilIdle();
        if (batchLeft) {
            const int64_t before = connection.upstreamSerial();
            connection.submitCurrentCommandBuffer();
            // Built and written on the connection's threads, on the test's clock.
            ASSERT_TRUE(waitFor([&] {
                platform::advanceBy(0.001);
                return connection.hasWrittenPacketAfter(before);
            }));
        }
        links.quit();
        EXPECT_EQ(told, batchLeft ? Fate::Taken : Fate::Quitting) << link;
        if (batchLeft) {
            EXPECT_TRUE(serverHas(link));
        }
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

// Notes the deep links the library opens.
class RecordingInterjections : public MVInterjectionInterface {
  public:
    void openPushNotificationWithID(const std::string&) override {}
    void showPushNotificationInAppDisplayWithId(const std::string&) override {}
    void openPushNotificationWithId(const std::string&, const std::string&, const std::string&,
                                    std::function<void()> completion) override {
        if (completion) completion();
    }
    void openDeepLinkWithID(const std::string& id, const std::string& parameters,
                            bool silent) override {
        links.push_back({id, parameters, silent});
    }
    void didRegisterUserNotificationSettings(const json&) override {}
    void didRegisterForRemoteNotificationsWithDeviceToken(const std::string&) override {}
    std::vector<json> links;
};

class DesktopSessionTest : public ApiConnectionTest {
  protected:
    // The library launched on the manual clock, so that its boot block waits; the deep
    // links it opens are noted.
    std::shared_ptr<RecordingInterjections> launchLibrary() {
        auto interjections = std::make_shared<RecordingInterjections>();
        MVInterjectionInterface::setShared(interjections);
        platform::UserDefaults::standard().setObject("app_identifier", "shop");
        answerRequestHeads(peer_);
        MVLibraryApplication::sharedLibrary().setDefaultApiPath(peerUrl(peer_));
        auto& application = platform::Application::shared();
        application.setDelegate(std::make_shared<CountingDelegate>());
        application.finishLaunching(nullptr);
        return interjections;
    }
    // This process as the shell over `home` on the session bus at `address`.
    std::unique_ptr<DesktopSession> claim(const std::string& address, const std::string& home) {
        auto desktop = std::make_unique<DesktopSession>();
        g_setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), TRUE);  // the session looks for it
        const auto claimed = desktop->claimHome(id(home), std::nullopt);
        g_unsetenv("DBUS_SESSION_BUS_ADDRESS");
        EXPECT_EQ(claimed, DesktopSession::Claim::Running);
        return desktop;
    }
    static std::string id(const std::string& home) {
        return DesktopSession::applicationId("com.merovane.shop", home);
    }
    // A later start over `home`, the real program.
    std::unique_ptr<ChildProcess> laterStart(const std::string& address, const std::string& home,
                                             const std::vector<std::string>& arguments,
                                             const std::string& log) {
        return std::make_unique<ChildProcess>(
            ChildProcess::Program{MV_APP_EXECUTABLE, arguments, home_->file(log)},
            ChildProcess::Environment{{"DBUS_SESSION_BUS_ADDRESS", address},
                                      {"MEROVANE_HOME", home}});
    }
    // Its exit status, the main loop running until it ends.
    static int endOf(ChildProcess& child) {
        auto status = std::async(std::launch::async, [&] { return child.wait(); });
        if (!platform::runUntil(
                [&] {
                    return status.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
                },
                kTimeout + DesktopSession::kAnswerTime.count()))
            child.kill(SIGKILL);
        return status.get();
    }
    bool childLogged(const std::string& log, const std::string& part) {
        const bool found = platform::runUntil(
            [&] { return readFile(home_->file(log)).find(part) != std::string::npos; }, kTimeout);
        EXPECT_TRUE(found) << part << "\n" << readFile(home_->file(log));
        return found;
    }
    static std::string readFile(const std::string& path) {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    peer::ApiPeer peer_;
};

// The home folder held as the shell holds it, until release().
class HeldHome {
  public:
    explicit HeldHome(const std::string& folder) {
        std::filesystem::create_directories(folder);
        fd_ = ::open((folder + "/" + HomeFolderLock::kFileName).c_str(),
                     O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        struct flock whole {};
        whole.l_type = F_WRLCK;
        whole.l_whence = SEEK_SET;
        EXPECT_EQ(::fcntl(fd_, F_OFD_SETLK, &whole), 0) << folder;
    }
    ~HeldHome() { release(); }
    HeldHome(const HeldHome&) = delete;
    HeldHome& operator=(const HeldHome&) = delete;
    void release() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

  private:
    int fd_ = -1;
};

// A shell of an older build on the bus: its name and the action "open-link", no OpenLink.
class OlderShell {
  public:
    explicit OlderShell(const std::string& id) {
        std::promise<bool> registered;
        auto done = registered.get_future();
        thread_ = std::thread([this, id, &registered] {
            g_main_context_push_thread_default(context_);
            GApplication* application = g_application_new(id.c_str(), G_APPLICATION_HANDLES_OPEN);
            GSimpleAction* action = g_simple_action_new("open-link", G_VARIANT_TYPE_BYTESTRING);
            g_signal_connect(action, "activate", G_CALLBACK(given), this);
            g_action_map_add_action(G_ACTION_MAP(application), G_ACTION(action));
            g_object_unref(action);
            registered.set_value(g_application_register(application, nullptr, nullptr) &&
                                 !g_application_get_is_remote(application));
            g_main_loop_run(loop_);
            g_object_unref(application);
            g_main_context_pop_thread_default(context_);
        });
        EXPECT_TRUE(done.get()) << id;
    }
    ~OlderShell() {
        g_main_context_invoke(
            context_,
            [](gpointer loop) {
                g_main_loop_quit(static_cast<GMainLoop*>(loop));
                return G_SOURCE_REMOVE;
            },
            loop_);
        thread_.join();
        g_main_loop_unref(loop_);
        g_main_context_unref(context_);
    }
    std::vector<std::string> links() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return links_;
    }

  private:
    static void given(GSimpleAction*, GVariant* parameter, gpointer data) {
        auto* self = static_cast<OlderShell*>(data);
        gsize size = 0;
        const auto* bytes =
            static_cast<const char*>(g_variant_get_fixed_array(parameter, &size, 1));
        const std::lock_guard<std::mutex> lock(self->mutex_);
        self->links_.emplace_back(bytes ? bytes : "", size);
    }

    GMainContext* context_ = g_main_context_new();
    GMainLoop* loop_ = g_main_loop_new(context_, FALSE);
    std::mutex mutex_;
    std::vector<std::string> links_;
    std::thread thread_;
};

// A session bus of the test program's own, for the whole run: GLib keeps the first
// connection to the session bus for the process. Answers its address ("" when it failed).
std::string sessionBus() {
    static TempDir folder;
    static ChildProcess bus({MV_DBUS_DAEMON,
                             {"--session", "--nofork", "--print-address=1",
                              "--address=unix:path=" + folder.file("bus")},
                             folder.file("bus.log")});
    static const std::string address = [] {
        // Printed once it listens: its socket file is there a little before.
        if (!platform::runUntil(
                [] {
                    std::ifstream log(folder.file("bus.log"));
                    const std::string text(std::istreambuf_iterator<char>(log), {});
                    return text.find("unix:path=" + folder.file("bus")) != std::string::npos;
                },
                20))
            return std::string();
        const std::string bus = "unix:path=" + folder.file("bus");
        g_setenv("DBUS_SESSION_BUS_ADDRESS", bus.c_str(), TRUE);
        GDBusConnection* connection = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        g_unsetenv("DBUS_SESSION_BUS_ADDRESS");
        if (!connection) return std::string();
        // Kept for the run; the bus ends before the program does.
        g_dbus_connection_set_exit_on_close(connection, FALSE);
        return bus;
    }();
    return address;
}

// The shell is this process, its library launched on the manual clock, so that its boot
// block waits; a later start, a real child process, hands over a link meanwhile.
TEST_F(DesktopSessionTest, ALinkHandedOverBeforeTheLibraryStartedOpensOnceAfterItsBootBlock) {
    const std::string address = sessionBus();
    ASSERT_FALSE(address.empty());
    auto interjections = launchLibrary();
    const std::string home = home_->file("shell-home");
    auto desktop = claim(address, home);

    auto later = laterStart(address, home, {"merovane-shop://silent/early?x=1"}, "later.log");
    EXPECT_TRUE(platform::runUntil(
        [&] { return logged("merovane-shop://silent/early?x=1, handed over by another start"); },
        kTimeout));
    EXPECT_FALSE(MVLibraryApplication::sharedLibrary().didSendAppStart());
    EXPECT_TRUE(interjections->links.empty());
    platform::advanceBy(MVLibraryApplication::kStartDelay);
    platform::runUntilIdle();
    EXPECT_EQ(interjections->links, (std::vector<json>{{"early", "?x=1", true}}));
    // Told once the link's command batch has left.
    platform::advanceBy(MVApiConnection::kCommandBatchDelay);
    EXPECT_EQ(endOf(*later), 0);
    childLogged("later.log", "handed it merovane-shop://silent/early?x=1");
    MVInterjectionInterface::setShared(nullptr);
}

// Each later start learns what became of its link: dropped while as many as the shell
// keeps wait for its library, taken once open.
TEST_F(DesktopSessionTest, ALaterStartIsToldWhetherTheShellTookOrDroppedItsLink) {
    const std::string address = sessionBus();
    ASSERT_FALSE(address.empty());
    auto interjections = launchLibrary();
    const std::string home = home_->file("shell-home");
    HeldHome held(home);
    auto desktop = claim(address, home);

    // The links that wait, handed over through the bus by this process.
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    ASSERT_TRUE(bus);
    GMainContext* replies = g_main_context_new();
    g_main_context_push_thread_default(replies);
    std::vector<std::string> fates;
    for (int i = 0; i < DesktopSession::kMaxPendingURLs; ++i) {
        const std::string link = "merovane-shop://silent/waits?n=" + std::to_string(i);
        g_dbus_connection_call(
            bus, id(home).c_str(), DesktopSession::linksPath(id(home)).c_str(),
            DesktopSession::kLinksInterface, "OpenLink",
            g_variant_new("(@ay)", g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, link.data(),
                                                             link.size(), 1)),
            G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE, 60000, nullptr,
            [](GObject* source, GAsyncResult* result, gpointer data) {
                GVariant* reply =
                    g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
                const gchar* fate = "failed";
                if (reply) g_variant_get(reply, "(&s)", &fate);
                static_cast<std::vector<std::string>*>(data)->push_back(fate);
                if (reply) g_variant_unref(reply);
            },
            &fates);
    }
    g_main_context_pop_thread_default(replies);
    ASSERT_TRUE(platform::runUntil(
        [&] {
            return loggedCount("Holding merovane-shop://silent/waits") ==
                   size_t{DesktopSession::kMaxPendingURLs};
        },
        kTimeout));

    auto dropped = laterStart(address, home, {"merovane-shop://silent/dropped"}, "dropped.log");
    EXPECT_EQ(endOf(*dropped), 1);
    childLogged("dropped.log",
                "The shell runs already over this home folder and dropped "
                "merovane-shop://silent/dropped: too many links wait there");
    while (g_main_context_iteration(replies, FALSE)) {
    }
    EXPECT_TRUE(fates.empty()) << "told before the links were open";

    platform::advanceBy(MVLibraryApplication::kStartDelay);
    platform::runUntilIdle();
    platform::advanceBy(MVApiConnection::kCommandBatchDelay);
    EXPECT_TRUE(platform::runUntil(
        [&] {
            g_main_context_iteration(replies, FALSE);
            return fates.size() == size_t{DesktopSession::kMaxPendingURLs};
        },
        kTimeout));
    EXPECT_EQ(fates, std::vector<std::string>(DesktopSession::kMaxPendingURLs, "taken"));
    auto taken = laterStart(address, home, {"merovane-shop://silent/taken"}, "taken.log");
    EXPECT_TRUE(platform::runUntil(
        [&] { return logged("Opening merovane-shop://silent/taken, handed over"); }, kTimeout));
    platform::advanceBy(MVApiConnection::kCommandBatchDelay);
    EXPECT_EQ(endOf(*taken), 0);
    childLogged("taken.log",
                "The shell runs already over this home folder: handed it "
                "merovane-shop://silent/taken");
    ASSERT_EQ(interjections->links.size(), size_t{DesktopSession::kMaxPendingURLs} + 1);
    EXPECT_EQ(interjections->links.back(), (json{"taken", "", true}));
    g_main_context_unref(replies);
    g_object_unref(bus);
    MVInterjectionInterface::setShared(nullptr);
}

// A later start that meets the shell quitting waits for it to end and runs the shell
// with its link.
TEST_F(DesktopSessionTest, ALaterStartBesideAQuittingShellRunsTheShellWithItsLink) {
    const std::string address = sessionBus();
    ASSERT_FALSE(address.empty());
    const std::string home = home_->file("shell-home");
    auto held = std::make_unique<HeldHome>(home);
    auto desktop = claim(address, home);
    desktop->quit();

    answerRequestHeads(peer_);
    const std::string link = "merovane-shop://silent/quit?x=1";
    auto later = laterStart(address, home,
                            {"-dev_workspace", peerUrl(peer_), "-web_engine", "headless", link},
                            "later.log");
    ASSERT_TRUE(childLogged("later.log", "The shell over this home folder quits before opening " +
                                             link + ": this start waits for it to end"));
    EXPECT_TRUE(logged("Another start handed over " + link + " while the shell quits: not opened"));
    // The shell leaves the bus, then the home folder, as it ends.
    desktop.reset();
    held.reset();
    childLogged("later.log", "The shell runs as " + id(home) + " on the session bus");
    childLogged("later.log", "openDeepLink( linkId = \"quit\"");
    later->kill(SIGTERM);
    EXPECT_EQ(endOf(*later), 0) << readFile(home_->file("later.log"));
}

// A shell of an older build takes the link the old way and tells nothing: the start
// says so.
TEST_F(DesktopSessionTest, AnOlderShellIsHandedTheLinkAndTheStartSaysItCannotTell) {
    const std::string address = sessionBus();
    ASSERT_FALSE(address.empty());
    const std::string home = home_->file("shell-home");
    HeldHome held(home);
    OlderShell older(id(home));
    const std::string link = "merovane-shop://silent/older?x=%41";
    auto later = laterStart(address, home, {link}, "later.log");
    EXPECT_EQ(endOf(*later), 0);
    childLogged("later.log", "The shell runs already over this home folder: handed it " + link +
                                 ", but that shell does not tell what became of it");
    EXPECT_EQ(older.links(), std::vector<std::string>{link});
}

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
