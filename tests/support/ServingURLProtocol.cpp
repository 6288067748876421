#include "tests/support/ServingURLProtocol.h"

#include <map>
#include <mutex>

#include "platform/foundation/URLProtocol.h"
#include "platform/web/WebURLSchemes.h"

struct ServingURLProtocol::State {
    struct Page {
        std::string mimeType;
        std::string body;
        int status = 200;
    };
    std::string scheme;
    mutable std::mutex mutex;
    std::map<std::string, Page> pages;
    std::vector<platform::URLRequest> requests;
};

namespace {

class ServingProtocol : public platform::URLProtocol {
  public:
    ServingProtocol(platform::URLRequest request,
                    std::shared_ptr<platform::URLProtocolClient> client,
                    std::shared_ptr<ServingURLProtocol::State> state)
        : URLProtocol(std::move(request), std::move(client)), state_(std::move(state)) {}

    void startLoading() override {
        const std::string url = request().url().absoluteString();
        ServingURLProtocol::State::Page page{"text/plain", "not found", 404};
        {
            std::lock_guard lock(state_->mutex);
            state_->requests.push_back(request());
            if (auto it = state_->pages.find(url); it != state_->pages.end()) page = it->second;
        }
        client()->didReceiveResponse(platform::HTTPURLResponse(
            request().url(), page.status, "HTTP/1.1", {{"Content-Type", page.mimeType}}));
        client()->didLoadData(std::vector<uint8_t>(page.body.begin(), page.body.end()));
        client()->didFinishLoading();
    }
    void stopLoading() override {}

  private:
    std::shared_ptr<ServingURLProtocol::State> state_;
};

}  // namespace

class ServingFactory : public platform::URLProtocolFactory {
  public:
    explicit ServingFactory(std::shared_ptr<ServingURLProtocol::State> state)
        : state_(std::move(state)) {}
    bool canInitWithRequest(const platform::URLRequest& request) const override {
        return request.url().schemeLowercased() == state_->scheme;
    }
    std::shared_ptr<platform::URLProtocol> create(
        const platform::URLRequest& request,
        std::shared_ptr<platform::URLProtocolClient> client) const override {
        return std::make_shared<ServingProtocol>(request, std::move(client), state_);
    }

  private:
    std::shared_ptr<ServingURLProtocol::State> state_;
};

ServingURLProtocol::ServingURLProtocol(std::string scheme) : state_(std::make_shared<State>()) {
    state_->scheme = std::move(scheme);
    factory_ = std::make_shared<ServingFactory>(state_);
    platform::URLProtocol::registerClass(factory_);
    if (state_->scheme != "http" && state_->scheme != "https")
        platform::WebURLSchemes::registerScheme(state_->scheme);
}

ServingURLProtocol::~ServingURLProtocol() {
    platform::URLProtocol::unregisterClass(factory_);
}

void ServingURLProtocol::serve(const std::string& url, std::string mimeType, std::string body,
                               int status) {
    std::lock_guard lock(state_->mutex);
    state_->pages[url] = State::Page{std::move(mimeType), std::move(body), status};
}

std::vector<platform::URLRequest> ServingURLProtocol::requests() const {
    std::lock_guard lock(state_->mutex);
    return state_->requests;
}

size_t ServingURLProtocol::requestCount(const std::string& url) const {
    std::lock_guard lock(state_->mutex);
    size_t n = 0;
    for (const auto& r : state_->requests) n += r.url().absoluteString() == url;
    return n;
}
