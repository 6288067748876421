#include "libmerovane/connection/MVMessagePack.h"

#include <msgpack.hpp>
#include <nlohmann/json.hpp>
#include <vector>

namespace {

using nlohmann::json;

struct StringSink {
    std::string& out;
    void write(const char* data, size_t size) { out.append(data, size); }
};

using Packer = msgpack::packer<StringSink>;

void packString(Packer& packer, std::string_view text) {
    packer.pack_str(static_cast<uint32_t>(text.size()));
    packer.pack_str_body(text.data(), static_cast<uint32_t>(text.size()));
}

// Recursion is bounded: what we encode was built by us or parsed under a depth limit.
void pack(Packer& packer, const json& value) {
    switch (value.type()) {
        case json::value_t::null:
        case json::value_t::discarded:
            packer.pack_nil();
            break;
        case json::value_t::boolean:
            value.get<bool>() ? packer.pack_true() : packer.pack_false();
            break;
        case json::value_t::number_integer:
            packer.pack_int64(value.get<int64_t>());
            break;
        case json::value_t::number_unsigned:
            packer.pack_uint64(value.get<uint64_t>());
            break;
        case json::value_t::number_float:
            packer.pack_double(value.get<double>());
            break;
        case json::value_t::string:
            packString(packer, value.get_ref<const std::string&>());
            break;
        case json::value_t::binary: {
            const auto& data = value.get_binary();
            packer.pack_bin(static_cast<uint32_t>(data.size()));
            packer.pack_bin_body(reinterpret_cast<const char*>(data.data()),
                                 static_cast<uint32_t>(data.size()));
            break;
        }
        case json::value_t::array:
            packer.pack_array(static_cast<uint32_t>(value.size()));
            for (const auto& item : value) pack(packer, item);
            break;
        case json::value_t::object:
            packer.pack_map(static_cast<uint32_t>(value.size()));
            for (auto it = value.begin(); it != value.end(); ++it) {
                packString(packer, it.key());
                pack(packer, it.value());
            }
            break;
    }
}

// Builds the JSON value as the parser walks the bytes. Containers are not reserved by
// their announced size: the announcement is input.
class Builder : public msgpack::null_visitor {
  public:
    json root;
    bool insufficient = false;
    std::string refusal;

    bool visit_nil() { return add(nullptr); }
    bool visit_boolean(bool v) { return add(v); }
    bool visit_positive_integer(uint64_t v) { return add(v); }
    bool visit_negative_integer(int64_t v) { return add(v); }
    bool visit_float32(float v) { return add(static_cast<double>(v)); }
    bool visit_float64(double v) { return add(v); }
    bool visit_str(const char* v, uint32_t size) {
        if (expectingKey_) {
            key_.assign(v, size);
            return true;
        }
        return add(std::string(v, size));
    }
    bool visit_bin(const char* v, uint32_t size) {
        const auto* p = reinterpret_cast<const uint8_t*>(v);
        return add(json::binary(std::vector<uint8_t>(p, p + size)));
    }
    bool visit_ext(const char*, uint32_t) {
        return refuse("MessagePack extension types are not used");
    }

    bool start_array(uint32_t) { return open(json::array()); }
    bool end_array() { return close(); }
    bool start_map(uint32_t) { return open(json::object()); }
    bool start_map_key() {
        expectingKey_ = true;
        return true;
    }
    bool end_map_key() {
        expectingKey_ = false;
        return true;
    }
    bool end_map() { return close(); }

    void parse_error(size_t, size_t) {
        if (refusal.empty()) refusal = "MessagePack bytes are not valid";
    }
    void insufficient_bytes(size_t, size_t) { insufficient = true; }

  private:
    bool refuse(const char* why) {
        refusal = why;
        return false;
    }

    json* slot() {
        if (stack_.empty()) return &root;
        json& top = *stack_.back();
        if (top.is_array()) {
            top.push_back(nullptr);
            return &top.back();
        }
        return &top[key_];
    }

    template <class V>
    bool add(V&& v) {
        if (expectingKey_) return refuse("MessagePack map key is not a string");
        if (++values_ > MVMessagePack::kMaxValues)
            return refuse("MessagePack value has too many elements");
        *slot() = json(std::forward<V>(v));
        return true;
    }

    bool open(json empty) {
        if (expectingKey_) return refuse("MessagePack map key is not a string");
        if (stack_.size() >= MVMessagePack::kMaxDepth)
            return refuse("MessagePack value is nested too deeply");
        if (++values_ > MVMessagePack::kMaxValues)
            return refuse("MessagePack value has too many elements");
        json* target = slot();
        *target = std::move(empty);
        stack_.push_back(target);
        return true;
    }

    bool close() {
        stack_.pop_back();
        return true;
    }

    std::vector<json*> stack_;
    std::string key_;
    bool expectingKey_ = false;
    size_t values_ = 0;
};

}  // namespace

void MVMessagePack::encode(const nlohmann::json& value, std::string& out) {
    StringSink sink{out};
    Packer packer(sink);
    pack(packer, value);
}

std::string MVMessagePack::encode(const nlohmann::json& value) {
    std::string out;
    encode(value, out);
    return out;
}

void MVMessagePack::encodeMapHeader(size_t count, std::string& out) {
    StringSink sink{out};
    Packer(sink).pack_map(static_cast<uint32_t>(count));
}

void MVMessagePack::encodeArrayHeader(size_t count, std::string& out) {
    StringSink sink{out};
    Packer(sink).pack_array(static_cast<uint32_t>(count));
}

void MVMessagePack::encodeString(std::string_view text, std::string& out) {
    StringSink sink{out};
    Packer packer(sink);
    packString(packer, text);
}

void MVMessagePack::encodeInteger(int64_t number, std::string& out) {
    StringSink sink{out};
    Packer(sink).pack_int64(number);
}

MVMessagePack::Status MVMessagePack::decode(std::string_view bytes, nlohmann::json& value,
                                            std::string& error) {
    Builder builder;
    size_t offset = 0;
    bool parsed = false;
    try {
        parsed = msgpack::parse(bytes.data(), bytes.size(), offset, builder);
    } catch (const std::exception& e) {
        // The parser's own limits (sizes it cannot represent) throw.
        error = std::string("MessagePack bytes could not be read: ") + e.what();
        return Status::Malformed;
    }
    if (parsed) {
        if (offset != bytes.size()) {
            error = "bytes left after the MessagePack value";
            return Status::Malformed;
        }
        value = std::move(builder.root);
        return Status::Ok;
    }
    if (!builder.refusal.empty()) {
        error = builder.refusal;
        return Status::Malformed;
    }
    if (builder.insufficient) {
        error = "insufficient bytes";
        return Status::Incomplete;
    }
    error = "MessagePack bytes are not valid";
    return Status::Malformed;
}
