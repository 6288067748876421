#include "libmerovane/storage/MVObjectModel.h"

#include <fmt/core.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "platform/foundation/JsonValue.h"

namespace {

std::string fnv1aHex(std::string_view text) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : text) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return fmt::format("{:016x}", h);
}

// A text the store would read as a number: optional sign, digits, optional fraction
// and exponent, nothing else.
std::optional<MVStoredValue> numericText(const std::string& raw, bool preferInteger) {
    // The store ignores white space around a number.
    const auto first = raw.find_first_not_of(" \t\n\r\f\v");
    if (first == std::string::npos) return std::nullopt;
    const auto last = raw.find_last_not_of(" \t\n\r\f\v");
    const std::string text = raw.substr(first, last - first + 1);
    if (text.find_first_of("xXnNiI") != std::string::npos)
        return std::nullopt;  // no hex, inf or nan
    char* end = nullptr;
    if (preferInteger) {
        errno = 0;
        long long i = std::strtoll(text.c_str(), &end, 10);
        if (end && *end == '\0' && errno == 0) return MVStoredValue(static_cast<int64_t>(i));
    }
    double d = std::strtod(text.c_str(), &end);
    if (!end || *end != '\0') return std::nullopt;
    return MVStoredValue(d);
}

}  // namespace

MVEntityDescription::MVEntityDescription(std::string name,
                                         std::vector<MVAttributeDescription> attributes,
                                         Factory factory)
    : name_(std::move(name)), attributes_(std::move(attributes)), factory_(factory) {
    std::string text = name_;
    for (auto& a : attributes_) text += fmt::format("|{}:{}", a.name, typeName(a.type));
    hash_ = fnv1aHex(text);
}

int MVEntityDescription::indexOfAttribute(std::string_view name) const {
    for (size_t i = 0; i < attributes_.size(); ++i)
        if (attributes_[i].name == name) return static_cast<int>(i);
    return -1;
}

const MVAttributeDescription* MVEntityDescription::attribute(std::string_view name) const {
    int i = indexOfAttribute(name);
    return i < 0 ? nullptr : &attributes_[static_cast<size_t>(i)];
}

std::shared_ptr<MVPersistentObject> MVEntityDescription::makeObject() const {
    return factory_ ? factory_() : nullptr;
}

MVStoredValue::Kind MVEntityDescription::storedKind(MVAttributeType type) {
    switch (type) {
        case MVAttributeType::String:
            return MVStoredValue::Kind::Text;
        case MVAttributeType::Integer64:
        case MVAttributeType::Boolean:
            return MVStoredValue::Kind::Integer;
        case MVAttributeType::Double:
        case MVAttributeType::Date:
            return MVStoredValue::Kind::Real;
        case MVAttributeType::Transformable:
            return MVStoredValue::Kind::Json;
    }
    return MVStoredValue::Kind::None;
}

MVStoredValue MVEntityDescription::coerce(MVAttributeType type, const MVStoredValue& value) {
    using K = MVStoredValue::Kind;
    if (value.isNone()) return value;
    switch (storedKind(type)) {
        case K::Text:
            if (value.isNumber()) return MVStoredValue(*value.textValue());
            return value;
        case K::Integer:
            if (auto* r = value.ifReal(); r && *r == static_cast<double>(static_cast<int64_t>(*r)))
                return MVStoredValue(static_cast<int64_t>(*r));
            if (auto* t = value.ifText())
                if (auto n = numericText(*t, true)) return *n;
            return value;
        case K::Real:
            if (auto* i = value.ifInteger()) return MVStoredValue(static_cast<double>(*i));
            if (auto* t = value.ifText())
                if (auto n = numericText(*t, false)) return MVStoredValue(*n->realValue());
            return value;
        case K::Json:
            if (value.kind() == K::Json) return value;
            return MVStoredValue(value.jsonValue());
        case K::None:
            return value;
    }
    return value;
}

const char* MVEntityDescription::typeName(MVAttributeType type) {
    switch (type) {
        case MVAttributeType::String:
            return "string";
        case MVAttributeType::Integer64:
            return "integer64";
        case MVAttributeType::Double:
            return "double";
        case MVAttributeType::Boolean:
            return "boolean";
        case MVAttributeType::Date:
            return "date";
        case MVAttributeType::Transformable:
            return "transformable";
    }
    return "";
}

std::optional<MVAttributeType> MVEntityDescription::typeNamed(std::string_view name) {
    for (auto t : {MVAttributeType::String, MVAttributeType::Integer64, MVAttributeType::Double,
                   MVAttributeType::Boolean, MVAttributeType::Date, MVAttributeType::Transformable})
        if (name == typeName(t)) return t;
    return std::nullopt;
}

MVObjectModel::MVObjectModel(std::vector<std::string> versionIdentifiers,
                             std::vector<std::shared_ptr<const MVEntityDescription>> entities,
                             std::map<std::string, std::vector<std::string>> configurations)
    : versionIdentifiers_(std::move(versionIdentifiers)),
      entities_(std::move(entities)),
      configurations_(std::move(configurations)) {}

std::shared_ptr<const MVObjectModel> MVObjectModel::fromDescription(const nlohmann::json& d) {
    if (!d.is_object()) return nullptr;
    auto ids = d.find("versionIdentifiers");
    auto ents = d.find("entities");
    if (ids == d.end() || !ids->is_array() || ents == d.end() || !ents->is_object()) return nullptr;
    std::vector<std::string> identifiers;
    for (auto& i : *ids) {
        if (!i.is_string()) return nullptr;
        identifiers.push_back(*platform::json::stringValue(i));
    }
    std::vector<std::shared_ptr<const MVEntityDescription>> entities;
    for (auto it = ents->begin(); it != ents->end(); ++it) {
        auto attrs = it->find("attributes");
        if (!it->is_object() || attrs == it->end() || !attrs->is_array()) return nullptr;
        std::vector<MVAttributeDescription> list;
        for (auto& a : *attrs) {
            // ["name", "type"]
            if (!a.is_array() || a.size() != 2 || !a.at(0).is_string() || !a.at(1).is_string())
                return nullptr;
            auto type = MVEntityDescription::typeNamed(*platform::json::stringValue(a.at(1)));
            if (!type) return nullptr;
            list.push_back({*platform::json::stringValue(a.at(0)), *type});
        }
        entities.push_back(std::make_shared<const MVEntityDescription>(it.key(), std::move(list)));
    }
    std::map<std::string, std::vector<std::string>> configurations;
    if (auto c = d.find("configurations"); c != d.end()) {
        if (!c->is_object()) return nullptr;
        for (auto it = c->begin(); it != c->end(); ++it) {
            if (!it->is_array()) return nullptr;
            for (auto& e : *it) {
                if (!e.is_string()) return nullptr;
                configurations[it.key()].push_back(*platform::json::stringValue(e));
            }
        }
    }
    return std::make_shared<const MVObjectModel>(std::move(identifiers), std::move(entities),
                                                 std::move(configurations));
}

nlohmann::json MVObjectModel::description() const {
    nlohmann::json d = nlohmann::json::object();
    d["versionIdentifiers"] = versionIdentifiers_;
    auto& ents = d["entities"] = nlohmann::json::object();
    for (auto& e : entities_) {
        auto attrs = nlohmann::json::array();
        for (auto& a : e->attributes())
            attrs.push_back(nlohmann::json::array({a.name, MVEntityDescription::typeName(a.type)}));
        ents[e->name()] = {{"attributes", std::move(attrs)}};
    }
    d["configurations"] = configurations_;
    return d;
}

const MVEntityDescription* MVObjectModel::entityNamed(std::string_view name) const {
    for (auto& e : entities_)
        if (e->name() == name) return e.get();
    return nullptr;
}

int MVObjectModel::indexOfEntity(const MVEntityDescription& entity) const {
    for (size_t i = 0; i < entities_.size(); ++i)
        if (entities_[i].get() == &entity) return static_cast<int>(i);
    return -1;
}

std::vector<const MVEntityDescription*> MVObjectModel::entitiesForConfiguration(
    const std::string& configuration) const {
    std::vector<const MVEntityDescription*> out;
    auto it = configurations_.find(configuration);
    if (it == configurations_.end()) {
        for (auto& e : entities_) out.push_back(e.get());
        return out;
    }
    for (auto& name : it->second)
        if (auto* e = entityNamed(name)) out.push_back(e);
    return out;
}

nlohmann::json MVObjectModel::entityVersionHashes(const std::string& configuration) const {
    nlohmann::json hashes = nlohmann::json::object();
    for (auto* e : entitiesForConfiguration(configuration)) hashes[e->name()] = e->versionHash();
    return hashes;
}

bool MVObjectModel::isConfigurationCompatible(const std::string& configuration,
                                              const nlohmann::json& storeMetadata) const {
    if (!storeMetadata.is_object()) return false;
    auto hashes = storeMetadata.find(kStoreModelVersionHashesKey);
    if (hashes == storeMetadata.end()) return false;
    return *hashes == entityVersionHashes(configuration);
}

std::shared_ptr<const MVMappingModel> MVMappingModel::fromDescription(const nlohmann::json& d) {
    if (!d.is_object()) return nullptr;
    auto src = d.find("sourceVersion");
    auto dst = d.find("destinationVersion");
    auto ents = d.find("entities");
    if (src == d.end() || !src->is_string() || dst == d.end() || !dst->is_string() ||
        ents == d.end() || !ents->is_object())
        return nullptr;
    auto m = std::make_shared<MVMappingModel>();
    m->sourceVersion_ = *platform::json::stringValue(*src);
    m->destinationVersion_ = *platform::json::stringValue(*dst);
    for (auto it = ents->begin(); it != ents->end(); ++it) {
        if (!it->is_object()) return nullptr;
        EntityMapping e;
        e.destination = it.key();
        e.source = it.key();
        if (auto s = it->find("source"); s != it->end()) {
            if (!s->is_string()) return nullptr;
            e.source = *platform::json::stringValue(*s);
        }
        if (auto a = it->find("attributes"); a != it->end()) {
            if (!a->is_object()) return nullptr;
            for (auto at = a->begin(); at != a->end(); ++at) {
                if (!at->is_string()) return nullptr;
                e.attributes[at.key()] = *platform::json::stringValue(*at);
            }
        }
        m->entities_.push_back(std::move(e));
    }
    return m;
}

const MVMappingModel::EntityMapping* MVMappingModel::mappingForDestination(
    std::string_view entity) const {
    for (auto& e : entities_)
        if (e.destination == entity) return &e;
    return nullptr;
}
