#include "libmerovane/core/JSONLogDescription.h"

#include <fmt/format.h>

#include "platform/foundation/JsonValue.h"
#include "platform/foundation/UserDefaults.h"

namespace {

// Length as the platform counts string lengths: UTF-16 code units.
size_t utf16Length(const std::string& s) {
    size_t units = 0;
    for (unsigned char c : s) {
        if ((c & 0xC0) == 0x80) continue;  // continuation byte
        units += c >= 0xF0 ? 2 : 1;
    }
    return units;
}

std::string dataDescription(const nlohmann::json::binary_t& bytes) {
    std::string text = "<";
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0 && i % 4 == 0) text += ' ';
        text += fmt::format("{:02x}", bytes[i]);
    }
    return text + ">";
}

}  // namespace

bool detailedJSONLoggingEnabled() {
    return platform::UserDefaults::standard().boolForKey(kDetailedJSONDefaultsKey);
}

std::string jsonLogDescription(const nlohmann::json& value, bool detailed) {
    switch (value.type()) {
        case nlohmann::json::value_t::object:
            return "[dictionary]";
        case nlohmann::json::value_t::array:
            return "[array]";
        case nlohmann::json::value_t::string: {
            const std::string s = platform::json::stringValue(value).value_or("");
            if (detailed) return s;
            const size_t length = utf16Length(s);
            return length < 256 ? fmt::format("\"{}\"", s) : fmt::format("[string:{}]", length);
        }
        case nlohmann::json::value_t::boolean:
            return platform::json::boolValue(value) ? "1" : "0";
        case nlohmann::json::value_t::number_integer:
        case nlohmann::json::value_t::number_unsigned:
            return platform::json::print(value);
        case nlohmann::json::value_t::number_float:
            // Shortest form without ".0" on whole numbers, as numbers describe themselves.
            return fmt::format("{}", platform::json::doubleValue(value));
        case nlohmann::json::value_t::binary:
            return dataDescription(value.get_binary());
        case nlohmann::json::value_t::null:
            return "<null>";
        case nlohmann::json::value_t::discarded:
            break;
    }
    return "";
}
