#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>

#include "platform/foundation/Clock.h"
#include "platform/foundation/TestDriver.h"
#include "tests/support/PlatformTest.h"
#include "tools/peer/ApiPeer.h"

using nlohmann::json;
using namespace peer;

namespace {

constexpr double kTimeout = 20.0;

// A plain blocking client, independent of the platform's streams.
class RawClient {
  public:
    explicit RawClient(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        timeval limit{20, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~RawClient() { ::close(fd_); }

    bool connected() const { return connected_; }
    void send(std::string_view bytes) {
        ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
    }
    // Reads until `count` bytes came, the end or an error; errno tells which.
    std::string receive(size_t count) {
        std::string out;
        while (out.size() < count) {
            char buffer[4096];
            ssize_t n = ::recv(fd_, buffer, std::min(sizeof buffer, count - out.size()), 0);
            if (n <= 0) {
                lastError_ = n == 0 ? 0 : errno;
                break;
            }
            out.append(buffer, static_cast<size_t>(n));
        }
        return out;
    }
    bool nothingWaiting() {
        char byte;
        return ::recv(fd_, &byte, 1, MSG_DONTWAIT | MSG_PEEK) < 0 && errno == EAGAIN;
    }
    int lastError() const { return lastError_; }

  private:
    int fd_;
    bool connected_ = false;
    int lastError_ = 0;
};

const std::string kPost =
    "POST / HTTP/1.1\r\nHost: api.example\r\nTransfer-Encoding: chunked\r\n\r\n";

class ApiPeerTest : public PlatformTest {};

}  // namespace

TEST_F(ApiPeerTest, QueuedScriptsAnswerTheNextHeadsThenTheDefault) {
    ApiPeer peer;
    const ResponseHead redirect{
        302, "Found", {{"Location", "https://other.example/"}}, std::nullopt};
    peer.queueScript({.head = redirect, .afterHead = {PeerAction::endOfStream()}});
    peer.setDefaultScript(
        {.head = ResponseHead::ok({{"X-Merovane-Api", "Velkram"}}),
         .afterHead = {PeerAction::packet({{"serial", 1}}, PacketEncoding::MessagePack, true)}});
    {
        RawClient client(peer.port());
        ASSERT_TRUE(client.connected());
        client.send(kPost);
        EXPECT_EQ(client.receive(1000), redirect.bytes());
        EXPECT_EQ(client.lastError(), 0);  // the end, after the head
    }
    RawClient client(peer.port());
    client.send(kPost);
    const std::string head = ResponseHead::ok({{"X-Merovane-Api", "Velkram"}}).bytes();
    const std::string chunk =
        encodeChunk(encodePacket({{"serial", 1}}, PacketEncoding::MessagePack, true));
    EXPECT_EQ(client.receive(head.size() + chunk.size()), head + chunk);
    ASSERT_TRUE(platform::runUntil([&] { return peer.connectionCount() == 2; }, kTimeout));
    EXPECT_EQ(peer.connection(1).requestHead->field("host"), "api.example");
}

TEST_F(ApiPeerTest, AWithheldHeadSendsNothingUntilTheTestSendsIt) {
    ApiPeer peer;
    peer.setDefaultScript({.head = std::nullopt, .afterHead = {}});
    RawClient client(peer.port());
    client.send(kPost + encodeChunk(R"({"serial":1})"));
    ASSERT_TRUE(platform::runUntil([&] { return peer.packetCount() == 1; }, kTimeout));
    EXPECT_TRUE(client.nothingWaiting());
    peer.perform(0, PeerAction::head(ResponseHead::ok()));
    EXPECT_EQ(client.receive(ResponseHead::ok().bytes().size()), ResponseHead::ok().bytes());
}

TEST_F(ApiPeerTest, AChunkCutShortThenAReset) {
    ApiPeer peer;
    peer.setDefaultScript({.head = std::nullopt, .afterHead = {}});
    RawClient client(peer.port());
    client.send(kPost);
    ASSERT_TRUE(platform::runUntil(
        [&] { return peer.connectionCount() == 1 && peer.connection(0).requestHead; }, kTimeout));
    const json packet = {{"cmds", json::array()}, {"serial", 5}};
    peer.perform(0, PeerAction::packetCut(packet, 6));
    EXPECT_EQ(client.receive(6), encodeChunk(packet.dump()).substr(0, 6));
    peer.perform(0, PeerAction::reset());
    EXPECT_EQ(client.receive(1), "");
    EXPECT_EQ(client.lastError(), ECONNRESET);
    ASSERT_TRUE(
        platform::runUntil([&] { return peer.connection(0).actionsCompleted == 2; }, kTimeout));
}

TEST_F(ApiPeerTest, PacketsAreRecordedWithThePlatformClocksTime) {
    ApiPeer peer;
    RawClient client(peer.port());
    const double start = static_cast<double>(platform::Clock::monotonicNanos()) / 1e9;
    client.send(kPost + encodeChunk(R"({"serial":1})"));
    ASSERT_TRUE(platform::runUntil([&] { return peer.packetCount() == 1; }, kTimeout));
    platform::advanceBy(19.0);
    client.send(encodeChunk(encodePacket(json::object(), PacketEncoding::MessagePack)) +
                std::string(kLastChunk));
    ASSERT_TRUE(platform::runUntil(
        [&] { return peer.packetCount() == 2 && peer.connection(0).bodyEnded; }, kTimeout));
    auto packets = peer.packets();
    EXPECT_EQ(packets[0].time, start);
    EXPECT_EQ(packets[1].time, start + 19.0);
    EXPECT_EQ(packets[1].decoded.value, json::object());
    auto record = peer.connection(0);
    EXPECT_EQ(record.requestHeadAt, start);
    EXPECT_EQ(record.received, kPost + encodeChunk(R"({"serial":1})") + encodeChunk("\x80") +
                                   std::string(kLastChunk));
    EXPECT_TRUE(record.parseError.empty());
}

TEST_F(ApiPeerTest, ProxyModeAnswersConnectThenSpeaksPlainHTTPInside) {
    ApiPeer peer({.tls = false, .proxy = true});
    RawClient client(peer.port());
    client.send("CONNECT api.example:8080 HTTP/1.1\r\nHost: api.example\r\n\r\n" + kPost);
    const std::string answer = "HTTP/1.1 200 Connection established\r\n\r\n";
    EXPECT_EQ(client.receive(answer.size()), answer);
    EXPECT_EQ(client.receive(ResponseHead::ok().bytes().size()), ResponseHead::ok().bytes());
    auto record = peer.connection(0);
    ASSERT_TRUE(record.proxyHead);
    EXPECT_EQ(record.proxyHead->method, "CONNECT");
    EXPECT_EQ(record.proxyHead->target, "api.example:8080");
    ASSERT_TRUE(record.requestHead);
    EXPECT_EQ(record.requestHead->method, "POST");
}

TEST_F(ApiPeerTest, ARefusingProxyGoesNoFurther) {
    ApiPeerOptions options;
    options.proxy = true;
    options.proxyAnswer = ResponseHead{407, "Proxy Authentication Required", {}, std::nullopt};
    ApiPeer peer(options);
    RawClient client(peer.port());
    const std::string connect = "CONNECT api.example:443 HTTP/1.1\r\n\r\n";
    client.send(connect + kPost);
    EXPECT_EQ(client.receive(options.proxyAnswer.bytes().size()), options.proxyAnswer.bytes());
    ASSERT_TRUE(platform::runUntil(
        [&] {
            return peer.connectionCount() == 1 && peer.connection(0).received == connect + kPost;
        },
        kTimeout));
    EXPECT_FALSE(peer.connection(0).requestHead);
}

TEST_F(ApiPeerTest, ABrokenBodyIsRecorded) {
    ApiPeer peer;
    RawClient client(peer.port());
    client.send(kPost + "zz\r\n");
    ASSERT_TRUE(platform::runUntil(
        [&] { return peer.connectionCount() == 1 && !peer.connection(0).parseError.empty(); },
        kTimeout));
    EXPECT_EQ(peer.connection(0).parseError, "request body: chunk size is not hexadecimal: 'zz'");
}

TEST_F(ApiPeerTest, AnOversizedHeadIsAnsweredWith431AtOnce) {
    const std::string refusal =
        "HTTP/1.1 431 Request Header Fields Too Large\r\nContent-Length: 0\r\n"
        "Connection: close\r\n\r\n";
    for (const bool proxy : {false, true}) {
        SCOPED_TRACE(proxy ? "proxy head" : "request head");
        ApiPeer peer({.proxy = proxy});
        RawClient client(peer.port());
        client.send((proxy ? "CONNECT api.example:443 HTTP/1.1\r\n" : "GET / HTTP/1.1\r\n") +
                    std::string("X-Long: ") + std::string(70000, 'a'));
        EXPECT_EQ(client.receive(refusal.size() + 1), refusal);
        EXPECT_EQ(client.lastError(), 0);  // the end, after the answer
        EXPECT_TRUE(peer.connection(0).parseError.ends_with("head too long"))
            << peer.connection(0).parseError;
    }
}

// A tail of each connection's bytes, packets and reads; the records of the last that closed.
TEST_F(ApiPeerTest, WhatIsRecordedIsBoundedAndAClosedConnectionGoes) {
    ApiPeer peer({.keptBytes = 1000, .keptEntries = 2, .keptClosed = 1});
    peer.setDefaultScript({.head = std::nullopt, .afterHead = {}});
    std::string sent = kPost;
    for (int serial = 1; serial <= 5; ++serial)
        sent += encodeChunk(json({{"serial", serial}, {"pad", std::string(300, 'p')}}).dump());
    sent += kLastChunk;
    RawClient(peer.port()).send(sent);
    ASSERT_TRUE(platform::runUntil(
        [&] {
            return peer.connectionCount() == 1 && peer.connection(0).clientEnded &&
                   peer.connection(0).receivedBytes == sent.size();
        },
        kTimeout));
    auto record = peer.connection(0);
    EXPECT_EQ(record.received, sent.substr(sent.size() - 1000));
    EXPECT_TRUE(record.bodyEnded);
    EXPECT_LE(record.arrivals.size(), 2u);
    ASSERT_EQ(record.packets.size(), 2u);
    EXPECT_EQ(record.packets[1].decoded.value["serial"], 5);
    EXPECT_EQ(peer.packetCount(), 5u);
    ASSERT_EQ(peer.packets().size(), 2u);
    EXPECT_EQ(peer.packets()[0].decoded.value["serial"], 4);

    // The client has gone: the peer's end closes it. Then a second one closes.
    peer.perform(0, PeerAction::endOfStream());
    ASSERT_TRUE(
        platform::runUntil([&] { return peer.connection(0).actionsCompleted == 1; }, kTimeout));
    RawClient second(peer.port());
    second.send("GET / HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(platform::runUntil(
        [&] { return peer.connectionCount() == 2 && peer.connection(1).requestHead; }, kTimeout));
    peer.perform(1, PeerAction::close());
    EXPECT_EQ(second.receive(1), "");
    ASSERT_TRUE(platform::runUntil([&] { return !peer.connection(0).error.empty(); }, kTimeout));
    EXPECT_EQ(peer.connection(0).error, "closed, its record no longer kept");
    EXPECT_EQ(peer.connection(1).actionsCompleted, 1u);
    peer.perform(0, PeerAction::raw("late"));  // dropped
    EXPECT_EQ(peer.connectionCount(), 2u);
}
