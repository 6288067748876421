#pragma once
// URL protocols answer requests in place of the network. URL loading asks the
// registered protocol classes, latest registration first, whether one takes a request;
// the first that does gets an instance for that load, and what it reports to its client
// reaches the connection's delegate on the caller's run loop exactly as network
// answers do.
//
//   class PageProtocol : public platform::URLProtocol {
//   public:
//       using URLProtocol::URLProtocol;
//       static bool canInitWithRequest(const platform::URLRequest& r) { return r.url().scheme() ==
//       "x"; } void startLoading() override { client()->didReceiveResponse(...); ... } void
//       stopLoading() override {}
//   };
//   auto cls = std::make_shared<platform::URLProtocolClass<PageProtocol>>();
//   platform::URLProtocol::registerClass(cls);
//
// Threads: canInitWithRequest, the factory, startLoading and stopLoading run on the
// URL-loading thread ("URL loading"), whose run loop is RunLoop::current() there. The
// client may be called from any thread. stopLoading is called once when the load ends
// for any reason (finished, failed, cancelled, timed out, redirected elsewhere); client
// calls after that are ignored. A redirect reported with wasRedirectedToRequest that the
// delegate follows ends this load and starts one for the new request; one it refuses
// leaves the protocol to go on and deliver the redirect response itself.
// The registry is thread-safe.

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/HTTPURLResponse.h"
#include "platform/foundation/URLRequest.h"

namespace platform {

class URLProtocolClient {
  public:
    virtual ~URLProtocolClient() = default;
    virtual void didReceiveResponse(const HTTPURLResponse& response) = 0;
    virtual void didLoadData(std::vector<uint8_t> data) = 0;
    virtual void didFinishLoading() = 0;
    virtual void didFailWithError(const Error& error) = 0;
    virtual void wasRedirectedToRequest(const URLRequest& request,
                                        const HTTPURLResponse& redirectResponse) = 0;
};

class URLProtocol;

// A registered protocol class: decides whether it takes a request and makes instances.
class URLProtocolFactory {
  public:
    virtual ~URLProtocolFactory() = default;
    virtual bool canInitWithRequest(const URLRequest& request) const = 0;
    virtual std::shared_ptr<URLProtocol> create(
        const URLRequest& request, std::shared_ptr<URLProtocolClient> client) const = 0;
};

class URLProtocol {
  public:
    URLProtocol(URLRequest request, std::shared_ptr<URLProtocolClient> client)
        : request_(std::move(request)), client_(std::move(client)) {}
    virtual ~URLProtocol() = default;

    virtual void startLoading() = 0;
    virtual void stopLoading() = 0;

    const URLRequest& request() const { return request_; }
    const std::shared_ptr<URLProtocolClient>& client() const { return client_; }

    // Registering a class again moves it to the front.
    static void registerClass(std::shared_ptr<URLProtocolFactory> factory);
    static void unregisterClass(const std::shared_ptr<URLProtocolFactory>& factory);
    // The first registered class, latest first, that takes the request; null for none.
    static std::shared_ptr<URLProtocolFactory> factoryForRequest(const URLRequest& request);

  private:
    URLRequest request_;
    std::shared_ptr<URLProtocolClient> client_;
};

// The factory of a protocol type P with `static bool canInitWithRequest(const URLRequest&)`
// and a constructor (URLRequest, std::shared_ptr<URLProtocolClient>).
template <class P>
class URLProtocolClass final : public URLProtocolFactory {
  public:
    bool canInitWithRequest(const URLRequest& request) const override {
        return P::canInitWithRequest(request);
    }
    std::shared_ptr<URLProtocol> create(const URLRequest& request,
                                        std::shared_ptr<URLProtocolClient> client) const override {
        return std::make_shared<P>(request, std::move(client));
    }
};

}  // namespace platform
