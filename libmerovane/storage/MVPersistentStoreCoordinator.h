#pragma once
// Joins the current model to the store file: adding the store opens (or creates) it for
// one configuration of the model. Built once by MVPersistentStorage at start-up.
// Thread-safe after addPersistentStore.

#include <memory>
#include <string>

class MVObjectModel;
class MVSQLiteStore;
namespace platform {
class Error;
}

class MVPersistentStoreCoordinator {
  public:
    explicit MVPersistentStoreCoordinator(std::shared_ptr<const MVObjectModel> model);
    ~MVPersistentStoreCoordinator();

    const MVObjectModel& managedObjectModel() const { return *model_; }
    const std::shared_ptr<const MVObjectModel>& model() const { return model_; }
    // False with an error when the file cannot be the configuration's store.
    bool addPersistentStore(const std::string& configuration, const std::string& path,
                            platform::Error* error);
    // The added store, or null.
    MVSQLiteStore* store() const { return store_.get(); }

  private:
    std::shared_ptr<const MVObjectModel> model_;
    std::unique_ptr<MVSQLiteStore> store_;
};
