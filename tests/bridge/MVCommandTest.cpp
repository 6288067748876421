#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "libmerovane/bridge/MVCommand.h"

using nlohmann::json;

namespace {

struct DictionaryCase {
    const char* input;
    std::optional<std::string> name;  // none: no command
    const char* parameters;           // nullptr: none
};

class CommandWithDictionary : public ::testing::TestWithParam<DictionaryCase> {};

TEST_P(CommandWithDictionary, ReadsNameAndParameters) {
    const auto& c = GetParam();
    auto command = MVCommand::commandWithDictionary(json::parse(c.input));
    ASSERT_EQ(command.has_value(), c.name.has_value()) << c.input;
    if (!command) return;
    EXPECT_EQ(command->name(), *c.name);
    if (c.parameters) {
        ASSERT_NE(command->parameters(), nullptr);
        EXPECT_EQ(*command->parameters(), json::parse(c.parameters));
    } else {
        EXPECT_EQ(command->parameters(), nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandWithDictionary,
    ::testing::Values(
        // no "p": no parameters at all
        DictionaryCase{R"({"c":"onload"})", "onload", nullptr},
        // the page's serial is not part of the command
        DictionaryCase{R"({"c":"openPage","p":{"src":"x"},"s":3})", "openPage", R"({"src":"x"})"},
        // no name: no command
        DictionaryCase{R"({"p":{}})", std::nullopt, nullptr},
        // parameters kept as found, whatever they are; the dispatcher refuses them
        DictionaryCase{R"({"c":"x","p":"text"})", "x", R"("text")"},
        // "p": null is present, not absent
        DictionaryCase{R"({"c":"x","p":null})", "x", "null"},
        // a name that is no string never reaches a handler
        DictionaryCase{R"({"c":5,"p":{}})", std::nullopt, nullptr},
        DictionaryCase{R"({"c":null})", std::nullopt, nullptr},
        // not a dictionary at all
        DictionaryCase{R"(["c","x"])", std::nullopt, nullptr},
        DictionaryCase{R"("c")", std::nullopt, nullptr}));

}  // namespace
