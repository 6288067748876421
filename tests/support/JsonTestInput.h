#pragma once
// JSON written in a test, read through the value helpers like every other input.
//
//   auto value = parsedJson(R"({"cmds":[1]})");

#include <gtest/gtest.h>

#include <string_view>

#include "platform/foundation/JsonValue.h"

inline nlohmann::json parsedJson(std::string_view text) {
    auto result = platform::json::parse(text);
    EXPECT_TRUE(result.ok()) << text;
    return result.value;
}
