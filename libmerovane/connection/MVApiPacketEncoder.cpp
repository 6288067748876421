#include "libmerovane/connection/MVApiPacketEncoder.h"

#include <fmt/core.h>

#include <cstring>
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

std::string& MVApiPacketEncoder::startPayload() {
    buffer_.assign(kSizeLineRoom, ' ');
    return buffer_;
}

std::string_view MVApiPacketEncoder::finishChunk(bool gzip, std::string& error) {
    if (buffer_.size() > kSizeLineRoom && gzip) {
        const std::string compressed =
            deflater_.compress(std::string_view(buffer_).substr(kSizeLineRoom));
        buffer_.resize(kSizeLineRoom);
        buffer_.append(compressed);
    }
    const size_t size = buffer_.size() - kSizeLineRoom;
    if (size == 0) {
        error = gzip ? "gzip compression failed" : "the encoding is empty";
        return {};
    }
    char line[kSizeLineRoom];
    const auto end = fmt::format_to_n(line, sizeof line, "{:X}\r\n", size).out;
    const size_t length = static_cast<size_t>(end - line);
    const size_t start = kSizeLineRoom - length;
    std::memcpy(buffer_.data() + start, line, length);
    buffer_.append(kCRLF);
    return std::string_view(buffer_).substr(start);
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
