#pragma once
// The base of every stored entity. Objects are made, found and deleted only inside
// MVPersistentStorage::lockedAccess, in the calling thread's context; each entity
// class gets its fetch helpers from MVPersistentEntity<Entity>:
//
//   MVPersistentStorage::sharedStorage().lockedAccess([] {
//       auto v = MVWebStorageVariable::dbObjectWithID("cart");
//       if (!v) v = MVWebStorageVariable::dbObjectCreate();
//   });
//
// Every property read or change checks locked access and raises
// "Using MVPersistentStorage without locking" outside it. An object belongs to the
// context (thread and outermost locked access) that fetched or made it; it must not
// be handed to another thread. Fetches answer objects in store order (insertion
// order) unless sort descriptors are given; a failed fetch answers no objects.

#include <cstdint>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "libmerovane/storage/MVPredicate.h"
#include "libmerovane/storage/MVStoredValue.h"
#include "platform/foundation/Date.h"

class MVEntityDescription;
class MVObjectContext;

class MVPersistentObject {
  public:
    using Ptr = std::shared_ptr<MVPersistentObject>;

    virtual ~MVPersistentObject();
    MVPersistentObject(const MVPersistentObject&) = delete;
    MVPersistentObject& operator=(const MVPersistentObject&) = delete;

    const MVEntityDescription& entity() const { return *entity_; }
    // Deletes the object from its own context; the row goes when the context is saved.
    void deleteFromStorage();
    bool isDeleted() const { return deleted_; }

    // Generic access by attribute name (throws NSInvalidArgumentException for an
    // unknown key); the entity classes offer typed accessors.
    MVStoredValue valueForKey(std::string_view key) const;
    void setValueForKey(std::string_view key, MVStoredValue value);
    // Whether the value for `key` equals `value` taken as the attribute's type.
    bool valueForKeyEquals(std::string_view key, const MVStoredValue& value) const;

    // The locked-access checks every property access makes.
    void willAccessValueForKey(std::string_view key) const;
    void willChangeValueForKey(std::string_view key);

    // Fetch and creation for any entity (the typed helpers rest on these).
    static Ptr dbObjectCreate(const MVEntityDescription& entity);
    static std::vector<Ptr> dbObjectsWithPredicate(const MVEntityDescription& entity,
                                                   const MVPredicate* predicate,
                                                   const MVSortDescriptors& sortedBy, size_t offset,
                                                   size_t limit);
    // The entity's object whose `key` equals `value`, made when there is none. On a
    // number attribute a value that is not a number is read as an unsigned number with
    // automatic base ("0x10" is 16, "010" is 8). The new object's key is not set.
    static Ptr identifyWith(const MVEntityDescription& entity, std::string_view key,
                            const MVStoredValue& value);

  protected:
    explicit MVPersistentObject(const MVEntityDescription& entity);

    // Typed reads and writes for the entity classes, by attribute position.
    std::optional<std::string> textAt(int index) const;
    std::optional<int64_t> integerAt(int index) const;
    std::optional<double> realAt(int index) const;
    std::optional<bool> booleanAt(int index) const;
    std::optional<platform::Date> dateAt(int index) const;
    std::shared_ptr<const nlohmann::json> jsonAt(int index) const;
    void setAt(int index, MVStoredValue value);

  private:
    friend class MVObjectContext;
    const MVStoredValue& storedAt(int index) const;

    const MVEntityDescription* entity_;
    std::weak_ptr<MVObjectContext> context_;
    int64_t rowID_ = 0;
    std::vector<MVStoredValue> values_;
    bool inserted_ = false;  // made in its context and not saved yet
    bool changed_ = false;   // listed in its context's changes
    bool dirty_ = false;     // values differ from the parent's
    bool deleted_ = false;
};

// The fetch helpers of an entity class, sent to the class as in
// MVWebStorageVariable::dbObjectWithID("cart"). All must run inside locked access.
template <class Entity>
class MVPersistentEntity : public MVPersistentObject {
  public:
    using Ptr = std::shared_ptr<Entity>;
    using Ptrs = std::vector<Ptr>;

    static Ptr dbObjectCreate() {
        return cast(MVPersistentObject::dbObjectCreate(Entity::entityDescription()));
    }

    static Ptrs dbObjectsWithPredicate(const MVPredicate& predicate,
                                       const MVSortDescriptors& sortedBy, size_t offset,
                                       size_t limit) {
        return castAll(MVPersistentObject::dbObjectsWithPredicate(
            Entity::entityDescription(), &predicate, sortedBy, offset, limit));
    }
    static Ptrs dbObjectsWithPredicate(const MVPredicate& predicate) {
        return dbObjectsWithPredicate(predicate, {}, 0, 0);
    }
    static Ptrs dbObjectsWithPredicate(const MVPredicate& predicate, size_t offset) {
        return dbObjectsWithPredicate(predicate, {}, offset, 0);
    }
    static Ptrs dbObjectsWithPredicate(const MVPredicate& predicate, size_t offset, size_t limit) {
        return dbObjectsWithPredicate(predicate, {}, offset, limit);
    }
    static Ptrs dbObjectsWithPredicate(const MVPredicate& predicate,
                                       const MVSortDescriptors& sortedBy) {
        return dbObjectsWithPredicate(predicate, sortedBy, 0, 0);
    }
    static Ptrs dbObjectsWithPredicate(const MVPredicate& predicate,
                                       const MVSortDescriptors& sortedBy, size_t offset) {
        return dbObjectsWithPredicate(predicate, sortedBy, offset, 0);
    }

    // The last object the fetch lists, or null.
    static Ptr dbObjectWithPredicate(const MVPredicate& predicate) {
        return last(dbObjectsWithPredicate(predicate));
    }
    static Ptr dbObjectWithID(const MVStoredValue& identifier) {
        return dbObjectWith("id", identifier);
    }
    static Ptr dbObjectWith(const std::string& key, const MVStoredValue& value) {
        return last(dbObjectsWith(key, value));
    }
    static Ptrs dbObjectsWith(const std::string& key, const MVStoredValue& value) {
        return dbObjectsWithPredicate(MVPredicate::equal(key, value));
    }
    static Ptrs dbObjectsWith(const std::string& key, const MVStoredValue& value,
                              const MVSortDescriptors& sortedBy) {
        return dbObjectsWithPredicate(MVPredicate::equal(key, value), sortedBy);
    }
    static Ptrs dbObjectsWithContainedIn(const std::string& key,
                                         std::vector<MVStoredValue> values) {
        return dbObjectsWithPredicate(MVPredicate::in(key, std::move(values)));
    }
    static Ptrs dbObjectsWithContainedIn(const std::string& key, std::vector<MVStoredValue> values,
                                         const MVSortDescriptors& sortedBy) {
        return dbObjectsWithPredicate(MVPredicate::in(key, std::move(values)), sortedBy);
    }
    static Ptrs dbObjectsWithIDs(const std::vector<MVStoredValue>& identifiers,
                                 const MVSortDescriptors& sortedBy) {
        return dbObjectsWithContainedIn("id", identifiers, sortedBy);
    }
    // In the order of the identifiers: for each, the first fetched object with that
    // id; identifiers without an object are skipped.
    static Ptrs dbObjectsWithIDs(const std::vector<MVStoredValue>& identifiers) {
        const Ptrs fetched = dbObjectsWithContainedIn("id", identifiers);
        Ptrs out;
        for (auto& identifier : identifiers) {
            for (auto& object : fetched) {
                if (object->valueForKeyEquals("id", identifier)) {
                    out.push_back(object);
                    break;
                }
            }
        }
        return out;
    }
    static Ptrs dbObjectsWithoutFetchingProperties() {
        return dbObjectsWithPredicate(MVPredicate());
    }

    // Find or make by the dictionary's "id"; the parents take no part.
    static Ptr identifyWithApiObject(const nlohmann::json& apiObject,
                                     const nlohmann::json* parents);
    static Ptr _identifyWith(std::string_view key, const MVStoredValue& value) {
        return cast(MVPersistentObject::identifyWith(Entity::entityDescription(), key, value));
    }

  protected:
    MVPersistentEntity() : MVPersistentObject(Entity::entityDescription()) {}

  private:
    static Ptr cast(const MVPersistentObject::Ptr& p) {
        return std::static_pointer_cast<Entity>(p);
    }
    static Ptrs castAll(const std::vector<MVPersistentObject::Ptr>& all) {
        Ptrs out;
        out.reserve(all.size());
        for (auto& p : all) out.push_back(cast(p));
        return out;
    }
    static Ptr last(const Ptrs& all) { return all.empty() ? nullptr : all.back(); }
};

// Reads the "id" of an API object for identifyWithApiObject (none when absent).
MVStoredValue MVPersistentObjectApiIdentifier(const nlohmann::json& apiObject);

template <class Entity>
typename MVPersistentEntity<Entity>::Ptr MVPersistentEntity<Entity>::identifyWithApiObject(
    const nlohmann::json& apiObject, const nlohmann::json*) {
    return _identifyWith("id", MVPersistentObjectApiIdentifier(apiObject));
}
