#include "libmerovane/bridge/MVDocumentRequestHead.h"

#include <deque>
#include <mutex>
#include <utility>

#include "platform/foundation/URL.h"
#include "platform/foundation/URLRedirectHead.h"
#include "platform/foundation/URLRequest.h"

namespace {

constexpr size_t kMaximumHeldHeads = 16;

std::mutex gHeadsMutex;
std::deque<std::pair<std::string, platform::HTTPHeaderFields>>* gHeads =
    nullptr;  // never destroyed

bool isWeb(const platform::URL& url) {
    const std::string scheme = url.schemeLowercased();
    return (scheme == "http" || scheme == "https") && !url.host().empty();
}

// The Referer a document may carry, or none.
std::optional<platform::URL> sentReferer(const platform::URLRequest& request) {
    const auto value = request.valueForHTTPHeaderField("Referer");
    if (!value) return std::nullopt;
    const auto url = platform::URL::parse(*value);
    if (!url || !isWeb(*url)) return std::nullopt;
    std::string text = platform::serializedOrigin(*url) + (url->path().empty() ? "/" : url->path());
    if (url->query()) text += "?" + *url->query();
    return platform::URL::parse(text);
}

}  // namespace

void completeDocumentRequest(platform::URLRequest& request, const std::string& userAgent,
                             const std::string& acceptLanguage) {
    if (!request.valueForHTTPHeaderField("User-Agent") && !userAgent.empty())
        request.setValue(userAgent, "User-Agent");
    if (!request.valueForHTTPHeaderField("Accept-Language") && !acceptLanguage.empty())
        request.setValue(acceptLanguage, "Accept-Language");
    if (!request.valueForHTTPHeaderField("Accept")) request.setValue(kDocumentAccept, "Accept");
    const auto referer = sentReferer(request);
    request.setValue(referer ? std::optional(referer->absoluteString()) : std::nullopt, "Referer");
}

void rememberDocumentHead(const platform::URLRequest& request) {
    const std::string& key = request.url().absoluteString();
    std::lock_guard lock(gHeadsMutex);
    if (!gHeads) gHeads = new std::deque<std::pair<std::string, platform::HTTPHeaderFields>>();
    std::erase_if(*gHeads, [&](const auto& held) { return held.first == key; });
    gHeads->emplace_back(key, request.allHTTPHeaderFields());
    if (gHeads->size() > kMaximumHeldHeads) gHeads->pop_front();
}

std::optional<platform::HTTPHeaderFields> takeDocumentHead(const std::string& key) {
    std::lock_guard lock(gHeadsMutex);
    if (!gHeads) return std::nullopt;
    for (auto it = gHeads->begin(); it != gHeads->end(); ++it) {
        if (it->first != key) continue;
        auto head = std::move(it->second);
        gHeads->erase(it);
        return head;
    }
    return std::nullopt;
}

void applyDocumentHead(const platform::HTTPHeaderFields& head, platform::URLRequest& request) {
    for (const auto& [name, value] : head) {
        if (platform::HTTPHeaderFields::namesEqual(name, "Cookie") ||
            platform::HTTPHeaderFields::namesEqual(name, "Host"))
            continue;
        request.setValue(value, name);
    }
}
