#pragma once
// API packets as they travel inside chunks: JSON or MessagePack maps, optionally
// gzip-compressed. The decoder sniffs like the loopback peer does: gzip signature first
// (inflate), then "{" for JSON, anything else as a MessagePack map.

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace peer {

enum class PacketEncoding { JSON, MessagePack };

std::string encodePacket(const nlohmann::json& packet, PacketEncoding encoding, bool gzip = false);

struct DecodedPacket {
    nlohmann::json value;  // null when decoding failed
    PacketEncoding encoding = PacketEncoding::JSON;
    bool gzipped = false;
    std::string error;  // empty when decoded

    bool ok() const { return error.empty(); }
};
DecodedPacket decodePacket(std::string_view payload);

// MessagePack through the JSON library's own codec, independent of the msgpack-cxx one
// the library uses. It writes a float in 32 bits when nothing is lost.
std::string toMessagePack(const nlohmann::json& value);
std::optional<nlohmann::json> fromMessagePack(std::string_view bytes, std::string* error = nullptr);

}  // namespace peer
