#pragma once
// A web view on the headless engine, owned by a recording delegate, with its load
// notifications recorded. Its pages answer like pages without the page library whose
// document is complete (pageModel), until a test says otherwise.

#include <gtest/gtest.h>

#include <memory>

#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/bridge/MVWebViewHistoryEntry.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "platform/foundation/TestDriver.h"
#include "tests/support/HeadlessPageModel.h"
#include "tests/support/MVWebViewTestSupport.h"
#include "tests/support/PlatformTest.h"
#include "tests/support/PollingWait.h"
#include "tests/support/RecordingMVWebViewDelegate.h"
#include "tests/support/ServingURLProtocol.h"

class MVWebViewFixture : public PlatformTest {
  protected:
    // Real time allowed for loads through URL loading.
    static constexpr double kIO = 10.0;

    void SetUp() override {
        PlatformTest::SetUp();
        MVErrorLogger::clearReports();
        webView = MVWebView::create(platform::Rect(0, 0, 320, 480));
        owner = std::make_shared<RecordingMVWebViewDelegate>();
        webView->setDelegate(owner);
        notes = std::make_unique<LoadNotifications>(*webView);
        pageModel = HeadlessPageModel::attach(page());
    }
    void TearDown() override {
        notes.reset();
        webView.reset();
        platform::runUntilIdle();
        PlatformTest::TearDown();
        site.reset();
    }

    platform::HeadlessWebEngine& page() { return headlessEngineOf(*webView); }
    // Waits until the load under way has ended (for loads through URL loading).
    bool waitUntilLoaded() {
        return settle([&] { return !webView->isLoading(); });
    }
    // Waits on real I/O while the manual clock moves on in steps of the ready poll, so
    // that loaded pages are polled and shown meanwhile.
    bool settle(const std::function<bool()>& done) { return runUntilPolled(done, kIO); }
    std::vector<std::string> historyUrls() const { return ::historyUrls(*webView); }
    // Serves each page under the "mvtest" scheme with a body naming it.
    void serveSite(std::initializer_list<const char*> urls) {
        site = std::make_unique<ServingURLProtocol>("mvtest");
        for (const char* url : urls)
            site->serve(url, "text/html", std::string("<p>") + url + "</p>");
    }
    bool lastDecision() { return page().decisions().back().allowed; }

    std::shared_ptr<MVWebView> webView;
    std::shared_ptr<RecordingMVWebViewDelegate> owner;
    std::unique_ptr<LoadNotifications> notes;
    std::shared_ptr<HeadlessPageModel> pageModel;
    std::unique_ptr<ServingURLProtocol> site;
};
