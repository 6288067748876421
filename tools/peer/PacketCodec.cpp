#include "tools/peer/PacketCodec.h"

#include "platform/foundation/JsonValue.h"
#include "tools/peer/Gzip.h"

namespace peer {
namespace {

// Extension types come out of the JSON library as bytes with a subtype; packets use none.
bool hasExtension(const nlohmann::json& value) {
    if (value.is_binary()) return value.get_binary().has_subtype();
    if (!value.is_structured()) return false;
    for (const auto& item : value)
        if (hasExtension(item)) return true;
    return false;
}

// The JSON library's reason, in the words the tests use.
std::string reason(const std::string& what) {
    if (what.find("unexpected end of input") != std::string::npos)
        return "MessagePack could not be read: insufficient bytes";
    if (what.find("expected end of input") != std::string::npos)
        return "bytes left after the MessagePack value";
    if (what.find("MessagePack string") != std::string::npos)
        return "MessagePack map key is not a string";
    return "MessagePack could not be read: " + what;
}

}  // namespace

std::string toMessagePack(const nlohmann::json& value) {
    const auto bytes = nlohmann::json::to_msgpack(value);
    return std::string(bytes.begin(), bytes.end());
}

std::optional<nlohmann::json> fromMessagePack(std::string_view bytes, std::string* error) {
    // The project's parse: depth-limited, as anything read from a socket must be.
    auto parsed = platform::json::parseMessagePack(bytes);
    std::string problem = reason(parsed.error);
    if (parsed.ok()) {
        if (!hasExtension(parsed.value)) return std::move(parsed.value);
        problem = "MessagePack extension types are not used";
    }
    if (error) *error = problem;
    return std::nullopt;
}

std::string encodePacket(const nlohmann::json& packet, PacketEncoding encoding, bool gzip) {
    std::string bytes =
        encoding == PacketEncoding::MessagePack ? toMessagePack(packet) : packet.dump();
    return gzip ? gzipCompress(bytes) : bytes;
}

DecodedPacket decodePacket(std::string_view payload) {
    DecodedPacket out;
    std::string inflated;
    if (hasGzipMagic(payload)) {
        auto bytes = gzipDecompress(payload);
        if (!bytes) {
            out.error = "gzip payload could not be inflated";
            return out;
        }
        out.gzipped = true;
        inflated = std::move(*bytes);
        payload = inflated;
    }
    if (payload.empty()) {
        out.error = "empty payload";
        return out;
    }
    if (payload.front() == '{') {
        out.encoding = PacketEncoding::JSON;
        auto parsed = platform::json::parse(payload);
        if (parsed.ok()) {
            out.value = std::move(parsed.value);
        } else {
            out.error = "JSON payload could not be parsed";
        }
        return out;
    }
    out.encoding = PacketEncoding::MessagePack;
    std::string error;
    if (auto value = fromMessagePack(payload, &error)) {
        if (value->is_object()) {
            out.value = std::move(*value);
        } else {
            out.error = "MessagePack payload is not a map";
        }
    } else {
        out.error = error;
    }
    return out;
}

}  // namespace peer
