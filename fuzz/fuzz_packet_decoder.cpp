// Arbitrary bodies through the downstream packet decoder, which reads them as a stream
// of packets: no crash, no sanitizer report, only maps handed over, and the same packets
// (and the same lost place) whatever pieces the body comes in; a payload that decodes on
// its own as one packet is that one packet in the stream too.
//
// Input: byte 0 picks the content type (bit 0), compression (bit 1) and the size of the
// pieces (the other bits); the rest is the body.
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "libmerovane/connection/MVApiPacketDecoder.h"

namespace {

// Two decodings of the same bytes match bit for bit: compared by their MessagePack, a
// NaN equals the NaN it was decoded from (where == never holds).
bool sameDecoding(const std::vector<nlohmann::json>& a, const std::vector<nlohmann::json>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (nlohmann::json::to_msgpack(a[i]) != nlohmann::json::to_msgpack(b[i])) return false;
    return true;
}

struct Run {
    std::vector<nlohmann::json> packets;
    bool lost = false;
};

Run read(std::string_view body, MVApiContentType type, bool compressed, size_t piece) {
    MVApiPacketDecoder decoder;
    decoder.start(type, compressed);
    Run run;
    for (size_t at = 0; at < body.size(); at += piece) {
        decoder.feed(body.substr(at, piece),
                     [&run](nlohmann::json& packet) { run.packets.push_back(packet); });
        if (decoder.bufferedBytes() > 2 * MVApiPacketDecoder::kMaxPacketSize) std::abort();
    }
    for (const auto& packet : run.packets)
        if (!packet.is_object()) std::abort();
    run.lost = decoder.lostPlace();
    decoder.finish();
    return run;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const MVApiContentType type =
        (data[0] & 1) ? MVApiContentTypeMessagePack : MVApiContentTypeJSON;
    const bool compressed = data[0] & 2;
    const size_t piece = 1 + (data[0] >> 2);
    const std::string_view body(reinterpret_cast<const char*>(data) + 1, size - 1);

    const Run whole = read(body, type, compressed, body.size() + 1);
    const Run pieces = read(body, type, compressed, piece);
    if (whole.lost != pieces.lost || !sameDecoding(whole.packets, pieces.packets)) std::abort();

    MVApiPacketDecoder decoder;
    nlohmann::json packet;
    std::string problem;
    const auto alone = decoder.decode(body, type, compressed, packet, problem);
    if (alone == MVApiPacketDecoder::Result::Packet && !packet.is_object()) std::abort();
    if (alone == MVApiPacketDecoder::Result::Rejected && problem.empty()) std::abort();
    if (alone == MVApiPacketDecoder::Result::Packet &&
        (whole.lost || !sameDecoding(whole.packets, {packet})))
        std::abort();
    return 0;
}
