#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/foundation/URL.h"

using platform::URL;

namespace {

struct ParseRow {
    const char* text;
    const char* scheme;
    const char* host;
    std::optional<int> port;
    const char* path;
    std::optional<std::string> query;
    std::optional<std::string> fragment;
};

TEST(URLTest, ParsesValidFormsKeepingTheirText) {
    const ParseRow rows[] = {
        {"http://h.example/a/b.html?x=1#top", "http", "h.example", {}, "/a/b.html", "x=1", "top"},
        {"HTTPS://Shop.Example:8443/", "HTTPS", "Shop.Example", 8443, "/", {}, {}},  // case kept
        {"mvcmd:%7B%22v%22%7D", "mvcmd", "", {}, "%7B%22v%22%7D", {}, {}},  // opaque command
        {"mvapi:home", "mvapi", "", {}, "home", {}, {}},                    // opaque page id
        {"mvapi:", "mvapi", "", {}, "", {}, {}},
        {"file:///tmp/a%20b.txt", "file", "", {}, "/tmp/a%20b.txt", {}, {}},  // escape kept
        {"http://[::1]:8080/x", "http", "::1", 8080, "/x", {}, {}},
        {"http://user:pw@h/", "http", "h", {}, "/", {}, {}},
        {"http://h:/p", "http", "h", {}, "/p", {}, {}},  // empty port means none
        {"http://h?", "http", "h", {}, "", "", {}},      // empty query is kept
        {"http://h/#", "http", "h", {}, "/", {}, ""},    // empty fragment is kept
        {"/relative/path?q", "", "", {}, "/relative/path", "q", {}},
        {"a/b:c", "", "", {}, "a/b:c", {}, {}},  // colon after the first segment
        {"//cdn.example/lib.js", "", "cdn.example", {}, "/lib.js", {}, {}},
        {"http://h/a?b=c?d/e", "http", "h", {}, "/a", "b=c?d/e", {}},  // ? and / in the query
        {"http://h/p;a=1,2@x:y", "http", "h", {}, "/p;a=1,2@x:y", {}, {}},
        {"http://", "http", "", {}, "", {}, {}},  // doubtful: empty host is still a URL
        {"mailto:a@b.example?subject=x", "mailto", "", {}, "a@b.example", "subject=x", {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        auto url = URL::parse(row.text);
        ASSERT_TRUE(url);
        EXPECT_EQ(url->absoluteString(), row.text);
        EXPECT_EQ(url->scheme(), row.scheme);
        EXPECT_EQ(url->host(), row.host);
        EXPECT_EQ(url->port(), row.port);
        EXPECT_EQ(url->path(), row.path);
        EXPECT_EQ(url->query(), row.query);
        EXPECT_EQ(url->fragment(), row.fragment);
    }
}

TEST(URLTest, RefusesInvalidText) {
    const char* rows[] = {
        "",
        "mvapi:a b",                // space
        "http://h/a b",             // space in path
        "mvcmd:{\"ver\":\"2.0\"}",  // braces and quotes unescaped
        "http://h/%zz",             // bad escape
        "http://h/%4",              // truncated escape
        "http://h/a#b#c",           // second #
        "http://h/a|b",
        "http://h/a\\b",
        "http://h/\xc3\xa9",  // non-ASCII byte
        "http://h/a\nb",      // control character
        "http://h:80a/",      // port not numeric
        "http://h:65536/",    // port out of range
        "http://a:b:c/",      // two colons in a reg-name authority
        "http://[zz::1]/",    // IPv6 literal with non-hex
        "http://[::1/",       // unclosed IPv6 literal
        "1http://h/",         // scheme starting with a digit
        ":foo",               // empty scheme
        "http://h/a[1]",      // doubtful: brackets outside the host
        "http://h/?a[]=1",    // doubtful: brackets in the query
    };
    for (const char* text : rows) EXPECT_FALSE(URL::parse(text)) << text;
}

// Absolute text, validity and the parts are in the table above.
TEST(URLTest, OpaqueFormsSchemeCaseAndResourceSpecifier) {
    auto cmd = URL::parse("mvcmd:%7B%22ver%22%3A%222.0%22%7D");
    ASSERT_TRUE(cmd);
    EXPECT_EQ(cmd->absoluteString(), "mvcmd:%7B%22ver%22%3A%222.0%22%7D");
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
