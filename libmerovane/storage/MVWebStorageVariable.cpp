#include "libmerovane/storage/MVWebStorageVariable.h"

#include "libmerovane/storage/MVObjectContext.h"
#include "libmerovane/storage/MVObjectModel.h"
#include "libmerovane/storage/MVPersistentStorage.h"

const MVEntityDescription& MVWebStorageVariable::entityDescription() {
    static const auto* entity =
        new MVEntityDescription("MVWebStorageVariable",
                                {{"id", MVAttributeType::String},
                                 {"creationDate", MVAttributeType::Date},
                                 {"timeoutInterval", MVAttributeType::Double},
                                 {"dataValue", MVAttributeType::Transformable}},
                                &MVWebStorageVariable::make);
    return *entity;
}

std::shared_ptr<MVPersistentObject> MVWebStorageVariable::make() {
    return std::shared_ptr<MVPersistentObject>(new MVWebStorageVariable());
}

void MVWebStorageVariable::cleanup() {
    auto& storage = MVPersistentStorage::sharedStorage();
    storage.lockedAccess([&] {
        const auto entries = dbObjectsWithPredicate(MVPredicate());
        const auto now = platform::Date::now();
        for (auto& entry : entries) {
            const double timeout = entry->timeoutInterval().value_or(0);
            if (timeout <= 0) continue;
            const auto created = entry->creationDate();
            // An entry without a creation date has no age to judge; it stays.
            if (created && now.timeIntervalSince(*created) > timeout) entry->deleteFromStorage();
        }
        storage.managedObjectContext()->processPendingChanges();
    });
}
