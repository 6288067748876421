#include "tests/support/PacketCodec.h"

#include <msgpack.hpp>

#include "tests/support/Gzip.h"

namespace testsupport {
namespace {

using Packer = msgpack::packer<msgpack::sbuffer>;

void pack(Packer& packer, const nlohmann::json& value) {
    switch (value.type()) {
        case nlohmann::json::value_t::null:
        case nlohmann::json::value_t::discarded:
            packer.pack_nil();
            break;
        case nlohmann::json::value_t::boolean:
            value.get<bool>() ? packer.pack_true() : packer.pack_false();
            break;
        case nlohmann::json::value_t::number_integer:
            packer.pack_int64(value.get<int64_t>());
            break;
        case nlohmann::json::value_t::number_unsigned:
            packer.pack_uint64(value.get<uint64_t>());
            break;
        case nlohmann::json::value_t::number_float:
            packer.pack_double(value.get<double>());
            break;
        case nlohmann::json::value_t::string: {
            const auto& text = value.get_ref<const std::string&>();
            packer.pack_str(static_cast<uint32_t>(text.size()));
            packer.pack_str_body(text.data(), static_cast<uint32_t>(text.size()));
            break;
        }
        case nlohmann::json::value_t::binary: {
            const auto& bytes = value.get_binary();
            packer.pack_bin(static_cast<uint32_t>(bytes.size()));
            packer.pack_bin_body(reinterpret_cast<const char*>(bytes.data()),
                                 static_cast<uint32_t>(bytes.size()));
            break;
        }
        case nlohmann::json::value_t::array:
            packer.pack_array(static_cast<uint32_t>(value.size()));
            for (const auto& item : value) pack(packer, item);
            break;
        case nlohmann::json::value_t::object:
            packer.pack_map(static_cast<uint32_t>(value.size()));
            for (const auto& [key, item] : value.items()) {
                packer.pack_str(static_cast<uint32_t>(key.size()));
                packer.pack_str_body(key.data(), static_cast<uint32_t>(key.size()));
                pack(packer, item);
            }
            break;
    }
}

bool convert(const msgpack::object& object, nlohmann::json& out, std::string& error) {
    switch (object.type) {
        case msgpack::type::NIL:
            out = nullptr;
            return true;
        case msgpack::type::BOOLEAN:
            out = object.via.boolean;
            return true;
        case msgpack::type::POSITIVE_INTEGER:
            out = object.via.u64;
            return true;
        case msgpack::type::NEGATIVE_INTEGER:
            out = object.via.i64;
            return true;
        case msgpack::type::FLOAT32:
        case msgpack::type::FLOAT64:
            out = object.via.f64;
            return true;
        case msgpack::type::STR:
            out = std::string(object.via.str.ptr, object.via.str.size);
            return true;
        case msgpack::type::BIN:
            out = nlohmann::json::binary(
                std::vector<uint8_t>(object.via.bin.ptr, object.via.bin.ptr + object.via.bin.size));
            return true;
        case msgpack::type::ARRAY:
            out = nlohmann::json::array();
            for (uint32_t i = 0; i < object.via.array.size; ++i) {
                nlohmann::json item;
                if (!convert(object.via.array.ptr[i], item, error)) return false;
                out.push_back(std::move(item));
            }
            return true;
        case msgpack::type::MAP:
            out = nlohmann::json::object();
            for (uint32_t i = 0; i < object.via.map.size; ++i) {
                const auto& entry = object.via.map.ptr[i];
                if (entry.key.type != msgpack::type::STR) {
                    error = "MessagePack map key is not a string";
                    return false;
                }
                nlohmann::json item;
                if (!convert(entry.val, item, error)) return false;
                out[std::string(entry.key.via.str.ptr, entry.key.via.str.size)] = std::move(item);
            }
            return true;
        default:
            error = "MessagePack extension types are not used";
            return false;
    }
}

}  // namespace

std::string toMessagePack(const nlohmann::json& value) {
    msgpack::sbuffer buffer;
    Packer packer(&buffer);
    pack(packer, value);
    return std::string(buffer.data(), buffer.size());
}

std::optional<nlohmann::json> fromMessagePack(std::string_view bytes, std::string* error) {
    std::string problem;
    try {
        std::size_t offset = 0;
        msgpack::object_handle handle = msgpack::unpack(bytes.data(), bytes.size(), offset);
        if (offset != bytes.size()) {
            problem = "bytes left after the MessagePack value";
        } else {
            nlohmann::json out;
            if (convert(handle.get(), out, problem)) return out;
        }
    } catch (const std::exception& e) {
        problem = std::string("MessagePack could not be read: ") + e.what();
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
        out.value = nlohmann::json::parse(payload, nullptr, false);
        if (out.value.is_discarded()) {
            out.value = nullptr;
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

}  // namespace testsupport
