#include "wallet/TWAKeyedArchive.h"

#include <limits>

#include "wallet/TWALog.h"

namespace {

const char* typeName(const TWAKeyedArchive::Value& value) {
    static const char* const names[] = {"boolean", "int32",   "int64", "text",
                                        "bytes",   "archive", "list"};
    return names[value.v.index()];
}

void logMismatch(const std::string& key, const TWAKeyedArchive::Value& value, const char* wanted) {
    TWA_LOG("TWAKeyedArchive: value for key {} is {}, not {}", key, typeName(value), wanted);
}

// An integer or boolean as a 64-bit value; none for other types.
std::optional<int64_t> integerOf(const TWAKeyedArchive::Value& value) {
    if (auto* b = std::get_if<bool>(&value.v)) return *b ? 1 : 0;
    if (auto* i = std::get_if<int32_t>(&value.v)) return *i;
    if (auto* l = std::get_if<int64_t>(&value.v)) return *l;
    return std::nullopt;
}

}  // namespace

void TWAKeyedArchive::encodeValue(const std::string& key, Value value) {
    for (auto& entry : entries_) {
        if (entry.first == key) {
            entry.second = std::move(value);
            return;
        }
    }
    entries_.emplace_back(key, std::move(value));
}

void TWAKeyedArchive::encodeBool(const std::string& key, bool value) {
    encodeValue(key, {value});
}

void TWAKeyedArchive::encodeInt32(const std::string& key, int32_t value) {
    encodeValue(key, {value});
}

void TWAKeyedArchive::encodeInt64(const std::string& key, int64_t value) {
    encodeValue(key, {value});
}

void TWAKeyedArchive::encodeText(const std::string& key, const TWAText& text) {
    if (text) encodeValue(key, {*text});
}

void TWAKeyedArchive::encodeData(const std::string& key, const std::optional<TWAData>& data) {
    if (data) encodeValue(key, {*data});
}

void TWAKeyedArchive::encodeArchive(const std::string& key, ArchivePtr archive) {
    if (archive) encodeValue(key, {std::move(archive)});
}

void TWAKeyedArchive::encodeList(const std::string& key, const std::optional<List>& list) {
    if (list) encodeValue(key, {*list});
}

const TWAKeyedArchive::Value* TWAKeyedArchive::find(const std::string& key) const {
    for (const auto& entry : entries_)
        if (entry.first == key) return &entry.second;
    return nullptr;
}

bool TWAKeyedArchive::containsValueForKey(const std::string& key) const {
    return find(key) != nullptr;
}

bool TWAKeyedArchive::decodeBool(const std::string& key) const {
    const Value* value = find(key);
    if (!value) return false;
    if (auto integer = integerOf(*value)) return *integer != 0;
    logMismatch(key, *value, "boolean");
    return false;
}

int32_t TWAKeyedArchive::decodeInt32(const std::string& key) const {
    const Value* value = find(key);
    if (!value) return 0;
    auto integer = integerOf(*value);
    if (!integer) {
        logMismatch(key, *value, "int32");
        return 0;
    }
    if (*integer < std::numeric_limits<int32_t>::min() ||
        *integer > std::numeric_limits<int32_t>::max()) {
        TWA_LOG("TWAKeyedArchive: value for key {} does not fit 32 bits", key);
        return 0;
    }
    return static_cast<int32_t>(*integer);
}

int64_t TWAKeyedArchive::decodeInt64(const std::string& key) const {
    const Value* value = find(key);
    if (!value) return 0;
    if (auto integer = integerOf(*value)) return *integer;
    logMismatch(key, *value, "int64");
    return 0;
}

TWAText TWAKeyedArchive::decodeText(const std::string& key) const {
    const Value* value = find(key);
    if (!value) return std::nullopt;
    if (auto* text = std::get_if<std::string>(&value->v)) return *text;
    logMismatch(key, *value, "text");
    return std::nullopt;
}

std::optional<TWAData> TWAKeyedArchive::decodeData(const std::string& key) const {
    const Value* value = find(key);
    if (!value) return std::nullopt;
    if (auto* data = std::get_if<TWAData>(&value->v)) return *data;
    logMismatch(key, *value, "bytes");
    return std::nullopt;
}

TWAKeyedArchive::ArchivePtr TWAKeyedArchive::decodeArchive(const std::string& key) const {
    const Value* value = find(key);
    if (!value) return nullptr;
    if (auto* archive = std::get_if<ArchivePtr>(&value->v)) return *archive;
    logMismatch(key, *value, "archive");
    return nullptr;
}

std::optional<TWAKeyedArchive::List> TWAKeyedArchive::decodeList(const std::string& key) const {
    const Value* value = find(key);
    if (!value) return std::nullopt;
    if (auto* list = std::get_if<List>(&value->v)) return *list;
    logMismatch(key, *value, "list");
    return std::nullopt;
}

std::vector<std::string> TWAKeyedArchive::keys() const {
    std::vector<std::string> out;
    out.reserve(entries_.size());
    for (const auto& entry : entries_) out.push_back(entry.first);
    return out;
}
