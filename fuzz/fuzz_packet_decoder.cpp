// Arbitrary payloads through the downstream packet decoder, whole and as the prefixes a
// packet split over chunks shows on the way: no crash, no sanitizer report, a payload
// that decodes whole is never refused while only part of it has come, and, arriving in
// pieces, comes out once and the same; one refused whole is never taken in pieces.
//
// Input: byte 0 picks the content type (bit 0), compression (bit 1) and the size of the
// pieces (the other bits); the rest is the payload.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "libmerovane/connection/MVApiPacketDecoder.h"

// Two decodings of the same bytes match bit for bit: compared by their MessagePack, a
// NaN equals the NaN it was decoded from (where == never holds).
static bool sameDecoding(const nlohmann::json& a, const nlohmann::json& b) {
    return nlohmann::json::to_msgpack(a) == nlohmann::json::to_msgpack(b);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const MVApiContentType type =
        (data[0] & 1) ? MVApiContentTypeMessagePack : MVApiContentTypeJSON;
    const bool compressed = data[0] & 2;
    const std::string_view payload(reinterpret_cast<const char*>(data) + 1, size - 1);

    MVApiPacketDecoder decoder;
    nlohmann::json packet;
    std::string problem;
    const auto whole = decoder.decode(payload, type, compressed, packet, problem);
    if (whole == MVApiPacketDecoder::Result::Packet && !packet.is_object()) std::abort();
    if (whole == MVApiPacketDecoder::Result::Rejected && problem.empty()) std::abort();

    // A payload refused whole is not taken in pieces: refused, or still awaited when what
    // the parser refuses is left to the end (a string's UTF-8, a number's range); only a
    // prefix that is a whole payload itself answers otherwise.
    if (whole == MVApiPacketDecoder::Result::Rejected) {
        const size_t piece = 1 + (data[0] >> 2);
        MVApiPacketDecoder arriving;
        auto result = MVApiPacketDecoder::Result::Incomplete;
        nlohmann::json part;
        size_t end = 0;
        while (result == MVApiPacketDecoder::Result::Incomplete && end < payload.size()) {
            end = std::min(payload.size(), end + piece);
            result =
                arriving.decodeArriving(payload.substr(0, end), type, compressed, part, problem);
        }
        if (result != whole && result != MVApiPacketDecoder::Result::Incomplete) {
            MVApiPacketDecoder atOnce;
            nlohmann::json prefix;
            if (end == payload.size() ||
                atOnce.decode(payload.substr(0, end), type, compressed, prefix, problem) != result)
                std::abort();
        }
    }
    if (whole != MVApiPacketDecoder::Result::Packet) return 0;

    // In pieces: nothing until the packet can be whole, then the same packet. A first
    // piece that is the CR LF heartbeat is one (JSON allows it before a packet): the
    // bytes after it are a payload of their own, as the reader takes them.
    {
        const size_t piece = 1 + (data[0] >> 2);
        MVApiPacketDecoder arriving;
        auto result = MVApiPacketDecoder::Result::Incomplete;
        nlohmann::json part;
        size_t start = 0;
        for (size_t end = 0; result == MVApiPacketDecoder::Result::Incomplete ||
                             result == MVApiPacketDecoder::Result::Nothing;) {
            if (result == MVApiPacketDecoder::Result::Nothing) start = end;
            if (end == payload.size()) std::abort();
            end = std::min(payload.size(), end + piece);
            result = arriving.decodeArriving(payload.substr(start, end - start), type, compressed,
                                             part, problem);
        }
        if (result != MVApiPacketDecoder::Result::Packet || !sameDecoding(part, packet))
            std::abort();
        // In one piece too.
        if (arriving.decodeArriving(payload, type, compressed, part, problem) !=
                MVApiPacketDecoder::Result::Packet ||
            !sameDecoding(part, packet))
            std::abort();
    }

    // Up to 16 cut points spread over the payload, the same decoder reused.
    const size_t step = payload.size() / 16 + 1;
    for (size_t cut = 0; cut < payload.size(); cut += step) {
        nlohmann::json part;
        problem.clear();
        if (decoder.decode(payload.substr(0, cut), type, compressed, part, problem) ==
            MVApiPacketDecoder::Result::Rejected)
            std::abort();
    }
    return 0;
}
