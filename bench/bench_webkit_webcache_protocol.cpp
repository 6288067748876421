// The web cache's URL protocol against its floors, in one run:
// - a 1 MB cached resource through the protocol (RAM hit, response, 256 slices paced
//   0.00001 s apart on the real clock) against taking the same bytes from the RAM entry
//   with a plain lookup and one copy;
// - a page with 20 cached sub-resources in the real engine, scripts at https addresses
//   routed by the web-process extension through URL loading to the protocol, against
//   the same bytes from a plain URL protocol on a private scheme. Each page load uses
//   fresh addresses, so WebKit's own memory cache answers nothing.
// The engine half needs a display: scripts/test runs it through
// tests/platform/webkit/with-display.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "libmerovane/application/MVPersistentEntities.h"
#include "libmerovane/storage/MVPersistentStorage.h"
#include "libmerovane/webcache/MVWebCache.h"
#include "libmerovane/webcache/MVWebCacheURLProtocol.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/foundation/TestDriver.h"
#include "platform/web/WebView.h"
#include "platform/web/webkit/WebKitGtkWebEngine.h"
#include "tests/support/ServingURLProtocol.h"
#include "tests/support/StorageFixture.h"
#include "tests/support/TempDir.h"

namespace {

constexpr const char* kBigKey = "https://shop.example/big.js";
constexpr size_t kBigBytes = 1048576;
constexpr int kResources = 20;
constexpr double kPatience = 30.0;
TempDir* gHome;
bool gEngineAvailable = false;
int gPage = 0;

// Counts what the protocol delivers.
class CountingClient : public platform::URLProtocolClient {
  public:
    void didReceiveResponse(const platform::HTTPURLResponse&) override {}
    void didLoadData(std::vector<uint8_t> data) override { bytes += data.size(); }
    void didFinishLoading() override { done = true; }
    void didFailWithError(const platform::Error&) override { done = true; }
    void wasRedirectedToRequest(const platform::URLRequest&,
                                const platform::HTTPURLResponse&) override {}
    size_t bytes = 0;
    bool done = false;
};

void BM_ThroughProtocol(benchmark::State& state) {
    const platform::URLRequest request(*platform::URL::parse(kBigKey));
    for (auto _ : state) {
        auto client = std::make_shared<CountingClient>();
        auto protocol = std::make_shared<MVWebCacheURLProtocol>(request, client);
        protocol->startLoading();
        platform::runUntil([&] { return client->done; }, 10.0);
        if (client->bytes != kBigBytes) state.SkipWithError("short body");
        protocol->stopLoading();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBigBytes));
}
BENCHMARK(BM_ThroughProtocol)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FromRamEntry(benchmark::State& state) {
    auto& cache = MVWebCache::sharedCache();
    for (auto _ : state) {
        std::vector<uint8_t> copy;
        cache.dataForKey(
            kBigKey,
            [&](bool, bool, const MVWebCache::Data& data, const nlohmann::json&) {
                if (data) copy.assign(data->begin(), data->end());
            },
            nullptr, nullptr);
        if (copy.size() != kBigBytes) state.SkipWithError("short body");
        benchmark::DoNotOptimize(copy);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBigBytes));
}
BENCHMARK(BM_FromRamEntry)->Unit(benchmark::kMillisecond)->UseRealTime();

// 2 KB of script that counts itself.
std::string resourceBody() {
    return "window.loaded = (window.loaded || 0) + 1;/*" + std::string(2048, 'x') + "*/";
}

class FinishCounter : public platform::WebViewDelegate {
  public:
    void didFinishLoad(platform::WebView&) override { ++finished; }
    void didFailLoad(platform::WebView&, const platform::Error&) override { ++finished; }
    int finished = 0;
};

// Loads a page of kResources scripts under `base` (fresh addresses each time, made
// ready by `prepare`) until the load finishes, then checks that all have run.
template <class Prepare>
void loadPages(benchmark::State& state, const std::string& base, Prepare prepare) {
    if (!gEngineAvailable) return state.SkipWithError("no display");
    auto view = platform::WebView::create(std::make_unique<platform::WebKitGtkWebEngine>(),
                                          {0, 0, 320, 480});
    auto delegate = std::make_shared<FinishCounter>();
    view->setDelegate(delegate);
    for (auto _ : state) {
        state.PauseTiming();
        const int page = ++gPage;
        std::string html = "<html><head>";
        for (int i = 0; i < kResources; ++i) {
            const std::string url =
                base + "/r" + std::to_string(i) + ".js?p=" + std::to_string(page);
            prepare(url);
            html += "<script src='" + url + "'></script>";
        }
        html += "</head><body></body></html>";
        const int before = delegate->finished;
        state.ResumeTiming();
        view->loadData(html, "text/html", "utf-8", platform::URL::parse(base + "/page"));
        // Blocking scripts: the load finishes after every one has run.
        platform::runUntil([&] { return delegate->finished > before; }, kPatience);
        state.PauseTiming();
        if (view->stringByEvaluatingJavaScriptFromString("window.loaded") !=
            std::to_string(kResources))
            state.SkipWithError("page did not load its resources");
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_CachedPageThroughWebCache(benchmark::State& state) {
    const std::string body = resourceBody();
    auto data = std::make_shared<const std::vector<uint8_t>>(body.begin(), body.end());
    loadPages(state, "https://shop.example", [&](const std::string& url) {
        MVWebCache::sharedCache().setData(
            data, url,
            {{"mime-type", "text/javascript"},
             {"maximum-lifetime", 3600},
             {"http-header-fields", {{"Content-Type", "text/javascript"}}}});
    });
}
BENCHMARK(BM_CachedPageThroughWebCache)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PrivateSchemeHandler(benchmark::State& state) {
    ServingURLProtocol site("mvbench");
    const std::string body = resourceBody();
    loadPages(state, "mvbench://site",
              [&](const std::string& url) { site.serve(url, "text/javascript", body); });
}
BENCHMARK(BM_PrivateSchemeHandler)->Unit(benchmark::kMillisecond)->UseRealTime();

class Reporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) times[run.run_name.function_name] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    gEngineAvailable = platform::WebKitGtkWebEngine::isAvailable();
    MVRegisterPersistentEntities();
    gHome = new TempDir();
    MVPersistentStorage::setHost(RecordingStorageHost::at(
        platform::FileManager::defaultManager().cachesDirectory() + "/libmerovane"));
    MVWebCache::sharedCache().setData(
        std::make_shared<const std::vector<uint8_t>>(kBigBytes, 'x'), kBigKey,
        {{"mime-type", "text/javascript"}, {"maximum-lifetime", 3600}});
    Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double protocol = reporter.times["BM_ThroughProtocol"];
    const double ram = reporter.times["BM_FromRamEntry"];
    std::printf(
        "1 MB through the URL protocol: %.2f ms, from the RAM entry: %.3f ms (ratio %.0f)\n",
        protocol, ram, ram > 0 ? protocol / ram : 0.0);
    const double cached = reporter.times["BM_CachedPageThroughWebCache"];
    const double plain = reporter.times["BM_PrivateSchemeHandler"];
    if (gEngineAvailable)
        std::printf(
            "page with %d cached sub-resources: %.1f ms through the web cache, %.1f ms from a "
            "plain private-scheme handler (ratio %.2f)\n",
            kResources, cached, plain, plain > 0 ? cached / plain : 0.0);
    benchmark::Shutdown();
    platform::resetSharedInstancesForTesting();
    delete gHome;
    return 0;
}
