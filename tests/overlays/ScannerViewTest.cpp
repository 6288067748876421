// The scanner's container, opening and closing movements, camera view, status bar,
// page answers and its place in the chain.
#include <gtest/gtest.h>

#include "libmerovane/bridge/MVStatusBarStyle.h"
#include "libmerovane/bridge/MVWebViewCache.h"
#include "libmerovane/containers/MVViewControllerHierarchy.h"
#include "libmerovane/core/MVSplashScreenInterface.h"
#include "platform/device/CaptureVideoPreviewLayer.h"
#include "platform/device/VideoCaptureDevice.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Application.h"
#include "platform/ui/Screen.h"
#include "platform/ui/View.h"
#include "tests/overlays/ScannerTest.h"

using nlohmann::json;
using platform::Rect;

namespace {

class ScannerViewTest : public ScannerTest {
  protected:
    double W() { return scanner->contentContainerView()->frame().size.width; }
    double H() { return scanner->contentContainerView()->frame().size.height; }
    platform::Point containerOrigin() { return scanner->scannerContainerView()->frame().origin; }
    // Opens and closes once, so that the pooled page is loaded and later openings move
    // at once; forgets what the page heard so far.
    void warmUp() {
        openScanner();
        scanner->closeScannerWithAnimation(std::nullopt);
        platform::runUntilIdle();
        heardBefore = eventNames().size();
    }
    std::vector<std::string> heardSinceWarmUp() {
        auto names = eventNames();
        return {names.begin() + long(heardBefore), names.end()};
    }
    size_t heardBefore = 0;
};

TEST_F(ScannerViewTest, TheScannerContainerLiesParkedBelowOverTheContent) {
    const auto& view = scanner->view();
    EXPECT_TRUE(view->autoresizesSubviews());
    ASSERT_EQ(view->subviews().size(), 1u);
    const auto& container = scanner->contentContainerView();
    EXPECT_EQ(view->subviews()[0], container);
    EXPECT_EQ(container->frame(), view->bounds());
    ASSERT_EQ(container->subviews().size(), 2u);
    EXPECT_EQ(container->subviews()[0], content->view());
    EXPECT_EQ(container->subviews()[1], scanner->scannerContainerView());
    EXPECT_EQ(scanner->scannerContainerView()->frame(), Rect(0, H(), W(), H()));
    EXPECT_EQ(scanner->scannerContainerView()->backgroundColor(), platform::Color::white());
    EXPECT_EQ(
        scanner->scannerContainerView()->autoresizingMask(),
        unsigned(platform::kAutoresizingFlexibleWidth | platform::kAutoresizingFlexibleHeight));
    EXPECT_EQ(MVScannerViewControllerInterface::sharedDefaultInstance(), scanner);
    EXPECT_FALSE(scanner->isOpen());
}

TEST_F(ScannerViewTest, AnOpeningWithoutSlideShowsThePageOverTheRevealedCamera) {
    const json params = {{"title", "Scan"}};
    scanner->openScannerWithSrc(kPage, "none of the three", &params, true, false);
    // The page is loading: nothing moves until it has rendered.
    EXPECT_FALSE(scanner->isOpen());
    EXPECT_EQ(containerOrigin(), (platform::Point{0, H()}));
    renderPage();
    EXPECT_TRUE(scanner->isOpen());
    EXPECT_EQ(containerOrigin(), (platform::Point{0, 0}));

    const auto& page = scanner->contentWebView();
    EXPECT_EQ(page, MVWebViewCache::sharedCache().cachedWebViewForUrl(
                        kPage, scanner->scannerContainerView().get()));
    EXPECT_NE(page->debugName().find("Scanner"), std::string::npos);
    EXPECT_EQ(page->delegate(), scanner);
    EXPECT_EQ(page->backgroundColor(), platform::Color::clear());
    EXPECT_EQ(page->frame(), Rect(0, 0, W(), H()));
    EXPECT_EQ(events("updateTemplateContent"), (std::vector<json>{json::array({params})}));
    EXPECT_EQ(events("viewWillAppear"), (std::vector<json>{{true}}));
    EXPECT_EQ(events("viewDidAppear"), (std::vector<json>{{true}}));

    // The camera view lies directly below the page and fades in over 0.5 s.
    const auto& children = scanner->scannerContainerView()->subviews();
    ASSERT_EQ(children.size(), 2u);
    EXPECT_EQ(children[0], scanner->scannerView());
    EXPECT_EQ(children[1], page);
    EXPECT_EQ(scanner->scannerView()->alpha(), 1);
    ASSERT_TRUE(scanner->previewLayer());
    EXPECT_EQ(scanner->previewLayer()->superlayer(), scanner->scannerView()->layer());
    EXPECT_EQ(scanner->previewLayer()->videoGravity(),
              platform::kLayerVideoGravityResizeAspectFill);
    EXPECT_EQ(scanner->session()->sessionPreset(), platform::kCaptureSessionPresetInputPriority);
    EXPECT_TRUE(scanner->session()->isRunning());
    bool revealed = false;
    for (const auto& run : platform::animationLog())
        for (const auto& [view, keyPath] : run.changes)
            if (view == scanner->scannerView().get() && keyPath == "opacity")
                revealed = run.duration == 0.5;
    EXPECT_TRUE(revealed);

    scanner->closeScannerWithAnimation("no slide");
    EXPECT_EQ(events("viewWillDisappear"), (std::vector<json>{{false}}));
    EXPECT_EQ(events("viewDidDisappear"), (std::vector<json>{{false}}));
    EXPECT_EQ(containerOrigin(), (platform::Point{0, H()}));
    EXPECT_FALSE(scanner->session());
    EXPECT_FALSE(scanner->isBarcodeRecognitionEnabled());
    platform::runUntilIdle();
    EXPECT_FALSE(scanner->scannerView());
    EXPECT_EQ(scanner->scannerContainerView()->subviews(),
              std::vector<std::shared_ptr<platform::View>>{page});
}

struct SlideCase {
    const char* name;
    platform::Point openFrom;  // in units of W and H
    platform::Point closeTo;
};

TEST_F(ScannerViewTest, TheThreeSlidesMoveInAndOutInAThirdOfASecond) {
    warmUp();
    const std::vector<SlideCase> cases = {
        {"foregroundBottom", {0, 1}, {0, 1}},
        {"foregroundRight", {1, 0}, {1, 0}},
        {"foregroundLeft", {-1, 0}, {-1, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        heardBefore = eventNames().size();
        platform::clearAnimationLog();
        scanner->openScannerWithSrc(kPage, std::string(c.name), nullptr, true, false);
        platform::runUntilIdle();
        EXPECT_TRUE(scanner->isOpen());
        EXPECT_EQ(heardSinceWarmUp(), std::vector<std::string>{"viewWillAppear"});
        EXPECT_EQ(scanner->scannerContainerView()->presentationFrame().origin,
                  (platform::Point{c.openFrom.x * W(), c.openFrom.y * H()}));
        EXPECT_FALSE(scanner->session());  // the camera starts at the movement's end
        ASSERT_FALSE(platform::animationLog().empty());
        EXPECT_EQ(platform::animationLog().front().duration, 0.3);
        platform::advanceBy(0.3);
        EXPECT_EQ(containerOrigin(), (platform::Point{0, 0}));
        EXPECT_EQ(heardSinceWarmUp(),
                  (std::vector<std::string>{"viewWillAppear", "viewDidAppear"}));
        EXPECT_TRUE(scanner->session());

        scanner->closeScannerWithAnimation(std::string(c.name));
        platform::runUntilIdle();
        EXPECT_EQ(events("viewWillDisappear").back(), json::array({true}));
        EXPECT_EQ(containerOrigin(), (platform::Point{c.closeTo.x * W(), c.closeTo.y * H()}));
        const size_t disappeared = events("viewDidDisappear").size();
        platform::advanceBy(0.3);
        EXPECT_EQ(events("viewDidDisappear").size(), disappeared + 1);
        EXPECT_EQ(events("viewDidDisappear").back(), json::array({true}));
        EXPECT_FALSE(scanner->scannerView());
    }
}

TEST_F(ScannerViewTest, OpeningTwiceIsIgnoredWithAWarning) {
    openScanner();
    auto session = scanner->session();
    scanner->openScannerWithSrc(kOtherPage, std::nullopt, nullptr, false, true);
    EXPECT_EQ(loggedLevel("Scanner is already open. Ignoring command..."), platform::log::kWarning);
    EXPECT_EQ(scanner->session(), session);
    EXPECT_TRUE(scanner->isBarcodeRecognitionEnabled());
    EXPECT_FALSE(scanner->isImageCapturingEnabled());
    EXPECT_EQ(scanner->contentWebView(), MVWebViewCache::sharedCache().cachedWebViewForUrl(
                                             kPage, scanner->scannerContainerView().get()));
}

TEST_F(ScannerViewTest, ARenderReportMovesOnlyAnOpeningThatWaits) {
    warmUp();
    auto& page = *scanner->contentWebView();
    scanner->webViewDidFinishRendering(page);
    EXPECT_FALSE(scanner->isOpen());
    EXPECT_FALSE(scanner->session());
    openScanner();
    auto session = scanner->session();
    scanner->webViewDidFinishRendering(page);
    EXPECT_EQ(scanner->session(), session);
    EXPECT_EQ(events("viewDidAppear").size(), 2u);
}

TEST_F(ScannerViewTest, TheBootClosesWithoutAnimationAlsoAfterAnEarlierClosing) {
    auto device = platform::VideoCaptureDevice::defaultDevice(platform::kMediaTypeVideo);
    warmUp();
    openScanner("foregroundBottom");
    scanner->setFlashlightEnabled(true);
    platform::NotificationCenter::defaultCenter().post(MVLibraryApplicationReceivedBootAppCommand);
    EXPECT_FALSE(scanner->isOpen());
    EXPECT_EQ(device->torchMode(), platform::TorchMode::Off);
    EXPECT_EQ(containerOrigin(), (platform::Point{0, H()}));
    EXPECT_EQ(events("viewDidDisappear").back(), json::array({false}));
}

TEST_F(ScannerViewTest, AnUnanimatedReopeningDuringAClosingKeepsItsCameraView) {
    warmUp();
    openScanner();
    scanner->closeScannerWithAnimation("foregroundBottom");
    platform::advanceBy(0.1);
    scanner->openScannerWithSrc(kPage, std::nullopt, nullptr, true, false);
    auto cameraView = scanner->scannerView();
    ASSERT_TRUE(cameraView);
    platform::advanceBy(0.5);
    EXPECT_EQ(scanner->scannerView(), cameraView);
    EXPECT_EQ(cameraView->superview(), scanner->scannerContainerView());
    EXPECT_EQ(cameraView->alpha(), 1);
    EXPECT_TRUE(scanner->session()->isRunning());
}

TEST_F(ScannerViewTest, AnEarlierPageForAnotherAddressLeavesAtTheNextOpening) {
    warmUp();
    auto first = scanner->contentWebView();
    openScanner(std::nullopt, true, false, kOtherPage);
    EXPECT_NE(scanner->contentWebView(), first);
    EXPECT_FALSE(first->superview());
}

TEST_F(ScannerViewTest, StatusBarAnswersComeFromThePageWhileOpen) {
    auto& defaults = *MVStatusBarStyle::statusBarStyleAppDefault();
    EXPECT_EQ(scanner->preferredStatusBarStyle(), content->preferredStatusBarStyle());
    openScanner();
    scanner->webViewDidChangePreferredStatusBarStyle(*scanner->contentWebView(),
                                                     MVStatusBarStyle::statusBarStyleLight());
    EXPECT_EQ(scanner->preferredStatusBarStyle(), platform::StatusBarStyle::LightContent);
    scanner->webViewDidChangePreferredStatusBarStyle(*scanner->contentWebView(),
                                                     MVStatusBarStyle::statusBarStyleNone());
    EXPECT_TRUE(scanner->prefersStatusBarHidden());
    scanner->closeScannerWithAnimation(std::nullopt);
    EXPECT_FALSE(scanner->prefersStatusBarHidden());

    auto bare = MVScannerViewController::create();
    EXPECT_EQ(bare->preferredStatusBarStyle(), defaults.preferredStatusbarStyle());
}

TEST_F(ScannerViewTest, ThePageGetsTheScannerContextAndMayCloseIt) {
    openScanner();
    auto& page = *scanner->contentWebView();
    EXPECT_EQ(scanner->navigationControllerForWebView(page), nullptr);
    auto context = scanner->pageContextForSource("<p>s</p>", "mvtest://pages/", true, {"tag"});
    ASSERT_TRUE(context);
    EXPECT_EQ(context->eventName(), "pageContext");
    EXPECT_EQ(context->parameters().dump().find("\"scanner\"") != std::string::npos, true);
    scanner->webViewDemandsCloseByCombat(page);
    EXPECT_FALSE(scanner->isOpen());
    EXPECT_EQ(events("viewDidDisappear").back(), json::array({false}));
}

TEST_F(ScannerViewTest, ARotationTurnsThePictureAndFitsTheViews) {
    openScanner();
    platform::Application::shared().setStatusBarOrientation(
        platform::InterfaceOrientation::LandscapeLeft);
    auto connection = scanner->previewLayer()->connection();
    ASSERT_TRUE(connection);
    EXPECT_EQ(connection->videoOrientation(), platform::VideoOrientation::LandscapeLeft);
    const Rect landscape = platform::Screen::main().bounds();
    EXPECT_GT(landscape.size.width, landscape.size.height);
    EXPECT_EQ(scanner->view()->frame(), landscape);
    EXPECT_EQ(scanner->scannerView()->frame(), scanner->view()->bounds());
    EXPECT_EQ(scanner->previewLayer()->frame(), scanner->view()->bounds());
    // A closed scanner does nothing.
    scanner->closeScannerWithAnimation(std::nullopt);
    platform::Application::shared().setStatusBarOrientation(
        platform::InterfaceOrientation::Portrait);
    EXPECT_FALSE(scanner->session());
}

TEST_F(ScannerViewTest, AClosingDuringTheOpeningSlideLeavesNoCamera) {
    struct CloseCase {
        double after;  // seconds into the 0.3 s slide
        std::optional<std::string> animation;
        std::vector<std::string> heard;
    };
    const std::vector<std::string> unanimated = {"viewWillAppear", "viewWillDisappear",
                                                 "viewDidDisappear"};
    const std::vector<CloseCase> cases = {
        {0, std::nullopt, unanimated},         {0.1, std::nullopt, unanimated},
        {0.2, std::nullopt, unanimated},       {0.299, std::nullopt, unanimated},
        {0.1, "foregroundBottom", unanimated}, {0.25, "foregroundRight", unanimated},
    };
    warmUp();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.after);
        heardBefore = eventNames().size();
        scanner->openScannerWithSrc(kPage, std::string("foregroundBottom"), nullptr, true, false);
        platform::advanceBy(c.after);
        scanner->closeScannerWithAnimation(c.animation);
        platform::advanceBy(1.0);
        EXPECT_FALSE(scanner->isOpen());
        EXPECT_FALSE(scanner->session());
        EXPECT_FALSE(scanner->scannerView());
        const auto& inContainer = scanner->scannerContainerView()->subviews();
        EXPECT_EQ(inContainer,
                  (std::vector<std::shared_ptr<platform::View>>{
                      std::static_pointer_cast<platform::View>(scanner->contentWebView())}));
        EXPECT_EQ(heardSinceWarmUp(), c.heard);
    }
    // A reopening during the first slide is the one that completes.
    scanner->openScannerWithSrc(kPage, std::string("foregroundBottom"), nullptr, true, false);
    platform::advanceBy(0.1);
    scanner->closeScannerWithAnimation(std::nullopt);
    scanner->openScannerWithSrc(kPage, std::string("foregroundBottom"), nullptr, true, false);
    heardBefore = eventNames().size();
    platform::advanceBy(0.25);
    EXPECT_FALSE(scanner->session());
    platform::advanceBy(0.05);
    EXPECT_TRUE(scanner->session());
    EXPECT_EQ(heardSinceWarmUp(), std::vector<std::string>{"viewDidAppear"});
}

// A closing slide's end is the closed page's "viewDidDisappear": it never reaches the
// page of a later opening, nor the page once a newer movement began.
TEST_F(ScannerViewTest, AClosingSlidesEndReachesOnlyThePageItClosed) {
    enum class Then { Nothing, CloseWithoutSlide, OpenLoading, OpenLoaded };
    struct Row {
        const char* name;
        double closeAt;  // after the opening began; its slide takes 0.3 s
        Then then;
        double thenAfter;  // after the closing
        std::vector<std::string> closedHears;
        std::vector<std::string> nextHears;  // the page of the next opening
    };
    const std::vector<std::string> both = {"viewWillAppear", "viewDidAppear"};
    const std::vector<std::string> openClose = {"viewWillAppear", "viewDidAppear",
                                                "viewWillDisappear", "viewDidDisappear"};
    const Row rows[] = {
        {"TwoClosingsInATurnDuringTheOpeningThenAnotherPage",
         0.1,
         Then::CloseWithoutSlide,
         0,
         {"viewWillAppear", "viewWillDisappear", "viewWillDisappear", "viewDidDisappear"},
         both},
        {"AnotherPageOpensInTheClosingsTurn", 0.6, Then::OpenLoading, 0, openClose, both},
        {"AnotherPageOpensDuringTheSlide", 0.6, Then::OpenLoading, 0.1, openClose, both},
        {"AnotherPageOpensAfterTheSlide", 0.6, Then::OpenLoading, 0.4, openClose, both},
        {"ThePageReopensDuringTheSlide",
         0.6,
         Then::OpenLoaded,
         0.1,
         {"viewWillAppear", "viewDidAppear", "viewWillDisappear", "viewWillAppear",
          "viewDidAppear"},
         {}},
        {"ThePageReopensAfterTheSlide",
         0.6,
         Then::OpenLoaded,
         0.4,
         {"viewWillAppear", "viewDidAppear", "viewWillDisappear", "viewDidDisappear",
          "viewWillAppear", "viewDidAppear"},
         {}},
        {"NothingFollows", 0.6, Then::Nothing, 0, openClose, {}},
    };
    warmUp();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (scanner->isOpen()) scanner->closeScannerWithAnimation(std::nullopt);
        platform::advanceBy(1);
        // A page not loaded yet for each row.
        const std::string loading = std::string("mvtest://pages/") + row.name;
        site->serve(loading, "text/html", "<p>next</p>");
        auto closed = MVWebViewCache::sharedCache().cachedWebViewForUrl(
            kPage, scanner->scannerContainerView().get());
        const size_t before = models->modelOf(*closed)->events().size();
        scanner->openScannerWithSrc(kPage, std::string("foregroundBottom"), nullptr, true, false);
        // Ignored: the scanner is open.
        scanner->openScannerWithSrc(kOtherPage, std::nullopt, nullptr, true, false);
        platform::advanceBy(row.closeAt);
        scanner->closeScannerWithAnimation(std::string("foregroundBottom"));
        platform::advanceBy(row.thenAfter);
        std::string next = row.then == Then::OpenLoading ? loading : kPage;
        if (row.then == Then::CloseWithoutSlide) {
            scanner->closeScannerWithAnimation(std::nullopt);
            platform::advanceBy(0.1);
            next = loading;
        }
        if (row.then != Then::Nothing)
            scanner->openScannerWithSrc(next, std::nullopt, nullptr, true, false);
        platform::advanceBy(1);
        renderPage();
        platform::advanceBy(1);
        auto appearance = [&](const MVWebView& page, size_t from) {
            std::vector<std::string> heard;
            const auto& events = models->modelOf(page)->events();
            for (auto it = events.begin() + long(from); it != events.end(); ++it)
                if (it->name.starts_with("view")) heard.push_back(it->name);
            return heard;
        };
        EXPECT_EQ(appearance(*closed, before), row.closedHears);
        if (row.nextHears.empty()) continue;
        ASSERT_NE(scanner->contentWebView(), closed);
        EXPECT_EQ(appearance(*scanner->contentWebView(), 0), row.nextHears);
    }
}

TEST_F(ScannerViewTest, TheChainMakesTheScannerItsThirdContainer) {
    scanner.reset();
    MVViewControllerHierarchy::install();
    MVScannerViewController::install();
    auto hierarchy = MVViewControllerHierarchyInterface::hierarchyWithControllers(
        {{"MVSplashScreenController", nullptr},
         {"MVNotificationController", nullptr},
         {"MVScannerViewController", nullptr},
         {"MVTabController", nullptr}});
    ASSERT_TRUE(hierarchy);
    auto chained =
        std::dynamic_pointer_cast<MVScannerViewController>(hierarchy->viewControllers().at(2));
    ASSERT_TRUE(chained);
    EXPECT_EQ(MVScannerViewControllerInterface::sharedDefaultInstance(), chained);
    EXPECT_EQ(chained->contentViewController(), hierarchy->viewControllers().at(3));
    EXPECT_EQ(chained->scannerContainerView()->frame().origin.y,
              chained->contentContainerView()->frame().size.height);
    MVViewControllerHierarchy::installContainerClass("MVScannerViewController", {});
}

}  // namespace
