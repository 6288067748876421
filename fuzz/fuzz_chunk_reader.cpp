// Arbitrary bytes through the downstream chunk reader, fed whole and split at points
// the input chooses: no crash, no sanitizer report, and the same packets and outcome
// whatever the split (the body is one stream of packets, so neither a read's nor a
// chunk's boundaries may change what it says), chunked or not; what the reader holds
// stays within its bounds.
//
// Input: byte 0 picks the content type (bit 0) and compression (bit 1); byte 1 seeds
// the split points; the rest is the stream.
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string_view>
#include <vector>

#include "libmerovane/connection/MVApiChunkReader.h"

namespace {

struct Run {
    std::vector<nlohmann::json> packets;
    MVApiChunkReader::Outcome outcome = MVApiChunkReader::Outcome::Ok;
};

Run read(std::string_view stream, MVApiChunkState state, MVApiContentType type, bool compressed,
         uint32_t seed) {
    MVApiChunkReader reader;
    reader.start(state, type, compressed);
    Run run;
    auto collect = [&run](nlohmann::json& packet) { run.packets.push_back(packet); };
    while (!stream.empty()) {
        size_t take = stream.size();
        if (seed != 0) {
            seed = seed * 1103515245u + 12345u;
            take = std::min<size_t>(stream.size(), 1 + (seed >> 16) % 97);
        }
        run.outcome = reader.append(stream.substr(0, take), collect);
        stream.remove_prefix(take);
        if (reader.bufferedBytes() > MVApiChunkReader::kMaxChunkSize + 512 ||
            reader.combinedBytes() > 2 * MVApiChunkReader::kMaxPacketSize)
            std::abort();
        if (run.outcome == MVApiChunkReader::Outcome::FramingError) break;
    }
    for (const auto& packet : run.packets)
        if (!packet.is_object()) std::abort();
    return run;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const MVApiContentType type =
        (data[0] & 1) ? MVApiContentTypeMessagePack : MVApiContentTypeJSON;
    const bool compressed = data[0] & 2;
    const uint32_t seed = data[1] | 0x100u;
    const std::string_view stream(reinterpret_cast<const char*>(data) + 2, size - 2);

    for (const auto state : {MVApiChunkStateHeader, MVApiChunkStateUnchunked}) {
        const Run whole = read(stream, state, type, compressed, 0);
        const Run split = read(stream, state, type, compressed, seed);
        if (whole.outcome != split.outcome || whole.packets != split.packets) std::abort();
    }
    return 0;
}
