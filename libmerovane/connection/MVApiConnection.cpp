#include "libmerovane/connection/MVApiConnection.h"

#include <nlohmann/json.hpp>

#include "libmerovane/bridge/URLRequestExtensions.h"
#include "libmerovane/connection/MVApiConnectionHost.h"
#include "libmerovane/connection/MVApiPacketBuilder.h"
#include "libmerovane/connection/MVApiRedirectedHead.h"
#include "libmerovane/core/MVConnectionLossMonitor.h"
#include "libmerovane/core/MVLog.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/ProxySettings.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/foundation/TextUtilities.h"
#include "platform/foundation/Thread.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"

using platform::StreamEvent;

namespace {

constexpr const char* kPathLine = "MVApiConnection path is {}";
constexpr const char* kEstablishingLine = "MVApiConnection establishing connection... ({}, {})";
constexpr const char* kEncryptedLine =
    "MVApiConnection connects to {}:{}{} with TLS and checks the server's certificate (https "
    "address)";
constexpr const char* kPlainLine =
    "MVApiConnection connects to {}:{}{} in plain text, without TLS (not an https address)";
constexpr const char* kProxyCredentialsLine =
    "MVApiConnection does not send the credentials of the proxy {}:{}: proxy authentication "
    "is not supported";
constexpr const char* kUnsupportedProxyLine =
    "MVApiConnection does not support this type of proxy. Trying direct connection...";
constexpr const char* kUnsupportedProxyTitle = "This proxy type is not supported";
constexpr const char* kUnsupportedProxyButton = "Ok";
constexpr const char* kTimedOutLine = "MVApiConnection timed out. Will retry in 5 seconds...";
constexpr const char* kNoResponseHeadLine =
    "MVApiConnection received no response within {:.0f} seconds. Will retry in 5 seconds...";
constexpr const char* kResponseStalledLine =
    "MVApiConnection response stalled for {:.0f} seconds. Will retry in 5 seconds...";
constexpr const char* kChunkStalledLine =
    "MVApiConnection chunk stalled for {:.0f} seconds. Will retry in 5 seconds...";
constexpr const char* kErrorLine =
    "MVApiConnection encountered an error and will reconnect in 5 seconds:\n{}";
constexpr const char* kEndedBeforeResponseLine =
    "MVApiConnection was closed by the server before its response. Will retry in 5 seconds...";
constexpr const char* kNoResponseFromPersistentLine =
    "MVApiConnection did not receive a HTTP response from a gracefully shut persistent "
    "connection. Assuming connection is not persistent anymore";
constexpr const char* kNoHeadOnPersistentLine =
    "MVApiConnection received no HTTP response head on a persistent connection within {:.0f} "
    "seconds. Assuming connection is not persistent anymore";
constexpr const char* kGracefulShutdownLine =
    "MVApiConnection was gracefully shut down after {:.2f}m and will reconnect now.";
constexpr const char* kSwitchToPersistentLine =
    "MVApiConnection switching to persistent api connection. Reconnecting now...";
constexpr const char* kSwitchToLegacyLine =
    "MVApiConnection switching to legacy api connection. Persistence is not supported...";

struct SharedConnection {
    std::mutex mutex;
    std::shared_ptr<MVApiConnectionHost> host;
    std::shared_ptr<MVApiConnection> connection;
    bool resetRegistered = false;
};

SharedConnection& sharedState() {
    static auto* state = new SharedConnection;
    return *state;
}

std::string describe(const platform::Error& error) {
    return fmt::format("Error Domain={} Code={} \"{}\"", error.domain(), error.code(),
                       error.localizedDescription());
}

}  // namespace

// Creation and the shared instance ------------------------------------------------------

void MVApiConnection::setHost(std::shared_ptr<MVApiConnectionHost> host) {
    auto& state = sharedState();
    std::lock_guard lock(state.mutex);
    state.host = std::move(host);
}

std::shared_ptr<MVApiConnectionHost> MVApiConnection::host() {
    auto& state = sharedState();
    std::lock_guard lock(state.mutex);
    return state.host;
}

MVApiConnection& MVApiConnection::sharedConnection() {
    auto& state = sharedState();
    std::shared_ptr<MVApiConnection> made;
    {
        std::lock_guard lock(state.mutex);
        if (state.connection) return *state.connection;
        platform::assertThat(state.host != nullptr, "MVApiConnection needs its host");
        if (!state.resetRegistered) {
            state.resetRegistered = true;
            // Resets run latest first: the connection goes before the application whose
            // background task it holds.
            platform::Application::shared();
            platform::registerSharedInstanceReset("MVApiConnection",
                                                  [] { resetSharedConnectionForTesting(); });
        }
        made = state.connection = create();
    }
    // The first opening takes the connection's lock, which is never taken under the shared
    // state's: the connection's threads ask for the host under their own.
    made->reestablishStreamConnection(kStartDelay);
    return *made;
}

void MVApiConnection::endStreaming() {
    std::shared_ptr<MVApiConnection> connection;
    {
        auto& state = sharedState();
        std::lock_guard lock(state.mutex);
        connection = state.connection;
    }
    if (connection) connection->shutdown();
}

void MVApiConnection::resetSharedConnectionForTesting() {
    std::shared_ptr<MVApiConnection> connection;
    {
        auto& state = sharedState();
        std::lock_guard lock(state.mutex);
        connection.swap(state.connection);
        state.host.reset();
    }
    if (connection) connection->shutdown();
}

std::shared_ptr<MVApiConnection> MVApiConnection::create() {
    return std::shared_ptr<MVApiConnection>(new MVApiConnection);
}

MVApiConnection::MVApiConnection() : packetBuilder_(std::make_unique<MVApiPacketBuilder>()) {
    if (auto host = sharedState().host) storedApiPath_ = host->defaultApiPath();
    downstreamThread_ = std::make_unique<platform::Thread>(kDownstreamThreadName);
    upstreamThread_ = std::make_unique<platform::Thread>(kUpstreamThreadName);
}

MVApiConnection::~MVApiConnection() {
    shutdown();
}

void MVApiConnection::shutdown() {
    {
        std::lock_guard lock(mutex_);
        if (shutDown_) return;
        shutDown_ = true;
        closeStreamConnectionLocked();
        commandBufferTimer_.cancel();
        reconnectTimer_.cancel();
    }
    downstreamThread_->stop();
    downstreamThread_->join();
    upstreamThread_->stop();
    upstreamThread_->join();
}

// The API URL ---------------------------------------------------------------------------

void MVApiConnection::overrideApiPath(const std::optional<std::string>& path) {
    std::string base = path.value_or("");
    if (base.empty()) {
        auto host = MVApiConnection::host();
        base = host ? host->defaultApiPath() : std::string();
    }
    auto& defaults = platform::UserDefaults::standard();
    const auto last = defaults.stringForKey(kLastRunningApiPathKey);
    {
        std::lock_guard lock(mutex_);
        storedApiPath_ = base;
        isApiPathLogged_ = false;
        persistenceHeldBackUntil_.reset();
    }
    defaults.setObject(kLastRunningApiPathKey, base);
    defaults.synchronize();
    if (last && *last != base) {
        if (auto host = MVApiConnection::host()) host->resetApplication();
    }
}

std::string MVApiConnection::apiPath() const {
    std::lock_guard lock(mutex_);
    return redirectUrl_.value_or(storedApiPath_);
}

std::string MVApiConnection::apiHost() const {
    const auto url = platform::URL::parse(apiPath());
    return url ? url->host() : std::string();
}

int64_t MVApiConnection::apiPort() const {
    const auto url = platform::URL::parse(apiPath());
    if (!url) return 80;
    if (url->port()) return *url->port();
    return apiUsesTLS() ? 443 : 80;
}

bool MVApiConnection::apiUsesTLS() const {
    return usesTLS(apiPath());
}

bool MVApiConnection::usesTLS(const std::string& url) {
    const auto parsed = platform::URL::parse(url);
    return parsed && platform::asciiLowercase(parsed->scheme()).find("https") != std::string::npos;
}

std::string MVApiConnection::targetHost() const {
    std::lock_guard lock(mutex_);
    return connectHost_.empty() ? apiHost() : connectHost_;
}

int64_t MVApiConnection::targetPort() const {
    std::lock_guard lock(mutex_);
    return connectHost_.empty() ? apiPort() : connectPort_;
}

// Opening and closing -------------------------------------------------------------------

bool MVApiConnection::isConnectionOpened() const {
    std::lock_guard lock(mutex_);
    return isConnectionOpenedLocked();
}

bool MVApiConnection::isConnectionOpenedLocked() const {
    return streamFromServer_ || streamToServer_;
}

void MVApiConnection::reestablishStreamConnection(double delay) {
    auto weak = weak_from_this();
    if (!platform::isMainThread()) {
        platform::RunLoop::main().post([weak, delay] {
            if (auto self = weak.lock()) self->reestablishStreamConnection(delay);
        });
        return;
    }
    // One opening is scheduled at a time, after the delay the latest event asked for:
    // two failures handled close together must not start two chains of attempts.
    std::lock_guard lock(mutex_);
    retryNotBefore_ = platform::Date::now().addingTimeInterval(delay);
    reconnectTimer_.cancel();
    reconnectTimer_ = platform::RunLoop::main().postAfter(delay, [weak] {
        if (auto self = weak.lock()) self->establishStreamConnection();
    });
}

bool MVApiConnection::repostToMainThread(void (MVApiConnection::*method)()) {
    if (platform::isMainThread()) return false;
    platform::RunLoop::main().post([weak = weak_from_this(), method] {
        if (auto self = weak.lock()) (self.get()->*method)();
    });
    return true;
}

void MVApiConnection::askForConnection() {
    if (repostToMainThread(&MVApiConnection::askForConnection)) return;
    std::lock_guard lock(mutex_);
    if (shutDown_ || isConnectionOpenedLocked()) return;
    // The last failure sets the pace: a packet queued meanwhile waits for the opening due.
    if (retryNotBefore_) {
        const double wait = retryNotBefore_->timeIntervalSince(platform::Date::now());
        if (wait > 0) {
            reestablishStreamConnection(wait);
            return;
        }
    }
    establishStreamConnection();
}

void MVApiConnection::establishStreamConnection() {
    if (repostToMainThread(&MVApiConnection::establishStreamConnection)) return;
    std::lock_guard lock(mutex_);
    if (shutDown_ || isConnectionOpenedLocked()) return;
    closeStreamConnectionLocked();
    if (!MVConnectionLossMonitor::allowsConnections()) {
        reestablishStreamConnection(kRefusedRetryDelay);
        return;
    }

    auto& application = platform::Application::shared();
    iosBackgroundTaskIdentifier_ = application.beginBackgroundTask([weak = weak_from_this()] {
        auto self = weak.lock();
        if (!self) return;
        std::lock_guard lock(self->mutex_);
        if (self->iosBackgroundTaskIdentifier_ == platform::kInvalidBackgroundTask) return;
        platform::Application::shared().endBackgroundTask(self->iosBackgroundTaskIdentifier_);
        self->iosBackgroundTaskIdentifier_ = platform::kInvalidBackgroundTask;
    });
    MVConnectionLossMonitor::reportConnectionAttempt();
    updateProxySettings();
    if (!isApiPathLogged_) {
        MVLogInfo(kPathLine, apiPath());
        isApiPathLogged_ = true;
    }
    MVLogInfo(kEstablishingLine,
              serverWillAcceptMsgPack_ ? "application/msgpack" : "application/json",
              serverWillAcceptGZip_ ? "gzip" : "uncompressed");

    // The tunnel, the TLS peer name and the trust check follow the host this connection
    // is for, which a redirect may have chosen; the redirect itself is used up below.
    connectionUrl_ = apiPath();
    connectionRedirected_ = redirectUrl_.has_value();
    connectHost_ = apiHost();
    connectPort_ = apiPort();
    // The scheme alone decides on TLS, whatever the port: an https address is encrypted
    // and its certificate checked, directly or inside the proxy's tunnel.
    connectUsesTLS_ = apiUsesTLS();
    const std::string host = proxyHost_ ? *proxyHost_ : connectHost_;
    const int port = static_cast<int>(proxyHost_ ? proxyPort_ : connectPort_);
    const std::string through = proxyHost_
                                    ? fmt::format(" through the proxy {}:{}",
                                                  platform::log::escaped(*proxyHost_), proxyPort_)
                                    : std::string();
    if (connectUsesTLS_) {
        MVLogInfo(kEncryptedLine, platform::log::escaped(connectHost_), connectPort_, through);
    } else {
        MVLogInfo(kPlainLine, platform::log::escaped(connectHost_), connectPort_, through);
    }
    hasVerifiedTrust_ = false;
    needsVerifiedTrust_ = !proxyHost_ && connectUsesTLS_;
    state_ = proxyHost_ ? MVApiConnectionStateProxyConnect : MVApiConnectionStateSendRequest;
    dataFromServer_.emplace();
    resetReader();
    lastConnectionResponse_.reset();
    // A packet handed out on an earlier connection and never answered goes again.
    writer_.resendHandedOut();
    packetsOnConnection_ = 0;

    retryNotBefore_.reset();
    auto pair = platform::Stream::createPair(host, port);
    redirectUrl_.reset();
    streamFromServer_ = pair.input;
    streamToServer_ = pair.output;
    pair.input->setDelegate(weak_from_this());
    pair.output->setDelegate(weak_from_this());
    if (needsVerifiedTrust_)
        pair.input->setTLSSettings(
            {.peerName = "", .validatesCertificateChain = false, .holdsUntilPeerTrusted = true});
    pair.output->scheduleInRunLoop(upstreamThread_->runLoop());
    pair.input->scheduleInRunLoop(downstreamThread_->runLoop());
    pair.input->open();
    pair.output->open();
    timeOfStreamOpen_ = platform::Date::now();
    startOpenWatchdog();
}

void MVApiConnection::updateProxySettings() {
    const auto proxies = platform::ProxySettings::proxiesForURL(apiPath());
    if (!proxies.empty()) {
        const auto& proxy = proxies.front();
        if (proxy.type == platform::ProxyType::HTTP) {
            proxyHost_ = proxy.host;
            proxyPort_ = proxy.port;
            // No proxy authentication is spoken: said once, without the credentials.
            if (proxy.hasCredentials && !proxyCredentialsLogged_) {
                proxyCredentialsLogged_ = true;
                MVLogWarn(kProxyCredentialsLine, platform::log::escaped(proxy.host), proxy.port);
            }
            return;
        }
        if (proxy.type != platform::ProxyType::None) {
            MVLogError(kUnsupportedProxyLine);
            platform::AlertView::create(kUnsupportedProxyTitle, std::nullopt, {},
                                        kUnsupportedProxyButton)
                ->show();
        }
    }
    proxyHost_.reset();
}

void MVApiConnection::startOpenWatchdog() {
    const platform::Date openedAt = *timeOfStreamOpen_;
    std::weak_ptr<platform::OutputStream> output = streamToServer_;
    platform::RunLoop::main().postAfterDetached(
        kOpenWatchdogDelay, [weak = weak_from_this(), openedAt, output] {
            auto self = weak.lock();
            if (!self) return;
            std::lock_guard lock(self->mutex_);
            auto stream = output.lock();
            if (!stream || self->timeOfStreamOpen_ != openedAt || self->streamToServer_ != stream)
                return;
            switch (stream->streamStatus()) {
                case platform::StreamStatus::Open:
                case platform::StreamStatus::Writing:
                case platform::StreamStatus::Closed:
                case platform::StreamStatus::Error:
                    return;
                default:
                    break;
            }
            MVLogError(kTimedOutLine);
            self->failInputStream();
        });
}

void MVApiConnection::startResponseHeadBound() {
    const auto state = state_;
    std::weak_ptr<platform::InputStream> input = streamFromServer_;
    responseBound_.cancel();
    responseBoundAt_.reset();
    responseBound_ = platform::RunLoop::main().postAfter(
        kResponseHeadTimeout, [weak = weak_from_this(), state, input] {
            auto self = weak.lock();
            if (!self) return;
            std::lock_guard lock(self->mutex_);
            auto stream = input.lock();
            if (!stream || self->streamFromServer_ != stream || self->state_ != state) return;
            MVLogError(kNoResponseHeadLine, kResponseHeadTimeout);
            // A proxy that waits for the whole request body holds a persistent head back
            // for ever, and carries legacy requests.
            if (state == MVApiConnectionStateResponse && self->hasPersistentConnection_ &&
                self->supportsPersistentConnection_) {
                MVLogWarn(kNoHeadOnPersistentLine, kResponseHeadTimeout);
                self->persistenceGotNoHead();
            }
            self->failInputStream();
        });
}

std::optional<double> MVApiConnection::streamSilenceLimit() const {
    if (insideChunk_) return kChunkStallTimeout;
    if (!hasPersistentConnection_) return kLegacyResponseIdleTimeout;
    return std::nullopt;
}

void MVApiConnection::startStreamBound(double delay) {
    std::weak_ptr<platform::InputStream> input = streamFromServer_;
    responseBound_.cancel();
    responseBoundAt_ = platform::Date::now().addingTimeInterval(delay);
    responseBound_ = platform::RunLoop::main().postAfter(delay, [weak = weak_from_this(), input] {
        auto self = weak.lock();
        if (!self) return;
        std::lock_guard lock(self->mutex_);
        auto stream = input.lock();
        self->responseBoundAt_.reset();
        if (!stream || self->streamFromServer_ != stream ||
            self->state_ != MVApiConnectionStateStreaming || !self->timeOfLastRead_)
            return;
        const auto limit = self->streamSilenceLimit();
        if (!limit) return;  // a persistent connection between chunks may stay quiet
        const double silent = platform::Date::now().timeIntervalSince(*self->timeOfLastRead_);
        // Bytes that wait behind the closed reading gate are no silence.
        const bool waiting = !self->isAllowedToReadCommands_ || stream->hasBytesAvailable();
        if (silent < *limit || waiting) {
            self->startStreamBound(waiting ? *limit : *limit - silent);
            return;
        }
        if (self->insideChunk_) {
            MVLogError(kChunkStalledLine, *limit);
        } else {
            MVLogError(kResponseStalledLine, *limit);
        }
        self->failInputStream();
    });
}

void MVApiConnection::boundBegunChunk() {
    if (!insideChunk_) return;
    const platform::Date deadline = platform::Date::now().addingTimeInterval(kChunkStallTimeout);
    if (responseBoundAt_ && *responseBoundAt_ <= deadline) return;
    startStreamBound(kChunkStallTimeout);
}

void MVApiConnection::closeStreamConnection() {
    if (repostToMainThread(&MVApiConnection::closeStreamConnection)) return;
    std::lock_guard lock(mutex_);
    closeStreamConnectionLocked();
}

void MVApiConnection::closeStreamConnectionLocked() {
    if (!isConnectionOpenedLocked()) return;
    // The streams are thread-safe, so both are taken off their threads from here; events
    // already under way find them gone and are dropped.
    if (streamToServer_) {
        streamToServer_->setDelegate({});
        streamToServer_->removeFromRunLoop(upstreamThread_->runLoop());
        streamToServer_->close();
    }
    if (streamFromServer_) {
        streamFromServer_->setDelegate({});
        streamFromServer_->removeFromRunLoop(downstreamThread_->runLoop());
        streamFromServer_->close();
    }
    streamToServer_.reset();
    streamFromServer_.reset();
    hasVerifiedTrust_ = false;
    needsVerifiedTrust_ = false;
    dataFromServer_.reset();
    resetReader();
    writer_.dropChunkInProgress();
    responseBound_.cancel();
    responseBoundAt_.reset();
    insideChunk_ = false;
    timeOfLastRead_.reset();
    unwrittenHead_.clear();
    cancelKeepAlives();
    timeOfHTTPRequest_.reset();
    timeOfStreamOpen_.reset();
    if (iosBackgroundTaskIdentifier_ != platform::kInvalidBackgroundTask) {
        platform::Application::shared().endBackgroundTask(iosBackgroundTaskIdentifier_);
        iosBackgroundTaskIdentifier_ = platform::kInvalidBackgroundTask;
    }
}

// Stream events ---------------------------------------------------------------------------

void MVApiConnection::scheduleStreamEvent(bool input, StreamEvent event, double delay) {
    std::shared_ptr<platform::Stream> stream;
    if (input) {
        stream = streamFromServer_;
    } else {
        stream = streamToServer_;
    }
    if (!stream || shutDown_) return;
    auto& loop = input ? downstreamThread_->runLoop() : upstreamThread_->runLoop();
    // Posted even on the stream's own thread, so that no handler runs inside another.
    auto task = [weak = weak_from_this(), stream, input, event] {
        auto self = weak.lock();
        if (!self) return;
        {
            std::lock_guard lock(self->mutex_);
            const std::shared_ptr<platform::Stream> current =
                input ? std::shared_ptr<platform::Stream>(self->streamFromServer_)
                      : std::shared_ptr<platform::Stream>(self->streamToServer_);
            if (self->shutDown_ || current != stream) return;
        }
        if (event == platform::kStreamEventHasSpaceAvailable &&
            !static_cast<platform::OutputStream&>(*stream).hasSpaceAvailable())
            return;
        if (event == platform::kStreamEventHasBytesAvailable &&
            !static_cast<platform::InputStream&>(*stream).hasBytesAvailable())
            return;
        self->handleEvent(*stream, event);
    };
    if (delay > 0) {
        loop.postAfterDetached(delay, std::move(task));
    } else {
        loop.post(std::move(task));
    }
}

void MVApiConnection::handleEvent(platform::Stream& stream, StreamEvent event) {
    std::unique_lock lock(mutex_);
    if (shutDown_) return;
    const bool isInput = streamFromServer_ && &stream == streamFromServer_.get();
    const bool isOutput = streamToServer_ && &stream == streamToServer_.get();
    if (!isInput && !isOutput) return;  // a stream of an earlier connection

    switch (event) {
        case platform::kStreamEventHasSpaceAvailable:
            if (!isOutput) return;
            break;
        case platform::kStreamEventHasBytesAvailable:
        case platform::kStreamEventPeerTrustPending:
            if (!isInput) return;
            // The streams move no byte until the handshake's chain is judged: an untrusted
            // server gets nothing of the request, and nothing is read from it.
            if (!isTrustedConnection()) {
                closeAfterReadFailure();
                return;
            }
            if (event == platform::kStreamEventPeerTrustPending) {
                stream.acceptPeerTrust();
                return;
            }
            break;
        case platform::kStreamEventEndEncountered:
            if (isInput) streamEventEndEncountered();
            return;
        case platform::kStreamEventErrorOccurred:
            if (isInput) streamEventErrorOccurred();
            return;
        default:
            break;
    }

    switch (state_) {
        case MVApiConnectionStateProxyConnect:
            if (isOutput && event == platform::kStreamEventHasSpaceAvailable) {
                writeHead(dataForStreamConnection(requestForProxyConnection()));
                state_ = MVApiConnectionStateProxyResponse;
                startResponseHeadBound();
            }
            break;
        case MVApiConnectionStateSendRequest:
            if (isOutput && event == platform::kStreamEventHasSpaceAvailable) {
                writeHead(connectionRedirected_
                              ? dataForRedirectedConnection(requestForApiConnection())
                              : dataForApiConnection(requestForApiConnection()));
                state_ = MVApiConnectionStateResponse;
                timeOfHTTPRequest_ = platform::Date::now();
                startResponseHeadBound();
                // The first packet follows the head without waiting for the answer.
                scheduleStreamEvent(false, platform::kStreamEventHasSpaceAvailable,
                                    kFirstPacketDelay);
            }
            break;
        case MVApiConnectionStateProxyResponse:
        case MVApiConnectionStateResponse:
            if (isInput && event == platform::kStreamEventHasBytesAvailable) {
                readResponseHead();
            } else if (isOutput && event == platform::kStreamEventHasSpaceAvailable) {
                writeToServerStream();
            }
            break;
        case MVApiConnectionStateStartTLS:
            startTLS();
            break;
        case MVApiConnectionStateStreaming:
            if (isOutput && event == platform::kStreamEventHasSpaceAvailable) {
                writeToServerStream();
            } else if (isInput && event == platform::kStreamEventHasBytesAvailable &&
                       isAllowedToReadCommands_) {
                // While the gate is closed, the server's packets wait in the socket.
                readStreamChunked(lock);
            }
            break;
        default:
            break;
    }
}

void MVApiConnection::writeHead(const std::string& head) {
    unwrittenHead_ = head;
    writeToServerStream();
}

void MVApiConnection::writeToServerStream() {
    if (!streamToServer_) return;
    if (!unwrittenHead_.empty()) {
        // A head the stream did not take at once goes out before anything else.
        const long written = streamToServer_->write(
            reinterpret_cast<const uint8_t*>(unwrittenHead_.data()), unwrittenHead_.size());
        if (written > 0) unwrittenHead_.erase(0, static_cast<size_t>(written));
        if (!unwrittenHead_.empty()) return;
    }
    writePackets();
}

void MVApiConnection::startTLS() {
    hasVerifiedTrust_ = false;
    needsVerifiedTrust_ = true;
    lastConnectionResponse_.reset();
    streamToServer_->setTLSSettings({.peerName = targetHost(),
                                     .validatesCertificateChain = false,
                                     .holdsUntilPeerTrusted = true});
    state_ = MVApiConnectionStateSendRequest;
    // A server in the tunnel that never ends the handshake gets no request head to leave
    // unanswered: the same bound holds for it.
    startResponseHeadBound();
}

void MVApiConnection::failInputStream() {
    if (!streamFromServer_) return;
    streamFromServer_->close();
    scheduleStreamEvent(true, platform::kStreamEventErrorOccurred);
}

bool MVApiConnection::hasPendingPacketLocked() const {
    return writer_.hasUnconfirmedPackets();
}

void MVApiConnection::streamEventErrorOccurred() {
    // The failed connection's kind decides: a legacy packet whose answer never came goes
    // again, whatever persistence that connection's head announced for the next one.
    const bool wasPersistent = hasPersistentConnection_;
    hasPersistentConnection_ = supportsPersistentConnection_;
    const bool redirect = redirectUrl_.has_value();
    if (!redirect) {
        MVConnectionLossMonitor::reportConnectionError();
        if (auto error = streamFromServer_ ? streamFromServer_->streamError() : std::nullopt)
            MVLogError(kErrorLine, describe(*error));
    }
    if (!wasPersistent) writer_.resendHandedOut();
    streamFromServer_->close();
    closeStreamConnection();
    // An idle legacy connection waits for the next packet to open one, at the same pace.
    if (!hasPendingPacketLocked() && !hasPersistentConnection_) {
        if (!redirect)
            retryNotBefore_ = platform::Date::now().addingTimeInterval(kErrorReconnectDelay);
        return;
    }
    reestablishStreamConnection(redirect ? 0 : kErrorReconnectDelay);
}

void MVApiConnection::closeAfterReadFailure() {
    // As the error handling does, so that a legacy packet in flight goes out again on the
    // next connection instead of waiting for a confirmation that never comes.
    const bool wasPersistent = hasPersistentConnection_;
    hasPersistentConnection_ = supportsPersistentConnection_;
    if (!wasPersistent) writer_.resendHandedOut();
    if (streamFromServer_) streamFromServer_->close();
    if (streamToServer_) streamToServer_->close();
    closeStreamConnection();
    reestablishStreamConnection(kErrorReconnectDelay);
}

void MVApiConnection::streamEventEndEncountered() {
    // An end before any response head is a failure, not the end of a served response:
    // reported, and tried again at the pace of errors, so that a server that closes every
    // connection at once is not asked many times a second.
    if (state_ != MVApiConnectionStateStreaming) {
        endedBeforeResponse();
        return;
    }
    const bool wasPersistent = hasPersistentConnection_;
    hasPersistentConnection_ = supportsPersistentConnection_;
    // The packet in flight arrived when the server answered 200; else it goes again.
    if (lastConnectionResponse_ && lastConnectionResponse_->statusCode() == 200) {
        writer_.confirmHandedOut();
    } else {
        writer_.resendHandedOut();
    }
    streamFromServer_->close();

    if (supportsPersistentConnection_) {
        if (wasPersistent) {
            const double seconds =
                timeOfStreamOpen_ ? platform::Date::now().timeIntervalSince(*timeOfStreamOpen_) : 0;
            MVLogVerbose(kGracefulShutdownLine, seconds / 60.0);
        } else {
            MVLogInfo(kSwitchToPersistentLine);
        }
        closeStreamConnection();
        reestablishStreamConnection(kGracefulReconnectDelay);
        return;
    }
    if (wasPersistent) MVLogWarn(kSwitchToLegacyLine);
    closeStreamConnection();
    if (hasPendingPacketLocked()) reestablishStreamConnection(kGracefulReconnectDelay);
}

void MVApiConnection::endedBeforeResponse() {
    const bool wasPersistent = hasPersistentConnection_;
    if (supportsPersistentConnection_ && wasPersistent && state_ == MVApiConnectionStateResponse) {
        MVLogWarn(kNoResponseFromPersistentLine);
        persistenceGotNoHead();
    }
    hasPersistentConnection_ = supportsPersistentConnection_;
    const bool redirect = redirectUrl_.has_value();
    if (!redirect) {
        MVConnectionLossMonitor::reportConnectionError();
        MVLogError(kEndedBeforeResponseLine);
    }
    // Nothing was answered: the packet in flight goes again.
    writer_.resendHandedOut();
    streamFromServer_->close();
    closeStreamConnection();
    // An idle legacy connection waits for the next packet to open one, at the same pace.
    if (!hasPendingPacketLocked() && !hasPersistentConnection_) {
        if (!redirect)
            retryNotBefore_ = platform::Date::now().addingTimeInterval(kErrorReconnectDelay);
        return;
    }
    reestablishStreamConnection(redirect ? 0 : kErrorReconnectDelay);
}

void MVApiConnection::persistenceGotNoHead() {
    // Off for the next connections too, not only for the next response.
    supportsPersistentConnection_ = false;
    persistenceHeldBackUntil_ = platform::Date::now().addingTimeInterval(kPersistenceHoldBack);
}

// Read-outs and test hooks --------------------------------------------------------------

#define MV_LOCKED_GETTER(type, name, field) \
    type MVApiConnection::name() const {    \
        std::lock_guard lock(mutex_);       \
        return field;                       \
    }
MV_LOCKED_GETTER(bool, hasPersistentConnection, hasPersistentConnection_)
MV_LOCKED_GETTER(bool, supportsPersistentConnection, supportsPersistentConnection_)
MV_LOCKED_GETTER(MVApiConnectionState, state, state_)
MV_LOCKED_GETTER(std::optional<std::string>, connectionIdentifier, connectionIdentifier_)
MV_LOCKED_GETTER(std::optional<platform::HTTPURLResponse>, lastConnectionResponse,
                 lastConnectionResponse_)
MV_LOCKED_GETTER(bool, serverWillAcceptMsgPack, serverWillAcceptMsgPack_)
MV_LOCKED_GETTER(bool, serverWillAcceptGZip, serverWillAcceptGZip_)
MV_LOCKED_GETTER(MVApiContentType, contentType, contentType_)
MV_LOCKED_GETTER(bool, isCompressed, isCompressed_)
MV_LOCKED_GETTER(MVApiChunkState, currentChunkState, currentChunkState_)
MV_LOCKED_GETTER(bool, isInsideChunk, insideChunk_)
MV_LOCKED_GETTER(uint64_t, streamedBytes, streamedBytes_)
MV_LOCKED_GETTER(std::optional<std::string>, proxyHost, proxyHost_)
MV_LOCKED_GETTER(int64_t, proxyPort, proxyPort_)
MV_LOCKED_GETTER(bool, needsVerifiedTrust, needsVerifiedTrust_)
MV_LOCKED_GETTER(bool, hasVerifiedTrust, hasVerifiedTrust_)
MV_LOCKED_GETTER(int64_t, upstreamSerial, upstreamSerial_)
MV_LOCKED_GETTER(int64_t, downstreamSerial, downstreamSerial_)
MV_LOCKED_GETTER(size_t, pendingDataToServerPosition, writer_.position())
MV_LOCKED_GETTER(size_t, pendingDataToServerPositionNext, writer_.nextPosition())
MV_LOCKED_GETTER(size_t, pendingPacketCount, writer_.count())
#undef MV_LOCKED_GETTER

bool MVApiConnection::hasWrittenPacketAfter(int64_t serial) const {
    std::lock_guard lock(mutex_);
    return writer_.hasWritten(serial + 1);
}

void MVApiConnection::appendPendingPacketForTesting(MVApiConnectionPacket packet) {
    std::lock_guard lock(mutex_);
    writer_.append(std::move(packet));
}

void MVApiConnection::setSerialsForTesting(int64_t upstream, int64_t downstream) {
    std::lock_guard lock(mutex_);
    upstreamSerial_ = upstream;
    downstreamSerial_ = downstream;
}
