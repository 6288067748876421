#pragma once
// An API server application for fault tables, as an ApiPeer responder. It takes the
// client's packets in serial order, records every packet that arrives (copies and
// packets that overtake others too), answers each packet it takes with one collection
// of its own under the next server serial, tells each connection the last client serial
// up to which it holds every packet, and sends again the collections after the server
// serial the client reports. The first (legacy) response ends once its body has.
//
//   StreamingServer server({.encoding = PacketEncoding::MessagePack, .cutAfterReceived = 2});
//   peer.setResponder(server.responder());
//   ... EXPECT_EQ(server.arrivals(), (std::vector<int64_t>{1, 2, 3}));
//
// Faults: a connection cut (closed) once it carried N client packets or M collections;
// a collection sent the first time truncated (a whole chunk holding the first bytes of
// its encoding) or stalled (the first bytes of its chunk, then nothing more on that
// connection); every connection ended before its head; heads withheld until the test
// releases them. Thread-safe.

#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <string_view>
#include <vector>

#include "tools/peer/ApiPeer.h"

namespace peer {

struct StreamingServerOptions {
    PacketEncoding encoding = PacketEncoding::JSON;
    bool gzip = false;
    // Answers with the handshake of persistent connections.
    bool persistent = true;
    // Client packets / collections a connection carries before the server closes it; 0: any.
    size_t cutAfterReceived = 0;
    size_t cutAfterSent = 0;
    // Server serial -> bytes of its encoding (before gzip) its first sending keeps.
    std::map<int64_t, size_t> truncated = {};
    // Server serial -> bytes of its chunk its first sending gets out; nothing follows them.
    std::map<int64_t, size_t> stalled = {};
    // Server serial and its encoding (after gzip) -> the offsets, ascending, at which
    // every sending of it is cut into chunks; none or empty: one chunk.
    std::function<std::vector<size_t>(int64_t serial, std::string_view bytes)> split = nullptr;
    // Every connection ends (its sending side) at its request head, before any answer.
    bool endBeforeHead = false;
    // Connections from this one on get their head only when the test releases it.
    size_t withholdHeadsFrom = std::numeric_limits<size_t>::max();
    // Collections released for each client packet taken, sent back to back.
    size_t collectionsPerPacket = 1;
    // The collection of server serial `serial` (its "serial" is set by the server).
    std::function<nlohmann::json(int64_t serial)> collection = nullptr;
};

class StreamingServer {
  public:
    explicit StreamingServer(StreamingServerOptions options = {});

    PeerResponder responder();
    // The head of a connection whose head was withheld, and what follows it, for
    // ApiPeer::perform.
    std::vector<PeerAction> releaseHead(size_t connection);

    // The server process started again (on the same port, by a new peer): its
    // connections are new, what its application holds stays.
    void restart();

    // Client serials in order of arrival, every arrival.
    std::vector<int64_t> arrivals() const;
    // Every client packet up to this serial has been taken.
    int64_t held() const;
    // The server serial each request head reported (0 without one), in order.
    std::vector<int64_t> reportedServerSerials() const;
    // Collections released so far (the last server serial).
    int64_t released() const;
    size_t cuts() const;
    size_t requestHeads() const;

  private:
    std::vector<PeerAction> respond(const PeerEvent& event);
    // A client packet arrived on `connection`.
    void take(const nlohmann::json& value, size_t connection, std::vector<PeerAction>& actions);
    std::vector<PeerAction> answerHead(size_t connection);
    // Sends what this connection has not carried yet.
    void send(size_t connection, std::vector<PeerAction>& actions);
    nlohmann::json collectionOf(int64_t serial) const;

    struct Connection {
        int64_t sentUpTo = 0;  // server serials up to this went on it
        size_t received = 0;
        size_t sent = 0;
        bool answered = false;   // its head went
        bool closed = false;     // cut or stalled: nothing more goes on it
        bool bodyEnded = false;  // a legacy request, whose response ends after its head
    };

    StreamingServerOptions options_;
    mutable std::mutex mutex_;
    std::map<size_t, Connection> connections_;
    std::vector<int64_t> arrivals_;
    int64_t held_ = 0;
    int64_t released_ = 0;
    std::set<int64_t> faulted_;
    std::vector<int64_t> reported_;
    size_t cuts_ = 0;
    size_t requestHeads_ = 0;
};

}  // namespace peer
