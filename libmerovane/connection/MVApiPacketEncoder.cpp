#include "libmerovane/connection/MVApiPacketEncoder.h"

#include <fmt/core.h>

#include <nlohmann/json.hpp>

#include "libmerovane/connection/MVMessagePack.h"
#include "platform/foundation/JsonValue.h"

namespace {

constexpr std::string_view kCRLF = "\r\n";

std::string encodePayload(const nlohmann::json& packet, bool messagePack) {
    return messagePack ? MVMessagePack::encode(packet) : platform::json::print(packet);
}

}  // namespace

std::string MVApiPacketEncoder::chunk(std::string_view payload) {
    std::string out = fmt::format("{:X}\r\n", payload.size());
    out.reserve(out.size() + payload.size() + kCRLF.size());
    out.append(payload);
    out.append(kCRLF);
    return out;
}

std::string MVApiPacketEncoder::encodeChunk(const nlohmann::json& packet,
                                            MVApiUpstreamEncoding encoding, std::string& error) {
    std::string payload = encodePayload(packet, encoding.messagePack);
    if (!payload.empty() && encoding.gzip) payload = deflater_.compress(payload);
    if (payload.empty()) {
        error = encoding.gzip ? "gzip compression failed" : "the encoding is empty";
        return {};
    }
    return chunk(payload);
}

const std::string& MVApiPacketEncoder::keepAliveChunk(MVApiUpstreamEncoding encoding) {
    static const std::string* chunks = [] {
        auto* made = new std::string[4];
        MVApiGzipDeflater deflater;
        for (int i = 0; i < 4; ++i) {
            const bool messagePack = i & 1;
            const bool gzip = i & 2;
            std::string payload = encodePayload(nlohmann::json::object(), messagePack);
            if (gzip) payload = deflater.compress(payload);
            made[i] = chunk(payload);
        }
        return made;
    }();
    return chunks[(encoding.messagePack ? 1 : 0) | (encoding.gzip ? 2 : 0)];
}
