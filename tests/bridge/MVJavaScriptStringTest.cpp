#include <gtest/gtest.h>

#include "libmerovane/bridge/MVJavaScriptString.h"

namespace {

TEST(MVJavaScriptStringTest, EscapesWhatWouldEndTheLiteral) {
    struct Case {
        std::string text;
        std::string content;
    } cases[] = {
        // ordinary addresses are unchanged
        {"https://shop.example/a/b?x=1&y=%20#top", "https://shop.example/a/b?x=1&y=%20#top"},
        {"mvapi:home", "mvapi:home"},
        {"https://shop.example/ü", "https://shop.example/ü"},
        // a quote ends the literal and lets the rest run as script
        {R"(x";alert(1);")", R"(x\";alert(1);\")"},
        {"x';alert(1);'", R"(x\';alert(1);\')"},
        // a trailing backslash swallows the closing quote
        {"x\\", R"(x\\)"},
        // line breaks and other controls
        {"a\nb\rc\td", R"(a\nb\rc\td)"},
        {std::string("a\0b", 3), R"(a\x00b)"},
        {"a\x1f", R"(a\x1f)"},
        // the line separators that end literals in older engines
        {"a\u2028b\u2029c", R"(a\u2028b\u2029c)"},
    };
    for (const auto& c : cases) EXPECT_EQ(javaScriptStringContent(c.text), c.content) << c.text;
}

}  // namespace
