#pragma once
// The one way in and out of JSON values: every parse, print and typed read of input
// goes through these helpers, so that nothing throws on odd input.
//
//   auto r = platform::json::parse(bytes);
//   if (r.status == platform::json::ParseStatus::Incomplete) waitForMore();
//   double ttl = platform::json::doubleValue(r.value, "maximum-lifetime");  // "60" -> 60
//   log("{}", platform::json::print(r.value));
//
// Values stand for the platform's property-list objects: object, array, string,
// number or boolean, null, and binary (bytes). "No value at all" is an empty optional
// or a null pointer, which is not JSON null.
//
// Typed reads follow the platform's number and string coercions:
//   doubleValue   number as is; bool 1 or 0; string: leading white space, then the
//                 longest leading decimal number ("1" -> 1, " 2.5x" -> 2.5, "-1e3" ->
//                 -1000, "abc" -> 0); anything else 0.
//   integerValue  number truncated toward zero, clamped to the int64 range (NaN -> 0);
//                 bool 1 or 0; string: leading white space, an optional sign and the
//                 leading decimal digits ("42abc" -> 42, "2.5" -> 2, "1e3" -> 1),
//                 clamped on overflow; anything else 0.
//   boolValue     bool as is; number != 0; string: after leading white space, "Y", "y",
//                 "T" or "t" is true; otherwise after an optional sign and any zeros, a
//                 digit 1-9 is true ("YES", "true", "1", "007" true; "NO", "0", "0.5",
//                 "" false); anything else false.
//   stringValue   strings only; everything else none.
// The keyed forms read `obj[key]` and answer 0, false or none when `obj` is not an
// object or lacks the key.
//
// Thread-safe (no state).

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace platform::json {

enum class ParseStatus {
    Ok,
    Incomplete,  // a prefix of a valid document: more input may complete it
    Malformed,   // no continuation can make it valid
};

struct ParseResult {
    ParseStatus status = ParseStatus::Malformed;
    nlohmann::json value;  // null unless ok()
    std::string error;     // what went wrong and where, for log lines
    bool ok() const { return status == ParseStatus::Ok; }
};

// Documents nested deeper than this are malformed (printing and comparing recurse).
inline constexpr size_t kMaxParseDepth = 512;

// Parses one complete JSON text (any value at the top, white space around it).
// Never throws. Empty or blank input is incomplete; trailing garbage is malformed.
ParseResult parse(std::string_view text);

// Parses one CBOR item filling all of `bytes`, under the same depth limit (tags are
// refused, non-finite numbers kept). Never throws; a failure is malformed.
ParseResult parseCbor(std::string_view bytes);
// The same for one MessagePack item.
ParseResult parseMessagePack(std::string_view bytes);

// JSON text of `v`: compact, or indented by two spaces with `pretty`. Invalid UTF-8 in
// strings is replaced by U+FFFD, binary values print as Base64 strings, NaN and
// infinities as null. Object keys come out sorted. A value nested deeper than
// kMaxParseDepth (only values built in code can be) prints as null, with a warning.
// Never throws.
std::string print(const nlohmann::json& v, bool pretty = false);
// The compact text print() gives, or none where print() gives null for a value nested
// too deep. Never throws.
std::optional<std::string> printIfShallow(const nlohmann::json& v);

// Appends print(v) (compact) to `out`, byte for byte the same text. Strings are copied
// in runs that need no escaping and checked as UTF-8 in the same pass.
void appendCompact(std::string& out, const nlohmann::json& v);
// Appends `s` as a JSON string, quoted and escaped as print() does.
void appendString(std::string& out, std::string_view s);
// A number the system holds in single precision: the double that prints in the shortest
// form reading back as that float (0.0125f gives 0.0125, not 0.012500000186264515).
nlohmann::json floatNumber(float value);

// The member `key` of `obj`; null when `obj` is not an object or lacks the key.
const nlohmann::json* find(const nlohmann::json& obj, std::string_view key);

double doubleValue(const nlohmann::json& v);
int64_t integerValue(const nlohmann::json& v);
bool boolValue(const nlohmann::json& v);
std::optional<std::string> stringValue(const nlohmann::json& v);

double doubleValue(const nlohmann::json& obj, std::string_view key);
int64_t integerValue(const nlohmann::json& obj, std::string_view key);
bool boolValue(const nlohmann::json& obj, std::string_view key);
std::optional<std::string> stringValue(const nlohmann::json& obj, std::string_view key);

}  // namespace platform::json
