// The host's launch handler in process: the reset on a new application identifier, the
// caching switch and the window with the container chain.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/AppDelegate.h"
#include "libmerovane/application/MVLibraryApplication.h"
#include "libmerovane/core/MVViewControllerHierarchyInterface.h"
#include "libmerovane/storage/MVPersistentStorage.h"
#include "libmerovane/storage/MVWebStorageVariable.h"
#include "libmerovane/webcache/MVWebCache.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/Application.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "tests/support/ApiConnectionTest.h"
#include "tests/support/RecordingMenus.h"

using nlohmann::json;

namespace {

class FixedHierarchy : public MVViewControllerHierarchyInterface {
  public:
    std::vector<std::shared_ptr<platform::ViewController>> viewControllers() const override {
        return controllers;
    }
    std::vector<std::shared_ptr<platform::ViewController>> controllers;
};

class AppDelegateTest : public ApiConnectionTest {
  protected:
    void SetUp() override {
        ApiConnectionTest::SetUp();
        home_->write("Bundle/Info.json", json{{"CFBundleIdentifier", "com.example.shop"},
                                              {"CFBundleVersion", "1"},
                                              {"MVApplicationIdentifier", "shop"}}
                                             .dump());
        platform::Bundle::setMainBundlePathForTesting(home_->file("Bundle"));
        MVLibraryApplication::sharedLibrary();
    }
    void TearDown() override {
        MVViewControllerHierarchyInterface::setBuilder(nullptr);
        platform::Bundle::setMainBundlePathForTesting({});
        ApiConnectionTest::TearDown();
    }
    // Launches a new delegate; answers whether the stored state survived it.
    bool launchKeepsStoredState() {
        MVPersistentStorage::sharedStorage().lockedAccess(
            [] { MVWebStorageVariable::dbObjectCreate()->setId("cart"); });
        AppDelegate delegate;
        EXPECT_TRUE(
            delegate.didFinishLaunchingWithOptions(platform::Application::shared(), nullptr));
        window = delegate.window();
        bool kept = false;
        MVPersistentStorage::sharedStorage().lockedAccess([&] {
            kept = !MVWebStorageVariable::dbObjectsWithoutFetchingProperties().empty();
            for (auto& row : MVWebStorageVariable::dbObjectsWithoutFetchingProperties())
                row->deleteFromStorage();
        });
        return kept;
    }

    std::shared_ptr<platform::Window> window;
};

TEST_F(AppDelegateTest, ANewApplicationIdentifierResetsTheStoredState) {
    auto& defaults = platform::UserDefaults::standard();
    EXPECT_FALSE(launchKeepsStoredState());  // the first launch
    EXPECT_EQ(defaults.stringForKey(MVLastRunningAppIdentifier), "shop");
    EXPECT_TRUE(launchKeepsStoredState());
    defaults.setObject("app_identifier", " other ");
    EXPECT_FALSE(launchKeepsStoredState());
    EXPECT_EQ(defaults.stringForKey(MVLastRunningAppIdentifier), "other");
    EXPECT_TRUE(launchKeepsStoredState());
}

TEST_F(AppDelegateTest, CachingFollowsTheDeveloperSetting) {
    platform::UserDefaults::standard().setObject("caching_disabled", true);
    launchKeepsStoredState();
    EXPECT_FALSE(MVWebCache::sharedCache().isCachingEnabled());
    platform::UserDefaults::standard().setObject("caching_disabled", false);
    launchKeepsStoredState();
    EXPECT_TRUE(MVWebCache::sharedCache().isCachingEnabled());
}

TEST_F(AppDelegateTest, TheWindowShowsTheContainerChainOrAnEmptyRoot) {
    launchKeepsStoredState();
    EXPECT_TRUE(logged(AppDelegate::kNoHierarchyLine));
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->rootViewController());
    EXPECT_EQ(platform::Application::shared().keyWindow(), window);

    std::vector<std::string> names;
    auto hierarchy = std::make_shared<FixedHierarchy>();
    hierarchy->controllers = {platform::ViewController::create(),
                              platform::ViewController::create()};
    MVViewControllerHierarchyInterface::setBuilder(
        [&](const std::vector<MVViewControllerInfo>& infos) {
            for (const auto& info : infos) {
                names.push_back(info.className);
                if (info.configuration) info.configuration(platform::ViewController::create());
            }
            return hierarchy;
        });
    launchKeepsStoredState();
    EXPECT_EQ(names, (std::vector<std::string>{
                         "MVSplashScreenController", "MVNotificationController",
                         "MVScannerViewController", "MVBackgroundMenuController",
                         "MVBackgroundMenuController", "MVMenuBarController", "MVTabController"}));
    EXPECT_EQ(window->rootViewController(), hierarchy->controllers.front());
    EXPECT_EQ(platform::Application::shared().keyWindow(), window);
}

// The menu bar's configuration gives it the status bar's thickness on top, nothing else.
TEST_F(AppDelegateTest, TheMenuBarLearnsTheStatusBarsThicknessAtLaunch) {
    auto menuBar = RecordingMenuBar::create(std::nullopt);
    MVViewControllerHierarchyInterface::setBuilder(
        [&](const std::vector<MVViewControllerInfo>& infos) {
            for (const auto& info : infos)
                if (info.className == "MVMenuBarController" && info.configuration)
                    info.configuration(menuBar);
            return nullptr;
        });
    launchKeepsStoredState();
    const auto frame = platform::Application::shared().statusBarFrame();
    ASSERT_GT(frame.size.width, frame.size.height);
    platform::EdgeInsets top;
    top.top = frame.size.height;
    using Calls = std::vector<std::pair<platform::EdgeInsets, bool>>;
    EXPECT_EQ(menuBar->insets, (Calls{{top, false}}));
}

}  // namespace
