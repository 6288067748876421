#pragma once
// Reads the client's side of an API stream as it arrives: the POST head, then the
// chunked body, whose chunks carry a stream of packets (a proxy cuts and joins chunks as
// it likes: see PacketStreamReader), each decoded (gzip, JSON or MessagePack). Bytes may
// come split anywhere, down to one at a time. A GET or HEAD without body fields is a
// request of its own head alone. A parser made to take plain bodies keeps a body of a
// Content-Length (at most kMaxPlainBodySize bytes) whole; others refuse it. A server
// may feed the head alone first and bound the body before the rest comes.
//
//   ApiRequestParser parser;
//   parser.feed(bytes, platform::Clock::monotonicNanos() / 1e9);
//   if (parser.headComplete()) ... parser.head().field("X-Merovane-Api") ...
//   for (const auto& p : parser.packets()) ... p.decoded.value["cmds"] ...

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/peer/ChunkedCoding.h"
#include "tools/peer/HttpHead.h"
#include "tools/peer/PacketCodec.h"

namespace peer {

struct ReceivedPacket {
    double time = 0;        // platform clock seconds when its last byte arrived
    size_t connection = 0;  // filled in by the peer
    std::string payload;    // the packet's bytes as they came (a chunk of a body of bytes)
    DecodedPacket decoded;
};

class ApiRequestParser {
  public:
    static constexpr size_t kMaxPlainBodySize = 4u << 20;

    explicit ApiRequestParser(bool plainBodies = false) : plainBodies_(plainBodies) {}

    void feed(std::string_view bytes, double time);
    // Takes bytes up to the end of the head (none once it is complete); answers how many.
    size_t feedHead(std::string_view bytes, double time);
    // The body is bytes, not packets: at most `limit` of them (past that the request
    // fails, 413), its chunks kept undecoded.
    void takeBodyAsBytes(size_t limit);
    // No chunk of the body may be longer than `bytes` (past that the request fails, 413).
    void limitChunks(size_t bytes) { body_.limitChunk(bytes); }

    bool headComplete() const { return head_.complete(); }
    const HttpHead& head() const { return head_.head(); }
    double headTime() const { return headTime_; }
    // The packets decoded and not yet taken (in a body of bytes, its chunks).
    const std::vector<ReceivedPacket>& packets() const { return packets_; }
    std::vector<ReceivedPacket> takePackets() { return std::exchange(packets_, {}); }
    // The last chunk "0" and its empty line have come, or the whole plain body.
    bool bodyEnded() const {
        return plainLength_ ? plainBody_.size() == *plainLength_ : body_.finished();
    }
    // The body of a request with a Content-Length; none for a chunked one.
    const std::string* plainBody() const { return plainLength_ ? &plainBody_ : nullptr; }
    // A GET or HEAD request that has no body.
    bool bodyless() const { return bodyless_; }
    // The head went on past the parser's limit.
    bool headTooLong() const { return head_.tooLong(); }
    // Empty while everything parsed; the first problem otherwise (parsing stops there).
    const std::string& error() const { return error_; }
    // The status that answers the error: 431 for a head too long, 413 for a body or
    // chunk too large, else 400; 0 without an error.
    int errorStatus() const;

  private:
    HttpHeadParser head_{true};
    ChunkedDecoder body_;
    PacketStreamReader stream_;
    double headTime_ = 0;
    bool bodyless_ = false;
    bool plainBodies_;
    std::optional<size_t> bytesLimit_;  // a body of bytes, at most this long
    bool bodyTooLarge_ = false;
    std::optional<size_t> plainLength_;
    std::string plainBody_;
    std::vector<ReceivedPacket> packets_;
    std::string error_;
};

}  // namespace peer
