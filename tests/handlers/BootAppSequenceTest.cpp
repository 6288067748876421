// Two boot commands in a row: a real tab controller, boot lists that open pages on a tab,
// and a record of the boot notifications. Whenever the second boot arrives, the interface
// ends with its pages alone and the first boot's commands stop where it came.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "libmerovane/application/MVLibraryApplication.h"
#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/containers/MVNavigationController.h"
#include "libmerovane/containers/MVTabController.h"
#include "libmerovane/core/MVActivityIndicationOverlayInterface.h"
#include "libmerovane/core/MVSplashScreenInterface.h"
#include "libmerovane/core/MVUserDefaultsKeys.h"
#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/TestDriver.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/Application.h"
#include "platform/ui/Window.h"
#include "tests/handlers/CommandTest.h"
#include "tests/handlers/TestCommands.h"
#include "tests/support/PageModelsForAllWebViews.h"
#include "tests/support/PollingWait.h"
#include "tests/support/RecordingContainers.h"
#include "tests/support/RecordingOverlay.h"
#include "tests/support/ServingURLProtocol.h"
#include "tests/support/TempDir.h"

using nlohmann::json;

namespace {

using Strings = std::vector<std::string>;

constexpr const char* kBootTab = "main";

// A boot list: opens the page `name` on the boot tab, then echoes the name.
json bootList(const std::string& name) {
    return json::array({{{"c", "openPage"},
                         {"p",
                          {{"src", "mvtest://shop/" + name},
                           {"title", name},
                           {"targetTab", kBootTab},
                           {"animated", false}}}},
                        {{"c", "echo"}, {"p", {{"n", name}}}}});
}

json bootCommand(const std::string& identifier, const json& list) {
    return {{"c", "bootApp"}, {"p", {{"identifier", identifier}, {"cmds", list}}}};
}

class BootAppSequenceTest : public CommandTest {
  protected:
    void SetUp() override {
        home = std::make_unique<TempDir>();
        CommandTest::SetUp();
        splash = RecordingSplashScreen::install();
        MVLibraryApplication::sharedLibrary();
        site = std::make_unique<ServingURLProtocol>("mvtest");
        for (const char* name : {"B", "X"})
            site->serve(std::string("mvtest://shop/") + name, "text/html", "<p/>");
        models = std::make_unique<PageModelsForAllWebViews>();
        tabs = MVTabController::create();
        window = platform::Window::create(platform::Rect(0, 0, 320, 480));
        window->setRootViewController(tabs);
        window->makeKeyAndVisible();
        auto& center = platform::NotificationCenter::defaultCenter();
        for (const char* name : {MVLibraryApplicationReceivedBootAppCommand,
                                 MVLibraryApplicationPerformedBootAppCommand})
            observers.emplace_back(
                center, center.addObserver(name, nullptr, [this](const platform::Notification& n) {
                    posted.push_back(n.name == MVLibraryApplicationReceivedBootAppCommand
                                         ? "received"
                                         : "performed");
                }));
    }
    void TearDown() override {
        observers.clear();
        window.reset();
        tabs.reset();
        models.reset();
        MVActivityIndicationOverlayInterface::setFactory(nullptr);
        platform::runUntilIdle();
        CommandTest::TearDown();
        site.reset();
        home.reset();
    }

    static void perform(const json& command) { CommandTest::perform("2.0", command); }
    // Runs until the last boot has announced its end and every page has loaded.
    bool settle() {
        return runUntilPolled(
            [&] { return !posted.empty() && posted.back() == "performed" && models->allLoaded(); },
            20.0);
    }
    // The titles of the boot tab's pages, bottom to top.
    Strings bootTabTitles() const {
        Strings titles;
        if (auto tab = MVNavigationController::sharedInstanceForIdentifier(kBootTab))
            for (const auto& page : tab->pageStack()) titles.push_back(page->title());
        return titles;
    }
    // The names the boot lists echoed, in order.
    static Strings echoed() {
        Strings names;
        for (const auto& command : performedCommands())
            if (command.command == "echo" && command.parameters)
                names.push_back(command.parameters->value("n", ""));
        return names;
    }
    static json cachedScript() {
        return platform::UserDefaults::standard()
            .objectForKey(MVStandardUserDefaultsCachedBootScript)
            .value_or(json());
    }
    static json scriptOf(const std::string& identifier, const json& list) {
        return {{"cmds", list}, {"identifier", identifier}, {"commandHandlerVersion", "2.0"}};
    }

    std::unique_ptr<TempDir> home;
    std::shared_ptr<RecordingSplashScreen> splash;
    std::unique_ptr<ServingURLProtocol> site;
    std::unique_ptr<PageModelsForAllWebViews> models;
    std::shared_ptr<MVTabController> tabs;
    std::shared_ptr<platform::Window> window;
    std::vector<platform::ObserverRegistration> observers;
    Strings posted;
};

TEST_F(BootAppSequenceTest, ASecondBootDuringTheFirstOnesDelayLeavesOnlyItsOwnPages) {
    struct Row {
        double after;      // seconds between the two boots
        bool underSplash;  // else each boot fades an overlay in first
    };
    const Row rows[] = {{0, true},  {0.5, true},  {0.99, true},
                        {0, false}, {0.5, false}, {0.99, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.after << " s, splash " << row.underSplash);
        performedCommands().clear();
        posted.clear();
        splash->visible = row.underSplash;
        auto overlays = RecordingOverlay::install();

        perform(bootCommand("B", bootList("B")));
        platform::advanceBy(row.after);
        platform::runUntilIdle();
        perform(bootCommand("X", bootList("X")));
        platform::advanceBy(1.0);
        platform::runUntilIdle();
        EXPECT_EQ(echoed(), Strings{"X"});
        ASSERT_TRUE(settle());
        platform::advanceBy(2.0);

        EXPECT_EQ(bootTabTitles(), Strings{"X"});
        EXPECT_EQ(echoed(), Strings{"X"});
        EXPECT_EQ(std::count(posted.begin(), posted.end(), "performed"), 1);
        EXPECT_EQ(posted.back(), "performed");
        EXPECT_EQ(cachedScript(), scriptOf("X", bootList("X")));
        for (const auto& overlay : *overlays)
            EXPECT_EQ(overlay->fades, (Strings{"in 0.3", "out 0.3"}));
        EXPECT_EQ(overlays->size(), row.underSplash ? 0u : 2u);
    }
}

// A boot command inside a boot list: the rest of the outer list does not run, and only the
// inner boot ends and caches its script.
TEST_F(BootAppSequenceTest, ABootInsideABootListEndsTheRestOfThatList) {
    json outer = bootList("B");
    outer.push_back(bootCommand("X", bootList("X")));
    outer.push_back({{"c", "echo"}, {"p", {{"n", "after"}}}});
    perform(bootCommand("B", outer));
    platform::advanceBy(1.0);
    platform::runUntilIdle();
    EXPECT_EQ(echoed(), Strings{"B"});
    EXPECT_TRUE(bootTabTitles().empty());  // the inner boot has reset the interface

    platform::advanceBy(1.0);
    ASSERT_TRUE(settle());
    platform::advanceBy(2.0);
    EXPECT_EQ(bootTabTitles(), Strings{"X"});
    EXPECT_EQ(echoed(), (Strings{"B", "X"}));
    EXPECT_EQ(posted, (Strings{"received", "received", "performed"}));
    EXPECT_EQ(cachedScript(), scriptOf("X", bootList("X")));
    EXPECT_TRUE(logged(": rest of the list not run"));
}

// A list the first boot's list delays is the first boot's too: the second boot drops it.
TEST_F(BootAppSequenceTest, ASecondBootDropsTheListsTheFirstOneDelayed) {
    auto withDelayed = [](const std::string& name) {
        json list = bootList(name);
        list.push_back(
            {{"c", "performCommandsAfterDelay"},
             {"p",
              {{"delay", 2},
               {"cmds", json::array({{{"c", "echo"}, {"p", {{"n", name + " later"}}}}})}}}});
        return list;
    };
    perform(bootCommand("B", withDelayed("B")));
    platform::advanceBy(1.5);  // B's list has run; its delayed list is due at 3 s
    perform(bootCommand("X", withDelayed("X")));
    ASSERT_TRUE(settle());
    platform::advanceBy(5.0);
    EXPECT_EQ(echoed(), (Strings{"B", "X", "X later"}));
    EXPECT_EQ(bootTabTitles(), Strings{"X"});
    EXPECT_EQ(cachedScript(), scriptOf("X", withDelayed("X")));
    EXPECT_TRUE(logged(": delayed list not run"));
}

// A boot with an empty list cancels nothing, but a boot that began before it caches no
// script: the server's latest word was "no boot script". A boot after it caches as before.
TEST_F(BootAppSequenceTest, ABootBeforeAnEmptyBootRunsButCachesNoScript) {
    struct Step {
        double after;      // seconds since the step before
        const char* boot;  // "": a boot with an empty list
    };
    struct Row {
        std::vector<Step> steps;
        bool underSplash;
        Strings titles;      // the boot tab's pages at the end
        const char* cached;  // the cached script's identifier; null: none
    };
    const Row rows[] = {
        {{{0, "B"}, {0, ""}}, true, {"B"}, nullptr},
        {{{0, "B"}, {0.5, ""}}, true, {"B"}, nullptr},
        {{{0, "B"}, {0.99, ""}}, true, {"B"}, nullptr},
        {{{0, "B"}, {0.5, ""}}, false, {"B"}, nullptr},
        {{{0, "B"}, {1.0, ""}}, true, {"B"}, nullptr},  // the list has run, its pages load
        {{{0, ""}, {0.5, "B"}}, true, {"B"}, "B"},
        {{{0, ""}, {0.5, "B"}}, false, {"B"}, "B"},
        {{{0, "B"}, {0.5, ""}, {0.2, "X"}}, true, {"X"}, "X"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message()
                     << row.steps.size() << " boots, last after " << row.steps.back().after
                     << " s, splash " << row.underSplash);
        performedCommands().clear();
        posted.clear();
        splash->visible = row.underSplash;
        auto overlays = RecordingOverlay::install();
        platform::UserDefaults::standard().setObject(MVStandardUserDefaultsCachedBootScript,
                                                     scriptOf("old", bootList("old")));

        Strings ran;
        for (const auto& step : row.steps) {
            platform::advanceBy(step.after);
            const std::string name = step.boot;
            if (name.empty()) {
                perform({{"c", "bootApp"}, {"p", {{"cmds", json::array()}}}});
                EXPECT_EQ(cachedScript(), json());
            } else {
                perform(bootCommand(name, bootList(name)));
            }
        }
        EXPECT_TRUE(std::find(posted.begin(), posted.end(), "performed") == posted.end());
        platform::advanceBy(1.0);
        ASSERT_TRUE(settle());
        platform::advanceBy(2.0);

        EXPECT_EQ(bootTabTitles(), row.titles);
        EXPECT_EQ(echoed(), row.titles);
        EXPECT_EQ(std::count(posted.begin(), posted.end(), "performed"), 1);
        EXPECT_EQ(posted.back(), "performed");
        EXPECT_EQ(cachedScript(), row.cached ? scriptOf(row.cached, bootList(row.cached)) : json());
        for (const auto& overlay : *overlays)
            EXPECT_EQ(overlay->fades, (Strings{"in 0.3", "out 0.3"}));
    }
    EXPECT_TRUE(logged("caches no script: a boot with an empty list came after it"));
}

// The process's orderly stop at any moment around a boot: the shell keeps a script to
// replay, the boot's own once it came (stored by the stop when the boot had not stored it
// yet), whether or not a script was stored before.
struct StopAroundBoot {
    const char* name;
    bool stored;       // a script was stored before the boot
    bool underSplash;  // else the boot fades an overlay in first
    double after;      // seconds from the boot to the stop; < 0: once the boot has ended
};
void PrintTo(const StopAroundBoot& row, std::ostream* out) {
    *out << row.name;
}

class StopAroundBootTest : public BootAppSequenceTest,
                           public ::testing::WithParamInterface<StopAroundBoot> {};

TEST_P(StopAroundBootTest, TheStopLeavesTheBootsScriptToReplay) {
    const StopAroundBoot& row = GetParam();
    splash->visible = row.underSplash;
    auto overlays = RecordingOverlay::install();
    if (row.stored)
        platform::UserDefaults::standard().setObject(MVStandardUserDefaultsCachedBootScript,
                                                     scriptOf("old", bootList("old")));
    perform(bootCommand("B", bootList("B")));
    if (row.after < 0) {
        platform::advanceBy(1.0);
        ASSERT_TRUE(settle());
    } else {
        platform::advanceBy(row.after);
    }
    platform::UserDefaults::standard().synchronize();
    MVLibraryApplication::sharedLibrary().applicationWillTerminate(platform::Application::shared());
    EXPECT_EQ(cachedScript(), scriptOf("B", bootList("B")));
    // What the stop stored is what a later start reads.
    EXPECT_TRUE(platform::UserDefaults::standard().synchronize());
    EXPECT_EQ(MVLibraryApplication::cachedBootScript(), scriptOf("B", bootList("B")));
}

INSTANTIATE_TEST_SUITE_P(
    Moments, StopAroundBootTest,
    ::testing::Values(StopAroundBoot{"AtTheBootUnderTheSplash", true, true, 0},
                      StopAroundBoot{"AtTheBootFirstStart", false, true, 0},
                      StopAroundBoot{"DuringTheOverlaysFadeIn", true, false, 0.1},
                      StopAroundBoot{"DuringTheBootsDelay", true, true, 0.5},
                      StopAroundBoot{"DuringTheBootsDelayFirstStart", false, false, 0.9},
                      StopAroundBoot{"AsTheListRuns", true, true, 1.0},
                      StopAroundBoot{"AsTheListRunsFirstStart", false, false, 1.3},
                      StopAroundBoot{"OnceTheBootStoredItsScript", true, true, -1},
                      StopAroundBoot{"OnceTheBootStoredItsScriptFirstStart", false, false, -1}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
