#include "platform/web/PendingFoundation.h"

#include <algorithm>
#include <cctype>

namespace platform {

std::optional<URL> URL::parse(std::string_view text) {
    for (unsigned char c : text) {
        if (c <= ' ' || c >= 0x7f || c == '"' || c == '<' || c == '>' || c == '{' || c == '}' ||
            c == '|' || c == '\\' || c == '^' || c == '`')
            return std::nullopt;
    }
    URL url;
    url.text_ = std::string(text);
    auto colon = text.find(':');
    if (colon != std::string_view::npos && colon > 0 &&
        std::isalpha(static_cast<unsigned char>(text[0])) &&
        std::all_of(text.begin(), text.begin() + colon, [](unsigned char c) {
            return std::isalnum(c) || c == '+' || c == '-' || c == '.';
        }))
        url.scheme_ = std::string(text.substr(0, colon));
    return url;
}

std::string URL::schemeLowercased() const {
    std::string s = scheme_;
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string URL::stringWithoutFragment() const {
    return text_.substr(0, text_.find('#'));
}

}  // namespace platform
