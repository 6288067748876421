// Command collections per second through the whole dispatch path (collection check,
// version lookup, command lookup, null stripping, validation, main-thread call of a
// trivial command) against calling the same command function directly; and from the
// collection's text against parsing the same text alone, on each road a collection
// comes by: parsed and dispatched, a page's "mvcmd:" URL, and a server packet's payload
// decoded as the API connection decodes it.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "bench/BenchRateReporter.h"
#include "libmerovane/bridge/MVCommandChannel.h"
#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/connection/MVApiPacketDecoder.h"
#include "libmerovane/core/StringExtensions.h"
#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "libmerovane/handlers/MVCommandHandler_1_0.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/JsonValue.h"

namespace {

int64_t performedCount = 0;

void trivialCommand(MVCommandHandler&, nlohmann::json* parameters,
                    const std::shared_ptr<MVWebView>&) {
    ++performedCount;
    benchmark::DoNotOptimize(parameters);
}

// About 150 bytes, as a page sends them.
const std::string kText =
    R"({"ver":"2.0","cmds":[{"c":"benchCommand","p":{"src":"mvapi:home","targetTab":"shop",)"
    R"("animated":true,"speedFactor":1.5,"context":{"a":1,"b":null}},"s":12}]})";

const nlohmann::json& collection() {
    static const nlohmann::json c = nlohmann::json::parse(kText);
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
    // Dispatch takes its collection; the copies are made outside the timing, a batch at a
    // time.
    std::vector<nlohmann::json> batch(1024);
    size_t next = batch.size();
    for (auto _ : state) {
        if (next == batch.size()) {
            state.PauseTiming();
            for (auto& c : batch) c = collection();
            next = 0;
            state.ResumeTiming();
        }
        MVCommandHandler::performCommandsFromCommandCollection(std::move(batch[next++]), nullptr);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DispatchCollection);

void BM_ParseOnly(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(nlohmann::json::parse(kText));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseOnly);

void BM_DispatchFromText(benchmark::State& state) {
    for (auto _ : state) {
        auto parsed = platform::json::parse(kText);
        MVCommandHandler::performCommandsFromCommandCollection(std::move(parsed.value), nullptr);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DispatchFromText);

void BM_DispatchFromCommandURL(benchmark::State& state) {
    const std::string url = "mvcmd:" + urlEncodedString(kText);
    int64_t serial = 0;
    for (auto _ : state) MVCommandChannel::performCommandURL(url, nullptr, serial);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DispatchFromCommandURL);

void BM_DispatchFromServerPacket(benchmark::State& state) {
    MVApiPacketDecoder decoder;
    std::string problem;
    for (auto _ : state) {
        nlohmann::json packet;
        if (decoder.decode(kText, MVApiContentTypeJSON, false, packet, problem) !=
            MVApiPacketDecoder::Result::Packet)
            state.SkipWithError("the packet does not decode");
        MVCommandHandler::performCommandsFromCommandCollection(std::move(packet), nullptr);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DispatchFromServerPacket);

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
    const double parse = rates["BM_ParseOnly"];
    const double fromText = rates["BM_DispatchFromText"];
    const double fromURL = rates["BM_DispatchFromCommandURL"];
    const double fromPacket = rates["BM_DispatchFromServerPacket"];
    if (parse > 0 && fromText > 0 && fromURL > 0 && fromPacket > 0)
        std::printf(
            "from text: parse alone %.0f/s, parse and dispatch %.0f/s (time %.2f x the parse), "
            "page road through the URL %.0f/s (%.2f x), server road through the packet decoder "
            "%.0f/s (%.2f x)\n",
            parse, fromText, parse / fromText, fromURL, parse / fromURL, fromPacket,
            parse / fromPacket);
    benchmark::Shutdown();
    return 0;
}
