#pragma once
// The downstream half of the API stream after the response head: cuts the bytes read
// from the input stream into HTTP chunks, joins the payloads of a packet that spans
// several chunks, and hands each decoded packet on.
//
//   MVApiChunkReader reader;
//   reader.start(MVApiChunkStateHeader, MVApiContentTypeJSON, false);   // head accepted
//   auto outcome = reader.append(bytesJustRead, [&](nlohmann::json& packet) { ... });
//   if (outcome == MVApiChunkReader::Outcome::FramingError) closeAndReconnectIn5s();
//
// The size line must end within its first 64 bytes; 257 bytes without one, a size line
// that is no hexadecimal number, a size past kMaxChunkSize or chunk data not followed
// by CR LF is a framing error: the reader logs it and drops everything, and the
// connection must close. A payload that is only part of a packet waits for the next
// chunk; one that cannot be decoded is logged, reported and dropped, and the packets
// after it are read. Payloads are bounded by kMaxPacketSize. A packet is decoded once,
// when its bytes so far can be a whole one, so reading costs time linear in what was
// received however the server cuts it (the same for an unchunked body).
//
// A bad packet costs only itself, and nothing inside a packet's bytes can end it. While a
// packet waits for more chunks, each newer chunk is also read as the start of a packet of
// its own; the join is preferred, and the newer start replaces the waiting bytes only
// when the join fails (the newest start that still holds goes on alone). A newer chunk
// that is a whole command collection may as well be one nested in the waiting packet,
// whatever keys it holds ("serial" included, as merchant data may): it waits with it, and
// is dropped when the join completes, handed over (after the waiting bytes are dropped)
// when the join fails, or when settle() is called, the caller's bound on the wait. A map
// without "cmds" is never handed over from such a wait. At most kMaxStarts unfinished
// starts are followed at once (a new one replaces the oldest newer one), and
// kMaxWaitingCollections whole ones wait (one more settles the wait as the bound does), so
// the work stays linear.
//
// Not thread-safe: it belongs to the downstream thread.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "libmerovane/connection/MVApiPacketDecoder.h"

class MVApiChunkReader {
  public:
    static constexpr size_t kSizeLineWindow = 64;
    static constexpr size_t kSizeLineLimit = 257;
    static constexpr uint64_t kMaxChunkSize = uint64_t{16} << 20;
    static constexpr size_t kMaxPacketSize = size_t{16} << 20;
    // Unfinished packets under way at once: the oldest and newer chunks that may begin one.
    static constexpr size_t kMaxStarts = 4;
    // Whole collections that wait at once behind an unfinished packet.
    static constexpr size_t kMaxWaitingCollections = 256;

    enum class Outcome { Ok, FramingError };
    // May take the packet's contents.
    using PacketHandler = std::function<void(nlohmann::json& packet)>;

    MVApiChunkReader();
    ~MVApiChunkReader();
    MVApiChunkReader(const MVApiChunkReader&) = delete;
    MVApiChunkReader& operator=(const MVApiChunkReader&) = delete;

    // A new response: empty buffers, chunked or not, and how payloads are encoded.
    void start(MVApiChunkState state, MVApiContentType contentType, bool compressed);
    // Drops the buffers (the connection closed).
    void reset();

    // Takes bytes read from the stream and runs every packet they complete through
    // `onPacket`, in order.
    Outcome append(std::string_view bytes, const PacketHandler& onPacket);

    // A whole collection waits behind an unfinished packet that may hold it.
    bool hasUndecidedPacket() const;
    // Counts the chunks that added bytes to the oldest unfinished packet and were neither
    // a whole collection nor a heartbeat on their own: a packet that still arrives.
    uint64_t oldestPacketGrowth() const { return oldestPacketGrowth_; }
    // Ends the wait: the unfinished packet before each waiting collection is dropped as
    // cut short, and the collections are handed over, in order.
    void settle(const PacketHandler& onPacket);

    MVApiChunkState chunkState() const { return state_; }
    // Part of a chunk (its size line or its data) has come and the rest has not.
    bool isInsideChunk() const {
        return state_ == MVApiChunkStateData ||
               (state_ == MVApiChunkStateHeader && bufferedBytes() > 0);
    }
    uint64_t chunkSize() const { return chunkSize_; }
    // Bytes read and not yet cut into chunks / payload bytes of a packet not yet decoded.
    size_t bufferedBytes() const { return data_.size() - offset_; }
    size_t combinedBytes() const { return combined_.size(); }
    // How often a whole payload was decoded, and how many bytes that took, for tests.
    size_t decodeCount() const;
    size_t decodedBytes() const;

  private:
    enum class Step { Continue, Wait, Failed };
    Step parseStreamChunkHeader();
    Step parseStreamChunkData(const PacketHandler& onPacket);
    // An unchunked response: all bytes so far are one payload.
    void parseStreamData(const PacketHandler& onPacket);
    // Decodes `payload` (which may be combined_ itself); answers whether it was used up.
    bool parseDataForJSON(std::string_view payload, const PacketHandler& onPacket);
    // The payload of a chunk while no packet waits / while one does.
    void takePayload(std::string_view payload, const PacketHandler& onPacket);
    void joinPayload(std::string_view payload, const PacketHandler& onPacket);
    // The bytes of combined_ from `offset` on, the last chunk, read as a packet of their own
    // while older bytes wait (quietly: they may as well be a piece of those). Answers
    // whether they were a whole collection or a heartbeat on their own.
    bool readOnItsOwn(size_t offset, const PacketHandler& onPacket);
    void retireDecoder(std::unique_ptr<MVApiPacketDecoder>& decoder);
    // Hands over the oldest starts while they are whole collections.
    void handOverWholeStarts(const PacketHandler& onPacket);
    // The starts before `end` (whose bytes end at `endOffset`) go: the unfinished one is
    // logged as cut short, the whole collections are handed over.
    void settleStartsBefore(size_t end, size_t endOffset, const PacketHandler& onPacket);
    // Drops every packet under way; `dropped` bytes of them are logged and reported.
    void dropStarts(size_t dropped);
    // Drops the oldest start: its bytes up to the next start go.
    void dropOldestStart();
    std::unique_ptr<MVApiPacketDecoder> takeDecoder();
    void reportProblem(const std::string& problem);
    Outcome fail(std::string line);
    void dropOversizedPacket();
    std::string_view unread() const { return std::string_view(data_).substr(offset_); }
    void consume(size_t count);

    MVApiChunkState state_ = MVApiChunkStateHeader;
    uint64_t chunkSize_ = 0;
    MVApiContentType contentType_ = MVApiContentTypeJSON;
    bool compressed_ = false;
    std::string data_;  // dataFromServer, read from offset_ on
    size_t offset_ = 0;
    std::string combined_;  // dataFromServerCombined
    // The packets under way, oldest first: where each begins in combined_ and its decoder,
    // or, for a whole collection that waits, the collection.
    struct Start {
        size_t offset;
        std::unique_ptr<MVApiPacketDecoder> decoder;
        std::unique_ptr<nlohmann::json> whole;
    };
    std::vector<Start> starts_;
    uint64_t oldestPacketGrowth_ = 0;
    std::vector<std::unique_ptr<MVApiPacketDecoder>> spareDecoders_;
    MVApiPacketDecoder decoder_;  // unchunked bodies
};
