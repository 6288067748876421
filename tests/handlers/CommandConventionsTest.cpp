// The conventions every command follows: error reports, caller checks and nested
// command lists.
#include <gtest/gtest.h>

#include "libmerovane/handlers/MVCommandConventions.h"
#include "libmerovane/handlers/MVNestedCommandList.h"
#include "platform/foundation/RunLoop.h"
#include "tests/handlers/CommandTest.h"

using nlohmann::json;
using Check = MVCommandConventions::CallerCheck;

namespace {

class CommandConventionsTest : public CommandTest {
  protected:
    void SetUp() override {
        CommandTest::SetUp();
        page();
    }
};

TEST_F(CommandConventionsTest, CallerChecksReportWithTheirFamilyTexts) {
    auto handler = MVCommandHandler::sharedHandlerForVersion(11);
    const json parameters = {{"src", "x"}};
    const std::string url = webView->currentUrl().value_or("");
    const MVCommandErrorTexts variant{"{} wrong caller <params:{}>", "{} wrong caller."};
    struct Case {
        Check check;
        bool fromPage;
        const MVCommandErrorTexts* variant;
        std::string warning;
        std::string report;
        int level;
        json data;
    } cases[] = {
        {Check::PageOnly, false, nullptr, "P can only be called from MVWebviews",
         "P can only be called from MVWebviews.", platform::log::kWarning, parameters},
        {Check::PageOnlyTagged, false, nullptr, "P can only be called from an MVWebview",
         "P can only be called from an MVWebview", platform::log::kWarning, parameters},
        {Check::PageOnlyScanner, false, nullptr, "P has to be sent from a web view.",
         "P has to be sent from a web view.", platform::log::kError, parameters},
        {Check::ServerOnly, true, nullptr, "P can't be called from a web view.",
         "P can't be called from a web view.", platform::log::kWarning, url},
        {Check::PageOrTarget, false, nullptr,
         "P without a target can only be called from an MVWebview",
         "P without a target can only be called from an MVWebview", platform::log::kWarning,
         parameters},
        // a command's own variant, with the parameters in its warning
        {Check::PageOnly, false, &variant, R"(P wrong caller <params:{"src":"x"}>)",
         "P wrong caller.", platform::log::kWarning, parameters},
    };
    const std::string prefix = "MVCommandHandler(v1.1).closeView()";
    auto withPrefix = [&](const std::string& text) { return prefix + text.substr(1); };
    for (const auto& c : cases) {
        MVErrorLogger::clearReports();
        EXPECT_FALSE(MVCommandConventions::checkCaller(*handler, "closeView", c.check, &parameters,
                                                       c.fromPage ? webView : nullptr, c.variant));
        EXPECT_EQ(loggedLevel(withPrefix(c.warning)), c.level) << c.warning;
        auto reports = MVErrorLogger::reports();
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].description, withPrefix(c.report));
        EXPECT_EQ(*reports[0].data, c.data) << c.report;
        // the other kind of caller passes silently
        EXPECT_TRUE(MVCommandConventions::checkCaller(*handler, "closeView", c.check, &parameters,
                                                      c.fromPage ? nullptr : webView));
    }
    const json target = {{"targetTab", "t"}};
    EXPECT_TRUE(MVCommandConventions::checkCaller(*handler, "cleanTab", Check::PageOrTarget,
                                                  &target, nullptr));
    EXPECT_EQ(MVErrorLogger::reports().size(), 1u);
}

TEST_F(CommandConventionsTest, ANestedListRunsWithTheOuterVersion) {
    MVNestedCommandList::asCollection(*MVCommandHandler::sharedHandlerForVersion(11),
                                      json::array({{{"c", "onlyIn2"}}, {{"c", "echo"}}}), nullptr)
        .perform();
    MVNestedCommandList::asCollection(*MVCommandHandler::sharedHandlerForVersion(30),
                                      json::array({{{"c", "onlyIn2"}}}), webView)
        .perform();
    MVNestedCommandList::onHandler(*MVCommandHandler::sharedHandlerForVersion(21),
                                   json::array({{{"c", "echo"}}}))
        .perform();
    EXPECT_TRUE(logged("MVCommandHandler(v1.1) unknown command: onlyIn2"));
    ASSERT_EQ(performedCommands().size(), 3u);
    EXPECT_EQ(performedCommands()[0].version, "1.1");
    EXPECT_EQ(performedCommands()[1].version, "3.0");
    EXPECT_EQ(performedCommands()[1].webView, webView.get());
    EXPECT_EQ(performedCommands()[2].version, "2.1");
    EXPECT_EQ(performedCommands()[2].webView, nullptr);
}

TEST_F(CommandConventionsTest, ALaterListKeepsItsWebViewAlive) {
    auto list = MVNestedCommandList::asCollection(*MVCommandHandler::sharedHandlerForVersion(20),
                                                  json::array({{{"c", "echo"}}}), webView);
    platform::RunLoop::main()
        .postAfter(1.0, [list = std::move(list)]() mutable { std::move(list).perform(); })
        .detach();
    list = MVNestedCommandList::onHandler(*MVCommandHandler::sharedHandlerForVersion(20), {});
    const MVWebView* sent = webView.get();
    std::weak_ptr<MVWebView> weak = webView;
    webView.reset();  // the page's owner lets go
    ASSERT_FALSE(weak.expired());
    platform::advanceBy(1.0);
    ASSERT_EQ(performedCommands().size(), 1u);
    EXPECT_EQ(performedCommands()[0].webView, sent);
    EXPECT_TRUE(weak.expired());  // released with the run task
}

}  // namespace
