#pragma once
// Request helpers shared by the web cache and the API connection.
//
//   platform::URLRequest request(*platform::URL::parse("https://api.example/"));
//   addSharedCookies(request);
//   std::string head = dataForStreamConnection(request);   // "POST / HTTP/1.1\r\n..."
//
// Thread-safe (no state of their own; the cookie store is thread-safe).

#include <string>

#include "libmerovane/bridge/URLRequestExtensions.h"
#include "platform/foundation/URLRequest.h"


// The head bytes of a request for a raw stream: the request line, "Host", one line per
// header field in the request's order, and the empty line. A CONNECT request names its
// target "host:port" (its URL's authority, or the URL text when it has none); any other
// method the URL's path as written, without query, "/" when empty. Line breaks inside a
// name or value are dropped, so that no value can add lines of its own.
std::string dataForStreamConnection(const platform::URLRequest& request);
