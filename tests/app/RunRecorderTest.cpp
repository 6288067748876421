// The run's record: the page it times is the first page of the tab shown, never the
// menu bar's page that may finish first.
#include <gtest/gtest.h>

#include "app/RunRecorder.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/bridge/MVWebViewController.h"
#include "libmerovane/containers/MVMenuBarController.h"
#include "libmerovane/containers/MVNavigationController.h"
#include "libmerovane/containers/MVTabController.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/TestDriver.h"
#include "platform/ui/Window.h"
#include "tests/app/SampleShopRun.h"
#include "tests/support/ContainerPageDriver.h"
#include "tests/support/FakeLocalization.h"
#include "tests/support/FakeWebCache.h"
#include "tests/support/PageModelsForAllWebViews.h"
#include "tests/support/PlatformTest.h"

namespace {

class RunRecorderTest : public PlatformTest {
  protected:
    void SetUp() override {
        PlatformTest::SetUp();
        cache = FakeWebCache::install();
        localization = FakeLocalization::install();
        for (const char* page : {"menu", "home"})
            cache->setPage(std::string("mv-api-page:") + page, "<p>page</p>",
                           std::string("https://shop.example/") + page);
        models = std::make_unique<PageModelsForAllWebViews>(
            [](HeadlessPageModel::Settings& settings) { settings.library = true; });
        tabs = MVTabController::create();
        menuBar = MVMenuBarController::create(tabs);
        window = platform::Window::create(platform::Rect(0, 0, 320, 568));
        window->setRootViewController(menuBar);
        window->makeKeyAndVisible();
    }
    void TearDown() override {
        recorder.reset();
        window.reset();
        menuBar.reset();
        tabs.reset();
        models.reset();
        platform::runUntilIdle();
        PlatformTest::TearDown();
    }
    std::string presented() const { return sampleshop::readText(out.file("presented.json")); }

    TempDir out;
    std::shared_ptr<FakeWebCache> cache;
    std::shared_ptr<FakeLocalization> localization;
    std::unique_ptr<PageModelsForAllWebViews> models;
    std::shared_ptr<MVTabController> tabs;
    std::shared_ptr<MVMenuBarController> menuBar;
    std::shared_ptr<platform::Window> window;
    std::shared_ptr<RunRecorder> recorder;
};

TEST_F(RunRecorderTest, TheFirstPageOfTheShownTabCountsNotTheMenuBarsPage) {
    const int64_t start = platform::Clock::monotonicNanos();
    recorder = RunRecorder::start(out.path(), start);
    ASSERT_TRUE(recorder);
    // The menu bar's page is shown first, over a tab whose page has not loaded.
    auto home = MVWebViewController::create();
    tabs->navigationController("main")->pushViewController(home, false);
    menuBar->setMenuBarWithUrl("mvapi:menu", nullptr);
    platform::runUntilIdle();
    ASSERT_TRUE(ContainerPage::of(menuBar->nextMenuBar(), *models)->finishLoading({320, 49}));
    menuBar->showMenuBarWithAnimation(MVBarAnimation::None, std::nullopt);
    platform::advanceBy(3);
    EXPECT_EQ(presented(), "");

    platform::advanceBy(1);
    home->openUrl("mvapi:home");
    platform::runUntilIdle();
    ASSERT_TRUE(ContainerPage::of(home->webViewFinal(), *models)->finishLoading({320, 500}));
    const double loaded = static_cast<double>(platform::Clock::monotonicNanos() - start) / 1e9;
    platform::advanceBy(2);
    auto record = platform::json::parse(presented());
    ASSERT_TRUE(record.ok()) << presented();
    EXPECT_EQ(record.value["url"], "mvapi:home");
    EXPECT_GE(record.value["firstPageSeconds"].get<double>(), loaded);
    EXPECT_LT(record.value["firstPageSeconds"].get<double>(), loaded + 0.5);
}

}  // namespace
