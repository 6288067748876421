#include "wallet/TWAObject.h"

#include <fmt/core.h>

uint64_t TWAHashBytes(std::string_view bytes) {
    uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : bytes) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

namespace {

std::string indentation(unsigned level) {
    return std::string(size_t{level} * 4, ' ');
}

bool isBare(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '$' || c == '.' || c == ':' || c == '/';
}

// Decodes one UTF-8 sequence at `i`; none for an invalid one (then one byte is taken).
std::optional<uint32_t> nextCodePoint(std::string_view s, size_t& i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (length == 0 || i + length > s.size()) {
        ++i;
        return std::nullopt;
    }
    uint32_t cp = length == 1 ? c : c & (0x7f >> length);
    for (size_t k = 1; k < length; ++k) {
        unsigned char next = static_cast<unsigned char>(s[i + k]);
        if ((next >> 6) != 2) {
            ++i;
            return std::nullopt;
        }
        cp = (cp << 6) | (next & 0x3f);
    }
    static const uint32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < minimum[length] || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) {
        ++i;
        return std::nullopt;
    }
    i += length;
    return cp;
}

}  // namespace

std::string TWADescription::quoted(std::string_view text) {
    bool bare = !text.empty();
    for (unsigned char c : text) bare = bare && isBare(c);
    if (bare) return std::string(text);
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            ++i;
            if (c == '"' || c == '\\') {
                out += '\\';
                out += static_cast<char>(c);
            } else if (c == '\n') {
                out += "\\n";
            } else if (c < 0x20 || c == 0x7f) {
                out += fmt::format("\\U{:04x}", c);
            } else {
                out += static_cast<char>(c);
            }
            continue;
        }
        // Outside ASCII: UTF-16 units as escapes; bytes that are no UTF-8 as U+FFFD.
        uint32_t cp = nextCodePoint(text, i).value_or(0xfffd);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += fmt::format("\\U{:04x}\\U{:04x}", 0xd800 + (cp >> 10), 0xdc00 + (cp & 0x3ff));
        } else {
            out += fmt::format("\\U{:04x}", cp);
        }
    }
    out += '"';
    return out;
}

void TWADescription::set(const std::string& key, const TWAText& text) {
    Entry entry;
    entry.leaf = quoted(text ? std::string_view(*text) : std::string_view("<nil>"));
    entries_[key] = std::move(entry);
}

void TWADescription::set(const std::string& key, bool value) {
    Entry entry;
    entry.leaf = value ? "1" : "0";
    entries_[key] = std::move(entry);
}

void TWADescription::set(const std::string& key, int64_t value) {
    Entry entry;
    entry.leaf = std::to_string(value);
    entries_[key] = std::move(entry);
}

void TWADescription::set(const std::string& key, const std::shared_ptr<const TWAObject>& object) {
    if (!object) return set(key, TWAText());
    Entry entry;
    entry.object = object;
    entries_[key] = std::move(entry);
}

void TWADescription::set(const std::string& key,
                         const std::optional<std::vector<std::string>>& texts) {
    if (!texts) return set(key, TWAText());
    Entry entry;
    entry.isList = true;
    for (const auto& text : *texts) {
        Entry child;
        child.leaf = quoted(text);
        entry.items.push_back(std::move(child));
    }
    entries_[key] = std::move(entry);
}

void TWADescription::render(const Entry& entry, unsigned level, std::string& out) {
    if (entry.object) {
        out += entry.object->descriptionWithLocale(std::nullopt, level);
    } else if (entry.isList) {
        out += "(\n";
        for (size_t i = 0; i < entry.items.size(); ++i) {
            out += indentation(level + 1);
            render(entry.items[i], level + 1, out);
            out += i + 1 < entry.items.size() ? ",\n" : "\n";
        }
        out += indentation(level) + ")";
    } else {
        out += entry.leaf;
    }
}

std::string TWADescription::text(unsigned indent) const {
    std::string out = "{\n";
    for (const auto& [key, entry] : entries_) {
        out += indentation(indent + 1) + quoted(key) + " = ";
        render(entry, indent + 1, out);
        out += ";\n";
    }
    out += indentation(indent) + "}";
    return out;
}

TWAKeyedArchive::List TWAListOfTexts(const std::vector<std::string>& texts) {
    TWAKeyedArchive::List list;
    list.reserve(texts.size());
    for (const auto& text : texts) list.push_back({text});
    return list;
}

std::vector<std::string> TWATextsOfList(const TWAKeyedArchive::List& list) {
    std::vector<std::string> out;
    for (const auto& value : list) {
        if (auto* text = std::get_if<std::string>(&value.v))
            out.push_back(*text);
        else
            TWA_LOG("TWAKeyedArchive: list element that is no text left out");
    }
    return out;
}
