// The web cache's URL protocol under the real engine: a cached page and its cached
// resources show without their server, and the page's own XHR and fetch still reach its
// server.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/bridge/MVWebViewAdapter.h"
#include "libmerovane/webcache/MVWebCache.h"
#include "platform/web/WebView.h"
#include "platform/web/webkit/WebKitGtkWebEngine.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/PollingWait.h"
#include "tests/support/RecordingMVWebViewDelegate.h"
#include "tests/support/StorageFixture.h"

namespace {

class MVWebCacheWebKitTest : public StorageTest {
  protected:
    // Real pages load in real time: generous bounds, never sleeps.
    static constexpr double kPatience = 30.0;

    void SetUp() override {
        StorageTest::SetUp();
        MVWebCache::sharedCache();
        platform::WebView::setEngineFactory(
            [] { return std::make_unique<platform::WebKitGtkWebEngine>(); });
        webView_ = MVWebView::create(platform::Rect(0, 0, 320, 480));
        owner_ = std::make_shared<RecordingMVWebViewDelegate>();
        webView_->setDelegate(owner_);
    }
    void TearDown() override {
        webView_.reset();
        platform::WebView::setEngineFactory(nullptr);
        platform::runUntilIdle();
        StorageTest::TearDown();
    }

    void cacheEntry(const std::string& url, const std::string& contentType,
                    const std::string& body) {
        MVWebCache::sharedCache().setData(
            std::make_shared<const std::vector<uint8_t>>(body.begin(), body.end()), url,
            {{"maximum-lifetime", 600},
             {"mime-type", contentType},
             {"http-status-code", 200},
             {"http-header-fields", {{"Content-Type", contentType}}}});
    }
    std::string js(const std::string& script) {
        return webView_->webView()->stringByEvaluatingJavaScriptFromString(script);
    }

    std::shared_ptr<MVWebView> webView_;
    std::shared_ptr<RecordingMVWebViewDelegate> owner_;
};

TEST_F(MVWebCacheWebKitTest,
       CachedPageShowsCachedResourcesWithoutTheirServerAndKeepsItsXHRAndFetch) {
    HttpTestServer site;  // the page's own server, running
    site.respond("/xhr", HttpTestServer::Response::text(200, "from server"));
    site.respond("/fetch", HttpTestServer::Response::text(200, "fetched"));
    std::string stopped;
    {
        HttpTestServer resources;
        stopped = resources.baseURL();
    }  // stopped: only the cache can answer for it
    cacheEntry(site.url("/page"), "text/html; charset=utf-8",
               "<html><head><script src='" + stopped +
                   "/app.js'></script>"
                   "<script src='/own.js'></script></head>"
                   "<body><img id='pic' src='" +
                   stopped + "/pic.svg'></body></html>");
    cacheEntry(stopped + "/app.js", "text/javascript", "window.ranScript = 'yes';");
    cacheEntry(site.url("/own.js"), "text/javascript", "window.ownScript = 'yes';");
    cacheEntry(stopped + "/pic.svg", "image/svg+xml",
               "<svg xmlns='http://www.w3.org/2000/svg' width='3' height='2'></svg>");

    webView_->openUrl(site.url("/page"));
    ASSERT_TRUE(runUntilPolled(
        [&] {
            return !webView_->isLoading() && js("window.ranScript") == "yes" &&
                   js("window.ownScript") == "yes" &&
                   js("document.getElementById('pic').naturalWidth") == "3";
        },
        kPatience));
    EXPECT_EQ(js("location.href"), site.url("/page"));
    EXPECT_EQ(site.requestCount(), 0u);

    js("var x = new XMLHttpRequest(); x.open('GET', '/xhr');"
       "x.onload = function() { window.answer = x.responseText; }; x.send(); 0");
    EXPECT_TRUE(runUntilPolled([&] { return js("window.answer") == "from server"; }, kPatience));
    EXPECT_EQ(site.requestCount("/xhr"), 1u);
    js("fetch('/fetch').then(function(r) { return r.text(); })"
       ".then(function(t) { window.fetched = t; }); 0");
    EXPECT_TRUE(runUntilPolled([&] { return js("window.fetched") == "fetched"; }, kPatience));
    EXPECT_EQ(site.requestCount(), 2u);
}

}  // namespace
