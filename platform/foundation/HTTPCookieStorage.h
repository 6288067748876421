#pragma once
// The process's cookie jar. URL loading sends the cookies that match a request and
// stores the ones a response sets (unless the request switches cookie handling off).
//
//   auto& jar = platform::HTTPCookieStorage::shared();
//   jar.setCookies(platform::HTTPCookie::cookiesWithResponseHeaderFields(headers, url), url, {});
//   jar.cookieHeaderForURL(url);   // "sid=1; lang=de"
//
// Cookies live for the process unless a file keeps them: with setPersistentStoragePath
// the cookies that carry an expiry are read from it and written back at every change,
// session cookies never. A damaged file is logged and moved aside. Expired cookies
// (platform clock) are never handed out. Observers hear every change on the thread that
// made it, outside the lock. Thread-safe.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/HTTPCookie.h"
#include "platform/foundation/URL.h"

namespace platform {

class HTTPURLResponse;

class HTTPCookieStorage {
  public:
    // The platform's numbering.
    enum class AcceptPolicy : int { Always = 0, Never = 1, OnlyFromMainDocumentDomain = 2 };

    static HTTPCookieStorage& shared();

    AcceptPolicy cookieAcceptPolicy() const;
    void setCookieAcceptPolicy(AcceptPolicy policy);

    // Past these a cookie is not kept: the oldest goes for a new one beyond the count.
    static constexpr size_t kMaximumCookies = 3000;
    static constexpr size_t kMaximumCookieBytes = 4096;

    std::vector<HTTPCookie> cookies() const;
    // Longer paths first, then older cookies first. With `siteOf` (the page the request
    // loads for) SameSite Lax and Strict cookies of another site are left out.
    std::vector<HTTPCookie> cookiesForURL(const URL& url,
                                          const std::optional<URL>& siteOf = std::nullopt) const;
    // The "Cookie" field value for `url`; empty when no cookie matches.
    std::string cookieHeaderForURL(const URL& url,
                                   const std::optional<URL>& siteOf = std::nullopt) const;

    // Stores cookies received from `url`, under the accept policy. A cookie already
    // expired removes the stored one of the same name, domain and path.
    void setCookies(const std::vector<HTTPCookie>& cookies, const URL& url,
                    const std::optional<URL>& mainDocumentURL);
    // Stores the cookies that the response's "Set-Cookie" fields set for its URL.
    void storeCookiesFromResponse(const HTTPURLResponse& response,
                                  const std::optional<URL>& mainDocumentURL);
    void setCookie(const HTTPCookie& cookie);
    void deleteCookie(const HTTPCookie& cookie);
    void deleteAllCookies();

    // Reads the file's cookies into the store (a later set replaces a stored one) and
    // keeps the persistent ones there from now on; empty: memory only again. The folder
    // is made when missing.
    void setPersistentStoragePath(const std::string& path);

    struct Change {
        HTTPCookie cookie;
        bool removed = false;
    };
    using Observer = std::function<void(const std::vector<Change>&)>;
    // Answers a token for removeObserver.
    uint64_t addObserver(Observer observer);
    void removeObserver(uint64_t token);

    HTTPCookieStorage();
    ~HTTPCookieStorage();

  private:
    // Runs `edit` under the lock, then saves and tells the observers what it changed.
    void change(const std::function<void(std::vector<Change>&)>& edit);

    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace platform
