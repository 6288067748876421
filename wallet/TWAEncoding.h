#pragma once
// Text encodings of the wallet library: base32 (lower case, no padding) and base64url
// (RFC 4648 section 5) with and without "=" padding. Decoders answer none for text that
// is not in their form; they never throw.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

std::string TWABase32Encode(std::string_view bytes);

std::string TWABase64URLEncode(std::string_view bytes, bool padded);
inline std::string TWABase64URLEncode(const std::vector<uint8_t>& bytes, bool padded) {
    return TWABase64URLEncode(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), padded);
}
// Length a multiple of four, padded to it with at most two "=".
std::optional<std::string> TWABase64URLDecodePadded(std::string_view text);
// No "=" at all; a length of 4n + 1 is refused.
std::optional<std::string> TWABase64URLDecodeUnpadded(std::string_view text);
