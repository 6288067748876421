// The request and response heads of the API stream.
#include <nlohmann/json.hpp>

#include "libmerovane/bridge/URLRequestExtensions.h"
#include "libmerovane/bridge/URLResponseExtensions.h"
#include "libmerovane/connection/MVApiConnection.h"
#include "libmerovane/connection/MVApiConnectionHost.h"
#include "libmerovane/core/MVConnectionLossMonitor.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/core/MVLog.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/UserDefaults.h"

namespace {

constexpr const char* kUnparsableHeadLine =
    "MVApiConnection could not parse HTTP connection header, will retry in 5 seconds:\n{}";
constexpr const char* kAssignedIdentifierLine =
    "MVApiConnection did assign connection identifier '{}'";
constexpr const char* kSwitchedIdentifierLine =
    "MVApiConnection did switch connection identifier '{}' => '{}'";
constexpr const char* kRedirectLine = "MVApiConnection HTTP Redirect to {} | Will retry now...";
constexpr const char* kHTTPErrorLine =
    "MVApiConnection HTTP Error: {} | Will retry in 5 seconds...";
constexpr const char* kTunnelRefusedLine =
    "MVApiConnection proxy refused the tunnel with HTTP {} | Will retry in 5 seconds...";
constexpr const char* kInsecureRedirectLine =
    "MVApiConnection refused HTTP Redirect from https to {} | Will retry in 5 seconds...";
constexpr const char* kInsecureRedirectReport = "MVApiConnection refused HTTP Redirect from https";
constexpr const char* kRedirectLoopLine =
    "MVApiConnection stopped after {} HTTP Redirects in a row | Will retry in 5 seconds...";

// 308 keeps the method and body as 307 does; the stream's POST goes again either way.
bool isRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

platform::URL urlOf(const std::string& text) {
    return platform::URL::parse(text).value_or(platform::URL());
}

}  // namespace

std::string MVApiConnection::answeringUrl() const {
    std::lock_guard lock(mutex_);
    if (!connectionUrl_.empty()) return connectionUrl_;
    return redirectUrl_.value_or(storedApiPath_);
}

platform::URLRequest MVApiConnection::requestForProxyConnection() const {
    const std::string host = targetHost();
    const std::string authority = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    platform::URLRequest request(urlOf(fmt::format("http://{}:{}", authority, targetPort())));
    request.setHTTPMethod("CONNECT");
    auto application = MVApiConnection::host();
    request.setValue(application ? application->userAgentString() : std::string(), "User-Agent");
    request.setValue("Keep-Alive", "Connection");
    request.setValue("Keep-Alive", "Proxy-Connection");
    return request;
}

platform::URLRequest MVApiConnection::requestForApiConnection() const {
    auto& defaults = platform::UserDefaults::standard();
    const bool gzipDisabled = defaults.boolForKey(kGzipDisabledKey);
    const bool msgpackDisabled = defaults.boolForKey(kMsgpackDisabledKey);
    auto host = MVApiConnection::host();

    std::lock_guard lock(mutex_);
    platform::URLRequest request(urlOf(urlOf(answeringUrl()).stringWithoutFragment()));
    request.setHTTPMethod("POST");
    addSharedCookies(request);
    request.setValue(host ? host->userAgentString() : std::string(), "User-Agent");
    request.setValue(kMVApiHandshakeValue, "X-Merovane-Api");
    request.setValue(
        serverWillAcceptMsgPack_ ? "application/msgpack" : "application/json; charset=utf-8",
        "Content-Type");
    request.setValue("chunked", "Transfer-Encoding");
    request.setValue("Close", "Connection");
    request.setValue(host ? host->appIdentifier() : std::string(), "X-Merovane-Api-App-Identifier");
    if (!gzipDisabled) request.setValue("gzip", "Accept-Encoding");
    request.setValue(msgpackDisabled ? "application/json" : "application/msgpack, application/json",
                     "Accept");
    if (serverWillAcceptGZip_) request.setValue("gzip", "Content-Encoding");
    if (downstreamSerial_ != 0)
        request.setValue(std::to_string(downstreamSerial_), "X-Merovane-Api-SSerial");
    if (upstreamSerial_ != 0)
        request.setValue(std::to_string(upstreamSerial_), "X-Merovane-Api-CSerial");
    if (connectionIdentifier_) request.setValue(*connectionIdentifier_, "X-Merovane-Api-CID");
    return request;
}

void MVApiConnection::readResponseHead() {
    const auto stateBefore = state_;
    for (;;) {
        if (!streamFromServer_ || !dataFromServer_) break;
        uint8_t byte = 0;
        if (streamFromServer_->read(&byte, 1) != 1) break;
        dataFromServer_->push_back(static_cast<char>(byte));
        if (checkHTTPResponseIsComplete()) break;
        if (!streamFromServer_ || !streamFromServer_->hasBytesAvailable()) break;
    }
    // What follows the head is for the new state, in an event of its own (the chunk
    // reader leaves the lock, which it could not from inside this one).
    if (state_ != stateBefore && streamFromServer_ && streamFromServer_->hasBytesAvailable())
        scheduleStreamEvent(true, platform::kStreamEventHasBytesAvailable);
}

bool MVApiConnection::checkHTTPResponseIsComplete() {
    std::lock_guard lock(mutex_);
    if (!dataFromServer_) return false;
    auto check = checkResponseHead(*dataFromServer_, urlOf(answeringUrl()));
    if (check.status == MVApiResponseHeadCheck::Incomplete) return false;
    if (check.status == MVApiResponseHeadCheck::Unparsable) {
        failInputStream();
        MVLogError(kUnparsableHeadLine, platform::log::escaped(check.text));
        return false;
    }

    const platform::HTTPURLResponse& response = *check.response;
    const int status = response.statusCode();
    // The proxy's answer comes from outside the tunnel, before any certificate: anything
    // but a 2xx is a failed tunnel, and nothing of it (cookies, identifier, redirect) is
    // taken as the API server's.
    if (state_ == MVApiConnectionStateProxyResponse) {
        if (status < 200 || status > 299) {
            failInputStream();
            MVLogError(kTunnelRefusedLine, status);
            return false;
        }
        dataFromServer_.emplace();
        resetReader();
        state_ = connectUsesTLS_ ? MVApiConnectionStateStartTLS : MVApiConnectionStateSendRequest;
        scheduleStreamEvent(true, platform::kStreamEventHasBytesAvailable);
        scheduleStreamEvent(false, platform::kStreamEventHasSpaceAvailable);
        MVConnectionLossMonitor::reportConnectionSuccess();
        return true;
    }

    lastConnectionResponse_ = response;
    shareCookies(response);
    if (auto identifier = response.valueForHTTPHeaderField("x-merovane-api-cid")) {
        if (!connectionIdentifier_) {
            MVLogInfo(kAssignedIdentifierLine, platform::log::escaped(*identifier));
        } else if (*connectionIdentifier_ != *identifier) {
            MVLogWarn(kSwitchedIdentifierLine, platform::log::escaped(*connectionIdentifier_),
                      platform::log::escaped(*identifier));
        }
        connectionIdentifier_ = identifier;
    }

    if (isRedirect(status)) {
        followRedirect(response.valueForHTTPHeaderField("location"));
        return false;
    }
    redirectsInARow_ = 0;
    if (status != 200) {
        failInputStream();
        MVLogError(kHTTPErrorLine, status);
        return false;
    }

    auto& defaults = platform::UserDefaults::standard();
    const auto terms = termsOfApiResponse(response, defaults.boolForKey(kMsgpackDisabledKey),
                                          defaults.boolForKey(kGzipDisabledKey));
    state_ = MVApiConnectionStateStreaming;
    const bool heldBack = persistenceHeldBackUntil_ &&
                          platform::Date::now().timeIntervalSince(*persistenceHeldBackUntil_) < 0;
    supportsPersistentConnection_ = terms.supportsPersistentConnection && !heldBack;
    reader_.start(terms.chunkState, terms.contentType, terms.isCompressed);
    currentChunkState_ = terms.chunkState;
    timeOfLastRead_ = platform::Date::now();
    insideChunk_ = false;
    if (hasPersistentConnection_) {
        responseBound_.cancel();
        responseBoundAt_.reset();
    } else {
        startStreamBound(kLegacyResponseIdleTimeout);
    }
    isCompressed_ = terms.isCompressed;
    serverWillAcceptMsgPack_ = terms.serverWillAcceptMsgPack;
    serverWillAcceptGZip_ = terms.serverWillAcceptGZip;
    contentType_ = terms.contentType;
    if (terms.clientSerial) resetClientSerial(*terms.clientSerial);
    if (hasPersistentConnection_ && supportsPersistentConnection_) writer_.confirmHandedOut();
    // A persistent connection sends a keep-alive right after its head, then every 19 s.
    keepStreamAlive();
    scheduleStreamEvent(false, platform::kStreamEventHasSpaceAvailable);
    MVConnectionLossMonitor::reportConnectionSuccess();
    return true;
}

void MVApiConnection::followRedirect(const std::optional<std::string>& location) {
    // A redirect is no working connection: the monitor hears of success only when a
    // server answers 200, so that a loop of redirects counts as failing.
    failInputStream();
    // A relative Location names a URL on the server that answered.
    std::optional<std::string> resolved;
    if (location) {
        if (auto url = platform::URL::resolve(*location, urlOf(answeringUrl())))
            resolved = url->absoluteString();
    }
    const std::string target = resolved.value_or(location.value_or("(null)"));
    if (connectUsesTLS_ && !usesTLS(target)) {
        redirectsInARow_ = 0;
        MVLogError(kInsecureRedirectLine, platform::log::escaped(target));
        MVErrorLogger::logError(kInsecureRedirectReport, target);
        return;
    }
    if (++redirectsInARow_ > kMaxRedirectsInARow) {
        redirectsInARow_ = 0;
        MVLogError(kRedirectLoopLine, kMaxRedirectsInARow);
        return;
    }
    redirectUrl_ = resolved;
    MVLogError(kRedirectLine, platform::log::escaped(target));
}

bool MVApiConnection::resetClientSerial(int64_t value) {
    std::lock_guard lock(mutex_);
    return writer_.resetClientSerial(value);
}
