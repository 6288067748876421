#pragma once
// A thread's working context under persistent storage's disc-writing context: the
// objects it fetched or made (one object per row), and its unsaved changes.
//
// Fetches see the store, then the changes saved into the parent that have not reached
// the disc yet, then this context's own changes. save() hands the changes to the
// parent, where other threads see them at once; the parent writes them to disc later.
// Confined to the thread that made it (MVPersistentStorage makes one per thread for
// the outermost locked access).

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "libmerovane/storage/MVPredicate.h"

class MVPersistentObject;
class MVDiscWritingContext;
class MVEntityDescription;
namespace platform {
class Error;
}

class MVObjectContext : public std::enable_shared_from_this<MVObjectContext> {
  public:
    explicit MVObjectContext(MVDiscWritingContext& parent);
    ~MVObjectContext();

    std::shared_ptr<MVPersistentObject> insertNewObject(const MVEntityDescription& entity);
    void deleteObject(MVPersistentObject& object);
    // Null when the store failed.
    std::optional<std::vector<std::shared_ptr<MVPersistentObject>>> executeFetch(
        const MVEntityDescription& entity, const MVPredicate* predicate,
        const MVSortDescriptors& sortedBy, size_t offset, size_t limit);
    bool hasChanges() const { return !changed_.empty(); }
    // Deletions and insertions already show in fetches; nothing waits.
    void processPendingChanges() {}
    // Hands the changes to the parent.
    bool save(platform::Error* error);
    // Forgets the changes.
    void rollback();

    // Called by an object of this context when one of its values changed.
    void objectDidChange(MVPersistentObject& object);
    MVDiscWritingContext& parent() { return parent_; }

  private:
    using Key = std::pair<int, int64_t>;  // entity position, row id
    int entityIndex(const MVEntityDescription& entity) const;
    std::shared_ptr<MVPersistentObject> registered(int entity, int64_t rowID) const;

    MVDiscWritingContext& parent_;
    std::map<Key, std::shared_ptr<MVPersistentObject>> objects_;
    std::vector<std::shared_ptr<MVPersistentObject>> changed_;  // in order of their first change
};
