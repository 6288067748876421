#include <gtest/gtest.h>

#include "libmerovane/webcache/MVWebCacheHTTPInfo.h"

namespace {

TEST(MVWebCacheHTTPInfoTest, ContentTypeGivesMimeTypeAndCharset) {
    const struct {
        const char* header;
        const char* mimeType;  // null: none
        const char* charset;   // null: none
    } rows[] = {
        {"text/html", "text/html", nullptr},
        {"text/css; charset=UTF-8", "text/css", "UTF-8"},
        {" text/css ;charset = utf-8 ", "text/css", "utf-8"},  // trimmed
        {"text/plain; Charset=\"latin1\"", "text/plain", "latin1"},
        {"text/plain; charset=a; charset=b", "text/plain", "b"},  // the last one wins
        {"text/plain; charset=", "text/plain", nullptr},          // empty value
        {"text/plain;;; =x; charset", "text/plain", nullptr},     // empty parameters
        {"text/plain; foo=bar=baz", "text/plain", nullptr},
        {"texthtml", nullptr, nullptr},  // no "/"
        {"/html", nullptr, nullptr},
        {"text/", nullptr, nullptr},
        {"text /html", nullptr, nullptr},
        {"", nullptr, nullptr},
        {";", nullptr, nullptr},
        {"; charset=utf-8", nullptr, "utf-8"},
    };
    for (const auto& row : rows) {
        const auto type = contentTypeOfHeader(row.header);
        EXPECT_EQ(type.mimeType,
                  row.mimeType ? std::optional<std::string>(row.mimeType) : std::nullopt)
            << row.header;
        EXPECT_EQ(type.charset,
                  row.charset ? std::optional<std::string>(row.charset) : std::nullopt)
            << row.header;
    }
}

TEST(MVWebCacheHTTPInfoTest, CacheControlGivesAFiniteLifetime) {
    const int64_t max = kMVWebCacheMaximumHTTPLifetime;
    const struct {
        const char* header;  // null: no header
        int64_t lifetime;
    } rows[] = {
        {nullptr, 0},
        {"", 0},
        {"max-age=300", 300},
        {"public, max-age=300", 300},
        {"max-age=300, no-cache", 0},  // no-cache ends the scan
        {"no-cache, max-age=300", 0},
        {"max-age=300, max-age=60", 60},  // the last max-age wins
        {" MAX-AGE = 42 ", 42},
        {"max-age=\"120\"", 120},
        {"max-age=abc", 0},
        {"max-age=-5", 0},
        {"max-age=12abc", 12},
        {"max-age=99999999999999999999", max},
        {"max-age", 0},
        {"max-age=", 0},
        {",,,", 0},
        {"private", 0},
    };
    for (const auto& row : rows) {
        const auto value = row.header ? std::optional<std::string_view>(row.header) : std::nullopt;
        EXPECT_EQ(lifetimeOfCacheControl(value), row.lifetime)
            << (row.header ? row.header : "(none)");
    }
}

}  // namespace
