#include "libmerovane/webcache/MVWebCacheDataSource.h"

#include <mutex>
#include <vector>

#include "platform/foundation/SharedInstances.h"

namespace {
std::mutex gMutex;
std::vector<std::shared_ptr<MVWebCacheDataSource>>* gSources = nullptr;  // never destroyed

std::vector<std::shared_ptr<MVWebCacheDataSource>>& sources() {
    if (!gSources) {
        gSources = new std::vector<std::shared_ptr<MVWebCacheDataSource>>();
        platform::registerSharedInstanceReset("MVWebCacheDataSource", [] {
            std::lock_guard lock(gMutex);
            gSources->clear();
        });
    }
    return *gSources;
}
}  // namespace

std::shared_ptr<MVWebCacheDataSource> MVWebCacheDataSource::sourceForKey(const std::string& key) {
    std::vector<std::shared_ptr<MVWebCacheDataSource>> all;
    {
        std::lock_guard lock(gMutex);
        all = sources();
    }
    std::shared_ptr<MVWebCacheDataSource> winner;
    int best = 0;
    for (const auto& source : all) {
        const int priority = source->priorityForKey(key);
        if (priority >= 1 && priority > best) {
            best = priority;
            winner = source;
        }
    }
    return winner;
}

void MVWebCacheDataSource::registerDataSource(std::shared_ptr<MVWebCacheDataSource> source) {
    if (!source) return;
    std::lock_guard lock(gMutex);
    sources().push_back(std::move(source));
}
