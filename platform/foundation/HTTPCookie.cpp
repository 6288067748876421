#include "platform/foundation/HTTPCookie.h"

#include <arpa/inet.h>
#include <libpsl.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

#include "platform/foundation/HTTPHeaderFields.h"
#include "platform/foundation/TextUtilities.h"
#include "platform/foundation/URL.h"

namespace platform {
namespace {

bool isIPAddress(std::string_view host) {
    std::string h(host);
    unsigned char buffer[16];
    return ::inet_pton(AF_INET, h.c_str(), buffer) == 1 ||
           ::inet_pton(AF_INET6, h.c_str(), buffer) == 1;
}

// RFC 6265, section 5.1.4.
std::string defaultPath(const URL& url) {
    const std::string& path = url.path();
    if (path.empty() || path[0] != '/') return "/";
    auto slash = path.rfind('/');
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool pathMatches(std::string_view requestPath, std::string_view cookiePath) {
    if (requestPath.empty()) requestPath = "/";
    if (requestPath == cookiePath) return true;
    if (requestPath.substr(0, cookiePath.size()) != cookiePath) return false;
    return cookiePath.back() == '/' || requestPath[cookiePath.size()] == '/';
}

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool isDelimiter(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return u == 0x09 || (u >= 0x20 && u <= 0x2F) || (u >= 0x3B && u <= 0x40) ||
           (u >= 0x5B && u <= 0x60) || (u >= 0x7B && u <= 0x7E);
}

// Leading digits of `token` (between min and max of them), the rest ignored.
std::optional<int> leadingNumber(std::string_view token, size_t minDigits, size_t maxDigits,
                                 size_t* used = nullptr) {
    size_t n = 0;
    while (n < token.size() && std::isdigit(static_cast<unsigned char>(token[n]))) ++n;
    if (n < minDigits || n > maxDigits) return std::nullopt;
    int value = 0;
    std::from_chars(token.data(), token.data() + n, value);
    if (used) *used = n;
    return value;
}

}  // namespace

std::optional<Date> HTTPCookie::parseCookieDate(std::string_view text) {
    std::optional<int> hour, minute, second, day, month, year;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && isDelimiter(text[i])) ++i;
        size_t start = i;
        while (i < text.size() && !isDelimiter(text[i])) ++i;
        std::string_view token = text.substr(start, i - start);
        if (token.empty()) continue;
        if (!hour) {
            // hms-time: 1*2DIGIT ":" 1*2DIGIT ":" 1*2DIGIT, the token extends over the colons.
            size_t end = start;
            while (end < text.size() &&
                   (std::isdigit(static_cast<unsigned char>(text[end])) || text[end] == ':'))
                ++end;
            std::string_view candidate = text.substr(start, end - start);
            size_t a = 0, b = 0, c = 0;
            auto h = leadingNumber(candidate, 1, 2, &a);
            if (h && a < candidate.size() && candidate[a] == ':') {
                auto m = leadingNumber(candidate.substr(a + 1), 1, 2, &b);
                if (m && a + 1 + b < candidate.size() && candidate[a + 1 + b] == ':') {
                    auto s = leadingNumber(candidate.substr(a + 2 + b), 1, 2, &c);
                    if (s) {
                        hour = h, minute = m, second = s;
                        i = std::max(i, end);
                        continue;
                    }
                }
            }
        }
        if (!day) {
            if (auto d = leadingNumber(token, 1, 2)) {
                day = d;
                continue;
            }
        }
        if (!month && token.size() >= 3) {
            static const char* kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                            "jul", "aug", "sep", "oct", "nov", "dec"};
            std::string prefix = asciiLowercase(token.substr(0, 3));
            auto it = std::find(std::begin(kMonths), std::end(kMonths), prefix);
            if (it != std::end(kMonths)) {
                month = static_cast<int>(it - std::begin(kMonths)) + 1;
                continue;
            }
        }
        if (!year) {
            if (auto y = leadingNumber(token, 2, 4)) {
                year = y;
                continue;
            }
        }
    }
    if (!hour || !day || !month || !year) return std::nullopt;
    int y = *year;
    if (y >= 70 && y <= 99) y += 1900;
    if (y >= 0 && y <= 69) y += 2000;
    if (*day < 1 || *day > 31 || y < 1601 || *hour > 23 || *minute > 59 || *second > 59)
        return std::nullopt;
    int64_t days = daysFromCivil(y, static_cast<unsigned>(*month), static_cast<unsigned>(*day));
    return Date(static_cast<double>(days * 86400 + *hour * 3600 + *minute * 60 + *second));
}

bool HTTPCookie::domainMatches(std::string_view host, std::string_view domain) {
    if (host == domain) return true;
    if (domain.empty() || host.size() <= domain.size() || isIPAddress(host)) return false;
    return host.substr(host.size() - domain.size()) == domain &&
           host[host.size() - domain.size() - 1] == '.';
}

std::optional<HTTPCookie> HTTPCookie::make(Properties p) {
    if (p.name.empty() || p.domain.empty()) return std::nullopt;
    HTTPCookie c;
    c.name_ = std::move(p.name);
    c.value_ = std::move(p.value);
    c.hostOnly_ = p.domain[0] != '.';
    c.domain_ = asciiLowercase(c.hostOnly_ ? std::string_view(p.domain)
                                           : std::string_view(p.domain).substr(1));
    if (c.domain_.empty()) return std::nullopt;
    c.path_ = p.path.empty() || p.path[0] != '/' ? "/" : std::move(p.path);
    if (p.expiresDate) {
        const double expiry = p.expiresDate->timeIntervalSince1970();
        if (std::isnan(expiry)) return std::nullopt;
        c.expiresDate_ = Date(std::clamp(expiry, kEarliestExpiry, kLatestExpiry));
    }
    c.secure_ = p.secure;
    c.httpOnly_ = p.httpOnly;
    c.sameSite_ = p.sameSite;
    return c;
}

std::optional<HTTPCookie> HTTPCookie::parseSetCookie(std::string_view text, const URL& url) {
    const std::string host = asciiLowercase(url.host());
    if (host.empty()) return std::nullopt;
    auto semicolon = text.find(';');
    std::string_view pair = text.substr(0, semicolon);
    auto equals = pair.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    HTTPCookie c;
    c.name_ = std::string(trimWhitespace(pair.substr(0, equals)));
    c.value_ = std::string(trimWhitespace(pair.substr(equals + 1)));
    if (c.name_.empty()) return std::nullopt;

    const Date now = Date::now();
    const Date latest = now.addingTimeInterval(kMaximumAge);
    std::optional<Date> expires;
    std::optional<Date> maxAge;
    std::optional<std::string> domain;
    std::optional<std::string> path;
    while (semicolon != std::string_view::npos) {
        text = text.substr(semicolon + 1);
        semicolon = text.find(';');
        std::string_view attribute = text.substr(0, semicolon);
        auto eq = attribute.find('=');
        std::string name = asciiLowercase(trimWhitespace(attribute.substr(0, eq)));
        std::string_view value = eq == std::string_view::npos
                                     ? std::string_view{}
                                     : trimWhitespace(attribute.substr(eq + 1));
        if (name == "expires") {
            if (auto d = parseCookieDate(value)) expires = std::min(*d, latest);
        } else if (name == "max-age") {
            bool negative = !value.empty() && value[0] == '-';
            std::string_view digits = negative ? value.substr(1) : value;
            if (digits.empty() || !std::all_of(digits.begin(), digits.end(),
                                               [](char ch) { return ch >= '0' && ch <= '9'; }))
                continue;
            double seconds = 0;
            for (char ch : digits) seconds = seconds * 10 + (ch - '0');
            // Zero or less expires at once.
            maxAge = negative || seconds == 0
                         ? Date(kEarliestExpiry)
                         : now.addingTimeInterval(std::min(seconds, kMaximumAge));
        } else if (name == "domain") {
            if (value.empty()) continue;
            if (value[0] == '.') value.remove_prefix(1);
            domain = asciiLowercase(value);
        } else if (name == "path") {
            path = std::string(value);
        } else if (name == "secure") {
            c.secure_ = true;
        } else if (name == "httponly") {
            c.httpOnly_ = true;
        } else if (name == "samesite") {
            const std::string policy = asciiLowercase(value);
            c.sameSite_ = policy == "strict" ? SameSite::Strict
                          : policy == "lax"  ? SameSite::Lax
                                             : SameSite::None;
        }
    }
    c.expiresDate_ = maxAge ? maxAge : expires;

    // A domain must cover the host; a public suffix (a bare top-level name among them)
    // only covers itself, as a host-only cookie.
    if (domain && !domain->empty() && !isIPAddress(*domain) &&
        ::psl_is_public_suffix(::psl_builtin(), domain->c_str())) {
        if (*domain != host) return std::nullopt;
        domain.reset();
    }
    if (domain && !domain->empty()) {
        if (!domainMatches(host, *domain)) return std::nullopt;
        c.domain_ = *domain;
        c.hostOnly_ = false;
    } else {
        c.domain_ = host;
        c.hostOnly_ = true;
    }
    c.path_ = path && !path->empty() && (*path)[0] == '/' ? *path : defaultPath(url);
    return c;
}

std::vector<HTTPCookie> HTTPCookie::cookiesWithResponseHeaderFields(const HTTPHeaderFields& fields,
                                                                    const URL& url) {
    std::vector<HTTPCookie> out;
    for (const auto& [name, value] : fields) {
        if (!HTTPHeaderFields::namesEqual(name, "Set-Cookie")) continue;
        if (auto cookie = parseSetCookie(value, url)) out.push_back(std::move(*cookie));
    }
    return out;
}

std::string HTTPCookie::cookieHeaderValue(const std::vector<HTTPCookie>& cookies) {
    std::string out;
    for (const auto& c : cookies) {
        if (!out.empty()) out += "; ";
        out += c.name_ + "=" + c.value_;
    }
    return out;
}

bool HTTPCookie::matchesURL(const URL& url) const {
    const std::string host = asciiLowercase(url.host());
    if (host.empty()) return false;
    if (hostOnly_ ? host != domain_ : !domainMatches(host, domain_)) return false;
    if (secure_ && url.schemeLowercased() != "https") return false;
    return pathMatches(url.path(), path_);
}

bool HTTPCookie::sameSite(std::string_view host, std::string_view other) {
    auto site = [](std::string_view name) {
        std::string h = asciiLowercase(name);
        if (!h.empty() && h.back() == '.') h.pop_back();
        if (h.find('.') == std::string::npos || isIPAddress(h)) return h;
        const char* registrable = ::psl_registrable_domain(::psl_builtin(), h.c_str());
        return registrable ? std::string(registrable) : h;
    };
    return site(host) == site(other);
}

bool HTTPCookie::matchesSite(const URL& url, const std::optional<URL>& siteOf) const {
    if (sameSite_ == SameSite::None || !siteOf) return true;
    return sameSite(asciiLowercase(url.host()), asciiLowercase(siteOf->host()));
}

bool HTTPCookie::sameIdentity(const HTTPCookie& other) const {
    return name_ == other.name_ && domain_ == other.domain_ && path_ == other.path_;
}

}  // namespace platform
