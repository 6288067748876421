#include "platform/foundation/JsonValue.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <vector>

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

ParseResult parseCbor(std::string_view bytes) {
    ParseResult result;
    try {
        DomBuilder builder;
        builder.allowNonFinite = true;
        if (json::sax_parse(bytes.begin(), bytes.end(), &builder,
                            nlohmann::json::input_format_t::cbor, true)) {
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

std::string print(const nlohmann::json& v, bool pretty) {
    try {
        const int indent = pretty ? 2 : -1;
        const Shape shape = shapeOf(v);
        if (shape.tooDeep) {
            PLATFORM_LOG_WARN("JSON value nested deeper than {} levels printed as null",
                              kMaxParseDepth);
            return "null";
        }
        if (shape.binary) {
            json copy = v;
            replaceBinary(copy);
            return copy.dump(indent, ' ', false, json::error_handler_t::replace);
        }
        return v.dump(indent, ' ', false, json::error_handler_t::replace);
    } catch (const std::exception&) {
        return "null";
    }
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
