#include "libmerovane/storage/MVStoredValue.h"

#include <fmt/core.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>

#include "platform/foundation/JsonValue.h"

namespace {

// Tag of the typed BLOB: the value follows in CBOR. A new encoding gets a new tag.
constexpr char kCborTag = 'C';

// Same class order as the store: none < numbers < texts < blobs.
int classRank(MVStoredValue::Kind k) {
    switch (k) {
        case MVStoredValue::Kind::None:
            return 0;
        case MVStoredValue::Kind::Integer:
        case MVStoredValue::Kind::Real:
            return 1;
        case MVStoredValue::Kind::Text:
            return 2;
        case MVStoredValue::Kind::Json:
            return 3;
    }
    return 0;
}

std::strong_ordering compareNumbers(const MVStoredValue& a, const MVStoredValue& b) {
    if (a.ifInteger() && b.ifInteger()) return *a.ifInteger() <=> *b.ifInteger();
    const double x = a.ifInteger() ? static_cast<double>(*a.ifInteger()) : *a.ifReal();
    const double y = b.ifInteger() ? static_cast<double>(*b.ifInteger()) : *b.ifReal();
    if (x < y) return std::strong_ordering::less;
    if (x > y) return std::strong_ordering::greater;
    return std::strong_ordering::equal;
}

std::strong_ordering compareBytes(const std::string& a, const std::string& b) {
    const int c = a.compare(b);
    return c < 0   ? std::strong_ordering::less
           : c > 0 ? std::strong_ordering::greater
                   : std::strong_ordering::equal;
}

}  // namespace

MVStoredValue::MVStoredValue(std::shared_ptr<const nlohmann::json> v) {
    if (v) v_ = std::move(v);
}

MVStoredValue MVStoredValue::fromJson(const nlohmann::json& value) {
    switch (value.type()) {
        case nlohmann::json::value_t::null:
        case nlohmann::json::value_t::discarded:
            return {};
        case nlohmann::json::value_t::boolean:
            return MVStoredValue(value.get_ref<const bool&>());
        case nlohmann::json::value_t::number_integer:
            return MVStoredValue(value.get_ref<const int64_t&>());
        case nlohmann::json::value_t::number_unsigned:
            return MVStoredValue(value.get_ref<const uint64_t&>());
        case nlohmann::json::value_t::number_float:
            return MVStoredValue(value.get_ref<const double&>());
        case nlohmann::json::value_t::string:
            return MVStoredValue(value.get_ref<const std::string&>());
        default:
            return json(value);
    }
}

MVStoredValue MVStoredValue::json(const nlohmann::json& value) {
    return MVStoredValue(std::make_shared<const nlohmann::json>(value));
}

std::optional<int64_t> MVStoredValue::integerValue() const {
    if (auto* i = ifInteger()) return *i;
    // Clamped to the integer range, NaN as 0: a stored real may be anything.
    if (auto* r = ifReal()) return platform::json::integerValue(nlohmann::json(*r));
    if (auto* t = ifText()) return std::strtoll(t->c_str(), nullptr, 10);
    if (auto* j = ifJson(); j && (*j)->is_number()) return platform::json::integerValue(**j);
    return std::nullopt;
}

std::optional<double> MVStoredValue::realValue() const {
    if (auto* i = ifInteger()) return static_cast<double>(*i);
    if (auto* r = ifReal()) return *r;
    if (auto* t = ifText()) return std::strtod(t->c_str(), nullptr);
    if (auto* j = ifJson(); j && (*j)->is_number()) return platform::json::doubleValue(**j);
    return std::nullopt;
}

std::optional<std::string> MVStoredValue::textValue() const {
    if (auto* t = ifText()) return *t;
    if (auto* i = ifInteger()) return std::to_string(*i);
    if (auto* r = ifReal()) return fmt::format("{}", *r);
    if (auto* j = ifJson()) return platform::json::stringValue(**j);
    return std::nullopt;
}

std::shared_ptr<const nlohmann::json> MVStoredValue::jsonValue() const {
    if (auto* j = ifJson()) return *j;
    switch (kind()) {
        case Kind::Integer:
            return std::make_shared<const nlohmann::json>(*ifInteger());
        case Kind::Real:
            return std::make_shared<const nlohmann::json>(*ifReal());
        case Kind::Text:
            return std::make_shared<const nlohmann::json>(*ifText());
        default:
            return nullptr;
    }
}

std::strong_ordering MVStoredValue::operator<=>(const MVStoredValue& other) const {
    const int ra = classRank(kind()), rb = classRank(other.kind());
    if (ra != rb) return ra <=> rb;
    switch (kind()) {
        case Kind::None:
            return std::strong_ordering::equal;
        case Kind::Integer:
        case Kind::Real:
            return compareNumbers(*this, other);
        case Kind::Text:
            return compareBytes(*ifText(), *other.ifText());
        case Kind::Json:
            if (**ifJson() == **other.ifJson()) return std::strong_ordering::equal;
            return compareBytes(encodeJsonBlob(**ifJson()), encodeJsonBlob(**other.ifJson()));
    }
    return std::strong_ordering::equal;
}

std::string MVStoredValue::description() const {
    switch (kind()) {
        case Kind::None:
            return "nil";
        case Kind::Integer:
            return std::to_string(*ifInteger());
        case Kind::Real:
            return fmt::format("{}", *ifReal());
        case Kind::Text:
            return "\"" + *ifText() + "\"";
        case Kind::Json:
            return platform::json::print(**ifJson());
    }
    return {};
}

std::string MVStoredValue::encodeJsonBlob(const nlohmann::json& value) {
    std::string out(1, kCborTag);
    nlohmann::json::to_cbor(value, out);
    return out;
}

std::shared_ptr<const nlohmann::json> MVStoredValue::decodeJsonBlob(const void* bytes,
                                                                    size_t size) {
    if (!bytes || size < 2) return nullptr;
    const auto* p = static_cast<const uint8_t*>(bytes);
    if (p[0] != static_cast<uint8_t>(kCborTag)) return nullptr;
    // Depth-limited: a BLOB nested without end must not exhaust the stack.
    auto parsed =
        platform::json::parseCbor(std::string_view(reinterpret_cast<const char*>(p + 1), size - 1));
    if (!parsed.ok()) return nullptr;
    return std::make_shared<const nlohmann::json>(std::move(parsed.value));
}
