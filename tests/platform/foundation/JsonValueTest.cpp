#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "platform/foundation/JsonValue.h"
#include "tests/support/PlatformTest.h"

namespace json = platform::json;
using json::ParseStatus;
using nlohmann::json_literals::operator""_json;

TEST(JsonValueTest, ParseTellsIncompleteFromMalformed) {
    struct Row {
        const char* text;
        ParseStatus status;
    };
    const Row rows[] = {
        {R"({"a": [1, 2.5, "x", null, true]})", ParseStatus::Ok},
        {" 42 ", ParseStatus::Ok},  // any value at the top
        {"", ParseStatus::Incomplete},
        {"  \n", ParseStatus::Incomplete},
        {"{", ParseStatus::Incomplete},
        {R"({"cmds": [{"c": "boot)", ParseStatus::Incomplete},  // cut inside a string
        {R"({"a":)", ParseStatus::Incomplete},
        {"[1,", ParseStatus::Incomplete},
        {"tru", ParseStatus::Incomplete},
        {"-", ParseStatus::Incomplete},
        {"1e", ParseStatus::Incomplete},
        {"\"\\u12", ParseStatus::Incomplete},  // cut inside an escape
        {"\"\xC3", ParseStatus::Incomplete},   // cut inside a UTF-8 sequence
        {"{]", ParseStatus::Malformed},
        {"[1,]", ParseStatus::Malformed},
        {"{} x", ParseStatus::Malformed},  // trailing garbage
        {"{}{", ParseStatus::Malformed},
        {"[1 2", ParseStatus::Malformed},
        {"tru!", ParseStatus::Malformed},
        {"\"\xC3\x28\"", ParseStatus::Malformed},  // invalid UTF-8
        {"\"a\x01\"", ParseStatus::Malformed},     // raw control character
        {"[1e999]", ParseStatus::Malformed},       // overflows a double
    };
    for (const auto& row : rows) {
        auto r = json::parse(row.text);
        EXPECT_EQ(r.status, row.status) << row.text;
        EXPECT_EQ(r.ok(), row.status == ParseStatus::Ok) << row.text;
        EXPECT_EQ(r.error.empty(), row.status == ParseStatus::Ok) << row.text << ": " << r.error;
        if (!r.ok()) {
            EXPECT_TRUE(r.value.is_null()) << row.text;
        }
    }
    EXPECT_EQ(json::parse(std::string_view("{}\0", 3)).status, ParseStatus::Malformed);
}

TEST(JsonValueTest, ParseKeepsValuesAndLastDuplicateKey) {
    auto r = json::parse(R"({"a": {"b": [1, -2, 18446744073709551615, 0.5]}, "k": 1, "k": 2})");
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.value, R"({"a": {"b": [1, -2, 18446744073709551615, 0.5]}, "k": 2})"_json);
}

TEST(JsonValueTest, DeepNestingIsMalformedNotACrash) {
    std::string deep(100000, '[');
    auto r = json::parse(deep);
    EXPECT_EQ(r.status, ParseStatus::Malformed);
    std::string ok =
        std::string(json::kMaxParseDepth, '[') + std::string(json::kMaxParseDepth, ']');
    EXPECT_TRUE(json::parse(ok).ok());
    // MessagePack: arrays of one (0x91) around nil (0xc0), and a truncated map.
    const std::string packed = std::string(json::kMaxParseDepth, '\x91') + '\xc0';
    const std::string nested =
        std::string(json::kMaxParseDepth, '[') + "null" + std::string(json::kMaxParseDepth, ']');
    EXPECT_EQ(json::parseMessagePack(packed).value, json::parse(nested).value);
    EXPECT_FALSE(json::parseMessagePack('\x91' + packed).ok());
    EXPECT_FALSE(json::parseMessagePack(std::string(100000, '\x91')).ok());
    EXPECT_FALSE(json::parseMessagePack("\x81\xa1k").ok());
    EXPECT_EQ(json::parseMessagePack("\x81\xa1k\x07").value, (nlohmann::json{{"k", 7}}));
}

class JsonPrintTest : public PlatformTest {};

TEST_F(JsonPrintTest, ValuesBuiltDeeperThanTheParseLimitPrintAsNull) {
    auto nested = [](size_t levels) {
        nlohmann::json root = nlohmann::json::array();
        nlohmann::json* inner = &root;
        for (size_t i = 1; i < levels; ++i) inner = &inner->emplace_back(nlohmann::json::array());
        return root;
    };
    const size_t limit = json::kMaxParseDepth;
    // the deepest value a parse gives still prints
    EXPECT_EQ(json::print(nested(limit)), std::string(limit, '[') + std::string(limit, ']'));
    EXPECT_EQ(json::print(nested(limit + 1)), "null");
    EXPECT_EQ(json::print(nested(20'000)), "null");
    EXPECT_EQ(loggedCount("JSON value nested deeper than 512 levels printed as null"), 2u);
    EXPECT_EQ(json::print(json::floatNumber(0.0125f)), "0.0125");
}

TEST(JsonValueTest, PrintNeverThrows) {
    nlohmann::json v = {{"bad", std::string("a\xFF"
                                            "b")},
                        {"n", std::nan("")}};
    std::string text;
    ASSERT_NO_THROW(text = json::print(v));
    EXPECT_EQ(text,
              "{\"bad\":\"a\xEF\xBF\xBD"
              "b\",\"n\":null}");
    EXPECT_EQ(json::print(R"({"a":[1,2]})"_json, true), "{\n  \"a\": [\n    1,\n    2\n  ]\n}");
    // Bytes print as Base64, so logging a value with data never fails.
    nlohmann::json data = {{"d", nlohmann::json::binary({'H', 'i', '!', '?'})}};
    EXPECT_EQ(json::print(data), R"({"d":"SGkhPw=="})");
    EXPECT_TRUE(data["d"].is_binary());  // the value itself is untouched
}

TEST(JsonValueTest, CompactPrintIsTheLibrarysTextByteForByte) {
    auto library = [](const nlohmann::json& v) {
        return v.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    };
    // Escapes, every UTF-8 length, each way a sequence can be ill-formed, and runs on
    // both sides of the 16-byte blocks.
    std::vector<std::string> texts = {"",
                                      "plain",
                                      "\"\\\b\f\n\r\t\x01\x1f\x7f",
                                      std::string("nul\0in", 6),
                                      "\xC3\xA9\xE2\x98\x83\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF",
                                      "\xC0\xAF\xC1\xBF\x80\xBF\xF5\xFF",
                                      "\xE0\x80\xAF\xE0\xA0",
                                      "\xED\xA0\x80\xED\x9F\xBF",
                                      "\xF0\x8F\xBF\xBF\xF4\x90\x80\x80",
                                      "\xE2\x98",
                                      "\xF0\x9F\x98",
                                      "\xC3",
                                      "a\xE2\x98"
                                      "b",
                                      std::string(15, 'x') + "\xC3\xA9\"",
                                      std::string(16, 'y') + "\\" + std::string(33, 'z') + "\xE2"};
    std::mt19937 random(11);
    for (int i = 0; i < 300; ++i) {
        std::string t(random() % 80, ' ');
        for (auto& c : t) c = static_cast<char>(i % 2 ? random() % 256 : 0x70 + random() % 0x20);
        texts.push_back(t);
    }
    for (const auto& t : texts) {
        EXPECT_EQ(json::print(t), library(t)) << ::testing::PrintToString(t);
        std::string appended = "x";
        json::appendString(appended, t);  // after what is there
        EXPECT_EQ(appended.substr(1), library(t));
    }
    const auto values = R"([{"b": [true, false, null], "a": {}, "c": [], "i": -9223372036854775808,
        "u": 18446744073709551615, "f": [1.0, -0.0, 0.1, 1e300, 5e-324, 123456789.125]}, 0, "s"])"_json;
    for (const auto& v : values) EXPECT_EQ(json::print(v), library(v));
    EXPECT_EQ(json::print(values), library(values));
}

TEST(JsonValueTest, PrintAndParseRoundTrip) {
    auto v =
        R"({"s": "mvcmd:{\"ver\":\"2.0\"}", "u": "\u00e9\u2603", "a": [[], {}], "f": 1.25})"_json;
    auto r = json::parse(json::print(v));
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.value, v);
}

TEST(JsonValueTest, DoubleValueCoercions) {
    struct Row {
        nlohmann::json value;
        double expected;
    };
    const Row rows[] = {
        {"1", 1},        // the string "1" reads as the number 1
        {" 2.5x", 2.5},  // leading number, rest ignored
        {"-1e3", -1000},
        {"+.5", 0.5},
        {"3e", 3},  // an exponent without digits is not part of the number
        {"abc", 0},
        {"", 0},
        {"1e999", std::numeric_limits<double>::infinity()},
        {"1e-999", 0},
        {7, 7},
        {-7.25, -7.25},
        {true, 1},
        {false, 0},
        {nullptr, 0},
        {nlohmann::json::array({1}), 0},
        {nlohmann::json::object(), 0},
    };
    for (const auto& row : rows) EXPECT_EQ(json::doubleValue(row.value), row.expected) << row.value;
}

TEST(JsonValueTest, IntegerValueCoercions) {
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    struct Row {
        nlohmann::json value;
        int64_t expected;
    };
    const Row rows[] = {
        {"1", 1},
        {"42abc", 42},
        {"  -17", -17},
        {"2.5", 2},
        {"1e3", 1},  // digits only, as the platform's string integerValue
        {"x1", 0},
        {"99999999999999999999", kMax},
        {"-9223372036854775808", kMin},
        {"-99999999999999999999", kMin},
        {2.9, 2},
        {-2.9, -2},
        {1e30, kMax},
        {-1e30, kMin},
        {std::nan(""), 0},
        {18446744073709551615ull, kMax},
        {true, 1},
        {nullptr, 0},
    };
    for (const auto& row : rows)
        EXPECT_EQ(json::integerValue(row.value), row.expected) << row.value;
}

TEST(JsonValueTest, BoolValueCoercions) {
    struct Row {
        nlohmann::json value;
        bool expected;
    };
    const Row rows[] = {
        {"YES", true}, {"yes", true},    {"true", true},   {"T", true},
        {" 1", true},  {"007", true},    {"-5", true},     {"+0009", true},
        {"NO", false}, {"false", false}, {"0", false},     {"0.5", false},
        {"", false},   {"  ", false},    {"-", false},     {"x", false},
        {1, true},     {0, false},       {0.5, true},      {0.0, false},
        {true, true},  {false, false},   {nullptr, false}, {nlohmann::json::array({1}), false},
    };
    for (const auto& row : rows) EXPECT_EQ(json::boolValue(row.value), row.expected) << row.value;
}

TEST(JsonValueTest, KeyedReadsAnswerZeroOrNoneWhenMissing) {
    auto obj = R"({"n": "1", "s": "text", "b": "Y", "num": 3, "null": null})"_json;
    EXPECT_EQ(json::doubleValue(obj, "n"), 1);
    EXPECT_EQ(json::integerValue(obj, "n"), 1);
    EXPECT_TRUE(json::boolValue(obj, "b"));
    EXPECT_EQ(json::stringValue(obj, "s"), "text");
    EXPECT_EQ(json::stringValue(obj, "num"), std::nullopt);  // no number-to-string coercion
    EXPECT_EQ(json::stringValue(obj, "null"), std::nullopt);

    EXPECT_EQ(json::doubleValue(obj, "missing"), 0);
    EXPECT_EQ(json::integerValue(obj, "missing"), 0);
    EXPECT_FALSE(json::boolValue(obj, "missing"));
    EXPECT_EQ(json::stringValue(obj, "missing"), std::nullopt);
    EXPECT_EQ(json::find(obj, "missing"), nullptr);
    ASSERT_NE(json::find(obj, "null"), nullptr);  // JSON null is a value, unlike a missing key
    EXPECT_TRUE(json::find(obj, "null")->is_null());

    // Not an object: every keyed read answers nothing.
    for (const auto& notObject : {"[1]"_json, "\"n\""_json, nlohmann::json()}) {
        EXPECT_EQ(json::find(notObject, "n"), nullptr);
        EXPECT_EQ(json::integerValue(notObject, "n"), 0);
        EXPECT_EQ(json::stringValue(notObject, "n"), std::nullopt);
    }
}
