#pragma once
// MVWebView over the real engine: new platform views get the WebKitGTK engine, the
// handler classes and the round-trip test commands (PageRoundTripCommands.h) are
// registered, and a web view is owned by a recording delegate.

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/bridge/MVWebViewAdapter.h"
#include "libmerovane/bridge/MVWebViewControllerFactory.h"
#include "libmerovane/bridge/MVWebViewHistoryEntry.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/TestDriver.h"
#include "platform/web/WebView.h"
#include "platform/web/webkit/WebKitGtkWebEngine.h"
#include "tests/support/MVWebViewTestSupport.h"
#include "tests/support/PageRoundTripCommands.h"
#include "tests/support/PlatformTest.h"
#include "tests/support/PollingWait.h"
#include "tests/support/RecordingMVWebViewDelegate.h"

#ifdef MV_SAMPLE_SHOP
// The sample shop's page library, as shop pages carry it.
inline std::string sampleShopLibrary() {
    std::ifstream file(std::string(MV_SAMPLE_SHOP) + "/libmerovane.js");
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}
#endif

// Over PlatformTest, or another fixture of it.
template <class Base>
class MVWebViewWebKitFixtureOn : public Base {
  protected:
    // Real pages load in real time: generous bounds, never sleeps.
    static constexpr double kPatience = 30.0;
    static constexpr const char* kBase = "http://shop.invalid/page";

    void SetUp() override {
        Base::SetUp();
        MVErrorLogger::clearReports();
        platform::WebView::setEngineFactory(
            [] { return std::make_unique<platform::WebKitGtkWebEngine>(); });
        registerCommandHandlerClasses();
        registerPageRoundTripCommands();
        pageRoundTrips().clear();
        webView = MVWebView::create(platform::Rect(0, 0, 320, 480));
        owner = std::make_shared<RecordingMVWebViewDelegate>();
        webView->setDelegate(owner);
    }
    void TearDown() override {
        webView.reset();
        platform::WebView::setEngineFactory(nullptr);
        MVWebViewControllerFactory::setFactory(nullptr);
        platform::runUntilIdle();
        Base::TearDown();
    }

    // Waits on the engine while the manual clock moves on in steps of the ready poll.
    bool settle(const std::function<bool()>& done) { return runUntilPolled(done, kPatience); }
    // The test's own look into the page, past the web view's checks and logs.
    std::string js(const std::string& script) {
        return webView->webView()->stringByEvaluatingJavaScriptFromString(script);
    }
    // Whatever the engine reported before one more script round trip has been handled.
    void drain() {
        js("0");
        platform::runUntilIdle();
    }
    // What the page library received: [{"name", "params"}].
    nlohmann::json received() { return platform::json::parse(js("MVEvent.receivedJSON()")).value; }
    std::vector<std::string> historyUrls() const { return ::historyUrls(*webView); }

    std::shared_ptr<MVWebView> webView;
    std::shared_ptr<RecordingMVWebViewDelegate> owner;
};

using MVWebViewWebKitFixture = MVWebViewWebKitFixtureOn<PlatformTest>;
