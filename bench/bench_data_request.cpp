// A page's data request round trip per second: the page sends sendDataRequest through the
// headless engine, the command goes out in a packet of the shared connection, the
// loopback peer answers with dataResponse in a packet of its own, and the answer reaches
// the page as an event. Against a bare command round trip through the same connection and
// peer: a native command out, the peer's answer performed by the dispatcher.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "bench/BenchRateReporter.h"
#include "bench/HeadlessBenchPage.h"
#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/connection/MVApiConnection.h"
#include "libmerovane/core/StringExtensions.h"
#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "libmerovane/handlers/MVCommandHandler_2_0.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/foundation/TestDriver.h"
#include "tests/connection/TestCommand.h"
#include "tests/support/ProxyEnvironment.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestApiConnectionHost.h"
#include "tools/peer/ApiPeer.h"

namespace {

constexpr double kWait = 60.0;

int64_t pongs = 0;
std::unique_ptr<HeadlessBenchPage> page;
std::unique_ptr<peer::ApiPeer> apiPeer;

// The API server: persistent after the first request, answering each dataRequest with its
// dataResponse and each ping with a pong, one packet per packet received.
std::vector<peer::PeerAction> serve(const peer::PeerEvent& event) {
    using peer::PeerAction;
    static std::atomic<int64_t> serial{0};
    std::vector<PeerAction> actions;
    if (event.kind == peer::PeerEvent::Kind::RequestHead)
        actions.push_back(
            PeerAction::head(peer::ResponseHead::ok({{"X-Merovane-Api", "Velkram"}})));
    if (event.kind == peer::PeerEvent::Kind::BodyEnded) {
        actions.push_back(PeerAction::lastChunk());
        actions.push_back(PeerAction::endOfStream());
    }
    if (event.kind != peer::PeerEvent::Kind::Packet) return actions;
    const nlohmann::json& packet = event.packet->decoded.value;
    nlohmann::json answers = nlohmann::json::array();
    if (packet.is_object() && packet.contains("cmds"))
        for (const auto& command : packet["cmds"]) {
            const std::string name = command.value("c", "");
            if (name == "dataRequest")
                answers.push_back({{"c", "dataResponse"},
                                   {"p",
                                    {{"serial", command["p"].value("serial", "")},
                                     {"status", 200},
                                     {"body", "[1,2,3]"},
                                     {"bodyContentType", "application/json"}}}});
            else if (name == "benchPing")
                answers.push_back({{"c", "benchPong"}});
        }
    if (!answers.empty())
        actions.push_back(
            PeerAction::packet({{"ver", "2.0"}, {"serial", ++serial}, {"cmds", answers}}));
    return actions;
}

void setUp() {
    static TempDir home;
    static testsupport::ProxyEnvironment noProxies;
    registerCommandHandlerClasses();
    MVCommandHandler_2_0::commandTable().add(
        "benchPong", {MVSpec{}, [](MVCommandHandler&, nlohmann::json*,
                                   const std::shared_ptr<MVWebView>&) { ++pongs; }});
    apiPeer = std::make_unique<peer::ApiPeer>();
    apiPeer->setResponder(&serve);
    auto host = std::make_shared<TestApiConnectionHost>();
    host->setDefaultApiPath("http://127.0.0.1:" + std::to_string(apiPeer->port()));
    MVApiConnection::setHost(host);
    auto& connection = MVApiConnection::sharedConnection();
    connection.setIsAllowedToReadCommands(true);
    platform::advanceBy(MVApiConnection::kStartDelay);
    // The first request is legacy; its end brings the persistent connection.
    connection.sendCommands({testCommand("benchPing")});
    platform::advanceBy(MVApiConnection::kCommandBatchDelay);
    platform::runUntil(
        [&] {
            platform::advanceBy(MVApiConnection::kGracefulReconnectDelay);
            return pongs == 1 && connection.hasPersistentConnection() &&
                   connection.state() == MVApiConnectionStateStreaming;
        },
        kWait);

    page = std::make_unique<HeadlessBenchPage>("MVEvent.__call(\"dataResponse\"");
}

// The page's command URL for its next data request, as the page library builds it.
std::string nextRequestURL() {
    const std::string serial = std::to_string(page->webView->lastCommandSerial());
    const nlohmann::json collection = {
        {"ver", "2.0"},
        {"cmds",
         {{{"c", "sendDataRequest"},
           {"p", {{"serial", serial}, {"src", "mvapi:list?page=2&size=42"}}},
           {"s", page->webView->lastCommandSerial()}}}}};
    return "mvcmd:" + urlEncodedString(collection.dump());
}

void BM_DataRequestRoundTrip(benchmark::State& state) {
    for (auto _ : state) {
        const int64_t before = page->events;
        page->engine->navigate(nextRequestURL());
        platform::runUntilIdle();
        platform::advanceBy(MVApiConnection::kCommandBatchDelay);
        if (!platform::runUntil([&] { return page->events == before + 1; }, kWait)) {
            state.SkipWithError("an answer was lost");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DataRequestRoundTrip)->UseRealTime();

void BM_CommandRoundTrip(benchmark::State& state) {
    auto& connection = MVApiConnection::sharedConnection();
    for (auto _ : state) {
        const int64_t before = pongs;
        connection.sendCommands({testCommand("benchPing")});
        platform::advanceBy(MVApiConnection::kCommandBatchDelay);
        if (!platform::runUntil([&] { return pongs == before + 1; }, kWait)) {
            state.SkipWithError("an answer was lost");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CommandRoundTrip)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    auto rates = runBenchmarksKeepingRates(argc, argv, &setUp);
    const double request = rates["BM_DataRequestRoundTrip/real_time"];
    const double bare = rates["BM_CommandRoundTrip/real_time"];
    if (request > 0 && bare > 0)
        std::printf(
            "data request to page event: %.0f/s, bare command round trip: %.0f/s; "
            "bare/data request: %.2f\n",
            request, bare, bare / request);
    page.reset();
    platform::resetSharedInstancesForTesting();
    apiPeer.reset();
    benchmark::Shutdown();
    return 0;
}
