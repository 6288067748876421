#include "platform/foundation/SocketStream.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>

#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/OpenSSLSupport.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/SharedInstances.h"

namespace platform {
namespace {

// One TLS record at a time, so that a write the socket cannot take yet is exactly one
// record that OpenSSL holds for the retry.
constexpr size_t kMaxTLSWrite = 16384;

struct ConnectorState {
    std::mutex mutex;
    SocketConnector connector;
};
ConnectorState& connectorState() {
    static auto* state = new ConnectorState;
    return *state;
}

SSL_CTX* clientContext() {
    static SSL_CTX* context = [] {
        SSL_CTX* c = SSL_CTX_new(TLS_client_method());
        SSL_CTX_set_min_proto_version(c, TLS1_2_VERSION);
        // A server that closes without close_notify ends the stream; chunk framing, not
        // TLS, tells a cut response from a whole one.
        SSL_CTX_set_options(c, SSL_OP_IGNORE_UNEXPECTED_EOF);
        SSL_CTX_set_mode(c, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        SSL_CTX_set_verify(c, SSL_VERIFY_NONE, nullptr);
        return c;
    }();
    return context;
}

// OpenSSL writes to the socket with write(), which raises SIGPIPE once the server is
// gone; that must be an error of the stream, not the end of the process. The signal is
// held back on this thread for the call, and one it raised is taken off again.
class SigpipeGuard {
  public:
    SigpipeGuard() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_, &previous_);
        sigset_t pending;
        sigpending(&pending);
        alreadyPending_ = sigismember(&pending, SIGPIPE) == 1;
    }
    ~SigpipeGuard() {
        const int callersErrno = errno;  // what the SSL call left, for SSL_get_error
        sigset_t pending;
        sigpending(&pending);
        if (!alreadyPending_ && sigismember(&pending, SIGPIPE) == 1) {
            timespec none{0, 0};
            while (sigtimedwait(&pipe_, nullptr, &none) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
        errno = callersErrno;
    }
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

  private:
    sigset_t pipe_;
    sigset_t previous_;
    bool alreadyPending_ = false;
};

bool isIPAddress(const std::string& host) {
    unsigned char address[16];
    return inet_pton(AF_INET, host.c_str(), address) == 1 ||
           inet_pton(AF_INET6, host.c_str(), address) == 1;
}

Error posixError(int code) {
    return Error(kPOSIXErrorDomain, code, std::strerror(code));
}

bool wouldBlock(int code) {
    return code == EAGAIN || code == EWOULDBLOCK || code == EINTR;
}

struct Address {
    sockaddr_storage storage{};
    socklen_t length = 0;
};

std::vector<Address> addressesOf(addrinfo* list) {
    std::vector<Address> out;
    for (addrinfo* a = list; a; a = a->ai_next) {
        Address address;
        std::memcpy(&address.storage, a->ai_addr, a->ai_addrlen);
        address.length = a->ai_addrlen;
        out.push_back(address);
    }
    return out;
}

}  // namespace

namespace detail {

enum class Phase { Idle, Resolving, Connecting, Connected, Failed, Finished };
// AwaitingTrust: the handshake is done and the owner has not accepted the peer yet.
enum class TLSState { Off, Handshaking, AwaitingTrust, On };
enum class Probe { Nothing, Bytes, End, Failure };

// A watch of the socket on one loop; its handle is touched only on that loop's thread.
struct WatchEntry {
    RunLoop* loop = nullptr;
    FdWatch watch;
    int fd = -1;
};

struct Side {
    std::weak_ptr<Stream> stream;
    std::weak_ptr<StreamDelegate> delegate;
    RunLoop* loop = nullptr;
    RunLoop* postedTo = nullptr;  // a serve is queued there
    std::atomic<StreamStatus> status{StreamStatus::NotOpen};
    bool opened = false;
    bool closed = false;
    bool openDelivered = false;
    bool trustPendingDelivered = false;
    bool armed = true;  // the next bytes or space event may be delivered
    bool endDelivered = false;
    bool errorDelivered = false;
    short sslWant = POLLIN;
    std::vector<std::shared_ptr<WatchEntry>> watches;
};

struct SocketCore : std::enable_shared_from_this<SocketCore> {
    SocketCore(std::string h, int p) : host(std::move(h)), port(p) {}
    ~SocketCore() { finishLocked(); }

    std::mutex mutex;
    const std::string host;
    const int port;
    Phase phase = Phase::Idle;
    std::vector<Address> addresses;
    size_t nextAddress = 0;
    int fd = -1;
    std::optional<Error> error;  // set once the connection failed
    bool endSeen = false;

    std::optional<TLSSettings> tlsSettings;
    std::shared_ptr<const TrustStore> trustStore;
    TLSState tls = TLSState::Off;
    SSL* ssl = nullptr;
    short handshakeWant = POLLIN | POLLOUT;
    std::string pendingRecord;  // a TLS write the socket has not taken yet
    short pendingWant = POLLOUT;
    std::vector<std::string> peerChain;

    Side sides[2];  // input, output

    // Connecting ------------------------------------------------------------------

    void startLocked() {
        if (phase != Phase::Idle) return;
        phase = Phase::Resolving;
        SocketAddress target{host, port};
        {
            auto& state = connectorState();
            std::lock_guard lock(state.mutex);
            if (state.connector) {
                if (auto mapped = state.connector(host, port)) target = *mapped;
            }
        }
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
        const std::string service = std::to_string(target.port);
        addrinfo* list = nullptr;
        if (getaddrinfo(target.host.c_str(), service.c_str(), &hints, &list) == 0) {
            addresses = addressesOf(list);
            freeaddrinfo(list);
            connectNextLocked(posixError(ECONNREFUSED));
            return;
        }
        // A name: resolve off this thread, the lookup may take long.
        DispatchQueue::global().async([self = shared_from_this(), target, service] {
            addrinfo lookupHints{};
            lookupHints.ai_family = AF_UNSPEC;
            lookupHints.ai_socktype = SOCK_STREAM;
            lookupHints.ai_flags = AI_NUMERICSERV;
            addrinfo* found = nullptr;
            int status = getaddrinfo(target.host.c_str(), service.c_str(), &lookupHints, &found);
            std::lock_guard lock(self->mutex);
            if (self->phase != Phase::Resolving) {
                if (found) freeaddrinfo(found);
                return;
            }
            if (status != 0) {
                self->failLocked(
                    Error(kURLErrorDomain, kURLErrorCannotFindHost, gai_strerror(status)));
                return;
            }
            self->addresses = addressesOf(found);
            freeaddrinfo(found);
            self->connectNextLocked(posixError(ECONNREFUSED));
        });
    }

    void connectNextLocked(Error lastError) {
        while (nextAddress < addresses.size()) {
            const Address& address = addresses[nextAddress++];
            int s =
                ::socket(address.storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (s < 0) {
                lastError = posixError(errno);
                continue;
            }
            int one = 1;
            ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            if (::connect(s, reinterpret_cast<const sockaddr*>(&address.storage), address.length) ==
                0) {
                fd = s;
                connectedLocked();
                return;
            }
            if (errno == EINPROGRESS) {
                fd = s;
                phase = Phase::Connecting;
                notifyLocked();
                return;
            }
            lastError = posixError(errno);
            ::close(s);
        }
        PLATFORM_LOG_DEBUG("Stream to {}:{} could not connect: {}", host, port,
                           lastError.localizedDescription());
        failLocked(std::move(lastError));
    }

    void checkConnectLocked() {
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, 0) <= 0 || p.revents == 0) return;
        int code = 0;
        socklen_t length = sizeof code;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &code, &length) != 0) code = errno;
        if (code == 0) {
            connectedLocked();
            return;
        }
        ::close(fd);
        fd = -1;
        connectNextLocked(posixError(code));
    }

    void connectedLocked() {
        phase = Phase::Connected;
        if (tlsSettings) beginTLSLocked();
        notifyLocked();
    }

    // TLS -------------------------------------------------------------------------

    void beginTLSLocked() {
        ssl = SSL_new(clientContext());
        SSL_set_fd(ssl, fd);
        SSL_set_connect_state(ssl);
        const std::string name = tlsSettings->peerName.empty() ? host : tlsSettings->peerName;
        if (!name.empty() && !isIPAddress(name)) SSL_set_tlsext_host_name(ssl, name.c_str());
        if (tlsSettings->validatesCertificateChain) {
            trustStore = TrustStore::defaultStore();
            SSL_set_verify(ssl, SSL_VERIFY_PEER, nullptr);
            SSL_set1_verify_cert_store(ssl, trustStore->impl().store);
            openssl::applyServerPolicy(SSL_get0_param(ssl), name);
        }
        tls = TLSState::Handshaking;
        handshakeWant = POLLIN | POLLOUT;
        // What the streams said before the switch was about the plain connection.
        for (auto& side : sides) side.armed = true;
    }

    void handshakeLocked() {
        ERR_clear_error();
        int result;
        {
            SigpipeGuard guard;
            result = SSL_do_handshake(ssl);
        }
        if (result == 1) {
            tls = tlsSettings->holdsUntilPeerTrusted ? TLSState::AwaitingTrust : TLSState::On;
            if (STACK_OF(X509)* chain = SSL_get_peer_cert_chain(ssl)) {
                for (int i = 0; i < sk_X509_num(chain); ++i)
                    peerChain.push_back(openssl::derOf(sk_X509_value(chain, i)));
            }
            notifyLocked();
            return;
        }
        int code = SSL_get_error(ssl, result);
        if (code == SSL_ERROR_WANT_READ) {
            handshakeWant = POLLIN;
        } else if (code == SSL_ERROR_WANT_WRITE) {
            handshakeWant = POLLOUT;
        } else {
            long verified =
                tlsSettings->validatesCertificateChain ? SSL_get_verify_result(ssl) : X509_V_OK;
            std::string detail = verified != X509_V_OK ? X509_verify_cert_error_string(verified)
                                                       : tlsFailureText(code);
            PLATFORM_LOG_DEBUG("Stream to {}:{} TLS handshake failed: {}", host, port, detail);
            failLocked(Error(kURLErrorDomain,
                             verified != X509_V_OK ? kURLErrorServerCertificateUntrusted
                                                   : kURLErrorSecureConnectionFailed,
                             detail));
        }
    }

    std::string tlsFailureText(int code) {
        std::string text = openssl::takeErrorText();
        if (text.empty() && code == SSL_ERROR_SYSCALL)
            text = errno ? std::strerror(errno) : "connection closed";
        return text.empty() ? "TLS failure" : text;
    }

    // Classifies a failed SSL call; answers false when the stream failed. A read that
    // meets the server's close_notify marks the end.
    bool sslWouldBlock(int result, short& want, bool reading) {
        const int saved = errno;
        int code = SSL_get_error(ssl, result);
        if (code == SSL_ERROR_WANT_READ) {
            want = POLLIN;
            return true;
        }
        if (code == SSL_ERROR_WANT_WRITE) {
            want = POLLOUT;
            return true;
        }
        if (code == SSL_ERROR_ZERO_RETURN && reading) {
            endSeen = true;
            return true;
        }
        failLocked(
            code == SSL_ERROR_SYSCALL && saved
                ? posixError(saved)
                : Error(kURLErrorDomain, kURLErrorSecureConnectionFailed, tlsFailureText(code)));
        return false;
    }

    bool flushPendingRecordLocked() {
        while (!pendingRecord.empty()) {
            ERR_clear_error();
            int result;
            {
                SigpipeGuard guard;
                result =
                    SSL_write(ssl, pendingRecord.data(), static_cast<int>(pendingRecord.size()));
            }
            if (result > 0) {
                pendingRecord.erase(0, static_cast<size_t>(result));
                continue;
            }
            sslWouldBlock(result, pendingWant, false);
            return false;
        }
        return true;
    }

    // State shared by both streams ------------------------------------------------

    void failLocked(Error e) {
        if (phase == Phase::Failed || phase == Phase::Finished) return;
        phase = Phase::Failed;
        error = std::move(e);
        for (auto& side : sides) {
            if (!side.opened || side.closed) continue;
            if (&side == &sides[0] && side.endDelivered) continue;
            side.status = StreamStatus::Error;
        }
        notifyLocked();
    }

    void finishLocked() {
        if (ssl) {
            if (tls == TLSState::On && phase == Phase::Connected) {
                ERR_clear_error();
                SigpipeGuard guard;
                SSL_shutdown(ssl);  // best effort: never waits
            }
            SSL_free(ssl);
            ssl = nullptr;
        }
        ERR_clear_error();
        if (fd >= 0) ::close(fd);
        fd = -1;
        phase = Phase::Finished;
    }

    bool readyForDataLocked() const {
        return phase == Phase::Connected && (tls == TLSState::Off || tls == TLSState::On);
    }

    Probe probeLocked() {
        if (endSeen) return Probe::End;
        char byte;
        if (tls == TLSState::On) {
            if (SSL_pending(ssl) > 0) return Probe::Bytes;
            ERR_clear_error();
            int result;
            {
                SigpipeGuard guard;  // reading may answer the server (a key update)
                result = SSL_peek(ssl, &byte, 1);
            }
            if (result > 0) return Probe::Bytes;
            if (!sslWouldBlock(result, sides[0].sslWant, true)) return Probe::Failure;
            return endSeen ? Probe::End : Probe::Nothing;
        }
        ssize_t n = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n > 0) return Probe::Bytes;
        if (n == 0) {
            endSeen = true;
            return Probe::End;
        }
        if (wouldBlock(errno)) {
            sides[0].sslWant = POLLIN;
            return Probe::Nothing;
        }
        failLocked(posixError(errno));
        return Probe::Failure;
    }

    bool socketWritableLocked() {
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, 0) <= 0) return false;
        if (p.revents & POLLERR) {
            checkSocketErrorLocked();
            return false;
        }
        return (p.revents & POLLOUT) != 0;
    }

    void checkSocketErrorLocked() {
        int code = 0;
        socklen_t length = sizeof code;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &code, &length) == 0 && code != 0)
            failLocked(posixError(code));
    }

    // Event delivery --------------------------------------------------------------

    void postServeLocked(int index) {
        Side& side = sides[index];
        if (!side.loop || side.postedTo == side.loop) return;
        RunLoop* loop = side.loop;
        side.postedTo = loop;
        loop->post([weak = side.stream, loop, index] {
            if (auto stream = weak.lock()) stream->core_->serve(index, loop, 0);
        });
    }

    void postServeToLocked(int index, RunLoop* loop) {
        loop->post([weak = sides[index].stream, loop, index] {
            if (auto stream = weak.lock()) stream->core_->serve(index, loop, 0);
        });
    }

    void notifyLocked() {
        postServeLocked(0);
        postServeLocked(1);
    }

    // Runs on a loop thread (a posted serve or a watch): moves the connection on, keeps
    // this loop's watch in step with what the stream waits for, and delivers events.
    void serve(int index, RunLoop* postedFor, short revents) {
        Side& side = sides[index];
        RunLoop* here = RunLoop::current();
        std::shared_ptr<Stream> keep = side.stream.lock();
        if (!keep || !here) return;
        std::vector<StreamEvent> events;
        short want = 0;
        std::shared_ptr<WatchEntry> entry;
        bool dropEntry = false;
        {
            std::lock_guard lock(mutex);
            if (postedFor && side.postedTo == postedFor) side.postedTo = nullptr;
            auto found = std::find_if(side.watches.begin(), side.watches.end(),
                                      [&](const auto& w) { return w->loop == here; });
            if (found != side.watches.end()) entry = *found;
            const bool active = side.loop == here && side.opened && !side.closed;
            if (active) {
                if ((revents & POLLERR) && phase == Phase::Connected) checkSocketErrorLocked();
                want = stepLocked(index, events);
            }
            if (want && fd >= 0) {
                if (!entry) {
                    entry = std::make_shared<WatchEntry>();
                    entry->loop = here;
                    side.watches.push_back(entry);
                }
            } else if (entry && !active) {
                std::erase(side.watches, entry);
                dropEntry = true;
            }
        }
        if (entry) updateWatch(*entry, index, dropEntry ? 0 : want, dropEntry);
        deliver(index, *keep, here, events);
    }

    // What the stream waits for next, and the events that are due now.
    short stepLocked(int index, std::vector<StreamEvent>& events) {
        Side& side = sides[index];
        const bool input = index == 0;
        if (phase == Phase::Connecting) checkConnectLocked();
        if (phase == Phase::Connected && tls == TLSState::Handshaking) handshakeLocked();
        switch (phase) {
            case Phase::Idle:
            case Phase::Resolving:
            case Phase::Finished:
                return 0;
            case Phase::Connecting:
                return POLLOUT;
            case Phase::Failed:
                if (!side.errorDelivered && !(input && side.endDelivered)) {
                    side.errorDelivered = true;
                    events.push_back(kStreamEventErrorOccurred);
                }
                return 0;
            case Phase::Connected:
                break;
        }
        if (tls == TLSState::Handshaking) return handshakeWant;
        if (!side.openDelivered) {
            side.openDelivered = true;
            side.status = StreamStatus::Open;
            events.push_back(kStreamEventOpenCompleted);
        }
        if (tls == TLSState::AwaitingTrust) {
            // Nothing is read or written until the owner has judged the peer.
            if (input && !side.trustPendingDelivered) {
                side.trustPendingDelivered = true;
                events.push_back(kStreamEventPeerTrustPending);
            }
            return 0;
        }
        if (input) {
            if (side.endDelivered) return 0;
            Probe probe = side.armed || endSeen ? probeLocked() : Probe::Nothing;
            switch (probe) {
                case Probe::Bytes:
                    side.armed = false;
                    events.push_back(kStreamEventHasBytesAvailable);
                    return 0;
                case Probe::End:
                    side.endDelivered = true;
                    side.status = StreamStatus::AtEnd;
                    events.push_back(kStreamEventEndEncountered);
                    return 0;
                case Probe::Failure:
                    side.errorDelivered = true;
                    events.push_back(kStreamEventErrorOccurred);
                    return 0;
                case Probe::Nothing:
                    return side.armed ? side.sslWant : 0;
            }
            return 0;
        }
        if (!pendingRecord.empty() && !flushPendingRecordLocked()) {
            if (phase == Phase::Failed) {
                side.errorDelivered = true;
                events.push_back(kStreamEventErrorOccurred);
                return 0;
            }
            return pendingWant;
        }
        if (!side.armed) return 0;
        if (socketWritableLocked()) {
            side.armed = false;
            events.push_back(kStreamEventHasSpaceAvailable);
            return 0;
        }
        if (phase == Phase::Failed) {
            side.errorDelivered = true;
            events.push_back(kStreamEventErrorOccurred);
            return 0;
        }
        return POLLOUT;
    }

    void updateWatch(WatchEntry& entry, int index, short want, bool drop) {
        int currentFd;
        {
            std::lock_guard lock(mutex);
            currentFd = fd;
        }
        if (drop || currentFd < 0) {
            entry.watch.cancel();
            entry.fd = -1;
            return;
        }
        if (!entry.watch.isValid() || entry.fd != currentFd) {
            entry.watch.cancel();
            entry.fd = currentFd;
            if (want == 0) return;
            std::weak_ptr<Stream> weak = sides[index].stream;
            RunLoop* loop = entry.loop;
            entry.watch = loop->watchFd(currentFd, want, [weak, index](short revents) {
                if (auto stream = weak.lock()) stream->core_->serve(index, nullptr, revents);
            });
            return;
        }
        entry.watch.setEvents(want);
    }

    void deliver(int index, Stream& stream, RunLoop* here, const std::vector<StreamEvent>& events) {
        Side& side = sides[index];
        for (StreamEvent event : events) {
            std::shared_ptr<StreamDelegate> delegate;
            {
                std::lock_guard lock(mutex);
                if (side.closed || side.loop != here) return;
                delegate = side.delegate.lock();
            }
            if (!delegate) continue;
            try {
                delegate->handleEvent(stream, event);
            } catch (const std::exception& e) {
                PLATFORM_LOG_ERROR("Stream delegate threw while handling event {}: {}",
                                   static_cast<unsigned>(event), e.what());
            } catch (...) {
                PLATFORM_LOG_ERROR("Stream delegate threw while handling event {}",
                                   static_cast<unsigned>(event));
            }
        }
    }

    // Leaves the loop's watch to that loop's thread.
    void releaseWatchesLocked(int index) {
        for (auto& entry : sides[index].watches) postServeToLocked(index, entry->loop);
    }
};

}  // namespace detail

using detail::Phase;
using detail::SocketCore;
using detail::TLSState;

// Stream ------------------------------------------------------------------------------

StreamPair Stream::createPair(const std::string& host, int port) {
    auto core = std::make_shared<SocketCore>(host, port);
    StreamPair pair{std::make_shared<InputStream>(core), std::make_shared<OutputStream>(core)};
    core->sides[0].stream = pair.input;
    core->sides[1].stream = pair.output;
    return pair;
}

void Stream::setConnectorForTesting(SocketConnector connector) {
    {
        auto& state = connectorState();
        std::lock_guard lock(state.mutex);
        state.connector = std::move(connector);
    }
    registerSharedInstanceReset("platform::Stream::connector",
                                [] { setConnectorForTesting(nullptr); });
}

Stream::Stream(std::shared_ptr<detail::SocketCore> core, bool isInput)
    : core_(std::move(core)), isInput_(isInput) {}

Stream::~Stream() {
    std::vector<std::shared_ptr<detail::WatchEntry>> watches;
    {
        std::lock_guard lock(core_->mutex);
        auto& side = core_->sides[isInput_ ? 0 : 1];
        auto& other = core_->sides[isInput_ ? 1 : 0];
        side.closed = true;
        side.loop = nullptr;
        watches.swap(side.watches);
        if (other.closed || other.stream.expired()) core_->finishLocked();
    }
    // No serve of this stream runs now: each holds the stream alive while it runs.
    for (auto& entry : watches) {
        if (entry->loop->isCurrent()) {
            entry->watch.cancel();
        } else {
            entry->loop->post([entry] { entry->watch.cancel(); });
        }
    }
}

void Stream::open() {
    std::lock_guard lock(core_->mutex);
    auto& side = core_->sides[isInput_ ? 0 : 1];
    if (side.opened || side.closed) return;
    side.opened = true;
    side.status = core_->phase == Phase::Failed ? StreamStatus::Error : StreamStatus::Opening;
    core_->startLocked();
    core_->postServeLocked(isInput_ ? 0 : 1);
}

void Stream::close() {
    std::lock_guard lock(core_->mutex);
    const int index = isInput_ ? 0 : 1;
    auto& side = core_->sides[index];
    auto& other = core_->sides[1 - index];
    if (side.closed) return;
    side.closed = true;
    side.status = StreamStatus::Closed;
    if (other.closed || other.stream.expired()) core_->finishLocked();
    core_->releaseWatchesLocked(index);
}

StreamStatus Stream::streamStatus() const {
    return core_->sides[isInput_ ? 0 : 1].status.load();
}

std::optional<Error> Stream::streamError() const {
    std::lock_guard lock(core_->mutex);
    return core_->error;
}

void Stream::setDelegate(std::weak_ptr<StreamDelegate> delegate) {
    std::lock_guard lock(core_->mutex);
    core_->sides[isInput_ ? 0 : 1].delegate = std::move(delegate);
}

void Stream::scheduleInRunLoop(RunLoop& loop) {
    std::lock_guard lock(core_->mutex);
    const int index = isInput_ ? 0 : 1;
    auto& side = core_->sides[index];
    if (side.loop == &loop) return;
    side.loop = &loop;
    side.postedTo = nullptr;
    core_->releaseWatchesLocked(index);
    core_->postServeLocked(index);
}

void Stream::removeFromRunLoop(RunLoop& loop) {
    std::lock_guard lock(core_->mutex);
    const int index = isInput_ ? 0 : 1;
    auto& side = core_->sides[index];
    if (side.loop != &loop) return;
    side.loop = nullptr;
    side.postedTo = nullptr;
    core_->releaseWatchesLocked(index);
}

void Stream::setTLSSettings(const TLSSettings& settings) {
    std::lock_guard lock(core_->mutex);
    if (core_->tlsSettings) {
        PLATFORM_LOG_WARN("Stream to {}:{} already has TLS settings", core_->host, core_->port);
        return;
    }
    core_->tlsSettings = settings;
    if (core_->phase == Phase::Connected) {
        core_->beginTLSLocked();
        core_->notifyLocked();
    }
}

std::vector<std::string> Stream::peerCertificateChain() const {
    std::lock_guard lock(core_->mutex);
    return core_->peerChain;
}

void Stream::acceptPeerTrust() {
    std::lock_guard lock(core_->mutex);
    if (core_->tls != TLSState::AwaitingTrust) return;
    core_->tls = TLSState::On;
    for (auto& side : core_->sides) side.armed = true;
    core_->notifyLocked();
}

// InputStream -------------------------------------------------------------------------

long InputStream::read(uint8_t* buffer, size_t maxLength) {
    std::lock_guard lock(core_->mutex);
    auto& core = *core_;
    auto& side = core.sides[0];
    if (!side.opened || side.closed || core.phase == Phase::Failed || core.phase == Phase::Finished)
        return -1;
    if (!core.readyForDataLocked() || core.endSeen || maxLength == 0) return 0;
    side.armed = true;
    core.postServeLocked(0);
    side.status = StreamStatus::Reading;
    long result = 0;
    if (core.tls == TLSState::On) {
        ERR_clear_error();
        int n;
        {
            SigpipeGuard guard;
            n = SSL_read(core.ssl, buffer, static_cast<int>(std::min<size_t>(maxLength, INT_MAX)));
        }
        if (n > 0) {
            result = n;
        } else if (!core.sslWouldBlock(n, side.sslWant, true)) {
            return -1;
        }
    } else {
        ssize_t n = ::recv(core.fd, buffer, maxLength, MSG_DONTWAIT);
        if (n > 0) {
            result = n;
        } else if (n == 0) {
            core.endSeen = true;
        } else if (!wouldBlock(errno)) {
            core.failLocked(posixError(errno));
            return -1;
        }
    }
    side.status = core.endSeen ? StreamStatus::AtEnd : StreamStatus::Open;
    return result;
}

bool InputStream::hasBytesAvailable() const {
    std::lock_guard lock(core_->mutex);
    auto& core = *core_;
    auto& side = core.sides[0];
    if (!side.opened || side.closed || !core.readyForDataLocked()) return false;
    detail::Probe probe = core.probeLocked();
    if (probe == detail::Probe::End && !side.endDelivered) core.postServeLocked(0);
    return probe == detail::Probe::Bytes;
}

// OutputStream ------------------------------------------------------------------------

long OutputStream::write(const uint8_t* buffer, size_t length) {
    std::lock_guard lock(core_->mutex);
    auto& core = *core_;
    auto& side = core.sides[1];
    if (!side.opened || side.closed || core.phase == Phase::Failed || core.phase == Phase::Finished)
        return -1;
    side.armed = true;
    core.postServeLocked(1);
    if (!core.readyForDataLocked() || length == 0) return 0;
    side.status = StreamStatus::Writing;
    long result = 0;
    if (core.tls == TLSState::On) {
        if (core.flushPendingRecordLocked()) {
            const size_t count = std::min(length, kMaxTLSWrite);
            ERR_clear_error();
            int n;
            {
                SigpipeGuard guard;
                n = SSL_write(core.ssl, buffer, static_cast<int>(count));
            }
            if (n > 0) {
                result = n;
            } else if (core.sslWouldBlock(n, core.pendingWant, false)) {
                // OpenSSL has sealed this record and wants the same bytes again later.
                core.pendingRecord.assign(reinterpret_cast<const char*>(buffer), count);
                result = static_cast<long>(count);
            } else {
                return -1;
            }
        } else if (core.phase == Phase::Failed) {
            return -1;
        }
    } else {
        ssize_t n = ::send(core.fd, buffer, length, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) {
            result = n;
        } else if (!wouldBlock(errno)) {
            core.failLocked(posixError(errno));
            return -1;
        }
    }
    side.status = StreamStatus::Open;
    return result;
}

bool OutputStream::hasSpaceAvailable() const {
    std::lock_guard lock(core_->mutex);
    auto& core = *core_;
    auto& side = core.sides[1];
    if (!side.opened || side.closed || !core.readyForDataLocked()) return false;
    if (!core.pendingRecord.empty() && !core.flushPendingRecordLocked()) return false;
    return core.socketWritableLocked();
}

const char* streamStatusName(StreamStatus status) {
    switch (status) {
        case StreamStatus::NotOpen:
            return "not open";
        case StreamStatus::Opening:
            return "opening";
        case StreamStatus::Open:
            return "open";
        case StreamStatus::Reading:
            return "reading";
        case StreamStatus::Writing:
            return "writing";
        case StreamStatus::AtEnd:
            return "at end";
        case StreamStatus::Closed:
            return "closed";
        case StreamStatus::Error:
            return "error";
    }
    return "unknown";
}

}  // namespace platform
