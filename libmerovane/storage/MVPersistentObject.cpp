#include "libmerovane/storage/MVPersistentObject.h"

#include <fmt/core.h>

#include <cstdlib>
#include <nlohmann/json.hpp>

#include "libmerovane/storage/MVObjectContext.h"
#include "libmerovane/storage/MVObjectModel.h"
#include "libmerovane/storage/MVPersistentStorage.h"
#include "platform/foundation/Exception.h"

namespace {

MVObjectContext& currentContext() {
    auto& storage = MVPersistentStorage::sharedStorage();
    storage.ensureLockedAccess();
    return *storage.managedObjectContext();
}

int attributeIndex(const MVEntityDescription& entity, std::string_view key) {
    const int i = entity.indexOfAttribute(key);
    if (i < 0)
        throw platform::Exception(
            platform::kInvalidArgumentException,
            fmt::format("the entity {} is not key value coding-compliant for the key \"{}\"",
                        entity.name(), key));
    return i;
}

}  // namespace

MVPersistentObject::MVPersistentObject(const MVEntityDescription& entity) : entity_(&entity) {}
MVPersistentObject::~MVPersistentObject() = default;

void MVPersistentObject::willAccessValueForKey(std::string_view) const {
    MVPersistentStorage::sharedStorage().ensureLockedAccess();
}

void MVPersistentObject::willChangeValueForKey(std::string_view key) {
    MVPersistentStorage::sharedStorage().ensureLockedAccess();
    // A change the object's context can no longer save would be lost without a trace.
    platform::assertThat(
        context_.lock().get() == MVPersistentStorage::sharedStorage().managedObjectContext(),
        fmt::format("{}.{} changed outside the locked access that fetched it", entity_->name(),
                    key));
}

void MVPersistentObject::deleteFromStorage() {
    willChangeValueForKey("self");
    if (auto context = context_.lock()) context->deleteObject(*this);
}

const MVStoredValue& MVPersistentObject::storedAt(int index) const {
    willAccessValueForKey(entity_->attributes().at(static_cast<size_t>(index)).name);
    return values_.at(static_cast<size_t>(index));
}

MVStoredValue MVPersistentObject::valueForKey(std::string_view key) const {
    return storedAt(attributeIndex(*entity_, key));
}

bool MVPersistentObject::valueForKeyEquals(std::string_view key, const MVStoredValue& value) const {
    const int i = attributeIndex(*entity_, key);
    return storedAt(i) ==
           MVEntityDescription::coerce(entity_->attributes()[static_cast<size_t>(i)].type, value);
}

void MVPersistentObject::setValueForKey(std::string_view key, MVStoredValue value) {
    setAt(attributeIndex(*entity_, key), std::move(value));
}

void MVPersistentObject::setAt(int index, MVStoredValue value) {
    const auto& attribute = entity_->attributes().at(static_cast<size_t>(index));
    willChangeValueForKey(attribute.name);
    values_[static_cast<size_t>(index)] = MVEntityDescription::coerce(attribute.type, value);
    if (auto context = context_.lock()) context->objectDidChange(*this);
}

std::optional<std::string> MVPersistentObject::textAt(int index) const {
    return storedAt(index).textValue();
}
std::optional<int64_t> MVPersistentObject::integerAt(int index) const {
    return storedAt(index).integerValue();
}
std::optional<double> MVPersistentObject::realAt(int index) const {
    return storedAt(index).realValue();
}

std::optional<bool> MVPersistentObject::booleanAt(int index) const {
    auto v = storedAt(index).integerValue();
    if (!v) return std::nullopt;
    return *v != 0;
}

std::optional<platform::Date> MVPersistentObject::dateAt(int index) const {
    auto v = storedAt(index).realValue();
    if (!v) return std::nullopt;
    return platform::Date(*v);
}

std::shared_ptr<const nlohmann::json> MVPersistentObject::jsonAt(int index) const {
    return storedAt(index).jsonValue();
}

MVPersistentObject::Ptr MVPersistentObject::dbObjectCreate(const MVEntityDescription& entity) {
    return currentContext().insertNewObject(entity);
}

std::vector<MVPersistentObject::Ptr> MVPersistentObject::dbObjectsWithPredicate(
    const MVEntityDescription& entity, const MVPredicate* predicate,
    const MVSortDescriptors& sortedBy, size_t offset, size_t limit) {
    auto result = currentContext().executeFetch(entity, predicate, sortedBy, offset, limit);
    return result ? std::move(*result) : std::vector<Ptr>{};
}

MVPersistentObject::Ptr MVPersistentObject::identifyWith(const MVEntityDescription& entity,
                                                         std::string_view key,
                                                         const MVStoredValue& value) {
    const auto& attribute =
        entity.attributes().at(static_cast<size_t>(attributeIndex(entity, key)));
    MVStoredValue match = value;
    const auto kind = MVEntityDescription::storedKind(attribute.type);
    const bool numeric = kind == MVStoredValue::Kind::Integer || kind == MVStoredValue::Kind::Real;
    if (numeric && !value.isNumber()) {
        // The C rules of automatic base: "0x" hexadecimal, a leading "0" octal, else decimal.
        const std::string text = value.textValue().value_or(value.description());
        match = MVStoredValue(static_cast<uint64_t>(std::strtoull(text.c_str(), nullptr, 0)));
    }
    const MVPredicate predicate = MVPredicate::equal(std::string(key), match);
    const auto found = dbObjectsWithPredicate(entity, &predicate, {}, 0, 0);
    if (!found.empty()) return found.back();
    return dbObjectCreate(entity);
}

MVStoredValue MVPersistentObjectApiIdentifier(const nlohmann::json& apiObject) {
    if (!apiObject.is_object()) return {};
    auto it = apiObject.find("id");
    return it == apiObject.end() ? MVStoredValue() : MVStoredValue::fromJson(*it);
}
