#pragma once
// The page of the page benchmarks: an MVWebView on the headless engine whose library is
// ready at once, loaded and past its onload, that counts the events it is given.
//
//   HeadlessBenchPage page;
//   page.engine->navigate("mvcmd:...");   // the page sends a command
//   page.events;                          // events delivered so far
#include <cstdint>
#include <memory>
#include <string>

#include "libmerovane/bridge/MVWebView.h"
#include "platform/foundation/TestDriver.h"
#include "platform/foundation/URL.h"
#include "platform/web/HeadlessWebEngine.h"
#include "platform/web/WebView.h"

struct HeadlessBenchPage {
    // `eventPrefix`: the beginning of the event scripts that count.
    explicit HeadlessBenchPage(std::string eventPrefix = "MVEvent.__call(") {
        platform::WebView::setEngineFactory([this, eventPrefix] {
            auto created = std::make_unique<platform::HeadlessWebEngine>();
            engine = created.get();
            created->setScriptResponder([this, eventPrefix](const std::string& script) {
                if (script.rfind(eventPrefix, 0) == 0) {
                    ++events;
                    return "";
                }
                return script.find("isDocumentReady") != std::string::npos
                           ? "lib<-*-*->complete<-*-*->true<-*-*->null<-*-*->null"
                           : "";
            });
            return created;
        });
        webView = MVWebView::create(platform::Rect(0, 0, 320, 480));
        // The engine's responder knows this page: later web views get plain engines.
        platform::WebView::setEngineFactory(nullptr);
        webView->loadHTMLString("<p>shop</p>", platform::URL::parse("https://shop.example/"));
        platform::advanceBy(0.1);
        webView->onload();
    }

    std::shared_ptr<MVWebView> webView;
    platform::HeadlessWebEngine* engine = nullptr;
    int64_t events = 0;
};
