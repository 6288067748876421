#pragma once
// The process's cookie jar. URL loading sends the cookies that match a request and
// stores the ones a response sets (unless the request switches cookie handling off).
//
//   auto& jar = platform::HTTPCookieStorage::shared();
//   jar.setCookies(platform::HTTPCookie::cookiesWithResponseHeaderFields(headers, url), url, {});
//   jar.cookieHeaderForURL(url);   // "sid=1; lang=de"
//
// Cookies live for the process; expired ones (platform clock) are never handed out.
// Thread-safe.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/HTTPCookie.h"

namespace platform {

class URL;
class HTTPURLResponse;

class HTTPCookieStorage {
  public:
    // The platform's numbering.
    enum class AcceptPolicy : int { Always = 0, Never = 1, OnlyFromMainDocumentDomain = 2 };

    static HTTPCookieStorage& shared();

    AcceptPolicy cookieAcceptPolicy() const;
    void setCookieAcceptPolicy(AcceptPolicy policy);

    std::vector<HTTPCookie> cookies() const;
    // Longer paths first, then older cookies first.
    std::vector<HTTPCookie> cookiesForURL(const URL& url) const;
    // The "Cookie" field value for `url`; empty when no cookie matches.
    std::string cookieHeaderForURL(const URL& url) const;

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

    HTTPCookieStorage();
    ~HTTPCookieStorage();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace platform
