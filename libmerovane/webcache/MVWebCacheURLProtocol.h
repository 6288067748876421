#pragma once
// The URL protocol through which the web views' requests reach the web cache. The web
// cache registers it when it is made:
//
//   MVWebCacheURLProtocol::registerProtocol();
//
// It takes every request that is not marked to pass (the ignore flag), not of the
// schemes "data", "file", "mvapi" or "mvcmd" (in any case), and not a video playback
// address. A POST, or a request carrying "X-Requested-With" or "Authorization", goes to
// the network through a URL connection of its own; everything else is answered from the
// web cache: the lookup by the request's URL, replayed as an HTTP response that forbids
// further caching, its body in slices of at most 4096 bytes.
//
// Loads running longer than 15 s are listed in a warning every 5 s while the
// connection-loss monitor allows connections.
//
// Threads: startLoading and stopLoading run on the URL-loading thread; every answer to
// the client is made on the run loop startLoading ran on, and none after stopLoading.
// The table of running loads is guarded by a lock of the class.

#include <atomic>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <string>

#include "platform/foundation/RunLoop.h"
#include "platform/foundation/URLProtocol.h"

namespace platform {
class URLConnection;
}

inline constexpr const char* MVHTTPHeaderFieldCacheLocalURL = "X-Cache-Local-URL";
inline constexpr const char* MVHTTPHeaderFieldCacheControl = "Cache-Control";
inline constexpr const char* MVHTTPHeaderFieldContentType = "Content-Type";

class MVWebCacheURLProtocol final : public platform::URLProtocol,
                                    public std::enable_shared_from_this<MVWebCacheURLProtocol> {
  public:
    static constexpr double kLoadingCheckInterval = 5.0;
    static constexpr double kLongLoadingTime = 15.0;
    static constexpr size_t kSliceSize = 4096;
    static constexpr double kSlicePause = 0.00001;
    static constexpr const char* kVideoPlaybackPath = "/videoplayback";
    static constexpr const char* kDefaultVideoPlaybackHost = "video.example.com";
    static constexpr const char* kLongLoadingWarning =
        "MVWebCacheURLProtocol loading some files takes pretty long:{}";

    // Registers the class with URL loading (again: moves it to the front).
    static void registerProtocol();
    // The host whose playback addresses (host + "/videoplayback") pass.
    static void setVideoPlaybackHost(std::string host);

    static bool canInitWithRequest(const platform::URLRequest& request);
    static platform::URLRequest canonicalRequestForRequest(const platform::URLRequest& request) {
        return request;
    }
    // Whether the request goes to the network rather than to the web cache.
    static bool takesNetworkPath(const platform::URLRequest& request);
    // The response the cache path answers for `request` with an entry's info dictionary.
    static platform::HTTPURLResponse responseForCachedInfo(const platform::URLRequest& request,
                                                           const nlohmann::json& info);
    // The slow-load report; runs every kLoadingCheckInterval seconds once a load started.
    static void doLoadingCheck();

    MVWebCacheURLProtocol(platform::URLRequest request,
                          std::shared_ptr<platform::URLProtocolClient> client);
    ~MVWebCacheURLProtocol() override;

    void startLoading() override;
    void stopLoading() override;

    // The request as prepared: shared cookies, the library's user agent, the ignore flag.
    const platform::URLRequest& preparedRequest() const { return prepared_; }
    const std::string& urlString() const { return urlString_; }

  private:
    class NetworkDelegate;

    void startLoadingWithWebCache();
    void startLoadingWithNSURLConnection();
    // Runs `fn` on the loading run loop unless the load was stopped by then.
    void onLoadingLoop(std::function<void(MVWebCacheURLProtocol&)> fn);
    void answerFromCache(const std::shared_ptr<const std::vector<uint8_t>>& data,
                         const nlohmann::json& info);
    void streamClient(std::shared_ptr<const std::vector<uint8_t>> data, size_t position);
    void leaveLoadingCheck();

    platform::URLRequest prepared_;
    std::string urlString_;
    platform::RunLoop* loop_ = nullptr;
    std::atomic<bool> stopped_{false};
    std::shared_ptr<platform::URLConnection> connection_;
};
