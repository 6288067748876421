// Arbitrary text as the address of a page's command navigation ("mvcmd:" followed by the
// text as it comes, and URL-encoded), through the web view's navigation decision, the
// command channel's decoding and serial check, the dispatcher, and commands that answer
// the page with events delivered as scripts.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/bridge/MVEvent.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/bridge/MVWebViewAdapter.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/core/StringExtensions.h"
#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "libmerovane/handlers/MVCommandHandler_1_0.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/TestDriver.h"
#include "platform/foundation/URLRequest.h"
#include "platform/web/HeadlessWebEngine.h"
#include "platform/web/WebView.h"

namespace {

class NullLogger : public platform::log::Logger {
    void logMessage(const platform::log::Message&) override {}
};

// Answers the page with its parameters, as data responses do.
void echo(MVCommandHandler&, nlohmann::json* parameters,
          const std::shared_ptr<MVWebView>& webView) {
    if (webView)
        webView->performMVEvent(
            MVEvent("echoed", nlohmann::json::array({parameters ? *parameters : nullptr})));
}

std::shared_ptr<MVWebView> setUp() {
    platform::Clock::installManual();
    platform::log::addLogger(std::make_shared<NullLogger>(), platform::log::kAllLevels);
    registerCommandHandlerClasses();
    auto& v10 = MVCommandHandler_1_0::commandTable();
    v10.add("echo", {MVSpec{}, &echo});
    v10.add("needsSrc", {MVSpec{{"src", MVSpec::NSString}}, &echo});
    // A page with the library that is ready at once.
    platform::WebView::setEngineFactory([] {
        auto engine = std::make_unique<platform::HeadlessWebEngine>();
        engine->setScriptResponder([](const std::string& script) {
            return script.find("isDocumentReady") != std::string::npos
                       ? "lib<-*-*->complete<-*-*->true<-*-*->null<-*-*->null"
                       : "";
        });
        return engine;
    });
    auto webView = MVWebView::create(platform::Rect(0, 0, 320, 480));
    webView->loadHTMLString("<p>page</p>", platform::URL::parse("https://shop.example/"));
    platform::advanceBy(0.1);
    webView->onload();
    return webView;
}

void decide(MVWebView& webView, const std::string& address) {
    auto url = platform::URL::parse(address);
    if (!url) return;
    platform::URLRequest request(*url);
    (void)webView.webViewShouldStartLoadWithRequest(*webView.webView(), request,
                                                    platform::NavigationType::LinkClicked);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::shared_ptr<MVWebView> webView = setUp();
    const std::string text(reinterpret_cast<const char*>(data), size);
    decide(*webView, "mvcmd:" + text);
    decide(*webView, "mvcmd:" + urlEncodedString(text));
    platform::runUntilIdle();
    MVErrorLogger::clearReports();
    return 0;
}
