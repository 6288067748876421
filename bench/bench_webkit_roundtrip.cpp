// The real engine's floor under a page command round trip: the page navigates to an
// "mvcmd:" address, the delegate refuses it, and native code evaluates a script in the
// page (here the script is what makes the page navigate, as an event does in the full
// round trip). Printed beside its baseline, a synchronous no-op script alone.
// Needs a display: scripts/test runs it through tests/platform/webkit/with-display.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>

#include "platform/foundation/TestDriver.h"
#include "platform/web/WebView.h"
#include "platform/web/webkit/WebKitGtkWebEngine.h"
#include "tests/support/TestPageLibrary.h"

namespace {

constexpr double kPatience = 30.0;

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
    auto* p = page();
    for (auto _ : state)
        benchmark::DoNotOptimize(p->view->stringByEvaluatingJavaScriptFromString("0"));
}
BENCHMARK(BM_NoOpScript)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_RefusedCommandNavigationAndScript(benchmark::State& state) {
    auto* p = page();
    for (auto _ : state) {
        const long before = p->delegate->refused;
        p->view->stringByEvaluatingJavaScriptFromString("mvSendCommands({ver: '2.0', cmds: []})");
        if (!platform::runUntil([&] { return p->delegate->refused > before; }, kPatience)) {
            state.SkipWithError("the page's navigation never reached the delegate");
            break;
        }
    }
    state.counters["round_trips_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RefusedCommandNavigationAndScript)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (!platform::WebKitGtkWebEngine::isAvailable()) {
        std::fprintf(stderr, "bench_webkit_roundtrip: no display, nothing measured\n");
        return 0;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
