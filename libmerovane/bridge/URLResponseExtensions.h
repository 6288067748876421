#pragma once
// Hands the cookies a response sets to the process's cookie store:
//
//   shareCookies(response);   // from a redirect or a page the library fetched itself
//
// Any thread: the cookie store is thread-safe.

namespace platform {
class HTTPURLResponse;
}

// Stores the cookies that the response's "Set-Cookie" fields set for its URL in
// HTTPCookieStorage::shared(), switching the store to accept every cookie first. A
// response that sets none changes nothing.
void shareCookies(const platform::HTTPURLResponse& response);
