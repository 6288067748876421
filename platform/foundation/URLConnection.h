#pragma once
// An asynchronous URL load whose callbacks run on the caller's run loop.
//
//   auto connection = platform::URLConnection::start(request, delegate, platform::RunLoop::main());
//   ...
//   connection->cancel();   // nothing is called after this returns
//
// Registered URL protocols are asked first (URLProtocol.h); otherwise http and https go
// to the network through one background thread, "URL loading". Callbacks, in order: for
// each redirect willSendRequest (answer a request, possibly changed, to follow it, or
// none to receive the 3xx response and its body as the final answer), then
// didReceiveResponse, didReceiveData for each chunk (content decoding of gzip and deflate
// is done), and exactly one of didFinishLoading or didFailWithError, unless cancelled.
// Errors carry the platform's URL error codes (URLErrors.h), for example -1001 when no
// progress came for the request's timeout interval, measured on the platform clock.
// Cookies are sent from and stored into HTTPCookieStorage::shared() unless the request
// switches cookie handling off; a request that carries its own "Cookie" field keeps it.
//
// The load goes on when the handle returned by start is dropped; the delegate is held
// until the load ends or is cancelled, and released on the callback loop. The callback
// loop must outlive the load, or the load must be cancelled first.
// Thread-safety: start may be called on any thread; cancel belongs to the callback
// loop's thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/HTTPURLResponse.h"
#include "platform/foundation/URLRequest.h"

namespace platform {

class RunLoop;

class URLConnectionDelegate {
  public:
    virtual ~URLConnectionDelegate() = default;
    // Follows the redirect unchanged unless overridden.
    virtual std::optional<URLRequest> willSendRequest(URLRequest request,
                                                      const HTTPURLResponse& redirectResponse) {
        return request;
    }
    virtual void didReceiveResponse(const HTTPURLResponse& response) {}
    virtual void didReceiveData(const std::vector<uint8_t>& data) {}
    virtual void didFinishLoading() {}
    virtual void didFailWithError(const Error& error) {}
};

// The callbacks of a delegate as functions; any may be left empty.
struct URLConnectionCallbacks {
    std::function<std::optional<URLRequest>(URLRequest, const HTTPURLResponse&)> willSendRequest;
    std::function<void(const HTTPURLResponse&)> didReceiveResponse;
    std::function<void(const std::vector<uint8_t>&)> didReceiveData;
    std::function<void()> didFinishLoading;
    std::function<void(const Error&)> didFailWithError;
};

class URLConnection {
  public:
    // Redirects followed in one load before it fails with kURLErrorHTTPTooManyRedirects.
    static constexpr int kMaximumRedirects = 16;

    static std::shared_ptr<URLConnection> start(URLRequest request,
                                                std::shared_ptr<URLConnectionDelegate> delegate,
                                                RunLoop& callbackLoop);
    static std::shared_ptr<URLConnection> start(URLRequest request,
                                                URLConnectionCallbacks callbacks,
                                                RunLoop& callbackLoop);

    ~URLConnection();
    URLConnection(const URLConnection&) = delete;
    URLConnection& operator=(const URLConnection&) = delete;

    void cancel();

    const URLRequest& originalRequest() const;
    // The request after the redirects followed so far (callback loop's thread).
    URLRequest currentRequest() const;

    struct Impl;
    explicit URLConnection(std::shared_ptr<Impl> impl);

  private:
    std::shared_ptr<Impl> impl_;
};

}  // namespace platform
