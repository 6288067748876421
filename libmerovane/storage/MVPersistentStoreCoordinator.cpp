#include "libmerovane/storage/MVPersistentStoreCoordinator.h"

#include "libmerovane/storage/MVObjectModel.h"
#include "libmerovane/storage/MVSQLiteStore.h"
#include "platform/foundation/Error.h"

MVPersistentStoreCoordinator::MVPersistentStoreCoordinator(
    std::shared_ptr<const MVObjectModel> model)
    : model_(std::move(model)) {}

MVPersistentStoreCoordinator::~MVPersistentStoreCoordinator() = default;

bool MVPersistentStoreCoordinator::addPersistentStore(const std::string& configuration,
                                                      const std::string& path,
                                                      platform::Error* error) {
    store_ = MVSQLiteStore::open(path, model_, configuration, error);
    return store_ != nullptr;
}
