// Web-view loading notifications through the resource monitor with a capture open (a
// start counted at once, an end handled one main-loop turn later), against posting the
// same notifications with nobody observing. One item is a start/end pair; each
// iteration posts 10,000 pairs for 10,000 distinct loads and then runs the main loop
// until the ends have been handled.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

#include "bench/BenchRateReporter.h"
#include "libmerovane/core/MVResourceMonitor.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/foundation/TestDriver.h"

namespace {

constexpr int kPairs = 10'000;
constexpr const char* kStart = "MVWebViewDidStartLoadingNotification";
constexpr const char* kFinish = "MVWebViewDidFinishLoadingNotification";

void postPairs(const std::vector<char>& loads) {
    auto& center = platform::NotificationCenter::defaultCenter();
    for (const char& load : loads) {
        center.post(kStart, &load);
        center.post(kFinish, &load);
    }
    platform::runUntilIdle();
}

void BM_PairsThroughTheMonitor(benchmark::State& state) {
    platform::resetSharedInstancesForTesting();
    std::vector<char> loads(kPairs);
    auto& monitor = MVResourceMonitor::sharedResourceMonitor();
    auto group = monitor.startCapturing();
    for (auto _ : state) postPairs(loads);
    if (group->resourceCount() != 0) state.SkipWithError("the capture still counts loads");
    monitor.stopCapturingThenDo(nullptr, 0);
    platform::runUntilIdle();
    state.SetItemsProcessed(state.iterations() * kPairs);
}
BENCHMARK(BM_PairsThroughTheMonitor);

void BM_PairsUnobserved(benchmark::State& state) {
    platform::resetSharedInstancesForTesting();
    std::vector<char> loads(kPairs);
    if (platform::NotificationCenter::defaultCenter().observerCount() != 0)
        state.SkipWithError("someone observes");
    for (auto _ : state) postPairs(loads);
    state.SetItemsProcessed(state.iterations() * kPairs);
}
BENCHMARK(BM_PairsUnobserved);

void setUp() {}

}  // namespace

int main(int argc, char** argv) {
    auto rates = runBenchmarksKeepingRates(argc, argv, &setUp);
    const double monitored = rates["BM_PairsThroughTheMonitor"];
    const double unobserved = rates["BM_PairsUnobserved"];
    if (monitored > 0 && unobserved > 0)
        std::printf(
            "monitored: %.0f pairs/s, unobserved: %.0f pairs/s, unobserved/monitored: %.1f\n",
            monitored, unobserved, unobserved / monitored);
    benchmark::Shutdown();
    return 0;
}
