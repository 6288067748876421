// The 1.1 and 2.0 web-view commands: the later openPage versions, status-bar styles,
// view tags, tag navigation and pull to refresh, on the headless engine with a
// recording tab controller.
#include <gtest/gtest.h>

#include "libmerovane/bridge/MVStatusBarStyle.h"
#include "libmerovane/bridge/MVWebViewHistoryEntry.h"
#include "platform/ui/Window.h"
#include "tests/handlers/PageCommandTest.h"
#include "tests/support/RecordingMVWebViewDelegate.h"

using nlohmann::json;
using Calls = std::vector<std::string>;
using Tags = std::vector<std::string>;

namespace {

using WebViewCommandsTest = PageCommandTest;

Tags newestTags(const MVWebView& webView) {
    return webView.pageHistory().empty() ? Tags{} : webView.pageHistory().back()->tags();
}

// A delegate that keeps the status-bar styles it is told.
class StyleRecordingDelegate : public RecordingMVWebViewDelegate {
  public:
    void webViewDidChangePreferredStatusBarStyle(
        MVWebView&, const std::shared_ptr<MVStatusBarStyle>& style) override {
        styles.push_back(style ? std::optional(style->string()) : std::nullopt);
    }
    std::vector<std::optional<std::string>> styles;
};

// A root controller that counts the status-bar questions.
class CountingRoot : public platform::ViewController {
  public:
    platform::StatusBarStyle preferredStatusBarStyle() const override {
        ++asked;
        return MVStatusBarStyle::statusBarStyleAppDefault()->preferredStatusbarStyle();
    }
    mutable int asked = 0;
};

TEST_F(WebViewCommandsTest, AddViewTagsMovesPresentTagsToTheEnd) {
    auto page = this->page();
    perform("2.0", {{"c", "setViewTags"}, {"p", {{"tags", {"b", "c"}}}}}, page);
    perform("2.0", {{"c", "addViewTags"}, {"p", {{"tags", {"a", "b"}}}}}, page);
    EXPECT_EQ(newestTags(*page), (Tags{"c", "a", "b"}));
    perform("3.0", {{"c", "removeViewTags"}, {"p", {{"tags", {"x"}}}}}, page);
    EXPECT_EQ(newestTags(*page), (Tags{"c", "a", "b"}));
    perform("2.1", {{"c", "removeViewTags"}, {"p", {{"tags", {"a", "c"}}}}}, page);
    EXPECT_EQ(newestTags(*page), Tags{"b"});
    EXPECT_TRUE(MVErrorLogger::reports().empty());
}

TEST_F(WebViewCommandsTest, TagsThatAreNoStringsNeverReachTheHistory) {
    auto page = this->page();
    const json mixed = {"a", 1, json::object({{"x", 1}}), true, json::array({"b"}), "b"};
    perform("2.0", {{"c", "setViewTags"}, {"p", {{"tags", mixed}}}}, page);
    EXPECT_EQ(newestTags(*page), (Tags{"a", "b"}));
    perform("2.0", {{"c", "addViewTags"}, {"p", {{"tags", {2, "c"}}}}}, page);
    EXPECT_EQ(newestTags(*page), (Tags{"a", "b", "c"}));

    installTabs();
    perform("2.0", {{"c", "popPagesWithTags"}, {"p", {{"tags", {"a", 3}}, {"targetTab", "t"}}}});
    EXPECT_EQ(tabs->stack("t")->calls, Calls{"popPagesWithTags([a],1)"});
}

TEST_F(WebViewCommandsTest, ManyTagsKeepTheirOrder) {
    auto page = this->page();
    auto names = [](int from, int to) {
        json tags = json::array();
        for (int i = from; i < to; ++i) tags.push_back("t" + std::to_string(i));
        return tags;
    };
    perform("2.0", {{"c", "setViewTags"}, {"p", {{"tags", names(0, 20000)}}}}, page);
    perform("2.0", {{"c", "addViewTags"}, {"p", {{"tags", names(10000, 30000)}}}}, page);
    const Tags tags = newestTags(*page);
    ASSERT_EQ(tags.size(), 30000u);
    EXPECT_EQ(tags[9999], "t9999");
    EXPECT_EQ(tags[10000], "t10000");
    EXPECT_EQ(tags.back(), "t29999");
    perform("2.0", {{"c", "removeViewTags"}, {"p", {{"tags", names(0, 29999)}}}}, page);
    EXPECT_EQ(newestTags(*page), Tags{"t29999"});
}

TEST_F(WebViewCommandsTest, TagCommandsFromTheServerReportTheirCallerCheck) {
    installTabs();
    const char* pageOnly = "can only be called from an MVWebview";
    const char* pageOrTarget = "without a target can only be called from an MVWebview";
    struct Case {
        const char* command;
        json parameters;
        const char* words;
    } cases[] = {
        {"setViewTags", {{"tags", {"a"}}}, pageOnly},
        {"addViewTags", {{"tags", {"a"}}}, pageOnly},
        {"removeViewTags", {{"tags", {"a"}}}, pageOnly},
        {"enablePullToRefresh", {{"enabled", 1}}, pageOnly},
        {"popToTag", {{"tag", "cart"}}, pageOrTarget},
        {"popPagesWithTags", {{"tags", {"a"}}, {"animated", 0}}, pageOrTarget},
    };
    for (const auto& c : cases) {
        MVErrorLogger::clearReports();
        perform("2.0", {{"c", c.command}, {"p", c.parameters}});
        const std::string text =
            std::string("MVCommandHandler(v2.0).") + c.command + "() " + c.words;
        EXPECT_EQ(loggedLevel(text), platform::log::kWarning) << c.command;
        auto reports = MVErrorLogger::reports();
        ASSERT_EQ(reports.size(), 1u) << c.command;
        EXPECT_EQ(reports[0].description, text);
        ASSERT_TRUE(reports[0].data);
        EXPECT_EQ(*reports[0].data, c.parameters);
    }
    EXPECT_TRUE(tabs->stacks.empty());
}

TEST_F(WebViewCommandsTest, TagNavigationReachesTheTargetOrThePagesTab) {
    auto page = pageInTab("home");
    perform("2.0", {{"c", "popToTag"}, {"p", {{"tag", "cart"}}}}, page);
    perform("3.0", {{"c", "popToTag"}, {"p", {{"tag", "cart"}, {"animated", 0}}}}, page);
    perform("2.1", {{"c", "popPagesWithTags"}, {"p", {{"tags", {"a", "b"}}, {"animated", 2}}}},
            page);
    perform("2.0", {{"c", "popPagesWithTags"},
                    {"p", {{"tags", {"x"}}, {"targetTab", "t"}, {"animated", 0}}}});
    EXPECT_EQ(tabs->stack("home")->calls,
              (Calls{"popToTag(cart,1)", "popToTag(cart,0)", "popPagesWithTags([a,b],1)"}));
    EXPECT_EQ(tabs->stack("t")->calls, Calls{"popPagesWithTags([x],0)"});
    // not a 1.1 command
    perform("1.1", {{"c", "popToTag"}, {"p", {{"tag", "cart"}}}}, page);
    EXPECT_EQ(tabs->stack("home")->calls.size(), 3u);
    EXPECT_TRUE(MVErrorLogger::reports().size() == 1u);  // the unknown command's
}

TEST_F(WebViewCommandsTest, OpenPage2_0PushesWithTagsNativeModeAndAnimation) {
    auto page = pageInTab("home");
    perform("2.0", {{"c", "openPage"}, {"p", {{"src", kOtherPage}, {"tags", {"cart", "x"}}}}},
            page);
    perform(
        "3.0",
        {{"c", "openPage"}, {"p", {{"src", kOtherPage}, {"emulateBrowser", 1}, {"animated", 0}}}},
        page);
    // 1.1 does not know tags
    perform("1.1", {{"c", "openPage"}, {"p", {{"src", kOtherPage}, {"tags", {"cart"}}}}}, page);

    auto stack = tabs->stack("home");
    ASSERT_EQ(stack->calls,
              (Calls{"pushViewController(1)", "pushViewController(0)", "pushViewController(1)"}));
    std::vector<std::shared_ptr<MVWebViewController>> pushed;
    for (const auto& controller : stack->pushed)
        pushed.push_back(std::dynamic_pointer_cast<MVWebViewController>(controller));
    ASSERT_TRUE(pushed[0] && pushed[1] && pushed[2]);
    EXPECT_TRUE(pushed[0]->nativeMode());
    EXPECT_FALSE(pushed[1]->nativeMode());
    EXPECT_TRUE(pushed[2]->nativeMode());
    for (const auto& controller : pushed) {
        EXPECT_EQ(controller->title(), "");
        EXPECT_EQ(controller->view()->bounds(), this->controller->view()->bounds());
    }
    EXPECT_EQ(newestTags(*pushed[0]->webViewFinal()), (Tags{"cart", "x"}));
    EXPECT_TRUE(newestTags(*pushed[1]->webViewFinal()).empty());
    EXPECT_TRUE(newestTags(*pushed[2]->webViewFinal()).empty());
    EXPECT_TRUE(MVErrorLogger::reports().empty());
}

TEST_F(WebViewCommandsTest, OpenPageWithATargetMakesThatTabsStack) {
    installTabs();
    perform("2.0", {{"c", "openPage"}, {"p", {{"src", kOtherPage}, {"targetTab", "new"}}}});
    perform("1.0", {{"c", "openPage"}, {"p", {{"src", kOtherPage}, {"targetTab", "new"}}}});
    EXPECT_EQ(tabs->stack("new")->calls, (Calls{"pushViewController(1)", "pushViewController(1)"}));
    EXPECT_TRUE(MVErrorLogger::reports().empty());
}

TEST_F(WebViewCommandsTest, OpenPageWithoutAStackReportsTheFiveKeys) {
    const json parameters = {{"src", kOtherPage}, {"title", "T"}, {"emulateBrowser", 0}};
    perform("1.1", {{"c", "openPage"}, {"p", parameters}});
    auto plain = page();
    perform("2.0", {{"c", "openPage"}, {"p", parameters}}, plain);
    // a target without a tab controller is reported too
    perform("1.1", {{"c", "openPage"}, {"p", {{"src", kOtherPage}, {"targetTab", "t"}}}});

    EXPECT_EQ(loggedLevel("MVCommandHandler(v1.1).openPage() could not find a tab for MVWebView"),
              platform::log::kWarning);
    EXPECT_TRUE(logged("MVCommandHandler(v2.0).openPage() could not find a tab for MVWebView" +
                       plain->debugName()));
    auto reports = MVErrorLogger::reports();
    ASSERT_EQ(reports.size(), 3u);
    const json expected[] = {
        {{"webview.currentUrl", ""},
         {"previewSrc", ""},
         {"title", "T"},
         {"emulateBrowser", 0},
         {"src", kOtherPage}},
        {{"webview.currentUrl", plain->currentUrl().value_or("")},
         {"previewSrc", ""},
         {"title", "T"},
         {"emulateBrowser", 0},
         {"src", kOtherPage}},
        {{"webview.currentUrl", ""},
         {"previewSrc", ""},
         {"title", ""},
         {"emulateBrowser", ""},
         {"src", kOtherPage}},
    };
    for (size_t i = 0; i < reports.size(); ++i) {
        EXPECT_EQ(reports[i].description, std::string("MVCommandHandler(v") +
                                              (i == 1 ? "2.0" : "1.1") +
                                              ").openPage() could not find a tab for MVWebView.");
        ASSERT_TRUE(reports[i].data);
        EXPECT_EQ(*reports[i].data, expected[i]) << i;
    }
    EXPECT_TRUE(controllerNotes.empty());
}

TEST_F(WebViewCommandsTest, StatusBarStyleFromTheServerSetsTheApplicationDefault) {
    auto root = std::make_shared<CountingRoot>();
    auto window = platform::Window::create(platform::Rect(0, 0, 320, 480));
    window->setRootViewController(root);
    window->makeKeyAndVisible();
    root->asked = 0;

    perform("1.1", {{"c", "setPreferredStatusBarStyle"}, {"p", {{"style", "light"}}}});
    EXPECT_EQ(MVStatusBarStyle::statusBarStyleAppDefault()->string(), "light");
    EXPECT_EQ(root->asked, 1);
    EXPECT_TRUE(
        logged("MVStatusBarStyle MVCommandHandler(v1.1).setPreferredStatusBarStyle() set "
               "as app defalut."));

    perform("3.0", {{"c", "setPreferredStatusBarStyle"}, {"p", {{"style", "blue"}}}});
    EXPECT_EQ(loggedLevel("MVStatusBarStyle: \"blue\" not supported as app default."),
              platform::log::kError);
    EXPECT_EQ(MVStatusBarStyle::statusBarStyleAppDefault()->string(), "light");
    EXPECT_EQ(root->asked, 1);
    EXPECT_TRUE(MVErrorLogger::reports().empty());
}

TEST_F(WebViewCommandsTest, StatusBarStyleFromAPageGoesToItsDelegate) {
    auto page = this->page();
    perform("2.0", {{"c", "setPreferredStatusBarStyle"}, {"p", {{"style", "light"}}}}, page);
    EXPECT_EQ(loggedLevel("MVCommandHandler(v2.0).setPreferredStatusBarStyle() the webview " +
                          page->debugName() + " does not have a delegate."),
              platform::log::kWarning);

    auto owner = std::make_shared<StyleRecordingDelegate>();
    page->setDelegate(owner);
    for (const char* style : {"light", "none", "dark", "blue", ""})
        perform("1.1", {{"c", "setPreferredStatusBarStyle"}, {"p", {{"style", style}}}}, page);
    EXPECT_EQ(owner->styles, (std::vector<std::optional<std::string>>{"light", "none", "dark",
                                                                      std::nullopt, std::nullopt}));
    EXPECT_EQ(MVStatusBarStyle::statusBarStyleAppDefault()->string(), "dark");
    EXPECT_TRUE(MVErrorLogger::reports().empty());
}

TEST_F(WebViewCommandsTest, EnablePullToRefreshRecordsThePreference) {
    auto page = this->page();
    auto owner = std::make_shared<RecordingMVWebViewDelegate>();
    page->setDelegate(owner);
    perform("2.0", {{"c", "enablePullToRefresh"}, {"p", {{"enabled", 0}}}}, page);
    EXPECT_FALSE(page->prefersPullToRefreshEnabled());
    perform("2.0", {{"c", "enablePullToRefresh"}, {"p", {{"enabled", 0.25}}}}, page);
    EXPECT_TRUE(page->prefersPullToRefreshEnabled());
    EXPECT_EQ(owner->pullToRefreshChanges, (std::vector<bool>{false, true}));
}

}  // namespace
