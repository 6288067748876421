#pragma once
// One HTTP cookie, as a "Set-Cookie" field sets it (name, value, domain, path, expiry,
// secure and HTTP-only flags), and the rules for which URLs it goes with.
//
//   auto c = platform::HTTPCookie::parseSetCookie("sid=1; Path=/; Max-Age=60", url);
//   c->matchesURL(*platform::URL::parse("http://shop.example/cart"));
//
// Expiry dates are read against the platform clock. A plain value.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Date.h"

namespace platform {

class HTTPHeaderFields;
class URL;

class HTTPCookie {
  public:
    // A cookie without the attribute goes with every request it matches.
    enum class SameSite { None, Lax, Strict };

    struct Properties {
        std::string name;
        std::string value;
        std::string domain;  // a leading "." makes it a domain cookie, else host-only
        std::string path = "/";
        std::optional<Date> expiresDate;  // none: lives for the session
        bool secure = false;
        bool httpOnly = false;
        SameSite sameSite = SameSite::None;
    };

    // A response's Max-Age or Expires further ahead than this is cut back to it.
    static constexpr double kMaximumAge = 400 * 86400.0;
    // Every expiry lies within these (0001-01-01 to 9999-12-31 23:59:59 UTC): whole
    // seconds of it fit in 64 bits and in a calendar date.
    static constexpr double kEarliestExpiry = -62135596800.0;
    static constexpr double kLatestExpiry = 253402300799.0;

    // None when the name is empty, the domain is empty or the expiry is NaN; an expiry
    // out of range is brought to its nearer end.
    static std::optional<HTTPCookie> make(Properties properties);
    // The cookie one "Set-Cookie" value sets for a response from `url`; none when the
    // text has no "name=value" or its Domain attribute does not cover the URL's host or
    // names a public suffix other than the host.
    static std::optional<HTTPCookie> parseSetCookie(std::string_view text, const URL& url);
    // Every cookie of the "Set-Cookie" fields among `fields`, in order.
    static std::vector<HTTPCookie> cookiesWithResponseHeaderFields(const HTTPHeaderFields& fields,
                                                                   const URL& url);
    // The "Cookie" field value for these cookies: "a=1; b=2".
    static std::string cookieHeaderValue(const std::vector<HTTPCookie>& cookies);

    const std::string& name() const { return name_; }
    const std::string& value() const { return value_; }
    // Lower case; with a leading "." for a domain cookie, bare for a host-only one.
    std::string domain() const { return hostOnly_ ? domain_ : "." + domain_; }
    bool isHostOnly() const { return hostOnly_; }
    const std::string& path() const { return path_; }
    const std::optional<Date>& expiresDate() const { return expiresDate_; }
    bool isSessionOnly() const { return !expiresDate_; }
    bool isSecure() const { return secure_; }
    bool isHTTPOnly() const { return httpOnly_; }
    SameSite sameSitePolicy() const { return sameSite_; }
    // Every field, to tell a changed cookie from the one it replaces.
    bool operator==(const HTTPCookie& other) const = default;

    bool isExpired(Date now) const { return expiresDate_ && *expiresDate_ <= now; }
    // Domain, path and scheme allow this cookie to go with a request for `url`.
    bool matchesURL(const URL& url) const;
    // Whether it goes with a request whose page is of the site `siteOf` (none: the request
    // is a page of its own). Lax and Strict cookies go to their own site only.
    bool matchesSite(const URL& url, const std::optional<URL>& siteOf) const;
    // The hosts are of one site: their registrable domains (by the public suffix list, in
    // any case, one trailing dot dropped) are equal. An IP address, a single label or a
    // public suffix is a site of its own.
    static bool sameSite(std::string_view host, std::string_view other);

    // Same name, domain and path: a later cookie replaces the earlier.
    bool sameIdentity(const HTTPCookie& other) const;

    // RFC 6265 date parsing of an "Expires" value; none when it is no date.
    static std::optional<Date> parseCookieDate(std::string_view text);
    // `host` equals `domain` or ends with "." + domain (never for IP addresses).
    static bool domainMatches(std::string_view host, std::string_view domain);

  private:
    HTTPCookie() = default;

    std::string name_;
    std::string value_;
    std::string domain_;  // lower case, no leading dot
    bool hostOnly_ = true;
    std::string path_ = "/";
    std::optional<Date> expiresDate_;
    bool secure_ = false;
    bool httpOnly_ = false;
    SameSite sameSite_ = SameSite::None;
};

}  // namespace platform
