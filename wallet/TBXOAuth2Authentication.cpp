#include "wallet/TBXOAuth2Authentication.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace {

bool isUnreserved(unsigned char c) {
    return std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~';
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

std::string TBXOAuth2Authentication::encodedOAuthValueForString(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (isUnreserved(c)) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        }
    }
    return out;
}

std::string TBXOAuth2Authentication::unencodedOAuthParameterForString(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '+') {
            out.push_back(' ');
        } else if (c == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
                   hexValue(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2])));
            i += 2;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::string TBXOAuth2Authentication::encodedQueryParametersForDictionary(
    const Parameters& parameters) {
    std::vector<const Parameters::value_type*> entries;
    entries.reserve(parameters.size());
    for (const auto& entry : parameters) entries.push_back(&entry);
    std::stable_sort(entries.begin(), entries.end(), [](const auto* a, const auto* b) {
        return lowered(a->first) < lowered(b->first);
    });
    std::string out;
    for (const auto* entry : entries) {
        if (!out.empty()) out.push_back('&');
        out += encodedOAuthValueForString(entry->first);
        out.push_back('=');
        out += encodedOAuthValueForString(entry->second);
    }
    return out;
}

TBXOAuth2Authentication::Parameters TBXOAuth2Authentication::dictionaryWithResponseString(
    std::string_view text) {
    Parameters out;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('&', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view pair = text.substr(start, end - start);
        if (!pair.empty()) {
            size_t equals = pair.find('=');
            std::string_view name = pair.substr(0, equals);
            std::string_view value =
                equals == std::string_view::npos ? std::string_view() : pair.substr(equals + 1);
            out[unencodedOAuthParameterForString(name)] = unencodedOAuthParameterForString(value);
        }
        start = end + 1;
    }
    return out;
}
