#pragma once
// The loopback API server of the connection benchmarks, and the persistent connection
// to it. Works on the manual clock (time is moved by hand) and on the real one.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "libmerovane/connection/MVApiConnection.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/TestDriver.h"
#include "tests/connection/TestCommand.h"
#include "tests/support/LoopbackListener.h"
#include "tests/support/TestApiConnectionHost.h"
#include "tools/peer/ChunkedCoding.h"
#include "tools/peer/PacketCodec.h"

namespace benchsupport {

// Keep-alive chunks are smaller than any measured packet.
constexpr size_t kSmallestPacket = 64;

// A server that answers API request heads as a persistent server accepting the chosen
// encodings, ends a legacy response once its body has ended, and counts the packets and
// bytes it receives. A connection that sends no POST head gets no answer (the baseline).
class Sink {
  public:
    Sink() {
        listen_ = testsupport::listenOnLoopback(port_);
        acceptor_ = std::thread([this] { acceptLoop(); });
    }
    ~Sink() {
        ::shutdown(listen_, SHUT_RDWR);
        ::close(listen_);
        acceptor_.join();
        std::lock_guard lock(mutex_);
        for (auto& t : connections_) t.join();
    }

    int port() const { return port_; }
    void setAccepts(bool messagePack, bool gzip) {
        std::lock_guard lock(mutex_);
        accept_ = std::string(messagePack ? "Accept: application/msgpack, application/json\r\n"
                                          : "Accept: application/json\r\n") +
                  (gzip ? "Accept-Encoding: gzip\r\n" : "");
    }
    uint64_t packets() const { return packets_; }
    // Commands in the packets received, once countCommands() is set (decodes each one).
    uint64_t commands() const { return commands_; }
    void countCommands() { countingCommands_ = true; }
    uint64_t bytes() const { return bytes_; }
    // Keeps the bytes received after the heads from now on.
    void startCapture() {
        std::lock_guard lock(mutex_);
        capture_.clear();
        capturing_ = true;
    }
    std::string stopCapture() {
        std::lock_guard lock(mutex_);
        capturing_ = false;
        return std::move(capture_);
    }

  private:
    void acceptLoop() {
        for (;;) {
            const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) return;
            int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            std::lock_guard lock(mutex_);
            connections_.emplace_back([this, fd] { serve(fd); });
        }
    }

    void serve(int fd) {
        std::vector<char> buffer(1 << 16);
        std::string head;
        peer::ChunkedDecoder decoder;
        std::vector<std::string> chunks;
        bool inBody = false;
        for (;;) {
            const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
            if (n <= 0) break;
            std::string_view data(buffer.data(), static_cast<size_t>(n));
            if (!inBody) {
                head.append(data);
                const size_t end = head.find("\r\n\r\n");
                if (end == std::string::npos) continue;
                inBody = true;
                data = std::string_view(head).substr(end + 4);
                if (head.starts_with("POST ")) answer(fd);
            }
            {
                std::lock_guard lock(mutex_);
                if (capturing_) capture_.append(data);
            }
            chunks.clear();
            decoder.feed(data, chunks);
            for (const auto& chunk : chunks) {
                if (chunk.size() < kSmallestPacket) continue;
                bytes_ += chunk.size();
                if (countingCommands_) {
                    const auto packet = peer::decodePacket(chunk);
                    if (const auto* cmds = platform::json::find(packet.value, "cmds"))
                        commands_ += cmds->size();
                }
                ++packets_;
            }
            if (decoder.finished()) {
                static constexpr std::string_view kEnd = "0\r\n\r\n";
                ::send(fd, kEnd.data(), kEnd.size(), MSG_NOSIGNAL);
                break;
            }
            if (decoder.failed()) break;
        }
        ::shutdown(fd, SHUT_WR);
        // Until the client closes its side.
        while (::recv(fd, buffer.data(), buffer.size(), 0) > 0) {
        }
        ::close(fd);
    }

    void answer(int fd) {
        std::string response;
        {
            std::lock_guard lock(mutex_);
            response =
                "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nX-Merovane-Api: Velkram\r\n" +
                accept_ + "\r\n";
        }
        ::send(fd, response.data(), response.size(), MSG_NOSIGNAL);
    }

    int listen_ = -1;
    int port_ = 0;
    std::thread acceptor_;
    std::mutex mutex_;
    std::vector<std::thread> connections_;  // guarded by mutex_
    std::string accept_;                    // guarded by mutex_
    std::string capture_;                   // guarded by mutex_
    bool capturing_ = false;                // guarded by mutex_
    std::atomic<uint64_t> packets_{0};
    std::atomic<uint64_t> bytes_{0};
    std::atomic<uint64_t> commands_{0};
    std::atomic<bool> countingCommands_{false};
};

// Lets `seconds` pass: moves the manual clock, or lets the real one run.
inline void passTime(double seconds) {
    if (platform::Clock::isManual()) platform::advanceBy(seconds);
}

inline bool waitForPackets(const Sink& sink, uint64_t count) {
    return platform::runUntil([&] { return sink.packets() >= count; }, 60.0);
}

// The shared connection to `sink`, persistent, with the sink's encodings agreed.
inline MVApiConnection& openPersistent(Sink& sink) {
    auto host = std::make_shared<TestApiConnectionHost>();
    host->setDefaultApiPath("http://127.0.0.1:" + std::to_string(sink.port()));
    MVApiConnection::setHost(host);
    auto& connection = MVApiConnection::sharedConnection();
    connection.setIsAllowedToReadCommands(true);
    passTime(MVApiConnection::kStartDelay);
    // The first request is legacy: one packet, after which the connection turns persistent.
    connection.sendCommands(
        {testCommand("hello", nlohmann::json{{"pad", std::string(kSmallestPacket, ' ')}})});
    passTime(MVApiConnection::kCommandBatchDelay);
    platform::runUntil([&] { return !connection.isConnectionOpened(); }, 60.0);
    platform::runUntil(
        [&] {
            passTime(MVApiConnection::kGracefulReconnectDelay);
            return connection.hasPersistentConnection() &&
                   connection.state() == MVApiConnectionStateStreaming;
        },
        60.0);
    return connection;
}

}  // namespace benchsupport
