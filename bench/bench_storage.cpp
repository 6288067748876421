// Storing and fetching 4 KB web cache records through locked access against plain
// SQLite statements on the same schema, in one run. A store is one locked access (one
// transaction, waited for on disc) per record; a fetch is one lookup by id that reads
// the record's info dictionary. Each figure is the median of five repetitions.
#include <SQLiteCpp/SQLiteCpp.h>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <string>

#include "libmerovane/application/MVPersistentEntities.h"
#include "libmerovane/storage/MVObjectModel.h"
#include "libmerovane/storage/MVPersistentStorage.h"
#include "libmerovane/storage/MVSQLiteStore.h"
#include "libmerovane/storage/MVWebCacheResourceObject.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/SharedInstances.h"
#include "tests/support/StorageFixture.h"
#include "tests/support/TempDir.h"

namespace {

constexpr int kFetchRows = 1000;
// Stores per repetition: a fixed count keeps both files the same size (4 KB a row).
constexpr int kStoredRows = 1000;

// About 4 KB of info dictionary, as a page with its headers carries.
const nlohmann::json& info() {
    static const nlohmann::json value = [] {
        nlohmann::json headers = nlohmann::json::object();
        for (int i = 0; i < 40; ++i)
            headers["X-Header-" + std::to_string(i)] = std::string(80, 'h');
        return nlohmann::json{{"mime-type", "text/html"},
                              {"charset", "utf-8"},
                              {"maximum-lifetime", 3600},
                              {"http-status-code", 200},
                              {"http-header-fields", headers}};
    }();
    return value;
}

std::string key(int64_t i) {
    return "https://shop.example/page/" + std::to_string(i);
}
// Stored records get keys of their own, so that fetches always find one row.
std::string storedKey(int64_t i) {
    return "https://shop.example/stored/" + std::to_string(i);
}

TempDir* gHome;
std::string gRawPath;

void BM_StoreThroughLockedAccess(benchmark::State& state) {
    auto& storage = MVPersistentStorage::sharedStorage();
    int64_t i = 0;
    for (auto _ : state) {
        storage.lockedAccess([&] {
            auto r = MVWebCacheResourceObject::dbObjectCreate();
            r->setId(storedKey(i));
            r->setMimeType(std::string("text/html"));
            r->setLastUpdate(platform::Date::now());
            r->setMaximumLifetime(3600.0);
            r->setInfoDictionary(&info());
            r->setLocalSerial(i);
            r->setShadowed(false);
        });
        storage.waitUntilWrittenToDisc();
        ++i;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StoreThroughLockedAccess)
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(kStoredRows)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_StoreRawSQLite(benchmark::State& state) {
    SQLite::Database db(gRawPath, SQLite::OPEN_READWRITE);
    db.exec("PRAGMA synchronous=NORMAL");
    SQLite::Statement insert(
        db,
        "INSERT INTO \"MVWebCacheResourceObject\" (\"id\", \"mimeType\", \"lastUpdate\", "
        "\"maximumLifetime\", \"infoDictionary\", \"localSerial\", \"shadowed\") "
        "VALUES (?, ?, ?, ?, ?, ?, ?)");
    int64_t i = 0;
    for (auto _ : state) {
        const std::string blob = MVStoredValue::encodeJsonBlob(info());
        SQLite::Transaction t(db);
        insert.reset();
        insert.bind(1, storedKey(i));
        insert.bind(2, "text/html");
        insert.bind(3, platform::Date::now().timeIntervalSince1970());
        insert.bind(4, 3600.0);
        insert.bind(5, blob.data(), static_cast<int>(blob.size()));
        insert.bind(6, i);
        insert.bind(7, 0);
        insert.exec();
        t.commit();
        ++i;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StoreRawSQLite)
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(kStoredRows)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_FetchThroughLockedAccess(benchmark::State& state) {
    auto& storage = MVPersistentStorage::sharedStorage();
    int64_t i = 0;
    for (auto _ : state) {
        storage.lockedAccess([&] {
            auto r = MVWebCacheResourceObject::dbObjectWithID(key(i % kFetchRows));
            benchmark::DoNotOptimize(r->infoDictionary());
        });
        ++i;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FetchThroughLockedAccess)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_FetchRawSQLite(benchmark::State& state) {
    SQLite::Database db(gRawPath, SQLite::OPEN_READONLY);
    SQLite::Statement select(
        db,
        "SELECT mv_pk, \"id\", \"mimeType\", \"lastUpdate\", \"maximumLifetime\", "
        "\"infoDictionary\", \"localSerial\", \"shadowed\" FROM \"MVWebCacheResourceObject\" "
        "WHERE \"id\" = ? ORDER BY mv_pk");
    int64_t i = 0;
    for (auto _ : state) {
        select.reset();
        select.bind(1, key(i % kFetchRows));
        while (select.executeStep()) {
            auto column = select.getColumn(5);
            benchmark::DoNotOptimize(MVStoredValue::decodeJsonBlob(
                column.getBlob(), static_cast<size_t>(column.getBytes())));
        }
        ++i;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FetchRawSQLite)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// Both stores get the same rows before the runs: the fetches look up the first ones.
void setUp() {
    gHome = new TempDir();
    const std::string caches = gHome->path() + "/caches";
    MVPersistentStorage::setHost(RecordingStorageHost::at(caches));
    auto& storage = MVPersistentStorage::sharedStorage();
    storage.lockedAccess([&] {
        for (int i = 0; i < kFetchRows; ++i) {
            auto r = MVWebCacheResourceObject::dbObjectCreate();
            r->setId(key(i));
            r->setInfoDictionary(&info());
        }
    });
    storage.waitUntilWrittenToDisc();
    gRawPath = gHome->path() + "/raw.sqlite";
    auto raw = MVSQLiteStore::open(gRawPath, MVPersistentStorage::managedObjectModel(),
                                   MVPersistentStorage::kConfiguration, nullptr);
    auto batch = std::make_shared<MVStoreBatch>();
    batch->entities.resize(MVPersistentStorage::managedObjectModel()->entities().size());
    for (int i = 0; i < kFetchRows; ++i)
        batch->entities[0].push_back(
            {i + 1, std::make_shared<const std::vector<MVStoredValue>>(std::vector<MVStoredValue>{
                        key(i), {}, {}, {}, MVStoredValue::json(info()), {}, {}})});
    raw->write({batch}, nullptr);
}

class TimeReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        // The machine is shared: the median of the repetitions.
        for (const auto& run : runs)
            if (run.aggregate_name == "median")
                times[run.run_name.function_name] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    MVRegisterPersistentEntities();
    setUp();
    TimeReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto ratio = [&](const char* ours, const char* raw) {
        const double a = reporter.times[ours], b = reporter.times[raw];
        return a > 0 && b > 0 ? a / b : 0.0;
    };
    std::printf(
        "store: locked access/raw SQLite time %.2f; fetch: locked access/raw SQLite time %.2f\n",
        ratio("BM_StoreThroughLockedAccess", "BM_StoreRawSQLite"),
        ratio("BM_FetchThroughLockedAccess", "BM_FetchRawSQLite"));
    benchmark::Shutdown();
    platform::resetSharedInstancesForTesting();  // closes the store before its folder goes
    delete gHome;
    return 0;
}
