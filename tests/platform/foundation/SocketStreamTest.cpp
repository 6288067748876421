#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/foundation/RunLoop.h"
#include "platform/foundation/SocketStream.h"
#include "platform/foundation/TestDriver.h"
#include "platform/foundation/Thread.h"
#include "platform/foundation/TrustEvaluation.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/PlatformTest.h"
#include "tests/support/ProxyEnvironment.h"
#include "tools/peer/ApiPeer.h"
#include "tools/peer/ChunkedCoding.h"

using platform::InputStream;
using platform::OutputStream;
using platform::RunLoop;
using platform::Stream;
using platform::StreamEvent;
using platform::StreamStatus;
using platform::TLSSettings;
using namespace testsupport;
using namespace peer;

namespace {

constexpr double kTimeout = 20.0;

class Recorder : public platform::StreamDelegate {
  public:
    struct Entry {
        bool input;
        StreamEvent event;
        std::string thread;
    };

    void handleEvent(Stream& stream, StreamEvent event) override {
        {
            std::lock_guard lock(mutex_);
            entries_.push_back({stream.isInput(), event, platform::Thread::currentName()});
        }
        if (onEvent) onEvent(stream, event);
    }

    size_t count(bool input, StreamEvent event) const {
        std::lock_guard lock(mutex_);
        return static_cast<size_t>(
            std::count_if(entries_.begin(), entries_.end(),
                          [&](const Entry& e) { return e.input == input && e.event == event; }));
    }
    std::vector<StreamEvent> events(bool input) const {
        std::lock_guard lock(mutex_);
        std::vector<StreamEvent> out;
        for (const auto& e : entries_) {
            if (e.input == input) out.push_back(e.event);
        }
        return out;
    }
    std::vector<Entry> entries() const {
        std::lock_guard lock(mutex_);
        return entries_;
    }

    std::function<void(Stream&, StreamEvent)> onEvent;

  private:
    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
};

constexpr bool kInput = true;
constexpr bool kOutput = false;

std::string readAll(InputStream& input) {
    std::string out;
    uint8_t buffer[4096];
    while (input.hasBytesAvailable()) {
        long n = input.read(buffer, sizeof buffer);
        if (n <= 0) break;
        out.append(reinterpret_cast<char*>(buffer), static_cast<size_t>(n));
    }
    return out;
}

long writeText(OutputStream& output, std::string_view text) {
    return output.write(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

class SocketStreamTest : public PlatformTest {
  protected:
    void TearDown() override {
        // Streams go before the loops they are scheduled on.
        pair_ = {};
        PlatformTest::TearDown();
    }

    // Opens a pair to host:port with both streams on `inputLoop` / `outputLoop`.
    platform::StreamPair& open(const std::string& host, int port,
                               std::optional<TLSSettings> tls = std::nullopt,
                               RunLoop* inputLoop = nullptr, RunLoop* outputLoop = nullptr) {
        pair_ = Stream::createPair(host, port);
        pair_.input->setDelegate(recorder_);
        pair_.output->setDelegate(recorder_);
        if (tls) pair_.input->setTLSSettings(*tls);
        pair_.input->scheduleInRunLoop(inputLoop ? *inputLoop : RunLoop::main());
        pair_.output->scheduleInRunLoop(outputLoop ? *outputLoop : RunLoop::main());
        pair_.input->open();
        pair_.output->open();
        return pair_;
    }

    // A fresh pair to a peer that withholds its head, open at both ends.
    platform::StreamPair& openQuietPeer(ApiPeer& peer, bool tls) {
        peer.setDefaultScript({.head = std::nullopt, .afterHead = {}});
        recorder_ = std::make_shared<Recorder>();
        auto settings = tls ? std::optional<TLSSettings>(
                                  TLSSettings{.peerName = "", .validatesCertificateChain = false})
                            : std::nullopt;
        auto& streams = open("127.0.0.1", peer.port(), settings);
        EXPECT_TRUE(waitFor(kOutput, platform::kStreamEventHasSpaceAvailable));
        // The server is done with a handshake a little after the client.
        EXPECT_TRUE(platform::runUntil(
            [&] { return peer.connectionCount() == 1 && peer.connection(0).tlsEstablished == tls; },
            kTimeout));
        return streams;
    }

    bool waitFor(bool input, StreamEvent event, size_t count = 1) {
        return platform::runUntil([&] { return recorder_->count(input, event) >= count; },
                                  kTimeout);
    }

    // Stream threads outlive the streams scheduled on them.
    void makeStreamThreads() {
        downstream_ = std::make_unique<platform::Thread>("Merovane Api Downstream");
        upstream_ = std::make_unique<platform::Thread>("Merovane Api Upstream");
    }

    ProxyEnvironment proxies_;
    std::unique_ptr<platform::Thread> downstream_, upstream_;
    std::shared_ptr<Recorder> recorder_ = std::make_shared<Recorder>();
    platform::StreamPair pair_;
};

}  // namespace

TEST_F(SocketStreamTest, OpeningDeliversOpenThenOneSpaceEventAndEachWriteOneMore) {
    ApiPeer peer;
    auto& streams = open("127.0.0.1", peer.port());
    EXPECT_EQ(streams.output->streamStatus(), StreamStatus::Opening);
    ASSERT_TRUE(waitFor(kOutput, platform::kStreamEventHasSpaceAvailable));
    ASSERT_TRUE(waitFor(kInput, platform::kStreamEventOpenCompleted));
    platform::runUntilIdle();
    EXPECT_EQ(recorder_->events(kOutput),
              (std::vector<StreamEvent>{platform::kStreamEventOpenCompleted,
                                        platform::kStreamEventHasSpaceAvailable}));
    EXPECT_EQ(recorder_->events(kInput),
              std::vector<StreamEvent>{platform::kStreamEventOpenCompleted});
    EXPECT_EQ(streams.output->streamStatus(), StreamStatus::Open);
    EXPECT_TRUE(streams.output->hasSpaceAvailable());

    EXPECT_EQ(writeText(*streams.output, "POST"), 4);
    ASSERT_TRUE(waitFor(kOutput, platform::kStreamEventHasSpaceAvailable, 2));
    EXPECT_EQ(writeText(*streams.output, " / "), 3);
    ASSERT_TRUE(waitFor(kOutput, platform::kStreamEventHasSpaceAvailable, 3));
    platform::runUntilIdle();
    EXPECT_EQ(recorder_->count(kOutput, platform::kStreamEventHasSpaceAvailable), 3u);
    ASSERT_TRUE(platform::runUntil(
        [&] { return peer.connectionCount() == 1 && peer.connection(0).received == "POST / "; },
        kTimeout));
}

TEST_F(SocketStreamTest, BytesAvailableComesOncePerArrivalUntilTheDelegateReads) {
    ApiPeer peer;
    auto& streams = open("127.0.0.1", peer.port());
    ASSERT_TRUE(waitFor(kInput, platform::kStreamEventOpenCompleted));
    ASSERT_TRUE(platform::runUntil([&] { return peer.connectionCount() == 1; }, kTimeout));

    peer.perform(0, PeerAction::raw("abc"));
    ASSERT_TRUE(waitFor(kInput, platform::kStreamEventHasBytesAvailable));
    // More bytes before any read: no second event.
    peer.perform(0, PeerAction::raw("def"));
    ASSERT_TRUE(
        platform::runUntil([&] { return peer.connection(0).actionsCompleted == 2; }, kTimeout));
    platform::runUntilIdle();
    EXPECT_EQ(recorder_->count(kInput, platform::kStreamEventHasBytesAvailable), 1u);

    EXPECT_EQ(readAll(*streams.input), "abcdef");
    EXPECT_FALSE(streams.input->hasBytesAvailable());
    uint8_t byte;
    EXPECT_EQ(streams.input->read(&byte, 1), 0);  // nothing waiting: not the end
    EXPECT_EQ(streams.input->streamStatus(), StreamStatus::Open);
    platform::runUntilIdle();
    EXPECT_EQ(recorder_->count(kInput, platform::kStreamEventHasBytesAvailable), 1u);

    peer.perform(0, PeerAction::raw("ghi"));
    ASSERT_TRUE(waitFor(kInput, platform::kStreamEventHasBytesAvailable, 2));
    EXPECT_EQ(readAll(*streams.input), "ghi");
}

TEST_F(SocketStreamTest, ReadingPartOfWhatArrivedBringsTheNextEvent) {
    for (bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "TLS" : "plain");
        ApiPeer peer({.tls = tls});
        auto& streams = openQuietPeer(peer, tls);
        std::string got;
        recorder_->onEvent = [&](Stream&, StreamEvent event) {
            if (event != platform::kStreamEventHasBytesAvailable) return;
            uint8_t byte;  // one byte per event: over TLS the rest stays inside OpenSSL
            if (streams.input->read(&byte, 1) == 1) got.push_back(static_cast<char>(byte));
        };
        peer.perform(0, PeerAction::raw("held in one record"));
        ASSERT_TRUE(platform::runUntil([&] { return got.size() == 18; }, kTimeout));
        EXPECT_EQ(got, "held in one record");
        if (!tls) {
            EXPECT_EQ(recorder_->count(kInput, platform::kStreamEventHasBytesAvailable), 18u);
        }
        pair_ = {};
    }
}

TEST_F(SocketStreamTest, EndIsReportedOnceAndLeavesTheOutputAlone) {
    ApiPeer peer;
    auto& streams = open("127.0.0.1", peer.port());
    ASSERT_TRUE(waitFor(kOutput, platform::kStreamEventHasSpaceAvailable));
    ASSERT_TRUE(platform::runUntil([&] { return peer.connectionCount() == 1; }, kTimeout));
    peer.perform(0, {PeerAction::raw("last words"), PeerAction::endOfStream()});

    ASSERT_TRUE(waitFor(kInput, platform::kStreamEventHasBytesAvailable));
    EXPECT_EQ(readAll(*streams.input), "last words");
    ASSERT_TRUE(waitFor(kInput, platform::kStreamEventEndEncountered));
    EXPECT_EQ(streams.input->streamStatus(), StreamStatus::AtEnd);
    uint8_t byte;
    EXPECT_EQ(streams.input->read(&byte, 1), 0);
    platform::runUntilIdle();
    EXPECT_EQ(recorder_->count(kInput, platform::kStreamEventEndEncountered), 1u);
    EXPECT_EQ(recorder_->count(kInput, platform::kStreamEventErrorOccurred), 0u);
    EXPECT_EQ(recorder_->count(kOutput, platform::kStreamEventErrorOccurred), 0u);
    EXPECT_EQ(streams.output->streamStatus(), StreamStatus::Open);
    EXPECT_FALSE(streams.input->streamError());
}

TEST_F(SocketStreamTest, AResetIsOneErrorForEachStream) {
    ApiPeer peer;
    auto& streams = open("127.0.0.1", peer.port());
    ASSERT_TRUE(waitFor(kOutput, platform::kStreamEventHasSpaceAvailable));
    ASSERT_TRUE(platform::runUntil([&] { return peer.connectionCount() == 1; }, kTimeout));
    peer.perform(0, PeerAction::reset());

    ASSERT_TRUE(waitFor(kInput, platform::kStreamEventErrorOccurred));
    ASSERT_TRUE(waitFor(kOutput, platform::kStreamEventErrorOccurred));
    platform::runUntilIdle();
    EXPECT_EQ(recorder_->count(kInput, platform::kStreamEventErrorOccurred), 1u);
    EXPECT_EQ(recorder_->count(kOutput, platform::kStreamEventErrorOccurred), 1u);
    EXPECT_EQ(recorder_->count(kInput, platform::kStreamEventEndEncountered), 0u);
    EXPECT_EQ(streams.input->streamStatus(), StreamStatus::Error);
    EXPECT_EQ(streams.output->streamStatus(), StreamStatus::Error);
    ASSERT_TRUE(streams.input->streamError());
    EXPECT_EQ(streams.input->streamError()->domain(), platform::kPOSIXErrorDomain);
    EXPECT_EQ(streams.input->streamError()->code(), ECONNRESET);
    EXPECT_EQ(writeText(*streams.output, "x"), -1);
    uint8_t byte;
    EXPECT_EQ(streams.input->read(&byte, 1), -1);
}

TEST_F(SocketStreamTest, ARefusedConnectionIsOneErrorAndNeverOpens) {
    HttpTestServer::RefusingPort refusing;
    auto& streams = open("127.0.0.1", refusing.port());
    ASSERT_TRUE(waitFor(kInput, platform::kStreamEventErrorOccurred));
    ASSERT_TRUE(waitFor(kOutput, platform::kStreamEventErrorOccurred));
    platform::runUntilIdle();
    EXPECT_EQ(recorder_->events(kInput),
              std::vector<StreamEvent>{platform::kStreamEventErrorOccurred});
    EXPECT_EQ(recorder_->events(kOutput),
              std::vector<StreamEvent>{platform::kStreamEventErrorOccurred});
    ASSERT_TRUE(streams.output->streamError());
    EXPECT_EQ(streams.output->streamError()->code(), ECONNREFUSED);
}

TEST_F(SocketStreamTest, ClosedStreamsReportNothingMoreAndTheSocketCloses) {
    ApiPeer peer;
    auto& streams = open("127.0.0.1", peer.port());
    ASSERT_TRUE(waitFor(kOutput, platform::kStreamEventHasSpaceAvailable));
    ASSERT_TRUE(platform::runUntil([&] { return peer.connectionCount() == 1; }, kTimeout));
    streams.input->close();
    EXPECT_EQ(streams.input->streamStatus(), StreamStatus::Closed);
    peer.perform(0, PeerAction::raw("ignored"));
    ASSERT_TRUE(
        platform::runUntil([&] { return peer.connection(0).actionsCompleted == 1; }, kTimeout));
    platform::runUntilIdle();
    EXPECT_EQ(recorder_->count(kInput, platform::kStreamEventHasBytesAvailable), 0u);
    EXPECT_FALSE(peer.connection(0).clientEnded);  // the output still holds the socket

    streams.output->close();
    streams.output->close();
    // Unread bytes make the kernel answer with a reset rather than an orderly end.
    ASSERT_TRUE(platform::runUntil(
        [&] { return peer.connection(0).error == std::strerror(ECONNRESET); }, kTimeout));
    EXPECT_EQ(writeText(*streams.output, "x"), -1);
}

TEST_F(SocketStreamTest, AConnectorSendsANameAndPort443ToTheLoopbackPeer) {
    ApiPeer peer({.tls = true, .chain = PeerChain::WithRoot});
    const int port = peer.port();
    Stream::setConnectorForTesting(
        [port](const std::string& host, int p) -> std::optional<platform::SocketAddress> {
            if (host == "api.example" && p == 443)
                return platform::SocketAddress{"127.0.0.1", port};
            return std::nullopt;
        });
    open("api.example", 443, TLSSettings{.peerName = "", .validatesCertificateChain = false});
    ASSERT_TRUE(waitFor(kOutput, platform::kStreamEventHasSpaceAvailable));
    // The client is done with the handshake a little before the server.
    ASSERT_TRUE(platform::runUntil([&] { return peer.connection(0).tlsEstablished; }, kTimeout));
    // The peer name defaults to the host asked for.
    EXPECT_EQ(peer.connection(0).serverName, "api.example");
}

TEST_F(SocketStreamTest, TLSFromTheStartOpensAfterTheHandshakeWithTheChainAvailable) {
    ApiPeer peer({.tls = true, .chain = PeerChain::WithoutRoot});
    peer.queueScript({.head = ResponseHead::ok({{"Content-Type", "application/json"}}),
                      .afterHead = {PeerAction::packet({{"serial", 1}})}});
    std::vector<std::string> chainAtOpen;
    recorder_->onEvent = [&](Stream& stream, StreamEvent event) {
        if (event == platform::kStreamEventOpenCompleted && stream.isInput())
            chainAtOpen = stream.peerCertificateChain();
    };
    auto& streams =
        open("localhost", peer.port(),
             TLSSettings{.peerName = "api.example", .validatesCertificateChain = false});
    EXPECT_TRUE(streams.input->peerCertificateChain().empty());
    ASSERT_TRUE(waitFor(kOutput, platform::kStreamEventHasSpaceAvailable));
    ASSERT_TRUE(waitFor(kInput, platform::kStreamEventOpenCompleted));
    EXPECT_EQ(chainAtOpen, TestCertificates::shared().chain(PeerChain::WithoutRoot));

    const std::string request =
        "POST / HTTP/1.1\r\nHost: api.example\r\nTransfer-Encoding: chunked\r\n\r\n" +
        encodeChunk(R"({"cmds":[{"c":"appStart"}],"serial":1})");
    ASSERT_EQ(writeText(*streams.output, request), static_cast<long>(request.size()));
    ASSERT_TRUE(platform::runUntil([&] { return peer.packetCount() == 1; }, kTimeout));
    EXPECT_EQ(peer.packets()[0].decoded.value["cmds"][0]["c"], "appStart");
    EXPECT_EQ(peer.connection(0).serverName, "api.example");

    std::string answer;
    ASSERT_TRUE(platform::runUntil(
        [&] {
            answer += readAll(*streams.input);
            return answer.ends_with(encodeChunk(R"({"serial":1})"));
        },
        kTimeout));
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 200 OK\r\n"));
}

TEST_F(SocketStreamTest, TLSStartsAfterTheProxyAnswersConnectOnTwoThreads) {
    ApiPeer peer({.tls = true, .proxy = true, .chain = PeerChain::WithRoot});
    peer.queueScript(
        {.head = ResponseHead::ok(),
         .afterHead = {PeerAction::packet({{"serial", 7}}, PacketEncoding::MessagePack)}});
    makeStreamThreads();

    // A small client in the shape of the API connection: CONNECT, read the answer byte
    // by byte, switch TLS on, then the POST head and one packet.
    enum class Step { Connect, ProxyAnswer, Post, Streaming };
    struct Client {
        std::mutex mutex;
        Step step = Step::Connect;
        std::string head, body, request;
        bool requestStarted = false;
    };
    auto client = std::make_shared<Client>();
    recorder_->onEvent = [this, client](Stream& stream, StreamEvent event) {
        std::lock_guard lock(client->mutex);
        Step& step = client->step;
        std::string& head = client->head;
        std::string& body = client->body;
        auto& output = static_cast<OutputStream&>(*pair_.output);
        auto& input = static_cast<InputStream&>(*pair_.input);
        if (step == Step::Connect && !stream.isInput() &&
            event == platform::kStreamEventHasSpaceAvailable) {
            writeText(output, "CONNECT api.example:443 HTTP/1.1\r\nHost: api.example\r\n\r\n");
            step = Step::ProxyAnswer;
        } else if (step == Step::ProxyAnswer && stream.isInput() &&
                   event == platform::kStreamEventHasBytesAvailable) {
            uint8_t byte;
            while (!head.ends_with("\r\n\r\n") && input.read(&byte, 1) == 1)
                head.push_back(static_cast<char>(byte));
            if (head.ends_with("\r\n\r\n")) {
                step = Step::Post;
                output.setTLSSettings(
                    {.peerName = "api.example", .validatesCertificateChain = false});
            }
        } else if (step == Step::Post && !stream.isInput() &&
                   event == platform::kStreamEventHasSpaceAvailable) {
            // A space event from before the switch may arrive while TLS is still
            // shaking hands: the stream then takes nothing, and the rest waits for the next.
            if (client->request.empty() && !client->requestStarted) {
                client->requestStarted = true;
                client->request =
                    "POST / HTTP/1.1\r\nHost: api.example\r\nTransfer-Encoding: chunked\r\n\r\n" +
                    encodeChunk(encodePacket({{"serial", 1}}, PacketEncoding::MessagePack, true));
            }
            long written = writeText(output, client->request);
            if (written > 0) client->request.erase(0, static_cast<size_t>(written));
            if (client->request.empty()) step = Step::Streaming;
        } else if (step == Step::Streaming && stream.isInput() &&
                   event == platform::kStreamEventHasBytesAvailable) {
            body += readAll(input);
        }
    };
    open("127.0.0.1", peer.port(), std::nullopt, &downstream_->runLoop(), &upstream_->runLoop());
    ASSERT_TRUE(platform::runUntil([&] { return peer.packetCount() == 1; }, kTimeout));
    auto record = peer.connection(0);
    ASSERT_TRUE(record.proxyHead);
    EXPECT_EQ(record.proxyHead->startLine, "CONNECT api.example:443 HTTP/1.1");
    EXPECT_TRUE(record.tlsEstablished);
    EXPECT_EQ(record.serverName, "api.example");
    ASSERT_TRUE(record.requestHead);
    EXPECT_EQ(record.requestHead->method, "POST");
    EXPECT_TRUE(record.packets[0].decoded.gzipped);
    EXPECT_EQ(record.packets[0].decoded.encoding, PacketEncoding::MessagePack);
    EXPECT_EQ(record.packets[0].decoded.value, nlohmann::json({{"serial", 1}}));

    const std::string packet =
        encodeChunk(encodePacket({{"serial", 7}}, PacketEncoding::MessagePack));
    ASSERT_TRUE(platform::runUntil(
        [&] {
            std::lock_guard lock(client->mutex);
            return client->body.ends_with(packet);
        },
        kTimeout));
    {
        std::lock_guard lock(client->mutex);
        EXPECT_EQ(client->head, "HTTP/1.1 200 Connection established\r\n\r\n");
        EXPECT_TRUE(client->body.starts_with("HTTP/1.1 200 OK\r\n"));
    }
    EXPECT_EQ(pair_.output->peerCertificateChain(),
              TestCertificates::shared().chain(PeerChain::WithRoot));
    for (const auto& entry : recorder_->entries())
        EXPECT_EQ(entry.thread, entry.input ? "Merovane Api Downstream" : "Merovane Api Upstream");
    // Close each stream on its own thread, as the connection does.
    std::atomic<int> closed{0};
    downstream_->runLoop().post([&] {
        pair_.input->removeFromRunLoop(downstream_->runLoop());
        pair_.input->close();
        ++closed;
    });
    upstream_->runLoop().post([&] {
        pair_.output->removeFromRunLoop(upstream_->runLoop());
        pair_.output->close();
        ++closed;
    });
    ASSERT_TRUE(platform::runUntil([&] { return closed == 2; }, kTimeout));
    ASSERT_TRUE(platform::runUntil([&] { return peer.connection(0).clientEnded; }, kTimeout));
}

TEST_F(SocketStreamTest, AHeldHandshakeMovesNoByteUntilThePeerIsAccepted) {
    ApiPeer peer({.tls = true, .chain = PeerChain::WithRoot});
    peer.setDefaultScript({.head = std::nullopt, .afterHead = {}});
    auto& streams = open(
        "127.0.0.1", peer.port(),
        TLSSettings{
            .peerName = "", .validatesCertificateChain = false, .holdsUntilPeerTrusted = true});
    ASSERT_TRUE(waitFor(kInput, platform::kStreamEventPeerTrustPending));
    EXPECT_EQ(streams.input->peerCertificateChain(),
              TestCertificates::shared().chain(PeerChain::WithRoot));
    ASSERT_TRUE(platform::runUntil(
        [&] { return peer.connectionCount() == 1 && peer.connection(0).tlsEstablished; },
        kTimeout));

    // The server speaks first and the client tries to write: neither gets through.
    peer.perform(0, PeerAction::raw("early"));
    ASSERT_TRUE(
        platform::runUntil([&] { return peer.connection(0).actionsCompleted == 1; }, kTimeout));
    EXPECT_FALSE(streams.output->hasSpaceAvailable());
    EXPECT_EQ(writeText(*streams.output, "secret"), 0);
    EXPECT_FALSE(streams.input->hasBytesAvailable());
    uint8_t byte;
    EXPECT_EQ(streams.input->read(&byte, 1), 0);
    platform::runUntilIdle();
    EXPECT_EQ(recorder_->events(kInput),
              (std::vector<StreamEvent>{platform::kStreamEventOpenCompleted,
                                        platform::kStreamEventPeerTrustPending}));
    EXPECT_EQ(recorder_->events(kOutput),
              std::vector<StreamEvent>{platform::kStreamEventOpenCompleted});

    streams.input->acceptPeerTrust();
    ASSERT_TRUE(waitFor(kOutput, platform::kStreamEventHasSpaceAvailable));
    ASSERT_TRUE(waitFor(kInput, platform::kStreamEventHasBytesAvailable));
    EXPECT_EQ(readAll(*streams.input), "early");
    EXPECT_EQ(writeText(*streams.output, "secret"), 6);
    ASSERT_TRUE(
        platform::runUntil([&] { return peer.connection(0).received == "secret"; }, kTimeout));
    streams.output->acceptPeerTrust();  // accepted already: nothing happens
    platform::runUntilIdle();
    EXPECT_EQ(recorder_->count(kInput, platform::kStreamEventPeerTrustPending), 1u);
}

TEST_F(SocketStreamTest, AValidatingHandshakeFollowsTheDefaultTrustStoreAndThePeerName) {
    ApiPeer peer({.tls = true, .chain = PeerChain::WithoutRoot});
    struct Case {
        const char* peerName;
        bool installTestStore;
        bool opens;
    };
    for (const Case& c : {Case{"api.example", true, true}, Case{"api.example", false, false},
                          Case{"other.example", true, false}}) {
        SCOPED_TRACE(std::string(c.peerName) +
                     (c.installTestStore ? " with the test store" : " with the system store"));
        platform::TrustStore::setDefault(
            c.installTestStore ? TestCertificates::shared().trustStore() : nullptr);
        recorder_ = std::make_shared<Recorder>();
        auto& streams = open("127.0.0.1", peer.port(), TLSSettings{.peerName = c.peerName});
        ASSERT_TRUE(platform::runUntil(
            [&] {
                return recorder_->count(kOutput, platform::kStreamEventHasSpaceAvailable) +
                           recorder_->count(kOutput, platform::kStreamEventErrorOccurred) >
                       0;
            },
            kTimeout));
        EXPECT_EQ(recorder_->count(kOutput, platform::kStreamEventOpenCompleted) == 1, c.opens);
        if (!c.opens) {
            ASSERT_TRUE(streams.output->streamError());
            EXPECT_EQ(streams.output->streamError()->code(),
                      platform::kURLErrorServerCertificateUntrusted);
        }
        pair_ = {};
    }
}

TEST_F(SocketStreamTest, WritesThatOutrunThePeerWaitForSpaceAndArriveWhole) {
    for (bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "TLS" : "plain");
        ApiPeer peer({.tls = tls});
        auto& streams = openQuietPeer(peer, tls);
        peer.perform(0, PeerAction::stallReading());
        ASSERT_TRUE(
            platform::runUntil([&] { return peer.connection(0).actionsCompleted == 1; }, kTimeout));

        // Fill every buffer between us and the stalled peer.
        std::string sent;
        std::string block(65536, '\0');
        for (size_t i = 0; i < block.size(); ++i)
            block[i] = static_cast<char>('a' + (i * 7 + i / 26) % 26);
        size_t offset = 0;
        for (int round = 0; streams.output->hasSpaceAvailable(); ++round) {
            ASSERT_LT(round, 100000);
            std::string_view rest = std::string_view(block).substr(offset);
            long n = writeText(*streams.output, rest);
            ASSERT_GE(n, 0);
            sent.append(rest.substr(0, static_cast<size_t>(n)));
            offset = (offset + static_cast<size_t>(n)) % block.size();
        }
        const size_t spaceEvents =
            recorder_->count(kOutput, platform::kStreamEventHasSpaceAvailable);
        peer.perform(0, PeerAction::resumeReading());
        ASSERT_TRUE(waitFor(kOutput, platform::kStreamEventHasSpaceAvailable, spaceEvents + 1));
        EXPECT_GT(writeText(*streams.output, "tail"), 0);
        sent += "tail";
        ASSERT_TRUE(platform::runUntil(
            [&] { return peer.connection(0).received.size() >= sent.size(); }, kTimeout));
        EXPECT_TRUE(peer.connection(0).received == sent)
            << "received " << peer.connection(0).received.size() << " bytes of " << sent.size();
        pair_ = {};
    }
}

TEST_F(SocketStreamTest, WritingToAServerThatHasGoneIsAnErrorNotASignal) {
    for (bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "TLS" : "plain");
        ApiPeer peer({.tls = tls});
        auto& streams = openQuietPeer(peer, tls);
        // Left unread, the bytes keep the end (and TLS's close_notify) from being seen.
        peer.perform(0, {PeerAction::raw("unread"), PeerAction::close()});
        ASSERT_TRUE(waitFor(kInput, platform::kStreamEventHasBytesAvailable));
        ASSERT_TRUE(
            platform::runUntil([&] { return peer.connection(0).actionsCompleted == 2; }, kTimeout));
        // The first write draws a reset from the closed socket, the next one meets it.
        long result = 0;
        for (int i = 0; i < 100 && result >= 0; ++i)
            result = writeText(*streams.output, "keep-alive");
        EXPECT_EQ(result, -1);
        ASSERT_TRUE(streams.output->streamError());
        EXPECT_TRUE(streams.output->streamError()->code() == EPIPE ||
                    streams.output->streamError()->code() == ECONNRESET)
            << streams.output->streamError()->code();
        ASSERT_TRUE(waitFor(kOutput, platform::kStreamEventErrorOccurred));
        pair_ = {};
    }
}

TEST_F(SocketStreamTest, ANameIsResolvedAndEachOfItsAddressesTried) {
    ApiPeer peer;  // on 127.0.0.1 only: "localhost" may name ::1 first
    auto& streams = open("localhost", peer.port());
    ASSERT_TRUE(waitFor(kOutput, platform::kStreamEventHasSpaceAvailable));
    EXPECT_EQ(writeText(*streams.output, "hello"), 5);
    ASSERT_TRUE(platform::runUntil(
        [&] { return peer.connectionCount() == 1 && peer.connection(0).received == "hello"; },
        kTimeout));
}

TEST_F(SocketStreamTest, OneTLSSessionCarriesBothDirectionsAtOnceFromTwoThreads) {
    constexpr int kPackets = 200;
    const std::string filler(900, 'f');
    ConnectionScript script;
    std::string expectedDown = script.head->bytes();
    for (int i = 0; i < kPackets; ++i) {
        const nlohmann::json packet = {{"serial", i}, {"filler", filler}};
        script.afterHead.push_back(
            PeerAction::packet(packet, PacketEncoding::MessagePack, i % 2 == 0));
        expectedDown += script.afterHead.back().bytes;
    }
    ApiPeer peer({.tls = true});
    peer.queueScript(script);
    std::string up = "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (int i = 0; i < kPackets; ++i)
        up += encodeChunk(
            encodePacket({{"serial", i}, {"filler", filler}}, PacketEncoding::JSON, i % 3 == 0));

    struct Flow {
        std::mutex mutex;
        std::string up;
        size_t written = 0;
        std::string down;
    };
    auto flow = std::make_shared<Flow>();
    flow->up = up;
    recorder_->onEvent = [this, flow](Stream&, StreamEvent event) {
        if (event == platform::kStreamEventHasSpaceAvailable) {
            std::lock_guard lock(flow->mutex);
            if (flow->written < flow->up.size()) {
                long n = writeText(*pair_.output, std::string_view(flow->up).substr(flow->written));
                if (n > 0) flow->written += static_cast<size_t>(n);
            }
        } else if (event == platform::kStreamEventHasBytesAvailable) {
            std::string got = readAll(*pair_.input);
            std::lock_guard lock(flow->mutex);
            flow->down += got;
        }
    };
    makeStreamThreads();
    open("127.0.0.1", peer.port(), TLSSettings{.peerName = "", .validatesCertificateChain = false},
         &downstream_->runLoop(), &upstream_->runLoop());
    ASSERT_TRUE(platform::runUntil(
        [&] {
            std::lock_guard lock(flow->mutex);
            return peer.packetCount() == kPackets && flow->down.size() >= expectedDown.size();
        },
        kTimeout));
    {
        std::lock_guard lock(flow->mutex);
        EXPECT_TRUE(flow->down == expectedDown);
    }
    const auto packets = peer.packets();
    for (int i = 0; i < kPackets; ++i) {
        ASSERT_TRUE(packets[i].decoded.ok()) << packets[i].decoded.error;
        EXPECT_EQ(packets[i].decoded.value["serial"], i);
    }
    pair_ = {};
}

// How each chain is judged is TrustEvaluationTest's.
TEST_F(SocketStreamTest, ThePresentedChainIsWhatTheServerSent) {
    for (PeerChain kind : {PeerChain::WithRoot, PeerChain::WithoutRoot, PeerChain::LeafOnly,
                           PeerChain::IntermediateOnly}) {
        SCOPED_TRACE(static_cast<int>(kind));
        ApiPeer peer({.tls = true, .chain = kind});
        auto& streams = openQuietPeer(peer, true);
        EXPECT_EQ(streams.input->peerCertificateChain(), TestCertificates::shared().chain(kind));
        EXPECT_EQ(streams.output->peerCertificateChain(), streams.input->peerCertificateChain());
        pair_ = {};
    }
}
