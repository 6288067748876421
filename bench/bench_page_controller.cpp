// API pages opened per second by a web page view controller, from opening to presented
// (loaded, rendered and faded in), on the headless engine with pages from a stand-in web
// cache. Against a bare web view loading the same page to its finish notification.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>

#include "bench/BenchRateReporter.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/bridge/MVWebViewController.h"
#include "platform/foundation/TestDriver.h"
#include "platform/web/HeadlessWebEngine.h"
#include "platform/web/WebView.h"
#include "tests/support/FakeWebCache.h"
#include "tests/support/HeadlessPageModel.h"

namespace {

// Manual-clock steps an opening may take before the run counts as stuck.
constexpr int kMaxSteps = 2000;
constexpr double kStep = 0.05;

std::shared_ptr<FakeWebCache> cache;

void setUp() {
    platform::WebView::setEngineFactory([] {
        auto created = std::make_unique<platform::HeadlessWebEngine>();
        HeadlessPageModel::attach(*created);  // answers like a finished page
        return created;
    });
    cache = FakeWebCache::install();
    cache->setPage("mv-api-page:home", "<p>home</p>", "https://shop.example/home");
}

// Moves the manual clock on until `done`; false when it never came.
template <class Done>
bool stepUntil(const Done& done) {
    for (int i = 0; i < kMaxSteps && !done(); ++i) platform::advanceBy(kStep);
    return done();
}

void BM_ControllerOpensToPresented(benchmark::State& state) {
    auto controller = MVWebViewController::create();
    for (auto _ : state) {
        controller->openUrlApi("home");
        if (!stepUntil([&] { return !controller->isLoading(); })) {
            state.SkipWithError("the page was never presented");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ControllerOpensToPresented);

void BM_BareWebViewLoadsToFinish(benchmark::State& state) {
    auto webView = MVWebView::create(platform::Rect(0, 0, 320, 480));
    for (auto _ : state) {
        webView->openUrl("mvapi:home");
        if (!stepUntil([&] { return !webView->isLoading(); })) {
            state.SkipWithError("the page never finished");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BareWebViewLoadsToFinish);

}  // namespace

int main(int argc, char** argv) {
    auto rates = runBenchmarksKeepingRates(argc, argv, &setUp);
    const double controller = rates["BM_ControllerOpensToPresented"];
    const double bare = rates["BM_BareWebViewLoadsToFinish"];
    if (controller > 0 && bare > 0)
        std::printf(
            "controller opening to presented: %.0f/s, bare web view load: %.0f/s; "
            "bare/controller: %.2f\n",
            controller, bare, bare / controller);
    cache.reset();
    benchmark::Shutdown();
    return 0;
}
