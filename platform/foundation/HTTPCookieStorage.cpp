#include "platform/foundation/HTTPCookieStorage.h"

#include <algorithm>
#include <cstdint>
#include <mutex>

#include "platform/foundation/HTTPURLResponse.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/foundation/TextUtilities.h"
#include "platform/foundation/URL.h"

namespace platform {

struct HTTPCookieStorage::State {
    struct Stored {
        HTTPCookie cookie;
        uint64_t created;
    };
    mutable std::mutex mutex;
    std::vector<Stored> cookies;
    uint64_t nextCreated = 0;
    AcceptPolicy policy = AcceptPolicy::Always;

    void purgeExpired() {
        const Date now = Date::now();
        std::erase_if(cookies, [&](const Stored& s) { return s.cookie.isExpired(now); });
    }

    void store(const HTTPCookie& cookie) {
        auto it = std::find_if(cookies.begin(), cookies.end(),
                               [&](const Stored& s) { return s.cookie.sameIdentity(cookie); });
        if (cookie.isExpired(Date::now())) {
            if (it != cookies.end()) cookies.erase(it);
            return;
        }
        if (it != cookies.end()) {
            it->cookie = cookie;  // keeps its creation order
        } else {
            cookies.push_back(Stored{cookie, nextCreated++});
        }
    }
};

HTTPCookieStorage::HTTPCookieStorage() : state_(std::make_unique<State>()) {}
HTTPCookieStorage::~HTTPCookieStorage() = default;

HTTPCookieStorage& HTTPCookieStorage::shared() {
    static HTTPCookieStorage* storage = [] {
        auto* s = new HTTPCookieStorage;
        registerSharedInstanceReset("HTTPCookieStorage", [s] {
            s->deleteAllCookies();
            s->setCookieAcceptPolicy(AcceptPolicy::Always);
        });
        return s;
    }();
    return *storage;
}

HTTPCookieStorage::AcceptPolicy HTTPCookieStorage::cookieAcceptPolicy() const {
    std::lock_guard lock(state_->mutex);
    return state_->policy;
}

void HTTPCookieStorage::setCookieAcceptPolicy(AcceptPolicy policy) {
    std::lock_guard lock(state_->mutex);
    state_->policy = policy;
}

std::vector<HTTPCookie> HTTPCookieStorage::cookies() const {
    std::lock_guard lock(state_->mutex);
    state_->purgeExpired();
    std::vector<HTTPCookie> out;
    for (const auto& s : state_->cookies) out.push_back(s.cookie);
    return out;
}

std::vector<HTTPCookie> HTTPCookieStorage::cookiesForURL(const URL& url) const {
    std::vector<State::Stored> matching;
    {
        std::lock_guard lock(state_->mutex);
        state_->purgeExpired();
        for (const auto& s : state_->cookies) {
            if (s.cookie.matchesURL(url)) matching.push_back(s);
        }
    }
    std::stable_sort(matching.begin(), matching.end(),
                     [](const State::Stored& a, const State::Stored& b) {
                         if (a.cookie.path().size() != b.cookie.path().size())
                             return a.cookie.path().size() > b.cookie.path().size();
                         return a.created < b.created;
                     });
    std::vector<HTTPCookie> out;
    for (auto& s : matching) out.push_back(std::move(s.cookie));
    return out;
}

std::string HTTPCookieStorage::cookieHeaderForURL(const URL& url) const {
    return HTTPCookie::cookieHeaderValue(cookiesForURL(url));
}

void HTTPCookieStorage::setCookies(const std::vector<HTTPCookie>& cookies, const URL& url,
                                   const std::optional<URL>& mainDocumentURL) {
    std::lock_guard lock(state_->mutex);
    if (state_->policy == AcceptPolicy::Never) return;
    if (state_->policy == AcceptPolicy::OnlyFromMainDocumentDomain && mainDocumentURL) {
        const std::string host = asciiLowercase(url.host());
        const std::string mainHost = asciiLowercase(mainDocumentURL->host());
        if (!HTTPCookie::domainMatches(host, mainHost) &&
            !HTTPCookie::domainMatches(mainHost, host))
            return;
    }
    for (const auto& c : cookies) state_->store(c);
}

void HTTPCookieStorage::storeCookiesFromResponse(const HTTPURLResponse& response,
                                                 const std::optional<URL>& mainDocumentURL) {
    auto cookies =
        HTTPCookie::cookiesWithResponseHeaderFields(response.allHeaderFields(), response.url());
    if (!cookies.empty()) setCookies(cookies, response.url(), mainDocumentURL);
}

void HTTPCookieStorage::setCookie(const HTTPCookie& cookie) {
    std::lock_guard lock(state_->mutex);
    state_->store(cookie);
}

void HTTPCookieStorage::deleteCookie(const HTTPCookie& cookie) {
    std::lock_guard lock(state_->mutex);
    std::erase_if(state_->cookies,
                  [&](const State::Stored& s) { return s.cookie.sameIdentity(cookie); });
}

void HTTPCookieStorage::deleteAllCookies() {
    std::lock_guard lock(state_->mutex);
    state_->cookies.clear();
}

}  // namespace platform
