#include "libmerovane/bridge/URLResponseExtensions.h"

#include <fmt/format.h>

#include <algorithm>
#include <climits>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "libmerovane/core/MVLog.h"
#include "platform/foundation/HTTPCookieStorage.h"
#include "platform/foundation/HTTPURLResponse.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/TextUtilities.h"
#include "platform/foundation/URL.h"

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

std::string describe(const std::vector<platform::HTTPCookie>& cookies) {
    std::string text = "(";
    for (const auto& cookie : cookies) {
        // The server's texts, escaped: the list's own lines stay the only lines.
        text += fmt::format(
            "\n    <{}={}; domain={}; path={}>", platform::log::escaped(cookie.name()),
            platform::log::escaped(cookie.value()), platform::log::escaped(cookie.domain()),
            platform::log::escaped(cookie.path()));
    }
    text += "\n)";
    return text;
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

void shareCookies(const platform::HTTPURLResponse& response) {
    const auto cookies = platform::HTTPCookie::cookiesWithResponseHeaderFields(
        response.allHeaderFields(), response.url());
    if (cookies.empty()) return;
    auto& storage = platform::HTTPCookieStorage::shared();
    storage.setCookieAcceptPolicy(platform::HTTPCookieStorage::AcceptPolicy::Always);
    storage.setCookies(cookies, response.url(), std::nullopt);
    MVLogVerbose("NSURLResponse<{}> shared cookies\n{}", response.url().absoluteString(),
                 describe(cookies));
}
