// Web cache lookups against their floors, in one run: a RAM hit against a mutex-guarded
// map lookup, and a disk hit (row fetch, file read, answer on the main loop) against a
// raw file read plus a prepared SQLite select of the same row. Each figure is the median
// of five repetitions.
//
// With --callgrind the program runs itself under callgrind and prints the instructions
// of one RAM hit and of one mutex-guarded map lookup, each the mean of a fixed loop of
// the same run: figures that do not move with the machine's load. In both runs the cache
// and the map hold the same number of entries.
//
//   build/release/bench/bench_webcache --callgrind   (valgrind; no sanitizer build)
#include <SQLiteCpp/SQLiteCpp.h>
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <fstream>
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

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#define MV_BENCH_CALLGRIND 1
#endif

extern char** environ;

namespace {

constexpr int kKeys = 1000;

std::string key(int64_t i) {
    return "https://shop.example/asset/" + std::to_string(i);
}

TempDir* gHome;
MVWebCache::Data gBytes;

// One RAM hit of key 0, counted in `hits`.
void ramHit(MVWebCache& cache, int64_t& hits) {
    cache.dataForKey(
        key(0), [&](bool, bool, const MVWebCache::Data&, const nlohmann::json&) { ++hits; },
        nullptr, nullptr);
}

// The floor: key 0 found in a mutex-guarded map of kKeys entries.
class MutexMap {
  public:
    MutexMap() {
        for (int i = 0; i < kKeys; ++i) map_[key(i)] = gBytes;
    }
    void lookup(int64_t& hits) {
        std::lock_guard lock(mutex_);
        auto it = map_.find(key(0));
        if (it != map_.end() && it->second) ++hits;
    }

  private:
    std::mutex mutex_;
    std::map<std::string, MVWebCache::Data> map_;
};

void BM_RamHitLookup(benchmark::State& state) {
    auto& cache = MVWebCache::sharedCache();
    int64_t hits = 0;
    for (auto _ : state) ramHit(cache, hits);
    state.SetItemsProcessed(hits);
}
BENCHMARK(BM_RamHitLookup)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_MutexMapLookup(benchmark::State& state) {
    MutexMap map;
    int64_t hits = 0;
    for (auto _ : state) map.lookup(hits);
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

void setUp(int keys) {
    MVRegisterPersistentEntities();
    gHome = new TempDir();
    MVPersistentStorage::setHost(RecordingStorageHost::at(
        platform::FileManager::defaultManager().cachesDirectory() + "/libmerovane"));
    gBytes = std::make_shared<const std::vector<uint8_t>>(16 * 1024, 'x');
    auto& cache = MVWebCache::sharedCache();
    for (int i = 0; i < keys; ++i) {
        cache.setData(gBytes, key(i), {{"mime-type", "text/css"}, {"maximum-lifetime", 3600}});
    }
    MVWebCache::waitForFileOperations();
    MVPersistentStorage::sharedStorage().waitUntilWrittenToDisc();
}

void tearDown() {
    platform::resetSharedInstancesForTesting();  // closes the store before its folder goes
    delete gHome;
}

// ---- instruction counts ----------------------------------------------------------------

constexpr int kCountedOperations = 10000;
constexpr const char* kCallgrindChild = "--callgrind-child";

// Under callgrind: each loop's instructions, dumped under its name.
int countUnderCallgrind() {
#ifdef MV_BENCH_CALLGRIND
    setUp(1);
    auto& cache = MVWebCache::sharedCache();
    // The other entries in RAM only: writing their files under callgrind takes minutes.
    cache.setIsCachingEnabled(false);
    for (int i = 1; i < kKeys; ++i) {
        cache.setData(gBytes, key(i), {{"mime-type", "text/css"}, {"maximum-lifetime", 3600}});
    }
    cache.setIsCachingEnabled(true);
    int64_t hits = 0;
    ramHit(cache, hits);  // the entry is in RAM, the lock's resource known
    CALLGRIND_ZERO_STATS;
    for (int i = 0; i < kCountedOperations; ++i) ramHit(cache, hits);
    CALLGRIND_DUMP_STATS_AT("ram-hit");
    MutexMap map;
    map.lookup(hits);
    CALLGRIND_ZERO_STATS;
    for (int i = 0; i < kCountedOperations; ++i) map.lookup(hits);
    CALLGRIND_DUMP_STATS_AT("mutex-map");
    tearDown();
    return hits == 2 * (kCountedOperations + 1) ? 0 : 1;
#else
    return 2;
#endif
}

// The instructions of each dump in the callgrind files of `folder`, by dump name.
std::map<std::string, double> callgrindTotals(const std::string& folder) {
    std::map<std::string, double> totals;
    for (const auto& name :
         platform::FileManager::defaultManager().contentsOfDirectory(folder).value_or(
             std::vector<std::string>())) {
        std::ifstream file(folder + "/" + name);
        std::string line, trigger;
        const std::string triggerPrefix = "desc: Trigger: Client Request: ";
        while (std::getline(file, line)) {
            if (line.rfind(triggerPrefix, 0) == 0) trigger = line.substr(triggerPrefix.size());
            if (line.rfind("totals: ", 0) == 0 && !trigger.empty()) {
                totals[trigger] = std::strtod(line.c_str() + 8, nullptr);
            }
        }
    }
    return totals;
}

// Runs this program under callgrind and prints the instructions per operation.
int reportInstructionCounts(const char* self) {
    TempDir folder;
    const std::string out = "--callgrind-out-file=" + folder.file("callgrind.out");
    std::vector<char*> args = {const_cast<char*>("valgrind"),
                               const_cast<char*>("--tool=callgrind"),
                               const_cast<char*>("--quiet"),
                               const_cast<char*>(out.c_str()),
                               const_cast<char*>(self),
                               const_cast<char*>(kCallgrindChild),
                               nullptr};
    pid_t pid = -1;
    int status = 0;
    if (::posix_spawnp(&pid, "valgrind", nullptr, nullptr, args.data(), environ) != 0 ||
        ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr,
                     "callgrind run failed: it needs valgrind, its headers and a build without "
                     "sanitizers\n");
        return 1;
    }
    const auto totals = callgrindTotals(folder.path());
    const auto hit = totals.find("ram-hit"), map = totals.find("mutex-map");
    if (hit == totals.end() || map == totals.end()) {
        std::fprintf(stderr, "callgrind wrote no counts\n");
        return 1;
    }
    const double perHit = hit->second / kCountedOperations;
    const double perLookup = map->second / kCountedOperations;
    std::printf(
        "callgrind: RAM hit %.0f instructions, mutex-guarded map lookup %.0f (ratio %.2f), "
        "each the mean of %d\n",
        perHit, perLookup, perHit / perLookup, kCountedOperations);
    return 0;
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
    if (argc == 2 && std::strcmp(argv[1], kCallgrindChild) == 0) return countUnderCallgrind();
    if (argc == 2 && std::strcmp(argv[1], "--callgrind") == 0) {
        return reportInstructionCounts(argv[0]);
    }
    benchmark::Initialize(&argc, argv);
    setUp(kKeys);
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
    tearDown();
    return 0;
}
