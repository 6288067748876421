#pragma once
// The splash screen in a real window: a main bundle with the library's resource bundle
// and a launch image, a web cache whose answers the test scripts (and may hold per key),
// pages on the headless engine, and a splash controller over a plain content controller
// as the window's root.
//
//   standUp();                    // the controller stands; the built-in page loads
//   ASSERT_TRUE(renderPage());     // through the container page driver
//   driver()->askToClose();

#include <filesystem>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/core/MVUserDefaultsKeys.h"
#include "libmerovane/overlays/MVSplashScreen.h"
#include "libmerovane/overlays/MVSplashScreenBundleURLProtocol.h"
#include "libmerovane/overlays/MVSplashScreenController.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/TestDriver.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/Application.h"
#include "platform/ui/Image.h"
#include "platform/ui/Screen.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "tests/support/ContainerPageDriver.h"
#include "tests/support/FakeWebCache.h"
#include "tests/support/PageModelsForAllWebViews.h"
#include "tests/support/PlatformTest.h"
#include "tests/support/PollingWait.h"
#include "tests/support/TempDir.h"

// A scripted web cache that can also hold the answers of chosen keys until the test
// releases them one key at a time.
class HoldingWebCache : public FakeWebCache {
  public:
    void dataForKey(const std::string& key, WhenAvailable whenAvailable,
                    WhenLoadingStarts whenLoadingStarts, WhenFailed whenFailed) override {
        if (!held.count(key)) {
            FakeWebCache::dataForKey(key, std::move(whenAvailable), std::move(whenLoadingStarts),
                                     std::move(whenFailed));
            return;
        }
        lookups.push_back(key);
        waiting_[key].push_back(std::move(whenAvailable));
    }
    // Answers the held lookups of the key with content.
    void release(const std::string& key) {
        auto answers = std::move(waiting_[key]);
        waiting_.erase(key);
        auto data = std::make_shared<const std::vector<uint8_t>>(3, 'x');
        for (auto& answer : answers)
            if (answer) answer(false, false, data, nlohmann::json::object());
    }
    std::set<std::string> held;

  private:
    std::map<std::string, std::vector<WhenAvailable>> waiting_;
};

class SplashScreenTest : public PlatformTest {
  protected:
    static constexpr const char* kBundleVersion = "42";

    void SetUp() override {
        PlatformTest::SetUp();
        writeMainBundle();
        platform::UserDefaults::standard().setObject(MVLibraryApplicationLastLaunchedVersion,
                                                     kBundleVersion);
        cache = std::make_shared<HoldingWebCache>();
        MVWebCacheInterface::setShared(cache);
        MVSplashScreenController::install();
    }
    void TearDown() override {
        window.reset();
        controller.reset();
        content.reset();
        models.reset();
        platform::runUntilIdle();
        platform::URLProtocol::unregisterClass(MVSplashScreenBundleURLProtocol::factory());
        platform::Bundle::setMainBundlePathForTesting({});
        PlatformTest::TearDown();
    }

    // Info.json, the library's resource bundle (its built-in page unless left out) and
    // the launch image of the default phone.
    void writeMainBundle(bool withBuiltInPage = true) {
        namespace fs = std::filesystem;
        const std::string bundle = home.file("Bundle");
        fs::remove_all(bundle);
        home.write("Bundle/Info.json", nlohmann::json{{"CFBundleIdentifier", "com.example.shop"},
                                                      {"CFBundleVersion", kBundleVersion}}
                                           .dump());
        fs::copy(MV_RESOURCE_BUNDLE_DIR, bundle + "/libmerovane.bundle",
                 fs::copy_options::recursive);
        if (!withBuiltInPage) fs::remove(bundle + "/libmerovane.bundle/DefaultSplashScreen.html");
        home.write("Bundle/Default-568h@2x.png", launchPicture().pngData());
        platform::Bundle::setMainBundlePathForTesting(bundle);
    }
    static platform::Image launchPicture() { return platform::Image(3, 5, 2, {1, 2, 3, 255}); }

    // The splash controller over a plain content controller, root of a visible key window.
    void standUp() {
        // Pages carry the page library, as the built-in page does.
        models = std::make_unique<PageModelsForAllWebViews>(
            [](HeadlessPageModel::Settings& settings) { settings.library = true; });
        content = platform::ViewController::create();
        controller = MVSplashScreenController::initWithContentViewController(content);
        window = platform::Window::create(platform::Screen::main().bounds());
        window->setRootViewController(controller);
        window->makeKeyAndVisible();
    }

    std::shared_ptr<MVSplashScreen> splash() { return MVSplashScreen::sharedView(); }
    std::shared_ptr<MVWebView> page() { return splash()->splashScreenWebView(); }
    // The splash page as the page driver sees it.
    std::shared_ptr<ContainerPage> driver() { return ContainerPage::of(page(), *models); }
    // Runs until the splash page has rendered (at the splash's size), its onload sent; a
    // page taken in already loaded has.
    bool renderPage() {
        if (!page()) return false;
        if (splash()->webViewIsRenderd()) return true;
        return driver()->finishLoading(splash()->bounds().size) && splash()->webViewIsRenderd();
    }
    std::vector<HeadlessPageModel::ReceivedEvent> pageEvents(const MVWebView& webView) const {
        auto model = models ? models->modelOf(webView) : nullptr;
        return model ? model->events() : std::vector<HeadlessPageModel::ReceivedEvent>{};
    }
    std::vector<HeadlessPageModel::ReceivedEvent> pageEvents() { return pageEvents(*page()); }
    static std::optional<std::string> storedUrl() {
        return platform::UserDefaults::standard().stringForKey(MVSplashScreenURLInUserDefaultsKey);
    }
    static void store(const std::string& url) {
        platform::UserDefaults::standard().setObject(MVSplashScreenURLInUserDefaultsKey, url);
    }
    bool contentTakesTouches() const {
        return controller->contentContainerView()->isUserInteractionEnabled();
    }
    bool splashTakesTouches() const {
        return controller->splashScreenContainerView()->isUserInteractionEnabled();
    }

    TempDir home;
    std::shared_ptr<HoldingWebCache> cache;
    std::unique_ptr<PageModelsForAllWebViews> models;
    std::shared_ptr<platform::ViewController> content;
    std::shared_ptr<MVSplashScreenController> controller;
    std::shared_ptr<platform::Window> window;
};
