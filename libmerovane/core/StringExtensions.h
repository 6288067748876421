#pragma once
// String helpers: URL encoding and decoding, MD5, trimming and white space removal.
//
//   urlEncodedString("a b+c/d")   // "a%20b%2Bc%2Fd"
//   urlDecodedString("a+b%2Bc")   // "a b+c"; none for "%zz" or "%FF"

#include <optional>
#include <string>
#include <string_view>

// Percent-encodes the UTF-8 bytes: everything but letters, digits and "-._~".
std::string urlEncodedString(std::string_view string);
// "+" becomes a space, then percent escapes are replaced; none when an escape is
// malformed or the result is not valid UTF-8.
std::optional<std::string> urlDecodedString(std::string_view string);
// The MD5 digest of the bytes up to the first zero byte, as 32 upper-case hex digits.
std::string md5EncodedString(std::string_view string);
// Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates or values past
// U+10FFFF).
bool isValidUtf8(std::string_view string);
// Without leading and trailing white space and line breaks (Unicode's, not only ASCII).
std::string trimmedString(std::string_view string);
// Without any white space or line break, the same characters as trimmedString's.
std::string withoutWhitespace(std::string_view string);
