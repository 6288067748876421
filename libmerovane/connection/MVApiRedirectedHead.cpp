#include "libmerovane/connection/MVApiRedirectedHead.h"

#include <algorithm>

#include "libmerovane/bridge/URLRequestExtensions.h"
#include "platform/foundation/TextUtilities.h"
#include "platform/foundation/URL.h"

namespace {

std::string withoutLineBreaks(std::string text) {
    std::erase_if(text, [](char c) { return c == '\r' || c == '\n'; });
    return text;
}

int defaultPort(const platform::URL& url) {
    return platform::asciiLowercase(url.scheme()).find("https") != std::string::npos ? 443 : 80;
}

}  // namespace

std::string dataForRedirectedConnection(const platform::URLRequest& request) {
    std::string head = dataForStreamConnection(request);
    // Its first two lines, the request line and the Host line, are made again.
    const size_t requestLineEnd = head.find("\r\n");
    const size_t hostLineEnd = requestLineEnd == std::string::npos
                                   ? std::string::npos
                                   : head.find("\r\n", requestLineEnd + 2);
    if (hostLineEnd == std::string::npos) return head;
    const platform::URL& url = request.url();
    std::string target = url.path().empty() ? "/" : url.path();
    if (url.query()) target += "?" + *url.query();
    std::string host = url.host();
    if (host.find(':') != std::string::npos && !host.starts_with('[')) host = "[" + host + "]";
    if (url.port() && *url.port() != defaultPort(url)) host += ":" + std::to_string(*url.port());
    return withoutLineBreaks(request.httpMethod()) + " " + withoutLineBreaks(target) +
           " HTTP/1.1\r\nHost: " + withoutLineBreaks(host) + head.substr(hostLineEnd);
}
