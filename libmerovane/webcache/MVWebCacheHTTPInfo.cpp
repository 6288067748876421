#include "libmerovane/webcache/MVWebCacheHTTPInfo.h"

#include <algorithm>

#include "platform/foundation/TextUtilities.h"

namespace {

using platform::trimWhitespace;

// Calls `each` with every part of `text` between `separator`s.
template <class Each>
void forEachPart(std::string_view text, char separator, Each each) {
    while (true) {
        const size_t end = text.find(separator);
        each(text.substr(0, end));
        if (end == std::string_view::npos) return;
        text.remove_prefix(end + 1);
    }
}

std::string_view unquoted(std::string_view value) {
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        value = value.substr(1, value.size() - 2);
    }
    return value;
}

bool isTypeText(std::string_view type) {
    const size_t slash = type.find('/');
    if (slash == 0 || slash == std::string_view::npos || slash + 1 == type.size()) return false;
    return std::none_of(type.begin(), type.end(), [](unsigned char c) {
        return c <= ' ' || c >= 0x7f || c == '"' || c == ',' || c == ';';
    });
}

// Leading white space, an optional sign and the leading digits, clamped to
// [0, kMVWebCacheMaximumHTTPLifetime]; anything else 0.
int64_t secondsOf(std::string_view text) {
    text = unquoted(trimWhitespace(text));
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int64_t seconds = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        seconds = std::min(seconds * 10 + (c - '0'), kMVWebCacheMaximumHTTPLifetime);
    }
    return negative ? 0 : seconds;
}

}  // namespace

MVWebCacheContentType contentTypeOfHeader(std::string_view value) {
    MVWebCacheContentType result;
    bool first = true;
    forEachPart(value, ';', [&](std::string_view part) {
        if (first) {
            first = false;
            const std::string_view type = trimWhitespace(part);
            if (isTypeText(type)) result.mimeType = std::string(type);
            return;
        }
        const size_t equals = part.find('=');
        if (equals == std::string_view::npos) return;
        if (!platform::equalsIgnoringASCIICase(trimWhitespace(part.substr(0, equals)), "charset")) {
            return;
        }
        const std::string_view charset =
            trimWhitespace(unquoted(trimWhitespace(part.substr(equals + 1))));
        if (!charset.empty()) result.charset = std::string(charset);
    });
    return result;
}

int64_t lifetimeOfCacheControl(std::optional<std::string_view> value) {
    if (!value) return 0;
    int64_t lifetime = 0;
    bool ended = false;
    forEachPart(*value, ',', [&](std::string_view directive) {
        if (ended) return;
        directive = trimWhitespace(directive);
        const size_t equals = directive.find('=');
        const std::string_view name = trimWhitespace(directive.substr(0, equals));
        if (platform::equalsIgnoringASCIICase(name, "no-cache")) {
            lifetime = 0;
            ended = true;
        } else if (platform::equalsIgnoringASCIICase(name, "max-age") &&
                   equals != std::string_view::npos) {
            lifetime = secondsOf(directive.substr(equals + 1));
        }
    });
    return lifetime;
}
