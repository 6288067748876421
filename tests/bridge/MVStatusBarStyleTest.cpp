// Status-bar styles by name, the shared styles and the application default.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include "libmerovane/bridge/MVStatusBarStyle.h"
#include "platform/ui/Application.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "tests/support/PlatformTest.h"

namespace {

using platform::StatusBarStyle;

// A root controller that answers from the application default and counts the questions.
class CountingRoot : public platform::ViewController {
  public:
    StatusBarStyle preferredStatusBarStyle() const override {
        ++asked;
        return MVStatusBarStyle::statusBarStyleAppDefault()->preferredStatusbarStyle();
    }
    mutable int asked = 0;
};

using MVStatusBarStyleTest = PlatformTest;

TEST_F(MVStatusBarStyleTest, NamesMapToThePlatformAnswers) {
    platform::Application::shared().setStatusBarStyle(StatusBarStyle::LightContent);
    struct Case {
        const char* name;
        StatusBarStyle style;
        bool hidden;
    } cases[] = {
        {"light", StatusBarStyle::LightContent, false},
        {"dark", StatusBarStyle::Default, false},
        {"Light", StatusBarStyle::Default, false},  // any other name is dark
        {"", StatusBarStyle::Default, false},
        {"none", StatusBarStyle::LightContent, true},  // keeps the style in force
    };
    for (const auto& c : cases) {
        auto style = MVStatusBarStyle::statusBarStyleWithStyleIdentifier(c.name);
        EXPECT_EQ(style->string(), c.name);
        EXPECT_EQ(style->preferredStatusbarStyle(), c.style) << c.name;
        EXPECT_EQ(style->prefersStatusBarHidden(), c.hidden) << c.name;
    }
    EXPECT_EQ(MVStatusBarStyle::statusBarStyleNone()->string(), "none");
    EXPECT_EQ(MVStatusBarStyle::statusBarStyleDark()->string(), "dark");
}

TEST_F(MVStatusBarStyleTest, NoIdentifierAnswersTheSharedLightStyle) {
    EXPECT_EQ(MVStatusBarStyle::statusBarStyleWithStyleIdentifier(std::nullopt),
              MVStatusBarStyle::statusBarStyleLight());
    EXPECT_EQ(MVStatusBarStyle::statusBarStyleLight()->string(), "light");
    EXPECT_TRUE(
        logged("<statusBarStyleWithStyleIdentifier> called without identifier. Sent back "
               "default with light content."));
}

TEST_F(MVStatusBarStyleTest, SettingTheDefaultChangesTheSharedObjectAndAsksOnce) {
    auto root = std::make_shared<CountingRoot>();
    auto window = platform::Window::create(platform::Rect(0, 0, 320, 480));
    window->setRootViewController(root);
    window->makeKeyAndVisible();
    auto appDefault = MVStatusBarStyle::statusBarStyleAppDefault();
    EXPECT_EQ(appDefault->string(), "dark");
    root->asked = 0;

    MVStatusBarStyle::setStatusBarStyleAsAppDefault(*MVStatusBarStyle::statusBarStyleLight());

    EXPECT_EQ(MVStatusBarStyle::statusBarStyleAppDefault(), appDefault);
    EXPECT_EQ(appDefault->string(), "light");
    EXPECT_EQ(root->asked, 1);
    EXPECT_EQ(platform::Application::shared().statusBarStyle(), StatusBarStyle::LightContent);
    // the light style itself is unchanged by later defaults
    MVStatusBarStyle::setStatusBarStyleAsAppDefault(MVStatusBarStyle("none"));
    EXPECT_EQ(MVStatusBarStyle::statusBarStyleLight()->string(), "light");
}

TEST_F(MVStatusBarStyleTest, OtherThreadsReadTheDefaultWhileItChanges) {
    std::atomic<bool> done = false;
    std::atomic<int> reads = 0;
    std::set<std::string> seen;
    std::thread reader([&] {
        // the shared styles may be made first here
        const auto none = MVStatusBarStyle::statusBarStyleNone();
        const auto appDefault = MVStatusBarStyle::statusBarStyleAppDefault();
        while (!done.load()) {
            seen.insert(appDefault->string());
            appDefault->prefersStatusBarHidden();
            ++reads;
        }
        EXPECT_EQ(none, MVStatusBarStyle::statusBarStyleNone());
    });
    const auto none = MVStatusBarStyle::statusBarStyleNone();
    // Writes go on until the reader has read many times meanwhile.
    for (int i = 0; i < 2000 || reads.load() < 1000; ++i)
        MVStatusBarStyle::setStatusBarStyleAsAppDefault(
            MVStatusBarStyle(i % 2 ? "dark" : "a light style of some length"));
    MVStatusBarStyle::setStatusBarStyleAsAppDefault(MVStatusBarStyle("dark"));
    done = true;
    reader.join();
    EXPECT_EQ(none, MVStatusBarStyle::statusBarStyleNone());
    for (const auto& text : seen)
        EXPECT_TRUE(text == "dark" || text == "a light style of some length") << text;
    EXPECT_EQ(MVStatusBarStyle::statusBarStyleAppDefault()->string(), "dark");
}

}  // namespace
