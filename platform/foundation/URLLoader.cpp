#include "platform/foundation/URLLoader.h"

#include <curl/curl.h>
#include <openssl/err.h>
#include <poll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/HTTPCookie.h"
#include "platform/foundation/HTTPCookieStorage.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/OpenSSLSetup.h"
#include "platform/foundation/OpenSSLSupport.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/foundation/TextUtilities.h"
#include "platform/foundation/Thread.h"
#include "platform/foundation/URLErrors.h"
#include "platform/foundation/URLLoadingTestTrust.h"
#include "platform/foundation/URLProtocol.h"
#include "platform/foundation/URLRedirectHead.h"

namespace platform::detail {
namespace {

bool isRedirectStatus(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool sameOrigin(const URL& a, const URL& b) {
    return a.schemeLowercased() == b.schemeLowercased() && a.host() == b.host() &&
           a.port() == b.port();
}

// The request a redirect leads to: the old one at the new URL; 303, and 301 or 302 after
// a POST, turn into a GET without body. Credentials stay with their origin; Referer and
// Origin as a browser keeps them.
URLRequest redirectedRequest(const URLRequest& request, int status, const URL& location) {
    URLRequest next = request;
    next.setURL(location);
    const std::string& method = request.httpMethod();
    if ((status == 303 && method != "GET" && method != "HEAD") ||
        ((status == 301 || status == 302) && method == "POST")) {
        next.setHTTPMethod("GET");
        next.setHTTPBody(std::vector<uint8_t>{});
        next.setValue(std::nullopt, "Content-Type");
        next.setValue(std::nullopt, "Content-Length");
        // A form's answer fetched by GET is no longer the form's.
        next.setValue(std::nullopt, "Origin");
    }
    keepHeadAcrossRedirect(next, request.url());
    if (!sameOrigin(request.url(), location)) {
        next.setValue(std::nullopt, "Authorization");
        next.setValue(std::nullopt, "Cookie");
    }
    return next;
}

// Loopback never goes through a proxy, whatever the environment says.
std::string noProxyList() {
    std::string list = "localhost,127.0.0.1,::1";
    for (const char* name : {"no_proxy", "NO_PROXY"}) {
        if (const char* v = std::getenv(name); v && *v) return std::string(v) + "," + list;
    }
    return list;
}

using TestAnchors = std::vector<openssl::X509Ptr>;

struct TestTrust {
    std::mutex mutex;
    std::shared_ptr<const TestAnchors> anchors;  // none unless a test added one
};

TestTrust& testTrust() {
    static auto* trust = [] {
        auto* created = new TestTrust;
        registerSharedInstanceReset("URLLoadingTestTrust",
                                    [] { URLLoadingTestTrust::removeAnchorsForTesting(); });
        return created;
    }();
    return *trust;
}

std::shared_ptr<const TestAnchors> currentTestAnchors() {
    TestTrust& trust = testTrust();
    std::lock_guard lock(trust.mutex);
    return trust.anchors;
}

// Adds the test anchors to the store of one connection's TLS context.
CURLcode addTestAnchors(CURL*, void* sslContext, void* userp) {
    X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(sslContext));
    for (const auto& anchor : *static_cast<const TestAnchors*>(userp))
        X509_STORE_add_cert(store, anchor.get());
    ERR_clear_error();
    return CURLE_OK;
}

class ProtocolClient;

struct Load {
    uint64_t id = 0;
    uint64_t generation = 0;
    std::shared_ptr<LoadSink> sink;
    URLRequest request;

    // Through a URL protocol.
    std::shared_ptr<URLProtocol> protocol;
    std::shared_ptr<ProtocolClient> client;

    // Over the network.
    CURL* easy = nullptr;
    curl_slist* headerList = nullptr;
    bool inMulti = false;
    HTTPResponseHeadReader head;
    std::optional<HTTPURLResponse> response;
    bool awaitingRedirect = false;
    std::vector<uint8_t> heldBody;
    std::optional<CURLcode> heldResult;
    std::shared_ptr<const TestAnchors> testAnchors;
};

// Hands a protocol's reports to the sink until the load ends. Any thread.
class ProtocolClient final : public URLProtocolClient {
  public:
    ProtocolClient(std::shared_ptr<LoadSink> sink, uint64_t generation)
        : sink_(std::move(sink)), generation_(generation) {}

    void deactivate() {
        std::lock_guard lock(mutex_);
        sink_.reset();
    }

    void didReceiveResponse(const HTTPURLResponse& response) override {
        if (auto s = sink()) s->loadDidReceiveResponse(generation_, response);
    }
    void didLoadData(std::vector<uint8_t> data) override {
        if (auto s = sink()) s->loadDidReceiveData(generation_, std::move(data));
    }
    void didFinishLoading() override {
        if (auto s = sink()) s->loadDidFinish(generation_);
    }
    void didFailWithError(const Error& error) override {
        if (auto s = sink()) s->loadDidFail(generation_, error);
    }
    void wasRedirectedToRequest(const URLRequest& request,
                                const HTTPURLResponse& redirectResponse) override {
        if (auto s = sink()) s->loadWasRedirected(generation_, request, redirectResponse);
    }

  private:
    std::shared_ptr<LoadSink> sink() {
        std::lock_guard lock(mutex_);
        return sink_;
    }
    std::mutex mutex_;
    std::shared_ptr<LoadSink> sink_;
    const uint64_t generation_;
};

}  // namespace

struct URLLoader::Impl {
    std::unique_ptr<Thread> thread;
    // Loading thread only from here on.
    CURLM* multi = nullptr;
    int timerFd = -1;
    FdWatch timerWatch;
    std::map<uint64_t, std::unique_ptr<Load>> loads;
    const std::string noProxy = noProxyList();

    RunLoop& loop() { return thread->runLoop(); }

    void setUp() {
        multi = curl_multi_init();
        curl_multi_setopt(multi, CURLMOPT_SOCKETFUNCTION, &Impl::onSocketChange);
        curl_multi_setopt(multi, CURLMOPT_SOCKETDATA, this);
        curl_multi_setopt(multi, CURLMOPT_TIMERFUNCTION, &Impl::onTimerChange);
        curl_multi_setopt(multi, CURLMOPT_TIMERDATA, this);
        // The transfer library keeps its own time-outs in real time, apart from the
        // platform clock that the requests' time-outs follow.
        timerFd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        timerWatch = loop().watchFd(timerFd, kFdReadable, [this](short) { onTimer(); });
    }

    // curl callbacks -------------------------------------------------------------------

    static int onSocketChange(CURL*, curl_socket_t socket, int what, void* userp, void* socketp) {
        auto* self = static_cast<Impl*>(userp);
        auto* watch = static_cast<FdWatch*>(socketp);
        if (what == CURL_POLL_REMOVE) {
            if (watch) {
                watch->cancel();
                delete watch;
                curl_multi_assign(self->multi, socket, nullptr);
            }
            return 0;
        }
        short events = static_cast<short>(((what & CURL_POLL_IN) ? kFdReadable : 0) |
                                          ((what & CURL_POLL_OUT) ? kFdWritable : 0));
        if (watch) {
            watch->setEvents(events);
        } else {
            watch = new FdWatch(self->loop().watchFd(socket, events, [self, socket](short revents) {
                self->onSocketReady(socket, revents);
            }));
            curl_multi_assign(self->multi, socket, watch);
        }
        return 0;
    }

    static int onTimerChange(CURLM*, long timeoutMs, void* userp) {
        auto* self = static_cast<Impl*>(userp);
        itimerspec spec{};
        if (timeoutMs == 0) {
            spec.it_value.tv_nsec = 1;
        } else if (timeoutMs > 0) {
            spec.it_value.tv_sec = timeoutMs / 1000;
            spec.it_value.tv_nsec = (timeoutMs % 1000) * 1'000'000;
        }
        ::timerfd_settime(self->timerFd, 0, &spec, nullptr);
        return 0;
    }

    static size_t onHeaderLine(char* data, size_t size, size_t count, void* userp) {
        auto* load = static_cast<Load*>(userp);
        const size_t length = size * count;
        headerLine(*load, std::string_view(data, length));
        return length;
    }

    static size_t onBody(char* data, size_t size, size_t count, void* userp) {
        auto* load = static_cast<Load*>(userp);
        const size_t length = size * count;
        std::vector<uint8_t> chunk(data, data + length);
        if (load->awaitingRedirect) {
            load->heldBody.insert(load->heldBody.end(), chunk.begin(), chunk.end());
        } else if (length > 0) {
            load->sink->loadDidReceiveData(load->generation, std::move(chunk));
        }
        return length;
    }

    // Loading thread --------------------------------------------------------------------

    void onTimer() {
        uint64_t expirations;
        [[maybe_unused]] auto n = ::read(timerFd, &expirations, sizeof expirations);
        int running = 0;
        curl_multi_socket_action(multi, CURL_SOCKET_TIMEOUT, 0, &running);
        collectFinished();
    }

    void onSocketReady(curl_socket_t socket, short revents) {
        int mask = 0;
        if (revents & (POLLIN | POLLHUP | POLLERR)) mask |= CURL_CSELECT_IN;
        if (revents & POLLOUT) mask |= CURL_CSELECT_OUT;
        if (revents & POLLERR) mask |= CURL_CSELECT_ERR;
        int running = 0;
        curl_multi_socket_action(multi, socket, mask, &running);
        collectFinished();
    }

    void collectFinished() {
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
            if (message->msg != CURLMSG_DONE) continue;
            CURL* easy = message->easy_handle;
            CURLcode result = message->data.result;
            Load* load = nullptr;
            curl_easy_getinfo(easy, CURLINFO_PRIVATE, &load);
            if (load) transferDone(*load, result);
        }
    }

    // Header lines of every response of the transfer arrive here, interim ones too.
    static void headerLine(Load& load, std::string_view raw) {
        if (load.head.addLine(raw)) headComplete(load);
    }

    static void headComplete(Load& load) {
        HTTPURLResponse response = load.head.response(load.request.url());
        if (load.request.httpShouldHandleCookies())
            HTTPCookieStorage::shared().storeCookiesFromResponse(response,
                                                                 load.request.mainDocumentURL());
        if (isRedirectStatus(response.statusCode())) {
            auto location = response.valueForHTTPHeaderField("Location");
            std::optional<URL> target =
                location ? URL::resolve(*location, load.request.url()) : std::nullopt;
            if (target) {
                load.awaitingRedirect = true;
                load.response = response;
                load.sink->loadWasRedirected(
                    load.generation,
                    redirectedRequest(load.request, response.statusCode(), *target), response);
                return;
            }
        }
        load.response = response;
        load.sink->loadDidReceiveResponse(load.generation, std::move(response));
    }

    void transferDone(Load& load, CURLcode result) {
        removeTransfer(load);
        if (load.awaitingRedirect) {
            load.heldResult = result;
            return;
        }
        finish(load, result);
    }

    void finish(Load& load, CURLcode result) {
        const uint64_t id = load.id;
        if (result == CURLE_OK && load.response) {
            load.sink->loadDidFinish(load.generation);
        } else {
            long code =
                result == CURLE_OK ? kURLErrorBadServerResponse : urlErrorCodeForCurlCode(result);
            load.sink->loadDidFail(load.generation,
                                   makeURLError(code, load.request.url().absoluteString()));
        }
        loads.erase(id);
    }

    void removeTransfer(Load& load) {
        if (load.easy) {
            if (load.inMulti) curl_multi_remove_handle(multi, load.easy);
            curl_easy_cleanup(load.easy);
            load.easy = nullptr;
            load.inMulti = false;
        }
        if (load.headerList) {
            curl_slist_free_all(load.headerList);
            load.headerList = nullptr;
        }
    }

    void end(uint64_t id) {
        auto it = loads.find(id);
        if (it == loads.end()) return;
        std::unique_ptr<Load> load = std::move(it->second);
        loads.erase(it);
        removeTransfer(*load);
        if (load->protocol) {
            load->client->deactivate();
            try {
                load->protocol->stopLoading();
            } catch (const std::exception& e) {
                PLATFORM_LOG_ERROR("URL protocol threw while stopping: {}", e.what());
            }
        }
    }

    void start(std::shared_ptr<LoadSink> sink, uint64_t id, uint64_t generation,
               URLRequest request) {
        end(id);
        auto load = std::make_unique<Load>();
        load->id = id;
        load->generation = generation;
        load->sink = std::move(sink);
        load->request = std::move(request);
        Load& l = *load;
        loads[id] = std::move(load);

        if (auto factory = URLProtocol::factoryForRequest(l.request)) {
            l.client = std::make_shared<ProtocolClient>(l.sink, generation);
            try {
                l.protocol = factory->create(l.request, l.client);
                if (!l.protocol) throw std::runtime_error("no instance");
                l.protocol->startLoading();
            } catch (const std::exception& e) {
                PLATFORM_LOG_ERROR("URL protocol failed to start for {}: {}",
                                   l.request.url().absoluteString(), e.what());
                l.client->deactivate();
                l.sink->loadDidFail(
                    generation, makeURLError(kURLErrorUnknown, l.request.url().absoluteString()));
                loads.erase(id);
            }
            return;
        }

        const std::string scheme = l.request.url().schemeLowercased();
        if (scheme != "http" && scheme != "https") {
            l.sink->loadDidFail(generation, makeURLError(kURLErrorUnsupportedURL,
                                                         l.request.url().absoluteString()));
            loads.erase(id);
            return;
        }
        startTransfer(l);
    }

    void startTransfer(Load& load) {
        const URLRequest& request = load.request;
        CURL* easy = curl_easy_init();
        load.easy = easy;
        const std::string url = request.url().stringWithoutFragment();
        curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
        curl_easy_setopt(easy, CURLOPT_PRIVATE, &load);
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
        curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
        curl_easy_setopt(easy, CURLOPT_NOPROXY, noProxy.c_str());
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Impl::onHeaderLine);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, &load);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Impl::onBody);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &load);
        if ((load.testAnchors = currentTestAnchors())) {
            // A certificate store of the transfer's own, so that the anchors never reach
            // the store the transfer library caches for later connections.
            curl_easy_setopt(easy, CURLOPT_CA_CACHE_TIMEOUT, 0L);
            if (curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &addTestAnchors) != CURLE_OK)
                PLATFORM_LOG_ERROR("Test trust anchors unsupported by this TLS library");
            curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, load.testAnchors.get());
        }

        const std::string& method = request.httpMethod();
        const auto& body = request.httpBody();
        if (method == "HEAD") {
            curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
        } else if (method == "GET" && body.empty()) {
            curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
        } else {
            if (method != "POST") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
            if (method == "POST" || !body.empty()) {
                curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                                 static_cast<curl_off_t>(body.size()));
                curl_easy_setopt(easy, CURLOPT_COPYPOSTFIELDS,
                                 body.empty() ? "" : reinterpret_cast<const char*>(body.data()));
            }
        }

        curl_slist* list = nullptr;
        for (const auto& [name, value] : request.allHTTPHeaderFields()) {
            std::string line = value.empty() ? name + ";" : name + ": " + value;
            list = curl_slist_append(list, line.c_str());
        }
        if (!request.allHTTPHeaderFields().contains("Expect"))
            list = curl_slist_append(list, "Expect:");
        if (request.httpShouldHandleCookies() &&
            !request.allHTTPHeaderFields().contains("Cookie")) {
            // A page's own request leaves out the SameSite cookies of other sites.
            std::string cookies = HTTPCookieStorage::shared().cookieHeaderForURL(
                request.url(), request.mainDocumentURL());
            if (!cookies.empty()) list = curl_slist_append(list, ("Cookie: " + cookies).c_str());
        }
        load.headerList = list;
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, list);

        if (curl_multi_add_handle(multi, easy) != CURLM_OK) {
            load.sink->loadDidFail(load.generation,
                                   makeURLError(kURLErrorUnknown, request.url().absoluteString()));
            removeTransfer(load);
            loads.erase(load.id);
            return;
        }
        load.inMulti = true;
    }

    void refuseRedirect(uint64_t id, uint64_t generation) {
        auto it = loads.find(id);
        if (it == loads.end() || it->second->generation != generation ||
            !it->second->awaitingRedirect)
            return;
        Load& load = *it->second;
        load.awaitingRedirect = false;
        load.sink->loadDidReceiveResponse(generation, *load.response);
        if (!load.heldBody.empty())
            load.sink->loadDidReceiveData(generation, std::move(load.heldBody));
        load.heldBody.clear();
        if (load.heldResult) finish(load, *load.heldResult);
    }

    void abandonAll() {
        std::vector<uint64_t> ids;
        for (auto& [id, load] : loads) ids.push_back(id);
        for (uint64_t id : ids) {
            auto sink = loads[id]->sink;
            end(id);
            sink->loadWasAbandoned();
        }
    }
};

URLLoader::URLLoader() : impl_(new Impl) {
    keepOpenSSLUntilExit();
    curl_global_init(CURL_GLOBAL_DEFAULT);
    impl_->thread = std::make_unique<Thread>("URL loading");
    std::promise<void> ready;
    impl_->loop().post([this, &ready] {
        impl_->setUp();
        ready.set_value();
    });
    ready.get_future().wait();
}

URLLoader& URLLoader::shared() {
    static URLLoader* loader = [] {
        auto* created = new URLLoader;
        registerSharedInstanceReset("URLLoader", [created] {
            std::promise<void> done;
            created->impl_->loop().post([created, &done] {
                created->impl_->abandonAll();
                done.set_value();
            });
            done.get_future().wait();
        });
        return created;
    }();
    return *loader;
}

void URLLoader::start(std::shared_ptr<LoadSink> sink, uint64_t loadId, uint64_t generation,
                      URLRequest request) {
    Impl* impl = impl_;
    impl->loop().post(
        [impl, sink = std::move(sink), loadId, generation, request = std::move(request)]() mutable {
            impl->start(std::move(sink), loadId, generation, std::move(request));
        });
}

void URLLoader::refuseRedirect(uint64_t loadId, uint64_t generation) {
    Impl* impl = impl_;
    impl->loop().post([impl, loadId, generation] { impl->refuseRedirect(loadId, generation); });
}

void URLLoader::stop(uint64_t loadId) {
    Impl* impl = impl_;
    impl->loop().post([impl, loadId] { impl->end(loadId); });
}

RunLoop& URLLoader::runLoop() {
    return impl_->loop();
}

}  // namespace platform::detail

namespace platform {

bool URLLoadingTestTrust::addAnchorForTesting(std::string_view certificateDER) {
    auto certificate = openssl::certificateFromDER(certificateDER);
    if (!certificate) {
        PLATFORM_LOG_ERROR("Test trust anchor is not a DER certificate ({} bytes)",
                           certificateDER.size());
        return false;
    }
    auto& trust = detail::testTrust();
    std::lock_guard lock(trust.mutex);
    auto anchors = std::make_shared<detail::TestAnchors>();
    if (trust.anchors) {
        for (const auto& anchor : *trust.anchors) {
            X509_up_ref(anchor.get());
            anchors->emplace_back(anchor.get());
        }
    }
    anchors->push_back(std::move(certificate));
    trust.anchors = std::move(anchors);
    return true;
}

void URLLoadingTestTrust::removeAnchorsForTesting() {
    auto& trust = detail::testTrust();
    std::lock_guard lock(trust.mutex);
    trust.anchors.reset();
}

}  // namespace platform
