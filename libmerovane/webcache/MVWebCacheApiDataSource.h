#pragma once
// The data source of content that the API server delivers: keys with the scheme
// "mv-api-page" (pages) or "mv-api-data" (data). A load asks the server with the getPage
// command; the answer comes later, when the content commands hand it to setData. There
// is no time-out: a load waits until its content arrives.
//
//   auto source = MVWebCacheApiDataSource::sharedDataSource();
//   source->loadDataForKey("mv-api-page:home", 0, whenAvailable, whenFailed);
//   ...
//   source->setData(bytes, "mv-api-page:home", {{"base-url", "https://shop.example/"}});
//
// Loads of a key already waiting join the waiting request: one getPage goes out and
// the content answers every waiter once. Content that nobody waits for is stored all
// the same. Content without a base URL is stored with lifetime 0, so that the next
// lookup asks the server again.
//
// Thread-safety: loads may come from any thread; the pending requests are guarded by
// the source's lock, and the server command is sent outside it. setData runs on the
// main thread (called elsewhere, it continues there); the cache store and the waiters'
// answers run outside the lock.

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "libmerovane/webcache/MVWebCacheDataSource.h"

class MVWebCacheApiDataSource final : public MVWebCacheDataSource,
                                      public std::enable_shared_from_this<MVWebCacheApiDataSource> {
  public:
    static std::shared_ptr<MVWebCacheApiDataSource> sharedDataSource();

    // 1 for keys whose scheme is "mv-api-page" or "mv-api-data", else 0.
    int priorityForKey(const std::string& key) const override;
    void loadDataForKey(const std::string& key, int64_t flags, WhenAvailable whenAvailable,
                        WhenFailed whenFailed) override;
    std::string className() const override { return "MVWebCacheApiDataSource"; }

    // Server content for a key, from the content commands.
    void setData(const Data& data, const std::string& key, const nlohmann::json& infos);

    // The keys with a waiting request; for tests.
    size_t pendingRequestCount() const;

  private:
    mutable std::mutex mutex_;
    std::map<std::string, std::vector<MVWebCacheDataSourceRequest>> requestsForKey_;
};
