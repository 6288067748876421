#include "tools/peer/PacketCodec.h"

#include <zlib.h>

#include <algorithm>

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

struct PacketStreamReader::Inflate {
    z_stream z{};
    bool ready = false;
    Inflate() { ready = inflateInit2(&z, 15 + 16) == Z_OK; }
    ~Inflate() {
        if (ready) inflateEnd(&z);
    }
};

PacketStreamReader::PacketStreamReader() : inflate_(std::make_unique<Inflate>()) {}
PacketStreamReader::~PacketStreamReader() = default;
PacketStreamReader::PacketStreamReader(PacketStreamReader&&) noexcept = default;
PacketStreamReader& PacketStreamReader::operator=(PacketStreamReader&&) noexcept = default;

void PacketStreamReader::feed(std::string_view bytes, std::vector<std::string>& packets) {
    while (!bytes.empty()) {
        if (kind_ == Kind::None) {
            const char c = bytes.front();
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
                bytes.remove_prefix(1);
                continue;
            }
            if (hasGzipMagic(bytes) || (bytes.size() == 1 && c == '\x1f')) {
                kind_ = Kind::Gzip;
                if (inflate_->ready) inflateReset(&inflate_->z);
            } else if (c == '{' || c == '[') {
                kind_ = Kind::JSON;
                depth_ = 0;
                inString_ = escaped_ = false;
            } else {
                kind_ = Kind::MessagePack;
                left_.clear();
                head_.clear();
                skip_ = 0;
            }
        }
        bool ended = false;
        size_t used = 0;
        switch (kind_) {
            case Kind::JSON:
                used = walkJSON(bytes, ended);
                break;
            case Kind::MessagePack:
                used = walkMessagePack(bytes, ended);
                break;
            default:
                used = walkGzip(bytes, ended);
                break;
        }
        current_.append(bytes.substr(0, used));
        bytes.remove_prefix(used);
        if (ended) {
            packets.push_back(std::move(current_));
            current_.clear();
            kind_ = Kind::None;
        }
    }
}

size_t PacketStreamReader::walkJSON(std::string_view bytes, bool& ended) {
    for (size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (inString_) {
            if (escaped_) {
                escaped_ = false;
            } else if (c == '\\') {
                escaped_ = true;
            } else if (c == '"') {
                inString_ = false;
            }
            continue;
        }
        if (c == '"') inString_ = true;
        if (c == '{' || c == '[') ++depth_;
        if ((c == '}' || c == ']') && depth_ > 0 && --depth_ == 0) {
            ended = true;
            return i + 1;
        }
    }
    return bytes.size();
}

size_t PacketStreamReader::walkMessagePack(std::string_view bytes, bool& ended) {
    // The bytes of a value's head after its type byte, and what follows the head.
    const auto headLength = [](uint8_t b) -> size_t {
        if (b >= 0xc4 && b <= 0xc6) return size_t{1} << (b - 0xc4);        // bin 8/16/32
        if (b >= 0xc7 && b <= 0xc9) return (size_t{1} << (b - 0xc7)) + 1;  // ext 8/16/32
        if (b >= 0xca && b <= 0xcb) return b == 0xca ? 4 : 8;              // float
        if (b >= 0xcc && b <= 0xcf) return size_t{1} << (b - 0xcc);        // uint
        if (b >= 0xd0 && b <= 0xd3) return size_t{1} << (b - 0xd0);        // int
        if (b >= 0xd4 && b <= 0xd8) return (size_t{1} << (b - 0xd4)) + 1;  // fixext
        if (b >= 0xd9 && b <= 0xdb) return size_t{1} << (b - 0xd9);        // str 8/16/32
        if (b >= 0xdc && b <= 0xdf) return b <= 0xdd ? (b == 0xdc ? 2 : 4) : (b == 0xde ? 2 : 4);
        return 0;
    };
    const auto valueDone = [this]() {
        while (!left_.empty() && --left_.back() == 0) left_.pop_back();
        return left_.empty();
    };
    for (size_t i = 0; i < bytes.size();) {
        if (skip_ > 0) {
            const size_t take = static_cast<size_t>(std::min<uint64_t>(skip_, bytes.size() - i));
            i += take;
            skip_ -= take;
            if (skip_ == 0 && valueDone()) {
                ended = true;
                return i;
            }
            continue;
        }
        head_.push_back(bytes[i++]);
        const auto type = static_cast<uint8_t>(head_[0]);
        if (head_.size() < 1 + headLength(type)) continue;
        uint64_t n = 0;
        for (size_t k = 1; k < head_.size(); ++k) n = n << 8 | static_cast<uint8_t>(head_[k]);
        head_.clear();
        uint64_t count = 0;
        if (type >= 0x80 && type <= 0x8f) count = 2 * (type & 0x0f);
        if (type >= 0x90 && type <= 0x9f) count = type & 0x0f;
        if (type == 0xdc || type == 0xdd) count = n;
        if (type == 0xde || type == 0xdf) count = 2 * n;
        if (type >= 0xa0 && type <= 0xbf) skip_ = type & 0x1f;
        if ((type >= 0xc4 && type <= 0xc6) || (type >= 0xd9 && type <= 0xdb)) skip_ = n;
        if (type >= 0xc7 && type <= 0xc9) skip_ = n >> 8;  // the length, then the type byte
        if (count > 0) {
            left_.push_back(count);
            continue;
        }
        if (skip_ == 0 && valueDone()) {
            ended = true;
            return i;
        }
    }
    return bytes.size();
}

size_t PacketStreamReader::walkGzip(std::string_view bytes, bool& ended) {
    auto& z = inflate_->z;
    if (!inflate_->ready) {
        ended = true;
        return bytes.size();
    }
    char scratch[16384];
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    z.avail_in = static_cast<uInt>(std::min<size_t>(bytes.size(), UINT32_MAX));
    for (;;) {
        z.next_out = reinterpret_cast<Bytef*>(scratch);
        z.avail_out = sizeof scratch;
        const int status = ::inflate(&z, Z_NO_FLUSH);
        const size_t used =
            static_cast<size_t>(reinterpret_cast<const char*>(z.next_in) - bytes.data());
        if (status == Z_STREAM_END || (status != Z_OK && status != Z_BUF_ERROR)) {
            ended = true;
            return std::max<size_t>(used, 1);
        }
        if (z.avail_in == 0 && z.avail_out != 0) return used;
    }
}

}  // namespace peer
