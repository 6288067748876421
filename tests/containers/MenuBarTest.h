#pragma once
// The menu bar controller in a 320 x 568 window over a content that records its insets;
// bar pages come from a fake web cache and are driven by the container page driver.
//
//   auto bar = setPage("mvapi:m", {320, 49});   // the first bar, rendered, hidden
//   menuBar->showMenuBarWithAnimation(MVBarAnimation::Slide, 2.0);
//   platform::runUntilIdle();                   // the movement starts at the next turn

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "libmerovane/bridge/MVViewHierarchyDelegate.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/containers/MVMenuBarController.h"
#include "platform/foundation/TestDriver.h"
#include "platform/ui/Animation.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "tests/containers/BarTestSupport.h"
#include "tests/support/ContainerPageDriver.h"
#include "tests/support/FakeWebCache.h"
#include "tests/support/PageModelsForAllWebViews.h"
#include "tests/support/PlatformTest.h"

// A content that records the insets it is given.
class MenuBarContent : public platform::ViewController, public MVViewHierarchyDelegate {
  public:
    static std::shared_ptr<MenuBarContent> create() {
        return std::shared_ptr<MenuBarContent>(new MenuBarContent);
    }
    void viewShouldAdjustInsets(const platform::EdgeInsets& insets, bool animated) override {
        calls.emplace_back(insets, animated);
    }
    std::vector<std::pair<platform::EdgeInsets, bool>> calls;
};

class MenuBarTest : public PlatformTest, protected AppearanceRecord {
  protected:
    static constexpr double kHeight = 568;
    // What the container above hands down: the status bar on top.
    static platform::EdgeInsets inherited(double bottom = 0) {
        platform::EdgeInsets insets;
        insets.top = 20;
        insets.bottom = bottom;
        return insets;
    }

    void SetUp() override {
        PlatformTest::SetUp();
        cache = FakeWebCache::install();
        for (const char* page : {"m", "n"})
            cache->setPage(std::string("mv-api-page:") + page, "<p>bar</p>",
                           std::string("https://shop.example/") + page);
        models = std::make_unique<PageModelsForAllWebViews>(
            [](HeadlessPageModel::Settings& settings) { settings.library = true; });
        content = MenuBarContent::create();
        menuBar = MVMenuBarController::create(content);
        window = platform::Window::create(platform::Rect(0, 0, 320, kHeight));
        window->setRootViewController(menuBar);
        window->makeKeyAndVisible();
        menuBar->viewShouldAdjustInsets(inherited(), false);
    }
    void TearDown() override {
        window.reset();
        menuBar.reset();
        platform::runUntilIdle();
        PlatformTest::TearDown();
    }

    // Runs the next bar's page until it has rendered at `size`.
    std::shared_ptr<ContainerPage> renderNext(platform::Size size) {
        auto bar = menuBar->nextMenuBar();
        if (!bar) {
            ADD_FAILURE() << "no next bar";
            return nullptr;
        }
        platform::runUntilIdle();  // the load starts at the next turn
        auto page = ContainerPage::of(bar, *models);
        EXPECT_TRUE(page->finishLoading(size));
        return page;
    }
    std::shared_ptr<ContainerPage> setPage(const std::string& url, platform::Size size,
                                           const nlohmann::json* menuParams = nullptr) {
        menuBar->setMenuBarWithUrl(url, menuParams);
        return renderNext(size);
    }
    // A 320 x 49 bar, shown without animation; the animation log starts empty and so do
    // its appearances.
    std::shared_ptr<ContainerPage> shownBar() {
        auto page = setPage("mvapi:m", {320, 49});
        menuBar->showMenuBarWithAnimation(MVBarAnimation::None, std::nullopt);
        platform::clearAnimationLog();
        skipAppearances(*page);
        return page;
    }

    platform::EdgeInsets lastInsets() const {
        return content->calls.empty() ? platform::EdgeInsets() : content->calls.back().first;
    }

    std::shared_ptr<FakeWebCache> cache;
    std::unique_ptr<PageModelsForAllWebViews> models;
    std::shared_ptr<MenuBarContent> content;
    std::shared_ptr<MVMenuBarController> menuBar;
    std::shared_ptr<platform::Window> window;
};
