// The splash screen as the window's root: the launch image, the built-in and stored
// pages, show and hide with their fades and touches, the stored address and its
// prefetch, status-bar answers and memory warnings.
#include <gtest/gtest.h>

#include "libmerovane/bridge/MVStatusBarStyle.h"
#include "libmerovane/bridge/MVWebViewCache.h"
#include "libmerovane/containers/MVViewControllerHierarchy.h"
#include "libmerovane/core/MVSplashScreenInterface.h"
#include "libmerovane/overlays/MVNotificationController.h"
#include "libmerovane/overlays/MVNotificationWithWebview.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/ScrollView.h"
#include "tests/overlays/SplashScreenFixture.h"
#include "tests/support/MVWebViewTestSupport.h"

namespace {

using Event = HeadlessPageModel::ReceivedEvent;

bool isBuiltInPage(const MVWebView& webView) {
    auto url = webView.currentUrl();
    return url && url->starts_with("file://") && url->ends_with("/DefaultSplashScreen.html");
}

TEST_F(SplashScreenTest, FirstLaunchShowsTheLaunchImageThenFadesInTheBuiltInPage) {
    standUp();
    EXPECT_EQ(splash()->superview(), controller->splashScreenContainerView());
    EXPECT_EQ(splash()->frame(), platform::Rect(0, 0, 375, 667));
    auto image = splash()->imageView();
    ASSERT_TRUE(image);
    ASSERT_TRUE(image->image());
    EXPECT_EQ(*image->image(), launchPicture());
    EXPECT_EQ(splash()->subviews().back(), image);
    EXPECT_TRUE(controller->prefersStatusBarHidden());
    EXPECT_FALSE(contentTakesTouches());
    EXPECT_TRUE(splashTakesTouches());
    EXPECT_TRUE(MVSplashScreenController::isVisible());
    EXPECT_TRUE(MVSplashScreenInterface::isSplashScreenVisible());

    ASSERT_TRUE(renderPage());
    auto shown = page();
    EXPECT_TRUE(isBuiltInPage(*shown));
    EXPECT_EQ(shown->superview(), splash());
    EXPECT_EQ(splash()->subviews().back(), shown);  // over the launch image
    EXPECT_FALSE(shown->scrollView()->isScrollEnabled());
    // The shipped page carries the page library's marker and sends its onload command.
    const auto* document = headlessEngineOf(*shown).currentPage();
    ASSERT_TRUE(document);
    EXPECT_EQ(document->mimeType, "text/html");
    EXPECT_NE(document->content.find("<script id=\"libmerovane\" src="), std::string::npos);
    EXPECT_NE(document->content.find("\"c\":\"onload\""), std::string::npos);
    const auto runs = platform::animationLog();
    const std::pair<const platform::View*, std::string> fadeIn(shown.get(), "opacity");
    auto fade = std::find_if(runs.rbegin(), runs.rend(), [&](const auto& run) {
        return std::find(run.changes.begin(), run.changes.end(), fadeIn) != run.changes.end();
    });
    ASSERT_NE(fade, runs.rend());
    EXPECT_EQ(fade->duration, 0.3);
    platform::advanceBy(0.3);
    EXPECT_EQ(shown->presentationAlpha(), 1);
    EXPECT_TRUE(splash()->appIsVisible());
    const std::vector<Event> expected = {{"setSplashScreenProgressOffset", {628}},
                                         {"viewWillAppear", {true}},
                                         {"viewDidAppear", {true}}};
    auto events = pageEvents();
    std::erase_if(events, [](const Event& e) { return e.name == "pageContext"; });
    EXPECT_EQ(events, expected);
    // No address is stored: nothing is fetched.
    EXPECT_TRUE(cache->lookups.empty());
    EXPECT_FALSE(MVSplashScreen::pendingPrefetchForTesting());
}

TEST_F(SplashScreenTest, HidePostsThenTellsThePageAndGivesTheContentItsTouches) {
    standUp();
    ASSERT_TRUE(renderPage());
    platform::advanceBy(0.3);
    auto shown = page();
    int posts = 0;
    size_t eventsAtPost = 0;
    auto& center = platform::NotificationCenter::defaultCenter();
    platform::ObserverRegistration observer(
        center, center.addObserver(MVSplashScreenWillHideNotification, nullptr,
                                   [&](const platform::Notification&) {
                                       ++posts;
                                       eventsAtPost = pageEvents(*shown).size();
                                   }));
    MVSplashScreenController::hideSplashScreen();
    EXPECT_EQ(posts, 1);
    EXPECT_TRUE(logged("Time until hideSplashscreen(): "));
    auto events = pageEvents(*shown);
    ASSERT_GT(events.size(), eventsAtPost);
    EXPECT_EQ(events[eventsAtPost].name, "splashScreenDidFinish");
    EXPECT_EQ(events.back(), (Event{"viewWillDisappear", {true}}));
    EXPECT_FALSE(MVSplashScreenController::isVisible());
    EXPECT_FALSE(contentTakesTouches());

    platform::advanceBy(0.3);
    EXPECT_EQ(pageEvents(*shown).back(), (Event{"viewDidDisappear", {true}}));
    EXPECT_TRUE(contentTakesTouches());
    EXPECT_FALSE(splashTakesTouches());
    EXPECT_FALSE(splash()->superview());
    EXPECT_FALSE(shown->superview());
    EXPECT_FALSE(shown->delegate());
    EXPECT_FALSE(page());
    EXPECT_FALSE(splash()->imageView());
    EXPECT_FALSE(splash()->splashScreenShallBeShown());
    EXPECT_FALSE(controller->prefersStatusBarHidden());  // the content answers again

    MVSplashScreenController::hideSplashScreen();
    EXPECT_EQ(posts, 2);
    platform::advanceBy(0.3);
    EXPECT_TRUE(contentTakesTouches());
}

TEST_F(SplashScreenTest, ShowDuringTheHideFadeKeepsTheSplash) {
    standUp();
    ASSERT_TRUE(renderPage());
    platform::advanceBy(0.3);
    MVSplashScreenController::hideSplashScreen();
    platform::advanceBy(0.1);
    MVSplashScreenController::showSplashScreen();
    EXPECT_EQ(splash()->presentationAlpha(), 1);  // at once, not at the fade's end
    platform::advanceBy(0.4);
    EXPECT_TRUE(MVSplashScreenController::isVisible());
    EXPECT_EQ(splash()->presentationAlpha(), 1);
    EXPECT_EQ(splash()->superview(), controller->splashScreenContainerView());
    EXPECT_TRUE(splash()->splashScreenShallBeShown());
    EXPECT_FALSE(contentTakesTouches());
    EXPECT_TRUE(splashTakesTouches());
    ASSERT_TRUE(page());
    EXPECT_EQ(page()->superview(), splash());
    EXPECT_EQ(page()->alpha(), 1);
}

TEST_F(SplashScreenTest, ShowAfterHideBringsImageAndPageBack) {
    standUp();
    ASSERT_TRUE(renderPage());
    MVSplashScreenController::hideSplashScreen();
    platform::advanceBy(0.3);
    MVSplashScreenController::showSplashScreen();
    EXPECT_EQ(splash()->alpha(), 1);
    EXPECT_FALSE(contentTakesTouches());
    EXPECT_EQ(splash()->superview(), controller->splashScreenContainerView());
    ASSERT_TRUE(splash()->imageView());
    ASSERT_TRUE(renderPage());
    platform::advanceBy(0.3);
    EXPECT_EQ(splash()->subviews().back(), page());
    EXPECT_EQ(page()->presentationAlpha(), 1);
    EXPECT_TRUE(isBuiltInPage(*page()));
}

TEST_F(SplashScreenTest, ShowWhileThePageStandsFadesItInAgain) {
    standUp();
    ASSERT_TRUE(renderPage());
    platform::advanceBy(0.3);
    auto shown = page();
    const size_t before = pageEvents(*shown).size();
    MVSplashScreenController::showSplashScreen();
    EXPECT_EQ(page(), shown);
    EXPECT_EQ(shown->alpha(), 1);
    EXPECT_LT(shown->presentationAlpha(), 1);
    platform::advanceBy(0.3);
    const auto events = pageEvents(*shown);
    ASSERT_EQ(events.size(), before + 2);
    EXPECT_EQ(events[before], (Event{"viewWillAppear", {true}}));
    EXPECT_EQ(events[before + 1], (Event{"viewDidAppear", {true}}));
}

TEST_F(SplashScreenTest, ExchangesWithAndWithoutAnimation) {
    auto first = ContainerPage::create();
    auto second = ContainerPage::create();
    ASSERT_TRUE(first->render({375, 667}));
    ASSERT_TRUE(second->render({375, 667}));
    standUp();
    // Not animated: the new page on top at once, both told without animation.
    splash()->exchangeSplashScreen(first->webView, second->webView, false);
    EXPECT_EQ(splash()->subviews().back(), second->webView);
    EXPECT_EQ(second->webView->alpha(), 1);
    EXPECT_EQ(second->eventNames(), (std::vector<std::string>{"viewWillAppear", "viewDidAppear"}));
    EXPECT_EQ(second->parametersOf("viewDidAppear"), std::vector<nlohmann::json>{{false}});
    EXPECT_EQ(first->parametersOf("viewDidDisappear"), std::vector<nlohmann::json>{{false}});
    // Animated: the new page fades in, then the old one fades out below it and stays.
    splash()->exchangeSplashScreen(second->webView, first->webView, true);
    EXPECT_EQ(first->webView->alpha(), 1);
    EXPECT_EQ(second->webView->alpha(), 1);
    platform::advanceBy(0.3);
    EXPECT_EQ(second->webView->alpha(), 0);
    EXPECT_EQ(second->parametersOf("viewWillDisappear").back(), nlohmann::json{true});
    platform::advanceBy(0.3);
    EXPECT_EQ(second->parametersOf("viewDidDisappear").back(), nlohmann::json{true});
    EXPECT_EQ(second->webView->superview(), splash());

    // The launch image fades in and out when asked to; hidden, the view is kept.
    splash()->hideImageViewAnimated(false);
    EXPECT_FALSE(splash()->imageView());
    splash()->showImageViewAnimated(true);
    auto image = splash()->imageView();
    ASSERT_TRUE(image);
    EXPECT_LT(image->presentationAlpha(), 1);
    platform::advanceBy(0.3);
    EXPECT_EQ(image->presentationAlpha(), 1);
    splash()->hideImageViewAnimated(true);
    platform::advanceBy(0.3);
    EXPECT_FALSE(image->superview());
    EXPECT_EQ(splash()->imageView(), image);
}

TEST_F(SplashScreenTest, AnUpdateRemovesTheStoredAddressBeforeTheFirstLoad) {
    platform::UserDefaults::standard().setObject(MVLibraryApplicationLastLaunchedVersion, "41");
    store("mvapi:splash");
    cache->setPage("mv-api-page:splash", "<p>splash</p>", "https://shop.example/splash");
    standUp();
    EXPECT_FALSE(storedUrl());
    ASSERT_TRUE(page());
    EXPECT_TRUE(isBuiltInPage(*page()));
    platform::runUntilIdle();
    EXPECT_TRUE(cache->lookups.empty());

    // Nothing stored: setting none removes nothing.
    MVSplashScreenController::setSplashScreenWithUrlString(std::nullopt);
    EXPECT_TRUE(cache->clearedKeys.empty());
    // With a fetch pending, none forgets it and removes what is stored.
    cache->held = {"mv-api-page:next"};
    MVSplashScreenController::setSplashScreenWithUrlString("mvapi:next");
    EXPECT_EQ(MVSplashScreen::pendingPrefetchForTesting(), "mvapi:next");
    MVSplashScreenController::setSplashScreenWithUrlString("");
    EXPECT_FALSE(MVSplashScreen::pendingPrefetchForTesting());
    EXPECT_FALSE(storedUrl());
    EXPECT_EQ(cache->clearedKeys, std::vector<std::string>{"mv-api-page:next"});
    MVSplashScreenController::setSplashScreenWithUrlString("mvapi:next");
    EXPECT_EQ(cache->lookups, (std::vector<std::string>{"mv-api-page:next", "mv-api-page:next"}));
}

TEST_F(SplashScreenTest, AStoredCachedApiPageIsShown) {
    store("mvapi:splash");
    cache->setPage("mv-api-page:splash", "<p>splash</p>", "https://shop.example/splash");
    standUp();
    ASSERT_TRUE(renderPage());
    EXPECT_EQ(page()->currentUrl(), "mvapi:splash");
    platform::runUntilIdle();
    EXPECT_EQ(cache->lookups, std::vector<std::string>{"mv-api-page:splash"});  // the load only
    EXPECT_FALSE(MVSplashScreen::pendingPrefetchForTesting());
    const auto events = pageEvents();
    auto context = std::find_if(events.begin(), events.end(),
                                [](const Event& e) { return e.name == "pageContext"; });
    ASSERT_NE(context, events.end());
    EXPECT_NE(context->parameters.dump().find("\"splashScreen\""), std::string::npos);
}

TEST_F(SplashScreenTest, AStoredUncachedPageIsFetchedAgainWhileTheBuiltInOneShows) {
    store("mvapi:next");
    cache->held = {"mv-api-page:next"};
    standUp();
    ASSERT_TRUE(page());
    EXPECT_TRUE(isBuiltInPage(*page()));
    EXPECT_TRUE(cache->lookups.empty());
    platform::runUntilIdle();  // the fetch is scheduled after 0 s
    EXPECT_EQ(cache->lookups, std::vector<std::string>{"mv-api-page:next"});
    EXPECT_EQ(MVSplashScreen::pendingPrefetchForTesting(), "mvapi:next");
    cache->release("mv-api-page:next");
    EXPECT_TRUE(logged("MVSplashScreenController received data for [API:next], and will be used."));
    EXPECT_EQ(loggedLevel("MVSplashScreenController received data for [API:next], and will be "
                          "used."),
              platform::log::kVerbose);
    EXPECT_FALSE(MVSplashScreen::pendingPrefetchForTesting());
}

TEST_F(SplashScreenTest, SettingAddressesStoresClearsAndFetchesOnce) {
    standUp();
    cache->held = {"https://shop.example/a", "mv-api-page:b"};
    MVSplashScreenController::setSplashScreenWithUrlString("https://shop.example/a");
    MVSplashScreenController::setSplashScreenWithUrlString("https://shop.example/a");
    EXPECT_EQ(cache->lookups, std::vector<std::string>{"https://shop.example/a"});
    EXPECT_EQ(storedUrl(), "https://shop.example/a");
    EXPECT_TRUE(cache->clearedKeys.empty());

    MVSplashScreenController::setSplashScreenWithUrlString("mvapi:b");
    EXPECT_EQ(cache->clearedKeys, std::vector<std::string>{"https://shop.example/a"});
    EXPECT_EQ(storedUrl(), "mvapi:b");
    cache->release("https://shop.example/a");
    EXPECT_TRUE(logged("received data for [https://shop.example/a], but it won't be used."));
    cache->release("mv-api-page:b");
    EXPECT_TRUE(logged("received data for [API:b], and will be used."));
    // Finished: the same address fetches again.
    MVSplashScreenController::setSplashScreenWithUrlString("mvapi:b");
    EXPECT_EQ(std::count(cache->lookups.begin(), cache->lookups.end(), "mv-api-page:b"), 2);
}

TEST_F(SplashScreenTest, ReplacingAnApiPageClearsItsCacheEntry) {
    standUp();
    MVSplashScreenController::setSplashScreenWithUrlString("mvapi:old");
    MVSplashScreenController::setSplashScreenWithUrlString("mvapi:new");
    EXPECT_EQ(cache->clearedKeys, std::vector<std::string>{"mv-api-page:old"});
    MVSplashScreenController::setSplashScreenWithUrlString(std::nullopt);
    EXPECT_EQ(cache->clearedKeys, (std::vector<std::string>{"mv-api-page:old", "mv-api-page:new"}));
}

TEST_F(SplashScreenTest, ALateAnswerDoesNotEndTheNewerPrefetch) {
    standUp();
    cache->held = {"mv-api-page:a", "mv-api-page:b"};
    MVSplashScreenController::setSplashScreenWithUrlString("mvapi:a");
    MVSplashScreenController::setSplashScreenWithUrlString("mvapi:b");
    cache->release("mv-api-page:a");
    EXPECT_EQ(MVSplashScreen::pendingPrefetchForTesting(), "mvapi:b");
    MVSplashScreenController::setSplashScreenWithUrlString("mvapi:b");
    EXPECT_EQ(std::count(cache->lookups.begin(), cache->lookups.end(), "mv-api-page:b"), 1);
}

TEST_F(SplashScreenTest, AFailedPrefetchEndsAndIsTriedAgainNextTime) {
    standUp();
    FakeWebCache::Script failing;
    failing.error = platform::Error("MVWebCacheErrorResourceNotFound", 404);
    cache->setScript("mv-api-page:gone", failing);
    MVSplashScreenController::setSplashScreenWithUrlString("mvapi:gone");
    EXPECT_FALSE(MVSplashScreen::pendingPrefetchForTesting());
    EXPECT_EQ(storedUrl(), "mvapi:gone");
}

TEST_F(SplashScreenTest, WithoutTheBuiltInPageTheLaunchImageStaysUntilHide) {
    writeMainBundle(false);
    standUp();
    platform::runUntilIdle();
    EXPECT_FALSE(page());
    ASSERT_TRUE(splash()->imageView());
    EXPECT_TRUE(MVSplashScreenController::isVisible());
    MVSplashScreenController::hideSplashScreen();
    platform::advanceBy(0.3);
    EXPECT_FALSE(splash()->imageView());
    EXPECT_TRUE(contentTakesTouches());
}

TEST_F(SplashScreenTest, AStoredTextThatIsNoUrlShowsTheBuiltInPage) {
    store("no url at all");
    standUp();
    ASSERT_TRUE(renderPage());
    EXPECT_TRUE(isBuiltInPage(*page()));
}

TEST_F(SplashScreenTest, OnlyTheSplashPageMayCloseTheSplash) {
    standUp();
    ASSERT_TRUE(renderPage());
    auto other = ContainerPage::create();
    other->webView->setDelegate(splash());
    other->askToClose();
    EXPECT_TRUE(MVSplashScreenController::isVisible());
    driver()->askToClose();
    EXPECT_FALSE(MVSplashScreenController::isVisible());
}

TEST_F(SplashScreenTest, StatusBarFollowsThePageWhileShownAndTheContentAfterwards) {
    standUp();
    ASSERT_TRUE(renderPage());
    EXPECT_TRUE(controller->prefersStatusBarHidden());
    auto other = ContainerPage::create();
    other->webView->setDelegate(splash());
    other->chooseStatusBarStyle("light");
    EXPECT_TRUE(controller->prefersStatusBarHidden());  // another web view: ignored
    driver()->chooseStatusBarStyle("light");
    EXPECT_FALSE(controller->prefersStatusBarHidden());
    EXPECT_EQ(controller->preferredStatusBarStyle(), platform::StatusBarStyle::LightContent);
    // The controller passes the same report on to the splash view.
    controller->webViewDidChangePreferredStatusBarStyle(
        *page(), MVStatusBarStyle::statusBarStyleWithStyleIdentifier("dark"));
    EXPECT_EQ(controller->preferredStatusBarStyle(), platform::StatusBarStyle::Default);
    EXPECT_FALSE(controller->prefersStatusBarHidden());
    MVSplashScreenController::hideSplashScreen();
    EXPECT_EQ(controller->preferredStatusBarStyle(), content->preferredStatusBarStyle());
    controller->setContentViewController(nullptr);
    EXPECT_EQ(controller->preferredStatusBarStyle(), platform::StatusBarStyle::Default);
    EXPECT_FALSE(controller->prefersStatusBarHidden());
}

TEST_F(SplashScreenTest, MemoryWarningsDropPageAndImageOnlyWhileTheSplashIsNotWanted) {
    standUp();
    ASSERT_TRUE(renderPage());
    auto shown = page();
    controller->didReceiveMemoryWarning();
    EXPECT_EQ(page(), shown);
    EXPECT_TRUE(splash()->imageView());

    MVSplashScreenController::hideSplashScreen();
    platform::advanceBy(0.3);
    // Not wanted, yet holding a page and an image: a warning drops both, and the page
    // leaves the pool.
    const std::string url = *shown->currentUrl();
    splash()->setSplashScreenWebView(MVWebViewCache::sharedCache().cachedWebViewForUrl(url));
    splash()->showImageViewAnimated(false);
    controller->didReceiveMemoryWarning();
    const auto pooled = MVWebViewCache::sharedCache().pooledUrls();
    EXPECT_EQ(std::find(pooled.begin(), pooled.end(), url), pooled.end());
    EXPECT_EQ(page(), shown);  // the reference stays
    EXPECT_FALSE(shown->delegate());
    EXPECT_FALSE(splash()->webViewIsRenderd());
    EXPECT_FALSE(splash()->imageView());
}

TEST_F(SplashScreenTest, TheControllerWhoseViewEntersAWindowTakesTheSplash) {
    standUp();
    EXPECT_EQ(splash()->currentDisplayingSplashScreenController(), controller);
    auto second = MVSplashScreenController::create();
    EXPECT_EQ(MVSplashScreen::allControllers().size(), 2u);
    EXPECT_EQ(splash()->currentDisplayingSplashScreenController(), controller);
    auto otherWindow = platform::Window::create(platform::Screen::main().bounds());
    otherWindow->setRootViewController(second);
    otherWindow->makeKeyAndVisible();
    EXPECT_EQ(splash()->currentDisplayingSplashScreenController(), second);
    EXPECT_EQ(splash()->superview(), second->splashScreenContainerView());
    EXPECT_TRUE(controller->splashScreenContainerView()->subviews().empty());
    // Both controllers' contents wait for the hide.
    EXPECT_FALSE(second->contentContainerView()->isUserInteractionEnabled());
    MVSplashScreenController::hideSplashScreen();
    platform::advanceBy(0.3);
    EXPECT_TRUE(second->contentContainerView()->isUserInteractionEnabled());
    EXPECT_TRUE(contentTakesTouches());
}

TEST_F(SplashScreenTest, ControllerLayersFillItsView) {
    standUp();
    const auto& root = controller->view();
    EXPECT_TRUE(std::dynamic_pointer_cast<MVSplashScreenControllerView>(root));
    EXPECT_EQ(root->autoresizingMask(), 18u);
    ASSERT_EQ(root->subviews().size(), 2u);
    EXPECT_EQ(root->subviews()[0], controller->contentContainerView());
    EXPECT_EQ(root->subviews()[1], controller->splashScreenContainerView());
    for (const auto& layer : root->subviews()) {
        EXPECT_EQ(layer->frame(), root->bounds());
        EXPECT_EQ(layer->autoresizingMask(), 18u);
    }
    EXPECT_EQ(content->view()->superview(), controller->contentContainerView());
}

TEST_F(SplashScreenTest, InstallPutsTheControllerInTheChainAndBehindTheSeam) {
    auto factory = MVViewControllerHierarchy::containerClass(MVSplashScreenController::kClassName);
    ASSERT_TRUE(factory);
    auto made = std::dynamic_pointer_cast<MVSplashScreenController>(factory());
    ASSERT_TRUE(made);
    auto seam = MVSplashScreenInterface::shared();
    ASSERT_TRUE(seam);
    EXPECT_TRUE(seam->isVisible());
    seam->setSplashScreenWithUrlString("mvapi:seam");
    EXPECT_EQ(storedUrl(), "mvapi:seam");
    seam->setSplashScreenWithUrlString("");
    EXPECT_FALSE(storedUrl());
    seam->hideSplashScreen();
    EXPECT_FALSE(seam->isVisible());
    seam->showSplashScreen();
    EXPECT_TRUE(seam->isVisible());
}

TEST_F(SplashScreenTest, OnlyFilesOfTheLibraryBundleAreServed) {
    const std::string library = home.file("Bundle/libmerovane.bundle");
    home.write("secret.txt", "secret");
    std::filesystem::create_symlink(home.file("secret.txt"), library + "/link.txt");
    auto takes = [](const std::string& url) {
        auto parsed = platform::URL::parse(url);
        return parsed &&
               MVSplashScreenBundleURLProtocol::canInitWithRequest(platform::URLRequest(*parsed));
    };
    EXPECT_TRUE(takes("file://" + library + "/DefaultSplashScreen.html"));
    EXPECT_TRUE(takes("file://localhost" + library + "/Info.json"));
    EXPECT_FALSE(takes("file://" + library + "/../secret.txt"));
    EXPECT_FALSE(takes("file://" + library + "/%2E%2E/secret.txt"));
    EXPECT_FALSE(takes("file://" + library + "/link.txt"));  // leads outside
    EXPECT_FALSE(takes("file://" + library + "%00/x"));
    EXPECT_FALSE(takes("file://" + home.file("secret.txt")));
    EXPECT_FALSE(takes("file://other.host" + library + "/Info.json"));
    EXPECT_FALSE(takes("https://shop.example" + library + "/Info.json"));
}

TEST(SplashScreenUrlForms, ApiPagesTurnIntoCacheKeysAndBack) {
    struct Row {
        const char* external;
        const char* internal;
    };
    const Row rows[] = {
        {"mvapi:splash", "mv-api-page:splash"},
        {"mvapi:", "mv-api-page:"},
        {"https://shop.example/s", "https://shop.example/s"},
        {"xmvapi:splash", "xmvapi:splash"},  // the prefix only at the start
        {"", ""},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(MVSplashScreen::internalUrlFromExternalUrl(row.external), row.internal);
        EXPECT_EQ(MVSplashScreen::externalUrlFromInternalUrl(row.internal), row.external);
    }
    EXPECT_EQ(MVSplashScreen::externalUrlFromInternalUrl("mv-api-data:x"), "mv-api-data:x");
}

TEST_F(SplashScreenTest, ANotificationForTheSplashPageGetsAPageOfItsOwn) {
    standUp();
    ASSERT_TRUE(renderPage());
    auto shown = page();
    ASSERT_TRUE(shown->window());
    const auto urls = MVWebViewCache::sharedCache().pooledUrls();
    ASSERT_EQ(urls.size(), 1u);
    auto notifications = MVNotificationController::create();
    notifications->view()->setFrame({0, 0, 375, 667});
    const nlohmann::json params = {{"n", 1}};
    auto note = std::dynamic_pointer_cast<MVNotificationWithWebview>(
        MVNotificationController::registeredNotificationTypes().at("pushTop")->notificationWithURL(
            urls.front(), &params, std::nullopt, std::nullopt, nullptr));
    ASSERT_TRUE(note);
    notifications->presentNotification(note);
    platform::runUntilIdle();
    ASSERT_TRUE(note->notificationWebView());
    EXPECT_NE(note->notificationWebView(), shown);
    EXPECT_EQ(page(), shown);
    EXPECT_EQ(shown->superview(), splash());
    EXPECT_EQ(shown->delegate(), splash());
}

}  // namespace
