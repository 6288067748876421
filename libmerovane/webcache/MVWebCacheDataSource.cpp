#include "libmerovane/webcache/MVWebCacheDataSource.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "libmerovane/bridge/MVWebCacheKeys.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/webcache/MVWebCacheApiDataSource.h"
#include "libmerovane/webcache/MVWebCacheHTTPDataSource.h"
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

std::shared_ptr<MVWebCacheDataSource> MVWebCacheDataSource::sharedDataSource() {
    throw MVWebCacheDataSourceNoSubclassException(
        MVWebCacheDataSourceNoSubclassException::kNoSharedInstance);
}

int MVWebCacheDataSource::priorityForKey(const std::string&) const {
    throw MVWebCacheDataSourceNoSubclassException(
        MVWebCacheDataSourceNoSubclassException::kBaseClassCall);
}

void MVWebCacheDataSource::loadDataForKey(const std::string&, int64_t, WhenAvailable, WhenFailed) {
    throw MVWebCacheDataSourceNoSubclassException(
        MVWebCacheDataSourceNoSubclassException::kBaseClassCall);
}

std::shared_ptr<MVWebCacheDataSource> MVWebCacheDataSource::sourceForKey(const std::string& key) {
    std::vector<std::shared_ptr<MVWebCacheDataSource>> all;
    {
        std::lock_guard lock(gMutex);
        all = sources();
    }
    std::vector<std::pair<int, std::shared_ptr<MVWebCacheDataSource>>> candidates;
    for (const auto& source : all) {
        const int priority = source->priorityForKey(key);
        if (priority >= 1) candidates.emplace_back(priority, source);
    }
    if (candidates.empty()) return nullptr;
    // Highest first; among equal claims the first registered stays first.
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    if (candidates.size() >= 2) {
        std::string list;
        for (const auto& [priority, source] : candidates) {
            if (!list.empty()) list += "\n";
            list += fmt::format("\t[{}] {}", priority, source->className());
        }
        MVLogVerbose("MVWebCacheDataSource found multiple possible classes for key: {}\n{}",
                     platform::log::escaped(key), list);
    }
    return candidates.front().second;
}

void MVWebCacheDataSource::registerDataSource(std::shared_ptr<MVWebCacheDataSource> source) {
    if (!source) return;
    std::lock_guard lock(gMutex);
    auto& all = sources();
    if (std::find(all.begin(), all.end(), source) != all.end()) return;
    all.push_back(std::move(source));
}

void MVWebCacheDataSource::registerBuiltInDataSources() {
    registerDataSource(MVWebCacheHTTPDataSource::sharedDataSource());
    registerDataSource(MVWebCacheApiDataSource::sharedDataSource());
}

std::string MVWebCacheDataSource::key(std::string_view key, std::string_view scheme) {
    return MVWebCacheKeyWithScheme(key, scheme);
}
