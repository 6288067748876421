#pragma once
// The data model of persistent storage: entities with their typed attributes, and a
// model (one version) made of entities and named configurations.
//
// The current model is compiled in (MVPersistentStorage::managedObjectModel()); older
// versions, which migration needs as its source, are read from the resource bundle.
// A store is compatible with a model's configuration when the store's entity version
// hashes equal the configuration's. Immutable once built; safe from any thread.

#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "libmerovane/storage/MVStoredValue.h"

class MVPersistentObject;

// Keys of a store's metadata.
inline constexpr const char* kStoreTypeKey = "NSStoreType";
inline constexpr const char* kStoreModelVersionIdentifiersKey = "NSStoreModelVersionIdentifiers";
inline constexpr const char* kStoreModelVersionHashesKey = "NSStoreModelVersionHashes";
inline constexpr const char* kStoreUUIDKey = "NSStoreUUID";
inline constexpr const char* kSQLiteStoreType = "SQLite";

enum class MVAttributeType { String, Integer64, Double, Boolean, Date, Transformable };

struct MVAttributeDescription {
    std::string name;
    MVAttributeType type;
};

class MVEntityDescription {
  public:
    using Factory = std::shared_ptr<MVPersistentObject> (*)();

    MVEntityDescription(std::string name, std::vector<MVAttributeDescription> attributes,
                        Factory factory = nullptr);

    const std::string& name() const { return name_; }
    const std::vector<MVAttributeDescription>& attributes() const { return attributes_; }
    // Index of the attribute, or -1.
    int indexOfAttribute(std::string_view name) const;
    const MVAttributeDescription* attribute(std::string_view name) const;
    // Stable over builds: name, attribute names and types.
    const std::string& versionHash() const { return hash_; }
    // Makes an object of the entity's class (a plain description makes none).
    std::shared_ptr<MVPersistentObject> makeObject() const;

    // The kind a value of this type has in the store.
    static MVStoredValue::Kind storedKind(MVAttributeType type);
    // `value` turned into the attribute's kind where the store would do so (numbers to
    // text for text attributes, numeric text to numbers for number attributes, any
    // value to JSON for transformable ones); other values stay as they are.
    static MVStoredValue coerce(MVAttributeType type, const MVStoredValue& value);
    static const char* typeName(MVAttributeType type);
    static std::optional<MVAttributeType> typeNamed(std::string_view name);

  private:
    std::string name_;
    std::vector<MVAttributeDescription> attributes_;
    Factory factory_;
    std::string hash_;
};

class MVObjectModel {
  public:
    MVObjectModel(std::vector<std::string> versionIdentifiers,
                  std::vector<std::shared_ptr<const MVEntityDescription>> entities,
                  std::map<std::string, std::vector<std::string>> configurations);

    // A model described in JSON: {"versionIdentifiers": [...], "entities": {name:
    // {"attributes": [[attribute, type name], ...]}}, "configurations": {name: [entity,
    // ...]}}. Null for a malformed description.
    static std::shared_ptr<const MVObjectModel> fromDescription(const nlohmann::json& description);
    nlohmann::json description() const;

    const std::vector<std::string>& versionIdentifiers() const { return versionIdentifiers_; }
    const std::vector<std::shared_ptr<const MVEntityDescription>>& entities() const {
        return entities_;
    }
    const MVEntityDescription* entityNamed(std::string_view name) const;
    // Position of the entity in entities(), or -1.
    int indexOfEntity(const MVEntityDescription& entity) const;
    // The entities of a configuration (all entities when it is not named).
    std::vector<const MVEntityDescription*> entitiesForConfiguration(
        const std::string& configuration) const;

    // {entity name: version hash} for a configuration: what a store's metadata keeps.
    nlohmann::json entityVersionHashes(const std::string& configuration) const;
    bool isConfigurationCompatible(const std::string& configuration,
                                   const nlohmann::json& storeMetadata) const;

  private:
    std::vector<std::string> versionIdentifiers_;
    std::vector<std::shared_ptr<const MVEntityDescription>> entities_;
    std::map<std::string, std::vector<std::string>> configurations_;
};

// How a store of one model version becomes a store of another: per destination entity,
// its source entity and, per destination attribute, the source attribute it takes.
// A destination attribute not listed takes the source attribute of the same name when
// there is one, else stays empty.
class MVMappingModel {
  public:
    struct EntityMapping {
        std::string destination;
        std::string source;
        std::map<std::string, std::string> attributes;  // destination -> source
    };

    // {"sourceVersion": "0", "destinationVersion": "1", "entities": {destination:
    // {"source": name, "attributes": {destination: source}}}}. Null when malformed.
    static std::shared_ptr<const MVMappingModel> fromDescription(const nlohmann::json& description);

    const std::string& sourceVersion() const { return sourceVersion_; }
    const std::string& destinationVersion() const { return destinationVersion_; }
    const std::vector<EntityMapping>& entities() const { return entities_; }
    const EntityMapping* mappingForDestination(std::string_view entity) const;

  private:
    std::string sourceVersion_;
    std::string destinationVersion_;
    std::vector<EntityMapping> entities_;
};
