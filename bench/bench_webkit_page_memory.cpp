// The heap a shop keeps for each page it opens and closes, against the engine's own in
// the same run.
//
// The baseline: a bare engine view loads a small page and is released. The measured: a
// library page (MVWebView) loads the same page, becomes the library's, gets a command's
// event and is released. The two run in turns of 10 pages, --page_cycles=N
// pages each (20 unless told, whole turns) past a warm-up of 5, and each prints the heap still in
// use per page: what the engine keeps of every view it made shows in both, what the library keeps
// only in the second. Needs a display: scripts/test runs it through
// tests/platform/webkit/with-display.

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "bench/BenchRateReporter.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/bridge/MVWebViewAdapter_UIWebView.h"
#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "platform/foundation/TestDriver.h"
#include "platform/web/WebView.h"
#include "platform/web/webkit/WebKitGtkWebEngine.h"
#include "tests/support/PageRoundTripCommands.h"
#include "tests/support/PollingWait.h"
#include "tests/support/RecordingWebViewDelegate.h"
#include "tests/support/TestPageLibrary.h"

namespace {

constexpr double kPatience = 30.0;
constexpr int kWarmUp = 5;
constexpr int kTurn = 10;
int gCycles = 20;
bool engineAvailable = false;
const char* kBase = "http://shop.invalid/page";
const char* kBody = "<h1>Page</h1><ul id=\"items\"></ul>";
std::map<std::string, double> gBytesPerPage;

void setUp() {
    engineAvailable = platform::WebKitGtkWebEngine::isAvailable();
    if (!engineAvailable) return;
    registerCommandHandlerClasses();
    registerPageRoundTripCommands();
    platform::WebView::setEngineFactory(
        [] { return std::make_unique<platform::WebKitGtkWebEngine>(); });
}

size_t heapInUse() {
    const auto info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

// Lets what a released page left behind (deferred releases, the engine's own idle work)
// run before the heap is read.
void drain() {
    for (int i = 0; i < 10; ++i) platform::runUntilIdle();
}

// The heap still in use after `count` pages, per page.
double heapPerPage(const std::function<bool()>& page, int count, bool* failed) {
    drain();
    const size_t before = heapInUse();
    for (int i = 0; i < count && !*failed; ++i) *failed = !page();
    drain();
    return (static_cast<double>(heapInUse()) - static_cast<double>(before)) / count;
}

bool bareEnginePage() {
    auto view = platform::WebView::create(std::make_unique<platform::WebKitGtkWebEngine>(),
                                          {0, 0, 320, 480});
    auto delegate = std::make_shared<RecordingWebViewDelegate>();
    view->setDelegate(delegate);
    view->loadHTMLString(testpage::pageWithLibrary(kBody), platform::URL::parse(kBase));
    return platform::runUntil([&] { return delegate->finishes + delegate->failures > 0; },
                              kPatience);
}

// The page becomes the library's once loaded and sends a command that answers it with an
// event, as a shop's page asks for its data.
bool libraryPage() {
    pageRoundTrips().clear();
    auto webView = MVWebView::create(platform::Rect(0, 0, 320, 480));
    webView->loadHTMLString(testpage::pageWithLibrary(kBody), platform::URL::parse(kBase));
    if (!runUntilPolled([&] { return webView->isUsingLibrary(); }, kPatience)) return false;
    auto& page = static_cast<MVWebViewAdapter_UIWebView&>(*webView->webView()).platformWebView();
    page.stringByEvaluatingJavaScriptFromString(
        "mvSendCommands({ver: '2.0', cmds: [{c: 'testAnswer', p: {event: 'pageAnswer'}}]})");
    return runUntilPolled(
        [&] {
            return page.stringByEvaluatingJavaScriptFromString(
                       "String(MVEvent.receivedJSON().indexOf('pageAnswer') >= 0)") == "true";
        },
        kPatience);
}

// Both kinds in turns of kTurn pages, so that what the engine caches as it goes falls on
// both alike.
void BM_PagesInTurns(benchmark::State& state) {
    if (!engineAvailable) return state.SkipWithError("no display");
    for (auto _ : state) {
        bool failed = false;
        heapPerPage(bareEnginePage, kWarmUp, &failed);
        heapPerPage(libraryPage, kWarmUp, &failed);
        double bare = 0, library = 0;
        const int turns = gCycles / kTurn;
        for (int i = 0; i < turns && !failed; ++i) {
            bare += heapPerPage(bareEnginePage, kTurn, &failed) / turns;
            library += heapPerPage(libraryPage, kTurn, &failed) / turns;
        }
        if (failed) return state.SkipWithError("a page never finished loading");
        gBytesPerPage["bare"] = bare;
        gBytesPerPage["library"] = library;
        state.counters["bare_bytes_per_page"] = bare;
        state.counters["library_bytes_per_page"] = library;
    }
}
BENCHMARK(BM_PagesInTurns)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (!arg.starts_with("--page_cycles=")) continue;
        const int pages = std::clamp(std::atoi(argv[i] + 14), 1, 100000);
        gCycles = (pages + kTurn - 1) / kTurn * kTurn;
    }
    runBenchmarksKeepingRates(argc, argv, &setUp);
    if (!engineAvailable) {
        std::fprintf(stderr, "bench_webkit_page_memory: no display, nothing measured\n");
    } else if (gBytesPerPage.count("bare") && gBytesPerPage.count("library")) {
        std::printf(
            "heap kept per page over %d pages: bare engine view %.0f bytes, library page "
            "%.0f bytes (the library's share %+.0f bytes)\n",
            gCycles, gBytesPerPage["bare"], gBytesPerPage["library"],
            gBytesPerPage["library"] - gBytesPerPage["bare"]);
    }
    benchmark::Shutdown();
    return 0;
}
