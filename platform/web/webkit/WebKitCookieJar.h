#pragma once
// One cookie jar for the shell: WebKit's cookies (document.cookie, fetch, XHR, fonts,
// media) and the platform's cookie store (documents and routed loads through URL
// loading) hold the same cookies. The platform's store is the truth and the one kept
// on disc; WebKit's follows it both ways:
// - every change of the store (a response's cookie, a deletion, a clear) is added to or
//   deleted from WebKit at once, before anything the main loop does after it (a document
//   handed to WebKit) reaches WebKit's network process;
// - WebKit's "changed" (a page's document.cookie, a fetch answer's Set-Cookie, an
//   expiry) is read back with all of WebKit's cookies and what differs goes to the
//   store. A page that sets a cookie and at once follows a link: the link's decision
//   waits for the page's answer to a script first, by which time WebKit has told.
// WebKit applies HttpOnly, SameSite and Secure to its own requests and document.cookie.
//
// Main thread only.

#include <functional>

typedef struct _WebKitCookieManager WebKitCookieManager;

namespace platform {

class WebKitCookieJar {
  public:
    // Joins WebKit's cookies to the store: every stored cookie is copied in. Once.
    static void attach(WebKitCookieManager* manager);
};

}  // namespace platform
