// The downstream reader on a packet just under the 16 MiB bound, in JSON and MessagePack,
// with and without gzip: sent in 1 KiB chunks against the same packet in one chunk (the
// baseline), both read 10 KiB at a time as the connection reads. Linear reading keeps
// the chunked packet within 3x of the baseline.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "bench/BenchRateReporter.h"
#include "libmerovane/connection/MVApiChunkReader.h"
#include "tools/peer/ChunkedCoding.h"
#include "tools/peer/PacketCodec.h"

namespace {

#ifdef NDEBUG
constexpr size_t kTargetSize = MVApiChunkReader::kMaxPacketSize - 64 * 1024;
#else
// Debug builds with sanitizers only smoke-run this: a 1 MiB packet keeps that quick.
constexpr size_t kTargetSize = 1024 * 1024;
#endif
constexpr size_t kChunk = 1024;
constexpr size_t kRead = 10240;

struct Case {
    std::string payload;    // the packet as sent
    std::string oneChunk;   // in one chunk
    std::string kibChunks;  // in 1 KiB chunks
};

// A server collection whose encoding (before any gzip) comes just under the bound, in
// rows few enough for MessagePack's bound on the number of values.
Case makeCase(bool messagePack, bool gzip) {
    const auto encoding =
        messagePack ? peer::PacketEncoding::MessagePack : peer::PacketEncoding::JSON;
    auto rowsFor = [](size_t count) {
        nlohmann::json rows = nlohmann::json::array();
        for (size_t i = 0; i < count; ++i)
            rows.push_back({{"id", i},
                            {"name", "row " + std::to_string(i * 7919 % 100003) +
                                         " of a page of shop content, in some words"}});
        return nlohmann::json{{"ver", "2.1"}, {"serial", 1}, {"cmds", {{{"c", "x"}, {"p", rows}}}}};
    };
    const size_t perRow = peer::encodePacket(rowsFor(1000), encoding, false).size() / 1000;
    size_t count = kTargetSize / perRow;
    while (peer::encodePacket(rowsFor(count), encoding, false).size() > kTargetSize)
        count -= count / 200 + 1;
    Case c;
    c.payload = peer::encodePacket(rowsFor(count), encoding, gzip);
    c.oneChunk = peer::encodeChunk(c.payload);
    for (size_t at = 0; at < c.payload.size(); at += kChunk)
        c.kibChunks += peer::encodeChunk(std::string_view(c.payload).substr(at, kChunk));
    return c;
}

const Case& caseFor(bool messagePack, bool gzip) {
    static Case cases[2][2];
    Case& c = cases[messagePack][gzip];
    if (c.payload.empty()) c = makeCase(messagePack, gzip);
    return c;
}

void read(benchmark::State& state, bool chunked) {
    const bool messagePack = state.range(0) != 0;
    const bool gzip = state.range(1) != 0;
    const Case& c = caseFor(messagePack, gzip);
    const std::string& stream = chunked ? c.kibChunks : c.oneChunk;
    for (auto _ : state) {
        MVApiChunkReader reader;
        reader.start(MVApiChunkStateHeader,
                     messagePack ? MVApiContentTypeMessagePack : MVApiContentTypeJSON, gzip);
        size_t packets = 0;
        for (size_t at = 0; at < stream.size(); at += kRead)
            reader.append(std::string_view(stream).substr(at, kRead),
                          [&packets](nlohmann::json&) { ++packets; });
        if (packets != 1) state.SkipWithError("the packet did not come out");
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * c.payload.size()));
}

void BM_OneChunk(benchmark::State& state) {
    read(state, false);
}
void BM_KiBChunks(benchmark::State& state) {
    read(state, true);
}

// (MessagePack, gzip)
BENCHMARK(BM_OneChunk)
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->ArgNames({"msgpack", "gzip"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KiBChunks)
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->ArgNames({"msgpack", "gzip"})
    ->Unit(benchmark::kMillisecond);

void setUp() {}

}  // namespace

int main(int argc, char** argv) {
    auto rates = runBenchmarksKeepingRates(argc, argv, &setUp);
    for (const char* args :
         {"msgpack:0/gzip:0", "msgpack:1/gzip:0", "msgpack:0/gzip:1", "msgpack:1/gzip:1"}) {
        const double one = rates[std::string("BM_OneChunk/") + args];
        const double kib = rates[std::string("BM_KiBChunks/") + args];
        if (one > 0 && kib > 0)
            std::printf("%s: 1 KiB chunks take %.2fx the time of one chunk (goal: at most 3x)\n",
                        args, one / kib);
    }
    benchmark::Shutdown();
    return 0;
}
