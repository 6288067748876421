// The web page view controller on the headless engine inside a recording navigation
// stack: opening, progress, presentation, silent refresh, insets and history.
#include <gtest/gtest.h>

#include <any>
#include <nlohmann/json.hpp>

#include "libmerovane/bridge/MVDocumentReadyPoll.h"
#include "libmerovane/bridge/MVEvent.h"
#include "libmerovane/bridge/MVRefreshControl.h"
#include "libmerovane/bridge/MVStatusBarStyle.h"
#include "libmerovane/bridge/MVWebCacheKeys.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/bridge/MVWebViewCache.h"
#include "libmerovane/bridge/MVWebViewController.h"
#include "libmerovane/bridge/MVWebViewControllerFactory.h"
#include "libmerovane/core/MVResourceMonitor.h"
#include "platform/ui/Animation.h"
#include "platform/ui/ScrollView.h"
#include "tests/support/FakeLocalization.h"
#include "tests/support/FakeWebCache.h"
#include "tests/support/MVWebViewTestSupport.h"
#include "tests/support/PageModelsForAllWebViews.h"
#include "tests/support/PlatformTest.h"
#include "tests/support/PollingWait.h"
#include "tests/support/RecordingContainers.h"
#include "tests/support/ServingURLProtocol.h"

namespace {

constexpr const char* kControllerPage = "mvtest://shop/page";

// A stack that also keeps the events' parameters.
class ControllerTestStack : public RecordingNavigationStack {
  public:
    ControllerTestStack() : RecordingNavigationStack(std::string("home")) {}
    void performEvent(const MVEvent& event) override {
        RecordingNavigationStack::performEvent(event);
        events.emplace_back(event.eventName(), event.parameters());
    }
    std::vector<std::pair<std::string, nlohmann::json>> events;
    std::vector<std::string> names() const {
        std::vector<std::string> list;
        for (const auto& [name, parameters] : events) list.push_back(name);
        return list;
    }
};

class MVWebViewControllerTest : public PlatformTest {
  protected:
    void SetUp() override {
        PlatformTest::SetUp();
        cache = FakeWebCache::install();
        cache->setPage("mv-api-page:home", "<p>home</p>", "https://shop.example/home");
        localization = FakeLocalization::install();
        site = std::make_unique<ServingURLProtocol>("mvtest");
        site->serve(kControllerPage, "text/html", "<p>page</p>");
        models = std::make_unique<PageModelsForAllWebViews>(
            [this](HeadlessPageModel::Settings& s) { s = pageSettings; });
        controller = MVWebViewController::create();
        stack = std::make_shared<ControllerTestStack>();
        stack->addChildViewController(controller);
        auto& center = platform::NotificationCenter::defaultCenter();
        for (const char* name : {MVWebViewControllerDidStartLoadingNotification,
                                 MVWebViewControllerDidEndLoadingNotification})
            observers.emplace_back(
                center, center.addObserver(name, nullptr, [this](const platform::Notification& n) {
                    loadNotes.push_back(n.name);
                }));
    }
    void TearDown() override {
        observers.clear();
        controller.reset();
        stack.reset();
        models.reset();
        platform::runUntilIdle();
        PlatformTest::TearDown();
        site.reset();
    }

    // Waits until the controller has presented its page (its fade has ended).
    bool presented() {
        return runUntilPolled([&] { return !controller->isLoading() && models->allLoaded(); },
                              10.0);
    }
    platform::ScrollView& scrollOf(const std::shared_ptr<MVWebView>& webView) {
        return *webView->scrollView();
    }
    size_t count(const std::string& name) const {
        return static_cast<size_t>(std::count(loadNotes.begin(), loadNotes.end(), name));
    }
    void postCacheUpdate(const std::string& key) {
        platform::NotificationCenter::defaultCenter().post(MVWebCacheDidUpdateKeyNotification,
                                                           nullptr, std::any(key));
        platform::runUntilIdle();
    }

    std::shared_ptr<FakeWebCache> cache;
    std::shared_ptr<FakeLocalization> localization;
    std::unique_ptr<ServingURLProtocol> site;
    std::unique_ptr<PageModelsForAllWebViews> models;
    std::shared_ptr<MVWebViewController> controller;
    std::shared_ptr<ControllerTestStack> stack;
    std::vector<platform::ObserverRegistration> observers;
    std::vector<std::string> loadNotes;
    // The settings of every page from now on.
    HeadlessPageModel::Settings pageSettings;
};

TEST_F(MVWebViewControllerTest, CreationPreparesTheFirstWebView) {
    const auto& webView = controller->webViewFinal();
    ASSERT_TRUE(webView);
    EXPECT_EQ(webView->superview(), controller->view());
    EXPECT_EQ(webView->debugName(), "<" + std::to_string(webView->serialID()) + ":Content>");
    EXPECT_TRUE(webView->nativeMode());
    EXPECT_TRUE(webView->webkitAnimationBugDelay());
    EXPECT_EQ(controller->view()->backgroundColor(), platform::Color::white());
    EXPECT_TRUE(controller->refreshControl());
    EXPECT_FALSE(controller->isLoading());
    controller->navigationItem().setTitle("Shop");
    ASSERT_TRUE(controller->navigationItem().backBarButtonItem());
    EXPECT_EQ(controller->navigationItem().backButtonTitle(), "");
}

TEST_F(MVWebViewControllerTest, AnOpenedPageIsPresentedWithItsProgressAndOneEndNotification) {
    // The page is not ready until the test says so.
    pageSettings.readyState = "loading";
    controller->openUrlApi("home");
    EXPECT_TRUE(controller->isLoading());
    EXPECT_EQ(controller->webViewFinal()->alpha(), 0);
    auto infos = [&] {
        const auto names = stack->names();
        return std::count(names.begin(), names.end(), "updatePageProgressInfo");
    };
    ASSERT_TRUE(runUntilPolled([&] { return infos() == 2; }, 10.0));
    // After the load the progress moves from where it was towards 0.9, in single precision.
    const float loaded = controller->loadingProgress();
    const size_t before = stack->events.size();
    platform::advanceBy(0.0625);
    ASSERT_GT(stack->events.size(), before);
    ASSERT_EQ(stack->events[before].first, "updatePageProgress");
    EXPECT_EQ(stack->events[before].second.at(0).get<float>(), loaded + (0.9f - loaded) * 0.0625f);
    // Each later tick moves the state by (1 - state^2) * 0.0625, ever more slowly.
    float state = 0.0625f;
    for (int tick = 2; tick <= 4; ++tick) {
        SCOPED_TRACE(tick);
        state = std::min(state + (1 - state * state) * 0.0625f, 1.0f);
        platform::advanceBy(0.0625);
        EXPECT_FLOAT_EQ(controller->loadingProgress(), loaded + (0.9f - loaded) * state);
    }

    models->modelOf(*controller->webViewFinal())->settings.readyState = "complete";
    ASSERT_TRUE(presented());
    EXPECT_EQ(controller->webViewFinal()->alpha(), 1);
    EXPECT_EQ(loadNotes, (std::vector<std::string>{MVWebViewControllerDidStartLoadingNotification,
                                                   MVWebViewControllerDidEndLoadingNotification}));
    const auto names = stack->names();
    EXPECT_EQ(names.front(), "updatePageProgressInfo");
    EXPECT_EQ(std::count(names.begin(), names.end(), "beginPageProgress"), 1);
    EXPECT_EQ(std::count(names.begin(), names.end(), "endPageProgress"), 1);
    // The ticks stop with the rendering.
    const size_t events = stack->events.size();
    platform::advanceBy(1.0);
    EXPECT_EQ(stack->events.size(), events);
}

TEST_F(MVWebViewControllerTest, ACaptureAroundAnOpeningEndsWhenThePageIsPresentedOrItsFetchFails) {
    for (const std::string& url :
         {std::string(kControllerPage), std::string("http://127.0.0.1:1/none")}) {
        SCOPED_TRACE(url);
        loadNotes.clear();
        bool ended = false;
        MVResourceMonitor::sharedResourceMonitor().captureResources(
            [&] { controller->openUrl(url); }, 600.0, [&] { ended = true; });
        ASSERT_TRUE(runUntilPolled([&] { return ended; }, 10.0));
        EXPECT_FALSE(controller->isLoading());
        EXPECT_EQ(count(MVWebViewControllerDidStartLoadingNotification), 1u);
        EXPECT_EQ(count(MVWebViewControllerDidEndLoadingNotification), 1u);
        // No tick after the end.
        const size_t events = stack->events.size();
        platform::advanceBy(1.0);
        EXPECT_EQ(stack->events.size(), events);
    }
}

TEST_F(MVWebViewControllerTest, APageFailingInShadowModeStaysInvisibleAndEndsItsLoadOnce) {
    cache->setShadowMode(true);
    controller->openUrlApi("missing");
    ASSERT_TRUE(presented());
    platform::advanceBy(1.0);
    EXPECT_TRUE(controller->webViewFinal()->pageDidFailLoading());
    EXPECT_EQ(controller->webViewFinal()->alpha(), 0);
    EXPECT_FALSE(controller->isLoading());
    EXPECT_EQ(count(MVWebViewControllerDidEndLoadingNotification), 1u);
    const auto names = stack->names();
    EXPECT_EQ(std::count(names.begin(), names.end(), "beginPageProgress"), 1);
    EXPECT_EQ(std::count(names.begin(), names.end(), "endPageProgress"), 1);
}

TEST_F(MVWebViewControllerTest, ACaptureWithoutTimeOutEndsWhenTheLoadingControllerGoes) {
    pageSettings.readyState = "loading";
    auto page = MVWebViewController::create();
    bool ended = false;
    MVResourceMonitor::sharedResourceMonitor().captureResources(
        [&] { page->openUrl(kControllerPage); }, 0, [&] { ended = true; });
    auto webView = page->webViewFinal();
    ASSERT_TRUE(runUntilPolled([&] { return models->modelOf(*webView) != nullptr; }, 10.0));
    platform::advanceBy(1.0);
    EXPECT_FALSE(ended);
    page.reset();
    // Its web view, kept here, finishes on its own.
    models->modelOf(*webView)->settings.readyState = "complete";
    ASSERT_TRUE(runUntilPolled([&] { return ended; }, 10.0));
    EXPECT_EQ(count(MVWebViewControllerDidStartLoadingNotification), 1u);
    EXPECT_EQ(count(MVWebViewControllerDidEndLoadingNotification), 1u);
}

TEST_F(MVWebViewControllerTest, InsetsGoToEveryScrollViewAndThePageLaysOutWithoutThem) {
    pageSettings.library = true;
    controller->openUrlApi("home");
    const auto& shown = controller->webViewFinal();
    ASSERT_TRUE(runUntilPolled([&] { return shown->isUsingLibrary(); }, 10.0));
    shown->onload();  // as the page's library does
    ASSERT_TRUE(presented());
    const platform::EdgeInsets insets{64, 0, 49, 0};
    controller->viewShouldAdjustInsets(insets, false);
    auto& scrollView = scrollOf(controller->webViewFinal());
    EXPECT_EQ(scrollView.contentInset(), insets);
    EXPECT_EQ(scrollView.scrollIndicatorInsets(), insets);
    auto model = models->modelOf(*controller->webViewFinal());
    ASSERT_TRUE(model);
    platform::runUntilIdle();
    ASSERT_FALSE(model->events().empty());
    EXPECT_EQ(model->events().back().name, "pageInsetsChanged");
    EXPECT_EQ(model->events().back().parameters.at(0),
              (nlohmann::json{{"top", 0}, {"left", 0}, {"bottom", 0}, {"right", 0}}))
        << model->events().back().parameters.dump();

    scrollView.setContentOffset({0, -64});
    controller->viewShouldAdjustInsets({0, 0, 49, 0}, false);
    EXPECT_EQ(scrollView.contentOffset().y, 0);
    controller->viewShouldAdjustInsets({0, 0, 0, 0}, false);
    EXPECT_EQ(scrollView.contentOffset().y, 0);
}

TEST_F(MVWebViewControllerTest, ACacheUpdateOfTheShownApiPageReloadsItSilently) {
    controller->openUrl("mvapi:home");
    ASSERT_TRUE(presented());
    const platform::EdgeInsets insets{64, 0, 49, 0};
    controller->viewShouldAdjustInsets(insets, false);
    auto old = controller->webViewFinal();
    scrollOf(old).setContentOffset({0, 10});

    postCacheUpdate("mv-api-data:home");
    postCacheUpdate("home");
    postCacheUpdate("mv-api-page:");
    EXPECT_FALSE(controller->webViewRefresh());

    postCacheUpdate("mv-api-page:home");
    auto refresh = controller->webViewRefresh();
    ASSERT_TRUE(refresh);
    EXPECT_EQ(refresh->debugName(),
              "<" + std::to_string(refresh->serialID()) + ":Content(refreshing)>");
    EXPECT_EQ(refresh->alpha(), 0);
    EXPECT_FALSE(controller->refreshControl()->isRefreshing());
    // During the refresh a reduced top inset moves nothing.
    controller->viewShouldAdjustInsets({0, 0, 49, 0}, false);
    EXPECT_EQ(scrollOf(old).contentOffset().y, 10);
    controller->viewShouldAdjustInsets(insets, false);
    // Another update while loading does nothing.
    postCacheUpdate("mv-api-page:home");
    EXPECT_EQ(controller->webViewRefresh(), refresh);

    ASSERT_TRUE(presented());
    EXPECT_EQ(controller->webViewFinal(), refresh);
    EXPECT_FALSE(controller->webViewRefresh());
    EXPECT_EQ(refresh->debugName(), "<" + std::to_string(refresh->serialID()) + ":Content>");
    EXPECT_EQ(refresh->alpha(), 1);
    EXPECT_EQ(refresh->frame(), old->frame());
    EXPECT_EQ(scrollOf(refresh).contentInset(), insets);
    EXPECT_EQ(scrollOf(refresh).contentOffset().y, 10);
    EXPECT_TRUE(old->isGarbage());
    EXPECT_EQ(old->superview(), nullptr);
    EXPECT_EQ(old->delegate(), nullptr);
    EXPECT_FALSE(controller->refreshControl() && controller->refreshControl()->isRefreshing());
}

TEST_F(MVWebViewControllerTest, BeingPoppedGoesBackInThePageHistoryFirst) {
    controller->openUrl(kControllerPage);
    ASSERT_TRUE(presented());
    EXPECT_TRUE(controller->shouldBePoppedOfNavigationController(*stack));
    site->serve("mvtest://shop/two", "text/html", "<p>two</p>");
    auto& engine = headlessEngineOf(*controller->webViewFinal());
    engine.navigate("mvtest://shop/two");
    ASSERT_TRUE(runUntilPolled([&] { return controller->historySize() == 2; }, 10.0));
    ASSERT_TRUE(presented());
    EXPECT_FALSE(controller->shouldBePoppedOfNavigationController(*stack));
    ASSERT_TRUE(runUntilPolled(
        [&] { return controller->webViewFinal()->currentUrl() == kControllerPage; }, 10.0));
    EXPECT_EQ(controller->historySize(), 1);
}

}  // namespace

namespace {

constexpr const char* kPreviewTemplate = "mvtest://shop/template";

TEST_F(MVWebViewControllerTest, ThePreviewPageComesFromThePoolAndLeavesWhenThePageIsPresented) {
    site->serve(kPreviewTemplate, "text/html", "<p>template</p>");
    auto& pool = MVWebViewCache::sharedCache();
    controller->openUrlApi("home", kPreviewTemplate, nlohmann::json{{"title", "Home"}});
    auto preview = controller->webViewPreview();
    ASSERT_TRUE(preview);
    EXPECT_EQ(pool.cachedWebViewForUrl(kPreviewTemplate), preview);
    EXPECT_EQ(preview->debugName(),
              "<" + std::to_string(preview->serialID()) + ":Content[Preview]>");
    EXPECT_EQ(preview->superview(), controller->view());
    EXPECT_EQ(preview->alpha(), 1);
    EXPECT_EQ(controller->webViewFinal()->alpha(), 0);
    EXPECT_FALSE(preview->scrollView()->isScrollEnabled());
    const auto& subviews = controller->view()->subviews();
    EXPECT_LT(std::find(subviews.begin(), subviews.end(), preview),
              std::find(subviews.begin(), subviews.end(), controller->webViewFinal()));
    EXPECT_EQ(controller->previewParams(), (nlohmann::json{{"title", "Home"}, {"cached", true}}));

    ASSERT_TRUE(presented());
    EXPECT_FALSE(controller->webViewPreview());
    EXPECT_EQ(preview->superview(), nullptr);
    EXPECT_FALSE(controller->previewParams());
    // A second of the platform clock after the preview was taken the pool renews it.
    platform::advanceBy(1.0);
    ASSERT_TRUE(runUntilPolled([&] { return models->allLoaded(); }, 10.0));
    EXPECT_NE(pool.cachedWebViewForUrl(kPreviewTemplate), preview);
}

TEST_F(MVWebViewControllerTest, APreviewWhosePoolRenewalFailsStaysThePooledPage) {
    site->serve(kPreviewTemplate, "text/html", "<p>template</p>");
    auto& pool = MVWebViewCache::sharedCache();
    controller->openUrlApi("home", kPreviewTemplate, nlohmann::json::object());
    auto preview = controller->webViewPreview();
    ASSERT_TRUE(preview);
    ASSERT_TRUE(presented());
    // The shop goes away before the pool renews the preview a second later.
    site.reset();
    const size_t made = models->webViews.size();
    platform::advanceBy(1.0);
    ASSERT_EQ(models->webViews.size(), made + 1);  // the replacement started
    ASSERT_TRUE(runUntilPolled([&] { return models->allLoaded(); }, 10.0));
    EXPECT_TRUE(logged("did fail loading [mvtest://shop/template]"));
    EXPECT_TRUE(pool.renewingUrls().empty());
    EXPECT_EQ(pool.cachedWebViewForUrl(kPreviewTemplate).get(), preview.get());
}

TEST_F(MVWebViewControllerTest, TheCachedFlagTellsWhetherTheWebCacheHoldsThePage) {
    site->serve(kPreviewTemplate, "text/html", "<p>template</p>");
    struct Case {
        const char* url;
        bool api;
        bool cached;
    };
    for (const Case& c :
         {Case{"home", true, true}, Case{"mvapi:home", false, true},
          Case{"mvapi:elsewhere", false, false}, Case{kControllerPage, false, false}}) {
        SCOPED_TRACE(c.url);
        if (c.api)
            controller->openUrlApi(c.url, kPreviewTemplate, nlohmann::json::object());
        else
            controller->openUrl(c.url, kPreviewTemplate, nlohmann::json::object());
        EXPECT_EQ(controller->previewParams(), (nlohmann::json{{"cached", c.cached}}));
        ASSERT_TRUE(presented());
    }
    // Without preview parameters nothing is added.
    controller->openUrlApi("home", kPreviewTemplate, std::nullopt);
    EXPECT_FALSE(controller->previewParams());
    ASSERT_TRUE(presented());
}

}  // namespace

namespace {

// Records the bar changes the controller forwards.
struct BarChangeRecorder : MVWebViewControllerDelegate {
    struct Change {
        std::optional<nlohmann::json> from, to;
        std::optional<std::string> fromTitle, toTitle;
    };
    void webViewControllerDidChangeNavigationBarParams(
        MVWebViewController&, const nlohmann::json* from, const nlohmann::json* to,
        const std::optional<std::string>& fromTitle,
        const std::optional<std::string>& toTitle) override {
        changes.push_back({from ? std::optional(*from) : std::nullopt,
                           to ? std::optional(*to) : std::nullopt, fromTitle, toTitle});
    }
    std::vector<Change> changes;
};

TEST_F(MVWebViewControllerTest, BarChangesAreForwardedWithTheControllersFallbacks) {
    auto recorder = std::make_shared<BarChangeRecorder>();
    controller->setDelegate(recorder);
    controller->navigationItem().setTitle("Shop");
    controller->setNavigationBarParameters(nlohmann::json{{"bar", "plain"}});
    controller->openUrlApi("home");
    ASSERT_TRUE(presented());
    // A page without the page library gets the controller's parameters on presentation.
    ASSERT_EQ(recorder->changes.size(), 1u);
    EXPECT_EQ(recorder->changes[0].from, nlohmann::json::object());
    EXPECT_EQ(recorder->changes[0].to, (nlohmann::json{{"bar", "plain"}}));
    EXPECT_EQ(recorder->changes[0].toTitle, "Shop");

    // Parameters of another type count as absent.
    const nlohmann::json wrong = "text";
    const nlohmann::json to = {{"bar", "dark"}};
    controller->webViewDidChangeNavigationBarParams(*controller->webViewFinal(), &wrong, &to,
                                                    std::nullopt, std::string("New"));
    ASSERT_EQ(recorder->changes.size(), 2u);
    EXPECT_EQ(recorder->changes[1].from, (nlohmann::json{{"bar", "plain"}}));
    EXPECT_EQ(recorder->changes[1].to, to);
    EXPECT_EQ(recorder->changes[1].fromTitle, "Shop");
    controller->setNavigationBarParameters(nlohmann::json::array());
    EXPECT_EQ(controller->navigationBarParameters(), nullptr);
}

TEST_F(MVWebViewControllerTest, TheStatusBarFollowsThePageElseTheApplicationDefault) {
    EXPECT_EQ(controller->prefersStatusBarHidden(),
              MVStatusBarStyle::statusBarStyleAppDefault()->prefersStatusBarHidden());
    auto& webView = *controller->webViewFinal();
    controller->webViewDidChangePreferredStatusBarStyle(webView,
                                                        MVStatusBarStyle::statusBarStyleLight());
    EXPECT_EQ(controller->preferredStatusBarStyle(),
              MVStatusBarStyle::statusBarStyleLight()->preferredStatusbarStyle());
    EXPECT_FALSE(controller->prefersStatusBarHidden());
    // A cleared style hides the status bar.
    controller->webViewDidChangePreferredStatusBarStyle(webView, nullptr);
    EXPECT_TRUE(controller->prefersStatusBarHidden());
}

TEST_F(MVWebViewControllerTest, APullReloadsVisiblyButOnlyEndsInShadowMode) {
    controller->openUrlApi("home");
    ASSERT_TRUE(presented());
    auto control = controller->refreshControl();
    ASSERT_TRUE(control);
    cache->setShadowMode(true);
    ASSERT_TRUE(control->pullForTesting());
    EXPECT_FALSE(control->isRefreshing());
    EXPECT_FALSE(controller->webViewRefresh());

    cache->setShadowMode(false);
    const size_t cleared = cache->clearedKeys.size();
    ASSERT_TRUE(control->pullForTesting());
    ASSERT_TRUE(controller->webViewRefresh());
    EXPECT_TRUE(controller->isLoading());
    EXPECT_GT(cache->clearedKeys.size(), cleared);  // a visible reload clears the page's entry
    ASSERT_TRUE(presented());
    EXPECT_FALSE(controller->webViewRefresh());
    EXPECT_FALSE(controller->refreshControl() && controller->refreshControl()->isRefreshing());
}

}  // namespace

namespace {

TEST_F(MVWebViewControllerTest, APageThatNeverBecomesReadyEndsItsLoadWhenThePollGivesUp) {
    // The page library never says it is ready.
    pageSettings.library = true;
    pageSettings.readyAfterPolls = 0;
    controller->openUrlApi("home");
    platform::advanceBy(MVDocumentReadyPoll::kLibraryTimeout - 1);
    EXPECT_TRUE(controller->isLoading());
    platform::advanceBy(2);
    ASSERT_TRUE(presented());
    EXPECT_EQ(count(MVWebViewControllerDidEndLoadingNotification), 1u);
    EXPECT_EQ(controller->webViewFinal()->alpha(), 1);
}

TEST_F(MVWebViewControllerTest, ReplacingDiscardsTheShownWebViewAndOpensANewOne) {
    controller->openUrlApi("home");
    ASSERT_TRUE(presented());
    controller->viewShouldAdjustInsets({64, 0, 49, 0}, false);
    auto old = controller->webViewFinal();
    controller->replacePageWithUrl(kControllerPage, std::nullopt, std::nullopt);
    EXPECT_TRUE(old->isGarbage());
    EXPECT_EQ(old->superview(), nullptr);
    EXPECT_EQ(old->delegate(), nullptr);
    auto fresh = controller->webViewFinal();
    ASSERT_NE(fresh, old);
    EXPECT_EQ(fresh->superview(), controller->view());
    EXPECT_EQ(fresh->scrollView()->contentInset(), (platform::EdgeInsets{64, 0, 49, 0}));
    ASSERT_TRUE(presented());
    EXPECT_EQ(fresh->currentUrl(), kControllerPage);
    EXPECT_EQ(fresh->alpha(), 1);
    EXPECT_EQ(count(MVWebViewControllerDidStartLoadingNotification),
              count(MVWebViewControllerDidEndLoadingNotification));
}

TEST_F(MVWebViewControllerTest, ACancelledRefreshIsDroppedAndADelayedReloadUsesTheShownPage) {
    controller->openUrlApi("home");
    ASSERT_TRUE(presented());
    controller->reloadWithSilentMode(true);
    auto refresh = controller->webViewRefresh();
    ASSERT_TRUE(refresh);
    controller->cancelWebViewRefresh();
    EXPECT_FALSE(controller->webViewRefresh());
    EXPECT_TRUE(refresh->isGarbage());
    EXPECT_EQ(refresh->delegate(), nullptr);
    // The page is idle again: it takes the next cache update.
    EXPECT_FALSE(controller->isLoading());

    const size_t lookups = cache->lookups.size();
    controller->reloadLastPageAfterDelay(0.5);
    platform::advanceBy(0.4);
    EXPECT_EQ(cache->lookups.size(), lookups);
    platform::advanceBy(0.2);
    ASSERT_TRUE(runUntilPolled([&] { return cache->lookups.size() > lookups; }, 10.0));
    EXPECT_EQ(cache->lookups.back(), "mv-api-page:home");
}

TEST_F(MVWebViewControllerTest, OpeningOrReplacingCancelsASilentRefreshThatComesNoMore) {
    for (const bool replace : {true, false}) {
        SCOPED_TRACE(replace ? "replace" : "open");
        cache->setPage("mv-api-page:home", "<p>home</p>", "https://shop.example/home");
        controller->openUrlApi("home");
        ASSERT_TRUE(presented());
        // The refresh copy waits for its page until the test answers.
        FakeWebCache::Script held;
        held.body = "<p>home again</p>";
        held.info = {{"base-url", "https://shop.example/home"}};
        held.deferred = true;
        cache->setScript("mv-api-page:home", held);
        controller->reloadWithSilentMode(true);
        auto refresh = controller->webViewRefresh();
        ASSERT_TRUE(refresh);
        platform::runUntilIdle();

        if (replace)
            controller->replacePageWithUrl(kControllerPage, std::nullopt, std::nullopt);
        else
            controller->openUrl(kControllerPage);
        EXPECT_FALSE(controller->webViewRefresh());
        EXPECT_TRUE(refresh->isGarbage());
        EXPECT_EQ(refresh->delegate(), nullptr);
        auto page = controller->webViewFinal();
        ASSERT_TRUE(presented());
        // The old page's answer comes late and changes nothing.
        cache->answerPending();
        ASSERT_TRUE(
            runUntilPolled([&] { return !refresh->isLoading() && models->allLoaded(); }, 10.0));
        platform::advanceBy(1.0);
        EXPECT_EQ(controller->webViewFinal(), page);
        EXPECT_EQ(page->currentUrl(), kControllerPage);
        EXPECT_EQ(page->alpha(), 1);
        EXPECT_EQ(refresh->superview(), nullptr);
        EXPECT_FALSE(controller->isLoading());
        EXPECT_EQ(count(MVWebViewControllerDidStartLoadingNotification),
                  count(MVWebViewControllerDidEndLoadingNotification));
    }
}

TEST_F(MVWebViewControllerTest, AFailedPullEndsTheShownPagesSpinnerWhichCanBePulledAgain) {
    controller->openUrl(kControllerPage);
    ASSERT_TRUE(presented());
    auto control = controller->refreshControl();
    ASSERT_TRUE(control);
    ASSERT_EQ(MVRefreshControlOf(*controller->webViewFinal()), control);
    // The shop goes away: the page's scheme answers no more.
    site.reset();
    ASSERT_TRUE(control->pullForTesting());
    ASSERT_TRUE(controller->webViewRefresh());
    EXPECT_NE(controller->refreshControl().get(), control.get());  // the copy's, while it loads
    ASSERT_TRUE(runUntilPolled([&] { return !controller->isLoading(); }, 10.0));
    EXPECT_FALSE(controller->webViewRefresh());
    EXPECT_EQ(controller->refreshControl().get(), control.get());
    EXPECT_FALSE(control->isRefreshing());
    EXPECT_EQ(controller->webViewFinal()->currentUrl(), kControllerPage);

    // The user pulls again; a visible reload during a silent refresh spins it too.
    ASSERT_TRUE(control->pullForTesting());
    ASSERT_TRUE(controller->webViewRefresh());
    ASSERT_TRUE(runUntilPolled([&] { return !controller->isLoading(); }, 10.0));
    EXPECT_FALSE(control->isRefreshing());
    controller->reloadWithSilentMode(true);
    controller->reload();
    EXPECT_TRUE(control->isRefreshing());
    ASSERT_TRUE(runUntilPolled([&] { return !controller->isLoading(); }, 10.0));
    EXPECT_FALSE(control->isRefreshing());
}

TEST_F(MVWebViewControllerTest, TheInstalledFactoryMakesControllersOpeningTheApiPage) {
    MVWebViewController::installFactory();
    auto made = std::dynamic_pointer_cast<MVWebViewController>(
        MVWebViewControllerFactory::webViewControllerOpeningApiPage("home"));
    MVWebViewControllerFactory::setFactory(nullptr);
    ASSERT_TRUE(made);
    EXPECT_TRUE(made->isLoading());
    ASSERT_TRUE(runUntilPolled([&] { return !made->isLoading(); }, 10.0));
    EXPECT_EQ(made->webViewFinal()->currentUrl(), "mvapi:home");
}

}  // namespace

namespace {

TEST_F(MVWebViewControllerTest, TwoControllersAskingForOnePreviewShareItAndTheLastHasIt) {
    site->serve(kPreviewTemplate, "text/html", "<p>template</p>");
    auto other = MVWebViewController::create();
    controller->openUrlApi("home", kPreviewTemplate, nlohmann::json::object());
    other->openUrlApi("home", kPreviewTemplate, nlohmann::json::object());
    ASSERT_TRUE(controller->webViewPreview());
    EXPECT_EQ(controller->webViewPreview(), other->webViewPreview());
    EXPECT_EQ(other->webViewPreview()->superview(), other->view());
    ASSERT_TRUE(
        runUntilPolled([&] { return !controller->isLoading() && !other->isLoading(); }, 10.0));
}

TEST_F(MVWebViewControllerTest, ThePageAllowsOrForbidsPullToRefreshUnlessTheControlSpins) {
    controller->openUrlApi("home");
    ASSERT_TRUE(presented());
    auto& webView = *controller->webViewFinal();
    controller->webViewDidChangePullToRefreshEnabled(webView, false);
    EXPECT_FALSE(controller->refreshControl());
    controller->webViewDidChangePullToRefreshEnabled(webView, true);
    ASSERT_TRUE(controller->refreshControl());
    EXPECT_FALSE(MVWebViewIsRefreshing(webView));
    controller->refreshControl()->beginRefreshing();
    EXPECT_TRUE(MVWebViewIsRefreshing(webView));
    controller->webViewDidChangePullToRefreshEnabled(webView, false);
    EXPECT_TRUE(controller->refreshControl());
    // The control keeps its place when the page scrolls sideways.
    webView.scrollView()->setContentOffset({30, 0});
    controller->refreshControl()->setFrame({0, -60, 320, 60});
    EXPECT_EQ(controller->refreshControl()->frame().origin.x, 30);
}

}  // namespace

namespace {

// Durations of the animate calls made since the log was cleared.
std::vector<double> pageAnimationDurations() {
    std::vector<double> durations;
    for (const auto& run : platform::animationLog()) durations.push_back(run.duration);
    return durations;
}
size_t pageFades() {
    const auto durations = pageAnimationDurations();
    return static_cast<size_t>(std::count(durations.begin(), durations.end(), 0.2));
}

TEST_F(MVWebViewControllerTest, APageFadesInUnlessTheSplashScreenShows) {
    auto splash = RecordingSplashScreen::install();
    platform::clearAnimationLog();
    controller->openUrlApi("home");
    ASSERT_TRUE(presented());
    EXPECT_EQ(pageFades(), 0u);
    EXPECT_FALSE(pageAnimationDurations().empty());
    EXPECT_EQ(controller->webViewFinal()->alpha(), 1);

    splash->visible = false;
    controller->reloadWithSilentMode(true);
    ASSERT_TRUE(presented());
    EXPECT_EQ(pageFades(), 1u);
    EXPECT_EQ(controller->webViewFinal()->alpha(), 1);

    splash->visible = true;
    controller->reloadWithSilentMode(true);
    ASSERT_TRUE(presented());
    EXPECT_EQ(pageFades(), 1u);
    MVSplashScreenInterface::install(nullptr);
}

TEST_F(MVWebViewControllerTest, ThePreviewPageIsPresentedWithoutAFade) {
    site->serve(kPreviewTemplate, "text/html", "<p>template</p>");
    pageSettings.readyState = "loading";
    controller->openUrlApi("home", kPreviewTemplate, nlohmann::json::object());
    auto preview = controller->webViewPreview();
    ASSERT_TRUE(preview);
    ASSERT_TRUE(runUntilPolled([&] { return models->modelOf(*preview) != nullptr; }, 10.0));
    platform::clearAnimationLog();
    models->modelOf(*preview)->settings.readyState = "complete";
    ASSERT_TRUE(runUntilPolled([&] { return !preview->isLoading(); }, 10.0));
    platform::runUntilIdle();
    EXPECT_TRUE(controller->isLoading());
    EXPECT_FALSE(pageAnimationDurations().empty());
    EXPECT_EQ(pageFades(), 0u);

    models->modelOf(*controller->webViewFinal())->settings.readyState = "complete";
    ASSERT_TRUE(presented());
    EXPECT_EQ(pageFades(), 1u);
}

// The names and animated flags of the appearance events a page received.
std::vector<std::string> pageAppearanceEvents(const HeadlessPageModel& model) {
    std::vector<std::string> out;
    for (const auto& event : model.events())
        if (event.name.rfind("view", 0) == 0) out.push_back(event.name + event.parameters.dump());
    return out;
}

TEST_F(MVWebViewControllerTest, AppearanceReachesTheShownPageAndAVisibleReadyPreview) {
    site->serve(kPreviewTemplate, "text/html", "<p>template</p>");
    pageSettings.library = true;
    // A preview page the pool has finished loading.
    auto pooled = MVWebViewCache::sharedCache().cachedWebViewForUrl(kPreviewTemplate);
    ASSERT_TRUE(runUntilPolled([&] { return pooled->isUsingLibrary(); }, 10.0));
    pooled->onload();
    ASSERT_TRUE(runUntilPolled([&] { return models->allLoaded(); }, 10.0));

    // The page itself stays loading behind the preview.
    pageSettings.library = false;
    pageSettings.readyState = "loading";
    controller->openUrl(kControllerPage, kPreviewTemplate, nlohmann::json::object());
    auto preview = controller->webViewPreview();
    ASSERT_EQ(preview, pooled);
    ASSERT_FALSE(preview->isLoading());
    ASSERT_EQ(preview->alpha(), 1);
    auto previewModel = models->modelOf(*preview);
    ASSERT_TRUE(previewModel);
    platform::runUntilIdle();
    const auto before = pageAppearanceEvents(*previewModel);
    controller->viewWillDisappear(true);
    controller->viewDidDisappear(false);
    platform::runUntilIdle();
    auto after = pageAppearanceEvents(*previewModel);
    ASSERT_GE(after.size(), before.size());
    after.erase(after.begin(), after.begin() + static_cast<std::ptrdiff_t>(before.size()));
    EXPECT_EQ(after,
              (std::vector<std::string>{"viewWillDisappear[true]", "viewDidDisappear[false]"}));
    // A hidden preview page hears nothing.
    preview->setAlpha(0);
    controller->viewWillDisappear(false);
    controller->viewDidDisappear(false);
    platform::runUntilIdle();
    EXPECT_EQ(pageAppearanceEvents(*previewModel).size(), before.size() + 2);
    models->modelOf(*controller->webViewFinal())->settings.readyState = "complete";
    ASSERT_TRUE(presented());

    // The shown page hears every appearance step with the flag given.
    pageSettings.library = true;
    pageSettings.readyState = "complete";
    controller->replacePageWithUrl(kControllerPage, std::nullopt, std::nullopt);
    auto shown = controller->webViewFinal();
    ASSERT_TRUE(runUntilPolled([&] { return shown->isUsingLibrary(); }, 10.0));
    shown->onload();
    ASSERT_TRUE(presented());
    auto shownModel = models->modelOf(*shown);
    ASSERT_TRUE(shownModel);
    const size_t earlier = pageAppearanceEvents(*shownModel).size();
    controller->viewWillAppear(true);
    controller->viewDidAppear(false);
    controller->viewWillDisappear(true);
    controller->viewDidDisappear(false);
    platform::runUntilIdle();
    auto heard = pageAppearanceEvents(*shownModel);
    heard.erase(heard.begin(), heard.begin() + static_cast<std::ptrdiff_t>(earlier));
    EXPECT_EQ(heard,
              (std::vector<std::string>{"viewWillAppear[true]", "viewDidAppear[false]",
                                        "viewWillDisappear[true]", "viewDidDisappear[false]"}));
}

}  // namespace
