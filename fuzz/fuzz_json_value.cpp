// Arbitrary bytes through the value helpers: parse, print, reparse and the typed reads
// must never throw or crash, what parses prints back to the same value, and the compact
// print is the JSON library's own text byte for byte.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/foundation/JsonValue.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto result = platform::json::parse(text);

    // Bytes that are not JSON still make a string value; printing it must not throw.
    nlohmann::json raw = std::string(text);
    const auto library = [](const nlohmann::json& v) {
        return v.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    };
    if (platform::json::print(raw) != library(raw)) std::abort();
    (void)platform::json::doubleValue(raw);
    (void)platform::json::integerValue(raw);
    (void)platform::json::boolValue(raw);

    if (!result.ok()) return 0;
    std::string printed = platform::json::print(result.value);
    if (printed != library(result.value)) std::abort();
    auto again = platform::json::parse(printed);
    // NaN never parses from text, so equality holds for every parsed value.
    if (!again.ok() || again.value != result.value) std::abort();
    (void)platform::json::print(result.value, true);
    if (result.value.is_object())
        for (const auto& [key, value] : result.value.items()) {
            (void)platform::json::doubleValue(result.value, key);
            (void)platform::json::stringValue(value);
        }
    return 0;
}
