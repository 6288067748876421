#include "libmerovane/core/UIColorExtensions.h"

#include <cctype>
#include <charconv>
#include <string>
#include <vector>

#include "platform/foundation/Exception.h"

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads the pair at `pos` into `component` as far as its hexadecimal digits go.
void readPair(std::string_view text, size_t pos, double& component) {
    const int high = hexDigit(text[pos]);
    if (high < 0) return;
    const int low = hexDigit(text[pos + 1]);
    component = low < 0 ? high : high * 16 + low;
}

bool isSpace(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// The leading number of a text, white space skipped first; 0 when there is none.
double leadingNumber(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && isSpace(s[i])) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    const size_t start = i;
    auto digits = [&] {
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
    };
    digits();
    if (i < s.size() && s[i] == '.') {
        ++i;
        digits();
    }
    if (i == start || (i == start + 1 && s[start] == '.')) return 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
        if (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) {
            i = j;
            digits();
        }
    }
    double value = 0;
    std::from_chars(s.data() + start, s.data() + i, value);
    return negative ? -value : value;
}

}  // namespace

platform::Color colorWithHexString(std::string_view text) {
    if (!text.empty() && text.front() == '#') text.remove_prefix(1);
    double c[4] = {0, 0, 0, 255};
    for (size_t pair = 0; pair < 4 && text.size() >= 2 * pair + 2; ++pair)
        readPair(text, 2 * pair, c[pair]);
    return platform::Color::rgba(c[0] / 255, c[1] / 255, c[2] / 255, c[3] / 255);
}

platform::Color colorWithRGBAString(std::string_view text) {
    platform::assertThat(
        text.find("rgba(") != std::string_view::npos || text.find("rgb(") != std::string_view::npos,
        "colorWithRGBAString needs an rgb( or rgba( colour, got: " + std::string(text));
    const size_t open = text.find('(');
    // The closing parenthesis after the opening one: one before it would make no range.
    const size_t close = text.find(')', open);
    const std::string_view inner = text.substr(
        open + 1, close == std::string_view::npos ? std::string_view::npos : close - open - 1);
    double c[4] = {0, 0, 0, 1};
    size_t index = 0, start = 0;
    while (index < 4) {
        const size_t comma = inner.find(',', start);
        c[index++] = leadingNumber(inner.substr(
            start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return platform::Color::rgba(c[0] / 255, c[1] / 255, c[2] / 255, c[3]);
}
