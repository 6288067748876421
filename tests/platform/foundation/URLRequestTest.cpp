#include <gtest/gtest.h>

#include "platform/foundation/HTTPURLResponse.h"
#include "platform/foundation/URLRequest.h"

using platform::HTTPHeaderFields;
using platform::HTTPURLResponse;
using platform::URL;
using platform::URLRequest;

namespace {

TEST(HTTPHeaderFieldsTest, LookupIgnoresCaseAndKeepsOrder) {
    HTTPHeaderFields h;
    h.set("Content-Type", "text/html");
    h.set("X-One", "1");
    h.set("content-TYPE", "text/plain");  // replaces in place
    ASSERT_EQ(h.size(), 2u);
    EXPECT_EQ(h.entries()[0].first, "Content-Type");
    EXPECT_EQ(h.entries()[0].second, "text/plain");
    EXPECT_EQ(h.value("CONTENT-type"), "text/plain");
    EXPECT_FALSE(h.value("Missing"));
}

TEST(HTTPHeaderFieldsTest, AddKeepsFieldsApartAndSetCollapsesThem) {
    HTTPHeaderFields h;
    h.add("Set-Cookie", "a=1; Expires=Wed, 21 Oct 2037 07:28:00 GMT");
    h.add("X", "x");
    h.add("set-cookie", "b=2");
    EXPECT_EQ(h.values("SET-COOKIE").size(), 2u);
    EXPECT_EQ(h.value("Set-Cookie"), "a=1; Expires=Wed, 21 Oct 2037 07:28:00 GMT, b=2");
    h.set("Set-Cookie", "c=3");
    ASSERT_EQ(h.size(), 2u);
    EXPECT_EQ(h.entries()[0].second, "c=3");  // at the place of the first
    EXPECT_EQ(h.entries()[1].first, "X");
    h.remove("x");
    EXPECT_EQ(h.size(), 1u);
}

TEST(URLRequestTest, PropertiesTravelWithCopies) {
    URLRequest r(*URL::parse("http://h/"));
    r.setProperty("MVWebCacheURLRequestPropertyForceWebcache", true);
    r.setProperty("count", 3);
    URLRequest copy = r;
    copy.removeProperty("count");
    copy.setProperty("MVWebCacheURLRequestPropertyForceWebcache", false);

    EXPECT_TRUE(r.boolProperty("MVWebCacheURLRequestPropertyForceWebcache"));
    EXPECT_EQ(std::any_cast<int>(r.property("count")), 3);
    EXPECT_FALSE(copy.boolProperty("MVWebCacheURLRequestPropertyForceWebcache"));
    EXPECT_FALSE(copy.property("count").has_value());
    EXPECT_FALSE(r.boolProperty("count"));  // not a boolean
    EXPECT_FALSE(r.boolProperty("missing"));
}

struct ContentTypeRow {
    const char* contentType;  // null: no header
    const char* mime;
    const char* encoding;
};

TEST(HTTPURLResponseTest, MimeTypeAndEncodingFromContentType) {
    const ContentTypeRow rows[] = {
        {"text/html; charset=UTF-8", "text/html", "UTF-8"},
        {"Text/HTML", "text/html", ""},
        {"application/json;charset=\"utf-8\"", "application/json", "utf-8"},
        {"text/plain; format=flowed; CHARSET=iso-8859-1", "text/plain", "iso-8859-1"},
        {"  image/png  ", "image/png", ""},
        {"", "", ""},
        {nullptr, "", ""},
    };
    for (const auto& row : rows) {
        HTTPHeaderFields h;
        if (row.contentType) h.set("content-type", row.contentType);
        HTTPURLResponse r(*URL::parse("http://h/"), 200, "HTTP/1.1", h);
        EXPECT_EQ(r.mimeType(), row.mime) << (row.contentType ? row.contentType : "(none)");
        EXPECT_EQ(r.textEncodingName(), row.encoding)
            << (row.contentType ? row.contentType : "(none)");
    }
}

TEST(HTTPURLResponseTest, ExpectedContentLength) {
    auto make = [](const char* length) {
        HTTPHeaderFields h;
        if (length) h.set("Content-Length", length);
        return HTTPURLResponse(*URL::parse("http://h/"), 200, "HTTP/1.1", h)
            .expectedContentLength();
    };
    EXPECT_EQ(make("1234"), 1234);
    EXPECT_EQ(make(" 0 "), 0);
    EXPECT_EQ(make(nullptr), -1);
    EXPECT_EQ(make("12x"), -1);
    EXPECT_EQ(make("-5"), -1);
    EXPECT_EQ(make("99999999999999999999999"), -1);
}

}  // namespace
