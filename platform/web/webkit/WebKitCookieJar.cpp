#include "platform/web/webkit/WebKitCookieJar.h"

#include <webkit2/webkit2.h>

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/HTTPCookieStorage.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"

namespace platform {
namespace {

constexpr const char* kUnreadable = "WebKitCookieJar could not read WebKit's cookies: {}";

std::string keyOf(const HTTPCookie& cookie) {
    return cookie.name() + '\n' + cookie.domain() + '\n' + cookie.path();
}

std::optional<HTTPCookie> ours(SoupCookie* cookie) {
    HTTPCookie::Properties p;
    p.name = soup_cookie_get_name(cookie) ? soup_cookie_get_name(cookie) : "";
    p.value = soup_cookie_get_value(cookie) ? soup_cookie_get_value(cookie) : "";
    p.domain = soup_cookie_get_domain(cookie) ? soup_cookie_get_domain(cookie) : "";
    p.path = soup_cookie_get_path(cookie) ? soup_cookie_get_path(cookie) : "/";
    if (GDateTime* expires = soup_cookie_get_expires(cookie))
        p.expiresDate = Date(static_cast<double>(g_date_time_to_unix(expires)));
    p.secure = soup_cookie_get_secure(cookie);
    p.httpOnly = soup_cookie_get_http_only(cookie);
    switch (soup_cookie_get_same_site_policy(cookie)) {
        case SOUP_SAME_SITE_POLICY_LAX:
            p.sameSite = HTTPCookie::SameSite::Lax;
            break;
        case SOUP_SAME_SITE_POLICY_STRICT:
            p.sameSite = HTTPCookie::SameSite::Strict;
            break;
        default:
            p.sameSite = HTTPCookie::SameSite::None;
    }
    return HTTPCookie::make(std::move(p));
}

SoupCookie* soupCookie(const HTTPCookie& cookie) {
    SoupCookie* made = soup_cookie_new(cookie.name().c_str(), cookie.value().c_str(),
                                       cookie.domain().c_str(), cookie.path().c_str(), -1);
    if (cookie.expiresDate()) {
        // Within the years a GDateTime holds; a cookie's expiry is never NaN.
        const double seconds = std::clamp(cookie.expiresDate()->timeIntervalSince1970(),
                                          HTTPCookie::kEarliestExpiry, HTTPCookie::kLatestExpiry);
        if (GDateTime* expires = g_date_time_new_from_unix_utc(static_cast<gint64>(seconds))) {
            soup_cookie_set_expires(made, expires);
            g_date_time_unref(expires);
        }
    }
    soup_cookie_set_secure(made, cookie.isSecure());
    soup_cookie_set_http_only(made, cookie.isHTTPOnly());
    soup_cookie_set_same_site_policy(
        made, cookie.sameSitePolicy() == HTTPCookie::SameSite::Strict ? SOUP_SAME_SITE_POLICY_STRICT
              : cookie.sameSitePolicy() == HTTPCookie::SameSite::Lax  ? SOUP_SAME_SITE_POLICY_LAX
                                                                      : SOUP_SAME_SITE_POLICY_NONE);
    return made;
}

struct Jar {
    WebKitCookieManager* manager = nullptr;
    // What WebKit holds as far as the jar knows, by name, domain and path.
    std::map<std::string, HTTPCookie> inWebKit;
    // The push generation at which each cookie was last sent to WebKit: a read of WebKit's
    // cookies that left before it does not know of it yet.
    std::map<std::string, uint64_t> pushedAt;
    uint64_t pushes = 0;
    bool reading = false;
    bool readAgain = false;
    // Set while WebKit's own changes go to the store (main thread).
    bool applying = false;

    // Changes of the store on their way to push, by key: a read of WebKit's cookies
    // does not know of them either. Any thread.
    std::mutex waitingMutex;
    std::map<std::string, size_t> waiting;

    void await(const std::vector<HTTPCookieStorage::Change>& changes) {
        std::lock_guard lock(waitingMutex);
        for (const auto& change : changes) ++waiting[keyOf(change.cookie)];
    }
    bool isWaiting(const std::string& key) {
        std::lock_guard lock(waitingMutex);
        return waiting.count(key) > 0;
    }

    void push(const std::vector<HTTPCookieStorage::Change>& changes) {
        for (const auto& change : changes) {
            const std::string key = keyOf(change.cookie);
            {
                std::lock_guard lock(waitingMutex);
                if (auto it = waiting.find(key); it != waiting.end() && --it->second == 0)
                    waiting.erase(it);
            }
            auto known = inWebKit.find(key);
            if (change.removed ? known == inWebKit.end()
                               : known != inWebKit.end() && known->second == change.cookie)
                continue;
            pushedAt[key] = ++pushes;
            SoupCookie* cookie = soupCookie(change.cookie);
            if (change.removed) {
                inWebKit.erase(key);
                webkit_cookie_manager_delete_cookie(manager, cookie, nullptr, nullptr, nullptr);
            } else {
                inWebKit.insert_or_assign(key, change.cookie);
                webkit_cookie_manager_add_cookie(manager, cookie, nullptr, nullptr, nullptr);
            }
            soup_cookie_free(cookie);
        }
    }

    // WebKit's cookies as they were when the read left (`since`: the push generation then).
    void take(GList* list, uint64_t since) {
        std::map<std::string, HTTPCookie> now;
        for (GList* item = list; item; item = item->next) {
            if (auto cookie = ours(static_cast<SoupCookie*>(item->data)))
                now.insert_or_assign(keyOf(*cookie), *cookie);
        }
        auto& store = HTTPCookieStorage::shared();
        auto pushedSince = [&](const std::string& key) {
            auto at = pushedAt.find(key);
            return (at != pushedAt.end() && at->second > since) || isWaiting(key);
        };
        // What comes from WebKit is not sent back to it.
        applying = true;
        std::vector<HTTPCookie> gone;
        for (const auto& [key, cookie] : inWebKit) {
            if (!now.count(key) && !pushedSince(key)) gone.push_back(cookie);
        }
        for (const auto& cookie : gone) {
            inWebKit.erase(keyOf(cookie));
            store.deleteCookie(cookie);
        }
        for (const auto& [key, cookie] : now) {
            if (pushedSince(key)) continue;
            auto known = inWebKit.find(key);
            if (known != inWebKit.end() && known->second == cookie) continue;
            inWebKit.insert_or_assign(key, cookie);
            store.setCookie(cookie);
        }
        applying = false;
    }

    // Reads all of WebKit's cookies into the store, then runs `then`.
    void read(std::function<void()> then) {
        struct Reading {
            uint64_t since;
            std::function<void()> then;
        };
        auto* reading = new Reading{pushes, std::move(then)};
        webkit_cookie_manager_get_all_cookies(
            manager, nullptr,
            [](GObject* source, GAsyncResult* result, gpointer data) {
                std::unique_ptr<Reading> reading(static_cast<Reading*>(data));
                GError* error = nullptr;
                GList* list = webkit_cookie_manager_get_all_cookies_finish(
                    WEBKIT_COOKIE_MANAGER(source), result, &error);
                if (error) {
                    PLATFORM_LOG_WARN(kUnreadable, error->message ? error->message : "");
                    g_clear_error(&error);
                } else {
                    jar().take(list, reading->since);
                }
                g_list_free_full(list, reinterpret_cast<GDestroyNotify>(soup_cookie_free));
                if (reading->then) reading->then();
            },
            reading);
    }

    // WebKit's "changed": one read at a time, one more when changes came during it.
    void readChanges() {
        if (reading) {
            readAgain = true;
            return;
        }
        reading = true;
        read([this] {
            reading = false;
            if (std::exchange(readAgain, false)) readChanges();
        });
    }

    static Jar& jar() {
        static auto* held = new Jar;
        return *held;
    }
};

}  // namespace

void WebKitCookieJar::attach(WebKitCookieManager* manager) {
    Jar& jar = Jar::jar();
    if (jar.manager || !manager) return;
    jar.manager = WEBKIT_COOKIE_MANAGER(g_object_ref(manager));
    g_signal_connect(manager, "changed",
                     G_CALLBACK(+[](WebKitCookieManager*, gpointer) { Jar::jar().readChanges(); }),
                     nullptr);
    auto& store = HTTPCookieStorage::shared();
    // Changes can come on URL loading's threads: WebKit hears of them in order on the
    // main loop, ahead of what that loop does after them.
    store.addObserver([](const std::vector<HTTPCookieStorage::Change>& changes) {
        if (isMainThread() && Jar::jar().applying) return;
        Jar::jar().await(changes);
        RunLoop::main().post([changes] { Jar::jar().push(changes); });
    });
    std::vector<HTTPCookieStorage::Change> all;
    for (const auto& cookie : store.cookies()) all.push_back({cookie, false});
    jar.push(all);
}

}  // namespace platform
