#include "tools/peer/ApiPeer.h"

#include <arpa/inet.h>
#include <fmt/core.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <future>
#include <iostream>
#include <map>
#include <mutex>
#include <stdexcept>

#include "platform/foundation/Clock.h"
#include "platform/foundation/OpenSSLSupport.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"
#include "tools/peer/ChunkedCoding.h"
#include "tools/peer/Gzip.h"
#include "tools/peer/TlsServerSession.h"

namespace peer {

// PeerAction ---------------------------------------------------------------------------

PeerAction PeerAction::raw(std::string bytes) {
    return {Kind::Send, std::move(bytes), 0, std::nullopt};
}
PeerAction PeerAction::head(const ResponseHead& head) {
    return raw(head.bytes());
}
PeerAction PeerAction::chunk(std::string_view payload) {
    return raw(encodeChunk(payload));
}
PeerAction PeerAction::packet(const nlohmann::json& packet, PacketEncoding encoding, bool gzip) {
    return chunk(encodePacket(packet, encoding, gzip));
}
PeerAction PeerAction::truncatedPacket(const nlohmann::json& packet, size_t keep,
                                       PacketEncoding encoding, bool gzip) {
    std::string plain = encodePacket(packet, encoding, false);
    plain.resize(std::min(plain.size(), keep));
    return chunk(gzip ? gzipCompress(plain) : plain);
}
PeerAction PeerAction::packetCut(const nlohmann::json& packet, size_t cutAt,
                                 PacketEncoding encoding, bool gzip) {
    return raw(encodeChunk(encodePacket(packet, encoding, gzip)).substr(0, cutAt));
}
PeerAction PeerAction::packetsChunked(const std::vector<std::string>& payloads,
                                      const std::vector<size_t>& cuts) {
    std::string body;
    for (const auto& payload : payloads) body += payload;
    std::string wire;
    size_t from = 0;
    for (size_t cut : cuts) {
        cut = std::min(cut, body.size());
        if (cut > from) wire += encodeChunk(std::string_view(body).substr(from, cut - from));
        from = std::max(from, cut);
    }
    if (from < body.size()) wire += encodeChunk(std::string_view(body).substr(from));
    return raw(std::move(wire));
}
PeerAction PeerAction::lastChunk() {
    return raw(std::string(kLastChunk));
}
PeerAction PeerAction::endOfStream() {
    return {Kind::EndOfStream, {}, 0, std::nullopt};
}
PeerAction PeerAction::close() {
    return {Kind::Close, {}, 0, std::nullopt};
}
PeerAction PeerAction::reset() {
    return {Kind::Reset, {}, 0, std::nullopt};
}
PeerAction PeerAction::stallReading() {
    return {Kind::StallReading, {}, 0, std::nullopt};
}
PeerAction PeerAction::resumeReading() {
    return {Kind::ResumeReading, {}, 0, std::nullopt};
}
PeerAction PeerAction::bodyAsBytes(size_t limit) {
    return {Kind::BodyAsBytes, {}, limit, std::nullopt};
}
PeerAction PeerAction::on(size_t connection) && {
    PeerAction action = std::move(*this);
    action.connection = connection;
    return action;
}

// State --------------------------------------------------------------------------------

namespace {

double now() {
    return static_cast<double>(platform::Clock::monotonicNanos()) / 1e9;
}

// An empty answer that closes the connection.
std::string statusAnswer(int status) {
    const char* reason = status == 408   ? "Request Timeout"
                         : status == 413 ? "Payload Too Large"
                         : status == 431 ? "Request Header Fields Too Large"
                                         : "Bad Request";
    return fmt::format("HTTP/1.1 {} {}\r\nContent-Length: 0\r\nConnection: close\r\n\r\n", status,
                       reason);
}

// Appends `data`, keeping the last `limit` bytes.
void keepTail(std::string& kept, std::string_view data, size_t limit) {
    if (data.size() >= limit) {
        kept.assign(data.substr(data.size() - limit));
        return;
    }
    if (kept.size() + data.size() > limit) kept.erase(0, kept.size() + data.size() - limit);
    kept.append(data);
}

// Appends `item`, keeping the last `limit` items.
template <typename Item, typename Value>
void keepLast(std::deque<Item>& items, Value&& item, size_t limit) {
    if (limit == 0) return;
    if (items.size() >= limit) items.pop_front();
    items.push_back(std::forward<Value>(item));
}

struct Conn {
    enum class Phase { ProxyHead, Api, Rejected };
    Phase phase = Phase::Api;
    int fd = -1;
    platform::FdWatch watch;
    HttpHeadParser proxyParser{true};
    ApiRequestParser api;
    bool scriptApplied = false;
    bool bodyEndReported = false;
    bool answerBegun = false;  // a send was queued
    double lastActivity = 0;   // bytes received or sent
    bool timedOut = false;
    platform::TimerHandle idleTimer;

    SSL* ssl = nullptr;
    BIO* rbio = nullptr;  // owned by ssl
    BIO* wbio = nullptr;  // owned by ssl
    bool handshakeDone = false;
    bool closeNotifySent = false;

    std::string wire;  // bytes for the socket
    uint64_t wireQueued = 0;
    uint64_t wireSent = 0;
    std::deque<PeerAction> actions;
    std::deque<uint64_t> sendMarks;  // wireQueued at the end of each send not yet out
    bool stalled = false;
    bool readEnded = false;
    bool wroteEnd = false;
    bool dead = false;

    PeerConnectionRecord record;  // but its packets and arrivals, kept here
    std::deque<ReceivedPacket> packets;
    std::deque<std::pair<double, size_t>> arrivals;

    PeerConnectionRecord wholeRecord() const {
        PeerConnectionRecord whole = record;
        whole.packets.assign(packets.begin(), packets.end());
        whole.arrivals.assign(arrivals.begin(), arrivals.end());
        return whole;
    }

    ~Conn() {
        if (ssl) SSL_free(ssl);
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

struct ApiPeer::State {
    ApiPeerOptions options;
    mutable std::mutex mutex;
    int listenFd = -1;
    int port = 0;
    std::unique_ptr<TlsServerContext> context;
    platform::FdWatch listenWatch;
    size_t accepted = 0;
    std::map<size_t, std::unique_ptr<Conn>> connections;  // the open ones
    std::deque<PeerConnectionRecord> closed;              // the last that closed
    std::deque<ConnectionScript> scripts;
    ConnectionScript defaultScript;
    std::deque<ReceivedPacket> packets;
    size_t packetTotal = 0;
    PeerResponder responder;
    std::vector<PeerAction> acceptActions;
    std::unique_ptr<platform::Thread> thread;

    // Everything below runs on the peer's thread with the mutex held.

    void accept() {
        for (;;) {
            int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0) return;
            int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            auto conn = std::make_unique<Conn>();
            conn->api = ApiRequestParser(options.plainBodies);
            conn->api.limitChunks(options.maxChunk);
            const size_t index = accepted++;
            conn->fd = fd;
            conn->record.index = index;
            conn->record.acceptedAt = now();
            conn->lastActivity = conn->record.acceptedAt;
            conn->phase = options.proxy ? Conn::Phase::ProxyHead : Conn::Phase::Api;
            if (!options.proxy && options.tls) startTLS(*conn);
            conn->watch = thread->runLoop().watchFd(fd, POLLIN, [this, index](short revents) {
                std::lock_guard lock(mutex);
                if (Conn* c = find(index)) {
                    handle(*c, revents);
                    settle(index);
                }
            });
            Conn& added = *connections.emplace(index, std::move(conn)).first->second;
            if (options.idleTimeout > 0) watchIdle(index, options.idleTimeout);
            if (!acceptActions.empty()) {
                added.actions.assign(acceptActions.begin(), acceptActions.end());
                service(added);
                settle(index);
            }
        }
    }

    void log(const std::string& line) {
        if (options.log) options.log(line);
    }

    void watchIdle(size_t index, double after) {
        find(index)->idleTimer = thread->runLoop().postAfter(after, [this, index] {
            std::lock_guard lock(mutex);
            Conn* c = find(index);
            if (!c || c->dead) return;
            const double quiet = now() - c->lastActivity;
            if (quiet < options.idleTimeout) {
                watchIdle(index, options.idleTimeout - quiet);
                return;
            }
            timeOut(*c);
            if (!c->dead) watchIdle(index, options.idleTimeout);
            settle(index);
        });
    }

    // Closes a connection that stayed quiet: with a 408 when a request began, nothing was
    // answered and the answer can go; at once otherwise (or when the 408 did not go).
    // A connection that sent nothing may be reused by a client that has not seen its end.
    void timeOut(Conn& c) {
        if (!c.timedOut)
            log(fmt::format("connection {}: nothing received or sent for {:g} s; closed",
                            c.record.index, options.idleTimeout));
        const bool canAnswer = !c.timedOut && c.record.receivedBytes > 0 && !c.answerBegun &&
                               c.actions.empty() && c.wire.empty() && (!c.ssl || c.handshakeDone);
        c.timedOut = true;
        c.phase = Conn::Phase::Rejected;
        if (!canAnswer) {
            kill(c);
            return;
        }
        c.actions.push_back(PeerAction::raw(statusAnswer(408)));
        c.actions.push_back(PeerAction::close());
        service(c);
    }

    // A request that cannot be read further: answered with its status and closed, or
    // closed once the answer that began is out. A responder that closes has answered.
    void refuseRequest(Conn& c) {
        c.phase = Conn::Phase::Rejected;
        const bool closing = std::any_of(c.actions.begin(), c.actions.end(), [](const auto& a) {
            return a.kind == PeerAction::Kind::Close || a.kind == PeerAction::Kind::Reset;
        });
        if (closing) return;
        const int status = c.api.errorStatus();
        const bool answered = c.answerBegun || !c.actions.empty();
        log(fmt::format("connection {}: {}; {}", c.record.index, c.api.error(),
                        answered ? "closed" : "answered " + std::to_string(status)));
        if (!answered) c.actions.push_back(PeerAction::raw(statusAnswer(status)));
        c.actions.push_back(PeerAction::close());
    }

    void handle(Conn& c, short revents) {
        if (c.dead) return;
        if ((revents & (POLLIN | POLLHUP | POLLERR)) && !c.stalled && !c.readEnded) readSome(c);
        service(c);
    }

    void readSome(Conn& c) {
        char buffer[65536];
        ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            incoming(c, std::string_view(buffer, static_cast<size_t>(n)));
        } else if (n == 0) {
            c.readEnded = true;
            c.record.clientEnded = true;
        } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            c.record.error = std::strerror(errno);
            kill(c);
        }
    }

    void incoming(Conn& c, std::string_view data) {
        if (data.empty() || c.dead) return;
        if (c.ssl) {
            BIO_write(c.rbio, data.data(), static_cast<int>(data.size()));
            pumpTLS(c);
        } else {
            plain(c, data);
        }
    }

    Conn* find(size_t index) {
        auto found = connections.find(index);
        return found != connections.end() ? found->second.get() : nullptr;
    }

    // A connection that is done with goes, its record into the tail of closed ones.
    void settle(size_t index) {
        Conn* c = find(index);
        if (!c) return;
        const bool idle = c->actions.empty() && c->wire.empty() && c->sendMarks.empty();
        // A responder only answers what arrives; a test may still act after the client's end.
        if (!c->dead && !(c->readEnded && idle && (c->wroteEnd || responder))) return;
        c->watch.cancel();
        keepLast(closed, c->wholeRecord(), options.keptClosed);
        connections.erase(index);
    }

    void received(Conn& c, std::string_view data) {
        c.lastActivity = now();
        c.record.receivedBytes += data.size();
        keepTail(c.record.received, data, options.keptBytes);
        keepLast(c.arrivals, std::make_pair(now(), data.size()), options.keptEntries);
    }

    // Answers a head too long to read, and reads no further into it.
    void refuseHead(Conn& c) {
        c.phase = Conn::Phase::Rejected;
        log(fmt::format("connection {}: head too long; answered 431", c.record.index));
        c.actions.push_back(PeerAction::raw(statusAnswer(431)));
        c.actions.push_back(PeerAction::endOfStream());
    }

    void plain(Conn& c, std::string_view data) {
        if (data.empty()) return;
        if (c.phase == Conn::Phase::ProxyHead) {
            size_t used = c.proxyParser.feed(data);
            received(c, data.substr(0, used));
            if (c.proxyParser.failed()) {
                c.record.parseError = "proxy head: " + c.proxyParser.error();
                c.phase = Conn::Phase::Rejected;
                if (c.proxyParser.tooLong()) refuseHead(c);
                plain(c, data.substr(used));
                return;
            }
            if (!c.proxyParser.complete()) return;
            c.record.proxyHead = c.proxyParser.head();
            queueWire(c, options.proxyAnswer.bytes());
            if (options.proxyAnswer.status / 100 != 2) {
                c.phase = Conn::Phase::Rejected;
                plain(c, data.substr(used));
                return;
            }
            c.phase = Conn::Phase::Api;
            if (options.tls) startTLS(c);
            incoming(c, data.substr(used));
            return;
        }
        received(c, data);
        if (c.phase == Conn::Phase::Rejected) return;
        // The head is answered before the body is read, so a responder may bound it.
        if (!c.api.headComplete()) data.remove_prefix(c.api.feedHead(data, now()));
        if (c.api.headTooLong()) {
            c.record.parseError = c.api.error();
            refuseHead(c);
            return;
        }
        if (c.api.headComplete() && !c.record.requestHead) {
            c.record.requestHead = c.api.head();
            c.record.requestHeadAt = c.api.headTime();
        }
        if (c.record.requestHead && !c.scriptApplied) {
            if (responder) {
                c.scriptApplied = true;
                respond(c, {PeerEvent::Kind::RequestHead, c.record.index, &*c.record.requestHead});
            } else {
                applyScript(c);
            }
        }
        c.api.feed(data, now());
        for (auto& packet : c.api.takePackets()) {
            packet.connection = c.record.index;
            ++packetTotal;
            if (responder) respond(c, {PeerEvent::Kind::Packet, c.record.index, nullptr, &packet});
            keepLast(c.packets, packet, options.keptEntries);
            keepLast(packets, std::move(packet), options.keptEntries);
        }
        c.record.bodyEnded = c.api.bodyEnded();
        c.record.parseError = c.api.error();
        if (c.record.bodyEnded && !c.bodyEndReported && responder) {
            c.bodyEndReported = true;
            respond(c, {PeerEvent::Kind::BodyEnded, c.record.index, nullptr, nullptr,
                        c.api.plainBody()});
        }
        if (!c.api.error().empty() && options.answerFaults) refuseRequest(c);
    }

    void respond(Conn& c, const PeerEvent& event) {
        std::vector<size_t> others;
        for (auto& action : responder(event)) {
            if (action.connection && *action.connection != c.record.index) {
                const size_t index = *action.connection;
                Conn* other = find(index);
                if (!other || other->dead) continue;
                other->actions.push_back(std::move(action));
                others.push_back(index);
            } else if (action.kind == PeerAction::Kind::BodyAsBytes) {
                c.api.takeBodyAsBytes(action.limit);
            } else {
                c.actions.push_back(std::move(action));
            }
        }
        for (const size_t index : others) {
            if (Conn* other = find(index); other && !other->dead) service(*other);
            settle(index);
        }
    }

    void applyScript(Conn& c) {
        c.scriptApplied = true;
        ConnectionScript script = defaultScript;
        if (!scripts.empty()) {
            script = std::move(scripts.front());
            scripts.pop_front();
        }
        if (script.head) c.actions.push_back(PeerAction::head(*script.head));
        for (auto& action : script.afterHead) c.actions.push_back(std::move(action));
    }

    void startTLS(Conn& c) {
        c.ssl = SSL_new(context->get());
        c.rbio = BIO_new(BIO_s_mem());
        c.wbio = BIO_new(BIO_s_mem());
        SSL_set_bio(c.ssl, c.rbio, c.wbio);
        SSL_set_accept_state(c.ssl);
    }

    void pumpTLS(Conn& c) {
        ERR_clear_error();
        if (!c.handshakeDone) {
            int result = SSL_do_handshake(c.ssl);
            if (result == 1) {
                c.handshakeDone = true;
                c.record.tlsEstablished = true;
                if (const char* name = SSL_get_servername(c.ssl, TLSEXT_NAMETYPE_host_name))
                    c.record.serverName = name;
            } else {
                int code = SSL_get_error(c.ssl, result);
                if (code != SSL_ERROR_WANT_READ && code != SSL_ERROR_WANT_WRITE) {
                    c.record.error = "TLS handshake failed: " + platform::openssl::takeErrorText();
                    c.readEnded = true;
                }
            }
        }
        while (c.handshakeDone && !c.dead) {
            char buffer[16384];
            int n = SSL_read(c.ssl, buffer, sizeof buffer);
            if (n > 0) {
                plain(c, std::string_view(buffer, static_cast<size_t>(n)));
                continue;
            }
            int code = SSL_get_error(c.ssl, n);
            if (code == SSL_ERROR_ZERO_RETURN) {
                c.record.clientEnded = true;
                c.readEnded = true;
            } else if (code != SSL_ERROR_WANT_READ) {
                c.record.error = "TLS read failed: " + platform::openssl::takeErrorText();
                c.readEnded = true;
            }
            break;
        }
        drainTLS(c);
    }

    void drainTLS(Conn& c) {
        char buffer[16384];
        while (BIO_ctrl_pending(c.wbio) > 0) {
            int n = BIO_read(c.wbio, buffer, sizeof buffer);
            if (n <= 0) break;
            queueWire(c, std::string_view(buffer, static_cast<size_t>(n)));
        }
    }

    void queueWire(Conn& c, std::string_view bytes) {
        c.wire.append(bytes);
        c.wireQueued += bytes.size();
    }

    // Runs the queued actions in order; each but a send waits until what is queued
    // before it has reached the kernel.
    void pump(Conn& c) {
        while (!c.dead && !c.actions.empty()) {
            PeerAction& action = c.actions.front();
            if (action.kind == PeerAction::Kind::Send) {
                if (c.ssl && !c.handshakeDone) return;
                if (c.ssl) {
                    ERR_clear_error();
                    if (!action.bytes.empty())
                        SSL_write(c.ssl, action.bytes.data(),
                                  static_cast<int>(action.bytes.size()));
                    drainTLS(c);
                } else {
                    queueWire(c, action.bytes);
                }
                c.sendMarks.push_back(c.wireQueued);
                c.answerBegun = true;
                c.actions.pop_front();
                continue;
            }
            const bool ending = action.kind == PeerAction::Kind::EndOfStream ||
                                action.kind == PeerAction::Kind::Close;
            if (ending && c.ssl && c.handshakeDone && !c.closeNotifySent) {
                ERR_clear_error();
                SSL_shutdown(c.ssl);
                drainTLS(c);
                c.closeNotifySent = true;
            }
            if (!c.wire.empty() || !c.sendMarks.empty()) return;
            switch (action.kind) {
                case PeerAction::Kind::EndOfStream:
                    ::shutdown(c.fd, SHUT_WR);
                    c.wroteEnd = true;
                    break;
                case PeerAction::Kind::Close:
                    ++c.record.actionsCompleted;
                    kill(c);
                    return;
                case PeerAction::Kind::Reset: {
                    linger abort{1, 0};
                    ::setsockopt(c.fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
                    ++c.record.actionsCompleted;
                    kill(c);  // drops the actions after it
                    return;
                }
                case PeerAction::Kind::StallReading:
                    c.stalled = true;
                    break;
                case PeerAction::Kind::ResumeReading:
                    c.stalled = false;
                    break;
                case PeerAction::Kind::BodyAsBytes:
                    c.api.takeBodyAsBytes(action.limit);
                    break;
                case PeerAction::Kind::Send:
                    break;
            }
            ++c.record.actionsCompleted;
            c.actions.pop_front();
        }
    }

    void flush(Conn& c) {
        while (!c.dead && !c.wire.empty()) {
            ssize_t n = ::send(c.fd, c.wire.data(), c.wire.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                c.lastActivity = now();
                c.wire.erase(0, static_cast<size_t>(n));
                c.wireSent += static_cast<uint64_t>(n);
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) break;
            c.record.error = std::strerror(errno);
            kill(c);
            return;
        }
        while (!c.sendMarks.empty() && c.sendMarks.front() <= c.wireSent) {
            c.sendMarks.pop_front();
            ++c.record.actionsCompleted;
        }
    }

    void service(Conn& c) {
        for (;;) {
            const auto before =
                std::make_tuple(c.actions.size(), c.wire.size(), c.sendMarks.size(), c.dead);
            pump(c);
            flush(c);
            if (before ==
                std::make_tuple(c.actions.size(), c.wire.size(), c.sendMarks.size(), c.dead))
                break;
        }
        if (c.dead) return;
        short events = 0;
        if (!c.stalled && !c.readEnded) events |= POLLIN;
        if (!c.wire.empty()) events |= POLLOUT;
        c.watch.setEvents(events);
    }

    void kill(Conn& c) {
        c.dead = true;
        c.watch.cancel();
        if (c.fd >= 0) ::close(c.fd);
        c.fd = -1;
        c.actions.clear();
    }
};

// ApiPeer ------------------------------------------------------------------------------

ApiPeer::ApiPeer(ApiPeerOptions options) : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.options = std::move(options);
    if (s.options.tls)
        s.context = std::make_unique<TlsServerContext>(
            TestCertificates::shared().identity(s.options.chain));
    s.listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(s.options.port);
    if (s.options.port != 0) {
        int one = 1;
        ::setsockopt(s.listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    }
    socklen_t length = sizeof address;
    if (::bind(s.listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(s.listenFd, 64) != 0 ||
        ::getsockname(s.listenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        const std::string reason = std::strerror(errno);
        ::close(s.listenFd);
        throw std::runtime_error("ApiPeer could not listen on port " +
                                 std::to_string(s.options.port) + ": " + reason);
    }
    s.port = ntohs(address.sin_port);
    s.thread = std::make_unique<platform::Thread>("ApiPeer");
    s.thread->runLoop().post([&s] {
        std::lock_guard lock(s.mutex);
        s.listenWatch = s.thread->runLoop().watchFd(s.listenFd, POLLIN, [&s](short) {
            std::lock_guard inner(s.mutex);
            s.accept();
        });
    });
}

ApiPeer::~ApiPeer() {
    State& s = *state_;
    std::promise<void> done;
    s.thread->runLoop().post([&s, &done] {
        std::lock_guard lock(s.mutex);
        s.listenWatch.cancel();
        for (auto& [index, c] : s.connections) c->watch.cancel();
        s.connections.clear();
        done.set_value();
    });
    done.get_future().wait();
    s.thread.reset();
    ::close(s.listenFd);
}

int ApiPeer::port() const {
    return state_->port;
}

void ApiPeer::setDefaultScript(ConnectionScript script) {
    std::lock_guard lock(state_->mutex);
    state_->defaultScript = std::move(script);
}

void ApiPeer::queueScript(ConnectionScript script) {
    std::lock_guard lock(state_->mutex);
    state_->scripts.push_back(std::move(script));
}

void ApiPeer::setResponder(PeerResponder responder) {
    std::lock_guard lock(state_->mutex);
    state_->responder = std::move(responder);
}

void ApiPeer::setAcceptActions(std::vector<PeerAction> actions) {
    std::lock_guard lock(state_->mutex);
    state_->acceptActions = std::move(actions);
}

void ApiPeer::perform(size_t connection, PeerAction action) {
    perform(connection, std::vector<PeerAction>{std::move(action)});
}

void ApiPeer::perform(size_t connection, std::vector<PeerAction> actions) {
    State& s = *state_;
    {
        std::lock_guard lock(s.mutex);
        if (connection >= s.accepted) {
            std::cerr << "ApiPeer has no connection " << connection << "\n";
            return;
        }
    }
    s.thread->runLoop().post([&s, connection, actions = std::move(actions)]() mutable {
        std::lock_guard lock(s.mutex);
        Conn* c = s.find(connection);
        if (!c) return;
        for (auto& action : actions) c->actions.push_back(std::move(action));
        if (!c->dead) s.service(*c);
        s.settle(connection);
    });
}

size_t ApiPeer::connectionCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->accepted;
}

PeerConnectionRecord ApiPeer::connection(size_t index) const {
    State& s = *state_;
    std::lock_guard lock(s.mutex);
    PeerConnectionRecord none;
    none.index = index;
    if (index >= s.accepted) {
        std::cerr << "ApiPeer has no connection " << index << "\n";
        none.error = "no such connection";
        return none;
    }
    if (Conn* c = s.find(index)) return c->wholeRecord();
    for (const auto& record : s.closed)
        if (record.index == index) return record;
    none.error = "closed, its record no longer kept";
    return none;
}

std::vector<ReceivedPacket> ApiPeer::packets() const {
    std::lock_guard lock(state_->mutex);
    return {state_->packets.begin(), state_->packets.end()};
}

size_t ApiPeer::packetCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->packetTotal;
}

}  // namespace peer
