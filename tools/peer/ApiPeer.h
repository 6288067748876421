#pragma once
// A loopback API server for tests and the sample server, on 127.0.0.1 and an ephemeral
// (or a chosen) port, on a thread of its own. It reads what the client sends (the CONNECT
// head in proxy mode, the POST head, the chunked body and each packet in it) and records
// it with the platform clock's time; it answers each request head by a script and does
// what a test asks of a connection: send heads, chunks and packets, cut a chunk short,
// stall, end or reset.
//
//   ApiPeer peer({.tls = true, .chain = PeerChain::WithRoot});
//   peer.queueScript({.head = ResponseHead::ok({{"X-Merovane-Api", "Velkram"}})});
//   ... connect to 127.0.0.1:peer.port() ...
//   platform::runUntil([&] { return peer.packetCount() >= 1; }, 10.0);
//   peer.perform(0, PeerAction::packet({{"cmds", nlohmann::json::array()}}));
//   peer.perform(0, PeerAction::reset());
//
// Proxy mode answers the CONNECT head with `proxyAnswer` and, when that is a 2xx, speaks
// TLS (with `tls`) or plain HTTP inside the tunnel, as the API server would.
// A request head longer than the parser takes is answered with 431 at once. What the
// peer records is bounded by `ApiPeerOptions`: a tail of each connection's bytes and
// packets, and the records of the last connections that closed; a closed connection's
// socket and parser go at once.
// Thread-safe: every method may be called from any thread. Asking for a connection that
// does not exist logs to stderr and does nothing (`connection()` answers an empty record
// whose `error` says so); actions for a connection that has closed are dropped.

#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "tools/peer/ApiRequestParser.h"
#include "tools/peer/HttpHead.h"
#include "tools/peer/PacketCodec.h"
#include "tools/peer/TestCertificates.h"

namespace peer {

struct PeerAction {
    enum class Kind { Send, EndOfStream, Close, Reset, StallReading, ResumeReading, BodyAsBytes };
    Kind kind = Kind::Send;
    std::string bytes;
    size_t limit = 0;                  // BodyAsBytes
    std::optional<size_t> connection;  // from a responder: a connection other than the event's

    static PeerAction raw(std::string bytes);
    static PeerAction head(const ResponseHead& head);
    static PeerAction chunk(std::string_view payload);
    static PeerAction packet(const nlohmann::json& packet,
                             PacketEncoding encoding = PacketEncoding::JSON, bool gzip = false);
    // A whole chunk holding the first `keep` bytes of the packet's encoding (gzip-compressed
    // after the cut when `gzip`): a packet the server cut short.
    static PeerAction truncatedPacket(const nlohmann::json& packet, size_t keep,
                                      PacketEncoding encoding = PacketEncoding::JSON,
                                      bool gzip = false);
    // The packet's chunk, cut after `cutAt` bytes (size line included); with nothing after
    // it, a stall inside the chunk.
    static PeerAction packetCut(const nlohmann::json& packet, size_t cutAt,
                                PacketEncoding encoding = PacketEncoding::JSON, bool gzip = false);
    // The payloads (encoded packets, heartbeats) back to back as one body, cut into chunks
    // at the body's offsets `cuts` (ascending), as a proxy may cut it: none, one chunk
    // holding them all.
    static PeerAction packetsChunked(const std::vector<std::string>& payloads,
                                     const std::vector<size_t>& cuts = {});
    static PeerAction lastChunk();
    // Ends what the peer sends (TLS close_notify first), once what is queued is out.
    static PeerAction endOfStream();
    // Closes the socket (after close_notify under TLS): an end, and a reset for
    // whatever the client sends afterwards.
    static PeerAction close();
    // Aborts the connection with a reset (SO_LINGER 0), once what is queued is out.
    static PeerAction reset();
    // Stops reading, so that the client's writes back up; resumeReading undoes it.
    static PeerAction stallReading();
    static PeerAction resumeReading();
    // From a responder: the request's body is bytes, not packets, at most `limit` of them
    // (see ApiRequestParser::takeBodyAsBytes); it applies before the next byte is read.
    static PeerAction bodyAsBytes(size_t limit);
    // This action, from a responder, for `connection` instead of the event's.
    PeerAction on(size_t connection) &&;
};

struct ConnectionScript {
    // The answer to the request head; none withholds it.
    std::optional<ResponseHead> head = ResponseHead::ok();
    std::vector<PeerAction> afterHead;
};

// What a connection showed the peer, for a responder.
struct PeerEvent {
    enum class Kind { RequestHead, Packet, BodyEnded };
    Kind kind = Kind::RequestHead;
    size_t connection = 0;
    const HttpHead* head = nullptr;          // RequestHead
    const ReceivedPacket* packet = nullptr;  // Packet
    const std::string* body = nullptr;       // BodyEnded of a body with a Content-Length
};
// A server application for tests that answer what arrives. It runs on the peer's
// thread with the peer's lock held, so it must not call the peer; the actions it
// returns are queued on the event's connection. With a responder set, request heads
// are answered by it (its actions must hold the response head) instead of by scripts.
using PeerResponder = std::function<std::vector<PeerAction>(const PeerEvent&)>;

struct ApiPeerOptions {
    uint16_t port = 0;  // 0: an ephemeral port
    bool tls = false;
    bool proxy = false;
    PeerChain chain = PeerChain::WithoutRoot;
    ResponseHead proxyAnswer = ResponseHead{200, "Connection established", {}, std::nullopt};
    // What is recorded for tests: the last bytes each connection received, the last packets
    // and reads of each connection (and as many packets of all), and the records of the
    // last connections that closed.
    size_t keptBytes = 16u << 20;
    size_t keptEntries = 10000;
    size_t keptClosed = 256;
    // Requests may carry a body of a Content-Length, handed whole to the responder (see
    // ApiRequestParser); otherwise only chunked bodies are read.
    bool plainBodies = false;
    // The longest chunk a request body may carry (at most 256 MiB).
    size_t maxChunk = 256u << 20;
    // A server's bounds: with `answerFaults`, a request that cannot be read (malformed,
    // a body or chunk too large) is answered 400 or 413 and closed, or closed when its
    // answer has begun; with an `idleTimeout` (seconds), a connection that neither
    // receives nor sends for that long is closed, answered 408 when it began a request
    // and nothing was answered. Each is
    // a line of `log`, when set.
    bool answerFaults = false;
    double idleTimeout = 0;
    std::function<void(const std::string&)> log = nullptr;
};

struct PeerConnectionRecord {
    size_t index = 0;
    double acceptedAt = 0;
    std::optional<HttpHead> proxyHead;
    std::optional<HttpHead> requestHead;
    double requestHeadAt = 0;
    std::vector<ReceivedPacket> packets;
    bool bodyEnded = false;
    std::string parseError;
    std::string received;                             // the last bytes received (after TLS)
    uint64_t receivedBytes = 0;                       // every byte received, kept or not
    std::vector<std::pair<double, size_t>> arrivals;  // (time, bytes) of the last reads
    bool tlsEstablished = false;
    std::string serverName;       // the name the client sent for TLS (SNI)
    size_t actionsCompleted = 0;  // sends handed to the kernel, other actions done
    bool clientEnded = false;     // the client closed its side
    std::string error;            // a socket or TLS failure
};

class ApiPeer {
  public:
    explicit ApiPeer(ApiPeerOptions options = {});
    ~ApiPeer();
    ApiPeer(const ApiPeer&) = delete;
    ApiPeer& operator=(const ApiPeer&) = delete;

    int port() const;

    // The script for request heads when none is queued.
    void setDefaultScript(ConnectionScript script);
    // Scripts for the next request heads, first come first used.
    void queueScript(ConnectionScript script);
    // Replaces the scripts by a responder; none: scripts again.
    void setResponder(PeerResponder responder);
    // Actions every connection accepted from now on does at once, before it reads a byte
    // (endOfStream: a server that closes at once); empty: none.
    void setAcceptActions(std::vector<PeerAction> actions);

    // Runs on the peer's thread, after what was asked before.
    void perform(size_t connection, PeerAction action);
    void perform(size_t connection, std::vector<PeerAction> actions);

    // Connections accepted so far.
    size_t connectionCount() const;
    PeerConnectionRecord connection(size_t index) const;
    // The last packets of every connection, in order of arrival.
    std::vector<ReceivedPacket> packets() const;
    // Packets received so far, kept or not.
    size_t packetCount() const;

    struct State;

  private:
    std::unique_ptr<State> state_;
};

}  // namespace peer
