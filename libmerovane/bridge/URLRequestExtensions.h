#pragma once
// Cookie sharing between the library's own loads and the process's cookie store.
//
//   platform::URLRequest next = redirected;
//   addSharedCookies(next);   // "Cookie" from HTTPCookieStorage::shared()
//
// Main thread or any thread: the cookie store is thread-safe.

namespace platform {
class URLRequest;
}

// Sets the request's "Cookie" field from the shared cookies for its URL, when there
// are any; the request's other header fields stay.
void addSharedCookies(platform::URLRequest& request);
