// The headless stand-in for shop pages reads what a page declares for its load out of the
// page's HTML, which the server chooses. Any page must load, answer the library's ready
// poll and send at most one command collection, never crash.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/HeadlessShopPage.h"
#include "libmerovane/bridge/MVDocumentReadyPoll.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/TestDriver.h"
#include "platform/web/HeadlessWebEngine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = (platform::Clock::installManual(), true);
    (void)ready;
    const std::string html(reinterpret_cast<const char*>(data), size);
    platform::HeadlessWebEngine engine;
    HeadlessShopPage::attach(engine);
    engine.loadHTMLString(html, std::nullopt);
    platform::runUntilIdle();
    for (int poll = 0; poll < 2; ++poll) {
        (void)MVDocumentReadyPoll::PageState::parse(
            engine.stringByEvaluatingJavaScript(MVDocumentReadyPoll::documentReadyScript()));
        platform::runUntilIdle();
    }
    size_t navigations = 0;
    for (const auto& line : engine.transcript())
        if (line.rfind("navigate ", 0) == 0) ++navigations;
    if (navigations > 1) __builtin_trap();
    return 0;
}
