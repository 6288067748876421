// The headless stand-in for the sample shop's pages: what it answers for the library's
// ready poll, and the load commands it sends once per page.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/HeadlessShopPage.h"
#include "libmerovane/bridge/MVDocumentReadyPoll.h"
#include "platform/foundation/TestDriver.h"
#include "platform/web/HeadlessWebEngine.h"
#include "tests/support/PlatformTest.h"

namespace {

class HeadlessShopPageTest : public PlatformTest {
  protected:
    // The ready poll's answer after the page is loaded.
    std::string load(const std::string& html) {
        engine_.loadHTMLString(html, std::nullopt);
        platform::runUntilIdle();
        const std::string answer =
            engine_.stringByEvaluatingJavaScript(MVDocumentReadyPoll::documentReadyScript());
        platform::runUntilIdle();
        return answer;
    }
    std::vector<std::string> navigations() const {
        std::vector<std::string> found;
        for (const auto& line : engine_.transcript())
            if (line.rfind("navigate ", 0) == 0) found.push_back(line);
        return found;
    }

    platform::HeadlessWebEngine engine_;
};

constexpr const char* kPage =
    "<script id=\"libmerovane\" src=\"libmerovane.js\"></script>"
    "<script type=\"application/json\" id=\"mv-load-commands\">"
    "{\"ver\":\"2.0\",\"cmds\":[{\"c\":\"onload\"},{\"c\":\"echo\",\"s\":7},"
    "{\"c\":\"sendDataRequest\"}]}</script>";

TEST_F(HeadlessShopPageTest, APageWithTheLibrarySendsItsLoadCommandsOnce) {
    HeadlessShopPage::attach(engine_);
    const auto state = MVDocumentReadyPoll::PageState::parse(load(kPage));
    EXPECT_EQ(state.librarySource, "libmerovane.js");
    EXPECT_EQ(state.libraryReady, "true");
    EXPECT_EQ(state.readyState, "complete");
    engine_.stringByEvaluatingJavaScript(MVDocumentReadyPoll::documentReadyScript());
    platform::runUntilIdle();
    // One navigation; commands without a serial are numbered from 0, as the page
    // library does.
    ASSERT_EQ(navigations().size(), 1u);
    for (const char* command :
         {"onload%22%2C%22s%22%3A0", "echo%22%2C%22s%22%3A7", "sendDataRequest%22%2C%22s%22%3A1"})
        EXPECT_NE(navigations()[0].find(command), std::string::npos) << navigations()[0];

    load(kPage);  // a new page sends again
    EXPECT_EQ(navigations().size(), 2u);
}

TEST_F(HeadlessShopPageTest, PagesWithoutTheLibraryOrWithUnreadableCommandsSendNothing) {
    HeadlessShopPage::attach(engine_);
    const auto plain = MVDocumentReadyPoll::PageState::parse(load("<p>no library</p>"));
    EXPECT_EQ(plain.librarySource, "");
    EXPECT_EQ(plain.readyState, "complete");
    for (const char* block :
         {"{\"ver\":", "[1,2]",
          "{\"cmds\":[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[["
          "[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[]}"})
        load(std::string("<script id=\"libmerovane\"></script><script id=\"mv-load-commands\">") +
             block + "</script>");
    load("<script id=\"libmerovane\"></script><script id=\"mv-load-commands\">{}");  // no end
    EXPECT_TRUE(navigations().empty());
    EXPECT_TRUE(logged("HeadlessShopPage: the page's load commands do not read"));
}

}  // namespace
