// A shop page with an image whose server declares a length and breaks off every time, in
// the real engine: the healthy resources load meanwhile, the broken image fails to the
// page once its repeats are over, the page is shown then, and nothing is held after.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/bridge/MVWebViewAdapter.h"
#include "libmerovane/core/MVConnectionLossMonitor.h"
#include "libmerovane/webcache/MVWebCache.h"
#include "libmerovane/webcache/MVWebCacheDataSource.h"
#include "libmerovane/webcache/MVWebCacheHTTPDataSource.h"
#include "platform/foundation/TestDriver.h"
#include "platform/web/WebView.h"
#include "platform/web/webkit/WebKitGtkWebEngine.h"
#include "tests/support/CutAnswer.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/RecordingMVWebViewDelegate.h"
#include "tests/support/StorageFixture.h"

namespace {

using Monitor = MVConnectionLossMonitor;
constexpr size_t kAttempts = MVWebCacheHTTPDataSource::kMaximumAnsweredRepeats + 1;

class MVWebCacheBrokenImageWebKitTest : public StorageTest {
  protected:
    static constexpr double kPatience = 60.0;  // real seconds; never a sleep

    void SetUp() override {
        StorageTest::SetUp();
        MVWebCache::sharedCache();
        MVWebCacheDataSource::registerBuiltInDataSources();
        Monitor::beginMonitoring();
        platform::WebView::setEngineFactory(
            [] { return std::make_unique<platform::WebKitGtkWebEngine>(); });
    }
    void TearDown() override {
        webView_.reset();
        platform::WebView::setEngineFactory(nullptr);
        platform::runUntilIdle();
        StorageTest::TearDown();
    }

    // Real I/O while the platform clock moves on, 50 ms a turn, so that the ready poll
    // and the source's repeats run.
    static bool drive(const std::function<bool()>& done) {
        return platform::runUntil(
            [&] {
                if (done()) return true;
                platform::advanceBy(0.05);
                return done();
            },
            kPatience);
    }
    std::string js(const std::string& script) {
        return webView_->webView()->stringByEvaluatingJavaScriptFromString(script);
    }
    // How many of the page's images loaded, and how many failed to it.
    std::string imagesLoadedAndFailed() { return js("window.loaded + '/' + window.failed"); }
    // Opens a page on a new web view whose images are `images` in this order.
    void openPage(const std::string& path, const std::vector<std::string>& images) {
        std::string page =
            "<html><head><script>window.loaded = 0; window.failed = 0;</script></head><body>";
        for (const auto& image : images)
            page += "<img src='" + image + "' onload='window.loaded++' onerror='window.failed++'>";
        site_.respond(path, HttpTestServer::Response::text(200, page + "</body></html>",
                                                           "text/html; charset=utf-8"));
        webView_ = MVWebView::create(platform::Rect(0, 0, 320, 480));
        owner_ = std::make_shared<RecordingMVWebViewDelegate>();
        webView_->setDelegate(owner_);
        webView_->openUrl(site_.url(path));
    }
    std::string healthy(const std::string& name) {
        site_.respond(name,
                      HttpTestServer::Response::text(
                          200, "<svg xmlns='http://www.w3.org/2000/svg' width='3' height='2'/>",
                          "image/svg+xml"));
        return site_.url(name);
    }
    std::string broken(const std::string& name) {
        site_.respond(name, cutAnswer(2 << 20, 200 << 10, "image/png"));
        return name;  // same host as the page
    }
    bool shown() const { return owner_->count("didFinishLoad") > 0; }

    HttpTestServer site_;
    std::shared_ptr<MVWebView> webView_;
    std::shared_ptr<RecordingMVWebViewDelegate> owner_;
};

}  // namespace

TEST_F(MVWebCacheBrokenImageWebKitTest, TheShopIsShownOnceTheBrokenImagesRepeatsHaveFailed) {
    const struct {
        const char* name;
        std::vector<int> images;  // 0 a healthy image, 1 a broken one
    } rows[] = {
        {"broken first", {1, 0, 0}},
        {"broken among healthy ones", {0, 1, 0}},
        {"broken last", {0, 0, 1}},
        {"two broken images", {1, 0, 1}},
    };
    int page = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ++page;
        std::vector<std::string> images, brokenPaths;
        size_t healthyCount = 0;
        for (size_t i = 0; i < row.images.size(); ++i) {
            const std::string name = "/" + std::to_string(page) + "-" + std::to_string(i);
            if (row.images[i]) {
                brokenPaths.push_back(name + ".png");
                images.push_back(broken(brokenPaths.back()));
            } else {
                ++healthyCount;
                images.push_back(healthy(name + ".svg"));
            }
        }
        const auto opened = platform::Date::now();
        openPage("/page" + std::to_string(page), images);
        const auto attempts = [&](size_t count) {
            for (const auto& path : brokenPaths)
                if (site_.requestCount(path) < count) return false;
            return true;
        };

        // While the broken image is repeated, its healthy neighbours load.
        ASSERT_TRUE(drive([&] { return attempts(2); }));
        ASSERT_TRUE(
            drive([&] { return imagesLoadedAndFailed() == std::to_string(healthyCount) + "/0"; }));
        EXPECT_FALSE(shown());

        // Its last attempt fails to the page, which is shown then.
        ASSERT_TRUE(drive([&] { return shown(); }));
        // Shown by the error, 20 s of repeats after the first attempt, not by any time-out.
        EXPECT_LT(platform::Date::now().timeIntervalSince(opened), 35.0);
        EXPECT_TRUE(attempts(kAttempts));
        EXPECT_EQ(imagesLoadedAndFailed(),
                  std::to_string(healthyCount) + "/" + std::to_string(brokenPaths.size()));
        for (const auto& path : brokenPaths) EXPECT_EQ(site_.requestCount(path), kAttempts);
        EXPECT_EQ(Monitor::sharedMonitor().state(), Monitor::kStateOpened);

        // Later loads of the same host go through at once.
        js("var more = new Image(); more.onload = function() { window.more = 'yes'; };"
           "more.src = '" +
           healthy("/" + std::to_string(page) + "-later.svg") + "'; 0");
        EXPECT_TRUE(drive([&] { return js("window.more") == "yes"; }));
        EXPECT_EQ(Monitor::sharedMonitor().state(), Monitor::kStateOpened);
    }
}
