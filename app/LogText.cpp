#include "app/LogText.h"

#include <fmt/format.h>

#include <algorithm>

namespace {

// The length of the well-formed UTF-8 character at the start of `text`, or 0.
size_t characterLength(std::string_view text) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return 1;
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the bounds of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // overlong
        if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // overlong
        if (lead == 0xF4) high = 0x8F;  // beyond U+10FFFF
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
    for (size_t i = 2; i < length; ++i)
        if ((byte(i) & 0xC0) != 0x80) return 0;
    return length;
}

}  // namespace

std::string logText(std::string_view text, size_t limit) {
    size_t end = std::min(text.size(), limit);
    // Never cut inside a character: back up over at most three continuation bytes.
    for (int back = 0; end < text.size() && end > 0 && back < 3 &&
                       (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80;
         ++back)
        --end;
    std::string valid;
    valid.reserve(end);
    for (size_t i = 0; i < end;) {
        const size_t length = characterLength(text.substr(i, end - i));
        if (length == 0) {
            valid += fmt::format("\\x{:02x}", static_cast<unsigned char>(text[i]));
            ++i;
        } else {
            valid.append(text, i, length);
            i += length;
        }
    }
    std::string out = platform::log::escaped(valid, valid.size());
    if (end < text.size()) out += fmt::format("… [cut, {} bytes]", text.size());
    return out;
}
