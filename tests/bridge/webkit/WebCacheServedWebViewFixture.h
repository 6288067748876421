#pragma once
// MVWebView over the real engine with the web cache serving its documents, as in the
// shell: the cache over a fresh store, its data sources, and the API stream taken as
// there, so that its loads are not held as offline.
//
//   webView->openUrl(server.url("/page"));
//   ASSERT_TRUE(shown(server.url("/page")));

#include <functional>
#include <string>

#include "libmerovane/core/MVConnectionLossMonitor.h"
#include "libmerovane/webcache/MVWebCache.h"
#include "libmerovane/webcache/MVWebCacheDataSource.h"
#include "tests/bridge/webkit/MVWebViewWebKitFixture.h"
#include "tests/webcache/WebCacheSourceFixture.h"

class WebCacheServedWebViewFixture : public MVWebViewWebKitFixtureOn<WebCacheSourceTest> {
  protected:
    void SetUp() override {
        MVWebViewWebKitFixtureOn<WebCacheSourceTest>::SetUp();
        MVWebCacheDataSource::registerBuiltInDataSources();
        MVWebCache::sharedCache();
    }
    void TearDown() override {
        webView.reset();
        MVWebViewWebKitFixtureOn<WebCacheSourceTest>::TearDown();
    }
    bool settleOnline(const std::function<bool()>& done) {
        return settle([&] {
            MVConnectionLossMonitor::reportConnectionSuccess();
            return done();
        });
    }
    // The page is shown, with everything it asks for loaded or refused.
    bool shown(const std::string& url) {
        return settleOnline(
            [&] { return js("location.href") == url && js("document.readyState") == "complete"; });
    }
};
