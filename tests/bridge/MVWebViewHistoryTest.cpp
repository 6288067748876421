// The page history: entries, tags, navigation-bar parameters, going back and reloading.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "tests/bridge/MVWebViewFixture.h"
#include "tests/support/FakeWebCache.h"

namespace {

constexpr const char* kOne = "mvtest://shop/one";
constexpr const char* kTwo = "mvtest://shop/two";
constexpr const char* kThree = "mvtest://shop/three";

class MVWebViewHistoryTest : public MVWebViewFixture {
  protected:
    void SetUp() override {
        MVWebViewFixture::SetUp();
        serveSite({kOne, kTwo, kThree});
    }

    size_t finishes() const {
        return static_cast<size_t>(std::count(notes->names.begin(), notes->names.end(), "finish"));
    }
    // Waits for the n-th page to have finished rendering.
    bool waitForFinishes(size_t n) {
        return settle([&] { return finishes() >= n && !webView->isLoading(); });
    }
    // Opens kOne, then follows links to the others as the page would.
    void browse(std::initializer_list<const char*> links) {
        webView->openUrl(kOne);
        ASSERT_TRUE(waitForFinishes(1));
        size_t n = 1;
        for (const char* link : links) {
            page().navigate(link);
            ASSERT_TRUE(waitForFinishes(++n)) << link;
        }
    }
    // The page moves within its document, as its pushState does.
    void pushState(const std::string& fragment) {
        page().navigate(std::string(kOne) + "#" + fragment);
        platform::runUntilIdle();
        webView->pageHistory().back()->setIsPushState(true);
    }
    size_t nativeLoads() const { return site->requests().size(); }
    std::vector<std::string> evaluated() {
        std::vector<std::string> scripts;
        for (const auto& s : page().scripts())
            if (s.rfind("history.go", 0) == 0) scripts.push_back(s);
        return scripts;
    }
};

TEST_F(MVWebViewHistoryTest, GoingBackShowsTheOlderPageWithoutAddingItAgain) {
    browse({kTwo, kThree});
    ASSERT_EQ(historyUrls(), (std::vector<std::string>{kOne, kTwo, kThree}));
    const size_t loads = nativeLoads();

    EXPECT_TRUE(webView->goBack());
    ASSERT_TRUE(waitForFinishes(4));
    EXPECT_EQ(historyUrls(), (std::vector<std::string>{kOne, kTwo}));
    EXPECT_EQ(site->requestCount(kTwo), 2u);
    EXPECT_EQ(nativeLoads(), loads + 1);

    EXPECT_TRUE(webView->goBack());
    ASSERT_TRUE(waitForFinishes(5));
    EXPECT_EQ(historyUrls(), (std::vector<std::string>{kOne}));
    EXPECT_FALSE(webView->canGoBack());
    EXPECT_FALSE(webView->goBack());
    EXPECT_EQ(owner->count("didModifyHistory"), 2u);
    EXPECT_TRUE(evaluated().empty());
}

TEST_F(MVWebViewHistoryTest, PushStateEntriesStepBackInsideThePage) {
    browse({});
    webView->pageHistory()[0]->setTags({"root"});
    pushState("a");
    webView->pageHistory().back()->setTags({"middle"});
    pushState("b");
    ASSERT_EQ(webView->historySize(), 3u);
    const size_t loads = nativeLoads();

    // A tag on the middle entry: one step back in the page.
    EXPECT_TRUE(webView->goBackToTag("middle"));
    EXPECT_EQ(evaluated(), (std::vector<std::string>{"history.go(-1)"}));
    EXPECT_EQ(webView->historySize(), 2u);

    EXPECT_TRUE(webView->goBack());
    EXPECT_EQ(evaluated(), (std::vector<std::string>{"history.go(-1)", "history.go(-1)"}));
    EXPECT_EQ(webView->historySize(), 1u);
    platform::runUntilIdle();
    EXPECT_EQ(nativeLoads(), loads);
    EXPECT_FALSE(webView->isLoading());
}

TEST_F(MVWebViewHistoryTest, GoingBackToATagOnAnOlderDocumentReloadsIt) {
    browse({kTwo, kThree});
    webView->pageHistory()[0]->setTags({"root"});
    webView->pageHistory()[2]->setTags({"newest"});

    // Only the newest entry carries the tag: nothing changes.
    EXPECT_FALSE(webView->goBackToTag("newest"));
    EXPECT_FALSE(webView->goBackToTag("unknown"));
    EXPECT_EQ(webView->historySize(), 3u);
    EXPECT_EQ(owner->count("didModifyHistory"), 0u);

    EXPECT_TRUE(webView->goBackToTag("root"));
    ASSERT_TRUE(waitForFinishes(4));
    EXPECT_EQ(historyUrls(), (std::vector<std::string>{kOne}));
    EXPECT_EQ(site->requestCount(kOne), 2u);
    EXPECT_TRUE(evaluated().empty());
    EXPECT_EQ(owner->count("didModifyHistory"), 1u);
}

TEST_F(MVWebViewHistoryTest, RemovingTaggedEntries) {
    browse({kTwo, kThree});
    webView->pageHistory()[0]->setTags({"a"});
    webView->pageHistory()[1]->setTags({"b"});
    const size_t loads = nativeLoads();

    // Only older entries go: nothing is shown again.
    EXPECT_TRUE(webView->removeHistoryEntriesForTags({"a", "b"}));
    EXPECT_EQ(historyUrls(), (std::vector<std::string>{kThree}));
    platform::runUntilIdle();
    EXPECT_EQ(nativeLoads(), loads);
    EXPECT_EQ(owner->count("didModifyHistory"), 1u);

    // Every entry goes: the web view is cleared.
    webView->setViewTags({"c"});
    EXPECT_FALSE(webView->removeHistoryEntriesForTag("c"));
    EXPECT_EQ(webView->historySize(), 0u);
    EXPECT_EQ(webView->loadedBaseURL(), std::nullopt);
    EXPECT_EQ(webView->currentUrl(), std::nullopt);
    EXPECT_EQ(owner->count("didModifyHistory"), 2u);
}

TEST_F(MVWebViewHistoryTest, RemovingTheNewestEntryShowsTheOneBefore) {
    browse({kTwo});
    webView->setViewTags({"gone"});
    EXPECT_TRUE(webView->removeHistoryEntriesForTag("gone"));
    ASSERT_TRUE(waitForFinishes(3));
    EXPECT_EQ(historyUrls(), (std::vector<std::string>{kOne}));
    EXPECT_EQ(site->requestCount(kOne), 2u);
}

TEST_F(MVWebViewHistoryTest, DiscardedPagesAreRemoved) {
    EXPECT_FALSE(webView->removeDiscardablePages());
    browse({kTwo, kThree});
    EXPECT_FALSE(webView->removeDiscardablePages());
    webView->pageHistory()[1]->setIsDiscardedFromHistory(true);
    EXPECT_TRUE(webView->removeDiscardablePages());
    EXPECT_EQ(historyUrls(), (std::vector<std::string>{kOne, kThree}));
    EXPECT_EQ(owner->count("didModifyHistory"), 0u);
    // A followed link removes them first.
    webView->pageHistory()[1]->setIsDiscardedFromHistory(true);
    page().navigate(kTwo);
    ASSERT_TRUE(waitForFinishes(4));
    EXPECT_EQ(historyUrls(), (std::vector<std::string>{kOne, kTwo}));
}

TEST_F(MVWebViewHistoryTest, AFragmentLinkAddsOneEntry) {
    browse({});
    const size_t loads = nativeLoads();
    // Within the document: an entry, nothing fetched.
    page().navigate(std::string(kOne) + "#top");
    platform::runUntilIdle();
    EXPECT_EQ(historyUrls(), (std::vector<std::string>{kOne, std::string(kOne) + "#top"}));
    EXPECT_EQ(nativeLoads(), loads);
    EXPECT_EQ(owner->count("didModifyHistory"), 1u);
    // Again to the same address: no second entry.
    page().navigate(std::string(kOne) + "#top");
    platform::runUntilIdle();
    EXPECT_EQ(webView->historySize(), 2u);

    // To another document: fetched, and one entry for it.
    const std::string other = std::string(kTwo) + "#part";
    site->serve(other, "text/html", "<p>two</p>");
    page().navigate(other);
    ASSERT_TRUE(waitForFinishes(2));
    EXPECT_EQ(historyUrls(), (std::vector<std::string>{kOne, std::string(kOne) + "#top", other}));
    EXPECT_EQ(webView->loadedBaseURL()->absoluteString(), kTwo);
}

TEST_F(MVWebViewHistoryTest, TheOwnerMayRefuseALink) {
    browse({});
    owner->linkRule = [](const platform::URLRequest&) { return false; };
    page().navigate(kTwo);
    platform::runUntilIdle();
    EXPECT_EQ(owner->askedLinks, (std::vector<std::string>{kTwo}));
    EXPECT_EQ(historyUrls(), (std::vector<std::string>{kOne}));
    EXPECT_EQ(site->requestCount(kTwo), 0u);
    EXPECT_FALSE(webView->isLoading());
}

TEST_F(MVWebViewHistoryTest, ALinkTappedWhileLoadingWaitsForTheRendering) {
    browse({});
    std::vector<size_t> twoRequestedAtRendering;
    owner->onFinishRendering = [&](MVWebView&) {
        twoRequestedAtRendering.push_back(site->requestCount(kTwo));
    };
    webView->openUrl(kThree);
    // A link on the new page, tapped once the platform view has it but before it renders
    // (a link of the page it replaces is refused).
    ASSERT_TRUE(platform::runUntil(
        [&] { return page().currentPage()->request.url().absoluteString() == kThree; }, kIO));
    page().navigate(kTwo);
    ASSERT_TRUE(waitForFinishes(2));
    ASSERT_TRUE(waitForFinishes(3));
    EXPECT_EQ(historyUrls(), (std::vector<std::string>{kThree, kTwo}));
    EXPECT_EQ(twoRequestedAtRendering, (std::vector<size_t>{0, 1}));
}

TEST_F(MVWebViewHistoryTest, AddingAndRemovingTags) {
    struct Row {
        std::vector<std::string> before, added, after;
    } rows[] = {
        {{"a", "b"}, {"b", "c"}, {"a", "b", "c"}},
        {{"b", "a"}, {"b"}, {"a", "b"}},
        {{}, {"x"}, {"x"}},
        {{"a"}, {}, {"a"}},
    };
    webView->loadHTMLString("<p/>", std::nullopt);
    for (const auto& row : rows) {
        webView->setViewTags(row.before);
        webView->addViewTags(row.added);
        EXPECT_EQ(webView->pageHistory().back()->tags(), row.after);
    }
    webView->setViewTags({"a", "b", "c"});
    webView->removeViewTags({"b", "z"});
    EXPECT_EQ(webView->pageHistory().back()->tags(), (std::vector<std::string>{"a", "c"}));
    EXPECT_TRUE(webView->containsTag("c"));
    EXPECT_FALSE(webView->containsTag("b"));
}

TEST_F(MVWebViewHistoryTest, NavigationBarParametersNotifyOnChangeOnly) {
    webView->loadHTMLString("<p/>", std::nullopt);
    auto params = [](int n) {
        return std::make_shared<const nlohmann::json>(nlohmann::json{{"n", n}});
    };
    webView->setNavigationBarParams(params(1), "One");
    webView->setNavigationBarParams(params(1), "One");
    EXPECT_EQ(owner->count("didChangeNavigationBarParams"), 1u);
    webView->setNavigationBarParams(params(1), "Other");
    webView->setNavigationBarParams(params(2), "Other");
    ASSERT_EQ(owner->navigationBarChanges.size(), 3u);
    const auto& last = owner->navigationBarChanges.back();
    EXPECT_EQ(last.fromParams, R"({"n":1})");
    EXPECT_EQ(last.toParams, R"({"n":2})");
    EXPECT_EQ(last.fromTitle, "Other");
    EXPECT_EQ(webView->navigationBarTitle(), "Other");
    EXPECT_EQ((*webView->navigationBarParameters())["n"], 2);
}

TEST_F(MVWebViewHistoryTest, GoingBackRestoresTheOlderNavigationBar) {
    browse({kTwo, kThree});
    auto params = [](int n) {
        return std::make_shared<const nlohmann::json>(nlohmann::json{{"n", n}});
    };
    webView->pageHistory()[0]->setNavigationParams(params(0));
    webView->pageHistory()[0]->setNavigationTitle("Zero");
    webView->pageHistory()[2]->setNavigationParams(params(2));

    // The newest entry set its own: going back makes the oldest's effective again.
    ASSERT_TRUE(webView->goBack());
    ASSERT_EQ(owner->navigationBarChanges.size(), 1u);
    EXPECT_EQ(owner->navigationBarChanges[0].fromParams, R"({"n":2})");
    EXPECT_EQ(owner->navigationBarChanges[0].toParams, R"({"n":0})");
    EXPECT_EQ(owner->navigationBarChanges[0].toTitle, "Zero");
    ASSERT_TRUE(waitForFinishes(4));
    // The entry in between has none: going back changes nothing in effect.
    ASSERT_TRUE(webView->goBack());
    EXPECT_EQ(owner->navigationBarChanges.size(), 1u);
    ASSERT_TRUE(waitForFinishes(5));
}

TEST_F(MVWebViewHistoryTest, PullToRefreshPreference) {
    EXPECT_FALSE(webView->prefersPullToRefreshEnabled());
    webView->loadHTMLString("<p/>", std::nullopt);
    EXPECT_TRUE(webView->prefersPullToRefreshEnabled());
    webView->setPrefersPullToRefreshEnabled(true);
    webView->setPrefersPullToRefreshEnabled(false);
    webView->setPrefersPullToRefreshEnabled(false);
    EXPECT_EQ(owner->pullToRefreshChanges, (std::vector<bool>{false}));
    // A reload marks the page as preferring it again, without telling.
    webView->reloadWithClearingChache(false);
    EXPECT_TRUE(webView->prefersPullToRefreshEnabled());
    EXPECT_EQ(owner->pullToRefreshChanges.size(), 1u);
    platform::runUntilIdle();
}

TEST_F(MVWebViewHistoryTest, CurrentUrlAndItsSecurity) {
    struct Row {
        std::function<void(MVWebView&)> open;
        const char* url;
        bool secure;
    } rows[] = {
        {[](MVWebView& w) { w.openUrl("mvapi:home"); }, "mvapi:home", true},
        {[](MVWebView& w) { w.openUrl("HTTPS://shop.example/a"); }, "HTTPS://shop.example/a", true},
        {[](MVWebView& w) { w.openUrl("https://shop.example/a"); }, "https://shop.example/a", true},
        {[](MVWebView& w) { w.openUrl("http://shop.example/a"); }, "http://shop.example/a", false},
        {[](MVWebView& w) { w.loadHTMLString("<p/>", platform::URL::parse("https://x.example/")); },
         "https://x.example/", true},
    };
    EXPECT_EQ(webView->currentUrl(), std::nullopt);
    EXPECT_FALSE(webView->currentUrlIsSecure());
    for (const auto& row : rows) {
        row.open(*webView);
        EXPECT_EQ(webView->currentUrl(), row.url);
        EXPECT_EQ(webView->currentUrlIsSecure(), row.secure) << row.url;
        EXPECT_TRUE(webView->currentUrlIsTrusted());
        webView->cancelCurrentRequest();
    }
    webView->loadHTMLString("<p/>", std::nullopt);
    EXPECT_EQ(webView->currentUrl(), std::nullopt);
    EXPECT_FALSE(webView->currentUrlIsSecure());
}

TEST_F(MVWebViewHistoryTest, ReloadingClearsTheCacheEntryAndLoadsAgain) {
    auto cache = FakeWebCache::install();
    cache->setPage("mv-api-page:home", "<p>home</p>", "https://shop.example/home");

    webView->openUrl("mvapi:home");
    platform::advanceBy(0.1);
    webView->reload();
    platform::advanceBy(0.1);
    EXPECT_EQ(cache->clearedKeys, (std::vector<std::string>{"mv-api-page:home"}));
    EXPECT_EQ(cache->lookups, (std::vector<std::string>{"mv-api-page:home", "mv-api-page:home"}));
    EXPECT_EQ(historyUrls(), (std::vector<std::string>{"mvapi:home"}));

    webView->reloadWithClearingChache(false);
    platform::advanceBy(0.1);
    EXPECT_EQ(cache->clearedKeys.size(), 1u);
    EXPECT_EQ(cache->lookups.size(), 3u);

    webView->openUrl(kTwo);
    ASSERT_TRUE(waitForFinishes(4));
    webView->pageHistory().back()->setDocumentUrl(kThree);
    webView->reload();
    ASSERT_TRUE(waitForFinishes(5));
    EXPECT_EQ(cache->clearedKeys.back(), kThree);
    EXPECT_EQ(site->requestCount(kThree), 1u);

    webView->loadHTMLString("<p>html</p>", std::nullopt);
    platform::advanceBy(0.1);
    const size_t cleared = cache->clearedKeys.size();
    webView->reload();
    platform::advanceBy(0.1);
    EXPECT_EQ(cache->clearedKeys.size(), cleared);
    EXPECT_EQ(page().loads().back().content, "<p>html</p>");
    EXPECT_EQ(webView->historySize(), 1u);
}

}  // namespace
