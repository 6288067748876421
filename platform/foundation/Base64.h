#pragma once
// Plain Base64 (RFC 4648 standard alphabet, padded, no line breaks) for bytes that the
// platform keeps in JSON files and prints in JSON text.

#include <optional>
#include <string>
#include <string_view>

namespace platform {

std::string base64Encode(std::string_view bytes);
// As base64Encode, with CR LF after every 64 characters and none at the end: the form
// that images travel in to pages.
std::string base64EncodeWithLineBreaks(std::string_view bytes);
// None when `text` is not padded Base64 of the standard alphabet.
std::optional<std::string> base64Decode(std::string_view text);

}  // namespace platform
