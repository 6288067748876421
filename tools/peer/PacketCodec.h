#pragma once
// API packets as they travel inside chunks: JSON or MessagePack maps, optionally
// gzip-compressed. The decoder sniffs like the loopback peer does: gzip signature first
// (inflate), then "{" for JSON, anything else as a MessagePack map.

#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// The packets of a body, back to back whatever its chunks (a proxy cuts and joins them):
// each ends where its own encoding says, sniffed at its first byte as decodePacket does:
// a gzip member, a JSON value by its brackets and strings, a MessagePack value by its
// type bytes. White space between packets (a CR LF heartbeat) is skipped. A gzip member
// that does not inflate ends where zlib gave up.
//
//   PacketStreamReader reader;  std::vector<std::string> packets;
//   reader.feed(chunkPayload, packets);   // any split
class PacketStreamReader {
  public:
    PacketStreamReader();
    ~PacketStreamReader();
    PacketStreamReader(PacketStreamReader&&) noexcept;
    PacketStreamReader& operator=(PacketStreamReader&&) noexcept;

    // Appends the bytes of each packet the bytes complete to `packets`.
    void feed(std::string_view bytes, std::vector<std::string>& packets);
    // Bytes of the packet under way.
    size_t partialBytes() const { return current_.size(); }

  private:
    enum class Kind { None, JSON, MessagePack, Gzip };
    // Each answers how many bytes the packet under way takes and whether it ended.
    size_t walkJSON(std::string_view bytes, bool& ended);
    size_t walkMessagePack(std::string_view bytes, bool& ended);
    size_t walkGzip(std::string_view bytes, bool& ended);

    Kind kind_ = Kind::None;
    std::string current_;
    // JSON
    size_t depth_ = 0;
    bool inString_ = false;
    bool escaped_ = false;
    // MessagePack: values still to come per open container, the type byte's head.
    std::vector<uint64_t> left_;
    std::string head_;
    uint64_t skip_ = 0;
    // gzip
    struct Inflate;
    std::unique_ptr<Inflate> inflate_;
};

// MessagePack through the JSON library's own codec, independent of the msgpack-cxx one
// the library uses. It writes a float in 32 bits when nothing is lost.
std::string toMessagePack(const nlohmann::json& value);
std::optional<nlohmann::json> fromMessagePack(std::string_view bytes, std::string* error = nullptr);

}  // namespace peer
