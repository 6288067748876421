// Arbitrary JSON and specifications through the validator, null stripping, log
// listings and URL decoding: none may crash, and their answers must agree.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "libmerovane/core/ArrayExtensions.h"
#include "libmerovane/core/DictionaryExtensions.h"
#include "libmerovane/core/DictionaryValidation.h"
#include "libmerovane/core/StringExtensions.h"
#include "platform/foundation/JsonValue.h"

using nlohmann::json;

namespace {

constexpr int kMaxSpecDepth = 6;

MVSpec specFromBytes(FuzzedDataProvider& in, int depth) {
    const int kind = depth >= kMaxSpecDepth ? 0 : in.ConsumeIntegralInRange(0, 2);
    if (kind == 0) return static_cast<MVSpecClass>(in.ConsumeIntegralInRange(0, 6));
    if (kind == 1) return MVSpec::arrayOf(specFromBytes(in, depth + 1));
    std::vector<MVSpec::Member> members;
    const int count = in.ConsumeIntegralInRange(0, 4);
    for (int i = 0; i < count; ++i) {
        std::string name = in.ConsumeRandomLengthString(8);
        members.push_back({std::move(name), specFromBytes(in, depth + 1)});
    }
    return MVSpec::dictionary(std::move(members));
}

// A specification shaped like the value, so that checks reach deep members.
MVSpec specFromValue(const json& value, FuzzedDataProvider& in, int depth) {
    if (depth >= kMaxSpecDepth) return static_cast<MVSpecClass>(in.ConsumeIntegralInRange(0, 6));
    if (value.is_object()) {
        std::vector<MVSpec::Member> members;
        for (auto it = value.begin(); it != value.end(); ++it) {
            std::string name = in.ConsumeBool() ? "+" + it.key() : it.key();
            members.push_back({std::move(name), specFromValue(it.value(), in, depth + 1)});
        }
        if (in.ConsumeBool()) members.push_back({"missing", MVSpec::NSString});
        return MVSpec::dictionary(std::move(members));
    }
    if (value.is_array())
        return MVSpec::arrayOf(value.empty() ? MVSpec(MVSpec::NSNumber)
                                             : specFromValue(value.front(), in, depth + 1));
    if (value.is_string()) return MVSpec::NSString;
    if (value.is_number() || value.is_boolean()) return MVSpec::NSNumber;
    return static_cast<MVSpecClass>(in.ConsumeIntegralInRange(0, 6));
}

bool holdsNull(const json& value) {
    std::vector<const json*> pending{&value};
    while (!pending.empty()) {
        const json* node = pending.back();
        pending.pop_back();
        if (node->is_null()) return true;
        if (node->is_structured())
            for (const auto& child : *node) pending.push_back(&child);
    }
    return false;
}

void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    MVSpec fromBytes = specFromBytes(in, 0);
    const std::string text = in.ConsumeRemainingBytesAsString();
    const auto parsed = platform::json::parse(text);

    if (auto decoded = urlDecodedString(text))
        check(urlDecodedString(urlEncodedString(*decoded)) == decoded);
    if (!parsed.ok()) return 0;
    const json& value = parsed.value;

    FuzzedDataProvider shaping(data, size);
    const MVSpec specs[] = {fromBytes, specFromValue(value, shaping, 0), MVSpec()};
    for (const auto& spec : specs) {
        std::string log;
        const bool valid = isValidBySpecification(value, spec, &log);
        check(valid == isValidBySpecification(value, spec));
        check(!log.empty() || valid);  // every no names its fault
        check(log.empty() || (log.front() != '\n' && log.back() != '\n'));
    }

    json stripped = dictionaryStrippedOfNullObjects(value);
    check(!holdsNull(stripped) || value.is_null());
    json inPlace = value;
    check(stripNullObjects(inPlace) == stripped);
    allKeyNamesAndValues(stripped);
    allValuesAsStrings(stripped);
    return 0;
}
