#include "libmerovane/bridge/URLRequestExtensions.h"

#include "platform/foundation/HTTPCookieStorage.h"
#include "platform/foundation/URLRequest.h"

void addSharedCookies(platform::URLRequest& request) {
    const auto cookies = platform::HTTPCookieStorage::shared().cookiesForURL(request.url());
    if (cookies.empty()) return;
    request.setValue(platform::HTTPCookie::cookieHeaderValue(cookies), "Cookie");
}
