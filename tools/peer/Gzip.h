#pragma once
// gzip helpers for tests (zlib): what the API stream sends when "gzip" is agreed.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace peer {

// True when the bytes start with the gzip signature 1f 8b.
bool hasGzipMagic(std::string_view data);
std::string gzipCompress(std::string_view data);
// None when the bytes are not one whole gzip member or inflate beyond `maxSize`.
std::optional<std::string> gzipDecompress(std::string_view data, size_t maxSize = 64u << 20);

}  // namespace peer
