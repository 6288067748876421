#pragma once
// Reads the downstream body (after chunked decoding) as a stream of packets, each
// delimited by its own encoding: a JSON value, a MessagePack value, or, when the response
// is compressed, a gzip member whose content is one such value. Where the chunks fall
// means nothing: several packets in one, one across many, boundaries anywhere.
//
//   MVApiPacketDecoder decoder;
//   decoder.start(MVApiContentTypeJSON, false);
//   decoder.feed(bodyBytes, [](nlohmann::json& packet) { dispatch(packet); });  // any split
//   decoder.finish();                                       // the body ended
//
// Between packets, CR LF heartbeats (any JSON white space) are skipped. Only a map is a
// packet; a value that is not one, or does not decode, is logged, reported and dropped,
// and only it: the reader goes on after its end. Where a packet's own bytes cannot say
// where it ends, the reader finds its feet again: JSON at a "{" where no value may stand
// (a packet cut short, a new one begun; also a string ending in "{" followed by what no
// value holds) or else at the next "}" followed by "{" (no JSON value holds that outside
// its strings); gzip at the next gzip signature, searched for once in the failed member's
// own bytes. MessagePack has no such mark: the decoder stops (lostPlace) and the
// connection must be opened again. Nothing inside a packet's bytes ends it: a map nested
// in one is part of it, however its bytes look; a JSON packet cut where a value may
// stand takes the next packet in as that value, as its bytes say. A packet is kept up to
// kMaxPacketSize bytes (past that it is followed to its end without being kept, and dropped), a
// member inflates to at most kMaxInflatedSize, and each byte is looked at a bounded number of
// times, so the work is linear in what arrives. Values are decoded through the depth-limited
// parsers.
//
// Not thread-safe: one decoder per reader (its zlib stream is reused).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>

#include "libmerovane/connection/MVApiGzip.h"
#include "libmerovane/connection/MVApiPayloadScanner.h"
#include "libmerovane/connection/MVApiResponseHead.h"

class MVApiPacketDecoder {
  public:
    // What a gzip member may inflate to, and what a packet's bytes may be.
    static constexpr size_t kMaxInflatedSize = size_t{16} << 20;
    static constexpr size_t kMaxPacketSize = size_t{16} << 20;

    enum class Result {
        Packet,      // `packet` holds a dictionary
        Nothing,     // consumed without effect (the CR LF heartbeat)
        Incomplete,  // more bytes may complete it
        Rejected,    // `problem` holds the log line; drop the bytes
    };
    // May take the packet's contents.
    using PacketHandler = std::function<void(nlohmann::json& packet)>;

    // One whole payload on its own (a packet, a heartbeat, or a prefix of one).
    Result decode(std::string_view payload, MVApiContentType contentType, bool compressed,
                  nlohmann::json& packet, std::string& problem);

    // A new body of this encoding.
    void start(MVApiContentType contentType, bool compressed);
    // The body's next bytes: each packet they complete goes to `onPacket`, in order.
    void feed(std::string_view bytes, const PacketHandler& onPacket);
    // The body ended: a packet under way is dropped and logged.
    void finish();
    // Drops a packet under way quietly (the connection closed).
    void reset();

    // Part of a packet has come and the rest has not.
    bool isInsidePacket() const;
    // A MessagePack value no continuation mends: where the next packet begins is lost,
    // and nothing more is read until start() or reset().
    bool lostPlace() const { return lostPlace_; }
    // Bytes of the packet under way that are kept.
    size_t bufferedBytes() const { return packet_.size() + memberRaw_.size(); }
    // How often a whole value was decoded, and how many bytes that took, for tests.
    size_t decodeCount() const { return decodeCount_; }
    size_t decodedBytes() const { return decodedBytes_; }

  private:
    enum class Mode {
        Between,       // at a packet boundary
        Value,         // an uncompressed packet under way
        Member,        // a gzip member under way
        SkipValue,     // JSON after a broken packet: up to a "}" then "{"
        SkipToBrace,   // JSON after bytes that begin no value: up to a "{"
        SkipToMember,  // gzip after a broken member: up to a signature
    };

    void feedBytes(std::string_view bytes, const PacketHandler& onPacket);
    // Each answers how many bytes of `bytes` it took.
    size_t between(std::string_view bytes);
    size_t value(std::string_view bytes, const PacketHandler& onPacket);
    size_t member(std::string_view bytes, const PacketHandler& onPacket);
    size_t skip(std::string_view bytes);
    // A whole value (uncompressed, or a member's content) to a packet or a log line.
    Result decodeValue(std::string_view bytes, bool final, nlohmann::json& packet,
                       std::string& problem);
    void deliver(std::string_view bytes, bool final, const PacketHandler& onPacket);
    void report(const std::string& problem);
    void endPacket(Mode next);

    MVApiContentType contentType_ = MVApiContentTypeJSON;
    bool compressed_ = false;
    Mode mode_ = Mode::Between;
    MVApiPayloadScanner scanner_;
    MVApiGzipInflater inflater_;
    std::string packet_;     // the uncompressed packet under way
    size_t packetSize_ = 0;  // its bytes so far, kept or not
    bool oversized_ = false;
    std::string inflated_;
    size_t memberBytes_ = 0;  // bytes of the member under way read so far
    // The member's bytes (up to kMaxPacketSize), so that a member that fails is searched
    // once for the start of the next: a member cut short, and a whole one inside its bytes.
    std::string memberRaw_;
    bool memberRawKept_ = true;
    bool memberFromReplay_ = false;
    bool replaying_ = false;
    std::string replay_;       // bytes to read again before the rest
    bool afterClose_ = false;  // SkipValue: the last byte but white space was "}"
    bool lostPlace_ = false;
    size_t decodeCount_ = 0;
    size_t decodedBytes_ = 0;
};
