// How long a cookie lives: a response's Max-Age and Expires are cut back to 400 days,
// and the file's expiry dates are kept within the years a date converts to.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/foundation/Date.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/HTTPCookie.h"
#include "platform/foundation/HTTPCookieStorage.h"
#include "platform/foundation/HTTPHeaderFields.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/URL.h"
#include "tests/support/PlatformTest.h"
#include "tests/support/TempDir.h"

using platform::Date;
using platform::HTTPCookie;
using platform::HTTPCookieStorage;

namespace {

constexpr double kDay = 86400;
constexpr double kCap = 400 * kDay;
constexpr double kLatest = 253402300799;  // 9999-12-31 23:59:59 UTC

enum class Kept { Expired, Session, Persistent };

class CookieExpiryTest : public PlatformTest {
  protected:
    std::string path() const { return home.file("Cookies/Cookies.json"); }
    std::unique_ptr<HTTPCookieStorage> restart() {
        auto store = std::make_unique<HTTPCookieStorage>();
        store->setPersistentStoragePath(path());
        return store;
    }
    // The "expires" of each cookie the file holds, by name.
    std::map<std::string, double> filed() {
        std::map<std::string, double> out;
        auto text = platform::FileManager::defaultManager().readFile(path());
        if (!text) return out;
        auto parsed = platform::json::parse(*text);
        for (const auto& entry : parsed.value["cookies"])
            out[entry["name"].get<std::string>()] =
                entry["expires"].is_number() ? entry["expires"].get<double>() : std::nan("");
        return out;
    }
    TempDir home;
};

struct SetExpiryRow {
    const char* name;
    std::string header;  // from https://shop.example/
    Kept kept;
    double lives;  // seconds from now, when persistent
};

void PrintTo(const SetExpiryRow& row, std::ostream* out) {
    *out << row.name;
}

const SetExpiryRow kSetExpiryRows[] = {
    {"MaxAgeHuge", "c=1; Path=/; Max-Age=99999999999999", Kept::Persistent, kCap},
    {"MaxAgeJustPastTheCap", "c=1; Path=/; Max-Age=34600000", Kept::Persistent, kCap},
    {"MaxAgeAtTheCap", "c=1; Path=/; Max-Age=34560000", Kept::Persistent, kCap},
    {"MaxAgeOfFourHundredDigits", "c=1; Path=/; Max-Age=" + std::string(400, '9'), Kept::Persistent,
     kCap},
    {"MaxAgeAWeek", "c=1; Path=/; Max-Age=604800", Kept::Persistent, 7 * kDay},
    {"MaxAgeZero", "c=1; Path=/; Max-Age=0", Kept::Expired, 0},
    {"MaxAgeNegative", "c=1; Path=/; Max-Age=-1", Kept::Expired, 0},
    {"MaxAgeHugeNegative", "c=1; Path=/; Max-Age=-99999999999999999999", Kept::Expired, 0},
    {"ExpiresYear9999", "c=1; Path=/; Expires=Fri, 31 Dec 9999 23:59:59 GMT", Kept::Persistent,
     kCap},
    {"ExpiresIn2100", "c=1; Path=/; Expires=Fri, 01 Jan 2100 00:00:00 GMT", Kept::Persistent, kCap},
    // Five digits are no year: the attribute is ignored.
    {"ExpiresYear10000", "c=1; Path=/; Expires=Sat, 01 Jan 10000 00:00:00 GMT", Kept::Session, 0},
    {"ExpiresInAWeek", "c=1; Path=/; Expires={in a week}", Kept::Persistent, 7 * kDay},
};

class CookieSetExpiryTest : public CookieExpiryTest,
                            public testing::WithParamInterface<SetExpiryRow> {};

TEST_P(CookieSetExpiryTest, AResponsesExpiryIsCutBackTo400Days) {
    const SetExpiryRow& row = GetParam();
    const double expiry = std::floor(Date::now().timeIntervalSince1970()) + row.lives;
    std::string header = row.header;
    if (auto at = header.find("{in a week}"); at != std::string::npos) {
        const time_t week = static_cast<time_t>(expiry);
        tm parts{};
        char text[64];
        strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", gmtime_r(&week, &parts));
        header.replace(at, std::strlen("{in a week}"), text);
    }
    {
        auto store = restart();
        platform::HTTPHeaderFields fields;
        fields.add("Set-Cookie", header);
        const auto from = *platform::URL::parse("https://shop.example/");
        store->setCookies(HTTPCookie::cookiesWithResponseHeaderFields(fields, from), from, {});
        const auto cookies = store->cookies();
        ASSERT_EQ(cookies.size(), row.kept == Kept::Expired ? 0u : 1u);
        if (row.kept != Kept::Expired) {
            EXPECT_EQ(cookies[0].isSessionOnly(), row.kept == Kept::Session);
        }
    }
    const auto file = filed();
    const auto again = restart()->cookies();
    if (row.kept != Kept::Persistent) {
        EXPECT_TRUE(file.empty());
        EXPECT_TRUE(again.empty());
        return;
    }
    ASSERT_EQ(file.count("c"), 1u);
    EXPECT_NEAR(file.at("c"), expiry, 1);
    ASSERT_EQ(again.size(), 1u);
    ASSERT_FALSE(again[0].isSessionOnly());
    EXPECT_NEAR(again[0].expiresDate()->timeIntervalSince1970(), expiry, 1);
}

INSTANTIATE_TEST_SUITE_P(Rows, CookieSetExpiryTest, testing::ValuesIn(kSetExpiryRows),
                         [](const auto& info) { return std::string(info.param.name); });

struct FileExpiryRow {
    const char* name;
    const char* expires;  // JSON text of the entry's "expires"
    bool kept;
    double expiry;  // when kept
};

void PrintTo(const FileExpiryRow& row, std::ostream* out) {
    *out << row.name;
}

const FileExpiryRow kFileExpiryRows[] = {
    {"FarPastTheLastDate", "1e300", true, kLatest},
    {"AYearPast9999", "1e12", true, kLatest},
    {"TheLastDate", "253402300799", true, kLatest},
    {"In5138", "1e11", true, 1e11},
    {"FarInThePast", "-1e300", false, 0},
    {"NullAsANaNIsWritten", "null", false, 0},
    {"AString", "\"2e9\"", false, 0},
};

class CookieFileExpiryTest : public CookieExpiryTest,
                             public testing::WithParamInterface<FileExpiryRow> {};

TEST_P(CookieFileExpiryTest, TheFilesExpiryIsKeptWithinTheYearsADateConvertsTo) {
    const FileExpiryRow& row = GetParam();
    home.write("Cookies/Cookies.json",
               std::string(R"({"cookies": [{"name": "c", "value": "1", "domain": "shop.example",)"
                           R"( "path": "/", "expires": )") +
                   row.expires +
                   R"(}, {"name": "other", "value": "2", "domain": "shop.example",)"
                   R"( "path": "/", "expires": 1e11}]})");
    auto store = restart();
    EXPECT_EQ(logged("skipped 1 unreadable cookies of 2"), !row.kept && row.expires[0] != '-');
    // A change writes the file again: what was read goes back as it is now.
    store->setCookie(*HTTPCookie::make(
        {.name = "n", .value = "3", .domain = "shop.example", .expiresDate = Date(1e11)}));
    const auto file = filed();
    EXPECT_EQ(file.count("other"), 1u);
    EXPECT_EQ(file.count("n"), 1u);
    const auto cookies = restart()->cookies();
    ASSERT_EQ(cookies.size(), row.kept ? 3u : 2u);
    if (!row.kept) {
        EXPECT_EQ(file.count("c"), 0u);
        return;
    }
    ASSERT_EQ(file.count("c"), 1u);
    EXPECT_EQ(file.at("c"), row.expiry);
    ASSERT_EQ(cookies[0].name(), "c");
    EXPECT_EQ(cookies[0].expiresDate()->timeIntervalSince1970(), row.expiry);
}

INSTANTIATE_TEST_SUITE_P(Rows, CookieFileExpiryTest, testing::ValuesIn(kFileExpiryRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CookieMadeExpiryTest, AnExpiryOutsideTheYearsADateConvertsToIsBroughtIn) {
    auto made = [](double expiry) {
        return HTTPCookie::make(
            {.name = "c", .value = "1", .domain = "shop.example", .expiresDate = Date(expiry)});
    };
    EXPECT_FALSE(made(std::nan("")));
    EXPECT_EQ(made(INFINITY)->expiresDate()->timeIntervalSince1970(), kLatest);
    EXPECT_EQ(made(-INFINITY)->expiresDate()->timeIntervalSince1970(), -62135596800.0);
    EXPECT_EQ(made(2e9)->expiresDate()->timeIntervalSince1970(), 2e9);
}

}  // namespace
