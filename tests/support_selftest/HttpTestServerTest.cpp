#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "tests/support/HttpTestServer.h"
#include "tests/support/PlatformTest.h"
#include "tools/peer/TestCertificates.h"

using Response = HttpTestServer::Response;

namespace {

// A blocking loopback client; subclasses say how bytes arrive.
class Client {
  public:
    explicit Client(uint16_t port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        timeval tv{10, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(port);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    virtual ~Client() { ::close(fd_); }

    bool connected() const { return connected_; }

    // Reads until `marker` has arrived (or the peer closes, or 10 s pass).
    std::string readUntil(std::string_view marker) {
        while (buffer_.find(marker) == std::string::npos) {
            char chunk[4096];
            ssize_t n = receive(chunk, sizeof chunk);
            if (n <= 0) break;
            buffer_.append(chunk, size_t(n));
        }
        auto at = buffer_.find(marker);
        if (at == std::string::npos) return std::exchange(buffer_, {});
        std::string out = buffer_.substr(0, at + marker.size());
        buffer_.erase(0, at + marker.size());
        return out;
    }

  protected:
    virtual ssize_t receive(char* buffer, size_t size) = 0;
    int fd_ = -1;

  private:
    bool connected_ = false;
    std::string buffer_;
};

// A plain client, so the server is seen on the wire without our URL loading.
class RawHttpClient : public Client {
  public:
    using Client::Client;
    void send(std::string_view data) {
        ASSERT_EQ(::send(fd_, data.data(), data.size(), MSG_NOSIGNAL), ssize_t(data.size()));
    }
    // True when the peer closed the connection.
    bool readsEnd() {
        char c;
        return ::recv(fd_, &c, 1, 0) == 0;
    }

  protected:
    ssize_t receive(char* buffer, size_t size) override { return ::recv(fd_, buffer, size, 0); }
};

// A TLS client that trusts the test root only.
class TlsClient : public Client {
  public:
    explicit TlsClient(uint16_t port) : Client(port), context_(SSL_CTX_new(TLS_client_method())) {
        const std::string& root = peer::TestCertificates::shared().rootDER();
        const auto* bytes = reinterpret_cast<const unsigned char*>(root.data());
        X509* anchor = d2i_X509(nullptr, &bytes, static_cast<long>(root.size()));
        X509_STORE_add_cert(SSL_CTX_get_cert_store(context_), anchor);
        X509_free(anchor);
        SSL_CTX_set_verify(context_, SSL_VERIFY_PEER, nullptr);
        ssl_ = SSL_new(context_);
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), "127.0.0.1");
        SSL_set_fd(ssl_, fd_);
        verified_ = SSL_connect(ssl_) == 1 && SSL_get_verify_result(ssl_) == X509_V_OK;
    }
    ~TlsClient() override {
        SSL_free(ssl_);
        SSL_CTX_free(context_);
    }

    bool verified() const { return verified_; }
    void send(std::string_view data) {
        ASSERT_EQ(SSL_write(ssl_, data.data(), static_cast<int>(data.size())),
                  static_cast<int>(data.size()));
    }
    bool closeNotify = false;  // the server ended with close_notify

  protected:
    ssize_t receive(char* buffer, size_t size) override {
        int n = SSL_read(ssl_, buffer, static_cast<int>(size));
        if (n <= 0) closeNotify = SSL_get_error(ssl_, n) == SSL_ERROR_ZERO_RETURN;
        return n;
    }

  private:
    SSL_CTX* context_;
    SSL* ssl_ = nullptr;
    bool verified_ = false;
};

class HttpTestServerTest : public PlatformTest {
  protected:
    HttpTestServer server_;
};

TEST_F(HttpTestServerTest, AnswersScriptsOnOneKeptAliveConnection) {
    server_.respond("/a", Response::text(200, "alpha", "text/plain"));
    RawHttpClient client(server_.port());
    ASSERT_TRUE(client.connected());
    client.send("GET /a?x=1 HTTP/1.1\r\nHost: t\r\nX-Test: yes\r\n\r\n");
    EXPECT_EQ(client.readUntil("alpha"),
              "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 5\r\n\r\nalpha");
    client.send("GET /missing HTTP/1.1\r\nHost: t\r\n\r\n");
    EXPECT_EQ(client.readUntil("\r\n\r\n").substr(0, 22), "HTTP/1.1 404 Not Found");

    ASSERT_EQ(server_.requestCount(), 2u);
    auto first = server_.requests()[0];
    EXPECT_EQ(first.method, "GET");
    EXPECT_EQ(first.target, "/a?x=1");
    EXPECT_EQ(first.path, "/a");
    EXPECT_EQ(first.query, "x=1");
    EXPECT_EQ(first.version, "HTTP/1.1");
    EXPECT_EQ(first.header("x-test"), "yes");
    EXPECT_EQ(server_.connectionCount(), 1u);
}

TEST_F(HttpTestServerTest, RecordsChunkedAndSizedRequestBodies) {
    server_.respond("/up", Response::text(200, "ok"));
    RawHttpClient client(server_.port());
    client.send(
        "POST /up HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n6\r\n "
        "world\r\n0\r\n\r\n");
    client.readUntil("ok");
    client.send("POST /up HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc");
    client.readUntil("ok");
    auto all = server_.requests();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].body, "hello world");
    EXPECT_EQ(all[1].body, "abc");
}

TEST_F(HttpTestServerTest, OnceResponsesComeBeforeTheStandingOneAndHandlersSeeTheRequest) {
    server_.respond("/s", Response::text(200, "standing"));
    server_.respondOnce("/s", Response::text(503, "first"));
    server_.handle("/h", [](const HttpTestServer::Request& r) {
        return Response::text(200, "echo " + r.query);
    });
    RawHttpClient client(server_.port());
    client.send("GET /s HTTP/1.1\r\n\r\n");
    EXPECT_NE(client.readUntil("first").find("503 Service Unavailable"), std::string::npos);
    client.send("GET /s HTTP/1.1\r\n\r\n");
    EXPECT_NE(client.readUntil("standing").find("200 OK"), std::string::npos);
    client.send("GET /h?q=7 HTTP/1.1\r\n\r\n");
    EXPECT_NE(client.readUntil("echo q=7").find("Content-Length: 8"), std::string::npos);
}

TEST_F(HttpTestServerTest, ChunkedResponsesWithPausesOnThePlatformClock) {
    Response r;
    r.chunked = true;
    r.chunks = {"ab", "cde"};
    r.chunkInterval = 2;
    server_.respond("/c", r);
    RawHttpClient client(server_.port());
    client.send("GET /c HTTP/1.1\r\n\r\n");
    EXPECT_EQ(client.readUntil("ab\r\n"),
              "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nab\r\n");
    platform::advanceBy(2);
    EXPECT_EQ(client.readUntil("0\r\n\r\n"), "3\r\ncde\r\n0\r\n\r\n");
}

TEST_F(HttpTestServerTest, HoldsUntilReleasedAndClosesWhenAsked) {
    Response held = Response::text(200, "held");
    held.holdUntilReleased = "go";
    server_.respond("/held", held);
    RawHttpClient client(server_.port());
    client.send("GET /held HTTP/1.1\r\nConnection: close\r\n\r\n");
    ASSERT_TRUE(platform::runUntil([&] { return server_.requestCount("/held") == 1; }, 10));
    server_.release("go");
    EXPECT_NE(client.readUntil("held").find("200 OK"), std::string::npos);
    EXPECT_TRUE(client.readsEnd());
}

TEST_F(HttpTestServerTest, DropsMidBody) {
    Response cut = Response::text(200, "0123456789");
    cut.dropAfterBodyBytes = 4;
    server_.respond("/cut", cut);
    RawHttpClient client(server_.port());
    client.send("GET /cut HTTP/1.1\r\n\r\n");
    std::string all = client.readUntil("never");
    EXPECT_NE(all.find("Content-Length: 10\r\n\r\n0123"), std::string::npos);
    EXPECT_EQ(all.find("4567"), std::string::npos);
}

TEST_F(HttpTestServerTest, SpeaksTlsWithTheTestChainAndEndsWithCloseNotify) {
    HttpTestServer tls({.tls = true});
    EXPECT_EQ(tls.url("/a"), "https://127.0.0.1:" + std::to_string(tls.port()) + "/a");
    tls.respond("/a", Response::text(200, "alpha"));
    Response cut = Response::text(200, "0123456789");
    cut.dropAfterBodyBytes = 4;
    tls.respond("/cut", cut);
    TlsClient client(tls.port());
    ASSERT_TRUE(client.verified());
    client.send("GET /a HTTP/1.1\r\n\r\n");
    EXPECT_EQ(client.readUntil("alpha"),
              "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 5\r\n\r\nalpha");
    client.send("GET /cut HTTP/1.1\r\n\r\n");
    std::string all = client.readUntil("never");
    EXPECT_NE(all.find("Content-Length: 10\r\n\r\n0123"), std::string::npos);
    EXPECT_EQ(all.find("4567"), std::string::npos);
    EXPECT_TRUE(client.closeNotify);
    EXPECT_EQ(tls.requestCount(), 2u);

    // A chain that leads to no trusted root fails the handshake; no request arrives.
    HttpTestServer stray({.tls = true, .chain = peer::PeerChain::IntermediateOnly});
    EXPECT_FALSE(TlsClient(stray.port()).verified());
    EXPECT_EQ(stray.requestCount(), 0u);
}

TEST_F(HttpTestServerTest, RefusingPortRefuses) {
    HttpTestServer::RefusingPort refusing;
    RawHttpClient client(refusing.port());
    EXPECT_FALSE(client.connected());
}

}  // namespace
