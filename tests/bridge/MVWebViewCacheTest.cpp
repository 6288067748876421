// The pool of preloaded web views on the headless engine: pages served under the
// "mvtest" scheme, every web view answering like a finished page.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/bridge/MVWebViewCache.h"
#include "libmerovane/core/MVSplashScreenInterface.h"
#include "platform/foundation/Clock.h"
#include "platform/ui/Application.h"
#include "platform/ui/View.h"
#include "platform/ui/Window.h"
#include "tests/support/PageModelsForAllWebViews.h"
#include "tests/support/PlatformTest.h"
#include "tests/support/PollingWait.h"
#include "tests/support/ServingURLProtocol.h"

namespace {

constexpr const char* kTemplate = "mvtest://pages/template";
constexpr const char* kOther = "mvtest://pages/other";

class MVWebViewCacheTest : public PlatformTest {
  protected:
    void SetUp() override {
        PlatformTest::SetUp();
        site = std::make_unique<ServingURLProtocol>("mvtest");
        site->serve(kTemplate, "text/html", "<p>template</p>");
        site->serve(kOther, "text/html", "<p>other</p>");
        models = std::make_unique<PageModelsForAllWebViews>();
    }
    void TearDown() override {
        models.reset();
        platform::runUntilIdle();
        PlatformTest::TearDown();
        site.reset();
    }

    MVWebViewCache& pool() { return MVWebViewCache::sharedCache(); }
    bool settled() {
        return runUntilPolled([&] { return models->allLoaded(); }, 10.0);
    }
    // The replacement the pool started last.
    std::shared_ptr<MVWebView> lastStarted() {
        return models->webViews.empty() ? nullptr : models->webViews.back();
    }
    static void postMemoryWarning() {
        platform::NotificationCenter::defaultCenter().post(
            platform::kApplicationDidReceiveMemoryWarningNotification);
    }

    std::unique_ptr<ServingURLProtocol> site;
    // Keeps every web view the pool made, replacements too.
    std::unique_ptr<PageModelsForAllWebViews> models;
};

TEST_F(MVWebViewCacheTest, ANewUrlIsPooledLoadedAndHandedOutUntilItsReplacementRendered) {
    auto first = pool().cachedWebViewForUrl(kTemplate);
    EXPECT_TRUE(logged("MVWebViewCache caching MVWebView<"));
    EXPECT_TRUE(logged(":WebViewCache> [mvtest://pages/template]"));
    EXPECT_EQ(first->frame(), platform::Rect(0, 0, 320, 480));
    EXPECT_EQ(first->delegate(), nullptr);
    ASSERT_TRUE(settled());
    EXPECT_EQ(first->currentUrl(), kTemplate);
    // The pooled web view's own finish is no replacement's.
    EXPECT_EQ(pool().cachedWebViewForUrl(kTemplate), first);

    pool().renewWebViewForUrl(kTemplate);
    pool().renewWebViewForUrl(kTemplate);
    EXPECT_EQ(loggedCount("MVWebViewCache renewing MVWebView"), 1u);
    EXPECT_EQ(pool().renewingUrls(), std::vector<std::string>{kTemplate});
    auto replacement = lastStarted();
    EXPECT_EQ(pool().cachedWebViewForUrl(kTemplate), first);

    ASSERT_TRUE(settled());
    EXPECT_TRUE(pool().renewingUrls().empty());
    EXPECT_EQ(pool().cachedWebViewForUrl(kTemplate), replacement);
    EXPECT_NE(replacement, first);
    EXPECT_EQ(models->webViews.size(), 2u);
}

TEST_F(MVWebViewCacheTest, ACancelledReplacementIsDroppedAndThePooledWebViewStays) {
    auto first = pool().cachedWebViewForUrl(kTemplate);
    ASSERT_TRUE(settled());
    pool().renewWebViewForUrl(kTemplate);
    auto replacement = lastStarted();
    ASSERT_NE(replacement, first);
    replacement->cancelCurrentRequest();
    EXPECT_TRUE(pool().renewingUrls().empty());
    ASSERT_TRUE(settled());
    EXPECT_EQ(pool().cachedWebViewForUrl(kTemplate), first);
    // A new renewal may start again.
    pool().renewWebViewForUrl(kTemplate);
    EXPECT_EQ(pool().renewingUrls(), std::vector<std::string>{kTemplate});
}

TEST_F(MVWebViewCacheTest, RemovingDropsOnlyAPooledWebView) {
    auto first = pool().cachedWebViewForUrl(kTemplate);
    auto other = pool().cachedWebViewForUrl(kOther);
    auto stranger = MVWebView::create();
    pool().removeWebView(*stranger);
    EXPECT_EQ(pool().pooledUrls().size(), 2u);
    pool().removeWebView(*first);
    EXPECT_TRUE(logged("MVWebViewCache removes MVWebView"));
    EXPECT_EQ(pool().pooledUrls(), std::vector<std::string>{kOther});
    EXPECT_NE(pool().cachedWebViewForUrl(kTemplate), first);
    ASSERT_TRUE(settled());
}

TEST_F(MVWebViewCacheTest, TwoMemoryWarningsAtMostTenSecondsApartEmptyThePool) {
    struct Case {
        double apart;
        bool emptied;
    };
    for (const Case& c : {Case{9.0, true}, Case{10.0, true}, Case{11.0, false}}) {
        SCOPED_TRACE(c.apart);
        pool().cachedWebViewForUrl(kTemplate);
        postMemoryWarning();
        EXPECT_EQ(pool().pooledUrls().size(), 1u);
        platform::advanceBy(c.apart);
        postMemoryWarning();
        EXPECT_EQ(pool().pooledUrls().empty(), c.emptied);
        // The next case starts without a recent warning.
        platform::advanceBy(60.0);
    }
    ASSERT_TRUE(settled());
}

TEST_F(MVWebViewCacheTest, TheBootCommandEmptiesThePoolAndALaterReplacementFinishChangesNothing) {
    pool().cachedWebViewForUrl(kTemplate);
    ASSERT_TRUE(settled());
    pool().renewWebViewForUrl(kTemplate);
    auto replacement = lastStarted();
    ASSERT_TRUE(replacement->isLoading());
    platform::NotificationCenter::defaultCenter().post(MVLibraryApplicationReceivedBootAppCommand);
    EXPECT_TRUE(pool().pooledUrls().empty());
    EXPECT_TRUE(pool().renewingUrls().empty());
    ASSERT_TRUE(settled());
    EXPECT_TRUE(pool().pooledUrls().empty());
    EXPECT_TRUE(pool().renewingUrls().empty());
}

TEST_F(MVWebViewCacheTest, ALoadEndWithoutAnActionIsLogged) {
    pool().notificationReceived(platform::Notification{"SomethingElse", nullptr, {}, {}});
    EXPECT_TRUE(logged("MVWebViewCache no action for \"SomethingElse\""));
    // A load end whose object is no web view changes nothing.
    pool().notificationReceived(
        platform::Notification{MVWebViewDidFinishLoadingNotification, nullptr, 42, {}});
    EXPECT_TRUE(pool().pooledUrls().empty());
}

// Pages choose the URLs to preload: the pool keeps the ones asked for most recently.
TEST_F(MVWebViewCacheTest, APageOfManyUrlsFillsThePoolOnlyToItsBound) {
    const auto url = [](size_t n) { return "mvtest://pages/n" + std::to_string(n); };
    auto first = pool().cachedWebViewForUrl(url(0));
    for (size_t n = 1; n < MVWebViewCache::kMaximumUrls; ++n) pool().cachedWebViewForUrl(url(n));
    EXPECT_EQ(pool().cachedWebViewForUrl(url(0)), first);  // asked again: now the newest
    pool().cachedWebViewForUrl(url(100));
    EXPECT_TRUE(logged("MVWebViewCache holds 32 URLs and drops MVWebView<"));
    auto pooled = pool().pooledUrls();
    EXPECT_EQ(pooled.size(), MVWebViewCache::kMaximumUrls);
    EXPECT_EQ(std::count(pooled.begin(), pooled.end(), url(1)), 0);
    EXPECT_EQ(pool().cachedWebViewForUrl(url(0)), first);
    for (size_t n = 200; n < 300; ++n) pool().cachedWebViewForUrl(url(n));
    EXPECT_EQ(pool().pooledUrls().size(), MVWebViewCache::kMaximumUrls);
    ASSERT_TRUE(settled());
}

TEST_F(MVWebViewCacheTest, AWebViewShownElsewhereIsNotHandedOutAgain) {
    auto shown = pool().cachedWebViewForUrl(kTemplate);
    auto holder = platform::View::create({0, 0, 320, 480});
    holder->addSubview(shown);
    // Placed but not on screen, it is still handed out.
    EXPECT_EQ(pool().cachedWebViewForUrl(kTemplate), shown);
    auto window = platform::Window::create({0, 0, 320, 480});
    window->makeKeyAndVisible();
    window->addSubview(holder);
    // Shown: its own user gets it again; anyone else a new one, which the pool keeps.
    EXPECT_EQ(pool().cachedWebViewForUrl(kTemplate, holder.get()), shown);
    auto other = pool().cachedWebViewForUrl(kTemplate);
    EXPECT_NE(other, shown);
    EXPECT_EQ(shown->superview(), holder);
    EXPECT_EQ(pool().cachedWebViewForUrl(kTemplate), other);
    EXPECT_EQ(pool().pooledUrls(), std::vector<std::string>{kTemplate});
    ASSERT_TRUE(settled());
    EXPECT_FALSE(other->isLoading());
    // Taken out of its view, it is no longer the pool's.
    pool().removeWebView(*shown);
    EXPECT_EQ(pool().cachedWebViewForUrl(kTemplate), other);
}

}  // namespace
