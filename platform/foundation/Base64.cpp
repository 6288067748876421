#include "platform/foundation/Base64.h"

#include <cstdint>

namespace platform {
namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int sextet(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}
}  // namespace

std::string base64Encode(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        uint32_t n = uint8_t(bytes[i]) << 16 | uint8_t(bytes[i + 1]) << 8 | uint8_t(bytes[i + 2]);
        out += kAlphabet[n >> 18];
        out += kAlphabet[(n >> 12) & 63];
        out += kAlphabet[(n >> 6) & 63];
        out += kAlphabet[n & 63];
    }
    if (size_t rest = bytes.size() - i; rest > 0) {
        uint32_t n = uint8_t(bytes[i]) << 16 | (rest == 2 ? uint8_t(bytes[i + 1]) << 8 : 0);
        out += kAlphabet[n >> 18];
        out += kAlphabet[(n >> 12) & 63];
        out += rest == 2 ? kAlphabet[(n >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string base64EncodeWithLineBreaks(std::string_view bytes) {
    constexpr size_t kLine = 64;
    const std::string plain = base64Encode(bytes);
    std::string out;
    out.reserve(plain.size() + plain.size() / kLine * 2);
    for (size_t i = 0; i < plain.size(); i += kLine) {
        if (i > 0) out += "\r\n";
        out.append(plain, i, kLine);
    }
    return out;
}

std::optional<std::string> base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::string out;
    out.reserve(text.size() / 4 * 3);
    for (size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        const int pad = last ? (text[i + 3] == '=') + (text[i + 2] == '=') : 0;
        if (pad == 1 && text[i + 2] == '=') return std::nullopt;  // "x=y=" style
        uint32_t n = 0;
        for (int k = 0; k < 4 - pad; ++k) {
            int s = sextet(text[i + k]);
            if (s < 0) return std::nullopt;
            n |= uint32_t(s) << (18 - 6 * k);
        }
        out += char(n >> 16);
        if (pad < 2) out += char((n >> 8) & 0xFF);
        if (pad < 1) out += char(n & 0xFF);
    }
    return out;
}

}  // namespace platform
