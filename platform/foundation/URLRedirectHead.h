#pragma once
// What a request's head keeps when a redirect sends it on, as a browser keeps it under the
// default referrer policy (strict-origin-when-cross-origin):
//
//   URLRequest next = request;   next.setURL(location);
//   keepHeadAcrossRedirect(next, request.url());
//   // Referer: whole to its own origin, its origin alone to another, none from https to http
//   // Origin: "null" once a redirect has led from one origin to another
//
// Plain functions; no state.

#include <string>

namespace platform {

class URL;
class URLRequest;

// "scheme://host[:port]" in lower case, an IPv6 host in brackets.
std::string serializedOrigin(const URL& url);
// Scheme, host and port alike, a missing port counted as the scheme's own.
bool isSameOrigin(const URL& a, const URL& b);

// `from`: the address that answered with the redirect.
void keepHeadAcrossRedirect(URLRequest& redirected, const URL& from);

}  // namespace platform
