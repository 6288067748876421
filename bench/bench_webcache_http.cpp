// 1000 small style sheets from the loopback HTTP server, all asked for at once: through
// the web cache's HTTP data source (hop to its thread, record, connection, completion on
// the main thread), the same with the answer stored in the web cache, and the same GETs
// through bare URL connections answering on the main loop. Prints each rate and the
// ratios to the bare connections (medians of five repetitions, after one warm-up round).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "bench/BenchRateReporter.h"
#include "libmerovane/application/MVPersistentEntities.h"
#include "libmerovane/bridge/URLRequestWebCache.h"
#include "libmerovane/storage/MVPersistentStorage.h"
#include "libmerovane/webcache/MVWebCache.h"
#include "libmerovane/webcache/MVWebCacheHTTPDataSource.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/foundation/TestDriver.h"
#include "platform/foundation/URLConnection.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/StorageFixture.h"
#include "tests/support/TempDir.h"

namespace {

constexpr int kResources = 1000;
constexpr double kRealTimeout = 120.0;

TempDir* gHome;
HttpTestServer* gServer;

std::string resourceURL(int i) {
    return gServer->url("/asset.css?n=" + std::to_string(i));
}

// Runs one round of kResources loads started by `start`, each calling `done` once.
template <class Start>
bool loadRound(Start start) {
    int answered = 0;
    auto done = [&answered] { ++answered; };
    for (int i = 0; i < kResources; ++i) start(i, done);
    return platform::runUntil([&] { return answered == kResources; }, kRealTimeout);
}

void BM_HTTPDataSource(benchmark::State& state) {
    auto source = MVWebCacheHTTPDataSource::sharedDataSource();
    for (auto _ : state) {
        const bool ok = loadRound([&](int i, auto done) {
            platform::URLRequest request(*platform::URL::parse(resourceURL(i)));
            source->performConnectionWithRequest(
                request, [done](const MVWebCacheHTTPDataSource::Result&) { done(); });
        });
        if (!ok) state.SkipWithError("loads did not end");
    }
    state.SetItemsProcessed(state.iterations() * kResources);
}
BENCHMARK(BM_HTTPDataSource)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_HTTPDataSourceIntoTheCache(benchmark::State& state) {
    auto source = MVWebCacheHTTPDataSource::sharedDataSource();
    for (auto _ : state) {
        const bool ok = loadRound([&](int i, auto done) {
            source->loadDataForKey(
                resourceURL(i), 0,
                [done](const MVWebCacheDataSource::Data&, const nlohmann::json&) { done(); },
                [done](const platform::Error&) { done(); });
        });
        if (!ok) state.SkipWithError("loads did not end");
    }
    MVWebCache::waitForFileOperations();
    state.SetItemsProcessed(state.iterations() * kResources);
}
BENCHMARK(BM_HTTPDataSourceIntoTheCache)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// One round of kResources GETs through bare URL connections; true when all ended.
bool bareRound() {
    return loadRound([&](int i, auto done) {
        auto body = std::make_shared<std::vector<uint8_t>>();
        platform::URLConnectionCallbacks callbacks;
        callbacks.didReceiveData = [body](const std::vector<uint8_t>& data) {
            body->insert(body->end(), data.begin(), data.end());
        };
        callbacks.didFinishLoading = done;
        callbacks.didFailWithError = [done](const platform::Error&) { done(); };
        // Past the web cache's URL protocol, which the cache registers for every request.
        platform::URLRequest request(*platform::URL::parse(resourceURL(i)));
        setWillIgnoreWebcache(request, true);
        platform::URLConnection::start(std::move(request), std::move(callbacks),
                                       platform::RunLoop::main());
    });
}

void BM_BareURLConnections(benchmark::State& state) {
    for (auto _ : state) {
        if (!bareRound()) state.SkipWithError("loads did not end");
    }
    state.SetItemsProcessed(state.iterations() * kResources);
}
BENCHMARK(BM_BareURLConnections)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void setUp() {
    MVRegisterPersistentEntities();
    gHome = new TempDir();
    MVPersistentStorage::setHost(RecordingStorageHost::at(
        platform::FileManager::defaultManager().cachesDirectory() + "/libmerovane"));
    gServer = new HttpTestServer();
    auto response = HttpTestServer::Response::text(200, std::string(512, 'a'), "text/css");
    response.headers.set("Cache-Control", "max-age=3600");
    gServer->respond("/asset.css", response);
    // The server's and URL loading's connections are open before the first figure.
    bareRound();
}

}  // namespace

int main(int argc, char** argv) {
    auto rates = runBenchmarksKeepingRates(argc, argv, &setUp);
    const double source = rates["BM_HTTPDataSource/repeats:5/real_time_median"];
    const double stored = rates["BM_HTTPDataSourceIntoTheCache/repeats:5/real_time_median"];
    const double bare = rates["BM_BareURLConnections/repeats:5/real_time_median"];
    if (source > 0 && stored > 0 && bare > 0)
        std::printf(
            "HTTP data source: %.0f loads/s, into the cache: %.0f/s, bare URL connections: "
            "%.0f/s; source/bare: %.2f, into the cache/bare: %.2f\n",
            source, stored, bare, source / bare, stored / bare);
    benchmark::Shutdown();
    // Connections, the store and their threads go before the server and the folder.
    platform::resetSharedInstancesForTesting();
    delete gServer;
    delete gHome;
    return 0;
}
