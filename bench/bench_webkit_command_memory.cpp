// What a page command leaves in the shell, by each road, over the real engine: a page floods
// MVWebView with a command that does nothing but count, by the channel (the baseline) and
// by navigating its top frame to "mvcmd:" (Part of every page without the library), and the
// process's resident memory is read before, right after, and once the flood has settled.
//
//   bench_webkit_command_memory [--commands=N]   (100,000 a road by default)
//
// Needs a display: scripts/test runs it through tests/platform/webkit/with-display.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "bench/BenchRateReporter.h"
#include "bench/ResidentMemory.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/bridge/MVWebViewAdapter.h"
#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "libmerovane/handlers/MVCommandHandler_2_0.h"
#include "platform/foundation/TestDriver.h"
#include "platform/web/WebView.h"
#include "platform/web/webkit/WebKitGtkWebEngine.h"
#include "tests/support/PollingWait.h"

namespace {

constexpr double kPatience = 600.0;
bool engineAvailable = false;
long gCommands = 100000;
long gCounted = 0;
// The navigation road sends its next command once told that the one before was taken.
bool gPaced = false;

void setUp() {
    engineAvailable = platform::WebKitGtkWebEngine::isAvailable();
}

// The page: flood(road, n) sends n commands numbered from its next serial; by the channel
// a thousand a task, by a navigation one a task, the next once the one before was taken
// up (WebKit follows one navigation of the top frame a task).
constexpr const char* kPage = R"(<!DOCTYPE html><html><body><script>
var serial = 0;
function address() {
  return 'mvcmd:' + encodeURIComponent(JSON.stringify({ver: '2.0', cmds: [{c: 'benchCount', s: serial++}]}));
}
var waiting = 0;
window.taken = function () { waiting = 0; };
function flood(road, n) {
  var left = n;
  window.floodLeft = left;
  var channel = new MessageChannel();
  channel.port1.onmessage = function () {
    if (left <= 0) return;
    if (road === 'channel') {
      for (var i = 0; i < 1000 && left > 0; i++, left--) __mvCommandChannel(address());
    } else if (road === 'burst') {
      left--;
      location.href = address();
    } else if (!waiting) {
      waiting = 1;
      left--;
      location.href = address();
    }
    window.floodLeft = left;
    channel.port2.postMessage(0);
  };
  channel.port2.postMessage(0);
}
</script></body></html>)";

struct Flood {
    std::shared_ptr<MVWebView> webView;
};

Flood* floodPage() {
    static Flood* shared = [] {
        registerCommandHandlerClasses();
        MVCommandHandler_2_0::commandTable().add(
            "benchCount", {MVSpec{}, [](MVCommandHandler&, nlohmann::json*,
                                        const std::shared_ptr<MVWebView>& webView) {
                               ++gCounted;
                               // The navigation road's next command goes once this one is taken.
                               if (webView && gPaced)
                                   webView->webView()->evaluateJavaScript("taken()");
                           }});
        platform::WebView::setEngineFactory(
            [] { return std::make_unique<platform::WebKitGtkWebEngine>(); });
        auto* p = new Flood;
        p->webView = MVWebView::create(platform::Rect(0, 0, 320, 480));
        p->webView->loadHTMLString(kPage, platform::URL::parse("http://shop.invalid/"));
        runUntilPolled([p] { return !p->webView->isLoading(); }, 30);
        return p;
    }();
    return shared;
}

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Sends `count` commands by `road` and waits until they are counted; false when they are
// not within kPatience.
bool floodBy(Flood& p, const std::string& road, long count) {
    const long target = gCounted + count;
    gPaced = road == "location";
    auto& page = *p.webView->webView();
    page.stringByEvaluatingJavaScriptFromString("flood('" + road + "', " + std::to_string(count) +
                                                "); 0");
    // A burst sends a navigation every task, whether the one before was taken or not: WebKit
    // drops those a newer one replaces, so it ends when the page has sent them all.
    if (road == "burst")
        return platform::runUntil(
            [&] { return page.stringByEvaluatingJavaScriptFromString("floodLeft") == "0"; },
            kPatience);
    return platform::runUntil([&] { return gCounted >= target; }, kPatience);
}

void BM_CommandMemoryByRoad(benchmark::State& state) {
    if (!engineAvailable) return state.SkipWithError("no display");
    auto* p = floodPage();
    const double mb = 1024.0 * 1024.0;
    for (auto _ : state) {
        for (const char* road : {"channel", "location", "burst"}) {
            const long countedBefore = gCounted;
            // A warm-up, so that what the first commands make for good is not counted.
            if (!floodBy(*p, road, 1000)) return state.SkipWithError("the page stopped sending");
            platform::runUntil([] { return false; }, 2);
            const size_t before = residentBytes();
            const auto start = std::chrono::steady_clock::now();
            if (!floodBy(*p, road, gCommands))
                return state.SkipWithError("the page stopped sending");
            const double took = seconds(start);
            const long counted = gCounted - countedBefore;
            const size_t after = residentBytes();
            platform::runUntil([] { return false; }, 5);
            const size_t settled = residentBytes();
            std::printf(
                "%-8s %ld commands sent, %ld performed, in %.1f s: resident %.1f MB before, %.1f "
                "MB after, %.1f MB 5 s later (%+.1f MB, %.0f bytes a command sent)\n",
                road, gCommands, counted, took, before / mb, after / mb, settled / mb,
                (static_cast<double>(settled) - static_cast<double>(before)) / mb,
                (static_cast<double>(settled) - static_cast<double>(before)) / gCommands);
            std::fflush(stdout);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.starts_with("--commands=")) gCommands = std::max(1L, std::atol(argv[i] + 11));
    }
    benchmark::RegisterBenchmark("BM_CommandMemoryByRoad", BM_CommandMemoryByRoad)
        ->Iterations(1)
        ->Unit(benchmark::kSecond);
    runBenchmarksKeepingRates(argc, argv, &setUp);
    if (!engineAvailable)
        std::fprintf(stderr, "bench_webkit_command_memory: no display, nothing measured\n");
    benchmark::Shutdown();
    return 0;
}
