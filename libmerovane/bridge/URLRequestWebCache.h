#pragma once
// The web cache's marks on a request, kept in the request's property bag as booleans:
//
//   platform::URLRequest request(url);
//   setWillForceWebcache(request, true);    // a web view's page request
//   setWillIgnoreWebcache(request, true);   // the library's own loads pass the web cache
//
// Plain functions of a request value; no state.

namespace platform {
class URLRequest;
}

// The web cache's URL protocol lets a request with this mark pass to the network.
inline constexpr const char* MVWebCacheURLRequestPropertyIgnoreWebcache =
    "MVWebCacheURLRequestPropertyIgnoreWebcache";
// Set by web views on the pages they fetch themselves.
inline constexpr const char* MVWebCacheURLRequestPropertyForceWebcache =
    "MVWebCacheURLRequestPropertyForceWebcache";

bool willIgnoreWebcache(const platform::URLRequest& request);
void setWillIgnoreWebcache(platform::URLRequest& request, bool ignore);
bool willForceWebcache(const platform::URLRequest& request);
void setWillForceWebcache(platform::URLRequest& request, bool force);
