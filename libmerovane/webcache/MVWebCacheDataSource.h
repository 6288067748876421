#pragma once
// Where the web cache fetches a key that it has no usable copy of. Each source says how
// strongly it claims a key; the first source with the highest claim (1 or more) loads it.
// Sources are registered at start-up, in the order that breaks ties:
//
//   MVWebCacheDataSource::registerBuiltInDataSources();        // HTTP, then API
//   MVWebCacheDataSource::registerDataSource(std::make_shared<MyDataSource>());
//   auto source = MVWebCacheDataSource::sourceForKey("https://shop.example/a.css");
//   MVWebCacheDataSource::key("home", MVWebCacheSchemeApiPage);  // "mv-api-page:home"
//
// The registry is thread-safe; a source answers each load exactly once, on a thread of
// its choice, and stores a successful result in the web cache itself (setData).

#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>

#include "libmerovane/bridge/MVWebCacheInterface.h"
#include "platform/foundation/Exception.h"

// Raised by what only a subclass can do.
class MVWebCacheDataSourceNoSubclassException : public platform::Exception {
  public:
    static constexpr const char* kNoSharedInstance =
        "The base class MVWebCacheDataSource has no shared instance.";
    static constexpr const char* kBaseClassCall = "Function may not be called on the base class.";
    explicit MVWebCacheDataSourceNoSubclassException(const char* name)
        : platform::Exception(name, "") {}
};

class MVWebCacheDataSource {
  public:
    using Data = MVWebCacheInterface::Data;
    using WhenAvailable = std::function<void(const Data& data, const nlohmann::json& info)>;
    using WhenFailed = std::function<void(const platform::Error& error)>;

    virtual ~MVWebCacheDataSource() = default;

    // The base has no instance of its own: subclasses answer their own.
    static std::shared_ptr<MVWebCacheDataSource> sharedDataSource();

    // 1 or more claims the key.
    virtual int priorityForKey(const std::string& key) const;
    virtual void loadDataForKey(const std::string& key, int64_t flags, WhenAvailable whenAvailable,
                                WhenFailed whenFailed);
    // The name log lines give the source.
    virtual std::string className() const { return "MVWebCacheDataSource"; }

    // The source that claims the key, or null.
    static std::shared_ptr<MVWebCacheDataSource> sourceForKey(const std::string& key);
    // Adds a source after those registered before; a source registered again stays where
    // it was.
    static void registerDataSource(std::shared_ptr<MVWebCacheDataSource> source);
    // The built-in data sources, in the order that breaks ties: HTTP, then API.
    static void registerBuiltInDataSources();

    // The scheme, ":" and the key, unless the key already holds the scheme and ":".
    static std::string key(std::string_view key, std::string_view scheme);

  protected:
    MVWebCacheDataSource() = default;
};

// One pending load of a source.
struct MVWebCacheDataSourceRequest {
    std::string key;
    int64_t flags = 0;
    MVWebCacheDataSource::WhenAvailable whenAvailable;
    MVWebCacheDataSource::WhenFailed whenFailed;
};
