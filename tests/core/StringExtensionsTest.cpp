#include <gtest/gtest.h>

#include "libmerovane/core/StringExtensions.h"

TEST(StringExtensionsTest, UrlEncodingEscapesAllButUnreservedCharacters) {
    struct Row {
        std::string in, out;
    } rows[] = {
        {"a b+c/d", "a%20b%2Bc%2Fd"},
        {"AZaz09-._~", "AZaz09-._~"},
        {"!*'\"();:@&=+$,/?%#[]", "%21%2A%27%22%28%29%3B%3A%40%26%3D%2B%24%2C%2F%3F%25%23%5B%5D"},
        {"<>\\^`{|}", "%3C%3E%5C%5E%60%7B%7C%7D"},  // never legal in a URL
        {"\n\t", "%0A%09"},
        {"\xC3\xA9", "%C3%A9"},  // é as UTF-8
        {std::string("a\0b", 3), "a%00b"},
        {"", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.in);
        EXPECT_EQ(urlEncodedString(row.in), row.out);
    }
}

TEST(StringExtensionsTest, UrlDecodingAnswersNoneForBadEscapesOrBadUtf8) {
    struct Row {
        const char* in;
        std::optional<std::string> out;
    } rows[] = {
        {"a+b%2Bc", "a b+c"},
        {"%C3%A9t%c3%a9", "\xC3\xA9t\xC3\xA9"},  // either case of hex digits
        {"100%25", "100%"},
        {"plain", "plain"},
        {"", ""},
        {"%zz", std::nullopt},           // not hexadecimal
        {"abc%2", std::nullopt},         // cut short
        {"abc%", std::nullopt},          // cut short
        {"%FF", std::nullopt},           // not UTF-8
        {"%C3", std::nullopt},           // truncated sequence
        {"%C0%AF", std::nullopt},        // overlong "/"
        {"%ED%A0%80", std::nullopt},     // surrogate
        {"%F4%90%80%80", std::nullopt},  // past U+10FFFF
        {"\xFF", std::nullopt},          // raw invalid byte
        {"%F0%9F%98%80", "\xF0\x9F\x98\x80"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.in);
        EXPECT_EQ(urlDecodedString(row.in), row.out);
    }
}

TEST(StringExtensionsTest, UrlDecodingUndoesEncoding) {
    const std::string texts[] = {"a b+c/d", "{\"ver\":\"2.0\",\"cmds\":[]}",
                                 "\xE2\x82\xAC 5 & more?"};
    for (const auto& text : texts) EXPECT_EQ(urlDecodedString(urlEncodedString(text)), text);
}

TEST(StringExtensionsTest, Md5IsUpperCaseHexOfTheBytesBeforeTheFirstZero) {
    EXPECT_EQ(md5EncodedString(""), "D41D8CD98F00B204E9800998ECF8427E");
    EXPECT_EQ(md5EncodedString("abc"), "900150983CD24FB0D6963F7D28E17F72");
    EXPECT_EQ(md5EncodedString(std::string("abc\0def", 7)), "900150983CD24FB0D6963F7D28E17F72");
}

TEST(StringExtensionsTest, TrimmingRemovesUnicodeWhiteSpaceAndLineBreaks) {
    struct Row {
        std::string in, out;
    } rows[] = {
        {"  a b \t\r\n", "a b"},
        {"\xC2\xA0x\xE3\x80\x80", "x"},      // no-break space, ideographic space
        {"\xE2\x80\xA8x\xC2\x85", "x"},      // line separator, next line
        {"\xC3\xA9", "\xC3\xA9"},            // é is no space
        {" \xE2\x80\x8B ", "\xE2\x80\x8B"},  // zero-width space is not white space
        {"   ", ""},
        {"", ""},
        {" \xFF ", "\xFF"},  // invalid bytes are kept, not read past
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.in);
        EXPECT_EQ(trimmedString(row.in), row.out);
    }
}
