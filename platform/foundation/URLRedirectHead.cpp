#include "platform/foundation/URLRedirectHead.h"

#include <optional>

#include "platform/foundation/TextUtilities.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/URLRequest.h"

namespace platform {
namespace {

int effectivePort(const URL& url) {
    if (url.port()) return *url.port();
    return url.schemeLowercased() == "https" ? 443 : 80;
}

}  // namespace

std::string serializedOrigin(const URL& url) {
    std::string host = asciiLowercase(url.host());
    if (host.find(':') != std::string::npos) host = "[" + host + "]";
    std::string origin = url.schemeLowercased() + "://" + host;
    if (url.port()) origin += ":" + std::to_string(*url.port());
    return origin;
}

bool isSameOrigin(const URL& a, const URL& b) {
    return a.schemeLowercased() == b.schemeLowercased() &&
           asciiLowercase(a.host()) == asciiLowercase(b.host()) &&
           effectivePort(a) == effectivePort(b);
}

void keepHeadAcrossRedirect(URLRequest& redirected, const URL& from) {
    const URL& target = redirected.url();
    if (auto value = redirected.valueForHTTPHeaderField("Referer")) {
        const auto referer = URL::parse(*value);
        std::optional<std::string> kept;
        if (referer && !referer->host().empty() &&
            !(referer->schemeLowercased() == "https" && target.schemeLowercased() == "http"))
            kept = isSameOrigin(*referer, target) ? *value : serializedOrigin(*referer) + "/";
        redirected.setValue(std::move(kept), "Referer");
    }
    // A redirect from one origin to another makes the Origin opaque, for good.
    if (redirected.valueForHTTPHeaderField("Origin") && !isSameOrigin(from, target))
        redirected.setValue("null", "Origin");
}

}  // namespace platform
