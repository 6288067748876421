#include "platform/foundation/HTTPHeaderFields.h"

#include <algorithm>

#include "platform/foundation/TextUtilities.h"

namespace platform {

HTTPHeaderFields::HTTPHeaderFields(std::initializer_list<Entry> entries) : entries_(entries) {}

bool HTTPHeaderFields::namesEqual(std::string_view a, std::string_view b) {
    return equalsIgnoringASCIICase(a, b);
}

void HTTPHeaderFields::set(std::string_view name, std::string value) {
    auto first = std::find_if(entries_.begin(), entries_.end(),
                              [&](const Entry& e) { return namesEqual(e.first, name); });
    if (first == entries_.end()) {
        entries_.emplace_back(std::string(name), std::move(value));
        return;
    }
    first->second = std::move(value);
    std::vector<Entry> kept;
    kept.reserve(entries_.size());
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it > first && namesEqual(it->first, name)) continue;
        kept.push_back(std::move(*it));
    }
    entries_ = std::move(kept);
}

void HTTPHeaderFields::add(std::string_view name, std::string value) {
    entries_.emplace_back(std::string(name), std::move(value));
}

void HTTPHeaderFields::remove(std::string_view name) {
    std::erase_if(entries_, [&](const Entry& e) { return namesEqual(e.first, name); });
}

std::optional<std::string> HTTPHeaderFields::value(std::string_view name) const {
    std::optional<std::string> out;
    for (const auto& [n, v] : entries_) {
        if (!namesEqual(n, name)) continue;
        if (out)
            *out += ", " + v;
        else
            out = v;
    }
    return out;
}

std::vector<std::string> HTTPHeaderFields::values(std::string_view name) const {
    std::vector<std::string> out;
    for (const auto& [n, v] : entries_) {
        if (namesEqual(n, name)) out.push_back(v);
    }
    return out;
}

bool HTTPHeaderFields::contains(std::string_view name) const {
    return std::any_of(entries_.begin(), entries_.end(),
                       [&](const Entry& e) { return namesEqual(e.first, name); });
}

}  // namespace platform
