#pragma once
// The head bytes of the POST a redirected connection sends: those of
// dataForStreamConnection, with the request line and the Host line a browser would send
// to the redirect's URL.
//
//   writeHead(dataForRedirectedConnection(request));  // request.url(): "https://b:8443/v2?x=1"
//   // "POST /v2?x=1 HTTP/1.1\r\nHost: b:8443\r\n..."
//
// The target is the URL's path as written ("/" when empty) and its query; never its
// fragment. The Host line carries the port when it is not the scheme's default.

#include <string>

#include "platform/foundation/URLRequest.h"

std::string dataForRedirectedConnection(const platform::URLRequest& request);
// The head bytes of the POST of a connection that was not redirected: those of
// dataForStreamConnection (the URL's path, without its query), with a Host line that
// carries the port when it is not the scheme's default, as HTTP asks.
std::string dataForApiConnection(const platform::URLRequest& request);
