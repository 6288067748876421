// The cookie store's file and the rules a browser applies: persistent cookies outlive
// the process, session ones do not, a damaged file is logged and kept aside; SameSite
// cookies stay with their site and a secure cookie comes from a secure page only.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/foundation/FileManager.h"
#include "platform/foundation/HTTPCookie.h"
#include "platform/foundation/HTTPCookieStorage.h"
#include "platform/foundation/HTTPHeaderFields.h"
#include "platform/foundation/TestDriver.h"
#include "platform/foundation/URL.h"
#include "tests/support/PlatformTest.h"
#include "tests/support/TempDir.h"

using platform::HTTPCookie;
using platform::HTTPCookieStorage;
using platform::URL;

namespace {

URL url(const std::string& text) {
    return *URL::parse(text);
}

std::set<std::string> names(const std::vector<HTTPCookie>& cookies) {
    std::set<std::string> out;
    for (const auto& cookie : cookies) out.insert(cookie.name());
    return out;
}

void set(HTTPCookieStorage& store, const std::string& header, const std::string& from) {
    platform::HTTPHeaderFields fields;
    fields.add("Set-Cookie", header);
    store.setCookies(HTTPCookie::cookiesWithResponseHeaderFields(fields, url(from)), url(from), {});
}

class HTTPCookieStorageFileTest : public PlatformTest {
  protected:
    std::string path() const { return home.file("Library/Cookies/Cookies.json"); }
    // A store of a new process over the same home.
    std::unique_ptr<HTTPCookieStorage> restart() {
        auto store = std::make_unique<HTTPCookieStorage>();
        store->setPersistentStoragePath(path());
        return store;
    }
    TempDir home;
};

// What a new process finds of cookies set (and changed) in the one before.
struct RestartRow {
    const char* name;
    std::vector<const char*> headers;  // set in this order from https://shop.example/
    bool kept;
};

void PrintTo(const RestartRow& row, std::ostream* out) {
    *out << row.name;
}

const RestartRow kRestartRows[] = {
    {"Session", {"c=1; Path=/"}, false},
    {"SessionHttpOnly", {"c=1; Path=/; HttpOnly; SameSite=Lax"}, false},
    {"AYear", {"c=1; Path=/; Max-Age=31536000"}, true},
    {"ByAnExpiresDateAhead", {"c=1; Path=/; Expires=Fri, 01 Jan 2100 00:00:00 GMT"}, true},
    {"AYearEveryFlag",
     {"c=1; Path=/; Domain=shop.example; Max-Age=31536000; Secure; HttpOnly; SameSite=Strict"},
     true},
    {"AYearThenDeleted", {"c=1; Path=/; Max-Age=31536000", "c=; Path=/; Max-Age=0"}, false},
    {"AYearThenSession", {"c=1; Path=/; Max-Age=31536000", "c=2; Path=/"}, false},
    {"SessionThenAYear", {"c=1; Path=/", "c=2; Path=/; Max-Age=31536000"}, true},
    {"ExpiresBeforeTheRestart", {"c=1; Path=/; Max-Age=60"}, false},
};

class CookieRestartTest : public HTTPCookieStorageFileTest,
                          public testing::WithParamInterface<RestartRow> {};

TEST_P(CookieRestartTest, PersistentCookiesOutliveTheProcess) {
    const RestartRow& row = GetParam();
    {
        auto first = restart();
        for (const char* header : row.headers) set(*first, header, "https://shop.example/");
    }
    platform::advanceBy(61);
    auto second = restart();
    const auto cookies = second->cookies();
    ASSERT_EQ(cookies.size(), row.kept ? 1u : 0u);
    if (!row.kept) return;
    // Every attribute comes back as it was set.
    HTTPCookieStorage again;
    set(again, row.headers.back(), "https://shop.example/");
    const HTTPCookie written = again.cookies().at(0);
    const HTTPCookie& read = cookies[0];
    EXPECT_EQ(read.value(), written.value());
    EXPECT_EQ(read.domain(), written.domain());
    EXPECT_EQ(read.path(), written.path());
    EXPECT_EQ(read.isSecure(), written.isSecure());
    EXPECT_EQ(read.isHTTPOnly(), written.isHTTPOnly());
    EXPECT_EQ(read.sameSitePolicy(), written.sameSitePolicy());
    EXPECT_NEAR(read.expiresDate()->timeIntervalSince1970(),
                written.expiresDate()->timeIntervalSince1970(), 62);
}

INSTANTIATE_TEST_SUITE_P(Rows, CookieRestartTest, testing::ValuesIn(kRestartRows),
                         [](const auto& info) { return std::string(info.param.name); });

// Files a new process may find: each logged, none a crash, the readable cookies kept.
struct FileRow {
    const char* name;
    const char* text;
    std::set<std::string> kept;
    const char* logged;
    bool movedAside;
};

void PrintTo(const FileRow& row, std::ostream* out) {
    *out << row.name;
}

const FileRow kFileRows[] = {
    {"NotJson", "{\"cookies\": [", {}, "could not read the cookies file", true},
    {"NoList", "[1, 2]", {}, "could not read the cookies file", true},
    {"Empty", "", {}, "could not read the cookies file", true},
    {"OneBadEntry",
     R"({"cookies": [{"name": "a", "value": "1", "domain": "shop.example", "path": "/",
         "expires": 1e12}, {"name": 7}, "x",
         {"name": "b", "value": "2", "domain": "", "path": "/", "expires": 1e12}]})",
     {"a"},
     "skipped 3 unreadable cookies of 4",
     false},
};

class CookieFileTest : public HTTPCookieStorageFileTest,
                       public testing::WithParamInterface<FileRow> {};

TEST_P(CookieFileTest, ADamagedFileIsLoggedAndKeptAside) {
    const FileRow& row = GetParam();
    home.write("Library/Cookies/Cookies.json", row.text);
    auto store = restart();
    EXPECT_EQ(names(store->cookies()), row.kept);
    EXPECT_TRUE(logged(row.logged));
    bool aside = false;
    for (const auto& entry : std::filesystem::directory_iterator(home.file("Library/Cookies")))
        aside = aside || entry.path().filename().string().find("corrupt") != std::string::npos;
    EXPECT_EQ(aside, row.movedAside);
    // The store goes on and keeps what it is given from now on.
    set(*store, "n=1; Path=/; Max-Age=31536000", "http://shop.example/");
    EXPECT_EQ(names(restart()->cookies()).count("n"), 1u);
}

INSTANTIATE_TEST_SUITE_P(Rows, CookieFileTest, testing::ValuesIn(kFileRows),
                         [](const auto& info) { return std::string(info.param.name); });

// Which cookies of shop.example a request gets, by the page it loads for.
struct SiteRow {
    const char* name;
    const char* request;
    std::optional<std::string> page;
    std::set<std::string> sent;
};

void PrintTo(const SiteRow& row, std::ostream* out) {
    *out << row.name;
}

const SiteRow kSiteRows[] = {
    {"ItsOwnDocument",
     "https://shop.example/cart",
     std::nullopt,
     {"lax", "none", "plain", "strict", "secure"}},
    {"ItsOwnPage",
     "https://shop.example/img",
     "https://shop.example/",
     {"lax", "none", "plain", "strict", "secure"}},
    {"APageOfASubdomain",
     "https://shop.example/img",
     "https://www.shop.example/",
     {"lax", "none", "plain", "strict", "secure"}},
    {"AnotherSitesPage",
     "https://shop.example/img",
     "https://other.example/",
     {"none", "plain", "secure"}},
    {"PlainHttp", "http://shop.example/img", "http://shop.example/", {"lax", "none", "strict"}},
};

class CookieSiteTest : public HTTPCookieStorageFileTest,
                       public testing::WithParamInterface<SiteRow> {};

TEST_P(CookieSiteTest, SameSiteAndSecureAreApplied) {
    const SiteRow& row = GetParam();
    HTTPCookieStorage store;
    set(store, "lax=1; Path=/; SameSite=Lax", "http://shop.example/");
    set(store, "strict=1; Path=/; SameSite=Strict", "http://shop.example/");
    set(store, "none=1; Path=/; SameSite=None", "http://shop.example/");
    set(store, "plain=1; Path=/; Secure", "http://shop.example/");  // not from a secure page
    set(store, "plain=2; Path=/; Secure", "https://shop.example/");
    set(store, "secure=1; Path=/; Secure; SameSite=None", "https://shop.example/");
    const auto sent = store.cookiesForURL(url(row.request),
                                          row.page ? std::optional(url(*row.page)) : std::nullopt);
    EXPECT_EQ(names(sent), row.sent);
}

INSTANTIATE_TEST_SUITE_P(Rows, CookieSiteTest, testing::ValuesIn(kSiteRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(HTTPCookieStorageFileTest, ObserversHearEveryChangeOnceAndOnlyChanges) {
    HTTPCookieStorage store;
    std::vector<std::string> heard;
    const auto token = store.addObserver([&](const std::vector<HTTPCookieStorage::Change>& all) {
        for (const auto& change : all)
            heard.push_back((change.removed ? "-" : "+") + change.cookie.name());
    });
    set(store, "a=1; Path=/", "http://shop.example/");
    set(store, "a=1; Path=/", "http://shop.example/");  // the same again: no change
    set(store, "a=2; Path=/", "http://shop.example/");
    set(store, "a=; Path=/; Max-Age=0", "http://shop.example/");
    set(store, "b=1; Path=/", "http://shop.example/");
    store.deleteAllCookies();
    store.removeObserver(token);
    set(store, "c=1; Path=/", "http://shop.example/");
    EXPECT_EQ(heard, (std::vector<std::string>{"+a", "+a", "-a", "+b", "-b"}));
}

}  // namespace
