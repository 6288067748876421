#include "libmerovane/bridge/URLRequestExtensions.h"

#include <algorithm>

#include "platform/foundation/HTTPCookieStorage.h"
#include "platform/foundation/URLRequest.h"

namespace {

std::string withoutLineBreaks(std::string text) {
    std::erase_if(text, [](char c) { return c == '\r' || c == '\n'; });
    return text;
}

// The host part of a "host:port" target: up to its first ":", or the bracketed address.
std::string hostOfTarget(const std::string& target) {
    if (target.starts_with('[')) {
        const size_t close = target.find(']');
        if (close != std::string::npos) return target.substr(0, close + 1);
    }
    return target.substr(0, target.find(':'));
}

}  // namespace

void addSharedCookies(platform::URLRequest& request) {
    const auto cookies = platform::HTTPCookieStorage::shared().cookiesForURL(request.url());
    if (cookies.empty()) return;
    request.setValue(platform::HTTPCookie::cookieHeaderValue(cookies), "Cookie");
}

std::string dataForStreamConnection(const platform::URLRequest& request) {
    const auto& url = request.url();
    std::string target;
    std::string host;
    if (request.httpMethod() == "CONNECT") {
        target = url.hasAuthority() ? url.authority() : url.absoluteString();
        host = hostOfTarget(target);
    } else {
        target = url.path().empty() ? "/" : url.path();
        host = url.host();
    }
    std::string head =
        withoutLineBreaks(request.httpMethod()) + " " + withoutLineBreaks(target) + " HTTP/1.1\r\n";
    head += "Host: " + withoutLineBreaks(host) + "\r\n";
    for (const auto& [name, value] : request.allHTTPHeaderFields())
        head += withoutLineBreaks(name) + ": " + withoutLineBreaks(value) + "\r\n";
    head += "\r\n";
    return head;
}
