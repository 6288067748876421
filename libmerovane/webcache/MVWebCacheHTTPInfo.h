#pragma once
// What the web cache takes from an HTTP response's header values: the MIME type and
// charset of "Content-Type", and the lifetime that "Cache-Control" allows.
//
//   auto type = contentTypeOfHeader("text/css; charset=UTF-8");  // "text/css", "UTF-8"
//   int64_t seconds = lifetimeOfCacheControl("public, max-age=300");  // 300
//
// Values come from servers: any text gives an answer, never an exception. No state;
// thread-safe.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct MVWebCacheContentType {
    // The part before the first ";", trimmed; none unless it reads "type/subtype".
    std::optional<std::string> mimeType;
    // The value of the last non-empty "charset" parameter, trimmed and unquoted.
    std::optional<std::string> charset;
};

MVWebCacheContentType contentTypeOfHeader(std::string_view value);

// Longest lifetime a server can ask for: keeps every expiry a finite date.
inline constexpr int64_t kMVWebCacheMaximumHTTPLifetime = int64_t{100} * 365 * 24 * 3600;

// Seconds in [0, kMVWebCacheMaximumHTTPLifetime]: 0 without the header; directives
// split at ",", each at "="; "no-cache" gives 0 and ends the scan, each "max-age" gives
// its integer value (the last one wins); an unreadable value counts as 0.
int64_t lifetimeOfCacheControl(std::optional<std::string_view> value);
