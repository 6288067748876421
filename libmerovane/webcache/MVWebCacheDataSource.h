#pragma once
// Where the web cache fetches a key that it has no usable copy of. Each source says how
// strongly it claims a key; the first source with the highest claim (1 or more) loads it.
// Sources are registered at start-up:
//
//   MVWebCacheDataSource::registerDataSource(std::make_shared<MyDataSource>());
//   auto source = MVWebCacheDataSource::sourceForKey("https://shop.example/a.css");
//
// The registry is thread-safe; a source answers each load exactly once, on a thread of
// its choice, and stores a successful result in the web cache itself (setData).

#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <string>

#include "libmerovane/bridge/MVWebCacheInterface.h"

class MVWebCacheDataSource {
  public:
    using Data = MVWebCacheInterface::Data;
    using WhenAvailable = std::function<void(const Data& data, const nlohmann::json& info)>;
    using WhenFailed = std::function<void(const platform::Error& error)>;

    virtual ~MVWebCacheDataSource() = default;

    // 1 or more claims the key.
    virtual int priorityForKey(const std::string& key) const = 0;
    virtual void loadDataForKey(const std::string& key, int64_t flags, WhenAvailable whenAvailable,
                                WhenFailed whenFailed) = 0;

    // The source that claims the key, or null.
    static std::shared_ptr<MVWebCacheDataSource> sourceForKey(const std::string& key);
    static void registerDataSource(std::shared_ptr<MVWebCacheDataSource> source);
};
