// Page-command round trips per second through the headless engine: the page navigates
// to "mvcmd:" + its collection, the web view decides, decodes, checks the serial and
// dispatches, the command answers with an event, and the event reaches the page as a
// script. Against the same command dispatched from its decoded collection directly (the
// event built and delivered as well), and the decision called without the engine's turn.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "bench/BenchRateReporter.h"
#include "bench/HeadlessBenchPage.h"
#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/bridge/MVEvent.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/bridge/MVWebViewAdapter.h"
#include "libmerovane/core/StringExtensions.h"
#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "libmerovane/handlers/MVCommandHandler_2_0.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/TestDriver.h"
#include "platform/foundation/URLRequest.h"
#include "platform/web/HeadlessWebEngine.h"
#include "platform/web/WebView.h"

namespace {

std::unique_ptr<HeadlessBenchPage> page;
platform::HeadlessWebEngine* engine = nullptr;
std::shared_ptr<MVWebView> webView;

constexpr const char* kCollectionHead =
    R"({"ver":"2.0","cmds":[{"c":"benchEcho","p":{"q":"shoes","page":2,"filters":{"size":42}},"s":)";
constexpr const char* kCollectionTail = "}]}";

void benchEcho(MVCommandHandler&, nlohmann::json* parameters,
               const std::shared_ptr<MVWebView>& sender) {
    sender->performMVEvent(
        MVEvent("dataResponse", nlohmann::json::array({"1000:1", 200, *parameters})));
}

// The page's command URL for its next command, as the page library builds it.
std::string nextCommandURL() {
    static const std::string head = "mvcmd:" + urlEncodedString(kCollectionHead);
    static const std::string tail = urlEncodedString(kCollectionTail);
    return head + std::to_string(webView->lastCommandSerial()) + tail;
}

void setUp() {
    registerCommandHandlerClasses();
    MVCommandHandler_2_0::commandTable().add(
        "benchEcho", {MVSpec{{"q", MVSpec::NSString}, {"+page", MVSpec::NSNumber}}, &benchEcho});
    page = std::make_unique<HeadlessBenchPage>();
    engine = page->engine;
    webView = page->webView;
}

void BM_PageRoundTrip(benchmark::State& state) {
    const int64_t before = page->events;
    for (auto _ : state) {
        engine->navigate(nextCommandURL());
        platform::runUntilIdle();
    }
    if (page->events - before != state.iterations()) state.SkipWithError("events were lost");
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PageRoundTrip);

void BM_DecisionRoundTrip(benchmark::State& state) {
    const int64_t before = page->events;
    for (auto _ : state) {
        platform::URLRequest request(*platform::URL::parse(nextCommandURL()));
        benchmark::DoNotOptimize(webView->webViewShouldStartLoadWithRequest(
            *webView->webView(), request, platform::NavigationType::LinkClicked));
    }
    if (page->events - before != state.iterations()) state.SkipWithError("events were lost");
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecisionRoundTrip);

void BM_DirectDispatch(benchmark::State& state) {
    const auto collection =
        nlohmann::json::parse(std::string(kCollectionHead) + "0" + kCollectionTail);
    const std::shared_ptr<MVWebViewInterface> sender = webView;
    const int64_t before = page->events;
    for (auto _ : state)
        MVCommandHandler::performCommandsFromCommandCollection(nlohmann::json(collection), sender);
    if (page->events - before != state.iterations()) state.SkipWithError("events were lost");
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DirectDispatch);

}  // namespace

int main(int argc, char** argv) {
    auto rates = runBenchmarksKeepingRates(argc, argv, &setUp);
    const double roundTrip = rates["BM_PageRoundTrip"];
    const double decision = rates["BM_DecisionRoundTrip"];
    const double direct = rates["BM_DirectDispatch"];
    if (roundTrip > 0 && decision > 0 && direct > 0)
        std::printf(
            "page round trip: %.0f/s, decision without the engine's turn: %.0f/s, direct "
            "dispatch: %.0f/s; direct/round trip: %.1f, direct/decision: %.1f\n",
            roundTrip, decision, direct, direct / roundTrip, direct / decision);
    webView.reset();
    page.reset();
    benchmark::Shutdown();
    return 0;
}
