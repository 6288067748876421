// The web page view controller over the real web cache and a fresh store: the "cached"
// flag of preview parameters and the silent reload when the cache stores the shown page.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/bridge/MVWebViewController.h"
#include "libmerovane/webcache/MVWebCache.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/foundation/TestDriver.h"
#include "tests/support/FakeLocalization.h"
#include "tests/support/PageModelsForAllWebViews.h"
#include "tests/support/PollingWait.h"
#include "tests/support/ServingURLProtocol.h"
#include "tests/support/StorageFixture.h"

namespace {

constexpr const char* kPreviewOverWebCache = "mvtest://shop/template";

class PageControllerOverWebCacheTest : public StorageTest {
  protected:
    void SetUp() override {
        StorageTest::SetUp();
        localization = FakeLocalization::install();
        site = std::make_unique<ServingURLProtocol>("mvtest");
        site->serve(kPreviewOverWebCache, "text/html", "<p>template</p>");
        storePage("mv-api-page:home", "<p>home</p>");
        models = std::make_unique<PageModelsForAllWebViews>();
        controller = MVWebViewController::create();
    }
    void TearDown() override {
        controller.reset();
        models.reset();
        MVWebCache::waitForFileOperations();
        platform::runUntilIdle();
        platform::resetSharedInstancesForTesting();
        StorageTest::TearDown();
        site.reset();
    }

    MVWebCache& cache() { return MVWebCache::sharedCache(); }
    void storePage(const std::string& key, const std::string& body,
                   nlohmann::json info = nlohmann::json::object()) {
        info["maximum-lifetime"] = 600;
        info["base-url"] = "https://shop.example/";
        info["mime-type"] = "text/html";
        cache().setData(std::make_shared<const std::vector<uint8_t>>(body.begin(), body.end()), key,
                        info);
        platform::runUntilIdle();
    }
    bool presented() {
        return runUntilPolled([&] { return !controller->isLoading() && models->allLoaded(); },
                              10.0);
    }

    std::shared_ptr<FakeLocalization> localization;
    std::unique_ptr<ServingURLProtocol> site;
    std::unique_ptr<PageModelsForAllWebViews> models;
    std::shared_ptr<MVWebViewController> controller;
};

TEST_F(PageControllerOverWebCacheTest, TheCachedFlagAsksTheWebCache) {
    struct Case {
        const char* url;
        bool api;
        bool cached;
    };
    for (const Case& c : {Case{"home", true, true}, Case{"mvapi:home", false, true},
                          Case{"elsewhere", true, false}}) {
        SCOPED_TRACE(c.url);
        if (c.api)
            controller->openUrlApi(c.url, kPreviewOverWebCache, nlohmann::json{{"title", "T"}});
        else
            controller->openUrl(c.url, kPreviewOverWebCache, nlohmann::json{{"title", "T"}});
        EXPECT_EQ(controller->previewParams(),
                  (nlohmann::json{{"title", "T"}, {"cached", c.cached}}));
        ASSERT_TRUE(presented());
    }
}

TEST_F(PageControllerOverWebCacheTest, StoringTheShownApiPageReloadsItSilently) {
    controller->openUrl("mvapi:home");
    ASSERT_TRUE(presented());
    auto old = controller->webViewFinal();
    EXPECT_EQ(old->currentUrl(), "mvapi:home");

    // Other keys, and a store that asks for no notification, leave the page alone.
    storePage("mv-api-page:other", "<p>other</p>");
    storePage("mv-api-data:home", "{}");
    storePage("mv-api-page:home", "<p>quiet</p>", {{"no-notification-on-set", true}});
    EXPECT_FALSE(controller->webViewRefresh());
    EXPECT_FALSE(controller->isLoading());

    storePage("mv-api-page:home", "<p>home, new</p>");
    auto refresh = controller->webViewRefresh();
    ASSERT_TRUE(refresh);
    EXPECT_TRUE(controller->isLoading());
    ASSERT_TRUE(presented());
    EXPECT_EQ(controller->webViewFinal(), refresh);
    EXPECT_EQ(refresh->currentUrl(), "mvapi:home");
    EXPECT_TRUE(old->isGarbage());
    EXPECT_FALSE(controller->webViewRefresh());
}

}  // namespace
