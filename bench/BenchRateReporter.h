#pragma once
// Runs a benchmark program's benchmarks on the manual clock and keeps each one's
// items-per-second rate, so that the program can print its figures against its baseline
// after the table:
//
//   int main(int argc, char** argv) {
//       auto rates = runBenchmarksKeepingRates(argc, argv, &setUp);
//       std::printf("%.1f\n", rates["BM_Baseline"] / rates["BM_Measured"]);
//       benchmark::Shutdown();
//   }

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

#include "platform/foundation/Clock.h"

class BenchRateReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            auto it = run.counters.find("items_per_second");
            if (it != run.counters.end()) rates[run.benchmark_name()] = it->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> rates;
};

// Installs the manual clock, reads the benchmark flags, runs `setUp` and then the
// benchmarks; answers their rates by name.
inline std::map<std::string, double> runBenchmarksKeepingRates(int& argc, char** argv,
                                                               void (*setUp)()) {
    platform::Clock::installManual();
    benchmark::Initialize(&argc, argv);
    setUp();
    BenchRateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    return reporter.rates;
}
