// The sample server's log server: the peer's reading of a request body of a
// Content-Length, what the log server answers, counts and stores, and the server's
// bounds over loopback.
#include <fmt/core.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>

#include "platform/foundation/JsonValue.h"
#include "platform/foundation/TestDriver.h"
#include "tests/support/TempDir.h"
#include "tools/peer/ApiRequestParser.h"
#include "tools/peer/ChunkedCoding.h"
#include "tools/sample-api-server/SampleLogServer.h"
#include "tools/sample-api-server/SampleShop.h"

using nlohmann::json;

namespace {

TEST(ApiRequestParserBodyTest, ABodyOfAContentLengthIsKeptWholeAndBounded) {
    struct Row {
        std::string request;
        std::optional<std::string> body;  // none: no plain body
        bool ended;
        std::string error;
    };
    const std::string head = "POST /applog/crash?a=1 HTTP/1.1\r\nHost: x\r\n";
    const Row rows[] = {
        {head + "Content-Length: 5\r\n\r\nabcde", "abcde", true, ""},
        {head + "Content-Length: 5\r\n\r\nabc", "abc", false, ""},
        {head + "Content-Length: 0\r\n\r\n", "", true, ""},
        {head + "Content-Length: 2\r\n\r\nabc", "ab", true, "bytes after the body"},
        {head + "Content-Length: " + std::to_string(peer::ApiRequestParser::kMaxPlainBodySize + 1) +
             "\r\n\r\n",
         {},
         false,
         "request body length \"4194305\" refused"},
        {head + "Content-Length: -1\r\n\r\n", {}, false, "request body length \"-1\" refused"},
        {head + "\r\n", {}, false, "request body is not chunked"},
    };
    peer::ApiRequestParser chunkedOnly;
    chunkedOnly.feed(rows[0].request, 0);
    EXPECT_EQ(chunkedOnly.error(), "request body is not chunked");
    EXPECT_FALSE(chunkedOnly.plainBody());
    for (const auto& row : rows) {
        SCOPED_TRACE(row.request);
        // One byte at a time: the body may come split anywhere.
        peer::ApiRequestParser parser(true);
        for (char c : row.request) parser.feed(std::string_view(&c, 1), 0);
        EXPECT_EQ(
            parser.plainBody() ? std::optional<std::string>(*parser.plainBody()) : std::nullopt,
            row.body);
        EXPECT_EQ(parser.bodyEnded(), row.ended);
        EXPECT_EQ(parser.error(), row.error);
    }
}

class SampleLogServerTest : public ::testing::Test {
  protected:
    // A POST carries a Content-Length unless other fields are given.
    std::optional<std::vector<peer::PeerAction>> request(
        size_t connection, const std::string& method, const std::string& target,
        std::optional<peer::HeadFields> fields = std::nullopt) {
        peer::HttpHead head;
        head.method = method;
        head.target = target;
        head.fields = fields             ? *fields
                      : method == "POST" ? peer::HeadFields{{"Content-Length", "6"}}
                                         : peer::HeadFields{};
        return logs_.respond({peer::PeerEvent::Kind::RequestHead, connection, &head});
    }
    std::optional<std::vector<peer::PeerAction>> body(size_t connection, const std::string& bytes) {
        return logs_.respond(
            {peer::PeerEvent::Kind::BodyEnded, connection, nullptr, nullptr, &bytes});
    }
    // One chunk of a chunked body, then (with `ended`) its end.
    std::optional<std::vector<peer::PeerAction>> chunk(size_t connection, const std::string& bytes,
                                                       bool ended = false) {
        peer::ReceivedPacket packet;
        packet.payload = bytes;
        auto actions = logs_.respond({peer::PeerEvent::Kind::Packet, connection, nullptr, &packet});
        if (!ended) return actions;
        return logs_.respond({peer::PeerEvent::Kind::BodyEnded, connection});
    }
    std::string storedBytes(const std::string& name) {
        std::ifstream in(folder_.file(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // Answered nothing yet: the body is still coming, or ignored.
    static bool waits(const std::optional<std::vector<peer::PeerAction>>& actions) {
        return actions && std::none_of(actions->begin(), actions->end(), [](const auto& action) {
                   return action.kind == peer::PeerAction::Kind::Send ||
                          action.kind == peer::PeerAction::Kind::Close;
               });
    }
    static std::string status(const std::optional<std::vector<peer::PeerAction>>& actions) {
        if (!actions || actions->empty()) return "";
        const std::string& bytes = actions->front().bytes;
        return bytes.substr(0, bytes.find('\r'));
    }
    json stored(const std::string& name) {
        std::ifstream in(folder_.file(name));
        std::stringstream text;
        text << in.rdbuf();
        auto parsed = platform::json::parse(text.str());
        return parsed.ok() ? parsed.value : json();
    }

    TempDir folder_;
    std::vector<std::string> lines_;
    SampleLogServer logs_{folder_.file("reports"),
                          [this](const std::string& line) { lines_.push_back(line); }};
};

TEST_F(SampleLogServerTest, ErrorAndCrashReportsAreAnsweredCountedAndStored) {
    // Other requests are the shop's.
    EXPECT_FALSE(request(0, "POST", "/"));
    EXPECT_FALSE(request(1, "GET", "/shop/home.html"));
    EXPECT_EQ(status(request(2, "GET", "/applog/other")), "HTTP/1.1 404 Not Found");

    EXPECT_EQ(status(request(3, "GET",
                             "/applog/error?errorDescription=Bad%20input&data=%7B%22a%22%3A1%7D&"
                             "odd=%zz&")),
              "HTTP/1.1 200 OK");
    EXPECT_EQ(stored("reports/error-1.json"),
              (json{{"errorDescription", "Bad input"}, {"data", "{\"a\":1}"}, {"odd", "%zz"}}));

    // A crash report is answered once its body has come.
    const auto head = request(4, "POST", "/applog/crash?errorClass=%5BSignal%5D%20SIGSEGV");
    EXPECT_TRUE(waits(head));
    EXPECT_EQ(status(body(4, std::string("MVCR\0\1", 6))), "HTTP/1.1 200 OK");
    EXPECT_EQ(stored("reports/crash-1.json"), (json{{"errorClass", "[Signal] SIGSEGV"}}));
    EXPECT_EQ(storedBytes("reports/crash-1.mvcrash"), std::string("MVCR\0\1", 6));
    // The connection is done with: its events are the shop's again.
    EXPECT_FALSE(body(4, ""));

    EXPECT_EQ(lines_, (std::vector<std::string>{
                          "connection 2: GET /applog/other: no such log request",
                          "error report 1 received: Bad input",
                          "crash report 1 received: [Signal] SIGSEGV (6 bytes)",
                      }));

    // Crash reports whose body never comes are let go, the oldest first, answered 503.
    std::optional<std::vector<peer::PeerAction>> last;
    for (size_t c = 100; c <= 100 + SampleLogServer::kMaxWaiting; ++c)
        last = request(c, "POST", "/applog/crash?errorClass=x");
    ASSERT_TRUE(last);
    ASSERT_EQ(last->size(), 3u);
    EXPECT_EQ(last->at(0).kind, peer::PeerAction::Kind::BodyAsBytes);
    EXPECT_EQ(status(std::vector<peer::PeerAction>(last->begin() + 1, last->end())),
              "HTTP/1.1 503 Service Unavailable");
    EXPECT_EQ(last->at(1).connection, 100u);
    EXPECT_EQ(last->at(2).kind, peer::PeerAction::Kind::Close);
    EXPECT_EQ(last->at(2).connection, 100u);
    EXPECT_FALSE(body(100, ""));
    EXPECT_EQ(status(body(101, "")), "HTTP/1.1 200 OK");
    EXPECT_EQ(lines_.size(), 5u);
    EXPECT_EQ(lines_.at(3),
              "connection 100: crash report dropped for a newer one: 503 Service Unavailable");
    EXPECT_EQ(lines_.at(4), "crash report 2 received: x (0 bytes)");
}

// A chunked body is stored whole; one past the limit, of either kind, is refused at
// once, and whatever its connection still shows is ignored. So are lengths missing or
// malformed.
TEST_F(SampleLogServerTest, CrashReportBodiesAreKeptWithinTheirLimit) {
    const peer::HeadFields chunked = {{"Transfer-Encoding", "chunked"}};
    ASSERT_TRUE(request(1, "POST", "/applog/crash?errorClass=chunked", chunked));
    EXPECT_TRUE(waits(chunk(1, "MVCR")));
    EXPECT_EQ(status(chunk(1, std::string("\0\1", 2), true)), "HTTP/1.1 200 OK");
    EXPECT_EQ(storedBytes("reports/crash-1.mvcrash"), std::string("MVCR\0\1", 6));

    const std::string half(SampleLogServer::kMaxBodySize / 2, 'x');
    ASSERT_TRUE(request(2, "POST", "/applog/crash?errorClass=full", chunked));
    chunk(2, half);
    EXPECT_TRUE(waits(chunk(2, half)));
    EXPECT_EQ(status(chunk(2, "", true)), "HTTP/1.1 200 OK");
    EXPECT_EQ(storedBytes("reports/crash-2.mvcrash").size(), SampleLogServer::kMaxBodySize);

    ASSERT_TRUE(request(3, "POST", "/applog/crash?errorClass=over", chunked));
    chunk(3, half);
    chunk(3, half);
    const auto over = chunk(3, "x");
    EXPECT_EQ(status(over), "HTTP/1.1 413 Payload Too Large");
    EXPECT_EQ(over->back().kind, peer::PeerAction::Kind::Close);
    EXPECT_TRUE(waits(chunk(3, "x", true)));

    struct Row {
        std::string length;
        const char* statusLine;
    };
    const Row rows[] = {
        {std::to_string(SampleLogServer::kMaxBodySize), ""},
        {std::to_string(SampleLogServer::kMaxBodySize + 1), "HTTP/1.1 413 Payload Too Large"},
        {"104857600", "HTTP/1.1 413 Payload Too Large"},
        {"99999999999999999999999", "HTTP/1.1 413 Payload Too Large"},
        {"-1", "HTTP/1.1 400 Bad Request"},
        {"12x", "HTTP/1.1 400 Bad Request"},
        {"", "HTTP/1.1 400 Bad Request"},
    };
    size_t connection = 10;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.length);
        EXPECT_EQ(status(request(++connection, "POST", "/applog/crash",
                                 {{{"Content-Length", row.length}}})),
                  row.statusLine);
    }
    EXPECT_EQ(status(request(++connection, "POST", "/applog/crash", peer::HeadFields{})),
              "HTTP/1.1 411 Length Required");
    EXPECT_EQ(
        status(request(++connection, "POST", "/applog/crash", {{{"Transfer-Encoding", "gzip"}}})),
        "HTTP/1.1 411 Length Required");
    EXPECT_EQ(status(body(12, "")), "");
    EXPECT_EQ(std::count_if(lines_.begin(), lines_.end(),
                            [](const auto& line) { return line.starts_with("crash report"); }),
              2);
}

// Bytes a client sent that are no UTF-8 reach the log escaped, as control characters do.
TEST_F(SampleLogServerTest, LogLinesEscapeWhatIsNoUtf8) {
    request(1, "GET", "/applog/\xff\xc3(\xe2\x82\x61\x1b\xf0\x9f\x98");
    request(2, "GET", "/applog/caf\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80");
    request(3, "POST", "/applog/crash?errorClass=%FF\xfe");
    body(3, "");
    EXPECT_EQ(lines_, (std::vector<std::string>{
                          "connection 1: GET /applog/\\xff\\xc3(\\xe2\\x82a\\u001b\\xf0\\x9f\\x98: "
                          "no such log request",
                          "connection 2: GET /applog/caf\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80: no "
                          "such log request",
                          "crash report 1 received: %FF\\xfe (0 bytes)",
                      }));
}

// A client of the server over loopback.
class LoopbackClient {
  public:
    explicit LoopbackClient(int port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    }
    ~LoopbackClient() { ::close(fd_); }

    // Sends `bytes` while reading what comes, until they are out or the connection
    // ended; answers how many went.
    size_t send(std::string_view bytes) {
        size_t sent = 0;
        while (sent < bytes.size() && !ended_) {
            pollfd ready{fd_, POLLIN | POLLOUT, 0};
            if (::poll(&ready, 1, kTimeoutMs) <= 0) break;
            if (ready.revents & (POLLIN | POLLHUP | POLLERR)) readSome();
            if (ended_ || !(ready.revents & POLLOUT)) continue;
            const ssize_t n =
                ::send(fd_, bytes.data() + sent, std::min<size_t>(bytes.size() - sent, 1 << 16),
                       MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) sent += static_cast<size_t>(n);
            if (n < 0 && errno != EAGAIN && errno != EINTR) break;
        }
        return sent;
    }
    // What the server sent until it closed (bounded).
    std::string answer() {
        const auto end = Clock::now() + std::chrono::milliseconds(kTimeoutMs);
        while (!ended_ && Clock::now() < end) {
            pollfd ready{fd_, POLLIN, 0};
            if (::poll(&ready, 1, 100) > 0) readSome();
        }
        return received_;
    }
    // The answer's status line.
    std::string status() {
        const std::string whole = answer();
        return whole.substr(0, whole.find('\r'));
    }
    bool ended() const { return ended_; }

  private:
    using Clock = std::chrono::steady_clock;
    static constexpr int kTimeoutMs = 20000;

    void readSome() {
        char buffer[65536];
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) received_.append(buffer, static_cast<size_t>(n));
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) ended_ = true;
    }

    int fd_;
    std::string received_;
    bool ended_ = false;
};

// The sample server as its program runs it: the log server first, then the shop.
class SampleLogServerLoopbackTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server_.setResponder([this](const peer::PeerEvent& event) {
            if (auto actions = logs_.respond(event)) return std::move(*actions);
            return shop_.respond(event);
        });
    }
    void TearDown() override { server_.setResponder(nullptr); }

    std::vector<std::string> lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    // The log line of `connection` that holds `text`.
    std::string line(size_t connection, const std::string& text) {
        for (const auto& line : lines())
            if (line.starts_with(fmt::format("connection {}: ", connection)) &&
                line.find(text) != std::string::npos)
                return line;
        return "";
    }
    bool received(size_t connection, uint64_t bytes) {
        return platform::runUntil(
            [&] {
                return server_.connectionCount() > connection &&
                       server_.connection(connection).receivedBytes == bytes;
            },
            20.0);
    }

    static constexpr const char* kCrashHead =
        "POST /applog/crash?errorClass=x HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    static constexpr const char* kChunked = "Transfer-Encoding: chunked\r\n\r\n";

    TempDir reports_, shopFolder_;
    std::mutex mutex_;
    std::vector<std::string> lines_;
    SampleLogServer::Log log_ = [this](const std::string& line) {
        std::lock_guard lock(mutex_);
        lines_.push_back(line);
    };
    peer::ApiPeer server_{SampleLogServer::peerOptions(0, log_)};
    SampleLogServer logs_{reports_.path(), log_};
    SampleShop shop_{shopFolder_.path(), server_.port(), log_};
};

// A request that cannot be read is answered with its status, logged and closed, at
// once: no byte of a chunk past a limit is waited for.
TEST_F(SampleLogServerLoopbackTest, EveryRequestThatCannotBeReadIsAnsweredAtOnce) {
    const std::string crash = std::string(kCrashHead) + kChunked;
    struct Row {
        std::string request;
        const char* statusLine;
        const char* logged;
    };
    const Row rows[] = {
        {crash + "10000001\r\n", "HTTP/1.1 413 Payload Too Large", "chunk size too large"},
        {crash + "FFFFFFFFFFFFFFFFFFFFFFFFFFFF\r\n", "HTTP/1.1 413 Payload Too Large",
         "chunk size too large"},
        {crash + "400001\r\n", "HTTP/1.1 413 Payload Too Large", "chunk size too large"},
        {crash + peer::encodeChunk(std::string(3u << 20, 'r')) + "100001\r\n",
         "HTTP/1.1 413 Payload Too Large", "past its limit"},
        {crash + "-1\r\n", "HTTP/1.1 400 Bad Request", "not hexadecimal"},
        {crash + "zz\r\n", "HTTP/1.1 400 Bad Request", "not hexadecimal"},
        {crash + "5x\r\n", "HTTP/1.1 400 Bad Request", "unexpected text"},
        {crash + "5\n", "HTTP/1.1 400 Bad Request", "not ended by CR LF"},
        {crash + "5;" + std::string(5000, 'e'), "HTTP/1.1 400 Bad Request", "chunk line too long"},
        {crash + "2\r\nabc", "HTTP/1.1 400 Bad Request", "not followed by CR LF"},
        {"POST /applog/crash\r\n\r\n", "HTTP/1.1 400 Bad Request", "malformed request line"},
        {"POST /applog/crash HTTP/1.1\r\nbroken\r\n\r\n", "HTTP/1.1 400 Bad Request",
         "malformed header line"},
        {"GET / HTTP/1.1\r\nX-Long: " + std::string(70000, 'a'),
         "HTTP/1.1 431 Request Header Fields Too Large", "head too long"},
        {"GET / HTTP/1.1\r\n" +
             [] {
                 std::string fields;
                 while (fields.size() < 70000) fields += "a: b\r\n";
                 return fields;
             }(),
         "HTTP/1.1 431 Request Header Fields Too Large", "head too long"},
        {std::string(kCrashHead) + "Content-Length: 4194305\r\n\r\n",
         "HTTP/1.1 413 Payload Too Large", "413"},
        {std::string(kCrashHead) + "Content-Length: -1\r\n\r\n", "HTTP/1.1 400 Bad Request", "400"},
        // The shop's command stream, whose chunks have the same bound, has its answer under
        // way: it is only closed.
        {std::string("POST / HTTP/1.1\r\nHost: 127.0.0.1\r\n") + kChunked + "400001\r\n",
         "HTTP/1.1 200 OK", "chunk size too large: 400001; closed"},
    };
    size_t connection = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.request.substr(0, 120));
        LoopbackClient client(server_.port());
        client.send(row.request);
        EXPECT_EQ(client.status(), row.statusLine);
        EXPECT_TRUE(client.ended());
        EXPECT_NE(line(connection++, row.logged), "") << ::testing::PrintToString(lines());
    }
}

// No more of a crash report's body is read than its limit: past it, the 413 comes
// before the client has sent much more, however the body is cut into chunks. A body
// that fills the limit is stored whole.
TEST_F(SampleLogServerLoopbackTest, AHugeBodyIsRefusedBeforeItIsRead) {
    const size_t huge = 200'000'000;
    const std::string crash = std::string(kCrashHead) + kChunked;
    const std::string piece = peer::encodeChunk(std::string(1 << 16, 'r'));
    const std::string limit(SampleLogServer::kMaxBodySize, 'r');
    struct Row {
        std::string head;
        std::string_view body;  // sent `times` over
        size_t times;
        const char* statusLine;
        size_t sentAtMost;
        size_t stored;
    };
    const Row rows[] = {
        // One chunk of 200 MB, then as many in chunks of 64 KiB.
        {crash + fmt::format("{:X}\r\n", huge), piece, huge / piece.size(),
         "HTTP/1.1 413 Payload Too Large", 32u << 20, 0},
        {crash, piece, huge / piece.size(), "HTTP/1.1 413 Payload Too Large", 48u << 20, 0},
        {crash + peer::encodeChunk(limit) + std::string(peer::kLastChunk), "", 0, "HTTP/1.1 200 OK",
         0, limit.size()},
        {fmt::format("{}Content-Length: {}\r\n\r\n", kCrashHead, limit.size()), limit, 1,
         "HTTP/1.1 200 OK", limit.size(), limit.size()},
    };
    int stored = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.head.substr(row.head.size() - 12));
        LoopbackClient client(server_.port());
        ASSERT_EQ(client.send(row.head), row.head.size());
        size_t sent = 0;
        for (size_t i = 0; i < row.times && !client.ended(); ++i) sent += client.send(row.body);
        EXPECT_EQ(client.status(), row.statusLine);
        EXPECT_LE(sent, row.sentAtMost);
        if (!row.stored) continue;
        std::ifstream in(reports_.file(fmt::format("crash-{}.mvcrash", ++stored)),
                         std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}).size(), row.stored);
    }
}

// Past the crash reports that may wait for their bodies, the oldest is answered 503 at
// once and closed; the others are still taken.
TEST_F(SampleLogServerLoopbackTest, TheOldestWaitingCrashReportIsAnswered503WhenTooManyWait) {
    const std::string waiting = std::string(kCrashHead) + "Content-Length: 4\r\n\r\nab";
    std::vector<std::unique_ptr<LoopbackClient>> clients;
    for (size_t i = 0; i <= SampleLogServer::kMaxWaiting; ++i) {
        clients.push_back(std::make_unique<LoopbackClient>(server_.port()));
        clients.back()->send(waiting);
        if (i < SampleLogServer::kMaxWaiting) {
            ASSERT_TRUE(received(i, waiting.size()));
        }
    }
    EXPECT_EQ(clients.front()->status(), "HTTP/1.1 503 Service Unavailable");
    EXPECT_TRUE(clients.front()->ended());
    EXPECT_EQ(line(0, "dropped"),
              "connection 0: crash report dropped for a newer one: 503 Service Unavailable");
    for (size_t i = 1; i < 3; ++i) {
        clients.at(i)->send("cd");
        EXPECT_EQ(clients.at(i)->status(), "HTTP/1.1 200 OK");
    }
}

// A connection that neither receives nor sends for the time-out is closed, answered 408
// when a request began and nothing was answered yet; what it receives keeps it open.
TEST_F(SampleLogServerLoopbackTest, AQuietConnectionIsClosedAfterTheTimeOut) {
    const double timeout = SampleLogServer::kIdleTimeout;
    struct Row {
        std::string request;
        const char* statusLine;
    };
    const Row rows[] = {
        {"", ""},
        {"GET /shop/home.html HTTP/1.1\r\nHo", "HTTP/1.1 408 Request Timeout"},
        {std::string(kCrashHead) + "Content-Length: 10\r\n\r\nab", "HTTP/1.1 408 Request Timeout"},
        {std::string(kCrashHead) + kChunked + "8\r\nab", "HTTP/1.1 408 Request Timeout"},
        {std::string("POST / HTTP/1.1\r\nHost: 127.0.0.1\r\n") + kChunked, "HTTP/1.1 200 OK"},
    };
    size_t connection = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.request);
        LoopbackClient client(server_.port());
        client.send(row.request);
        ASSERT_TRUE(received(connection, row.request.size()));
        // Each byte that arrives starts the quiet anew (a connection that sent nothing
        // is closed without a word).
        for (size_t more = 1; more <= 2 && !row.request.empty(); ++more) {
            platform::advanceBy(timeout - 1);
            client.send("c");
            ASSERT_TRUE(received(connection, row.request.size() + more));
        }
        platform::advanceBy(timeout - 1);
        EXPECT_EQ(server_.connection(connection).receivedBytes,
                  row.request.empty() ? 0 : row.request.size() + 2);
        platform::advanceBy(1);
        const std::string answer = client.answer();
        EXPECT_EQ(answer.substr(0, answer.find('\r')), row.statusLine);
        EXPECT_TRUE(client.ended());
        EXPECT_NE(line(connection++, "nothing received or sent for 30 s; closed"), "");
    }
}

}  // namespace
