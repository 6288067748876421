#include "libmerovane/webcache/MVWebCacheHTTPDataSource.h"

#include <algorithm>
#include <array>
#include <future>
#include <unordered_map>

#include "libmerovane/bridge/MVDocumentRequestHead.h"
#include "libmerovane/bridge/URLRequestExtensions.h"
#include "libmerovane/bridge/URLRequestWebCache.h"
#include "libmerovane/bridge/URLResponseExtensions.h"
#include "libmerovane/connection/MVApiConnection.h"
#include "libmerovane/connection/MVApiConnectionHost.h"
#include "libmerovane/core/MVConnectionLossMonitor.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/core/UIDeviceExtensions.h"
#include "libmerovane/webcache/MVWebCache.h"
#include "libmerovane/webcache/MVWebCacheHTTPInfo.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/HTTPURLResponse.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/foundation/TextUtilities.h"
#include "platform/foundation/Thread.h"
#include "platform/foundation/URLConnection.h"
#include "platform/foundation/URLErrors.h"
#include "platform/ui/Application.h"

using platform::Date;
using platform::log::escaped;

// One connection working for a record.
struct MVWebCacheHTTPDataSource::Attempt {
    explicit Attempt(uint64_t i) : id(i) {}
    const uint64_t id;
    // Request thread only.
    std::shared_ptr<platform::URLConnection> connection;
};

// One logical load. Its fields are guarded by the source's lock, except the background
// task, which the main thread alone touches.
struct MVWebCacheHTTPDataSource::Record {
    std::string key;
    std::string requestIdentity;
    int64_t requestSerial = 0;
    Date requestStartDate;
    // When the load's first attempt began, before any repeat.
    Date loadBegan;
    platform::URLRequest originalRequest;
    platform::URLRequest currentRequest;
    // A failed connection leaves a null entry.
    std::vector<std::shared_ptr<Attempt>> failsafeConnections;
    bool didReceiveResponse = false;
    std::optional<platform::HTTPURLResponse> response;
    std::vector<uint8_t> data;
    std::optional<platform::Error> connectionError;
    std::vector<OnFinishedDo> onFinishedDo;
    // Repeats of the load so far.
    int repeats = 0;
    // No connection answered in time: the load failed and is not repeated.
    bool gaveUp = false;
    platform::BackgroundTaskIdentifier iosBackgroundTaskIdentifier =
        platform::kInvalidBackgroundTask;

    bool holds(uint64_t attempt) const {
        return std::any_of(failsafeConnections.begin(), failsafeConnections.end(),
                           [&](const auto& a) { return a && a->id == attempt; });
    }
};

class MVWebCacheHTTPDataSource::AttemptDelegate final : public platform::URLConnectionDelegate {
  public:
    AttemptDelegate(std::weak_ptr<MVWebCacheHTTPDataSource> source, uint64_t attempt)
        : source_(std::move(source)), attempt_(attempt) {}

    std::optional<platform::URLRequest> willSendRequest(
        platform::URLRequest request, const platform::HTTPURLResponse& response) override {
        auto source = source_.lock();
        if (!source) return std::nullopt;
        return source->willSendRequest(attempt_, std::move(request), response);
    }
    void didReceiveResponse(const platform::HTTPURLResponse& response) override {
        if (auto source = source_.lock()) source->didReceiveResponse(attempt_, response);
    }
    void didReceiveData(const std::vector<uint8_t>& data) override {
        if (auto source = source_.lock()) source->didReceiveData(attempt_, data);
    }
    void didFinishLoading() override {
        if (auto source = source_.lock()) source->didFinishLoading(attempt_);
    }
    void didFailWithError(const platform::Error& error) override {
        if (auto source = source_.lock()) source->didFailWithError(attempt_, error);
    }

  private:
    const std::weak_ptr<MVWebCacheHTTPDataSource> source_;
    const uint64_t attempt_;
};

namespace {

std::mutex gSharedMutex;
std::shared_ptr<MVWebCacheHTTPDataSource>* gShared = nullptr;  // never destroyed

std::mutex gDomainsMutex;
std::vector<std::string>* gShortScriptDomains = nullptr;  // never destroyed

constexpr auto kContent = MVConnectionLossMonitor::Reporter::kContent;

// URL errors after which a load is repeated.
constexpr std::array<long, 7> kRetryErrorCodes = {-1001, -1005, -1006, -1008, -1009, -1019, -1020};
constexpr std::array<const char*, 5> kFailsafeExtensions = {"js", "css", "png", "jpg", "gif"};
constexpr std::array<const char*, 3> kShortScriptTypes = {"text/css", "application/javascript",
                                                          "text/javascript"};

std::vector<std::string>& shortScriptDomainList() {
    if (!gShortScriptDomains)
        gShortScriptDomains = new std::vector<std::string>{"merovane.example"};
    return *gShortScriptDomains;
}

// Loads of equal requests share one record.
std::string identityOf(const platform::URLRequest& request) {
    const auto& body = request.httpBody();
    return request.httpMethod() + " " + request.url().absoluteString() + "\n" +
           std::string(body.begin(), body.end());
}

bool isFailsafeType(const platform::URL& url) {
    const std::string extension = platform::asciiLowercase(url.pathExtension());
    return std::any_of(kFailsafeExtensions.begin(), kFailsafeExtensions.end(),
                       [&](const char* e) { return extension == e; });
}

// The request as every connection of this source sends it.
void prepare(platform::URLRequest& request) {
    addSharedCookies(request);
    // A document's request keeps the web view's own agent.
    auto host = MVApiConnection::host();
    if (host && !request.valueForHTTPHeaderField("User-Agent"))
        request.setValue(host->userAgentString(), "User-Agent");
    setWillIgnoreWebcache(request, true);
}

bool hostIsShortScriptDomain(const std::string& host) {
    const std::string lower = platform::asciiLowercase(host);
    for (const auto& domain : MVWebCacheHTTPDataSource::shortScriptDomains()) {
        if (!domain.empty() && lower.find(platform::asciiLowercase(domain)) != std::string::npos) {
            return true;
        }
    }
    return false;
}

// One entry per name (as first written), the values of repeated fields joined by ", ";
// in one pass, however many fields a server sends.
nlohmann::json headerFieldsOf(const platform::HTTPURLResponse& response) {
    std::unordered_map<std::string, std::pair<std::string, std::string>> byName;
    for (const auto& [name, value] : response.allHeaderFields()) {
        auto [it, added] = byName.try_emplace(platform::asciiLowercase(name), name, value);
        if (!added) it->second.second += ", " + value;
    }
    nlohmann::json fields = nlohmann::json::object();
    for (auto& [lower, entry] : byName) fields[entry.first] = std::move(entry.second);
    return fields;
}

void endBackgroundTask(MVWebCacheHTTPDataSource::Record& record) {
    if (record.iosBackgroundTaskIdentifier == platform::kInvalidBackgroundTask) return;
    platform::Application::shared().endBackgroundTask(record.iosBackgroundTaskIdentifier);
    record.iosBackgroundTaskIdentifier = platform::kInvalidBackgroundTask;
}

}  // namespace

// ---- instance ------------------------------------------------------------------------------

std::shared_ptr<MVWebCacheHTTPDataSource> MVWebCacheHTTPDataSource::sharedDataSource() {
    std::lock_guard lock(gSharedMutex);
    if (!gShared) {
        gShared = new std::shared_ptr<MVWebCacheHTTPDataSource>();
        platform::registerSharedInstanceReset("MVWebCacheHTTPDataSource", [] {
            std::shared_ptr<MVWebCacheHTTPDataSource> source;
            {
                std::lock_guard inner(gSharedMutex);
                source.swap(*gShared);
            }
            if (source) source->shutdown();
            std::lock_guard domains(gDomainsMutex);
            shortScriptDomainList() = {"merovane.example"};
        });
    }
    if (!*gShared) *gShared = std::make_shared<MVWebCacheHTTPDataSource>();
    return *gShared;
}

void MVWebCacheHTTPDataSource::endLoads() {
    std::shared_ptr<MVWebCacheHTTPDataSource> source;
    {
        std::lock_guard lock(gSharedMutex);
        if (gShared) source = *gShared;
    }
    if (source) source->shutdown(/*keepThreadObject=*/true);
}

MVWebCacheHTTPDataSource::MVWebCacheHTTPDataSource()
    : requestThread_(std::make_unique<platform::Thread>(kThreadName)) {}

MVWebCacheHTTPDataSource::~MVWebCacheHTTPDataSource() {
    shutdown();
}

void MVWebCacheHTTPDataSource::shutdown(bool keepThreadObject) {
    if (!requestThread_ || threadEnded_) return;
    // Connections are cancelled on their own thread, before it goes.
    if (!isOnRequestThread()) {
        std::promise<void> done;
        requestThread_->runLoop().post([this, &done] {
            std::vector<std::shared_ptr<Attempt>> attempts;
            {
                std::lock_guard lock(mutex_);
                for (auto& [id, record] : connections_) {
                    for (auto& attempt : record->failsafeConnections) {
                        if (attempt && attempt->id == id) attempts.push_back(attempt);
                    }
                }
                connections_.clear();
                connectionForRequest_.clear();
            }
            for (auto& attempt : attempts) {
                if (attempt->connection) attempt->connection->cancel();
            }
            done.set_value();
        });
        done.get_future().wait();
    }
    requestThread_->stop();
    if (isOnRequestThread()) {
        // The last owner let go on the thread itself, which cannot join itself: its loop
        // ends after this item, and the thread object is left to the process.
        (void)requestThread_.release();
        return;
    }
    requestThread_->join();
    threadEnded_ = keepThreadObject;
    if (!keepThreadObject) requestThread_.reset();
}

bool MVWebCacheHTTPDataSource::isOnRequestThread() const {
    return requestThread_ && requestThread_->runLoop().isCurrent();
}

int64_t MVWebCacheHTTPDataSource::requestSerial() {
    std::lock_guard lock(mutex_);
    return nextRequestSerial_++;
}

void MVWebCacheHTTPDataSource::setShortScriptDomains(std::vector<std::string> domains) {
    std::lock_guard lock(gDomainsMutex);
    shortScriptDomainList() = std::move(domains);
}

std::vector<std::string> MVWebCacheHTTPDataSource::shortScriptDomains() {
    std::lock_guard lock(gDomainsMutex);
    return shortScriptDomainList();
}

void MVWebCacheHTTPDataSource::setMaximumBodyLengthForTesting(size_t length) {
    std::lock_guard lock(mutex_);
    maximumBodyLength_ = length;
}

size_t MVWebCacheHTTPDataSource::runningConnectionCount() const {
    std::lock_guard lock(mutex_);
    return connections_.size();
}

size_t MVWebCacheHTTPDataSource::runningLoadCount() const {
    std::lock_guard lock(mutex_);
    return connectionForRequest_.size();
}

// ---- the data source -------------------------------------------------------------------

int MVWebCacheHTTPDataSource::priorityForKey(const std::string& key) const {
    auto url = platform::URL::parse(key);
    if (!url) return 0;
    return url->scheme() == "http" || url->scheme() == "https" ? 1 : 0;
}

void MVWebCacheHTTPDataSource::loadDataForKey(const std::string& key, int64_t,
                                              WhenAvailable whenAvailable, WhenFailed whenFailed) {
    auto url = platform::URL::parse(key);
    if (!url) {
        if (whenFailed) whenFailed(platform::makeURLError(platform::kURLErrorBadURL, key));
        return;
    }
    platform::URLRequest request(
        *url, platform::URLRequestCachePolicy::ReloadIgnoringLocalCacheData, kRequestTimeout);
    // A web view's document goes out with the head its view gave it.
    if (auto head = takeDocumentHead(key)) applyDocumentHead(*head, request);
    prepare(request);
    performConnectionWithRequest(
        std::move(request), [key, whenAvailable, whenFailed](const Result& result) {
            if (result.error) {
                if (whenFailed) whenFailed(*result.error);
                return;
            }
            MVWebCache::sharedCache().setData(result.data, key, result.infoDictionary);
            if (whenAvailable) whenAvailable(result.data, result.infoDictionary);
        });
}

// ---- starting ----------------------------------------------------------------------------

void MVWebCacheHTTPDataSource::performConnectionWithRequest(platform::URLRequest request,
                                                            OnFinishedDo onFinishedDo) {
    std::vector<OnFinishedDo> blocks;
    if (onFinishedDo) blocks.push_back(std::move(onFinishedDo));
    startLoad(std::move(request), std::move(blocks));
}

void MVWebCacheHTTPDataSource::startLoad(platform::URLRequest request,
                                         std::vector<OnFinishedDo> blocks, int repeats,
                                         std::optional<Date> began) {
    const bool here = isOnRequestThread();
    if (!here || !MVConnectionLossMonitor::allowsConnections()) {
        std::weak_ptr<MVWebCacheHTTPDataSource> weak = weak_from_this();
        auto again = [weak, request = std::move(request), blocks = std::move(blocks), repeats,
                      began]() mutable {
            if (auto self = weak.lock())
                self->startLoad(std::move(request), std::move(blocks), repeats, began);
        };
        if (here) {
            platform::RunLoop::main().postAfterDetached(kRefusedRetryDelay, std::move(again));
        } else if (requestThread_) {
            requestThread_->runLoop().post(std::move(again));
        }
        return;
    }
    const std::string identity = identityOf(request);
    std::shared_ptr<Record> record;
    {
        std::lock_guard lock(mutex_);
        auto running = connectionForRequest_.find(identity);
        if (running != connectionForRequest_.end()) {
            // Answered with the running load; it has its connections already.
            for (auto& block : blocks) running->second->onFinishedDo.push_back(std::move(block));
            return;
        }
        record = std::make_shared<Record>();
        record->key = request.url().absoluteString();
        record->requestIdentity = identity;
        record->requestSerial = nextRequestSerial_++;
        record->requestStartDate = Date::now();
        record->loadBegan = began.value_or(record->requestStartDate);
        record->originalRequest = request;
        record->currentRequest = request;
        record->onFinishedDo = std::move(blocks);
        record->repeats = repeats;
        connectionForRequest_[identity] = record;
    }
    MVLogVerbose("MVWebCacheHTTPDataSource<{}> HTTP Request [{}]", record->requestSerial,
                 escaped(record->key));
    // Main thread: the platform's application object lives there. The completion is
    // posted there later, so the task is begun before it can end.
    platform::RunLoop::main().post([record] {
        std::weak_ptr<Record> weakRecord = record;
        record->iosBackgroundTaskIdentifier =
            platform::Application::shared().beginBackgroundTask([weakRecord] {
                if (auto expired = weakRecord.lock()) endBackgroundTask(*expired);
            });
    });
    startAttempt(record);
}

void MVWebCacheHTTPDataSource::startAttempt(const std::shared_ptr<Record>& record) {
    MVConnectionLossMonitor::reportConnectionAttempt(kContent);
    std::shared_ptr<Attempt> attempt;
    platform::URLRequest request;
    {
        std::lock_guard lock(mutex_);
        attempt = std::make_shared<Attempt>(nextAttempt_++);
        record->failsafeConnections.push_back(attempt);
        connections_[attempt->id] = record;
        request = record->originalRequest;
    }
    if (isFailsafeType(request.url())) {
        std::weak_ptr<MVWebCacheHTTPDataSource> weak = weak_from_this();
        std::weak_ptr<Record> weakRecord = record;
        requestThread_->runLoop().postAfterDetached(kFailsafeDelay, [weak, weakRecord] {
            auto self = weak.lock();
            auto checked = weakRecord.lock();
            if (self && checked) self->checkFailsafe(checked);
        });
    }
    attempt->connection = platform::URLConnection::start(
        std::move(request), std::make_shared<AttemptDelegate>(weak_from_this(), attempt->id),
        requestThread_->runLoop());
}

void MVWebCacheHTTPDataSource::checkFailsafe(const std::shared_ptr<Record>& record) {
    size_t waiting = 0;
    {
        std::lock_guard lock(mutex_);
        if (record->didReceiveResponse) return;
        waiting = record->failsafeConnections.size();
    }
    // A connection that waited this long without an answer is a failing one.
    MVConnectionLossMonitor::reportContentError(record->loadBegan);
    if (waiting >= kMaximumConnections) return giveUp(record);
    MVLogWarn(
        "MVWebCacheHTTPDataSource<{}> HTTP Request Failsafe [{}] reached timeout and will open "
        "another connection ({} waiting connection{})",
        record->requestSerial, escaped(record->key), waiting, waiting >= 2 ? "s" : "");
    startAttempt(record);
}

void MVWebCacheHTTPDataSource::giveUp(const std::shared_ptr<Record>& record) {
    std::vector<std::shared_ptr<Attempt>> cancelled;
    size_t waiting = 0;
    {
        std::lock_guard lock(mutex_);
        if (record->didReceiveResponse) return;
        for (auto& attempt : record->failsafeConnections) {
            if (!attempt) continue;
            connections_.erase(attempt->id);
            cancelled.push_back(std::move(attempt));
        }
        waiting = cancelled.size();
        forgetRequestLocked(record);
        record->connectionError = platform::makeURLError(platform::kURLErrorTimedOut, record->key);
        record->didReceiveResponse = true;
        record->gaveUp = true;
    }
    MVLogWarn(
        "MVWebCacheHTTPDataSource<{}> HTTP Request Failsafe [{}] reached timeout on its last "
        "connection and fails ({} waiting connection{})",
        record->requestSerial, escaped(record->key), waiting, waiting == 1 ? "" : "s");
    for (auto& attempt : cancelled) {
        if (attempt->connection) attempt->connection->cancel();
    }
    finishAttempt(record);
}

// ---- connection callbacks (request thread) ---------------------------------------------

std::optional<platform::URLRequest> MVWebCacheHTTPDataSource::willSendRequest(
    uint64_t attempt, platform::URLRequest request, const platform::HTTPURLResponse& response) {
    shareCookies(response);
    prepare(request);
    int64_t serial = 0;
    {
        std::lock_guard lock(mutex_);
        auto found = connections_.find(attempt);
        if (found == connections_.end()) return std::nullopt;
        found->second->currentRequest = request;
        serial = found->second->requestSerial;
    }
    const std::string scheme = request.url().schemeLowercased();
    const std::string target = escaped(request.url().absoluteString());
    if (scheme == "mvapi") {
        MVLogVerbose("MVWebCacheHTTPDataSource<{}> API Redirect {} [{}] switching protocol", serial,
                     response.statusCode(), target);
        return std::nullopt;
    }
    if (scheme == "mvcmd") {
        MVLogVerbose("MVWebCacheHTTPDataSource<{}> was redirected to command scheme[{}]", serial,
                     target);
        return std::nullopt;
    }
    MVLogVerbose("MVWebCacheHTTPDataSource<{}> HTTP Redirect {} [{}]", serial,
                 response.statusCode(), target);
    return request;
}

void MVWebCacheHTTPDataSource::didReceiveResponse(uint64_t attempt,
                                                  const platform::HTTPURLResponse& response) {
    shareCookies(response);
    std::vector<std::shared_ptr<Attempt>> cancelled;
    {
        std::lock_guard lock(mutex_);
        auto found = connections_.find(attempt);
        if (found == connections_.end()) return;
        Record& record = *found->second;
        if (record.didReceiveResponse) return;
        record.didReceiveResponse = true;
        record.response = response;
        // The first response wins: the other connections go.
        std::shared_ptr<Attempt> winner;
        for (auto& other : record.failsafeConnections) {
            if (!other) continue;
            if (other->id == attempt) {
                winner = other;
            } else {
                connections_.erase(other->id);
                cancelled.push_back(other);
            }
        }
        record.failsafeConnections = {winner};
        // A claimed length reserves no more than a sane amount; the data may be shorter.
        const int64_t expected = response.expectedContentLength();
        if (expected > 0 && record.data.capacity() == 0) {
            record.data.reserve(static_cast<size_t>(
                std::min<uint64_t>(static_cast<uint64_t>(expected), kMaximumReservation)));
        }
    }
    for (auto& other : cancelled) {
        if (other->connection) other->connection->cancel();
    }
}

void MVWebCacheHTTPDataSource::didReceiveData(uint64_t attempt, const std::vector<uint8_t>& data) {
    std::shared_ptr<Record> tooLong;
    std::vector<std::shared_ptr<Attempt>> cancelled;
    size_t limit = 0;
    {
        std::lock_guard lock(mutex_);
        auto found = connections_.find(attempt);
        if (found == connections_.end()) return;
        Record& record = *found->second;
        limit = maximumBodyLength_;
        if (data.size() <= limit && record.data.size() <= limit - data.size()) {
            record.data.insert(record.data.end(), data.begin(), data.end());
            return;
        }
        // Past the limit the load fails rather than grow without end.
        tooLong = found->second;
        for (auto& other : record.failsafeConnections) {
            if (!other) continue;
            connections_.erase(other->id);
            cancelled.push_back(other);
            other.reset();
        }
        forgetRequestLocked(tooLong);
        record.didReceiveResponse = true;
        record.connectionError = platform::makeURLError(kDataLengthExceedsMaximum, record.key);
        record.data.clear();
        record.data.shrink_to_fit();
    }
    MVLogError(
        "MVWebCacheHTTPDataSource<{}> HTTP Response of [{}] is longer than {} bytes; "
        "the load fails",
        tooLong->requestSerial, escaped(tooLong->key), limit);
    for (auto& other : cancelled) {
        if (other->connection) other->connection->cancel();
    }
    finishAttempt(tooLong);
}

void MVWebCacheHTTPDataSource::didFinishLoading(uint64_t attempt) {
    std::shared_ptr<Record> record;
    {
        std::lock_guard lock(mutex_);
        record = takeRecordLocked(attempt);
        if (!record) return;
        forgetRequestLocked(record);
    }
    finishAttempt(record);
}

void MVWebCacheHTTPDataSource::didFailWithError(uint64_t attempt, const platform::Error& error) {
    std::shared_ptr<Record> record;
    {
        std::lock_guard lock(mutex_);
        record = takeRecordLocked(attempt);
        if (!record) return;
        for (auto& entry : record->failsafeConnections) {
            if (entry && entry->id == attempt) entry.reset();
        }
        // Silent while another connection still works.
        if (std::any_of(record->failsafeConnections.begin(), record->failsafeConnections.end(),
                        [](const auto& a) { return a != nullptr; })) {
            return;
        }
        forgetRequestLocked(record);
        record->connectionError = error;
        record->didReceiveResponse = true;
    }
    finishAttempt(record);
}

std::shared_ptr<MVWebCacheHTTPDataSource::Record> MVWebCacheHTTPDataSource::takeRecordLocked(
    uint64_t attempt) {
    auto found = connections_.find(attempt);
    if (found == connections_.end()) return nullptr;
    auto record = found->second;
    connections_.erase(found);
    return record;
}

void MVWebCacheHTTPDataSource::forgetRequestLocked(const std::shared_ptr<Record>& record) {
    auto running = connectionForRequest_.find(record->requestIdentity);
    if (running != connectionForRequest_.end() && running->second == record) {
        connectionForRequest_.erase(running);
    }
}

void MVWebCacheHTTPDataSource::finishAttempt(const std::shared_ptr<Record>& record) {
    std::weak_ptr<MVWebCacheHTTPDataSource> weak = weak_from_this();
    platform::RunLoop::main().post([weak, record] {
        if (auto self = weak.lock()) self->completionHandler(record);
    });
}

// ---- completion (main thread) ----------------------------------------------------------

void MVWebCacheHTTPDataSource::completionHandler(const std::shared_ptr<Record>& record) {
    std::optional<platform::Error> error;
    std::optional<platform::HTTPURLResponse> response;
    platform::URLRequest currentRequest;
    Data data;
    bool gaveUp = false;
    {
        std::lock_guard lock(mutex_);
        gaveUp = record->gaveUp;
        error = record->connectionError;
        response = record->response;
        currentRequest = record->currentRequest;
        data = std::make_shared<const std::vector<uint8_t>>(std::move(record->data));
        record->data.clear();
    }
    const std::string originalURL = record->originalRequest.url().absoluteString();
    bool repeat = false;
    if (error && error->domain() == platform::kURLErrorDomain &&
        std::find(kRetryErrorCodes.begin(), kRetryErrorCodes.end(), error->code()) !=
            kRetryErrorCodes.end()) {
        repeat = true;
        if (error->code() == platform::kURLErrorNetworkConnectionLost &&
            !systemVersionEqualOrAbove(UISystemVersionMake(7, 1, 0))) {
            repeat = false;
            MVLogError(
                "MVWebCacheHTTPDataSource<{}> NSURLErrorNetworkConnectionLost sub iOS7.1 bugfix. "
                "Aborting connection. [{}]",
                record->requestSerial, escaped(originalURL));
        }
    }
    const double duration = Date::now().timeIntervalSince(record->requestStartDate);
    const double speed = duration > 0 ? static_cast<double>(data->size()) / duration : -1;
    const auto contentTypeHeader =
        response ? response->valueForHTTPHeaderField("Content-Type") : std::nullopt;
    const auto contentType = contentTypeOfHeader(contentTypeHeader.value_or(""));

    if (!repeat && !error && contentType.mimeType && data->size() <= kShortScriptLength &&
        std::find(kShortScriptTypes.begin(), kShortScriptTypes.end(), *contentType.mimeType) !=
            kShortScriptTypes.end() &&
        hostIsShortScriptDomain(record->originalRequest.url().host())) {
        repeat = true;
        MVLogWarn("MVWebCacheHTTPDataSource<{}> SASS Fix applied for [{}] WILL RETRY LOADING",
                  record->requestSerial, escaped(originalURL));
    }
    // A resource that keeps failing fails to its page after a few repeats rather than hold
    // it. A server that answered is reachable and never counts against the network.
    const bool answered = response.has_value();
    const bool exhausted = gaveUp || (repeat && record->repeats >= kMaximumRepeats);
    if (exhausted && repeat) {
        repeat = false;
        if (!gaveUp)
            MVLogWarn("MVWebCacheHTTPDataSource<{}> is not repeated after {} repeats. [{}]",
                      record->requestSerial, record->repeats, escaped(originalURL));
    }
    if (repeat) return repeatLater(record, answered);

    reportOutcome(*record, answered);
    const auto cacheControl =
        response ? response->valueForHTTPHeaderField("Cache-Control") : std::nullopt;
    const int64_t lifetime = lifetimeOfCacheControl(cacheControl);
    MVLogVerbose(
        "MVWebCacheHTTPDataSource<{}> HTTP Response {}[{}] ( {} | {} | {} kB | {:.2f}s | {:.2f} "
        "kB/s )",
        record->requestSerial, error ? fmt::format("Error {} ", error->code()) : std::string(),
        escaped(record->key), escaped(contentTypeHeader.value_or("(null)")),
        escaped(cacheControl.value_or("no-cache-control")), data->size() / 1024, duration,
        speed / 1024);

    Result result;
    result.error = error;
    result.data = data;
    nlohmann::json& info = result.infoDictionary;
    info = nlohmann::json::object();
    info[MVWebCacheDataInfoMaximumLifetime] = lifetime;
    info[MVWebCacheDataInfoHTTPVersion] = "HTTP/1.1";
    info[MVWebCacheDataInfoHTTPStatusCode] = response ? response->statusCode() : 0;
    if (!error) {
        if (contentType.mimeType) info[MVWebCacheDataInfoMimeType] = *contentType.mimeType;
        if (contentType.charset) info[MVWebCacheDataInfoCharset] = *contentType.charset;
        if (response) info[MVWebCacheDataInfoHTTPHeaderFields] = headerFieldsOf(*response);
        if (!(currentRequest.url() == record->originalRequest.url())) {
            info[MVWebCacheDataInfoLastRedirectUrl] = currentRequest.url().absoluteString();
        }
    }
    std::vector<OnFinishedDo> blocks;
    {
        std::lock_guard lock(mutex_);
        blocks.swap(record->onFinishedDo);
    }
    for (const auto& block : blocks) {
        if (block) block(result);
    }
    endBackgroundTask(*record);
}

// Only an HTTP answer, of any status, is the content answering.
void MVWebCacheHTTPDataSource::reportOutcome(const Record& record, bool answered) {
    if (answered) {
        MVConnectionLossMonitor::reportConnectionSuccess(kContent);
    } else {
        MVConnectionLossMonitor::reportContentError(record.loadBegan);
    }
}

void MVWebCacheHTTPDataSource::repeatLater(const std::shared_ptr<Record>& record, bool answered) {
    reportOutcome(*record, answered);
    MVLogWarn("MVWebCacheHTTPDataSource<{}> will be repeated in 5 seconds. [{}]",
              record->requestSerial, escaped(record->originalRequest.url().absoluteString()));
    // The repeat is a new record with a task of its own.
    endBackgroundTask(*record);
    std::vector<OnFinishedDo> blocks;
    {
        std::lock_guard lock(mutex_);
        blocks.swap(record->onFinishedDo);
    }
    std::weak_ptr<MVWebCacheHTTPDataSource> weak = weak_from_this();
    const int repeats = record->repeats + 1;
    platform::RunLoop::main().postAfterDetached(
        kRepeatDelay, [weak, request = record->originalRequest, blocks = std::move(blocks), repeats,
                       began = record->loadBegan]() mutable {
            if (auto self = weak.lock())
                self->startLoad(std::move(request), std::move(blocks), repeats, began);
        });
}
