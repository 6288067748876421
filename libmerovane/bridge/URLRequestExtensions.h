#pragma once
// Cookie sharing between the library's own loads and the process's cookie store, and
// the head bytes of a request for a raw stream.
//
//   platform::URLRequest next = redirected;
//   addSharedCookies(next);   // "Cookie" from HTTPCookieStorage::shared()
//   std::string head = dataForStreamConnection(next);   // "GET / HTTP/1.1\r\n..."
//
// Main thread or any thread: the cookie store is thread-safe.

#include <string>

namespace platform {
class URLRequest;
}

// Sets the request's "Cookie" field from the shared cookies for its URL, when there
// are any; the request's other header fields stay.
void addSharedCookies(platform::URLRequest& request);

// The head bytes of a request for a raw stream: the request line, "Host", one line per
// header field in the request's order, and the empty line. A CONNECT request names its
// target "host:port" (its URL's authority, or the URL text when it has none); any other
// method the URL's path as written, without query, "/" when empty. Line breaks inside a
// name or value are dropped, so that no value can add lines of its own.
std::string dataForStreamConnection(const platform::URLRequest& request);
