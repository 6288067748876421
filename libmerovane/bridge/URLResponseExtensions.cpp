#include "libmerovane/bridge/URLResponseExtensions.h"

#include <fmt/format.h>

#include "libmerovane/core/MVLog.h"
#include "platform/foundation/HTTPCookieStorage.h"
#include "platform/foundation/HTTPURLResponse.h"

namespace {

std::string describe(const std::vector<platform::HTTPCookie>& cookies) {
    std::string text = "(";
    for (const auto& cookie : cookies) {
        text += fmt::format("\n    <{}={}; domain={}; path={}>", cookie.name(), cookie.value(),
                            cookie.domain(), cookie.path());
    }
    text += "\n)";
    return text;
}

}  // namespace

void shareCookies(const platform::HTTPURLResponse& response) {
    const auto cookies = platform::HTTPCookie::cookiesWithResponseHeaderFields(
        response.allHeaderFields(), response.url());
    if (cookies.empty()) return;
    auto& storage = platform::HTTPCookieStorage::shared();
    storage.setCookieAcceptPolicy(platform::HTTPCookieStorage::AcceptPolicy::Always);
    storage.setCookies(cookies, response.url(), std::nullopt);
    MVLogVerbose("NSURLResponse<{}> shared cookies\n{}", response.url().absoluteString(),
                 describe(cookies));
}
