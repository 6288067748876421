#include "platform/foundation/HTTPCookieStorage.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <mutex>
#include <nlohmann/json.hpp>

#include "platform/foundation/FileManager.h"
#include "platform/foundation/HTTPURLResponse.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/foundation/TextUtilities.h"
#include "platform/foundation/URL.h"

namespace platform {
namespace {

constexpr const char* kUnreadableFile =
    "HTTPCookieStorage could not read the cookies file {} ({}): it starts empty";
constexpr const char* kMovedAside = "HTTPCookieStorage moved the damaged cookies file to {}";
constexpr const char* kBadEntries = "HTTPCookieStorage skipped {} unreadable cookies of {}";
constexpr const char* kNotWritten = "HTTPCookieStorage could not write the cookies file {}: {}";

const char* sameSiteName(HTTPCookie::SameSite policy) {
    switch (policy) {
        case HTTPCookie::SameSite::Lax:
            return "Lax";
        case HTTPCookie::SameSite::Strict:
            return "Strict";
        case HTTPCookie::SameSite::None:
            break;
    }
    return "None";
}

nlohmann::json entryOf(const HTTPCookie& cookie) {
    return {{"name", cookie.name()},
            {"value", cookie.value()},
            {"domain", cookie.domain()},
            {"path", cookie.path()},
            {"expires", cookie.expiresDate()->timeIntervalSince1970()},
            {"secure", cookie.isSecure()},
            {"httpOnly", cookie.isHTTPOnly()},
            {"sameSite", sameSiteName(cookie.sameSitePolicy())}};
}

std::optional<HTTPCookie> cookieOf(const nlohmann::json& entry) {
    if (!entry.is_object()) return std::nullopt;
    auto text = [&](const char* key) -> std::optional<std::string> {
        const nlohmann::json* value = json::find(entry, key);
        if (!value || !value->is_string()) return std::nullopt;
        return value->get_ref<const std::string&>();
    };
    const nlohmann::json* expires = json::find(entry, "expires");
    auto name = text("name"), value = text("value"), domain = text("domain"), path = text("path");
    // No date converts from a non-finite number; a finite one is clamped by make().
    if (!name || !value || !domain || !path || !expires || !expires->is_number() ||
        !std::isfinite(json::doubleValue(*expires)))
        return std::nullopt;
    HTTPCookie::Properties p;
    p.name = *name;
    p.value = *value;
    p.domain = *domain;
    p.path = *path;
    p.expiresDate = Date(json::doubleValue(*expires));
    p.secure = json::boolValue(entry, "secure");
    p.httpOnly = json::boolValue(entry, "httpOnly");
    const std::string sameSite = text("sameSite").value_or("None");
    p.sameSite = sameSite == "Strict" ? HTTPCookie::SameSite::Strict
                 : sameSite == "Lax"  ? HTTPCookie::SameSite::Lax
                                      : HTTPCookie::SameSite::None;
    return HTTPCookie::make(std::move(p));
}

}  // namespace

struct HTTPCookieStorage::State {
    struct Stored {
        HTTPCookie cookie;
        uint64_t created;
    };
    mutable std::mutex mutex;
    std::vector<Stored> cookies;
    uint64_t nextCreated = 0;
    AcceptPolicy policy = AcceptPolicy::Always;
    std::string path;  // the file that keeps persistent cookies; empty: none
    size_t filed = 0;  // cookies the file holds
    std::vector<std::pair<uint64_t, Observer>> observers;
    uint64_t nextObserver = 1;

    void purgeExpired() {
        const Date now = Date::now();
        std::erase_if(cookies, [&](const Stored& s) { return s.cookie.isExpired(now); });
    }

    // Records in `changes` what it changed.
    void store(const HTTPCookie& cookie, std::vector<Change>& changes) {
        auto it = std::find_if(cookies.begin(), cookies.end(),
                               [&](const Stored& s) { return s.cookie.sameIdentity(cookie); });
        if (cookie.isExpired(Date::now())) {
            if (it != cookies.end()) {
                changes.push_back({it->cookie, true});
                cookies.erase(it);
            }
            return;
        }
        if (cookie.name().size() + cookie.value().size() > kMaximumCookieBytes) return;
        if (it != cookies.end()) {
            if (it->cookie == cookie) return;
            it->cookie = cookie;  // keeps its creation order
        } else {
            if (cookies.size() >= kMaximumCookies) {
                changes.push_back({cookies.front().cookie, true});
                cookies.erase(cookies.begin());
            }
            cookies.push_back(Stored{cookie, nextCreated++});
        }
        changes.push_back({cookie, false});
    }

    // Writes the persistent cookies when a change touched one.
    void save(const std::vector<Change>& changes) {
        // A session cookie may take the place of one the file holds.
        const bool persistent = std::any_of(changes.begin(), changes.end(), [](const Change& c) {
            return !c.cookie.isSessionOnly();
        });
        if (path.empty() || (filed == 0 && !persistent)) return;
        purgeExpired();
        nlohmann::json entries = nlohmann::json::array();
        for (const auto& s : cookies) {
            if (!s.cookie.isSessionOnly()) entries.push_back(entryOf(s.cookie));
        }
        filed = entries.size();
        Error error;
        if (!FileManager::defaultManager().writeFileAtomically(
                path, json::print(nlohmann::json{{"cookies", std::move(entries)}}), &error, 0600))
            PLATFORM_LOG_WARN(kNotWritten, path, error.localizedDescription());
    }

    // The cookies the file keeps; a damaged file is moved aside.
    std::vector<HTTPCookie> read() {
        auto& files = FileManager::defaultManager();
        if (!files.fileExists(path)) return {};
        Error error;
        auto text = files.readFile(path, &error);
        json::ParseResult parsed;
        if (text) parsed = json::parse(*text);
        const nlohmann::json* list = parsed.ok() ? json::find(parsed.value, "cookies") : nullptr;
        if (!list || !list->is_array()) {
            PLATFORM_LOG_WARN(kUnreadableFile, path,
                              !text          ? error.localizedDescription()
                              : !parsed.ok() ? parsed.error
                                             : std::string("no list of cookies"));
            if (auto aside = files.moveAside(path)) PLATFORM_LOG_WARN(kMovedAside, *aside);
            return {};
        }
        std::vector<HTTPCookie> out;
        size_t bad = 0;
        filed = list->size();
        for (const auto& entry : *list) {
            if (auto cookie = cookieOf(entry))
                out.push_back(std::move(*cookie));
            else
                ++bad;
        }
        if (bad > 0) PLATFORM_LOG_WARN(kBadEntries, bad, list->size());
        return out;
    }
};

HTTPCookieStorage::HTTPCookieStorage() : state_(std::make_unique<State>()) {}
HTTPCookieStorage::~HTTPCookieStorage() = default;

HTTPCookieStorage& HTTPCookieStorage::shared() {
    static HTTPCookieStorage* storage = [] {
        auto* s = new HTTPCookieStorage;
        registerSharedInstanceReset("HTTPCookieStorage", [s] {
            s->setPersistentStoragePath({});
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

std::vector<HTTPCookie> HTTPCookieStorage::cookiesForURL(const URL& url,
                                                         const std::optional<URL>& siteOf) const {
    std::vector<State::Stored> matching;
    {
        std::lock_guard lock(state_->mutex);
        state_->purgeExpired();
        for (const auto& s : state_->cookies) {
            if (s.cookie.matchesURL(url) && s.cookie.matchesSite(url, siteOf))
                matching.push_back(s);
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

std::string HTTPCookieStorage::cookieHeaderForURL(const URL& url,
                                                  const std::optional<URL>& siteOf) const {
    return HTTPCookie::cookieHeaderValue(cookiesForURL(url, siteOf));
}

void HTTPCookieStorage::change(const std::function<void(std::vector<Change>&)>& edit) {
    std::vector<Change> changes;
    std::vector<Observer> observers;
    {
        std::lock_guard lock(state_->mutex);
        edit(changes);
        if (changes.empty()) return;
        state_->save(changes);
        for (const auto& [token, observer] : state_->observers) observers.push_back(observer);
    }
    for (const auto& observer : observers) observer(changes);
}

void HTTPCookieStorage::setCookies(const std::vector<HTTPCookie>& cookies, const URL& url,
                                   const std::optional<URL>& mainDocumentURL) {
    change([&](std::vector<Change>& changes) {
        if (state_->policy == AcceptPolicy::Never) return;
        const std::string host = asciiLowercase(url.host());
        if (state_->policy == AcceptPolicy::OnlyFromMainDocumentDomain && mainDocumentURL) {
            const std::string mainHost = asciiLowercase(mainDocumentURL->host());
            if (!HTTPCookie::domainMatches(host, mainHost) &&
                !HTTPCookie::domainMatches(mainHost, host))
                return;
        }
        // A secure cookie comes from a secure page only.
        const bool secureOrigin = url.schemeLowercased() == "https";
        for (const auto& c : cookies) {
            if (!c.isSecure() || secureOrigin) state_->store(c, changes);
        }
    });
}

void HTTPCookieStorage::storeCookiesFromResponse(const HTTPURLResponse& response,
                                                 const std::optional<URL>& mainDocumentURL) {
    auto cookies =
        HTTPCookie::cookiesWithResponseHeaderFields(response.allHeaderFields(), response.url());
    if (!cookies.empty()) setCookies(cookies, response.url(), mainDocumentURL);
}

void HTTPCookieStorage::setCookie(const HTTPCookie& cookie) {
    change([&](std::vector<Change>& changes) { state_->store(cookie, changes); });
}

void HTTPCookieStorage::deleteCookie(const HTTPCookie& cookie) {
    change([&](std::vector<Change>& changes) {
        std::erase_if(state_->cookies, [&](const State::Stored& s) {
            if (!s.cookie.sameIdentity(cookie)) return false;
            changes.push_back({s.cookie, true});
            return true;
        });
    });
}

void HTTPCookieStorage::deleteAllCookies() {
    change([&](std::vector<Change>& changes) {
        for (const auto& s : state_->cookies) changes.push_back({s.cookie, true});
        state_->cookies.clear();
    });
}

void HTTPCookieStorage::setPersistentStoragePath(const std::string& path) {
    change([&](std::vector<Change>& changes) {
        state_->path = path;
        state_->filed = 0;
        if (path.empty()) return;
        const auto slash = path.rfind('/');
        if (slash != std::string::npos && slash > 0)
            FileManager::defaultManager().createDirectory(path.substr(0, slash), true);
        for (const auto& cookie : state_->read()) state_->store(cookie, changes);
    });
}

uint64_t HTTPCookieStorage::addObserver(Observer observer) {
    std::lock_guard lock(state_->mutex);
    const uint64_t token = state_->nextObserver++;
    state_->observers.emplace_back(token, std::move(observer));
    return token;
}

void HTTPCookieStorage::removeObserver(uint64_t token) {
    std::lock_guard lock(state_->mutex);
    std::erase_if(state_->observers, [&](const auto& entry) { return entry.first == token; });
}

}  // namespace platform
