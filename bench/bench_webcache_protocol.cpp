// A 1 MB cached resource through the web cache's URL protocol (RAM hit, response, 256
// slices paced 0.00001 s apart on the real clock) against taking the same bytes from the
// RAM entry with a plain lookup and one copy, in the same run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "libmerovane/application/MVPersistentEntities.h"
#include "libmerovane/storage/MVPersistentStorage.h"
#include "libmerovane/webcache/MVWebCache.h"
#include "libmerovane/webcache/MVWebCacheURLProtocol.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/foundation/TestDriver.h"
#include "tests/support/StorageFixture.h"
#include "tests/support/TempDir.h"

namespace {

constexpr const char* kKey = "https://shop.example/big.js";
constexpr size_t kBytes = 1048576;
TempDir* gHome;

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
    const platform::URLRequest request(*platform::URL::parse(kKey));
    for (auto _ : state) {
        auto client = std::make_shared<CountingClient>();
        auto protocol = std::make_shared<MVWebCacheURLProtocol>(request, client);
        protocol->startLoading();
        platform::runUntil([&] { return client->done; }, 10.0);
        if (client->bytes != kBytes) state.SkipWithError("short body");
        protocol->stopLoading();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
}
BENCHMARK(BM_ThroughProtocol)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FromRamEntry(benchmark::State& state) {
    auto& cache = MVWebCache::sharedCache();
    for (auto _ : state) {
        std::vector<uint8_t> copy;
        cache.dataForKey(
            kKey,
            [&](bool, bool, const MVWebCache::Data& data, const nlohmann::json&) {
                if (data) copy.assign(data->begin(), data->end());
            },
            nullptr, nullptr);
        if (copy.size() != kBytes) state.SkipWithError("short body");
        benchmark::DoNotOptimize(copy);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
}
BENCHMARK(BM_FromRamEntry)->Unit(benchmark::kMillisecond)->UseRealTime();

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
    MVRegisterPersistentEntities();
    gHome = new TempDir();
    MVPersistentStorage::setHost(RecordingStorageHost::at(
        platform::FileManager::defaultManager().cachesDirectory() + "/libmerovane"));
    MVWebCache::sharedCache().setData(
        std::make_shared<const std::vector<uint8_t>>(kBytes, 'x'), kKey,
        {{"mime-type", "text/javascript"}, {"maximum-lifetime", 3600}});
    Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double protocol = reporter.times["BM_ThroughProtocol"];
    const double ram = reporter.times["BM_FromRamEntry"];
    std::printf(
        "1 MB through the URL protocol: %.2f ms, from the RAM entry: %.3f ms (ratio %.0f)\n",
        protocol, ram, ram > 0 ? protocol / ram : 0.0);
    benchmark::Shutdown();
    platform::resetSharedInstancesForTesting();
    delete gHome;
    return 0;
}
