#include "platform/foundation/URLConnection.h"

#include <atomic>
#include <mutex>

#include "platform/foundation/RunLoop.h"
#include "platform/foundation/URLErrors.h"
#include "platform/foundation/URLLoader.h"

namespace platform {
namespace {

std::atomic<uint64_t> gNextConnectionId{1};

class CallbackDelegate final : public URLConnectionDelegate {
  public:
    explicit CallbackDelegate(URLConnectionCallbacks callbacks)
        : callbacks_(std::move(callbacks)) {}

    std::optional<URLRequest> willSendRequest(URLRequest request,
                                              const HTTPURLResponse& response) override {
        if (callbacks_.willSendRequest)
            return callbacks_.willSendRequest(std::move(request), response);
        return request;
    }
    void didReceiveResponse(const HTTPURLResponse& response) override {
        if (callbacks_.didReceiveResponse) callbacks_.didReceiveResponse(response);
    }
    void didReceiveData(const std::vector<uint8_t>& data) override {
        if (callbacks_.didReceiveData) callbacks_.didReceiveData(data);
    }
    void didFinishLoading() override {
        if (callbacks_.didFinishLoading) callbacks_.didFinishLoading();
    }
    void didFailWithError(const Error& error) override {
        if (callbacks_.didFailWithError) callbacks_.didFailWithError(error);
    }

  private:
    URLConnectionCallbacks callbacks_;
};

}  // namespace

struct URLConnection::Impl final : detail::LoadSink,
                                   std::enable_shared_from_this<URLConnection::Impl> {
    Impl(URLRequest request, std::shared_ptr<URLConnectionDelegate> d, RunLoop& callbackLoop)
        : id(gNextConnectionId++),
          loop(&callbackLoop),
          original(request),
          current(std::move(request)),
          delegate(std::move(d)) {}

    const uint64_t id;
    RunLoop* const loop;
    const URLRequest original;

    // Callback loop's thread only.
    URLRequest current;
    std::shared_ptr<URLConnectionDelegate> delegate;
    uint64_t generation = 0;
    int redirects = 0;
    bool ended = false;
    TimerHandle timeout;

    // Guards posting, so that nothing reaches the loop once the load has ended there.
    std::mutex postMutex;
    bool open = true;

    void post(Task fn) {
        std::lock_guard lock(postMutex);
        if (open) loop->post(std::move(fn));
    }

    bool live(uint64_t g) const { return !ended && g == generation; }

    void restartTimeout() {
        timeout.cancel();
        const double seconds = current.timeoutInterval();
        if (seconds <= 0) return;
        std::weak_ptr<Impl> weak = weak_from_this();
        timeout = loop->postAfter(seconds, [weak] {
            if (auto self = weak.lock()) self->timedOut();
        });
    }

    // Ends the connection; answers the delegate for a last call.
    std::shared_ptr<URLConnectionDelegate> end() {
        ended = true;
        {
            std::lock_guard lock(postMutex);
            open = false;
        }
        timeout.cancel();
        detail::URLLoader::shared().stop(id);
        return std::move(delegate);
    }

    void timedOut() {
        if (ended) return;
        auto d = end();
        d->didFailWithError(makeURLError(kURLErrorTimedOut, current.url().absoluteString()));
    }

    void cancel() {
        if (ended) return;
        end();
    }

    // detail::LoadSink: any thread; each answer continues on the callback loop.

    void loadDidReceiveResponse(uint64_t g, HTTPURLResponse response) override {
        post([self = shared_from_this(), g, response = std::move(response)] {
            if (!self->live(g)) return;
            self->restartTimeout();
            auto d = self->delegate;
            d->didReceiveResponse(response);
        });
    }

    void loadDidReceiveData(uint64_t g, std::vector<uint8_t> data) override {
        post([self = shared_from_this(), g, data = std::move(data)] {
            if (!self->live(g)) return;
            self->restartTimeout();
            auto d = self->delegate;
            d->didReceiveData(data);
        });
    }

    void loadDidFinish(uint64_t g) override {
        post([self = shared_from_this(), g] {
            if (!self->live(g)) return;
            auto d = self->end();
            d->didFinishLoading();
        });
    }

    void loadDidFail(uint64_t g, Error error) override {
        post([self = shared_from_this(), g, error = std::move(error)] {
            if (!self->live(g)) return;
            auto d = self->end();
            d->didFailWithError(error);
        });
    }

    void loadWasRedirected(uint64_t g, URLRequest request, HTTPURLResponse response) override {
        post([self = shared_from_this(), g, request = std::move(request),
              response = std::move(response)]() mutable {
            if (!self->live(g)) return;
            self->restartTimeout();
            auto d = self->delegate;
            std::optional<URLRequest> next = d->willSendRequest(std::move(request), response);
            if (!self->live(g)) return;  // cancelled from the callback
            if (!next) {
                detail::URLLoader::shared().refuseRedirect(self->id, g);
                return;
            }
            if (++self->redirects > kMaximumRedirects) {
                auto last = self->end();
                last->didFailWithError(
                    makeURLError(kURLErrorHTTPTooManyRedirects, next->url().absoluteString()));
                return;
            }
            ++self->generation;
            self->current = *next;
            self->restartTimeout();
            detail::URLLoader::shared().start(self, self->id, self->generation, std::move(*next));
        });
    }

    void loadWasAbandoned() override {
        // The delegate is released on its own loop.
        post([self = shared_from_this()] {
            if (!self->ended) self->end();
        });
    }
};

URLConnection::URLConnection(std::shared_ptr<Impl> impl) : impl_(std::move(impl)) {}

URLConnection::~URLConnection() = default;

std::shared_ptr<URLConnection> URLConnection::start(URLRequest request,
                                                    std::shared_ptr<URLConnectionDelegate> delegate,
                                                    RunLoop& callbackLoop) {
    if (!delegate) delegate = std::make_shared<URLConnectionDelegate>();
    auto impl = std::make_shared<Impl>(request, std::move(delegate), callbackLoop);
    // Armed before the load can answer, so that only the callback loop touches it later.
    impl->restartTimeout();
    detail::URLLoader::shared().start(impl, impl->id, 0, std::move(request));
    return std::make_shared<URLConnection>(impl);
}

std::shared_ptr<URLConnection> URLConnection::start(URLRequest request,
                                                    URLConnectionCallbacks callbacks,
                                                    RunLoop& callbackLoop) {
    return start(std::move(request), std::make_shared<CallbackDelegate>(std::move(callbacks)),
                 callbackLoop);
}

void URLConnection::cancel() {
    impl_->cancel();
}

const URLRequest& URLConnection::originalRequest() const {
    return impl_->original;
}

URLRequest URLConnection::currentRequest() const {
    return impl_->current;
}

}  // namespace platform
