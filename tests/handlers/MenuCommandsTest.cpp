// Menu-bar and background-menu commands against recording menus: which menu each
// command reaches, with which values, and what a missing menu or page source reports.
#include <gtest/gtest.h>

#include "platform/ui/Window.h"
#include "tests/handlers/CommandTest.h"
#include "tests/support/RecordingMenus.h"

using nlohmann::json;
using MenuCalls = std::vector<std::string>;

namespace {

using MenuCommandsTest = CommandTest;

TEST_F(MenuCommandsTest, SetMenuBarPrefersSrcAndReadsUncheckedKeysByType) {
    auto menuBar = RecordingMenuBar::create("main");
    auto other = RecordingMenuBar::create("other");
    const json params = {{"k", 1}};
    struct Case {
        json parameters;
        std::shared_ptr<RecordingMenuBar> target;
        const char* call;
        json menuParams;
    } cases[] = {
        {{{"src", "https://m/1"}, {"content", "<p/>"}, {"menuParams", params}},
         menuBar,
         "url(https://m/1)",
         params},
        {{{"content", "<p/>"}, {"baseUrl", "https://m/"}, {"targetMenu", "other"}},
         other,
         "content(<p/>,https://m/)",
         nullptr},
        // unlisted keys of another type count as absent
        {{{"content", "<p/>"}, {"targetMenu", 7}, {"menuParams", "x"}},
         menuBar,
         "content(<p/>,(none))",
         nullptr},
    };
    for (const auto& c : cases) {
        c.target->calls.clear();
        c.target->menuParams.clear();
        perform("2.0", {{"c", "setMenuBar"}, {"p", c.parameters}});
        EXPECT_EQ(c.target->calls, MenuCalls{c.call}) << c.parameters;
        EXPECT_EQ(c.target->menuParams, std::vector<json>{c.menuParams}) << c.parameters;
    }
    EXPECT_TRUE(MVErrorLogger::reports().empty());
}

TEST_F(MenuCommandsTest, SetMenuBarWithoutSourceReportsTheMenuData) {
    auto menuBar = RecordingMenuBar::create(std::nullopt);
    auto sender = page();
    const json parameters = {{"baseUrl", "https://m/"}};
    perform("1.0", {{"c", "setMenuBar"}, {"p", parameters}});
    perform("1.0", {{"c", "setMenuBar"}}, sender);
    const std::string text =
        "MVCommandHandler(v1.0).setMenuBar() doesn't contain neither src nor content";
    EXPECT_EQ(loggedLevel(text), platform::log::kWarning);
    auto reports = MVErrorLogger::reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].description, text + ".");
    EXPECT_EQ(*reports[0].data, (json{{"params", parameters}, {"webView.currentUrl", ""}}));
    EXPECT_EQ(*reports[1].data,
              (json{{"params", ""}, {"webView.currentUrl", *sender->currentUrl()}}));
    EXPECT_TRUE(menuBar->calls.empty());
}

TEST_F(MenuCommandsTest, MenuBarAnimationsFollowTheWordAndTheWindow) {
    auto menuBar = RecordingMenuBar::create("main");
    auto window = platform::Window::create(platform::Rect(0, 0, 320, 480));
    perform("1.0", {{"c", "showMenuBar"}, {"p", {{"animation", "fade"}}}});  // in no window
    window->addSubview(menuBar->view());
    perform("1.0", {{"c", "showMenuBar"}, {"p", {{"animation", "fade"}, {"speedFactor", 2}}}});
    perform("3.0", {{"c", "hideMenuBar"}, {"p", {{"targetMenu", "main"}}}});
    perform("2.1", {{"c", "hideMenuBar"}, {"p", {{"animation", "none"}}}});
    ASSERT_EQ(menuBar->barCalls.size(), 4u);
    const std::pair<MVBarAnimation, std::optional<double>> expected[] = {
        {MVBarAnimation::None, std::nullopt},
        {MVBarAnimation::Fade, 2.0},
        {MVBarAnimation::Slide, std::nullopt},
        {MVBarAnimation::None, std::nullopt}};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(menuBar->barCalls[i].show, i < 2);
        EXPECT_EQ(menuBar->barCalls[i].animation, expected[i].first) << i;
        EXPECT_EQ(menuBar->barCalls[i].speedFactor, expected[i].second) << i;
    }
}

TEST_F(MenuCommandsTest, AMissingMenuBarIsOnlyWarnedAbout) {
    perform("1.0", {{"c", "showMenuBar"}});
    auto menuBar = RecordingMenuBar::create("main");
    perform("1.0", {{"c", "hideMenuBar"}, {"p", {{"targetMenu", "side"}}}});
    perform("1.0", {{"c", "setMenuBar"}, {"p", {{"src", "https://m/"}, {"targetMenu", "side"}}}});
    EXPECT_TRUE(logged("There is no default menu bar controller"));
    EXPECT_EQ(loggedCount("No menu bar controller is registered as \"side\""), 2u);
    EXPECT_TRUE(MVErrorLogger::reports().empty());
    EXPECT_TRUE(menuBar->calls.empty());
}

TEST_F(MenuCommandsTest, SetBackgroundMenuTakesItsSpeedFromTheMisspeltKey) {
    auto primary = RecordingBackgroundMenu::create("primary");
    auto secondary = RecordingBackgroundMenu::create("secondary");
    const json type = {"defaultPresentationType", "pushInFromLeft"};
    perform("1.0",
            {{"c", "setBackgroundMenu"},
             {"p", json({type, {"src", "https://b/"}, {"content", "x"}, {"speedFactor", 2}})}});
    perform("1.0", {{"c", "setBackgroundMenu"},
                    {"p", json({type,
                                {"content", "<p/>"},
                                {"baseUrl", "https://b/"},
                                {"speefFactor", 2},
                                {"gestureRecognizer", "screenEdge"},
                                {"menuParams", {{"a", 1}}},
                                {"targetMenu", "secondary"}})}});
    perform(
        "1.0",
        {{"c", "setBackgroundMenu"},
         {"p",
          json({type, {"src", "https://b/"}, {"speefFactor", "2"}, {"gestureRecognizer", 1}})}});
    perform("1.0", {{"c", "setBackgroundMenu"}, {"p", {{"src", "https://b/"}}}});  // invalid
    ASSERT_EQ(primary->contents.size(), 2u);
    ASSERT_EQ(secondary->contents.size(), 1u);
    const auto& first = primary->contents[0];
    EXPECT_TRUE(first.isURL);
    EXPECT_EQ(first.source, "https://b/");
    EXPECT_EQ(first.presentationType, "pushInFromLeft");
    EXPECT_EQ(first.speedFactor, std::nullopt);
    const auto& second = secondary->contents[0];
    EXPECT_FALSE(second.isURL);
    EXPECT_EQ(second.baseURL, "https://b/");
    EXPECT_EQ(second.speedFactor, 2.0);
    EXPECT_EQ(second.gestureRecognizer, "screenEdge");
    EXPECT_EQ(second.menuParams, (json{{"a", 1}}));
    EXPECT_EQ(primary->contents[1].speedFactor, std::nullopt);
    EXPECT_EQ(primary->contents[1].gestureRecognizer, std::nullopt);
    EXPECT_TRUE(logged("MVCommand validation failed <setBackgroundMenu>"));
}

TEST_F(MenuCommandsTest, BackgroundMenuFailuresReportTheirTexts) {
    const json noSource = {{"defaultPresentationType", "foregroundLeft"}};
    perform("1.0", {{"c", "hideBackgroundMenu"}});  // no menu at all
    auto primary = RecordingBackgroundMenu::create("primary");
    perform("1.0", {{"c", "setBackgroundMenu"}, {"p", noSource}});
    perform("2.0", {{"c", "hideBackgroundMenu"}, {"p", {{"targetMenu", "left"}}}});
    struct Expected {
        std::string warning;
        std::string report;
        json params;
    } expected[] = {
        {"MVCommandHandler(v1.0).hideBackgroundMenu() Couldn't find default "
         "MVBackgroundMenuController or identifier was not given",
         "MVCommandHandler(v1.0).hideBackgroundMenu() Couldn't find default "
         "MVBackgroundMenuController or identifier was not given.",
         ""},
        {"MVCommandHandler(v1.0).setBackgroundMenu() doesn't contain neither src nor content.",
         "MVCommandHandler(v1.0).setBackgroundMenu() setBackgroundMenu doesn't contain neither "
         "src nor content.",
         noSource},
        {"MVCommandHandler(v2.0).hideBackgroundMenu() Couldn't find MVBackgroundMenuController "
         "for identifier: \"left\"",
         "MVCommandHandler(v2.0).hideBackgroundMenu() Couldn't find MVBackgroundMenuController "
         "for identifier.",
         {{"targetMenu", "left"}}},
    };
    auto reports = MVErrorLogger::reports();
    ASSERT_EQ(reports.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(loggedLevel(expected[i].warning), platform::log::kWarning) << i;
        EXPECT_EQ(reports[i].description, expected[i].report);
        EXPECT_EQ(*reports[i].data,
                  (json{{"params", expected[i].params}, {"webView.currentUrl", ""}}));
    }
    EXPECT_TRUE(primary->calls.empty());
}

TEST_F(MenuCommandsTest, ShowAndHideBackgroundMenuActOnPrimaryWithoutTarget) {
    auto primary = RecordingBackgroundMenu::create("primary");
    auto secondary = RecordingBackgroundMenu::create("secondary");
    perform("1.0", {{"c", "showBackgroundMenu"}});
    perform("1.1",
            {{"c", "showBackgroundMenu"},
             {"p", {{"presentationType", "foregroundRight"}, {"speedFactor", 0.5}}}},
            page());
    perform("3.0", {{"c", "hideBackgroundMenu"}, {"p", {{"targetMenu", "secondary"}}}});
    EXPECT_EQ(primary->calls, (MenuCalls{"show((none))", "show(foregroundRight)"}));
    EXPECT_EQ(primary->speedFactors, (std::vector<std::optional<double>>{std::nullopt, 0.5}));
    EXPECT_EQ(secondary->calls, MenuCalls{"hide"});
    EXPECT_TRUE(MVErrorLogger::reports().empty());
}

}  // namespace
