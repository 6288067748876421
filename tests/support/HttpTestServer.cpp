#include "tests/support/HttpTestServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <deque>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>

#include "platform/foundation/RunLoop.h"
#include "platform/foundation/TextUtilities.h"
#include "platform/foundation/Thread.h"
#include "tools/peer/ChunkedCoding.h"
#include "tools/peer/HttpHead.h"
#include "tools/peer/TlsServerSession.h"

namespace {

using platform::FdWatch;
using platform::RunLoop;

const char* reasonFor(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 201:
            return "Created";
        case 204:
            return "No Content";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 303:
            return "See Other";
        case 304:
            return "Not Modified";
        case 307:
            return "Temporary Redirect";
        case 308:
            return "Permanent Redirect";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 500:
            return "Internal Server Error";
        case 503:
            return "Service Unavailable";
        default:
            return "Status";
    }
}

void setNonBlocking(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

}  // namespace

struct HttpTestServer::Impl : std::enable_shared_from_this<HttpTestServer::Impl> {
    struct Connection {
        int fd = -1;
        FdWatch watch;
        std::string in;
        std::string out;
        bool busy = false;               // a request is being answered
        bool closeWhenAnswered = false;  // the client asked for "Connection: close"
        bool closeAfterFlush = false;
        bool closed = false;
        std::unique_ptr<peer::TlsServerSession> tls;
    };
    using ConnectionPtr = std::shared_ptr<Connection>;

    struct Script {
        std::deque<Response> once;
        std::optional<Response> always;
        Handler handler;
    };

    // Guards everything below but the connections, which the server thread alone touches.
    mutable std::mutex mutex;
    std::map<std::string, Script> scripts;
    std::vector<Request> received;
    std::set<std::string> released;
    size_t accepted = 0;
    size_t peerClosed = 0;

    std::unique_ptr<peer::TlsServerContext> tlsContext;  // set before start()

    std::unique_ptr<platform::Thread> thread;
    int listenFd = -1;
    uint16_t port = 0;
    FdWatch listenWatch;
    std::vector<ConnectionPtr> connections;  // server thread only
    struct Held {
        ConnectionPtr connection;
        Response response;
        bool headOnly = false;
    };
    std::vector<Held> heldResponses;  // server thread only

    RunLoop& loop() { return thread->runLoop(); }

    void start() {
        listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (listenFd < 0) throw std::runtime_error("HttpTestServer: socket failed");
        int one = 1;
        ::setsockopt(listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        if (::bind(listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(listenFd, 64) != 0)
            throw std::runtime_error("HttpTestServer: bind or listen failed");
        socklen_t len = sizeof addr;
        ::getsockname(listenFd, reinterpret_cast<sockaddr*>(&addr), &len);
        port = ntohs(addr.sin_port);
        setNonBlocking(listenFd);

        thread = std::make_unique<platform::Thread>("HttpTestServer");
        std::promise<void> watching;
        auto self = shared_from_this();
        loop().post([self, &watching] {
            self->listenWatch = self->loop().watchFd(self->listenFd, platform::kFdReadable,
                                                     [self](short) { self->acceptAll(); });
            watching.set_value();
        });
        watching.get_future().wait();
    }

    void shutDown() {
        std::promise<void> done;
        auto self = shared_from_this();
        loop().post([self, &done] {
            self->listenWatch.cancel();
            ::close(self->listenFd);
            for (auto& c : self->connections) self->close(*c, false);
            self->connections.clear();
            self->heldResponses.clear();
            done.set_value();
        });
        done.get_future().wait();
        thread.reset();
    }

    void acceptAll() {
        for (;;) {
            int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0) return;
            // Heads and bodies go out as separate writes; don't let them wait for ACKs.
            int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            auto c = std::make_shared<Connection>();
            c->fd = fd;
            if (tlsContext) c->tls = std::make_unique<peer::TlsServerSession>(*tlsContext);
            std::weak_ptr<Connection> weak = c;
            auto self = shared_from_this();
            c->watch = loop().watchFd(fd, platform::kFdReadable, [self, weak](short revents) {
                if (auto conn = weak.lock()) self->onEvents(conn, revents);
            });
            connections.push_back(c);
            std::lock_guard lock(mutex);
            ++accepted;
        }
    }

    void close(Connection& c, bool byPeer) {
        if (c.closed) return;
        c.closed = true;
        c.watch.cancel();
        ::close(c.fd);
        if (byPeer) {
            std::lock_guard lock(mutex);
            ++peerClosed;
        }
    }

    void forget(const ConnectionPtr& c) {
        std::erase(connections, c);
        std::erase_if(heldResponses, [&](const Held& held) { return held.connection == c; });
    }

    void onEvents(const ConnectionPtr& c, short revents) {
        if (c->closed) return;
        if (revents & platform::kFdWritable) flush(c);
        if (c->closed) return;
        if (revents & ~platform::kFdWritable) {
            char buffer[16384];
            std::string received;
            for (;;) {
                ssize_t n = ::recv(c->fd, buffer, sizeof buffer, 0);
                if (n > 0) {
                    received.append(buffer, static_cast<size_t>(n));
                    continue;
                }
                if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                    close(*c, true);
                    forget(c);
                    return;
                }
                if (errno == EINTR) continue;
                break;
            }
            if (!c->tls) {
                c->in += received;
            } else if (!receiveTLS(c, received)) {
                return;
            }
            serveNext(c);
        }
    }

    // Decrypts into `in` and sends what the handshake has to say; false once closed.
    bool receiveTLS(const ConnectionPtr& c, std::string_view received) {
        auto state = c->tls->receive(received, c->in);
        c->out += c->tls->takeWire();
        if (state == peer::TlsServerSession::State::Failed) {
            close(*c, false);
            forget(c);
            return false;
        }
        flush(c);
        return !c->closed;
    }

    // Closes once what is queued is out; under TLS after close_notify.
    void closeWhenFlushed(const ConnectionPtr& c) {
        c->closeAfterFlush = true;
        if (c->tls) {
            c->tls->end();
            c->out += c->tls->takeWire();
        }
        flush(c);
    }

    // Parses one complete request from the front of `in`; none while incomplete.
    static std::optional<Request> takeRequest(std::string& in) {
        auto headEnd = in.find("\r\n\r\n");
        if (headEnd == std::string::npos) return std::nullopt;
        auto head = peer::HttpHeadParser::parse(std::string_view(in).substr(0, headEnd + 4), true);
        if (!head) return std::nullopt;
        Request r;
        r.method = head->method;
        r.target = head->target;
        r.version = head->version;
        auto question = r.target.find('?');
        r.path = r.target.substr(0, question);
        if (question != std::string::npos) r.query = r.target.substr(question + 1);
        for (const auto& [name, value] : head->fields) r.headers.add(name, value);
        size_t pos = headEnd + 4;
        auto encoding = r.headers.value("Transfer-Encoding");
        if (encoding && encoding->find("chunked") != std::string::npos) {
            peer::ChunkedDecoder decoder;
            std::vector<std::string> chunks;
            pos += decoder.feed(std::string_view(in).substr(pos), chunks);
            if (!decoder.finished()) return std::nullopt;
            for (const auto& chunk : chunks) r.body += chunk;
        } else if (auto length = r.headers.value("Content-Length")) {
            size_t n = 0;
            std::from_chars(length->data(), length->data() + length->size(), n);
            if (in.size() < pos + n) return std::nullopt;
            r.body = in.substr(pos, n);
            pos += n;
        }
        in.erase(0, pos);
        return r;
    }

    Response responseFor(const Request& r) {
        Handler handler;
        {
            std::lock_guard lock(mutex);
            auto it = scripts.find(r.path);
            if (it == scripts.end()) return Response::text(404, "not found");
            Script& script = it->second;
            if (!script.once.empty()) {
                Response once = std::move(script.once.front());
                script.once.pop_front();
                return once;
            }
            if (script.always) return *script.always;
            handler = script.handler;
        }
        if (handler) return handler(r);
        return Response::text(404, "not found");
    }

    // A request becomes visible to the test only once its answer is arranged (timers
    // registered), so that a test that saw it may move the clock at once.
    void record(const Request& r) {
        std::lock_guard lock(mutex);
        received.push_back(r);
    }

    void serveNext(const ConnectionPtr& c) {
        while (!c->busy && !c->closed) {
            auto request = takeRequest(c->in);
            if (!request) return;
            Response response = responseFor(*request);
            if (auto connection = request->header("Connection");
                connection && *connection == "close")
                c->closeWhenAnswered = true;
            const bool head = request->method == "HEAD";
            c->busy = true;
            if (response.closeWithoutResponse) {
                record(*request);
                return closeWhenFlushed(c);
            }
            if (response.noResponse) return record(*request);
            bool held;
            {
                std::lock_guard lock(mutex);
                held = !response.holdUntilReleased.empty() &&
                       !released.count(response.holdUntilReleased);
            }
            if (held) {
                heldResponses.push_back(Held{c, std::move(response), head});
                return record(*request);
            }
            if (response.delay > 0) {
                schedule(c, std::move(response), head);
                record(*request);
            } else {
                record(*request);
                schedule(c, std::move(response), head);
            }
        }
    }

    void schedule(const ConnectionPtr& c, Response response, bool head) {
        if (response.delay > 0) {
            auto self = shared_from_this();
            loop().postAfterDetached(response.delay,
                                     [self, c, response = std::move(response), head]() mutable {
                                         self->send(c, std::move(response), head);
                                     });
        } else {
            send(c, std::move(response), head);
        }
    }

    void send(const ConnectionPtr& c, Response response, bool headOnly) {
        if (c->closed) return;
        std::string reason = response.reason.empty() ? reasonFor(response.status) : response.reason;
        std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " + reason + "\r\n";
        platform::HTTPHeaderFields headers = response.headers;
        if (response.chunked) {
            if (!headers.contains("Transfer-Encoding")) headers.set("Transfer-Encoding", "chunked");
        } else if (!headers.contains("Content-Length")) {
            headers.set("Content-Length", std::to_string(response.body.size()));
        }
        for (const auto& [name, value] : headers) head += name + ": " + value + "\r\n";
        head += "\r\n";
        write(c, head);
        if (headOnly) return finishResponse(c);
        if (response.chunked)
            return sendChunk(c, std::make_shared<Response>(std::move(response)), 0);
        if (response.dropAfterBodyBytes) {
            write(c, response.body.substr(0, *response.dropAfterBodyBytes));
            return dropAfterWrite(c);
        }
        write(c, response.body);
        finishResponse(c);
    }

    void sendChunk(const ConnectionPtr& c, std::shared_ptr<Response> response, size_t index) {
        if (c->closed) return;
        if (response->dropAfterChunks && index >= *response->dropAfterChunks)
            return dropAfterWrite(c);
        if (index >= response->chunks.size()) {
            write(c, "0\r\n\r\n");
            return finishResponse(c);
        }
        // The next chunk's timer goes in before this chunk can be seen.
        const bool paced = response->chunkInterval > 0 && index + 1 < response->chunks.size();
        if (paced) {
            auto self = shared_from_this();
            loop().postAfterDetached(response->chunkInterval, [self, c, response, index] {
                self->sendChunk(c, response, index + 1);
            });
        }
        const std::string& chunk = response->chunks[index];
        if (!chunk.empty()) {
            char size[32];
            auto [end, ec] = std::to_chars(size, size + sizeof size, chunk.size(), 16);
            write(c, std::string(size, end) + "\r\n" + chunk + "\r\n");
        }
        if (!paced) sendChunk(c, response, index + 1);
    }

    void dropAfterWrite(const ConnectionPtr& c) { closeWhenFlushed(c); }

    void finishResponse(const ConnectionPtr& c) {
        c->busy = false;
        if (c->closeWhenAnswered) return closeWhenFlushed(c);
        // A pipelined request may already wait in the buffer.
        auto self = shared_from_this();
        loop().post([self, c] { self->serveNext(c); });
    }

    void write(const ConnectionPtr& c, std::string_view data) {
        if (c->tls) {
            c->tls->send(data);
            c->out += c->tls->takeWire();
        } else {
            c->out.append(data);
        }
        flush(c);
    }

    void flush(const ConnectionPtr& c) {
        while (!c->out.empty() && !c->closed) {
            ssize_t n = ::send(c->fd, c->out.data(), c->out.size(), MSG_NOSIGNAL);
            if (n > 0) {
                c->out.erase(0, static_cast<size_t>(n));
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                c->watch.setEvents(platform::kFdReadable | platform::kFdWritable);
                return;
            } else {
                close(*c, true);
                forget(c);
                return;
            }
        }
        if (c->closed) return;
        c->watch.setEvents(platform::kFdReadable);
        if (c->closeAfterFlush) {
            close(*c, false);
            forget(c);
        }
    }

    void releaseHold(const std::string& hold) {
        std::vector<Held> ready;
        for (auto it = heldResponses.begin(); it != heldResponses.end();) {
            if (it->response.holdUntilReleased == hold) {
                ready.push_back(std::move(*it));
                it = heldResponses.erase(it);
            } else {
                ++it;
            }
        }
        for (auto& held : ready) schedule(held.connection, std::move(held.response), held.headOnly);
    }
};

HttpTestServer::Response HttpTestServer::Response::text(int status, std::string body,
                                                        std::string contentType) {
    Response r;
    r.status = status;
    r.body = std::move(body);
    r.headers.set("Content-Type", std::move(contentType));
    return r;
}

HttpTestServer::Response HttpTestServer::Response::redirect(int status, std::string location,
                                                            std::string body) {
    Response r;
    r.status = status;
    r.headers.set("Location", std::move(location));
    r.body = std::move(body);
    return r;
}

HttpTestServer::HttpTestServer() : HttpTestServer(Options{}) {}

HttpTestServer::HttpTestServer(Options options) : impl_(std::make_shared<Impl>()) {
    if (options.tls)
        impl_->tlsContext = std::make_unique<peer::TlsServerContext>(
            peer::TestCertificates::shared().identity(options.chain));
    impl_->start();
}

HttpTestServer::~HttpTestServer() {
    impl_->shutDown();
}

uint16_t HttpTestServer::port() const {
    return impl_->port;
}

std::string HttpTestServer::baseURL() const {
    return (impl_->tlsContext ? "https://127.0.0.1:" : "http://127.0.0.1:") +
           std::to_string(impl_->port);
}

std::string HttpTestServer::url(std::string_view pathAndQuery) const {
    return baseURL() + std::string(pathAndQuery);
}

void HttpTestServer::respond(const std::string& path, Response response) {
    std::lock_guard lock(impl_->mutex);
    impl_->scripts[path].always = std::move(response);
}

void HttpTestServer::respondOnce(const std::string& path, Response response) {
    std::lock_guard lock(impl_->mutex);
    impl_->scripts[path].once.push_back(std::move(response));
}

void HttpTestServer::handle(const std::string& path, Handler handler) {
    std::lock_guard lock(impl_->mutex);
    auto& script = impl_->scripts[path];
    script.always.reset();
    script.handler = std::move(handler);
}

void HttpTestServer::release(const std::string& hold) {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->released.insert(hold);
    }
    auto impl = impl_;
    impl_->loop().post([impl, hold] { impl->releaseHold(hold); });
}

std::vector<HttpTestServer::Request> HttpTestServer::requests() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->received;
}

size_t HttpTestServer::requestCount() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->received.size();
}

size_t HttpTestServer::requestCount(std::string_view path) const {
    std::lock_guard lock(impl_->mutex);
    size_t n = 0;
    for (const auto& r : impl_->received) n += r.path == path;
    return n;
}

std::optional<HttpTestServer::Request> HttpTestServer::lastRequest(std::string_view path) const {
    std::lock_guard lock(impl_->mutex);
    for (auto it = impl_->received.rbegin(); it != impl_->received.rend(); ++it) {
        if (it->path == path) return *it;
    }
    return std::nullopt;
}

size_t HttpTestServer::connectionCount() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->accepted;
}

size_t HttpTestServer::closedConnectionCount() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->peerClosed;
}

HttpTestServer::RefusingPort::RefusingPort() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        throw std::runtime_error("RefusingPort: bind failed");
    socklen_t len = sizeof addr;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
}

HttpTestServer::RefusingPort::~RefusingPort() {
    if (fd_ >= 0) ::close(fd_);
}

std::string HttpTestServer::RefusingPort::url(std::string_view pathAndQuery) const {
    return "http://127.0.0.1:" + std::to_string(port_) + std::string(pathAndQuery);
}
