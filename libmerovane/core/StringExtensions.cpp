#include "libmerovane/core/StringExtensions.h"

#include <openssl/evp.h>

#include <algorithm>

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

bool isUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Length of the well-formed UTF-8 sequence at `s[i]`, or 0 when it is not one
// (overlong forms, surrogates and values past U+10FFFF are not).
size_t utf8SequenceLength(std::string_view s, size_t i) {
    auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = byte(i);
    if (c < 0x80) return 1;
    size_t length;
    unsigned char low = 0x80, high = 0xBF;  // range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        if (c == 0xE0) low = 0xA0;
        if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        if (c == 0xF0) low = 0x90;
        if (c == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (i + length > s.size()) return 0;
    if (byte(i + 1) < low || byte(i + 1) > high) return 0;
    for (size_t k = 2; k < length; ++k)
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
    return length;
}

}  // namespace

bool isValidUtf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        const size_t n = utf8SequenceLength(s, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

namespace {

bool isWhiteSpaceOrNewline(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

// The code point of a well-formed sequence of `length` bytes at `s[i]`.
char32_t decode(std::string_view s, size_t i, size_t length) {
    auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    if (length == 1) return byte(i);
    char32_t c = byte(i) & (0xFF >> (length + 1));
    for (size_t k = 1; k < length; ++k) c = (c << 6) | (byte(i + k) & 0x3F);
    return c;
}

}  // namespace

std::string urlEncodedString(std::string_view string) {
    std::string encoded;
    encoded.reserve(string.size());
    for (unsigned char c : string) {
        if (isUnreserved(c)) {
            encoded += static_cast<char>(c);
        } else {
            encoded += '%';
            encoded += kHexDigits[c >> 4];
            encoded += kHexDigits[c & 0x0F];
        }
    }
    return encoded;
}

std::optional<std::string> urlDecodedString(std::string_view string) {
    std::string decoded;
    decoded.reserve(string.size());
    for (size_t i = 0; i < string.size(); ++i) {
        const char c = string[i];
        if (c == '+') {
            decoded += ' ';
        } else if (c == '%') {
            if (i + 2 >= string.size()) return std::nullopt;
            const int high = hexValue(string[i + 1]), low = hexValue(string[i + 2]);
            if (high < 0 || low < 0) return std::nullopt;
            decoded += static_cast<char>(high << 4 | low);
            i += 2;
        } else {
            decoded += c;
        }
    }
    if (!isValidUtf8(decoded)) return std::nullopt;
    return decoded;
}

std::string md5EncodedString(std::string_view string) {
    // Like a C string: the bytes end at the first zero.
    const size_t length = std::min(string.find('\0'), string.size());
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    if (EVP_Digest(string.data(), length, digest, &digestLength, EVP_md5(), nullptr) != 1)
        return {};
    std::string hex;
    hex.reserve(digestLength * 2);
    for (unsigned int i = 0; i < digestLength; ++i) {
        hex += kHexDigits[digest[i] >> 4];
        hex += kHexDigits[digest[i] & 0x0F];
    }
    return hex;
}

std::string trimmedString(std::string_view string) {
    size_t begin = 0;
    while (begin < string.size()) {
        const size_t n = utf8SequenceLength(string, begin);
        if (n == 0 || !isWhiteSpaceOrNewline(decode(string, begin, n))) break;
        begin += n;
    }
    size_t end = string.size();
    while (end > begin) {
        size_t start = end - 1;
        while (start > begin && (static_cast<unsigned char>(string[start]) & 0xC0) == 0x80) --start;
        const size_t n = utf8SequenceLength(string, start);
        if (n != end - start || !isWhiteSpaceOrNewline(decode(string, start, n))) break;
        end = start;
    }
    return std::string(string.substr(begin, end - begin));
}

std::string withoutWhitespace(std::string_view string) {
    std::string out;
    out.reserve(string.size());
    for (size_t i = 0; i < string.size();) {
        const size_t n = utf8SequenceLength(string, i);
        if (n == 0) {
            out += string[i++];
            continue;
        }
        if (!isWhiteSpaceOrNewline(decode(string, i, n))) out.append(string.substr(i, n));
        i += n;
    }
    return out;
}
