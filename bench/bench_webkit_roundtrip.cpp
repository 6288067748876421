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

#include <cstdio>
#include <memory>
#include <string>

#include "bench/BenchRateReporter.h"
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
        const long before = p->delegate->refused;
        p->view->stringByEvaluatingJavaScriptFromString("mvSendCommands({ver: '2.0', cmds: []})");
        if (!platform::runUntil([&] { return p->delegate->refused > before; }, kPatience)) {
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

void BM_MVWebViewCommandRoundTrip(benchmark::State& state) {
    if (!engineAvailable) return state.SkipWithError("no display");
    auto* p = libraryPage();
    if (!p->webView->isUsingLibrary()) {
        state.SkipWithError("the page's library never became ready");
        return;
    }
    auto& trips = pageRoundTrips();
    trips.clear();
    p->page().stringByEvaluatingJavaScriptFromString(
        "window.benchRunning = true;"
        "mvSendCommands({ver: '2.0', cmds: [{c: 'testAnswer', p: {event: 'benchPong'}}]})");
    for (auto _ : state) {
        const size_t before = trips.size();
        if (!platform::runUntil([&] { return trips.size() > before; }, kPatience)) {
            state.SkipWithError("the page's command never came back");
            break;
        }
    }
    // Stop the chain and let the command still in flight land, so that the next run
    // starts with one chain only.
    p->page().stringByEvaluatingJavaScriptFromString("window.benchRunning = false");
    platform::runUntil(
        [&] {
            return std::to_string(p->webView->lastCommandSerial()) ==
                   p->page().stringByEvaluatingJavaScriptFromString("String(mvNextCommandSerial)");
        },
        kPatience);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MVWebViewCommandRoundTrip)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    auto rates = runBenchmarksKeepingRates(argc, argv, &setUp);
    if (!engineAvailable) {
        std::fprintf(stderr, "bench_webkit_roundtrip: no display, nothing measured\n");
    } else {
        const double roundTrip = rates["BM_MVWebViewCommandRoundTrip/real_time"];
        const double floor = rates["BM_RefusedCommandNavigationAndScript/real_time"];
        if (roundTrip > 0 && floor > 0)
            std::printf(
                "MVWebView round trip: %.0f/s, engine floor (refused navigation + script): "
                "%.0f/s; floor/round trip: %.2f\n",
                roundTrip, floor, floor / roundTrip);
    }
    benchmark::Shutdown();
    return 0;
}
