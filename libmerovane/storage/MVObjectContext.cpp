#include "libmerovane/storage/MVObjectContext.h"

#include <algorithm>

#include "libmerovane/storage/MVDiscWritingContext.h"
#include "libmerovane/storage/MVObjectModel.h"
#include "libmerovane/storage/MVPersistentObject.h"
#include "libmerovane/storage/MVSQLiteStore.h"
#include "platform/foundation/Exception.h"

MVObjectContext::MVObjectContext(MVDiscWritingContext& parent) : parent_(parent) {}
MVObjectContext::~MVObjectContext() = default;

int MVObjectContext::entityIndex(const MVEntityDescription& entity) const {
    const int i = parent_.store().model().indexOfEntity(entity);
    platform::assertThat(i >= 0, "entity <" + entity.name() + "> is not part of the store's model");
    return i;
}

std::shared_ptr<MVPersistentObject> MVObjectContext::registered(int entity, int64_t rowID) const {
    auto it = objects_.find({entity, rowID});
    return it == objects_.end() ? nullptr : it->second;
}

std::shared_ptr<MVPersistentObject> MVObjectContext::insertNewObject(
    const MVEntityDescription& entity) {
    const int index = entityIndex(entity);
    auto object = entity.makeObject();
    platform::assertThat(object != nullptr, "entity <" + entity.name() + "> has no class");
    object->context_ = weak_from_this();
    object->rowID_ = parent_.allocateRowID();
    object->values_.assign(entity.attributes().size(), MVStoredValue());
    object->inserted_ = true;
    objects_[{index, object->rowID_}] = object;
    objectDidChange(*object);
    return object;
}

void MVObjectContext::deleteObject(MVPersistentObject& object) {
    platform::assertThat(object.context_.lock().get() == this,
                         "object deleted outside its context");
    if (object.deleted_) return;
    object.deleted_ = true;
    objectDidChange(object);
}

void MVObjectContext::objectDidChange(MVPersistentObject& object) {
    object.dirty_ = true;
    if (object.changed_) return;
    object.changed_ = true;
    changed_.push_back(registered(entityIndex(object.entity()), object.rowID_));
}

std::optional<std::vector<std::shared_ptr<MVPersistentObject>>> MVObjectContext::executeFetch(
    const MVEntityDescription& entity, const MVPredicate* predicate,
    const MVSortDescriptors& sortedBy, size_t offset, size_t limit) {
    const int index = entityIndex(entity);
    const MVBoundPredicate bound(predicate ? *predicate : MVPredicate(), entity);
    const MVBoundSort sort(sortedBy, entity);
    const auto batches = parent_.unwrittenBatches();

    bool overlay = std::any_of(changed_.begin(), changed_.end(),
                               [&](auto& o) { return &o->entity() == &entity; });
    for (auto& b : batches)
        overlay = overlay || !b->entities.at(static_cast<size_t>(index)).empty();

    auto rows = overlay ? parent_.store().select(entity, bound, nullptr, 0, 0)
                        : parent_.store().select(entity, bound, &sort, offset, limit);
    if (!rows) return std::nullopt;

    // Row id -> current values: the store, then the parent's unwritten changes, then ours.
    std::vector<std::pair<int64_t, const std::vector<MVStoredValue>*>> result;
    if (!overlay) {
        for (auto& r : *rows) result.emplace_back(r.rowID, &r.values);
    } else {
        std::map<int64_t, const std::vector<MVStoredValue>*> current;
        for (auto& r : *rows) current[r.rowID] = &r.values;
        auto apply = [&](int64_t rowID, const std::vector<MVStoredValue>* values) {
            if (values && bound.matches(*values))
                current[rowID] = values;
            else
                current.erase(rowID);
        };
        for (auto& b : batches)
            for (auto& change : b->entities[static_cast<size_t>(index)])
                apply(change.rowID, change.values.get());
        for (auto& o : changed_)
            if (&o->entity() == &entity) apply(o->rowID_, o->deleted_ ? nullptr : &o->values_);
        result.assign(current.begin(), current.end());
        if (!sort.empty())
            std::stable_sort(result.begin(), result.end(), [&](auto& a, auto& b) {
                return sort.compare(*a.second, *b.second) < 0;
            });
        if (offset)
            result.erase(result.begin(),
                         result.begin() + static_cast<long>(std::min(offset, result.size())));
        if (limit && result.size() > limit) result.resize(limit);
    }

    std::vector<std::shared_ptr<MVPersistentObject>> objects;
    objects.reserve(result.size());
    for (auto& [rowID, values] : result) {
        auto object = registered(index, rowID);
        if (!object) {
            object = entity.makeObject();
            platform::assertThat(object != nullptr, "entity <" + entity.name() + "> has no class");
            object->context_ = weak_from_this();
            object->rowID_ = rowID;
            object->values_ = *values;
            objects_[{index, rowID}] = object;
        } else if (!object->dirty_) {
            object->values_ = *values;  // a refetch shows what others saved meanwhile
        }
        objects.push_back(std::move(object));
    }
    return objects;
}

bool MVObjectContext::save(platform::Error*) {
    if (changed_.empty()) return true;
    auto batch = std::make_shared<MVStoreBatch>();
    batch->entities.resize(parent_.store().model().entities().size());
    for (auto& o : changed_) {
        const int index = entityIndex(o->entity());
        if (o->deleted_) {
            if (!o->inserted_)
                batch->entities[static_cast<size_t>(index)].push_back({o->rowID_, nullptr});
            objects_.erase({index, o->rowID_});
        } else {
            batch->entities[static_cast<size_t>(index)].push_back(
                {o->rowID_, std::make_shared<const std::vector<MVStoredValue>>(o->values_)});
        }
        o->inserted_ = false;
        o->dirty_ = false;
        o->changed_ = false;
    }
    changed_.clear();
    if (!batch->empty()) parent_.addBatch(std::move(batch));
    return true;
}

void MVObjectContext::rollback() {
    for (auto& o : changed_) o->changed_ = false;
    changed_.clear();
    objects_.clear();
}
