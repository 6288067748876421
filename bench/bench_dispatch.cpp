// Command collections per second through the whole dispatch path (collection check,
// version lookup, command lookup, null stripping, validation, main-thread call of a
// trivial command) against calling the same command function directly.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "bench/BenchRateReporter.h"
#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "libmerovane/handlers/MVCommandHandler_1_0.h"
#include "platform/foundation/Clock.h"

namespace {

int64_t performedCount = 0;

void trivialCommand(MVCommandHandler&, nlohmann::json* parameters,
                    const std::shared_ptr<MVWebView>&) {
    ++performedCount;
    benchmark::DoNotOptimize(parameters);
}

const nlohmann::json& collection() {
    static const nlohmann::json c = nlohmann::json::parse(R"({
        "ver": "2.0",
        "cmds": [{"c": "benchCommand",
                  "p": {"src": "mvapi:home", "targetTab": "shop", "animated": true,
                        "speedFactor": 1.5, "context": {"a": 1, "b": null}},
                  "s": 12}]})");
    return c;
}

void setUp() {
    registerCommandHandlerClasses();
    MVCommandHandler_1_0::commandTable().add("benchCommand",
                                             {MVSpec{{"src", MVSpec::NSString},
                                                     {"+targetTab", MVSpec::NSString},
                                                     {"+animated", MVSpec::NSNumber},
                                                     {"+speedFactor", MVSpec::NSNumber},
                                                     {"+context", {}}},
                                              &trivialCommand, true});
}

void BM_DispatchCollection(benchmark::State& state) {
    const auto& c = collection();
    for (auto _ : state) MVCommandHandler::performCommandsFromCommandCollection(c, nullptr);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DispatchCollection);

void BM_DirectCall(benchmark::State& state) {
    auto handler = MVCommandHandler::sharedHandlerForVersion(20);
    // the same parameters the command gets at the end of the path
    nlohmann::json parameters = collection()["cmds"][0]["p"];
    parameters["context"].erase("b");
    const std::shared_ptr<MVWebView> none;
    // Through a pointer the optimiser cannot see through, as a real call site would.
    auto* function = &trivialCommand;
    for (auto _ : state) {
        benchmark::DoNotOptimize(function);
        function(*handler, &parameters, none);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DirectCall);

}  // namespace

int main(int argc, char** argv) {
    auto rates = runBenchmarksKeepingRates(argc, argv, &setUp);
    const double dispatched = rates["BM_DispatchCollection"];
    const double direct = rates["BM_DirectCall"];
    if (dispatched > 0 && direct > 0)
        std::printf(
            "dispatch: %.0f collections/s, direct call: %.0f calls/s, direct/dispatch: %.1f\n",
            dispatched, direct, direct / dispatched);
    benchmark::Shutdown();
    return 0;
}
