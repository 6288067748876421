#pragma once
// What persistent storage and its migration need of the library application object:
// its caches folder, the removal of the cached boot script, and its resource bundle.
// The library application implements it and registers itself with
// MVPersistentStorage::setHost before the first sharedStorage(); tests register a fake.

#include <string>

class MVPersistentStorageHost {
  public:
    virtual ~MVPersistentStorageHost() = default;
    // The library's folder in the application's Caches directory.
    virtual std::string pathForCaches() = 0;
    // Drops the boot script cached for the next start.
    virtual void removeCachedBootApp() = 0;
    // The folder of the library's resource bundle.
    virtual std::string libmerovaneBundlePath() = 0;
};
