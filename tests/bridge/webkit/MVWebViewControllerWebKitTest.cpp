// The web page view controller over the real engine: a cached API page opened with a
// preview template from the pool of preloaded web views.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "libmerovane/bridge/MVWebViewCache.h"
#include "libmerovane/bridge/MVWebViewController.h"
#include "tests/bridge/webkit/MVWebViewWebKitFixture.h"
#include "tests/support/FakeWebCache.h"
#include "tests/support/RecordingContainers.h"
#include "tests/support/ServingURLProtocol.h"

namespace {

constexpr const char* kControllerTemplate = "mvtest://templates/preview";

class MVWebViewControllerWebKitTest : public MVWebViewWebKitFixture {
  protected:
    bool calledWith(const std::string& call) const {
        return std::find(stack->calls.begin(), stack->calls.end(), call) != stack->calls.end();
    }

    std::shared_ptr<RecordingNavigationStack> stack =
        std::make_shared<RecordingNavigationStack>(std::string("home"));
};

TEST_F(MVWebViewControllerWebKitTest, ACachedApiPageShowsItsPoolPreviewFirstThenThePage) {
    auto cache = FakeWebCache::install();
    cache->setPage("mv-api-page:home", "<html><body><p>home</p></body></html>",
                   "http://shop.invalid/home");
    ServingURLProtocol site("mvtest");
    site.serve(kControllerTemplate, "text/html", "<html><body><p>template</p></body></html>");
    auto pooled = MVWebViewCache::sharedCache().cachedWebViewForUrl(kControllerTemplate);
    ASSERT_TRUE(settle([&] { return !pooled->isLoading(); }));

    auto controller = MVWebViewController::create();
    stack->addChildViewController(controller);
    controller->openUrl("mvapi:home", kControllerTemplate, nlohmann::json{{"title", "Home"}});
    // The preview shows at once; the page stays invisible until presented.
    ASSERT_EQ(controller->webViewPreview(), pooled);
    EXPECT_EQ(pooled->superview(), controller->view());
    EXPECT_EQ(pooled->alpha(), 1);
    EXPECT_EQ(controller->webViewFinal()->alpha(), 0);
    EXPECT_EQ(controller->previewParams(), (nlohmann::json{{"title", "Home"}, {"cached", true}}));

    ASSERT_TRUE(settle([&] { return !controller->isLoading(); }));
    EXPECT_EQ(controller->webViewFinal()->alpha(), 1);
    EXPECT_EQ(controller->webViewFinal()->currentUrl(), "mvapi:home");
    EXPECT_FALSE(controller->webViewPreview());
    EXPECT_EQ(pooled->superview(), nullptr);
    EXPECT_TRUE(calledWith("performEvent(beginPageProgress)"));
    EXPECT_TRUE(calledWith("performEvent(endPageProgress)"));
    controller.reset();
    platform::runUntilIdle();
}

}  // namespace
