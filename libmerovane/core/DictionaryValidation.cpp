#include "libmerovane/core/DictionaryValidation.h"

#include <fmt/format.h>

#include <algorithm>

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

bool validate(const nlohmann::json& value, const MVSpec& specification, const std::string& path,
              std::string* log, bool skipNulls);

}  // namespace

bool isValidBySpecification(const nlohmann::json& dictionary, const MVSpec& specification) {
    return validateNode(dictionary, specification, std::string(), nullptr);
}

bool isValidBySpecification(const nlohmann::json& dictionary, const MVSpec& specification,
                            std::string* log) {
    return validateNode(dictionary, specification, std::string(), log);
}

namespace {

bool validate(const nlohmann::json& value, const MVSpec& specification, const std::string& path,
              std::string* log, bool skipNulls) {
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
                if (member && skipNulls && member->is_null()) member = nullptr;
                if (!member) {
                    if (!optional) {
                        append(log, fmt::format(kIsMissing, memberPath));
                        valid = false;
                    }
                    continue;
                }
                valid = validate(*member, spec.spec, memberPath, log, skipNulls) && valid;
            }
            return valid;
        }

        case MVSpec::Kind::Array:
            const auto isKept = [skipNulls](const nlohmann::json& e) {
                return !skipNulls || !e.is_null();
            };
            if (!value.is_array() || std::none_of(value.begin(), value.end(), isKept)) {
                append(log, fmt::format(kMustBeNonEmptyArray, path, "NSArray"));
                return false;
            }
            // Element faults are reported, not counted.
            size_t index = 0;
            for (const auto& element : value)
                if (isKept(element))
                    validate(element, specification.element(), fmt::format("{}[{}]", path, index++),
                             log, skipNulls);
            return true;
    }
    return false;
}

}  // namespace

bool validateNode(const nlohmann::json& value, const MVSpec& specification, const std::string& path,
                  std::string* log) {
    return validate(value, specification, path, log, false);
}

bool isValidBySpecificationIgnoringNulls(const nlohmann::json& dictionary,
                                         const MVSpec& specification, std::string* log) {
    return validate(dictionary, specification, std::string(), log, true);
}
