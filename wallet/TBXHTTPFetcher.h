#pragma once
// One HTTP fetch on the main loop over platform URL loading: a GET, or a POST of the
// given bytes, with the request's headers in the order they were set.
//
//   auto fetcher = TBXHTTPFetcher::fetcherWithRequest(request);
//   fetcher->setPostData(bytes);
//   fetcher->beginFetchWithCompletionHandler([](auto data, auto error) { ... });
//
// The handler runs exactly once, on the main loop, unless stopFetching comes first. A
// status of 300 or more is an error of kTBXHTTPFetcherStatusDomain with the status as
// code; the body is still delivered, and a body that reads as a JSON object (an OAuth
// error) is offered in the error's user information under "json". Transport errors keep
// the platform's domain and numbers. With retry enabled, failures to connect, time-outs
// and the statuses 408, 502, 503 and 504 are tried again, a bounded number of times
// with growing pauses on the platform clock. A body larger than kMaximumBodyBytes is
// refused with a log line. Redirects are followed within the request's origin (scheme,
// host and port) only; one elsewhere ends the fetch with kURLErrorRedirectOffOrigin,
// before anything is sent there.

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/URLRequest.h"

namespace platform {
class URLConnection;
}

inline constexpr const char* kTBXHTTPFetcherStatusDomain = "com.tessera.toolbox.HTTPStatus";
inline constexpr const char* kTBXHTTPFetcherErrorJSONKey = "json";

// Signs a request before it goes out; an error ends the fetch with that error.
class TBXFetcherAuthorizationProtocol {
  public:
    virtual ~TBXFetcherAuthorizationProtocol() = default;
    virtual std::optional<platform::Error> authorizeRequest(platform::URLRequest& request) = 0;
};

class TBXHTTPFetcher : public std::enable_shared_from_this<TBXHTTPFetcher> {
  public:
    using Data = std::vector<uint8_t>;
    using CompletionHandler =
        std::function<void(std::optional<Data> data, std::optional<platform::Error> error)>;

    static constexpr size_t kMaximumBodyBytes = 8 * 1024 * 1024;
    static constexpr int kMaximumRetries = 2;
    static constexpr double kFirstRetryDelay = 1.0;
    // The platform's "resource exceeds maximum size".
    static constexpr long kURLErrorDataLengthExceedsMaximum = -1103;
    // The platform's "redirect to non-existent location": a redirect off the origin.
    static constexpr long kURLErrorRedirectOffOrigin = -1010;

    static std::shared_ptr<TBXHTTPFetcher> fetcherWithRequest(platform::URLRequest request);
    ~TBXHTTPFetcher();

    platform::URLRequest& mutableRequest() { return request_; }
    void setAuthorizer(std::shared_ptr<TBXFetcherAuthorizationProtocol> authorizer) {
        authorizer_ = std::move(authorizer);
    }
    const std::shared_ptr<TBXFetcherAuthorizationProtocol>& authorizer() const {
        return authorizer_;
    }
    void setRetryEnabled(bool enabled) { retryEnabled_ = enabled; }
    bool isRetryEnabled() const { return retryEnabled_; }
    // Makes the fetch a POST of these bytes.
    void setPostData(Data data);

    void beginFetchWithCompletionHandler(CompletionHandler handler);
    // Nothing is called after this returns.
    void stopFetching();
    bool isFetching() const { return static_cast<bool>(handler_); }
    // The last response's status, 0 before one arrived.
    int statusCode() const { return statusCode_; }
    int retryCount() const { return retryCount_; }

    // Tests switch retrying off for every fetcher so scripted failures answer at once.
    static void setRetriesAllowed(bool allowed);

  private:
    explicit TBXHTTPFetcher(platform::URLRequest request) : request_(std::move(request)) {}
    void startLoad();
    void scheduleRetry(double delay);
    void finish(std::optional<Data> data, std::optional<platform::Error> error);
    bool shouldRetry(const std::optional<platform::Error>& transportError) const;

    platform::URLRequest request_;
    std::shared_ptr<TBXFetcherAuthorizationProtocol> authorizer_;
    bool retryEnabled_ = false;
    int retryCount_ = 0;
    int statusCode_ = 0;
    Data body_;
    CompletionHandler handler_;
    std::shared_ptr<platform::URLConnection> connection_;
    platform::TimerHandle retryTimer_;
};
