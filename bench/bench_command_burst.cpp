// A burst of 10,000 small commands, one sendCommands call each from one thread, through
// the API connection's batching on the real clock (the batching delay really passes),
// until the last command has reached a loopback server. Reports commands/s, packets/s
// and packets per batching delay, which the batching keeps at one or less.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "bench/ApiBenchServer.h"
#include "libmerovane/connection/MVApiConnection.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/foundation/TestDriver.h"
#include "tests/connection/TestCommand.h"
#include "tests/support/ProxyEnvironment.h"
#include "tests/support/TempDir.h"

namespace {

constexpr int kBurst = 10000;

struct Figures {
    double commandsPerSecond = 0;
    double packetsPerSecond = 0;
    double packetsPerBatchDelay = 0;
};
std::map<std::string, Figures> gFigures;

void BM_RealClockBurst(benchmark::State& state, bool messagePack, const std::string& name) {
    TempDir home;
    testsupport::ProxyEnvironment proxies;
    benchsupport::Sink sink;
    sink.setAccepts(messagePack, false);
    auto& connection = benchsupport::openPersistent(sink);
    sink.countCommands();
    std::vector<std::vector<MVCommand>> burst;
    for (int i = 0; i < kBurst; ++i)
        burst.push_back(
            {testCommand("dataRequest", nlohmann::json{{"id", "1003:" + std::to_string(i)},
                                                       {"url", "/api/cart"}})});
    double seconds = 0;
    uint64_t packets = 0;
    for (auto _ : state) {
        const uint64_t commandsBefore = sink.commands();
        const uint64_t packetsBefore = sink.packets();
        const auto start = std::chrono::steady_clock::now();
        std::thread sender([&] {
            for (const auto& commands : burst) connection.sendCommands(commands);
        });
        const bool arrived =
            platform::runUntil([&] { return sink.commands() >= commandsBefore + kBurst; }, 60.0);
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        sender.join();
        if (!arrived) state.SkipWithError("commands did not arrive");
        state.SetIterationTime(elapsed);
        seconds += elapsed;
        packets += sink.packets() - packetsBefore;
    }
    const double commands = static_cast<double>(state.iterations()) * kBurst;
    Figures& f = gFigures[name];
    f.commandsPerSecond = commands / seconds;
    f.packetsPerSecond = static_cast<double>(packets) / seconds;
    f.packetsPerBatchDelay = f.packetsPerSecond * MVApiConnection::kCommandBatchDelay;
    state.SetItemsProcessed(state.iterations() * kBurst);
    state.counters["packets_per_second"] = f.packetsPerSecond;
    platform::resetSharedInstancesForTesting();
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    for (bool messagePack : {false, true}) {
        const std::string name = messagePack ? "msgpack" : "json";
        benchmark::RegisterBenchmark(("BM_RealClockBurst/" + name).c_str(), BM_RealClockBurst,
                                     messagePack, name)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    for (const auto& [name, f] : gFigures)
        std::printf("burst/%-8s %10.0f commands/s, %6.1f packets/s, %.2f packets per %.0f ms\n",
                    name.c_str(), f.commandsPerSecond, f.packetsPerSecond, f.packetsPerBatchDelay,
                    MVApiConnection::kCommandBatchDelay * 1000);
    benchmark::Shutdown();
    return 0;
}
