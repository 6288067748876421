// The request marks, cookie sharing, web cache keys and command URLs.
#include <gtest/gtest.h>

#include "libmerovane/bridge/MVCommandURL.h"
#include "libmerovane/bridge/MVWebCacheKeys.h"
#include "libmerovane/bridge/URLRequestExtensions.h"
#include "libmerovane/bridge/URLRequestWebCache.h"
#include "libmerovane/bridge/URLResponseExtensions.h"
#include "libmerovane/core/MVLocalizationInterface.h"
#include "platform/foundation/HTTPCookieStorage.h"
#include "platform/foundation/HTTPURLResponse.h"
#include "platform/foundation/URLRequest.h"
#include "tests/support/FakeLocalization.h"
#include "tests/support/PlatformTest.h"

namespace {

using URLRequestUtilitiesTest = PlatformTest;

platform::URL url(const char* text) {
    return *platform::URL::parse(text);
}

TEST_F(URLRequestUtilitiesTest, WebCacheMarks) {
    platform::URLRequest request(url("https://shop.example/"));
    EXPECT_FALSE(willIgnoreWebcache(request));
    EXPECT_FALSE(willForceWebcache(request));
    setWillForceWebcache(request, true);
    EXPECT_TRUE(willForceWebcache(request));
    EXPECT_TRUE(request.boolProperty("MVWebCacheURLRequestPropertyForceWebcache"));
    setWillIgnoreWebcache(request, true);
    EXPECT_TRUE(willIgnoreWebcache(request));
    EXPECT_TRUE(request.boolProperty("MVWebCacheURLRequestPropertyIgnoreWebcache"));
    setWillForceWebcache(request, false);
    EXPECT_FALSE(willForceWebcache(request));
}

TEST_F(URLRequestUtilitiesTest, ResponsesShareTheirCookiesAndRequestsTakeThem) {
    auto& jar = platform::HTTPCookieStorage::shared();
    jar.setCookieAcceptPolicy(platform::HTTPCookieStorage::AcceptPolicy::Never);

    // A response that sets no cookie changes nothing.
    shareCookies(platform::HTTPURLResponse(url("https://shop.example/"), 200, "HTTP/1.1",
                                           {{"Content-Type", "text/html"}}));
    EXPECT_EQ(jar.cookieAcceptPolicy(), platform::HTTPCookieStorage::AcceptPolicy::Never);
    EXPECT_FALSE(logged("shared cookies"));

    platform::HTTPHeaderFields fields;
    fields.add("Set-Cookie", "sid=1; Path=/");
    fields.add("Set-Cookie", "lang=de; Path=/shop");
    shareCookies(
        platform::HTTPURLResponse(url("https://shop.example/shop/login"), 302, "HTTP/1.1", fields));
    EXPECT_EQ(jar.cookieAcceptPolicy(), platform::HTTPCookieStorage::AcceptPolicy::Always);
    EXPECT_TRUE(logged("NSURLResponse<https://shop.example/shop/login> shared cookies\n"));

    platform::URLRequest request(url("https://shop.example/shop/cart"));
    request.setValue("application/json", "Content-Type");
    addSharedCookies(request);
    EXPECT_EQ(request.valueForHTTPHeaderField("Cookie"), "lang=de; sid=1");
    EXPECT_EQ(request.valueForHTTPHeaderField("Content-Type"), "application/json");

    platform::URLRequest elsewhere(url("https://other.example/"));
    addSharedCookies(elsewhere);
    EXPECT_EQ(elsewhere.valueForHTTPHeaderField("Cookie"), std::nullopt);
}

TEST_F(URLRequestUtilitiesTest, WebCacheKeysWithScheme) {
    struct Row {
        const char* key;
        const char* scheme;
        const char* result;
    } rows[] = {
        {"home", "mv-api-page", "mv-api-page:home"},
        {"mv-api-page:home", "mv-api-page", "mv-api-page:home"},
        // the scheme and its colon anywhere leave the key alone
        {"x/mv-api-page:home", "mv-api-page", "x/mv-api-page:home"},
        {"mv-api-page:home", "mv-api-data", "mv-api-data:mv-api-page:home"},
        {"", "mv-api-data", "mv-api-data:"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(MVWebCacheKeyWithScheme(row.key, row.scheme), row.result) << row.key;
    EXPECT_STREQ(MVWebCacheSchemeApiPage, "mv-api-page");
    EXPECT_STREQ(MVWebCacheSchemeApiData, "mv-api-data");
}

TEST_F(URLRequestUtilitiesTest, WebCacheKeysOfApiPages) {
    struct Row {
        const char* key;
        const char* url;
        bool matches;
    } rows[] = {
        {"mv-api-page:home", "mvapi:home", true},
        {"mv-api-page:a:b", "mvapi:a:b", true},  // split at the first colon only
        {"mv-api-page:home", "mvapi:cart", false},
        {"mv-api-data:home", "mvapi:home", false},
        {"mv-api-page:home", "https:home", false},
        // no colon on either side: never a match
        {"home", "mvapi:home", false},
        {"mv-api-page:home", "home", false},
        {"", "", false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(MVWebCacheKeyIsApiPageOfUrl(row.key, row.url), row.matches)
            << row.key << " " << row.url;
}

TEST_F(URLRequestUtilitiesTest, CommandURLsDecode) {
    struct Row {
        const char* url;
        const char* decoded;
        std::optional<std::string> collection;
    } rows[] = {
        {"mvcmd:%7B%22ver%22%3A%222.0%22%7D", "mvcmd:{\"ver\":\"2.0\"}", "{\"ver\":\"2.0\"}"},
        {"mvcmd:nothing", "mvcmd:nothing", std::nullopt},
        {"mvcmd:a%7Bb%7Bc", "mvcmd:a{b{c", "{b{c"},
        // undecodable: a malformed escape, bytes that are no UTF-8
        {"mvcmd:%7B%zz", "", std::nullopt},
        {"mvcmd:%FF%7B%7D", "", std::nullopt},
        {"", "", std::nullopt},
    };
    for (const auto& row : rows) {
        const std::string decoded = decodedCommandURL(row.url);
        EXPECT_EQ(decoded, row.decoded) << row.url;
        EXPECT_EQ(commandCollectionText(decoded), row.collection) << row.url;
    }
}

TEST_F(URLRequestUtilitiesTest, LocalizedStringsComeFromTheInstalledLocalization) {
    EXPECT_EQ(MVLocalizedString("#webview.failed.load"), "#webview.failed.load");
    auto localization = FakeLocalization::install();
    localization->texts["#webview.failed.load"] = "Page couldn't be loaded ...";
    EXPECT_EQ(MVLocalizedString("#webview.failed.load"), "Page couldn't be loaded ...");
    MVLocalizationInterface::setShared(nullptr);
    EXPECT_EQ(MVLocalizedString("#webview.failed.load"), "#webview.failed.load");
}

}  // namespace
