#include "platform/foundation/JsonValue.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/foundation/Base64.h"
#include "platform/foundation/Log.h"

namespace platform::json {
namespace {

using nlohmann::json;

// Builds the document like the library's own DOM parser, but stops at kMaxParseDepth
// and keeps where the error happened, which tells a truncated text from a broken one.
class DomBuilder : public nlohmann::json_sax<json> {
  public:
    json root;
    bool allowNonFinite = false;  // CBOR carries NaN and infinities; JSON text cannot
    std::string refusal;          // why the builder stopped a text the lexer accepted
    size_t errorPosition = 0;
    std::string errorText;

    bool null() override { return add(nullptr) != nullptr; }
    bool boolean(bool v) override { return add(v) != nullptr; }
    bool number_integer(number_integer_t v) override { return add(v) != nullptr; }
    bool number_unsigned(number_unsigned_t v) override { return add(v) != nullptr; }
    bool number_float(number_float_t v, const string_t& text) override {
        // A number that overflows would print back as null.
        if (!allowNonFinite && !std::isfinite(v)) {
            refusal = "number out of range: " + text;
            return false;
        }
        return add(v) != nullptr;
    }
    bool string(string_t& v) override { return add(std::move(v)) != nullptr; }
    bool binary(binary_t& v) override { return add(json::binary(std::move(v))) != nullptr; }

    bool start_object(std::size_t) override { return open(json::value_t::object); }
    bool key(string_t& k) override {
        member_ = &(*stack_.back())[std::move(k)];
        return true;
    }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(json::value_t::array); }
    bool end_array() override { return close(); }

    bool parse_error(std::size_t position, const std::string&,
                     const nlohmann::detail::exception& ex) override {
        errorPosition = position;
        errorText = ex.what();
        return false;
    }

  private:
    template <class V>
    json* add(V&& v) {
        if (stack_.empty()) {
            root = json(std::forward<V>(v));
            return &root;
        }
        json* top = stack_.back();
        if (top->is_array()) {
            top->emplace_back(std::forward<V>(v));
            return &top->back();
        }
        *member_ = json(std::forward<V>(v));
        return member_;
    }
    bool open(json::value_t type) {
        if (stack_.size() >= kMaxParseDepth) {
            refusal = "nested deeper than " + std::to_string(kMaxParseDepth) + " levels";
            return false;
        }
        stack_.push_back(add(type));
        return true;
    }
    bool close() {
        stack_.pop_back();
        return true;
    }

    std::vector<json*> stack_;
    json* member_ = nullptr;
};

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string_view skipSpace(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && isSpace(s[i])) ++i;
    return s.substr(i);
}

double doubleFromString(std::string_view text) {
    std::string_view s = skipSpace(text);
    bool negative = false;
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    size_t i = 0, digits = 0;
    bool nonzero = false;
    auto takeDigits = [&] {
        for (; i < s.size() && isDigit(s[i]); ++i, ++digits) nonzero |= s[i] != '0';
    };
    takeDigits();
    if (i < s.size() && s[i] == '.') {
        ++i;
        takeDigits();
    }
    if (digits == 0) return 0;
    bool negativeExponent = false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) negativeExponent = s[j++] == '-';
        if (j < s.size() && isDigit(s[j])) {
            while (j < s.size() && isDigit(s[j])) ++j;
            i = j;
        } else {
            negativeExponent = false;
        }
    }
    double value = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + i, value);
    if (ec == std::errc::result_out_of_range)
        value = (!nonzero || negativeExponent) ? 0.0 : std::numeric_limits<double>::infinity();
    else if (ec != std::errc())
        value = 0;
    return negative ? -value : value;
}

int64_t integerFromString(std::string_view text) {
    std::string_view s = skipSpace(text);
    bool negative = false;
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    // Accumulate negatively so that INT64_MIN fits.
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    int64_t value = 0;
    bool overflow = false;
    for (char c : s) {
        if (!isDigit(c)) break;
        int d = c - '0';
        if (value < (kMin + d) / 10) {
            overflow = true;
            break;
        }
        value = value * 10 - d;
    }
    if (overflow) return negative ? kMin : std::numeric_limits<int64_t>::max();
    if (negative) return value;
    return value == kMin ? std::numeric_limits<int64_t>::max() : -value;
}

bool boolFromString(std::string_view text) {
    std::string_view s = skipSpace(text);
    if (s.empty()) return false;
    char c = s[0];
    if (c == 'Y' || c == 'y' || c == 'T' || c == 't') return true;
    if (c == '+' || c == '-') s.remove_prefix(1);
    while (!s.empty() && s[0] == '0') s.remove_prefix(1);
    return !s.empty() && s[0] >= '1' && s[0] <= '9';
}

int64_t integerFromDouble(double d) {
    if (std::isnan(d)) return 0;
    // 2^63 is the first double past the range.
    if (d >= 9223372036854775808.0) return std::numeric_limits<int64_t>::max();
    if (d <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(d);
}

struct Shape {
    bool binary = false;
    bool tooDeep = false;
};

// Walks without recursing, so that any depth is safe to look at.
Shape shapeOf(const json& root) {
    Shape shape;
    struct Frame {
        const json* value;
        size_t depth;
    };
    std::vector<Frame> stack{{&root, 1}};
    while (!stack.empty()) {
        const Frame frame = stack.back();
        stack.pop_back();
        if (frame.value->is_binary()) {
            shape.binary = true;
        } else if (frame.value->is_structured()) {
            if (frame.depth > kMaxParseDepth) {
                shape.tooDeep = true;
                return shape;
            }
            for (const auto& e : *frame.value) stack.push_back({&e, frame.depth + 1});
        }
    }
    return shape;
}

void replaceBinary(json& v) {
    if (v.is_binary()) {
        const auto& bytes = v.get_binary();
        v = base64Encode(
            std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    } else if (v.is_structured()) {
        for (auto& e : v) replaceBinary(e);
    }
}

// Writes compact JSON into a string from `pos` on, growing it as needed; finish() cuts
// it to what was written. The text is the library's dump() with invalid UTF-8 replaced.
class CompactWriter {
  public:
    explicit CompactWriter(std::string& out) : out_(out), pos_(out.size()) {}
    void finish() { out_.resize(pos_); }

    void value(const json& v) {
        switch (v.type()) {
            case json::value_t::null:
                literal("null");
                break;
            case json::value_t::boolean:
                literal(v.get<bool>() ? "true" : "false");
                break;
            case json::value_t::number_integer:
                integer(v.get<int64_t>());
                break;
            case json::value_t::number_unsigned:
                integer(v.get<uint64_t>());
                break;
            case json::value_t::number_float:
                floating(v.get<double>());
                break;
            case json::value_t::string:
                string(v.get_ref<const std::string&>());
                break;
            case json::value_t::binary: {
                const auto& bytes = v.get_binary();
                string(base64Encode(
                    std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())));
                break;
            }
            case json::value_t::array: {
                put('[');
                bool first = true;
                for (const auto& e : v) {
                    if (!first) put(',');
                    first = false;
                    value(e);
                }
                put(']');
                break;
            }
            case json::value_t::object: {
                put('{');
                bool first = true;
                for (auto it = v.begin(); it != v.end(); ++it) {
                    if (!first) put(',');
                    first = false;
                    string(it.key());
                    put(':');
                    value(it.value());
                }
                put('}');
                break;
            }
            case json::value_t::discarded:
                literal("<discarded>");
                break;
        }
    }

    void string(std::string_view text) {
        const auto* p = reinterpret_cast<const unsigned char*>(text.data());
        const auto* end = p + text.size();
        // Room for the rest of the input unescaped and the closing quote, at all times.
        reserve(text.size() + 2);
        char* d = out_.data() + pos_;
        *d++ = '"';
        for (;;) {
#if defined(__SSE2__)
            const __m128i quote = _mm_set1_epi8('"');
            const __m128i backslash = _mm_set1_epi8('\\');
            const __m128i space = _mm_set1_epi8(0x20);
            while (end - p >= 16) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(d), v);
                // Signed: below 0x20 catches the control bytes and every byte from 0x80.
                const __m128i special = _mm_or_si128(
                    _mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)),
                    _mm_cmplt_epi8(v, space));
                const int mask = _mm_movemask_epi8(special);
                if (mask) {
                    const int skip = __builtin_ctz(static_cast<unsigned>(mask));
                    p += skip;
                    d += skip;
                    break;
                }
                p += 16;
                d += 16;
            }
#endif
            while (p < end && !needsCare(*p)) *d++ = static_cast<char>(*p++);
            if (p == end) break;
            // An escape takes at most 6 bytes for one.
            pos_ = static_cast<size_t>(d - out_.data());
            reserve(static_cast<size_t>(end - p) + 7);
            d = out_.data() + pos_;
            const unsigned char c = *p;
            if (c < 0x80) {
                d = escape(d, c);
                ++p;
                continue;
            }
            size_t consumed = 0;
            if (const size_t length = utf8Length(p, end, consumed)) {
                std::memcpy(d, p, length);
                d += length;
                p += length;
            } else {
                std::memcpy(d, "\xEF\xBF\xBD", 3);
                d += 3;
                p += consumed;
            }
        }
        *d++ = '"';
        pos_ = static_cast<size_t>(d - out_.data());
    }

  private:
    static bool needsCare(unsigned char c) {
        return c < 0x20 || c == '"' || c == '\\' || c >= 0x80;
    }

    static char* escape(char* d, unsigned char c) {
        static constexpr char kHex[] = "0123456789abcdef";
        char short_ = 0;
        switch (c) {
            case '\b':
                short_ = 'b';
                break;
            case '\t':
                short_ = 't';
                break;
            case '\n':
                short_ = 'n';
                break;
            case '\f':
                short_ = 'f';
                break;
            case '\r':
                short_ = 'r';
                break;
            case '"':
                short_ = '"';
                break;
            case '\\':
                short_ = '\\';
                break;
            default:
                break;
        }
        *d++ = '\\';
        if (short_) {
            *d++ = short_;
            return d;
        }
        std::memcpy(d, "u00", 3);
        d[3] = kHex[c >> 4];
        d[4] = kHex[c & 15];
        return d + 5;
    }

    // The length of the well-formed UTF-8 sequence at `p` (from 0x80), or 0 with
    // `consumed` set to what the ill-formed start uses up: the lead byte alone when it
    // cannot start a sequence, else the bytes before the first that cannot continue it
    // (which is read again), or the rest of the text.
    static size_t utf8Length(const unsigned char* p, const unsigned char* end, size_t& consumed) {
        const unsigned char c = *p;
        size_t need = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            need = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            need = 2;
            if (c == 0xE0) low = 0xA0;
            if (c == 0xED) high = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            need = 3;
            if (c == 0xF0) low = 0x90;
            if (c == 0xF4) high = 0x8F;
        } else {
            consumed = 1;
            return 0;
        }
        for (size_t i = 1; i <= need; ++i) {
            if (p + i == end || p[i] < low || p[i] > high) {
                consumed = i;
                return 0;
            }
            low = 0x80;
            high = 0xBF;
        }
        return need + 1;
    }

    void reserve(size_t n) {
        // Grown by what is asked and some slack, never by what is there already: a string
        // that many calls append to is filled with zeros once.
        if (out_.size() - pos_ < n) out_.resize(pos_ + n + n / 8 + 64);
    }
    void put(char c) {
        reserve(1);
        out_[pos_++] = c;
    }
    void literal(std::string_view text) {
        reserve(text.size());
        std::memcpy(out_.data() + pos_, text.data(), text.size());
        pos_ += text.size();
    }
    template <class T>
    void integer(T n) {
        char buffer[24];
        literal(std::string_view(
            buffer,
            static_cast<size_t>(std::to_chars(buffer, buffer + sizeof buffer, n).ptr - buffer)));
    }
    void floating(double x) {
        if (!std::isfinite(x)) return literal("null");
        char buffer[64];
        const char* last = nlohmann::detail::to_chars(buffer, buffer + sizeof buffer, x);
        literal(std::string_view(buffer, static_cast<size_t>(last - buffer)));
    }

    std::string& out_;
    size_t pos_;
};

}  // namespace

ParseResult parse(std::string_view text) {
    ParseResult result;
    // The lexer takes a NUL byte for the end of input; no JSON text holds one.
    if (auto nul = text.find('\0'); nul != std::string_view::npos) {
        result.error = "NUL byte at offset " + std::to_string(nul);
        return result;
    }
    try {
        DomBuilder builder;
        if (json::sax_parse(text, &builder)) {
            result.status = ParseStatus::Ok;
            result.value = std::move(builder.root);
        } else if (!builder.refusal.empty()) {
            result.status = ParseStatus::Malformed;
            result.error = std::move(builder.refusal);
        } else {
            // The lexer reports a position past the last byte when it ran out of input.
            result.status = builder.errorPosition > text.size() ? ParseStatus::Incomplete
                                                                : ParseStatus::Malformed;
            result.error = std::move(builder.errorText);
        }
    } catch (const std::exception& e) {
        result.status = ParseStatus::Malformed;
        result.value = nullptr;
        result.error = e.what();
    }
    return result;
}

namespace {

ParseResult parseBinary(std::string_view bytes, nlohmann::json::input_format_t format) {
    ParseResult result;
    try {
        DomBuilder builder;
        builder.allowNonFinite = true;
        if (json::sax_parse(bytes.begin(), bytes.end(), &builder, format, true)) {
            result.status = ParseStatus::Ok;
            result.value = std::move(builder.root);
        } else {
            result.error =
                builder.refusal.empty() ? std::move(builder.errorText) : std::move(builder.refusal);
        }
    } catch (const std::exception& e) {
        result.value = nullptr;
        result.error = e.what();
    }
    return result;
}

}  // namespace

ParseResult parseCbor(std::string_view bytes) {
    return parseBinary(bytes, nlohmann::json::input_format_t::cbor);
}

ParseResult parseMessagePack(std::string_view bytes) {
    return parseBinary(bytes, nlohmann::json::input_format_t::msgpack);
}

std::string print(const nlohmann::json& v, bool pretty) {
    try {
        const Shape shape = shapeOf(v);
        if (shape.tooDeep) {
            PLATFORM_LOG_WARN("JSON value nested deeper than {} levels printed as null",
                              kMaxParseDepth);
            return "null";
        }
        if (!pretty) {
            std::string out;
            appendCompact(out, v);
            return out;
        }
        if (shape.binary) {
            json copy = v;
            replaceBinary(copy);
            return copy.dump(2, ' ', false, json::error_handler_t::replace);
        }
        return v.dump(2, ' ', false, json::error_handler_t::replace);
    } catch (const std::exception&) {
        return "null";
    }
}

std::optional<std::string> printIfShallow(const nlohmann::json& v) {
    try {
        if (shapeOf(v).tooDeep) return std::nullopt;
        std::string out;
        appendCompact(out, v);
        return out;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

void appendCompact(std::string& out, const nlohmann::json& v) {
    CompactWriter writer(out);
    writer.value(v);
    writer.finish();
}

void appendString(std::string& out, std::string_view s) {
    CompactWriter writer(out);
    writer.string(s);
    writer.finish();
}

nlohmann::json floatNumber(float value) {
    if (!std::isfinite(value)) return static_cast<double>(value);
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, value);
    double shortest = value;
    std::from_chars(text, written.ptr, shortest);
    return shortest;
}

const nlohmann::json* find(const nlohmann::json& obj, std::string_view key) {
    if (!obj.is_object()) return nullptr;
    auto it = obj.find(key);
    return it == obj.end() ? nullptr : &*it;
}

double doubleValue(const nlohmann::json& v) {
    switch (v.type()) {
        case json::value_t::number_integer:
            return static_cast<double>(v.get<int64_t>());
        case json::value_t::number_unsigned:
            return static_cast<double>(v.get<uint64_t>());
        case json::value_t::number_float:
            return v.get<double>();
        case json::value_t::boolean:
            return v.get<bool>() ? 1 : 0;
        case json::value_t::string:
            return doubleFromString(v.get_ref<const std::string&>());
        default:
            return 0;
    }
}

int64_t integerValue(const nlohmann::json& v) {
    switch (v.type()) {
        case json::value_t::number_integer:
            return v.get<int64_t>();
        case json::value_t::number_unsigned: {
            uint64_t u = v.get<uint64_t>();
            return u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())
                       ? std::numeric_limits<int64_t>::max()
                       : static_cast<int64_t>(u);
        }
        case json::value_t::number_float:
            return integerFromDouble(v.get<double>());
        case json::value_t::boolean:
            return v.get<bool>() ? 1 : 0;
        case json::value_t::string:
            return integerFromString(v.get_ref<const std::string&>());
        default:
            return 0;
    }
}

bool boolValue(const nlohmann::json& v) {
    switch (v.type()) {
        case json::value_t::number_integer:
            return v.get<int64_t>() != 0;
        case json::value_t::number_unsigned:
            return v.get<uint64_t>() != 0;
        case json::value_t::number_float:
            return v.get<double>() != 0;
        case json::value_t::boolean:
            return v.get<bool>();
        case json::value_t::string:
            return boolFromString(v.get_ref<const std::string&>());
        default:
            return false;
    }
}

std::optional<std::string> stringValue(const nlohmann::json& v) {
    if (!v.is_string()) return std::nullopt;
    return v.get<std::string>();
}

double doubleValue(const nlohmann::json& obj, std::string_view key) {
    const json* v = find(obj, key);
    return v ? doubleValue(*v) : 0;
}

int64_t integerValue(const nlohmann::json& obj, std::string_view key) {
    const json* v = find(obj, key);
    return v ? integerValue(*v) : 0;
}

bool boolValue(const nlohmann::json& obj, std::string_view key) {
    const json* v = find(obj, key);
    return v && boolValue(*v);
}

std::optional<std::string> stringValue(const nlohmann::json& obj, std::string_view key) {
    const json* v = find(obj, key);
    return v ? stringValue(*v) : std::nullopt;
}

}  // namespace platform::json
