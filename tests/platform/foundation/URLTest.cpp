#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/foundation/URL.h"

using platform::URL;

namespace {

struct ParseRow {
    const char* text;
    bool valid;
    const char* scheme;
    const char* host;
    std::optional<int> port;
    const char* path;
    std::optional<std::string> query;
    std::optional<std::string> fragment;
    const char* why;
};

const ParseRow kParseRows[] = {
    // Valid.
    {"http://shop.example/a/b.html?x=1#top",
     true,
     "http",
     "shop.example",
     {},
     "/a/b.html",
     "x=1",
     "top",
     "full form"},
    {"HTTPS://Shop.Example:8443/",
     true,
     "HTTPS",
     "Shop.Example",
     8443,
     "/",
     {},
     {},
     "case kept as written"},
    {"mvcmd:%7B%22ver%22%3A%222.0%22%7D",
     true,
     "mvcmd",
     "",
     {},
     "%7B%22ver%22%3A%222.0%22%7D",
     {},
     {},
     "opaque command"},
    {"mvapi:home", true, "mvapi", "", {}, "home", {}, {}, "opaque page id"},
    {"mvapi:", true, "mvapi", "", {}, "", {}, {}, "scheme only"},
    {"file:///tmp/a%20b.txt",
     true,
     "file",
     "",
     {},
     "/tmp/a%20b.txt",
     {},
     {},
     "empty authority, escape kept"},
    {"http://[::1]:8080/x", true, "http", "::1", 8080, "/x", {}, {}, "IPv6 literal"},
    {"http://user:pw@h/", true, "http", "h", {}, "/", {}, {}, "user info"},
    {"http://h:/p", true, "http", "h", {}, "/p", {}, {}, "empty port means none"},
    {"http://h?", true, "http", "h", {}, "", "", {}, "empty query is kept"},
    {"http://h/#", true, "http", "h", {}, "/", {}, "", "empty fragment is kept"},
    {"/relative/path?q", true, "", "", {}, "/relative/path", "q", {}, "relative reference"},
    {"a/b:c", true, "", "", {}, "a/b:c", {}, {}, "colon after the first segment"},
    {"//cdn.example/lib.js",
     true,
     "",
     "cdn.example",
     {},
     "/lib.js",
     {},
     {},
     "network-path reference"},
    {"http://h/a?b=c?d/e", true, "http", "h", {}, "/a", "b=c?d/e", {}, "? and / inside the query"},
    {"http://h/p;a=1,2@x:y",
     true,
     "http",
     "h",
     {},
     "/p;a=1,2@x:y",
     {},
     {},
     "sub-delims, : and @ in the path"},
    {"http://", true, "http", "", {}, "", {}, {}, "doubtful: empty host is still a URL"},
    {"mailto:a@b.example?subject=x",
     true,
     "mailto",
     "",
     {},
     "a@b.example",
     "subject=x",
     {},
     "opaque with query"},
    // Invalid.
    {"", false, "", "", {}, "", {}, {}, "empty text"},
    {"mvapi:a b", false, "", "", {}, "", {}, {}, "space"},
    {"http://h/a b", false, "", "", {}, "", {}, {}, "space in path"},
    {"mvcmd:{\"ver\":\"2.0\"}", false, "", "", {}, "", {}, {}, "braces and quotes unescaped"},
    {"http://h/%zz", false, "", "", {}, "", {}, {}, "bad escape"},
    {"http://h/%4", false, "", "", {}, "", {}, {}, "truncated escape"},
    {"http://h/a#b#c", false, "", "", {}, "", {}, {}, "second #"},
    {"http://h/a|b", false, "", "", {}, "", {}, {}, "pipe"},
    {"http://h/a\\b", false, "", "", {}, "", {}, {}, "backslash"},
    {"http://h/\xc3\xa9", false, "", "", {}, "", {}, {}, "non-ASCII byte"},
    {"http://h/a\nb", false, "", "", {}, "", {}, {}, "control character"},
    {"http://h:80a/", false, "", "", {}, "", {}, {}, "port not numeric"},
    {"http://h:65536/", false, "", "", {}, "", {}, {}, "port out of range"},
    {"http://a:b:c/", false, "", "", {}, "", {}, {}, "two colons in a reg-name authority"},
    {"http://[zz::1]/", false, "", "", {}, "", {}, {}, "IPv6 literal with non-hex"},
    {"http://[::1/", false, "", "", {}, "", {}, {}, "unclosed IPv6 literal"},
    {"1http://h/", false, "", "", {}, "", {}, {}, "scheme starting with a digit"},
    {":foo", false, "", "", {}, "", {}, {}, "empty scheme"},
    {"http://h/a[1]", false, "", "", {}, "", {}, {}, "doubtful: brackets outside the host"},
    {"http://h/?a[]=1", false, "", "", {}, "", {}, {}, "doubtful: brackets in the query"},
};

class URLParseTest : public ::testing::TestWithParam<ParseRow> {};

TEST_P(URLParseTest, ParsesStrictly) {
    const ParseRow& row = GetParam();
    auto url = URL::parse(row.text);
    ASSERT_EQ(url.has_value(), row.valid) << row.why;
    if (!row.valid) return;
    EXPECT_EQ(url->absoluteString(), row.text) << row.why;
    EXPECT_EQ(url->scheme(), row.scheme) << row.why;
    EXPECT_EQ(url->host(), row.host) << row.why;
    EXPECT_EQ(url->port(), row.port) << row.why;
    EXPECT_EQ(url->path(), row.path) << row.why;
    EXPECT_EQ(url->query(), row.query) << row.why;
    EXPECT_EQ(url->fragment(), row.fragment) << row.why;
}

INSTANTIATE_TEST_SUITE_P(Rows, URLParseTest, ::testing::ValuesIn(kParseRows));

// Absolute text, validity and the parts are in the table above.
TEST(URLTest, OpaqueFormsSchemeCaseAndResourceSpecifier) {
    auto cmd = URL::parse("mvcmd:%7B%22ver%22%3A%222.0%22%7D");
    ASSERT_TRUE(cmd);
    EXPECT_EQ(cmd->resourceSpecifier(), "%7B%22ver%22%3A%222.0%22%7D");
    EXPECT_TRUE(cmd->isOpaque());

    auto page = URL::parse("MvApi:Home");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->schemeLowercased(), "mvapi");
    EXPECT_EQ(page->resourceSpecifier(), "Home");

    auto url = URL::parse("http://h:1/p?q#f");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->resourceSpecifier(), "//h:1/p?q#f");
    EXPECT_EQ(url->authority(), "h:1");
    EXPECT_EQ(url->stringWithoutFragment(), "http://h:1/p?q");
    EXPECT_FALSE(url->isOpaque());
}

struct PathRow {
    const char* text;
    const char* last;
    const char* extension;
};

TEST(URLTest, LastPathComponentAndExtension) {
    const PathRow rows[] = {
        {"http://h/a/b.html", "b.html", "html"},
        {"http://h/a/b.tar.gz", "b.tar.gz", "gz"},
        {"http://h/a/dir/", "dir", ""},
        {"http://h/", "/", ""},
        {"http://h", "", ""},
        {"http://h/.hidden", ".hidden", ""},  // a leading dot starts no extension
        {"http://h/a.", "a.", ""},
        {"file:///tmp/x%20y.png?v=1", "x%20y.png", "png"},  // escapes kept, query ignored
    };
    for (const auto& row : rows) {
        auto url = URL::parse(row.text);
        ASSERT_TRUE(url) << row.text;
        EXPECT_EQ(url->lastPathComponent(), row.last) << row.text;
        EXPECT_EQ(url->pathExtension(), row.extension) << row.text;
    }
}

TEST(URLTest, FileURLAndEquality) {
    EXPECT_TRUE(URL::parse("FILE:///x")->isFileURL());
    EXPECT_FALSE(URL::parse("http://h/x")->isFileURL());
    EXPECT_EQ(*URL::parse("http://h/x"), *URL::parse("http://h/x"));
    // No normalisation: these are different texts and so different URLs.
    EXPECT_NE(*URL::parse("http://h/x"), *URL::parse("HTTP://h/x"));
    EXPECT_NE(*URL::parse("http://h/%7e"), *URL::parse("http://h/~"));
}

struct ResolveRow {
    const char* relative;
    const char* expected;  // null: no URL
};

// The examples of RFC 3986, section 5.4, against its base.
TEST(URLTest, ResolvesAgainstBase) {
    auto base = URL::parse("http://a/b/c/d;p?q");
    ASSERT_TRUE(base);
    const ResolveRow rows[] = {
        {"g:h", "g:h"},
        {"g", "http://a/b/c/g"},
        {"./g", "http://a/b/c/g"},
        {"g/", "http://a/b/c/g/"},
        {"/g", "http://a/g"},
        {"//g", "http://g"},
        {"?y", "http://a/b/c/d;p?y"},
        {"g?y", "http://a/b/c/g?y"},
        {"#s", "http://a/b/c/d;p?q#s"},
        {"g?y#s", "http://a/b/c/g?y#s"},
        {";x", "http://a/b/c/;x"},
        {"", "http://a/b/c/d;p?q"},
        {".", "http://a/b/c/"},
        {"./", "http://a/b/c/"},
        {"..", "http://a/b/"},
        {"../g", "http://a/b/g"},
        {"../..", "http://a/"},
        {"../../g", "http://a/g"},
        {"../../../g", "http://a/g"},
        {"/./g", "http://a/g"},
        {"/../g", "http://a/g"},
        {"g.", "http://a/b/c/g."},
        {"..g", "http://a/b/c/..g"},
        {"./g/.", "http://a/b/c/g/"},
        {"g/../h", "http://a/b/c/h"},
        {"g;x=1/../y", "http://a/b/c/y"},
        {"g#s/../x", "http://a/b/c/g#s/../x"},
        {"http:g", "http:g"},  // strict: a scheme makes the reference absolute
        {"mvcmd:%7B%7D", "mvcmd:%7B%7D"},
        {"a b", nullptr},
    };
    for (const auto& row : rows) {
        auto resolved = URL::resolve(row.relative, *base);
        if (!row.expected) {
            EXPECT_FALSE(resolved) << row.relative;
            continue;
        }
        ASSERT_TRUE(resolved) << row.relative;
        EXPECT_EQ(resolved->absoluteString(), row.expected) << row.relative;
    }
}

TEST(URLTest, ResolvesAgainstBaseWithoutPath) {
    auto base = URL::parse("http://h:8080");
    ASSERT_TRUE(base);
    EXPECT_EQ(URL::resolve("next", *base)->absoluteString(), "http://h:8080/next");
    auto resolved = URL::resolve("/x?y", *base);
    EXPECT_EQ(resolved->host(), "h");
    EXPECT_EQ(resolved->port(), 8080);
}

}  // namespace
