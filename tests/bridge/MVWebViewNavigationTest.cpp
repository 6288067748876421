// The navigation decision as far as documents, history and native loading go.
#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>

#include "libmerovane/bridge/MVWebViewAdapter.h"
#include "libmerovane/core/StringExtensions.h"
#include "platform/ui/Application.h"
#include "platform/web/WebEngine.h"
#include "tests/bridge/MVWebViewFixture.h"

namespace {

constexpr const char* kPage = "mvtest://shop/page";
constexpr const char* kOtherPage = "mvtest://shop/other";

class MVWebViewNavigationTest : public MVWebViewFixture {
  protected:
    void SetUp() override {
        MVWebViewFixture::SetUp();
        serveSite({kPage, kOtherPage});
    }
    void openPage() {
        webView->openUrl(kPage);
        ASSERT_TRUE(waitUntilLoaded());
    }
};

TEST_F(MVWebViewNavigationTest, WithoutADocumentThePlatformViewLoads) {
    webView->loadHTMLString("<p/>", std::nullopt);
    platform::runUntilIdle();
    ASSERT_EQ(webView->loadedBaseURL(), std::nullopt);
    page().setFinishesLoadsAutomatically(false);
    page().navigate("https://elsewhere.example/#x");
    platform::runUntilIdle();
    EXPECT_TRUE(lastDecision());
    // An HTML page gets no fragment entry.
    EXPECT_EQ(webView->historySize(), 1u);
}

TEST_F(MVWebViewNavigationTest, PrivateSchemesAreNeverLoadedByThePlatformView) {
    openPage();
    for (const char* url : {"mvcmd:%7B%7D", "MVCMD:%7B%7D", "mvapi:home", "MvApi:home"}) {
        page().navigate(url);
        platform::runUntilIdle();
        EXPECT_FALSE(lastDecision()) << url;
    }
    EXPECT_EQ(historyUrls(), (std::vector<std::string>{kPage}));
    EXPECT_FALSE(webView->isLoading());
}

TEST_F(MVWebViewNavigationTest, TelephoneAndMailLinks) {
    openPage();
    page().setFinishesLoadsAutomatically(false);
    page().navigate("tel:+4930123");
    platform::runUntilIdle();
    EXPECT_TRUE(lastDecision());

    // A mail link that no application takes is swallowed.
    page().navigate("mailto:shop@example.com");
    platform::runUntilIdle();
    EXPECT_FALSE(lastDecision());
    EXPECT_TRUE(platform::Application::shared().openedURLsForTesting().empty());

    std::vector<std::string> mailed;
    platform::Application::shared().registerURLSchemeForTesting(
        "mailto", [&](const platform::URL& url) { mailed.push_back(url.absoluteString()); });
    page().navigate("mailto:shop@example.com");
    platform::runUntilIdle();
    EXPECT_FALSE(lastDecision());
    EXPECT_EQ(mailed, (std::vector<std::string>{"mailto:shop@example.com"}));
    EXPECT_EQ(historyUrls(), (std::vector<std::string>{kPage}));
}

TEST_F(MVWebViewNavigationTest, ANavigationOfAPageThatANewerLoadReplacesIsRefused) {
    serveSite({kPage, "mvtest://shop/a", "mvtest://shop/b"});
    openPage();
    page().navigate("mvtest://shop/a");  // decided on a later turn
    webView->openUrl("mvtest://shop/b");
    ASSERT_TRUE(waitUntilLoaded());
    platform::advanceBy(1.0);  // what waits for the end of the load runs
    EXPECT_FALSE(webView->isLoading());
    EXPECT_EQ(historyUrls(), (std::vector<std::string>{"mvtest://shop/b"}));
    EXPECT_EQ(page().currentPage()->request.url().absoluteString(), "mvtest://shop/b");
    EXPECT_EQ(site->requestCount("mvtest://shop/a"), 0u);
    EXPECT_TRUE(
        logged("MVWebView<1000> refused a navigation of a page that a newer load "
               "replaces: <mvtest://shop/a>"));
}

TEST_F(MVWebViewNavigationTest, APostToTheLoadedDocumentIsANewDocument) {
    openPage();
    platform::URLRequest post(*platform::URL::parse(kPage));
    post.setHTTPMethod("POST");
    post.setHTTPBody("q=1");
    page().navigate(post, platform::NavigationType::FormSubmitted);
    ASSERT_TRUE(platform::runUntil([&] { return site->requestCount(kPage) == 2; }, kIO));
    ASSERT_TRUE(waitUntilLoaded());
    EXPECT_FALSE(page().decisions().at(1).allowed);
    EXPECT_EQ(site->requests().back().httpMethod(), "POST");
    EXPECT_EQ(historyUrls(), (std::vector<std::string>{kPage, kPage}));
    // the owner hears of the link with the engine's own navigation type
    EXPECT_EQ(owner->askedLinkTypes,
              (std::vector<platform::NavigationType>{platform::NavigationType::FormSubmitted}));
}

TEST_F(MVWebViewNavigationTest, FramesOfThePageLoadThemselves) {
    openPage();
    platform::URLRequest frame(*platform::URL::parse("https://ads.example/frame"));
    frame.setMainDocumentURL(platform::URL::parse(kPage));
    EXPECT_EQ(webView->webViewShouldStartLoadWithRequest(*webView->webView(), frame,
                                                         platform::NavigationType::Other),
              true);
    EXPECT_EQ(webView->historySize(), 1u);
}

TEST_F(MVWebViewNavigationTest, GarbageWebViewsStillDecide) {
    openPage();
    webView->setIsGarbage(true);
    page().navigate(std::string(kPage) + "#x");
    platform::runUntilIdle();
    EXPECT_TRUE(lastDecision());
    EXPECT_TRUE(logged("MVWebView<1000> doesn't start loading request , since it is garbage: <" +
                       std::string(kPage) + "#x>."));
}

// Only the page itself commands: a frame's page commands are refused, said once per frame
// document of the shown page, and never count in the page's own numbering.
struct FrameCommandRow {
    const char* name;
    // Who sends, in order: "t" the page itself, a digit a frame document of that
    // number, "-" a frame the engine does not name, "r" another page loaded.
    const char* senders;
    size_t warnings;
    size_t refusals;
};

void PrintTo(const FrameCommandRow& row, std::ostream* out) {
    *out << row.name;
}

const FrameCommandRow kFrameCommandRows[] = {
    {"OneFrame", "111", 0, 1},
    {"TwoFramesInterleaved", "12121", 0, 2},
    {"ThePageBetweenFrames", "1t1t2", 0, 2},
    {"AFrameBeforeThePage", "11tt", 0, 1},
    {"AFrameTheEngineDoesNotName", "-t-t", 0, 1},
    {"TheSameDocumentAfterALoad", "11r1", 0, 2},
    // A real loss still warns: the page skips a number.
    {"ThePageSkipsANumber", "1tT", 1, 1},
};

class MVWebViewFrameCommandTest : public MVWebViewNavigationTest,
                                  public testing::WithParamInterface<FrameCommandRow> {};

TEST_P(MVWebViewFrameCommandTest, AreRefusedOncePerDocument) {
    const FrameCommandRow& row = GetParam();
    openPage();
    std::map<char, int64_t> next;
    for (const char* sender = row.senders; *sender; ++sender) {
        const char who = *sender;
        if (who == 'r') {
            next.clear();
            webView->openUrl(kOtherPage);
            ASSERT_TRUE(waitUntilLoaded());
            continue;
        }
        // "T" numbers as the page would after one it never sent.
        const char counter = who == 'T' ? 't' : who;
        if (who == 'T') ++next['t'];
        const int64_t serial = next[counter]++;
        const std::string address =
            "mvcmd:" + urlEncodedString(nlohmann::json{
                           {"ver", "2.0"}, {"cmds", {{{"c", "testNothing"}, {"s", serial}}}}}
                                            .dump());
        platform::URLRequest request(*platform::URL::parse(address));
        if (counter != 't') {
            request.setMainDocumentURL(platform::URL::parse(kPage));
            if (who != '-')
                request.setProperty(platform::kFrameDocumentProperty, int64_t{who - '0'});
        }
        EXPECT_EQ(webView->webViewShouldStartLoadWithRequest(*webView->webView(), request,
                                                             platform::NavigationType::Other),
                  false);
    }
    EXPECT_EQ(loggedCount("lost commands"), row.warnings);
    EXPECT_EQ(loggedCount("refused the commands of a frame"), row.refusals);
}

INSTANTIATE_TEST_SUITE_P(Senders, MVWebViewFrameCommandTest, testing::ValuesIn(kFrameCommandRows),
                         [](const testing::TestParamInfo<FrameCommandRow>& info) {
                             return std::string(info.param.name);
                         });

// A page command leaves nothing behind once performed, however its address is written: a
// "#" inside a collection the page did not encode is part of the command, not a place
// in the page's history.
struct CommandTraceRow {
    const char* name;
    // The collection's parameters; the page writes them raw or URL-encoded.
    const char* parameters;
    bool encoded;
};

void PrintTo(const CommandTraceRow& row, std::ostream* out) {
    *out << row.name;
}

const CommandTraceRow kCommandTraceRows[] = {
    {"EncodedAsTheLibraryDoes", R"({"width":320})", true},
    {"EncodedWithAHash", R"({"color":"#fff"})", true},
    {"RawWithAHash", R"({"color":"#fff"})", false},
    {"RawWithTwoHashes", R"({"a":"#1","b":"x#2"})", false},
    {"RawEndingInAHash", R"({"a":"#"})", false},
};

class MVWebViewCommandTraceTest : public MVWebViewNavigationTest,
                                  public testing::WithParamInterface<CommandTraceRow> {};

TEST_P(MVWebViewCommandTraceTest, ACommandLeavesNothingBehind) {
    const CommandTraceRow& row = GetParam();
    constexpr int64_t kCommands = 10000;
    openPage();
    const auto historyBefore = historyUrls();
    for (int64_t serial = 0; serial < kCommands; ++serial) {
        const std::string collection = R"({"ver":"2.0","cmds":[{"c":"testNothing","p":)" +
                                       std::string(row.parameters) +
                                       ",\"s\":" + std::to_string(serial) + "}]}";
        // Written raw, its first "#" reaches the web view as the engine reads it: a fragment
        // (the engine escapes any later one).
        std::string address = urlEncodedString(collection);
        if (const size_t at = address.find("%23"); !row.encoded && at != std::string::npos)
            address.replace(at, 3, "#");
        page().navigate("mvcmd:" + address, platform::NavigationType::Other);
        if (serial % 100 == 99) platform::runUntilIdle();
    }
    platform::runUntilIdle();
    // Every command was taken, in order, and the page's history is what it was.
    EXPECT_EQ(webView->lastCommandSerial(), kCommands);
    EXPECT_FALSE(logged("lost commands"));
    EXPECT_EQ(historyUrls(), historyBefore);
    EXPECT_EQ(webView->historySize(), 1u);
    EXPECT_FALSE(webView->isLoading());
}

INSTANTIATE_TEST_SUITE_P(Addresses, MVWebViewCommandTraceTest, testing::ValuesIn(kCommandTraceRows),
                         [](const testing::TestParamInfo<CommandTraceRow>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
