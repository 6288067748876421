#include "libmerovane/webcache/MVWebCacheApiDataSource.h"

#include <nlohmann/json.hpp>

#include "libmerovane/bridge/MVCommand.h"
#include "libmerovane/bridge/MVWebCacheKeys.h"
#include "libmerovane/connection/MVApiConnection.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/webcache/MVWebCache.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/foundation/Thread.h"
#include "platform/foundation/URL.h"

namespace json = platform::json;
using platform::log::escaped;

namespace {

std::mutex gSharedMutex;
std::shared_ptr<MVWebCacheApiDataSource>* gShared = nullptr;  // never destroyed

// The scheme of a key that parses as a URL; empty otherwise.
std::string schemeOfKey(const std::string& key) {
    auto url = platform::URL::parse(key);
    return url ? url->scheme() : std::string();
}

}  // namespace

std::shared_ptr<MVWebCacheApiDataSource> MVWebCacheApiDataSource::sharedDataSource() {
    std::lock_guard lock(gSharedMutex);
    if (!gShared) {
        gShared = new std::shared_ptr<MVWebCacheApiDataSource>();
        platform::registerSharedInstanceReset("MVWebCacheApiDataSource", [] {
            std::lock_guard inner(gSharedMutex);
            gShared->reset();
        });
    }
    if (!*gShared) *gShared = std::make_shared<MVWebCacheApiDataSource>();
    return *gShared;
}

int MVWebCacheApiDataSource::priorityForKey(const std::string& key) const {
    const std::string scheme = schemeOfKey(key);
    return scheme == MVWebCacheSchemeApiPage || scheme == MVWebCacheSchemeApiData ? 1 : 0;
}

void MVWebCacheApiDataSource::loadDataForKey(const std::string& key, int64_t flags,
                                             WhenAvailable whenAvailable, WhenFailed whenFailed) {
    bool joined = false;
    {
        std::lock_guard lock(mutex_);
        auto& requests = requestsForKey_[key];
        // A key already asked for waits for the same answer: asking again would only
        // bring the content twice.
        joined = !requests.empty();
        requests.push_back({key, flags, std::move(whenAvailable), std::move(whenFailed)});
    }
    if (joined) return;
    const std::string scheme = schemeOfKey(key);
    if (scheme != MVWebCacheSchemeApiPage && scheme != MVWebCacheSchemeApiData) return;
    MVCommand getPage;
    getPage.setName("getPage");
    getPage.setParameters(nlohmann::json{{"pageId", key.substr(scheme.size() + 1)}});
    MVApiConnection::sharedConnection().sendCommands({getPage});
}

void MVWebCacheApiDataSource::setData(const Data& data, const std::string& key,
                                      const nlohmann::json& infos) {
    if (!platform::isMainThread()) {
        platform::RunLoop::main().post(
            [self = shared_from_this(), data, key, infos] { self->setData(data, key, infos); });
        return;
    }
    nlohmann::json info = infos.is_object() ? infos : nlohmann::json::object();
    if (json::stringValue(info, MVWebCacheDataInfoBaseUrl).value_or("").empty()) {
        info[MVWebCacheDataInfoMaximumLifetime] = 0;
        MVLogWarn("MVWebCacheApiDataSource<{}> has zero length baseUrl", escaped(key));
    }
    std::vector<MVWebCacheDataSourceRequest> requests;
    {
        std::lock_guard lock(mutex_);
        auto it = requestsForKey_.find(key);
        if (it != requestsForKey_.end()) {
            requests = std::move(it->second);
            requestsForKey_.erase(it);
        }
    }
    MVWebCache::sharedCache().setData(data, key, info);
    for (const auto& request : requests) {
        if (request.whenAvailable) request.whenAvailable(data, info);
    }
}

size_t MVWebCacheApiDataSource::pendingRequestCount() const {
    std::lock_guard lock(mutex_);
    return requestsForKey_.size();
}
