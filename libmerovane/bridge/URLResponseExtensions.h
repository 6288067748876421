#pragma once
// Hands the cookies a response sets to the process's cookie store, and parses a raw
// response head:
//
//   shareCookies(response);   // from a redirect or a page the library fetched itself
//   auto head = responseWithString("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n", url);
//
// Any thread: the cookie store is thread-safe.

#include <optional>
#include <string_view>

namespace platform {
class HTTPURLResponse;
class URL;
}  // namespace platform

// Stores the cookies that the response's "Set-Cookie" fields set for its URL in
// HTTPCookieStorage::shared(), switching the store to accept every cookie first. A
// response that sets none changes nothing.
void shareCookies(const platform::HTTPURLResponse& response);

// Parses a raw response head (status line, header lines, the ending empty line): the
// version is the status line's first word, the status the second word's integer value;
// header names are trimmed and lower-cased, values trimmed, and a later line replaces an
// earlier one of the same name. None when the status line has fewer than three words.
std::optional<platform::HTTPURLResponse> responseWithString(std::string_view string,
                                                            const platform::URL& url);
