#include "libmerovane/webcache/MVWebCacheURLProtocol.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>

#include "libmerovane/bridge/URLRequestExtensions.h"
#include "libmerovane/bridge/URLRequestWebCache.h"
#include "libmerovane/bridge/URLResponseExtensions.h"
#include "libmerovane/connection/MVApiConnection.h"
#include "libmerovane/connection/MVApiConnectionHost.h"
#include "libmerovane/core/MVConnectionLossMonitor.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/webcache/MVWebCache.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/foundation/TextUtilities.h"
#include "platform/foundation/URLConnection.h"

namespace json = platform::json;
using platform::Date;
using platform::log::escaped;

namespace {

constexpr const char* kBadHeaderFields =
    "MVWebCacheURLProtocol ignores the header fields of <{}>: no dictionary";
constexpr const char* kBadStatusCode =
    "MVWebCacheURLProtocol answers <{}> with 200: its status code is no number from 100 to 999";
constexpr const char* kCacheFailed = "MVWebCacheURLProtocol could not look up <{}>: {}";

struct RunningLoad {
    std::weak_ptr<MVWebCacheURLProtocol> protocol;
    std::string urlString;
    Date start;
};

// The class's state: the running loads and the timer that reports slow ones.
struct LoadingCheck {
    std::mutex mutex;
    std::map<const MVWebCacheURLProtocol*, RunningLoad> loads;
    platform::TimerHandle timer;
    bool timerStarted = false;
    std::string videoPlaybackHost = MVWebCacheURLProtocol::kDefaultVideoPlaybackHost;
};

LoadingCheck& loadingCheck() {
    static LoadingCheck* check = [] {
        auto* created = new LoadingCheck;
        platform::registerSharedInstanceReset("MVWebCacheURLProtocol", [created] {
            std::lock_guard lock(created->mutex);
            created->loads.clear();
            created->timer = {};
            created->timerStarted = false;
            created->videoPlaybackHost = MVWebCacheURLProtocol::kDefaultVideoPlaybackHost;
        });
        return created;
    }();
    return *check;
}

std::shared_ptr<platform::URLProtocolFactory> protocolClass() {
    static auto* cls = new std::shared_ptr<platform::URLProtocolFactory>(
        std::make_shared<platform::URLProtocolClass<MVWebCacheURLProtocol>>());
    return *cls;
}

bool isAppScheme(const std::string& lowercasedScheme) {
    return lowercasedScheme == "mvapi" || lowercasedScheme == "mvcmd";
}

bool containsIgnoringCase(std::string_view text, std::string_view part) {
    if (part.empty()) return false;
    return std::search(text.begin(), text.end(), part.begin(), part.end(), [](char a, char b) {
               return platform::asciiLower(a) == platform::asciiLower(b);
           }) != text.end();
}

}  // namespace

// The network path's connection callbacks; each reaches the protocol while it runs.
class MVWebCacheURLProtocol::NetworkDelegate final : public platform::URLConnectionDelegate {
  public:
    explicit NetworkDelegate(std::weak_ptr<MVWebCacheURLProtocol> protocol)
        : protocol_(std::move(protocol)) {}

    std::optional<platform::URLRequest> willSendRequest(
        platform::URLRequest request, const platform::HTTPURLResponse& redirectResponse) override {
        auto protocol = running();
        if (!protocol) return std::nullopt;
        shareCookies(redirectResponse);
        if (isAppScheme(request.url().schemeLowercased())) {
            // The web view handles the app's own addresses; the redirect response is
            // then this load's answer.
            protocol->client()->wasRedirectedToRequest(request, redirectResponse);
            return std::nullopt;
        }
        setWillIgnoreWebcache(request, true);
        addSharedCookies(request);
        return request;
    }
    void didReceiveResponse(const platform::HTTPURLResponse& response) override {
        auto protocol = running();
        if (!protocol) return;
        shareCookies(response);
        protocol->client()->didReceiveResponse(response);
    }
    void didReceiveData(const std::vector<uint8_t>& data) override {
        if (auto protocol = running()) protocol->client()->didLoadData(data);
    }
    void didFinishLoading() override {
        auto protocol = running();
        if (!protocol) return;
        protocol->leaveLoadingCheck();
        protocol->client()->didFinishLoading();
    }
    void didFailWithError(const platform::Error& error) override {
        auto protocol = running();
        if (!protocol) return;
        protocol->leaveLoadingCheck();
        protocol->client()->didFailWithError(error);
    }

  private:
    std::shared_ptr<MVWebCacheURLProtocol> running() {
        auto protocol = protocol_.lock();
        return protocol && !protocol->stopped_ && protocol->client() ? protocol : nullptr;
    }
    std::weak_ptr<MVWebCacheURLProtocol> protocol_;
};

void MVWebCacheURLProtocol::registerProtocol() {
    platform::URLProtocol::registerClass(protocolClass());
}

void MVWebCacheURLProtocol::setVideoPlaybackHost(std::string host) {
    auto& check = loadingCheck();
    std::lock_guard lock(check.mutex);
    check.videoPlaybackHost = std::move(host);
}

bool MVWebCacheURLProtocol::canInitWithRequest(const platform::URLRequest& request) {
    std::string host;
    {
        auto& check = loadingCheck();
        std::lock_guard lock(check.mutex);
        host = check.videoPlaybackHost;
    }
    if (!host.empty() &&
        containsIgnoringCase(request.url().absoluteString(), host + kVideoPlaybackPath))
        return false;
    if (willIgnoreWebcache(request)) return false;
    const std::string scheme = request.url().schemeLowercased();
    return scheme != "data" && scheme != "file" && !isAppScheme(scheme);
}

bool MVWebCacheURLProtocol::takesNetworkPath(const platform::URLRequest& request) {
    if (request.httpMethod() == "POST") return true;
    // Names match in any case: a credentialed request must never be answered from the
    // shared cache, however the page spelled the field.
    const auto& headers = request.allHTTPHeaderFields();
    return headers.contains("X-Requested-With") || headers.contains("Authorization");
}

platform::HTTPURLResponse MVWebCacheURLProtocol::responseForCachedInfo(
    const platform::URLRequest& request, const nlohmann::json& info) {
    const std::string urlString = request.url().absoluteString();
    platform::HTTPHeaderFields headers;
    if (const auto* fields = json::find(info, MVWebCacheDataInfoHTTPHeaderFields)) {
        if (fields->is_object()) {
            for (const auto& [name, value] : fields->items()) {
                if (auto text = json::stringValue(value)) headers.add(name, *text);
            }
        } else if (!fields->is_null()) {
            MVLogWarn(kBadHeaderFields, escaped(urlString));
        }
    }
    const auto localFile = json::stringValue(info, MVWebCacheDataInfoLocalFileURL);
    if (localFile && !localFile->empty()) headers.set(MVHTTPHeaderFieldCacheLocalURL, *localFile);
    headers.set(MVHTTPHeaderFieldCacheControl, "no-cache, must-revalidate, no-store");
    headers.set("Pragma", "no-cache");
    headers.set("Expires", "0");

    platform::URL url = request.url();
    if (auto redirect = json::stringValue(info, MVWebCacheDataInfoLastRedirectUrl)) {
        if (auto parsed = platform::URL::parse(*redirect); parsed && !parsed->isEmpty())
            url = *parsed;
    }
    int status = 200;
    if (const auto* code = json::find(info, MVWebCacheDataInfoHTTPStatusCode)) {
        const double number = json::doubleValue(*code);
        if ((code->is_number() || code->is_string()) && number >= 100 && number <= 999) {
            status = static_cast<int>(number);
        } else {
            MVLogWarn(kBadStatusCode, escaped(urlString));
        }
    }
    std::string version = "HTTP/1.1";
    if (auto v = json::stringValue(info, MVWebCacheDataInfoHTTPVersion); v && !v->empty())
        version = *v;
    return platform::HTTPURLResponse(std::move(url), status, std::move(version),
                                     std::move(headers));
}

MVWebCacheURLProtocol::MVWebCacheURLProtocol(platform::URLRequest request,
                                             std::shared_ptr<platform::URLProtocolClient> client)
    : URLProtocol(request, std::move(client)), prepared_(std::move(request)) {
    addSharedCookies(prepared_);
    // What the engine built (a form's request) keeps its own agent.
    auto host = MVApiConnection::host();
    if (host && !prepared_.valueForHTTPHeaderField("User-Agent"))
        prepared_.setValue(host->userAgentString(), "User-Agent");
    setWillIgnoreWebcache(prepared_, true);
}

MVWebCacheURLProtocol::~MVWebCacheURLProtocol() {
    // A load dropped without stopLoading is not reported as running for ever.
    leaveLoadingCheck();
}

void MVWebCacheURLProtocol::startLoading() {
    loop_ = platform::RunLoop::current();
    if (!loop_) loop_ = &platform::RunLoop::main();
    {
        auto& check = loadingCheck();
        std::lock_guard lock(check.mutex);
        if (!check.timerStarted) {
            check.timerStarted = true;
            check.timer = loop_->postRepeating(kLoadingCheckInterval, [] { doLoadingCheck(); });
        }
        check.loads[this] =
            RunningLoad{weak_from_this(), request().url().absoluteString(), Date::now()};
    }
    urlString_ = request().url().absoluteString();
    if (takesNetworkPath(request())) {
        startLoadingWithNSURLConnection();
    } else {
        startLoadingWithWebCache();
    }
}

void MVWebCacheURLProtocol::stopLoading() {
    if (stopped_.exchange(true)) return;
    leaveLoadingCheck();
    auto connection = std::move(connection_);
    if (!connection) return;
    if (loop_ && !loop_->isCurrent()) {
        loop_->post([connection] { connection->cancel(); });
    } else {
        connection->cancel();
    }
}

void MVWebCacheURLProtocol::onLoadingLoop(std::function<void(MVWebCacheURLProtocol&)> fn) {
    std::weak_ptr<MVWebCacheURLProtocol> weak = weak_from_this();
    auto run = [weak, fn = std::move(fn)] {
        auto protocol = weak.lock();
        if (protocol && !protocol->stopped_) fn(*protocol);
    };
    if (loop_->isCurrent()) {
        run();
    } else {
        loop_->post(std::move(run));
    }
}

void MVWebCacheURLProtocol::startLoadingWithWebCache() {
    std::weak_ptr<MVWebCacheURLProtocol> weak = weak_from_this();
    auto whenAvailable = [weak](bool, bool reloadPending, const MVWebCacheInterface::Data& data,
                                const nlohmann::json& info) {
        if (reloadPending) return;
        auto protocol = weak.lock();
        if (!protocol) return;
        protocol->onLoadingLoop(
            [data, info](MVWebCacheURLProtocol& self) { self.answerFromCache(data, info); });
    };
    auto whenFailed = [weak](const platform::Error& error, const MVWebCacheInterface::Data&) {
        auto protocol = weak.lock();
        if (!protocol) return;
        protocol->onLoadingLoop([error](MVWebCacheURLProtocol& self) {
            self.leaveLoadingCheck();
            self.client()->didFailWithError(error);
        });
    };
    try {
        MVWebCache::sharedCache().dataForKey(urlString_, whenAvailable, {}, whenFailed);
    } catch (const std::exception& e) {
        MVLogError(kCacheFailed, escaped(urlString_), e.what());
        whenFailed(platform::Error(MVWebCacheErrorNoDataSource, 404), nullptr);
    }
}

void MVWebCacheURLProtocol::answerFromCache(const std::shared_ptr<const std::vector<uint8_t>>& data,
                                            const nlohmann::json& info) {
    client()->didReceiveResponse(responseForCachedInfo(request(), info));
    leaveLoadingCheck();
    streamClient(data, 0);
}

void MVWebCacheURLProtocol::streamClient(std::shared_ptr<const std::vector<uint8_t>> data,
                                         size_t position) {
    // The client may have stopped the load while it was told the last part.
    if (stopped_) return;
    const size_t size = data ? data->size() : 0;
    const size_t slice = position < size ? std::min(kSliceSize, size - position) : 0;
    if (slice == 0) {
        client()->didFinishLoading();
        return;
    }
    const auto begin = data->begin() + static_cast<std::ptrdiff_t>(position);
    client()->didLoadData(std::vector<uint8_t>(begin, begin + static_cast<std::ptrdiff_t>(slice)));
    std::weak_ptr<MVWebCacheURLProtocol> weak = weak_from_this();
    // A pause between slices keeps the loading thread responsive.
    loop_->postAfterDetached(kSlicePause, [weak, data = std::move(data), next = position + slice] {
        if (auto protocol = weak.lock()) protocol->streamClient(data, next);
    });
}

void MVWebCacheURLProtocol::startLoadingWithNSURLConnection() {
    connection_ = platform::URLConnection::start(
        prepared_, std::make_shared<NetworkDelegate>(weak_from_this()), *loop_);
}

void MVWebCacheURLProtocol::leaveLoadingCheck() {
    auto& check = loadingCheck();
    std::lock_guard lock(check.mutex);
    check.loads.erase(this);
}

void MVWebCacheURLProtocol::doLoadingCheck() {
    if (!MVConnectionLossMonitor::allowsConnections()) return;
    std::string list;
    {
        auto& check = loadingCheck();
        std::lock_guard lock(check.mutex);
        const Date now = Date::now();
        for (const auto& [key, load] : check.loads) {
            const double seconds = now.timeIntervalSince(load.start);
            if (seconds > kLongLoadingTime)
                list += fmt::format("\n{} [ {:.1f}m ]", escaped(load.urlString), seconds / 60.0);
        }
    }
    if (!list.empty()) MVLogWarn(kLongLoadingWarning, list);
}
