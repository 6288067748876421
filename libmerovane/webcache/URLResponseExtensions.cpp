#include "libmerovane/webcache/URLResponseExtensions.h"

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "libmerovane/core/MVLog.h"
#include "platform/foundation/HTTPCookie.h"
#include "platform/foundation/HTTPCookieStorage.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/TextUtilities.h"

namespace {

std::vector<std::string_view> split(std::string_view text, std::string_view separator) {
    std::vector<std::string_view> parts;
    for (;;) {
        const size_t at = text.find(separator);
        if (at == std::string_view::npos) break;
        parts.push_back(text.substr(0, at));
        text.remove_prefix(at + separator.size());
    }
    parts.push_back(text);
    return parts;
}

int statusValue(std::string_view word) {
    const int64_t value = platform::json::integerValue(nlohmann::json(std::string(word)));
    return static_cast<int>(std::clamp<int64_t>(value, INT_MIN, INT_MAX));
}

}  // namespace

std::optional<platform::HTTPURLResponse> responseWithString(std::string_view string,
                                                            const platform::URL& url) {
    const auto lines = split(string, "\r\n");
    const auto statusLine = split(lines.front(), " ");
    if (statusLine.size() < 3) return std::nullopt;

    // The head ends with an empty line and the empty rest after it.
    platform::HTTPHeaderFields fields;
    for (size_t i = 1; i + 2 < lines.size(); ++i) {
        const std::string_view line = lines[i];
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        fields.set(platform::asciiLowercase(platform::trimWhitespace(line.substr(0, colon))),
                   std::string(platform::trimWhitespace(line.substr(colon + 1))));
    }
    return platform::HTTPURLResponse(url, statusValue(statusLine[1]), std::string(statusLine[0]),
                                     std::move(fields));
}
