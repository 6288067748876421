#pragma once
// Response helpers shared by the web cache, the HTTP data source and the API connection.
//
//   auto response = responseWithString("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n", url);
//   response->valueForHTTPHeaderField("content-type");   // "text/html"
//   shareCookies(*response);
//
// Thread-safe (no state of their own; the cookie store is thread-safe).

#include <optional>
#include <string_view>

#include "libmerovane/bridge/URLResponseExtensions.h"
#include "platform/foundation/HTTPURLResponse.h"

// Parses a raw response head (status line, header lines, the ending empty line): the
// version is the status line's first word, the status the second word's integer value;
// header names are trimmed and lower-cased, values trimmed, and a later line replaces an
// earlier one of the same name. None when the status line has fewer than three words.
std::optional<platform::HTTPURLResponse> responseWithString(std::string_view string,
                                                            const platform::URL& url);
