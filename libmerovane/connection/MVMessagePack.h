#pragma once
// MessagePack for API packets, over msgpack-cxx: JSON values out, JSON values in.
//
//   std::string bytes = MVMessagePack::encode(packet);
//   auto r = MVMessagePack::decode(payload);
//   if (r.status == MVMessagePack::Status::Incomplete) waitForMoreBytes();
//
// Decoding tells a payload that is only the start of a value (it ran out of bytes)
// from one that no continuation can mend, and refuses nesting deeper than kMaxDepth and
// more than kMaxValues values, so input cannot exhaust the stack or memory. Map keys
// must be strings; extension types are refused. Binary becomes a JSON binary value.
//
// Thread-safe (no state).

#include <cstddef>
#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>

class MVMessagePack {
  public:
    static constexpr size_t kMaxDepth = 512;
    static constexpr size_t kMaxValues = size_t{1} << 20;

    enum class Status { Ok, Incomplete, Malformed };

    // Appends the encoding of `value` to `out`.
    static void encode(const nlohmann::json& value, std::string& out);
    static std::string encode(const nlohmann::json& value);
    // Pieces of a value written by hand, appended to `out` as encode() writes them.
    static void encodeMapHeader(size_t count, std::string& out);
    static void encodeArrayHeader(size_t count, std::string& out);
    static void encodeString(std::string_view text, std::string& out);
    static void encodeInteger(int64_t number, std::string& out);

    // One whole value, nothing after it. `value` is set only with Ok; `error` says why
    // otherwise.
    static Status decode(std::string_view bytes, nlohmann::json& value, std::string& error);
};
