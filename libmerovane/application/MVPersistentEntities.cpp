#include "libmerovane/application/MVPersistentEntities.h"

#include "libmerovane/connection/MVApiConnectionVariable.h"
#include "libmerovane/storage/MVPersistentStorage.h"
#include "libmerovane/storage/MVWebCacheResourceObject.h"
#include "libmerovane/storage/MVWebStorageVariable.h"

void MVRegisterPersistentEntities() {
    MVPersistentStorage::registerEntity(MVWebCacheResourceObject::entityDescription());
    MVPersistentStorage::registerEntity(MVApiConnectionVariable::entityDescription());
    MVPersistentStorage::registerEntity(MVWebStorageVariable::entityDescription());
}
