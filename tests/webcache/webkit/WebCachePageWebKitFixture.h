#pragma once
// Fixture for shop pages in the real engine whose resources come through the web cache's
// HTTP source: the cache over a fresh store, its data sources, the connection-loss
// monitor, and a page of images whose load and error events it counts.
//
//   openPage(site_, "/shop", {site_.url("/ok.svg"), other.url("/img.png")});
//   ASSERT_TRUE(drive([&] { return shown(); }));
//   EXPECT_EQ(imagesLoadedAndFailed(), "1/1");

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/bridge/MVWebViewAdapter.h"
#include "libmerovane/connection/MVApiConnection.h"
#include "libmerovane/core/MVConnectionLossMonitor.h"
#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "libmerovane/webcache/MVWebCache.h"
#include "libmerovane/webcache/MVWebCacheDataSource.h"
#include "platform/foundation/TestDriver.h"
#include "platform/web/WebView.h"
#include "platform/web/webkit/WebKitGtkWebEngine.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/ProxyEnvironment.h"
#include "tests/support/RecordingMVWebViewDelegate.h"
#include "tests/support/StorageFixture.h"
#include "tests/support/TestApiConnectionHost.h"
#include "tools/peer/ApiPeer.h"

class WebCachePageWebKitTest : public StorageTest {
  protected:
    static constexpr double kPatience = 60.0;  // real seconds; never a sleep

    void SetUp() override {
        StorageTest::SetUp();
        MVWebCache::sharedCache();
        MVWebCacheDataSource::registerBuiltInDataSources();
        MVConnectionLossMonitor::beginMonitoring();
        platform::WebView::setEngineFactory(
            [] { return std::make_unique<platform::WebKitGtkWebEngine>(); });
    }
    void TearDown() override {
        webView_.reset();
        platform::WebView::setEngineFactory(nullptr);
        platform::runUntilIdle();
        StorageTest::TearDown();
    }

    // Real I/O while the platform clock moves on, 50 ms a turn, so that the ready poll,
    // the source's repeats and the monitor's checks run.
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
    // Opens `path` of `site` on a new web view: a page whose images are `images`, in order.
    void openPage(HttpTestServer& site, const std::string& path,
                  const std::vector<std::string>& images) {
        std::string page =
            "<html><head><script>window.loaded = 0; window.failed = 0;</script></head><body>";
        for (const auto& image : images)
            page += "<img src='" + image + "' onload='window.loaded++' onerror='window.failed++'>";
        site.respond(path, HttpTestServer::Response::text(200, page + "</body></html>",
                                                          "text/html; charset=utf-8"));
        webView_ = MVWebView::create(platform::Rect(0, 0, 320, 480));
        owner_ = std::make_shared<RecordingMVWebViewDelegate>();
        webView_->setDelegate(owner_);
        webView_->openUrl(site.url(path));
    }
    // A healthy image of `site` at `path`; its URL.
    static std::string healthyImage(HttpTestServer& site, const std::string& path) {
        site.respond(path,
                     HttpTestServer::Response::text(
                         200, "<svg xmlns='http://www.w3.org/2000/svg' width='3' height='2'/>",
                         "image/svg+xml"));
        return site.url(path);
    }
    bool shown() const { return owner_->count("didFinishLoad") > 0; }

    std::shared_ptr<MVWebView> webView_;
    std::shared_ptr<RecordingMVWebViewDelegate> owner_;
};

// The same, with the API stream open to the project's peer, which brings a packet (an
// empty command collection) whenever the test sends one.
class StreamingPageWebKitTest : public WebCachePageWebKitTest {
  protected:
    void SetUp() override {
        WebCachePageWebKitTest::SetUp();
        proxies_ = std::make_unique<testsupport::ProxyEnvironment>();
        apiHost_ = std::make_shared<TestApiConnectionHost>();
        MVApiConnection::setHost(apiHost_);
        // The stream's packets are command collections, performed by the handlers.
        registerCommandHandlerClasses();
    }
    void TearDown() override {
        // The connection and its threads go before the servers and the peer.
        WebCachePageWebKitTest::TearDown();
        proxies_.reset();
    }

    // The API stream, open and streaming.
    bool openStream() {
        peer_.setDefaultScript({.head = peer::ResponseHead::ok(), .afterHead = {}});
        apiHost_->setDefaultApiPath("http://127.0.0.1:" + std::to_string(peer_.port()));
        auto& connection = MVApiConnection::sharedConnection();
        connection.setIsAllowedToReadCommands(true);
        platform::advanceBy(MVApiConnection::kStartDelay);
        return platform::runUntil(
            [&] { return connection.state() == MVApiConnectionStateStreaming; }, kPatience);
    }
    void sendPacket() {
        peer_.perform(
            0, peer::PeerAction::packet({{"ver", "2.1"}, {"cmds", nlohmann::json::array()}}));
    }

    std::unique_ptr<testsupport::ProxyEnvironment> proxies_;
    std::shared_ptr<TestApiConnectionHost> apiHost_;
    peer::ApiPeer peer_;
};
