#include "wallet/TBXHTTPFetcher.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <nlohmann/json.hpp>
#include <set>

#include "platform/foundation/JsonValue.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/foundation/URLConnection.h"
#include "wallet/TWALog.h"

namespace {

std::atomic<bool> gRetriesAllowed{true};

// The fetches under way hold their fetchers (main thread only), so a caller may drop
// its fetcher once started.
std::set<std::shared_ptr<TBXHTTPFetcher>>& running() {
    static auto* fetchers = [] {
        auto* set = new std::set<std::shared_ptr<TBXHTTPFetcher>>();
        platform::registerSharedInstanceReset("TBXHTTPFetcher running", [set] {
            auto stopped = std::move(*set);
            set->clear();
            for (const auto& fetcher : stopped) fetcher->stopFetching();
        });
        return set;
    }();
    return *fetchers;
}

int portOf(const platform::URL& url) {
    if (url.port()) return *url.port();
    const std::string scheme = url.schemeLowercased();
    return scheme == "https" ? 443 : scheme == "http" ? 80 : -1;
}

bool isSameOrigin(const platform::URL& a, const platform::URL& b) {
    const auto sameLetter = [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    };
    return a.schemeLowercased() == b.schemeLowercased() &&
           std::ranges::equal(a.host(), b.host(), sameLetter) && portOf(a) == portOf(b);
}

bool isRetryableStatus(int status) {
    return status == 408 || status == 502 || status == 503 || status == 504;
}

bool isRetryableTransportError(const platform::Error& error) {
    if (error.domain() != platform::kURLErrorDomain) return false;
    switch (error.code()) {
        case platform::kURLErrorTimedOut:
        case platform::kURLErrorCannotFindHost:
        case platform::kURLErrorCannotConnectToHost:
        case platform::kURLErrorNetworkConnectionLost:
        case platform::kURLErrorDNSLookupFailed:
        case platform::kURLErrorNotConnectedToInternet:
            return true;
        default:
            return false;
    }
}

// The status error, with the body's dictionary when it is one. The body is the server's,
// so it becomes a value only through the depth-limited parse: errors are copied on, and
// a copy recurses once per level.
platform::Error statusError(int status, const TBXHTTPFetcher::Data& body) {
    nlohmann::json info = nlohmann::json::object();
    const std::string_view text(reinterpret_cast<const char*>(body.data()), body.size());
    auto parsed = platform::json::parse(text);
    if (parsed.ok() && parsed.value.is_object()) {
        info[kTBXHTTPFetcherErrorJSONKey] = std::move(parsed.value);
    } else if (const auto start = text.find_first_not_of(" \t\r\n");
               start != std::string_view::npos && text[start] == '{') {
        TWA_LOG("Error body of status {} not read as JSON: {}", status, parsed.error);
    }
    return platform::Error::withUserInfo(kTBXHTTPFetcherStatusDomain, status, info);
}

}  // namespace

void TBXHTTPFetcher::setRetriesAllowed(bool allowed) {
    gRetriesAllowed = allowed;
}

std::shared_ptr<TBXHTTPFetcher> TBXHTTPFetcher::fetcherWithRequest(platform::URLRequest request) {
    return std::shared_ptr<TBXHTTPFetcher>(new TBXHTTPFetcher(std::move(request)));
}

TBXHTTPFetcher::~TBXHTTPFetcher() {
    retryTimer_.cancel();
    if (connection_) connection_->cancel();
}

void TBXHTTPFetcher::setPostData(Data data) {
    request_.setHTTPMethod("POST");
    request_.setHTTPBody(std::move(data));
}

void TBXHTTPFetcher::beginFetchWithCompletionHandler(CompletionHandler handler) {
    if (handler_) {
        TWA_LOG("TWA_ASSERT false: {}", "!isFetching");
        return;
    }
    handler_ = handler ? std::move(handler) : [](auto, auto) {};
    retryCount_ = 0;
    running().insert(shared_from_this());
    if (authorizer_) {
        if (auto error = authorizer_->authorizeRequest(request_)) {
            // Answer at a later turn, never inside the caller's call.
            auto self = shared_from_this();
            platform::RunLoop::main().post(
                [self, error = *error] { self->finish(std::nullopt, error); });
            return;
        }
    }
    startLoad();
}

void TBXHTTPFetcher::stopFetching() {
    retryTimer_.cancel();
    if (connection_) connection_->cancel();
    connection_.reset();
    handler_ = nullptr;
    running().erase(shared_from_this());
}

bool TBXHTTPFetcher::shouldRetry(const std::optional<platform::Error>& transportError) const {
    if (!retryEnabled_ || !gRetriesAllowed || retryCount_ >= kMaximumRetries) return false;
    if (transportError) return isRetryableTransportError(*transportError);
    return isRetryableStatus(statusCode_);
}

void TBXHTTPFetcher::startLoad() {
    statusCode_ = 0;
    body_.clear();
    std::weak_ptr<TBXHTTPFetcher> weak = shared_from_this();
    platform::URLConnectionCallbacks callbacks;
    callbacks.willSendRequest =
        [weak](platform::URLRequest next,
               const platform::HTTPURLResponse&) -> std::optional<platform::URLRequest> {
        auto self = weak.lock();
        if (!self || !self->handler_) return std::nullopt;
        if (isSameOrigin(self->request_.url(), next.url())) return next;
        // The body carries the client's secrets: it goes nowhere but where it was sent.
        TWA_LOG("Refusing a redirect off the server's origin to {}", next.url().absoluteString());
        if (self->connection_) self->connection_->cancel();
        self->finish(std::nullopt,
                     platform::Error(platform::kURLErrorDomain, kURLErrorRedirectOffOrigin,
                                     "redirect off the server's origin"));
        return std::nullopt;
    };
    callbacks.didReceiveResponse = [weak](const platform::HTTPURLResponse& response) {
        auto self = weak.lock();
        if (!self) return;
        self->statusCode_ = response.statusCode();
        self->body_.clear();
    };
    callbacks.didReceiveData = [weak](const std::vector<uint8_t>& data) {
        auto self = weak.lock();
        if (!self || !self->handler_) return;
        if (data.size() > kMaximumBodyBytes - self->body_.size()) {
            TWA_LOG("Response body exceeds {} bytes, refused", kMaximumBodyBytes);
            if (self->connection_) self->connection_->cancel();
            self->finish(std::nullopt, platform::Error(platform::kURLErrorDomain,
                                                       kURLErrorDataLengthExceedsMaximum,
                                                       "resource exceeds maximum size"));
            return;
        }
        self->body_.insert(self->body_.end(), data.begin(), data.end());
    };
    callbacks.didFinishLoading = [weak] {
        auto self = weak.lock();
        if (!self || !self->handler_) return;
        if (self->statusCode_ >= 300 && self->shouldRetry(std::nullopt)) {
            double delay = kFirstRetryDelay * std::pow(2.0, self->retryCount_++);
            self->scheduleRetry(delay);
            return;
        }
        std::optional<platform::Error> error;
        if (self->statusCode_ >= 300) error = statusError(self->statusCode_, self->body_);
        self->finish(std::move(self->body_), std::move(error));
    };
    callbacks.didFailWithError = [weak](const platform::Error& error) {
        auto self = weak.lock();
        if (!self || !self->handler_) return;
        if (self->shouldRetry(error)) {
            double delay = kFirstRetryDelay * std::pow(2.0, self->retryCount_++);
            self->scheduleRetry(delay);
            return;
        }
        self->finish(std::nullopt, error);
    };
    connection_ =
        platform::URLConnection::start(request_, std::move(callbacks), platform::RunLoop::main());
}

void TBXHTTPFetcher::scheduleRetry(double delay) {
    connection_.reset();
    // The timer holds the fetcher while it waits; stopFetching cancels it.
    std::weak_ptr<TBXHTTPFetcher> weak = shared_from_this();
    retryTimer_ = platform::RunLoop::main().postAfter(delay, [weak] {
        if (auto self = weak.lock(); self && self->handler_) self->startLoad();
    });
}

void TBXHTTPFetcher::finish(std::optional<Data> data, std::optional<platform::Error> error) {
    auto handler = std::move(handler_);
    handler_ = nullptr;
    auto connection = std::move(connection_);
    connection_.reset();
    auto self = shared_from_this();
    running().erase(self);
    if (handler) handler(std::move(data), std::move(error));
}
