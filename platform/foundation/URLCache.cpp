#include "platform/foundation/URLCache.h"

#include <mutex>

#include "platform/foundation/FileManager.h"
#include "platform/foundation/SharedInstances.h"

namespace platform {

namespace {
std::mutex gMutex;
std::shared_ptr<URLCache>* gShared = nullptr;  // never destroyed
}  // namespace

URLCache::URLCache(uint64_t memoryCapacity, uint64_t diskCapacity, std::string diskPath)
    : memoryCapacity_(memoryCapacity),
      diskCapacity_(diskCapacity),
      diskPath_(std::move(diskPath)) {}

void URLCache::removeAllCachedResponses() {
    if (diskPath_.empty()) return;
    auto& fm = FileManager::defaultManager();
    const auto names = fm.contentsOfDirectory(diskPath_);
    if (!names) return;
    for (const auto& name : *names) fm.removeItem(diskPath_ + "/" + name);
}

std::shared_ptr<URLCache> URLCache::shared() {
    std::lock_guard lock(gMutex);
    if (!gShared) {
        gShared = new std::shared_ptr<URLCache>();
        registerSharedInstanceReset("URLCache", [] {
            std::lock_guard inner(gMutex);
            gShared->reset();
        });
    }
    if (!*gShared) *gShared = std::make_shared<URLCache>(0, 0, std::string());
    return *gShared;
}

void URLCache::setShared(std::shared_ptr<URLCache> cache) {
    shared();
    std::lock_guard lock(gMutex);
    *gShared = std::move(cache);
}

}  // namespace platform
