#include "wallet/TWAEncoding.h"

namespace {

constexpr char kBase32[] = "abcdefghijklmnopqrstuvwxyz234567";
constexpr char kBase64URL[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

int base64URLValue(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '-') return 62;
    if (c == '_') return 63;
    return -1;
}

// Decodes unpadded symbols; none for a foreign character or a dangling symbol.
std::optional<std::string> decodeSymbols(std::string_view text) {
    if (text.size() % 4 == 1) return std::nullopt;
    std::string out;
    out.reserve(text.size() / 4 * 3 + 2);
    uint32_t buffer = 0;
    int bits = 0;
    for (char c : text) {
        int v = base64URLValue(c);
        if (v < 0) return std::nullopt;
        buffer = (buffer << 6) | static_cast<uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<char>((buffer >> bits) & 0xff));
        }
    }
    return out;
}

}  // namespace

std::string TWABase32Encode(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() * 8 + 4) / 5);
    uint32_t buffer = 0;
    int bits = 0;
    for (unsigned char byte : bytes) {
        buffer = (buffer << 8) | byte;
        bits += 8;
        while (bits >= 5) {
            bits -= 5;
            out.push_back(kBase32[(buffer >> bits) & 31]);
        }
    }
    if (bits > 0) out.push_back(kBase32[(buffer << (5 - bits)) & 31]);
    return out;
}

std::string TWABase64URLEncode(std::string_view bytes, bool padded) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        uint32_t n = (uint32_t(uint8_t(bytes[i])) << 16) | (uint32_t(uint8_t(bytes[i + 1])) << 8) |
                     uint8_t(bytes[i + 2]);
        for (int shift = 18; shift >= 0; shift -= 6) out.push_back(kBase64URL[(n >> shift) & 63]);
    }
    size_t rest = bytes.size() - i;
    if (rest > 0) {
        uint32_t n = uint32_t(uint8_t(bytes[i])) << 16;
        if (rest == 2) n |= uint32_t(uint8_t(bytes[i + 1])) << 8;
        out.push_back(kBase64URL[(n >> 18) & 63]);
        out.push_back(kBase64URL[(n >> 12) & 63]);
        if (rest == 2) out.push_back(kBase64URL[(n >> 6) & 63]);
        if (padded) out.append(rest == 2 ? "=" : "==");
    }
    return out;
}

std::optional<std::string> TWABase64URLDecodePadded(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    size_t padding = 0;
    while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=')
        ++padding;
    return decodeSymbols(text.substr(0, text.size() - padding));
}

std::optional<std::string> TWABase64URLDecodeUnpadded(std::string_view text) {
    return decodeSymbols(text);
}
