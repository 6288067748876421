#include "libmerovane/core/DictionaryValidation.h"

#include <fmt/format.h>

#include "platform/foundation/JsonValue.h"

namespace {

// Each fault line; lines are joined by "\n".
constexpr const char* kMustBeOfType = "{} must be of type {}";
constexpr const char* kIsMissing = "{} is missing";
constexpr const char* kMustBeNonEmptyArray =
    "{} must be of type {} and contain at least one element";

void append(std::string* log, const std::string& line) {
    if (!log) return;
    if (!log->empty()) *log += '\n';
    *log += line;
}

bool isKindOfClass(const nlohmann::json& value, MVSpecClass cls) {
    switch (cls) {
        case MVSpecClass::NSString:
        case MVSpecClass::NSMutableString:
            return value.is_string();
        case MVSpecClass::NSNumber:
            return value.is_number() || value.is_boolean();
        case MVSpecClass::NSDictionary:
        case MVSpecClass::NSMutableDictionary:
            return value.is_object();
        case MVSpecClass::NSArray:
        case MVSpecClass::NSMutableArray:
            return value.is_array();
    }
    return false;
}

}  // namespace

bool isValidBySpecification(const nlohmann::json& dictionary, const MVSpec& specification) {
    return validateNode(dictionary, specification, std::string(), nullptr);
}

bool isValidBySpecification(const nlohmann::json& dictionary, const MVSpec& specification,
                            std::string* log) {
    return validateNode(dictionary, specification, std::string(), log);
}

bool validateNode(const nlohmann::json& value, const MVSpec& specification, const std::string& path,
                  std::string* log) {
    switch (specification.kind()) {
        case MVSpec::Kind::Class:
            if (isKindOfClass(value, specification.specClass())) return true;
            append(log,
                   fmt::format(kMustBeOfType, path, MVSpecClassName(specification.specClass())));
            return false;

        case MVSpec::Kind::Dictionary: {
            if (!value.is_object()) {
                append(log, fmt::format(kMustBeOfType, path, "NSDictionary"));
                return false;
            }
            bool valid = true;
            for (const auto& spec : specification.members()) {
                const bool optional = !spec.name.empty() && spec.name.front() == '+';
                const std::string name = optional ? spec.name.substr(1) : spec.name;
                const std::string memberPath = path + "/" + name;
                const nlohmann::json* member = platform::json::find(value, name);
                if (!member) {
                    if (!optional) {
                        append(log, fmt::format(kIsMissing, memberPath));
                        valid = false;
                    }
                    continue;
                }
                valid = validateNode(*member, spec.spec, memberPath, log) && valid;
            }
            return valid;
        }

        case MVSpec::Kind::Array:
            if (!value.is_array() || value.empty()) {
                append(log, fmt::format(kMustBeNonEmptyArray, path, "NSArray"));
                return false;
            }
            // Element faults are reported, not counted.
            size_t index = 0;
            for (const auto& element : value)
                validateNode(element, specification.element(), fmt::format("{}[{}]", path, index++),
                             log);
            return true;
    }
    return false;
}
