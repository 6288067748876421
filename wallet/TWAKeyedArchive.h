#pragma once
// The keyed archive the wallet's value objects are coded into: typed values by key,
// kept in the order written. It lives in memory only; nothing here reads or writes
// bytes.
//
//   TWAKeyedArchive archive;
//   archive.encodeText("CountryCode", "DE");
//   archive.encodeInt32("CodingVersion", 1);
//   auto code = archive.decodeText("CountryCode");   // "DE"
//
// Reading a missing key gives none, 0 or false. Reading a key that holds a value of
// another type gives the same and logs a line, so a foreign archive never crashes a
// decoder; 32- and 64-bit integers and booleans read as each other when the value fits.
// Writing a key again replaces its value in its first place. Not thread-safe.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

using TWAText = std::optional<std::string>;
using TWAData = std::vector<uint8_t>;

class TWAKeyedArchive {
  public:
    struct Value;
    using List = std::vector<Value>;
    using ArchivePtr = std::shared_ptr<const TWAKeyedArchive>;
    struct Value {
        std::variant<bool, int32_t, int64_t, std::string, TWAData, ArchivePtr, List> v;
    };

    void encodeBool(const std::string& key, bool value);
    void encodeInt32(const std::string& key, int32_t value);
    void encodeInt64(const std::string& key, int64_t value);
    // None writes nothing, as an absent object is not archived.
    void encodeText(const std::string& key, const TWAText& text);
    void encodeData(const std::string& key, const std::optional<TWAData>& data);
    void encodeArchive(const std::string& key, ArchivePtr archive);
    void encodeList(const std::string& key, const std::optional<List>& list);
    void encodeValue(const std::string& key, Value value);

    bool containsValueForKey(const std::string& key) const;
    bool decodeBool(const std::string& key) const;
    int32_t decodeInt32(const std::string& key) const;
    int64_t decodeInt64(const std::string& key) const;
    TWAText decodeText(const std::string& key) const;
    std::optional<TWAData> decodeData(const std::string& key) const;
    ArchivePtr decodeArchive(const std::string& key) const;
    std::optional<List> decodeList(const std::string& key) const;

    // Keys in the order first written.
    std::vector<std::string> keys() const;
    size_t count() const { return entries_.size(); }

  private:
    const Value* find(const std::string& key) const;
    std::vector<std::pair<std::string, Value>> entries_;
};
