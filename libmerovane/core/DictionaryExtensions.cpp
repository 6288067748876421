#include "libmerovane/core/DictionaryExtensions.h"

#include <fmt/format.h>

#include <nlohmann/json.hpp>
#include <vector>

#include "libmerovane/core/ArrayExtensions.h"
#include "libmerovane/core/JSONLogDescription.h"

using nlohmann::json;

json dictionaryStrippedOfNullObjects(const json& dictionary) {
    json result;
    struct Job {
        const json* from;
        json* to;
    };
    std::vector<Job> jobs{{&dictionary, &result}};
    while (!jobs.empty()) {
        auto [from, to] = jobs.back();
        jobs.pop_back();
        if (from->is_object()) {
            *to = json::object();
            for (auto it = from->begin(); it != from->end(); ++it) {
                if (it->is_null()) continue;
                json& slot = (*to)[it.key()];
                if (it->is_structured())
                    jobs.push_back({&*it, &slot});
                else
                    slot = *it;
            }
        } else if (from->is_array()) {
            *to = json::array();
            auto& elements = to->get_ref<json::array_t&>();
            size_t kept = 0;
            for (const auto& e : *from) kept += e.is_null() ? 0 : 1;
            elements.reserve(kept);  // no reallocation below: the jobs point into it
            for (const auto& e : *from) {
                if (e.is_null()) continue;
                if (e.is_structured()) {
                    elements.emplace_back();
                    jobs.push_back({&e, &elements.back()});
                } else {
                    elements.push_back(e);
                }
            }
        } else {
            *to = *from;
        }
    }
    return result;
}

json& stripNullObjects(json& value) {
    std::vector<json*> pending{&value};
    while (!pending.empty()) {
        json* node = pending.back();
        pending.pop_back();
        if (node->is_object()) {
            for (auto it = node->begin(); it != node->end();) {
                if (it->is_null()) {
                    it = node->erase(it);
                    continue;
                }
                if (it->is_structured()) pending.push_back(&*it);
                ++it;
            }
        } else if (node->is_array()) {
            auto& elements = node->get_ref<json::array_t&>();
            std::erase_if(elements, [](const json& e) { return e.is_null(); });
            for (auto& e : elements)
                if (e.is_structured()) pending.push_back(&e);
        }
    }
    return value;
}

std::string allKeyNames(const json& dictionary) {
    std::string names;
    if (!dictionary.is_object()) return names;
    for (auto it = dictionary.begin(); it != dictionary.end(); ++it) {
        if (it != dictionary.begin()) names += ", ";
        names += it.key();
    }
    return names;
}

std::string allKeyNamesAndValues(const json& dictionary) {
    std::string line;
    if (!dictionary.is_object()) return line;
    const bool detailed = detailedJSONLoggingEnabled();
    for (auto it = dictionary.begin(); it != dictionary.end(); ++it) {
        if (it != dictionary.begin()) line += ", ";
        line += it.key();
        line += " = ";
        const json& v = it.value();
        if (detailed && v.is_object())
            line += fmt::format("{{{}}}", allKeyNamesAndValues(v));
        else if (detailed && v.is_array())
            line += fmt::format("[{}]", allValuesAsStrings(v));
        else
            line += jsonLogDescription(v, detailed);
    }
    return line;
}
