#pragma once
// The process's HTTP response cache settings: capacities and a folder. The library keeps
// no HTTP cache of its own and installs one of capacity 0; nothing is stored here.
//
//   platform::URLCache::setShared(std::make_shared<platform::URLCache>(0, 0, path));
//   platform::URLCache::shared()->removeAllCachedResponses();
//
// Thread-safe.

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

class URLCache {
  public:
    URLCache(uint64_t memoryCapacity, uint64_t diskCapacity, std::string diskPath);

    uint64_t memoryCapacity() const { return memoryCapacity_; }
    uint64_t diskCapacity() const { return diskCapacity_; }
    const std::string& diskPath() const { return diskPath_; }
    // Empties the cache's folder (the folder itself stays).
    void removeAllCachedResponses();

    // The installed cache; a default one (capacity 0, no folder) until one is set.
    static std::shared_ptr<URLCache> shared();
    static void setShared(std::shared_ptr<URLCache> cache);

  private:
    const uint64_t memoryCapacity_;
    const uint64_t diskCapacity_;
    const std::string diskPath_;
};

}  // namespace platform
