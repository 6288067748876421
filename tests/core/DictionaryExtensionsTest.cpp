#include <gtest/gtest.h>

#include "libmerovane/core/ArrayExtensions.h"
#include "libmerovane/core/DictionaryExtensions.h"
#include "libmerovane/core/JSONLogDescription.h"
#include "platform/foundation/UserDefaults.h"
#include "tests/support/JsonTestInput.h"
#include "tests/support/TempDir.h"

using nlohmann::json;

namespace {
// Listings read the user defaults: they live in a fresh folder.
class DictionaryListingTest : public ::testing::Test {
  protected:
    TempDir home_;
};
}  // namespace

// The copying form leaves its argument; the in-place form changes it.
TEST(DictionaryExtensionsTest, StrippingRemovesNullsAtEveryDepthAndKeepsEverythingElse) {
    struct Row {
        const char* in;
        const char* out;
    } rows[] = {
        {R"({"a":null,"b":{"c":null,"d":1},"e":[null,2]})", R"({"b":{"d":1},"e":[2]})"},
        {R"({})", R"({})"},
        {R"({"s":"","z":0,"f":false,"x":[],"y":{}})", R"({"s":"","z":0,"f":false,"x":[],"y":{}})"},
        {R"({"a":[[null],{"b":[null,{"c":null}]}]})", R"({"a":[[],{"b":[{}]}]})"},
        {R"({"a":[null,null,3,null,4]})", R"({"a":[3,4]})"},
        {R"([null,{"a":null}])", R"([{}])"},
        {R"(null)", R"(null)"},
        {R"("text")", R"("text")"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.in);
        json value = parsedJson(row.in);
        EXPECT_EQ(dictionaryStrippedOfNullObjects(value), parsedJson(row.out));
        EXPECT_EQ(value, parsedJson(row.in));
        EXPECT_EQ(stripNullObjects(value), parsedJson(row.out));
        EXPECT_EQ(value, parsedJson(row.out));
    }
}

TEST(DictionaryExtensionsTest, DeeplyNestedInputDoesNotExhaustTheStack) {
    // Built and destroyed without recursion; a recursive walk would overflow here.
    json deep = json::array();
    json* inner = &deep;
    for (int i = 0; i < 200000; ++i) {
        inner->push_back(nullptr);
        inner->push_back(json::array());
        inner = &inner->back();
    }
    json stripped = dictionaryStrippedOfNullObjects(deep);
    stripNullObjects(deep);
    size_t depth = 0;
    for (const json* p = &stripped; p->is_array() && !p->empty(); p = &p->front()) {
        ASSERT_EQ(p->size(), 1u);
        ++depth;
    }
    EXPECT_EQ(depth, 200000u);
}

TEST_F(DictionaryListingTest, KeyNamesAndBriefValuesOfDictionariesAndArrays) {
    const json dictionary =
        parsedJson(R"({"a":{"x":1},"b":[1,2],"c":"short","d":3,"e":true,"f":1.5,"g":null})");
    EXPECT_EQ(allKeyNames(dictionary), "a, b, c, d, e, f, g");
    EXPECT_EQ(allKeyNamesAndValues(dictionary),
              "a = [dictionary], b = [array], c = \"short\", d = 3, e = 1, f = 1.5, g = <null>");
    EXPECT_EQ(allKeyNames(json::object()), "");
    EXPECT_EQ(allKeyNamesAndValues(json::object()), "");
    EXPECT_EQ(allValuesAsStrings(parsedJson(R"([{"a":1},[2],"s",4,false])")),
              "[dictionary], [array], \"s\", 4, 0");
    EXPECT_EQ(allValuesAsStrings(json::array()), "");
    EXPECT_EQ(allValuesAsStrings(json::binary({1, 2, 3, 4, 0xAB})), "");
    EXPECT_EQ(jsonLogDescription(json::binary({1, 2, 3, 4, 0xAB}), false), "<01020304 ab>");
}

TEST_F(DictionaryListingTest, LongStringsShowTheirLengthInUtf16Units) {
    EXPECT_EQ(allKeyNamesAndValues(json{{"s", std::string(255, 'x')}}),
              "s = \"" + std::string(255, 'x') + "\"");
    EXPECT_EQ(allKeyNamesAndValues(json{{"s", std::string(256, 'x')}}), "s = [string:256]");
    // 128 two-unit characters (U+1F600) count 256; 200 two-byte ones count 200.
    std::string emoji;
    for (int i = 0; i < 128; ++i) emoji += "\xF0\x9F\x98\x80";
    EXPECT_EQ(allKeyNamesAndValues(json{{"s", emoji}}), "s = [string:256]");
    std::string accented;
    for (int i = 0; i < 200; ++i) accented += "\xC3\xA9";
    EXPECT_EQ(allKeyNamesAndValues(json{{"s", accented}}), "s = \"" + accented + "\"");
}

TEST_F(DictionaryListingTest, DetailedJSONListsNestedContentsInFull) {
    const json dictionary =
        parsedJson(R"({"a":{"x":1,"y":{"z":"q"}},"b":[1,{"y":"s"},[2,[]]],"c":"t"})");
    const std::string brief = "a = [dictionary], b = [array], c = \"t\"";
    EXPECT_EQ(allKeyNamesAndValues(dictionary), brief);
    platform::UserDefaults::standard().setObject(kDetailedJSONDefaultsKey, true);
    EXPECT_EQ(allKeyNamesAndValues(dictionary),
              "a = {x = 1, y = {z = q}}, b = [1, { y = s}, [ 2, [  ] ]], c = t");
    EXPECT_EQ(allValuesAsStrings(parsedJson(R"([{"k":[]},"x"])")), "{ k = []}, x");
    EXPECT_EQ(allKeyNamesAndValues(json{{"html", std::string(300, 'x')}}),
              "html = " + std::string(300, 'x'));
    // Read on every call: switching it off takes effect at once.
    platform::UserDefaults::standard().setObject(kDetailedJSONDefaultsKey, "NO");
    EXPECT_EQ(allKeyNamesAndValues(dictionary), brief);
}
