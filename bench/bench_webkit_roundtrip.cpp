// Page command round trips through MVWebView over the real engine, against the engine's
// floor in the same run.
//
// The floor: the page navigates to an "mvcmd:" address, the delegate refuses it, and
// native code evaluates a script in the page (here the script is what makes the page
// navigate, as an event does in the full round trip); beside it a synchronous no-op
// script alone.
// The round trip: the page sends a command collection through "mvcmd:", MVWebView
// decides the navigation and hands the collection to the dispatcher, the command answers
// its web view with an event, and the event's script makes the page send the next
// command. Each round trip is thus one refused navigation and one script, as the floor,
// plus everything the library does between them.
// Needs a display: scripts/test runs it through tests/platform/webkit/with-display.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "bench/BenchRateReporter.h"
#include "bench/ResidentMemory.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/bridge/MVWebViewAdapter_UIWebView.h"
#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "platform/foundation/TestDriver.h"
#include "platform/web/WebView.h"
#include "platform/web/webkit/WebKitGtkWebEngine.h"
#include "tests/support/PageRoundTripCommands.h"
#include "tests/support/PollingWait.h"
#include "tests/support/TestPageLibrary.h"

namespace {

constexpr double kPatience = 30.0;
bool engineAvailable = false;

void setUp() {
    engineAvailable = platform::WebKitGtkWebEngine::isAvailable();
}

class RefusingDelegate : public platform::WebViewDelegate {
  public:
    bool shouldStartLoad(platform::WebView&, const platform::URLRequest& request,
                         platform::NavigationType) override {
        if (request.url().schemeLowercased() != "mvcmd") return true;
        ++refused;
        return false;
    }
    void didFinishLoad(platform::WebView&) override { ++finished; }
    long refused = 0;
    long finished = 0;
};

struct Page {
    std::shared_ptr<platform::WebView> view;
    std::shared_ptr<RefusingDelegate> delegate = std::make_shared<RefusingDelegate>();
};

// One page for every benchmark: starting WebKit is not what is measured.
Page* page() {
    static Page* shared = [] {
        auto* p = new Page;
        p->view = platform::WebView::create(std::make_unique<platform::WebKitGtkWebEngine>());
        p->view->setDelegate(p->delegate);
        p->view->loadHTMLString(testpage::pageWithLibrary("<p>bench</p>"),
                                platform::URL::parse("http://shop.invalid/"));
        platform::runUntil([p] { return p->delegate->finished > 0; }, kPatience);
        return p;
    }();
    return shared;
}

// `count` floor trips on the shared page; false when the page stopped answering.
bool floorTrips(Page& p, int count) {
    for (int i = 0; i < count; ++i) {
        const long before = p.delegate->refused;
        p.view->stringByEvaluatingJavaScriptFromString("mvSendCommands({ver: '2.0', cmds: []})");
        if (!platform::runUntil([&] { return p.delegate->refused > before; }, kPatience))
            return false;
    }
    return true;
}

void BM_NoOpScript(benchmark::State& state) {
    if (!engineAvailable) return state.SkipWithError("no display");
    auto* p = page();
    for (auto _ : state)
        benchmark::DoNotOptimize(p->view->stringByEvaluatingJavaScriptFromString("0"));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_NoOpScript)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_RefusedCommandNavigationAndScript(benchmark::State& state) {
    if (!engineAvailable) return state.SkipWithError("no display");
    auto* p = page();
    for (auto _ : state) {
        if (!floorTrips(*p, 1)) {
            state.SkipWithError("the page's navigation never reached the delegate");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RefusedCommandNavigationAndScript)->Unit(benchmark::kMicrosecond)->UseRealTime();

// One MVWebView showing a page that answers each "benchPong" event with the next
// command while window.benchRunning holds.
struct LibraryPage {
    std::shared_ptr<MVWebView> webView;
    platform::WebView& page() {
        return static_cast<MVWebViewAdapter_UIWebView&>(*webView->webView()).platformWebView();
    }
};

LibraryPage* libraryPage() {
    static LibraryPage* shared = [] {
        registerCommandHandlerClasses();
        registerPageRoundTripCommands();
        platform::WebView::setEngineFactory(
            [] { return std::make_unique<platform::WebKitGtkWebEngine>(); });
        auto* p = new LibraryPage;
        p->webView = MVWebView::create(platform::Rect(0, 0, 320, 480));
        p->webView->loadHTMLString(testpage::pageWithLibrary("<p>bench</p>", R"(<script>
            window.benchRunning = false;
            MVEvent.__call = function (name) {
              if (name === 'benchPong' && window.benchRunning)
                mvSendCommands({ver: '2.0', cmds: [{c: 'testAnswer', p: {event: 'benchPong'}}]});
            };
            </script>)"),
                                   platform::URL::parse("http://shop.invalid/"));
        runUntilPolled([p] { return p->webView->isUsingLibrary(); }, kPatience);
        return p;
    }();
    return shared;
}

// Starts the page's chain of round trips.
void startChain(LibraryPage& p) {
    pageRoundTrips().clear();
    p.page().stringByEvaluatingJavaScriptFromString(
        "window.benchRunning = true;"
        "mvSendCommands({ver: '2.0', cmds: [{c: 'testAnswer', p: {event: 'benchPong'}}]})");
}

// Waits for `count` more round trips of the chain; false when it stopped.
bool chainTrips(int count) {
    auto& trips = pageRoundTrips();
    for (int i = 0; i < count; ++i) {
        // The record of trips is the benchmark's, not the library's: kept short.
        if (trips.size() > 1000) trips.clear();
        const size_t before = trips.size();
        if (!platform::runUntil([&] { return trips.size() > before; }, kPatience)) return false;
    }
    return true;
}

// Stops the chain and lets the command still in flight land, so that the next start
// makes one chain only.
void stopChain(LibraryPage& p) {
    p.page().stringByEvaluatingJavaScriptFromString("window.benchRunning = false");
    platform::runUntil(
        [&] {
            return std::to_string(p.webView->lastCommandSerial()) ==
                   p.page().stringByEvaluatingJavaScriptFromString("String(mvNextCommandSerial)");
        },
        kPatience);
}

LibraryPage* readyLibraryPage(benchmark::State& state) {
    if (!engineAvailable) {
        state.SkipWithError("no display");
        return nullptr;
    }
    auto* p = libraryPage();
    if (!p->webView->isUsingLibrary()) {
        state.SkipWithError("the page's library never became ready");
        return nullptr;
    }
    return p;
}

void BM_MVWebViewCommandRoundTrip(benchmark::State& state) {
    auto* p = readyLibraryPage(state);
    if (!p) return;
    startChain(*p);
    for (auto _ : state) {
        if (!chainTrips(1)) {
            state.SkipWithError("the page's command never came back");
            break;
        }
    }
    stopChain(*p);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MVWebViewCommandRoundTrip)->Unit(benchmark::kMicrosecond)->UseRealTime();

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

std::vector<double> gTurnRatios;

// The floor and the round trip in turns of kTurn trips each, so that what else the
// machine does falls on both alike; each turn pair gives one ratio.
void BM_InterleavedFloorAndRoundTrip(benchmark::State& state) {
    constexpr int kTurn = 100;
    auto* p = readyLibraryPage(state);
    if (!p) return;
    auto* floorPage = page();
    gTurnRatios.clear();
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        const bool floorOk = floorTrips(*floorPage, kTurn);
        const double floorTime = seconds(start);
        startChain(*p);
        start = std::chrono::steady_clock::now();
        const bool chainOk = chainTrips(kTurn);
        const double tripTime = seconds(start);
        stopChain(*p);
        if (!floorOk || !chainOk) {
            state.SkipWithError("a page stopped answering");
            break;
        }
        gTurnRatios.push_back(tripTime / floorTime);
        state.SetIterationTime(floorTime + tripTime);
    }
    state.SetItemsProcessed(state.iterations() * 2 * kTurn);
}
BENCHMARK(BM_InterleavedFloorAndRoundTrip)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(15);

// --memory_seconds=N: the process's resident memory over N seconds of floor trips and
// then N seconds of round trips, read after 10 s and at the end of each.
double gMemorySeconds = 0;

void measureResidentGrowth(const char* what, const std::function<bool()>& turn) {
    const auto start = std::chrono::steady_clock::now();
    const size_t atStart = residentBytes();
    size_t atTen = 0;
    long turns = 0;
    while (seconds(start) < gMemorySeconds) {
        if (!turn()) {
            std::printf("%s: the page stopped answering\n", what);
            return;
        }
        ++turns;
        if (!atTen && seconds(start) >= 10) atTen = residentBytes();
    }
    const size_t atEnd = residentBytes();
    const double mb = 1024.0 * 1024.0;
    std::printf(
        "%s: resident %.1f MB at start, %.1f MB after 10 s, %.1f MB after %.0f s "
        "(%+.1f MB since 10 s; %ld turns of 100 trips, %.0f bytes a trip)\n",
        what, atStart / mb, atTen / mb, atEnd / mb, gMemorySeconds,
        (static_cast<double>(atEnd) - static_cast<double>(atTen)) / mb, turns,
        (static_cast<double>(atEnd) - static_cast<double>(atStart)) / (turns * 100.0));
}

void BM_ResidentMemoryGrowth(benchmark::State& state) {
    auto* p = readyLibraryPage(state);
    if (!p) return;
    auto* floorPage = page();
    for (auto _ : state) {
        measureResidentGrowth("engine floor", [&] { return floorTrips(*floorPage, 100); });
        startChain(*p);
        measureResidentGrowth("MVWebView round trip", [&] { return chainTrips(100); });
        stopChain(*p);
    }
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.starts_with("--memory_seconds=")) gMemorySeconds = std::atof(argv[i] + 17);
    }
    if (gMemorySeconds > 0)
        benchmark::RegisterBenchmark("BM_ResidentMemoryGrowth", BM_ResidentMemoryGrowth)
            ->Iterations(1)
            ->Unit(benchmark::kSecond);
    auto rates = runBenchmarksKeepingRates(argc, argv, &setUp);
    if (!engineAvailable) {
        std::fprintf(stderr, "bench_webkit_roundtrip: no display, nothing measured\n");
    } else {
        const double roundTrip = rates["BM_MVWebViewCommandRoundTrip/real_time"];
        const double floor = rates["BM_RefusedCommandNavigationAndScript/real_time"];
        if (roundTrip > 0 && floor > 0)
            std::printf(
                "MVWebView round trip: %.0f/s, engine floor (refused navigation + script): "
                "%.0f/s; floor/round trip, one after the other: %.2f\n",
                roundTrip, floor, floor / roundTrip);
        if (!gTurnRatios.empty()) {
            auto sorted = gTurnRatios;
            std::sort(sorted.begin(), sorted.end());
            std::printf(
                "round trip/floor time in turns of 100: min %.2f, median %.2f, max %.2f over %zu "
                "turns\n",
                sorted.front(), sorted[sorted.size() / 2], sorted.back(), sorted.size());
        }
    }
    benchmark::Shutdown();
    return 0;
}
