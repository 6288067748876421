#include "libmerovane/bridge/MVJavaScriptString.h"

#include <fmt/format.h>

std::string javaScriptStringContent(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        switch (c) {
            case '\\':
                out += "\\\\";
                continue;
            case '"':
                out += "\\\"";
                continue;
            case '\'':
                out += "\\'";
                continue;
            case '\n':
                out += "\\n";
                continue;
            case '\r':
                out += "\\r";
                continue;
            case '\t':
                out += "\\t";
                continue;
            default:
                break;
        }
        if (c < 0x20 || c == 0x7F) {
            out += fmt::format("\\x{:02x}", c);
            continue;
        }
        // U+2028 and U+2029 are E2 80 A8 and E2 80 A9 in UTF-8.
        if (c == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
            (static_cast<unsigned char>(text[i + 2]) == 0xA8 ||
             static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
            out += static_cast<unsigned char>(text[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
            i += 2;
            continue;
        }
        out += static_cast<char>(c);
    }
    return out;
}
