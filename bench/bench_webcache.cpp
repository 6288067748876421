// Web cache lookups against their floors, in one run: a RAM hit against a mutex-guarded
// map lookup, and a disk hit (row fetch, file read, answer on the main loop) against a
// raw file read plus a prepared SQLite select of the same row. Each figure is the median
// of five repetitions.
#include <SQLiteCpp/SQLiteCpp.h>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>

#include "libmerovane/application/MVPersistentEntities.h"
#include "libmerovane/storage/MVPersistentStorage.h"
#include "libmerovane/webcache/MVWebCache.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/foundation/TestDriver.h"
#include "tests/support/StorageFixture.h"
#include "tests/support/TempDir.h"

namespace {

constexpr int kKeys = 1000;

std::string key(int64_t i) {
    return "https://shop.example/asset/" + std::to_string(i);
}

TempDir* gHome;
MVWebCache::Data gBytes;

void BM_RamHitLookup(benchmark::State& state) {
    auto& cache = MVWebCache::sharedCache();
    int64_t hits = 0;
    for (auto _ : state) {
        cache.dataForKey(
            key(0), [&](bool, bool, const MVWebCache::Data&, const nlohmann::json&) { ++hits; },
            nullptr, nullptr);
    }
    state.SetItemsProcessed(hits);
}
BENCHMARK(BM_RamHitLookup)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_MutexMapLookup(benchmark::State& state) {
    std::mutex mutex;
    std::map<std::string, MVWebCache::Data> map;
    for (int i = 0; i < kKeys; ++i) map[key(i)] = gBytes;
    int64_t hits = 0;
    for (auto _ : state) {
        std::lock_guard lock(mutex);
        auto it = map.find(key(0));
        if (it != map.end() && it->second) ++hits;
    }
    state.SetItemsProcessed(hits);
}
BENCHMARK(BM_MutexMapLookup)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_DiskHitLookup(benchmark::State& state) {
    // A fresh instance holds no RAM entries, so every lookup reads its row and file.
    auto cache = std::make_shared<MVWebCache>();
    int64_t i = 0;
    for (auto _ : state) {
        if (i % kKeys == 0 && i > 0) {
            state.PauseTiming();
            cache = std::make_shared<MVWebCache>();
            state.ResumeTiming();
        }
        bool done = false;
        cache->dataForKey(
            key(i++ % kKeys),
            [&](bool, bool, const MVWebCache::Data&, const nlohmann::json&) { done = true; },
            nullptr, [&](const platform::Error&, const MVWebCache::Data&) { done = true; });
        platform::runUntil([&] { return done; }, 10.0);
    }
}
BENCHMARK(BM_DiskHitLookup)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_RawFileAndSelect(benchmark::State& state) {
    SQLite::Database db(MVWebCache::pathForCaches() + "/general.sqlite", SQLite::OPEN_READONLY);
    SQLite::Statement select(db,
                             "SELECT \"mimeType\", \"lastUpdate\", \"maximumLifetime\", "
                             "\"infoDictionary\", \"localSerial\" FROM "
                             "\"MVWebCacheResourceObject\" WHERE \"id\" = ?");
    auto& fm = platform::FileManager::defaultManager();
    int64_t i = 0;
    for (auto _ : state) {
        select.reset();
        select.bind(1, key(i++ % kKeys));
        int64_t serial = 0;
        while (select.executeStep()) serial = select.getColumn(4).getInt64();
        auto bytes = fm.readFile(MVWebCache::pathForWebCache() + "/" + std::to_string(serial));
        benchmark::DoNotOptimize(bytes);
    }
}
BENCHMARK(BM_RawFileAndSelect)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void setUp() {
    MVRegisterPersistentEntities();
    gHome = new TempDir();
    MVPersistentStorage::setHost(RecordingStorageHost::at(
        platform::FileManager::defaultManager().cachesDirectory() + "/libmerovane"));
    gBytes = std::make_shared<const std::vector<uint8_t>>(16 * 1024, 'x');
    auto& cache = MVWebCache::sharedCache();
    for (int i = 0; i < kKeys; ++i) {
        cache.setData(gBytes, key(i), {{"mime-type", "text/css"}, {"maximum-lifetime", 3600}});
    }
    MVWebCache::waitForFileOperations();
    MVPersistentStorage::sharedStorage().waitUntilWrittenToDisc();
}

class Reporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            if (run.aggregate_name != "median") continue;
            times[run.run_name.function_name] = run.GetAdjustedRealTime();
            auto rate = run.counters.find("items_per_second");
            if (rate != run.counters.end()) rates[run.run_name.function_name] = rate->second;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
    std::map<std::string, double> rates;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    setUp();
    Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double ram = reporter.rates["BM_RamHitLookup"];
    const double map = reporter.rates["BM_MutexMapLookup"];
    const double disk = reporter.times["BM_DiskHitLookup"];
    const double raw = reporter.times["BM_RawFileAndSelect"];
    std::printf(
        "RAM hit: %.0f lookups/s (mutex-guarded map %.0f/s, ratio %.3f); disk hit: "
        "%.1f us (raw file read + select %.1f us, ratio %.2f)\n",
        ram, map, map > 0 ? ram / map : 0.0, disk, raw, raw > 0 ? disk / raw : 0.0);
    benchmark::Shutdown();
    platform::resetSharedInstancesForTesting();  // closes the store before its folder goes
    delete gHome;
    return 0;
}
