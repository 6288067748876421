#include <gtest/gtest.h>

#include "platform/foundation/HTTPCookie.h"
#include "platform/foundation/HTTPCookieStorage.h"
#include "platform/foundation/HTTPHeaderFields.h"
#include "platform/foundation/HTTPURLResponse.h"
#include "platform/foundation/URL.h"
#include "tests/support/PlatformTest.h"

using platform::Date;
using platform::HTTPCookie;
using platform::HTTPCookieStorage;
using platform::URL;

namespace {

URL url(const char* text) {
    return *URL::parse(text);
}

struct SetCookieRow {
    const char* header;
    const char* from;
    const char* name;
    const char* value;
    const char* domain;
    const char* path;
    bool secure;
    bool httpOnly;
    const char* why;
};

const SetCookieRow kSetCookieRows[] = {
    {"sid=abc", "http://shop.example/a/b", "sid", "abc", "shop.example", "/a", false, false,
     "host-only, default path is the directory"},
    {"sid=abc; Path=/; Secure; HttpOnly", "https://shop.example/x", "sid", "abc", "shop.example",
     "/", true, true, "flags"},
    {" sid = a b ; path=/cart", "http://shop.example/", "sid", "a b", "shop.example", "/cart",
     false, false, "trimmed, attribute names in any case"},
    {"sid=abc; Domain=.Shop.Example", "http://www.shop.example/", "sid", "abc", ".shop.example",
     "/", false, false, "domain cookie, leading dot and case dropped"},
    {"sid=abc; Domain=shop.example", "http://shop.example/", "sid", "abc", ".shop.example", "/",
     false, false, "domain equal to the host"},
    {"sid=abc; Path=relative", "http://h.example/a/b/c", "sid", "abc", "h.example", "/a/b", false,
     false, "a path not starting with / falls back to the default"},
    {"empty=", "http://h.example/", "empty", "", "h.example", "/", false, false, "empty value"},
    {"a=b=c", "http://h.example/", "a", "b=c", "h.example", "/", false, false,
     "= inside the value"},
    {"sid=abc; Domain=", "http://h.example/", "sid", "abc", "h.example", "/", false, false,
     "empty domain attribute is ignored"},
    {"sid=1; Domain=127.0.0.1", "http://127.0.0.1:8080/", "sid", "1", ".127.0.0.1", "/", false,
     false, "doubtful: an IP domain only covers itself"},
};

class SetCookieTest : public ::testing::TestWithParam<SetCookieRow> {};

TEST_P(SetCookieTest, Parses) {
    const SetCookieRow& row = GetParam();
    auto cookie = HTTPCookie::parseSetCookie(row.header, url(row.from));
    ASSERT_TRUE(cookie) << row.why;
    EXPECT_EQ(cookie->name(), row.name) << row.why;
    EXPECT_EQ(cookie->value(), row.value) << row.why;
    EXPECT_EQ(cookie->domain(), row.domain) << row.why;
    EXPECT_EQ(cookie->path(), row.path) << row.why;
    EXPECT_EQ(cookie->isSecure(), row.secure) << row.why;
    EXPECT_EQ(cookie->isHTTPOnly(), row.httpOnly) << row.why;
    EXPECT_TRUE(cookie->isSessionOnly()) << row.why;
}

INSTANTIATE_TEST_SUITE_P(Rows, SetCookieTest, ::testing::ValuesIn(kSetCookieRows));

TEST(SetCookieRefusedTest, UnusableOrForeignCookiesAreRefused) {
    const std::pair<const char*, const char*> rows[] = {
        {"novalue", "http://h.example/"},
        {"=abc", "http://h.example/"},                           // empty name
        {"sid=abc; Domain=other.example", "http://h.example/"},  // another site
        {"sid=abc; Domain=example", "http://h.example/"},        // top-level domain
        {"sid=abc; Domain=0.0.1", "http://127.0.0.1/"},          // suffix of an IP address
        {"sid=abc", "mvapi:home"},                               // URL without host
    };
    for (const auto& [header, from] : rows)
        EXPECT_FALSE(HTTPCookie::parseSetCookie(header, url(from))) << header;
}

struct DateRow {
    const char* text;
    double expected;  // seconds since 1970; < 0: no date
};

TEST(HTTPCookieDateTest, ParsesTheFormsServersSend) {
    const DateRow rows[] = {
        {"Wed, 21 Oct 2037 07:28:00 GMT", 2139722880},
        {"Wednesday, 21-Oct-37 07:28:00 GMT", 2139722880},  // two-digit year below 70
        {"Wed Oct 21 07:28:00 2037", 2139722880},           // asctime
        {"Thu, 01 Jan 1970 00:00:00 GMT", 0},
        {"Sun, 06 Nov 94 08:49:37 GMT", 784111777},  // two-digit year from 70
        {"21 oct 2037 7:28:0", 2139722880},          // loose
        {"Wed, 32 Oct 2037 07:28:00 GMT", -1},       // no such day
        {"Wed, 21 Oct 2037 25:28:00 GMT", -1},       // no such hour
        {"Wed, 21 Foo 2037 07:28:00 GMT", -1},       // no month
        {"Wed, 21 Oct 1500 07:28:00 GMT", -1},       // before 1601
        {"tomorrow", -1},
        {"", -1},
    };
    for (const auto& row : rows) {
        auto date = HTTPCookie::parseCookieDate(row.text);
        if (row.expected < 0) {
            EXPECT_FALSE(date) << row.text;
        } else {
            ASSERT_TRUE(date) << row.text;
            EXPECT_EQ(date->timeIntervalSince1970(), row.expected) << row.text;
        }
    }
}

class HTTPCookieStorageTest : public PlatformTest {
  protected:
    HTTPCookieStorage& jar = HTTPCookieStorage::shared();

    void receive(const char* from, std::initializer_list<const char*> setCookies) {
        platform::HTTPHeaderFields fields;
        for (const char* c : setCookies) fields.add("Set-Cookie", c);
        jar.storeCookiesFromResponse(platform::HTTPURLResponse(url(from), 200, "HTTP/1.1", fields),
                                     std::nullopt);
    }
};

TEST_F(HTTPCookieStorageTest, ExpiryFollowsThePlatformClock) {
    receive("http://h.example/", {"short=1; Max-Age=10", "long=2; Max-Age=100", "session=3"});
    EXPECT_EQ(jar.cookieHeaderForURL(url("http://h.example/")), "short=1; long=2; session=3");
    platform::advanceBy(10);
    EXPECT_EQ(jar.cookieHeaderForURL(url("http://h.example/")), "long=2; session=3");
    EXPECT_EQ(jar.cookies().size(), 2u);
}

TEST_F(HTTPCookieStorageTest, ExpiresAttributeAgainstTheManualWallClock) {
    // The manual wall clock starts at 2026-01-01 and only moves on: far past, far future.
    receive("http://h.example/", {"old=1; Expires=Thu, 01 Jan 2015 00:00:00 GMT",
                                  "new=2; Expires=Thu, 01 Jan 2099 00:00:00 GMT"});
    EXPECT_EQ(jar.cookieHeaderForURL(url("http://h.example/")), "new=2");
    // Max-Age wins over Expires.
    receive("http://h.example/", {"both=3; Max-Age=5; Expires=Thu, 01 Jan 2099 00:00:00 GMT"});
    platform::advanceBy(6);
    EXPECT_EQ(jar.cookieHeaderForURL(url("http://h.example/")), "new=2");
}

TEST_F(HTTPCookieStorageTest, ALaterCookieReplacesAndAnExpiredOneDeletes) {
    receive("http://h.example/", {"a=1", "b=2"});
    receive("http://h.example/", {"a=changed"});
    EXPECT_EQ(jar.cookieHeaderForURL(url("http://h.example/")),
              "a=changed; b=2");  // keeps its place
    receive("http://h.example/", {"b=gone; Max-Age=0"});
    EXPECT_EQ(jar.cookieHeaderForURL(url("http://h.example/")), "a=changed");
    // Same name under another path is another cookie.
    receive("http://h.example/", {"a=deep; Path=/deep"});
    EXPECT_EQ(jar.cookieHeaderForURL(url("http://h.example/deep/x")),
              "a=deep; a=changed");  // longer path first
}

TEST_F(HTTPCookieStorageTest, DomainPathAndSecureDecideWhichURLsGetACookie) {
    receive("https://www.shop.example/account/",
            {"dom=1; Domain=shop.example; Path=/", "host=2; Path=/", "acct=3; Path=/account",
             "sec=4; Secure; Path=/"});
    struct Row {
        const char* url;
        const char* header;
    } rows[] = {
        {"https://www.shop.example/account/x", "acct=3; dom=1; host=2; sec=4"},
        {"http://www.shop.example/account", "acct=3; dom=1; host=2"},  // no secure cookie over http
        {"https://api.shop.example/", "dom=1"},         // host-only cookies stay home
        {"https://shop.example/accountancy", "dom=1"},  // /account is no prefix of /accountancy
        {"https://evilshop.example/", ""},              // no suffix match without a dot
        {"https://www.shop.example", "dom=1; host=2; sec=4"},  // empty path is "/"
    };
    for (const auto& row : rows)
        EXPECT_EQ(jar.cookieHeaderForURL(url(row.url)), row.header) << row.url;
}

TEST_F(HTTPCookieStorageTest, PoliciesAndDeletion) {
    jar.setCookieAcceptPolicy(HTTPCookieStorage::AcceptPolicy::Never);
    receive("http://h.example/", {"a=1"});
    EXPECT_TRUE(jar.cookies().empty());

    jar.setCookieAcceptPolicy(HTTPCookieStorage::AcceptPolicy::OnlyFromMainDocumentDomain);
    auto cookies = HTTPCookie::cookiesWithResponseHeaderFields({{"Set-Cookie", "t=1"}},
                                                               url("http://ads.example/"));
    jar.setCookies(cookies, url("http://ads.example/"), url("http://shop.example/"));
    EXPECT_TRUE(jar.cookies().empty());
    cookies = HTTPCookie::cookiesWithResponseHeaderFields({{"Set-Cookie", "s=1"}},
                                                          url("http://www.shop.example/"));
    jar.setCookies(cookies, url("http://www.shop.example/"), url("http://shop.example/"));
    EXPECT_EQ(jar.cookies().size(), 1u);

    jar.setCookieAcceptPolicy(HTTPCookieStorage::AcceptPolicy::Always);
    receive("http://h.example/", {"a=1", "b=2"});
    auto stored = jar.cookiesForURL(url("http://h.example/"));
    ASSERT_EQ(stored.size(), 2u);
    jar.deleteCookie(stored[0]);
    EXPECT_EQ(jar.cookieHeaderForURL(url("http://h.example/")), "b=2");
    jar.deleteAllCookies();
    EXPECT_TRUE(jar.cookies().empty());
}

TEST_F(HTTPCookieStorageTest, CookiesMadeInCode) {
    auto cookie = HTTPCookie::make(
        {.name = "k", .value = "v", .domain = ".Shop.Example", .path = "/", .expiresDate = {}});
    ASSERT_TRUE(cookie);
    EXPECT_FALSE(cookie->isHostOnly());
    jar.setCookie(*cookie);
    EXPECT_EQ(jar.cookieHeaderForURL(url("http://m.shop.example/")), "k=v");
    EXPECT_FALSE(HTTPCookie::make(
        {.name = "", .value = "v", .domain = "h", .path = "/", .expiresDate = {}}));
    EXPECT_FALSE(HTTPCookie::make(
        {.name = "n", .value = "v", .domain = ".", .path = "/", .expiresDate = {}}));
}

// Two hosts are one site when their registrable domains (the public suffix list) are equal.
struct HostSiteRow {
    const char* host;
    const char* other;
    bool same;
};

TEST(HTTPCookieSiteTest, ASiteIsTheRegistrableDomain) {
    const HostSiteRow rows[] = {
        {"shop.example", "www.shop.example", true},
        {"a.b.shop.example", "shop.example", true},
        {"shop.example", "other.example", false},
        {"shop.co.uk", "evil.co.uk", false},
        {"www.shop.co.uk", "shop.co.uk", true},
        {"co.uk", "shop.co.uk", false},
        {"co.uk", "co.uk", true},
        {"shop.github.io", "evil.github.io", false},  // a private suffix
        {"a.shop.github.io", "shop.github.io", true},
        {"shop.example.", "www.shop.example", true},  // one trailing dot
        {"shop.example.", "shop.example", true},
        {"shop.co.uk.", "evil.co.uk.", false},
        {"shop.example..", "shop.example", false},
        {"Shop.Example", "www.shop.EXAMPLE", true},
        {"SHOP.CO.UK", "evil.co.uk", false},
        {"localhost", "localhost", true},
        {"localhost", "shop.localhost", false},
        {"localhost.", "localhost", true},
        {"intranet", "other", false},
        {"127.0.0.1", "127.0.0.1", true},
        {"127.0.0.1", "10.0.0.1", false},
        {"1.2.3.4", "5.6.3.4", false},
        {"1.2.3.4.", "1.2.3.4", true},
        {"::1", "::1", true},
        {"::ffff:1.2.3.4", "::ffff:5.6.3.4", false},
        {"", "", true},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(HTTPCookie::sameSite(row.host, row.other), row.same)
            << row.host << " " << row.other;
        EXPECT_EQ(HTTPCookie::sameSite(row.other, row.host), row.same)
            << row.other << " " << row.host;
    }
}

TEST(HTTPCookieSiteTest, AStrictCookieStaysWithItsRegistrableDomain) {
    auto cookie = HTTPCookie::parseSetCookie("sid=1; Path=/; Secure; SameSite=Strict",
                                             url("https://shop.co.uk/"));
    ASSERT_TRUE(cookie);
    const URL request = url("https://shop.co.uk/api");
    ASSERT_TRUE(cookie->matchesURL(request));
    EXPECT_FALSE(cookie->matchesSite(request, url("https://evil.co.uk/")));
    EXPECT_TRUE(cookie->matchesSite(request, url("https://www.shop.co.uk/")));
    EXPECT_TRUE(cookie->matchesSite(request, std::nullopt));
}

// A Domain attribute naming a public suffix would reach every site below it.
TEST(HTTPCookieSiteTest, ADomainThatIsAPublicSuffixCoversNoOtherSite) {
    const struct {
        const char* header;
        const char* from;
        const char* domain;  // none: refused
    } rows[] = {
        {"a=1; Domain=co.uk", "https://shop.co.uk/", nullptr},
        {"a=1; Domain=.CO.UK", "https://shop.co.uk/", nullptr},
        {"a=1; Domain=github.io", "https://shop.github.io/", nullptr},
        {"a=1; Domain=uk", "https://shop.co.uk/", nullptr},
        {"a=1; Domain=shop.co.uk", "https://www.shop.co.uk/", ".shop.co.uk"},
        {"a=1; Domain=co.uk", "https://co.uk/", "co.uk"},  // host-only on the suffix itself
        {"a=1; Domain=localhost", "http://localhost/", "localhost"},
        {"a=1; Domain=shop.example", "https://www.shop.example/", ".shop.example"},
    };
    for (const auto& row : rows) {
        auto cookie = HTTPCookie::parseSetCookie(row.header, url(row.from));
        if (!row.domain) {
            EXPECT_FALSE(cookie) << row.header << " from " << row.from;
            continue;
        }
        ASSERT_TRUE(cookie) << row.header << " from " << row.from;
        EXPECT_EQ(cookie->domain(), row.domain) << row.header << " from " << row.from;
    }
    auto cookie = HTTPCookie::parseSetCookie("a=1; Domain=co.uk", url("https://co.uk/"));
    EXPECT_FALSE(cookie->matchesURL(url("https://evil.co.uk/")));
}

}  // namespace
