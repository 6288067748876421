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

// The URL's host as a Host line names it: an IPv6 literal in brackets, and the port when
// it is not the scheme's.
std::string hostField(const platform::URL& url) {
    std::string host = url.host();
    if (host.find(':') != std::string::npos && !host.starts_with('[')) host = "[" + host + "]";
    if (url.port() && *url.port() != defaultPort(url)) host += ":" + std::to_string(*url.port());
    return withoutLineBreaks(host);
}

// The head with its first two lines, the request line and the Host line, made again.
std::string withStartLines(const std::string& head, const std::string& requestLine,
                           const std::string& host) {
    const size_t requestLineEnd = head.find("\r\n");
    const size_t hostLineEnd = requestLineEnd == std::string::npos
                                   ? std::string::npos
                                   : head.find("\r\n", requestLineEnd + 2);
    if (hostLineEnd == std::string::npos) return head;
    const std::string line = requestLine.empty() ? head.substr(0, requestLineEnd) : requestLine;
    return line + "\r\nHost: " + host + head.substr(hostLineEnd);
}

}  // namespace

std::string dataForApiConnection(const platform::URLRequest& request) {
    return withStartLines(dataForStreamConnection(request), {}, hostField(request.url()));
}

std::string dataForRedirectedConnection(const platform::URLRequest& request) {
    const platform::URL& url = request.url();
    std::string target = url.path().empty() ? "/" : url.path();
    if (url.query()) target += "?" + *url.query();
    return withStartLines(
        dataForStreamConnection(request),
        withoutLineBreaks(request.httpMethod()) + " " + withoutLineBreaks(target) + " HTTP/1.1",
        hostField(url));
}
