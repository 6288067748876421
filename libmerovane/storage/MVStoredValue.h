#pragma once
// One value of a stored attribute or of a fetch predicate: none, an integer, a real,
// a text, or a JSON value (dictionaries, arrays and data, stored as a typed BLOB).
//
//   MVStoredValue("mv-api-page:start");   // text
//   MVStoredValue(int64_t{16});           // integer
//   MVStoredValue::fromJson(info);        // scalars map to their kinds, others stay JSON
//
// Values order as the store orders them: none, then numbers (integers and reals
// compared by value), then texts (byte-wise), then JSON values (by their encoding).
// Immutable once made; cheap to copy (a JSON value is shared).

#include <compare>
#include <cstdint>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <variant>

class MVStoredValue {
  public:
    enum class Kind : uint8_t { None, Integer, Real, Text, Json };

    MVStoredValue() = default;
    MVStoredValue(std::nullptr_t) {}
    MVStoredValue(int64_t v) : v_(v) {}
    MVStoredValue(int v) : v_(int64_t{v}) {}
    MVStoredValue(uint64_t v) : v_(static_cast<int64_t>(v)) {}
    MVStoredValue(double v) : v_(v) {}
    MVStoredValue(bool v) : v_(int64_t{v ? 1 : 0}) {}
    MVStoredValue(std::string v) : v_(std::move(v)) {}
    MVStoredValue(const char* v) : v_(std::string(v)) {}
    MVStoredValue(std::shared_ptr<const nlohmann::json> v);
    // A string, number or boolean becomes its scalar kind; null becomes none; arrays,
    // objects and binary data stay JSON.
    static MVStoredValue fromJson(const nlohmann::json& value);
    // Always the JSON kind (a stored dictionary or object value).
    static MVStoredValue json(const nlohmann::json& value);

    Kind kind() const { return static_cast<Kind>(v_.index()); }
    bool isNone() const { return kind() == Kind::None; }
    bool isNumber() const { return kind() == Kind::Integer || kind() == Kind::Real; }

    // Typed reads with the platform's lenient coercions: a text reads as its leading
    // number, a number as its decimal text; none answers nullopt (or null).
    std::optional<int64_t> integerValue() const;
    std::optional<double> realValue() const;
    std::optional<std::string> textValue() const;
    std::shared_ptr<const nlohmann::json> jsonValue() const;

    // The raw alternatives, for the store's binding code.
    const int64_t* ifInteger() const { return std::get_if<int64_t>(&v_); }
    const double* ifReal() const { return std::get_if<double>(&v_); }
    const std::string* ifText() const { return std::get_if<std::string>(&v_); }
    const std::shared_ptr<const nlohmann::json>* ifJson() const {
        return std::get_if<std::shared_ptr<const nlohmann::json>>(&v_);
    }

    // The store's ordering and equality (none equals none).
    std::strong_ordering operator<=>(const MVStoredValue& other) const;
    bool operator==(const MVStoredValue& other) const { return (*this <=> other) == 0; }

    // Text for log lines: texts in double quotes, JSON compact, none as "nil".
    std::string description() const;

    // The typed-BLOB form of JSON values: a tag byte and the value in CBOR. Decoding
    // answers null for bytes that are not such a BLOB.
    static std::string encodeJsonBlob(const nlohmann::json& value);
    static std::shared_ptr<const nlohmann::json> decodeJsonBlob(const void* bytes, size_t size);

  private:
    std::variant<std::monostate, int64_t, double, std::string,
                 std::shared_ptr<const nlohmann::json>>
        v_;
};
