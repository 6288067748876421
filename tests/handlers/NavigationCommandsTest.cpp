// Navigation and splash-screen commands against recording containers: which stack
// each command reaches, with which values, and what happens without a target.
#include <gtest/gtest.h>

#include "platform/ui/Window.h"
#include "tests/handlers/CommandTest.h"
#include "tests/support/RecordingContainers.h"

using nlohmann::json;
using Calls = std::vector<std::string>;

namespace {

using NavigationCommandsTest = CommandTest;

TEST_F(NavigationCommandsTest, CleanTabFromTheServerWithoutTargetIsReportedOnce) {
    auto tabs = RecordingTabController::install();
    const json parameters = {{"animated", 1}};
    perform("2.1", {{"c", "cleanTab"}, {"p", parameters}});
    const std::string text =
        "MVCommandHandler(v2.1).cleanTab() without a target can only be called from an MVWebview";
    EXPECT_EQ(loggedLevel(text), platform::log::kWarning);
    auto reports = MVErrorLogger::reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].description, text);
    ASSERT_TRUE(reports[0].data);
    EXPECT_EQ(*reports[0].data, parameters);
    EXPECT_TRUE(tabs->stacks.empty());
}

TEST_F(NavigationCommandsTest, BarCommandsTurnWordsIntoAnimationsAndPassSpeedFactorsOn) {
    auto tabs = RecordingTabController::install();
    auto window = platform::Window::create(platform::Rect(0, 0, 320, 480));
    window->addSubview(tabs->stack("t")->view());
    struct Case {
        json parameters;
        MVBarAnimation animation;
        std::optional<double> speedFactor;
    } cases[] = {
        {{{"targetTab", "t"}}, MVBarAnimation::Slide, std::nullopt},  // no word slides
        {{{"targetTab", "t"}, {"animation", "slide"}}, MVBarAnimation::Slide, std::nullopt},
        {{{"targetTab", "t"}, {"animation", "fade"}, {"speedFactor", 2}},
         MVBarAnimation::Fade,
         2.0},
        {{{"targetTab", "t"}, {"animation", "Slide"}}, MVBarAnimation::None, std::nullopt},
        {{{"targetTab", "t"}, {"animation", ""}}, MVBarAnimation::None, std::nullopt},
        // numbers arrive unchecked and are handed on as sent
        {{{"targetTab", "t"}, {"speedFactor", 0}}, MVBarAnimation::Slide, 0.0},
        {{{"targetTab", "t"}, {"speedFactor", -3.5}}, MVBarAnimation::Slide, -3.5},
        {{{"targetTab", "t"}, {"speedFactor", 1e308}}, MVBarAnimation::Slide, 1e308},
        // the same words on a stack that is in no window: no animation
        {{{"targetTab", "off"}, {"animation", "fade"}}, MVBarAnimation::None, std::nullopt},
        {{{"targetTab", "off"}}, MVBarAnimation::None, std::nullopt},
    };
    for (const char* command : {"hideNavigationBar", "showNavigationBar"}) {
        for (const auto& c : cases) {
            auto stack = tabs->stack(c.parameters["targetTab"].get<std::string>());
            stack->barCalls.clear();
            perform("1.0", {{"c", command}, {"p", c.parameters}});
            ASSERT_EQ(stack->barCalls.size(), 1u) << command << " " << c.parameters;
            EXPECT_EQ(stack->barCalls[0].show, command[0] == 's');
            EXPECT_EQ(stack->barCalls[0].animation, c.animation) << c.parameters;
            EXPECT_EQ(stack->barCalls[0].speedFactor, c.speedFactor) << c.parameters;
        }
    }
    EXPECT_TRUE(MVErrorLogger::reports().empty());
}

TEST_F(NavigationCommandsTest, WithoutATabForThePageOrATabControllerNothingIsFound) {
    auto sender = page();
    const std::string url = sender->currentUrl().value_or("");
    ASSERT_FALSE(url.empty());
    const json expectedData = {{"identifier", ""}, {"webView", url}};

    // no tab controller at all, then one that does not hold the page
    perform("1.0", {{"c", "popTab"}}, sender);
    perform("1.0", {{"c", "showTab"}, {"p", {{"targetTab", "t"}}}});  // nothing to switch
    perform("1.0", {{"c", "flushTab"}, {"p", {{"targetTab", "t"}}}});
    RecordingTabController::install();
    perform("1.0", {{"c", "popTab"}}, sender);

    EXPECT_EQ(
        loggedCount("No navigation controller found for [MVWebView" + sender->debugName() + "]"),
        2u);
    EXPECT_TRUE(logged("No navigation controller found for [Target:t]"));
    auto reports = MVErrorLogger::reports();
    ASSERT_EQ(reports.size(), 3u);
    for (size_t i : {0, 2}) {
        EXPECT_EQ(reports[i].description, "No navigation controller found for MVWebView");
        ASSERT_TRUE(reports[i].data);
        EXPECT_EQ(*reports[i].data, expectedData);
    }
    EXPECT_EQ(reports[1].description, "No navigation controller found for Target:");
    EXPECT_EQ(*reports[1].data, (json{{"identifier", "t"}, {"webView", ""}}));
}

TEST_F(NavigationCommandsTest, EachCommandReachesItsStack) {
    auto tabs = RecordingTabController::install();
    auto sender = page();
    tabs->holdWebView(*sender, "home");
    struct Case {
        const char* version;
        json command;
        bool fromPage;
        const char* stack;
        Calls calls;
    } cases[] = {
        {"1.0", {{"c", "flushTab"}, {"p", {{"targetTab", "a"}}}}, false, "a", {"flush"}},
        {"1.0",
         {{"c", "popTabToRoot"}, {"p", {{"targetTab", "b"}}}},
         false,
         "b",
         {"popToRootViewControllerAnimated(1)"}},
        {"1.0", {{"c", "popTab"}}, true, "home", {"popViewControllerAnimated(1)"}},
        {"1.0",
         {{"c", "setNavigationBar"}, {"p", {{"src", "https://x/bar"}}}},
         true,
         "home",
         {"setNavigationBarWithURL(https://x/bar)"}},
        // an identifier wins over the page's own tab
        {"1.1", {{"c", "cleanTab"}, {"p", {{"targetTab", "c"}}}}, true, "c", {"clean"}},
        {"2.0", {{"c", "cleanTab"}}, true, "home", {"clean"}},
        {"3.0",
         {{"c", "enablePopGesture"}, {"p", {{"targetTab", "t"}, {"enabled", 0}}}},
         false,
         "t",
         {"setPopGestureEnabled(0)"}},
        {"2.1",
         {{"c", "enablePopGesture"}, {"p", {{"enabled", 1}}}},
         true,
         "home",
         {"setPopGestureEnabled(1)"}},
    };
    for (const auto& c : cases) {
        tabs->stacks.clear();
        perform(c.version, c.command, c.fromPage ? sender : nullptr);
        ASSERT_EQ(tabs->stacks.size(), 1u) << c.command;
        EXPECT_EQ(tabs->stack(c.stack)->calls, c.calls) << c.command;
    }
    EXPECT_TRUE(MVErrorLogger::reports().empty());

    // the same as a 1.1 collection: no such command yet
    tabs->stacks.clear();
    perform("1.1", {{"c", "enablePopGesture"}, {"p", {{"targetTab", "t"}, {"enabled", 0}}}});
    EXPECT_TRUE(logged("MVCommandHandler(v1.1) unknown command: enablePopGesture"));
    EXPECT_TRUE(tabs->stacks.empty());
}

TEST_F(NavigationCommandsTest, ShowTabTakesTransitionAndSpeedFromVersion1_1On) {
    auto tabs = RecordingTabController::install();
    const json parameters = {{"targetTab", "t"}, {"transition", "fade"}, {"speedFactor", 0.5}};
    for (const char* version : {"1.0", "1.1", "3.0"})
        perform(version, {{"c", "showTab"}, {"p", parameters}});
    ASSERT_EQ(tabs->presentations.size(), 3u);
    EXPECT_EQ(tabs->presentations[0].identifier, "t");
    EXPECT_EQ(tabs->presentations[0].transition, std::nullopt);
    EXPECT_EQ(tabs->presentations[0].speedFactor, std::nullopt);
    for (size_t i : {1, 2}) {
        EXPECT_EQ(tabs->presentations[i].transition, "fade");
        EXPECT_EQ(tabs->presentations[i].speedFactor, 0.5);
    }
}

TEST_F(NavigationCommandsTest, SplashScreenCommandsForwardForAnyCaller) {
    perform("1.0", {{"c", "hideSplashScreen"}});  // nothing installed: nothing happens
    auto splash = RecordingSplashScreen::install();
    auto sender = page();
    perform("1.0", {{"c", "hideSplashScreen"}});
    perform("2.0", {{"c", "showSplashScreen"}, {"p", {{"ignored", true}}}}, sender);
    perform("3.0", {{"c", "setSplashScreen"}, {"p", {{"src", ""}}}});
    perform("1.0", {{"c", "setSplashScreen"}}, sender);  // refused by validation
    EXPECT_EQ(splash->calls, (Calls{"hide", "show", "set()"}));
    EXPECT_TRUE(logged("MVCommand validation failed <setSplashScreen>"));
}

}  // namespace
