// Upstream throughput of the streaming API connection over loopback: 10,000 small
// commands (100 packets of 100) and 100 packets of 64 KB of page content, in JSON and
// MessagePack, with and without gzip, from sendCommands to the bytes arriving at a
// server; against writing the same bytes over a bare loopback socket to the same server.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchRateReporter.h"
#include "libmerovane/connection/MVApiConnection.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/foundation/TestDriver.h"
#include "tests/connection/TestCommand.h"
#include "tests/support/ChunkedCoding.h"
#include "tests/support/ProxyEnvironment.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestApiConnectionHost.h"

namespace {

constexpr int kSmallCommands = 10000;
constexpr int kCommandsPerPacket = 100;
constexpr int kPagePackets = 100;
constexpr size_t kPageBytes = 64 * 1024;
// Keep-alive chunks are smaller than any measured packet.
constexpr size_t kSmallestPacket = 64;

// A server that answers API request heads as a persistent server accepting the chosen
// encodings, ends a legacy response once its body has ended, and counts the packets and
// bytes it receives. A connection that sends no POST head gets no answer (the baseline).
class Sink {
  public:
    Sink() {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listen_, 16);
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
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
        testsupport::ChunkedDecoder decoder;
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
};

// Text that compresses about as well as a shop's HTML.
std::string pageContent() {
    static const char* words[] = {"<div class=\"product\">",
                                  "<span>",
                                  "</span>",
                                  "</div>",
                                  "shoes",
                                  "price",
                                  "19.90",
                                  "EUR",
                                  "size",
                                  "colour",
                                  "black",
                                  "<a href=\"/p/",
                                  "\">",
                                  "</a>",
                                  "\n",
                                  "add to cart"};
    std::mt19937 random(7);
    std::string text;
    while (text.size() < kPageBytes) text += words[random() % std::size(words)];
    text.resize(kPageBytes);
    return text;
}

struct Workload {
    std::vector<std::vector<MVCommand>> batches;  // one packet each
    uint64_t commands = 0;
};

Workload smallCommands() {
    Workload w;
    for (int i = 0; i < kSmallCommands; i += kCommandsPerPacket) {
        std::vector<MVCommand> batch;
        for (int j = 0; j < kCommandsPerPacket; ++j) {
            batch.push_back(testCommand(
                "dataRequest",
                nlohmann::json{{"id", "1003:" + std::to_string(i + j)}, {"url", "/api/cart"}}));
        }
        w.batches.push_back(std::move(batch));
    }
    w.commands = kSmallCommands;
    return w;
}

Workload pagePackets() {
    Workload w;
    const std::string content = pageContent();
    for (int i = 0; i < kPagePackets; ++i) {
        w.batches.push_back(
            {testCommand("pageContent", nlohmann::json{{"id", "mv-api-page:" + std::to_string(i)},
                                                       {"content", content}})});
    }
    w.commands = kPagePackets;
    return w;
}

bool waitForPackets(const Sink& sink, uint64_t count) {
    return platform::runUntil([&] { return sink.packets() >= count; }, 60.0);
}

// The shared connection to `sink`, persistent, with the sink's encodings agreed.
MVApiConnection& openPersistent(Sink& sink) {
    auto host = std::make_shared<TestApiConnectionHost>();
    host->setDefaultApiPath("http://127.0.0.1:" + std::to_string(sink.port()));
    MVApiConnection::setHost(host);
    auto& connection = MVApiConnection::sharedConnection();
    connection.setIsAllowedToReadCommands(true);
    platform::advanceBy(MVApiConnection::kStartDelay);
    // The first request is legacy: one packet, after which the connection turns persistent.
    connection.sendCommands(
        {testCommand("hello", nlohmann::json{{"pad", std::string(kSmallestPacket, ' ')}})});
    platform::advanceBy(MVApiConnection::kCommandBatchDelay);
    platform::runUntil([&] { return !connection.isConnectionOpened(); }, 60.0);
    platform::runUntil(
        [&] {
            platform::advanceBy(MVApiConnection::kGracefulReconnectDelay);
            return connection.hasPersistentConnection() &&
                   connection.state() == MVApiConnectionStateStreaming;
        },
        60.0);
    return connection;
}

void sendAll(MVApiConnection& connection, const Workload& workload) {
    for (const auto& batch : workload.batches) {
        connection.sendCommands(batch);
        platform::advanceBy(MVApiConnection::kCommandBatchDelay);
    }
}

void BM_Connection(benchmark::State& state, const Workload* workload, bool messagePack, bool gzip) {
    TempDir home;
    testsupport::ProxyEnvironment proxies;
    Sink sink;
    sink.setAccepts(messagePack, gzip);
    auto& connection = openPersistent(sink);
    uint64_t wire = 0;
    for (auto _ : state) {
        const uint64_t bytesBefore = sink.bytes();
        const uint64_t target = sink.packets() + workload->batches.size();
        sendAll(connection, *workload);
        if (!waitForPackets(sink, target)) state.SkipWithError("packets did not arrive");
        wire = sink.bytes() - bytesBefore;
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(workload->commands));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(wire));
    state.counters["payload_bytes_per_run"] = static_cast<double>(wire);
    platform::resetSharedInstancesForTesting();
}

// The bytes one run of the connection puts on the wire after its heads, written over a
// bare socket to the same server.
void BM_BareSocket(benchmark::State& state, const Workload* workload, bool messagePack, bool gzip) {
    TempDir home;
    testsupport::ProxyEnvironment proxies;
    Sink sink;
    sink.setAccepts(messagePack, gzip);
    std::string stream;
    {
        auto& connection = openPersistent(sink);
        sink.startCapture();
        const uint64_t target = sink.packets() + workload->batches.size();
        sendAll(connection, *workload);
        waitForPackets(sink, target);
        stream = sink.stopCapture();
        platform::resetSharedInstancesForTesting();
    }
    uint64_t wire = 0;
    for (auto _ : state) {
        const uint64_t bytesBefore = sink.bytes();
        const uint64_t target = sink.packets() + workload->batches.size();
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(sink.port()));
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        const std::string head = "BARE / HTTP/1.1\r\n\r\n";
        ::send(fd, head.data(), head.size(), MSG_NOSIGNAL);
        for (size_t sent = 0; sent < stream.size();) {
            const ssize_t n = ::send(fd, stream.data() + sent, stream.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += static_cast<size_t>(n);
        }
        while (sink.packets() < target) std::this_thread::yield();
        wire = sink.bytes() - bytesBefore;
        ::close(fd);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(workload->commands));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(wire));
}

const Workload* gSmall = nullptr;
const Workload* gPages = nullptr;

const char* encodingName(bool messagePack, bool gzip) {
    if (messagePack) return gzip ? "msgpack_gzip" : "msgpack";
    return gzip ? "json_gzip" : "json";
}

std::vector<std::string> gNames;

void setUp() {
    gSmall = new Workload(smallCommands());
    gPages = new Workload(pagePackets());
    for (const auto& [workload, label] :
         {std::pair{gSmall, "small_commands"}, std::pair{gPages, "page_packets"}}) {
        for (bool messagePack : {false, true}) {
            for (bool gzip : {false, true}) {
                const std::string suffix =
                    std::string(label) + "/" + encodingName(messagePack, gzip);
                gNames.push_back(suffix);
                benchmark::RegisterBenchmark(("BM_Connection/" + suffix).c_str(), BM_Connection,
                                             workload, messagePack, gzip)
                    ->UseRealTime()
                    ->Unit(benchmark::kMillisecond);
                benchmark::RegisterBenchmark(("BM_BareSocket/" + suffix).c_str(), BM_BareSocket,
                                             workload, messagePack, gzip)
                    ->UseRealTime()
                    ->Unit(benchmark::kMillisecond);
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    auto rates = runBenchmarksKeepingRates(argc, argv, &setUp);
    for (const auto& name : gNames) {
        const double connection = rates["BM_Connection/" + name + "/real_time"];
        const double bare = rates["BM_BareSocket/" + name + "/real_time"];
        if (connection > 0 && bare > 0)
            std::printf(
                "%-30s connection %12.0f commands/s, bare socket %12.0f, bare/connection %.2f\n",
                name.c_str(), connection, bare, bare / connection);
    }
    benchmark::Shutdown();
    return 0;
}
