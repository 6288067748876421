#include <gtest/gtest.h>

#include "libmerovane/core/DictionaryExtensions.h"
#include "libmerovane/core/DictionaryValidation.h"
#include "tests/support/JsonTestInput.h"

using nlohmann::json;

namespace {

struct Row {
    const char* what;
    MVSpec spec;
    const char* value;  // JSON text
    bool valid;
    const char* log;
};

const MVSpec kSourceAndTitle{{"src", MVSpec::NSString}, {"title", MVSpec::NSString}};
const MVSpec kCommands{{"cmds", MVSpec::arrayOf(MVSpec::NSDictionary)}};
const MVSpec kOptionalTitle{{"+title", MVSpec::NSString}};
const MVSpec kNumber{{"n", MVSpec::NSNumber}};
const MVSpec kBar{{"bar", {{"color", MVSpec::NSString}}}};
const char* const kNotNonEmptyArray =
    "/cmds must be of type NSArray and contain at least one element";

std::vector<Row> rows() {
    return {
        // Empty specification: any dictionary, nothing examined.
        {"empty spec", MVSpec(), R"({"a":null,"b":[1]})", true, ""},
        // Optional members.
        {"optional absent", kOptionalTitle, R"({})", true, ""},
        {"optional present", kOptionalTitle, R"({"title":"x"})", true, ""},
        {"optional wrong", kOptionalTitle, R"({"title":1})", false,
         "/title must be of type NSString"},
        // Required members, reported in declaration order, not alphabetical.
        {"both missing", kSourceAndTitle, R"({})", false, "/src is missing\n/title is missing"},
        {"declared order",
         {{"zeta", MVSpec::NSNumber}, {"alpha", MVSpec::NSNumber}},
         R"({})",
         false,
         "/zeta is missing\n/alpha is missing"},
        {"missing and wrong", kSourceAndTitle, R"({"src":5})", false,
         "/src must be of type NSString\n/title is missing"},
        {"unnamed members pass", kSourceAndTitle, R"({"src":"a","title":"b","x":null})", true, ""},
        // Numbers and booleans are NSNumber; nothing else is.
        {"integer", kNumber, R"({"n":3})", true, ""},
        {"boolean", kNumber, R"({"n":true})", true, ""},
        {"numeric string", kNumber, R"({"n":"1"})", false, "/n must be of type NSNumber"},
        {"null is no string",
         {{"s", MVSpec::NSString}},
         R"({"s":null})",
         false,
         "/s must be of type NSString"},
        {"mutable twin",
         {{"s", MVSpec::NSMutableString}},
         R"({"s":1})",
         false,
         "/s must be of type NSMutableString"},
        {"array class, may be empty", {{"a", MVSpec::NSArray}}, R"({"a":[]})", true, ""},
        {"dictionary class",
         {{"d", MVSpec::NSMutableDictionary}},
         R"({"d":[]})",
         false,
         "/d must be of type NSMutableDictionary"},
        // One-element arrays: non-empty, element faults logged but not counted.
        {"empty array", kCommands, R"({"cmds":[]})", false, kNotNonEmptyArray},
        {"not an array", kCommands, R"({"cmds":{}})", false, kNotNonEmptyArray},
        {"bad element still yes", kCommands, R"({"cmds":[1]})", true,
         "/cmds[0] must be of type NSDictionary"},
        {"every element checked", kCommands, R"({"cmds":[{},"x",{},2]})", true,
         "/cmds[1] must be of type NSDictionary\n/cmds[3] must be of type NSDictionary"},
        {"element members have paths",
         {{"cmds", MVSpec::arrayOf({{"c", MVSpec::NSString}})}},
         R"({"cmds":[{"c":"a"},{"c":"b"},{"p":{}}]})",
         true,
         "/cmds[2]/c is missing"},
        {"arrays of arrays",
         {{"m", MVSpec::arrayOf(MVSpec::arrayOf(MVSpec::NSNumber))}},
         R"({"m":[[1],[],["x"]]})",
         true,
         "/m[1] must be of type NSArray and contain at least one element\n/m[2][0] must be of type "
         "NSNumber"},
        // Nested dictionaries.
        {"nested wrong type", kBar, R"({"bar":1})", false, "/bar must be of type NSDictionary"},
        {"nested member fault", kBar, R"({"bar":{}})", false, "/bar/color is missing"},
        {"optional nested, path without plus",
         {{"+bar", {{"color", MVSpec::NSString}}}},
         R"({"bar":{"color":0}})",
         false,
         "/bar/color must be of type NSString"},
        {"empty nested spec wants a dictionary",
         {{"ctx", {}}},
         R"({"ctx":"x"})",
         false,
         "/ctx must be of type NSDictionary"},
        // The root itself.
        {"root not a dictionary", kSourceAndTitle, R"([1])", false,
         " must be of type NSDictionary"},
    };
}

}  // namespace

TEST(DictionaryValidationTest, AnswersAndLogsEveryFaultWithItsPath) {
    for (const auto& row : rows()) {
        SCOPED_TRACE(row.what);
        const json value = parsedJson(row.value);
        std::string log;
        EXPECT_EQ(isValidBySpecification(value, row.spec, &log), row.valid);
        EXPECT_EQ(log, row.log);
        // Without a log the answer is the same.
        EXPECT_EQ(isValidBySpecification(value, row.spec), row.valid);
    }
}

TEST(DictionaryValidationTest, IgnoringNullsAnswersAsTheStrippedCopyDoes) {
    auto check = [](const MVSpec& spec, const json& value) {
        std::string log, strippedLog;
        EXPECT_EQ(
            isValidBySpecificationIgnoringNulls(value, spec, &log),
            isValidBySpecification(dictionaryStrippedOfNullObjects(value), spec, &strippedLog))
            << value.dump();
        EXPECT_EQ(log, strippedLog) << value.dump();
    };
    for (const auto& row : rows()) check(row.spec, parsedJson(row.value));
    // Nulls standing for members, array elements (which shift the paths after them) and
    // whole arrays.
    for (const char* text :
         {R"({"src":null,"title":"t"})", R"({"cmds":[null,{},null,2]})", R"({"cmds":[null]})",
          R"({"cmds":null})", R"({"bar":{"color":null}})", R"({"title":null})", "null"})
        for (const MVSpec* spec : {&kSourceAndTitle, &kCommands, &kOptionalTitle, &kBar})
            check(*spec, parsedJson(text));
}

TEST(DictionaryValidationTest, AppendsToALogThatAlreadyHoldsText) {
    std::string log = "collection faults:";
    EXPECT_FALSE(isValidBySpecification(json::object(), kSourceAndTitle, &log));
    EXPECT_EQ(log, "collection faults:\n/src is missing\n/title is missing");
}

TEST(DictionaryValidationTest, ValidateNodeStartsAtTheGivenPath) {
    std::string log;
    EXPECT_FALSE(validateNode(json(1), MVSpec::NSString, "/cmds[4]/p", &log));
    EXPECT_EQ(log, "/cmds[4]/p must be of type NSString");
}

TEST(DictionaryValidationTest, ACopiedSpecificationOutlivesItsOriginal) {
    auto original = std::make_unique<MVSpec>(
        MVSpec::dictionary({{"+bar", {{"color", MVSpec::NSString}}},
                            {"cmds", MVSpec::arrayOf(MVSpec::NSDictionary)}}));
    const MVSpec copy = *original;
    original.reset();
    std::string log;
    EXPECT_FALSE(
        isValidBySpecification(parsedJson(R"({"bar":{"color":1},"cmds":[2]})"), copy, &log));
    EXPECT_EQ(log, "/bar/color must be of type NSString\n/cmds[0] must be of type NSDictionary");
}
