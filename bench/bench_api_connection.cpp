// Upstream throughput of the streaming API connection over loopback: 10,000 small
// commands (100 packets of 100) and 100 packets of 64 KB of page content, in JSON and
// MessagePack, with and without gzip, from sendCommands to the bytes arriving at a
// server; against writing the same bytes over a bare loopback socket to the same server.
// Also counts the process's minor page faults per packet once the first run has warmed up.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/ApiBenchServer.h"
#include "bench/BenchRateReporter.h"
#include "libmerovane/connection/MVApiConnection.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/foundation/TestDriver.h"
#include "tests/connection/TestCommand.h"
#include "tests/support/ProxyEnvironment.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestApiConnectionHost.h"
#include "tools/peer/ChunkedCoding.h"

namespace {

constexpr int kSmallCommands = 10000;
constexpr int kCommandsPerPacket = 100;
constexpr int kPagePackets = 100;
constexpr size_t kPageBytes = 64 * 1024;
using benchsupport::openPersistent;
using benchsupport::Sink;
using benchsupport::waitForPackets;

// Text that compresses about as well as a shop's HTML.
std::string pageContent() {
    static const char* words[] = {"<div class=\"product\">",
                                  "<span>",
                                  "</span>",
                                  "</div>",
                                  "shoes",
                                  "price",
                                  "19.90",
                                  "EUR",
                                  "size",
                                  "colour",
                                  "black",
                                  "<a href=\"/p/",
                                  "\">",
                                  "</a>",
                                  "\n",
                                  "add to cart"};
    std::mt19937 random(7);
    std::string text;
    while (text.size() < kPageBytes) text += words[random() % std::size(words)];
    text.resize(kPageBytes);
    return text;
}

struct Workload {
    std::vector<std::vector<MVCommand>> batches;  // one packet each
    uint64_t commands = 0;
};

// Minor page faults of the whole process so far.
long minorFaults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

std::map<std::string, double> gFaultsPerPacket;

Workload smallCommands() {
    Workload w;
    for (int i = 0; i < kSmallCommands; i += kCommandsPerPacket) {
        std::vector<MVCommand> batch;
        for (int j = 0; j < kCommandsPerPacket; ++j) {
            batch.push_back(testCommand(
                "dataRequest",
                nlohmann::json{{"id", "1003:" + std::to_string(i + j)}, {"url", "/api/cart"}}));
        }
        w.batches.push_back(std::move(batch));
    }
    w.commands = kSmallCommands;
    return w;
}

Workload pagePackets() {
    Workload w;
    const std::string content = pageContent();
    for (int i = 0; i < kPagePackets; ++i) {
        w.batches.push_back(
            {testCommand("pageContent", nlohmann::json{{"id", "mv-api-page:" + std::to_string(i)},
                                                       {"content", content}})});
    }
    w.commands = kPagePackets;
    return w;
}

void sendAll(MVApiConnection& connection, const Workload& workload) {
    for (const auto& batch : workload.batches) {
        connection.sendCommands(batch);
        platform::advanceBy(MVApiConnection::kCommandBatchDelay);
    }
}

void BM_Connection(benchmark::State& state, const Workload* workload, bool messagePack, bool gzip,
                   const std::string& name) {
    TempDir home;
    testsupport::ProxyEnvironment proxies;
    Sink sink;
    sink.setAccepts(messagePack, gzip);
    auto& connection = openPersistent(sink);
    // One untimed run first, so that the runs measure a connection in steady state.
    const uint64_t warmed = sink.packets() + workload->batches.size();
    sendAll(connection, *workload);
    waitForPackets(sink, warmed);
    uint64_t wire = 0;
    // Page faults in steady state: every run but the first.
    long faults = 0;
    uint64_t steadyPackets = 0;
    bool first = true;
    for (auto _ : state) {
        const uint64_t bytesBefore = sink.bytes();
        const uint64_t target = sink.packets() + workload->batches.size();
        const long faultsBefore = minorFaults();
        sendAll(connection, *workload);
        if (!waitForPackets(sink, target)) state.SkipWithError("packets did not arrive");
        wire = sink.bytes() - bytesBefore;
        if (!first) {
            faults += minorFaults() - faultsBefore;
            steadyPackets += workload->batches.size();
        }
        first = false;
    }
    if (steadyPackets > 0)
        gFaultsPerPacket[name] = static_cast<double>(faults) / static_cast<double>(steadyPackets);
    state.counters["faults_per_packet"] =
        steadyPackets ? static_cast<double>(faults) / static_cast<double>(steadyPackets) : 0.0;
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(workload->commands));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(wire));
    state.counters["payload_bytes_per_run"] = static_cast<double>(wire);
    platform::resetSharedInstancesForTesting();
}

// The bytes one run of the connection puts on the wire after its heads, written over a
// bare socket to the same server.
// Writes `stream` over a bare loopback socket to `sink` and waits for its `packets`.
void writeBare(Sink& sink, const std::string& stream, size_t packets) {
    const uint64_t target = sink.packets() + packets;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(sink.port()));
    ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    const std::string head = "BARE / HTTP/1.1\r\n\r\n";
    ::send(fd, head.data(), head.size(), MSG_NOSIGNAL);
    for (size_t sent = 0; sent < stream.size();) {
        const ssize_t n = ::send(fd, stream.data() + sent, stream.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
    }
    while (sink.packets() < target) std::this_thread::yield();
    ::close(fd);
}

void BM_BareSocket(benchmark::State& state, const Workload* workload, bool messagePack, bool gzip) {
    TempDir home;
    testsupport::ProxyEnvironment proxies;
    Sink sink;
    sink.setAccepts(messagePack, gzip);
    std::string stream;
    {
        auto& connection = openPersistent(sink);
        sink.startCapture();
        const uint64_t target = sink.packets() + workload->batches.size();
        sendAll(connection, *workload);
        waitForPackets(sink, target);
        stream = sink.stopCapture();
        platform::resetSharedInstancesForTesting();
    }
    uint64_t wire = 0;
    for (auto _ : state) {
        const uint64_t bytesBefore = sink.bytes();
        writeBare(sink, stream, workload->batches.size());
        wire = sink.bytes() - bytesBefore;
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(workload->commands));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(wire));
}

std::map<std::string, std::vector<double>> gTurnRatios;

// The connection and the bare socket in turns on one server, so that what else the
// machine does falls on both alike; each turn gives the connection's time over the bare
// socket's for the same bytes.
void BM_ConnectionInTurnsWithBareSocket(benchmark::State& state, const Workload* workload,
                                        bool messagePack, const std::string& name) {
    TempDir home;
    testsupport::ProxyEnvironment proxies;
    Sink sink;
    sink.setAccepts(messagePack, false);
    auto& connection = openPersistent(sink);
    const size_t packets = workload->batches.size();
    auto run = [&] {
        const uint64_t target = sink.packets() + packets;
        sendAll(connection, *workload);
        return waitForPackets(sink, target);
    };
    run();  // warms the connection up
    sink.startCapture();
    run();
    const std::string stream = sink.stopCapture();
    auto& ratios = gTurnRatios[name];
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        if (!run()) state.SkipWithError("packets did not arrive");
        const double connectionTime =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        start = std::chrono::steady_clock::now();
        writeBare(sink, stream, packets);
        const double bareTime =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        // As rates: the connection's over the bare socket's.
        ratios.push_back(bareTime / connectionTime);
        state.SetIterationTime(connectionTime + bareTime);
    }
    platform::resetSharedInstancesForTesting();
}

const Workload* gSmall = nullptr;
const Workload* gPages = nullptr;

const char* encodingName(bool messagePack, bool gzip) {
    if (messagePack) return gzip ? "msgpack_gzip" : "msgpack";
    return gzip ? "json_gzip" : "json";
}

std::vector<std::string> gNames;

void setUp() {
    gSmall = new Workload(smallCommands());
    gPages = new Workload(pagePackets());
    for (const auto& [workload, label] :
         {std::pair{gSmall, "small_commands"}, std::pair{gPages, "page_packets"}}) {
        for (bool messagePack : {false, true}) {
            for (bool gzip : {false, true}) {
                const std::string suffix =
                    std::string(label) + "/" + encodingName(messagePack, gzip);
                gNames.push_back(suffix);
                benchmark::RegisterBenchmark(("BM_Connection/" + suffix).c_str(), BM_Connection,
                                             workload, messagePack, gzip, suffix)
                    ->UseRealTime()
                    ->Unit(benchmark::kMillisecond);
                benchmark::RegisterBenchmark(("BM_BareSocket/" + suffix).c_str(), BM_BareSocket,
                                             workload, messagePack, gzip)
                    ->UseRealTime()
                    ->Unit(benchmark::kMillisecond);
            }
        }
    }
    for (bool messagePack : {false, true}) {
        const std::string name = std::string("page_packets/") + encodingName(messagePack, false);
        benchmark::RegisterBenchmark(("BM_ConnectionInTurnsWithBareSocket/" + name).c_str(),
                                     BM_ConnectionInTurnsWithBareSocket, gPages, messagePack, name)
            ->UseManualTime()
            ->Iterations(15)
            ->Unit(benchmark::kMillisecond);
    }
}

}  // namespace

int main(int argc, char** argv) {
    auto rates = runBenchmarksKeepingRates(argc, argv, &setUp);
    for (const auto& name : gNames) {
        const double connection = rates["BM_Connection/" + name + "/real_time"];
        const double bare = rates["BM_BareSocket/" + name + "/real_time"];
        if (connection > 0 && bare > 0)
            std::printf(
                "%-30s connection %12.0f commands/s, bare socket %12.0f, connection/bare %.3f\n",
                name.c_str(), connection, bare, connection / bare);
    }
    for (auto [name, ratios] : gTurnRatios) {
        if (ratios.empty()) continue;
        std::sort(ratios.begin(), ratios.end());
        std::printf("%-30s in turns: connection/bare min %.3f, median %.3f, max %.3f (%zu turns)\n",
                    name.c_str(), ratios.front(), ratios[ratios.size() / 2], ratios.back(),
                    ratios.size());
    }
    for (const auto& [name, faults] : gFaultsPerPacket)
        std::printf("%-45s %.2f minor page faults per packet in steady state\n", name.c_str(),
                    faults);
    benchmark::Shutdown();
    return 0;
}
